// The exporter at scale: `vexolink-cli exporter` polls a lab of simulated elements (1000 by
// default) every 10 s; prints each poll's duration (as the exporter reports it), the time of
// scrapes of /metrics, the exporter's CPU use over the run and its resident memory.
#include "Lab.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace vexo;

namespace {

// Prometheus asks for gzip; `plain` asks for the text as it is.
QByteArray get(QNetworkAccessManager& net, const QString& url, qint64* ms, bool plain = false)
{
    QElapsedTimer clock;
    clock.start();
    QNetworkRequest request{QUrl(url)};
    if (plain)
        request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply* reply = net.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    *ms = clock.elapsed();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

// utime + stime in seconds, and the peak resident set in MB.
double cpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(')').last().trimmed().split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}
double memoryMb(qint64 pid, const char* field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QRegularExpression re(QStringLiteral("%1:\\s+(\\d+) kB").arg(QLatin1String(field)));
    return re.match(QString::fromLatin1(f.readAll())).captured(1).toDouble() / 1024;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!Lab::unavailableReason().isEmpty()) {
        std::fprintf(stderr, "no lab: %s\n", qPrintable(Lab::unavailableReason()));
        return 1;
    }
    const int size = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int polls = argc > 2 ? std::atoi(argv[2]) : 4;
    Lab lab;
    QString error;
    if (!lab.up(size / 2, size - size / 2, size / 4, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    // The store as discovery would have written it.
    QTemporaryDir dir;
    const QString store = dir.filePath(QStringLiteral("nms.ini"));
    QList<QPair<QString, QList<QPair<QString, QString>>>> sections;
    int sfn = 0;
    for (const Lab::Element& e : lab.elements()) {
        const bool isSfn = e.role == 2 && sfn++ < size / 4;
        sections.append({encodeMac(e.mac),
                         {{keys::name, e.name},
                          {keys::ip, e.ip},
                          {keys::role, QString::number(e.role)},
                          {keys::sfn, isSfn ? QStringLiteral("1") : QStringLiteral("0")}}});
    }
    writeSectionsToIni(sections, store);

    QProcess exporter;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VEXOLINK_NMS_STORE"), store);
    exporter.setProcessEnvironment(env);
    exporter.setProcessChannelMode(QProcess::ForwardedChannels);
    exporter.start(qEnvironmentVariable("VEXO_BIN", QCoreApplication::applicationDirPath() + "/../..") +
                       QStringLiteral("/src/app/vexolink-cli"),
                   {"exporter", "--listen", "127.0.0.1:9876", "--interval", "10"});
    if (!exporter.waitForStarted(5000))
        return 1;
    const qint64 pid = exporter.processId();
    QNetworkAccessManager net;
    QElapsedTimer wall;
    wall.start();
    const double cpuAtStart = cpuSeconds(pid);

    std::printf("elements %d, poll every 10 s\n%6s %10s %10s %8s %8s %8s\n", size, "poll", "poll ms",
                "scrape ms", "up", "pinged", "RSS MB");
    QList<qint64> scrapes, plainScrapes;
    QList<double> cpuPerScrape;
    double lastStamp = 0;
    for (int n = 0; n < polls;) {
        QEventLoop pause;
        QTimer::singleShot(500, &pause, &QEventLoop::quit);
        pause.exec();
        qint64 ms = 0;
        const QByteArray body = get(net, QStringLiteral("http://127.0.0.1:9876/metrics"), &ms);
        const QRegularExpression stamp(
            QStringLiteral("vexolink_exporter_last_poll_timestamp_seconds ([0-9.e+]+)"));
        const double s = stamp.match(QString::fromLatin1(body)).captured(1).toDouble();
        if (s == 0 || s == lastStamp)
            continue;
        lastStamp = s;
        scrapes.append(ms);
        const double pollSeconds =
            QRegularExpression(QStringLiteral("vexolink_exporter_poll_duration_seconds ([0-9.e+-]+)"))
                .match(QString::fromLatin1(body))
                .captured(1)
                .toDouble();
        auto answered = [&](const char* metric) {
            return int(QString::fromLatin1(body).count(
                QRegularExpression(QStringLiteral("^%1\\{[^}]*\\} 1$").arg(QLatin1String(metric)),
                                   QRegularExpression::MultilineOption)));
        };
        const int up = answered("vexolink_element_up");
        const int pinged = answered("vexolink_ping_success");
        std::printf("%6d %10.0f %10lld %8d %8d %8.1f\n", ++n, pollSeconds * 1000, ms, up, pinged,
                    memoryMb(pid, "VmRSS"));
        std::fflush(stdout);
        // More scrapes within the poll interval, gzip and plain; the exporter's CPU time for them.
        const double cpuBefore = cpuSeconds(pid);
        for (int i = 0; i < 4; ++i) {
            get(net, QStringLiteral("http://127.0.0.1:9876/metrics"), &ms);
            scrapes.append(ms);
        }
        cpuPerScrape.append((cpuSeconds(pid) - cpuBefore) * 1000 / 4);
        for (int i = 0; i < 4; ++i) {
            get(net, QStringLiteral("http://127.0.0.1:9876/metrics"), &ms, true);
            plainScrapes.append(ms);
        }
    }
    const double cpu = cpuSeconds(pid) - cpuAtStart;
    std::sort(scrapes.begin(), scrapes.end());
    std::sort(plainScrapes.begin(), plainScrapes.end());
    std::sort(cpuPerScrape.begin(), cpuPerScrape.end());
    std::printf("gzip scrapes %lld: median %lld ms, max %lld ms; exporter CPU per scrape: median %.0f ms\n",
                qint64(scrapes.size()), scrapes[scrapes.size() / 2], scrapes.last(),
                cpuPerScrape[cpuPerScrape.size() / 2]);
    std::printf("plain scrapes %lld: median %lld ms, max %lld ms\n", qint64(plainScrapes.size()),
                plainScrapes[plainScrapes.size() / 2], plainScrapes.last());
    std::printf("CPU %.2f s over %.1f s (%.1f%% of a core); resident %.1f MB, peak %.1f MB\n", cpu,
                wall.elapsed() / 1e3, 100 * cpu / (wall.elapsed() / 1e3), memoryMb(pid, "VmRSS"),
                memoryMb(pid, "VmHWM"));
    exporter.terminate();
    exporter.waitForFinished(5000);
    return 0;
}
