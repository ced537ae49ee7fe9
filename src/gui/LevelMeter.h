#pragma once

#include <QHash>
#include <QStaticText>
#include <QString>
#include <QWidget>

namespace vexo {

// The level display of the diagnostics row: the picture box with its bar (0 to 140 pixels for
// silence to full scale; the colour zones sit at fixed places of the full scale, as on a hardware
// meter) and the level text beside it ("-6dBFS"). Both are drawn here, so that a new reading
// repaints this one rectangle and nothing beneath or beside it: twenty readings a second cost
// twenty small paints, not a relayout of the row.
class LevelMeter : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kFullScaleWidth = 140;
    static constexpr int kBoxWidth = kFullScaleWidth + 2;
    static constexpr int kBoxHeight = 14;
    static constexpr int kTextLeft = kBoxWidth + 8;
    static constexpr int kTextWidth = 80;
    static constexpr int kWidth = kTextLeft + kTextWidth;
    static constexpr int kHeight = 20;

    explicit LevelMeter(QWidget* parent = nullptr);

    // The bar and the text of a peak (0: an empty bar and "-oodBFS"). Nothing is repainted when
    // both stay as they are.
    void showPeak(qint32 peak);
    int barWidth() const { return m_barWidth; }
    QString text() const { return m_text; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    const QStaticText& staticText(const QString& text);

    int m_barWidth = 0;
    QString m_text;
    // Laid-out texts by content: a moving level repeats the same few hundred texts, and laying
    // one out costs more than drawing it.
    QHash<QString, QStaticText> m_texts;
};

} // namespace vexo
