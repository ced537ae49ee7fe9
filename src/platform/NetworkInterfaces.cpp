#include "NetworkInterfaces.h"

#include <QNetworkInterface>

namespace vexo {

QList<PagingInterface> SystemNetworkInterfaces::pagingInterfaces() const
{
    QList<PagingInterface> list;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        const auto flags = i.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::CanBroadcast) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : i.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
                list.append(PagingInterface{i.name(), i.index(), entry.ip()});
                break; // one copy per card, from its first address
            }
        }
    }
    return list;
}

QList<PagingInterface> selectInterfaces(const QList<PagingInterface>& usable, const QStringList& names)
{
    if (names.isEmpty())
        return usable;
    QList<PagingInterface> chosen;
    for (const PagingInterface& i : usable)
        if (names.contains(i.name))
            chosen.append(i);
    return chosen;
}

QString describeInterfaces(const QList<PagingInterface>& interfaces)
{
    QStringList parts;
    for (const PagingInterface& i : interfaces)
        parts << QStringLiteral("%1 (%2)").arg(i.name, i.address.toString());
    return parts.join(QStringLiteral(", "));
}

} // namespace vexo
