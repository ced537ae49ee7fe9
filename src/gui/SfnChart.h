#pragma once

#include "core/SfnOverview.h"

#include <QtCharts/QChartView>

#include <vector>

QT_BEGIN_NAMESPACE
class QAreaSeries;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;
QT_END_NAMESPACE

namespace vexo {

// The latency summary of each SFN decoder over the last minutes: its average as a line in its
// own colour (name in the legend) over a band from minimum to maximum, and the spread of the
// network (highest average minus lowest) against the right-hand axis. Hovering a line shows the
// exact value.
class SfnChart : public QChartView
{
    Q_OBJECT
public:
    static constexpr qint64 kWindowMs = 15 * 60 * 1000;

    explicit SfnChart(QWidget* parent = nullptr);

    // One line and band per decoder, filled from the history.
    void setDecoders(const QList<SfnDecoderStatus>& decoders, const SfnHistory& history);
    void addSample(int decoder, const SfnSample& sample);
    void addSpread(qint64 timeMs, qint64 spreadNs);
    // The text a hover shows: "DECODER 001 14:02:07: 1 mS, 646 uS, 98 nS".
    QString hoverText(const QString& who, const QPointF& point) const;

private:
    struct Lines
    {
        QString name;
        QLineSeries* average = nullptr;
        QLineSeries* minimum = nullptr;
        QLineSeries* maximum = nullptr;
        QAreaSeries* band = nullptr;
    };
    void trimAndRescale(qint64 nowMs);
    void attach(QAbstractSeries* series, QValueAxis* y);

    std::vector<Lines> m_lines;
    QLineSeries* m_spread;
    QDateTimeAxis* m_time;
    QValueAxis* m_latency;
    QValueAxis* m_spreadAxis;
    qint64 m_lastMs = 0;
};

} // namespace vexo
