// vexolink-cli and its exporter, the real programs, against simulated elements in a namespace
// lab: every command's --json against the simulator's own state, and Prometheus (the Debian
// server) scraping the exporter.
#include "Lab.h"
#include "TestUtil.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <cmath>

using namespace vexo;

namespace {

#define SKIP_WITHOUT_LAB()                                                                                   \
    if (const QString reason = Lab::unavailableReason(); !reason.isEmpty())                                  \
    GTEST_SKIP() << reason.toStdString()

constexpr double kLatencyNs = 500000;

// An encoder, an SFN decoder with a steady path (no jitter, no errors) and a decoder that states
// a name of its own in every answer.
class CliLab : public ::testing::Test
{
protected:
    bool startLab()
    {
        QString error;
        const QStringList steady = {"--latency-ns", "500000", "--jitter-ns", "0", "--error-ppm", "0"};
        if (!lab.up(1, 2, 1, &error, {{0, steady}, {1, steady}, {2, {"--force-name", "OTHER"}}})) {
            ADD_FAILURE() << error.toStdString();
            return false;
        }
        return true;
    }
    QProcess* start(const QString& program, const QStringList& args)
    {
        auto* p = new QProcess;
        p->setProgram(program);
        p->setArguments(args);
        p->setProcessEnvironment(environment());
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start();
        EXPECT_TRUE(p->waitForStarted(5000)) << program.toStdString();
        background.emplace_back(p);
        return p;
    }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VEXOLINK_NMS_STORE"), store);
        env.insert(QStringLiteral("HOME"), dir.path()); // the per-user settings of this run only
        return env;
    }
    // Runs a command to its end: its exit code, and its output as JSON.
    int cli(const QStringList& args, QJsonDocument* json = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(cliProgram(), args + QStringList{"--json"});
        EXPECT_TRUE(p.waitForFinished(60000)) << args.join(' ').toStdString();
        const QByteArray out = p.readAllStandardOutput();
        const QByteArray err = p.readAllStandardError();
        QJsonParseError parse;
        if (json)
            *json = QJsonDocument::fromJson(out, &parse);
        // A refused command prints nothing on stdout.
        EXPECT_TRUE(!json || parse.error == QJsonParseError::NoError || (p.exitCode() == 2 && out.isEmpty()))
            << out.toStdString() << err.toStdString();
        return p.exitCode();
    }
    static QString cliProgram()
    {
        return qEnvironmentVariable("VEXO_BIN") + QStringLiteral("/src/app/vexolink-cli");
    }

    Lab lab;
    QTemporaryDir dir;
    QString store = dir.filePath(QStringLiteral("nms.ini"));
    std::vector<std::unique_ptr<QProcess>> background;

public:
    ~CliLab() override
    {
        for (auto& p : background) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
        }
        background.clear();
    }
};

// The peak the simulator's tone has at its level, as a fraction of full scale.
double peakRatio(double dbfs)
{
    return std::min(std::round(8388608 * std::pow(10, dbfs / 20)), 8388607.0) / 8388608;
}

} // namespace

TEST_F(CliLab, EveryCommandReportsWhatTheElementsHold)
{
    SKIP_WITHOUT_LAB();
    ASSERT_TRUE(startLab());
    const QList<Lab::Element> e = lab.elements();
    const QString encoder = e[0].mac, sfnDecoder = e[1].mac, other = e[2].mac;
    QJsonDocument j;

    // discover lists without touching the store; --save replaces it
    ASSERT_EQ(cli({"discover", "--timeout", "1"}, &j), 0);
    ASSERT_EQ(j.array().size(), 3);
    EXPECT_FALSE(QFile::exists(store));
    ASSERT_EQ(cli({"discover", "--timeout", "1", "--save"}, &j), 0);
    ASSERT_EQ(cli({"list"}, &j), 0);
    ASSERT_EQ(j.array().size(), 3);
    for (const QJsonValue& v : j.array()) { // in the order the answers came
        const QJsonObject row = v.toObject();
        const auto i = std::find_if(e.begin(), e.end(),
                                    [&](const Lab::Element& x) { return x.mac == row["mac"].toString(); }) -
                       e.begin();
        ASSERT_LT(i, 3) << row["mac"].toString().toStdString();
        const QJsonObject state = lab.stateObject(int(i));
        EXPECT_EQ(row["ip"].toString(), state["ip"].toString());
        EXPECT_EQ(row["serial"].toInt(), state["serial"].toInt());
        EXPECT_EQ(row["sfn"].toBool(), state["sfn"].toInt() == 1);
    }

    ASSERT_EQ(cli({"show", e[0].name.toLower()}, &j), 0);
    EXPECT_EQ(j["mac"].toString(), encoder);
    EXPECT_EQ(j["name"].toString().trimmed(), lab.stateObject(0)["name"].toString().trimmed());
    EXPECT_EQ(j["role_name"].toString(), "ENCODER");

    ASSERT_EQ(cli({"ping", e[1].ip}, &j), 0);
    EXPECT_TRUE(j["success"].toBool());
    ASSERT_EQ(cli({"mac", e[2].ip}, &j), 0);
    EXPECT_EQ(j["mac"].toString(), other);

    // stats: the counters restart with --clear; the steady decoder counts no bad frames
    ASSERT_EQ(cli({"stats", sfnDecoder, "--clear"}, &j), 0);
    EXPECT_EQ(lab.stateObject(1)["stats-resets"].toInt(), 1);
    EXPECT_LT(j["ok_audio_frames"].toInt(), 2000); // 1000 a second since the reset
    EXPECT_EQ(j["bad_audio_frames"].toInt(), 0);
    EXPECT_EQ(j["bad_audio_frames_percent"].toDouble(), 0);
    EXPECT_FALSE(j["good_ptp_sync"].isNull());
    EXPECT_EQ(j["measured_delay_ns"].toInt(), kLatencyNs);
    ASSERT_EQ(cli({"stats", encoder}, &j), 0);
    EXPECT_GT(j["good_tx_frames"].toInt(), 0);
    EXPECT_TRUE(j["good_ptp_sync"].isNull()); // not in SFN mode

    // latency, then a new compensation that the element takes on and the store keeps
    ASSERT_EQ(cli({"latency", sfnDecoder}, &j), 0);
    EXPECT_EQ(j["network_latency_avg_ns"].toInt(), kLatencyNs);
    EXPECT_EQ(j["latency_summary_min_ns"].toInt(), kLatencyNs + 265 + 395833);
    EXPECT_EQ(j["additional_delay_ns"].toInt(), lab.stateObject(1)["additional-delay-ns"].toInt());
    ASSERT_EQ(cli({"set-delay", sfnDecoder, "120000", "--servo", "off"}, &j), 0);
    EXPECT_EQ(lab.stateObject(1)["additional-delay-ns"].toInt(), 120000);
    EXPECT_FALSE(lab.stateObject(1)["auto-servo"].toBool());
    EXPECT_EQ(j["network_latency_max_ns"].toInt(), kLatencyNs + 120000);
    EXPECT_EQ(ElementStore(store).read(sfnDecoder, keys::dly), "1200");

    ASSERT_EQ(cli({"attenuation", sfnDecoder, "-20"}, &j), 0);
    EXPECT_TRUE(lab.waitForState(1, [](const QJsonObject& s) { return s["att"].toInt() == 215; }));
    EXPECT_EQ(ElementStore(store).read(sfnDecoder, keys::att), "215");

    ASSERT_EQ(cli({"level", encoder}, &j), 0);
    EXPECT_EQ(j["peak"].toDouble() / 8388608, peakRatio(lab.stateObject(0)["level-dbfs"].toDouble()));

    // configure: taken on and stored; an element answering with another name is a mismatch
    ASSERT_EQ(cli({"configure", encoder, "name=studio a", "buf=0"}, &j), 2); // an encoder has no buffer
    ASSERT_EQ(cli({"configure", encoder, "name=studio a"}, &j), 0);
    EXPECT_TRUE(j["confirmed"].toBool());
    EXPECT_EQ(lab.stateObject(0)["name"].toString(), "STUDIO A        ");
    EXPECT_EQ(ElementStore(store).read(encoder, keys::name).trimmed(), "STUDIO A");
    ASSERT_EQ(cli({"configure", other, "name=relay"}, &j), 5);
    EXPECT_EQ(j["mismatched_fields"].toArray(), QJsonArray{"Element Name"});
}

namespace {

// One instant query to Prometheus: the samples by the element's MAC label.
QMap<QString, QPair<double, QJsonObject>> query(QNetworkAccessManager& net, const QString& promql)
{
    QUrl url(QStringLiteral("http://127.0.0.1:9090/api/v1/query"));
    url.setQuery(QUrlQuery{{"query", promql}});
    QNetworkReply* reply = net.get(QNetworkRequest(url));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    QMap<QString, QPair<double, QJsonObject>> samples;
    const QJsonObject doc = QJsonDocument::fromJson(reply->readAll()).object();
    for (const QJsonValue& r : doc["data"]["result"].toArray()) {
        const QJsonObject metric = r["metric"].toObject();
        samples.insert(metric["mac"].toString(), {r["value"][1].toString().toDouble(), metric});
    }
    reply->deleteLater();
    return samples;
}

} // namespace

TEST_F(CliLab, PrometheusGathersTheExportersMetrics)
{
    SKIP_WITHOUT_LAB();
    ASSERT_TRUE(startLab());
    const QList<Lab::Element> e = lab.elements();
    ASSERT_EQ(cli({"discover", "--timeout", "1", "--save"}), 0);

    // GIVEN the exporter polling every second and Prometheus scraping it every second
    start(cliProgram(), {"exporter", "--listen", "127.0.0.1:9101", "--interval", "1", "--level"});
    const QString config = dir.filePath(QStringLiteral("prometheus.yml"));
    ASSERT_TRUE(writeFile(config, "global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
                                  "scrape_configs:\n"
                                  "  - job_name: vexolink\n"
                                  "    static_configs: [{targets: ['127.0.0.1:9101']}]\n"));
    start(QStringLiteral(VEXO_PROMETHEUS),
          {"--config.file=" + config, "--storage.tsdb.path=" + dir.filePath("tsdb"),
           "--web.listen-address=127.0.0.1:9090", "--log.level=warn"});
    QNetworkAccessManager net;

    // THEN every element is up and its figures are what the simulator holds
    QMap<QString, QPair<double, QJsonObject>> up;
    EXPECT_TRUE(waitUntil([&] { return (up = query(net, "vexolink_element_up == 1")).size() == 3; }, 30000));
    EXPECT_EQ(up[e[1].mac].second["name"].toString(), e[1].name);
    EXPECT_EQ(up[e[1].mac].second["role"].toString(), "decoder");
    EXPECT_EQ(up[e[1].mac].second["ip"].toString(), e[1].ip);
    const QJsonObject sfn = lab.stateObject(1);
    const double expectedAvg =
        (sfn["latency-ns"].toDouble() + sfn["additional-delay-ns"].toDouble()) / 1e9; // servo off
    EXPECT_EQ(query(net, "vexolink_sfn_network_latency_average_seconds")[e[1].mac].first, expectedAvg);
    EXPECT_EQ(query(net, "vexolink_sfn_auto_servo")[e[1].mac].first, sfn["auto-servo"].toBool() ? 1 : 0);
    EXPECT_EQ(query(net, "vexolink_sfn_network_latency_average_seconds").size(), 1); // SFN decoders only
    EXPECT_GT(query(net, "vexolink_audio_frames_total")[e[1].mac].first, 0);
    EXPECT_EQ(query(net, "vexolink_audio_frame_errors_total")[e[1].mac].first, 0);
    EXPECT_GT(query(net, "vexolink_tx_frames_total")[e[0].mac].first, 0);
    EXPECT_NEAR(query(net, "vexolink_audio_peak_ratio")[e[0].mac].first,
                peakRatio(lab.stateObject(0)["level-dbfs"].toDouble()), 1e-12); // one step is 1.2e-7
    EXPECT_EQ(query(net, "vexolink_ping_success == 1").size(), 3);

    // WHEN an element falls silent (its traffic dropped on the station's side)
    QProcess ip;
    ip.start(QStringLiteral("ip"), {"route", "add", "blackhole", e[2].ip + "/32"});
    ASSERT_TRUE(ip.waitForFinished(5000));
    ASSERT_EQ(ip.exitCode(), 0);

    // THEN its up turns 0 under the same labels, the others stay up
    QMap<QString, QPair<double, QJsonObject>> down;
    EXPECT_TRUE(
        waitUntil([&] { return (down = query(net, "vexolink_element_up == 0")).size() == 1; }, 30000));
    EXPECT_EQ(down[e[2].mac].second["name"].toString(), "OTHER");
    EXPECT_EQ(down[e[2].mac].second["ip"].toString(), e[2].ip);
    EXPECT_EQ(query(net, "vexolink_element_up == 1").size(), 2);
}
