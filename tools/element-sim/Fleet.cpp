#include "Fleet.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSaveFile>
#include <QTimer>

#include <arpa/inet.h>
#include <bit>
#include <cstdio>
#include <ifaddrs.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <unistd.h>

namespace vexo::sim {

namespace {

constexpr std::array<Port, 4> kPorts = {Port::Paging, Port::Config, Port::Command, Port::Measure};
constexpr int kSharedBuffer = 8 * 1024 * 1024;
constexpr int kOwnBuffer = 256 * 1024;

struct InterfaceAddress
{
    QString name;
    int index = 0;
    int prefix = 0;
};

// Every IPv4 address of this network namespace with its interface, and every interface's MAC.
void readInterfaces(QHash<quint32, InterfaceAddress>& addresses, QHash<QString, QString>& macs)
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr)
            continue;
        const QString name = QString::fromLocal8Bit(i->ifa_name);
        if (i->ifa_addr->sa_family == AF_INET) {
            InterfaceAddress a;
            a.name = name;
            a.index = int(if_nametoindex(i->ifa_name));
            if (i->ifa_netmask)
                a.prefix = std::popcount(reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
            addresses.insert(ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr), a);
        } else if (i->ifa_addr->sa_family == AF_PACKET) {
            const auto* ll = reinterpret_cast<sockaddr_ll*>(i->ifa_addr);
            if (ll->sll_halen == 6) {
                QStringList bytes;
                for (int b = 0; b < 6; ++b)
                    bytes << QStringLiteral("%1").arg(ll->sll_addr[b], 2, 16, QLatin1Char('0')).toUpper();
                macs.insert(name, bytes.join(QLatin1Char(':')));
            }
        }
    }
    freeifaddrs(list);
}

} // namespace

Fleet::Fleet(FleetOptions options, QObject* parent) : QObject(parent), m_options(std::move(options))
{
    m_clock.start();
}

Fleet::~Fleet() = default;

void Fleet::addElement(const ElementConfig& config)
{
    Member m;
    // Each element gets its own random stream, reproducible from its serial and position.
    const quint64 seed =
        (quint64(quint32(config.serial)) << 20) ^ quint64(m_members.size() + 1) * 0x9E3779B97F4A7C15ULL;
    m.element = std::make_unique<Element>(config, seed, 0);
    m.listenIp = ipv4FromText(config.ip);
    m_members.push_back(std::move(m));
}

bool Fleet::start(QString* error)
{
    QHash<quint32, InterfaceAddress> addresses;
    QHash<QString, QString> macs;
    readInterfaces(addresses, macs);

    m_byIp.clear();
    m_byInterface.clear();
    m_anyOnInterface = false;
    for (int i = 0; i < size(); ++i) {
        Member& m = m_members[size_t(i)];
        const ElementConfig& c = m.element->config();
        m.prefix = prefixLength(c.mask) >= 0 ? prefixLength(c.mask) : 24;
        const auto found = addresses.constFind(m.listenIp);
        // Loopback holds 127.0.0.1/8 only, yet every 127.x address is local: such an element
        // has no interface of its own.
        if (found != addresses.cend() && found->name != QLatin1String("lo")) {
            m.interfaceName = found->name;
            m.interfaceIndex = found->index;
            m.prefix = found->prefix;
        } else if (!c.interfaceName.isEmpty()) {
            m.interfaceName = c.interfaceName;
            m.interfaceIndex = int(if_nametoindex(c.interfaceName.toLocal8Bit().constData()));
        }
        m.mac = macs.value(m.interfaceName);
        if (m_byIp.contains(m.listenIp)) {
            if (error)
                *error = QStringLiteral("element %1: address %2 is taken by element %3")
                             .arg(i)
                             .arg(ipv4Text(m.listenIp))
                             .arg(m_byIp.value(m.listenIp));
            return false;
        }
        m_byIp.insert(m.listenIp, i);
        if (m.interfaceIndex > 0) {
            m_byInterface[m.interfaceIndex].append(i);
            m_anyOnInterface = true;
        }
    }

    if (m_options.bindAny) {
        for (size_t p = 0; p < kPorts.size(); ++p) {
            const Port port = kPorts[p];
            auto* e = new UdpEndpoint(this);
            e->setHandler([this, port, e](const Datagram& d) { receive(port, -1, e, d); });
            m_shared[p] = e;
        }
    }
    for (size_t p = 0; p < kPorts.size() && m_options.bindAny; ++p) {
        if (!m_shared[p]->open(0, portNumber(kPorts[p]), kSharedBuffer, error))
            return false;
    }
    if (!m_options.bindAny) {
        for (int i = 0; i < size(); ++i)
            if (!bindOwn(i, m_members[size_t(i)].listenIp, error))
                return false;
        m_broadcast = new UdpEndpoint(this);
        m_broadcast->setHandler([this](const Datagram& d) { receiveBroadcast(d); });
        if (!m_broadcast->open(0, portNumber(Port::Paging), kOwnBuffer, error, true))
            return false;
    }
    log(QStringLiteral("%1 element(s) ready (%2)")
            .arg(size())
            .arg(m_options.bindAny ? QStringLiteral("shared sockets on 0.0.0.0")
                                   : QStringLiteral("own addresses")));
    return writeState(error);
}

bool Fleet::bindOwn(int index, quint32 address, QString* error)
{
    Member& m = m_members[size_t(index)];
    std::array<UdpEndpoint*, 4> fresh{};
    for (size_t p = 0; p < kPorts.size(); ++p) {
        const Port port = kPorts[p];
        auto* e = new UdpEndpoint(this);
        e->setHandler([this, port, index, e](const Datagram& d) { receive(port, index, e, d); });
        fresh[p] = e;
        if (!e->open(address, portNumber(port), kOwnBuffer, error, port == Port::Paging)) {
            for (UdpEndpoint* f : fresh)
                delete f;
            return false;
        }
    }
    for (UdpEndpoint* old : m.own)
        if (old)
            old->deleteLater();
    m.own = fresh;
    return true;
}

void Fleet::receive(Port port, int ownIndex, UdpEndpoint* via, const Datagram& d)
{
    if (ownIndex >= 0) {
        handleFor(ownIndex, port, via, d);
        return;
    }
    if (const auto it = m_byIp.constFind(d.destination); it != m_byIp.cend()) {
        handleFor(*it, port, via, d);
        return;
    }
    if (port == Port::Paging) {
        for (int i : hearersOf(d))
            handleFor(i, port, via, d);
        return;
    }
    if (m_options.verbose)
        log(QStringLiteral("%1:%2 -> %3:%4 %5 bytes: no element at this address")
                .arg(ipv4Text(d.source))
                .arg(d.sourcePort)
                .arg(ipv4Text(d.destination))
                .arg(portNumber(port))
                .arg(d.data.size()));
}

QList<int> Fleet::hearersOf(const Datagram& d) const
{
    QList<int> hearers = m_byInterface.value(d.interfaceIndex);
    if (hearers.isEmpty() && !m_anyOnInterface)
        for (int i = 0; i < size(); ++i)
            hearers.append(i);
    return hearers;
}

void Fleet::receiveBroadcast(const Datagram& d)
{
    // A unicast reaches the element's own socket; here only the broadcasts count (the limited
    // one, or the directed one of the element's subnet), not datagrams for other local addresses.
    for (int i : hearersOf(d)) {
        const quint32 hostBits =
            m_members[size_t(i)].prefix >= 32 ? 0 : 0xFFFFFFFFu >> m_members[size_t(i)].prefix;
        if (d.destination == 0xFFFFFFFFu || (hostBits != 0 && (d.destination & hostBits) == hostBits))
            handleFor(i, Port::Paging, m_broadcast, d);
    }
}

void Fleet::handleFor(int index, Port port, UdpEndpoint* via, const Datagram& d)
{
    Member& m = m_members[size_t(index)];
    // The answer leaves from the address the request reached the element at; a paging answer
    // is a configuration reply and leaves from the configuration port.
    const quint32 from = m.listenIp;
    if (port == Port::Paging)
        via = m_options.bindAny ? m_shared[1] : m.own[1];
    const Outcome out = m.element->handle(port, d.data, nowMs());
    if (m_options.verbose)
        log(QStringLiteral("[%1 %2] %3:%4 -> :%5 %6%7")
                .arg(index)
                .arg(ipv4Text(from))
                .arg(ipv4Text(d.source))
                .arg(d.sourcePort)
                .arg(portNumber(port))
                .arg(out.what)
                .arg(out.reply
                         ? QStringLiteral(" (%1 bytes%2)")
                               .arg(out.reply->size())
                               .arg(out.delayMs ? QStringLiteral(", %1 ms late").arg(out.delayMs) : QString())
                         : QString()));
    const std::optional<QString> previousIp = out.previousIp;
    if (out.reply && out.delayMs > 0) {
        // A late element also moves late: its answer still leaves from the old address.
        QPointer<UdpEndpoint> guard(via);
        const QByteArray reply = *out.reply;
        QTimer::singleShot(out.delayMs, this, [this, index, guard, reply, d, from, previousIp] {
            if (guard)
                send(index, guard, reply, d, from);
            if (previousIp)
                moveElement(index, *previousIp);
        });
    } else {
        if (out.reply && port == Port::Measure && !previousIp) {
            m_outgoing.append({index, via, *out.reply, d, from});
            queueFlush();
        } else if (out.reply) {
            send(index, via, *out.reply, d, from);
        }
        if (previousIp)
            moveElement(index, *previousIp);
    }
    if (out.stateChanged)
        stateChanged();
    emit handled(index, port);
}

void Fleet::send(int index, UdpEndpoint* via, const QByteArray& reply, const Datagram& to, quint32 from)
{
    const Member& m = m_members[size_t(index)];
    QString error;
    if (!via->sendTo(reply, to.source, to.sourcePort, from, m.interfaceIndex, &error))
        log(QStringLiteral("[%1 %2] send to %3:%4 failed: %5")
                .arg(index)
                .arg(ipv4Text(from))
                .arg(ipv4Text(to.source))
                .arg(to.sourcePort)
                .arg(error));
}

void Fleet::moveElement(int index, const QString& oldIp)
{
    Member& m = m_members[size_t(index)];
    const ElementConfig& c = m.element->config();
    const quint32 newIp = ipv4FromText(c.ip);
    if (c.readdress != QLatin1String("move") || newIp == 0 || newIp == m.listenIp) {
        log(QStringLiteral("[%1] keeps listening at %2 (reports %3)")
                .arg(index)
                .arg(ipv4Text(m.listenIp), c.ip));
        return;
    }
    if (const auto other = m_byIp.constFind(newIp); other != m_byIp.cend() && *other != index) {
        log(QStringLiteral("[%1] cannot move to %2: element %3 is there").arg(index).arg(c.ip).arg(*other));
        return;
    }
    if (m.interfaceName.isEmpty()) {
        finishMove(index, newIp, false);
        return;
    }
    // Like a device that renumbers itself: the new address comes first, then the old one goes.
    // Deleting a primary address would take its secondaries with it unless they are promoted.
    const int newPrefix = prefixLength(c.mask) >= 0 ? prefixLength(c.mask) : m.prefix;
    QFile promote(QStringLiteral("/proc/sys/net/ipv4/conf/%1/promote_secondaries").arg(m.interfaceName));
    if (promote.open(QIODevice::WriteOnly))
        promote.write("1\n");
    auto* ip = new QProcess(this);
    const QString script = QStringLiteral("address add %1/%2 dev %3\naddress del %4/%5 dev %3\n")
                               .arg(c.ip)
                               .arg(newPrefix)
                               .arg(m.interfaceName, oldIp)
                               .arg(m.prefix);
    connect(
        ip, &QProcess::finished, this,
        [this, ip, index, newIp, newPrefix](int code, QProcess::ExitStatus status) {
            ip->deleteLater();
            if (status != QProcess::NormalExit || code != 0) {
                log(QStringLiteral("[%1] moving to %2 failed: %3")
                        .arg(index)
                        .arg(ipv4Text(newIp), QString::fromLocal8Bit(ip->readAllStandardError()).trimmed()));
                return;
            }
            m_members[size_t(index)].prefix = newPrefix;
            finishMove(index, newIp, true);
        });
    ip->start(QStringLiteral("ip"), {QStringLiteral("-batch"), QStringLiteral("-")});
    ip->write(script.toLatin1());
    ip->closeWriteChannel();
}

void Fleet::finishMove(int index, quint32 newIp, bool onInterface)
{
    Member& m = m_members[size_t(index)];
    if (!m_options.bindAny) {
        QString error;
        if (!bindOwn(index, newIp, &error)) {
            log(QStringLiteral("[%1] stays at %2: %3").arg(index).arg(ipv4Text(m.listenIp), error));
            return;
        }
    }
    m_byIp.remove(m.listenIp);
    m.listenIp = newIp;
    m_byIp.insert(newIp, index);
    log(QStringLiteral("[%1] now at %2%3")
            .arg(index)
            .arg(ipv4Text(newIp), onInterface ? QStringLiteral(" on ") + m.interfaceName : QString()));
    stateChanged();
    emit moved(index);
}

QJsonObject Fleet::stateJson() const
{
    QJsonArray list;
    for (int i = 0; i < size(); ++i) {
        const Member& m = m_members[size_t(i)];
        QJsonObject o = m.element->stateJson();
        o.insert(QStringLiteral("index"), i);
        o.insert(QStringLiteral("listen-ip"), ipv4Text(m.listenIp));
        o.insert(QStringLiteral("interface"), m.interfaceName);
        o.insert(QStringLiteral("mac"), m.mac);
        list.append(o);
    }
    QJsonObject root;
    root.insert(QStringLiteral("pid"), qint64(::getpid()));
    root.insert(QStringLiteral("elements"), list);
    return root;
}

bool Fleet::writeState(QString* error)
{
    if (m_options.stateFile.isEmpty())
        return true;
    QSaveFile file(m_options.stateFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(stateJson()).toJson()) < 0 ||
        !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(m_options.stateFile, file.errorString());
        return false;
    }
    return true;
}

void Fleet::stateChanged()
{
    m_stateDirty = true;
    queueFlush();
}

void Fleet::queueFlush()
{
    if (m_flushQueued)
        return;
    m_flushQueued = true;
    QTimer::singleShot(0, this, &Fleet::flushBurst);
}

void Fleet::flushBurst()
{
    m_flushQueued = false;
    if (std::exchange(m_stateDirty, false)) {
        QString error;
        if (!writeState(&error))
            log(error);
    }
    for (const Outgoing& o : std::exchange(m_outgoing, {}))
        if (o.via)
            send(o.index, o.via, o.reply, o.to, o.from);
}

void Fleet::log(const QString& line) const
{
    const QByteArray text =
        QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")).toLocal8Bit() +
        line.toLocal8Bit() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

} // namespace vexo::sim
