// The configuration socket over real loopback sockets: sends, routing, timers, failures.
#include "LinkFixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTimer>

#include <sys/stat.h>

using namespace vexo;

namespace {

const QString kOccupied = QStringLiteral("Unable to use UDP port 2976: occupied.");

QByteArray studioRequest()
{
    ElementConfig f;
    f.ip = QStringLiteral("127.0.0.2");
    f.mask = QStringLiteral("255.0.0.0");
    f.gateway = QStringLiteral("127.0.0.1");
    f.remote = QStringLiteral("239.1.1.1");
    f.name = QStringLiteral("studio 1");
    return buildConfigRequest(f, QStringLiteral("ENCODER"));
}

// True where a datagram to a non-loopback address cannot leave the machine: every interface
// that is up is loopback, and (where the first process's namespace can be seen) this is not the
// machine's initial network namespace.
bool inPrivateLoopbackOnlyNamespace()
{
    struct stat self
    {
    }, init{};
    if (::stat("/proc/self/ns/net", &self) == 0 && ::stat("/proc/1/ns/net", &init) == 0 &&
        self.st_ino == init.st_ino && self.st_dev == init.st_dev)
        return false;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        if (!i.flags().testFlag(QNetworkInterface::IsLoopBack) && i.flags().testFlag(QNetworkInterface::IsUp))
            return false;
    }
    return true;
}

} // namespace

// ---- routing by length -------------------------------------------------------------------

TEST(routeDatagram, OnlyTheLengthDecides)
{
    EXPECT_EQ(routeDatagram(1440), Route::LevelMonitor);
    EXPECT_EQ(routeDatagram(52), Route::ConfigReply);
    EXPECT_EQ(routeDatagram(40), Route::ConfigReply);
    EXPECT_EQ(routeDatagram(4), Route::ConfigReply);
    EXPECT_EQ(routeDatagram(2), Route::ConfigReply);
    EXPECT_EQ(routeDatagram(0), Route::ConfigReply);
    EXPECT_EQ(routeDatagram(3), Route::Drop);
    EXPECT_EQ(routeDatagram(53), Route::Drop);
    EXPECT_EQ(routeDatagram(1439), Route::Drop);
    EXPECT_EQ(routeDatagram(1441), Route::Drop);
    EXPECT_EQ(routeDatagram(65507), Route::Drop);
    EXPECT_EQ(routeDatagram(-1), Route::Drop);
}

TEST_F(LinkFixture, ArrivalsAreRoutedByLengthOverARealSocket)
{
    // GIVEN the station bound on 127.0.0.1:2976 with a reply handler and a level listener
    ASSERT_TRUE(link->bindConfigPort());
    QList<QByteArray> handled;
    handleWith([&](const QueuedReply& r) { handled << r.datagram; });
    QSignalSpy levels(link.get(), &ConfigLink::levelReply);
    QUdpSocket element;
    ASSERT_TRUE(element.bind(kElementAddress, 0));

    // WHEN datagrams of every interesting length arrive, then a 44-byte marker
    auto datagram = [](int length) { return QByteArray(length, char(length & 0x7F)); };
    for (int length : {52, 53, 3, 1440, 1441, 40, 39, 0, 1439})
        ASSERT_EQ(element.writeDatagram(datagram(length), kStationAddress, 2976), length);
    const QByteArray marker = encoderReply(4242);
    element.writeDatagram(marker, kStationAddress, 2976);
    ASSERT_TRUE(waitUntil([&] { return handled.contains(marker); }));

    // THEN the handler got the 52- and 40-byte replies (39 and 0 bytes carry no serial and
    // are dropped at intake), the level monitor the 1440 bytes, and nothing else arrived
    ASSERT_EQ(handled.size(), 3);
    EXPECT_EQ(handled[0], datagram(52));
    EXPECT_EQ(handled[1], datagram(40));
    EXPECT_EQ(handled[2], marker);
    ASSERT_EQ(levels.size(), 1);
    EXPECT_EQ(levels[0][0].toByteArray(), datagram(1440));
    EXPECT_EQ(link->queuedReplies(), 0);
}

// ---- sending -------------------------------------------------------------------------------

TEST_F(LinkFixture, ConfigurationSendLeavesFrom2976ToTheStoredIpAndStartsTheReplyTimer)
{
    // GIVEN a bound, idle station and the stand-in element at the stored ip
    auto element = standIn(2976);
    ASSERT_TRUE(link->bindConfigPort());
    QSignalSpy states(link->udpClient(), &QUdpSocket::stateChanged);

    // WHEN a configuration request is sent
    const QByteArray request = studioRequest();
    ASSERT_TRUE(link->sendToSelected(request, 2976));

    // THEN the socket was closed and bound again, the datagram left from 2976 to 127.0.0.2:2976,
    // and the reply timer runs
    QList<QAbstractSocket::SocketState> seen;
    for (const auto& args : states)
        seen << args[0].value<QAbstractSocket::SocketState>();
    ASSERT_GE(seen.size(), 2);
    EXPECT_TRUE(seen.indexOf(QAbstractSocket::UnconnectedState) >= 0 &&
                seen.indexOf(QAbstractSocket::UnconnectedState) < seen.size() - 1);
    EXPECT_EQ(seen.last(), QAbstractSocket::BoundState);
    EXPECT_EQ(link->udpClient()->localPort(), 2976);
    const QNetworkDatagram got = receiveOne(*element);
    ASSERT_TRUE(got.isValid());
    EXPECT_EQ(got.data(), request);
    EXPECT_EQ(got.senderPort(), 2976);
    EXPECT_EQ(got.senderAddress().toIPv4Address(), kStationAddress.toIPv4Address());
    EXPECT_EQ(link->remotePort(), 2976);
    EXPECT_EQ(link->remoteHost(), QStringLiteral("127.0.0.2"));
    EXPECT_TRUE(link->timerRemoteSent()->isActive());
    EXPECT_TRUE(boxes.shown.isEmpty());
    link->timerRemoteSent()->stop();
}

TEST_F(LinkFixture, SendBindsPortWhenNotBoundYet)
{
    auto element = standIn(2976);
    ASSERT_TRUE(link->sendToSelected(studioRequest(), 2976));
    const QNetworkDatagram got = receiveOne(*element);
    ASSERT_TRUE(got.isValid());
    EXPECT_EQ(got.senderPort(), 2976);
    link->timerRemoteSent()->stop();
}

TEST_F(LinkFixture, StoredIpWithBlanksAroundItsPartsIsUsed)
{
    ASSERT_TRUE(writeToIni(kSelectedSection, keys::ip, QStringLiteral("127. 0 .0.2"), storePath));
    auto element = standIn(2977);
    ASSERT_TRUE(link->sendAttenuation(30));
    const QNetworkDatagram got = receiveOne(*element);
    ASSERT_TRUE(got.isValid());
    EXPECT_EQ(got.data(), hex("1E 00"));
}

TEST_F(LinkFixture, AttenuationGoesTo2977AndTheRemotePortStaysThereUntilTheNextConfigurationSend)
{
    auto configPort = standIn(2976);
    auto commandPort = standIn(2977);
    ASSERT_TRUE(link->bindConfigPort());

    // WHEN the attenuation 255 is sent
    ASSERT_TRUE(link->sendAttenuation(255));
    // THEN FF 00 leaves from 2976 for port 2977, with no reply timer
    QNetworkDatagram got = receiveOne(*commandPort);
    ASSERT_TRUE(got.isValid());
    EXPECT_EQ(got.data(), hex("FF 00"));
    EXPECT_EQ(got.senderPort(), 2976);
    EXPECT_FALSE(link->timerRemoteSent()->isActive());
    EXPECT_EQ(link->remotePort(), 2977);

    // AND an arrival in between leaves the remote port at 2977
    handleWith([](const QueuedReply&) {});
    QSignalSpy idle(link.get(), &ConfigLink::replyQueueIdle);
    configPort->writeDatagram(encoderReply(7), kStationAddress, 2976);
    ASSERT_TRUE(waitUntil([&] { return idle.size() == 1; }));
    EXPECT_EQ(link->remotePort(), 2977);
    ASSERT_TRUE(link->sendAttenuation(120));
    got = receiveOne(*commandPort);
    EXPECT_EQ(got.data(), hex("78 00"));

    // WHEN the next configuration is sent THEN it goes to 2976 again
    ASSERT_TRUE(link->sendToSelected(studioRequest(), 2976));
    EXPECT_EQ(link->remotePort(), 2976);
    got = receiveOne(*configPort);
    ASSERT_TRUE(got.isValid());
    EXPECT_EQ(got.data(), studioRequest());
    EXPECT_FALSE(commandPort->hasPendingDatagrams());
    link->timerRemoteSent()->stop();
}

TEST_F(LinkFixture, PagingGoesToTheCurrentRemoteEndpointFrom2976)
{
    auto pagingPort = standIn(1901);
    ASSERT_TRUE(link->bindConfigPort());
    const QString savedHost = link->remoteHost();
    const quint16 savedPort = link->remotePort();
    EXPECT_EQ(savedPort, 2976); // as created

    link->setRemote(QStringLiteral("127.0.0.2"), 1901);
    ASSERT_TRUE(link->sendPaging());
    const QNetworkDatagram got = receiveOne(*pagingPort);
    ASSERT_TRUE(got.isValid());
    EXPECT_EQ(got.data(), QByteArray("IPMPXSTL KORVANTA PAGING REQUEST"));
    EXPECT_EQ(got.senderPort(), 2976);
    EXPECT_FALSE(link->timerRemoteSent()->isActive());
    link->setRemote(savedHost, savedPort);
    EXPECT_EQ(link->remotePort(), 2976);
    EXPECT_EQ(link->remoteHost(), savedHost);
}

TEST_F(LinkFixture, ReplyPendingDuringARebindIsNotLost)
{
    // GIVEN a reply that has arrived but not yet been read when a send rebinds the socket
    auto element = standIn(2977);
    ASSERT_TRUE(link->bindConfigPort());
    QList<qint32> serials;
    handleWith([&](const QueuedReply& r) { serials << serialOf(r.datagram); });
    ASSERT_EQ(element->writeDatagram(encoderReply(77), kStationAddress, 2976), 44);
    // Loopback delivers within the send: the reply is waiting, and no event has read it.
    ASSERT_TRUE(link->udpClient()->hasPendingDatagrams());
    // WHEN an attenuation is sent before the event loop runs
    ASSERT_TRUE(link->sendAttenuation(40));
    // THEN the reply is still handled
    ASSERT_TRUE(waitUntil([&] { return serials.size() == 1; }));
    EXPECT_EQ(serials.first(), 77);
}

// ---- the reply time-out ------------------------------------------------------------------

TEST_F(LinkFixture, NoReplyGivesTheTimeOutMessageOnceAfter3000Ms)
{
    auto element = standIn(2976);
    ASSERT_TRUE(link->bindConfigPort());
    EXPECT_EQ(link->timerRemoteSent()->interval(), 3000);
    EXPECT_FALSE(link->timerRemoteSent()->isActive());
    QElapsedTimer clock;
    qint64 shownAt = -1;
    boxes.onShow = [&](const MessageBoxRequest&) { shownAt = clock.elapsed(); };

    clock.start();
    ASSERT_TRUE(link->sendToSelected(studioRequest(), 2976));
    ASSERT_TRUE(waitUntil([&] { return !boxes.shown.isEmpty(); }, 6000));

    EXPECT_GE(shownAt, 2900);
    EXPECT_LE(shownAt, 4000);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Critical);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error!"));
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("Waiting for a response from Network Element has timed out!\rCannot save."));
    // It fires once per start: the timer is no longer running.
    EXPECT_FALSE(link->timerRemoteSent()->isActive());
    EXPECT_TRUE(programEnd.codes.isEmpty());
}

TEST_F(LinkFixture, TimeOutTickStopsTheTimerAndShowsTheMessage)
{
    link->timerRemoteSent()->start();
    link->onTimerRemoteSent();
    EXPECT_FALSE(link->timerRemoteSent()->isActive());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error!"));
}

// ---- port 2976 taken -----------------------------------------------------------------------

TEST_F(LinkFixture, BindFailsWhenAnotherSocketHoldsThePort)
{
    for (const QHostAddress& holderAddress : {kStationAddress, QHostAddress(QHostAddress::AnyIPv4)}) {
        QUdpSocket holder;
        ASSERT_TRUE(holder.bind(holderAddress, 2976));
        EXPECT_FALSE(link->bindConfigPort()) << holderAddress.toString().toStdString();
    }
    // The caller reports a start-up failure: nothing shown, nothing ended here.
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_TRUE(programEnd.codes.isEmpty());
    // Once the port is free again the bind succeeds.
    EXPECT_TRUE(link->bindConfigPort());
}

TEST_F(LinkFixture, SendWhileAnotherSocketHoldsThePortEndsTheProgram)
{
    // GIVEN the port taken by another program after the station let go of it
    ASSERT_TRUE(link->bindConfigPort());
    link->close();
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(kStationAddress, 2976));

    // WHEN a configuration is sent
    EXPECT_FALSE(link->sendToSelected(studioRequest(), 2976));

    // THEN the fatal message, then the program end with code 1, and nothing awaits a reply
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Critical);
    EXPECT_EQ(boxes.shown[0].caption, kAppTitle);
    EXPECT_EQ(boxes.shown[0].text, kOccupied);
    EXPECT_EQ(programEnd.codes, QList<int>{1});
    EXPECT_FALSE(link->timerRemoteSent()->isActive());
    EXPECT_EQ(link->udpClient()->state(), QAbstractSocket::UnconnectedState);
}

TEST_F(LinkFixture, AttenuationWhileAnotherSocketHoldsThePortEndsTheProgram)
{
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(kStationAddress, 2976));
    EXPECT_FALSE(link->sendAttenuation(100));
    EXPECT_EQ(boxes.texts(), QStringList{kOccupied});
    EXPECT_EQ(programEnd.codes, QList<int>{1});
}

// ---- send failures that are not bind failures ------------------------------------------------

class SendFailure : public LinkFixture
{
protected:
    void expectReportedAndStillRunning(const QString& textStart)
    {
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Critical);
        EXPECT_EQ(boxes.shown[0].caption, kAppTitle);
        EXPECT_TRUE(boxes.shown[0].text.startsWith(textStart)) << boxes.shown[0].text.toStdString();
        EXPECT_TRUE(programEnd.codes.isEmpty());
        EXPECT_FALSE(fatal.happened());
        EXPECT_FALSE(link->timerRemoteSent()->isActive());
        EXPECT_EQ(readFile(storePath), storeBefore);
        // The station goes on: the socket is still bound to 2976.
        EXPECT_EQ(link->udpClient()->state(), QAbstractSocket::BoundState);
        EXPECT_EQ(link->udpClient()->localPort(), 2976);
    }

    QByteArray storeBefore;
};

TEST_F(SendFailure, NoStoredIp)
{
    selection->select(QStringLiteral("00:11:22:33:44:55")); // no section in the store
    storeBefore = readFile(storePath);
    ASSERT_TRUE(link->bindConfigPort());
    // A pending configuration send is superseded by the failed one: no time-out is left.
    link->timerRemoteSent()->start();
    EXPECT_FALSE(link->sendToSelected(studioRequest(), 2976));
    expectReportedAndStillRunning(
        QStringLiteral("Cannot send to the Network Element: no IP address is stored for it."));
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("Cannot send to the Network Element: no IP address is stored for it."));
}

TEST_F(SendFailure, NoElementSelected)
{
    selection->select(QStringLiteral("-"));
    storeBefore = readFile(storePath);
    EXPECT_FALSE(link->sendAttenuation(50));
    expectReportedAndStillRunning(
        QStringLiteral("Cannot send to the Network Element: no IP address is stored for it."));
}

TEST_F(SendFailure, InvalidStoredIp)
{
    ASSERT_TRUE(writeToIni(kSelectedSection, keys::ip, QStringLiteral("300.1.1.1"), storePath));
    storeBefore = readFile(storePath);
    EXPECT_FALSE(link->sendToSelected(studioRequest(), 2976));
    expectReportedAndStillRunning(QStringLiteral("Cannot send to the Network Element: "));
    EXPECT_EQ(
        boxes.shown[0].text,
        QStringLiteral(
            "Cannot send to the Network Element: the IP address stored for it is not valid (300.1.1.1)."));
}

TEST_F(SendFailure, DatagramTheNetworkRefuses)
{
    // A datagram larger than UDP can carry fails in the send itself.
    storeBefore = readFile(storePath);
    EXPECT_FALSE(link->sendToSelected(QByteArray(70000, 'x'), 2976));
    expectReportedAndStillRunning(
        QStringLiteral("Cannot send to the Network Element: the datagram could not be sent ("));
}

TEST_F(SendFailure, NetworkUnreachable)
{
    if (!inPrivateLoopbackOnlyNamespace())
        GTEST_SKIP() << "needs a private network namespace with only loopback (scripts/test provides one): "
                        "a datagram to a non-loopback address must not be able to leave the machine";
    ASSERT_TRUE(writeToIni(kSelectedSection, keys::ip, QStringLiteral("198.51.100.7"), storePath));
    storeBefore = readFile(storePath);
    EXPECT_FALSE(link->sendToSelected(studioRequest(), 2976));
    expectReportedAndStillRunning(
        QStringLiteral("Cannot send to the Network Element: the network is unreachable ("));
}

TEST_F(SendFailure, PagingWithoutRemoteHost)
{
    storeBefore = readFile(storePath);
    link->setRemote(QString(), 1901);
    EXPECT_FALSE(link->sendPaging());
    expectReportedAndStillRunning(QStringLiteral("Cannot send the paging request: "));
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("Cannot send the paging request: no destination address is set."));
}

TEST_F(LinkFixture, FatalErrorElsewhereClosesTheSocket)
{
    ASSERT_TRUE(link->bindConfigPort());
    link->timerRemoteSent()->start();
    fatal.fail(QStringLiteral("something else"));
    EXPECT_EQ(link->udpClient()->state(), QAbstractSocket::UnconnectedState);
    EXPECT_FALSE(link->timerRemoteSent()->isActive());
}
