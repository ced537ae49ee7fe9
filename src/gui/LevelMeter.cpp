#include "LevelMeter.h"

#include "diagnostics/LevelMonitor.h"

#include <QAccessible>
#include <QEvent>
#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>

#include <cmath>

namespace vexo {

namespace {
constexpr int kBoxTop = (LevelMeter::kHeight - LevelMeter::kBoxHeight) / 2;
constexpr int kBarHeight = LevelMeter::kBoxHeight - 2;
const QColor kBoxColour(30, 34, 40);
} // namespace

LevelMeter::LevelMeter(QWidget* parent)
    : QWidget(parent), Picture2(new QWidget(this)), VUMeter(new QWidget(Picture2)),
      lblVolume(new QLabel(this))
{
    setObjectName(QStringLiteral("levelMeter"));
    // Every pixel is painted here: nothing beneath needs repainting for a new reading.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(kWidth, kHeight);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(0, kBoxTop, kBoxWidth, kBoxHeight);
    VUMeter->setObjectName(QStringLiteral("VUMeter"));
    VUMeter->setGeometry(1, 1, 0, kBarHeight);
    lblVolume->setObjectName(QStringLiteral("lblVolume"));
    lblVolume->setTextFormat(Qt::PlainText);
    lblVolume->setText(levelText(0));
    lblVolume->setGeometry(textRect());
    // A fixed size: a new text then asks the row for no new layout.
    lblVolume->setFixedSize(textRect().size());
    // Drawn by the meter, in the same paint: never shown on their own, so that a new bar width or
    // text costs no events, no paint of their own and no place in the meter's repaint. Nor is
    // the label an object of its own for a screen reader (the meter is a leaf): a name of its
    // own spares each new text the label's notice that its name changed.
    lblVolume->setAccessibleName(QStringLiteral("Audio level"));
    for (QWidget* part : {Picture2, VUMeter, static_cast<QWidget*>(lblVolume)})
        part->setVisible(false);
}

QString LevelMeter::text() const
{
    return lblVolume->text();
}

const QString& LevelMeter::textOf(qint32 peak)
{
    // Formatting a number costs more than the rest of a reading: each text is made once.
    const int tenths = levelTenths(peak).value_or(kSilence);
    auto it = m_texts.constFind(tenths);
    if (it == m_texts.cend())
        it = m_texts.insert(tenths, levelText(peak));
    return *it;
}

void LevelMeter::showPeak(qint32 peak)
{
    const int width = int(std::lround(meterWidthTwips(peak) / 15.0));
    const QString& text = textOf(peak);
    // Only the strip between the old and the new end of the bar changes, and the text.
    QRect bar, label;
    if (width != m_barWidth) {
        bar = QRect(1 + std::min(width, m_barWidth), kBoxTop + 1, std::abs(width - m_barWidth), kBarHeight);
        m_barWidth = width;
        VUMeter->resize(std::min(width, kFullScaleWidth), kBarHeight);
    }
    if (text != lblVolume->text()) {
        label = textRect();
        lblVolume->setText(text);
        if (QAccessible::isActive()) {
            QAccessibleValueChangeEvent event(this, text);
            QAccessible::updateAccessibility(&event);
        }
    }
    // Painted now, while the reading is handled: a posted update would cost the event loop one
    // more round for every reading. A hidden meter has nothing to paint.
    const QRect dirty = bar.united(label); // a null part leaves the other as it is
    if (!dirty.isNull() && isVisible())
        repaint(dirty);
}

void LevelMeter::changeEvent(QEvent* event)
{
    // Pictures are made again for a new font, palette or style; a new screen shows in their
    // pixel ratio when they are next used.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange ||
        event->type() == QEvent::StyleChange)
        m_glyphs.clear(), m_fullBar = QPixmap();
    if (event->type() == QEvent::LocaleChange)
        m_texts.clear();
    QWidget::changeEvent(event);
}

const LevelMeter::Glyph& LevelMeter::glyph(QChar c)
{
    auto it = m_glyphs.find(c);
    if (it == m_glyphs.end() || it->picture.devicePixelRatio() != devicePixelRatioF()) {
        const QFontMetricsF metrics(font());
        Glyph g;
        g.advance = metrics.horizontalAdvance(c);
        const qreal ratio = devicePixelRatioF();
        g.picture = QPixmap(QSize(int(std::ceil(g.advance)) + 2, kHeight) * ratio);
        g.picture.setDevicePixelRatio(ratio);
        g.picture.fill(Qt::transparent);
        QPainter p(&g.picture);
        p.setFont(font());
        p.setPen(palette().color(QPalette::Active, QPalette::WindowText));
        p.drawText(QRectF(0, 0, g.advance + 2, kHeight), Qt::AlignLeft | Qt::AlignVCenter, QString(c));
        it = m_glyphs.insert(c, g);
    }
    return *it;
}

const QPixmap& LevelMeter::fullBar()
{
    if (!m_fullBar.isNull() && m_fullBarEnabled == isEnabled() &&
        m_fullBar.devicePixelRatio() == devicePixelRatioF())
        return m_fullBar;
    const qreal ratio = devicePixelRatioF();
    m_fullBar = QPixmap(QSize(kFullScaleWidth, kBarHeight) * ratio);
    m_fullBar.setDevicePixelRatio(ratio);
    m_fullBarEnabled = isEnabled();
    QPainter p(&m_fullBar);
    // Zone edges as fractions of full scale: -18 dBFS and -6 dBFS.
    const double yellowFrom = std::pow(10.0, -18.0 / 20.0) * kFullScaleWidth;
    const double redFrom = std::pow(10.0, -6.0 / 20.0) * kFullScaleWidth;
    const bool on = m_fullBarEnabled;
    p.fillRect(QRectF(0, 0, yellowFrom, kBarHeight), on ? QColor(40, 190, 60) : QColor(150, 170, 150));
    p.fillRect(QRectF(yellowFrom, 0, redFrom - yellowFrom, kBarHeight),
               on ? QColor(235, 200, 30) : QColor(180, 175, 140));
    p.fillRect(QRectF(redFrom, 0, kFullScaleWidth - redFrom, kBarHeight),
               on ? QColor(225, 45, 35) : QColor(180, 140, 140));
    // Segment gaps make it read as a meter rather than a progress bar.
    p.setPen(QColor(0, 0, 0, 60));
    for (int x = 4; x < kFullScaleWidth; x += 5)
        p.drawLine(x, 0, x, kBarHeight);
    return m_fullBar;
}

void LevelMeter::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QRect box(0, kBoxTop, kBoxWidth, kBoxHeight);
    const QRect dirty = event->rect();
    if (dirty.intersects(box)) {
        p.fillRect(box, kBoxColour);
        const int w = std::min(m_barWidth, kFullScaleWidth);
        if (w > 0)
            p.drawPixmap(QPointF(1, kBoxTop + 1), fullBar(), QRectF(QPointF(0, 0), QSizeF(w, kBarHeight)));
    }
    if (dirty.intersects(textRect()) || !dirty.intersects(box)) {
        p.fillRect(rect().adjusted(kBoxWidth, 0, 0, 0), palette().color(QPalette::Window));
        p.fillRect(QRect(0, 0, kBoxWidth, kBoxTop), palette().color(QPalette::Window));
        p.fillRect(QRect(0, kBoxTop + kBoxHeight, kBoxWidth, kHeight - kBoxTop - kBoxHeight),
                   palette().color(QPalette::Window));
        qreal x = kTextLeft;
        const QString text = lblVolume->text();
        for (QChar c : text) {
            const Glyph& g = glyph(c);
            p.drawPixmap(QPointF(std::round(x), 0), g.picture);
            x += g.advance;
        }
    }
}

} // namespace vexo
