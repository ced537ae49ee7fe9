#pragma once

#include <QByteArray>
#include <QString>

namespace vexo {

class Arp;

// How one look-up of an address's MAC ended.
struct MacOutcome
{
    enum class Result
    {
        Found,          // mac holds the text (empty for a hardware address of another length than 6)
        NotFound,       // not resolved during this attempt: callers retry
        InvalidAddress, // no dotted quad, 0.0.0.0 or the all-ones address: nothing was asked
    };
    Result result = Result::NotFound;
    QString ip;
    QString mac;
};

// One attempt, the MAC text joined by the delimiter.
MacOutcome lookupMac(Arp& arp, const QString& ip, const QString& delimiter = QStringLiteral(":"));

// The hardware address of the host at the dotted IPv4 text, as text made by makeMacText. False
// (mac unchanged) when the text is no address, is 0.0.0.0 or the all-ones address, or the address
// is not resolved during this attempt; callers retry. A hardware address of a length other than 6
// gives true with an empty text.
bool getRemoteMac(Arp& arp, const QString& ip, const QString& delimiter, QString& mac);
// The same without waiting for the network (Arp::resolveNow): for the GUI thread.
bool getRemoteMacNow(Arp& arp, const QString& ip, const QString& delimiter, QString& mac);

// Exactly six bytes as two upper-case hexadecimal digits each, joined by the delimiter; any other
// length gives the empty text. (Building the text cannot fail, so the old "(error building MAC
// address)" fallback has nothing left to catch.)
QString makeMacText(const QByteArray& bytes, const QString& delimiter);

} // namespace vexo
