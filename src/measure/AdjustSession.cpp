#include "AdjustSession.h"

#include "platform/UserSettings.h"
#include "store/ElementStore.h"

#include <QTimer>

#include <algorithm>

namespace vexo {

namespace {

const QString kAutoClearCounters = QStringLiteral("AutoClearCounters");

QString flagText(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

AdjustSession::AdjustSession(const MeasureServices& services, QObject* parent)
    : MeasureSession(services, parent), m_timer1(new QTimer(this)), m_timer2(new QTimer(this))
{
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(250);
    m_timer2->setObjectName(QStringLiteral("Timer2"));
    m_timer2->setInterval(1000);
    connect(m_timer1, &QTimer::timeout, this, [this] { onClearTick(); });
    connect(m_timer2, &QTimer::timeout, this, [this] { onRefreshTick(); });
}

bool AdjustSession::open()
{
    m_pendingSave = false;
    m_timer1->stop();
    m_timer2->stop();
    // Stored values outside their range: a delay is clamped to the scroll range (anything that
    // is not a whole number counts as 0); a flag is on only for "1". A stored state that differs
    // from the initial one acts as a change: it switches auto refresh off (it is off already)
    // and stores the same setting again.
    setAutoClear(storedFlag(m_services.settings.value(kAutoClearCounters, QStringLiteral("0"))));
    setDelayPosition(storedDelayPosition(stored(keys::dly)));
    setAutoServo(storedFlag(stored(keys::srv)));
    emit delayChanged(m_position, additionalDelayNs());
    return openWith(kGetDel);
}

void AdjustSession::close()
{
    m_timer1->stop();
    m_timer2->stop();
    MeasureSession::close();
}

AdjustSession::Closing AdjustSession::closeAndStore()
{
    Closing closing = Closing::NothingPending;
    if (m_pendingSave) {
        m_pendingSave = false;
        const QString& mac = m_services.mac;
        // Without an element there is no section to write to (an empty section name would put
        // the keys where no element is).
        const bool written = !encodeMac(mac).isEmpty() &&
                             m_services.store.write(mac, keys::dly, QString::number(m_position)) &&
                             m_services.store.write(mac, keys::srv, flagText(m_autoServo));
        closing = written ? Closing::Stored : Closing::StoreFailed;
    }
    close();
    return closing;
}

void AdjustSession::refresh()
{
    sendOrReport(kGetDel);
}

void AdjustSession::resetCounters()
{
    setAutoRefresh(false);
    sendReset();
}

void AdjustSession::set()
{
    setAutoRefresh(false);
    const SendProblem problem = sendAndReport(buildSetDelayRequest(additionalDelayNs(), m_autoServo));
    emit delaySent(m_position, m_autoServo, problem);
    if (problem)
        return; // nothing reached the element: nothing to clear, nothing to remind of
    if (m_autoClear)
        m_timer1->start();
    m_pendingSave = true;
}

void AdjustSession::setDelayPosition(int position)
{
    position = std::clamp(position, kDelayPositionMin, kDelayPositionMax);
    if (position == m_position)
        return;
    m_position = position;
    setAutoRefresh(false);
    emit delayChanged(m_position, additionalDelayNs());
}

void AdjustSession::setAutoServo(bool on)
{
    if (on == m_autoServo)
        return;
    m_autoServo = on;
    setAutoRefresh(false);
    emit autoServoChanged(on);
}

void AdjustSession::setAutoRefresh(bool on)
{
    // Timer2 runs exactly while auto refresh is on.
    if (!on)
        m_timer2->stop();
    if (on == m_autoRefresh)
        return;
    m_autoRefresh = on;
    if (on)
        m_timer2->start();
    emit autoRefreshChanged(on);
}

void AdjustSession::setAutoClear(bool on)
{
    if (on == m_autoClear)
        return;
    m_autoClear = on;
    setAutoRefresh(false);
    m_services.settings.setValue(kAutoClearCounters, flagText(on));
    emit autoClearChanged(on);
}

void AdjustSession::beforeSendFailureReported()
{
    // Auto refresh stops so that the message is not repeated every second.
    setAutoRefresh(false);
}

void AdjustSession::onRefreshTick()
{
    if (m_autoRefresh)
        refresh();
}

void AdjustSession::onClearTick()
{
    m_timer1->stop();
    sendReset();
}

void AdjustSession::applyRecord(const QByteArray& datagram)
{
    if (!adjustAcceptsLength(datagram.size()))
        return;
    const LatencyReading reading =
        latencyArithmetic(decodeMeasurementRecord(datagram), stored(keys::sfn), m_services.role);
    if (reading.sfnDecoder) {
        // A changed position or servo state acts as a change and ends auto refresh.
        setDelayPosition(reading.scrollPosition);
        setAutoServo(reading.autoServo);
    }
    emit latencyReceived(reading);
}

} // namespace vexo
