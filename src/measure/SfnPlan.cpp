#include "SfnPlan.h"

#include "MeasureArithmetic.h"

#include <algorithm>

namespace vexo {

namespace {

constexpr qint64 kStepNs = kNsPerDelayPosition;

// n / 100 rounded to the nearest whole step, an exact half to the even step (n >= 0).
qint64 roundedSteps(qint64 n)
{
    const qint64 steps = n / kStepNs;
    const qint64 rest = n % kStepNs;
    if (rest > kStepNs / 2 || (rest == kStepNs / 2 && steps % 2 != 0))
        return steps + 1;
    return steps;
}

} // namespace

qint64 sfnBaseLatencyNs(const SfnDecoderReading& r)
{
    return qint64(r.networkAverageNs) + (r.autoServo ? qint64(r.servoCorrectionNs) : 0) + FixedLatencyMacNs +
           FixedLatencyAudioNs;
}

std::optional<qint64> defaultSfnTargetNs(const QList<SfnDecoderReading>& readings)
{
    std::optional<qint64> highest;
    for (const SfnDecoderReading& r : readings) {
        if (r.answered)
            highest = std::max(highest.value_or(sfnBaseLatencyNs(r)), sfnBaseLatencyNs(r));
    }
    if (!highest)
        return std::nullopt;
    // The smallest multiple of 100 at or above, also for a negative base.
    // Division cuts towards zero: that is already upwards for a negative base.
    return (*highest / kStepNs + (*highest % kStepNs > 0 ? 1 : 0)) * kStepNs;
}

SfnPlan planSfnAlignment(const QList<SfnDecoderReading>& readings, qint64 targetNs)
{
    SfnPlan plan;
    plan.targetNs = targetNs;
    for (const SfnDecoderReading& r : readings) {
        SfnPlanRow row;
        row.mac = r.mac;
        row.currentDelayNs = r.additionalDelayNs;
        row.autoServo = r.autoServo;
        if (!r.answered) {
            plan.rows.append(row);
            continue;
        }
        row.baseNs = sfnBaseLatencyNs(r);
        const qint64 steps = targetNs >= row.baseNs ? roundedSteps(targetNs - row.baseNs) : -1;
        if (steps < kDelayPositionMin || steps > kDelayPositionMax) {
            row.status = SfnPlanRow::Status::OutOfRange;
        } else {
            row.status = SfnPlanRow::Status::Planned;
            row.position = int(steps);
            row.plannedDelayNs = qint32(steps * kStepNs);
            row.expectedSummaryNs = row.baseNs + row.plannedDelayNs;
        }
        plan.rows.append(row);
    }
    return plan;
}

} // namespace vexo
