// Discovery at scale: pages fleets of 57, 250 and 1000 simulated elements with the station's own
// window, reply queue, ARP lookup and store, and prints for each fleet: replies received,
// elements stored, lost replies, the times from the paging request to the last reply read and to
// the last element stored, how often the shown count grew, and the time to rebuild the tree from
// the new store.
#include "AppFixture.h"
#include "core/Station.h"
#include "link/ConfigLink.h"
#include "link/ReplyHandler.h"
#include "store/IniFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>
#include <QUdpSocket>

#include <cstdio>

using namespace vexo;

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!Lab::unavailableReason().isEmpty()) {
        std::fprintf(stderr, "no lab: %s\n", qPrintable(Lab::unavailableReason()));
        return 1;
    }
    QList<int> sizes{57, 250, 1000};
    if (argc > 1)
        sizes = {std::atoi(argv[1])};
    std::printf("%8s %6s %9s %8s %6s %13s %14s %15s %8s %12s\n", "elements", "table", "received", "stored",
                "lost", "last read ms", "last stored ms", "after last ms", "updates", "rebuild ms");
    for (int size : sizes) {
        LabStation station;
        QString error;
        if (!station.start(size / 2, size - size / 2, 0, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        MainWindow& window = *station.window;
        AppFixture& f = station.f;
        Discovery& discovery = window.station().discovery();
        const ConfigLink& link = window.station().link();
        QElapsedTimer clock;
        quint64 received = 0;
        int updates = 0;
        qint64 lastStoredMs = -1;
        qint64 lastReadMs = -1;
        quint64 lastSequence = 0;
        QObject::connect(&discovery, &Discovery::progress, &discovery, [&] {
            lastStoredMs = clock.elapsed();
            ++updates; // each one a new count shown in the paging window
        });
        // When the last reply was read from the socket (after the link's own reading).
        QObject::connect(link.udpClient(), &QUdpSocket::readyRead, &discovery, [&] {
            if (link.lastSequence() != lastSequence) {
                lastSequence = link.lastSequence();
                lastReadMs = clock.elapsed();
            }
        });
        // The question is answered at once; the clock starts with it, a moment before the request.
        f.boxes.onShow = [&](const MessageBoxRequest&) { clock.start(); };
        // First with the station's neighbour table empty (the elements of a big lab know the
        // station statically, so nothing has filled it), then again with every element in it.
        for (const char* table : {"empty", "full"}) {
            updates = 0;
            lastStoredMs = lastReadMs = -1;
            const quint64 before = link.lastSequence();
            station.discover();
            received = link.lastSequence() - before; // every reply the link queued
            const int stored = iniSections(f.storePath()).size();

            QElapsedTimer rebuild;
            rebuild.start();
            window.tree().loadConfig();
            const qint64 rebuildMs = rebuild.elapsed();
            std::printf("%8d %6s %9llu %8d %6d %13lld %14lld %15lld %8d %12lld\n", size, table,
                        qulonglong(received), stored, size - stored, qlonglong(lastReadMs),
                        qlonglong(lastStoredMs), qlonglong(lastStoredMs - lastReadMs), updates,
                        qlonglong(rebuildMs));
            std::fflush(stdout);
            if (child<QTreeWidget>(window, "TreeView1")->topLevelItemCount() != stored)
                std::fprintf(stderr, "tree shows %d of %d\n",
                             child<QTreeWidget>(window, "TreeView1")->topLevelItemCount(), stored);
        }
    }
    return 0;
}
