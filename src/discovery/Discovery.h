#pragma once

#include "link/LinkOutcomes.h"

#include <QObject>
#include <QString>

class QTimer;

namespace vexo {

class ConfigLink;
class ElementStore;
class ReplyHandler;

// What went wrong during a discovery, told when it happens.
enum class DiscoveryProblem
{
    StoreNotCreated,  // the store could not be emptied: no element can be stored
    StoreWriteFailed, // elements that answered could not be written
    PagingNotSent,    // the paging request did not leave (see the result's paging problem)
};

// How a discovery ended.
struct DiscoveryResult
{
    int stored = 0; // elements of this discovery in the store
    bool storeNotCreated = false;
    bool storeWriteFailed = false;
    SendProblem paging;
};

// "Discover elements": rebuilds the store from the elements that answer one paging request.
// start() empties the store, points the link at the broadcast address and pages; every reply
// that arrives while the discovery awaits replies is stored as a new section. The wait ends
// after `Timer1` (3000 ms) or at once with finish(); finished() follows once the replies that
// arrived in time are stored.
class Discovery : public QObject
{
    Q_OBJECT
public:
    static constexpr int kWaitMs = 3000;

    Discovery(ConfigLink& link, const ElementStore& store, ReplyHandler& handler, QObject* parent = nullptr);

    // Empties the store and pages the network. False when the paging request could not be
    // sent (problem() has said why); the discovery still ends after the wait.
    bool start(int waitMs = kWaitMs);
    // Ends the wait now (a second call does nothing).
    void finish();

    bool isRunning() const { return m_running; }
    bool isAwaiting() const { return m_awaiting; }
    int answered() const;
    // The last discovery's result (complete once finished() was emitted).
    const DiscoveryResult& result() const { return m_result; }
    QTimer* timer() const { return m_timer; }

signals:
    // The store holds this many elements of this discovery so far.
    void progress(int stored);
    // The wait is over: no further replies count as discovery replies.
    void awaitingEnded();
    // Every reply that arrived in time has been stored.
    void finished(int stored);
    // Something went wrong; the discovery goes on.
    void problem(vexo::DiscoveryProblem problem, const vexo::SendProblem& paging);

private:
    void onStoreIdle();

    ConfigLink& m_link;
    const ElementStore& m_store;
    ReplyHandler& m_handler;
    DiscoveryResult m_result;
    QTimer* m_timer;
    QString m_savedHost;
    quint16 m_savedPort = 0;
    bool m_running = false;
    bool m_awaiting = false;
    QMetaObject::Connection m_idle;
};

} // namespace vexo
