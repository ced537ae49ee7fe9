// AdjustWindow end to end over loopback against a stand-in element.
#include "MeasureFixture.h"

#include "gui/AdjustWindow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTimer>

using namespace vexo;

namespace {

const QString kOccupied = QStringLiteral("Unable to use UDP port 2978: occupied.");
const QString kError4 =
    QStringLiteral("Error 4 while retrieving values. Please reset the device and try again.");
const QString kUnsaved =
    QStringLiteral("There are unsaved parameters. Don't forget to click the 'Save' button.");

const char* const kLatencyLabels[] = {"lblCurrentDelayMIN", "lblCurrentDelayMAX",   "lblCurrentDelayAVG",
                                      "lblFixedLatencyMAC", "lblFixedLatencyAUDIO", "lblDelaySumMIN",
                                      "lblDelaySumMAX",     "lblDelaySumAVG"};

} // namespace

class AdjustWindowTest : public MeasureFixture
{
protected:
    std::unique_ptr<AdjustWindow> open()
    {
        auto w = std::make_unique<AdjustWindow>(context());
        EXPECT_TRUE(w->openLink());
        w->show();
        EXPECT_TRUE(waitUntil([&] { return element.count(kGetDel) == 1; }));
        return w;
    }
    // Waits until the first record (answer to the opening "GetDel") has been applied.
    std::unique_ptr<AdjustWindow> openAndApply()
    {
        auto w = open();
        EXPECT_TRUE(waitUntil([&] { return text(*w, "lblFixedLatencyMAC") != "-"; }));
        return w;
    }
    void refreshAndWait(AdjustWindow& w)
    {
        const int before = element.count(kGetDel);
        child<QLabel>(w, "lblFixedLatencyMAC")->setText("-"); // marks the next record's arrival
        QTest::mouseClick(child<QPushButton>(w, "cmdRefresh"), Qt::LeftButton);
        EXPECT_TRUE(waitUntil([&] { return element.count(kGetDel) == before + 1; }));
        EXPECT_TRUE(waitUntil([&] { return text(w, "lblFixedLatencyMAC") != "-"; }));
    }
    // Clicks the scroll bar's right arrow, one small step.
    static void clickAddLine(QScrollBar* scroll)
    {
        QStyleOptionSlider option;
        option.initFrom(scroll);
        option.orientation = scroll->orientation();
        option.minimum = scroll->minimum();
        option.maximum = scroll->maximum();
        option.sliderPosition = scroll->sliderPosition();
        option.sliderValue = scroll->value();
        option.singleStep = scroll->singleStep();
        option.pageStep = scroll->pageStep();
        option.subControls = QStyle::SC_All;
        const QRect r = scroll->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                        QStyle::SC_ScrollBarAddLine, scroll);
        QTest::mouseClick(scroll, Qt::LeftButton, Qt::NoModifier, r.center());
    }
    QScrollBar* bar(AdjustWindow& w) { return child<QScrollBar>(w, "scrlAdditionalDelay"); }
    QCheckBox* box(AdjustWindow& w, const char* name) { return child<QCheckBox>(w, name); }
    QTimer* timer(AdjustWindow& w, const char* name) { return child<QTimer>(w, name); }
    void startAutoRefresh(AdjustWindow& w)
    {
        clickCheckBox(box(w, "chkAutoUpdate"));
        ASSERT_TRUE(box(w, "chkAutoUpdate")->isChecked());
        ASSERT_TRUE(timer(w, "Timer2")->isActive());
    }
    void expectAutoRefreshOff(AdjustWindow& w, const char* after)
    {
        EXPECT_FALSE(box(w, "chkAutoUpdate")->isChecked()) << after;
        EXPECT_FALSE(timer(w, "Timer2")->isActive()) << after;
    }
};

TEST_F(AdjustWindowTest, LayoutCaptionsAndControls)
{
    AdjustWindow w(context());
    EXPECT_EQ(w.windowTitle(), "SFN Adjustment");
    EXPECT_TRUE(w.isModal());
    EXPECT_EQ(child<QGroupBox>(w, "Frame1")->title(), "Measurements:");
    EXPECT_EQ(child<QGroupBox>(w, "Frame2")->title(), "Adjustments:");
    const QStringList captions = {
        "Network latency (MIN):", "Network latency (MAX):",   "Network latency (AVG):",
        "MAC interface latency:", "Audio interface latency:", "Latency summary (MIN):",
        "Latency summary (MAX):", "Latency summary (AVG):"};
    w.show();
    int lastY = -1;
    for (int i = 0; i < 8; ++i) {
        auto* caption = child<QLabel>(w, QStringLiteral("Label%1").arg(i + 1).toLatin1().constData());
        auto* value = child<QLabel>(w, kLatencyLabels[i]);
        EXPECT_EQ(caption->text(), captions[i]);
        EXPECT_GT(caption->y(), lastY);
        EXPECT_LE(std::abs(caption->geometry().center().y() - value->geometry().center().y()), 2);
        lastY = caption->y();
    }
    EXPECT_EQ(text(w, "Label9"), "Latency compensation:");
    auto* clear = child<QPushButton>(w, "cmdResetStats");
    auto* refresh = child<QPushButton>(w, "cmdRefresh");
    auto* set = child<QPushButton>(w, "cmdSet");
    EXPECT_EQ(clear->text(), "&Clear");
    EXPECT_EQ(clear->toolTip(), "Reset counters to zero");
    EXPECT_EQ(box(w, "chkAutoUpdate")->text(), "&Auto");
    EXPECT_EQ(box(w, "chkAutoUpdate")->toolTip(), "Auto refresh (every 1 sec)");
    EXPECT_EQ(refresh->text(), "&Refresh");
    EXPECT_LT(clear->x(), box(w, "chkAutoUpdate")->x());
    EXPECT_LT(box(w, "chkAutoUpdate")->x(), refresh->x());
    EXPECT_EQ(box(w, "chkAutoServo")->text(), "Auto &delay compensation");
    EXPECT_EQ(box(w, "chkAutoServo")->toolTip(), "Enables auto compansation of Network latency");
    EXPECT_EQ(set->text(), "&Set");
    EXPECT_EQ(box(w, "chkAutoClear")->text(), "Auto clea&r counters");
    EXPECT_EQ(box(w, "chkAutoClear")->toolTip(), "Clear counters after each 'Set' command");
    EXPECT_EQ(bar(w)->minimum(), 0);
    EXPECT_EQ(bar(w)->maximum(), 25000);
    EXPECT_EQ(bar(w)->singleStep(), 1);
    EXPECT_EQ(bar(w)->pageStep(), 100);
    EXPECT_EQ(bar(w)->orientation(), Qt::Horizontal);
    EXPECT_EQ(timer(w, "Timer1")->interval(), 250);
    EXPECT_EQ(timer(w, "Timer2")->interval(), 1000);
    EXPECT_FALSE(timer(w, "Timer1")->isActive());
    EXPECT_FALSE(timer(w, "Timer2")->isActive());
    EXPECT_NE(w.findChild<QUdpSocket*>("udpClient3"), nullptr);
    // Frame1 above Frame2; the servo box left of Set, Auto clear below them.
    EXPECT_LT(child<QGroupBox>(w, "Frame1")->y(), child<QGroupBox>(w, "Frame2")->y());
    EXPECT_LT(box(w, "chkAutoServo")->x(), set->x());
    EXPECT_LT(bar(w)->y(), box(w, "chkAutoServo")->y());
    EXPECT_LT(box(w, "chkAutoServo")->y(), box(w, "chkAutoClear")->y());
}

TEST_F(AdjustWindowTest, OpeningWithNothingStored)
{
    element.answer = false; // labels before any record
    auto w = open();
    EXPECT_EQ(bar(*w)->value(), 0);
    EXPECT_EQ(text(*w, "lblAdditionalDelay"), "0 nS");
    EXPECT_FALSE(box(*w, "chkAutoServo")->isChecked());
    EXPECT_FALSE(box(*w, "chkAutoClear")->isChecked());
    EXPECT_FALSE(box(*w, "chkAutoUpdate")->isChecked());
    for (const char* name : kLatencyLabels)
        EXPECT_EQ(text(*w, name), "-") << name;
    EXPECT_FALSE(w->pendingSave());
    EXPECT_EQ(settings.writes, 0); // nothing differed from the initial state
}

TEST_F(AdjustWindowTest, OpeningTakesTheStoredSettings)
{
    setKey("dly", "2500");
    setKey("srv", "1");
    settings.values["AutoClearCounters"] = "1";
    element.answer = false;
    auto w = open();
    EXPECT_EQ(bar(*w)->value(), 2500);
    EXPECT_EQ(w->additionalDelayNs(), 250000);
    EXPECT_EQ(text(*w, "lblAdditionalDelay"), "250 uS, 0 nS");
    EXPECT_TRUE(box(*w, "chkAutoServo")->isChecked());
    EXPECT_TRUE(box(*w, "chkAutoClear")->isChecked());
    // The check box's handler ran and stored the same setting again.
    EXPECT_EQ(settings.values["AutoClearCounters"], "1");
    EXPECT_EQ(settings.writes, 1);
}

TEST_F(AdjustWindowTest, StoredValuesOutOfRangeAreClampedOrDefaulted)
{
    element.answer = false;
    const std::tuple<const char*, const char*, const char*, int, bool, bool> cases[] = {
        {"30000", "7", "yes", 25000, false, false},
        {"-3", "1", "1", 0, true, true},
        {"abc", "", "", 0, false, false},
    };
    for (const auto& [dly, srv, autoClear, position, servo, cleared] : cases) {
        setKey("dly", dly);
        setKey("srv", srv);
        settings.values["AutoClearCounters"] = autoClear;
        auto w = open();
        EXPECT_EQ(bar(*w)->value(), position) << dly;
        EXPECT_EQ(w->additionalDelayNs(), position * 100) << dly;
        EXPECT_EQ(box(*w, "chkAutoServo")->isChecked(), servo) << srv;
        EXPECT_EQ(box(*w, "chkAutoClear")->isChecked(), cleared) << autoClear;
        w->close();
        element.received.clear();
    }
}

TEST_F(AdjustWindowTest, RecordOfAnSfnDecoderMovesTheBarAndShowsTheLatencies)
{
    element.record.propagationDelayAverage = 1000000;
    element.record.propagationDelayMinimum = -500;
    element.record.propagationDelayMaximum = 1200000;
    element.record.additionalDelay = 250000;
    auto w = openAndApply();
    EXPECT_EQ(bar(*w)->value(), 2500);
    EXPECT_EQ(text(*w, "lblAdditionalDelay"), "250 uS, 0 nS");
    EXPECT_EQ(text(*w, "lblFixedLatencyMAC"), "265 nS");
    EXPECT_EQ(text(*w, "lblFixedLatencyAUDIO"), "395 uS, 833 nS");
    EXPECT_EQ(text(*w, "lblCurrentDelayAVG"), "1 mS, 250 uS, 0 nS");
    EXPECT_EQ(text(*w, "lblDelaySumAVG"), "1 mS, 646 uS, 98 nS");
    EXPECT_EQ(text(*w, "lblCurrentDelayMIN"), "249 uS, 500 nS");
    EXPECT_EQ(text(*w, "lblCurrentDelayMAX"), "1 mS, 450 uS, 0 nS");
    EXPECT_FALSE(box(*w, "chkAutoServo")->isChecked());
    EXPECT_EQ(box(*w, "chkAutoServo")->text(), "Auto servo");
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(AdjustWindowTest, NegativeLatency)
{
    element.record.propagationDelayMinimum = -500;
    auto w = openAndApply();
    EXPECT_EQ(text(*w, "lblCurrentDelayMIN"), "-500 nS");
    EXPECT_EQ(text(*w, "lblDelaySumMIN"), "395 uS, 598 nS");
}

TEST_F(AdjustWindowTest, DelayBeyondTheBarStopsItAtItsEnd)
{
    element.record.additionalDelay = 3000000;
    auto w = openAndApply();
    EXPECT_EQ(bar(*w)->value(), 25000);
    EXPECT_EQ(text(*w, "lblAdditionalDelay"), "2 mS, 500 uS, 0 nS");
    EXPECT_EQ(text(*w, "lblCurrentDelayAVG"), "3 mS, 0 uS, 0 nS");
}

TEST_F(AdjustWindowTest, HalfPositionsRoundToEven)
{
    element.record.additionalDelay = 250;
    auto w = openAndApply();
    EXPECT_EQ(bar(*w)->value(), 2);
    element.record.additionalDelay = 350;
    refreshAndWait(*w);
    EXPECT_EQ(bar(*w)->value(), 4);
    EXPECT_EQ(text(*w, "lblAdditionalDelay"), "400 nS");
}

TEST_F(AdjustWindowTest, ServoOnShowsItsCorrection)
{
    element.record.autoServo = 1;
    element.record.autoServoValue = -1200;
    element.record.propagationDelayAverage = 10000;
    auto w = openAndApply();
    EXPECT_TRUE(box(*w, "chkAutoServo")->isChecked());
    EXPECT_EQ(box(*w, "chkAutoServo")->text(), "Auto servo (-1200 nS)");
    EXPECT_EQ(text(*w, "lblCurrentDelayAVG"), "8 uS, 800 nS");
    EXPECT_EQ(text(*w, "lblCurrentDelayMIN"), "-1 uS, 200 nS");
}

TEST_F(AdjustWindowTest, RecordOfAnEncoderChangesOnlyTheFixedLatencies)
{
    for (const auto& [sfn, r] : {std::pair{"1", "ENCODER"}, {"0", "DECODER"}}) {
        setKey("sfn", sfn);
        role = QString::fromLatin1(r);
        setKey("dly", "7");
        element.record.additionalDelay = 250000;
        element.record.propagationDelayAverage = 1000;
        element.record.autoServo = 1;
        auto w = openAndApply();
        EXPECT_EQ(text(*w, "lblFixedLatencyMAC"), "265 nS");
        EXPECT_EQ(text(*w, "lblFixedLatencyAUDIO"), "395 uS, 833 nS");
        EXPECT_EQ(text(*w, "lblCurrentDelayAVG"), "-");
        EXPECT_EQ(text(*w, "lblDelaySumAVG"), "-");
        EXPECT_EQ(bar(*w)->value(), 7);
        EXPECT_FALSE(box(*w, "chkAutoServo")->isChecked());
        EXPECT_TRUE(boxes.shown.isEmpty());
        w->close();
        element.received.clear();
    }
}

TEST_F(AdjustWindowTest, OnlyRecordsOfExactly61BytesAreApplied)
{
    element.answer = false;
    auto w = open();
    MeasurementValues v;
    v.additionalDelay = 100;
    element.sendToStation(buildMeasurementRecord(v).left(60));
    element.sendToStation(buildMeasurementRecord(v) + '\0');
    v.additionalDelay = 200;
    element.sendToStation(buildMeasurementRecord(v));
    ASSERT_TRUE(waitUntil([&] { return bar(*w)->value() != 0; }));
    EXPECT_EQ(bar(*w)->value(), 2);
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(AdjustWindowTest, SfnThatIsNoNumberShowsError4)
{
    setKey("sfn", "");
    auto w = openAndApply();
    ASSERT_TRUE(waitUntil([&] { return boxes.shown.size() == 1; }));
    EXPECT_EQ(boxes.shown.first().text, kError4);
    EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Critical);
    EXPECT_EQ(text(*w, "lblFixedLatencyMAC"), "265 nS");
    EXPECT_EQ(text(*w, "lblCurrentDelayAVG"), "-");
    EXPECT_TRUE(w->isVisible());
}

TEST_F(AdjustWindowTest, OverflowingLatencyShowsError4AfterTheAverage)
{
    element.record.propagationDelayAverage = 1000;
    element.record.propagationDelayMinimum = 2147483647;
    element.record.additionalDelay = 100;
    auto w = openAndApply();
    ASSERT_TRUE(waitUntil([&] { return boxes.shown.size() == 1; }));
    EXPECT_EQ(boxes.shown.first().text, kError4);
    EXPECT_EQ(bar(*w)->value(), 1);
    EXPECT_EQ(text(*w, "lblCurrentDelayAVG"), "1 uS, 100 nS");
    EXPECT_EQ(text(*w, "lblDelaySumAVG"), "397 uS, 198 nS");
    EXPECT_EQ(text(*w, "lblCurrentDelayMIN"), "-");
    EXPECT_EQ(text(*w, "lblCurrentDelayMAX"), "-");
}

TEST_F(AdjustWindowTest, SetReachesTheElementAndItsNextRecordMovesTheBar)
{
    auto w = openAndApply();
    // WHEN the operator moves the bar to 2500, checks the servo and clicks Set
    clickAddLine(bar(*w));
    EXPECT_EQ(bar(*w)->value(), 1);
    EXPECT_EQ(text(*w, "lblAdditionalDelay"), "100 nS");
    bar(*w)->setValue(2500);
    clickCheckBox(box(*w, "chkAutoServo"));
    ASSERT_TRUE(box(*w, "chkAutoServo")->isChecked());
    QTest::mouseClick(child<QPushButton>(*w, "cmdSet"), Qt::LeftButton);
    // THEN the SetDelayRequest arrives, nothing else follows (no auto clear), and Set is pending
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 2; }));
    EXPECT_EQ(element.received.last(), hex("53 00 03 D0 90 01"));
    EXPECT_FALSE(timer(*w, "Timer1")->isActive());
    EXPECT_TRUE(w->pendingSave());
    EXPECT_TRUE(boxes.shown.isEmpty()); // no confirmation

    // WHEN the operator moves the bar away and refreshes THEN the element's record brings it back
    bar(*w)->setValue(10);
    element.record.autoServoValue = 40;
    refreshAndWait(*w);
    EXPECT_EQ(bar(*w)->value(), 2500);
    EXPECT_TRUE(box(*w, "chkAutoServo")->isChecked());
    EXPECT_EQ(box(*w, "chkAutoServo")->text(), "Auto servo (40 nS)");
    EXPECT_EQ(element.count(kRstStats), 0);
}

TEST_F(AdjustWindowTest, AutomaticClearLeavesOnceAQuarterSecondAfterSet)
{
    settings.values["AutoClearCounters"] = "1";
    auto w = openAndApply();
    QElapsedTimer sinceSet;
    QTest::mouseClick(child<QPushButton>(*w, "cmdSet"), Qt::LeftButton);
    sinceSet.start();
    ASSERT_TRUE(timer(*w, "Timer1")->isActive());
    ASSERT_TRUE(waitUntil([&] { return element.count(kRstStats) == 1; }));
    const qint64 elapsed = sinceSet.elapsed();
    EXPECT_GE(elapsed, 200); // a coarse timer may fire a few percent early
    EXPECT_LT(elapsed, 2000);
    EXPECT_EQ(element.received.mid(1),
              QList<QByteArray>({buildSetDelayRequest(0, false), kRstStats})); // Set first, then the clear
    EXPECT_FALSE(timer(*w, "Timer1")->isActive());
    // No second clear follows.
    EXPECT_FALSE(waitUntil([&] { return element.count(kRstStats) > 1; }, 700));
}

TEST_F(AdjustWindowTest, ClearAsksAndSendsOnlyAfterYes)
{
    auto w = openAndApply();
    auto* clear = child<QPushButton>(*w, "cmdResetStats");
    boxes.answers << MsgAnswer::No;
    QTest::mouseClick(clear, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown.first().caption, "Reset counters");
    EXPECT_EQ(boxes.shown.first().text, "You will reset all counters to zero.\rAre you sure?");
    EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Question);
    EXPECT_EQ(boxes.shown.first().buttons, MsgButtons::YesNo);
    EXPECT_EQ(boxes.shown.first().defaultButton, MsgAnswer::No);
    refreshAndWait(*w);
    EXPECT_EQ(element.received, QList<QByteArray>({kGetDel, kGetDel}));

    boxes.answers << MsgAnswer::Yes;
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return element.count(kRstStats) == 1; }));
}

TEST_F(AdjustWindowTest, AutoRefreshAsksEverySecond)
{
    auto w = openAndApply();
    startAutoRefresh(*w);
    // A record equal to what the window shows leaves auto refresh running.
    ASSERT_TRUE(waitUntil([&] { return element.count(kGetDel) == 3; }, 3500));
    EXPECT_TRUE(box(*w, "chkAutoUpdate")->isChecked());
    clickCheckBox(box(*w, "chkAutoUpdate"));
    EXPECT_FALSE(timer(*w, "Timer2")->isActive());
}

TEST_F(AdjustWindowTest, EveryAdjustmentSwitchesAutoRefreshOff)
{
    auto w = openAndApply();
    startAutoRefresh(*w);
    clickAddLine(bar(*w));
    expectAutoRefreshOff(*w, "scroll");

    startAutoRefresh(*w);
    clickCheckBox(box(*w, "chkAutoServo"));
    expectAutoRefreshOff(*w, "servo");

    startAutoRefresh(*w);
    clickCheckBox(box(*w, "chkAutoClear"));
    expectAutoRefreshOff(*w, "auto clear");
    EXPECT_EQ(settings.values["AutoClearCounters"], "1");
    clickCheckBox(box(*w, "chkAutoClear"));
    EXPECT_EQ(settings.values["AutoClearCounters"], "0");

    startAutoRefresh(*w);
    QTest::mouseClick(child<QPushButton>(*w, "cmdSet"), Qt::LeftButton);
    expectAutoRefreshOff(*w, "set");

    startAutoRefresh(*w);
    boxes.answers << MsgAnswer::No;
    QTest::mouseClick(child<QPushButton>(*w, "cmdResetStats"), Qt::LeftButton);
    expectAutoRefreshOff(*w, "clear");
}

TEST_F(AdjustWindowTest, RecordThatChangesTheControlsSwitchesAutoRefreshOff)
{
    auto w = openAndApply();
    startAutoRefresh(*w);
    element.record.additionalDelay = 5000;
    ASSERT_TRUE(waitUntil([&] { return bar(*w)->value() == 50; }, 3000));
    expectAutoRefreshOff(*w, "record delay");

    startAutoRefresh(*w);
    element.record.autoServo = 1;
    ASSERT_TRUE(waitUntil([&] { return box(*w, "chkAutoServo")->isChecked(); }, 3000));
    expectAutoRefreshOff(*w, "record servo");
}

TEST_F(AdjustWindowTest, ClosingAfterSetStoresThePositionAtClosingAndReminds)
{
    auto w = openAndApply();
    bar(*w)->setValue(2500);
    QTest::mouseClick(child<QPushButton>(*w, "cmdSet"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 2; }));
    bar(*w)->setValue(1234);
    clickCheckBox(box(*w, "chkAutoServo"));
    w->close();
    EXPECT_EQ(storedKey("dly"), "1234");
    EXPECT_EQ(storedKey("srv"), "1");
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown.first().text, kUnsaved);
    EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Information);
    EXPECT_EQ(boxes.shown.first().buttons, MsgButtons::Ok);
    EXPECT_FALSE(w->pendingSave());
    EXPECT_FALSE(w->isVisible());
}

TEST_F(AdjustWindowTest, ClosingWithoutSetWritesNothing)
{
    auto w = openAndApply();
    bar(*w)->setValue(2500);
    clickCheckBox(box(*w, "chkAutoServo"));
    const QByteArray before = readFile(storePath());
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(readFile(storePath()), before);
    EXPECT_EQ(storedKey("dly"), "<absent>");
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(AdjustWindowTest, OccupiedPortEndsTheProgram)
{
    QUdpSocket occupant;
    ASSERT_TRUE(occupant.bind(QHostAddress(QStringLiteral("127.0.0.1")), kMeasurePort));
    AdjustWindow w(context());
    EXPECT_FALSE(w.openLink());
    EXPECT_EQ(boxes.texts(), QStringList({kOccupied}));
    EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Critical);
    EXPECT_EQ(end.codes, QList<int>({1}));
    EXPECT_EQ(element.count(kGetDel), 0);
}

TEST_F(AdjustWindowTest, FirstRequestThatCannotLeaveEndsTheProgram)
{
    setKey("ip", "not an address");
    AdjustWindow w(context());
    EXPECT_FALSE(w.openLink());
    EXPECT_EQ(boxes.texts(), QStringList({kOccupied}));
    EXPECT_EQ(end.codes, QList<int>({1}));
}

TEST_F(AdjustWindowTest, LaterRequestThatCannotLeaveIsReportedAndStopsAutoRefresh)
{
    auto w = openAndApply();
    startAutoRefresh(*w);
    setKey("ip", "");
    // The next tick cannot send: one message, auto refresh off, the window stays.
    ASSERT_TRUE(waitUntil([&] { return boxes.shown.size() == 1; }, 3000));
    EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Critical);
    EXPECT_EQ(boxes.shown.first().text,
              "Cannot send the request to the element.\rNo IP address is stored for this element.");
    expectAutoRefreshOff(*w, "send failure");
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(end.codes.isEmpty());

    // A Set that cannot leave is not pending and arms no clear.
    boxes.clear();
    clickCheckBox(box(*w, "chkAutoClear"));
    QTest::mouseClick(child<QPushButton>(*w, "cmdSet"), Qt::LeftButton);
    EXPECT_EQ(boxes.shown.size(), 1);
    EXPECT_FALSE(w->pendingSave());
    EXPECT_FALSE(timer(*w, "Timer1")->isActive());
}

TEST_F(AdjustWindowTest, WidestValuesAreNeverClipped)
{
    element.record.propagationDelayAverage = -2147483647;
    element.record.propagationDelayMinimum = -2147483647;
    element.record.propagationDelayMaximum = -2147483647;
    element.record.autoServo = 1;
    element.record.autoServoValue = -1;
    auto w = openAndApply();
    element.record.additionalDelay = 0;
    element.record.autoServoValue = -2147483648;
    element.record.propagationDelayAverage = 0;
    element.record.propagationDelayMinimum = 0;
    element.record.propagationDelayMaximum = 0;
    ASSERT_EQ(text(*w, "lblCurrentDelayAVG"), "-2147 mS, 483 uS, 648 nS");
    const QString widestSum = text(*w, "lblDelaySumAVG");
    refreshAndWait(*w);
    EXPECT_EQ(box(*w, "chkAutoServo")->text(), "Auto servo (-2147483648 nS)");
    EXPECT_TRUE(boxes.shown.isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    for (QWidget* widget : w->findChildren<QWidget*>()) {
        if (qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget)) {
            EXPECT_GE(widget->width(), widget->sizeHint().width()) << widget->objectName().toStdString();
        }
    }
    // The latency labels keep the room of the widest text they had.
    auto* sum = child<QLabel>(*w, "lblDelaySumAVG");
    EXPECT_GE(sum->width(), sum->fontMetrics().horizontalAdvance(widestSum));
}

TEST_F(AdjustWindowTest, StoreThatCannotBeWrittenAtClosingIsReported)
{
    auto w = openAndApply();
    bar(*w)->setValue(2500);
    QTest::mouseClick(child<QPushButton>(*w, "cmdSet"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 2; }));
    // GIVEN the store file has become something that cannot be replaced (a folder)
    ASSERT_TRUE(QFile::rename(storePath(), storePath() + ".moved"));
    ASSERT_TRUE(QDir().mkdir(storePath()));
    w->close();
    // THEN the failure is reported before the reminder, and the window closes all the same
    EXPECT_EQ(
        boxes.texts(),
        QStringList(
            {"Cannot save this element info.\rThe delay and auto servo setting were not stored.", kUnsaved}));
    EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Critical);
    EXPECT_FALSE(w->isVisible());
}
