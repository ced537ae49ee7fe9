#include "SfnChart.h"

#include "measure/MeasureCodec.h"

#include <QCursor>
#include <QDateTime>
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
    // Hundreds of lines redrawn every second: no animations and no OpenGL (which an offscreen or
    // remote display would only emulate); antialiasing only for a few decoders (setDecoders).
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

void SfnChart::setDecoders(const QList<SfnDecoderStatus>& decoders, const SfnHistory& history)
{
    for (Lines& l : m_lines) {
        chart()->removeSeries(l.band);
        chart()->removeSeries(l.average);
        delete l.band; // with its bounds, its children
        delete l.average;
    }
    m_lines.clear();
    m_slotMs = slotMs(int(decoders.size()));
    setRenderHint(QPainter::Antialiasing, decoders.size() <= kBroadLinesUpTo);
    m_low.clear();
    m_high.clear();
    // The extremes take points in time order, across the decoders.
    QList<SfnSample> all;
    for (int i = 0; i < decoders.size(); ++i) {
        Lines l;
        l.name = decoders[i].name.isEmpty() ? decoders[i].mac : decoders[i].name;
        l.average = new QLineSeries;
        l.minimum = new QLineSeries;
        l.maximum = new QLineSeries;
        l.band = new QAreaSeries(l.maximum, l.minimum);
        l.minimum->setParent(l.band);
        l.maximum->setParent(l.band);
        const QColor colour = decoderColour(i);
        QColor fill = colour;
        fill.setAlpha(50);
        l.band->setBrush(fill);
        l.band->setPen(Qt::NoPen);
        // A broad line needs the stroker: only a few decoders get one.
        l.average->setPen(QPen(colour, decoders.size() <= kBroadLinesUpTo ? 2 : 0));
        l.average->setName(l.name);
        attach(l.band, m_latency);
        attach(l.average, m_latency);
        for (QLegendMarker* m : chart()->legend()->markers(l.band))
            m->setVisible(false);
        const QString who = l.name;
        connect(l.average, &QLineSeries::hovered, this, [this, who](const QPointF& p, bool on) {
            if (on)
                QToolTip::showText(QCursor::pos(), hoverText(who, p), this);
        });
        const QList<SfnSample> samples = history.samples(i);
        for (const SfnSample& s : samples)
            append(l, s);
        all += samples;
        m_lines.push_back(l);
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const SfnSample& a, const SfnSample& b) { return a.timeMs < b.timeMs; });
    for (const SfnSample& s : std::as_const(all)) {
        extend(s);
    }
    trimAndRescale(m_lastMs);
}

qint64 SfnChart::slotMs(int decoders)
{
    const qint64 pointsEach = kPointBudget / std::max(1, decoders);
    const qint64 samplesEach = kWindowMs / 1000; // at the fastest poll
    return pointsEach >= samplesEach ? 0 : (kWindowMs + pointsEach - 1) / std::max<qint64>(1, pointsEach);
}

void SfnChart::extend(const SfnSample& s)
{
    // The average too: a record whose minimum or maximum does not enclose it still shows its line.
    const double t = double(s.timeMs);
    m_low.push(t, micro(std::min(s.minimumNs, s.averageNs) + kFixedNs));
    m_high.push(t, micro(std::max(s.maximumNs, s.averageNs) + kFixedNs));
}

void SfnChart::append(Lines& l, const SfnSample& s)
{
    const double t = double(s.timeMs);
    const double average = micro(s.averageNs + kFixedNs), minimum = micro(s.minimumNs + kFixedNs),
                 maximum = micro(s.maximumNs + kFixedNs);
    const qint64 slot = m_slotMs > 0 ? s.timeMs / m_slotMs : -1;
    if (slot >= 0 && slot == l.lastBucket && !l.averagePoints.isEmpty()) {
        // Into the slot of the last point: it moves to the newest time and takes the sample in.
        QPointF& a = l.averagePoints.last();
        QPointF& low = l.minimumPoints.last();
        QPointF& high = l.maximumPoints.last();
        ++l.lastCount;
        a = {t, a.y() + (average - a.y()) / l.lastCount};
        low = {t, std::min(low.y(), minimum)};
        high = {t, std::max(high.y(), maximum)};
    } else {
        l.averagePoints.append({t, average});
        l.minimumPoints.append({t, minimum});
        l.maximumPoints.append({t, maximum});
        l.lastBucket = slot;
        l.lastCount = 1;
    }
    l.changed = true;
    m_lastMs = std::max(m_lastMs, s.timeMs);
}

void SfnChart::addRound(const QList<std::pair<int, SfnSample>>& samples,
                        const std::optional<std::pair<qint64, qint64>>& spread)
{
    for (const auto& [decoder, s] : samples) {
        if (decoder < 0 || size_t(decoder) >= m_lines.size())
            continue;
        append(m_lines[size_t(decoder)], s);
        extend(s);
    }
    if (spread) {
        m_spreadPoints.append({double(spread->first), micro(spread->second)});
        m_spreadHigh.push(double(spread->first), micro(spread->second));
        m_lastMs = std::max(m_lastMs, spread->first);
    }
    trimAndRescale(m_lastMs);
}

std::pair<double, double> SfnChart::latencyRange() const
{
    return {m_latency->min(), m_latency->max()};
}

std::pair<double, double> SfnChart::spreadRange() const
{
    return {m_spreadAxis->min(), m_spreadAxis->max()};
}

void SfnChart::trimAndRescale(qint64 nowMs)
{
    if (nowMs == 0)
        return;
    const double from = double(nowMs - kWindowMs);
    // Drops the points older than the window; true when any went.
    auto trim = [from](QList<QPointF>& points) {
        qsizetype old = 0;
        while (old < points.size() && points[old].x() < from)
            ++old;
        points.remove(0, old);
        return old > 0;
    };
    double first = double(nowMs);
    for (Lines& l : m_lines) {
        l.changed |= trim(l.averagePoints);
        trim(l.minimumPoints);
        trim(l.maximumPoints);
        if (!l.averagePoints.isEmpty())
            first = std::min(first, l.averagePoints.first().x());
        if (!l.changed)
            continue;
        // One call per series: each redraws its points once, not once per point.
        l.average->replace(l.averagePoints);
        l.minimum->replace(l.minimumPoints);
        l.maximum->replace(l.maximumPoints);
        l.changed = false;
    }
    const qsizetype spreadBefore = m_spreadPoints.size();
    if (trim(m_spreadPoints) || spreadBefore != m_spread->count())
        m_spread->replace(m_spreadPoints);
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
    // At least a minute wide, so that the first points do not fill the whole width.
    first = std::min(first, double(nowMs - 60 * 1000));
    m_time->setRange(QDateTime::fromMSecsSinceEpoch(qint64(first)), QDateTime::fromMSecsSinceEpoch(nowMs));
}

} // namespace vexo
