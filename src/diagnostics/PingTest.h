#pragma once

#include "platform/WidgetColours.h"

#include "platform/Icmp.h"

#include <QColor>
#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QLineEdit;
class QPushButton;

namespace vexo {

class MessageBoxes;

inline const QByteArray kPingData = QByteArrayLiteral("hello");
constexpr int kPingTimeoutMs = 3000;

// Text of an IP status value; used only to tell success from failure, never shown.
QString icmpStatusText(qint32 status);

bool socketsStartup(Icmp& icmp);
void socketsCleanup(Icmp& icmp);

// One echo with the data "hello" and a 3000 ms time-out to the dotted address. Returns the
// status of the reply (reply filled in), or -1 when no echo could be sent: the text is no
// address, is 0.0.0.0 or the all-ones address, or no ICMP facility could be opened. Blocks.
qint32 pingHost(Icmp& icmp, const QString& ip, Icmp::Reply& reply);

// The "Ping:" test of the selected element. The echo is awaited on a worker thread, so the window
// keeps painting and handling datagrams and timers for the up to 3 s an echo may take; the
// outcome is applied on the GUI thread.
class PingTest : public QObject
{
    Q_OBJECT
public:
    PingTest(Icmp& icmp, MessageBoxes& boxes, QPushButton* cmdPing, QLineEdit* txtElementIP,
             std::function<QString()> selectedMac, QObject* parent = nullptr);
    ~PingTest() override;

    // cmdPing click: light yellow "Trying...", then pingElement(text). Ignored while a test runs.
    void onClicked();
    void pingElement(const QString& ip);
    bool busy() const { return m_busy; }

signals:
    // After a click was dealt with: the outcome applied, dropped (another element was loaded
    // meanwhile) or not to be had (invalid address: the button keeps "Trying...").
    void finished();

private:
    void applyOutcome();

    Icmp& m_icmp;
    MessageBoxes& m_boxes;
    QPointer<QPushButton> m_cmdPing;
    QPointer<QLineEdit> m_txtElementIP;
    std::function<QString()> m_selectedMac;
    QFutureWatcher<Icmp::Reply> m_watcher;
    QString m_macAtStart;
    bool m_busy = false;
};

} // namespace vexo
