// The audio level monitor against a simulated encoder: 60 s at the default 50 ms with the window
// shown and painted, printing the requests sent, readings applied, the station's CPU share and its
// resident memory at start and end. In turns with it, in the same run, a bare socket (no window,
// no store, no station) makes round trips to the same element at the same interval: the floor
// that the kernel and the event loop cost on this machine.
//   bench_monitor [SECONDS] [hidden | --shot PNG]   (--shot: the window as the first block ends)
#include "AppFixture.h"
#include "core/Station.h"
#include "diagnostics/LevelMonitor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QNetworkDatagram>
#include <QTimer>
#include <QTreeWidget>
#include <QUdpSocket>
#include <QtTest/QTest>

#include <sys/resource.h>

#include <cstdio>

using namespace vexo;

namespace {

long residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Paint events by widget while the monitor runs: the goal is one per reading.
class PaintCounter : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (counting && event->type() == QEvent::Paint)
            ++paints[watched->objectName().isEmpty() ? QString::fromLatin1(watched->metaObject()->className())
                                                     : watched->objectName()];
        return false;
    }
    bool counting = false;
    QMap<QString, int> paints;
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (!Lab::unavailableReason().isEmpty()) {
        std::fprintf(stderr, "no lab: %s\n", qPrintable(Lab::unavailableReason()));
        return 1;
    }
    LabStation station;
    QString error;
    if (!station.start(1, 0, 0, &error, {{0, {"--level-moving"}}})) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    MainWindow& window = *station.window;
    // "hidden" leaves the window unshown: the cost of the monitor without painting.
    if (argc < 3 || QByteArray(argv[2]) != "hidden") {
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return 1;
    }
    station.discover();
    if (!station.select(0))
        return 1;

    LevelMonitor& m = window.levelMonitor();
    int requests = 0;
    int replies = 0;
    QObject::connect(m.timer(), &QTimer::timeout, [&] { ++requests; });
    QObject::connect(&m, &LevelMonitor::levelChanged, [&] { replies += m.isRunning(); });

    // The bare socket: no window, no store, no station, the same element and interval.
    const QHostAddress element(window.station().store().read(station.lab.elements().value(0).mac, "ip"));
    QUdpSocket bare;
    bare.bind(QHostAddress::AnyIPv4, 0);
    int bareReplies = 0;
    QObject::connect(&bare, &QUdpSocket::readyRead, [&] {
        while (bare.hasPendingDatagrams()) {
            const QByteArray reply = bare.receiveDatagram().data();
            bareReplies += peakLevelOf(reply) >= 0;
        }
    });
    QTimer poll;
    int bareRequests = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        bare.writeDatagram(kLevelRequest, element, kCommandPort);
        ++bareRequests;
    });

    // The two take turns in blocks of a few seconds, so that both meet the same load of the
    // machine: on a shared machine a minute of one after a minute of the other compares two
    // different machines.
    // Paints are counted in the first block alone: a filter of every event of the application
    // would be a cost of this bench in the station's share.
    PaintCounter painted;
    int countedReplies = 0;
    const long rssStart = residentKb();
    constexpr int kBlockMs = 3000;
    const int blocks = std::max(1, seconds * 1000 / (2 * kBlockMs));
    double cpu = 0, bareCpu = 0, wall = 0;
    QEventLoop loop;
    // The plain event loop, as the station runs it (QTest::qWait would poll every 10 ms); a block
    // ends after the last reply's way back.
    auto run = [&](int ms) {
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    // What the discovery left to do (its journal entry, the window's paints) is done first.
    run(1000);
    child<QAction>(window, "actStartMonitoring")->trigger();
    m.timer()->stop();
    run(2 * m.intervalMs());
    for (int b = 0; b < blocks; ++b) {
        double at = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        if (b == 0)
            app.installEventFilter(&painted);
        painted.counting = b == 0;
        const int repliesBefore = replies;
        // Its own tick paused and resumed: the buttons that starting and stopping change are
        // painted once in a real run, not once per block.
        m.timer()->start();
        run(kBlockMs);
        if (b == 0 && argc > 3 && QByteArray(argv[2]) == "--shot")
            window.grab().save(QString::fromLocal8Bit(argv[3]));
        m.timer()->stop();
        run(2 * m.intervalMs());
        if (b == 0)
            app.removeEventFilter(&painted), countedReplies = replies - repliesBefore;
        cpu += cpuSeconds() - at;
        wall += clock.elapsed() / 1000.0;
        at = cpuSeconds();
        poll.start(m.intervalMs());
        run(kBlockMs);
        poll.stop();
        run(2 * m.intervalMs());
        bareCpu += cpuSeconds() - at;
    }
    child<QAction>(window, "actStopMonitoring")->trigger();
    const long rssEnd = residentKb();
    std::printf("monitoring %.1f s at %d ms in %d blocks: %d requests sent, %d replies applied\n", wall,
                m.intervalMs(), blocks, requests, replies);
    std::printf("station CPU: %.2f s = %.2f %% of one core\n", cpu, 100.0 * cpu / wall);
    std::printf("resident memory: %ld kB at start, %ld kB at end\n", rssStart, rssEnd);
    std::printf("paint events per reply (first block):");
    for (auto it = painted.paints.cbegin(); it != painted.paints.cend(); ++it)
        std::printf(" %s %.2f", qPrintable(it.key()), double(it.value()) / std::max(countedReplies, 1));
    std::printf("\n");
    std::printf("bare socket, same element and interval, in turns with the station: %d requests, %d replies, "
                "CPU %.2f %% of one core\n",
                bareRequests, bareReplies, 100.0 * bareCpu / wall);
    std::printf("per round trip: station %.1f us, bare socket %.1f us; the station costs %.2fx that "
                "(goal <= 1.5x)\n",
                1e6 * cpu / std::max(requests, 1), 1e6 * bareCpu / std::max(bareRequests, 1),
                (cpu / std::max(requests, 1)) / (bareCpu / std::max(bareRequests, 1)));
    return 0;
}
