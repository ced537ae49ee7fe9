#pragma once

#include "MeasureArithmetic.h"
#include "MeasureSession.h"

class QTimer;

namespace vexo {

// The latency an SFN decoder measures and its compensation: the additional delay (in scroll
// positions of 100 ns), the auto servo, auto refresh every second ("GetDel") and the automatic
// clear 250 ms after a Set. Only a datagram of exactly 61 bytes is a record.
//
// The setters act like the window's controls: each runs only when the value changes, and
// changing the delay, the servo or the automatic clear switches auto refresh off, whether the
// operator or a record makes the change.
class AdjustSession : public MeasureSession
{
    Q_OBJECT
public:
    static constexpr int kRetrievalError = 4;

    // What closing did with the settings of a Set.
    enum class Closing
    {
        NothingPending, // no Set during the session: nothing written
        Stored,         // `dly` and `srv` hold the state at closing
        StoreFailed,    // they could not be written
    };

    explicit AdjustSession(const MeasureServices& services, QObject* parent = nullptr);

    // Takes the stored delay, servo and automatic clear, holds the port and asks for the first
    // record.
    bool open() override;
    void close() override;
    // Ends the session, writing `dly` and `srv` after a Set.
    Closing closeAndStore();

    void refresh() override;
    // Switches auto refresh off; the window then asks the operator and calls resetCounters().
    void prepareReset() { setAutoRefresh(false); }
    void resetCounters() override;
    // Sends the delay and servo to the element.
    void set();

    void setDelayPosition(int position);
    void setAutoServo(bool on);
    void setAutoRefresh(bool on);
    void setAutoClear(bool on);

    int delayPosition() const { return m_position; }
    qint32 additionalDelayNs() const { return m_position * kNsPerDelayPosition; }
    bool autoServo() const { return m_autoServo; }
    bool autoRefresh() const { return m_autoRefresh; }
    bool autoClear() const { return m_autoClear; }
    bool pendingSave() const { return m_pendingSave; }

    // Timer2 drives auto refresh, Timer1 the automatic clear.
    QTimer* refreshTimer() const { return m_timer2; }
    QTimer* clearTimer() const { return m_timer1; }

signals:
    void delayChanged(int position, qint32 additionalDelayNs);
    // Set sent the delay position and servo (or could not: the problem), after sendFailed().
    void delaySent(int position, bool autoServo, const vexo::SendProblem& problem);
    void autoServoChanged(bool on);
    void autoRefreshChanged(bool on);
    void autoClearChanged(bool on);
    // A record arrived: the fixed latencies apply always, the rest only for an SFN decoder, up
    // to a failure. The controls have already followed it.
    void latencyReceived(const vexo::LatencyReading& reading);

private:
    void applyRecord(const QByteArray& datagram) override;
    void beforeSendFailureReported() override;
    void onRefreshTick();
    void onClearTick();

    QTimer* m_timer1;
    QTimer* m_timer2;
    int m_position = 0;
    bool m_autoServo = false;
    bool m_autoRefresh = false;
    bool m_autoClear = false;
    bool m_pendingSave = false;
};

} // namespace vexo

Q_DECLARE_METATYPE(vexo::LatencyReading)
