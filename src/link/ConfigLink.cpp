#include "ConfigLink.h"

#include "ConfigCodec.h"
#include "platform/Numbers.h"

#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace vexo {

namespace {

const QString kPortOccupied = QStringLiteral("Unable to use UDP port 2976: occupied.");
const QString kSendPrefix = QStringLiteral("Cannot send to the Network Element: ");
const QString kPagingPrefix = QStringLiteral("Cannot send the paging request: ");

// The text of a send error, with the system's own words when the socket layer has only a
// generic one ("Unable to send a datagram").
QString sendErrorCause(const QUdpSocket& socket, int savedErrno)
{
    const QString detail =
        savedErrno != 0 ? QStringLiteral("%1: %2").arg(socket.errorString(),
                                                       QString::fromLocal8Bit(std::strerror(savedErrno)))
                        : socket.errorString();
    if (savedErrno == ENETUNREACH || savedErrno == EHOSTUNREACH)
        return QStringLiteral("the network is unreachable (%1).").arg(detail);
    return QStringLiteral("the datagram could not be sent (%1).").arg(detail);
}

} // namespace

Route routeDatagram(qsizetype length)
{
    if (length == kLevelReplySize)
        return Route::LevelMonitor;
    if (length >= 0 && length < kMaxConfigReplyExclusive && length != kLevelRequestSize)
        return Route::ConfigReply;
    return Route::Drop;
}

ConfigLink::ConfigLink(FatalError& fatal, QHostAddress bindAddress, QObject* parent)
    : QObject(parent), m_fatal(fatal), m_bindAddress(std::move(bindAddress)), m_socket(new QUdpSocket(this)),
      m_timerRemoteSent(new QTimer(this))
{
    m_socket->setObjectName(QStringLiteral("udpClient"));
    // Elements sit on the local network: no proxy applies, and asking the system for one costs
    // more than the send itself.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    m_timerRemoteSent->setObjectName(QStringLiteral("timerRemoteSent"));
    m_timerRemoteSent->setInterval(kRemoteSentIntervalMs);
    m_timerRemoteSent->setSingleShot(true);
    m_timerRemoteSent->setTimerType(Qt::PreciseTimer);

    connect(m_socket, &QUdpSocket::readyRead, this, [this] { readPending(); });
    connect(m_timerRemoteSent, &QTimer::timeout, this, &ConfigLink::onTimerRemoteSent);

    // A fatal error elsewhere closes this socket before the program ends.
    QPointer<ConfigLink> self(this);
    m_fatal.addCleanup([self] {
        if (self)
            self->close();
    });
}

ConfigLink::~ConfigLink()
{
    m_socket->close();
}

bool ConfigLink::bindSocket()
{
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->close();
    // Exclusive bind: a second program holding 2976 must make this fail, not share the port.
    if (!m_socket->bind(m_bindAddress, kConfigPort, QAbstractSocket::DefaultForPlatform))
        return false;
    enlargeReceiveBuffer();
    return true;
}

void ConfigLink::enlargeReceiveBuffer()
{
    // All elements answer one paging request at nearly the same moment, and a reply handling
    // may keep the event loop busy for a while: the kernel has to hold the burst until it is
    // read. Linux caps SO_RCVBUF at net.core.rmem_max; a privileged process may go beyond it
    // with SO_RCVBUFFORCE, which simply fails (EPERM) otherwise.
    m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBufferBytes);
#ifdef SO_RCVBUFFORCE
    const qintptr fd = m_socket->socketDescriptor();
    if (fd >= 0) {
        const int bytes = kReceiveBufferBytes;
        (void)::setsockopt(int(fd), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
    }
#endif
}

int ConfigLink::receiveBufferSize() const
{
    if (m_socket->state() != QAbstractSocket::BoundState)
        return 0;
    return m_socket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
}

bool ConfigLink::bindConfigPort()
{
    return bindSocket();
}

void ConfigLink::close()
{
    m_timerRemoteSent->stop();
    m_socket->close();
}

SendProblem ConfigLink::ensureBound()
{
    // The socket stays bound from start-up to shutdown: closing it before a send would let
    // another program take 2976 in between. Only a socket that is not bound (yet) is bound here.
    if (m_socket->state() == QAbstractSocket::BoundState || bindSocket())
        return {};
    m_fatal.fail(kPortOccupied);
    return {SendFailure::PortBusy, kPortOccupied};
}

SendProblem ConfigLink::sendDatagram(const QByteArray& message, const QString& prefix, bool paging)
{
    // The stored text is dotted decimal, blanks around a part allowed: build the address from
    // the four numbers rather than hand the text to a parser with other rules.
    quint32 value = 0;
    if (!parseIPv4(m_remoteHost, value)) {
        if (m_remoteHost.trimmed().isEmpty())
            return {SendFailure::NoAddress,
                    prefix + (paging ? QStringLiteral("no destination address is set.")
                                     : QStringLiteral("no IP address is stored for it."))};
        return {SendFailure::InvalidAddress,
                prefix + (paging ? QStringLiteral("the destination address is not valid (%1).")
                                 : QStringLiteral("the IP address stored for it is not valid (%1)."))
                             .arg(m_remoteHost)};
    }
    errno = 0;
    const qint64 sent = m_socket->writeDatagram(message, QHostAddress(value), m_remotePort);
    const int savedErrno = errno;
    if (sent == message.size())
        return {};
    const int cause = sent < 0 ? savedErrno : 0;
    return {cause == ENETUNREACH || cause == EHOSTUNREACH ? SendFailure::Unreachable
                                                          : SendFailure::DatagramRefused,
            prefix + sendErrorCause(*m_socket, cause)};
}

SendProblem ConfigLink::sendTo(const QString& ip, const QByteArray& message, quint16 port)
{
    const bool configRequest = port == kConfigPort;
    // A new configuration send supersedes a pending one: nothing is awaited after it fails.
    if (configRequest)
        m_timerRemoteSent->stop();
    if (SendProblem bound = ensureBound())
        return bound;
    m_remotePort = port;
    m_remoteHost = ip;
    // Started just before the datagram leaves, stopped again if it does not.
    if (configRequest)
        m_timerRemoteSent->start();
    SendProblem problem = sendDatagram(message, kSendPrefix, false);
    if (problem && configRequest)
        m_timerRemoteSent->stop();
    return problem;
}

SendProblem ConfigLink::sendAttenuation(const QString& ip, quint8 value)
{
    return sendTo(ip, buildAttenuationMessage(value), kCommandPort);
}

void ConfigLink::setRemote(const QString& host, quint16 port)
{
    m_remoteHost = host;
    m_remotePort = port;
}

SendProblem ConfigLink::sendPaging(const QList<PagingInterface>& interfaces)
{
    // The request must leave from 2976, where the answers come back: never let the socket
    // layer pick a port for an unbound socket.
    if (SendProblem bound = ensureBound())
        return bound;
    quint32 destination = 0;
    if (!parseIPv4(m_remoteHost, destination))
        return sendDatagram(QByteArray(kPagingRequest, kPagingRequestSize), kPagingPrefix, true);
    // A broadcast to 255.255.255.255 leaves by the one interface the routing table picks for it;
    // the interface index and source address given with each copy (IP_PKTINFO) send it out of
    // every card instead, from the one socket bound to 2976 that all answers come back to.
    const QByteArray request(kPagingRequest, kPagingRequestSize);
    QStringList failures;
    bool unreachable = false;
    for (const PagingInterface& i : interfaces) {
        QNetworkDatagram datagram(request, QHostAddress(destination), m_remotePort);
        datagram.setSender(i.address);
        datagram.setInterfaceIndex(uint(i.index));
        errno = 0;
        const qint64 sent = m_socket->writeDatagram(datagram);
        const int cause = sent < 0 ? errno : 0;
        if (sent == request.size())
            continue;
        unreachable = unreachable || cause == ENETUNREACH || cause == EHOSTUNREACH;
        failures << QStringLiteral("on %1 (%2), %3")
                        .arg(i.name, i.address.toString(), sendErrorCause(*m_socket, cause));
    }
    if (failures.isEmpty())
        return {};
    return {unreachable ? SendFailure::Unreachable : SendFailure::DatagramRefused,
            kPagingPrefix + failures.join(QStringLiteral("; "))};
}

void ConfigLink::setReplyHandler(std::function<void(const QueuedReply&)> handler)
{
    m_handler = std::move(handler);
    if (m_handler && !m_queue.empty())
        scheduleDispatch();
}

void ConfigLink::readPending()
{
    // Every pending datagram is read at once; handling happens later, outside this signal
    // (the socket does not signal readyRead again while a readyRead slot is still running,
    // so a handler that waits inside it would stop all further reading).
    while (m_socket->hasPendingDatagrams()) {
        const qint64 size = m_socket->pendingDatagramSize();
        QByteArray datagram(qMax<qint64>(size, 0), Qt::Uninitialized);
        QHostAddress sender;
        const qint64 read = m_socket->readDatagram(datagram.data(), datagram.size(), &sender);
        if (read < 0)
            break; // e.g. an ICMP error reported on the socket; the notifier calls again
        datagram.truncate(read);
        acceptDatagram(datagram, sender);
    }
}

void ConfigLink::acceptDatagram(const QByteArray& datagram, const QHostAddress& sender)
{
    switch (routeDatagram(datagram.size())) {
    case Route::LevelMonitor:
        emit levelReply(datagram, sender);
        break;
    case Route::ConfigReply:
        // A reply shorter than 40 bytes carries no serial number: nothing in it can be checked
        // or stored, so it is dropped here and never reaches the reply handler.
        if (datagram.size() >= kMinConfigReplySize)
            enqueue(datagram);
        break;
    case Route::Drop:
        break;
    }
}

void ConfigLink::enqueue(const QByteArray& datagram)
{
    if (m_queue.size() >= size_t(kMaxQueuedReplies)) {
        ++m_droppedReplies;
        return;
    }
    m_queue.push_back(QueuedReply{datagram, m_discoveryAwaiting, ++m_sequence});
    m_peakQueued = qMax(m_peakQueued, int(m_queue.size()));
    scheduleDispatch();
}

void ConfigLink::scheduleDispatch()
{
    if (m_dispatchScheduled || m_dispatching)
        return;
    m_dispatchScheduled = true;
    QMetaObject::invokeMethod(this, &ConfigLink::dispatch, Qt::QueuedConnection);
}

void ConfigLink::dispatch()
{
    m_dispatchScheduled = false;
    if (m_dispatching || m_handling)
        return; // the loop below, or the handler's end, takes the new reply next
    if (!m_handler || m_queue.empty())
        return;
    m_dispatching = true;
    QPointer<ConfigLink> self(this);
    while (m_handler && !m_queue.empty() && !m_handling) {
        // The handler gets its own copy: nothing it holds changes while it waits.
        const QueuedReply reply = std::move(m_queue.front());
        m_queue.pop_front();
        m_handling = true;
        auto handler = m_handler;
        handler(reply);
        if (!self)
            return;
    }
    m_dispatching = false;
    if (!m_handling && m_queue.empty())
        emit replyQueueIdle();
}

void ConfigLink::replyHandled()
{
    m_handling = false;
    if (m_dispatching)
        return; // back in the loop of dispatch()
    if (!m_queue.empty())
        scheduleDispatch();
    else
        emit replyQueueIdle();
}

void ConfigLink::onTimerRemoteSent()
{
    m_timerRemoteSent->stop();
    emit configReplyTimedOut();
}

} // namespace vexo
