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
    EXPECT_EQ(levels[0][1].value<QHostAddress>(), kElementAddress); // the reading it answers is found by it
}

TEST_F(LinkFixture, SendsLeaveFrom2976ForTheGivenAddressAndTheSocketStaysBound)
{
    // GIVEN the socket not bound yet, the element at 127.0.0.2 (with blanks in its address)
    auto configPort = standIn(2976), commandPort = standIn(2977), pagingPort = standIn(1901);
    const QString ip = QStringLiteral("127. 0 .0.2");
    // WHEN a configuration, an attenuation and a paging request are sent
    ASSERT_FALSE(link.sendTo(ip, "request", 2976));
    QSignalSpy timedOut(&link, &ConfigLink::configReplyTimedOut);
    ASSERT_TRUE(link.timerRemoteSent()->isActive());
    EXPECT_EQ(link.timerRemoteSent()->interval(), 3000);
    // The reply time-out, fired here rather than after its seconds, is only signalled
    link.onTimerRemoteSent();
    EXPECT_EQ(timedOut.size(), 1);
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
    const qintptr socket = link.udpClient()->socketDescriptor();
    ASSERT_FALSE(link.sendAttenuation(ip, 255));
    EXPECT_EQ(link.remotePort(), 2977);
    EXPECT_FALSE(link.timerRemoteSent()->isActive());
    link.setRemote(QStringLiteral("127.0.0.2"), 1901);
    ASSERT_FALSE(link.sendPaging({FakeInterfaces::loopback()}));
    // THEN each left 127.0.0.1:2976 for its port, from the one socket bound at the first send
    EXPECT_EQ(link.udpClient()->socketDescriptor(), socket);
    for (const auto& [socket, bytes] : {std::pair{configPort.get(), QByteArray("request")},
                                        {commandPort.get(), hex("FF 00")},
                                        {pagingPort.get(), "IPMPXSTL KORVANTA PAGING REQUEST"}}) {
        const QNetworkDatagram got = receiveOne(*socket);
        EXPECT_EQ(got.data(), bytes);
        EXPECT_EQ(got.senderPort(), 2976);
        EXPECT_EQ(got.senderAddress().toIPv4Address(), kStationAddress.toIPv4Address());
    }
    // AND no other program can take 2976 between sends
    QUdpSocket other;
    EXPECT_FALSE(other.bind(kStationAddress, 2976) || other.bind(QHostAddress::AnyIPv4, 2976));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(LinkFixture, SendFailuresAreReturnedAndOnlyATakenPortEndsTheProgram)
{
    // Only loopback is up here (scripts/test runs in a namespace of its own): nothing leaves.
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        ASSERT_TRUE(i.flags().testFlag(QNetworkInterface::IsLoopBack) ||
                    !i.flags().testFlag(QNetworkInterface::IsUp));
    }
    const QString prefix = QStringLiteral("Cannot send to the Network Element: ");
    const QList<std::tuple<const char*, int, SendFailure, QString>> cases = {
        {"", 36, SendFailure::NoAddress, prefix + "no IP address is stored for it."},
        {"300.1.1.1", 36, SendFailure::InvalidAddress,
         prefix + "the IP address stored for it is not valid (300.1.1.1)."},
        {"127.0.0.2", 70000, SendFailure::DatagramRefused, prefix + "the datagram could not be sent ("},
        {"198.51.100.7", 36, SendFailure::Unreachable, prefix + "the network is unreachable ("},
    };
    ASSERT_TRUE(link.bindConfigPort());
    for (const auto& [ip, size, failure, text] : cases) {
        SCOPED_TRACE(ip);
        link.timerRemoteSent()->start(); // a pending send is superseded by the failed one
        const SendProblem problem = link.sendTo(QLatin1String(ip), QByteArray(size, 'x'), 2976);
        EXPECT_EQ(problem.failure, failure);
        EXPECT_TRUE(problem.cause.startsWith(text)) << problem.cause.toStdString();
        EXPECT_FALSE(link.timerRemoteSent()->isActive());
        EXPECT_EQ(link.udpClient()->localPort(), 2976);
    }
    link.setRemote(QString(), 1901);
    const SendProblem paging = link.sendPaging({FakeInterfaces::loopback()});
    EXPECT_EQ(paging.failure, SendFailure::NoAddress);
    EXPECT_EQ(paging.cause, "Cannot send the paging request: no destination address is set.");
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_TRUE(programEnd.codes.isEmpty());
    QUdpSocket other; // bound at start-up, the port stays the station's between sends
    EXPECT_FALSE(other.bind(kStationAddress, 2976) || other.bind(QHostAddress::AnyIPv4, 2976));
    // WHEN another program takes 2976 THEN the bind fails, and a send ends the program
    link.close();
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, 2976));
    EXPECT_FALSE(link.bindConfigPort()); // the caller reports a start-up failure
    link.timerRemoteSent()->start();
    EXPECT_EQ(link.sendTo(QStringLiteral("127.0.0.2"), "request", 2976).failure, SendFailure::PortBusy);
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
