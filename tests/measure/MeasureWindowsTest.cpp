// The two measurement windows: they show what their session reports and hand the operator's
// clicks and scrolls to it.
#include "MeasureFixture.h"

#include "gui/AdjustWindow.h"
#include "gui/StatisticsWindow.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionSlider>
#include <QTest>

#include <algorithm>

using namespace vexo;

class MeasureWindowsTest : public MeasureFixture
{
protected:
    template <typename T> static T* child(QObject& window, const char* name)
    {
        T* c = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    static QString text(QObject& window, const char* label) { return child<QLabel>(window, label)->text(); }
    static void click(QObject& window, const char* button)
    {
        QTest::mouseClick(child<QPushButton>(window, button), Qt::LeftButton);
    }
    // Where the operator clicks: on the check box's indicator, on the scroll bar's right arrow.
    static void clickCheckBox(QCheckBox* box)
    {
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect r = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, r.center());
    }
    static void clickAddLine(QScrollBar* scroll)
    {
        QStyleOptionSlider option;
        option.initFrom(scroll);
        option.orientation = scroll->orientation();
        option.minimum = scroll->minimum();
        option.maximum = scroll->maximum();
        option.sliderPosition = scroll->sliderPosition();
        option.sliderValue = scroll->value();
        option.pageStep = scroll->pageStep();
        option.subControls = QStyle::SC_All;
        const QRect r = scroll->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                        QStyle::SC_ScrollBarAddLine, scroll);
        QTest::mouseClick(scroll, Qt::LeftButton, Qt::NoModifier, r.center());
    }
    // Once the window has grown to its new size (the platform resizes it asynchronously), every
    // label and button has the room its text needs.
    static void expectNothingClipped(QWidget& window)
    {
        QList<QWidget*> texts;
        for (QWidget* w : window.findChildren<QWidget*>()) {
            if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w))
                texts << w;
        }
        auto fits = [](QWidget* w) { return w->width() >= w->sizeHint().width(); };
        waitUntil([&] { return std::all_of(texts.begin(), texts.end(), fits); });
        for (QWidget* w : texts)
            EXPECT_TRUE(fits(w)) << w->objectName().toStdString() << " " << w->width() << " < "
                                 << w->sizeHint().width();
    }
};

TEST_F(MeasureWindowsTest, CaptionsInTheirOrder)
{
    StatisticsWindow stats(services());
    AdjustWindow adjust(services());
    EXPECT_EQ(stats.objectName(), "frmStatistics");
    EXPECT_EQ(stats.windowTitle(), "Statistics");
    EXPECT_EQ(child<QGroupBox>(stats, "frmStats")->title(), "[DEVICE]");
    EXPECT_EQ(adjust.objectName(), "frmAdjust");
    EXPECT_EQ(adjust.windowTitle(), "SFN Adjustment");
    EXPECT_TRUE(stats.isModal() && adjust.isModal());
    const std::pair<QWidget*, QStringList> rows[] = {
        {&stats,
         {"Good TX Frames:", "Bad TX Frames:", "Good RX Frames:", "Bad RX Frames:", "OK Audio Frames:",
          "Bad Audio Frames:", "Good PTP Sync:", "Bad PTP Sync:", "Clock Difference:", "Measured delay:"}},
        {&adjust,
         {"Network latency (MIN):", "Network latency (MAX):", "Network latency (AVG):",
          "MAC interface latency:", "Audio interface latency:", "Latency summary (MIN):",
          "Latency summary (MAX):", "Latency summary (AVG):", "Latency compensation:"}},
    };
    for (const auto& [window, captions] : rows) {
        window->show();
        int lastY = -1;
        for (int i = 0; i < captions.size(); ++i) {
            auto* caption =
                child<QLabel>(*window, QStringLiteral("Label%1").arg(i + 1).toLatin1().constData());
            EXPECT_EQ(caption->text(), captions[i]);
            EXPECT_GT(caption->mapTo(window, QPoint()).y(), lastY) << captions[i].toStdString();
            lastY = caption->mapTo(window, QPoint()).y();
        }
    }
    const std::tuple<QWidget*, const char*, const char*, const char*> controls[] = {
        {&stats, "cmdResetStats", "&Clear", "Reset counters to zero"},
        {&stats, "cmdRefreshStats", "&Refresh", "Fetch counters"},
        {&adjust, "cmdResetStats", "&Clear", "Reset counters to zero"},
        {&adjust, "chkAutoUpdate", "&Auto", "Auto refresh (every 1 sec)"},
        {&adjust, "cmdRefresh", "&Refresh", ""},
        {&adjust, "chkAutoServo", "Auto &delay compensation", "Enables auto compansation of Network latency"},
        {&adjust, "cmdSet", "&Set", ""},
        {&adjust, "chkAutoClear", "Auto clea&r counters", "Clear counters after each 'Set' command"},
    };
    for (const auto& [window, name, caption, tip] : controls) {
        auto* control = child<QAbstractButton>(*window, name);
        EXPECT_EQ(control->text(), caption);
        EXPECT_EQ(control->toolTip(), tip);
    }
    auto* bar = child<QScrollBar>(adjust, "scrlAdditionalDelay");
    EXPECT_EQ(bar->maximum(), 25000);
    EXPECT_EQ(bar->pageStep(), 100);
}

TEST_F(MeasureWindowsTest, StatisticsWindowShowsRecordsAndHandsOnItsButtons)
{
    // GIVEN counts at the ends of the 32-bit range (negative counts give huge ratios)
    auto& r = element.record;
    r.txFramesOk = 2147483647, r.txFramesErr = -2147483648, r.rxFramesOk = -2147483647, r.rxFramesErr = -1;
    r.ptpSyncOk = r.ptpSyncErr = r.ptpSyncValue = r.ptpSyncLatency = r.rxAudioFramesOk = -2147483648;
    r.rxAudioFramesErr = 2147483647;
    StatisticsWindow w(services());
    ASSERT_TRUE(w.openLink());
    w.show();
    EXPECT_EQ(child<QGroupBox>(w, "frmStats")->title(), "STUDIO A:");
    ASSERT_TRUE(waitUntil([&] { return text(w, "lblMACTxOK") == "2147483647"; }));
    EXPECT_EQ(text(w, "lblMACTxErr"), "-2147483648 (214748364800%)");
    EXPECT_EQ(text(w, "lblPTPLatency"), "-2147483648 nS");
    expectNothingClipped(w);

    click(w, "cmdRefreshStats");
    boxes.answers << MsgAnswer::Yes;
    click(w, "cmdResetStats");
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 3; }));
    EXPECT_EQ(element.received, QList<QByteArray>({kGetStats, kGetStats, kRstStats}));
    w.close();
    EXPECT_FALSE(w.session().isOpen());
}

TEST_F(MeasureWindowsTest, AdjustWindowFollowsItsSessionBothWays)
{
    setKey("dly", "2500");
    setKey("srv", "1");
    settings.values["AutoClearCounters"] = "1";
    element.answer = false;
    AdjustWindow w(services());
    AdjustSession& s = w.session();
    auto* bar = child<QScrollBar>(w, "scrlAdditionalDelay");
    auto* servo = child<QCheckBox>(w, "chkAutoServo");
    auto* autoUpdate = child<QCheckBox>(w, "chkAutoUpdate");
    ASSERT_TRUE(w.openLink());
    w.show();
    // THEN the stored settings are shown
    EXPECT_EQ(bar->value(), 2500);
    EXPECT_EQ(text(w, "lblAdditionalDelay"), "250 uS, 0 nS");
    EXPECT_TRUE(servo->isChecked());
    EXPECT_TRUE(child<QCheckBox>(w, "chkAutoClear")->isChecked());
    EXPECT_EQ(text(w, "lblCurrentDelayAVG"), "-");

    // WHEN the operator scrolls and checks THEN the session takes it, and what it switches off shows
    clickAddLine(bar);
    EXPECT_EQ(s.delayPosition(), 2501);
    EXPECT_EQ(text(w, "lblAdditionalDelay"), "250 uS, 100 nS");
    clickCheckBox(autoUpdate);
    EXPECT_TRUE(s.autoRefresh());
    clickCheckBox(servo);
    EXPECT_FALSE(s.autoServo());
    EXPECT_FALSE(autoUpdate->isChecked());
    clickCheckBox(child<QCheckBox>(w, "chkAutoClear"));
    EXPECT_FALSE(s.autoClear());

    // WHEN records with the widest values arrive THEN the controls follow and every text fits
    MeasurementValues v;
    v.propagationDelayAverage = v.propagationDelayMinimum = v.propagationDelayMaximum = -2147483647;
    v.autoServo = 1;
    v.autoServoValue = -1;
    element.sendToStation(buildMeasurementRecord(v));
    ASSERT_TRUE(waitUntil([&] { return text(w, "lblCurrentDelayAVG") != "-"; }));
    EXPECT_EQ(text(w, "lblCurrentDelayAVG"), "-2147 mS, 483 uS, 648 nS");
    EXPECT_EQ(text(w, "lblFixedLatencyAUDIO"), "395 uS, 833 nS");
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(text(w, "lblAdditionalDelay"), "0 nS");
    EXPECT_TRUE(servo->isChecked());
    const QString widestSum = text(w, "lblDelaySumAVG");
    v = MeasurementValues{};
    v.autoServo = 1;
    v.autoServoValue = -2147483648;
    element.sendToStation(buildMeasurementRecord(v));
    ASSERT_TRUE(waitUntil([&] { return servo->text() == "Auto servo (-2147483648 nS)"; }));
    expectNothingClipped(w);
    auto* sum = child<QLabel>(w, "lblDelaySumAVG"); // keeps the room of the widest text it had
    EXPECT_GE(sum->width(), sum->fontMetrics().horizontalAdvance(widestSum));

    // WHEN the operator clicks Set, Refresh and Clear (No) THEN the session sends; closing stores
    bar->setValue(2500);
    click(w, "cmdSet");
    click(w, "cmdRefresh");
    boxes.answers << MsgAnswer::No;
    click(w, "cmdResetStats");
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 3; }));
    EXPECT_EQ(element.received, QList<QByteArray>({kGetDel, hex("53 00 03 D0 90 01"), kGetDel}));
    w.close();
    EXPECT_EQ(storedKey("dly"), "2500");
    EXPECT_EQ(boxes.texts().last(), "There are unsaved parameters. Don't forget to click the 'Save' button.");
    EXPECT_FALSE(s.isOpen());
}
