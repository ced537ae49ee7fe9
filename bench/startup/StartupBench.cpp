// Start-up of the station window against a minimal Qt Widgets window, and the tree rebuild.
//
// Each start-up runs in a fresh process (this program started again with --child): the time is
// taken from just before the process is started to the moment its main window is exposed, so it
// includes loading the libraries. Cases: the station with a 2-element and a 1000-element store,
// and a minimal window with a toolbar, a tree and about a hundred fields. Then, in this process,
// the rebuild of the element tree from the 1000-element store in the station's window. Prints
// medians and ratios; run on demand inside `unshare -n` (the station binds its port).
#include "AppFixture.h"
#include "gui/ElementTree.h"
#include "store/IniFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolBar>
#include <QTreeWidget>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace vexo;

namespace {

qint64 monotonicNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void waitExposed(QWidget& window)
{
    window.show();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    QCoreApplication::processEvents(); // the first paint
    std::printf("EXPOSED %lld\n", qlonglong(monotonicNs()));
}

// A store of encoders and decoders alternating, with every key the station writes.
bool writeStore(const QString& path, int elements)
{
    QList<QPair<QString, QList<QPair<QString, QString>>>> sections;
    for (int i = 0; i < elements; ++i) {
        const bool encoder = i % 2 == 0;
        const QString mac = QStringLiteral("0050C2%1").arg(i, 6, 16, QLatin1Char('0')).toUpper();
        sections.append(
            {mac,
             {{"name", QStringLiteral("STUDIO %1").arg(i, 4, 10, QLatin1Char('0')).leftJustified(16)},
              {"ip", QStringLiteral("10.0.%1.%2").arg(i / 250).arg(i % 250 + 2)},
              {"mask", "255.255.0.0"},
              {"gw", "10.0.0.1"},
              {"input", "1"},
              {"type", "1"},
              {"tx", "0"},
              {encoder ? "remote" : "multi", encoder ? "10.0.0.9" : "239.1.1.1"},
              {"role", encoder ? "1" : "2"},
              {"sn", QString::number(32769 + i)},
              {"ver", "3.1"},
              {"sfn", "0"},
              {"buf", "6"},
              {"att", "200"},
              {"sdm", "0"},
              {"sdl", "40"},
              {"sdt", "10"}}});
    }
    return writeSectionsToIni(sections, path);
}

int childStation(const QString& storePath)
{
    AppFixture f;
    MainWindow window(
        Services{f.boxes, f.settings, f.guard, f.end, f.arp, f.icmp, storePath, QHostAddress("127.0.0.1")},
        QStringList{});
    if (!window.startUp())
        return 1;
    waitExposed(window);
    return child<QTreeWidget>(window, "TreeView1")->topLevelItemCount() > 0 ? 0 : 1;
}

int childMinimal()
{
    QMainWindow window;
    QToolBar* toolbar = window.addToolBar(QStringLiteral("Toolbar"));
    for (int i = 0; i < 7; ++i)
        toolbar->addAction(QStringLiteral("Button %1").arg(i));
    auto* central = new QWidget(&window);
    window.setCentralWidget(central);
    auto* tree = new QTreeWidget(central);
    tree->setGeometry(5, 5, 250, 500);
    for (int i = 0; i < 2; ++i)
        tree->addTopLevelItem(new QTreeWidgetItem(QStringList{QStringLiteral("STUDIO %1").arg(i)}));
    auto* box = new QGroupBox(QStringLiteral("Element properties:"), central);
    box->setGeometry(260, 5, 500, 500);
    for (int i = 0; i < 30; ++i) {
        new QLabel(QStringLiteral("Field %1").arg(i), box);
        (new QLineEdit(box))->move(100, 20 + 14 * i);
        if (i % 3 == 0)
            (new QComboBox(box))->addItems({"a", "b", "c"});
        if (i % 5 == 0)
            new QCheckBox(QStringLiteral("x"), box);
        if (i % 10 == 0)
            new QSlider(Qt::Horizontal, box);
        if (i % 4 == 0)
            new QPushButton(QStringLiteral("Do"), box);
    }
    window.resize(800, 560);
    waitExposed(window);
    return 0;
}

double startUpMs(const QStringList& arguments)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 start = monotonicNs();
    child.start(QCoreApplication::applicationFilePath(), arguments);
    child.waitForFinished(60000);
    const QByteArray out = child.readAllStandardOutput();
    const qsizetype at = out.indexOf("EXPOSED ");
    if (child.exitCode() != 0 || at < 0)
        return -1;
    return (out.mid(at + 8).trimmed().toLongLong() - start) / 1e6;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 2 && qstrcmp(argv[1], "--child") == 0) {
        QApplication app(argc, argv);
        return qstrcmp(argv[2], "minimal") == 0 ? childMinimal()
                                                : childStation(QString::fromLocal8Bit(argv[2]));
    }
    QApplication app(argc, argv);
    // "--write-store PATH N" writes a store of N elements and stops (to profile one start-up:
    // bench_startup --child PATH).
    if (argc > 3 && qstrcmp(argv[1], "--write-store") == 0)
        return writeStore(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3])) ? 0 : 1;
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    QTemporaryDir dir;
    const QString small = dir.filePath(QStringLiteral("small/nms.ini"));
    const QString large = dir.filePath(QStringLiteral("large/nms.ini"));
    QDir(dir.path()).mkpath(QStringLiteral("small"));
    QDir(dir.path()).mkpath(QStringLiteral("large"));
    if (!writeStore(small, 2) || !writeStore(large, 1000)) {
        std::fprintf(stderr, "could not write the stores\n");
        return 1;
    }

    // The cases take turns, so that a busy moment of the machine spreads over all of them.
    // "--rebuild-only" skips them (for a profile of the rebuild).
    const bool startUps = !QCoreApplication::arguments().contains(QStringLiteral("--rebuild-only"));
    QList<double> minimal, station2, station1000;
    for (int r = 0; startUps && r < rounds; ++r) {
        minimal << startUpMs({"--child", "minimal"});
        station2 << startUpMs({"--child", small});
        station1000 << startUpMs({"--child", large});
    }
    if (minimal.contains(-1) || station2.contains(-1) || station1000.contains(-1)) {
        std::fprintf(stderr, "a start-up failed\n");
        return 1;
    }
    if (startUps) {
        const double m = median(minimal), s2 = median(station2), s1000 = median(station1000);
        std::printf("start-up to an exposed window, median of %d (ms):\n", rounds);
        std::printf("  minimal Qt window              %8.1f\n", m);
        std::printf("  station, 2-element store       %8.1f  (%.2fx minimal)\n", s2, s2 / m);
        std::printf("  station, 1000-element store    %8.1f  (%.2fx minimal, %.2fx 2-element store)\n", s1000,
                    s1000 / m, s1000 / s2);
    }

    AppFixture f;
    MainWindow window(
        Services{f.boxes, f.settings, f.guard, f.end, f.arp, f.icmp, large, QHostAddress("127.0.0.1")},
        QStringList{});
    if (!window.startUp())
        return 1;
    window.show();
    QList<double> rebuilds;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        window.tree().loadConfig();
        rebuilds << t.nsecsElapsed() / 1e6;
    }
    std::printf("tree rebuild from the 1000-element store, median of %d: %.1f ms (%d entries)\n", rounds,
                median(rebuilds), child<QTreeWidget>(window, "TreeView1")->topLevelItemCount());
    return 0;
}
