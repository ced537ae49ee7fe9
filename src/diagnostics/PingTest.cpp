#include "PingTest.h"

#include "platform/Arp.h"
#include "platform/MessageBoxes.h"
#include "platform/WidgetColours.h"
#include "store/ElementStore.h"

#include <QLineEdit>
#include <QPushButton>
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

qint32 pingHost(Icmp& icmp, const QString& ip, Icmp::Reply& reply)
{
    quint32 address = 0;
    if (!parseIPv4(ip, address) || address == 0 || address == 0xFFFFFFFFu) {
        reply = Icmp::Reply{};
        return -1;
    }
    reply = icmp.echo(address, kPingData, kPingTimeoutMs);
    return reply.status;
}

PingTest::PingTest(Icmp& icmp, MessageBoxes& boxes, QPushButton* cmdPing, QLineEdit* txtElementIP,
                   std::function<QString()> selectedMac, QObject* parent)
    : QObject(parent), m_icmp(icmp), m_boxes(boxes), m_cmdPing(cmdPing), m_txtElementIP(txtElementIP),
      m_selectedMac(std::move(selectedMac))
{
    connect(&m_watcher, &QFutureWatcherBase::finished, this, &PingTest::applyOutcome);
}

PingTest::~PingTest()
{
    // The worker uses the ICMP facility, which its owner may destroy right after us.
    m_watcher.disconnect(this);
    m_watcher.waitForFinished();
}

void PingTest::onClicked()
{
    // One test at a time: a click while an echo is awaited is ignored (the caption says
    // "Trying..." meanwhile). The button is not disabled, so that its enabled state stays the
    // one the element panel gives it.
    if (m_busy || !m_cmdPing)
        return;
    setButtonColour(m_cmdPing, kUntestedPingColour);
    m_cmdPing->setText(QStringLiteral("Trying..."));
    pingElement(m_txtElementIP ? m_txtElementIP->text() : QString());
}

void PingTest::pingElement(const QString& ip)
{
    if (m_busy)
        return;
    if (!isValidIp(ip)) {
        emit finished();
        return;
    }
    m_busy = true;
    if (!socketsStartup(m_icmp)) {
        m_boxes.critical(QStringLiteral("Ping failed"),
                         QStringLiteral("Windows Sockets not responding correctly."));
        if (m_cmdPing) {
            setButtonColour(m_cmdPing, kFailedColour);
            m_cmdPing->setText(QStringLiteral("No sockets!"));
        }
        m_busy = false;
        emit finished();
        return;
    }
    m_macAtStart = m_selectedMac ? m_selectedMac() : QString();
    Icmp* icmp = &m_icmp;
    m_watcher.setFuture(QtConcurrent::run([icmp, ip] {
        Icmp::Reply reply;
        reply.status = pingHost(*icmp, ip, reply);
        return reply;
    }));
}

void PingTest::applyOutcome()
{
    const Icmp::Reply reply = m_watcher.result();
    const QString macNow = m_selectedMac ? m_selectedMac() : QString();
    // Another element loaded meanwhile has its own idle button: this outcome is not about it.
    if (macNow == m_macAtStart && m_cmdPing) {
        if (icmpStatusText(reply.status) == QLatin1String("Success!")) {
            setButtonColour(m_cmdPing, kSuccessColour);
            m_cmdPing->setText(QString::number(reply.roundTripMs) + QStringLiteral(" ms"));
        } else {
            setButtonColour(m_cmdPing, kFailedColour);
            m_cmdPing->setText(QStringLiteral("Failed!"));
        }
    }
    socketsCleanup(m_icmp);
    m_busy = false;
    emit finished();
}

} // namespace vexo
