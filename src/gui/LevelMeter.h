#pragma once

#include <QHash>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace vexo {

// The level display of the diagnostics row: the picture box with its bar (0 to 140 pixels for
// silence to full scale; the colour zones sit at fixed places of the full scale, as on a hardware
// meter) and the level text beside it ("-6dBFS"). Both are drawn here, so that a new reading
// repaints within this one rectangle and nothing beneath or beside it: twenty readings a second
// cost twenty small paints, not a relayout of the row. The bar at full scale and each character
// of the text are drawn once into pictures; a reading only copies the part that changed.
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
    struct Glyph
    {
        QPixmap picture;
        qreal advance = 0;
    };
    const Glyph& glyph(QChar c);
    const QPixmap& fullBar();
    QRect textRect() const { return QRect(kTextLeft, 0, kTextWidth, kHeight); }

    int m_barWidth = 0;
    QString m_text;
    QPixmap m_fullBar; // the bar at full scale, in the colours of the enabled state it was made in
    bool m_fullBarEnabled = false;
    QHash<QChar, Glyph> m_glyphs; // a level text has at most a dozen different characters
};

} // namespace vexo
