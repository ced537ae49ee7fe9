#include "MeasurePort.h"

#include "MeasureCodec.h"
#include "platform/Numbers.h"
#include "store/ElementStore.h"

#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QSocketNotifier>
#include <QUdpSocket>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vexo {

quint32 measureAddressOf(const QString& ip)
{
    quint32 address = 0;
    if (!isValidIp(ip) || !parseIPv4(ip.trimmed(), address))
        return 0;
    return address;
}

MeasurePort::MeasurePort(QHostAddress bindAddress, QObject* parent)
    : QObject(parent), m_socket(new QUdpSocket(this)), m_bindAddress(std::move(bindAddress))
{
    m_socket->setObjectName(QStringLiteral("udpMeasure"));
    // Elements sit on the local network: no proxy applies.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    connect(m_socket, &QUdpSocket::readyRead, this, &MeasurePort::readPending);
}

MeasurePort::~MeasurePort()
{
    m_socket->close();
}

bool MeasurePort::acquire()
{
    if (m_holders > 0) {
        ++m_holders;
        return true;
    }
    if (!m_socket->bind(m_bindAddress, kMeasurePort, QAbstractSocket::DontShareAddress))
        return false;
    m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBufferBytes);
    m_writable = new QSocketNotifier(m_socket->socketDescriptor(), QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, &MeasurePort::flushOutbox);
    m_holders = 1;
    return true;
}

void MeasurePort::release()
{
    if (m_holders == 0)
        return;
    if (--m_holders == 0) {
        // The notifier goes before the descriptor it watches.
        delete m_writable;
        m_writable = nullptr;
        m_outbox.clear();
        m_inOutbox.clear();
        m_socket->close();
        m_pending.clear();
    }
}

bool MeasurePort::isBound() const
{
    return m_socket->state() == QAbstractSocket::BoundState;
}

SendProblem MeasurePort::send(const QString& storedIp, const QByteArray& request)
{
    if (!isBound())
        return {SendFailure::PortBusy, QStringLiteral("The measurement port 2978 is not open.")};
    const QString ip = storedIp.trimmed();
    if (ip.isEmpty())
        return {SendFailure::NoAddress, QStringLiteral("No IP address is stored for this element.")};
    const quint32 address = measureAddressOf(ip);
    if (address == 0)
        return {SendFailure::InvalidAddress,
                QStringLiteral("The stored IP address \"%1\" is not valid.").arg(ip)};
    // Behind requests that wait, a request waits too: they leave in the order they were made.
    SendProblem problem;
    if (!m_outbox.isEmpty() || write(address, request, &problem) == Write::NoRoom) {
        if (!m_inOutbox.contains({address, request})) {
            m_outbox.append({address, request});
            m_inOutbox.insert({address, request});
        }
        m_writable->setEnabled(true);
    }
    return problem;
}

MeasurePort::Write MeasurePort::write(quint32 address, const QByteArray& request, SendProblem* problem)
{
    // Written on the descriptor itself: Qt reports a full send buffer as any other failure, and
    // only errno tells "no room yet" from "cannot be sent".
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kMeasurePort);
    to.sin_addr.s_addr = htonl(address);
    ssize_t sent;
    do {
        sent = ::sendto(int(m_socket->socketDescriptor()), request.constData(), size_t(request.size()), 0,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent == request.size())
        return Write::Sent;
    const int error = sent < 0 ? errno : EMSGSIZE;
    if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS)
        return Write::NoRoom;
    const bool unreachable = error == ENETUNREACH || error == EHOSTUNREACH;
    *problem = {unreachable ? SendFailure::Unreachable : SendFailure::DatagramRefused,
                QStringLiteral("Sending to %1 failed: %2")
                    .arg(QHostAddress(address).toString(), QString::fromLocal8Bit(std::strerror(error)))};
    return Write::Failed;
}

void MeasurePort::flushOutbox()
{
    while (!m_outbox.isEmpty()) {
        const auto& [address, request] = m_outbox.first();
        SendProblem problem;
        // A request that fails now has no one to tell: its exchange ends with its answer time.
        if (write(address, request, &problem) == Write::NoRoom)
            return;
        m_inOutbox.remove(m_outbox.first());
        m_outbox.removeFirst();
    }
    m_writable->setEnabled(false);
}

int MeasurePort::addReceiver(quint32 address, Receiver receiver)
{
    const int id = m_nextId++;
    m_receivers.insert(id, Entry{id, address, std::move(receiver)});
    m_byAddress[address].append(id);
    return id;
}

void MeasurePort::removeReceiver(int id)
{
    const auto it = m_receivers.find(id);
    if (it == m_receivers.end())
        return;
    QList<int>& ids = m_byAddress[it->address];
    ids.removeOne(id);
    if (ids.isEmpty())
        m_byAddress.remove(it->address);
    m_receivers.erase(it);
}

void MeasurePort::readPending()
{
    while (m_socket->hasPendingDatagrams()) {
        // One byte more than a record: a longer datagram is still seen as longer.
        const QNetworkDatagram d = m_socket->receiveDatagram(kMeasurementRecordSize + 1);
        if (!d.isValid())
            break;
        m_pending.append({d.senderAddress().toIPv4Address(), d.data()});
    }
    if (m_applying)
        return; // the loop below, further out, takes them
    m_applying = true;
    while (!m_pending.isEmpty()) {
        const auto [address, datagram] = m_pending.takeFirst();
        // A receiver may remove itself or another one: each is looked up when its turn comes.
        for (int id : m_byAddress.value(address)) {
            const auto it = m_receivers.constFind(id);
            if (it != m_receivers.constEnd()) {
                const Receiver receiver = it->receiver;
                receiver(datagram);
            }
        }
    }
    m_applying = false;
}

} // namespace vexo
