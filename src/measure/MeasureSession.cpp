#include "MeasureSession.h"

#include "platform/FatalError.h"
#include "platform/MessageBoxes.h"

#include <QUdpSocket>

namespace vexo {

MeasureSession::MeasureSession(const MeasureServices& services, const QString& socketName, QObject* parent)
    : QObject(parent), m_services(services), m_socket(new QUdpSocket(this)),
      m_link(*m_socket, services.selected, services.bindAddress)
{
    m_socket->setObjectName(socketName);
    connect(m_socket, &QUdpSocket::readyRead, this,
            [this] { m_link.applyArrivals([this](const QByteArray& datagram) { applyRecord(datagram); }); });
}

MeasureSession::~MeasureSession()
{
    m_link.close();
}

bool MeasureSession::isOpen() const
{
    return m_socket->state() == QAbstractSocket::BoundState;
}

void MeasureSession::close()
{
    m_link.close();
}

bool MeasureSession::openWith(const QByteArray& firstRequest, const QString& occupiedText)
{
    if (!m_link.bind()) {
        m_services.fatal.fail(occupiedText);
        return false;
    }
    if (!m_link.send(firstRequest)) {
        m_link.close();
        m_services.fatal.fail(occupiedText);
        return false;
    }
    return true;
}

bool MeasureSession::sendOrReport(const QByteArray& request)
{
    // Once open, a request that cannot leave is the operator's to fix (address, network); the
    // session stays usable.
    QString problem;
    if (m_link.send(request, &problem))
        return true;
    beforeSendFailureShown();
    emit sendFailed(problem);
    m_services.boxes.critical(QString(), sendFailureText(problem));
    return false;
}

void MeasureSession::reportRecordFailure(int errorNumber)
{
    emit recordFailed(errorNumber);
    m_services.boxes.critical(QString(), retrievalErrorText(errorNumber));
}

bool confirmCounterReset(MessageBoxes& boxes)
{
    return boxes.askYesNo(QStringLiteral("Reset counters"),
                          QStringLiteral("You will reset all counters to zero.\rAre you sure?"));
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
