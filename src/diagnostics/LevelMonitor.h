#pragma once

#include <QByteArray>
#include <QLocale>
#include <QObject>
#include <QString>

#include <optional>

class QTimer;

namespace vexo {

inline const QByteArray kLevelRequest = QByteArrayLiteral("VOL");
inline constexpr qint32 kFullScale = 8388608; // 2^23, the magnitude of the most negative sample
inline constexpr int kMeterFullTwips = 2100;
inline constexpr int kLevelSamples = 479; // the samples read: bytes 0 to 1436

// Largest sample of zero or above among the first 479 24-bit samples (most significant byte
// first); 0 when there is none.
qint32 peakLevelOf(const QByteArray& reply);
// Bar width for a peak, in twips, rounded half to even.
int meterWidthTwips(qint32 peak);
// The level of a peak in tenths of a dBFS, rounded half to even (-62 for -6.2dBFS); none for 0.
std::optional<int> levelTenths(qint32 peak);
// "-6dBFS", "-138.5dBFS"; "-oodBFS" for a peak of 0.
QString levelText(qint32 peak, const QLocale& locale = QLocale());

// The audio level monitor: while it runs, tmrVolume ticks and its owner starts a level reading of
// the element it watches at each tick; each reading's peak comes back through applyPeak(). Whoever
// shows the level listens to levelChanged(); 0 there means an empty bar and "-oodBFS".
class LevelMonitor : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultIntervalMs = 50;

    explicit LevelMonitor(QObject* parent = nullptr);

    void start();
    void stop();
    bool isRunning() const;
    // A running monitor goes on at the new interval; below 1 ms counts as 1 ms.
    void setIntervalMs(int ms);
    int intervalMs() const;
    // tmrVolume, so that its owner (and a test) can tick it.
    QTimer* timer() const { return m_tmrVolume; }

    // The peak of the last reading (0 before any).
    qint32 peakLevel() const { return m_peakLevel; }
    // A reading that arrives after the monitor stopped leaves the display blank.
    void applyPeak(qint32 peak);

signals:
    void runningChanged(bool running);
    void levelChanged(qint32 peak);

private:
    QTimer* m_tmrVolume;
    qint32 m_peakLevel = 0;
};

} // namespace vexo
