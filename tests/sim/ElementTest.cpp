// The simulated element's answers, byte for byte: hand-computed vectors, and the station's own
// decoders reading them back.
#include "Element.h"
#include "ElementConfig.h"
#include "FleetFile.h"
#include "TestUtil.h"
#include "diagnostics/LevelMonitor.h"
#include "link/ConfigCodec.h"
#include "measure/MeasureCodec.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vexo;
using namespace vexo::sim;

namespace {

const QByteArray kPaging(kPagingRequest, kPagingRequestSize);

sim::ElementConfig encoderConfig()
{
    sim::ElementConfig c;
    c.role = 1;
    c.name = QStringLiteral("STUDIO 1");
    c.serial = 32769;
    c.versionMajor = 3;
    c.versionMinor = 1;
    c.ip = QStringLiteral("10.0.0.5");
    c.mask = QStringLiteral("255.255.255.0");
    c.gateway = QStringLiteral("10.0.0.1");
    c.remote = QStringLiteral("239.1.1.1");
    c.audioSource = 1;
    c.audioType = 1;
    c.txType = 1;
    c.sfn = 1;
    c.buffer = 6;
    return c;
}

sim::ElementConfig decoderConfig()
{
    sim::ElementConfig c = encoderConfig();
    c.role = 2;
    c.versionMajor = 2;
    c.versionMinor = 7;
    c.sfn = 0;
    c.buffer = 4;
    c.attenuation = 200;
    c.silenceMode = 1;
    c.silenceLevel = 37;
    c.silenceTime = 43;
    return c;
}

// 0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01, source/type/tx 01 01 01, "STUDIO 1" + 8 blanks.
const char* kCommonHead = "0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01 01 01 01 "
                          "53 54 55 44 49 4F 20 31 20 20 20 20 20 20 20 20";

} // namespace

TEST(ElementPaging, EncoderAnswersWithItsConfigurationByteForByte)
{
    // GIVEN an encoder
    Element e(encoderConfig(), 1);
    // WHEN the paging request arrives
    const Outcome out = e.handle(Port::Paging, kPaging, 0);
    // THEN it answers with the 44-byte encoder layout
    ASSERT_TRUE(out.reply.has_value());
    EXPECT_EQ(out.reply->toHex(' '),
              hex((QByteArray(kCommonHead) + " 01 00 00 80 01 03 01 01 06").constData()).toHex(' '));
    // AND the station's decoder reads back what the element holds
    vexo::ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(*out.reply, r));
    EXPECT_EQ(r.ip, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(r.remote, QStringLiteral("239.1.1.1"));
    EXPECT_EQ(r.name, QStringLiteral("STUDIO 1        "));
    EXPECT_EQ(r.role, 1);
    EXPECT_EQ(r.serial, 32769);
    EXPECT_EQ(r.version(), QStringLiteral("3.1"));
    EXPECT_EQ(r.sfn, 1);
    EXPECT_EQ(r.buffer, 6);
    EXPECT_EQ(e.pagings(), 1);
    EXPECT_FALSE(out.stateChanged);
}

TEST(ElementPaging, DecoderAnswersWithTheDecoderLayout)
{
    Element e(decoderConfig(), 1);
    const Outcome out = e.handle(Port::Paging, kPaging, 0);
    ASSERT_TRUE(out.reply.has_value());
    EXPECT_EQ(
        out.reply->toHex(' '),
        hex((QByteArray(kCommonHead) + " 02 00 00 80 01 C8 02 07 00 04 01 25 2B").constData()).toHex(' '));
    vexo::ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(*out.reply, r));
    EXPECT_EQ(r.attenuation, 200);
    EXPECT_EQ(r.version(), QStringLiteral("2.7"));
    EXPECT_EQ(r.buffer, 4);
    EXPECT_EQ(r.silenceMode, 1);
    EXPECT_EQ(r.silenceLevel, 37);
    EXPECT_EQ(r.silenceTime, 43);
}

TEST(ElementPaging, OtherTextsOnThePagingPortAreIgnored)
{
    Element e(encoderConfig(), 1);
    EXPECT_FALSE(e.handle(Port::Paging, QByteArray("IPMPXSTL KORVANTA PAGING REQUES"), 0).reply);
    EXPECT_FALSE(e.handle(Port::Paging, kPaging + '\0', 0).reply);
    EXPECT_FALSE(e.handle(Port::Paging, QByteArray("ipmpxstl korvanta paging request"), 0).reply);
    EXPECT_EQ(e.pagings(), 0);
}

TEST(ElementConfigRequest, DecoderTakesOnA40ByteRequestAndConfirmsIt)
{
    // GIVEN a decoder at 10.0.0.5
    Element e(decoderConfig(), 1);
    // WHEN a 40-byte request arrives (SFN byte at 19, name from 20, decoder bytes 36..39)
    const QByteArray request = hex("0A 00 00 09 FF FF 00 00 0A 00 00 01 0A 00 00 63 00 01 00 01 "
                                   "4E 45 57 20 4E 41 4D 45 20 20 20 20 20 20 20 20 08 02 10 20");
    const Outcome out = e.handle(Port::Config, request, 0);
    // THEN it answers with what it took on, in the reply layout (name from 19)
    ASSERT_TRUE(out.reply.has_value());
    EXPECT_EQ(out.reply->toHex(' '), hex("0A 00 00 09 FF FF 00 00 0A 00 00 01 0A 00 00 63 00 01 00 "
                                         "4E 45 57 20 4E 41 4D 45 20 20 20 20 20 20 20 20 "
                                         "02 00 00 80 01 C8 02 07 01 08 02 10 20")
                                         .toHex(' '));
    // AND its state changed, the move away from the old address is asked for
    EXPECT_TRUE(out.stateChanged);
    ASSERT_TRUE(out.previousIp.has_value());
    EXPECT_EQ(*out.previousIp, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(e.config().ip, QStringLiteral("10.0.0.9"));
    EXPECT_EQ(e.configRequests(), 1);
    EXPECT_EQ(e.stateJson().value(QStringLiteral("name")).toString(), QStringLiteral("NEW NAME        "));
}

TEST(ElementConfigRequest, A36ByteRequestLeavesTheDecoderFieldsAlone)
{
    Element e(decoderConfig(), 1);
    vexo::ElementConfig f;
    f.ip = QStringLiteral("10.0.0.5");
    f.mask = QStringLiteral("255.255.255.0");
    f.gateway = QStringLiteral("10.0.0.1");
    f.remote = QStringLiteral("10.0.0.7");
    f.name = QStringLiteral("x");
    f.buffer = 99;
    const Outcome out = e.handle(Port::Config, buildConfigRequest(f, QStringLiteral("ENCODER")), 0);
    ASSERT_TRUE(out.reply.has_value());
    EXPECT_FALSE(out.previousIp.has_value()); // same address: nothing to move
    vexo::ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(*out.reply, r));
    EXPECT_EQ(r.remote, QStringLiteral("10.0.0.7"));
    EXPECT_EQ(r.name, QStringLiteral("X               "));
    EXPECT_EQ(r.buffer, 4);
    EXPECT_EQ(r.silenceLevel, 37);
}

TEST(ElementConfigRequest, DatagramsOfOtherLengthsAreNoRequests)
{
    Element e(encoderConfig(), 1);
    for (int n : {0, 35, 37, 39, 41, 44}) {
        const Outcome out = e.handle(Port::Config, QByteArray(n, '\x01'), 0);
        EXPECT_FALSE(out.reply) << n;
        EXPECT_FALSE(out.stateChanged) << n;
    }
    EXPECT_EQ(e.config().ip, QStringLiteral("10.0.0.5"));
}

TEST(ElementCommand, AttenuationMessageIsAppliedAndReported)
{
    Element e(decoderConfig(), 1);
    const Outcome out = e.handle(Port::Command, buildAttenuationMessage(120), 0);
    EXPECT_FALSE(out.reply);
    EXPECT_TRUE(out.stateChanged);
    EXPECT_EQ(e.config().attenuation, 120);
    EXPECT_EQ(quint8(e.configReply()[40]), 0x78);
}

TEST(ElementLevel, PeakFollowsTheConfiguredLevel)
{
    EXPECT_EQ(peakForDbfs(0.0), 8388607); // clipped: +8388608 does not fit 24 bits
    EXPECT_EQ(peakForDbfs(3.0), 8388607);
    EXPECT_EQ(peakForDbfs(-6.0), 4204263);
    EXPECT_EQ(peakForDbfs(-12.0), 2107123);
    EXPECT_EQ(peakForDbfs(-20.0), 838861);
    EXPECT_EQ(peakForDbfs(-138.5), 1);
    EXPECT_EQ(peakForDbfs(-200.0), 0);
}

TEST(ElementLevel, LevelReplyIsAToneWithExactlyThatPeak)
{
    // GIVEN an encoder at -12 dBFS
    sim::ElementConfig c = encoderConfig();
    c.levelDbfs = -12.0;
    Element e(c, 1);
    // WHEN "VOL" arrives
    const Outcome out = e.handle(Port::Command, QByteArray("VOL"), 0);
    // THEN 1440 bytes: sample 0 is zero, sample 12 the positive peak 0x2026F3, sample 36 its
    // negative in two's complement, the last three bytes zero
    ASSERT_TRUE(out.reply.has_value());
    const QByteArray& d = *out.reply;
    ASSERT_EQ(d.size(), 1440);
    EXPECT_EQ(d.mid(0, 3).toHex(), QByteArray("000000"));
    EXPECT_EQ(d.mid(36, 3).toHex(), QByteArray("2026f3"));
    EXPECT_EQ(d.mid(108, 3).toHex(), QByteArray("dfd90d"));
    EXPECT_EQ(d.mid(3, 3).toHex(), QByteArray("04325b")); // round(2107123 * sin(2 pi / 48)) = 275035
    EXPECT_EQ(d.mid(1437, 3).toHex(), QByteArray("000000"));
    // AND the monitor's peak search finds the configured peak
    EXPECT_EQ(peakLevelOf(d), 2107123);
}

TEST(ElementLevel, SilenceGivesNoPositiveSample)
{
    sim::ElementConfig c = encoderConfig();
    c.levelDbfs = -300;
    Element e(c, 1);
    const Outcome out = e.handle(Port::Command, QByteArray("VOL"), 0);
    ASSERT_TRUE(out.reply.has_value());
    EXPECT_EQ(*out.reply, QByteArray(1440, '\0'));
}

TEST(ElementLevel, MovingLevelLivesBelowThePeak)
{
    sim::ElementConfig c = encoderConfig();
    c.levelDbfs = -3.0;
    c.levelMoving = true;
    Element e(c, 7);
    QSet<qint32> seen;
    for (int t = 0; t < 5000; t += 50) {
        const qint32 p = peakLevelOf(*e.handle(Port::Command, QByteArray("VOL"), t).reply);
        EXPECT_LE(p, peakForDbfs(-3.0));
        EXPECT_GT(p, peakForDbfs(-30.0));
        seen.insert(p);
    }
    EXPECT_GT(seen.size(), 50);
}

TEST(ElementMeasure, CountersGrowWhileTheElementRuns)
{
    // GIVEN a decoder started at t = 0
    sim::ElementConfig c = decoderConfig();
    c.latencyNs = 400000;
    c.jitterNs = 3000;
    Element e(c, 3, 0);
    // WHEN GetStats arrives after 10 s and after 20 s
    const Outcome first = e.handle(Port::Measure, kGetStats, 10000);
    const Outcome second = e.handle(Port::Measure, kGetDel, 20000);
    ASSERT_TRUE(first.reply && second.reply);
    ASSERT_EQ(first.reply->size(), 61);
    const MeasurementValues a = decodeMeasurementRecord(*first.reply);
    const MeasurementValues b = decodeMeasurementRecord(*second.reply);
    // THEN audio frames arrive at 1000/s, PTP syncs at 8/s, errors are rare
    EXPECT_NEAR(a.rxAudioFramesOk, 10000, 10);
    EXPECT_NEAR(b.rxAudioFramesOk, 20000, 10);
    EXPECT_NEAR(a.rxFramesOk, 10080, 10);
    EXPECT_NEAR(b.ptpSyncOk + b.ptpSyncErr, 160, 1);
    EXPECT_LE(b.rxFramesErr, 2);
    // AND the path delay stays within the jitter, min <= average <= max
    for (const MeasurementValues& v : {a, b}) {
        EXPECT_GE(v.propagationDelayMinimum, 397000);
        EXPECT_LE(v.propagationDelayMaximum, 403000);
        EXPECT_LE(v.propagationDelayMinimum, v.propagationDelayAverage);
        EXPECT_LE(v.propagationDelayAverage, v.propagationDelayMaximum);
        EXPECT_GE(v.ptpSyncLatency, 397000);
        EXPECT_LE(v.ptpSyncLatency, 403000);
        EXPECT_LE(std::abs(v.ptpSyncValue), 3000 / 8 + 50);
    }
    EXPECT_LT(a.propagationDelayMinimum, a.propagationDelayMaximum); // 80 measurements vary
}

TEST(ElementMeasure, EncoderSendsFrames)
{
    Element e(encoderConfig(), 3, 0);
    const MeasurementValues v = decodeMeasurementRecord(*e.handle(Port::Measure, kGetStats, 5000).reply);
    EXPECT_NEAR(v.txFramesOk + v.txFramesErr, 5000, 1);
    EXPECT_EQ(v.rxAudioFramesOk, 0);
}

TEST(ElementMeasure, RstStatsStartsTheCountersAgain)
{
    Element e(decoderConfig(), 3, 0);
    e.handle(Port::Measure, kGetStats, 30000);
    const Outcome reset = e.handle(Port::Measure, kRstStats, 30000);
    EXPECT_FALSE(reset.reply);
    EXPECT_TRUE(reset.stateChanged);
    const MeasurementValues v = decodeMeasurementRecord(*e.handle(Port::Measure, kGetStats, 31000).reply);
    EXPECT_NEAR(v.rxAudioFramesOk, 1000, 5);
    EXPECT_EQ(e.stateJson().value(QStringLiteral("stats-resets")).toInt(), 1);
}

TEST(ElementMeasure, SetDelayAppliesTheDelayAndTheServoConverges)
{
    // GIVEN a decoder with a 350 us path and a 1 ms target
    sim::ElementConfig c = decoderConfig();
    c.latencyNs = 350000;
    c.jitterNs = 0;
    c.servoTargetNs = 1000000;
    Element e(c, 3, 0);
    // WHEN 250 us additional delay and auto servo on are set
    const Outcome set = e.handle(Port::Measure, hex("53 00 03 D0 90 01"), 1000);
    EXPECT_FALSE(set.reply);
    EXPECT_TRUE(set.stateChanged);
    // THEN the record carries the delay (00 03 D0 90 at 52) and the servo flag (01 at 60)
    const QByteArray record = *e.handle(Port::Measure, kGetDel, 1000).reply;
    EXPECT_EQ(record.mid(52, 4).toHex(), QByteArray("0003d090"));
    EXPECT_EQ(quint8(record[60]), 1);
    // AND the servo correction moves towards 1000000 - 350000 - 250000 = 400000
    const qint32 early =
        decodeMeasurementRecord(*e.handle(Port::Measure, kGetDel, 2000).reply).autoServoValue;
    const qint32 late =
        decodeMeasurementRecord(*e.handle(Port::Measure, kGetDel, 31000).reply).autoServoValue;
    EXPECT_GT(early, 0);
    EXPECT_LT(early, late);
    EXPECT_NEAR(late, 400000, 100);
    // WHEN the servo is switched off THEN the correction is 0 and the flag clear
    e.handle(Port::Measure, hex("53 00 00 00 00 00"), 32000);
    const MeasurementValues off = decodeMeasurementRecord(*e.handle(Port::Measure, kGetDel, 32000).reply);
    EXPECT_EQ(off.autoServo, 0);
    EXPECT_EQ(off.autoServoValue, 0);
    EXPECT_EQ(off.additionalDelay, 0);
}

TEST(ElementMeasure, OtherDatagramsOnTheMeasurePortAreIgnored)
{
    Element e(decoderConfig(), 3, 0);
    for (const QByteArray& d : {QByteArray("GetStat"), QByteArray("GetStatsX"), QByteArray("getstats"),
                                hex("53 00 00 00 00"), hex("54 00 00 00 00 01")}) {
        const Outcome out = e.handle(Port::Measure, d, 0);
        EXPECT_FALSE(out.reply) << d.toHex().constData();
        EXPECT_FALSE(out.stateChanged) << d.toHex().constData();
    }
}

// ---------------------------------------------------------------------------------------------
// Faults

TEST(ElementFaults, SilentElementAnswersNothingAndTakesNothingOn)
{
    sim::ElementConfig c = decoderConfig();
    c.silent = true;
    Element e(c, 1);
    EXPECT_FALSE(e.handle(Port::Paging, kPaging, 0).reply);
    EXPECT_FALSE(e.handle(Port::Command, QByteArray("VOL"), 0).reply);
    EXPECT_FALSE(e.handle(Port::Measure, kGetStats, 0).reply);
    EXPECT_FALSE(e.handle(Port::Command, buildAttenuationMessage(14), 0).stateChanged);
    EXPECT_EQ(e.config().attenuation, 200);
}

TEST(ElementFaults, LateElementStatesItsDelay)
{
    sim::ElementConfig c = encoderConfig();
    c.delayMs = 750;
    Element e(c, 1);
    EXPECT_EQ(e.handle(Port::Paging, kPaging, 0).delayMs, 750);
    EXPECT_EQ(e.handle(Port::Command, buildAttenuationMessage(14), 0).delayMs, 0); // nothing to delay
}

TEST(ElementFaults, RepliesOfAnotherLength)
{
    sim::ElementConfig c = decoderConfig();
    c.configReplyLength = 41;
    c.levelReplyLength = 1439;
    c.measureReplyLength = 62;
    Element e(c, 1);
    const QByteArray reply = *e.handle(Port::Paging, kPaging, 0).reply;
    EXPECT_EQ(reply.toHex(' '), hex((QByteArray(kCommonHead) + " 02 00 00 80 01 C8").constData()).toHex(' '));
    EXPECT_EQ(e.handle(Port::Command, QByteArray("VOL"), 0).reply->size(), 1439);
    const QByteArray record = *e.handle(Port::Measure, kGetStats, 0).reply;
    ASSERT_EQ(record.size(), 62);
    EXPECT_EQ(record[61], '\0'); // padded with zero
    EXPECT_EQ(fitLength(hex("01 02 03"), 5).toHex(), QByteArray("0102030000"));
    EXPECT_EQ(fitLength(hex("01 02 03"), -1).toHex(), QByteArray("010203"));
}

TEST(ElementFaults, ForcedFieldsAppearInTheReply)
{
    // GIVEN a decoder that states role 3, audio source 2, serial -5, another name and IP
    sim::ElementConfig c = decoderConfig();
    c.forceRole = 3;
    c.forceInput = 2;
    c.forceSerial = -5;
    c.forceName = QStringLiteral("Other");
    c.forceIp = QStringLiteral("10.0.0.77");
    Element e(c, 1);
    const QByteArray reply = *e.handle(Port::Paging, kPaging, 0).reply;
    // THEN role 3 puts the reply in the encoder layout (44 bytes)
    EXPECT_EQ(reply.toHex(' '), hex("0A 00 00 4D FF FF FF 00 0A 00 00 01 EF 01 01 01 02 01 01 "
                                    "4F 74 68 65 72 20 20 20 20 20 20 20 20 20 20 20 "
                                    "03 FF FF FF FB 02 07 00 04")
                                    .toHex(' '));
    vexo::ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(reply, r));
    EXPECT_EQ(r.serial, -5);
    // AND the element itself is unchanged
    EXPECT_EQ(e.config().ip, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(e.config().role, 2);
}

TEST(ElementFaults, SerialZeroCanBeForced)
{
    sim::ElementConfig c = encoderConfig();
    c.forceSerial = 0;
    Element e(c, 1);
    EXPECT_EQ(e.configReply().mid(36, 4).toHex(), QByteArray("00000000"));
}

TEST(ElementFaults, StaleElementAnswersWithWhatItHadBefore)
{
    sim::ElementConfig c = encoderConfig();
    c.staleReply = true;
    Element e(c, 1);
    const QByteArray before = e.configReply();
    vexo::ElementConfig f;
    f.ip = QStringLiteral("10.0.0.6");
    f.mask = QStringLiteral("255.0.0.0");
    f.gateway = QStringLiteral("10.0.0.1");
    f.remote = QStringLiteral("10.0.0.2");
    f.name = QStringLiteral("changed");
    const Outcome out = e.handle(Port::Config, buildConfigRequest(f, QStringLiteral("ENCODER")), 0);
    ASSERT_TRUE(out.reply.has_value());
    EXPECT_EQ(*out.reply, before);
    EXPECT_FALSE(out.previousIp.has_value());
    EXPECT_EQ(e.config().ip, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(e.configRequests(), 1);
}

// ---------------------------------------------------------------------------------------------
// Options and files

TEST(ElementOptions, CommandLineAndJsonUseTheSameKeys)
{
    QJsonObject o;
    QString error;
    ASSERT_TRUE(argsToJson({"--role", "2", "--name=Studio", "--silent", "--force-serial", "-5",
                            "--level-dbfs", "-6.5", "--ip", "10.1.2.3", "--version", "4.2"},
                           o, nullptr, &error))
        << error.toStdString();
    sim::ElementConfig c;
    ASSERT_TRUE(applyJson(o, c, &error)) << error.toStdString();
    EXPECT_EQ(c.role, 2);
    EXPECT_EQ(c.name, QStringLiteral("Studio"));
    EXPECT_TRUE(c.silent);
    EXPECT_EQ(c.forceSerial.value_or(0), -5);
    EXPECT_DOUBLE_EQ(c.levelDbfs, -6.5);
    EXPECT_EQ(c.ip, QStringLiteral("10.1.2.3"));
    EXPECT_EQ(c.versionMajor, 4);
    EXPECT_EQ(c.versionMinor, 2);
    // The dump reads back into the same configuration.
    sim::ElementConfig again;
    ASSERT_TRUE(applyJson(toJson(c), again, &error)) << error.toStdString();
    EXPECT_EQ(toJson(again), toJson(c));
}

TEST(ElementOptions, BadValuesAreRefusedWithTheirKey)
{
    QJsonObject o;
    QString error;
    EXPECT_FALSE(argsToJson({"--role", "256"}, o, nullptr, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("role"))) << error.toStdString();
    EXPECT_FALSE(argsToJson({"--ip", "10.0.0.256"}, o, nullptr, &error));
    EXPECT_FALSE(argsToJson({"--buffer", "many"}, o, nullptr, &error));
    EXPECT_FALSE(argsToJson({"--version", "3"}, o, nullptr, &error));
    EXPECT_FALSE(argsToJson({"--readdress", "jump"}, o, nullptr, &error));
    EXPECT_FALSE(argsToJson({"--name"}, o, nullptr, &error));
    EXPECT_FALSE(argsToJson({"--colour", "red"}, o, nullptr, &error));
    sim::ElementConfig c;
    EXPECT_FALSE(applyJson(QJsonObject{{"colour", "red"}}, c, &error));
    EXPECT_FALSE(applyJson(QJsonObject{{"name", 5}}, c, &error));
    EXPECT_FALSE(applyJson(QJsonObject{{"serial", 1.5}}, c, &error));
}

TEST(ElementOptions, FleetFileLayersDefaultsFlagsAndElements)
{
    // GIVEN a fleet file with defaults and two elements, and a flag on the command line
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fleet.json"));
    ASSERT_TRUE(writeFile(path, R"({"defaults": {"mask": "255.255.0.0", "att": 50},
        "elements": [{"ip": "10.77.1.1", "role": 1}, {"ip": "10.77.1.2", "role": 2, "att": 60}]})"));
    SimSetup setup;
    QString error;
    ASSERT_TRUE(
        parseCommandLine({"--fleet", path, "--att", "55", "--state-file", "/tmp/x.json"}, setup, &error))
        << error.toStdString();
    // THEN the element's own value wins over the flag, the flag over the defaults
    ASSERT_EQ(setup.elements.size(), 2);
    EXPECT_EQ(setup.elements[0].attenuation, 55);
    EXPECT_EQ(setup.elements[1].attenuation, 60);
    EXPECT_EQ(setup.elements[1].mask, QStringLiteral("255.255.0.0"));
    EXPECT_TRUE(setup.bindAny); // a fleet shares its sockets unless told otherwise
    EXPECT_EQ(setup.stateFile, QStringLiteral("/tmp/x.json"));

    // AND options written as on the command line count as the element's own
    ASSERT_TRUE(
        writeFile(path, R"({"elements": [{"ip": "10.77.1.1", "args": "--silent --force-name \"A B\""}]})"));
    ASSERT_TRUE(parseCommandLine({"--fleet", path}, setup, &error)) << error.toStdString();
    EXPECT_TRUE(setup.elements[0].silent);
    EXPECT_EQ(setup.elements[0].forceName.value_or(QString()), QStringLiteral("A B"));
    ASSERT_TRUE(writeFile(path, R"({"elements": [{"ip": "10.77.1.1", "args": "--loud"}]})"));
    EXPECT_FALSE(parseCommandLine({"--fleet", path}, setup, &error));

    ASSERT_TRUE(writeFile(path, R"({"elements": [{"ip": "10.77.1.1", "colour": 1}]})"));
    EXPECT_FALSE(parseCommandLine({"--fleet", path}, setup, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("element 0"))) << error.toStdString();
    EXPECT_FALSE(parseCommandLine({"--bind", "some"}, setup, &error));
    EXPECT_FALSE(parseCommandLine({"--fleet", dir.filePath(QStringLiteral("missing.json"))}, setup, &error));
}

TEST(ElementOptions, PrefixLengthOfMasks)
{
    EXPECT_EQ(prefixLength(QStringLiteral("255.255.0.0")), 16);
    EXPECT_EQ(prefixLength(QStringLiteral("255.255.255.252")), 30);
    EXPECT_EQ(prefixLength(QStringLiteral("0.0.0.0")), 0);
    EXPECT_EQ(prefixLength(QStringLiteral("255.0.255.0")), -1);
}
