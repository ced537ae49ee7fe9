#include "Exporter.h"

#include "MetricsServer.h"

#include "CliSupport.h"
#include "Commands.h"

#include "core/Station.h"
#include "diagnostics/LevelMonitor.h"
#include "diagnostics/PingTest.h"
#include "link/ConfigCodec.h"
#include "measure/MeasureArithmetic.h"
#include "store/IniFile.h"

#include <prometheus/exposer.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>
#include <QTimer>
#include <QtConcurrent>

#include <cmath>
#include <malloc.h>
#include <map>

namespace vexo::cli {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

std::vector<MetricFamily> MetricsSnapshot::Collect() const
{
    std::shared_ptr<const std::vector<MetricFamily>> families;
    {
        std::lock_guard lock(m_mutex);
        families = m_families;
    }
    return *families;
}

void MetricsSnapshot::replace(std::vector<MetricFamily> families)
{
    auto next = std::make_shared<const std::vector<MetricFamily>>(std::move(families));
    std::lock_guard lock(m_mutex);
    m_families = std::move(next);
}

namespace {

// The families in the order they are served, with their help texts.
struct FamilySpec
{
    const char* name;
    const char* help;
    MetricType type;
};

enum Metric
{
    Up,
    TxFrames,
    TxFrameErrors,
    RxFrames,
    RxFrameErrors,
    AudioFrames,
    AudioFrameErrors,
    PtpSyncs,
    PtpSyncErrors,
    PtpClockDifference,
    PtpMeasuredDelay,
    SfnLatencyAverage,
    SfnLatencyMinimum,
    SfnLatencyMaximum,
    SfnAdditionalDelay,
    SfnAutoServo,
    SfnServoCorrection,
    SfnLatencySummary,
    PingSuccess,
    PingRtt,
    AudioPeak,
    MetricCount
};

const FamilySpec kFamilies[MetricCount] = {
    {"vexolink_element_up", "Whether the element answered the last poll (1) or not (0).", MetricType::Gauge},
    {"vexolink_tx_frames_total", "Good frames the element sent (Good TX Frames).", MetricType::Counter},
    {"vexolink_tx_frame_errors_total", "Bad frames the element sent (Bad TX Frames).", MetricType::Counter},
    {"vexolink_rx_frames_total", "Good frames the element received (Good RX Frames).", MetricType::Counter},
    {"vexolink_rx_frame_errors_total", "Bad frames the element received (Bad RX Frames).",
     MetricType::Counter},
    {"vexolink_audio_frames_total", "Good audio frames (OK Audio Frames).", MetricType::Counter},
    {"vexolink_audio_frame_errors_total", "Bad audio frames (Bad Audio Frames).", MetricType::Counter},
    {"vexolink_ptp_syncs_total", "Good PTP sync messages of an SFN element (Good PTP Sync).",
     MetricType::Counter},
    {"vexolink_ptp_sync_errors_total", "Bad PTP sync messages of an SFN element (Bad PTP Sync).",
     MetricType::Counter},
    {"vexolink_ptp_clock_difference_seconds", "Clock difference of an SFN decoder.", MetricType::Gauge},
    {"vexolink_ptp_measured_delay_seconds",
     "Measured delay of an SFN decoder (path delay plus compensation).", MetricType::Gauge},
    {"vexolink_sfn_network_latency_average_seconds", "Average network latency of an SFN decoder.",
     MetricType::Gauge},
    {"vexolink_sfn_network_latency_minimum_seconds", "Minimum network latency of an SFN decoder.",
     MetricType::Gauge},
    {"vexolink_sfn_network_latency_maximum_seconds", "Maximum network latency of an SFN decoder.",
     MetricType::Gauge},
    {"vexolink_sfn_additional_delay_seconds", "Latency compensation (additional delay) of an SFN decoder.",
     MetricType::Gauge},
    {"vexolink_sfn_auto_servo", "Whether the auto servo of an SFN decoder is on (1) or off (0).",
     MetricType::Gauge},
    {"vexolink_sfn_servo_correction_seconds", "Correction the auto servo applies (0 while off).",
     MetricType::Gauge},
    {"vexolink_sfn_latency_summary_seconds",
     "Latency summary of an SFN decoder (network latency plus both interface latencies), quantile avg, "
     "min or max.",
     MetricType::Gauge},
    {"vexolink_ping_success", "Whether the element answered the last ICMP echo (1) or not (0).",
     MetricType::Gauge},
    {"vexolink_ping_rtt_seconds", "Round-trip time of the last answered ICMP echo.", MetricType::Gauge},
    {"vexolink_audio_peak_ratio", "Audio peak of an encoder as a fraction of full scale (dBFS = 20*log10).",
     MetricType::Gauge},
};

} // namespace

Exporter::Exporter(Station& station, Icmp& icmp, bool level, QObject* parent)
    : QObject(parent), m_station(station), m_store(station.store()), m_icmp(icmp), m_level(level),
      m_deadline(new QTimer(this)), m_retry(new QTimer(this))
{
    m_retry->setInterval(kRetryMs);
    connect(m_retry, &QTimer::timeout, this, [this] {
        for (const QPointer<MeasureExchange>& x : std::as_const(m_exchanges)) {
            if (x)
                x->resend();
        }
        for (const QPointer<LevelReading>& r : std::as_const(m_levels)) {
            if (r)
                r->resend();
        }
    });
    m_pingPool.setMaxThreadCount(kPingThreads);
    m_deadline->setSingleShot(true);
    m_deadline->setInterval(kAnswerMs);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        m_answersDone = true;
        maybeFinish();
    });
    connect(&m_pings, &QFutureWatcherBase::finished, this, &Exporter::maybeFinish);
}

Exporter::~Exporter()
{
    m_pings.waitForFinished();
    for (const QPointer<MeasureExchange>& x : std::as_const(m_exchanges))
        delete x.data();
    for (const QPointer<LevelReading>& r : std::as_const(m_levels))
        delete r.data();
    if (m_holdingPort)
        m_station.measurePort().release();
}

bool Exporter::bind(QString* error)
{
    // Held between polls too: another program must not take the port in between.
    if (!m_holdingPort && !m_station.measurePort().acquire()) {
        *error = QStringLiteral(
            "UDP port 2978 is in use on this host (vexolink-nms or another exporter holds it)");
        return false;
    }
    m_holdingPort = true;
    if (m_level && !m_station.bindConfigPort()) {
        *error = QStringLiteral(
            "UDP port 2976 is in use on this host (vexolink-nms holds it); the level needs it");
        return false;
    }
    return true;
}

void Exporter::loadTargets()
{
    // The store may have changed since the last poll (the window or a discovery rewrote it).
    QList<Target> targets;
    if (m_store.exists()) {
        for (const QString& mac : m_store.elements()) {
            if (m_store.lineCount(mac) >= kCorruptedSectionLines)
                continue;
            Target t;
            t.mac = mac;
            t.name = m_store.read(mac, keys::name).trimmed();
            t.ip = m_store.read(mac, keys::ip).trimmed();
            t.role = storedInt(m_store.read(mac, keys::role));
            targets.append(t);
        }
    }
    m_targets = targets;
}

void Exporter::poll()
{
    if (m_polling)
        return;
    m_polling = true;
    m_answersDone = false;
    m_answered = m_levelsAnswered = m_levelsExpected = 0;
    m_clock.start();
    loadTargets();

    // Each operation ends with the element's record or a request that could not leave; those
    // that are waiting are asked again at kRetryMs. The poll bounds their wait: a record that
    // comes after the answer time while the echoes are still out counts, as one from a poll
    // that ended does not (finish() drops the operations still waiting).
    m_exchanges.clear();
    const int count = int(m_targets.size());
    const quint64 poll = ++m_pollNumber;
    for (int i = 0; i < count; ++i) {
        m_exchanges.append(m_station.readStatistics(
            m_targets[i].mac,
            [this, i, poll](const MeasureOutcome& o) {
                if (poll == m_pollNumber)
                    onMeasured(i, o);
            },
            kAnswerMs + kPingTimeoutMs * 4));
    }
    m_levels.clear();
    for (int i = 0; m_level && i < count; ++i) {
        if (m_targets[i].role != int(Role::Encoder))
            continue;
        ++m_levelsExpected;
        // Completes at once (and returns nothing) when the store changed since it was read.
        LevelReading* reading = m_station.readLevel(
            m_targets[i].mac,
            [this, i, poll](const LevelOutcome& o) {
                if (poll == m_pollNumber)
                    onLevel(i, o);
            },
            kAnswerMs + kPingTimeoutMs * 4);
        if (reading && !reading->isFinished())
            m_levels.append(reading);
    }
    // The echoes after the requests: on a first poll both wait for the neighbours' ARP answers,
    // and the records are what the poll is for.
    QStringList ips;
    for (const Target& t : m_targets)
        ips.append(t.ip);
    Icmp& icmp = m_icmp;
    m_pings.setFuture(QtConcurrent::mapped(&m_pingPool, std::move(ips), [&icmp](const QString& ip) {
        return pingAddress(icmp, ip, kPingTimeoutMs);
    }));
    m_deadline->start();
    m_retry->start();
    checkAnswers();
}

void Exporter::onMeasured(int target, const MeasureOutcome& outcome)
{
    if (!m_polling || target >= m_targets.size() || m_targets[target].outcome)
        return;
    m_targets[target].outcome = outcome;
    ++m_answered;
    checkAnswers();
}

void Exporter::checkAnswers()
{
    if (m_polling && !m_answersDone && m_answered >= m_targets.size() &&
        m_levelsAnswered >= m_levelsExpected) {
        m_answersDone = true;
        m_retry->stop();
    }
    maybeFinish();
}

void Exporter::onLevel(int target, const LevelOutcome& outcome)
{
    if (!m_polling || target >= m_targets.size() || m_targets[target].levelDone)
        return;
    m_targets[target].levelDone = true;
    if (outcome.result == LevelOutcome::Result::Reading)
        m_targets[target].peak = outcome.peak;
    ++m_levelsAnswered;
    checkAnswers();
}

void Exporter::maybeFinish()
{
    if (m_polling && m_answersDone && m_pings.isFinished())
        finish();
}

void Exporter::finish()
{
    if (!m_polling || !m_pings.isFinished())
        return;
    const QList<PingOutcome> pings = m_pings.future().results();
    for (int i = 0; i < pings.size() && i < m_targets.size(); ++i)
        m_targets[i].ping = pings[i];
    m_deadline->stop();
    m_retry->stop();
    // Operations still waiting (only after the deadline) are not this poll's any more. Later:
    // this may run inside the last operation's completion.
    for (const QPointer<MeasureExchange>& x : std::as_const(m_exchanges)) {
        if (x && !x->isFinished()) {
            x->disconnect(this);
            x->deleteLater();
        }
    }
    m_exchanges.clear();
    for (const QPointer<LevelReading>& r : std::as_const(m_levels)) {
        if (r && !r->isFinished())
            r->cancel();
    }
    m_levels.clear();
    m_polling = false;
    m_lastPollMs = m_clock.elapsed();
    m_snapshot->replace(buildMetrics());
    emit pollFinished();
}

std::vector<MetricFamily> Exporter::buildMetrics() const
{
    std::vector<MetricFamily> families(MetricCount);
    for (int m = 0; m < MetricCount; ++m) {
        families[m].name = kFamilies[m].name;
        families[m].help = kFamilies[m].help;
        families[m].type = kFamilies[m].type;
    }
    for (const Target& t : m_targets) {
        const std::vector<ClientMetric::Label> labels = {
            {"ip", t.ip.toStdString()},
            {"mac", t.mac.toStdString()},
            {"name", t.name.toStdString()},
            {"role", roleCaption(t.role).toLower().toStdString()}};
        auto add = [&](Metric m, double value) {
            ClientMetric c;
            c.label = labels;
            if (kFamilies[m].type == MetricType::Counter)
                c.counter.value = value;
            else
                c.gauge.value = value;
            families[m].metric.push_back(std::move(c));
        };
        // A record that the arithmetic refused still answered: its rows before the failure count.
        const bool up = t.outcome && t.outcome->record;
        add(Up, up ? 1 : 0);
        const bool pinged = t.ping.result == PingOutcome::Result::Replied;
        add(PingSuccess, pinged ? 1 : 0);
        if (pinged)
            add(PingRtt, t.ping.roundTripMs / 1e3);
        if (t.peak)
            add(AudioPeak, double(*t.peak) / kFullScale);
        if (!up)
            continue;
        // What the statistics window shows of this element, with its rules for the PTP rows.
        const StatisticsReading& r = *t.outcome->statistics;
        auto addCount = [&](Metric m, const std::optional<qint32>& v) {
            if (v)
                add(m, *v);
        };
        auto addErrors = [&](Metric m, const std::optional<ErrorCount>& v) {
            if (v)
                add(m, v->count);
        };
        auto addSeconds = [&](Metric m, const std::optional<qint32>& ns) {
            if (ns)
                add(m, *ns / 1e9);
        };
        addCount(TxFrames, r.txFramesOk);
        addErrors(TxFrameErrors, r.txFramesErr);
        addCount(RxFrames, r.rxFramesOk);
        addErrors(RxFrameErrors, r.rxFramesErr);
        addCount(AudioFrames, r.audioFramesOk);
        addErrors(AudioFrameErrors, r.audioFramesErr);
        addCount(PtpSyncs, r.ptpSyncOk);
        addCount(PtpSyncErrors, r.ptpSyncErr);
        addSeconds(PtpClockDifference, r.clockDifferenceNs);
        addSeconds(PtpMeasuredDelay, r.measuredDelayNs);
        const LatencyReading& sfn = *t.outcome->latency;
        if (sfn.sfnDecoder && !sfn.failed) {
            add(SfnLatencyAverage, sfn.average->networkNs / 1e9);
            add(SfnLatencyMinimum, sfn.minimum->networkNs / 1e9);
            add(SfnLatencyMaximum, sfn.maximum->networkNs / 1e9);
            add(SfnAdditionalDelay, sfn.additionalDelayNs / 1e9);
            add(SfnAutoServo, sfn.autoServo ? 1 : 0);
            add(SfnServoCorrection, sfn.servoCorrectionNs / 1e9);
            // The figures the SFN overview aligns, so that an alert can watch the network's spread.
            for (const auto& [quantile, row] :
                 {std::pair{"avg", &sfn.average}, {"min", &sfn.minimum}, {"max", &sfn.maximum}}) {
                ClientMetric c;
                c.label = labels;
                c.label.push_back({"quantile", quantile});
                c.gauge.value = (qint64((*row)->networkNs) + FixedLatencyMacNs + FixedLatencyAudioNs) / 1e9;
                families[SfnLatencySummary].metric.push_back(std::move(c));
            }
        }
    }
    MetricFamily duration{
        "vexolink_exporter_poll_duration_seconds", "How long the last poll took.", MetricType::Gauge, {}};
    ClientMetric d;
    d.gauge.value = m_clock.elapsed() / 1e3;
    duration.metric.push_back(d);
    families.push_back(duration);
    MetricFamily last{"vexolink_exporter_last_poll_timestamp_seconds",
                      "When the last poll ended (Unix time).",
                      MetricType::Gauge,
                      {}};
    ClientMetric l;
    l.gauge.value = QDateTime::currentMSecsSinceEpoch() / 1e3;
    last.metric.push_back(l);
    families.push_back(last);
    // A family without samples is left out rather than served empty.
    std::erase_if(families, [](const MetricFamily& f) { return f.metric.empty(); });
    return families;
}

int runExporter(const QCommandLineParser& parser, CliEnvironment& env)
{
    const QString listen = parser.value(QStringLiteral("listen"));
    const qsizetype colon = listen.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const int port = listen.mid(colon + 1).toInt(&portOk);
    const QString address = listen.left(colon);
    if (listen.isEmpty())
        throw CliError(UsageError, QStringLiteral("--listen ADDRESS:PORT is required"));
    if (colon < 0 || !portOk || port < 1 || port > 65535 || !isValidIp(address))
        throw CliError(UsageError,
                       QStringLiteral("malformed listen address '%1' (e.g. 127.0.0.1:9876)").arg(listen));
    bool ok = false;
    const double interval = parser.value(QStringLiteral("interval")).toDouble(&ok);
    if (!ok || interval < 1 || interval > 3600)
        throw CliError(UsageError, QStringLiteral("--interval must be 1 to 3600 seconds"));
    storedElements(ElementStore(env.storePath)); // a missing store is refused before anything binds
    WebConfig web;
    const QString webConfig = parser.value(QStringLiteral("web-config"));
    QString problem;
    if (parser.isSet(QStringLiteral("web-config")) && !loadWebConfig(webConfig, web, &problem))
        throw CliError(UsageError, problem);

    // Every scrape builds the text of a few MB in a growing buffer. Left to glibc's defaults, such
    // buffers are mapped fresh and handed back each time, and their page faults cost a third of
    // a scrape; kept in the heap, they are reused (a few MB more resident).
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);

    ConsoleBoxes boxes(env.err);
    CommandEnd end;
    Station station(
        StationServices{boxes, env.settings, end, env.arp, env.icmp, env.storePath, env.bindAddress});
    Exporter exporter(station, env.icmp, parser.isSet(QStringLiteral("level")));
    QString error;
    if (!exporter.bind(&error))
        throw CliError(PortBusy, error);
    std::unique_ptr<MetricsServer> server;
    std::unique_ptr<prometheus::Exposer> exposer;
    if (parser.isSet(QStringLiteral("web-config"))) {
        // TLS and basic authentication: served by the event loop over Qt's TLS, which the
        // system's OpenSSL backs.
        server = std::make_unique<MetricsServer>(web, exporter.snapshot());
        if (!server->listen(QHostAddress(address), quint16(port), &problem))
            throw CliError(PortBusy, QStringLiteral("cannot listen on %1: %2").arg(listen, problem));
    } else {
        try {
            exposer = std::make_unique<prometheus::Exposer>(listen.toStdString(), 2);
        } catch (const std::exception& e) {
            throw CliError(
                PortBusy,
                QStringLiteral("cannot listen on %1: %2").arg(listen, QString::fromLocal8Bit(e.what())));
        }
    }
    if (exposer)
        exposer->RegisterCollectable(exporter.snapshot());
    env.err << "vexolink-cli exporter: serving " << (web.tls() ? "https" : "http") << "://" << listen
            << "/metrics, polling every " << interval << " s" << Qt::endl;

    QTimer timer;
    timer.setInterval(int(interval * 1000));
    QObject::connect(&timer, &QTimer::timeout, &exporter, &Exporter::poll);
    timer.start();
    exporter.poll();
    return QCoreApplication::exec();
}

} // namespace vexo::cli
