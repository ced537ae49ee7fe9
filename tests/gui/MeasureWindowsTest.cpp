// The wiring of the two measurement windows to their sessions: what a session reports shows in
// the window, and the operator's controls reach the session.
#include "../measure/MeasureFixture.h"

#include "gui/AdjustWindow.h"
#include "gui/StatisticsWindow.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>

using namespace vexo;

using MeasureWindowsTest = MeasureFixture;

TEST_F(MeasureWindowsTest, StatisticsWindowShowsItsSessionAndHandsOnItsButtons)
{
    element.record.ptpSyncLatency = -5;
    StatisticsWindow w(services(), boxes, fatal);
    ASSERT_TRUE(w.openLink());
    w.show();
    EXPECT_EQ(child<QGroupBox>(w, "frmStats")->title(), "STUDIO A:");
    ASSERT_TRUE(waitUntil([&] { return child<QLabel>(w, "lblPTPLatency")->text() == "-5 nS"; }));
    boxes.answers << MsgAnswer::Yes;
    for (const char* button : {"cmdRefreshStats", "cmdResetStats"})
        child<QPushButton>(w, button)->click();
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 3; }));
    EXPECT_EQ(element.received, QList<QByteArray>({"GetStats", "GetStats", "RstStats"}));
    EXPECT_EQ(boxes.texts(), QStringList{"You will reset all counters to zero.\rAre you sure?"});
    EXPECT_EQ(boxes.shown.value(0).caption, "Reset counters");
    // No: nothing leaves. A refused record shows the rows before its failure, then Error 5.
    boxes.clear(), boxes.answers << MsgAnswer::No;
    child<QPushButton>(w, "cmdResetStats")->click();
    element.sendToStation(buildMeasurementRecord({INT32_MAX, 3, 1}));
    ASSERT_TRUE(waitUntil([&] { return boxes.shown.size() == 2; }));
    EXPECT_EQ(child<QLabel>(w, "lblMACRxOK")->text(), "3");
    EXPECT_EQ(child<QLabel>(w, "lblMACTxErr")->text(), "0 (0%)"); // from the earlier record
    EXPECT_EQ(boxes.texts().value(1),
              "Error 5 while retrieving values. Please reset the device and try again.");
    // A request that cannot leave is shown with its cause.
    setKey("ip", "");
    child<QPushButton>(w, "cmdRefreshStats")->click();
    EXPECT_EQ(boxes.texts().value(2),
              "Cannot send the request to the element.\rNo IP address is stored for this element.");
    EXPECT_EQ(element.received.size(), 3);
    w.close();
    EXPECT_FALSE(w.session().isOpen());
}

TEST_F(MeasureWindowsTest, APortHeldByAnotherProgramEndsTheProgramWithEachWindowsText)
{
    QUdpSocket occupant;
    ASSERT_TRUE(occupant.bind(QHostAddress::LocalHost, 2978));
    StatisticsWindow statistics(services(), boxes, fatal);
    EXPECT_FALSE(statistics.openLink());
    FatalError ending(boxes, end); // the first window's error has already ended the program
    AdjustWindow adjust(services(), boxes, ending);
    EXPECT_FALSE(adjust.openLink());
    EXPECT_EQ(boxes.texts(), QStringList({"Error 2: Unable to use UDP port 2978: occupied.",
                                          "Unable to use UDP port 2978: occupied."}));
    EXPECT_EQ(end.codes, QList<int>({1, 1}));
}

TEST_F(MeasureWindowsTest, AdjustWindowFollowsItsSessionBothWays)
{
    setKey("dly", "2500");
    settings.values["AutoClearCounters"] = "1";
    element.answer = false;
    AdjustWindow w(services(), boxes, fatal);
    AdjustSession& s = w.session();
    ASSERT_TRUE(w.openLink());
    w.show();
    auto* bar = child<QScrollBar>(w, "scrlAdditionalDelay");
    auto* servo = child<QCheckBox>(w, "chkAutoServo");
    auto* autoUpdate = child<QCheckBox>(w, "chkAutoUpdate");
    auto* autoClear = child<QCheckBox>(w, "chkAutoClear");
    EXPECT_TRUE(bar->value() == 2500 && autoClear->isChecked());
    // The controls reach the session, and what the session switches off shows.
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(s.delayPosition(), 2501);
    EXPECT_EQ(child<QLabel>(w, "lblAdditionalDelay")->text(), "250 uS, 100 nS");
    autoUpdate->click();
    servo->click();
    EXPECT_TRUE(s.autoServo() && !autoUpdate->isChecked());
    autoClear->click();
    EXPECT_FALSE(s.autoClear());
    // A record moves the controls and fills the latency labels.
    element.sendToStation(buildMeasurementRecord({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1000, 0, 0, 350, -1200, 1}));
    ASSERT_TRUE(waitUntil([&] { return bar->value() == 4; }));
    EXPECT_EQ(child<QLabel>(w, "lblCurrentDelayAVG")->text(), "150 nS");
    EXPECT_EQ(child<QLabel>(w, "lblDelaySumAVG")->text(), "396 uS, 248 nS");
    EXPECT_EQ(servo->text(), "Auto servo (-1200 nS)");
    // Set, Refresh and Clear (answered No) reach the session; closing stores.
    for (const char* button : {"cmdSet", "cmdRefresh", "cmdResetStats"})
        child<QPushButton>(w, button)->click();
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 3; }));
    EXPECT_EQ(element.received, QList<QByteArray>({"GetDel", hex("53 00 00 01 90 01"), "GetDel"}));
    EXPECT_EQ(boxes.texts().size(), 1); // Clear's question
    // Closing after a Set stores and reminds; a refused record shows Error 4.
    element.sendToStation(buildMeasurementRecord({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, INT32_MAX, 0, 0, 350, 0, 0}));
    ASSERT_TRUE(waitUntil([&] { return boxes.shown.size() == 2; }));
    EXPECT_EQ(boxes.texts().value(1),
              "Error 4 while retrieving values. Please reset the device and try again.");
    w.close();
    EXPECT_TRUE(storedKey("dly") == "4" && !s.isOpen());
    EXPECT_EQ(boxes.texts().value(2),
              "There are unsaved parameters. Don't forget to click the 'Save' button.");
}
