#include "MacLookup.h"

#include "platform/Arp.h"

namespace vexo {

namespace {

MacOutcome lookUp(Arp& arp, bool wait, const QString& ip, const QString& delimiter)
{
    MacOutcome o;
    o.ip = ip;
    quint32 address = 0;
    // The all-ones value is both the "no address" answer of the classic conversion and the
    // limited broadcast: neither names one host.
    if (!parseIPv4(ip, address) || address == 0 || address == 0xFFFFFFFFu) {
        o.result = MacOutcome::Result::InvalidAddress;
        return o;
    }
    QByteArray hw;
    if (!(wait ? arp.resolve(address, hw) : arp.resolveNow(address, hw)) || hw.isEmpty())
        return o;
    // The hardware address buffer holds 8 bytes; an address whose first four are all zero is no
    // answer (an entry of an interface without hardware addresses).
    QByteArray buffer = hw.left(8);
    buffer.append(QByteArray(8 - buffer.size(), '\0'));
    if (buffer.left(4) == QByteArray(4, '\0'))
        return o;
    o.result = MacOutcome::Result::Found;
    o.mac = makeMacText(hw, delimiter);
    return o;
}

bool found(const MacOutcome& o, QString& mac)
{
    if (o.result != MacOutcome::Result::Found)
        return false;
    mac = o.mac;
    return true;
}

} // namespace

MacOutcome lookupMac(Arp& arp, const QString& ip, const QString& delimiter)
{
    return lookUp(arp, true, ip, delimiter);
}

bool getRemoteMac(Arp& arp, const QString& ip, const QString& delimiter, QString& mac)
{
    return found(lookUp(arp, true, ip, delimiter), mac);
}

bool getRemoteMacNow(Arp& arp, const QString& ip, const QString& delimiter, QString& mac)
{
    return found(lookUp(arp, false, ip, delimiter), mac);
}

QString makeMacText(const QByteArray& bytes, const QString& delimiter)
{
    if (bytes.size() != 6)
        return QString();
    QString text;
    text.reserve(12 + 5 * delimiter.size());
    for (int i = 0; i < 6; ++i) {
        if (i > 0)
            text += delimiter;
        text += QStringLiteral("%1").arg(quint8(bytes[i]), 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

} // namespace vexo
