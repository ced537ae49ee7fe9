#pragma once

#include "Element.h"
#include "UdpEndpoint.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>

#include <array>
#include <memory>
#include <vector>

namespace vexo::sim {

struct FleetOptions
{
    // true: one socket per port on 0.0.0.0 serves every element (datagrams are told apart by
    // their destination address, broadcasts by the interface they came in on). false: each
    // element binds its own address on every port (used over loopback, where 127.x addresses
    // need no interface); a socket bound to a unicast address never sees a broadcast, so one
    // more socket on 0.0.0.0, port 1901, hears the paging broadcast for the process's elements.
    bool bindAny = false;
    QString stateFile;    // rewritten (atomically) at start and after every change
    bool verbose = false; // one log line per datagram on stderr
};

// One process, many elements. Each element answers from its own address and, when its address
// sits on an interface of its own, through that interface.
class Fleet : public QObject
{
    Q_OBJECT
public:
    explicit Fleet(FleetOptions options, QObject* parent = nullptr);
    ~Fleet() override;

    void addElement(const ElementConfig& config);
    // Finds each element's interface, binds the sockets, writes the state file.
    bool start(QString* error);

    int size() const { return int(m_members.size()); }
    const Element& element(int index) const { return *m_members[size_t(index)].element; }
    // The address an element listens at (it differs from config().ip while a move is pending
    // or when the element kept its address).
    QString listenIp(int index) const { return ipv4Text(m_members[size_t(index)].listenIp); }
    QString mac(int index) const { return m_members[size_t(index)].mac; }

    QJsonObject stateJson() const;
    bool writeState(QString* error = nullptr);
    qint64 nowMs() const { return m_clock.elapsed(); }

signals:
    // After a datagram was handled (its answer may still be waiting for a delay).
    void handled(int element, vexo::sim::Port port);
    // An element now listens at its new address.
    void moved(int element);

private:
    struct Member
    {
        std::unique_ptr<Element> element;
        quint32 listenIp = 0;
        QString interfaceName;
        int interfaceIndex = 0;
        int prefix = 24;
        QString mac;
        std::array<UdpEndpoint*, 4> own{};
    };

    void receive(Port port, int ownIndex, UdpEndpoint* via, const Datagram& d);
    void receiveBroadcast(const Datagram& d);
    // The elements that hear a broadcast: those on the interface it came in on, or all of them
    // when none has an interface of its own.
    QList<int> hearersOf(const Datagram& d) const;
    void handleFor(int index, Port port, UdpEndpoint* via, const Datagram& d);
    void send(int index, UdpEndpoint* via, const QByteArray& reply, const Datagram& to, quint32 from);
    void moveElement(int index, const QString& oldIp);
    void finishMove(int index, quint32 newIp, bool onInterface);
    bool bindOwn(int index, quint32 address, QString* error);
    void log(const QString& line) const;
    void stateChanged();
    void queueFlush();
    void flushBurst();

    // Records answered at once wait for the end of the burst of datagrams they came in, so that
    // the state a burst changed (a delay set on every decoder) is written once, and before they
    // leave: whoever reads a record can read the state that preceded it.
    struct Outgoing
    {
        int index;
        QPointer<UdpEndpoint> via;
        QByteArray reply;
        Datagram to;
        quint32 from;
    };
    QList<Outgoing> m_outgoing;
    bool m_stateDirty = false;
    bool m_flushQueued = false;

    FleetOptions m_options;
    std::vector<Member> m_members;
    QHash<quint32, int> m_byIp;
    QHash<int, QList<int>> m_byInterface;
    bool m_anyOnInterface = false;
    std::array<UdpEndpoint*, 4> m_shared{};
    UdpEndpoint* m_broadcast = nullptr; // own addresses: the paging broadcast
    QElapsedTimer m_clock;
};

} // namespace vexo::sim
