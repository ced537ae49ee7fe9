// Aligning a single-frequency network: the delay each decoder needs to reach a common total
// latency, worked out by hand.
#include "measure/SfnPlan.h"

#include <gtest/gtest.h>

using namespace vexo;

namespace {

using Status = SfnPlanRow::Status;

SfnDecoderReading decoder(const char* mac, qint32 field, qint32 delay = 0, bool servo = false, qint32 v = 0)
{
    return SfnDecoderReading{mac, true, field, delay, servo, v};
}

} // namespace

TEST(SfnPlan, TheDefaultTargetIsTheHighestAnsweringBaseRoundedUpToAHundred)
{
    struct Case
    {
        QList<SfnDecoderReading> readings;
        std::optional<qint64> target;
    };
    SfnDecoderReading silent = decoder("S", 9000000);
    silent.answered = false;
    const Case cases[] = {
        // 1,000,000 + 396,098 and 1,200,000 - 1,200 (servo on) + 396,098 = 1,594,898
        {{decoder("A", 1000000, 5000), decoder("B", 1200000, 0, true, -1200)}, 1594900},
        // the servo's correction does not count while it is off
        {{decoder("A", 1200000, 0, false, -1200)}, 1596100},
        {{decoder("A", 1000002)}, 1396100},
        {{decoder("A", 999902)}, 1396000}, // already a multiple of 100
        {{decoder("A", -500000)}, -103900},
        {{silent, decoder("A", 1000000)}, 1396100},
        {{silent}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(defaultSfnTargetNs(c.readings), c.target);
}

TEST(SfnPlan, EachDecoderGetsTheStepsToTheTargetRoundedHalfToEven)
{
    // base 1,000,000 + 396,098 = 1,396,098 for every row but the servo one
    struct Case
    {
        const char* what;
        SfnDecoderReading reading;
        qint64 target;
        Status status;
        int position;
        qint64 expected;
    };
    SfnDecoderReading silent = decoder("S", 1000000, 1200);
    silent.answered = false;
    const Case cases[] = {
        {"exact", decoder("A", 1000000, 7000), 1396098 + 198800, Status::Planned, 1988, 1594898},
        {"a little above", decoder("A", 1000000), 1396098 + 198802, Status::Planned, 1988, 1594898},
        {"1.5 steps: up to 2", decoder("A", 1000000), 1396098 + 150, Status::Planned, 2, 1396298},
        {"2.5 steps: down to 2", decoder("A", 1000000), 1396098 + 250, Status::Planned, 2, 1396298},
        {"2.51 steps: 3", decoder("A", 1000000), 1396098 + 251, Status::Planned, 3, 1396398},
        {"target at the base", decoder("A", 1000000), 1396098, Status::Planned, 0, 1396098},
        {"target below the base", decoder("A", 1000000), 1396097, Status::OutOfRange, 0, 0},
        {"25000.5 steps: the last one", decoder("A", 1000000), 1396098 + 2500050, Status::Planned, 25000,
         3896098},
        {"25000.51 steps: beyond 2.5 ms", decoder("A", 1000000), 1396098 + 2500051, Status::OutOfRange, 0, 0},
        {"servo on counts", decoder("A", 1000000, 0, true, 300), 1396098 + 1000, Status::Planned, 7, 1397098},
        {"servo off does not", decoder("A", 1000000, 0, false, 300), 1396098 + 1000, Status::Planned, 10,
         1397098},
        {"silent", silent, 1400000, Status::NoAnswer, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SfnPlan plan = planSfnAlignment({c.reading}, c.target);
        ASSERT_EQ(plan.rows.size(), 1);
        const SfnPlanRow& row = plan.rows[0];
        EXPECT_EQ(plan.targetNs, c.target);
        EXPECT_EQ(row.status, c.status);
        EXPECT_EQ(row.position, c.position);
        EXPECT_EQ(row.plannedDelayNs, c.position * 100);
        EXPECT_EQ(row.expectedSummaryNs, c.expected);
        EXPECT_EQ(row.currentDelayNs, c.reading.additionalDelayNs);
        EXPECT_EQ(row.autoServo, c.reading.autoServo);
        EXPECT_EQ(row.mac, c.reading.mac);
    }
}
