#include "LevelMeter.h"

#include "diagnostics/LevelMonitor.h"

#include <QPainter>

#include <cmath>

namespace vexo {

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("VUMeter"));
}

void LevelMeter::showPeak(qint32 peak)
{
    resize(int(std::lround(meterWidthTwips(peak) / 15.0)), height());
}

void LevelMeter::paintEvent(QPaintEvent*)
{
    if (width() <= 0)
        return;
    QPainter p(this);
    // Zone edges as fractions of full scale: -18 dBFS and -6 dBFS.
    const double yellowFrom = std::pow(10.0, -18.0 / 20.0) * kFullScaleWidth;
    const double redFrom = std::pow(10.0, -6.0 / 20.0) * kFullScaleWidth;
    const QColor green = isEnabled() ? QColor(40, 190, 60) : QColor(150, 170, 150);
    const QColor yellow = isEnabled() ? QColor(235, 200, 30) : QColor(180, 175, 140);
    const QColor red = isEnabled() ? QColor(225, 45, 35) : QColor(180, 140, 140);
    const int h = height();
    const int w = width();
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
