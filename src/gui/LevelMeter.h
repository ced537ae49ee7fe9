#pragma once

#include <QHash>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QLabel;

namespace vexo {

// The level display of the diagnostics row: the picture box Picture2 with its bar VUMeter (0 to
// 140 pixels for silence to full scale; the colour zones sit at fixed places of the full scale, as
// on a hardware meter) and the level text lblVolume beside it ("-6dBFS"). The three are widgets of
// their own, with the geometry and text a reading gives them, but they are never shown: all of it
// is drawn here, so that a new reading repaints within this one rectangle and nothing beneath or
// beside it. Twenty readings a second cost twenty small paints, not three times as many, nor a
// relayout of the row. The bar at full scale and each character of the text are drawn once into
// pictures; a reading only copies the part that changed.
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
    QString text() const;

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
    const QString& textOf(qint32 peak);
    const QPixmap& fullBar();
    QRect textRect() const { return QRect(kTextLeft, 0, kTextWidth, kHeight); }

    QWidget* Picture2;
    QWidget* VUMeter;
    QLabel* lblVolume;
    int m_barWidth = 0;
    QPixmap m_fullBar; // the bar at full scale, in the colours of the enabled state it was made in
    bool m_fullBarEnabled = false;
    QHash<QChar, Glyph> m_glyphs;      // a level text has at most a dozen different characters
    static constexpr int kSilence = 1; // the key of "-oodBFS": no level is above 0 dBFS
    QHash<int, QString> m_texts;       // by tenths of a dBFS
};

} // namespace vexo
