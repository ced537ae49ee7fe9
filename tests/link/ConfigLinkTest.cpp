// The configuration socket over real loopback sockets: routing, sends, failures, the reply queue.
#include "LinkFixture.h"

#include <QEventLoop>
#include <QNetworkInterface>
#include <QSignalSpy>

#include <random>

using namespace vexo;

TEST_F(LinkFixture, ArrivalsAreRoutedByLengthAndRepliesHandedOverInOrderNeverNested)
{
    // GIVEN the station on 2976, its handler spinning a nested event loop as message boxes do
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
    // WHEN a level reply, a datagram too long for a reply and a burst of 1000 replies arrive
    ASSERT_EQ(element.writeDatagram(QByteArray(1440, 'L'), kStationAddress, 2976), 1440);
    ASSERT_EQ(element.writeDatagram(QByteArray(53, 'x'), kStationAddress, 2976), 53);
    constexpr int kBurst = 1000;
    for (int i = 1; i <= kBurst; ++i)
        ASSERT_EQ(element.writeDatagram(encoderReply(quint32(i)), kStationAddress, 2976), 44) << i;
    ASSERT_TRUE(waitUntil([&] { return handled.size() >= kBurst && !link.isDispatching(); }, 30000))
        << "handled " << handled.size() << "; receive buffer " << link.receiveBufferSize();
    // THEN every reply was handed over in arrival order, one at a time, the level reply signalled
    ASSERT_EQ(handled.size(), kBurst);
    for (int i = 1; i <= kBurst; ++i)
        ASSERT_EQ(serialOf(handled[i - 1]), i);
    EXPECT_EQ(deepest, 1);
    ASSERT_EQ(levels.size(), 1);
    EXPECT_EQ(levels[0][0].toByteArray(), QByteArray(1440, 'L'));
}

TEST_F(LinkFixture, SendsLeaveFrom2976ForTheStoredAddressAndLoseNothingThatArrived)
{
    // GIVEN the element stored at 127.0.0.2 with blanks in its address, the socket not bound yet
    selectStandIn();
    store.write(kSelectedMac, keys::ip, QStringLiteral("127. 0 .0.2"));
    auto configPort = standIn(2976), commandPort = standIn(2977), pagingPort = standIn(1901);
    // WHEN a configuration, an attenuation and a paging request are sent
    ASSERT_TRUE(link.sendToSelected("request", 2976));
    // The reply time-out runs; fired at once here rather than after its seconds
    QSignalSpy timedOut(&link, &ConfigLink::configReplyTimedOut);
    ASSERT_TRUE(link.timerRemoteSent()->isActive());
    link.timerRemoteSent()->start(0);
    ASSERT_TRUE(timedOut.wait(5000));
    ASSERT_EQ(boxes.texts(),
              QStringList{"Waiting for a response from Network Element has timed out!\rCannot save."});
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error!"));
    ASSERT_TRUE(link.sendAttenuation(255));
    EXPECT_EQ(link.remotePort(), 2977);
    link.setRemote(QStringLiteral("127.0.0.2"), 1901);
    ASSERT_TRUE(link.sendPaging({FakeInterfaces::loopback()}));
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
    EXPECT_EQ(boxes.shown.size(), 1);
    // THEN each left 127.0.0.1:2976 for its port
    for (const auto& [socket, bytes] : {std::pair{configPort.get(), QByteArray("request")},
                                        {commandPort.get(), hex("FF 00")},
                                        {pagingPort.get(), "IPMPXSTL KORVANTA PAGING REQUEST"}}) {
        const QNetworkDatagram got = receiveOne(*socket);
        EXPECT_EQ(got.data(), bytes);
        EXPECT_EQ(got.senderPort(), 2976);
        EXPECT_EQ(got.senderAddress().toIPv4Address(), kStationAddress.toIPv4Address());
    }
    // WHEN a reply and a level reply wait unread (loopback delivers within the send) as the next
    // send rebinds the socket THEN both still arrive, from the event loop
    QList<qint32> serials;
    handleWith([&](const QueuedReply& r) { serials << serialOf(r.datagram); });
    QSignalSpy levels(&link, &ConfigLink::levelReply);
    commandPort->writeDatagram(encoderReply(77), kStationAddress, 2976);
    commandPort->writeDatagram(QByteArray(1440, 'L'), kStationAddress, 2976);
    ASSERT_TRUE(link.udpClient()->hasPendingDatagrams());
    ASSERT_TRUE(link.sendAttenuation(40));
    EXPECT_TRUE(levels.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return serials == QList<qint32>{77} && levels.size() == 1; }));
}

TEST_F(LinkFixture, SendFailuresAreReportedAndOnlyATakenPortEndsTheProgram)
{
    // Only loopback is up here (scripts/test runs in a namespace of its own): nothing leaves.
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        ASSERT_TRUE(i.flags().testFlag(QNetworkInterface::IsLoopBack) ||
                    !i.flags().testFlag(QNetworkInterface::IsUp));
    }
    const QString prefix = QStringLiteral("Cannot send to the Network Element: ");
    const QList<std::tuple<const char*, const char*, int, QString>> cases = {
        {"00:11:22:33:44:55", "", 36, prefix + "no IP address is stored for it."},
        {"00:50:C2:A1:B2:C3", "300.1.1.1", 36,
         prefix + "the IP address stored for it is not valid (300.1.1.1)."},
        {"00:50:C2:A1:B2:C3", "127.0.0.2", 70000, prefix + "the datagram could not be sent ("},
        {"00:50:C2:A1:B2:C3", "198.51.100.7", 36, prefix + "the network is unreachable ("},
    };
    ASSERT_TRUE(link.bindConfigPort());
    for (const auto& [mac, ip, size, text] : cases) {
        SCOPED_TRACE(ip);
        boxes.clear();
        store.write(kSelectedMac, keys::ip, QLatin1String(ip));
        selection.select(QLatin1String(mac));
        link.timerRemoteSent()->start(); // a pending send is superseded by the failed one
        EXPECT_FALSE(link.sendToSelected(QByteArray(size, 'x'), 2976));
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_TRUE(boxes.shown[0].text.startsWith(text)) << boxes.shown[0].text.toStdString();
        EXPECT_FALSE(link.timerRemoteSent()->isActive());
        EXPECT_EQ(link.udpClient()->localPort(), 2976);
    }
    boxes.clear();
    link.setRemote(QString(), 1901);
    EXPECT_FALSE(link.sendPaging({FakeInterfaces::loopback()}));
    EXPECT_EQ(boxes.texts(), QStringList{"Cannot send the paging request: no destination address is set."});
    EXPECT_TRUE(programEnd.codes.isEmpty());
    // WHEN another program takes 2976 THEN the bind fails, and a send ends the program
    link.close();
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, 2976));
    EXPECT_FALSE(link.bindConfigPort()); // the caller reports a start-up failure
    boxes.clear();
    link.timerRemoteSent()->start();
    EXPECT_FALSE(link.sendToSelected("request", 2976));
    EXPECT_EQ(boxes.texts(), QStringList{"Unable to use UDP port 2976: occupied."});
    EXPECT_EQ(programEnd.codes, QList<int>{1});
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
}

// Seeded random datagrams, mostly around the reply lengths: each is decoded without a crash and
// routed by its length alone. The long run is bench/link's.
TEST_F(LinkFixture, RandomDatagramsAreTakenByLengthAlone)
{
    std::mt19937 rng(0x5EED2976u);
    ElementConfig record;
    qint64 handled = 0, levels = 0, expectedReplies = 0, expectedLevels = 0;
    handleWith([&](const QueuedReply& r) { handled += r.datagram.size() >= 40 && r.datagram.size() <= 52; });
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
}
