#pragma once

#include "platform/SendProblem.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>

#include <functional>

class QSocketNotifier;
class QUdpSocket;

namespace vexo {

// The station's one measurement socket, local UDP port 2978. Every measurement user (the
// statistics and SFN windows, the command line, the exporter) goes through it: while anyone
// holds it, it stays bound; each arriving datagram goes to the receivers registered for its
// sender's address, so that several elements (and several users of one element) can be asked at
// the same time.
class MeasurePort : public QObject
{
    Q_OBJECT
public:
    using Receiver = std::function<void(const QByteArray&)>;
    // Room for a burst of records from a whole fleet polled at once.
    static constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

    explicit MeasurePort(QHostAddress bindAddress = QHostAddress::AnyIPv4, QObject* parent = nullptr);
    ~MeasurePort() override;

    // The first holder binds the port exclusively (another program on 2978 makes this fail, it
    // never shares the port); the last release closes it.
    bool acquire();
    void release();
    bool isBound() const;

    // One request to the element at the dotted address, port 2978. A request the socket has no
    // room for yet (its send buffer is full, e.g. of datagrams that wait for the neighbours' ARP
    // answers when a whole fleet is asked at once) is not a failure: it waits in the port's
    // outbox and leaves, in order, as soon as there is room.
    SendProblem send(const QString& ip, const QByteArray& request);
    // Requests still waiting for room in the socket.
    int waitingRequests() const { return int(m_outbox.size()); }

    // Datagrams from the address (IPv4, host order) go to the receiver, in arrival order, one
    // completely before the next, also when a receiver waits in a nested event loop.
    int addReceiver(quint32 address, Receiver receiver);
    void removeReceiver(int id);

private:
    enum class Write
    {
        Sent,
        NoRoom,
        Failed,
    };
    void readPending();
    Write write(quint32 address, const QByteArray& request, SendProblem* problem);
    void flushOutbox();

    struct Entry
    {
        int id;
        quint32 address;
        Receiver receiver;
    };
    QUdpSocket* m_socket;
    QHostAddress m_bindAddress;
    int m_holders = 0;
    int m_nextId = 1;
    QHash<quint32, QList<int>> m_byAddress;
    QHash<int, Entry> m_receivers;
    QList<std::pair<quint32, QByteArray>> m_pending;
    QSocketNotifier* m_writable = nullptr;
    QList<std::pair<quint32, QByteArray>> m_outbox;
    // A request asked again while its first copy still waits is not queued twice.
    QSet<std::pair<quint32, QByteArray>> m_inOutbox;
    bool m_applying = false;
};

// The IPv4 address of dotted text (host order); 0 when it is none.
quint32 measureAddressOf(const QString& ip);

} // namespace vexo
