#pragma once

#include "ElementConfig.h"
#include "measure/MeasureCodec.h"

#include <QByteArray>
#include <QJsonObject>

#include <optional>
#include <random>

namespace vexo::sim {

// The element's UDP ports by what arrives there.
enum class Port
{
    Paging,
    Config,
    Command,
    Measure
};
quint16 portNumber(Port port);
QString portName(Port port);

inline constexpr int kLevelReplySize = 1440;
inline constexpr int kLevelSamples = 479;
inline constexpr int kFullScale = 8388608;
inline const QByteArray kLevelRequest = QByteArrayLiteral("VOL");

// round(8388608 * 10^(dBFS/20)) clipped to 8388607; 0 below -150 dBFS.
qint32 peakForDbfs(double dbfs);

// 479 samples of a tone (48 samples a period, 24-bit two's complement, most significant byte
// first) whose positive peak is exactly `peak`, then 3 zero bytes: 1440 bytes.
QByteArray buildLevelReply(qint32 peak);

// Cut to `length`, or padded with zero bytes; a negative length leaves the datagram alone.
QByteArray fitLength(QByteArray datagram, int length);

// Counters that grow with the time since the last reset, path delay with jitter, and the
// additional delay and auto servo set by SetDelayRequest.
class MeasureModel
{
public:
    explicit MeasureModel(quint64 seed);

    void reset(qint64 nowMs);
    void setDelay(const SetDelay& request, const ElementConfig& config, qint64 nowMs);
    MeasurementValues values(const ElementConfig& config, qint64 nowMs);

    qint32 additionalDelay() const { return m_additionalDelay; }
    bool autoServo() const { return m_autoServo; }

    // Propagation delay samples are taken at this interval (PTP delay requests).
    static constexpr int kSampleIntervalMs = 125;

private:
    qint32 servoValue(const ElementConfig& config, qint64 nowMs) const;
    qint32 pathSample(const ElementConfig& config);

    std::mt19937_64 m_random;
    double m_phase[5] = {};
    qint64 m_resetAtMs = 0;
    qint64 m_lastSampleMs = 0;
    qint64 m_samples = 0;
    qint64 m_sampleSum = 0;
    qint32 m_min = 0, m_max = 0, m_last = 0;
    qint32 m_additionalDelay = 0;
    bool m_autoServo = false;
    qint64 m_servoSinceMs = 0;
    double m_servoStart = 0;
};

// What an element does with one datagram.
struct Outcome
{
    std::optional<QByteArray> reply; // to the sender's address and port
    int delayMs = 0;
    bool stateChanged = false;
    QString what;                      // for the log: what arrived and what was done
    std::optional<QString> previousIp; // a ConfigRequest moved the element to config().ip
};

// One element's protocol logic, free of sockets: tests feed it datagrams directly.
class Element
{
public:
    Element(ElementConfig config, quint64 seed, qint64 nowMs = 0);

    const ElementConfig& config() const { return m_config; }
    ElementConfig& config() { return m_config; }

    Outcome handle(Port port, const QByteArray& datagram, qint64 nowMs);

    // The ConfigReply of the current configuration, faults applied.
    QByteArray configReply() const;
    // The tone peak at this moment (moving when levelMoving is set).
    qint32 currentPeak(qint64 nowMs);
    MeasurementValues measurements(qint64 nowMs) { return m_measure.values(m_config, nowMs); }

    // The configuration plus what tests assert on (counts of what arrived, delay, servo).
    QJsonObject stateJson() const;

    int pagings() const { return m_pagings; }
    int configRequests() const { return m_configRequests; }

private:
    ElementConfig m_config;
    MeasureModel m_measure;
    std::mt19937 m_levelRandom;
    int m_pagings = 0;
    int m_configRequests = 0;
    int m_attenuationMessages = 0;
    int m_levelRequests = 0;
    int m_statsRequests = 0;
    int m_statsResets = 0;
    int m_setDelays = 0;
    QByteArray m_lastSetDelay;
};

} // namespace vexo::sim
