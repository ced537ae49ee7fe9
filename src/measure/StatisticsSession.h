#pragma once

#include "MeasureArithmetic.h"
#include "MeasureSession.h"

#include <QList>

namespace vexo {

// The traffic and PTP counters of the selected element: "GetStats" on opening and on refresh,
// "RstStats" after the operator confirms. Every datagram of 61 bytes or fewer is a record.
class StatisticsSession : public MeasureSession
{
    Q_OBJECT
public:
    explicit StatisticsSession(const MeasureServices& services, QObject* parent = nullptr);

    // Binds, names the element and asks for the first record.
    bool open() override;
    void refresh() override;
    // Asks the operator first; sends nothing on No.
    void resetCounters() override;

    const StatisticsValues& values() const { return m_values; }

signals:
    // The stored name of the element, read on opening.
    void elementNamed(const QString& name);
    // A record was applied: the kept values and the label texts it reached, in order (a failed
    // record reaches only the rows before its failure).
    void statisticsReceived(const vexo::StatisticsValues& values, const QList<vexo::LabelUpdate>& texts);

private:
    void applyRecord(const QByteArray& datagram) override;

    StatisticsValues m_values;
};

} // namespace vexo
