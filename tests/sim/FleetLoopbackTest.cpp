// The simulator over real UDP on loopback: elements at 127.0.77.x, the station's stand-in at
// 127.0.77.1 (addresses of their own, so that other tests on loopback never collide).
#include "Fleet.h"
#include "TestUtil.h"
#include "link/ConfigCodec.h"
#include "measure/MeasureCodec.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <csignal>

using namespace vexo;
using namespace vexo::sim;

namespace {

const QByteArray kPaging(kPagingRequest, kPagingRequestSize);

class Station
{
public:
    Station()
    {
        // The port is the station's choice; elements answer to whatever port asked.
        m_socket.bind(QHostAddress(QStringLiteral("127.0.77.1")), 0);
    }
    bool bound() const { return m_socket.state() == QAbstractSocket::BoundState; }
    void send(const QByteArray& d, const QString& ip, quint16 port)
    {
        m_socket.writeDatagram(d, QHostAddress(ip), port);
    }
    // Waits for the next datagram (deadline, no sleeping).
    std::optional<QNetworkDatagram> receive(int timeoutMs = 3000)
    {
        if (!waitUntil([&] { return m_socket.hasPendingDatagrams(); }, timeoutMs))
            return std::nullopt;
        return m_socket.receiveDatagram();
    }
    quint16 port() const { return m_socket.localPort(); }

private:
    QUdpSocket m_socket;
};

sim::ElementConfig element(const QString& ip, int role, const QString& name)
{
    sim::ElementConfig c;
    c.ip = ip;
    c.role = role;
    c.name = name;
    c.serial = 4242;
    return c;
}

QJsonObject stateFileElement(const QString& path, int index)
{
    return QJsonDocument::fromJson(readFile(path))
        .object()
        .value(QStringLiteral("elements"))
        .toArray()
        .at(index)
        .toObject();
}

} // namespace

TEST(FleetLoopback, EachElementAnswersFromItsOwnAddressToTheSendersPort)
{
    // GIVEN two elements on their own loopback addresses
    QTemporaryDir dir;
    FleetOptions options;
    options.stateFile = dir.filePath(QStringLiteral("state.json"));
    Fleet fleet(options);
    fleet.addElement(element(QStringLiteral("127.0.77.2"), 1, QStringLiteral("ENC")));
    fleet.addElement(element(QStringLiteral("127.0.77.3"), 2, QStringLiteral("DEC")));
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();
    Station station;
    ASSERT_TRUE(station.bound());

    // WHEN each is paged
    station.send(kPaging, QStringLiteral("127.0.77.3"), kPagingPort);
    const auto reply = station.receive();
    // THEN the decoder's ConfigReply comes from its address and port 2976
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->senderAddress(), QHostAddress(QStringLiteral("127.0.77.3")));
    EXPECT_EQ(reply->senderPort(), kConfigPort);
    EXPECT_EQ(reply->data(), fleet.element(1).configReply());
    vexo::ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(reply->data(), r));
    EXPECT_EQ(r.role, 2);
    EXPECT_EQ(r.name, QStringLiteral("DEC             "));

    // WHEN the encoder is asked for its level and its statistics
    station.send(QByteArray("VOL"), QStringLiteral("127.0.77.2"), kCommandPort);
    const auto level = station.receive();
    ASSERT_TRUE(level.has_value());
    EXPECT_EQ(level->data().size(), 1440);
    EXPECT_EQ(level->senderPort(), kCommandPort);
    station.send(kGetStats, QStringLiteral("127.0.77.2"), kMeasurePort);
    const auto stats = station.receive();
    ASSERT_TRUE(stats.has_value());
    EXPECT_EQ(stats->data().size(), 61);
    EXPECT_EQ(stats->senderAddress(), QHostAddress(QStringLiteral("127.0.77.2")));
    EXPECT_EQ(stats->senderPort(), kMeasurePort);

    // AND the state file names both, written at start
    EXPECT_EQ(stateFileElement(options.stateFile, 1).value(QStringLiteral("ip")).toString(),
              QStringLiteral("127.0.77.3"));
}

TEST(FleetLoopback, ConfigurationTakenOnIsInTheStateFileAndTheElementMoves)
{
    // GIVEN a decoder at 127.0.77.4
    QTemporaryDir dir;
    FleetOptions options;
    options.stateFile = dir.filePath(QStringLiteral("state.json"));
    Fleet fleet(options);
    fleet.addElement(element(QStringLiteral("127.0.77.4"), 2, QStringLiteral("DEC")));
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();
    QSignalSpy moved(&fleet, &Fleet::moved);
    Station station;

    // WHEN a request gives it the address 127.0.77.5, a new name and buffer 9
    vexo::ElementConfig f;
    f.ip = QStringLiteral("127.0.77.5");
    f.mask = QStringLiteral("255.0.0.0");
    f.gateway = QStringLiteral("127.0.77.1");
    f.remote = QStringLiteral("127.0.77.1");
    f.name = QStringLiteral("moved");
    f.buffer = 9;
    station.send(buildConfigRequest(f, QStringLiteral("DECODER")), QStringLiteral("127.0.77.4"), kConfigPort);

    // THEN it confirms from its old address what it took on
    const auto reply = station.receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->senderAddress(), QHostAddress(QStringLiteral("127.0.77.4")));
    vexo::ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(reply->data(), r));
    EXPECT_EQ(r.ip, QStringLiteral("127.0.77.5"));
    EXPECT_EQ(r.name, QStringLiteral("MOVED           "));
    EXPECT_EQ(r.buffer, 9);
    // AND then listens at the new one, which the state file tells
    ASSERT_TRUE(waitUntil([&] { return moved.count() == 1; }));
    const QJsonObject state = stateFileElement(options.stateFile, 0);
    EXPECT_EQ(state.value(QStringLiteral("ip")).toString(), QStringLiteral("127.0.77.5"));
    EXPECT_EQ(state.value(QStringLiteral("listen-ip")).toString(), QStringLiteral("127.0.77.5"));
    EXPECT_EQ(state.value(QStringLiteral("buffer")).toInt(), 9);
    EXPECT_EQ(state.value(QStringLiteral("config-requests")).toInt(), 1);
    station.send(kPaging, QStringLiteral("127.0.77.5"), kPagingPort);
    const auto again = station.receive();
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->senderAddress(), QHostAddress(QStringLiteral("127.0.77.5")));
}

TEST(FleetLoopback, LateElementAnswersFromItsOldAddressBeforeItMoves)
{
    // GIVEN an element that answers 200 ms late
    Fleet fleet(FleetOptions{});
    sim::ElementConfig c = element(QStringLiteral("127.0.77.14"), 1, QStringLiteral("LATE"));
    c.delayMs = 200;
    fleet.addElement(c);
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();
    QSignalSpy moved(&fleet, &Fleet::moved);
    Station station;
    // WHEN it is given a new address
    vexo::ElementConfig f;
    f.ip = QStringLiteral("127.0.77.15");
    f.mask = f.gateway = f.remote = QStringLiteral("0.0.0.0");
    QElapsedTimer clock;
    clock.start();
    station.send(buildConfigRequest(f, QStringLiteral("ENCODER")), QStringLiteral("127.0.77.14"),
                 kConfigPort);
    // THEN its late answer still comes from the old address, and only then it moves
    const auto reply = station.receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_GE(clock.elapsed(), 190);
    EXPECT_EQ(reply->senderAddress(), QHostAddress(QStringLiteral("127.0.77.14")));
    ASSERT_TRUE(waitUntil([&] { return moved.count() == 1; }));
    EXPECT_EQ(fleet.listenIp(0), QStringLiteral("127.0.77.15"));
}

TEST(FleetLoopback, KeepingElementStaysAtItsAddressAndReportsTheNewOne)
{
    QTemporaryDir dir;
    FleetOptions options;
    options.stateFile = dir.filePath(QStringLiteral("state.json"));
    Fleet fleet(options);
    sim::ElementConfig c = element(QStringLiteral("127.0.77.6"), 1, QStringLiteral("ENC"));
    c.readdress = QStringLiteral("keep");
    fleet.addElement(c);
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();
    Station station;
    vexo::ElementConfig f;
    f.ip = QStringLiteral("127.0.77.7");
    f.mask = f.gateway = f.remote = QStringLiteral("0.0.0.0");
    station.send(buildConfigRequest(f, QStringLiteral("ENCODER")), QStringLiteral("127.0.77.6"), kConfigPort);
    ASSERT_TRUE(station.receive().has_value());
    station.send(kPaging, QStringLiteral("127.0.77.6"), kPagingPort);
    const auto reply = station.receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->senderAddress(), QHostAddress(QStringLiteral("127.0.77.6")));
    EXPECT_EQ(reply->data().left(4).toHex(), QByteArray("7f004d07"));
    EXPECT_EQ(fleet.listenIp(0), QStringLiteral("127.0.77.6"));
}

TEST(FleetLoopback, LateElementAnswersAfterItsDelay)
{
    Fleet fleet(FleetOptions{});
    sim::ElementConfig c = element(QStringLiteral("127.0.77.8"), 1, QStringLiteral("LATE"));
    c.delayMs = 300;
    fleet.addElement(c);
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();
    Station station;
    QElapsedTimer clock;
    clock.start();
    station.send(kPaging, QStringLiteral("127.0.77.8"), kPagingPort);
    const auto reply = station.receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_GE(clock.elapsed(), 290);
    EXPECT_EQ(reply->data().size(), 44);
}

TEST(FleetLoopback, SilentElementLetsTheOthersAnswer)
{
    Fleet fleet(FleetOptions{});
    sim::ElementConfig silent = element(QStringLiteral("127.0.77.9"), 1, QStringLiteral("MUTE"));
    silent.silent = true;
    fleet.addElement(silent);
    fleet.addElement(element(QStringLiteral("127.0.77.10"), 1, QStringLiteral("TALK")));
    QString error;
    ASSERT_TRUE(fleet.start(&error)) << error.toStdString();
    QSignalSpy handled(&fleet, &Fleet::handled);
    Station station;
    station.send(kPaging, QStringLiteral("127.0.77.9"), kPagingPort);
    station.send(kPaging, QStringLiteral("127.0.77.10"), kPagingPort);
    const auto reply = station.receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->senderAddress(), QHostAddress(QStringLiteral("127.0.77.10")));
    ASSERT_TRUE(waitUntil([&] { return handled.count() == 2; })); // the silent one heard it too
    EXPECT_FALSE(station.receive(200).has_value());
}

TEST(FleetLoopback, TwoElementsCannotShareAnAddress)
{
    Fleet fleet(FleetOptions{});
    fleet.addElement(element(QStringLiteral("127.0.77.11"), 1, QStringLiteral("A")));
    fleet.addElement(element(QStringLiteral("127.0.77.11"), 2, QStringLiteral("B")));
    QString error;
    EXPECT_FALSE(fleet.start(&error));
    EXPECT_TRUE(error.contains(QStringLiteral("127.0.77.11"))) << error.toStdString();
}

// The program itself.
TEST(ElementProgram, AnswersAsItsFlagsSayAndDumpsItsState)
{
    // GIVEN vexolink-element started with flags and a state file
    QTemporaryDir dir;
    const QString stateFile = dir.filePath(QStringLiteral("state.json"));
    QProcess sim;
    sim.start(qEnvironmentVariable("VEXO_BIN") + QStringLiteral("/tools/element-sim/vexolink-element"),
              {"--ip", "127.0.77.12", "--role", "2", "--name", "PROGRAM", "--serial", "77", "--att", "99",
               "--state-file", stateFile, "--verbose"});
    ASSERT_TRUE(sim.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return !readFile(stateFile).isEmpty(); }, 10000))
        << sim.readAllStandardError().constData();
    Station station;
    // WHEN paged
    station.send(kPaging, QStringLiteral("127.0.77.12"), kPagingPort);
    const auto reply = station.receive();
    // THEN it answers with the decoder it was told to be
    ASSERT_TRUE(reply.has_value());
    vexo::ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(reply->data(), r));
    EXPECT_EQ(r.role, 2);
    EXPECT_EQ(r.serial, 77);
    EXPECT_EQ(r.attenuation, 99);
    EXPECT_EQ(r.name, QStringLiteral("PROGRAM         "));
    // WHEN the attenuation changes THEN the state file follows
    station.send(buildAttenuationMessage(14), QStringLiteral("127.0.77.12"), kCommandPort);
    EXPECT_TRUE(
        waitUntil([&] { return stateFileElement(stateFile, 0).value(QStringLiteral("att")).toInt() == 14; }));
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 0);
    // AND the log told of every datagram
    const QByteArray log = sim.readAllStandardError();
    EXPECT_TRUE(log.contains("paging request -> ConfigReply (48 bytes)")) << log.constData();
    EXPECT_TRUE(log.contains("AttenuationMessage -> att 14")) << log.constData();
}

TEST(ElementProgram, RefusesBadOptions)
{
    QProcess sim;
    sim.start(qEnvironmentVariable("VEXO_BIN") + QStringLiteral("/tools/element-sim/vexolink-element"),
              {"--role", "nine"});
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 2);
    EXPECT_TRUE(sim.readAllStandardError().contains("role"));
}

TEST(ElementProgram, Sigusr1PrintsTheStateWithoutAStateFile)
{
    // GIVEN the program without a state file, answering (so its signal handling is set up)
    QProcess sim;
    sim.start(qEnvironmentVariable("VEXO_BIN") + QStringLiteral("/tools/element-sim/vexolink-element"),
              {"--ip", "127.0.77.13", "--name", "SIGNALLED", "--verbose"});
    ASSERT_TRUE(sim.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return sim.readAllStandardError().contains("ready"); }, 10000));
    // WHEN SIGUSR1 arrives
    ::kill(pid_t(sim.processId()), SIGUSR1);
    // THEN the state comes out on stdout as JSON
    QByteArray out;
    ASSERT_TRUE(waitUntil([&] {
        out += sim.readAllStandardOutput();
        return out.contains("SIGNALLED");
    }));
    const QJsonObject state =
        QJsonDocument::fromJson(out).object().value(QStringLiteral("elements")).toArray().at(0).toObject();
    EXPECT_EQ(state.value(QStringLiteral("ip")).toString(), QStringLiteral("127.0.77.13"));
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
}
