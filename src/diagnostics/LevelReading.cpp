#include "LevelReading.h"

#include "LevelMonitor.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "platform/Numbers.h"

#include <QTimer>

namespace vexo {

std::optional<double> LevelOutcome::dbfs() const
{
    if (peak <= 0)
        return std::nullopt;
    return 20.0 * log10Of(double(peak) / kFullScale);
}

LevelReading::LevelReading(ConfigLink& link, QString mac, QString ip, Done done, QObject* parent)
    : QObject(parent), m_link(link), m_mac(std::move(mac)), m_ip(std::move(ip)), m_done(std::move(done))
{
    parseIPv4(m_ip, m_address);
}

SendProblem LevelReading::send()
{
    return m_link.sendTo(m_ip, kLevelRequest, kCommandPort);
}

void LevelReading::resend()
{
    if (!m_finished)
        send();
}

void LevelReading::finish(LevelOutcome outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    outcome.mac = m_mac;
    if (m_done)
        m_done(outcome);
    if (m_deleteLater)
        deleteLater();
}

void LevelReading::cancel()
{
    m_finished = true;
    deleteLater();
}

LevelReadings::LevelReadings(ConfigLink& link, QObject* parent)
    : QObject(parent), m_link(link), m_answerTime(new QTimer(this))
{
    m_clock.start();
    m_answerTime->setSingleShot(true);
    connect(m_answerTime, &QTimer::timeout, this, &LevelReadings::endOverdue);
    connect(&m_link, &ConfigLink::levelReply, this, &LevelReadings::onLevelReply);
}

LevelReading* LevelReadings::start(const QString& mac, const QString& ip, LevelReading::Done done,
                                   int answerMs)
{
    auto* reading = new LevelReading(m_link, mac, ip, std::move(done), this);
    LevelOutcome outcome;
    if ((outcome.problem = reading->send())) {
        outcome.result = LevelOutcome::Result::SendFailed;
        reading->finish(outcome);
        return reading;
    }
    // Readings of the element that ended unanswered are forgotten here, so that an element that
    // never answers does not make the list grow.
    QList<QPointer<LevelReading>>& readings = m_waiting[reading->address()];
    readings.removeIf([](const QPointer<LevelReading>& r) { return !r || r->isFinished(); });
    readings.append(reading);
    reading->m_deadline = m_clock.elapsed() + std::max(0, answerMs);
    // The timer already runs for an earlier end, as it does for every reading but the first of
    // a steady poll.
    if (!m_answerTime->isActive() || reading->m_deadline < m_nextDeadline)
        waitUntil(reading->m_deadline);
    return reading;
}

void LevelReadings::waitUntil(qint64 deadline)
{
    m_nextDeadline = deadline;
    m_answerTime->start(int(std::max<qint64>(0, deadline - m_clock.elapsed())));
}

void LevelReadings::endOverdue()
{
    const qint64 now = m_clock.elapsed();
    QList<QPointer<LevelReading>> overdue;
    std::optional<qint64> next;
    for (const auto& readings : std::as_const(m_waiting)) {
        for (const QPointer<LevelReading>& r : readings) {
            if (!r || r->isFinished())
                continue;
            if (r->m_deadline <= now)
                overdue << r;
            else
                next = std::min(next.value_or(r->m_deadline), r->m_deadline);
        }
    }
    if (next)
        waitUntil(*next);
    // Last: a caller told of the end may start the next reading at once.
    for (const QPointer<LevelReading>& r : std::as_const(overdue)) {
        if (r)
            r->finish({});
    }
}

int LevelReadings::waiting() const
{
    int count = 0;
    for (const auto& readings : m_waiting) {
        for (const QPointer<LevelReading>& r : readings)
            count += r && !r->isFinished();
    }
    return count;
}

void LevelReadings::onLevelReply(const QByteArray& datagram, const QHostAddress& sender)
{
    bool ok = false;
    const quint32 address = sender.toIPv4Address(&ok);
    const auto it = m_waiting.find(address);
    if (!ok || it == m_waiting.end())
        return;
    QList<QPointer<LevelReading>>& readings = *it;
    // Readings that ended meanwhile (their answer time, a caller's end) are passed over.
    while (!readings.isEmpty() && (!readings.first() || readings.first()->isFinished()))
        readings.removeFirst();
    if (readings.isEmpty()) {
        m_waiting.erase(it);
        return;
    }
    QPointer<LevelReading> reading = readings.takeFirst();
    if (readings.isEmpty())
        m_waiting.erase(it);
    LevelOutcome outcome;
    outcome.result = LevelOutcome::Result::Reading;
    outcome.peak = peakLevelOf(datagram);
    reading->m_deleteLater = false;
    reading->finish(outcome);
    // Deleted here rather than later: a deferred deletion would cost the event loop one more
    // round for every reading.
    delete reading.data();
}

} // namespace vexo
