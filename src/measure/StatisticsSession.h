#pragma once

#include "MeasureArithmetic.h"
#include "MeasureSession.h"

namespace vexo {

// The traffic and PTP counters of one element: "GetStats" on opening and on refresh, "RstStats"
// on reset. Every datagram of 61 bytes or fewer from the element is a record.
class StatisticsSession : public MeasureSession
{
    Q_OBJECT
public:
    static constexpr int kRetrievalError = 5;

    explicit StatisticsSession(const MeasureServices& services, QObject* parent = nullptr);

    // Holds the port, names the element and asks for the first record.
    bool open() override;
    void refresh() override;
    void resetCounters() override;

signals:
    // The stored name of the element, read on opening.
    void elementNamed(const QString& name);
    // A record arrived: the rows it reached (a failed one only those before its failure).
    void statisticsReceived(const vexo::StatisticsReading& reading);

private:
    void applyRecord(const QByteArray& datagram) override;
};

} // namespace vexo

Q_DECLARE_METATYPE(vexo::StatisticsReading)
