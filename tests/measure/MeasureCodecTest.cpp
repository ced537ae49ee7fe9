// Wire bytes of the measurement link against hand-computed vectors, and the record arithmetic of
// the two measurement windows.
#include "measure/MeasureArithmetic.h"

#include "TestUtil.h"

#include <QLocale>

#include <gtest/gtest.h>

using namespace vexo;

TEST(MeasureCodec, RecordFieldsAreExactSignedIntegersMostSignificantFirst)
{
    MeasurementValues v{0x01020304, 0,   0,       -2, 0, 0,      INT32_MIN, INT32_MAX,
                        16777217,   -35, 1000000, 0,  0, 250000, -1200,     1};
    const QByteArray r =
        hex("01 02 03 04 00 00 00 00 00 00 00 00 FF FF FF FE 00 00 00 00 00 00 00 00 80 00 00 00 "
            "7F FF FF FF 01 00 00 01 FF FF FF DD 00 0F 42 40 00 00 00 00 00 00 00 00 00 03 D0 90 "
            "FF FF FB 50 01");
    EXPECT_EQ(buildMeasurementRecord(v), r);
    EXPECT_EQ(decodeMeasurementRecord(r), v);
    // A short datagram gives its whole fields and zeros after; the flag byte is unsigned.
    MeasurementValues first{0x01020304, 0, 0, -2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(decodeMeasurementRecord(r.left(19)), first);
    EXPECT_EQ(decodeMeasurementRecord(QByteArray()), MeasurementValues{});
    EXPECT_EQ(decodeMeasurementRecord(QByteArray(60, '\0') + '\xFF').autoServo, 255);
    EXPECT_EQ(QList<qint32>({decodeField(r, 56), decodeField(r, 58), decodeField(r, -1)}),
              QList<qint32>({-1200, 0, 0}));
}

TEST(MeasureCodec, SetDelayRequestAndTheLengthsEachWindowTakes)
{
    EXPECT_EQ(buildSetDelayRequest(250000, true), hex("53 00 03 D0 90 01"));
    EXPECT_EQ(buildSetDelayRequest(2500000, false), hex("53 00 26 25 A0 00"));
    const auto s = parseSetDelayRequest(hex("53 FF FF FB 50 07"));
    EXPECT_TRUE(s && s->delayNs == -1200 && s->autoServo == 7);
    for (const char* other :
         {"54 00 03 D0 90 01", "00 53 03 D0 90 01", "53 00 03 D0 90", "53 00 03 D0 90 01 00"})
        EXPECT_FALSE(parseSetDelayRequest(hex(other)).has_value()) << other;
    for (const auto& [length, statistics, adjust] :
         {std::tuple{0, true, false}, {60, true, false}, {61, true, true}, {62, false, false}}) {
        EXPECT_EQ(statisticsAcceptsLength(length), statistics) << length;
        EXPECT_EQ(adjustAcceptsLength(length), adjust) << length;
    }
}

TEST(MeasureCodec, NanosecondTextAtItsEdges)
{
    const std::pair<qint32, const char*> cases[] = {{0, "0 nS"},
                                                    {999, "999 nS"},
                                                    {1000, "1 uS, 0 nS"},
                                                    {-1500, "-1 uS, 500 nS"},
                                                    {INT32_MAX, "2147 mS, 483 uS, 647 nS"},
                                                    {INT32_MIN, "-2147 mS, 483 uS, 648 nS"}};
    for (const auto& [ns, text] : cases)
        EXPECT_EQ(formatNanoseconds(ns), text);
}

namespace {

// The rows a reading reached, as "row value", in the statistics window's order.
QStringList rows(const StatisticsReading& r)
{
    QStringList lines;
    auto count = [&](const char* row, const std::optional<qint32>& v) {
        if (v)
            lines << QString("%1 %2").arg(row).arg(*v);
    };
    auto errors = [&](const char* row, const std::optional<ErrorCount>& v) {
        if (v)
            lines << QString("%1 %2").arg(row, formatErrorCell(v->count, v->percent));
    };
    count("txOk", r.txFramesOk), count("rxOk", r.rxFramesOk);
    errors("txErr", r.txFramesErr), errors("rxErr", r.rxFramesErr);
    count("ptpOk", r.ptpSyncOk), count("ptpErr", r.ptpSyncErr);
    count("clock", r.clockDifferenceNs), count("delay", r.measuredDelayNs);
    count("audioOk", r.audioFramesOk), errors("audioErr", r.audioFramesErr);
    return lines;
}

} // namespace

TEST(statisticsArithmetic, ErrorCellsShowCountAndRatioRoundedHalfToEven)
{
    const std::tuple<qint32, qint32, const char*> cases[] = {
        {0, 0, "0 (0%)"},       {9999, 1, "1 (0.01%)"}, {2, 1, "1 (33.33%)"},
        {1197, 3, "3 (0.25%)"}, {799, 1, "1 (0.12%)"},  {797, 3, "3 (0.38%)"},
        {0, 5, "5 (100%)"},     {1, 2, "2 (66.67%)"},   {INT32_MAX - 1, 1, "1 (0%)"}};
    for (const auto& [good, errors, cell] : cases)
        EXPECT_EQ(formatErrorCell(errors, *errorRatio(good, errors)), cell);
    EXPECT_FALSE(errorRatio(INT32_MAX, 1) || errorRatio(INT32_MIN, -1));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString german = formatErrorCell(3, *errorRatio(1197, 3));
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(german, "3 (0,25%)");
}

TEST(statisticsArithmetic, StoredSfnAndRoleDecideTheRowsAndOverflowsStopPartWay)
{
    const QStringList macRows = {"txOk 5", "rxOk 0", "txErr 1 (16.67%)", "rxErr 0 (0%)"};
    const QStringList ptp = {"ptpOk 7", "ptpErr 0"};
    const QStringList decoder = ptp + QStringList{"clock -35", "delay 1"};
    const QStringList audio = {"audioOk 9", "audioErr 1 (10%)"};
    // sfn, role, TX OK, measured delay -> the rows reached (the audio rows missing: failed)
    const std::tuple<const char*, Role, qint32, qint32, QStringList> cases[] = {
        {"0", Role::Decoder, 5, 0, macRows + audio},
        {" 2 ", Role::Decoder, 5, 0, macRows + audio},
        {"1", Role::Encoder, 5, 0, macRows + ptp + audio},
        {"1", Role::Unknown, 5, 0, macRows + ptp + audio},
        {"1", Role::Decoder, 5, 0, macRows + decoder + audio},
        {"1.0", Role::Decoder, 5, 0, macRows + decoder + audio},
        {"", Role::Decoder, 5, 0, macRows},                                           // fails: no number
        {"1a", Role::Decoder, 5, 0, macRows},                                         // fails
        {"1", Role::Decoder, INT32_MAX, 0, {"txOk 2147483647", "rxOk 0"}},            // fails: TX sum
        {"1", Role::Decoder, 5, INT32_MAX, macRows + ptp + QStringList{"clock -35"}}, // fails: delay + 1
    };
    for (const auto& [sfn, role, txFramesOk, ptpSyncLatency, lines] : cases) {
        SCOPED_TRACE(std::string(sfn) + "/" + std::to_string(int(role)));
        const MeasurementValues r{txFramesOk, 0, 1, 0, 7, 0, -35, ptpSyncLatency, 9, 1, 0, 0, 0, 1, 0, 0};
        const StatisticsReading out = statisticsArithmetic(r, sfn, role);
        EXPECT_EQ(rows(out), lines);
        EXPECT_EQ(out.failed, !lines.contains(audio.last()));
    }
}

TEST(latencyArithmetic, SfnDecoderRecordMovesTheControlsAndSumsTheLatencies)
{
    // Minimum = average - 1000 and maximum = average + 2000 in every record.
    // additional delay, average, servo flag -> position, servo caption, latency and its summary
    const std::tuple<qint32, qint32, quint8, int, const char*, const char*, const char*> cases[] = {
        {250000, 1000000, 0, 2500, "Auto servo", "1 mS, 250 uS, 0 nS", "1 mS, 646 uS, 98 nS"},
        {0, 10000, 1, 0, "Auto servo (-1200 nS)", "8 uS, 800 nS", "404 uS, 898 nS"},
        {0, 10000, 2, 0, "Auto servo", "10 uS, 0 nS", "406 uS, 98 nS"}, // flag 2 is off
        {3000000, 0, 0, 25000, "Auto servo", "3 mS, 0 uS, 0 nS", "3 mS, 396 uS, 98 nS"},
        {-500, 0, 0, 0, "Auto servo", "-500 nS", "395 uS, 598 nS"},
        {250, 0, 0, 2, "Auto servo", "250 nS", "396 uS, 348 nS"}, // 2.5 -> 2
        {350, 0, 0, 4, "Auto servo", "350 nS", "396 uS, 448 nS"}, // 3.5 -> 4
        {2499950, 0, 0, 25000, "Auto servo", "2 mS, 499 uS, 950 nS", "2 mS, 896 uS, 48 nS"},
        {2499850, 0, 0, 24998, "Auto servo", "2 mS, 499 uS, 850 nS", "2 mS, 895 uS, 948 nS"},
    };
    for (const auto& [additional, average, servo, position, caption, current, summary] : cases) {
        SCOPED_TRACE(additional);
        const MeasurementValues r{
            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, average, average - 1000, average + 2000, additional, -1200, servo};
        const LatencyReading out = latencyArithmetic(r, "1", Role::Decoder);
        EXPECT_TRUE(out.sfnDecoder && !out.failed);
        EXPECT_EQ(out.scrollPosition, position);
        EXPECT_EQ(out.autoServo, servo == 1);
        EXPECT_EQ(out.additionalDelayNs, additional);
        EXPECT_EQ(autoServoCaption(out.autoServo, out.servoCorrectionNs), caption);
        ASSERT_TRUE(out.average && out.minimum && out.maximum);
        EXPECT_EQ(formatNanoseconds(out.average->networkNs), current);
        EXPECT_EQ(formatNanoseconds(*out.average->summaryNs), summary);
        EXPECT_EQ(QList<qint32>({out.minimum->networkNs + 1000, out.maximum->networkNs - 2000}),
                  QList<qint32>(2, out.average->networkNs));
    }
    // Only an SFN decoder reports them.
    for (const auto& [sfn, role] :
         {std::pair{"0", Role::Decoder}, {"1", Role::Encoder}, {"1", Role::Unknown}})
        EXPECT_EQ(latencyArithmetic(MeasurementValues{}, sfn, role), LatencyReading{});
}

TEST(latencyArithmetic, OverflowsAndAnSfnThatIsNoNumberFail)
{
    MeasurementValues r;
    const auto noNumber = latencyArithmetic(r, "yes", Role::Decoder);
    EXPECT_TRUE(noNumber.failed && !noNumber.sfnDecoder);
    // average, minimum, additional delay, servo correction -> latency figures set before failing
    const std::tuple<qint32, qint32, qint32, qint32, int> overflows[] = {
        {INT32_MAX, 0, 1, 0, 0},           // average + additional delay
        {INT32_MAX - 396098, 0, 0, 0, -1}, // the summary just fits: no failure
        {INT32_MAX - 396097, 0, 0, 0, 1},  // only the summary overflows
        {0, INT32_MIN, 0, -1, 2},          // the minimum, with the servo's correction
    };
    for (const auto& [average, minimum, additional, servoValue, before] : overflows) {
        MeasurementValues m;
        m.propagationDelayAverage = average, m.propagationDelayMinimum = minimum;
        m.additionalDelay = additional, m.autoServo = 1, m.autoServoValue = servoValue;
        const auto out = latencyArithmetic(m, "1", Role::Decoder);
        EXPECT_TRUE(out.sfnDecoder);
        EXPECT_EQ(out.failed, before >= 0) << average;
        const int figures = (out.average ? 1 + bool(out.average->summaryNs) : 0) +
                            (out.minimum ? 1 + bool(out.minimum->summaryNs) : 0) +
                            (out.maximum ? 1 + bool(out.maximum->summaryNs) : 0);
        EXPECT_EQ(figures, before >= 0 ? before : 6) << average;
    }
}

TEST(adjustArithmetic, StoredDelayIsClampedAndAFlagIsOnOnlyForOne)
{
    const std::pair<const char*, int> delays[] = {{" 12 ", 12}, {"30000", 25000}, {"99999999999", 25000},
                                                  {"-5", 0},    {"12.5", 0},      {"abc", 0}};
    for (const auto& [text, position] : delays)
        EXPECT_EQ(storedDelayPosition(text), position) << text;
    for (const auto& [text, on] : {std::pair{" 1 ", true}, {"0", false}, {"2", false}, {"", false}})
        EXPECT_EQ(storedFlag(text), on) << text;
}
