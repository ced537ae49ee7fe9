#include "Element.h"

#include "link/ConfigCodec.h"

#include <QJsonValue>

#include <algorithm>
#include <cmath>

namespace vexo::sim {

quint16 portNumber(Port port)
{
    switch (port) {
    case Port::Paging:
        return kPagingPort;
    case Port::Config:
        return kConfigPort;
    case Port::Command:
        return kCommandPort;
    case Port::Measure:
        return kMeasurePort;
    }
    return 0;
}

QString portName(Port port)
{
    switch (port) {
    case Port::Paging:
        return QStringLiteral("paging");
    case Port::Config:
        return QStringLiteral("config");
    case Port::Command:
        return QStringLiteral("command");
    case Port::Measure:
        return QStringLiteral("measure");
    }
    return {};
}

qint32 peakForDbfs(double dbfs)
{
    if (!(dbfs >= -150.0)) // also NaN
        return 0;
    const double peak = std::round(double(kFullScale) * std::pow(10.0, dbfs / 20.0));
    return qint32(std::min(peak, double(kFullScale - 1)));
}

QByteArray buildLevelReply(qint32 peak)
{
    QByteArray d(kLevelReplySize, '\0');
    constexpr int kPeriod = 48; // 1 kHz at 48 kHz sampling
    for (int k = 0; k < kLevelSamples; ++k) {
        const int phase = k % kPeriod;
        qint32 s;
        if (phase == kPeriod / 4)
            s = peak; // exactly the stated peak, whatever sin() rounds to
        else if (phase == 3 * kPeriod / 4)
            s = -peak;
        else
            s = qint32(std::lround(double(peak) * std::sin(2.0 * M_PI * phase / kPeriod)));
        const quint32 u = quint32(s) & 0xFFFFFF;
        d[3 * k] = char(u >> 16);
        d[3 * k + 1] = char(u >> 8);
        d[3 * k + 2] = char(u);
    }
    return d;
}

QByteArray fitLength(QByteArray datagram, int length)
{
    if (length < 0)
        return datagram;
    if (length < datagram.size())
        datagram.truncate(length);
    else
        datagram.append(QByteArray(length - datagram.size(), '\0'));
    return datagram;
}

// ---------------------------------------------------------------------------------------------

MeasureModel::MeasureModel(quint64 seed) : m_random(seed)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (double& p : m_phase)
        p = unit(m_random);
}

void MeasureModel::reset(qint64 nowMs)
{
    m_resetAtMs = nowMs;
    m_lastSampleMs = nowMs;
    m_samples = 0;
    m_sampleSum = 0;
    m_min = m_max = m_last = 0;
}

qint32 MeasureModel::pathSample(const ElementConfig& c)
{
    std::uniform_int_distribution<qint32> jitter(-c.jitterNs, c.jitterNs);
    return qint32(std::max<qint64>(0, qint64(c.latencyNs) + jitter(m_random)));
}

qint32 MeasureModel::servoValue(const ElementConfig& c, qint64 nowMs) const
{
    if (!m_autoServo)
        return 0;
    // The servo pulls the playout so that path delay, additional delay and correction add up to
    // the target; it approaches the correction exponentially (time constant 3 s).
    const double target = double(c.servoTargetNs) - double(c.latencyNs) - double(m_additionalDelay);
    const double t = double(nowMs - m_servoSinceMs) / 3000.0;
    const double v = target + (m_servoStart - target) * std::exp(-t);
    return qint32(std::clamp(std::round(v), -2147483648.0, 2147483647.0));
}

void MeasureModel::setDelay(const SetDelay& request, const ElementConfig& config, qint64 nowMs)
{
    const qint32 current = servoValue(config, nowMs);
    m_additionalDelay = request.delayNs;
    const bool on = request.autoServo == 1;
    if (on && !m_autoServo) {
        m_servoStart = 0;
        m_servoSinceMs = nowMs;
    } else if (on) {
        m_servoStart = current; // a new target: converge from where the servo stands
        m_servoSinceMs = nowMs;
    }
    m_autoServo = on;
}

MeasurementValues MeasureModel::values(const ElementConfig& c, qint64 nowMs)
{
    // Path delay is measured 8 times a second; at most the last 4096 measurements are simulated
    // after a long quiet spell, which changes nothing visible.
    qint64 due = (nowMs - m_lastSampleMs) / kSampleIntervalMs;
    if (due > 0) {
        m_lastSampleMs += due * kSampleIntervalMs;
        due = std::min<qint64>(due, 4096);
    } else if (m_samples == 0) {
        due = 1; // right after a reset the element has a first measurement
    }
    for (qint64 i = 0; i < due; ++i) {
        const qint32 s = pathSample(c);
        m_min = m_samples == 0 ? s : std::min(m_min, s);
        m_max = m_samples == 0 ? s : std::max(m_max, s);
        m_last = s;
        m_sampleSum += s;
        ++m_samples;
    }

    const double seconds = double(std::max<qint64>(0, nowMs - m_resetAtMs)) / 1000.0;
    const qint64 audio = qint64(seconds * 1000.0); // one audio frame per millisecond
    const qint64 ptp = qint64(seconds * 8.0);      // sync interval 125 ms
    auto errors = [&](qint64 frames, double ppm, int phase) {
        return qint64(std::floor(double(frames) * ppm / 1e6 + m_phase[phase]));
    };
    auto i32 = [](qint64 v) { return qint32(v & 0x7FFFFFFF); }; // counters wrap like the device's
    const double ppm = c.errorPpm;

    MeasurementValues v;
    const qint64 syncErr = errors(ptp, 1000.0, 0);
    v.ptpSyncOk = i32(ptp - syncErr);
    v.ptpSyncErr = i32(syncErr);
    if (c.role == 2) {
        const qint64 rxErr = errors(audio, ppm, 1);
        const qint64 audioErr = errors(audio, ppm / 2, 2);
        v.rxFramesOk = i32(audio + ptp - rxErr);
        v.rxFramesErr = i32(rxErr);
        v.rxAudioFramesOk = i32(std::max<qint64>(0, audio - rxErr - audioErr));
        v.rxAudioFramesErr = i32(audioErr);
        const qint64 txErr = errors(ptp, ppm, 3);
        v.txFramesOk = i32(ptp - txErr);
        v.txFramesErr = i32(txErr);
    } else {
        const qint64 txErr = errors(audio, ppm, 3);
        v.txFramesOk = i32(audio - txErr);
        v.txFramesErr = i32(txErr);
        const qint64 rxErr = errors(ptp, ppm, 1);
        v.rxFramesOk = i32(ptp - rxErr);
        v.rxFramesErr = i32(rxErr);
    }
    std::uniform_int_distribution<qint32> offset(-(c.jitterNs / 8 + 50), c.jitterNs / 8 + 50);
    v.ptpSyncValue = offset(m_random);
    v.ptpSyncLatency = m_last;
    v.propagationDelayAverage = qint32(std::llround(double(m_sampleSum) / double(m_samples)));
    v.propagationDelayMinimum = m_min;
    v.propagationDelayMaximum = m_max;
    v.additionalDelay = m_additionalDelay;
    v.autoServoValue = servoValue(c, nowMs);
    v.autoServo = m_autoServo ? 1 : 0;
    return v;
}

// ---------------------------------------------------------------------------------------------

Element::Element(ElementConfig config, quint64 seed, qint64 nowMs)
    : m_config(std::move(config)), m_measure(seed), m_levelRandom(quint32(seed))
{
    m_measure.reset(nowMs);
}

QByteArray Element::configReply() const
{
    const ElementConfig& c = m_config;
    vexo::ElementConfig r;
    r.ip = c.forceIp.value_or(c.ip);
    r.mask = c.mask;
    r.gateway = c.gateway;
    r.remote = c.remote;
    r.audioSource = quint8(c.forceInput.value_or(c.audioSource));
    r.audioType = quint8(c.forceType.value_or(c.audioType));
    r.txType = quint8(c.forceTx.value_or(c.txType));
    r.name = c.forceName.value_or(c.name).leftJustified(16, QLatin1Char(' '), true);
    r.role = quint8(c.forceRole.value_or(c.role));
    r.serial = c.forceSerial.value_or(c.serial);
    r.versionMajor = quint8(c.versionMajor);
    r.versionMinor = quint8(c.versionMinor);
    r.sfn = quint8(c.forceSfn.value_or(c.sfn));
    r.buffer = quint8(c.forceBuffer.value_or(c.buffer));
    r.attenuation = quint8(c.forceAtt.value_or(c.attenuation));
    r.silenceMode = quint8(c.silenceMode);
    r.silenceLevel = quint8(c.silenceLevel);
    r.silenceTime = quint8(c.silenceTime);
    return fitLength(buildConfigReply(r), c.configReplyLength);
}

qint32 Element::currentPeak(qint64 nowMs)
{
    double db = m_config.levelDbfs;
    if (m_config.levelMoving) {
        // Phrases of a few seconds with syllables on top and a little randomness: the meter
        // lives, and the configured level stays the loudest it gets.
        const double t = double(nowMs) / 1000.0;
        const double phrase = 0.5 + 0.5 * std::sin(2.0 * M_PI * t / 4.1);
        const double syllable = 0.5 + 0.5 * std::sin(2.0 * M_PI * t / 0.37 + 1.3);
        std::uniform_real_distribution<double> flicker(0.0, 2.5);
        db -= 14.0 * (1.0 - phrase) + 6.0 * (1.0 - syllable) + flicker(m_levelRandom);
    }
    return peakForDbfs(db);
}

Outcome Element::handle(Port port, const QByteArray& d, qint64 nowMs)
{
    Outcome out;
    out.delayMs = m_config.delayMs;
    const QString size = QStringLiteral("%1 bytes").arg(d.size());
    if (m_config.silent) {
        out.what = QStringLiteral("%1 %2 ignored (silent)").arg(portName(port), size);
        return out;
    }
    switch (port) {
    case Port::Paging:
        if (d != QByteArray(kPagingRequest, kPagingRequestSize)) {
            out.what = QStringLiteral("paging port: %1 ignored (not the paging request)").arg(size);
            break;
        }
        ++m_pagings;
        out.reply = configReply();
        out.what = QStringLiteral("paging request -> ConfigReply");
        break;
    case Port::Config: {
        vexo::ElementConfig f;
        if (!parseConfigRequest(d, f)) {
            out.what = QStringLiteral("config port: %1 ignored (no ConfigRequest)").arg(size);
            break;
        }
        ++m_configRequests;
        out.stateChanged = true;
        if (m_config.staleReply) {
            out.reply = configReply();
            out.what = QStringLiteral("ConfigRequest (%1) ignored -> previous ConfigReply").arg(size);
            break;
        }
        ElementConfig& c = m_config;
        if (f.ip != c.ip)
            out.previousIp = c.ip;
        c.ip = f.ip;
        c.mask = f.mask;
        c.gateway = f.gateway;
        c.remote = f.remote;
        c.audioSource = f.audioSource;
        c.audioType = f.audioType;
        c.txType = f.txType;
        c.sfn = f.sfn;
        c.name = f.name;
        if (d.size() == 40) {
            c.buffer = f.buffer;
            c.silenceMode = f.silenceMode;
            c.silenceLevel = f.silenceLevel;
            c.silenceTime = f.silenceTime;
        }
        out.reply = configReply();
        out.what = QStringLiteral("ConfigRequest (%1) taken on -> ConfigReply").arg(size);
        break;
    }
    case Port::Command:
        if (d.size() == 2) {
            ++m_attenuationMessages;
            m_config.attenuation = quint8(d[0]);
            out.stateChanged = true;
            out.what = QStringLiteral("AttenuationMessage -> att %1").arg(m_config.attenuation);
        } else if (d == kLevelRequest) {
            ++m_levelRequests;
            out.reply = fitLength(buildLevelReply(currentPeak(nowMs)), m_config.levelReplyLength);
            out.what = QStringLiteral("level request -> LevelReply");
        } else {
            out.what = QStringLiteral("command port: %1 ignored").arg(size);
        }
        break;
    case Port::Measure:
        if (d == kGetStats || d == kGetDel) {
            ++m_statsRequests;
            out.reply = fitLength(buildMeasurementRecord(measurements(nowMs)), m_config.measureReplyLength);
            out.what = QStringLiteral("%1 -> MeasurementRecord").arg(QString::fromLatin1(d));
        } else if (d == kRstStats) {
            ++m_statsResets;
            m_measure.reset(nowMs);
            out.stateChanged = true;
            out.what = QStringLiteral("RstStats -> counters reset");
        } else if (const std::optional<SetDelay> s = parseSetDelayRequest(d)) {
            ++m_setDelays;
            m_lastSetDelay = d;
            if (!m_config.keepDelay)
                m_measure.setDelay(*s, m_config, nowMs);
            out.stateChanged = true;
            out.what = QStringLiteral("SetDelayRequest -> delay %1 ns, auto servo %2")
                           .arg(s->delayNs)
                           .arg(m_measure.autoServo() ? "on" : "off");
        } else {
            out.what = QStringLiteral("measure port: %1 ignored").arg(size);
        }
        break;
    }
    if (!out.reply)
        out.delayMs = 0;
    return out;
}

QJsonObject Element::stateJson() const
{
    QJsonObject o = toJson(m_config);
    o.insert(QStringLiteral("additional-delay-ns"), m_measure.additionalDelay());
    o.insert(QStringLiteral("auto-servo"), m_measure.autoServo());
    o.insert(QStringLiteral("pagings"), m_pagings);
    o.insert(QStringLiteral("config-requests"), m_configRequests);
    o.insert(QStringLiteral("attenuation-messages"), m_attenuationMessages);
    o.insert(QStringLiteral("level-requests"), m_levelRequests);
    o.insert(QStringLiteral("stats-requests"), m_statsRequests);
    o.insert(QStringLiteral("stats-resets"), m_statsResets);
    o.insert(QStringLiteral("set-delays"), m_setDelays);
    // The bytes of the last SetDelayRequest as they arrived ("53 00 03 d0 90 01").
    o.insert(QStringLiteral("last-set-delay-request"), QString::fromLatin1(m_lastSetDelay.toHex(' ')));
    return o;
}

} // namespace vexo::sim
