#pragma once

#include "link/LinkOutcomes.h"
#include "platform/NetworkInterfaces.h"

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
    NoInterface,      // no network card can page: nothing was paged, the store was left as it was
};

// How a discovery ended.
struct DiscoveryResult
{
    int stored = 0; // elements of this discovery in the store
    bool storeNotCreated = false;
    bool storeWriteFailed = false;
    bool noInterface = false;
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

    // Empties the store and pages the network, one request out of every network card that can
    // broadcast (or of the cards named). False when the paging request could not be sent
    // (problem() has said why); the discovery still ends after the wait. When no card can page
    // at all, the store stays as it was and finished(0) follows from the event loop.
    bool start(int waitMs = kWaitMs);
    // Ends the wait now (a second call does nothing).
    void finish();

    bool isRunning() const { return m_running; }
    bool isAwaiting() const { return m_awaiting; }
    int answered() const;
    // The last discovery's result (complete once finished() was emitted).
    const DiscoveryResult& result() const { return m_result; }
    QTimer* timer() const { return m_timer; }

    // The cards to page by name; none: every card that can.
    void setInterfaceNames(const QStringList& names) { m_interfaceNames = names; }
    QStringList interfaceNames() const { return m_interfaceNames; }
    // Where the cards come from (tests give a list of their own).
    void setInterfaceSource(const NetworkInterfaces& source) { m_interfaces = &source; }
    // The cards the last discovery paged.
    QList<PagingInterface> pagedInterfaces() const { return m_paged; }
    // What the operator is told when no card can page, and when nothing answered.
    QString noInterfaceText() const;
    QString nothingAnsweredText() const;

signals:
    // The store is about to be emptied (nothing has been paged yet): the last moment to keep a
    // copy of it. Emitted synchronously from start().
    void aboutToEmptyStore();
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
    const NetworkInterfaces* m_interfaces;
    QStringList m_interfaceNames;
    QList<PagingInterface> m_paged;
};

} // namespace vexo
