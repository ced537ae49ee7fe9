// The SFN overview's wiring: what its poll and its alignment report shows in the tables, and
// its controls reach them.
#include "../measure/MeasureFixture.h"

#include "core/Station.h"
#include "gui/SfnChart.h"
#include "gui/SfnOverviewWindow.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QToolTip>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

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
    // Every value of the row is shown in full: its column grew to the text.
    void expectInFull(const char* table, int row)
    {
        const QTableWidget* t = w.findChild<QTableWidget*>(table);
        for (int column = 0; column < t->columnCount(); ++column)
            EXPECT_GE(t->columnWidth(column), t->fontMetrics().horizontalAdvance(cell(table, row, column)))
                << table << " " << column;
    }
    FakeArp arp;
    FakeIcmp icmp;
    Station station{StationServices{boxes, settings, end, arp, icmp, path, QHostAddress::LocalHost}};
    SfnOverviewWindow w{station, boxes};
};

TEST(SlidingExtreme, FollowsTheWindowAsPointsComeAndGo)
{
    // x, y pushed in time order; after each push the points before `from` go
    struct Step
    {
        double x, y, from;
        std::optional<double> lowest, highest;
    };
    const Step steps[] = {
        {1, 5, 0, 5, 5},   {2, 3, 0, 3, 5},
        {3, 4, 0, 3, 5},   {4, 3, 3, 3, 4}, // 1 and 2 gone, the point at `from` stays: the highest is 3's 4
        {5, 9, 3, 3, 9},                    // the later 3 is still there
        {6, 6, 4.5, 6, 9}, {7, 7, 6.5, 7, 7},
    };
    SlidingExtreme low(false), high(true);
    for (const Step& s : steps) {
        low.push(s.x, s.y), high.push(s.x, s.y);
        low.dropBefore(s.from), high.dropBefore(s.from);
        EXPECT_EQ(low.value(), s.lowest) << s.x;
        EXPECT_EQ(high.value(), s.highest) << s.x;
    }
    low.dropBefore(100);
    EXPECT_FALSE(low.value().has_value());
}

TEST(SfnChart, DrawsTheBandOfTheChosenDecoderOnlyAndTheSpreadInSlotsWhenThereAreMany)
{
    // GIVEN 21 decoders (more than get a band each, and enough for slots of 1051 ms): their lines and the
    // spread
    QList<SfnDecoderStatus> many(21);
    SfnHistory history;
    history.resize(21);
    SfnChart chart;
    chart.setDecoders(many, history);
    // WHEN decoders are chosen, or the decoders are read again, THEN one band at the most is added
    const std::pair<std::function<void()>, qsizetype> steps[] = {
        {[] {}, 22},
        {[&] { chart.setBandDecoder(3); }, 23},
        {[&] { chart.setBandDecoder(4); }, 23},
        {[&] { chart.setDecoders(many, history); }, 22},
        {[&] { chart.setBandDecoder(4); }, 23}, // the same row as before the new read
        {[&] { chart.setBandDecoder(-1); }, 22},
        {[&] { chart.setBandDecoder(0); }, 23},
        {[&] { chart.setBandDecoder(1); }, 23},
        {[&] { chart.setBandDecoder(21); }, 22}, // no such decoder
    };
    for (const auto& [step, series] : steps) {
        step();
        EXPECT_EQ(chart.chart()->series().size(), series);
    }
    // (while eight decoders each keep their own band, whatever row is chosen, and a colour each)
    SfnChart eight;
    eight.setDecoders(QList<SfnDecoderStatus>(8), history);
    eight.setBandDecoder(3), eight.setBandDecoder(4);
    EXPECT_EQ(eight.chart()->series().size(), 17);
    QSet<QRgb> colours;
    for (QAbstractSeries* series : eight.chart()->series().mid(1))
        if (const auto* line = qobject_cast<QLineSeries*>(series))
            colours.insert(line->pen().color().rgb());
    EXPECT_EQ(colours.size(), 8);
    // AND a spread of a later slot draws the slot before it (in uS)
    chart.addRound({}, std::pair<qint64, qint64>{1000, 5000});
    chart.addRound({}, std::pair<qint64, qint64>{2500, 7000});
    auto* spread = qobject_cast<QXYSeries*>(chart.chart()->series().value(0));
    EXPECT_EQ(spread->points(), QList<QPointF>{QPointF(1000, 5.0)});
    EXPECT_EQ(chart.spreadRange().first, 0.0);
    EXPECT_GT(chart.spreadRange().second, 5.0);
    // AND a round past a slot ends it also for a decoder that fell silent (decoder 3, its line
    // after the spread's), and the time axis starts at the first point more than a minute back
    // (while less than a minute is drawn, the axis spans a minute), and the band of the decoder
    // chosen then shows its minimum and maximum
    chart.addRound({{3, SfnSample{3200, 1000000, 990000, 1010000}}}, std::nullopt);
    const auto* timeAxis = qobject_cast<QDateTimeAxis*>(chart.chart()->axes(Qt::Horizontal).value(0));
    EXPECT_EQ(timeAxis->min().msecsTo(timeAxis->max()), 60000);
    // (the time axis is read as times of the day, to the second)
    EXPECT_EQ(QStringList({timeAxis->titleText(), timeAxis->format()}), QStringList({"Time", "HH:mm:ss"}));
    chart.addRound({{4, SfnSample{100000, 1000000, 990000, 1010000}}}, std::nullopt);
    auto* line = qobject_cast<QXYSeries*>(chart.chart()->series().value(4));
    EXPECT_EQ(line->points(), QList<QPointF>{QPointF(3200, 1396.098)});
    EXPECT_EQ(timeAxis->min(), QDateTime::fromMSecsSinceEpoch(3200));
    // (a line is read on the latency axis at the left, the spread on its own at the right)
    const QList<QAbstractAxis*> axes = chart.chart()->axes(Qt::Vertical);
    ASSERT_EQ(axes.size(), 2);
    // (labelled to a tenth and a hundredth of a microsecond)
    const std::tuple<QAbstractAxis*, const char*, const char*, Qt::Alignment, QXYSeries*> vertical[] = {
        {axes[0], "Latency summary (uS)", "%.1f", Qt::AlignLeft, line},
        {axes[1], "Spread (uS)", "%.2f", Qt::AlignRight, spread}};
    for (const auto& [axis, title, labels, side, series] : vertical) {
        EXPECT_EQ(axis->titleText(), title);
        EXPECT_EQ(qobject_cast<QValueAxis*>(axis)->labelFormat(), labels) << title;
        EXPECT_EQ(axis->alignment(), side);
        EXPECT_TRUE(series->attachedAxes().contains(axis)) << title;
    }
    chart.setBandDecoder(3);
    const auto* band = qobject_cast<QAreaSeries*>(chart.chart()->series().last());
    EXPECT_EQ(band->lowerSeries()->points(), QList<QPointF>{QPointF(3200, 1386.098)});
    EXPECT_EQ(band->upperSeries()->points(), QList<QPointF>{QPointF(3200, 1406.098)});
    // AND hovering a line or the spread shows its exact value
    emit line->hovered(QPointF(3200, 1396.098), true);
    EXPECT_TRUE(QToolTip::text().endsWith(": 1 mS, 396 uS, 98 nS")) << QToolTip::text().toStdString();
    emit spread->hovered(QPointF(1000, 5.0), true);
    EXPECT_TRUE(QToolTip::text().startsWith("Spread ") && QToolTip::text().endsWith(": 5 uS, 0 nS"));
    // AND a record of a decoder no longer shown changes nothing; 15 minutes on, a silent line and
    // its band are empty, and the latency axis fits what is left (1396.098 uS in 1 uS steps)
    chart.addRound({{21, SfnSample{200000, 1, 1, 1}}}, std::nullopt);
    EXPECT_EQ(timeAxis->max(), QDateTime::fromMSecsSinceEpoch(100000));
    for (qint64 t : {1100000, 1102000})
        chart.addRound({{4, SfnSample{t, 1000000, 1000000, 1000000}}}, std::nullopt);
    EXPECT_EQ(line->count() + band->lowerSeries()->count() + band->upperSeries()->count(), 0);
    EXPECT_EQ(chart.latencyRange(), (std::pair<double, double>(1395, 1398)));
    EXPECT_LT(chart.spreadRange().second, 5.0); // nor does the spread axis keep the old spreads
    // AND a band no longer drawn takes its bounds with it
    const QPointer<QLineSeries> bounds[] = {band->lowerSeries(), band->upperSeries()};
    chart.setBandDecoder(-1);
    EXPECT_TRUE(bounds[0].isNull() && bounds[1].isNull());
    // AND read again without its slowest decoder, the latency axis no longer reaches that one
    SfnHistory two;
    two.resize(2);
    two.add(0, {2000000, 1000000, 1000000, 1000000});
    two.add(1, {2000000, 2000000, 2000000, 2000000});
    chart.setDecoders(QList<SfnDecoderStatus>(2), two);
    EXPECT_EQ(chart.latencyRange(), (std::pair<double, double>(1200, 2500))); // in 100 uS steps
    EXPECT_EQ(timeAxis->max(), QDateTime::fromMSecsSinceEpoch(2000000));
    two.resize(1);
    chart.setDecoders(QList<SfnDecoderStatus>(1), two);
    EXPECT_LT(chart.latencyRange().second, 2396.098);
    // (and the chart holds the spread and that one decoder's line and band)
    EXPECT_EQ(chart.chart()->series().size(), 3);
}

TEST(SfnChart, ASlotIsTheWindowOverEachDecodersShareOfTheBudgetRoundedUp)
{
    // 18,000 points over 15 minutes: up to 20 decoders polled every second need no slots
    const std::pair<int, qint64> cases[] = {
        {0, 0},       {1, 0},          {20, 0},        {21, 1051},
        {200, 10000}, {18000, 900000}, {18001, 899999}}; // a share of no point: one slot
    for (const auto& [decoders, ms] : cases)
        EXPECT_EQ(SfnChart::slotMs(decoders), ms) << decoders;
}

TEST(SfnChart, KeepsItsLinesWithinThePointBudget)
{
    // GIVEN 21 decoders polled every second for 15 minutes: 18,900 records
    SfnHistory history;
    history.resize(21);
    SfnChart chart;
    chart.setDecoders(QList<SfnDecoderStatus>(21), history);
    for (qint64 t = 1000; t <= SfnChart::kWindowMs; t += 1000) {
        QList<std::pair<int, SfnSample>> round;
        for (int d = 0; d < 21; ++d) {
            round.append({d, SfnSample{t, 1000000 + d, 1000000, 1000000 + d}});
            history.add(d, round.last().second);
        }
        chart.addRound(round, std::pair<qint64, qint64>{t, 20});
    }
    // THEN the decoders' lines (after the spread's) hold no more points together than the budget,
    // yet nearly all of it
    auto points = [&] {
        qsizetype n = 0;
        for (QAbstractSeries* series : chart.chart()->series().mid(1))
            n += qobject_cast<QXYSeries*>(series)->count();
        return n;
    };
    const qsizetype drawn = points();
    EXPECT_LE(drawn, SfnChart::kPointBudget);
    EXPECT_GT(drawn, SfnChart::kPointBudget * 9 / 10);
    // AND drawn again from the history (the window reopened), the lines are the same
    chart.setDecoders(QList<SfnDecoderStatus>(21), history);
    EXPECT_EQ(points(), drawn);
}

TEST_F(SfnOverviewWindowTest, ShowsThePollAndAppliesThePlanOnYes)
{
    // GIVEN a decoder with a 1 ms path (990 to 1010 us), 5 us of delay and the servo on at -1200 ns
    element.record.propagationDelayAverage = 1000000;
    element.record.propagationDelayMinimum = 990000, element.record.propagationDelayMaximum = 1010000;
    element.record.additionalDelay = 5000, element.record.autoServo = 1,
    element.record.autoServoValue = -1200;
    // WHEN the window opens (there is nothing to apply before a decoder has answered)
    auto* apply = w.findChild<QPushButton*>("cmdApply");
    EXPECT_FALSE(apply->isEnabled());
    w.show();
    ASSERT_TRUE(waitUntil([&] { return cell("tblDecoders", 0, 11) == "answering"; }));
    // THEN the row sums as the SFN window does: network 1,000,000 + 5,000 - 1,200, summary + 396,098
    const char* row[] = {"STUDIO A",
                         "00:50:C2:A1:B2:C3",
                         "127.0.0.2",
                         "1 mS, 3 uS, 800 nS",
                         "993 uS, 800 nS",
                         "1 mS, 13 uS, 800 nS",
                         "5 uS, 0 nS",
                         "on (-1200 nS)",
                         "1 mS, 399 uS, 898 nS",
                         "1 mS, 389 uS, 898 nS",
                         "1 mS, 409 uS, 898 nS"};
    for (int column = 0; column < 11; ++column)
        EXPECT_EQ(cell("tblDecoders", 0, column), row[column]) << column;
    expectInFull("tblDecoders", 0);
    EXPECT_NE(w.findChild<QTableWidget*>("tblDecoders")->item(0, 8)->foreground().color(), QColor(Qt::gray));
    // AND the chart took the round in: its band runs from the minimum to the maximum summary (uS)
    // inside the latency axis, the spread line has the round's spread (0 with one decoder) and the
    // time axis reaches it
    SfnChart* chart = w.findChild<SfnChart*>("chtLatency");
    const auto* band = qobject_cast<QAreaSeries*>(chart->chart()->series().value(1));
    ASSERT_TRUE(band);
    EXPECT_DOUBLE_EQ(band->lowerSeries()->points().value(0).y(), 1389.898);
    EXPECT_DOUBLE_EQ(band->upperSeries()->points().value(0).y(), 1409.898);
    const auto [low, high] = chart->latencyRange();
    EXPECT_LT(low, 1389.898);
    EXPECT_GT(high, 1409.898);
    QStringList legend; // the band has no entry of its own
    for (const QLegendMarker* marker : chart->chart()->legend()->markers())
        if (marker->isVisible())
            legend << marker->label();
    EXPECT_EQ(legend, (QStringList{"Spread", "STUDIO A"}));
    const auto* spread = qobject_cast<QXYSeries*>(chart->chart()->series().value(0));
    ASSERT_EQ(spread->count(), 1);
    EXPECT_EQ(spread->at(0).y(), 0.0);
    EXPECT_EQ(qobject_cast<QDateTimeAxis*>(chart->chart()->axes(Qt::Horizontal).value(0))->max(),
              QDateTime::fromMSecsSinceEpoch(qint64(spread->at(0).x())));
    // AND the plan takes the 5 us away to reach 1,394,900, in the SFN window's time text
    ASSERT_TRUE(waitUntil([&] { return cell("tblPlan", 0, 3) == "0 nS"; }));
    EXPECT_EQ(w.findChild<QSpinBox*>("spnTarget")->value(), 1394900);
    EXPECT_EQ(cell("tblPlan", 0, 4), "-5 uS, 0 nS");
    EXPECT_EQ(cell("tblPlan", 0, 5), "1 mS, 394 uS, 898 nS");
    EXPECT_EQ(QStringList({cell("tblPlan", 0, 0), cell("tblPlan", 0, 1), cell("tblPlan", 0, 2)}),
              QStringList({"STUDIO A", "00:50:C2:A1:B2:C3", "5 uS, 0 nS"}));
    expectInFull("tblPlan", 0);

    // WHEN the operator applies and says Yes
    boxes.answers << MsgAnswer::Yes;
    element.received.clear();
    apply->click();
    ASSERT_TRUE(waitUntil([&] { return cell("tblPlan", 0, 6) == "confirmed"; }));
    // THEN the box listed the change, the delay left with the servo flag, and the store has it
    EXPECT_TRUE(boxes.texts().value(0).contains("STUDIO A: 5 uS, 0 nS -> 0 nS"));
    EXPECT_EQ(element.received.value(0), QByteArray::fromHex("530000000001"));
    EXPECT_EQ(storedKey("dly") + storedKey("srv"), "01");
    EXPECT_NE(w.findChild<QTableWidget*>("tblPlan")->item(0, 6)->foreground().color(), QColor(Qt::gray));
    EXPECT_EQ(w.findChild<QLabel*>("lblApply")->text(), "1 of 1 confirmed");
    EXPECT_TRUE(w.overview().isRunning()); // polling again

    // AND the next poll shows the decoder at its new delay
    w.overview().pollNow();
    ASSERT_TRUE(waitUntil([&] { return cell("tblDecoders", 0, 8) == "1 mS, 394 uS, 898 nS"; }));
    EXPECT_EQ(cell("tblPlan", 0, 6), "confirmed");    // how it ended stays in view
    EXPECT_LT(chart->latencyRange().first, 1384.898); // the new minimum summary, the top unchanged
    // AND its line has each round's record once
    const QXYSeries* line = nullptr;
    for (QAbstractSeries* series : chart->chart()->series())
        if (series->name() == "STUDIO A")
            line = qobject_cast<QXYSeries*>(series);
    ASSERT_GE(line->count(), 2);
    // (and the spread each round's value once)
    auto eachRecordOnce = [line, spread] {
        for (const QXYSeries* series : {line, spread})
            for (int k = 1; k < series->count(); ++k)
                EXPECT_LT(series->at(k - 1).x(), series->at(k).x()) << series->name().toStdString();
    };
    eachRecordOnce();

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
    EXPECT_NE(w.findChild<QTableWidget*>("tblDecoders")->item(0, 0)->foreground().color(), QColor(Qt::gray));
    eachRecordOnce(); // neither its last record nor the last spread is drawn again when silent
    // AND the interval control reaches the poll
    w.findChild<QSpinBox*>("spnInterval")->setValue(7);
    EXPECT_EQ(w.overview().intervalSeconds(), 7);
    // AND "Export CSV..." writes the history where the operator chose (nowhere when cancelled),
    // and says why it could not
    auto exportTo = [&](const QString& file) {
        w.setExportPathChooser([file] { return file; });
        w.findChild<QPushButton*>("cmdExportCsv")->click();
    };
    exportTo("");
    exportTo(dir.filePath("history.csv"));
    EXPECT_EQ(boxes.texts().size(), 1);
    EXPECT_TRUE(
        readFile(dir.filePath("history.csv"))
            .contains(",00:50:C2:A1:B2:C3,STUDIO A,1003800,993800,1013800,1399898,1389898,1409898\r\n"));
    exportTo(path + "/history.csv"); // the store is a file, not a folder
    EXPECT_TRUE(boxes.texts().value(1).startsWith("Cannot export the history."))
        << boxes.texts().join('|').toStdString();
    // AND closing the window ends the polling
    w.overview().start();
    w.close();
    EXPECT_FALSE(w.overview().isRunning());
}

TEST_F(SfnOverviewWindowTest, DrawsTheBandOfTheDecoderChosenInTheTableWhenThereAreMany)
{
    // GIVEN nine SFN decoders (eight more that do not answer): too many for a band each
    for (int i = 1; i <= 8; ++i)
        for (const auto& [key, value] : {std::pair{"ip", "127.0.0.9"}, {"role", "2"}, {"sfn", "1"}})
            ASSERT_TRUE(store.write(QString("00:50:C2:00:00:0%1").arg(i), key, value));
    w.show();
    const QChart* chart = w.findChild<SfnChart*>("chtLatency")->chart();
    EXPECT_EQ(chart->series().size(), 10); // the spread and nine lines
    // WHEN a row is chosen, THEN its band is drawn, also after the store is read again
    QTableWidget* decoders = w.findChild<QTableWidget*>("tblDecoders");
    decoders->setCurrentCell(2, 3);
    EXPECT_EQ(chart->series().size(), 11);
    EXPECT_TRUE(decoders->selectionModel()->isRowSelected(2)); // the decoder, not one value
    setKey("name", "STUDIO Z");
    w.overview().reload();
    EXPECT_EQ(chart->series().size(), 11);
    // (the rows of both tables are the store's at once)
    EXPECT_EQ(cell("tblDecoders", 0, 0), "STUDIO Z");
    EXPECT_EQ(cell("tblPlan", 0, 0), "STUDIO Z");
}

TEST_F(SfnOverviewWindowTest, ShowsHowEachAlignmentEndedAndSendsNothingOnNo)
{
    // GIVEN a decoder answering with 5 us of delay
    element.record.propagationDelayAverage = 1000000, element.record.additionalDelay = 5000;
    w.show();
    ASSERT_TRUE(waitUntil([&] { return cell("tblPlan", 0, 6) == "planned"; }));
    EXPECT_NE(w.findChild<QTableWidget*>("tblPlan")->item(0, 6)->foreground().color(), QColor(Qt::gray));
    auto* apply = w.findChild<QPushButton*>("cmdApply");
    // AND the window's controls, tables and chart lie side by side, none over another
    QList<QRect> parts;
    for (const QWidget* parent : {static_cast<QWidget*>(&w), static_cast<QWidget*>(w.findChild<QSplitter*>()),
                                  w.findChild<QWidget*>("frmAlignment")})
        for (const QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (child->isVisible() && !qobject_cast<const QSplitter*>(child) &&
                child->objectName() != "frmAlignment")
                parts << QRect(child->mapTo(&w, QPoint()), child->size());
    EXPECT_GE(parts.size(), 10);
    for (qsizetype a = 0; a < parts.size(); ++a)
        for (qsizetype b = a + 1; b < parts.size(); ++b)
            EXPECT_FALSE(parts[a].intersects(parts[b])) << a << " " << b;
    // AND a target that needs more than 2.5 ms added (base 1,396,098) leaves nothing to apply
    auto* target = w.findChild<QSpinBox*>("spnTarget");
    target->setValue(1396098 + 2500100);
    EXPECT_EQ(cell("tblPlan", 0, 6), "out of range");
    EXPECT_FALSE(apply->isEnabled());
    target->setValue(target->minimum());
    const QString stored = readFile(path);
    struct Case
    {
        MsgAnswer answer;
        bool takes, answers;
        const char* state;
    };
    const Case cases[] = {
        {MsgAnswer::No, true, true, "planned"},
        {MsgAnswer::Yes, false, true, "mismatch (reports 5 uS, 0 nS)"},
        {MsgAnswer::Yes, true, false, "no answer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        ASSERT_TRUE(waitUntil([&] { return apply->isEnabled() && !w.overview().isPolling(); }));
        // WHEN the operator answers the box and the decoder keeps its delay or falls silent
        boxes.answers << c.answer;
        element.takeDelay = c.takes;
        element.received.clear();
        apply->click();
        // (while it runs: no second Apply, no poll beside it, and the row says it is on its way)
        const bool no = c.answer == MsgAnswer::No;
        EXPECT_EQ(apply->isEnabled(), no);
        EXPECT_EQ(w.overview().isRunning(), no);
        EXPECT_EQ(cell("tblPlan", 0, 6) == "sending" &&
                      w.findChild<QLabel*>("lblApply")->text() == "Applying...",
                  !no);
        element.answer = c.answers;
        if (c.answer == MsgAnswer::No) {
            // THEN on No nothing leaves
            QCoreApplication::processEvents();
            EXPECT_EQ(w.alignment(), nullptr);
            EXPECT_TRUE(element.received.isEmpty());
            continue;
        }
        ASSERT_TRUE(waitUntil([&] {
            for (MeasureExchange* x : w.alignment()->pending())
                if (!c.answers)
                    QMetaObject::invokeMethod(x->timer(), "timeout");
            return w.alignment()->isFinished();
        }));
        // THEN the plan shows how it ended, and nothing reached the store
        EXPECT_EQ(cell("tblPlan", 0, 6), c.state);
        EXPECT_EQ(w.findChild<QLabel*>("lblApply")->text(), "0 of 1 confirmed");
        EXPECT_TRUE(apply->isEnabled()); // at once, also while the decoder stays silent
        EXPECT_EQ(readFile(path), stored);
        element.answer = true;
    }
    // AND when the decoder's path shortens by 1 us, the default target follows it down
    element.record.propagationDelayAverage = 999000;
    for (MeasureExchange* x : w.overview().pending())
        QMetaObject::invokeMethod(x->timer(), "timeout");
    ASSERT_TRUE(waitUntil([&] { return !w.overview().isPolling(); }));
    w.overview().pollNow();
    ASSERT_TRUE(waitUntil([&] { return target->value() == 1395100; })) << target->value();
}
