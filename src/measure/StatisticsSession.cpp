#include "StatisticsSession.h"

namespace vexo {

StatisticsSession::StatisticsSession(const MeasureServices& services, QObject* parent)
    : MeasureSession(services, parent)
{
}

bool StatisticsSession::open()
{
    if (!m_services.port.acquire())
        return false;
    // The port is bound before the element is named, as the window opens.
    emit elementNamed(stored(keys::name));
    const bool opened = openWith(kGetStats);
    m_services.port.release(); // openWith holds it for the session
    return opened;
}

void StatisticsSession::refresh()
{
    sendOrReport(kGetStats);
}

void StatisticsSession::resetCounters()
{
    sendReset();
}

void StatisticsSession::applyRecord(const QByteArray& datagram)
{
    if (!statisticsAcceptsLength(datagram.size()))
        return;
    emit statisticsReceived(
        statisticsArithmetic(decodeMeasurementRecord(datagram), stored(keys::sfn), m_services.role));
}

} // namespace vexo
