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

SfnChart::SfnChart(QWidget* parent)
    : QChartView(new QChart, parent), m_spread(new QLineSeries), m_time(new QDateTimeAxis),
      m_latency(new QValueAxis), m_spreadAxis(new QValueAxis)
{
    setRenderHint(QPainter::Antialiasing);
    QChart* c = chart();
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
        l.average->setPen(QPen(colour, 2));
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
        m_lines.push_back(l);
        for (const SfnSample& s : history.samples(i))
            addSample(i, s);
    }
    trimAndRescale(m_lastMs);
}

void SfnChart::addSample(int decoder, const SfnSample& s)
{
    if (decoder < 0 || size_t(decoder) >= m_lines.size())
        return;
    const Lines& l = m_lines[size_t(decoder)];
    const double t = double(s.timeMs);
    l.average->append(t, micro(s.averageNs + kFixedNs));
    l.minimum->append(t, micro(s.minimumNs + kFixedNs));
    l.maximum->append(t, micro(s.maximumNs + kFixedNs));
    m_lastMs = std::max(m_lastMs, s.timeMs);
}

void SfnChart::addSpread(qint64 timeMs, qint64 spreadNs)
{
    m_spread->append(double(timeMs), micro(spreadNs));
    // Once per poll: the older points go and the axes follow.
    trimAndRescale(std::max(m_lastMs, timeMs));
}

void SfnChart::trimAndRescale(qint64 nowMs)
{
    if (nowMs == 0)
        return;
    const double from = double(nowMs - kWindowMs);
    auto trim = [from](QLineSeries* s) {
        int old = 0;
        while (old < s->count() && s->at(old).x() < from)
            ++old;
        if (old)
            s->removePoints(0, old);
    };
    double low = INFINITY, high = -INFINITY, first = double(nowMs);
    for (const Lines& l : m_lines) {
        trim(l.average);
        trim(l.minimum);
        trim(l.maximum);
        for (const QPointF& p : l.minimum->points())
            low = std::min(low, p.y());
        for (const QPointF& p : l.maximum->points())
            high = std::max(high, p.y());
        if (l.average->count())
            first = std::min(first, l.average->at(0).x());
    }
    trim(m_spread);
    double spreadHigh = 1;
    for (const QPointF& p : m_spread->points())
        spreadHigh = std::max(spreadHigh, p.y());
    if (low <= high) {
        const double margin = std::max(1.0, (high - low) * 0.05);
        m_latency->setRange(low - margin, high + margin);
    }
    m_spreadAxis->setRange(0, spreadHigh * 1.1);
    // At least a minute wide, so that the first points do not fill the whole width.
    first = std::min(first, double(nowMs - 60 * 1000));
    m_time->setRange(QDateTime::fromMSecsSinceEpoch(qint64(first)), QDateTime::fromMSecsSinceEpoch(nowMs));
}

} // namespace vexo
