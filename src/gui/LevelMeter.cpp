#include "LevelMeter.h"

#include "diagnostics/LevelMonitor.h"

#include <QAccessible>
#include <QEvent>
#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>

#include <cmath>
#include <cstring>

namespace vexo {

namespace {
constexpr int kBoxTop = (LevelMeter::kHeight - LevelMeter::kBoxHeight) / 2;
constexpr int kBarHeight = LevelMeter::kBoxHeight - 2;
const QColor kBoxColour(30, 34, 40);

// Copies the rows of `target` from `from`, whose part at `source` has the same size, into `to`;
// both pictures RGB32, the rectangles within them.
void copyPixels(const QImage& from, QPoint source, QImage& to, const QRect& target)
{
    if (target.width() <= 0)
        return;
    for (int y = 0; y < target.height(); ++y)
        std::memcpy(reinterpret_cast<quint32*>(to.scanLine(target.y() + y)) + target.x(),
                    reinterpret_cast<const quint32*>(from.constScanLine(source.y() + y)) + source.x(),
                    size_t(target.width()) * sizeof(quint32));
}
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
    // Pictures are made again for a new font, palette or style (glyphs carry the background).
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange ||
        event->type() == QEvent::StyleChange)
        m_empty = QImage();
    if (event->type() == QEvent::LocaleChange)
        m_texts.clear();
    QWidget::changeEvent(event);
}

const LevelMeter::Glyph& LevelMeter::glyph(QChar c)
{
    auto it = m_glyphs.constFind(c);
    if (it == m_glyphs.cend()) {
        const qreal ratio = m_empty.devicePixelRatio();
        const QFontMetricsF metrics(font());
        Glyph g;
        g.advance = metrics.horizontalAdvance(c);
        g.picture = QImage(QSize(int(std::ceil(g.advance)) + 2, kHeight) * ratio, QImage::Format_RGB32);
        g.picture.setDevicePixelRatio(ratio);
        g.picture.fill(palette().color(QPalette::Window));
        QPainter p(&g.picture);
        p.setFont(font());
        p.setPen(palette().color(QPalette::Active, QPalette::WindowText));
        p.drawText(QRectF(0, 0, g.advance + 2, kHeight), Qt::AlignLeft | Qt::AlignVCenter, QString(c));
        it = m_glyphs.insert(c, g);
    }
    return *it;
}

void LevelMeter::makeFaces()
{
    const qreal ratio = devicePixelRatioF();
    if (!m_empty.isNull() && m_facesEnabled == isEnabled() && m_empty.devicePixelRatio() == ratio)
        return;
    m_facesEnabled = isEnabled();
    const bool on = m_facesEnabled;
    auto face = [&](bool fullBar) {
        QImage image(QSize(kWidth, kHeight) * ratio, QImage::Format_RGB32);
        image.setDevicePixelRatio(ratio);
        QPainter p(&image);
        p.fillRect(rect(), palette().color(QPalette::Window));
        p.fillRect(QRect(0, kBoxTop, kBoxWidth, kBoxHeight), kBoxColour);
        if (!fullBar)
            return image;
        p.translate(1, kBoxTop + 1);
        // Zone edges as fractions of full scale: -18 dBFS and -6 dBFS.
        const double yellowFrom = std::pow(10.0, -18.0 / 20.0) * kFullScaleWidth;
        const double redFrom = std::pow(10.0, -6.0 / 20.0) * kFullScaleWidth;
        p.fillRect(QRectF(0, 0, yellowFrom, kBarHeight), on ? QColor(40, 190, 60) : QColor(150, 170, 150));
        p.fillRect(QRectF(yellowFrom, 0, redFrom - yellowFrom, kBarHeight),
                   on ? QColor(235, 200, 30) : QColor(180, 175, 140));
        p.fillRect(QRectF(redFrom, 0, kFullScaleWidth - redFrom, kBarHeight),
                   on ? QColor(225, 45, 35) : QColor(180, 140, 140));
        // Segment gaps make it read as a meter rather than a progress bar.
        p.setPen(QColor(0, 0, 0, 60));
        for (int x = 4; x < kFullScaleWidth; x += 5)
            p.drawLine(x, 0, x, kBarHeight);
        return image;
    };
    m_empty = face(false);
    m_full = face(true);
    m_shown = m_empty;
    m_shownWidth = 0;
    m_shownText.clear();
    m_glyphs.clear();
}

void LevelMeter::compose()
{
    makeFaces();
    const qreal ratio = m_empty.devicePixelRatio();
    const auto device = [ratio](qreal x) { return int(std::lround(x * ratio)); };
    if (m_shownWidth != m_barWidth) {
        // The bar's columns up to the new end from the full bar, the rest from the empty one.
        const int top = device(kBoxTop + 1), height = device(kBoxTop + 1 + kBarHeight) - top;
        const int left = device(1), end = device(1 + std::min(m_barWidth, kFullScaleWidth)),
                  right = device(1 + kFullScaleWidth);
        copyPixels(m_full, {left, top}, m_shown, QRect(left, top, end - left, height));
        copyPixels(m_empty, {end, top}, m_shown, QRect(end, top, right - end, height));
        m_shownWidth = m_barWidth;
    }
    const QString text = lblVolume->text();
    if (m_shownText != text) {
        // The background, then the characters left to right: each covers what the one before
        // left beyond its advance.
        const int left = device(kTextLeft), right = device(kTextLeft + kTextWidth);
        copyPixels(m_empty, {left, 0}, m_shown, QRect(left, 0, right - left, m_shown.height()));
        qreal x = kTextLeft;
        for (QChar c : text) {
            const Glyph& g = glyph(c);
            const int at = device(std::round(x));
            copyPixels(g.picture, {0, 0}, m_shown,
                       QRect(at, 0, std::min(g.picture.width(), right - at), m_shown.height()));
            x += g.advance;
        }
        m_shownText = text;
    }
}

void LevelMeter::paintEvent(QPaintEvent* event)
{
    compose();
    const QRect dirty = event->rect();
    const qreal ratio = m_shown.devicePixelRatio();
    QPainter p(this);
    p.drawImage(dirty.topLeft(), m_shown,
                QRectF(QPointF(dirty.topLeft()) * ratio, QSizeF(dirty.size()) * ratio));
}

} // namespace vexo
