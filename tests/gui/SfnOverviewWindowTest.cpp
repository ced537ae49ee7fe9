// The SFN overview's wiring: what its poll and its alignment report shows in the tables, and
// its controls reach them.
#include "../measure/MeasureFixture.h"

#include "core/Station.h"
#include "gui/SfnOverviewWindow.h"

#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>

using namespace vexo;

struct SfnOverviewWindowTest : MeasureFixture
{
    void SetUp() override
    {
        MeasureFixture::SetUp();
        setKey("role", "2");
    }
    QString cell(const char* table, int row, int column)
    {
        const QTableWidgetItem* item = w.findChild<QTableWidget*>(table)->item(row, column);
        return item ? item->text() : QString();
    }
    FakeArp arp;
    FakeIcmp icmp;
    Station station{StationServices{boxes, settings, end, arp, icmp, path, QHostAddress::LocalHost}};
    SfnOverviewWindow w{station, boxes};
};

TEST_F(SfnOverviewWindowTest, ShowsThePollAndAppliesThePlanOnYes)
{
    // GIVEN a decoder with a 1 ms path, 5 us of delay and the servo on at -1200 ns
    element.record.propagationDelayAverage = 1000000;
    element.record.additionalDelay = 5000, element.record.autoServo = 1,
    element.record.autoServoValue = -1200;
    // WHEN the window opens
    w.show();
    ASSERT_TRUE(waitUntil([&] { return cell("tblDecoders", 0, 11) == "answering"; }));
    // THEN the row sums as the SFN window does: 1,000,000 + 5,000 - 1,200 + 396,098
    EXPECT_EQ(cell("tblDecoders", 0, 8), "1 mS, 399 uS, 898 nS");
    EXPECT_EQ(cell("tblDecoders", 0, 7), "on (-1200 nS)");
    // AND the plan takes the 5 us away to reach 1,394,900
    ASSERT_TRUE(waitUntil([&] { return cell("tblPlan", 0, 3) == "0 nS"; }));
    EXPECT_EQ(w.findChild<QSpinBox*>("spnTarget")->value(), 1394900);

    // WHEN the operator applies and says Yes
    boxes.answers << MsgAnswer::Yes;
    element.received.clear();
    w.findChild<QPushButton*>("cmdApply")->click();
    ASSERT_TRUE(waitUntil([&] { return cell("tblPlan", 0, 6) == "confirmed"; }));
    // THEN the box listed the change, the delay left with the servo flag, and the store has it
    EXPECT_TRUE(boxes.texts().value(0).contains("STUDIO A: 5 uS, 0 nS -> 0 nS"));
    EXPECT_EQ(element.received.value(0), QByteArray::fromHex("530000000001"));
    EXPECT_EQ(storedKey("dly") + storedKey("srv"), "01");

    // AND the next poll shows the decoder at its new delay
    w.overview().pollNow();
    ASSERT_TRUE(waitUntil([&] { return cell("tblDecoders", 0, 8) == "1 mS, 394 uS, 898 nS"; }));

    // WHEN the decoder falls silent, THEN its last values stay, greyed, with the time they date from
    element.answer = false;
    w.overview().stop();
    ASSERT_TRUE(waitUntil([&] { return !w.overview().isPolling(); }));
    // (a record already on its way when it fell silent may still answer one poll: poll again)
    ASSERT_TRUE(waitUntil([&] {
        if (w.overview().pending().isEmpty())
            w.overview().pollNow();
        for (MeasureExchange* x : w.overview().pending())
            QMetaObject::invokeMethod(x->timer(), "timeout");
        return cell("tblDecoders", 0, 11).startsWith("no answer since ");
    }));
    const QTableWidgetItem* summary = w.findChild<QTableWidget*>("tblDecoders")->item(0, 8);
    EXPECT_EQ(summary->text(), "1 mS, 394 uS, 898 nS");
    EXPECT_EQ(summary->foreground().color(), QColor(Qt::gray));
    // AND the interval control reaches the poll
    w.findChild<QSpinBox*>("spnInterval")->setValue(7);
    EXPECT_EQ(w.overview().intervalSeconds(), 7);
}
