#include "SfnChart.h"

#include "measure/MeasureCodec.h"

#include <QCursor>
#include <QDateTime>
#include <QSignalBlocker>
#include <QToolTip>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

namespace vexo {

namespace {
constexpr qint64 kFixedNs = qint64(FixedLatencyMacNs) + FixedLatencyAudioNs;
constexpr int kBroadLinesUpTo = 16;
// Latencies are drawn in microseconds: the axis labels stay short, a hover gives the ns.
double micro(qint64 ns)
{
    return double(ns) / 1000.0;
}

// Colours far apart for the first decoders, then around the hue circle by the golden angle.
QColor decoderColour(int index)
{
    const int hue = int(std::fmod(index * 137.508, 360.0));
    return QColor::fromHsv(hue, 200, index % 2 ? 170 : 210);
}

// A history sample as a chart point: its latency summaries.
SfnSlotPoint summaryOf(const SfnSample& s)
{
    return {s.timeMs, s.averageNs + kFixedNs, s.minimumNs + kFixedNs, s.maximumNs + kFixedNs};
}
} // namespace

void SlidingExtreme::push(double x, double y)
{
    // A point that an equal or better later one outlives can never be the extreme again.
    while (!m_points.empty() && (m_highest ? m_points.back().second <= y : m_points.back().second >= y))
        m_points.pop_back();
    m_points.emplace_back(x, y);
}

void SlidingExtreme::dropBefore(double x)
{
    while (!m_points.empty() && m_points.front().first < x)
        m_points.pop_front();
}

std::optional<double> SlidingExtreme::value() const
{
    return m_points.empty() ? std::nullopt : std::optional<double>(m_points.front().second);
}

SfnChart::SfnChart(QWidget* parent)
    : QChartView(new QChart, parent), m_spread(new QLineSeries), m_time(new QDateTimeAxis),
      m_latency(new QValueAxis), m_spreadAxis(new QValueAxis)
{
    // Hundreds of lines redrawn: no animations and no OpenGL (which an offscreen or remote
    // display would only emulate); antialiasing only for a few decoders (setDecoders).
    QChart* c = chart();
    c->setAnimationOptions(QChart::NoAnimation);
    c->setMargins(QMargins(4, 4, 4, 4));
    c->legend()->setAlignment(Qt::AlignBottom);
    m_time->setFormat(QStringLiteral("HH:mm:ss"));
    m_time->setTitleText(QStringLiteral("Time"));
    m_latency->setTitleText(QStringLiteral("Latency summary (uS)"));
    m_latency->setLabelFormat(QStringLiteral("%.1f"));
    m_spreadAxis->setTitleText(QStringLiteral("Spread (uS)"));
    m_spreadAxis->setLabelFormat(QStringLiteral("%.2f"));
    c->addAxis(m_time, Qt::AlignBottom);
    c->addAxis(m_latency, Qt::AlignLeft);
    c->addAxis(m_spreadAxis, Qt::AlignRight);
    m_spread->setName(QStringLiteral("Spread"));
    QPen pen(Qt::black, 2, Qt::DashLine);
    m_spread->setPen(pen);
    attach(m_spread, m_spreadAxis);
    connect(m_spread, &QLineSeries::hovered, this, [this](const QPointF& p, bool on) {
        if (on)
            QToolTip::showText(QCursor::pos(), hoverText(QStringLiteral("Spread"), p), this);
    });
}

void SfnChart::attach(QAbstractSeries* series, QValueAxis* y)
{
    series->setUseOpenGL(false);
    chart()->addSeries(series);
    series->attachAxis(m_time);
    series->attachAxis(y);
}

QString SfnChart::hoverText(const QString& who, const QPointF& p) const
{
    const QString time = QDateTime::fromMSecsSinceEpoch(qint64(p.x())).toString(QStringLiteral("HH:mm:ss"));
    return QStringLiteral("%1 %2: %3")
        .arg(who, time, formatNanoseconds(qint32(std::llround(p.y() * 1000.0))));
}

void SfnChart::showBand(Lines& l, bool shown)
{
    if (!shown) {
        if (l.band) {
            chart()->removeSeries(l.band);
            delete l.band; // with its bounds, its children
            l.band = nullptr;
        }
        return;
    }
    if (l.band)
        return;
    auto* minimum = new QLineSeries;
    auto* maximum = new QLineSeries;
    minimum->replace(l.minimumPoints);
    maximum->replace(l.maximumPoints);
    l.band = new QAreaSeries(maximum, minimum);
    minimum->setParent(l.band);
    maximum->setParent(l.band);
    QColor fill = l.colour;
    fill.setAlpha(50);
    l.band->setBrush(fill);
    l.band->setPen(Qt::NoPen);
    attach(l.band, m_latency);
    for (QLegendMarker* m : chart()->legend()->markers(l.band))
        m->setVisible(false);
}

void SfnChart::setDecoders(const QList<SfnDecoderStatus>& decoders, const SfnHistory& history)
{
    for (Lines& l : m_lines) {
        showBand(l, false);
        chart()->removeSeries(l.average);
        delete l.average;
    }
    m_lines.clear();
    m_lines.resize(size_t(decoders.size()));
    m_bandDecoder = -1;
    m_low.clear();
    m_high.clear();
    const bool few = decoders.size() <= kBroadLinesUpTo;
    setRenderHint(QPainter::Antialiasing, few);
    // The spread is drawn in the slots of the lines.
    const qint64 slot = slotMs(int(decoders.size()));
    m_spreadSlots = SfnSlots(slot);
    // The extremes take points in time order, across the decoders.
    std::vector<std::pair<size_t, SfnSlotPoint>> points;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        Lines& l = m_lines[i];
        l.buckets = SfnSlots(slot);
        for (const SfnSample& s : history.samples(int(i))) {
            m_lastMs = std::max(m_lastMs, s.timeMs);
            if (const auto point = l.buckets.add(summaryOf(s)))
                points.emplace_back(i, *point);
        }
    }
    for (size_t i = 0; i < m_lines.size(); ++i)
        if (const auto point = m_lines[i].buckets.close(m_lastMs))
            points.emplace_back(i, *point);
    std::stable_sort(points.begin(), points.end(),
                     [](const auto& a, const auto& b) { return a.second.timeMs < b.second.timeMs; });
    for (const auto& [i, point] : points)
        addPoint(m_lines[i], point);

    for (int i = 0; i < decoders.size(); ++i) {
        Lines& l = m_lines[size_t(i)];
        l.name = decoders[i].name.isEmpty() ? decoders[i].mac : decoders[i].name;
        l.colour = decoderColour(i);
        l.average = new QLineSeries;
        // A broad line needs the stroker: only a few decoders get one.
        l.average->setPen(QPen(l.colour, few ? 2 : 0));
        l.average->setName(l.name);
        showBand(l, decoders.size() <= kBandsUpTo);
        attach(l.average, m_latency);
        const QString who = l.name;
        connect(l.average, &QLineSeries::hovered, this, [this, who](const QPointF& p, bool on) {
            if (on)
                QToolTip::showText(QCursor::pos(), hoverText(who, p), this);
        });
    }
    redraw(m_lastMs);
}

void SfnChart::setBandDecoder(int decoder)
{
    if (m_lines.size() <= size_t(kBandsUpTo) || decoder == m_bandDecoder)
        return;
    // The lines are made anew with no band chosen, so the one chosen is always among them.
    if (m_bandDecoder >= 0)
        showBand(m_lines[size_t(m_bandDecoder)], false);
    m_bandDecoder = decoder >= 0 && size_t(decoder) < m_lines.size() ? decoder : -1;
    if (m_bandDecoder >= 0)
        showBand(m_lines[size_t(m_bandDecoder)], true);
}

qint64 SfnChart::slotMs(int decoders)
{
    const qint64 pointsEach = kPointBudget / std::max(1, decoders);
    const qint64 samplesEach = kWindowMs / 1000; // at the fastest poll
    return pointsEach >= samplesEach ? 0 : (kWindowMs + pointsEach - 1) / std::max<qint64>(1, pointsEach);
}

void SfnChart::addPoint(Lines& l, const SfnSlotPoint& p)
{
    const double t = double(p.timeMs);
    l.averagePoints.append({t, micro(p.averageNs)});
    l.minimumPoints.append({t, micro(p.minimumNs)});
    l.maximumPoints.append({t, micro(p.maximumNs)});
    l.changed = true;
    // The average too: a record whose minimum or maximum does not enclose it still shows its line.
    m_low.push(t, micro(std::min(p.minimumNs, p.averageNs)));
    m_high.push(t, micro(std::max(p.maximumNs, p.averageNs)));
}

void SfnChart::addSpreadPoint(const SfnSlotPoint& p)
{
    m_spreadPoints.append({double(p.timeMs), micro(p.averageNs)});
    m_spreadHigh.push(double(p.timeMs), micro(p.averageNs));
    m_spreadChanged = true;
}

bool SfnChart::closeSlots(qint64 nowMs)
{
    bool any = false;
    for (Lines& l : m_lines)
        if (const auto point = l.buckets.close(nowMs)) {
            addPoint(l, *point);
            any = true;
        }
    if (const auto point = m_spreadSlots.close(nowMs)) {
        addSpreadPoint(*point);
        any = true;
    }
    return any;
}

void SfnChart::addRound(const QList<std::pair<int, SfnSample>>& samples,
                        const std::optional<std::pair<qint64, qint64>>& spread)
{
    bool any = false;
    for (const auto& [decoder, s] : samples) {
        if (decoder < 0 || size_t(decoder) >= m_lines.size())
            continue;
        m_lastMs = std::max(m_lastMs, s.timeMs);
        if (const auto point = m_lines[size_t(decoder)].buckets.add(summaryOf(s))) {
            addPoint(m_lines[size_t(decoder)], *point);
            any = true;
        }
    }
    if (spread) {
        m_lastMs = std::max(m_lastMs, spread->first);
        if (const auto point =
                m_spreadSlots.add({spread->first, spread->second, spread->second, spread->second})) {
            addSpreadPoint(*point);
            any = true;
        }
    }
    // A slot that the round has passed is over for every line, also for a decoder that fell
    // silent; while the slots run on, the chart stays as it is and costs nothing.
    if (closeSlots(m_lastMs) || any)
        redraw(m_lastMs);
}

std::pair<double, double> SfnChart::latencyRange() const
{
    return {m_latency->min(), m_latency->max()};
}

std::pair<double, double> SfnChart::spreadRange() const
{
    return {m_spreadAxis->min(), m_spreadAxis->max()};
}

void SfnChart::redraw(qint64 nowMs)
{
    if (nowMs == 0)
        return;
    const double from = double(nowMs - kWindowMs);
    // Drops the points older than the window; true when any went. The rest goes to a buffer of
    // its own: removed in place, the old points would leave their room at the front of the
    // buffer, and since the series shares it, every later append copies the buffer with that room
    // kept and some more at the end, so that it grew a little with every point, without end.
    auto trim = [from](QList<QPointF>& points) {
        qsizetype old = 0;
        while (old < points.size() && points[old].x() < from)
            ++old;
        if (old > 0)
            points = points.sliced(old);
        return old > 0;
    };
    double first = double(nowMs);
    for (Lines& l : m_lines) {
        l.changed |= trim(l.averagePoints);
        trim(l.minimumPoints);
        trim(l.maximumPoints);
        if (!l.averagePoints.isEmpty())
            first = std::min(first, l.averagePoints.first().x());
    }
    // At least a minute wide, so that the first points do not fill the whole width.
    first = std::min(first, double(nowMs - 60 * 1000));
    const QDateTime timeFrom = QDateTime::fromMSecsSinceEpoch(qint64(first)),
                    timeTo = QDateTime::fromMSecsSinceEpoch(nowMs);
    // A series works out where its points lie on screen when they are replaced, and again when
    // an axis it hangs on changes its range. When the time axis moves anyway, the points are
    // handed over quietly and its move places every series once.
    const bool timeMoves = m_time->min() != timeFrom || m_time->max() != timeTo;
    auto replace = [timeMoves](QXYSeries* series, const QList<QPointF>& points) {
        const QSignalBlocker quiet(timeMoves ? series : nullptr);
        series->replace(points);
    };
    for (Lines& l : m_lines) {
        if (!l.changed)
            continue;
        replace(l.average, l.averagePoints);
        if (l.band) {
            replace(l.band->lowerSeries(), l.minimumPoints);
            replace(l.band->upperSeries(), l.maximumPoints);
        }
        l.changed = false;
    }
    if (trim(m_spreadPoints) || m_spreadChanged)
        replace(m_spread, m_spreadPoints);
    m_spreadChanged = false;
    m_low.dropBefore(from);
    m_high.dropBefore(from);
    m_spreadHigh.dropBefore(from);

    // The axes move only when what they must hold leaves them: whole steps with room to spare.
    if (const auto low = m_low.value(), high = m_high.value(); low && high) {
        const double step =
            std::max(1.0, std::pow(10.0, std::floor(std::log10(std::max(1.0, *high - *low)))) / 10.0);
        const double bottom = std::floor(*low / step) * step - step,
                     top = std::ceil(*high / step) * step + step;
        if (m_latency->min() != bottom || m_latency->max() != top)
            m_latency->setRange(bottom, top);
    }
    const double spreadTop = std::ceil(std::max(1.0, m_spreadHigh.value().value_or(1.0)) * 1.1);
    if (m_spreadAxis->min() != 0 || m_spreadAxis->max() != spreadTop)
        m_spreadAxis->setRange(0, spreadTop);
    if (timeMoves)
        m_time->setRange(timeFrom, timeTo);
}

} // namespace vexo
