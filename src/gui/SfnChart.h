#pragma once

#include "core/SfnOverview.h"

#include <QtCharts/QChartView>

#include <deque>
#include <optional>
#include <vector>

QT_BEGIN_NAMESPACE
class QAreaSeries;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;
QT_END_NAMESPACE

namespace vexo {

// The lowest or highest y of a window of points that only grows at the end and shrinks at the
// front (a monotonic queue): the axes follow the visible points without rescanning them.
class SlidingExtreme
{
public:
    explicit SlidingExtreme(bool highest) : m_highest(highest) {}
    void push(double x, double y);
    void dropBefore(double x);
    std::optional<double> value() const;
    void clear() { m_points.clear(); }

private:
    bool m_highest;
    std::deque<std::pair<double, double>> m_points;
};

// The latency summary of each SFN decoder over the last minutes: its average as a line in its
// own colour (name in the legend) over a band from minimum to maximum, and the spread of the
// network (highest average minus lowest) against the right-hand axis. Hovering a line shows the
// exact value. It takes a poll round at a time and redraws once for it.
class SfnChart : public QChartView
{
    Q_OBJECT
public:
    static constexpr qint64 kWindowMs = 15 * 60 * 1000;
    // The points the decoders' lines hold together at the most: beyond it, a point stands for a
    // slot of some seconds (the mean of its averages, the lowest minimum, the highest maximum),
    // so that a round costs the same for 200 decoders as for 20.
    static constexpr int kPointBudget = 18000;
    // The length of such a slot for a number of decoders (0: every sample a point of its own).
    static qint64 slotMs(int decoders);

    explicit SfnChart(QWidget* parent = nullptr);

    // One line and band per decoder, filled from the history.
    void setDecoders(const QList<SfnDecoderStatus>& decoders, const SfnHistory& history);
    // The records of one round (decoder index, sample) and the round's spread, if any.
    void addRound(const QList<std::pair<int, SfnSample>>& samples,
                  const std::optional<std::pair<qint64, qint64>>& spread);
    // The text a hover shows: "DECODER 001 14:02:07: 1 mS, 646 uS, 98 nS".
    QString hoverText(const QString& who, const QPointF& point) const;

    // The axes' ranges, for the face's tests: latency (uS) and spread (uS) low and high.
    std::pair<double, double> latencyRange() const;
    std::pair<double, double> spreadRange() const;

private:
    struct Lines
    {
        QString name;
        QLineSeries* average = nullptr;
        QLineSeries* minimum = nullptr;
        QLineSeries* maximum = nullptr;
        QAreaSeries* band = nullptr;
        // What the series show, kept here so that a round hands each series its points once.
        QList<QPointF> averagePoints, minimumPoints, maximumPoints;
        qint64 lastBucket = -1; // the time slot of the last point, and how many samples it holds
        int lastCount = 0;
        bool changed = false;
    };
    void append(Lines& l, const SfnSample& sample);
    void extend(const SfnSample& sample);
    void trimAndRescale(qint64 nowMs);
    void attach(QAbstractSeries* series, QValueAxis* y);

    std::vector<Lines> m_lines;
    QLineSeries* m_spread;
    QList<QPointF> m_spreadPoints;
    SlidingExtreme m_low{false}, m_high{true}, m_spreadHigh{true};
    QDateTimeAxis* m_time;
    QValueAxis* m_latency;
    QValueAxis* m_spreadAxis;
    qint64 m_lastMs = 0;
    qint64 m_slotMs = 0;
};

} // namespace vexo
