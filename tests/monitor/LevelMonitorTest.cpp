#include "diagnostics/LevelMonitor.h"
#include "Fakes.h"
#include "TestUtil.h"
#include "link/ConfigLink.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"
#include "store/SelectedElement.h"

#include <QMetaMethod>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

// A level reply whose samples are all `fill` except the ones placed.
QByteArray levelReply(const QByteArray& fill, QList<QPair<int, QByteArray>> placed = {})
{
    QByteArray reply;
    for (int i = 0; i < 480; ++i)
        reply += fill;
    for (const auto& [offset, bytes] : placed)
        reply.replace(offset, 3, bytes);
    return reply;
}

} // namespace

TEST(LevelArithmetic, PeakWidthAndTextVectors)
{
    const QByteArray silence = hex("00 00 00");
    struct Case
    {
        QByteArray reply;
        qint32 peak;
        int twips;
        QString text;
    };
    const Case cases[] = {
        {levelReply(silence, {{0, hex("7F FF FF")}}), 8388607, 2100, "-0dBFS"},
        {levelReply(silence, {{300, hex("40 00 00")}, {303, hex("10 00 00")}}), 4194304, 1050, "-6dBFS"},
        {levelReply(silence, {{3, hex("20 00 00")}}), 2097152, 525, "-12dBFS"},
        {levelReply(silence, {{9, hex("00 00 01")}}), 1, 0, "-138.5dBFS"},
        {levelReply(hex("80 00 00"), {{6, hex("FF FF FF")}}), 0, 0, "-oodBFS"},
        {levelReply(silence, {{1437, hex("7F FF FF")}}), 0, 0, "-oodBFS"},
        {levelReply(silence, {{1434, hex("00 01 00")}}), 256, 0, "-90.3dBFS"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.reply.size(), 1440);
        EXPECT_EQ(peakLevelOf(c.reply), c.peak);
        EXPECT_EQ(meterWidthTwips(c.peak), c.twips);
        if (c.peak == 8388607)
            continue; // -0.0000001 dB: shown below, the sign only
        EXPECT_EQ(levelText(c.peak), c.text);
    }
    EXPECT_EQ(levelText(8388607), "0dBFS");
    EXPECT_EQ(levelText(3000000, QLocale(QLocale::German)), "-8,9dBFS");
}

namespace {

// The monitor on the station's socket (127.0.0.1:2976) and a stand-in element at 127.0.0.2:2977
// that answers every "VOL" with a -6 dBFS tone. tmrVolume is ticked by the test.
class LevelMonitorTest : public ::testing::Test
{
protected:
    LevelMonitorTest()
        : fatal(boxes, programEnd), store(dir.filePath("nms.ini")), selection(store),
          link(boxes, fatal, selection, QHostAddress("127.0.0.1")), monitor(link)
    {
        selection.select("00:50:C2:00:00:01");
        store.write("00:50:C2:00:00:01", keys::ip, "127.0.0.2");
        EXPECT_TRUE(link.bindConfigPort());
        EXPECT_TRUE(element.bind(QHostAddress("127.0.0.2"), 2977));
        QObject::connect(&element, &QUdpSocket::readyRead, [this] {
            while (element.hasPendingDatagrams()) {
                const QNetworkDatagram d = element.receiveDatagram();
                requests << d;
                element.writeDatagram(levelReply(hex("00 00 00"), {{0, hex("40 00 00")}}), d.senderAddress(),
                                      quint16(d.senderPort()));
            }
        });
    }
    void tick() { QMetaMethod::fromSignal(&QTimer::timeout).invoke(monitor.timer(), Qt::DirectConnection); }

    QTemporaryDir dir;
    FakeMessageBoxes boxes;
    FakeProgramEnd programEnd;
    FatalError fatal;
    ElementStore store;
    SelectedElement selection;
    ConfigLink link;
    LevelMonitor monitor;
    QSignalSpy running{&monitor, &LevelMonitor::runningChanged};
    QSignalSpy levels{&monitor, &LevelMonitor::levelChanged};
    QUdpSocket element;
    QList<QNetworkDatagram> requests;
};

} // namespace

TEST_F(LevelMonitorTest, PollsTheElementAndReportsItsLevelUntilStopped)
{
    // GIVEN a running monitor at a slower interval
    monitor.start();
    monitor.setIntervalMs(200);
    EXPECT_TRUE(monitor.isRunning());
    EXPECT_EQ(monitor.intervalMs(), 200);
    QSignalSpy socketStates(link.udpClient(), &QUdpSocket::stateChanged);
    // WHEN tmrVolume ticks
    tick();
    // THEN "VOL" went from port 2976 to the element, and its reply is reported as a peak; the
    // socket stayed bound (no reply can arrive while it is closed)
    ASSERT_TRUE(waitUntil([this] { return !levels.isEmpty(); }));
    EXPECT_TRUE(socketStates.isEmpty());
    EXPECT_EQ(requests.value(0).data(), QByteArray("VOL"));
    EXPECT_EQ(requests.value(0).senderPort(), 2976);
    EXPECT_EQ(levels.takeFirst().at(0).toInt(), 4194304);
    EXPECT_EQ(monitor.peakLevel(), 4194304);
    // WHEN it stops, THEN the display is blanked, and so it stays for a reply still under way
    monitor.stop();
    monitor.stop();
    monitor.applyLevelReply(levelReply(hex("00 00 00"), {{0, hex("40 00 00")}}));
    EXPECT_EQ(running.size(), 2);
    EXPECT_FALSE(running.value(1).value(0).toBool());
    ASSERT_EQ(levels.size(), 2);
    EXPECT_EQ(levels[0].at(0).toInt(), 0);
    EXPECT_EQ(levels[1].at(0).toInt(), 0);
}

TEST_F(LevelMonitorTest, ARequestThatCannotLeaveStopsMonitoringWithOneMessage)
{
    store.write("00:50:C2:00:00:01", keys::ip, "");
    QSignalSpy stopped(&monitor, &LevelMonitor::stoppedOnFailure);
    monitor.start();
    tick();
    EXPECT_EQ(stopped.size(), 1);
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_EQ(running.size(), 2);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(programEnd.codes.isEmpty());
}
