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
std::optional<double> sfnNumericValue(const QString& sfn);

// ---- Statistics window -------------------------------------------------------------------

// The values the statistics window keeps after each record, named after the record fields.
struct StatisticsValues
{
    qint32 txFramesOk = 0;
    qint32 rxFramesOk = 0;
    qint32 txFramesErr = 0;
    float txFramesErrRatio = 0;
    qint32 rxFramesErr = 0;
    float rxFramesErrRatio = 0;
    qint32 ptpSyncOk = 0;
    qint32 ptpSyncErr = 0;
    qint32 ptpSyncValue = 0;
    qint32 ptpSyncLatency = 0;
    qint32 rxAudioFramesOk = 0;
    qint32 rxAudioFramesErr = 0;
    float rxAudioFramesErrRatio = 0;
    qint32 additionalLatency = 0;
};

// Percentage of errors among good + errors, rounded to two decimals (halves to even) and held
// in single precision; 0 when the sum is 0; none when good + errors leaves the 32-bit range.
std::optional<float> errorRatio(qint32 good, qint32 errors);
// "0", "0.5", "33.33", "100": at most two decimals, the user's decimal separator.
QString formatRatio(float ratio);
// "3 (0.25%)"
QString formatErrorCell(qint32 errors, float ratio);
// "-35 nS"
QString formatTimeCell(qint64 ns);

struct StatisticsOutcome
{
    QList<LabelUpdate> updates;
    bool failed = false;
};

// Applies a record to the kept values. `sfn` is the stored text of the element's key, `role`
// the caption the main window shows for it ("DECODER", ...). The PTP rows are reached only in
// SFN mode, clock difference and measured delay only for a decoder.
StatisticsOutcome statisticsArithmetic(const MeasurementValues& record, const QString& sfn,
                                       const QString& role, StatisticsValues& kept);

// ---- SFN adjustment window ---------------------------------------------------------------

inline constexpr qint32 FixedLatencyMacNs = 265;
inline constexpr qint32 FixedLatencyAudioNs = 395833;
inline constexpr int kDelayPositionMin = 0;
inline constexpr int kDelayPositionMax = 25000;
inline constexpr qint32 kNsPerDelayPosition = 100;

// The element's additional delay in scroll positions (ns / 100), clamped to the scroll range.
double clampedDelayPositions(qint32 additionalDelayNs);
// The scroll position for it: rounded to an integer, halves to the even neighbour.
int delayScrollPosition(double positions);

// Network latency = field + A + V, summed without loss; none outside the 32-bit range.
std::optional<qint32> networkLatency(qint32 field, qint32 additionalDelayNs, qint32 servoValueNs);
// Latency + 265 + 395833 in 32-bit arithmetic; none on overflow.
std::optional<qint32> latencySummary(qint32 networkLatency);

// "Auto servo" or "Auto servo (-1200 nS)".
QString autoServoCaption(bool on, qint32 servoValueNs);

struct AdjustOutcome
{
    // False when the element is not an SFN decoder (or `sfn` is no number): only the two fixed
    // latency labels change.
    bool reachesControls = false;
    bool failed = false;
    double m_additionalDelay = 0; // clamped positions
    int scrollPosition = 0;
    quint8 m_autoServo = 0;
    bool servoChecked = false;
    // The record's additional delay and the servo's correction (0 while the servo is off), in ns.
    qint32 additionalDelayNs = 0;
    qint32 servoValueNs = 0;
    QString servoCaption;
    // lblCurrentDelayAVG, lblDelaySumAVG, then MIN, then MAX, up to a failure.
    QList<LabelUpdate> latencyUpdates;
    std::optional<qint32> average, minimum, maximum;
};

AdjustOutcome adjustArithmetic(const MeasurementValues& record, const QString& sfn, const QString& role);

// Stored `dly`: a whole number is clamped to 0..25000; anything else gives the default 0.
int storedDelayPosition(const QString& dly);
// Stored `srv` / "AutoClearCounters": "1" is on; "0" and anything unexpected is the default, off.
bool storedFlag(const QString& value);

} // namespace vexo
