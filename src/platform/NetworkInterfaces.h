#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

namespace vexo {

// A network card the paging request can leave by: up, with an IPv4 address, able to broadcast,
// not loopback. `address` is its own (first) IPv4 address: the copy that leaves by it carries
// that address as its source, so that the elements behind the card answer to an address they
// can reach.
struct PagingInterface
{
    QString name;
    int index = 0; // the kernel's interface index
    QHostAddress address;

    bool operator==(const PagingInterface&) const = default;
};

// The machine's network cards, as discovery needs them; tests hand in a list of their own.
class NetworkInterfaces
{
public:
    virtual ~NetworkInterfaces() = default;
    // Every interface that can carry a paging request now, in the system's order.
    virtual QList<PagingInterface> pagingInterfaces() const = 0;
};

// The system's interfaces, read afresh at each call (a card may come up while the station runs).
class SystemNetworkInterfaces : public NetworkInterfaces
{
public:
    QList<PagingInterface> pagingInterfaces() const override;
};

// The interfaces among `usable` that `names` asks for; no names means all of them.
QList<PagingInterface> selectInterfaces(const QList<PagingInterface>& usable, const QStringList& names);

// "vxst (10.77.0.1), eth0 (192.168.1.5)" for the operator.
QString describeInterfaces(const QList<PagingInterface>& interfaces);

} // namespace vexo
