// Both measurement windows against the element simulator in a namespace lab: the element's own
// counters and latencies, its answer to a Set, and its counter resets.
#include "Fakes.h"
#include "Lab.h"
#include "TestUtil.h"
#include "gui/AdjustWindow.h"
#include "gui/StatisticsWindow.h"
#include "platform/FatalError.h"
#include "platform/UserSettings.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"
#include "store/SelectedElement.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

#define SKIP_WITHOUT_LAB()                                                                                   \
    if (const QString reason = Lab::unavailableReason(); !reason.isEmpty())                                  \
    GTEST_SKIP() << reason.toStdString()

class MeasureLab : public ::testing::Test
{
protected:
    // One SFN decoder; the store holds it as discovery would have written it.
    bool startLab()
    {
        QString error;
        if (!lab.up(0, 1, 1, &error)) {
            ADD_FAILURE() << error.toStdString();
            return false;
        }
        element = lab.elements().first();
        const QString section = encodeMac(element.mac);
        for (const auto& [key, value] : {std::pair{"name", element.name},
                                         {"ip", element.ip},
                                         {"role", QStringLiteral("2")},
                                         {"sfn", QStringLiteral("1")}})
            writeToIni(section, QString::fromLatin1(key), value, store.path());
        return true;
    }
    MeasureServices services()
    {
        selected.select(element.mac);
        selected.setRoleCaption(QStringLiteral("DECODER"));
        return MeasureServices{store, selected, boxes, settings, fatal};
    }
    static QString text(QWidget& w, const char* label)
    {
        return w.findChild<QLabel*>(QString::fromLatin1(label))->text();
    }

    Lab lab;
    Lab::Element element;
    QTemporaryDir dir;
    ElementStore store{dir.filePath(QStringLiteral("nms.ini"))};
    SelectedElement selected{store};
    FakeMessageBoxes boxes;
    FakeSettings settings;
    FakeProgramEnd end;
    FatalError fatal{boxes, end};
};

} // namespace

TEST_F(MeasureLab, StatisticsShowTheElementsCountersAndResetThem)
{
    SKIP_WITHOUT_LAB();
    ASSERT_TRUE(startLab());
    StatisticsWindow w(services());
    ASSERT_TRUE(w.openLink());
    w.show();
    EXPECT_EQ(w.findChild<QGroupBox*>(QStringLiteral("frmStats"))->title(), element.name + ":");
    // The decoder's record fills every row, the SFN rows included.
    ASSERT_TRUE(waitUntil([&] { return text(w, "lblPTPLatency") != "-"; }));
    EXPECT_TRUE(text(w, "lblPTPLatency").endsWith(" nS"));
    EXPECT_TRUE(text(w, "lblMACRxErr").endsWith("%)"));
    EXPECT_NE(text(w, "lblAudioRxFramesOK"), "-");

    boxes.answers << MsgAnswer::Yes;
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("cmdResetStats")), Qt::LeftButton);
    EXPECT_TRUE(
        lab.waitForState(0, [](const QJsonObject& s) { return s.value("stats-resets").toInt() == 1; }));
    EXPECT_TRUE(boxes.texts() == QStringList({"You will reset all counters to zero.\rAre you sure?"}));
    w.close();
}

TEST_F(MeasureLab, SetReachesTheElementWhichReportsTheNewDelay)
{
    SKIP_WITHOUT_LAB();
    ASSERT_TRUE(startLab());
    settings.values["AutoClearCounters"] = "1";
    AdjustWindow w(services());
    ASSERT_TRUE(w.openLink());
    w.show();
    ASSERT_TRUE(waitUntil([&] { return text(w, "lblDelaySumMAX") != "-"; }));
    auto* bar = w.findChild<QScrollBar*>(QStringLiteral("scrlAdditionalDelay"));
    EXPECT_EQ(bar->value(), 0);

    // WHEN the operator sets 250 us with the auto servo on
    bar->setValue(2500);
    w.findChild<QCheckBox*>(QStringLiteral("chkAutoServo"))->setChecked(true);
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("cmdSet")), Qt::LeftButton);
    // THEN the element takes it on, and its counters are cleared once shortly after
    EXPECT_TRUE(lab.waitForState(0, [](const QJsonObject& s) {
        return s.value("additional-delay-ns").toInt() == 250000 && s.value("auto-servo").toBool();
    }));
    EXPECT_TRUE(
        lab.waitForState(0, [](const QJsonObject& s) { return s.value("stats-resets").toInt() == 1; }));

    // WHEN the bar is moved away and the window refreshes THEN the element's record brings it back
    bar->setValue(10);
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("cmdRefresh")), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return bar->value() == 2500; }));
    EXPECT_TRUE(w.findChild<QCheckBox*>(QStringLiteral("chkAutoServo"))->text().startsWith("Auto servo ("));
    EXPECT_TRUE(boxes.shown.isEmpty());

    w.close();
    EXPECT_EQ(readFromIni(encodeMac(element.mac), "dly", store.path()), "2500");
    EXPECT_EQ(readFromIni(encodeMac(element.mac), "srv", store.path()), "1");
    EXPECT_EQ(lab.stateObject(0).value("stats-resets").toInt(), 1);
}
