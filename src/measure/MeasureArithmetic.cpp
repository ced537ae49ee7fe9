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

std::optional<double> SfnNumericValue(const QString& sfn)
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

std::optional<float> ErrorRatio(qint32 good, qint32 errors)
{
    const auto sum = toInt32(static_cast<qint64>(good) + errors);
    if (!sum)
        return std::nullopt;
    if (*sum == 0)
        return 0.0f;
    const double percent = static_cast<double>(errors) / static_cast<double>(*sum) * 100.0;
    return static_cast<float>(roundHalfEven(percent, 2));
}

QString FormatRatio(float ratio)
{
    // The single-precision value carries binary noise beyond the two decimals it was rounded to.
    return formatShortest(roundHalfEven(static_cast<double>(ratio), 2));
}

QString FormatErrorCell(qint32 errors, float ratio)
{
    return QString::number(errors) + QStringLiteral(" (") + FormatRatio(ratio) + QStringLiteral("%)");
}

QString FormatTimeCell(qint64 ns)
{
    return QString::number(ns) + QStringLiteral(" nS");
}

StatisticsOutcome StatisticsArithmetic(const MeasurementValues& r, const QString& sfn, const QString& role,
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

    k.UDP_Response_Additional_Latency = r.additionalDelay;

    k.UDP_Response_Tx_Frames_OK = r.txFramesOk;
    show("lblMACTxOK", QString::number(k.UDP_Response_Tx_Frames_OK));

    k.UDP_Response_Rx_Frames_OK = r.rxFramesOk;
    show("lblMACRxOK", QString::number(k.UDP_Response_Rx_Frames_OK));

    k.UDP_Response_Tx_Frames_Err = r.txFramesErr;
    const auto txRatio = ErrorRatio(k.UDP_Response_Tx_Frames_OK, k.UDP_Response_Tx_Frames_Err);
    if (!txRatio)
        return fail();
    k.UDP_Response_Tx_Frames_Err_Ratio = *txRatio;
    show("lblMACTxErr", FormatErrorCell(k.UDP_Response_Tx_Frames_Err, *txRatio));

    k.UDP_Response_Rx_Frames_Err = r.rxFramesErr;
    const auto rxRatio = ErrorRatio(k.UDP_Response_Rx_Frames_OK, k.UDP_Response_Rx_Frames_Err);
    if (!rxRatio)
        return fail();
    k.UDP_Response_Rx_Frames_Err_Ratio = *rxRatio;
    show("lblMACRxErr", FormatErrorCell(k.UDP_Response_Rx_Frames_Err, *rxRatio));

    const auto sfnValue = SfnNumericValue(sfn);
    if (!sfnValue)
        return fail();
    if (*sfnValue == 1.0) {
        k.UDP_Response_PTP_Sync_OK = r.ptpSyncOk;
        show("lblPTPRxOK", QString::number(k.UDP_Response_PTP_Sync_OK));
        k.UDP_Response_PTP_Sync_Err = r.ptpSyncErr;
        show("lblPTPRxErr", QString::number(k.UDP_Response_PTP_Sync_Err));
        if (role == kDecoder) {
            k.UDP_Response_PTP_Sync_Value = r.ptpSyncValue;
            show("lblPTPClkAdj", FormatTimeCell(k.UDP_Response_PTP_Sync_Value));
            const auto latency =
                toInt32(static_cast<qint64>(r.ptpSyncLatency) + k.UDP_Response_Additional_Latency);
            if (!latency)
                return fail();
            k.UDP_Response_PTP_Sync_Latency = *latency;
            show("lblPTPLatency", FormatTimeCell(k.UDP_Response_PTP_Sync_Latency));
        }
    }

    k.UDP_Response_Rx_Audio_Frames_OK = r.rxAudioFramesOk;
    show("lblAudioRxFramesOK", QString::number(k.UDP_Response_Rx_Audio_Frames_OK));
    k.UDP_Response_Rx_Audio_Frames_Err = r.rxAudioFramesErr;
    const auto audioRatio = ErrorRatio(k.UDP_Response_Rx_Audio_Frames_OK, k.UDP_Response_Rx_Audio_Frames_Err);
    if (!audioRatio)
        return fail();
    k.UDP_Response_Rx_Audio_Frames_Err_Ratio = *audioRatio;
    show("lblAudioRxFramesErr", FormatErrorCell(k.UDP_Response_Rx_Audio_Frames_Err, *audioRatio));
    return out;
}

double ClampedDelayPositions(qint32 additionalDelayNs)
{
    const double positions = static_cast<double>(additionalDelayNs) / kNsPerDelayPosition;
    if (positions > kDelayPositionMax)
        return kDelayPositionMax;
    if (positions < kDelayPositionMin)
        return kDelayPositionMin;
    return positions;
}

int DelayScrollPosition(double positions)
{
    return static_cast<int>(roundHalfEven(positions, 0));
}

std::optional<qint32> NetworkLatency(qint32 field, qint32 additionalDelayNs, qint32 servoValueNs)
{
    // Three 32-bit values: the 64-bit sum is exact.
    return toInt32(static_cast<qint64>(field) + additionalDelayNs + servoValueNs);
}

std::optional<qint32> LatencySummary(qint32 networkLatency)
{
    return toInt32(static_cast<qint64>(networkLatency) + FixedLatencyMacNs + FixedLatencyAudioNs);
}

QString AutoServoCaption(bool on, qint32 servoValueNs)
{
    if (!on)
        return QStringLiteral("Auto servo");
    return QStringLiteral("Auto servo (") + QString::number(servoValueNs) + QStringLiteral(" nS)");
}

AdjustOutcome AdjustArithmetic(const MeasurementValues& r, const QString& sfn, const QString& role)
{
    AdjustOutcome out;
    const auto sfnValue = SfnNumericValue(sfn);
    if (!sfnValue) {
        out.failed = true;
        return out;
    }
    if (*sfnValue != 1.0 || role != kDecoder)
        return out;
    out.reachesControls = true;

    const qint32 a = r.additionalDelay;
    out.UDP_Response_PTP_Additional_Delay = ClampedDelayPositions(a);
    out.scrollPosition = DelayScrollPosition(out.UDP_Response_PTP_Additional_Delay);

    out.UDP_Response_PTP_Auto_Servo = r.autoServo;
    out.servoChecked = r.autoServo == 1;
    const qint32 v = out.servoChecked ? r.autoServoValue : 0;
    out.servoCaption = AutoServoCaption(out.servoChecked, v);

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
        const auto latency = NetworkLatency(row.field, a, v);
        if (!latency) {
            out.failed = true;
            return out;
        }
        *row.kept = *latency;
        out.latencyUpdates.append({QString::fromLatin1(row.current), FormatNanoseconds(*latency)});
        const auto summary = LatencySummary(*latency);
        if (!summary) {
            out.failed = true;
            return out;
        }
        out.latencyUpdates.append({QString::fromLatin1(row.summary), FormatNanoseconds(*summary)});
    }
    return out;
}

int StoredDelayPosition(const QString& dly)
{
    bool ok = false;
    const qlonglong v = dly.trimmed().toLongLong(&ok);
    if (!ok)
        return 0;
    return static_cast<int>(std::clamp<qlonglong>(v, kDelayPositionMin, kDelayPositionMax));
}

bool StoredFlag(const QString& value)
{
    return value.trimmed() == QLatin1String("1");
}

} // namespace vexo
