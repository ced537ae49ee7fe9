#pragma once

#include "MeasureCodec.h"

#include <QList>
#include <QString>

#include <optional>

namespace vexo {

// What a record does to the labels of a measurement window, in the order the window applies
// it. A failed record stops part-way: the updates listed before the failure still take effect.
struct LabelUpdate
{
    QString label; // objectName of the value label
    QString text;
    bool operator==(const LabelUpdate&) const = default;
};

// The numeric value of the stored `sfn` text; none when it is not a number (empty included).
std::optional<double> SfnNumericValue(const QString& sfn);

// ---- Statistics window -------------------------------------------------------------------

// The values the statistics window keeps after each record, named after the record fields.
struct StatisticsValues
{
    qint32 UDP_Response_Tx_Frames_OK = 0;
    qint32 UDP_Response_Rx_Frames_OK = 0;
    qint32 UDP_Response_Tx_Frames_Err = 0;
    float UDP_Response_Tx_Frames_Err_Ratio = 0;
    qint32 UDP_Response_Rx_Frames_Err = 0;
    float UDP_Response_Rx_Frames_Err_Ratio = 0;
    qint32 UDP_Response_PTP_Sync_OK = 0;
    qint32 UDP_Response_PTP_Sync_Err = 0;
    qint32 UDP_Response_PTP_Sync_Value = 0;
    qint32 UDP_Response_PTP_Sync_Latency = 0;
    qint32 UDP_Response_Rx_Audio_Frames_OK = 0;
    qint32 UDP_Response_Rx_Audio_Frames_Err = 0;
    float UDP_Response_Rx_Audio_Frames_Err_Ratio = 0;
    qint32 UDP_Response_Additional_Latency = 0;
};

// Percentage of errors among good + errors, rounded to two decimals (halves to even) and held
// in single precision; 0 when the sum is 0; none when good + errors leaves the 32-bit range.
std::optional<float> ErrorRatio(qint32 good, qint32 errors);
// "0", "0.5", "33.33", "100": at most two decimals, the user's decimal separator.
QString FormatRatio(float ratio);
// "3 (0.25%)"
QString FormatErrorCell(qint32 errors, float ratio);
// "-35 nS"
QString FormatTimeCell(qint64 ns);

struct StatisticsOutcome
{
    QList<LabelUpdate> updates;
    bool failed = false;
};

// Applies a record to the kept values. `sfn` is the stored text of the element's key, `role`
// the caption the main window shows for it ("DECODER", ...). The PTP rows are reached only in
// SFN mode, clock difference and measured delay only for a decoder.
StatisticsOutcome StatisticsArithmetic(const MeasurementValues& record, const QString& sfn,
                                       const QString& role, StatisticsValues& kept);

// ---- SFN adjustment window ---------------------------------------------------------------

inline constexpr qint32 FixedLatencyMacNs = 265;
inline constexpr qint32 FixedLatencyAudioNs = 395833;
inline constexpr int kDelayPositionMin = 0;
inline constexpr int kDelayPositionMax = 25000;
inline constexpr qint32 kNsPerDelayPosition = 100;

// The element's additional delay in scroll positions (ns / 100), clamped to the scroll range.
double ClampedDelayPositions(qint32 additionalDelayNs);
// The scroll position for it: rounded to an integer, halves to the even neighbour.
int DelayScrollPosition(double positions);

// Network latency = field + A + V, summed without loss; none outside the 32-bit range.
std::optional<qint32> NetworkLatency(qint32 field, qint32 additionalDelayNs, qint32 servoValueNs);
// Latency + 265 + 395833 in 32-bit arithmetic; none on overflow.
std::optional<qint32> LatencySummary(qint32 networkLatency);

// "Auto servo" or "Auto servo (-1200 nS)".
QString AutoServoCaption(bool on, qint32 servoValueNs);

struct AdjustOutcome
{
    // False when the element is not an SFN decoder (or `sfn` is no number): only the two fixed
    // latency labels change.
    bool reachesControls = false;
    bool failed = false;
    double UDP_Response_PTP_Additional_Delay = 0; // clamped positions
    int scrollPosition = 0;
    quint8 UDP_Response_PTP_Auto_Servo = 0;
    bool servoChecked = false;
    QString servoCaption;
    // lblCurrentDelayAVG, lblDelaySumAVG, then MIN, then MAX, up to a failure.
    QList<LabelUpdate> latencyUpdates;
    std::optional<qint32> average, minimum, maximum;
};

AdjustOutcome AdjustArithmetic(const MeasurementValues& record, const QString& sfn, const QString& role);

// Stored `dly`: a whole number is clamped to 0..25000; anything else gives the default 0.
int StoredDelayPosition(const QString& dly);
// Stored `srv` / "AutoClearCounters": "1" is on; "0" and anything unexpected is the default, off.
bool StoredFlag(const QString& value);

} // namespace vexo
