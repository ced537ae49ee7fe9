// The exporter behind its web configuration, scraped by a real Prometheus over TLS with basic
// authentication; a malformed configuration is refused before the exporter serves anything.
#include "TestUtil.h"
#include "cli/CliSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Prometheus's own view of its targets, by job: "up", or the error of the last scrape.
QMap<QString, QString> targets(QNetworkAccessManager& http)
{
    std::unique_ptr<QNetworkReply> reply(
        http.get(QNetworkRequest(QUrl("http://127.0.0.1:9392/api/v1/targets"))));
    waitUntil([&] { return reply->isFinished(); }, 5000);
    QMap<QString, QString> health;
    for (const QJsonValue t : QJsonDocument::fromJson(reply->readAll())["data"]["activeTargets"].toArray())
        if (t["health"].toString() != "unknown")
            health[t["labels"]["job"].toString()] = t["health"] == "up" ? "up" : t["lastError"].toString();
    return health;
}

} // namespace

TEST(ExporterWebConfig, PrometheusScrapesOverTlsOnlyWithThePassword)
{
    // GIVEN a self-signed certificate for 127.0.0.1, a web configuration with it and one user
    // whose hash (bcrypt, cost 5, of "s3cret-Pass") was made by another bcrypt implementation
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("nms.ini"), ""));
    ASSERT_EQ(
        QProcess::execute("openssl",
                          {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                           "-keyout", dir.filePath("key.pem"), "-out", dir.filePath("cert.pem"), "-subj",
                           "/CN=vexolink test", "-addext", "subjectAltName=IP:127.0.0.1", "-days", "2"}),
        0);
    ASSERT_TRUE(
        writeFile(dir.filePath("web.yml"),
                  "tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\nbasic_auth_users:\n"
                  "  prom: $2b$05$pvBw1ciRv2PSePWy38F5t.YkMY03hegq3e2ayObdf4ukechCbTVma\n"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VEXOLINK_NMS_STORE", dir.filePath("nms.ini"));
    const auto exporter = [&](const QString& webConfig) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->setReadChannel(QProcess::StandardError);
        p->start(qEnvironmentVariable("VEXO_BIN") + "/src/app/vexolink-cli",
                 {"exporter", "--listen", "127.0.0.1:9391", "--interval", "1", "--web-config", webConfig});
        return p;
    };
    const auto serving = exporter(dir.filePath("web.yml"));
    ASSERT_TRUE(serving->waitForReadyRead(10000));
    EXPECT_TRUE(serving->readAllStandardError().contains("serving https://127.0.0.1:9391/metrics"));

    // WHEN Prometheus scrapes it as four jobs: the right password, a wrong one, none, and no TLS
    QString jobs = "global: {scrape_interval: 1s, scrape_timeout: 1s}\nscrape_configs:\n";
    for (const auto& [job, scheme, auth] : {std::tuple{"right", "https", "s3cret-Pass"},
                                            {"wrong", "https", "s3cret-pass"},
                                            {"none", "https", ""},
                                            {"plain", "http", "s3cret-Pass"}})
        jobs += QString("- job_name: %1\n  scheme: %2\n%3  tls_config: {ca_file: %4}\n"
                        "  static_configs: [{targets: ['127.0.0.1:9391']}]\n")
                    .arg(job, scheme,
                         *auth ? QString("  basic_auth: {username: prom, password: %1}\n").arg(auth) : "",
                         dir.filePath("cert.pem"));
    ASSERT_TRUE(writeFile(dir.filePath("prometheus.yml"), jobs.toUtf8()));
    QProcess prometheus;
    prometheus.start("prometheus",
                     {"--config.file=" + dir.filePath("prometheus.yml"),
                      "--storage.tsdb.path=" + dir.filePath("tsdb"), "--web.listen-address=127.0.0.1:9392"});
    QNetworkAccessManager http;
    QMap<QString, QString> health;
    waitUntil([&] { return (health = targets(http)).size() == 4; }, 30000);
    prometheus.terminate();
    prometheus.waitForFinished(10000);

    // THEN only the right password gets the page; the others get 401, and plain HTTP no page at all
    EXPECT_EQ(health.value("right"), "up");
    EXPECT_EQ(health.value("wrong"), "server returned HTTP status 401 Unauthorized");
    EXPECT_EQ(health.value("none"), "server returned HTTP status 401 Unauthorized");
    EXPECT_NE(health.value("plain"), "up");
    EXPECT_FALSE(health.value("plain").contains("HTTP status")) << health.value("plain").toStdString();
    serving->terminate();
    serving->waitForFinished(10000);

    // AND a configuration that is malformed, unreadable or names a missing file is refused at
    // start, with one line naming the problem
    const struct
    {
        QByteArray yaml;
        QString says;
    } rows[] = {
        {"tls_server_config: [\n", "not valid YAML (line 2"},
        {"basic_auth_user:\n  prom: x\n", "unknown key 'basic_auth_user' in the file"},
        {"tls_server_config:\n  cert_file: missing.pem\n  key_file: key.pem\n",
         "certificate " + dir.filePath("missing.pem") + " does not exist"},
        {"tls_server_config:\n  cert_file: cert.pem\n", "tls_server_config.key_file must name a file"},
        {"tls_server_config:\n  cert_file: cert.pem\n  key_file: cert.pem\n",
         "key " + dir.filePath("cert.pem") + " holds no unencrypted PEM private key"},
        {"basic_auth_users:\n  prom: s3cret-Pass\n", "the password of user 'prom' is no bcrypt hash"},
        {{}, "cannot be read"}, // the configuration is a folder
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.says.toStdString());
        const QString file = row.yaml.isNull() ? dir.path() : dir.filePath("bad.yml");
        ASSERT_TRUE(row.yaml.isNull() || writeFile(file, row.yaml));
        const auto refused = exporter(file);
        ASSERT_TRUE(refused->waitForFinished(30000));
        EXPECT_EQ(refused->exitCode(), vexo::cli::UsageError);
        const QString err = refused->readAllStandardError();
        EXPECT_TRUE(err.startsWith("vexolink-cli exporter: web config " + file + ": " + row.says) &&
                    err.count('\n') == 1)
            << err.toStdString();
    }
}
