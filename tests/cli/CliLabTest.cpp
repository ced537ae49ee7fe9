// vexolink-cli and its exporter, the real programs, against simulated elements in a namespace lab.
#include "Lab.h"
#include "TestUtil.h"
#include "cli/CliSupport.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;
using namespace vexo::cli;

namespace {

// The value of `metric` on the exporter's page for the element with a label of that value; NaN if none.
double sample(const QByteArray& page, const QString& metric, const QString& label)
{
    for (const QByteArray& line : page.split('\n'))
        if (line.startsWith(metric.toLatin1() + '{') && line.contains("=\"" + label.toLatin1() + '"'))
            return line.mid(line.lastIndexOf(' ') + 1).toDouble();
    return std::nan("");
}

} // namespace

TEST(CliLab, CommandsAndTheExporterReportWhatTheElementsHold)
{
    // GIVEN an encoder at -6 dBFS, an SFN decoder with a steady 500 us path, a decoder stating another name
    if (const QString why = Lab::unavailableReason(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString(); // fails the run as root
    Lab lab;
    QString error;
    const QStringList steady = {"--latency-ns", "500000", "--jitter-ns", "0", "--error-ppm", "0"};
    ASSERT_TRUE(
        lab.up(1, 2, 1, &error, {{0, {"--level-dbfs", "-6"}}, {1, steady}, {2, {"--force-name", "OTHER"}}}))
        << error.toStdString();
    const QList<Lab::Element> e = lab.elements();
    QTemporaryDir dir;
    const QString store = dir.filePath("nms.ini"),
                  program = qEnvironmentVariable("VEXO_BIN") + "/src/app/vexolink-cli";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VEXOLINK_NMS_STORE", store);
    env.insert("HOME", dir.path());
    QJsonDocument j;
    QString out, err;
    const auto cli = [&](const QStringList& args, bool json = true) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, args + (json ? QStringList{"--json"} : QStringList()));
        EXPECT_TRUE(p.waitForFinished(60000)) << args.join(' ').toStdString();
        out = p.readAllStandardOutput();
        j = QJsonDocument::fromJson(out.toUtf8());
        err = p.readAllStandardError();
        return p.exitCode();
    };
    ASSERT_EQ(cli({"discover", "--timeout", "1", "--save"}), 0);

    // Bad input: one line names it, its own code, nothing reaches an element, the store unchanged.
    QUdpSocket stationPort;
    QTcpServer listening;
    ASSERT_TRUE(listening.listen(QHostAddress("127.0.0.1"), 9109));
    const struct
    {
        QStringList args;
        int code;
        const char* says;
        char setup = 0; // 's': no store, 'c': a corrupted section, 'p': the station's port taken
    } rows[] = {
        {{"frobnicate"}, UsageError, "unknown command 'frobnicate'"},
        {{"list", "--bogus"}, UsageError, "Unknown option 'bogus'"},
        {{"show"}, UsageError, "ELEMENT missing"},
        {{"show", "00:50:C2:77:00:99"}, ElementUnknown, "no stored element '00:50:C2:77:00:99'"},
        {{"ping", "STUDIO"}, ElementUnknown, "no stored element 'STUDIO'"},
        {{"show", "00:50:C2:77:00"}, UsageError, "malformed MAC address"},
        {{"mac", "10.77.1"}, UsageError, "malformed IP address '10.77.1'"},
        {{"attenuation", "DECODER 001", "-121"}, UsageError, "attenuation '-121' out of range"},
        {{"attenuation", "DECODER 001", "-20.25"}, UsageError, "out of range"},
        {{"attenuation", "ENCODER 001", "-20"}, UsageError, "is no decoder"},
        {{"set-delay", "DECODER 001", "2500100"}, UsageError, "delay '2500100' out of range"},
        {{"set-delay", "DECODER 001", "150"}, UsageError, "in steps of 100"},
        {{"set-delay", "DECODER 001", "1000", "--servo", "maybe"}, UsageError, "--servo takes on or off"},
        {{"latency", "ENCODER 001"}, UsageError, "is no SFN decoder"},
        {{"level", "DECODER 001"}, UsageError, "is no encoder"},
        // (the values' rules are the dry run's, checked there)
        {{"configure", "ENCODER 001", "colour=red"}, UsageError, "unknown key 'colour' (keys: name, ip"},
        {{"configure", "ENCODER 001", "att=20"}, UsageError, "att is set with"},
        {{"exporter", "--listen", "127.0.0.1"}, UsageError, "malformed listen address"},
        {{"exporter", "--listen", "127.0.0.1:9100", "--interval", "0"}, UsageError, "--interval must be"},
        {{"exporter", "--listen", "127.0.0.1:9109"}, PortBusy, "cannot listen on"},
        {{"attenuation", "DECODER 001", "-20"}, PortBusy, "UDP port 2976 is in use", 'p'},
        {{"list"}, StoreProblem, "no element store at", 's'},
        {{"show", "ENCODER 001"}, StoreProblem, "is corrupted", 'c'},
    };
    const QByteArray original = readFile(store);
    const QString before = lab.stateOf(0) + lab.stateOf(1) + lab.stateOf(2);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.args.join(' ').toStdString());
        env.insert("VEXOLINK_NMS_STORE", r.setup == 's' ? dir.filePath("missing.ini") : store);
        for (int i = 0; r.setup == 'c' && i < 17; ++i)
            writeToIni(QString(e[0].mac).remove(':'), QStringLiteral("extra%1").arg(i), "x", store);
        ASSERT_TRUE(r.setup != 'p' || stationPort.bind(QHostAddress::AnyIPv4, 2976));
        const QByteArray stored = readFile(store);
        EXPECT_EQ(cli(r.args, false), r.code);
        EXPECT_TRUE(err.endsWith('\n') && err.count('\n') == 1 && err.contains(r.says)) << err.toStdString();
        EXPECT_EQ(out, QString());
        EXPECT_EQ(readFile(store), stored);
        ASSERT_TRUE(writeFile(store, original));
        stationPort.close();
    }
    EXPECT_EQ(lab.stateOf(0) + lab.stateOf(1) + lab.stateOf(2), before);
    env.insert("VEXOLINK_NMS_STORE", store);

    // the store as discovery filled it, in the order the answers came
    ASSERT_EQ(cli({"list"}), 0);
    EXPECT_EQ(j.array().size(), 3);
    EXPECT_TRUE(out.contains(R"({"ip":"10.77.1.1","mac":"00:50:C2:77:00:01","name":"ENCODER 001","role":)"
                             R"("encoder","serial":10001,"sfn":false,"version":"3.1"})"));
    ASSERT_EQ(cli({"list", "--csv"}, false), 0);
    EXPECT_TRUE(out.startsWith("MAC,NAME,IP,ROLE,SERIAL,VERSION,SFN\r\n") && out.count("\r\n") == 4)
        << out.toStdString();
    for (const char* line : {"00:50:C2:77:00:02,DECODER 001,10.77.101.1,DECODER,20001,3.1,1\r\n",
                             "00:50:C2:77:00:03,OTHER,10.77.101.2,DECODER,20002,3.1,0\r\n"})
        EXPECT_TRUE(out.contains(line)) << line;
    ASSERT_EQ(cli({"show", e[0].name.toLower()}), 0);
    EXPECT_EQ(j["mac"].toString(), e[0].mac);
    ASSERT_EQ(cli({"mac", e[2].ip}), 0);
    EXPECT_EQ(j["mac"].toString(), e[2].mac);
    ASSERT_EQ(cli({"stats", e[1].mac, "--clear"}), 0);
    EXPECT_EQ(lab.stateObject(1)["stats-resets"].toInt(), 1);
    EXPECT_EQ(j["bad_audio_frames"].toInt(), 0);
    EXPECT_EQ(j["measured_delay_ns"].toInt(), 500000);
    ASSERT_EQ(cli({"latency", e[1].mac}), 0);
    EXPECT_EQ(j["latency_summary_min_ns"].toInt(), 500000 + 265 + 395833);
    ASSERT_EQ(cli({"set-delay", e[1].mac, "120000", "--servo", "off"}), 0);
    EXPECT_EQ(j["network_latency_max_ns"].toInt(), 620000);
    EXPECT_EQ(lab.stateObject(1)["additional-delay-ns"].toInt(), 120000);
    EXPECT_EQ(ElementStore(store).read(e[1].mac, keys::dly), "1200");
    ASSERT_EQ(cli({"attenuation", e[1].mac, "-20"}), 0);
    EXPECT_TRUE(lab.waitForState(1, [](const QJsonObject& s) { return s["att"].toInt() == 215; }));
    EXPECT_EQ(ElementStore(store).read(e[1].mac, keys::att), "215");
    ASSERT_EQ(cli({"configure", e[0].mac, "name=studio a"}), 0);
    // (the element answers first, then writes down what it took on)
    EXPECT_TRUE(lab.waitForState(0, [](const QJsonObject& s) { return s["name"] == "STUDIO A        "; }));
    EXPECT_EQ(ElementStore(store).read(e[0].mac, keys::name).trimmed(), "STUDIO A");
    ASSERT_EQ(cli({"configure", e[2].mac, "name=relay"}), 5); // it answers with another name
    EXPECT_EQ(j["mismatched_fields"].toArray(), QJsonArray{"Element Name"});
    // a new address: confirmed from the old one, then the element answers at the new one
    ASSERT_EQ(cli({"configure", e[0].mac, "ip=10.77.200.9"}), 0);
    EXPECT_TRUE(lab.waitForState(0, [](const QJsonObject& s) { return s["listen-ip"] == "10.77.200.9"; }));
    ASSERT_EQ(cli({"level", "10.77.200.9"}), 0);
    EXPECT_EQ(j["peak"].toInt(), 4204263); // -6 dBFS
    ASSERT_EQ(cli({"level", e[0].mac, "--watch", "--count", "3", "--interval", "50"}), 0);
    EXPECT_EQ(out.count(R"({"level_dbfs":)"), 3) << out.toStdString(); // a line per reading

    // WHEN the exporter polls every second THEN its page, which promtool accepts, tells the same
    QProcess exporter;
    exporter.setProcessEnvironment(env);
    exporter.start(program, {"exporter", "--listen", "127.0.0.1:9101", "--interval", "1", "--level"});
    QByteArray page;
    const auto scrapeUntil = [&](const QString& metric, const QString& label, double value) {
        return waitUntil(
            [&] {
                QTcpSocket http;
                http.connectToHost("127.0.0.1", 9101);
                http.write("GET /metrics HTTP/1.0\r\n\r\n");
                while (http.waitForReadyRead(2000))
                    ;
                page = http.readAll();
                return sample(page, metric, label) == value;
            },
            30000);
    };
    ASSERT_TRUE(scrapeUntil("vexolink_element_up", e[2].mac, 1)) << page.toStdString();
    EXPECT_EQ(sample(page, "vexolink_sfn_network_latency_average_seconds", e[1].mac), 0.00062);
    EXPECT_TRUE(std::isnan(sample(page, "vexolink_sfn_network_latency_average_seconds", e[2].mac)));
    EXPECT_EQ(sample(page, "vexolink_audio_frame_errors_total", e[1].mac), 0);
    EXPECT_NEAR(sample(page, "vexolink_audio_peak_ratio", e[0].mac), 4204263.0 / 8388608, 1e-12);
    EXPECT_EQ(sample(page, "vexolink_ping_success", e[0].mac), 1);
    ASSERT_TRUE(writeFile(dir.filePath("metrics"), page.mid(page.indexOf("\r\n\r\n") + 4)));
    // The latency summary carries the name and quantile label operators asked for; promtool's lint
    // objects to exactly those two things of it and to nothing else.
    QProcess lint;
    lint.start("sh", {"-c", "promtool check metrics < " + dir.filePath("metrics") + " 2>&1"});
    ASSERT_TRUE(lint.waitForFinished(30000));
    QStringList findings = QString::fromUtf8(lint.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    findings.sort();
    findings.removeDuplicates(); // one line per sample
    EXPECT_EQ(findings,
              QStringList({"vexolink_sfn_latency_summary_seconds metric name should not include type "
                           "'summary'",
                           "vexolink_sfn_latency_summary_seconds non-summary metrics should not have "
                           "\"quantile\" label"}));
    EXPECT_NEAR(sample(page, "vexolink_sfn_latency_summary_seconds", e[1].mac), 0.000620 + 0.000396098,
                1e-12);

    // WHEN an element's traffic is dropped THEN it is down under the same labels, the others up
    ASSERT_EQ(QProcess::execute("ip", {"route", "add", "blackhole", e[2].ip + "/32"}), 0);
    ASSERT_TRUE(scrapeUntil("vexolink_element_up", e[2].mac, 0)) << page.toStdString();
    EXPECT_EQ(sample(page, "vexolink_element_up", "OTHER"), 0);
    EXPECT_EQ(sample(page, "vexolink_element_up", e[2].ip), 0);
    EXPECT_EQ(sample(page, "vexolink_element_up", e[1].mac), 1);
    // and, the exporter ended, the level of an encoder the route drops fails with the system's cause
    exporter.kill();
    ASSERT_TRUE(exporter.waitForFinished());
    ASSERT_EQ(QProcess::execute("ip", {"route", "add", "blackhole", "10.77.200.9/32"}), 0);
    EXPECT_EQ(cli({"level", e[0].mac}, false), Failure);
    EXPECT_TRUE(err.contains("Cannot send to the Network Element: the datagram could not be sent"))
        << err.toStdString();
}

TEST(CliLab, AStoreIsPutBackByteForByteAfterADiscovery)
{
    // GIVEN a store holding an element the lab does not have, with the Windows station's line ends
    if (const QString why = Lab::unavailableReason(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString(); // fails the run as root
    Lab lab;
    QString error;
    ASSERT_TRUE(lab.up(1, 1, 0, &error)) << error.toStdString();
    QTemporaryDir dir;
    const QString store = dir.filePath("nms.ini");
    const QByteArray before =
        "[0050C2FFFFFF]\r\nNAME=SWITCHED OFF\r\nROLE=2\r\nIP=10.77.101.99\r\nATT=200\r\n";
    ASSERT_TRUE(writeFile(store, before));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VEXOLINK_NMS_STORE", store);
    QByteArray out;
    const auto cli = [&](const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(qEnvironmentVariable("VEXO_BIN") + "/src/app/vexolink-cli", args);
        EXPECT_TRUE(p.waitForFinished(60000));
        out = p.readAllStandardOutput();
        EXPECT_EQ(p.readAllStandardError(), QByteArray()) << args.join(' ').toStdString();
        return p.exitCode();
    };
    // WHEN a discovery replaces it with the lab's two elements
    ASSERT_EQ(cli({"discover", "--timeout", "1", "--save"}), 0);
    EXPECT_EQ(ElementStore(store).elements().size(), 2);
    // THEN the journal holds the discovery with the copy of the store it replaced
    ASSERT_EQ(cli({"journal", "--operation", "discovery", "--json"}), 0);
    const QJsonObject discovery = QJsonDocument::fromJson(out).array().last().toObject();
    EXPECT_EQ(discovery["elements"].toInt(), 2);
    const qint64 copy = qint64(discovery["store_copy"].toDouble());
    ASSERT_EQ(cli({"store", "backups", "--json"}), 0);
    const QJsonObject kept = QJsonDocument::fromJson(out).array()[0].toObject();
    EXPECT_EQ(QList<qint64>({qint64(kept["id"].toDouble()), kept["elements"].toInt(),
                             qint64(kept["bytes"].toDouble())}),
              QList<qint64>({copy, 1, before.size()}));
    // WHEN that copy is restored THEN the store is the very bytes it was
    ASSERT_EQ(cli({"store", "restore", QString::number(copy)}), 0);
    EXPECT_EQ(readFile(store), before);
}
