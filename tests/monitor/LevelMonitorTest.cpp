#include "diagnostics/LevelMonitor.h"
#include "Fakes.h"
#include "TestUtil.h"
#include "link/ConfigLink.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"
#include "store/SelectedElement.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QSlider>
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

class LevelMonitorTest : public ::testing::Test
{
protected:
    LevelMonitorTest()
        : fatal(boxes, programEnd), store(dir.filePath("nms.ini")), selection(store),
          link(boxes, fatal, selection, QHostAddress("127.0.0.1"))
    {
        selection.select("00:50:C2:00:00:01");
        store.write("00:50:C2:00:00:01", keys::ip, "127.0.0.2");
        meter.resize(0, 12);
        slider.setRange(10, 1000);
        monitor = std::make_unique<LevelMonitor>(link, &check, &meter, &label, &slider);
        EXPECT_TRUE(link.bindConfigPort());
        EXPECT_TRUE(element.bind(QHostAddress("127.0.0.2"), 2977));
        // The stand-in answers every "VOL" with a -6 dBFS tone.
        QObject::connect(&element, &QUdpSocket::readyRead, [this] {
            while (element.hasPendingDatagrams()) {
                const QNetworkDatagram d = element.receiveDatagram();
                requests << d;
                if (answer)
                    element.writeDatagram(levelReply(hex("00 00 00"), {{0, hex("40 00 00")}}),
                                          d.senderAddress(), quint16(d.senderPort()));
            }
        });
    }

    QTemporaryDir dir;
    FakeMessageBoxes boxes;
    FakeProgramEnd programEnd;
    FatalError fatal;
    ElementStore store;
    SelectedElement selection;
    ConfigLink link;
    QCheckBox check;
    QWidget meter;
    QLabel label{"-oodBFS"};
    QSlider slider;
    std::unique_ptr<LevelMonitor> monitor;
    QUdpSocket element;
    QList<QNetworkDatagram> requests;
    bool answer = true;
};

} // namespace

TEST_F(LevelMonitorTest, PollsTheElementAndShowsItsLevel)
{
    check.setChecked(true);
    ASSERT_TRUE(waitUntil([this] { return label.text() == "-6dBFS"; }));
    EXPECT_EQ(meter.width(), 70); // 1050 twips
    ASSERT_FALSE(requests.isEmpty());
    EXPECT_EQ(requests[0].data(), QByteArray("VOL"));
    EXPECT_EQ(requests[0].senderPort(), 2976);
    // Stopping blanks the display; a reply still under way changes nothing.
    check.setChecked(false);
    EXPECT_EQ(label.text(), "-oodBFS");
    EXPECT_EQ(meter.width(), 0);
    monitor->applyLevelReply(levelReply(hex("00 00 00"), {{0, hex("40 00 00")}}));
    EXPECT_EQ(label.text(), "-oodBFS");
    EXPECT_EQ(meter.width(), 0);
}

TEST_F(LevelMonitorTest, TheSliderSetsThePollingRate)
{
    answer = false;
    slider.setValue(200);
    EXPECT_EQ(monitor->timer()->interval(), 200);
    check.setChecked(true);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(waitUntil([this] { return requests.size() >= 5; }, 3000));
    const qint64 slow = clock.elapsed();
    EXPECT_GE(slow, 4 * 200 - 50);
    slider.setValue(20);
    EXPECT_TRUE(monitor->timer()->isActive());
    requests.clear();
    clock.restart();
    ASSERT_TRUE(waitUntil([this] { return requests.size() >= 5; }, 3000));
    EXPECT_LT(clock.elapsed(), slow);
}

TEST_F(LevelMonitorTest, ARequestThatCannotLeaveStopsMonitoringWithOneMessage)
{
    store.write("00:50:C2:00:00:01", keys::ip, "");
    QSignalSpy stopped(monitor.get(), &LevelMonitor::stoppedOnFailure);
    check.setChecked(true);
    ASSERT_TRUE(waitUntil([&] { return stopped.count() == 1; }));
    EXPECT_FALSE(check.isChecked());
    EXPECT_FALSE(monitor->timer()->isActive());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(programEnd.codes.isEmpty());
}
