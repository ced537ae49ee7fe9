#include "MeasureArithmetic.h"

#include "platform/Numbers.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vexo {

namespace {

std::optional<qint32> toInt32(qint64 value)
{
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<qint32>(value);
}

const QString kDecoder = QStringLiteral("DECODER");

} // namespace

std::optional<double> sfnNumericValue(const QString& sfn)
{
    const QString t = sfn.trimmed();
    bool ok = false;
    const qlonglong whole = t.toLongLong(&ok);
    if (ok)
        return static_cast<double>(whole);
    // A stored "1.0" is still the number one; the store is edited by hand at times.
    const double d = QLocale::c().toDouble(t, &ok);
    if (ok && std::isfinite(d))
        return d;
    return std::nullopt;
}

std::optional<float> errorRatio(qint32 good, qint32 errors)
{
    const auto sum = toInt32(static_cast<qint64>(good) + errors);
    if (!sum)
        return std::nullopt;
    if (*sum == 0)
        return 0.0f;
    const double percent = static_cast<double>(errors) / static_cast<double>(*sum) * 100.0;
    return static_cast<float>(roundHalfEven(percent, 2));
}

QString formatRatio(float ratio)
{
    // The single-precision value carries binary noise beyond the two decimals it was rounded to.
    return formatShortest(roundHalfEven(static_cast<double>(ratio), 2));
}

QString formatErrorCell(qint32 errors, float ratio)
{
    return QString::number(errors) + QStringLiteral(" (") + formatRatio(ratio) + QStringLiteral("%)");
}

QString formatTimeCell(qint64 ns)
{
    return QString::number(ns) + QStringLiteral(" nS");
}

StatisticsOutcome statisticsArithmetic(const MeasurementValues& r, const QString& sfn, const QString& role,
                                       StatisticsValues& k)
{
    StatisticsOutcome out;
    auto show = [&out](const char* label, const QString& text) {
        out.updates.append({QString::fromLatin1(label), text});
    };
    auto fail = [&out]() {
        out.failed = true;
        return out;
    };

    k.additionalLatency = r.additionalDelay;

    k.txFramesOk = r.txFramesOk;
    show("lblMACTxOK", QString::number(k.txFramesOk));

    k.rxFramesOk = r.rxFramesOk;
    show("lblMACRxOK", QString::number(k.rxFramesOk));

    k.txFramesErr = r.txFramesErr;
    const auto txRatio = errorRatio(k.txFramesOk, k.txFramesErr);
    if (!txRatio)
        return fail();
    k.txFramesErrRatio = *txRatio;
    show("lblMACTxErr", formatErrorCell(k.txFramesErr, *txRatio));

    k.rxFramesErr = r.rxFramesErr;
    const auto rxRatio = errorRatio(k.rxFramesOk, k.rxFramesErr);
    if (!rxRatio)
        return fail();
    k.rxFramesErrRatio = *rxRatio;
    show("lblMACRxErr", formatErrorCell(k.rxFramesErr, *rxRatio));

    const auto sfnValue = sfnNumericValue(sfn);
    if (!sfnValue)
        return fail();
    if (*sfnValue == 1.0) {
        k.ptpSyncOk = r.ptpSyncOk;
        show("lblPTPRxOK", QString::number(k.ptpSyncOk));
        k.ptpSyncErr = r.ptpSyncErr;
        show("lblPTPRxErr", QString::number(k.ptpSyncErr));
        if (role == kDecoder) {
            k.ptpSyncValue = r.ptpSyncValue;
            show("lblPTPClkAdj", formatTimeCell(k.ptpSyncValue));
            const auto latency = toInt32(static_cast<qint64>(r.ptpSyncLatency) + k.additionalLatency);
            if (!latency)
                return fail();
            k.ptpSyncLatency = *latency;
            show("lblPTPLatency", formatTimeCell(k.ptpSyncLatency));
        }
    }

    k.rxAudioFramesOk = r.rxAudioFramesOk;
    show("lblAudioRxFramesOK", QString::number(k.rxAudioFramesOk));
    k.rxAudioFramesErr = r.rxAudioFramesErr;
    const auto audioRatio = errorRatio(k.rxAudioFramesOk, k.rxAudioFramesErr);
    if (!audioRatio)
        return fail();
    k.rxAudioFramesErrRatio = *audioRatio;
    show("lblAudioRxFramesErr", formatErrorCell(k.rxAudioFramesErr, *audioRatio));
    return out;
}

double clampedDelayPositions(qint32 additionalDelayNs)
{
    const double positions = static_cast<double>(additionalDelayNs) / kNsPerDelayPosition;
    if (positions > kDelayPositionMax)
        return kDelayPositionMax;
    if (positions < kDelayPositionMin)
        return kDelayPositionMin;
    return positions;
}

int delayScrollPosition(double positions)
{
    return static_cast<int>(roundHalfEven(positions, 0));
}

std::optional<qint32> networkLatency(qint32 field, qint32 additionalDelayNs, qint32 servoValueNs)
{
    // Three 32-bit values: the 64-bit sum is exact.
    return toInt32(static_cast<qint64>(field) + additionalDelayNs + servoValueNs);
}

std::optional<qint32> latencySummary(qint32 networkLatency)
{
    return toInt32(static_cast<qint64>(networkLatency) + FixedLatencyMacNs + FixedLatencyAudioNs);
}

QString autoServoCaption(bool on, qint32 servoValueNs)
{
    if (!on)
        return QStringLiteral("Auto servo");
    return QStringLiteral("Auto servo (") + QString::number(servoValueNs) + QStringLiteral(" nS)");
}

AdjustOutcome adjustArithmetic(const MeasurementValues& r, const QString& sfn, const QString& role)
{
    AdjustOutcome out;
    const auto sfnValue = sfnNumericValue(sfn);
    if (!sfnValue) {
        out.failed = true;
        return out;
    }
    if (*sfnValue != 1.0 || role != kDecoder)
        return out;
    out.reachesControls = true;

    const qint32 a = r.additionalDelay;
    out.m_additionalDelay = clampedDelayPositions(a);
    out.scrollPosition = delayScrollPosition(out.m_additionalDelay);

    out.m_autoServo = r.autoServo;
    out.servoChecked = r.autoServo == 1;
    const qint32 v = out.servoChecked ? r.autoServoValue : 0;
    out.additionalDelayNs = a;
    out.servoValueNs = v;
    out.servoCaption = autoServoCaption(out.servoChecked, v);

    struct Row
    {
        qint32 field;
        const char* current;
        const char* summary;
        std::optional<qint32>* kept;
    };
    const Row rows[] = {
        {r.propagationDelayAverage, "lblCurrentDelayAVG", "lblDelaySumAVG", &out.average},
        {r.propagationDelayMinimum, "lblCurrentDelayMIN", "lblDelaySumMIN", &out.minimum},
        {r.propagationDelayMaximum, "lblCurrentDelayMAX", "lblDelaySumMAX", &out.maximum},
    };
    for (const Row& row : rows) {
        const auto latency = networkLatency(row.field, a, v);
        if (!latency) {
            out.failed = true;
            return out;
        }
        *row.kept = *latency;
        out.latencyUpdates.append({QString::fromLatin1(row.current), formatNanoseconds(*latency)});
        const auto summary = latencySummary(*latency);
        if (!summary) {
            out.failed = true;
            return out;
        }
        out.latencyUpdates.append({QString::fromLatin1(row.summary), formatNanoseconds(*summary)});
    }
    return out;
}

int storedDelayPosition(const QString& dly)
{
    bool ok = false;
    const qlonglong v = dly.trimmed().toLongLong(&ok);
    if (!ok)
        return 0;
    return static_cast<int>(std::clamp<qlonglong>(v, kDelayPositionMin, kDelayPositionMax));
}

bool storedFlag(const QString& value)
{
    return value.trimmed() == QLatin1String("1");
}

} // namespace vexo
