#pragma once

#include <QByteArray>
#include <QLocale>
#include <QObject>
#include <QString>

class QCheckBox;
class QLabel;
class QSlider;
class QTimer;
class QWidget;

namespace vexo {

class ConfigLink;

inline const QByteArray kLevelRequest = QByteArrayLiteral("VOL");
inline constexpr qint32 kFullScale = 8388608; // 2^23, the magnitude of the most negative sample
inline constexpr int kMeterFullTwips = 2100;
inline constexpr int kLevelSamples = 479; // the samples read: bytes 0 to 1436

// Largest sample of zero or above among the first 479 24-bit samples (most significant byte
// first); 0 when there is none.
qint32 peakLevelOf(const QByteArray& reply);
// Bar width for a peak, in twips, rounded half to even.
int meterWidthTwips(qint32 peak);
// "-6dBFS", "-138.5dBFS"; "-oodBFS" for a peak of 0.
QString levelText(qint32 peak, const QLocale& locale = QLocale());

// The audio level monitor: while chkGetVolume is checked, tmrVolume sends a level request to the
// selected element at the interval of Slider1, and each level reply moves VUMeter and lblVolume.
class LevelMonitor : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultIntervalMs = 50;

    LevelMonitor(ConfigLink& link, QCheckBox* chkGetVolume, QWidget* VUMeter, QLabel* lblVolume,
                 QSlider* Slider1, QObject* parent = nullptr);

    void applyLevelReply(const QByteArray& reply);
    QTimer* timer() const { return tmrVolume; }
    qint32 PeakLevel = 0;
    int requestsSent() const { return m_requests; }
    int repliesApplied() const { return m_replies; }

signals:
    // Monitoring ended by itself (a request could not be sent).
    void stoppedOnFailure();

private:
    void onCheckChanged(bool checked);
    void onTick();
    void blank();

    ConfigLink& m_link;
    QCheckBox* m_check;
    QWidget* m_meter;
    QLabel* m_label;
    QSlider* m_slider;
    QTimer* tmrVolume;
    int m_requests = 0;
    int m_replies = 0;
};

} // namespace vexo
