#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace vexo {

// What the last "GetDel" record of one SFN decoder said, as far as aligning it is concerned.
struct SfnDecoderReading
{
    QString mac;
    bool answered = false;        // a record came in the last poll
    qint32 networkAverageNs = 0;  // the record's average network latency field
    qint32 additionalDelayNs = 0; // the additional delay it applies now
    bool autoServo = false;       // the servo flag of the record
    qint32 servoCorrectionNs = 0; // the servo's correction (counts only while the servo is on)
};

// The latency a decoder has without any additional delay: field + servo + 265 + 395,833 ns.
qint64 sfnBaseLatencyNs(const SfnDecoderReading& reading);

// The target a network is aligned to by default: the smallest multiple of 100 ns at or above
// the highest base latency of the decoders that answered; none when none answered.
std::optional<qint64> defaultSfnTargetNs(const QList<SfnDecoderReading>& readings);

struct SfnPlanRow
{
    enum class Status
    {
        Planned,
        OutOfRange, // its base is above the target, or the delay needed is beyond 2.5 ms
        NoAnswer,
    };
    QString mac;
    Status status = Status::NoAnswer;
    qint64 baseNs = 0;
    qint32 currentDelayNs = 0;
    int position = 0;             // the delay in steps of 100 ns
    qint32 plannedDelayNs = 0;    // position x 100
    qint64 expectedSummaryNs = 0; // base + the planned delay
    bool autoServo = false;       // sent back as the record reported it
};

struct SfnPlan
{
    qint64 targetNs = 0;
    QList<SfnPlanRow> rows; // in the order of the readings
};

// The additional delay that brings each answering decoder's total latency to the target:
// round((target - base) / 100) steps, halves to the even step.
SfnPlan planSfnAlignment(const QList<SfnDecoderReading>& readings, qint64 targetNs);

} // namespace vexo
