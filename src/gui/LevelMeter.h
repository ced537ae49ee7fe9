#pragma once

#include <QWidget>

namespace vexo {

// The level bar: its width is the level (0 to 140 pixels for silence to full scale); the colour
// zones sit at fixed places of the full scale, as on a hardware meter.
class LevelMeter : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kFullScaleWidth = 140;
    explicit LevelMeter(QWidget* parent = nullptr);

    // The bar of a peak (0: empty).
    void showPeak(qint32 peak);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vexo
