// The configuration socket over real loopback sockets: routing, sends, failures, the reply queue.
#include "LinkFixture.h"

#include <QEventLoop>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTimer>
#include <QtEndian>

#include <random>

using namespace vexo;

TEST_F(LinkFixture, ArrivalsAreRoutedByLengthAndRepliesHandedOverInOrderNeverNested)
{
    // GIVEN the station bound on 2976 with a handler that spins a nested event loop for every
    // reply, as message boxes and the MAC lookup retries do
    ASSERT_TRUE(link.bindConfigPort());
    QList<QByteArray> handled;
    int depth = 0, deepest = 0;
    handleWith([&](const QueuedReply& r) {
        deepest = qMax(deepest, ++depth);
        handled << r.datagram;
        QEventLoop loop;
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
        loop.exec();
        --depth;
    });
    QSignalSpy levels(&link, &ConfigLink::levelReply);
    QUdpSocket element;
    ASSERT_TRUE(element.bind(kElementAddress, 0));

    // WHEN datagrams of every boundary length arrive, then a burst of 1000 replies
    auto datagram = [](int length) { return QByteArray(length, char(length & 0x7F)); };
    for (int length : {52, 53, 3, 1440, 1441, 40, 39, 0, 1439})
        ASSERT_EQ(element.writeDatagram(datagram(length), kStationAddress, 2976), length);
    constexpr int kBurst = 1000;
    for (int i = 1; i <= kBurst; ++i)
        ASSERT_EQ(element.writeDatagram(encoderReply(quint32(i)), kStationAddress, 2976), 44) << i;
    ASSERT_TRUE(waitUntil([&] { return handled.size() >= kBurst + 2 && !link.isDispatching(); }, 30000))
        << "handled " << handled.size() << "; receive buffer " << link.receiveBufferSize();

    // THEN the 52 and 40 bytes (39 and 0 carry no serial), then every reply in arrival order,
    // one at a time; only the 1440 bytes went to the level monitor
    ASSERT_EQ(handled.size(), kBurst + 2);
    EXPECT_EQ(handled[0], datagram(52));
    EXPECT_EQ(handled[1], datagram(40));
    for (int i = 1; i <= kBurst; ++i)
        ASSERT_EQ(serialOf(handled[i + 1]), i);
    EXPECT_EQ(deepest, 1);
    ASSERT_EQ(levels.size(), 1);
    EXPECT_EQ(levels[0][0].toByteArray(), datagram(1440));
    EXPECT_EQ(link.droppedReplies(), 0u);
}

TEST_F(LinkFixture, SendsLeaveFrom2976ForTheStoredAddress)
{
    // GIVEN the selected element stored at 127.0.0.2 with blanks in its address, not bound yet
    selectStandIn();
    ASSERT_TRUE(store.write(kSelectedMac, keys::ip, QStringLiteral("127. 0 .0.2")));
    auto configPort = standIn(2976);
    auto commandPort = standIn(2977);
    auto pagingPort = standIn(1901);
    // WHEN a configuration, an attenuation and a paging request are sent
    const QByteArray request = hex("7F 00 00 02") + QByteArray(32, 'R');
    ASSERT_TRUE(link.sendToSelected(request, 2976));
    EXPECT_TRUE(link.timerRemoteSent()->isActive());
    link.timerRemoteSent()->stop();
    ASSERT_TRUE(link.sendAttenuation(255));
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
    EXPECT_EQ(link.remotePort(), 2977);
    link.setRemote(QStringLiteral("127.0.0.2"), 1901);
    ASSERT_TRUE(link.sendPaging());
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
    // THEN each left from 127.0.0.1:2976 for its port
    const struct
    {
        QUdpSocket* socket;
        QByteArray bytes;
    } expected[] = {{configPort.get(), request},
                    {commandPort.get(), hex("FF 00")},
                    {pagingPort.get(), "IPMPXSTL KORVANTA PAGING REQUEST"}};
    for (const auto& e : expected) {
        const QNetworkDatagram got = receiveOne(*e.socket);
        EXPECT_EQ(got.data(), e.bytes);
        EXPECT_EQ(got.senderPort(), 2976);
        EXPECT_EQ(got.senderAddress().toIPv4Address(), kStationAddress.toIPv4Address());
    }
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(LinkFixture, ReplyPendingDuringARebindIsNotLost)
{
    selectStandIn();
    auto element = standIn(2977);
    ASSERT_TRUE(link.bindConfigPort());
    QList<qint32> serials;
    handleWith([&](const QueuedReply& r) { serials << serialOf(r.datagram); });
    QSignalSpy levels(&link, &ConfigLink::levelReply);
    ASSERT_EQ(element->writeDatagram(encoderReply(77), kStationAddress, 2976), 44);
    ASSERT_EQ(element->writeDatagram(QByteArray(1440, 'L'), kStationAddress, 2976), 1440);
    // Loopback delivers within the send: both wait in the socket, unread, as the send rebinds
    ASSERT_TRUE(link.udpClient()->hasPendingDatagrams());
    ASSERT_TRUE(link.sendAttenuation(40));
    EXPECT_TRUE(levels.isEmpty()); // delivered from the event loop, not inside the send
    ASSERT_TRUE(waitUntil([&] { return serials.size() == 1 && levels.size() == 1; }));
    EXPECT_EQ(serials.first(), 77);
}

TEST_F(LinkFixture, NoReplyInTimeGivesTheTimeOutMessage)
{
    selectStandIn();
    auto element = standIn(2976);
    ASSERT_TRUE(link.sendToSelected(encoderReply(1), 2976));
    QSignalSpy timedOut(&link, &ConfigLink::configReplyTimedOut);
    link.timerRemoteSent()->start(0); // the time-out, without waiting its seconds
    ASSERT_TRUE(timedOut.wait(5000));
    EXPECT_EQ(boxes.texts(),
              QStringList{"Waiting for a response from Network Element has timed out!\rCannot save."});
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error!"));
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
    EXPECT_TRUE(programEnd.codes.isEmpty());
}

TEST_F(LinkFixture, PortTakenFailsTheBindAndEndsTheProgramOnASend)
{
    selectStandIn();
    for (const QHostAddress& holderAddress : {kStationAddress, QHostAddress(QHostAddress::AnyIPv4)}) {
        QUdpSocket holder;
        ASSERT_TRUE(holder.bind(holderAddress, 2976));
        EXPECT_FALSE(link.bindConfigPort()); // the caller reports a start-up failure
    }
    EXPECT_TRUE(boxes.shown.isEmpty());
    ASSERT_TRUE(link.bindConfigPort());
    link.close();
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(kStationAddress, 2976));
    link.timerRemoteSent()->start();
    EXPECT_FALSE(link.sendToSelected(encoderReply(1), 2976));
    EXPECT_EQ(boxes.texts(), QStringList{"Unable to use UDP port 2976: occupied."});
    EXPECT_EQ(boxes.shown[0].caption, kAppTitle);
    EXPECT_EQ(programEnd.codes, QList<int>{1});
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
    EXPECT_EQ(link.udpClient()->state(), QAbstractSocket::UnconnectedState);
}

TEST_F(LinkFixture, SendFailuresAreReportedAndTheStationGoesOn)
{
    // Only loopback is up here (scripts/test runs in a namespace of its own): 198.51.100.7 is
    // unreachable and nothing can leave the machine.
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        ASSERT_TRUE(i.flags().testFlag(QNetworkInterface::IsLoopBack) ||
                    !i.flags().testFlag(QNetworkInterface::IsUp))
            << "run in a network namespace with loopback only";
    }
    selectStandIn();
    const QString prefix = QStringLiteral("Cannot send to the Network Element: ");
    const struct
    {
        const char* mac;
        const char* ip;
        int size;
        QString text;
    } cases[] = {
        {"00:11:22:33:44:55", "", 36, prefix + "no IP address is stored for it."},
        {"-", "", 2, prefix + "no IP address is stored for it."},
        {"00:50:C2:A1:B2:C3", "300.1.1.1", 36,
         prefix + "the IP address stored for it is not valid (300.1.1.1)."},
        {"00:50:C2:A1:B2:C3", "127.0.0.2", 70000, prefix + "the datagram could not be sent ("},
        {"00:50:C2:A1:B2:C3", "198.51.100.7", 36, prefix + "the network is unreachable ("},
    };
    ASSERT_TRUE(link.bindConfigPort());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ip);
        boxes.clear();
        if (*c.ip)
            store.write(kSelectedMac, keys::ip, QString::fromLatin1(c.ip));
        selection.select(QString::fromLatin1(c.mac));
        const QByteArray storeBefore = readFile(store.path());
        link.timerRemoteSent()->start(); // a pending send is superseded by the failed one
        EXPECT_FALSE(link.sendToSelected(QByteArray(c.size, 'x'), 2976));
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_EQ(boxes.shown[0].caption, kAppTitle);
        EXPECT_TRUE(boxes.shown[0].text.startsWith(c.text)) << boxes.shown[0].text.toStdString();
        EXPECT_FALSE(link.timerRemoteSent()->isActive());
        EXPECT_EQ(readFile(store.path()), storeBefore);
        EXPECT_EQ(link.udpClient()->localPort(), 2976);
    }
    boxes.clear();
    link.setRemote(QString(), 1901);
    EXPECT_FALSE(link.sendPaging());
    EXPECT_EQ(boxes.texts(), QStringList{"Cannot send the paging request: no destination address is set."});
    EXPECT_TRUE(programEnd.codes.isEmpty());
    EXPECT_EQ(link.udpClient()->state(), QAbstractSocket::BoundState);
    // A fatal error elsewhere closes the socket.
    fatal.fail(QStringLiteral("something else"));
    EXPECT_EQ(link.udpClient()->state(), QAbstractSocket::UnconnectedState);
}

TEST_F(LinkFixture, RepliesArrivingWhileTheHandlerWaitsAreOnlyQueuedAndKeepTheirDiscoveryFlag)
{
    ASSERT_TRUE(link.bindConfigPort());
    QUdpSocket element;
    ASSERT_TRUE(element.bind(kElementAddress, 0));
    link.setDiscoveryAwaiting(true);
    QList<QPair<qint32, bool>> handled;
    handleWith([&](const QueuedReply& r) {
        handled << qMakePair(serialOf(r.datagram), r.discovery);
        if (handled.size() > 1)
            return;
        // While the first waits in a message box, discovery ends and a third reply arrives
        boxes.onShow = [&](const MessageBoxRequest&) {
            link.setDiscoveryAwaiting(false);
            element.writeDatagram(encoderReply(3), kStationAddress, 2976);
            EXPECT_TRUE(waitUntil([&] { return link.queuedReplies() == 2; }));
        };
        boxes.critical(kAppTitle, QStringLiteral("waiting"));
        boxes.onShow = nullptr;
        EXPECT_EQ(handled.size(), 1);
    });
    element.writeDatagram(encoderReply(1), kStationAddress, 2976);
    element.writeDatagram(encoderReply(2), kStationAddress, 2976);
    ASSERT_TRUE(waitUntil([&] { return handled.size() == 3; }));
    EXPECT_EQ(handled, (QList<QPair<qint32, bool>>{{1, true}, {2, true}, {3, false}}));
}

TEST_F(LinkFixture, QueueIsBoundedAndHandsOverFromTheEventLoopOnly)
{
    const int total = ConfigLink::kMaxQueuedReplies + 25;
    for (int i = 1; i <= total; ++i)
        link.acceptDatagram(encoderReply(quint32(i)));
    EXPECT_EQ(link.queuedReplies(), ConfigLink::kMaxQueuedReplies);
    EXPECT_EQ(link.droppedReplies(), 25u);
    qint32 expected = 1;
    handleWith([&](const QueuedReply& r) { EXPECT_EQ(serialOf(r.datagram), expected++); });
    EXPECT_EQ(expected, 1); // not inside the call that set the handler
    QSignalSpy idle(&link, &ConfigLink::replyQueueIdle);
    ASSERT_TRUE(idle.wait(10000));
    EXPECT_EQ(expected, ConfigLink::kMaxQueuedReplies + 1);
}

// Seeded random datagrams, mostly around the reply lengths: every one is routed by its length,
// decoded without a crash, and every reply is handed over once. The long run is in bench/link.
TEST_F(LinkFixture, RandomDatagramsAreTakenByLengthAlone)
{
    std::mt19937 rng(0x5EED2976u);
    ElementConfig record;
    qint64 handled = 0, levels = 0, expectedReplies = 0, expectedLevels = 0;
    handleWith([&](const QueuedReply& r) {
        EXPECT_TRUE(r.datagram.size() >= 40 && r.datagram.size() <= 52) << r.datagram.size();
        ++handled;
    });
    QObject::connect(&link, &ConfigLink::levelReply, [&] { ++levels; });
    for (int i = 0; i < 20000; ++i) {
        const int pick = int(rng() % 100);
        QByteArray d(pick < 85 ? rng() % 56 : pick < 92 ? 1435 + rng() % 11 : rng() % 3000, '\0');
        for (char& c : d)
            c = char(rng());
        ASSERT_EQ(decodeConfigReply(d, record), d.size() >= 40);
        if (d.size() >= 40) {
            ASSERT_EQ(quint32(record.serial), qFromBigEndian<quint32>(d.constData() + 36));
        }
        expectedReplies += d.size() >= 40 && d.size() <= 52;
        expectedLevels += d.size() == 1440;
        link.acceptDatagram(d);
    }
    ASSERT_TRUE(waitUntil([&] { return link.queuedReplies() == 0 && !link.isDispatching(); }));
    EXPECT_EQ(handled, expectedReplies);
    EXPECT_EQ(levels, expectedLevels);
    EXPECT_GT(expectedLevels, 0);
}
