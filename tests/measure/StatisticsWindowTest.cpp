// StatisticsWindow end to end over loopback against a stand-in element.
#include "MeasureFixture.h"

#include "gui/StatisticsWindow.h"

#include <QGroupBox>
#include <QPushButton>

using namespace vexo;

namespace {

const QString kOccupied = QStringLiteral("Error 2: Unable to use UDP port 2978: occupied.");
const QString kError5 =
    QStringLiteral("Error 5 while retrieving values. Please reset the device and try again.");

const char* const kValueLabels[] = {"lblMACTxOK",         "lblMACTxErr",         "lblMACRxOK", "lblMACRxErr",
                                    "lblAudioRxFramesOK", "lblAudioRxFramesErr", "lblPTPRxOK", "lblPTPRxErr",
                                    "lblPTPClkAdj",       "lblPTPLatency"};

} // namespace

class StatisticsWindowTest : public MeasureFixture
{
protected:
    // Opens the window and waits until the first record has been applied.
    std::unique_ptr<StatisticsWindow> open()
    {
        auto w = std::make_unique<StatisticsWindow>(context());
        EXPECT_TRUE(w->openLink());
        w->show();
        EXPECT_TRUE(waitUntil([&] { return element.count(kGetStats) == 1; }));
        return w;
    }
    // Clicks Refresh and waits until the answer has been applied to lblMACTxOK.
    void refreshAndWait(StatisticsWindow& w, const QString& expectedTxOk)
    {
        QTest::mouseClick(child<QPushButton>(w, "cmdRefreshStats"), Qt::LeftButton);
        EXPECT_TRUE(waitUntil([&] { return text(w, "lblMACTxOK") == expectedTxOk; }));
    }
};

TEST_F(StatisticsWindowTest, LayoutCaptionsAndStartValues)
{
    StatisticsWindow w(context());
    EXPECT_EQ(w.objectName(), "frmStatistics");
    EXPECT_EQ(w.windowTitle(), "Statistics");
    EXPECT_TRUE(w.isModal());
    EXPECT_EQ(child<QGroupBox>(w, "frmStats")->title(), "[DEVICE]");
    for (const char* name : kValueLabels)
        EXPECT_EQ(text(w, name), "-") << name;
    auto* clear = child<QPushButton>(w, "cmdResetStats");
    auto* refresh = child<QPushButton>(w, "cmdRefreshStats");
    EXPECT_EQ(clear->text(), "&Clear");
    EXPECT_EQ(clear->toolTip(), "Reset counters to zero");
    EXPECT_EQ(refresh->text(), "&Refresh");
    EXPECT_EQ(refresh->toolTip(), "Fetch counters");
    EXPECT_NE(w.findChild<QUdpSocket*>("udpClient2"), nullptr);

    // Rows top to bottom in their order, each caption beside its value, Clear left of Refresh.
    w.show();
    const QStringList captions = {
        "Good TX Frames:",   "Bad TX Frames:", "Good RX Frames:", "Bad RX Frames:",    "OK Audio Frames:",
        "Bad Audio Frames:", "Good PTP Sync:", "Bad PTP Sync:",   "Clock Difference:", "Measured delay:"};
    int lastY = -1;
    for (int i = 0; i < 10; ++i) {
        auto* caption = child<QLabel>(w, QStringLiteral("Label%1").arg(i + 1).toLatin1().constData());
        auto* value = child<QLabel>(w, kValueLabels[i]);
        EXPECT_EQ(caption->text(), captions[i]);
        EXPECT_GT(caption->y(), lastY);
        EXPECT_LT(caption->x(), value->x());
        EXPECT_LE(std::abs(caption->geometry().center().y() - value->geometry().center().y()), 2);
        lastY = caption->y();
    }
    EXPECT_LT(clear->x(), refresh->x());
}

TEST_F(StatisticsWindowTest, OpeningNamesTheFrameAndShowsTheCounters)
{
    // GIVEN an SFN decoder reporting counters
    element.record.txFramesOk = 1197;
    element.record.txFramesErr = 3;
    element.record.rxFramesOk = 2;
    element.record.rxFramesErr = 1;
    element.record.rxAudioFramesOk = 16777217;
    element.record.ptpSyncOk = 120;
    element.record.ptpSyncErr = 4;
    element.record.ptpSyncValue = -35;
    element.record.ptpSyncLatency = 150000;
    element.record.additionalDelay = 250000;
    // WHEN the window opens
    auto w = open();
    // THEN the frame carries the name and every row shows the record
    EXPECT_EQ(child<QGroupBox>(*w, "frmStats")->title(), "STUDIO A:");
    ASSERT_TRUE(waitUntil([&] { return text(*w, "lblMACTxOK") == "1197"; }));
    EXPECT_EQ(text(*w, "lblMACTxErr"), "3 (0.25%)");
    EXPECT_EQ(text(*w, "lblMACRxOK"), "2");
    EXPECT_EQ(text(*w, "lblMACRxErr"), "1 (33.33%)");
    EXPECT_EQ(text(*w, "lblAudioRxFramesOK"), "16777217");
    EXPECT_EQ(text(*w, "lblAudioRxFramesErr"), "0 (0%)");
    EXPECT_EQ(text(*w, "lblPTPRxOK"), "120");
    EXPECT_EQ(text(*w, "lblPTPRxErr"), "4");
    EXPECT_EQ(text(*w, "lblPTPClkAdj"), "-35 nS");
    EXPECT_EQ(text(*w, "lblPTPLatency"), "400000 nS");
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(StatisticsWindowTest, EmptyNameGivesAColonAlone)
{
    setKey("name", "");
    auto w = open();
    EXPECT_EQ(child<QGroupBox>(*w, "frmStats")->title(), ":");
}

TEST_F(StatisticsWindowTest, ElementNotInSfnModeKeepsThePtpRows)
{
    setKey("sfn", "0");
    element.record.ptpSyncOk = 120;
    element.record.txFramesOk = 5;
    auto w = open();
    ASSERT_TRUE(waitUntil([&] { return text(*w, "lblMACTxOK") == "5"; }));
    for (const char* name : {"lblPTPRxOK", "lblPTPRxErr", "lblPTPClkAdj", "lblPTPLatency"})
        EXPECT_EQ(text(*w, name), "-") << name;
    EXPECT_EQ(text(*w, "lblAudioRxFramesErr"), "0 (0%)");
}

TEST_F(StatisticsWindowTest, SfnEncoderShowsOnlyThePtpCounts)
{
    role = QStringLiteral("ENCODER");
    element.record.txFramesOk = 5;
    element.record.ptpSyncOk = 120;
    element.record.ptpSyncErr = 4;
    auto w = open();
    ASSERT_TRUE(waitUntil([&] { return text(*w, "lblMACTxOK") == "5"; }));
    EXPECT_EQ(text(*w, "lblPTPRxOK"), "120");
    EXPECT_EQ(text(*w, "lblPTPRxErr"), "4");
    EXPECT_EQ(text(*w, "lblPTPClkAdj"), "-");
    EXPECT_EQ(text(*w, "lblPTPLatency"), "-");
}

TEST_F(StatisticsWindowTest, RefreshFetchesAgain)
{
    element.record.txFramesOk = 1;
    auto w = open();
    ASSERT_TRUE(waitUntil([&] { return text(*w, "lblMACTxOK") == "1"; }));
    element.record.txFramesOk = 2;
    refreshAndWait(*w, "2");
    EXPECT_EQ(element.count(kGetStats), 2);
}

TEST_F(StatisticsWindowTest, ResetAsksAndSendsOnlyAfterYes)
{
    element.record.txFramesOk = 7;
    auto w = open();
    ASSERT_TRUE(waitUntil([&] { return text(*w, "lblMACTxOK") == "7"; }));
    auto* clear = child<QPushButton>(*w, "cmdResetStats");

    // WHEN the operator answers No
    boxes.answers << MsgAnswer::No;
    QTest::mouseClick(clear, Qt::LeftButton);
    // THEN the question was asked, and nothing left before the next refresh did
    ASSERT_EQ(boxes.shown.size(), 1);
    const MessageBoxRequest q = boxes.shown.first();
    EXPECT_EQ(q.caption, "Reset counters");
    EXPECT_EQ(q.text, "You will reset all counters to zero.\rAre you sure?");
    EXPECT_EQ(q.icon, MsgIcon::Question);
    EXPECT_EQ(q.buttons, MsgButtons::YesNo);
    EXPECT_EQ(q.defaultButton, MsgAnswer::No);
    element.record.txFramesOk = 8;
    refreshAndWait(*w, "8");
    EXPECT_EQ(element.received, QList<QByteArray>({kGetStats, kGetStats}));

    // WHEN the operator answers Yes
    boxes.answers << MsgAnswer::Yes;
    element.record.txFramesOk = 0;
    QTest::mouseClick(clear, Qt::LeftButton);
    // THEN "RstStats" reaches the element and the labels keep their values
    ASSERT_TRUE(waitUntil([&] { return element.count(kRstStats) == 1; }));
    EXPECT_EQ(element.received.last(), kRstStats);
    EXPECT_EQ(text(*w, "lblMACTxOK"), "8");
}

TEST_F(StatisticsWindowTest, ShortDatagramsDecodeWhatTheyHold)
{
    element.record.txFramesOk = 9;
    auto w = open();
    ASSERT_TRUE(waitUntil([&] { return text(*w, "lblMACTxOK") == "9"; }));

    // GIVEN a 40-byte answer: fields 0..36 carry values, the measured delay sum is 0 + 0
    QByteArray forty = buildMeasurementRecord([] {
                           MeasurementValues v;
                           v.txFramesOk = 11;
                           v.rxFramesOk = 22;
                           v.rxAudioFramesOk = 33;
                           v.rxAudioFramesErr = 1;
                           v.ptpSyncLatency = 500;
                           v.additionalDelay = 99999; // beyond 40 bytes: must read as 0
                           return v;
                       }())
                           .left(40);
    element.rawReply = forty;
    refreshAndWait(*w, "11");
    EXPECT_EQ(text(*w, "lblMACRxOK"), "22");
    EXPECT_EQ(text(*w, "lblAudioRxFramesOK"), "33");
    EXPECT_EQ(text(*w, "lblAudioRxFramesErr"), "1 (2.94%)");
    EXPECT_EQ(text(*w, "lblPTPLatency"), "500 nS");

    // GIVEN an empty datagram: every field is 0
    element.rawReply = QByteArray("");
    refreshAndWait(*w, "0");
    EXPECT_EQ(text(*w, "lblMACRxOK"), "0");
    EXPECT_EQ(text(*w, "lblMACTxErr"), "0 (0%)");
    EXPECT_EQ(text(*w, "lblPTPLatency"), "0 nS");
}

TEST_F(StatisticsWindowTest, LongerDatagramIsIgnored)
{
    element.record.txFramesOk = 9;
    auto w = open();
    ASSERT_TRUE(waitUntil([&] { return text(*w, "lblMACTxOK") == "9"; }));
    // WHEN a 62-byte datagram arrives, followed by a good record
    MeasurementValues v;
    v.txFramesOk = 62;
    element.sendToStation(buildMeasurementRecord(v) + '\0');
    v.txFramesOk = 61;
    element.sendToStation(buildMeasurementRecord(v));
    // THEN only the good one is applied
    ASSERT_TRUE(waitUntil([&] { return text(*w, "lblMACTxOK") == "61"; }));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(StatisticsWindowTest, OverflowingSumShowsError5AndKeepsTheLaterRows)
{
    element.record.txFramesOk = 5;
    element.record.rxFramesOk = 2;
    element.record.rxFramesErr = 1;
    element.record.rxAudioFramesOk = 3;
    auto w = open();
    ASSERT_TRUE(waitUntil([&] { return text(*w, "lblMACTxOK") == "5"; }));
    // WHEN TX OK 2147483647 and TX errors 1 arrive
    element.record.txFramesOk = 2147483647;
    element.record.txFramesErr = 1;
    element.record.rxFramesOk = 44;
    element.record.rxAudioFramesOk = 55;
    refreshAndWait(*w, "2147483647");
    // THEN Error 5 is shown, TX OK and RX OK are new and the later rows are the old ones
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown.first().text, kError5);
    EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Critical);
    EXPECT_EQ(text(*w, "lblMACRxOK"), "44");
    EXPECT_EQ(text(*w, "lblMACTxErr"), "0 (0%)");
    EXPECT_EQ(text(*w, "lblMACRxErr"), "1 (33.33%)");
    EXPECT_EQ(text(*w, "lblAudioRxFramesOK"), "3");
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(end.codes.isEmpty());
}

TEST_F(StatisticsWindowTest, SfnThatIsNoNumberShowsError5)
{
    setKey("sfn", "");
    element.record.txFramesOk = 5;
    auto w = open();
    ASSERT_TRUE(waitUntil([&] { return boxes.shown.size() == 1; }));
    EXPECT_EQ(boxes.shown.first().text, kError5);
    EXPECT_EQ(text(*w, "lblMACTxOK"), "5");
    EXPECT_EQ(text(*w, "lblAudioRxFramesOK"), "-");
}

TEST_F(StatisticsWindowTest, OccupiedPortEndsTheProgram)
{
    // GIVEN another socket holding the station's port 2978
    QUdpSocket occupant;
    ASSERT_TRUE(occupant.bind(QHostAddress(QStringLiteral("127.0.0.1")), kMeasurePort));
    StatisticsWindow w(context());
    // WHEN the window opens THEN the fatal message is shown and the program ends once
    EXPECT_FALSE(w.openLink());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown.first().text, kOccupied);
    EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Critical);
    EXPECT_EQ(end.codes, QList<int>({1}));
    EXPECT_EQ(element.count(kGetStats), 0);
}

TEST_F(StatisticsWindowTest, FirstRequestThatCannotLeaveEndsTheProgram)
{
    setKey("ip", "");
    StatisticsWindow w(context());
    EXPECT_FALSE(w.openLink());
    EXPECT_EQ(boxes.texts(), QStringList({kOccupied}));
    EXPECT_EQ(end.codes, QList<int>({1}));
    // The port is released again.
    QUdpSocket probe;
    EXPECT_TRUE(probe.bind(QHostAddress(QStringLiteral("127.0.0.1")), kMeasurePort));
}

TEST_F(StatisticsWindowTest, LaterRequestThatCannotLeaveIsReportedAndTheWindowStays)
{
    auto w = open();
    for (const char* ip : {"", "300.1.2.3"}) {
        boxes.clear();
        setKey("ip", ip);
        QTest::mouseClick(child<QPushButton>(*w, "cmdRefreshStats"), Qt::LeftButton);
        ASSERT_EQ(boxes.shown.size(), 1) << ip;
        EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Critical);
        EXPECT_TRUE(boxes.shown.first().text.startsWith("Cannot send the request to the element.\r"));
        EXPECT_TRUE(boxes.shown.first().text.contains(ip[0] ? "\"300.1.2.3\" is not valid" : "No IP address"))
            << boxes.shown.first().text.toStdString();
    }
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(end.codes.isEmpty());
    // The address fixed, the next refresh goes out again.
    setKey("ip", "127.0.0.2");
    QTest::mouseClick(child<QPushButton>(*w, "cmdRefreshStats"), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return element.count(kGetStats) == 2; }));
}

TEST_F(StatisticsWindowTest, EachRequestGoesToTheAddressStoredAtThatMoment)
{
    StandInElement moved(QHostAddress(QStringLiteral("127.0.0.3")));
    ASSERT_TRUE(moved.bind());
    auto w = open();
    setKey("ip", "127.0.0.3");
    QTest::mouseClick(child<QPushButton>(*w, "cmdRefreshStats"), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return moved.count(kGetStats) == 1; }));
    EXPECT_EQ(element.count(kGetStats), 1);
}

TEST_F(StatisticsWindowTest, ClosingReleasesThePort)
{
    auto w = open();
    QUdpSocket probe;
    EXPECT_FALSE(probe.bind(QHostAddress(QStringLiteral("127.0.0.1")), kMeasurePort,
                            QAbstractSocket::DontShareAddress));
    w->close();
    EXPECT_TRUE(probe.bind(QHostAddress(QStringLiteral("127.0.0.1")), kMeasurePort,
                           QAbstractSocket::DontShareAddress));
}

TEST_F(StatisticsWindowTest, WidestValuesAreNeverClipped)
{
    // GIVEN counts at the ends of the 32-bit range (negative counts give huge ratios)
    element.record.txFramesOk = 2147483647;
    element.record.txFramesErr = -2147483648;
    element.record.rxFramesOk = -2147483647;
    element.record.rxFramesErr = -1;
    element.record.ptpSyncOk = -2147483648;
    element.record.ptpSyncErr = -2147483648;
    element.record.ptpSyncValue = -2147483648;
    element.record.ptpSyncLatency = -2147483648;
    element.record.rxAudioFramesOk = -2147483648;
    element.record.rxAudioFramesErr = 2147483647;
    auto w = open();
    ASSERT_TRUE(waitUntil([&] { return text(*w, "lblMACTxOK") == "2147483647"; }));
    EXPECT_EQ(text(*w, "lblMACTxErr"), "-2147483648 (214748364800%)");
    // THEN once the layout has settled, every label has the room its text needs
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    for (QLabel* label : w->findChildren<QLabel*>())
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->objectName().toStdString();
    EXPECT_TRUE(boxes.shown.isEmpty());
}
