#pragma once

#include "LinkOutcomes.h"
#include "platform/FatalError.h"
#include "platform/NetworkInterfaces.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>

class QTimer;
class QUdpSocket;

namespace vexo {

// Where a datagram arriving on the configuration socket goes. Its length decides; a level reply
// then goes to the reading that waits for its sender.
enum class Route
{
    LevelMonitor,
    ConfigReply,
    Drop
};

inline constexpr qsizetype kLevelReplySize = 1440;
inline constexpr qsizetype kLevelRequestSize = 3;
// Everything from this length on (except a level reply) is no configuration reply.
inline constexpr qsizetype kMaxConfigReplyExclusive = 53;

// 1440 bytes: level monitor; fewer than 53 bytes except 3: configuration reply; else dropped.
Route routeDatagram(qsizetype length);

// A configuration reply waiting for the reply handler. `discovery` is whether discovery was
// awaiting replies when it arrived: a reply read during discovery stays a discovery reply even
// when it is handled after the discovery window has closed.
struct QueuedReply
{
    QByteArray datagram;
    bool discovery = false;
    quint64 sequence = 0; // arrival order, from 1
};

// The configuration socket `udpClient` (local UDP port 2976) with its reply time-out.
//
// The socket is bound to 2976 at start-up and stays bound until shutdown, so every datagram
// leaves from the port the elements answer to and no other program can take the port between
// two sends. Every send names its destination: the link knows no "selected element". Arrivals are routed by
// length; configuration replies are read at once into a bounded FIFO and handed to the reply handler one at a
// time: the next one only after the handler has said it is done with the last (replyHandled()). A handler
// that waits (a message box, the MAC lookup retries) therefore never sees a second reply before it has
// finished: replies that arrive meanwhile are only queued.
class ConfigLink : public QObject
{
    Q_OBJECT
public:
    // The queue holds at most this many replies; beyond it arrivals are dropped. Far more than
    // any number of elements answering one paging request.
    static constexpr int kMaxQueuedReplies = 10000;
    // What the socket asks the kernel for: room for a burst of 1000 replies with the kernel's
    // per-datagram overhead, with a wide margin.
    static constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;
    static constexpr int kRemoteSentIntervalMs = 3000;

    explicit ConfigLink(FatalError& fatal, QHostAddress bindAddress = QHostAddress::AnyIPv4,
                        QObject* parent = nullptr);
    ~ConfigLink() override;

    // Start-up bind to local port 2976. False on failure; the caller reports it.
    bool bindConfigPort();
    // Shutdown: the socket is closed, the timer stops.
    void close();

    // Sends one datagram to the element at the dotted `ip`, the given port, from local port
    // 2976. A message to 2976 is a ConfigRequest: `timerRemoteSent` starts just before it leaves
    // (and stops again when it does not leave). A socket that cannot be bound ends the program
    // through FatalError (PortBusy); every other problem is returned with its cause, and no timer
    // is left running.
    SendProblem sendTo(const QString& ip, const QByteArray& message, quint16 port);
    // The two-byte attenuation command to the element's port 2977.
    SendProblem sendAttenuation(const QString& ip, quint8 value);

    // The remote endpoint of the socket: where the last send went. Discovery saves it, points it
    // at the broadcast address for the paging request and puts it back.
    QString remoteHost() const { return m_remoteHost; }
    quint16 remotePort() const { return m_remotePort; }
    void setRemote(const QString& host, quint16 port);
    // Sends the paging request to the current remote endpoint from local port 2976, one copy
    // out of each of the interfaces, with that interface's own address as the source. A problem
    // names the interfaces whose copy did not leave.
    SendProblem sendPaging(const QList<PagingInterface>& interfaces);

    // Set by discovery while paging replies are awaited; recorded with each queued reply.
    bool discoveryAwaiting() const { return m_discoveryAwaiting; }
    void setDiscoveryAwaiting(bool awaiting) { m_discoveryAwaiting = awaiting; }

    // The handler takes one reply at a time and calls replyHandled() when it is done with it,
    // at once or later; no other reply is handed over in between.
    void setReplyHandler(std::function<void(const QueuedReply&)> handler);
    void replyHandled();
    // Whether a reply is with the handler now.
    bool isHandling() const { return m_handling; }
    // Sequence number of the last reply queued.
    quint64 lastSequence() const { return m_sequence; }
    int queuedReplies() const { return int(m_queue.size()); }
    // The replies waiting for the handler, oldest first.
    const std::deque<QueuedReply>& queued() const { return m_queue; }
    // Highest queue length seen, and replies refused because the queue was full.
    int peakQueuedReplies() const { return m_peakQueued; }
    quint64 droppedReplies() const { return m_droppedReplies; }
    bool isDispatching() const { return m_dispatching || m_handling; }

    // Takes one arrived datagram: the path of every datagram the socket reads. Level replies are
    // signalled with their sender, configuration replies of at least 40 bytes are queued and
    // dispatched, the rest is dropped.
    void acceptDatagram(const QByteArray& datagram, const QHostAddress& sender = QHostAddress());

    QUdpSocket* udpClient() const { return m_socket; }
    QTimer* timerRemoteSent() const { return m_timerRemoteSent; }
    // What the kernel granted for the receive buffer after the last bind (0 if not bound).
    int receiveBufferSize() const;

public slots:
    // The time-out of a configuration send, callable directly so a test need not wait.
    void onTimerRemoteSent();

signals:
    void levelReply(const QByteArray& datagram, const QHostAddress& sender);
    // No answer came within 3000 ms of a configuration send.
    void configReplyTimedOut();
    // The queue became empty after replies were handled.
    void replyQueueIdle();

private:
    bool bindSocket();
    SendProblem ensureBound();
    SendProblem sendDatagram(const QByteArray& message, const QString& prefix, bool paging);
    void enlargeReceiveBuffer();
    void readPending();
    void enqueue(const QByteArray& datagram);
    void dispatch();
    void scheduleDispatch();

    FatalError& m_fatal;
    QHostAddress m_bindAddress;

    QUdpSocket* m_socket;
    QTimer* m_timerRemoteSent;

    QString m_remoteHost;
    quint16 m_remotePort = 2976;

    std::function<void(const QueuedReply&)> m_handler;
    std::deque<QueuedReply> m_queue;
    bool m_dispatching = false;
    bool m_handling = false;
    bool m_discoveryAwaiting = false;
    quint64 m_sequence = 0;
    bool m_dispatchScheduled = false;
    int m_peakQueued = 0;
    quint64 m_droppedReplies = 0;
};

} // namespace vexo
