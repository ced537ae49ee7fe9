// Wire bytes of the measurement link against hand-computed vectors.
#include "measure/MeasureCodec.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

using namespace vexo;

namespace {

// A record whose field at offset o holds the given four bytes, the rest zero.
QByteArray recordWithField(int offset, const char* bytes)
{
    QByteArray r(kMeasurementRecordSize, '\0');
    r.replace(offset, 4, hex(bytes));
    return r;
}

} // namespace

TEST(MeasureCodec, RequestsAreTheBareAsciiWords)
{
    EXPECT_EQ(kGetStats, QByteArray("GetStats"));
    EXPECT_EQ(kGetStats.size(), 8);
    EXPECT_EQ(kGetDel, QByteArray("GetDel"));
    EXPECT_EQ(kGetDel.size(), 6);
    EXPECT_EQ(kRstStats, QByteArray("RstStats"));
    EXPECT_EQ(kRstStats.size(), 8);
    EXPECT_EQ(kMeasurePort, 2978);
}

TEST(MeasureCodec, FieldsDecodeAsExactSignedBigEndianIntegers)
{
    // GIVEN fields at offset 8 WHEN decoded THEN every 32-bit value comes back exactly
    EXPECT_EQ(decodeField(recordWithField(8, "00 FF FF FF"), 8), 16777215);
    EXPECT_EQ(decodeField(recordWithField(8, "01 00 00 01"), 8), 16777217);
    EXPECT_EQ(decodeField(recordWithField(8, "80 00 00 00"), 8), std::numeric_limits<qint32>::min());
    EXPECT_EQ(decodeField(recordWithField(8, "7F FF FF FF"), 8), 2147483647);
    EXPECT_EQ(decodeField(recordWithField(8, "FF FF FF FF"), 8), -1);
    EXPECT_EQ(decodeField(recordWithField(8, "FF FF FF DD"), 8), -35);
    EXPECT_EQ(decodeField(recordWithField(52, "00 03 D0 90"), 52), 250000);
}

TEST(MeasureCodec, FieldBeyondTheDatagramIsZero)
{
    const QByteArray d = hex("00 00 00 07 00 00 00");
    EXPECT_EQ(decodeField(d, 0), 7);
    EXPECT_EQ(decodeField(d, 4), 0); // only three bytes left
    EXPECT_EQ(decodeField(d, 100), 0);
    EXPECT_EQ(decodeField(d, -1), 0);
    EXPECT_EQ(decodeField(QByteArray(), 0), 0);
}

TEST(MeasureCodec, FortyByteDatagramDecodesTheFirstTenFields)
{
    // GIVEN a 40-byte datagram whose fields hold 1..10
    QByteArray d;
    for (int i = 1; i <= 10; ++i)
        d += hex("00 00 00") + QByteArray(1, char(i));
    ASSERT_EQ(d.size(), 40);
    // WHEN decoded
    const MeasurementValues v = decodeMeasurementRecord(d);
    // THEN offsets 0..36 carry their values and everything later is 0
    EXPECT_EQ(v.txFramesOk, 1);
    EXPECT_EQ(v.rxFramesOk, 2);
    EXPECT_EQ(v.txFramesErr, 3);
    EXPECT_EQ(v.rxFramesErr, 4);
    EXPECT_EQ(v.ptpSyncOk, 5);
    EXPECT_EQ(v.ptpSyncErr, 6);
    EXPECT_EQ(v.ptpSyncValue, 7);
    EXPECT_EQ(v.ptpSyncLatency, 8);
    EXPECT_EQ(v.rxAudioFramesOk, 9);
    EXPECT_EQ(v.rxAudioFramesErr, 10);
    EXPECT_EQ(v.propagationDelayAverage, 0);
    EXPECT_EQ(v.propagationDelayMinimum, 0);
    EXPECT_EQ(v.propagationDelayMaximum, 0);
    EXPECT_EQ(v.additionalDelay, 0);
    EXPECT_EQ(v.autoServoValue, 0);
    EXPECT_EQ(v.autoServo, 0);
}

TEST(MeasureCodec, EmptyDatagramDecodesToZeros)
{
    EXPECT_EQ(decodeMeasurementRecord(QByteArray()), MeasurementValues{});
}

TEST(MeasureCodec, RecordIsBuiltFieldByFieldMostSignificantFirst)
{
    MeasurementValues v;
    v.txFramesOk = 0x01020304;
    v.rxFramesErr = -2;
    v.propagationDelayAverage = 1000000;
    v.additionalDelay = 250000;
    v.autoServoValue = -1200;
    v.autoServo = 1;
    const QByteArray r = buildMeasurementRecord(v);
    ASSERT_EQ(r.size(), 61);
    EXPECT_EQ(r.mid(0, 4), hex("01 02 03 04"));
    EXPECT_EQ(r.mid(4, 8), QByteArray(8, '\0'));
    EXPECT_EQ(r.mid(12, 4), hex("FF FF FF FE"));
    EXPECT_EQ(r.mid(40, 4), hex("00 0F 42 40"));
    EXPECT_EQ(r.mid(52, 4), hex("00 03 D0 90"));
    EXPECT_EQ(r.mid(56, 4), hex("FF FF FB 50"));
    EXPECT_EQ(r.at(60), '\x01');
    EXPECT_EQ(decodeMeasurementRecord(r), v);
}

TEST(MeasureCodec, FlagByteIsUnsigned)
{
    QByteArray r(61, '\0');
    r[60] = char(0xFF);
    EXPECT_EQ(decodeMeasurementRecord(r).autoServo, 255);
}

TEST(MeasureCodec, SetDelayRequestVector)
{
    EXPECT_EQ(buildSetDelayRequest(250000, true), hex("53 00 03 D0 90 01"));
    EXPECT_EQ(buildSetDelayRequest(0, false), hex("53 00 00 00 00 00"));
    EXPECT_EQ(buildSetDelayRequest(2500000, false), hex("53 00 26 25 A0 00"));
}

TEST(MeasureCodec, SetDelayRequestParses)
{
    const auto s = parseSetDelayRequest(hex("53 00 03 D0 90 01"));
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->delayNs, 250000);
    EXPECT_EQ(s->autoServo, 1);
    EXPECT_FALSE(parseSetDelayRequest(hex("54 00 03 D0 90 01")).has_value());
    EXPECT_FALSE(parseSetDelayRequest(hex("53 00 03 D0 90")).has_value());
    EXPECT_FALSE(parseSetDelayRequest(hex("53 00 03 D0 90 01 00")).has_value());
    EXPECT_FALSE(parseSetDelayRequest(kGetDel).has_value());
}

TEST(MeasureCodec, LengthRulesOfTheTwoWindows)
{
    EXPECT_TRUE(statisticsAcceptsLength(0));
    EXPECT_TRUE(statisticsAcceptsLength(40));
    EXPECT_TRUE(statisticsAcceptsLength(60));
    EXPECT_TRUE(statisticsAcceptsLength(61));
    EXPECT_FALSE(statisticsAcceptsLength(62));
    EXPECT_FALSE(adjustAcceptsLength(0));
    EXPECT_FALSE(adjustAcceptsLength(60));
    EXPECT_TRUE(adjustAcceptsLength(61));
    EXPECT_FALSE(adjustAcceptsLength(62));
}

TEST(MeasureCodec, formatNanoseconds)
{
    EXPECT_EQ(formatNanoseconds(265), "265 nS");
    EXPECT_EQ(formatNanoseconds(395833), "395 uS, 833 nS");
    EXPECT_EQ(formatNanoseconds(1000005), "1 mS, 0 uS, 5 nS");
    EXPECT_EQ(formatNanoseconds(0), "0 nS");
    EXPECT_EQ(formatNanoseconds(-1500), "-1 uS, 500 nS");
    EXPECT_EQ(formatNanoseconds(2500000), "2 mS, 500 uS, 0 nS");
    EXPECT_EQ(formatNanoseconds(999), "999 nS");
    EXPECT_EQ(formatNanoseconds(1000), "1 uS, 0 nS");
    EXPECT_EQ(formatNanoseconds(-500), "-500 nS");
    EXPECT_EQ(formatNanoseconds(2147483647), "2147 mS, 483 uS, 647 nS");
    EXPECT_EQ(formatNanoseconds(std::numeric_limits<qint32>::min()), "-2147 mS, 483 uS, 648 nS");
}
