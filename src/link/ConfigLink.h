#pragma once

#include "platform/FatalError.h"
#include "platform/MessageBoxes.h"
#include "store/ElementStore.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>

class QTimer;
class QUdpSocket;

namespace vexo {

// Where a datagram arriving on the configuration socket goes. Only its length decides.
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
};

// The configuration socket `udpClient` (local UDP port 2976) with its two timers.
//
// Every send to an element closes the socket and binds it again to 2976, so that each datagram
// leaves from the port the elements answer to. Arrivals are routed by length; configuration
// replies are read at once into a bounded FIFO and handed to the reply handler one at a time.
// A handler that keeps the event loop running (message boxes, MAC lookup retries) therefore
// never sees a second reply before it has returned: replies that arrive meanwhile are only
// queued, and the dispatch loop hands them over afterwards.
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
    static constexpr int kGetMacIntervalMs = 500;

    ConfigLink(MessageBoxes& boxes, FatalError& fatal, const ElementStore& store,
               std::function<QString()> selectedMac, QHostAddress bindAddress = QHostAddress::AnyIPv4,
               QObject* parent = nullptr);
    ~ConfigLink() override;

    // Start-up bind to local port 2976. False on failure; the caller reports it.
    bool bindConfigPort();
    // Shutdown: the socket is closed, the timers stop.
    void close();

    // Sends one datagram to the selected element's stored `ip` at the given port, from local
    // port 2976 (the socket is closed and bound again first). A message to 2976 is a
    // ConfigRequest: `timerRemoteSent` starts just before it leaves. A failure to bind 2976 ends
    // the program through FatalError; any other failure is reported with its cause, the station
    // goes on and no timer is left running. True when the datagram left.
    bool sendToSelected(const QByteArray& message, quint16 port);
    // The two-byte attenuation command to the selected element's port 2977.
    bool sendAttenuation(quint8 value);

    // The remote endpoint of the socket: where the last send went. Discovery saves it, points it
    // at the broadcast address for the paging request and puts it back.
    QString remoteHost() const { return m_remoteHost; }
    quint16 remotePort() const { return m_remotePort; }
    void setRemote(const QString& host, quint16 port);
    // Sends the paging request to the current remote endpoint from local port 2976.
    bool sendPaging();

    // Set by discovery while paging replies are awaited; recorded with each queued reply.
    bool AutoDiscoverAwaiting = false;

    void setReplyHandler(std::function<void(const QueuedReply&)> handler);
    int queuedReplies() const { return int(m_queue.size()); }
    // Highest queue length seen, and replies refused because the queue was full.
    int peakQueuedReplies() const { return m_peakQueued; }
    quint64 droppedReplies() const { return m_droppedReplies; }
    bool isDispatching() const { return m_dispatching; }

    // Takes one arrived datagram: the path of every datagram the socket reads. Level replies are
    // signalled, configuration replies of at least 40 bytes are queued and dispatched, the rest
    // is dropped.
    void acceptDatagram(const QByteArray& datagram);

    QUdpSocket* udpClient() const { return m_socket; }
    QTimer* timerRemoteSent() const { return m_timerRemoteSent; }
    QTimer* timerGetMAC() const { return m_timerGetMAC; }
    // What the kernel granted for the receive buffer after the last bind (0 if not bound).
    int receiveBufferSize() const;

    quint8 MacWaitTicks = 0;
    quint8 MacWaitLimit = 0;
    // For the reply handler: sets the limit and starts `timerGetMAC` unless it already runs
    // (a lookup that starts while an earlier one's wait runs gets what is left of it).
    void startMacWait(quint8 limit);

public slots:
    // The timer ticks, callable directly so a test need not wait for real time.
    void onTimerRemoteSent();
    void onTimerGetMAC();

signals:
    void levelReply(const QByteArray& datagram);
    // The queue became empty after replies were handled.
    void replyQueueIdle();

private:
    enum class BindOutcome
    {
        Bound,
        Failed
    };
    BindOutcome bindSocket();
    void enlargeReceiveBuffer();
    void readPending(bool postLevelReplies = false);
    void enqueue(const QByteArray& datagram);
    void dispatch();
    void scheduleDispatch();
    bool resolveDestination(QHostAddress& address);
    void reportSendFailure(const QString& cause);

    MessageBoxes& m_boxes;
    FatalError& m_fatal;
    const ElementStore& m_store;
    std::function<QString()> m_selectedMac;
    QHostAddress m_bindAddress;

    QUdpSocket* m_socket;
    QTimer* m_timerRemoteSent;
    QTimer* m_timerGetMAC;

    QString m_remoteHost;
    quint16 m_remotePort = 2976;

    std::function<void(const QueuedReply&)> m_handler;
    std::deque<QueuedReply> m_queue;
    bool m_dispatching = false;
    bool m_dispatchScheduled = false;
    int m_peakQueued = 0;
    quint64 m_droppedReplies = 0;
};

} // namespace vexo
