#include "StatisticsSession.h"

#include "platform/FatalError.h"
#include "store/ElementStore.h"
#include "store/SelectedElement.h"

namespace vexo {

namespace {
const QString kOccupied = QStringLiteral("Error 2: Unable to use UDP port 2978: occupied.");
constexpr int kRetrievalError = 5;
} // namespace

StatisticsSession::StatisticsSession(const MeasureServices& services, QObject* parent)
    : MeasureSession(services, QStringLiteral("udpClient2"), parent)
{
}

bool StatisticsSession::open()
{
    if (!m_link.bind()) {
        m_services.fatal.fail(kOccupied);
        return false;
    }
    emit elementNamed(m_services.selected.read(keys::name));
    return openWith(kGetStats, kOccupied);
}

void StatisticsSession::refresh()
{
    sendOrReport(kGetStats);
}

void StatisticsSession::resetCounters()
{
    if (confirmCounterReset(m_services.boxes))
        sendOrReport(kRstStats);
}

void StatisticsSession::applyRecord(const QByteArray& datagram)
{
    if (!statisticsAcceptsLength(datagram.size()))
        return;
    const MeasurementValues record = decodeMeasurementRecord(datagram);
    const StatisticsOutcome outcome = statisticsArithmetic(record, m_services.selected.read(keys::sfn),
                                                           m_services.selected.roleCaption(), m_values);
    emit statisticsReceived(m_values, outcome.updates);
    if (outcome.failed)
        reportRecordFailure(kRetrievalError);
}

} // namespace vexo
