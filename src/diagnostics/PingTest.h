#pragma once

#include "platform/Icmp.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>

#include <functional>

namespace vexo {

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

// How one ping ended.
struct PingOutcome
{
    enum class Result
    {
        Replied,        // the echo came back after roundTripMs
        Failed,         // no echo came back: status says why (time-out, unreachable; -1: none sent)
        NoIcmp,         // no ICMP facility can be used on this machine
        NoAddress,      // no address to ping (nothing stored for the element)
        InvalidAddress, // the address is no dotted quad
    };
    Result result = Result::Failed;
    QString mac; // the element pinged (empty for an address alone)
    QString ip;  // the address as it was given
    qint32 status = -1;
    quint32 roundTripMs = 0;
};

// One echo to the dotted address, with its outcome. Blocks up to timeoutMs. 0.0.0.0 and the
// all-ones address are dotted quads but name no host: they fail without an echo.
PingOutcome pingAddress(Icmp& icmp, const QString& ip, int timeoutMs = kPingTimeoutMs);

// Pings awaited on worker threads, so that the station keeps handling datagrams and timers for
// the up to 3 s an echo may take; each outcome is handed over on the thread this object lives on.
// Several may run at once.
class PingTest : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(const PingOutcome&)>;

    explicit PingTest(Icmp& icmp, QObject* parent = nullptr);
    ~PingTest() override;

    void start(const QString& mac, const QString& ip, Done done, int timeoutMs = kPingTimeoutMs);
    int running() const { return int(m_running.size()); }

private:
    Icmp& m_icmp;
    QList<QFutureWatcher<PingOutcome>*> m_running;
};

} // namespace vexo
