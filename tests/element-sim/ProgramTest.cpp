// vexolink-element, the program, over loopback.
#include "Lab.h"
#include "TestUtil.h"
#include "link/ConfigCodec.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;

TEST(ElementProgram, AnswersOverLoopbackAsItsOptionsSay)
{
    // GIVEN the program started as a decoder at 127.0.77.12, WHEN paged
    QTemporaryDir dir;
    const QString state = dir.filePath("state.json");
    QProcess sim;
    sim.start(Lab::elementBinary(), {"--ip", "127.0.77.12", "--role", "2", "--name", "PROGRAM", "--serial",
                                     "77", "--att", "99", "--state-file", state});
    ASSERT_TRUE(waitUntil([&] { return !readFile(state).isEmpty(); }, 10000))
        << sim.readAllStandardError().data();
    QUdpSocket station;
    ASSERT_TRUE(station.bind(QHostAddress("127.0.77.1"), 0));
    station.writeDatagram(kPagingRequest, kPagingRequestSize, QHostAddress("127.0.77.12"), kPagingPort);
    ASSERT_TRUE(waitUntil([&] { return station.hasPendingDatagrams(); }));
    const QNetworkDatagram reply = station.receiveDatagram();
    EXPECT_EQ(reply.senderAddress(), QHostAddress("127.0.77.12"));
    EXPECT_EQ(reply.senderPort(), kConfigPort);
    // THEN it answers from its address and port 2976 to the port that asked: 127.0.77.12 255.255.255.0
    // 0.0.0.0 0.0.0.0, 00 00 00, "PROGRAM" + 9 blanks, decoder 77, att 99, 3.1, no SFN, buffer 4, 00 10 30
    EXPECT_EQ(reply.data(),
              hex("7F 00 4D 0C FF FF FF 00 00 00 00 00 00 00 00 00 00 00 00 50 52 4F 47 52 41 4D 20 "
                  "20 20 20 20 20 20 20 20 02 00 00 00 4D 63 03 01 00 04 00 0A 1E"));
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 0);
    sim.start(Lab::elementBinary(), {"--role", "nine"});
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 2); // bad options
}
