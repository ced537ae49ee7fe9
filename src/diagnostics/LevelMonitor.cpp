#include "LevelMonitor.h"

#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "platform/Numbers.h"

#include <QCheckBox>
#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <QWidget>

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

LevelMonitor::LevelMonitor(ConfigLink& link, QCheckBox* chkGetVolume, QWidget* VUMeter, QLabel* lblVolume,
                           QSlider* Slider1, QObject* parent)
    : QObject(parent), m_link(link), m_check(chkGetVolume), m_meter(VUMeter), m_label(lblVolume),
      m_slider(Slider1)
{
    tmrVolume = new QTimer(this);
    tmrVolume->setObjectName(QStringLiteral("tmrVolume"));
    tmrVolume->setInterval(kDefaultIntervalMs);
    connect(tmrVolume, &QTimer::timeout, this, &LevelMonitor::onTick);
    connect(m_check, &QCheckBox::toggled, this, &LevelMonitor::onCheckChanged);
    connect(&m_link, &ConfigLink::levelReply, this, &LevelMonitor::applyLevelReply);
    if (m_slider) {
        m_slider->setValue(kDefaultIntervalMs);
        connect(m_slider, &QSlider::valueChanged, this, [this](int ms) {
            tmrVolume->setInterval(std::max(1, ms)); // a running timer goes on at the new interval
            m_slider->setToolTip(QStringLiteral("Polling interval: %1 ms").arg(ms));
        });
        m_slider->setToolTip(QStringLiteral("Polling interval: %1 ms").arg(kDefaultIntervalMs));
    }
}

void LevelMonitor::blank()
{
    m_label->setText(QStringLiteral("-oodBFS"));
    m_meter->resize(0, m_meter->height());
}

void LevelMonitor::onCheckChanged(bool checked)
{
    if (checked) {
        tmrVolume->start();
    } else {
        tmrVolume->stop();
        blank();
    }
}

void LevelMonitor::onTick()
{
    ++m_requests;
    if (!m_link.sendToSelected(kLevelRequest, kCommandPort)) {
        // The link has told the operator why; polling on would repeat the message 20 times a
        // second.
        m_check->setChecked(false);
        emit stoppedOnFailure();
    }
}

void LevelMonitor::applyLevelReply(const QByteArray& reply)
{
    PeakLevel = peakLevelOf(reply);
    ++m_replies;
    if (!tmrVolume->isActive() || PeakLevel == 0) {
        blank();
        return;
    }
    const int twips = meterWidthTwips(PeakLevel);
    m_meter->resize(int(std::lround(twips / 15.0)), m_meter->height());
    m_label->setText(levelText(PeakLevel));
}

} // namespace vexo
