#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace vexo {

// The 32-byte paging request broadcast to UDP 1901.
inline constexpr char kPagingRequest[] = "IPMPXSTL KORVANTA PAGING REQUEST";
inline constexpr int kPagingRequestSize = 32;

inline constexpr quint16 kConfigPort = 2976;
inline constexpr quint16 kCommandPort = 2977;
inline constexpr quint16 kPagingPort = 1901;

// What the editor holds when a configuration is sent. Addresses are dotted text, already
// checked with isValidIp.
struct ConfigRequestFields
{
    QString ip;
    QString mask;
    QString gateway;
    QString remote;
    quint8 audioSource = 0;
    quint8 audioType = 0;
    quint8 txType = 0;
    quint8 sfn = 0;
    QString name;
    // Decoder only.
    quint8 buffer = 0;
    quint8 silenceMode = 0;
    quint8 silenceLevel = 0;
    quint8 silenceTime = 0;
};

// 40 bytes when the role caption is "DECODER", 36 bytes for every other caption.
QByteArray buildConfigRequest(const ConfigRequestFields& fields, const QString& roleCaption);
// The inverse, for an element that takes a request on: nothing beyond the request's length is
// filled in. False for a datagram that is neither 36 nor 40 bytes long.
bool parseConfigRequest(const QByteArray& datagram, ConfigRequestFields& fields);

QByteArray buildAttenuationMessage(quint8 value);

// Blank-padded or cut to 16 characters, upper case.
QString formatElementName(const QString& name);

// The decoded configuration reply. A reply only overwrites what it carries: decode into the
// record of the previous reply to keep the fields it leaves alone.
struct ReplyRecord
{
    QString ip;
    QString mask;
    QString gateway;
    QString remote;
    quint8 audioSource = 0;
    quint8 audioType = 0;
    quint8 txType = 0;
    QString name; // 16 characters as sent
    quint8 role = 0;
    qint32 serial = 0;
    quint8 versionMajor = 0;
    quint8 versionMinor = 0;
    quint8 sfn = 0;
    quint8 buffer = 0;
    quint8 attenuation = 0;
    quint8 silenceMode = 0;
    quint8 silenceLevel = 0;
    quint8 silenceTime = 0;
    QString mac;

    QString version() const;
};

// Shortest reply that carries a serial number.
inline constexpr int kMinConfigReplySize = 40;

// Decodes a reply of at least 40 bytes into the record, keeping the fields it does not concern.
// False (record untouched) for a shorter datagram.
bool decodeConfigReply(const QByteArray& datagram, ReplyRecord& record);

// The reply an element sends for its configuration: 44 bytes for an encoder layout, 48 for a
// decoder (role 2). Used by the element simulator and by tests.
QByteArray buildConfigReply(const ReplyRecord& record);

// Dotted text <-> 4 bytes of a message.
QString addressText(const QByteArray& datagram, int offset);
void putAddress(QByteArray& datagram, int offset, const QString& dotted);

} // namespace vexo
