// Record arithmetic of the two measurement windows, without widgets.
#include "measure/MeasureArithmetic.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <limits>

using namespace vexo;

namespace {

constexpr qint32 kMax = std::numeric_limits<qint32>::max();

QStringList labelsOf(const QList<LabelUpdate>& updates)
{
    QStringList names;
    for (const auto& u : updates)
        names << u.label;
    return names;
}

QString textOf(const QList<LabelUpdate>& updates, const QString& label)
{
    for (const auto& u : updates) {
        if (u.label == label)
            return u.text;
    }
    return QStringLiteral("<not updated>");
}

} // namespace

// ---- Statistics --------------------------------------------------------------------------

TEST(statisticsArithmetic, ZeroCountsGiveZeroRatios)
{
    // GIVEN a record of zeros (just after a reset) WHEN applied THEN every error cell reads 0 (0%)
    StatisticsValues kept;
    const auto out = statisticsArithmetic(MeasurementValues{}, "0", "DECODER", kept);
    EXPECT_FALSE(out.failed);
    EXPECT_EQ(textOf(out.updates, "lblMACTxErr"), "0 (0%)");
    EXPECT_EQ(textOf(out.updates, "lblMACRxErr"), "0 (0%)");
    EXPECT_EQ(textOf(out.updates, "lblAudioRxFramesErr"), "0 (0%)");
    EXPECT_EQ(textOf(out.updates, "lblMACTxOK"), "0");
}

TEST(statisticsArithmetic, RatiosHaveAtMostTwoDecimals)
{
    MeasurementValues r;
    r.txFramesOk = 9999;
    r.txFramesErr = 1;
    r.rxFramesOk = 2;
    r.rxFramesErr = 1;
    r.rxAudioFramesOk = 1197;
    r.rxAudioFramesErr = 3;
    StatisticsValues kept;
    const auto out = statisticsArithmetic(r, "0", "ENCODER", kept);
    EXPECT_EQ(textOf(out.updates, "lblMACTxErr"), "1 (0.01%)");
    EXPECT_EQ(textOf(out.updates, "lblMACRxErr"), "1 (33.33%)");
    EXPECT_EQ(textOf(out.updates, "lblAudioRxFramesErr"), "3 (0.25%)");
    EXPECT_EQ(textOf(out.updates, "lblAudioRxFramesOK"), "1197");
    EXPECT_FLOAT_EQ(kept.rxFramesErrRatio, 33.33f);
    EXPECT_FLOAT_EQ(kept.rxAudioFramesErrRatio, 0.25f);
}

TEST(statisticsArithmetic, RatioRoundsHalvesToEven)
{
    EXPECT_FLOAT_EQ(*errorRatio(799, 1), 0.12f); // 0.125
    EXPECT_FLOAT_EQ(*errorRatio(797, 3), 0.38f); // 0.375
    EXPECT_FLOAT_EQ(*errorRatio(1, 2), 66.67f);
    EXPECT_FLOAT_EQ(*errorRatio(0, 5), 100.0f);
    EXPECT_FLOAT_EQ(*errorRatio(1, 1), 50.0f);
    EXPECT_EQ(formatRatio(*errorRatio(0, 5)), "100");
    EXPECT_EQ(formatRatio(*errorRatio(1, 1)), "50");
    EXPECT_EQ(formatRatio(*errorRatio(3, 1)), "25");
    EXPECT_EQ(formatRatio(*errorRatio(1, 2)), "66.67");
    EXPECT_EQ(formatRatio(*errorRatio(799, 1)), "0.12");
    EXPECT_EQ(formatRatio(*errorRatio(1, 0)), "0");
}

TEST(statisticsArithmetic, RatioUsesTheUsersDecimalSeparator)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString text = formatErrorCell(3, *errorRatio(1197, 3));
    QLocale::setDefault(saved);
    EXPECT_EQ(text, "3 (0,25%)");
}

TEST(statisticsArithmetic, RatioSumOutsideThirtyTwoBitsFails)
{
    EXPECT_FALSE(errorRatio(kMax, 1).has_value());
    EXPECT_FALSE(errorRatio(std::numeric_limits<qint32>::min(), -1).has_value());
    EXPECT_TRUE(errorRatio(kMax - 1, 1).has_value());
}

TEST(statisticsArithmetic, ElementNotInSfnModeLeavesThePtpRows)
{
    for (const char* sfn : {"0", "2", " 0 "}) {
        StatisticsValues kept;
        MeasurementValues r;
        r.ptpSyncOk = 5;
        const auto out = statisticsArithmetic(r, sfn, "DECODER", kept);
        EXPECT_FALSE(out.failed) << sfn;
        EXPECT_EQ(labelsOf(out.updates),
                  QStringList({"lblMACTxOK", "lblMACRxOK", "lblMACTxErr", "lblMACRxErr", "lblAudioRxFramesOK",
                               "lblAudioRxFramesErr"}))
            << sfn;
        EXPECT_EQ(kept.ptpSyncOk, 0);
    }
}

TEST(statisticsArithmetic, LargeCountsAreShownExactly)
{
    MeasurementValues r;
    r.txFramesOk = 16777217;
    r.rxFramesOk = kMax;
    StatisticsValues kept;
    const auto out = statisticsArithmetic(r, "0", "DECODER", kept);
    EXPECT_FALSE(out.failed);
    EXPECT_EQ(textOf(out.updates, "lblMACTxOK"), "16777217");
    EXPECT_EQ(textOf(out.updates, "lblMACRxOK"), "2147483647");
}

TEST(statisticsArithmetic, OverflowingTxSumStopsAfterTheFirstTwoRows)
{
    // GIVEN values from an earlier record
    StatisticsValues kept;
    kept.rxAudioFramesOk = 77;
    MeasurementValues r;
    r.txFramesOk = kMax;
    r.txFramesErr = 1;
    r.rxFramesOk = 10;
    r.rxAudioFramesOk = 5;
    // WHEN the TX sum leaves the 32-bit range
    const auto out = statisticsArithmetic(r, "1", "DECODER", kept);
    // THEN the record fails after TX OK and RX OK were shown; later values are untouched
    EXPECT_TRUE(out.failed);
    EXPECT_EQ(labelsOf(out.updates), QStringList({"lblMACTxOK", "lblMACRxOK"}));
    EXPECT_EQ(kept.rxAudioFramesOk, 77);
}

TEST(statisticsArithmetic, OverflowingMeasuredDelayFailsAfterTheClockDifference)
{
    MeasurementValues r;
    r.ptpSyncLatency = kMax;
    r.additionalDelay = 1;
    StatisticsValues kept;
    const auto out = statisticsArithmetic(r, "1", "DECODER", kept);
    EXPECT_TRUE(out.failed);
    EXPECT_EQ(labelsOf(out.updates).last(), "lblPTPClkAdj");
}

TEST(statisticsArithmetic, SfnThatIsNoNumberFails)
{
    for (const char* sfn : {"", "x", "1a"}) {
        StatisticsValues kept;
        const auto out = statisticsArithmetic(MeasurementValues{}, sfn, "DECODER", kept);
        EXPECT_TRUE(out.failed) << sfn;
        EXPECT_EQ(labelsOf(out.updates).last(), "lblMACRxErr") << sfn;
    }
    StatisticsValues kept;
    EXPECT_FALSE(statisticsArithmetic(MeasurementValues{}, "1.0", "DECODER", kept).failed);
    EXPECT_TRUE(textOf(statisticsArithmetic(MeasurementValues{}, "1.0", "DECODER", kept).updates,
                       "lblPTPRxOK") == "0");
}

// ---- SFN adjustment ----------------------------------------------------------------------

TEST(adjustArithmetic, SfnDecoderRecordMovesTheBarAndSumsTheLatencies)
{
    MeasurementValues r;
    r.propagationDelayAverage = 1000000;
    r.additionalDelay = 250000;
    const auto out = adjustArithmetic(r, "1", "DECODER");
    EXPECT_TRUE(out.reachesControls);
    EXPECT_FALSE(out.failed);
    EXPECT_EQ(out.scrollPosition, 2500);
    EXPECT_EQ(formatNanoseconds(out.scrollPosition * kNsPerDelayPosition), "250 uS, 0 nS");
    EXPECT_FALSE(out.servoChecked);
    EXPECT_EQ(out.servoCaption, "Auto servo");
    EXPECT_EQ(textOf(out.latencyUpdates, "lblCurrentDelayAVG"), "1 mS, 250 uS, 0 nS");
    EXPECT_EQ(textOf(out.latencyUpdates, "lblDelaySumAVG"), "1 mS, 646 uS, 98 nS");
    EXPECT_EQ(labelsOf(out.latencyUpdates),
              QStringList({"lblCurrentDelayAVG", "lblDelaySumAVG", "lblCurrentDelayMIN", "lblDelaySumMIN",
                           "lblCurrentDelayMAX", "lblDelaySumMAX"}));
    EXPECT_EQ(out.average, 1250000);
    EXPECT_EQ(out.minimum, 250000);
}

TEST(adjustArithmetic, AdditionalDelayBeyondTheRangeStopsTheBarButNotTheSums)
{
    MeasurementValues r;
    r.additionalDelay = 3000000;
    const auto out = adjustArithmetic(r, "1", "DECODER");
    EXPECT_EQ(out.scrollPosition, 25000);
    EXPECT_DOUBLE_EQ(out.m_additionalDelay, 25000.0);
    EXPECT_EQ(textOf(out.latencyUpdates, "lblCurrentDelayAVG"), "3 mS, 0 uS, 0 nS");

    r.additionalDelay = -500;
    const auto below = adjustArithmetic(r, "1", "DECODER");
    EXPECT_EQ(below.scrollPosition, 0);
    EXPECT_EQ(textOf(below.latencyUpdates, "lblCurrentDelayMIN"), "-500 nS");
}

TEST(adjustArithmetic, ScrollPositionRoundsHalvesToEven)
{
    EXPECT_EQ(delayScrollPosition(clampedDelayPositions(250)), 2);
    EXPECT_EQ(delayScrollPosition(clampedDelayPositions(350)), 4);
    EXPECT_EQ(delayScrollPosition(clampedDelayPositions(351)), 4);
    EXPECT_EQ(delayScrollPosition(clampedDelayPositions(249)), 2);
    EXPECT_EQ(delayScrollPosition(clampedDelayPositions(2499950)), 25000); // 24999.5 -> even above
    EXPECT_EQ(delayScrollPosition(clampedDelayPositions(2499850)), 24998); // 24998.5
    EXPECT_DOUBLE_EQ(clampedDelayPositions(250), 2.5);
}

TEST(adjustArithmetic, ServoOnAddsItsCorrection)
{
    MeasurementValues r;
    r.autoServo = 1;
    r.autoServoValue = -1200;
    r.propagationDelayAverage = 10000;
    r.propagationDelayMinimum = 9000;
    r.propagationDelayMaximum = 12000;
    const auto out = adjustArithmetic(r, "1", "DECODER");
    EXPECT_TRUE(out.servoChecked);
    EXPECT_EQ(out.servoCaption, "Auto servo (-1200 nS)");
    EXPECT_EQ(out.average, 8800);
    EXPECT_EQ(out.minimum, 7800);
    EXPECT_EQ(out.maximum, 10800);
    EXPECT_EQ(textOf(out.latencyUpdates, "lblCurrentDelayAVG"), "8 uS, 800 nS");
}

TEST(adjustArithmetic, ServoFlagOtherThanOneIsOffAndIgnoresTheCorrection)
{
    MeasurementValues r;
    r.autoServo = 2;
    r.autoServoValue = -1200;
    r.propagationDelayAverage = 10000;
    const auto out = adjustArithmetic(r, "1", "DECODER");
    EXPECT_FALSE(out.servoChecked);
    EXPECT_EQ(out.m_autoServo, 2);
    EXPECT_EQ(out.servoCaption, "Auto servo");
    EXPECT_EQ(out.average, 10000);
}

TEST(adjustArithmetic, EncoderOrNonSfnElementReachesNothing)
{
    MeasurementValues r;
    r.additionalDelay = 250000;
    for (const auto& [sfn, role] : {std::pair{"1", "ENCODER"}, {"0", "DECODER"}, {"1", "UNKNOWN"}}) {
        const auto out = adjustArithmetic(r, sfn, role);
        EXPECT_FALSE(out.reachesControls);
        EXPECT_FALSE(out.failed);
        EXPECT_TRUE(out.latencyUpdates.isEmpty());
    }
}

TEST(adjustArithmetic, SfnThatIsNoNumberFails)
{
    EXPECT_TRUE(adjustArithmetic(MeasurementValues{}, "", "DECODER").failed);
    EXPECT_TRUE(adjustArithmetic(MeasurementValues{}, "yes", "DECODER").failed);
    EXPECT_FALSE(adjustArithmetic(MeasurementValues{}, "yes", "DECODER").reachesControls);
}

TEST(adjustArithmetic, NegativeLatency)
{
    MeasurementValues r;
    r.propagationDelayMinimum = -500;
    const auto out = adjustArithmetic(r, "1", "DECODER");
    EXPECT_EQ(textOf(out.latencyUpdates, "lblCurrentDelayMIN"), "-500 nS");
    EXPECT_EQ(textOf(out.latencyUpdates, "lblDelaySumMIN"), "395 uS, 598 nS");
}

TEST(adjustArithmetic, LatencyOutsideThirtyTwoBitsFails)
{
    // GIVEN an average that overflows with the additional delay
    MeasurementValues r;
    r.propagationDelayAverage = kMax;
    r.additionalDelay = 1;
    auto out = adjustArithmetic(r, "1", "DECODER");
    // THEN nothing is shown and the record fails, the controls having been reached
    EXPECT_TRUE(out.failed);
    EXPECT_TRUE(out.reachesControls);
    EXPECT_TRUE(out.latencyUpdates.isEmpty());
    EXPECT_EQ(out.scrollPosition, 0);

    // GIVEN an average whose summary alone overflows
    r = MeasurementValues{};
    r.propagationDelayAverage = kMax - 396098;
    EXPECT_FALSE(adjustArithmetic(r, "1", "DECODER").failed);
    r.propagationDelayAverage = kMax - 396098 + 1;
    out = adjustArithmetic(r, "1", "DECODER");
    EXPECT_TRUE(out.failed);
    EXPECT_EQ(labelsOf(out.latencyUpdates), QStringList({"lblCurrentDelayAVG"}));

    // GIVEN a minimum that overflows after the average was fine
    r = MeasurementValues{};
    r.propagationDelayMinimum = std::numeric_limits<qint32>::min();
    r.autoServo = 1;
    r.autoServoValue = -1;
    out = adjustArithmetic(r, "1", "DECODER");
    EXPECT_TRUE(out.failed);
    EXPECT_EQ(labelsOf(out.latencyUpdates), QStringList({"lblCurrentDelayAVG", "lblDelaySumAVG"}));
}

TEST(adjustArithmetic, SummaryAddsBothFixedLatencies)
{
    EXPECT_EQ(latencySummary(0), 396098);
    EXPECT_EQ(latencySummary(-396098), 0);
    EXPECT_EQ(networkLatency(1, 2, 3), 6);
    EXPECT_FALSE(networkLatency(kMax, 1, 0).has_value());
    EXPECT_EQ(networkLatency(kMax, 1, -1), kMax);
}

TEST(adjustArithmetic, StoredValuesOutOfRangeAreClampedOrDefaulted)
{
    EXPECT_EQ(storedDelayPosition("0"), 0);
    EXPECT_EQ(storedDelayPosition("2500"), 2500);
    EXPECT_EQ(storedDelayPosition(" 12 "), 12);
    EXPECT_EQ(storedDelayPosition("25000"), 25000);
    EXPECT_EQ(storedDelayPosition("30000"), 25000);
    EXPECT_EQ(storedDelayPosition("99999999999"), 25000);
    EXPECT_EQ(storedDelayPosition("-5"), 0);
    EXPECT_EQ(storedDelayPosition("12.5"), 0);
    EXPECT_EQ(storedDelayPosition("abc"), 0);
    EXPECT_EQ(storedDelayPosition(""), 0);
    EXPECT_TRUE(storedFlag("1"));
    EXPECT_FALSE(storedFlag("0"));
    EXPECT_FALSE(storedFlag("2"));
    EXPECT_FALSE(storedFlag("yes"));
    EXPECT_FALSE(storedFlag(""));
}
