#include "LevelMeter.h"

#include "diagnostics/LevelMonitor.h"

#include <QAccessible>
#include <QEvent>
#include <QPainter>

#include <cmath>

namespace vexo {

namespace {
// More distinct texts than a level shows (-138.5 to 0 in tenths); beyond it the cache starts over.
constexpr int kMaxCachedTexts = 2048;
} // namespace

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent), m_text(levelText(0))
{
    setObjectName(QStringLiteral("VUMeter"));
    // Every pixel is painted here: nothing beneath needs repainting for a new reading.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(kWidth, kHeight);
}

void LevelMeter::showPeak(qint32 peak)
{
    const int width = int(std::lround(meterWidthTwips(peak) / 15.0));
    const QString text = levelText(peak);
    if (width == m_barWidth && text == m_text)
        return;
    m_barWidth = width;
    m_text = text;
    update();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent changed(this, m_text);
        QAccessible::updateAccessibility(&changed);
    }
}

void LevelMeter::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        m_texts.clear();
    QWidget::changeEvent(event);
}

const QStaticText& LevelMeter::staticText(const QString& text)
{
    auto it = m_texts.find(text);
    if (it == m_texts.end()) {
        if (m_texts.size() >= kMaxCachedTexts)
            m_texts.clear();
        QStaticText laidOut(text);
        laidOut.setTextFormat(Qt::PlainText);
        laidOut.prepare(QTransform(), font());
        it = m_texts.insert(text, laidOut);
    }
    return *it;
}

void LevelMeter::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    const int boxTop = (kHeight - kBoxHeight) / 2;
    p.fillRect(QRect(0, boxTop, kBoxWidth, kBoxHeight), QColor(30, 34, 40));

    const QStaticText& text = staticText(m_text);
    p.setPen(palette().color(QPalette::Active, QPalette::WindowText));
    p.setFont(font());
    p.drawStaticText(QPointF(kTextLeft, (kHeight - text.size().height()) / 2.0), text);

    const int w = std::min(m_barWidth, kFullScaleWidth);
    if (w <= 0)
        return;
    p.translate(1, boxTop + 1);
    const int h = kBoxHeight - 2;
    // Zone edges as fractions of full scale: -18 dBFS and -6 dBFS.
    const double yellowFrom = std::pow(10.0, -18.0 / 20.0) * kFullScaleWidth;
    const double redFrom = std::pow(10.0, -6.0 / 20.0) * kFullScaleWidth;
    const QColor green = isEnabled() ? QColor(40, 190, 60) : QColor(150, 170, 150);
    const QColor yellow = isEnabled() ? QColor(235, 200, 30) : QColor(180, 175, 140);
    const QColor red = isEnabled() ? QColor(225, 45, 35) : QColor(180, 140, 140);
    p.fillRect(QRectF(0, 0, std::min<double>(w, yellowFrom), h), green);
    if (w > yellowFrom)
        p.fillRect(QRectF(yellowFrom, 0, std::min<double>(w, redFrom) - yellowFrom, h), yellow);
    if (w > redFrom)
        p.fillRect(QRectF(redFrom, 0, w - redFrom, h), red);
    // Segment gaps make it read as a meter rather than a progress bar.
    p.setPen(QColor(0, 0, 0, 60));
    for (int x = 4; x < w; x += 5)
        p.drawLine(x, 0, x, h);
}

} // namespace vexo
