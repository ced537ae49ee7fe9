#include "Discovery.h"

#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "link/ReplyHandler.h"
#include "store/ElementStore.h"

#include <QTimer>

namespace vexo {

namespace {
const SystemNetworkInterfaces kSystemInterfaces;
} // namespace

Discovery::Discovery(ConfigLink& link, const ElementStore& store, ReplyHandler& handler, QObject* parent)
    : QObject(parent), m_link(link), m_store(store), m_handler(handler), m_timer(new QTimer(this)),
      m_interfaces(&kSystemInterfaces)
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

QString Discovery::noInterfaceText() const
{
    const QString which =
        m_interfaceNames.isEmpty()
            ? QStringLiteral("No network interface can send the paging request: none is up with an IPv4 "
                             "address and able to broadcast (loopback does not count).")
            : QStringLiteral("No network interface can send the paging request: %1 is not up with an "
                             "IPv4 address and able to broadcast.")
                  .arg(m_interfaceNames.join(QStringLiteral(", ")));
    return which + QStringLiteral("\rNo element was paged; the local database was left as it was.");
}

QString Discovery::nothingAnsweredText() const
{
    return QStringLiteral("No element answered the paging request on %1.").arg(describeInterfaces(m_paged));
}

bool Discovery::start(int waitMs)
{
    m_running = true;
    m_result = {};
    m_handler.resetDiscoveredCount();
    m_paged = selectInterfaces(m_interfaces->pagingInterfaces(), m_interfaceNames);
    if (m_paged.isEmpty()) {
        // Paging nowhere would end in an empty store that reads like "no element is there":
        // the store keeps what it had and the operator learns why nothing was paged.
        m_result.noInterface = true;
        emit problem(DiscoveryProblem::NoInterface, {});
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_running = false;
                emit awaitingEnded();
                emit finished(0);
            },
            Qt::QueuedConnection);
        return false;
    }
    emit aboutToEmptyStore();
    if (!m_store.clear()) {
        m_result.storeNotCreated = true;
        emit problem(DiscoveryProblem::StoreNotCreated, {});
    }
    m_savedPort = m_link.remotePort();
    m_savedHost = m_link.remoteHost();
    m_link.setRemote(QStringLiteral("255.255.255.255"), kPagingPort);
    m_timer->start(waitMs);
    m_awaiting = true;
    m_link.setDiscoveryAwaiting(true);
    m_result.paging = m_link.sendPaging(m_paged);
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
