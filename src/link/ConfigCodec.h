#pragma once

#include "store/ElementConfig.h"
#include "store/ElementStore.h"

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

// 40 bytes for a decoder, 36 bytes for every other role.
QByteArray buildConfigRequest(const ElementConfig& fields, Role role);
// The inverse, for an element that takes a request on: nothing beyond the request's length is
// filled in. False for a datagram that is neither 36 nor 40 bytes long.
bool parseConfigRequest(const QByteArray& datagram, ElementConfig& fields);

QByteArray buildAttenuationMessage(quint8 value);

// Blank-padded or cut to 16 characters, upper case.
QString formatElementName(const QString& name);

// Shortest reply that carries a serial number.
inline constexpr int kMinConfigReplySize = 40;

// Decodes a reply of at least 40 bytes into the record, keeping the fields it does not concern.
// False (record untouched) for a shorter datagram.
bool decodeConfigReply(const QByteArray& datagram, ElementConfig& record);

// The reply an element sends for its configuration: 44 bytes for an encoder layout, 48 for a
// decoder (role 2). Used by the element simulator and by tests.
QByteArray buildConfigReply(const ElementConfig& record);

// Dotted text <-> 4 bytes of a message.
QString addressText(const QByteArray& datagram, int offset);
void putAddress(QByteArray& datagram, int offset, const QString& dotted);

} // namespace vexo
