// Whatever arrives on 2976, of any length or content, is taken without a crash and without
// growing the queue beyond its limit. Seeded, so a failure can be replayed.
#include "LinkFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>

#include <cstdio>
#include <random>

using namespace vexo;

namespace {

constexpr std::uint32_t kSeed = 0x5EED2976u;

// Mostly lengths around the reply sizes, a few around the level reply, a few anywhere up to
// a few kilobytes, and replies that look almost valid (valid addresses, small field values).
QByteArray randomDatagram(std::mt19937& rng)
{
    const std::uint32_t pick = rng() % 100;
    qsizetype length;
    if (pick < 80)
        length = qsizetype(rng() % 56);
    else if (pick < 84)
        length = 1435 + qsizetype(rng() % 11);
    else if (pick < 88)
        length = qsizetype(rng() % 3000);
    else
        length = 40 + qsizetype(rng() % 9);
    // Only the length decides beyond the reply sizes: random content where a decoder could look
    // at it, a fixed filler after that.
    QByteArray d(length, char(0xA5));
    const qsizetype randomPart = qMin<qsizetype>(length, 64);
    for (qsizetype i = 0; i < randomPart; i += 4) {
        const std::uint32_t bits = rng();
        for (qsizetype k = 0; k < 4 && i + k < randomPart; ++k)
            d[i + k] = char((bits >> (8 * k)) & 0xFF);
    }
    if (pick >= 88 && length > 35)
        d[35] = char(rng() % 4); // roles 0..3
    return d;
}

// The routing rule written out once more, independently of the code under test.
Route expectedRoute(qsizetype length)
{
    if (length == 1440)
        return Route::LevelMonitor;
    if (length <= 52 && length != 3)
        return Route::ConfigReply;
    return Route::Drop;
}

} // namespace

TEST_F(LinkFixture, MillionRandomDatagramsThroughRoutingDecoderAndIntake)
{
    constexpr int kDatagrams = 1'000'000;
    std::mt19937 rng(kSeed);
    ElementConfig record; // carried over from reply to reply, as the station keeps it
    qint64 expectedReplies = 0;
    qint64 expectedLevels = 0;
    qint64 handled = 0;
    qint64 levels = 0;
    int unexpectedLengths = 0;
    bool nested = false;
    bool inside = false;
    handleWith([&](const QueuedReply& r) {
        nested = nested || inside;
        inside = true;
        if (r.datagram.size() < 40 || r.datagram.size() > 52)
            ++unexpectedLengths;
        ++handled;
        inside = false;
    });
    QObject::connect(link.get(), &ConfigLink::levelReply, link.get(), [&](const QByteArray&) { ++levels; });

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kDatagrams; ++i) {
        const QByteArray d = randomDatagram(rng);
        const qsizetype length = d.size();

        const Route route = routeDatagram(length);
        ASSERT_EQ(route, expectedRoute(length)) << "length " << length;

        const bool decoded = decodeConfigReply(d, record);
        ASSERT_EQ(decoded, length >= 40) << "length " << length;
        if (decoded) {
            const quint32 sn = (quint32(quint8(d[36])) << 24) | (quint32(quint8(d[37])) << 16) |
                               (quint32(quint8(d[38])) << 8) | quint32(quint8(d[39]));
            ASSERT_EQ(record.serial, qint32(sn));
            ASSERT_EQ(record.name.size(), 16);
            ASSERT_EQ(record.role, quint8(d[35]));
        }

        link->acceptDatagram(d);
        if (route == Route::ConfigReply && length >= 40)
            ++expectedReplies;
        if (route == Route::LevelMonitor)
            ++expectedLevels;
        if (i % 1000 == 999)
            QCoreApplication::processEvents();
        ASSERT_LE(link->queuedReplies(), ConfigLink::kMaxQueuedReplies);
    }
    ASSERT_TRUE(waitUntil([&] { return link->queuedReplies() == 0 && !link->isDispatching(); }));

    EXPECT_EQ(handled + qint64(link->droppedReplies()), expectedReplies);
    EXPECT_EQ(link->droppedReplies(), 0u);
    EXPECT_EQ(unexpectedLengths, 0);
    EXPECT_EQ(levels, expectedLevels);
    EXPECT_FALSE(nested);
    std::printf("[ fuzz     ] %d datagrams (seed 0x%08X) in %lld ms: %lld replies handled, %lld level "
                "replies, peak queue %d\n",
                kDatagrams, unsigned(kSeed), qint64(clock.elapsed()), handled, levels,
                link->peakQueuedReplies());
    RecordProperty("datagrams", kDatagrams);
}

TEST_F(LinkFixture, RandomDatagramsOverTheRealSocket)
{
    // GIVEN the station bound on 2976
    ASSERT_TRUE(link->bindConfigPort());
    qint64 handled = 0;
    qint64 levels = 0;
    qint32 lastMarker = 0;
    handleWith([&](const QueuedReply& r) {
        ++handled;
        if (r.datagram.size() == 44 && r.datagram.startsWith(encoderReply(0).left(35)))
            lastMarker = qMax(lastMarker, serialOf(r.datagram));
    });
    QObject::connect(link.get(), &ConfigLink::levelReply, link.get(), [&](const QByteArray&) { ++levels; });
    QUdpSocket element;
    ASSERT_TRUE(element.bind(kElementAddress, 0));

    // WHEN batches of random datagrams arrive, with the empty and the largest datagram among
    // them, each batch closed by a marker reply
    std::mt19937 rng(kSeed + 1);
    qint64 expectedReplies = 0;
    qint64 expectedLevels = 0;
    constexpr int kBatches = 20;
    constexpr int kPerBatch = 150;
    for (int batch = 1; batch <= kBatches; ++batch) {
        for (int i = 0; i < kPerBatch; ++i) {
            QByteArray d = randomDatagram(rng);
            if (i == 0)
                d = QByteArray();
            else if (i == 1)
                d = QByteArray(65507, char(batch));
            if (d.size() >= 35 && d.startsWith(encoderReply(0).left(35)))
                d[0] = 'x'; // random bytes never pose as a marker
            ASSERT_EQ(element.writeDatagram(d, kStationAddress, 2976), d.size());
            const Route route = expectedRoute(d.size());
            if (route == Route::ConfigReply && d.size() >= 40)
                ++expectedReplies;
            if (route == Route::LevelMonitor)
                ++expectedLevels;
        }
        element.writeDatagram(encoderReply(quint32(batch)), kStationAddress, 2976);
        ++expectedReplies;
        ASSERT_TRUE(waitUntil([&] { return lastMarker == batch; }, 5000)) << "batch " << batch;
    }

    // THEN everything was routed as its length says, nothing was lost and the station still runs
    EXPECT_EQ(handled, expectedReplies);
    EXPECT_EQ(levels, expectedLevels);
    EXPECT_EQ(link->queuedReplies(), 0);
    EXPECT_EQ(link->udpClient()->state(), QAbstractSocket::BoundState);
    EXPECT_TRUE(boxes.shown.isEmpty());
}
