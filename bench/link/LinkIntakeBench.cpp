// How fast the configuration socket takes a burst of 1000 replies (all elements answering a
// paging request at once): time from the first datagram sent to the last reply handed to the
// handler, and the longest the reply queue grew. Loopback only: run it inside a network
// namespace of its own, e.g.  unshare -n sh -c 'ip link set lo up; ./bench_link_intake'
#include "PrintedServices.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray reply(quint32 serial)
{
    vexo::ElementConfig r;
    r.ip = QStringLiteral("10.0.0.5");
    r.mask = QStringLiteral("255.255.255.0");
    r.gateway = QStringLiteral("10.0.0.1");
    r.remote = QStringLiteral("239.1.1.1");
    r.name = QStringLiteral("STUDIO 1");
    r.role = 1;
    r.serial = qint32(serial);
    r.versionMajor = 3;
    r.versionMinor = 1;
    return vexo::buildConfigReply(r); // 44 bytes
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    constexpr int kBurst = 1000;
    constexpr int kRuns = 30;

    QTemporaryDir dir;
    const vexo::ElementStore store(dir.filePath(QStringLiteral("nms.ini")));
    PrintedBoxes boxes;
    PrintedEnd end;
    vexo::FatalError fatal(boxes, end);
    vexo::ConfigLink link(fatal, QHostAddress(QStringLiteral("127.0.0.1")));
    if (!link.bindConfigPort()) {
        std::fprintf(stderr, "cannot bind 127.0.0.1:2976\n");
        return 1;
    }
    QUdpSocket element;
    if (!element.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0)) {
        std::fprintf(stderr, "cannot bind 127.0.0.2\n");
        return 1;
    }

    const QHostAddress station(QStringLiteral("127.0.0.1"));
    std::vector<QByteArray> burst;
    for (int i = 1; i <= kBurst; ++i)
        burst.push_back(reply(quint32(i)));

    int handled = 0;
    bool inOrder = true;
    vexo::ElementConfig record;
    link.setReplyHandler([&](const vexo::QueuedReply& r) {
        // What the real handler does first: decode into its own copy.
        vexo::ElementConfig own = record;
        vexo::decodeConfigReply(r.datagram, own);
        inOrder = inOrder && own.serial == handled % kBurst + 1;
        ++handled;
        link.replyHandled();
    });

    std::vector<double> drainMs;
    std::vector<double> nestedMs;
    std::vector<double> afterSendMs; // from the last datagram sent to the last one handled
    int lost = 0;
    for (int nested = 0; nested < 2; ++nested) {
        if (nested) {
            // Every handling also spins a nested event loop, as a message box or the MAC
            // lookup retries do.
            link.setReplyHandler([&](const vexo::QueuedReply& r) {
                vexo::ElementConfig own = record;
                vexo::decodeConfigReply(r.datagram, own);
                inOrder = inOrder && own.serial == handled % kBurst + 1;
                ++handled;
                QEventLoop loop;
                QTimer::singleShot(0, &loop, &QEventLoop::quit);
                loop.exec();
                link.replyHandled();
            });
        }
        for (int run = 0; run < kRuns; ++run) {
            handled = 0;
            QElapsedTimer clock;
            clock.start();
            for (const QByteArray& d : burst)
                element.writeDatagram(d, station, 2976);
            const qint64 sentAt = clock.nsecsElapsed();
            QDeadlineTimer deadline(5000);
            while (handled < kBurst && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            const double ms = double(clock.nsecsElapsed()) / 1e6;
            if (handled < kBurst)
                lost += kBurst - handled;
            (nested ? nestedMs : drainMs).push_back(ms);
            if (!nested)
                afterSendMs.push_back(double(clock.nsecsElapsed() - sentAt) / 1e6);
        }
    }

    auto report = [](const char* what, std::vector<double> v) {
        std::sort(v.begin(), v.end());
        std::printf("%-44s min %7.2f ms  median %7.2f ms  max %7.2f ms\n", what, v.front(), v[v.size() / 2],
                    v.back());
    };
    std::printf("bench_link_intake: burst of %d replies of 44 bytes over loopback, %d runs each\n", kBurst,
                kRuns);
    std::printf("receive buffer granted: %d bytes\n", link.receiveBufferSize());
    report("send + drain + handle (decode):", drainMs);
    report("  of which after the last send:", afterSendMs);
    report("send + drain + handle (decode, nested loop):", nestedMs);
    std::printf("peak queue length: %d   replies lost: %d   dropped by queue limit: %llu   in order: %s\n",
                link.peakQueuedReplies(), lost, static_cast<unsigned long long>(link.droppedReplies()),
                inOrder ? "yes" : "NO");
    std::sort(drainMs.begin(), drainMs.end());
    std::printf("goal < 50 ms (median): %s\n", drainMs[drainMs.size() / 2] < 50.0 ? "met" : "NOT met");
    return lost == 0 && inOrder ? 0 : 2;
}
