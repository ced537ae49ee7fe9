#include "MeasureCodec.h"

#include <QtEndian>

namespace vexo {

namespace {

void appendField(QByteArray& out, qint32 value)
{
    char bytes[4];
    qToBigEndian<qint32>(value, bytes);
    out.append(bytes, 4);
}

} // namespace

QByteArray buildMeasurementRecord(const MeasurementValues& v)
{
    QByteArray out;
    out.reserve(kMeasurementRecordSize);
    for (qint32 field :
         {v.txFramesOk, v.rxFramesOk, v.txFramesErr, v.rxFramesErr, v.ptpSyncOk, v.ptpSyncErr, v.ptpSyncValue,
          v.ptpSyncLatency, v.rxAudioFramesOk, v.rxAudioFramesErr, v.propagationDelayAverage,
          v.propagationDelayMinimum, v.propagationDelayMaximum, v.additionalDelay, v.autoServoValue})
        appendField(out, field);
    out.append(static_cast<char>(v.autoServo));
    return out;
}

qint32 decodeField(const QByteArray& datagram, int offset)
{
    if (offset < 0 || static_cast<qsizetype>(offset) + 4 > datagram.size())
        return 0;
    // Exact: every 32-bit value, 7F FF FF FF included, is a value the element may report.
    return qFromBigEndian<qint32>(datagram.constData() + offset);
}

MeasurementValues decodeMeasurementRecord(const QByteArray& d)
{
    MeasurementValues v;
    v.txFramesOk = decodeField(d, offsets::txFramesOk);
    v.rxFramesOk = decodeField(d, offsets::rxFramesOk);
    v.txFramesErr = decodeField(d, offsets::txFramesErr);
    v.rxFramesErr = decodeField(d, offsets::rxFramesErr);
    v.ptpSyncOk = decodeField(d, offsets::ptpSyncOk);
    v.ptpSyncErr = decodeField(d, offsets::ptpSyncErr);
    v.ptpSyncValue = decodeField(d, offsets::ptpSyncValue);
    v.ptpSyncLatency = decodeField(d, offsets::ptpSyncLatency);
    v.rxAudioFramesOk = decodeField(d, offsets::rxAudioFramesOk);
    v.rxAudioFramesErr = decodeField(d, offsets::rxAudioFramesErr);
    v.propagationDelayAverage = decodeField(d, offsets::propagationDelayAverage);
    v.propagationDelayMinimum = decodeField(d, offsets::propagationDelayMinimum);
    v.propagationDelayMaximum = decodeField(d, offsets::propagationDelayMaximum);
    v.additionalDelay = decodeField(d, offsets::additionalDelay);
    v.autoServoValue = decodeField(d, offsets::autoServoValue);
    v.autoServo = d.size() > offsets::autoServo ? static_cast<quint8>(d.at(offsets::autoServo)) : 0;
    return v;
}

QByteArray buildSetDelayRequest(qint32 delayNs, bool autoServo)
{
    QByteArray out;
    out.reserve(kSetDelayRequestSize);
    out.append('S');
    appendField(out, delayNs);
    out.append(autoServo ? '\x01' : '\x00');
    return out;
}

std::optional<SetDelay> parseSetDelayRequest(const QByteArray& datagram)
{
    if (datagram.size() != kSetDelayRequestSize || datagram.at(0) != 'S')
        return std::nullopt;
    return SetDelay{decodeField(datagram, 1), static_cast<quint8>(datagram.at(5))};
}

bool statisticsAcceptsLength(qsizetype length)
{
    return length >= 0 && length <= kMeasurementRecordSize;
}

bool adjustAcceptsLength(qsizetype length)
{
    return length == kMeasurementRecordSize;
}

QString formatNanoseconds(qint64 n)
{
    const bool negative = n < 0;
    const qint64 a = negative ? -n : n;
    const qint64 ms = a / 1000000;
    const qint64 us = a / 1000 - ms * 1000;
    const qint64 ns = a - us * 1000 - ms * 1000000;
    QString text;
    if (ms > 0)
        text += QString::number(ms) + QStringLiteral(" mS, ");
    if (!text.isEmpty() || us >= 1)
        text += QString::number(us) + QStringLiteral(" uS, ");
    text += QString::number(ns) + QStringLiteral(" nS");
    if (negative)
        text.prepend(QLatin1Char('-'));
    return text;
}

} // namespace vexo
