#include "MeasureExchange.h"

#include <QTimer>

namespace vexo {

MeasureExchange::MeasureExchange(MeasurePort& port, Plan plan, Done done, QObject* parent)
    : QObject(parent), m_port(port), m_plan(std::move(plan)), m_done(std::move(done)),
      m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setInterval(m_plan.answerMs);
    connect(m_timer, &QTimer::timeout, this, [this] { finish({}); });
}

MeasureExchange::~MeasureExchange()
{
    if (m_receiver)
        m_port.removeReceiver(m_receiver);
    if (m_holding)
        m_port.release();
}

void MeasureExchange::start()
{
    MeasureOutcome outcome;
    if (!m_port.acquire()) {
        outcome.result = MeasureOutcome::Result::PortBusy;
        outcome.problem = {SendFailure::PortBusy, QStringLiteral("UDP port 2978 is in use on this host.")};
        finish(outcome);
        return;
    }
    m_holding = true;
    // Listening before the first request leaves: a fast element's record must not pass by.
    if (m_plan.awaitRecord)
        m_receiver =
            m_port.addReceiver(measureAddressOf(m_plan.ip), [this](const QByteArray& d) { onDatagram(d); });
    for (const QByteArray& request : std::as_const(m_plan.requests)) {
        if (const SendProblem problem = m_port.send(m_plan.ip, request)) {
            outcome.result = MeasureOutcome::Result::SendFailed;
            outcome.problem = problem;
            finish(outcome);
            return;
        }
    }
    if (!m_plan.awaitRecord) {
        outcome.result = MeasureOutcome::Result::Answered;
        finish(outcome);
        return;
    }
    m_timer->start();
}

void MeasureExchange::resend()
{
    if (!m_finished && m_holding && !m_plan.requests.isEmpty())
        m_port.send(m_plan.ip, m_plan.requests.last());
}

void MeasureExchange::onDatagram(const QByteArray& datagram)
{
    // Both windows' length rules meet in exactly 61 bytes; a shorter datagram is a record only
    // for the statistics window.
    const bool accepted = m_plan.refusedBy == Reading::Latency ? adjustAcceptsLength(datagram.size())
                                                               : statisticsAcceptsLength(datagram.size());
    if (m_finished || !accepted)
        return;
    MeasureOutcome outcome;
    outcome.result = MeasureOutcome::Result::Answered;
    outcome.record = decodeMeasurementRecord(datagram);
    outcome.statistics = statisticsArithmetic(*outcome.record, m_plan.sfn, m_plan.role);
    outcome.latency = latencyArithmetic(*outcome.record, m_plan.sfn, m_plan.role);
    const bool refused = (m_plan.refusedBy == Reading::Statistics && outcome.statistics->failed) ||
                         (m_plan.refusedBy == Reading::Latency && outcome.latency->failed);
    if (refused) {
        outcome.result = MeasureOutcome::Result::RecordRefused;
        outcome.errorNumber = m_plan.refusedBy == Reading::Latency ? 4 : 5;
    }
    finish(outcome);
}

void MeasureExchange::finish(MeasureOutcome outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    m_timer->stop();
    if (m_receiver) {
        m_port.removeReceiver(m_receiver);
        m_receiver = 0;
    }
    if (m_holding) {
        m_port.release();
        m_holding = false;
    }
    if (m_done)
        m_done(outcome);
    emit finished();
}

} // namespace vexo
