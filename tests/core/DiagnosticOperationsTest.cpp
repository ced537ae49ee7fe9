// The station's ping, MAC lookup and level readings, addressed by the element's MAC, through
// their outcomes; the level against the simulated element's protocol logic on loopback.
#include "Element.h"
#include "Fakes.h"
#include "TestUtil.h"
#include "core/Station.h"

#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

struct Diagnostics : ::testing::Test, FakeMachine
{
    PingOutcome ping(const QByteArray& section, const QString& address = QString())
    {
        writeFile(path, "[0050C2000002]\n" + section);
        std::optional<PingOutcome> outcome;
        station.ping(
            QStringLiteral("00:50:C2:00:00:02"), [&](const PingOutcome& o) { outcome = o; }, address);
        if (!waitUntil([&] { return outcome.has_value(); }))
            ADD_FAILURE() << "the ping did not end";
        return outcome.value_or(PingOutcome());
    }
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("nms.ini"));
    Station station{stationServices(path)};
};

using R = PingOutcome::Result;

} // namespace

TEST_F(Diagnostics, PingEndsWithTheEchoOrWhyThereWasNone)
{
    struct Case
    {
        QByteArray section;
        bool icmpUsable;
        Icmp::Reply reply;
        R result;
        qint32 status;
        quint32 roundTripMs;
        quint32 echoedTo; // 0: no echo
    };
    const Case cases[] = {
        {"IP=10.0.0.2\n", true, {0, 2}, R::Replied, 0, 2, 0x0a000002},
        {"IP= 10.0.0.3\n", true, {11010, 0}, R::Failed, 11010, 0, 0x0a000003},
        {"IP=10.0.0.3\n", true, {12345, 7}, R::Failed, 12345, 0, 0x0a000003},
        {"IP=0.0.0.0\n", true, {0, 2}, R::Failed, -1, 0, 0},
        {"IP=255.255.255.255\n", true, {0, 2}, R::Failed, -1, 0, 0},
        {"IP=10.0.0\n", true, {0, 2}, R::InvalidAddress, -1, 0, 0},
        {"NAME=X\n", true, {0, 2}, R::NoAddress, -1, 0, 0},
        {"IP=10.0.0.2\n", false, {0, 2}, R::NoIcmp, -1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section.toStdString());
        icmp.startupOk = c.icmpUsable, icmp.reply = c.reply, icmp.echoedTo = 0;
        const PingOutcome o = ping(c.section);
        EXPECT_EQ(o.mac, "00:50:C2:00:00:02");
        EXPECT_EQ(std::tuple(o.result, o.status, o.roundTripMs, quint32(icmp.echoedTo)),
                  std::tuple(c.result, c.status, c.roundTripMs, c.echoedTo));
    }
    // The window pings the address the operator sees, saved or not.
    icmp.startupOk = true, icmp.reply = {0, 3};
    EXPECT_EQ(ping("IP=10.0.0.2\n", QStringLiteral("10.0.0.9")).ip, "10.0.0.9");
    EXPECT_EQ(icmp.echoedTo, 0x0a000009u);
}

TEST_F(Diagnostics, MacLookupFindsTheNeighbourOrSaysWhyNot)
{
    arp.table[0x0a000002] = hex("00 50 C2 0A 0B 0C");
    arp.table[0x0a000004] = hex("00 50 C2 0A"); // not six bytes: found, but no text
    using M = MacOutcome::Result;
    // (which neighbour answers count as found: getRemoteMac's own test)
    const std::tuple<const char*, M, const char*> cases[] = {{"10.0.0.2", M::Found, "00:50:C2:0A:0B:0C"},
                                                             {"10.0.0.4", M::Found, ""},
                                                             {"10.0.0.5", M::NotFound, ""},
                                                             {"0.0.0.0", M::InvalidAddress, ""}};
    for (const auto& [ip, result, mac] : cases) {
        const MacOutcome o = station.lookupMac(QString::fromLatin1(ip));
        EXPECT_EQ(std::pair(o.result, o.mac), std::pair(result, QString::fromLatin1(mac))) << ip;
    }
}

// GIVEN a simulated encoder at 127.0.0.2 answering on its command port only when told to
TEST_F(Diagnostics, LevelReadingTakesOnlyTheElementsReplyOrSaysWhyThereIsNone)
{
    sim::Element element(sim::ElementConfig(), 1);
    element.config().levelDbfs = -6;
    QUdpSocket command, stranger;
    ASSERT_TRUE(command.bind(QHostAddress("127.0.0.2"), 2977) && stranger.bind(QHostAddress("127.0.0.3"), 0));
    ASSERT_TRUE(station.bindConfigPort());
    std::optional<LevelOutcome> outcome;
    auto read = [&](const QByteArray& section, const char* mac = "00:50:C2:00:00:02") {
        writeFile(path, "[0050C2000002]\n" + section);
        outcome.reset();
        return station.readLevel(QString::fromLatin1(mac), [&](const LevelOutcome& o) { outcome = o; });
    };
    using L = LevelOutcome::Result;
    // WHEN a stranger's level reply arrives first, then the element's THEN the element's is taken
    ASSERT_NE(read("ROLE=1\nIP=127.0.0.2\n"), nullptr);
    ASSERT_TRUE(waitUntil([&] { return command.hasPendingDatagrams(); }));
    const QNetworkDatagram request = command.receiveDatagram();
    EXPECT_EQ(std::pair(request.data(), request.senderPort()), std::pair(QByteArray("VOL"), 2976));
    stranger.writeDatagram(hex("7F FF FF").repeated(480), QHostAddress::LocalHost, 2976);
    command.writeDatagram(*element.handle(sim::Port::Command, request.data(), 0).reply,
                          request.senderAddress(), quint16(request.senderPort()));
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }));
    EXPECT_EQ(std::tuple(outcome->result, outcome->mac, outcome->peak),
              std::tuple(L::Reading, QString("00:50:C2:00:00:02"), sim::peakForDbfs(-6)));
    EXPECT_NEAR(*outcome->dbfs(), -6.0, 0.005);
    // WHEN the element stays silent THEN each reading ends when its own answer time is over, the
    // earliest first: those of no time and of a millisecond end, the one of a minute waits on
    QList<std::pair<int, L>> ended;
    auto note = [&ended](int answerMs) {
        return [&ended, answerMs](const LevelOutcome& o) { ended << std::pair(answerMs, o.result); };
    };
    LevelReading* patient = station.readLevel("00:50:C2:00:00:02", note(60000), 60000);
    // (the one of no time is started first: started second, its end could come after the other's
    // on a busy machine, where a millisecond passes between two calls)
    station.readLevel("00:50:C2:00:00:02", note(0), 0);
    station.readLevel("00:50:C2:00:00:02", note(1), 1);
    EXPECT_TRUE(ended.isEmpty()); // not before the event loop runs
    ASSERT_TRUE(waitUntil([&] { return ended.size() == 2; }));
    EXPECT_EQ(ended, (QList<std::pair<int, L>>{{0, L::NoAnswer}, {1, L::NoAnswer}}));
    ASSERT_FALSE(patient->isFinished());
    // AND the element's late reply goes to the one still waiting
    QNetworkDatagram late;
    for (int request = 0; request < 3; ++request) {
        ASSERT_TRUE(waitUntil([&] { return command.hasPendingDatagrams(); }));
        late = command.receiveDatagram();
    }
    command.writeDatagram(*element.handle(sim::Port::Command, late.data(), 0).reply, late.senderAddress(),
                          quint16(late.senderPort()));
    ASSERT_TRUE(waitUntil([&] { return ended.size() == 3; }));
    EXPECT_EQ(ended[2], std::pair(60000, L::Reading));
    // Readings that cannot be made end at once, nothing sent; each reads the store as it is now
    const std::tuple<QByteArray, const char*, L, SendFailure> refused[] = {
        {"ROLE=1\nIP=127.0.0.2\n", "00:50:C2:00:00:03", L::NotStored, SendFailure::None},
        {"ROLE=1\nIP=127.0.0\n", "00:50:C2:00:00:02", L::SendFailed, SendFailure::InvalidAddress},
        {"ROLE=1\n", "00:50:C2:00:00:02", L::SendFailed, SendFailure::NoAddress},
        {"ROLE=2\nIP=127.0.0.2\n", "00:50:C2:00:00:02", L::NotEncoder, SendFailure::None},
    };
    for (const auto& [section, mac, result, failure] : refused) {
        read(section, mac);
        ASSERT_TRUE(outcome.has_value()) << section.constData();
        EXPECT_EQ(std::pair(outcome->result, outcome->problem.failure), std::pair(result, failure)) << mac;
    }
    // ... and another element of the same store is another element
    outcome.reset();
    station.readLevel("00:50:C2:00:00:03", [&](const LevelOutcome& o) { outcome = o; });
    EXPECT_TRUE(outcome && outcome->result == L::NotStored);
    EXPECT_FALSE(command.hasPendingDatagrams()); // loopback delivers as it sends
}
