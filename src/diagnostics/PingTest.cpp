#include "PingTest.h"

#include "platform/Arp.h"
#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"
#include "store/SelectedElement.h"

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

PingTest::PingTest(Icmp& icmp, MessageBoxes& boxes, const SelectedElement& selected, QObject* parent)
    : QObject(parent), m_icmp(icmp), m_boxes(boxes), m_selected(selected)
{
    connect(&m_watcher, &QFutureWatcherBase::finished, this, &PingTest::reportOutcome);
}

PingTest::~PingTest()
{
    // The worker uses the ICMP facility, which its owner may destroy right after us.
    m_watcher.disconnect(this);
    m_watcher.waitForFinished();
}

void PingTest::ping(const QString& ip)
{
    // One test at a time: a second request while an echo is awaited is ignored.
    if (m_busy)
        return;
    emit started();
    if (!isValidIp(ip)) {
        emit finished();
        return;
    }
    if (!socketsStartup(m_icmp)) {
        m_boxes.critical(QStringLiteral("Ping failed"),
                         QStringLiteral("Windows Sockets not responding correctly."));
        emit socketsUnavailable();
        emit finished();
        return;
    }
    m_busy = true;
    m_macAtStart = m_selected.mac();
    Icmp* icmp = &m_icmp;
    const int timeoutMs = m_timeoutMs;
    m_watcher.setFuture(QtConcurrent::run([icmp, ip, timeoutMs] {
        Icmp::Reply reply;
        reply.status = pingHost(*icmp, ip, reply, timeoutMs);
        return reply;
    }));
}

void PingTest::reportOutcome()
{
    const Icmp::Reply reply = m_watcher.result();
    socketsCleanup(m_icmp);
    m_busy = false;
    // Another element selected meanwhile shows its own idle state: this outcome is not about it.
    if (m_selected.mac() == m_macAtStart) {
        if (icmpStatusText(reply.status) == QLatin1String("Success!"))
            emit succeeded(int(reply.roundTripMs));
        else
            emit failed();
    }
    emit finished();
}

} // namespace vexo
