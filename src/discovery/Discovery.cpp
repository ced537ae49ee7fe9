#include "Discovery.h"

#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "link/ReplyHandler.h"
#include "store/ElementStore.h"

#include <QTimer>

namespace vexo {

Discovery::Discovery(ConfigLink& link, const ElementStore& store, ReplyHandler& handler, QObject* parent)
    : QObject(parent), m_link(link), m_store(store), m_handler(handler), m_timer(new QTimer(this))
{
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early: the elements get their full three seconds.
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &Discovery::finish);
    connect(&m_handler, &ReplyHandler::elementsDiscovered, this, [this](int count) {
        if (m_running)
            emit progress(count);
    });
    connect(&m_handler, &ReplyHandler::discoveredStoreFailed, this, [this] {
        m_result.storeWriteFailed = true;
        emit problem(DiscoveryProblem::StoreWriteFailed, {});
    });
}

int Discovery::answered() const
{
    return m_handler.discoveredCount();
}

bool Discovery::start(int waitMs)
{
    m_running = true;
    m_result = {};
    if (!m_store.clear()) {
        m_result.storeNotCreated = true;
        emit problem(DiscoveryProblem::StoreNotCreated, {});
    }
    m_savedPort = m_link.remotePort();
    m_savedHost = m_link.remoteHost();
    m_link.setRemote(QStringLiteral("255.255.255.255"), kPagingPort);
    m_handler.resetDiscoveredCount();
    m_timer->start(waitMs);
    m_awaiting = true;
    m_link.setDiscoveryAwaiting(true);
    m_result.paging = m_link.sendPaging();
    if (m_result.paging)
        emit problem(DiscoveryProblem::PagingNotSent, m_result.paging);
    return !m_result.paging;
}

void Discovery::finish()
{
    if (!m_awaiting)
        return;
    m_awaiting = false;
    m_timer->stop();
    m_link.setRemote(m_savedHost, m_savedPort);
    m_link.setDiscoveryAwaiting(false);
    emit awaitingEnded();
    // Replies that arrived in time but still wait in the queue are discovery replies all the
    // same; the discovery ends once the last of them is stored.
    if (m_link.queuedReplies() == 0 && !m_link.isDispatching()) {
        onStoreIdle();
        return;
    }
    m_idle = connect(&m_link, &ConfigLink::replyQueueIdle, this, &Discovery::onStoreIdle);
}

void Discovery::onStoreIdle()
{
    disconnect(m_idle);
    m_handler.flushDiscovered();
    m_running = false;
    m_result.stored = m_handler.discoveredCount();
    emit finished(m_result.stored);
}

} // namespace vexo
