// The longest the event loop stands still while the reply handler identifies an element that the
// neighbour table does not know and that never answers ARP: a 1 ms timer's largest gap between
// two ticks over 3 s of retries. The station looks the table up without waiting; --blocking
// uses lookups that wait up to 100 ms each for the answer, as the station's did.
// Makes a network namespace of its own (root), with a veth pair 10.99.0.1/24 in it; nothing
// leaves it.  sudo ./bench_identify_stall [--blocking]
#include "../link/PrintedServices.h"
#include "diagnostics/MacLookup.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "link/ReplyHandler.h"
#include "platform/Arp.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <sched.h>

using namespace vexo;

int main(int argc, char** argv)
{
    // Before any thread exists: the namespace is the whole process's.
    if (::unshare(CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "cannot make a network namespace (needs root): %s\n", std::strerror(errno));
        return 1;
    }
    QCoreApplication app(argc, argv);
    const bool blocking = app.arguments().contains(QStringLiteral("--blocking"));
    for (const char* command :
         {"ip link set lo up", "ip link add vxa type veth peer name vxb", "ip addr add 10.99.0.1/24 dev vxa",
          "ip link set vxa up", "ip link set vxb up"}) {
        if (QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), QString::fromLatin1(command)}) !=
            0) {
            std::fprintf(stderr, "failed: %s\n", command);
            return 1;
        }
    }
    QTemporaryDir dir;
    const ElementStore store(dir.filePath(QStringLiteral("nms.ini")));
    PrintedBoxes boxes;
    PrintedEnd end;
    FatalError fatal(boxes, end);
    ConfigLink link(fatal);
    NeighbourTableArp arp; // the station's: 100 ms per waiting attempt
    int lookups = 0;
    ReplyHandler handler(
        link, store,
        [&](const QString& ip, QString& mac) {
            ++lookups;
            return blocking ? getRemoteMac(arp, ip, QStringLiteral(":"), mac)
                            : getRemoteMacNow(arp, ip, QStringLiteral(":"), mac);
        },
        ValueRanges{});
    ElementConfig r;
    r.ip = QStringLiteral("10.99.0.2"), r.mask = QStringLiteral("255.255.255.0");
    r.gateway = QStringLiteral("10.99.0.1"), r.remote = QStringLiteral("239.1.1.1");
    r.name = QStringLiteral("SILENT"), r.role = 1, r.serial = 1;

    QElapsedTimer clock, sinceTick;
    qint64 longestNs = 0, ticks = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestNs = std::max(longestNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
        ++ticks;
    });
    QTimer::singleShot(0, [&] {
        ticker.start();
        clock.start();
        sinceTick.start();
        handler.handleConfigReply(QueuedReply{buildConfigReply(r), false, 1});
    });
    QTimer::singleShot(3000, &app, &QCoreApplication::quit);
    app.exec();
    std::printf("identifying a silent element for 3 s (%s lookups): %d lookups, %lld ticks of 1 ms,\n"
                "  longest event-loop stall %.1f ms, still identifying: %s\n",
                blocking ? "waiting" : "non-waiting", lookups, qlonglong(ticks), longestNs / 1e6,
                handler.isIdentifying() ? "yes" : "no");
    return 0;
}
