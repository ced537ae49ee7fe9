// A million seeded random datagrams through the configuration socket's intake: routing by length,
// the reply decoder and the reply queue, as if each had been read from port 2976. Prints how many
// it ran and what became of them; exits non-zero when one was routed or decoded wrongly. No
// socket is bound. Replay a failure with the seed:  bench_link_fuzz [count] [seed]
#include "PrintedServices.h"
#include "link/ConfigCodec.h"
#include "link/ConfigLink.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

// Mostly lengths around the reply sizes, some around the level reply, some up to 3000 bytes.
QByteArray randomDatagram(std::mt19937& rng)
{
    const std::uint32_t pick = rng() % 100;
    const qsizetype length = pick < 80 ? rng() % 56 : pick < 88 ? 1435 + rng() % 11 : rng() % 3000;
    QByteArray d(length, char(0xA5));
    for (qsizetype i = 0; i < qMin<qsizetype>(length, 64); ++i)
        d[i] = char(rng());
    return d;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long count = argc > 1 ? std::atol(argv[1]) : 1'000'000;
    const std::uint32_t seed = argc > 2 ? std::uint32_t(std::strtoul(argv[2], nullptr, 0)) : 0x5EED2976u;

    QTemporaryDir dir;
    PrintedBoxes boxes;
    PrintedEnd end;
    vexo::FatalError fatal(boxes, end);
    vexo::ElementStore store(dir.filePath(QStringLiteral("nms.ini")));
    vexo::ConfigLink link(fatal);
    long handled = 0, levels = 0, expectedReplies = 0, expectedLevels = 0, wrong = 0;
    link.setReplyHandler([&](const vexo::QueuedReply&) {
        ++handled;
        link.replyHandled();
    });
    QObject::connect(&link, &vexo::ConfigLink::levelReply, [&] { ++levels; });

    std::mt19937 rng(seed);
    vexo::ElementConfig record; // carried from reply to reply, as the station keeps it
    QElapsedTimer clock;
    clock.start();
    for (long i = 0; i < count; ++i) {
        const QByteArray d = randomDatagram(rng);
        const bool reply = d.size() >= vexo::kMinConfigReplySize && d.size() <= 52;
        const bool decoded = vexo::decodeConfigReply(d, record);
        if (decoded != (d.size() >= 40) ||
            (decoded && (quint32(record.serial) != qFromBigEndian<quint32>(d.constData() + 36) ||
                         record.name.size() != 16 || record.role != quint8(d[35])))) {
            std::fprintf(stderr, "datagram %ld (%lld bytes) decoded wrongly\n", i, qint64(d.size()));
            ++wrong;
        }
        expectedReplies += reply;
        expectedLevels += d.size() == 1440;
        link.acceptDatagram(d);
        if (i % 1000 == 999)
            QCoreApplication::processEvents();
    }
    while (link.queuedReplies() > 0 || link.isDispatching())
        QCoreApplication::processEvents();
    const bool ok =
        wrong == 0 && handled == expectedReplies && levels == expectedLevels && link.droppedReplies() == 0;
    std::printf("link fuzz: %ld datagrams (seed 0x%08X) in %lld ms, none crashed; %ld replies handled "
                "(%ld expected), %ld level replies (%ld expected), %ld decoded wrongly, peak queue %d, "
                "%llu dropped: %s\n",
                count, unsigned(seed), qint64(clock.elapsed()), handled, expectedReplies, levels,
                expectedLevels, wrong, link.peakQueuedReplies(),
                static_cast<unsigned long long>(link.droppedReplies()), ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
