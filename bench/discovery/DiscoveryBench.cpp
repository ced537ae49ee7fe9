// Discovery at scale: pages fleets of 57, 250 and 1000 simulated elements with the station's own
// window, reply queue, ARP lookup and store, and prints for each fleet: replies received,
// elements stored, lost replies, time from the paging request to the last element stored, and
// the time to rebuild the tree from the new store.
#include "LabStation.h"
#include "core/Station.h"
#include "link/ConfigLink.h"
#include "link/ReplyHandler.h"
#include "store/IniFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>

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
    std::printf("%8s %9s %8s %6s %14s %12s\n", "elements", "received", "stored", "lost", "last stored ms",
                "rebuild ms");
    for (int size : sizes) {
        LabStation station;
        QString error;
        if (!station.start(size / 2, size - size / 2, 0, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        MainWindow& window = *station.window;
        AppFixture& f = station.f;
        int received = 0;
        qint64 lastStoredMs = -1;
        QElapsedTimer clock;
        ReplyHandler& replies = window.station().replies();
        window.station().link().setReplyHandler([&](const QueuedReply& reply) {
            ++received;
            replies.handleConfigReply(reply);
        });
        QObject::connect(&replies, &ReplyHandler::elementsDiscovered, &replies,
                         [&] { lastStoredMs = clock.elapsed(); });
        // The question is answered at once; the clock starts with it, a moment before the request.
        f.boxes.onShow = [&](const MessageBoxRequest&) { clock.start(); };
        station.discover();
        const int stored = iniSections(f.storePath()).size();

        QElapsedTimer rebuild;
        rebuild.start();
        window.tree().loadConfig();
        const qint64 rebuildMs = rebuild.elapsed();
        std::printf("%8d %9d %8d %6d %14lld %12lld\n", size, received, stored, size - stored,
                    qlonglong(lastStoredMs), qlonglong(rebuildMs));
        std::fflush(stdout);
        if (window.TreeView1->topLevelItemCount() != stored)
            std::fprintf(stderr, "tree shows %d of %d\n", window.TreeView1->topLevelItemCount(), stored);
    }
    return 0;
}
