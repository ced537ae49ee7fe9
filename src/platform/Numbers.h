#pragma once

#include <QLocale>
#include <QString>

namespace vexo {

// Rounds to the given number of decimals; a value exactly halfway goes to the even digit.
double roundHalfEven(double value, int decimals);

// Shortest decimal form: minus sign for negatives, no trailing zeros, no digit grouping, the
// decimal separator of the given locale (the user's by default).
QString formatShortest(double value, const QLocale& locale = QLocale());

// Natural logarithm of the value divided by that of 10.
double log10Of(double value);

// Dotted-decimal IPv4 text (four decimal parts, each 0..255, blanks around a part allowed, the
// texts isValidIp accepts) to a host-order address. The shorthand forms of inet_aton ("10.0.0", "10.1", hex,
// octal) are refused: a typing slip such as "10.0.0" must not become a request to the network address
// 10.0.0.0, and no other place of the station accepts anything but four parts.
bool parseIPv4(const QString& text, quint32& ipv4);

} // namespace vexo
