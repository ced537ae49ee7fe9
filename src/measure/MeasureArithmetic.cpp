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

StatisticsReading statisticsArithmetic(const MeasurementValues& r, const QString& sfn, Role role)
{
    StatisticsReading out;
    auto fail = [&out]() {
        out.failed = true;
        return out;
    };
    out.txFramesOk = r.txFramesOk;
    out.rxFramesOk = r.rxFramesOk;
    const auto txRatio = errorRatio(r.txFramesOk, r.txFramesErr);
    if (!txRatio)
        return fail();
    out.txFramesErr = ErrorCount{r.txFramesErr, *txRatio};
    const auto rxRatio = errorRatio(r.rxFramesOk, r.rxFramesErr);
    if (!rxRatio)
        return fail();
    out.rxFramesErr = ErrorCount{r.rxFramesErr, *rxRatio};

    const auto sfnValue = sfnNumericValue(sfn);
    if (!sfnValue)
        return fail();
    if (*sfnValue == 1.0) {
        out.ptpSyncOk = r.ptpSyncOk;
        out.ptpSyncErr = r.ptpSyncErr;
        if (role == Role::Decoder) {
            out.clockDifferenceNs = r.ptpSyncValue;
            // The measured delay includes the compensation the element applies.
            const auto latency = toInt32(static_cast<qint64>(r.ptpSyncLatency) + r.additionalDelay);
            if (!latency)
                return fail();
            out.measuredDelayNs = *latency;
        }
    }

    out.audioFramesOk = r.rxAudioFramesOk;
    const auto audioRatio = errorRatio(r.rxAudioFramesOk, r.rxAudioFramesErr);
    if (!audioRatio)
        return fail();
    out.audioFramesErr = ErrorCount{r.rxAudioFramesErr, *audioRatio};
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

LatencyReading latencyArithmetic(const MeasurementValues& r, const QString& sfn, Role role)
{
    LatencyReading out;
    const auto sfnValue = sfnNumericValue(sfn);
    if (!sfnValue) {
        out.failed = true;
        return out;
    }
    if (*sfnValue != 1.0 || role != Role::Decoder)
        return out;
    out.sfnDecoder = true;

    const qint32 a = r.additionalDelay;
    out.additionalDelayNs = a;
    out.scrollPosition = delayScrollPosition(clampedDelayPositions(a));
    out.autoServo = r.autoServo == 1;
    const qint32 v = out.autoServo ? r.autoServoValue : 0;
    out.servoCorrectionNs = v;

    // The sums use the delay as reported, not the clamped scroll position.
    const std::pair<qint32, std::optional<LatencyRow>*> rows[] = {
        {r.propagationDelayAverage, &out.average},
        {r.propagationDelayMinimum, &out.minimum},
        {r.propagationDelayMaximum, &out.maximum},
    };
    for (const auto& [field, row] : rows) {
        const auto latency = networkLatency(field, a, v);
        if (!latency) {
            out.failed = true;
            return out;
        }
        *row = LatencyRow{*latency, latencySummary(*latency)};
        if (!(*row)->summaryNs) {
            out.failed = true;
            return out;
        }
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
