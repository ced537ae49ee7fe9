#include "LevelMonitor.h"

#include "platform/Numbers.h"

#include <QTimer>

#include <cmath>

namespace vexo {

qint32 peakLevelOf(const QByteArray& reply)
{
    qint32 peak = 0;
    const int samples = int(std::min<qsizetype>(kLevelSamples, reply.size() / 3));
    for (int i = 0; i < samples; ++i) {
        const auto b0 = quint8(reply[i * 3]);
        if (b0 >= 0x80)
            continue; // only the positive half of the waveform counts
        const qint32 value =
            (qint32(b0) << 16) | (qint32(quint8(reply[i * 3 + 1])) << 8) | quint8(reply[i * 3 + 2]);
        peak = std::max(peak, value);
    }
    return peak;
}

int meterWidthTwips(qint32 peak)
{
    const double r = double(peak) / kFullScale;
    return int(roundHalfEven(r * kMeterFullTwips, 0));
}

std::optional<int> levelTenths(qint32 peak)
{
    if (peak <= 0)
        return std::nullopt;
    const double r = double(peak) / kFullScale;
    return int(roundHalfEven(200.0 * log10Of(r), 0));
}

QString levelText(qint32 peak, const QLocale& locale)
{
    const std::optional<int> tenths = levelTenths(peak);
    if (!tenths)
        return QStringLiteral("-oodBFS");
    return formatShortest(*tenths / 10.0, locale) + QStringLiteral("dBFS");
}

LevelMonitor::LevelMonitor(QObject* parent) : QObject(parent)
{
    m_tmrVolume = new QTimer(this);
    m_tmrVolume->setObjectName(QStringLiteral("tmrVolume"));
    m_tmrVolume->setInterval(kDefaultIntervalMs);
}

void LevelMonitor::start()
{
    if (isRunning())
        return;
    m_tmrVolume->start();
    emit runningChanged(true);
}

void LevelMonitor::stop()
{
    if (!isRunning())
        return;
    m_tmrVolume->stop();
    emit runningChanged(false);
    emit levelChanged(0);
}

bool LevelMonitor::isRunning() const
{
    return m_tmrVolume->isActive();
}

void LevelMonitor::setIntervalMs(int ms)
{
    m_tmrVolume->setInterval(std::max(1, ms)); // a running timer goes on at the new interval
}

int LevelMonitor::intervalMs() const
{
    return m_tmrVolume->interval();
}

void LevelMonitor::applyPeak(qint32 peak)
{
    m_peakLevel = peak;
    emit levelChanged(isRunning() ? m_peakLevel : 0);
}

} // namespace vexo
