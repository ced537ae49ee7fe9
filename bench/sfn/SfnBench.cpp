// The SFN overview against a lab of simulated SFN decoders, with its window and chart shown:
//   unshare -n build/bench/sfn/bench_sfn [DECODERS=200] [SECONDS=20] [SIMULATED_SECONDS=3600]
//     resident memory (as it is, and after malloc_trim hands freed heap back: a leak survives
//     the trim, fragmentation does not) and the points the chart's series hold, at the start and
//     along an accelerated hour (rounds as fast as the lab
//     answers, the values' clock one second further each, the window showing every round), then
//     the CPU share of a core while the window polls once a second in real time with its chart
//     full, and the time to apply and verify an alignment of every decoder.
//   unshare -n xvfb-run -a build/bench/sfn/bench_sfn --shots OUTDIR
//     sfn-before.png and sfn-after.png: five decoders of different latencies, before and after
//     an alignment.
#include "Fakes.h"
#include "Lab.h"
#include "TestUtil.h"
#include "core/SfnOverview.h"
#include "core/Station.h"
#include "gui/SfnChart.h"
#include "gui/SfnOverviewWindow.h"
#include "store/IniFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QStyleFactory>
#include <QTimer>
#include <QtCharts/QXYSeries>

#include <malloc.h>
#include <sys/resource.h>

#include <cstdio>

using namespace vexo;

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Resident memory as it is, after the heap's free pages went back to the system, and what the
// heap's blocks hold: growth that only the first shows is fragmentation, not a leak.
QString memoryText()
{
    const long before = residentKb();
    malloc_trim(0);
    return QStringLiteral("%1 kB resident, %2 kB after malloc_trim, %3 kB of heap in use")
        .arg(before)
        .arg(residentKb())
        .arg(qulonglong(mallinfo2().uordblks / 1024));
}

// The series on the chart and the points they hold together.
QString chartText(const SfnOverviewWindow& w)
{
    qsizetype series = 0, points = 0;
    for (const QAbstractSeries* s : w.findChild<SfnChart*>(QStringLiteral("chtLatency"))->chart()->series()) {
        ++series;
        if (const auto* xy = qobject_cast<const QXYSeries*>(s))
            points += xy->count();
    }
    return QStringLiteral("%1 series, %2 points").arg(series).arg(points);
}

// Runs the event loop for a while, sleeping while there is nothing to do, as the station does:
// a loop that spins would count its own polling as the window's.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Bench : FakeMachine
{
    Lab lab;
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("nms.ini"));
    std::unique_ptr<Station> station;

    // Decoder k has a steady path of 300 us + k x 7.3 us (all different), the third servo on.
    bool up(int decoders)
    {
        QMap<int, QStringList> args;
        for (int k = 0; k < decoders; ++k)
            args[k] = {"--latency-ns", QString::number(300000 + k * 7300 + (k % 3) * 40000), "--jitter-ns",
                       QString::number(1500 + k * 300)};
        QString error;
        if (!lab.up(0, decoders, decoders, &error, args)) {
            std::fprintf(stderr, "lab: %s\n", qPrintable(error));
            return false;
        }
        QList<QPair<QString, QList<QPair<QString, QString>>>> sections;
        for (const Lab::Element& e : lab.elements())
            sections.append(
                {encodeMac(e.mac), {{"name", e.name}, {"ip", e.ip}, {"role", "2"}, {"sfn", "1"}}});
        if (!writeSectionsToIni(sections, path))
            return false;
        station = std::make_unique<Station>(stationServices(path, QHostAddress(lab.stationIp())));
        return true;
    }
};

int shots(const QString& out)
{
    Bench b;
    if (!b.up(5))
        return 1;
    SfnOverviewWindow w(*b.station, b.boxes);
    w.resize(1280, 900);
    w.show();
    spin(30000);
    if (!w.grab().save(out + QStringLiteral("/sfn-before.png")))
        return 1;
    b.boxes.answers = {MsgAnswer::Yes};
    w.findChild<QPushButton*>(QStringLiteral("cmdApply"))->click();
    if (!waitUntil([&] { return w.alignment() && w.alignment()->isFinished(); }, 10000))
        return 1;
    spin(30000);
    std::printf("%s\n", qPrintable(b.boxes.texts().join(QStringLiteral("\n---\n")).replace('\r', '\n')));
    return w.grab().save(out + QStringLiteral("/sfn-after.png")) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (const QString why = Lab::unavailableReason(); !why.isEmpty()) {
        std::fprintf(stderr, "no lab: %s\n", qPrintable(why));
        return 1;
    }
    if (argc > 2 && QByteArray(argv[1]) == "--shots")
        return shots(QString::fromLocal8Bit(argv[2]));
    const int decoders = argc > 1 ? std::atoi(argv[1]) : 200;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
    const int simulatedSeconds = argc > 3 ? std::atoi(argv[3]) : 3600;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Bench b;
    if (!b.up(decoders))
        return 1;
    SfnOverviewWindow w(*b.station, b.boxes);
    SfnOverview& o = w.overview();
    // The values' clock: simulated for the accelerated hour, then one real second per second.
    QDateTime clock = QDateTime::currentDateTimeUtc();
    o.setClock([&] { return clock; });
    w.resize(1280, 900);
    w.show();
    o.stop();
    spin(500); // laid out and painted once
    std::printf("window shown, %d SFN decoders, no history yet: %s\n", decoders, qPrintable(memoryText()));

    // An hour of rounds in simulated time: the clock goes one second further per round, each
    // round waits for the lab's answers and the window shows it (table, chart, plan) as it ends.
    QElapsedTimer simulated;
    simulated.start();
    for (int s = 1; s <= simulatedSeconds; ++s) {
        clock = clock.addSecs(1);
        o.pollNow();
        waitUntil([&] { return !o.isPolling(); }, 5000);
        QCoreApplication::processEvents(); // the round's repaint
        if (s == simulatedSeconds || s % (15 * 60) == 0)
            std::printf("after %2d simulated min of history: %s (chart: %s)\n", s / 60,
                        qPrintable(memoryText()), qPrintable(chartText(w)));
    }
    std::printf("(the simulated span took %.1f s)\n", double(simulated.elapsed()) / 1000.0);

    // Real time, the chart full: the window polls once a second by its own timer.
    const QDateTime base = clock;
    QElapsedTimer wall;
    o.setClock([&] { return base.addMSecs(wall.elapsed()); });
    wall.start();
    o.start();
    spin(3000); // past the first rounds
    const double cpu0 = cpuSeconds();
    const qint64 wall0 = wall.elapsed();
    spin(seconds * 1000);
    const double share = (cpuSeconds() - cpu0) / (double(wall.elapsed() - wall0) / 1000.0) * 100.0;
    std::printf(
        "polling %d SFN decoders once a second, window and chart shown: %.1f %% of a core over %d s\n",
        decoders, share, seconds);
    std::printf("after that: %s\n", qPrintable(memoryText()));
    o.stop();
    waitUntil([&] { return !o.isPolling(); }, 5000);

    // Alignment of every decoder, applied and verified.
    const QList<SfnDecoderReading> readings = o.planReadings();
    SfnAlignment alignment(*b.station, planSfnAlignment(readings, *defaultSfnTargetNs(readings)));
    QElapsedTimer applyTime;
    applyTime.start();
    alignment.start();
    waitUntil([&] { return alignment.isFinished(); }, 30000);
    QMap<QString, int> results;
    for (const SfnApplyRow& r : alignment.rows())
        ++results[sfnApplyResultText(r.result)];
    QStringList counts;
    for (auto it = results.cbegin(); it != results.cend(); ++it)
        counts << QStringLiteral("%1 %2").arg(it.value()).arg(it.key());
    std::printf("alignment of %lld decoders applied and verified in %lld ms (%s; stored: %s)\n",
                qlonglong(alignment.rows().size()), applyTime.elapsed(), qPrintable(counts.join(", ")),
                alignment.storeWritten() ? "yes" : "no");
    return 0;
}
