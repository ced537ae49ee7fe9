// The SFN overview's core against two stand-in decoders on loopback: which elements it polls,
// how a round ends and what it reports, a decoder that falls silent, and the history it keeps.
#include "../measure/MeasureFixture.h"

#include "core/SfnOverview.h"
#include "core/Station.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTimer>
#include <QUdpSocket>

using namespace vexo;

TEST(SfnHistory, KeepsTheNewestOfEachDecoderAndWritesThemAsCsv)
{
    // GIVEN rings of three samples for two decoders, five samples given to the first
    SfnHistory h(3);
    h.resize(2);
    for (qint32 t = 1; t <= 5; ++t)
        h.add(0, {t * 1000, t * 100, t * 90, t * 110});
    h.add(1, {7000, -500, -600, -400});
    h.add(2, {8000, 1, 1, 1}); // no such decoder
    h.add(-1, {8000, 1, 1, 1});
    for (qint64 t = 1; t <= 4; ++t)
        h.addSpread(t * 1000, t * 7);
    // THEN each keeps its three newest, oldest first (the ring has wrapped)
    auto times = [&](int d) {
        QList<qint64> list;
        for (const SfnSample& s : h.samples(d))
            list << s.timeMs;
        return list;
    };
    EXPECT_EQ(times(0), (QList<qint64>{3000, 4000, 5000}));
    EXPECT_EQ(times(1), QList<qint64>{7000});
    EXPECT_TRUE(times(2).isEmpty());
    EXPECT_EQ(h.last(0)->averageNs, 500);
    EXPECT_EQ(h.last(1)->minimumNs, -600);
    EXPECT_FALSE(h.last(2).has_value());
    EXPECT_FALSE(h.last(-1).has_value());
    EXPECT_EQ(h.spread(), (QList<std::pair<qint64, qint64>>{{2000, 14}, {3000, 21}, {4000, 28}}));

    // AND the CSV gives each point with its summaries (+ 265 + 395,833), a name with a comma or a
    // quote quoted
    SfnDecoderStatus a, b;
    a.mac = "00:50:C2:00:00:01", a.name = "A, B";
    b.mac = "00:50:C2:00:00:02", b.name = "C \"2\"";
    QBuffer csv;
    csv.open(QIODevice::WriteOnly);
    ASSERT_TRUE(h.writeCsv(csv, {a, b}));
    EXPECT_EQ(
        csv.data(),
        "time,mac,name,network_latency_avg_ns,network_latency_min_ns,network_latency_max_ns,"
        "latency_summary_avg_ns,latency_summary_min_ns,latency_summary_max_ns\r\n"
        "1970-01-01T00:00:03.000Z,00:50:C2:00:00:01,\"A, B\",300,270,330,396398,396368,396428\r\n"
        "1970-01-01T00:00:04.000Z,00:50:C2:00:00:01,\"A, B\",400,360,440,396498,396458,396538\r\n"
        "1970-01-01T00:00:05.000Z,00:50:C2:00:00:01,\"A, B\",500,450,550,396598,396548,396648\r\n"
        "1970-01-01T00:00:07.000Z,00:50:C2:00:00:02,\"C \"\"2\"\"\",-500,-600,-400,395598,395498,395698\r\n");

    // WHEN it shrinks to one decoder, THEN the first keeps its points; clear() empties everything
    h.resize(1);
    EXPECT_EQ(h.decoderCount(), 1);
    EXPECT_EQ(times(0).size(), 3);
    h.clear();
    EXPECT_TRUE(times(0).isEmpty());
    EXPECT_TRUE(h.spread().isEmpty());
}

TEST(SfnSlots, GivesEachSlotAsOnePointOnceTheSlotIsOver)
{
    // GIVEN slots of 10 s; a step adds a sample, or without one only asks whether its time ends the slot
    struct Step
    {
        qint64 timeMs;
        std::optional<SfnSlotPoint> sample, point;
    };
    auto p = [](qint64 t, qint64 average, qint64 minimum, qint64 maximum) {
        return std::optional<SfnSlotPoint>({t, average, minimum, maximum});
    };
    const Step steps[] = {
        {1000, p(1000, 100, 90, 110), {}},
        {4000, p(4000, 201, 80, 120), {}},
        {9999, p(9999, 300, 95, 400), {}},
        {9999, {}, {}},                                    // still the first slot
        {10000, p(10000, 7, 7, 7), p(9999, 200, 80, 400)}, // 601 / 3 = 200.33
        {15000, p(15000, 8, 6, 9), {}},
        {19999, {}, {}},
        {20000, {}, p(15000, 8, 6, 9)}, // 7.5 rounds up; the slot ends without a sample of the next
        {20000, {}, {}},
        {25000, p(25000, -100, -100, -100), {}},
        {26000, p(26000, -101, -101, -101), {}},
        {41000, p(41000, 1, 1, 1), p(26000, -101, -101, -100)}, // -100.5 rounds away from zero
        {2000, p(2000, 2, 2, 2), p(41000, 1, 1, 1)},            // a clock set back ends the slot too
    };
    SfnSlots tenSeconds(10000);
    for (const Step& s : steps)
        EXPECT_EQ(s.sample ? tenSeconds.add(*s.sample) : tenSeconds.close(s.timeMs), s.point) << s.timeMs;
    // AND without slots each sample is a point as soon as it is taken
    SfnSlots each(0);
    EXPECT_EQ(each.add({5, 1, 1, 1}), std::nullopt);
    EXPECT_EQ(each.close(5), p(5, 1, 1, 1));
    EXPECT_EQ(each.close(5), std::nullopt);
}

namespace {

struct SfnOverviewTest : TwoSfnDecoders
{
    void SetUp() override
    {
        TwoSfnDecoders::SetUp();
        // Not polled: an encoder with sfn 1, a decoder with sfn 0, and an SFN decoder whose
        // section has more lines than the station ever writes (not to be used).
        for (const auto& [mac, role, sfn] : {std::tuple{"00:50:C2:00:00:10", "1", "1"},
                                             {"00:50:C2:00:00:11", "2", "0"},
                                             {"00:50:C2:00:00:12", "2", "1"}}) {
            ASSERT_TRUE(store.write(mac, "ip", "127.0.0.4"));
            ASSERT_TRUE(store.write(mac, "role", role));
            ASSERT_TRUE(store.write(mac, "sfn", sfn));
        }
        for (int extra = 0; extra < kCorruptedSectionLines - 3; ++extra)
            ASSERT_TRUE(store.write("00:50:C2:00:00:12", QString("x%1").arg(extra), "1"));
        overview.setClock([this] { return now; });
        QObject::connect(&overview, &SfnOverview::decoderChanged,
                         [this](int i) { events << QString("changed %1").arg(i); });
        QObject::connect(&overview, &SfnOverview::spreadRecorded, [this](qint64 t, qint64 v) {
            events << QString("spread %1 %2").arg(t - start.toMSecsSinceEpoch()).arg(v);
        });
        QObject::connect(&overview, &SfnOverview::roundFinished, [this] { events << "round"; });
    }
    // One round; the answer time of whoever is silent ends once the others answered.
    void round(int answering)
    {
        const int rounds = int(events.count("round"));
        overview.pollNow();
        ASSERT_TRUE(waitUntil(
            [&] { return overview.pending().size() <= int(overview.decoders().size()) - answering; }));
        for (MeasureExchange* x : overview.pending())
            QMetaObject::invokeMethod(x->timer(), "timeout");
        ASSERT_TRUE(waitUntil([&] { return events.count("round") > rounds; }));
    }

    FakeArp arp;
    FakeIcmp icmp;
    Station station{StationServices{boxes, settings, end, arp, icmp, path, QHostAddress::LocalHost}};
    SfnOverview overview{station};
    const QDateTime start = QDateTime(QDate(2026, 12, 7), QTime(14, 2, 7), Qt::UTC);
    QDateTime now = start;
    QStringList events;
};

using State = SfnDecoderStatus::State;

} // namespace

TEST_F(SfnOverviewTest, ARoundReportsEachDecoderThenItsSpreadAndASilentDecoderKeepsItsValues)
{
    // WHEN the store is read, THEN only the decoders in SFN mode count, in store order
    overview.reload();
    ASSERT_EQ(overview.decoders().size(), 2);
    EXPECT_EQ(overview.decoders()[0].mac, kMac);
    EXPECT_EQ(overview.decoders()[1].name, "STUDIO B");
    EXPECT_EQ(overview.decoders()[1].ip, "127.0.0.3");

    // WHEN both answer a round
    round(2);
    // THEN each is reported, then the spread of the summaries: (1,000,000 + 5,000 - 1,200) - 800,000
    QStringList changed = events.mid(0, 2);
    changed.sort(); // the two records may come in either order
    EXPECT_EQ(changed, (QStringList{"changed 0", "changed 1"}));
    EXPECT_EQ(events.mid(2), (QStringList{"spread 0 203800", "round"}));
    const SfnDecoderStatus& a = overview.decoders()[0];
    EXPECT_EQ(a.state, State::Answering);
    EXPECT_EQ(a.readingTime, start);
    EXPECT_EQ(sfnStateText(a), "answering");
    EXPECT_EQ(sfnServoText(*a.reading), "on (-1200 nS)");
    const SfnSample s = *overview.history().last(0);
    EXPECT_EQ(std::tuple(s.timeMs, s.averageNs, s.minimumNs, s.maximumNs),
              std::tuple(start.toMSecsSinceEpoch(), 1003800, 993800, 1013800));
    EXPECT_EQ(overview.history().spread().value(0).second, 203800);
    // AND the plan starts from the record's own field, its delay and its servo
    const QList<SfnDecoderReading> r = overview.planReadings();
    EXPECT_TRUE(r[0].answered && r[1].answered);
    EXPECT_EQ(
        std::tuple(r[0].networkAverageNs, r[0].additionalDelayNs, r[0].autoServo, r[0].servoCorrectionNs),
        std::tuple(1000000, 5000, true, -1200));
    EXPECT_EQ(std::tuple(r[1].networkAverageNs, r[1].autoServo, r[1].servoCorrectionNs),
              std::tuple(800000, false, 0));

    // WHEN B falls silent for two rounds
    second.answer = false;
    events.clear();
    now = start.addSecs(1);
    round(1);
    now = start.addSecs(2);
    round(1);
    // THEN it is silent since the first of them, keeps its values, and leaves the plan
    const SfnDecoderStatus& b = overview.decoders()[1];
    EXPECT_EQ(b.state, State::NoAnswer);
    EXPECT_EQ(b.noAnswerSince, start.addSecs(1));
    EXPECT_EQ(b.updated, start.addSecs(2));
    EXPECT_EQ(b.readingTime, start);
    EXPECT_EQ(b.reading->average->networkNs, 800000);
    EXPECT_EQ(sfnStateText(b), "no answer since " + start.addSecs(1).toLocalTime().toString("HH:mm:ss"));
    EXPECT_EQ(sfnStateName(b.state), "no_answer");
    EXPECT_FALSE(overview.planReadings()[1].answered);
    EXPECT_EQ(overview.history().samples(1).size(), 1);
    // AND the spread counts only who answered
    EXPECT_EQ(events.filter("spread"), (QStringList{"spread 1000 0", "spread 2000 0"}));

    // WHEN a round starts while B's request of the last one is still on its way
    overview.pollNow();
    ASSERT_TRUE(waitUntil([&] { return overview.pending().size() == 1; }));
    element.received.clear(), second.received.clear();
    events.clear();
    overview.pollNow();
    // THEN that round ends there, and the new one asks only A
    EXPECT_EQ(events.value(0), "spread 2000 0");
    EXPECT_EQ(events.value(1), "round");
    ASSERT_TRUE(waitUntil([&] { return element.received.size() == 1; }));
    EXPECT_TRUE(second.received.isEmpty());
    // WHEN A falls silent too and a round ends before anyone answered in it
    ASSERT_TRUE(waitUntil([&] { return overview.pending().size() == 1; }));
    element.answer = false;
    overview.pollNow();
    events.clear();
    overview.pollNow();
    // THEN no spread is recorded again: nothing new was measured (both still on their way)
    EXPECT_EQ(events, (QStringList{"round", "round"}));
    element.answer = true;

    // WHEN B answers again and A's stored sfn stops being a number
    for (MeasureExchange* x : overview.pending())
        QMetaObject::invokeMethod(x->timer(), "timeout");
    ASSERT_TRUE(waitUntil([&] { return !overview.isPolling(); }));
    second.answer = true;
    setKey("sfn", "x");
    round(2);
    // THEN B is answering again and A's record is refused, its values kept
    EXPECT_EQ(overview.decoders()[1].state, State::Answering);
    EXPECT_FALSE(overview.decoders()[1].noAnswerSince.isValid());
    EXPECT_EQ(overview.decoders()[0].state, State::Refused);
    EXPECT_EQ(sfnStateText(overview.decoders()[0]), "record refused");
    EXPECT_EQ(overview.decoders()[0].reading->additionalDelayNs, 5000);
    EXPECT_FALSE(overview.planReadings()[0].answered);

    // WHEN the store is read again, THEN the decoders keep what they had
    setKey("sfn", "1");
    overview.reload();
    EXPECT_EQ(overview.history().samples(0).size(), 5);
    EXPECT_EQ(overview.history().samples(1).size(), 2);
    EXPECT_EQ(overview.decoders()[1].state, State::Answering);

    // WHEN another program holds port 2978, THEN the round ends at once, both decoders silent
    QUdpSocket occupant;
    ASSERT_TRUE(occupant.bind(QHostAddress::LocalHost, 2978));
    events.clear();
    overview.pollNow();
    EXPECT_EQ(events, (QStringList{"changed 0", "changed 1", "round"}));
    EXPECT_EQ(overview.decoders()[1].state, State::NoAnswer);
}

TEST_F(SfnOverviewTest, TheIntervalStaysWithinOneToSixtySeconds)
{
    EXPECT_EQ(overview.timer()->interval(), 1000); // once a second until told otherwise
    const std::pair<int, int> cases[] = {{0, 1}, {1, 1}, {7, 7}, {60, 60}, {61, 60}};
    for (const auto& [given, kept] : cases) {
        overview.setIntervalSeconds(given);
        EXPECT_EQ(overview.intervalSeconds(), kept) << given;
        EXPECT_EQ(overview.timer()->interval(), kept * 1000);
    }
    // AND start() polls at once, then by the timer; stop() ends the timer
    overview.reload();
    overview.start();
    EXPECT_TRUE(overview.isRunning());
    EXPECT_EQ(overview.pending().size(), 2);
    ASSERT_TRUE(waitUntil([&] { return overview.pending().isEmpty(); }));
    // AND every interval polls both decoders again
    QMetaObject::invokeMethod(overview.timer(), "timeout");
    EXPECT_EQ(overview.pending().size(), 2);
    overview.stop();
    EXPECT_FALSE(overview.isRunning());
}

TEST_F(SfnOverviewTest, AnAlignmentSendsItsPlanOnceAndAnEmptyOneEndsAtOnce)
{
    // GIVEN a plan for A alone (the target is below B's base)
    SfnDecoderReading a{kMac, true, 1000000, 5000, true, -1200}, b{kMacB, true, 1100000, 0, false, 0};
    SfnAlignment alignment(station, planSfnAlignment({a, b}, 1394900));
    ASSERT_EQ(alignment.rows().size(), 1);
    // WHEN it is started twice, THEN A gets one SetDelayRequest and one "GetDel"
    alignment.start();
    alignment.start();
    ASSERT_TRUE(waitUntil([&] { return alignment.isFinished(); }));
    EXPECT_EQ(element.received, (QList<QByteArray>{QByteArray::fromHex("530000000001"), "GetDel"}));
    EXPECT_TRUE(second.received.isEmpty());
    // AND a plan without a decoder to set ends at once, with nothing to write
    SfnAlignment none(station, planSfnAlignment({b}, 1394900));
    QSignalSpy finished(&none, &SfnAlignment::finished);
    none.start();
    EXPECT_EQ(finished.size(), 1);
    EXPECT_TRUE(none.isFinished() && none.storeWritten());
}
