#include "LevelMonitor.h"

#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
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

QString levelText(qint32 peak, const QLocale& locale)
{
    if (peak <= 0)
        return QStringLiteral("-oodBFS");
    const double r = double(peak) / kFullScale;
    return formatShortest(roundHalfEven(20.0 * log10Of(r), 1), locale) + QStringLiteral("dBFS");
}

LevelMonitor::LevelMonitor(ConfigLink& link, QObject* parent) : QObject(parent), m_link(link)
{
    m_tmrVolume = new QTimer(this);
    m_tmrVolume->setObjectName(QStringLiteral("tmrVolume"));
    m_tmrVolume->setInterval(kDefaultIntervalMs);
    connect(m_tmrVolume, &QTimer::timeout, this, &LevelMonitor::onTick);
    connect(&m_link, &ConfigLink::levelReply, this, &LevelMonitor::applyLevelReply);
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

void LevelMonitor::onTick()
{
    if (!m_link.sendLevelRequest(kLevelRequest)) {
        // The link has told the operator why; polling on would repeat the message 20 times a
        // second.
        stop();
        emit stoppedOnFailure();
    }
}

void LevelMonitor::applyLevelReply(const QByteArray& reply)
{
    m_peakLevel = peakLevelOf(reply);
    // A reply that arrives after the monitor stopped leaves the display blank.
    emit levelChanged(isRunning() ? m_peakLevel : 0);
}

} // namespace vexo
