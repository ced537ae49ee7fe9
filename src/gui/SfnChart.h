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
// exact value. It takes a poll round at a time and redraws only when a point was added.
class SfnChart : public QChartView
{
    Q_OBJECT
public:
    static constexpr qint64 kWindowMs = 15 * 60 * 1000;
    // The points the decoders' lines hold together at the most: beyond it, a point stands for a
    // slot of some seconds (SfnSlots), so that a round costs the same for 200 decoders as for 20.
    static constexpr int kPointBudget = 18000;
    // Up to this many decoders every line has its band; beyond, hundreds of overlapping bands
    // would only cost their drawing and hide one another: the chosen decoder's alone is drawn.
    static constexpr int kBandsUpTo = 8;
    // The length of such a slot for a number of decoders (0: every sample a point of its own).
    static qint64 slotMs(int decoders);

    explicit SfnChart(QWidget* parent = nullptr);

    // One line (and band) per decoder, filled from the history.
    void setDecoders(const QList<SfnDecoderStatus>& decoders, const SfnHistory& history);
    // The records of one round (decoder index, sample) and the round's spread, if any.
    void addRound(const QList<std::pair<int, SfnSample>>& samples,
                  const std::optional<std::pair<qint64, qint64>>& spread);
    // With more than kBandsUpTo decoders, the one whose band is drawn (-1: none).
    void setBandDecoder(int decoder);
    // The text a hover shows: "DECODER 001 14:02:07: 1 mS, 646 uS, 98 nS".
    QString hoverText(const QString& who, const QPointF& point) const;

    // The axes' ranges, for the face's tests: latency (uS) and spread (uS) low and high.
    std::pair<double, double> latencyRange() const;
    std::pair<double, double> spreadRange() const;

private:
    struct Lines
    {
        QString name;
        QColor colour;
        QLineSeries* average = nullptr;
        QAreaSeries* band = nullptr; // holds the minimum and maximum lines while it is drawn
        // What the series show, kept here so that a redraw hands each series its points once.
        QList<QPointF> averagePoints, minimumPoints, maximumPoints;
        SfnSlots buckets;
        bool changed = false;
    };
    void addPoint(Lines& l, const SfnSlotPoint& point);
    void addSpreadPoint(const SfnSlotPoint& point);
    // Ends the slots that nowMs is past; true when a point came of it.
    bool closeSlots(qint64 nowMs);
    void showBand(Lines& l, bool shown);
    void redraw(qint64 nowMs);
    void attach(QAbstractSeries* series, QValueAxis* y);

    std::vector<Lines> m_lines;
    QLineSeries* m_spread;
    QList<QPointF> m_spreadPoints;
    SfnSlots m_spreadSlots;
    bool m_spreadChanged = false;
    SlidingExtreme m_low{false}, m_high{true}, m_spreadHigh{true};
    QDateTimeAxis* m_time;
    QValueAxis* m_latency;
    QValueAxis* m_spreadAxis;
    qint64 m_lastMs = 0;
    int m_bandDecoder = -1;
};

} // namespace vexo
