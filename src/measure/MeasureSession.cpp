#include "MeasureSession.h"

#include "MeasureCodec.h"

namespace vexo {

MeasureSession::MeasureSession(const MeasureServices& services, QObject* parent)
    : QObject(parent), m_services(services)
{
}

MeasureSession::~MeasureSession()
{
    MeasureSession::close();
}

void MeasureSession::close()
{
    if (m_receiver)
        m_services.port.removeReceiver(m_receiver);
    m_receiver = 0;
    m_address = 0;
    if (m_holding)
        m_services.port.release();
    m_holding = false;
}

bool MeasureSession::openWith(const QByteArray& firstRequest)
{
    if (!m_holding) {
        if (!m_services.port.acquire())
            return false;
        m_holding = true;
    }
    if (send(firstRequest)) {
        close();
        return false;
    }
    return true;
}

SendProblem MeasureSession::sendAndReport(const QByteArray& request)
{
    const SendProblem problem = send(request);
    if (problem) {
        beforeSendFailureReported();
        emit sendFailed(problem);
    }
    return problem;
}

void MeasureSession::sendReset()
{
    emit countersResetSent(sendAndReport(kRstStats));
}

SendProblem MeasureSession::send(const QByteArray& request)
{
    const QString ip = stored(keys::ip);
    listenTo(measureAddressOf(ip));
    return m_services.port.send(ip, request);
}

void MeasureSession::listenTo(quint32 address)
{
    if (!m_holding || (m_receiver && address == m_address))
        return;
    if (m_receiver)
        m_services.port.removeReceiver(m_receiver);
    m_address = address;
    m_receiver = m_services.port.addReceiver(address, [this](const QByteArray& d) { applyRecord(d); });
}

QString sendFailureText(const QString& problem)
{
    return QStringLiteral("Cannot send the request to the element.\r") + problem;
}

QString retrievalErrorText(int errorNumber)
{
    return QStringLiteral("Error %1 while retrieving values. Please reset the device and try again.")
        .arg(errorNumber);
}

} // namespace vexo
