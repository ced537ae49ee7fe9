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
    explicit AdjustSession(const MeasureServices& services, QObject* parent = nullptr);

    // Takes the stored delay, servo and automatic clear, binds and asks for the first record.
    bool open() override;
    // Writes `dly` and `srv` after a Set (and reminds the operator to save), then releases the port.
    void close() override;

    void refresh() override;
    // Asks the operator first; sends nothing on No.
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
    void autoServoChanged(bool on);
    void autoServoCaptionChanged(const QString& caption);
    void autoRefreshChanged(bool on);
    void autoClearChanged(bool on);
    // A record arrived: the fixed latencies apply always, the rest only when it reached the
    // controls (an SFN decoder), up to a failure.
    void latencyReceived(const vexo::AdjustOutcome& outcome);
    // The store could not take `dly`/`srv` at closing (the operator has been told).
    void saveFailed();

private:
    void applyRecord(const QByteArray& datagram) override;
    void beforeSendFailureShown() override;
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
