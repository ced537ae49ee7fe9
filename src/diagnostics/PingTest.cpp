#include "PingTest.h"

#include "platform/Arp.h"
#include "store/ElementStore.h"

#include <QtConcurrent/QtConcurrentRun>

namespace vexo {

QString icmpStatusText(qint32 status)
{
    switch (status) {
    case ipstatus::Success:
        return QStringLiteral("Success!");
    case ipstatus::BufTooSmall:
        return QStringLiteral("Buffer Too Small");
    case ipstatus::DestNetUnreachable:
        return QStringLiteral("Destination Net Unreachable");
    case ipstatus::DestHostUnreachable:
        return QStringLiteral("Destination Host Unreachable");
    case ipstatus::DestProtUnreachable:
        return QStringLiteral("Destination Protocol Unreachable");
    case ipstatus::DestPortUnreachable:
        return QStringLiteral("Destination Port Unreachable");
    case ipstatus::NoResources:
        return QStringLiteral("No Resources");
    case ipstatus::BadOption:
        return QStringLiteral("Bad Option");
    case ipstatus::HwError:
        return QStringLiteral("Hardware Error");
    case ipstatus::PacketTooBig:
        return QStringLiteral("Packet Too Big");
    case ipstatus::RequestTimedOut:
        return QStringLiteral("Request Timed Out");
    case ipstatus::BadRequest:
        return QStringLiteral("Bad Request");
    case ipstatus::BadRoute:
        return QStringLiteral("Bad Route");
    case ipstatus::TtlExpiredTransit:
        return QStringLiteral("TimeToLive Expired Transit");
    case ipstatus::TtlExpiredReassembly:
        return QStringLiteral("TimeToLive Expired Reassembly");
    case ipstatus::ParamProblem:
        return QStringLiteral("Parameter Problem");
    case ipstatus::SourceQuench:
        return QStringLiteral("Source Quench");
    case ipstatus::OptionTooBig:
        return QStringLiteral("Option Too Big");
    case ipstatus::BadDestination:
        return QStringLiteral("Bad Destination");
    case ipstatus::NegotiatingIpsec:
        return QStringLiteral("Negotiating IPSEC");
    case ipstatus::GeneralFailure:
        return QStringLiteral("General Failure");
    default:
        return QStringLiteral("Unknown Response");
    }
}

bool socketsStartup(Icmp& icmp)
{
    return icmp.startup();
}

void socketsCleanup(Icmp& icmp)
{
    icmp.cleanup();
}

qint32 pingHost(Icmp& icmp, const QString& ip, Icmp::Reply& reply, int timeoutMs)
{
    quint32 address = 0;
    if (!parseIPv4(ip, address) || address == 0 || address == 0xFFFFFFFFu) {
        reply = Icmp::Reply{};
        return -1;
    }
    reply = icmp.echo(address, kPingData, timeoutMs);
    return reply.status;
}

PingOutcome pingAddress(Icmp& icmp, const QString& ip, int timeoutMs)
{
    PingOutcome o;
    o.ip = ip;
    if (ip.trimmed().isEmpty())
        o.result = PingOutcome::Result::NoAddress;
    else if (!isValidIp(ip))
        o.result = PingOutcome::Result::InvalidAddress;
    else if (!socketsStartup(icmp))
        o.result = PingOutcome::Result::NoIcmp;
    if (o.result != PingOutcome::Result::Failed)
        return o;
    Icmp::Reply reply;
    o.status = pingHost(icmp, ip, reply, timeoutMs);
    socketsCleanup(icmp);
    if (icmpStatusText(o.status) == QLatin1String("Success!")) {
        o.result = PingOutcome::Result::Replied;
        o.roundTripMs = reply.roundTripMs;
    }
    return o;
}

PingTest::PingTest(Icmp& icmp, QObject* parent) : QObject(parent), m_icmp(icmp) {}

PingTest::~PingTest()
{
    // The workers use the ICMP facility, which its owner may destroy right after us.
    for (QFutureWatcher<PingOutcome>* w : std::as_const(m_running)) {
        w->disconnect(this);
        w->waitForFinished();
    }
}

void PingTest::start(const QString& mac, const QString& ip, Done done, int timeoutMs)
{
    auto* watcher = new QFutureWatcher<PingOutcome>(this);
    m_running.append(watcher);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, mac, done = std::move(done)] {
        m_running.removeOne(watcher);
        watcher->deleteLater();
        PingOutcome o = watcher->result();
        o.mac = mac;
        if (done)
            done(o);
    });
    Icmp* icmp = &m_icmp;
    watcher->setFuture(
        QtConcurrent::run([icmp, ip, timeoutMs] { return pingAddress(*icmp, ip, timeoutMs); }));
}

} // namespace vexo
