// Reply intake: every datagram read at once, replies handed over one at a time, never nested.
#include "LinkFixture.h"

#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>

using namespace vexo;

namespace {

// Fails the test if the handler is entered while it is still running.
struct NestingGuard
{
    int depth = 0;
    int deepest = 0;
    void enter()
    {
        ++depth;
        deepest = qMax(deepest, depth);
    }
    void leave() { --depth; }
};

void spinNestedLoopOnce()
{
    QEventLoop loop;
    QTimer::singleShot(0, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

TEST_F(LinkFixture, BurstOf1000RepliesIsReceivedCompletelyInArrivalOrderAndNeverNested)
{
    // GIVEN the station bound on 127.0.0.1:2976 and a handler that runs a nested event loop
    // for every reply, as the MAC lookup retries and message boxes do
    ASSERT_TRUE(link->bindConfigPort());
    NestingGuard guard;
    QList<qint32> serials;
    int maxQueuedSeen = 0;
    handleWith([&](const QueuedReply& r) {
        guard.enter();
        serials << serialOf(r.datagram);
        spinNestedLoopOnce();
        maxQueuedSeen = qMax(maxQueuedSeen, link->queuedReplies());
        guard.leave();
    });
    QSignalSpy idle(link.get(), &ConfigLink::replyQueueIdle);
    QUdpSocket element;
    ASSERT_TRUE(element.bind(kElementAddress, 0));

    // WHEN 1000 valid 44-byte replies are sent at once, before the station's loop runs
    constexpr int kBurst = 1000;
    for (int i = 1; i <= kBurst; ++i)
        ASSERT_EQ(element.writeDatagram(encoderReply(quint32(i)), kStationAddress, 2976), 44) << i;

    // THEN every one is handled, in arrival order, one at a time
    ASSERT_TRUE(waitUntil([&] { return serials.size() >= kBurst; }, 20000))
        << "handled " << serials.size() << " of " << kBurst << "; receive buffer "
        << link->receiveBufferSize() << " bytes";
    waitUntil([&] { return idle.size() > 0; }, 2000);
    ASSERT_EQ(serials.size(), kBurst);
    for (int i = 0; i < kBurst; ++i)
        ASSERT_EQ(serials[i], i + 1) << "out of order at " << i;
    EXPECT_EQ(guard.deepest, 1) << "the reply handler was entered while it was running";
    EXPECT_EQ(link->queuedReplies(), 0);
    EXPECT_EQ(link->droppedReplies(), 0u);
    EXPECT_GE(link->peakQueuedReplies(), 2); // they really waited in the queue
    EXPECT_GE(idle.size(), 1);
}

TEST_F(LinkFixture, RepliesArrivingWhileTheHandlerWaitsAreOnlyQueuedAndKeepTheirDiscoveryFlag)
{
    // GIVEN discovery awaiting replies, and two replies A and B in the socket
    ASSERT_TRUE(link->bindConfigPort());
    QUdpSocket element;
    ASSERT_TRUE(element.bind(kElementAddress, 0));
    link->setDiscoveryAwaiting(true);
    NestingGuard guard;
    QList<QPair<qint32, bool>> handled;
    handleWith([&](const QueuedReply& r) {
        guard.enter();
        const qint32 serial = serialOf(r.datagram);
        handled << qMakePair(serial, r.discovery);
        if (serial == 1) {
            // WHEN the handling of A waits in a message box, discovery ends meanwhile and C
            // arrives
            boxes.onShow = [&](const MessageBoxRequest&) {
                link->setDiscoveryAwaiting(false);
                element.writeDatagram(encoderReply(3), kStationAddress, 2976);
                EXPECT_TRUE(waitUntil([&] { return link->queuedReplies() == 2; }, 3000))
                    << "C was not read while the box was open";
            };
            boxes.critical(kAppTitle, QStringLiteral("waiting"));
            boxes.onShow = nullptr;
            // THEN nothing else was handled during the wait
            EXPECT_EQ(handled.size(), 1);
        }
        guard.leave();
    });
    element.writeDatagram(encoderReply(1), kStationAddress, 2976);
    element.writeDatagram(encoderReply(2), kStationAddress, 2976);

    ASSERT_TRUE(waitUntil([&] { return handled.size() == 3; }, 5000));
    // AND A and B count as discovery replies (they arrived during discovery), C does not
    EXPECT_EQ(handled[0], qMakePair(qint32(1), true));
    EXPECT_EQ(handled[1], qMakePair(qint32(2), true));
    EXPECT_EQ(handled[2], qMakePair(qint32(3), false));
    EXPECT_EQ(guard.deepest, 1);
}

TEST_F(LinkFixture, QueueIsBoundedAndKeepsWhatItAccepted)
{
    // GIVEN no handler yet: nothing is taken from the queue
    const int total = ConfigLink::kMaxQueuedReplies + 25;
    for (int i = 1; i <= total; ++i)
        link->acceptDatagram(encoderReply(quint32(i)));
    // THEN it stops growing at its limit and counts what it refused
    EXPECT_EQ(link->queuedReplies(), ConfigLink::kMaxQueuedReplies);
    EXPECT_EQ(link->droppedReplies(), 25u);

    // WHEN a handler is set THEN the accepted replies are handled in order
    qint32 expected = 1;
    bool inOrder = true;
    int count = 0;
    handleWith([&](const QueuedReply& r) {
        inOrder = inOrder && serialOf(r.datagram) == expected++;
        ++count;
    });
    QSignalSpy idle(link.get(), &ConfigLink::replyQueueIdle);
    ASSERT_TRUE(waitUntil([&] { return idle.size() == 1; }, 10000));
    EXPECT_EQ(count, ConfigLink::kMaxQueuedReplies);
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(link->queuedReplies(), 0);
}

TEST_F(LinkFixture, RepliesShorterThan40BytesNeverReachTheHandler)
{
    int handled = 0;
    handleWith([&](const QueuedReply&) { ++handled; });
    const QByteArray full = encoderReply(5, 52);
    for (int length = 0; length < 40; ++length)
        link->acceptDatagram(full.left(length));
    EXPECT_EQ(link->queuedReplies(), 0);
    for (int length = 40; length <= 52; ++length)
        link->acceptDatagram(full.left(length));
    EXPECT_EQ(link->queuedReplies(), 13);
    ASSERT_TRUE(waitUntil([&] { return handled == 13; }));
    EXPECT_EQ(link->droppedReplies(), 0u);
}

TEST_F(LinkFixture, LevelRepliesAreSignalledAtOnceAndNotQueued)
{
    QSignalSpy levels(link.get(), &ConfigLink::levelReply);
    link->acceptDatagram(QByteArray(1440, '\x01'));
    EXPECT_EQ(levels.size(), 1);
    EXPECT_EQ(link->queuedReplies(), 0);
}

TEST_F(LinkFixture, HandlerIsNotCalledInsideTheArrivalItself)
{
    // The handler runs from the event loop, after the intake has returned.
    int handled = 0;
    handleWith([&](const QueuedReply&) { ++handled; });
    link->acceptDatagram(encoderReply(9));
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(link->queuedReplies(), 1);
    ASSERT_TRUE(waitUntil([&] { return handled == 1; }));
}
