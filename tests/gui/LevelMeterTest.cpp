// The level meter's picture: what a reading changes in it must look as if the meter had been
// drawn for that reading alone.
#include "gui/LevelMeter.h"
#include "diagnostics/LevelMonitor.h"

#include <QImage>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

QImage picture(LevelMeter& meter)
{
    return meter.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

TEST(LevelMeter, EveryReadingLooksAsIfTheMeterWereDrawnForItAlone)
{
    // GIVEN a meter shown through readings that move the bar both ways and change the text's length
    LevelMeter meter;
    meter.show();
    const qint32 sequence[] = {kFullScale / 2, kFullScale - 1, 1000, 0, kFullScale / 4, kFullScale / 3};
    for (qint32 peak : sequence) {
        meter.showPeak(peak);
        // THEN each picture is that of a new meter given this reading alone
        LevelMeter fresh;
        fresh.show();
        fresh.showPeak(peak);
        EXPECT_EQ(picture(meter), picture(fresh)) << peak;
    }
    // AND the bar of -6 dBFS fills 70 of 140 pixels of its box (green at its start, the box's own
    // colour after its end), and the text is drawn beside it, not on the window's background alone
    meter.showPeak(kFullScale / 2);
    const QImage shown = picture(meter);
    const int middle = LevelMeter::kHeight / 2;
    EXPECT_EQ(QColor(shown.pixel(2, middle)), QColor(40, 190, 60));
    EXPECT_EQ(QColor(shown.pixel(1 + 72, middle)), QColor(30, 34, 40));
    EXPECT_EQ(QColor(shown.pixel(1 + 68, middle)).red(), 235); // yellow: -18 to -6 dBFS
    const QRgb background = shown.pixel(LevelMeter::kWidth - 1, 0);
    int inked = 0;
    for (int x = LevelMeter::kTextLeft; x < LevelMeter::kWidth; ++x)
        for (int y = 0; y < LevelMeter::kHeight; ++y)
            inked += shown.pixel(x, y) != background;
    EXPECT_GT(inked, 20);
    EXPECT_EQ(meter.text(), "-6dBFS");
}

TEST(LevelMeter, ADisabledOrRepaletedMeterIsDrawnAgainInItsNewColours)
{
    LevelMeter meter;
    meter.show();
    meter.showPeak(kFullScale / 2);
    const QImage enabled = picture(meter);
    meter.setEnabled(false);
    EXPECT_EQ(QColor(picture(meter).pixel(2, LevelMeter::kHeight / 2)), QColor(150, 170, 150));
    meter.setEnabled(true);
    EXPECT_EQ(picture(meter), enabled);
    // AND with another background it looks as a new meter with that background does
    QPalette palette = meter.palette();
    palette.setColor(QPalette::Window, QColor(1, 2, 3));
    meter.setPalette(palette);
    LevelMeter fresh;
    fresh.setPalette(palette);
    fresh.show();
    fresh.showPeak(kFullScale / 2);
    EXPECT_EQ(picture(meter), picture(fresh));
    EXPECT_EQ(QColor(picture(meter).pixel(LevelMeter::kWidth - 1, 0)), QColor(1, 2, 3));
}
