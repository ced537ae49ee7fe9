#pragma once

#include "MeasureCodec.h"
#include "store/ElementStore.h"

#include <QList>
#include <QString>

#include <optional>

namespace vexo {

// The numeric value of the stored `sfn` text; none when it is not a number (empty included).
std::optional<double> sfnNumericValue(const QString& sfn);

// ---- Statistics window -------------------------------------------------------------------

// An error counter with its share of good + errors, in percent.
struct ErrorCount
{
    qint32 count = 0;
    float percent = 0;
    bool operator==(const ErrorCount&) const = default;
};

// The counters of one record as the element reports them. A row is empty when the element does
// not report it (the PTP rows of an element not in SFN mode, clock difference and measured delay
// of an encoder) or when the arithmetic failed before it (failed: the rows after the failure).
struct StatisticsReading
{
    std::optional<qint32> txFramesOk;
    std::optional<qint32> rxFramesOk;
    std::optional<ErrorCount> txFramesErr;
    std::optional<ErrorCount> rxFramesErr;
    std::optional<qint32> ptpSyncOk;
    std::optional<qint32> ptpSyncErr;
    std::optional<qint32> clockDifferenceNs;
    std::optional<qint32> measuredDelayNs; // path delay plus the additional delay
    std::optional<qint32> audioFramesOk;
    std::optional<ErrorCount> audioFramesErr;
    bool failed = false; // a sum left the 32-bit range or the stored `sfn` is no number
    bool operator==(const StatisticsReading&) const = default;
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

// Applies a record in the order the statistics window does. `sfn` is the stored text of the
// element's key. The PTP rows are reached only in SFN mode, clock difference and measured delay
// only for a decoder.
StatisticsReading statisticsArithmetic(const MeasurementValues& record, const QString& sfn, Role role);

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

// A network latency and its latency summary (the latency plus both interface latencies).
struct LatencyRow
{
    qint32 networkNs = 0;
    std::optional<qint32> summaryNs; // empty when the summary leaves the 32-bit range
    bool operator==(const LatencyRow&) const = default;
};

// The latency figures of one record. Only an SFN decoder reports them (sfnDecoder); the rows
// are filled in the order average, minimum, maximum up to a failure.
struct LatencyReading
{
    bool sfnDecoder = false;
    bool failed = false;          // a sum left the 32-bit range or the stored `sfn` is no number
    qint32 additionalDelayNs = 0; // as the element reports it
    int scrollPosition = 0;       // the same in positions of 100 ns, clamped to 0..25000
    bool autoServo = false;
    qint32 servoCorrectionNs = 0; // 0 while the servo is off
    std::optional<LatencyRow> average, minimum, maximum;
    bool operator==(const LatencyReading&) const = default;
};

LatencyReading latencyArithmetic(const MeasurementValues& record, const QString& sfn, Role role);

// Stored `dly`: a whole number is clamped to 0..25000; anything else gives the default 0.
int storedDelayPosition(const QString& dly);
// Stored `srv` / "AutoClearCounters": "1" is on; "0" and anything unexpected is the default, off.
bool storedFlag(const QString& value);

} // namespace vexo
