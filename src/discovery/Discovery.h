#pragma once

#include "platform/NetworkInterfaces.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QTimer;

namespace vexo {

class ConfigLink;
class ElementStore;
class MessageBoxes;
class ReplyHandler;

// "Discover elements": rebuilds the store from the elements that answer one paging request.
// start() empties the store, points the link at the broadcast address and pages, one copy out of
// every network card that can broadcast (or of the cards the operator named); every reply
// that arrives while the discovery awaits replies is stored as a new section. The wait ends
// after `Timer1` (3000 ms) or at once with finish(); finished() follows once the replies that
// arrived in time are stored.
class Discovery : public QObject
{
    Q_OBJECT
public:
    static constexpr int kWaitMs = 3000;

    Discovery(ConfigLink& link, const ElementStore& store, ReplyHandler& handler, MessageBoxes& boxes,
              QObject* parent = nullptr);

    // The operator's go-ahead: true for Yes.
    bool confirm();
    // Empties the store and pages the network. False when the paging request could not be
    // sent (the link has said why); the discovery still ends after the wait. When no card can
    // page at all, the operator is told so, the store stays as it was and finished(0) follows
    // from the event loop.
    bool start(int waitMs = kWaitMs);
    // Ends the wait now (a second call does nothing).
    void finish();

    bool isRunning() const { return m_running; }
    bool isAwaiting() const { return m_awaiting; }
    int answered() const;
    QTimer* timer() const { return m_timer; }

    // The cards to page on by name; empty (the default) for every card that can broadcast.
    void setInterfaceNames(const QStringList& names) { m_interfaceNames = names; }
    QStringList interfaceNames() const { return m_interfaceNames; }
    // Where the cards come from: the system's by default, a list of their own in tests.
    void setInterfaceSource(const NetworkInterfaces& source) { m_interfaces = &source; }
    // The cards the last start() paged on.
    QList<PagingInterface> pagedInterfaces() const { return m_paged; }

signals:
    // The store holds this many elements of this discovery so far.
    void progress(int stored);
    // The wait is over: no further replies count as discovery replies.
    void awaitingEnded();
    // Every reply that arrived in time has been stored.
    void finished(int stored);

private:
    void onStoreIdle();
    QString noInterfaceText() const;

    ConfigLink& m_link;
    const ElementStore& m_store;
    ReplyHandler& m_handler;
    MessageBoxes& m_boxes;
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
