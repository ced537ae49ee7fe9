#pragma once

#include "diagnostics/LevelReading.h"
#include "diagnostics/PingTest.h"
#include "measure/MeasureExchange.h"
#include "platform/Icmp.h"
#include "store/ElementStore.h"

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QCommandLineParser;
class QTimer;

namespace vexo {
class Station;
}

namespace vexo::cli {

struct CliEnvironment;

// The metrics of the last complete poll, handed to the HTTP server's threads. A scrape copies
// what is there and never waits on the network.
class MetricsSnapshot : public prometheus::Collectable
{
public:
    std::vector<prometheus::MetricFamily> Collect() const override;
    void replace(std::vector<prometheus::MetricFamily> families);

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const std::vector<prometheus::MetricFamily>> m_families =
        std::make_shared<const std::vector<prometheus::MetricFamily>>();
};

// Polls every stored element: the station's statistics operation for each over its measurement
// port (the record holds the traffic, audio and PTP counters and the SFN latency figures alike),
// an ICMP echo each, and with `level` the station's level reading of each encoder (over its
// configuration port). A poll ends when every element has answered (or the
// answer time is up) and every echo is back; its metrics then replace the last poll's. An element
// that did not answer keeps its labels with vexolink_element_up 0.
class Exporter : public QObject
{
    Q_OBJECT
public:
    static constexpr int kAnswerMs = 2000;
    // Requests that met a full receive buffer (the element's or ours) are lost without a trace:
    // those not answered yet are asked again at this interval until the answer time is up.
    static constexpr int kRetryMs = 400;
    static constexpr int kPingThreads = 16;
    // On a LAN an echo takes well under a millisecond: one lost on the way must not hold the
    // poll for the window's 3 s.
    static constexpr int kPingTimeoutMs = 1000;

    Exporter(Station& station, Icmp& icmp, bool level, QObject* parent = nullptr);
    ~Exporter() override;

    // Holds the station's measurement port 2978 for the exporter's life (and binds the
    // configuration port 2976 for the level). False, with the port named in `error`, when another
    // program holds it.
    bool bind(QString* error);
    // Starts a poll unless one is running.
    void poll();
    bool isPolling() const { return m_polling; }

    std::shared_ptr<MetricsSnapshot> snapshot() const { return m_snapshot; }
    qint64 lastPollMs() const { return m_lastPollMs; }

signals:
    void pollFinished();

private:
    struct Target
    {
        QString mac, name, ip;
        int role = 0;
        std::optional<MeasureOutcome> outcome; // once the statistics operation completed
        std::optional<qint32> peak;
        bool levelDone = false; // the level reading completed (with a peak or without)
        PingOutcome ping;
    };

    void loadTargets();
    void onMeasured(int target, const MeasureOutcome& outcome);
    void onLevel(int target, const LevelOutcome& outcome);
    void checkAnswers();
    void maybeFinish();
    void finish();
    std::vector<prometheus::MetricFamily> buildMetrics() const;

    Station& m_station;
    const ElementStore& m_store;
    Icmp& m_icmp;
    bool m_level;
    bool m_holdingPort = false;
    QList<QPointer<MeasureExchange>> m_exchanges;
    QList<QPointer<LevelReading>> m_levels;
    QTimer* m_deadline;
    QTimer* m_retry;
    QThreadPool m_pingPool;
    QFutureWatcher<PingOutcome> m_pings;
    std::shared_ptr<MetricsSnapshot> m_snapshot = std::make_shared<MetricsSnapshot>();

    QList<Target> m_targets;
    int m_answered = 0;
    int m_levelsExpected = 0;
    int m_levelsAnswered = 0;
    bool m_polling = false;
    quint64 m_pollNumber = 0; // an operation of an earlier poll that ends late is not this one's
    bool m_answersDone = false;
    QElapsedTimer m_clock;
    qint64 m_lastPollMs = 0;
};

// `vexolink-cli exporter`: serves the metrics until the process is ended.
int runExporter(const QCommandLineParser& parser, CliEnvironment& env);

} // namespace vexo::cli
