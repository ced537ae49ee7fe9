#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vexo {

// The measurement link: UDP 2978 on the station and on the element. Requests are bare bytes
// (no terminator, no length prefix); the element answers "GetStats" and "GetDel" with one
// 61-byte MeasurementRecord.
inline constexpr quint16 kMeasurePort = 2978;
inline const QByteArray kGetStats = QByteArrayLiteral("GetStats");
inline const QByteArray kGetDel = QByteArrayLiteral("GetDel");
inline const QByteArray kRstStats = QByteArrayLiteral("RstStats");

inline constexpr int kMeasurementRecordSize = 61;
inline constexpr int kSetDelayRequestSize = 6;

// Record offsets of the 4-byte fields (signed, most significant byte first) and of the flag.
namespace offsets {
inline constexpr int txFramesOk = 0;
inline constexpr int rxFramesOk = 4;
inline constexpr int txFramesErr = 8;
inline constexpr int rxFramesErr = 12;
inline constexpr int ptpSyncOk = 16;
inline constexpr int ptpSyncErr = 20;
inline constexpr int ptpSyncValue = 24;
inline constexpr int ptpSyncLatency = 28;
inline constexpr int rxAudioFramesOk = 32;
inline constexpr int rxAudioFramesErr = 36;
inline constexpr int propagationDelayAverage = 40;
inline constexpr int propagationDelayMinimum = 44;
inline constexpr int propagationDelayMaximum = 48;
inline constexpr int additionalDelay = 52;
inline constexpr int autoServoValue = 56;
inline constexpr int autoServo = 60;
} // namespace offsets

struct MeasurementValues
{
    qint32 txFramesOk = 0, rxFramesOk = 0, txFramesErr = 0, rxFramesErr = 0, ptpSyncOk = 0, ptpSyncErr = 0,
           ptpSyncValue = 0, ptpSyncLatency = 0, rxAudioFramesOk = 0, rxAudioFramesErr = 0,
           propagationDelayAverage = 0, propagationDelayMinimum = 0, propagationDelayMaximum = 0,
           additionalDelay = 0, autoServoValue = 0;
    quint8 autoServo = 0;

    bool operator==(const MeasurementValues&) const = default;
};

// The 61-byte record an element sends (used by the element simulator and by tests).
QByteArray buildMeasurementRecord(const MeasurementValues& values);

// The 4 bytes at offset as an exact signed 32-bit integer, most significant byte first; 0 when
// the datagram ends before offset + 4 (or offset is negative).
qint32 decodeField(const QByteArray& datagram, int offset);

// Every field decoded with decodeField; the flag byte is 0 when the datagram does not reach it.
MeasurementValues decodeMeasurementRecord(const QByteArray& datagram);

struct SetDelay
{
    qint32 delayNs;
    quint8 autoServo;
};

// 'S', the delay in ns as 4 bytes most significant first, the servo flag (1 on, 0 off).
QByteArray buildSetDelayRequest(qint32 delayNs, bool autoServo);
// Only a 6-byte datagram starting with 'S' is a SetDelayRequest; the flag byte is passed as is.
std::optional<SetDelay> parseSetDelayRequest(const QByteArray& datagram);

// The statistics window takes every datagram of 61 bytes or fewer; the SFN adjustment window
// only one of exactly 61 bytes.
bool statisticsAcceptsLength(qsizetype length);
bool adjustAcceptsLength(qsizetype length);

// Time text: "265 nS", "395 uS, 833 nS", "1 mS, 0 uS, 5 nS", "-1 uS, 500 nS". It takes 64 bits
// so that sums and differences of latencies (a plan's change, its expected summary) show in the
// same text as the latencies themselves.
QString formatNanoseconds(qint64 n);

} // namespace vexo
