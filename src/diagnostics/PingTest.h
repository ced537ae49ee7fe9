#pragma once

#include "platform/Icmp.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>

namespace vexo {

class MessageBoxes;
class SelectedElement;

inline const QByteArray kPingData = QByteArrayLiteral("hello");
constexpr int kPingTimeoutMs = 3000;

// Text of an IP status value; used only to tell success from failure, never shown.
QString icmpStatusText(qint32 status);

bool socketsStartup(Icmp& icmp);
void socketsCleanup(Icmp& icmp);

// One echo with the data "hello" and a 3000 ms time-out to the dotted address. Returns the
// status of the reply (reply filled in), or -1 when no echo could be sent: the text is no
// address, is 0.0.0.0 or the all-ones address, or no ICMP facility could be opened. Blocks.
// The exporter, polling a fleet, waits a shorter time.
qint32 pingHost(Icmp& icmp, const QString& ip, Icmp::Reply& reply, int timeoutMs = kPingTimeoutMs);

// The ping test of the selected element. The echo is awaited on a worker thread, so the station
// keeps handling datagrams and timers for the up to 3 s an echo may take; the outcome is reported
// on the thread the test lives on, unless another element was selected meanwhile.
class PingTest : public QObject
{
    Q_OBJECT
public:
    PingTest(Icmp& icmp, MessageBoxes& boxes, const SelectedElement& selected, QObject* parent = nullptr);
    ~PingTest() override;

    // Tests the address (the selected element's, as the operator sees it). Ignored while a test
    // runs. An address that is no dotted quad starts nothing after started().
    void ping(const QString& ip);
    bool busy() const { return m_busy; }
    // How long the echo is waited for (kPingTimeoutMs unless set).
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

signals:
    void started();
    void succeeded(int roundTripMs);
    void failed();
    // No ICMP facility could be used; the operator has been told.
    void socketsUnavailable();
    // The test is over: its outcome was reported, dropped (another element was selected
    // meanwhile) or not to be had (invalid address).
    void finished();

private:
    void reportOutcome();

    Icmp& m_icmp;
    MessageBoxes& m_boxes;
    const SelectedElement& m_selected;
    QFutureWatcher<Icmp::Reply> m_watcher;
    QString m_macAtStart;
    bool m_busy = false;
    int m_timeoutMs = kPingTimeoutMs;
};

} // namespace vexo
