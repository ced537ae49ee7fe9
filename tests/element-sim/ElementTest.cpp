// The simulated element's answers, byte for byte against hand-computed vectors.
#include "Element.h"
#include "ElementConfig.h"
#include "TestUtil.h"
#include "link/ConfigCodec.h"
#include "measure/MeasureCodec.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace vexo;
using namespace vexo::sim;

namespace {

const QByteArray kPaging(kPagingRequest, kPagingRequestSize);
const QString kEncoder =
    "--role 1 --name \"STUDIO 1\" --serial 32769 --version 3.1 --ip 10.0.0.5 --mask 255.255.255.0 "
    "--gw 10.0.0.1 --remote 239.1.1.1 --input 1 --type 1 --tx 1 --sfn 1 --buffer 6 ";
const QString kDecoder =
    kEncoder + "--role 2 --version 2.7 --sfn 0 --buffer 4 --att 200 --sdm 1 --sdl 37 --sdt 43 ";
// 10.0.0.5 255.255.255.0 10.0.0.1 239.1.1.1, source/type/tx 01 01 01, "STUDIO 1" + 8 blanks.
#define HEAD                                                                                                 \
    "0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01 01 01 01 53 54 55 44 49 4F 20 31 20 20 20 20 20 20 20 " \
    "20"
// A 40-byte request: 10.0.0.9 255.255.0.0 10.0.0.1 10.0.0.99, SFN 1, "NEW NAME", buffer 8, silence 02 10 20.
const QByteArray kRequest = hex("0A 00 00 09 FF FF 00 00 0A 00 00 01 0A 00 00 63 00 01 00 01 "
                                "4E 45 57 20 4E 41 4D 45 20 20 20 20 20 20 20 20 08 02 10 20");

// An element made from options as on the simulator's command line.
Element element(const QString& args)
{
    QJsonObject o;
    sim::ElementConfig c;
    QString error;
    EXPECT_TRUE(argsToJson(QProcess::splitCommand(args), o, nullptr, &error) && applyJson(o, c, &error))
        << error.toStdString();
    return Element(c, 3, 0);
}

} // namespace

TEST(Element, AnswersByteForByte)
{
    const struct
    {
        QString element;
        Port port;
        QByteArray datagram;
        const char* reply; // nullptr: no answer
    } rows[] = {
        {kEncoder, Port::Paging, kPaging, HEAD " 01 00 00 80 01 03 01 01 06"},
        {kDecoder, Port::Paging, kPaging, HEAD " 02 00 00 80 01 C8 02 07 00 04 01 25 2B"},
        {kEncoder, Port::Paging, "IPMPXSTL KORVANTA PAGING REQUES", nullptr},
        {kEncoder, Port::Paging, "ipmpxstl korvanta paging request", nullptr},
        {kEncoder, Port::Paging, kPaging + '\0', nullptr},
        // What it took on, in the reply layout (name from 19, the decoder's bytes at the end).
        {kDecoder, Port::Config, kRequest,
         "0A 00 00 09 FF FF 00 00 0A 00 00 01 0A 00 00 63 00 01 00 4E 45 57 20 4E 41 4D 45 20 20 20 20 20 20 "
         "20 "
         "20 02 00 00 80 01 C8 02 07 01 08 02 10 20"},
        {kEncoder, Port::Config, kRequest.left(39), nullptr},
        {kEncoder, Port::Config, kRequest + '\0', nullptr},
        {kEncoder, Port::Command, buildAttenuationMessage(120), nullptr},
        {kDecoder, Port::Measure, "GetStatsX", nullptr},
        {kDecoder, Port::Measure, hex("53 00 00 00 00"), nullptr},
        {kDecoder + "--silent", Port::Paging, kPaging, nullptr},
        {kDecoder + "--silent", Port::Measure, kGetStats, nullptr},
        {kDecoder + "--config-reply-length 41", Port::Paging, kPaging, HEAD " 02 00 00 80 01 C8"},
        {kEncoder + "--config-reply-length 46", Port::Paging, kPaging,
         HEAD " 01 00 00 80 01 03 01 01 06 00 00"},
        {kEncoder + "--force-serial 0", Port::Paging, kPaging, HEAD " 01 00 00 00 00 03 01 01 06"},
        // Role 3 puts a decoder's reply in the encoder layout.
        {kDecoder +
             "--force-role=3 --force-input=2 --force-serial -5 --force-name Other --force-ip 10.0.0.77",
         Port::Paging, kPaging,
         "0A 00 00 4D FF FF FF 00 0A 00 00 01 EF 01 01 01 02 01 01 4F 74 68 65 72 20 20 20 20 20 20 20 20 20 "
         "20 "
         "20 03 FF FF FF FB 02 07 00 04"},
        // A stale element answers a request with what it had before.
        {kEncoder + "--stale-reply", Port::Config, kRequest, HEAD " 01 00 00 80 01 03 01 01 06"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE((r.element.section("--", -1) + r.datagram.left(8).toHex(' ')).toStdString());
        const Outcome out = element(r.element).handle(r.port, r.datagram, 0);
        EXPECT_EQ(out.reply.value_or("none"), r.reply ? hex(r.reply) : QByteArray("none"));
    }
}

TEST(Element, TakesOnWhatItIsSentAndAsksToMove)
{
    Element e = element(kDecoder + "--delay-ms 750");
    EXPECT_TRUE(e.handle(Port::Command, buildAttenuationMessage(120), 0).stateChanged);
    EXPECT_EQ(quint8(e.configReply()[40]), 0x78);
    const Outcome out = e.handle(Port::Config, kRequest, 0);
    EXPECT_EQ(out.delayMs, 750);
    EXPECT_EQ(out.previousIp.value_or("none"), "10.0.0.5");
    EXPECT_EQ(e.stateJson()["ip"].toString(), "10.0.0.9");
    EXPECT_EQ(e.stateJson()["config-requests"].toInt(), 1);
}

TEST(Element, LevelReplyIsAToneWithThePeakOfItsLevel)
{
    // 1440 bytes, samples of 3, 48 a period: 12 is the peak, round(8388608 * 10^(dBFS/20)) at most
    // 7FFFFF, 36 its negative; the first and the last three bytes zero.
    const char* rows[][3] = {{"0", "7fffff", "800001"},
                             {"-6", "4026e7", "bfd919"},
                             {"-12", "2026f3", "dfd90d"},
                             {"-138.5", "000001", "ffffff"},
                             {"-300", "000000", "000000"}};
    for (const auto& [dbfs, peak, trough] : rows) {
        const QByteArray d =
            *element(kEncoder + "--level-dbfs " + dbfs).handle(Port::Command, "VOL", 0).reply;
        EXPECT_EQ(d.size(), 1440);
        EXPECT_EQ(d.left(3).toHex() + d.mid(36, 3).toHex() + d.mid(108, 3).toHex() + d.right(3).toHex(),
                  QByteArray("000000") + peak + trough + "000000")
            << dbfs;
    }
    // round(2107123 * sin(2 pi / 48)) = 275035
    EXPECT_EQ(element(kEncoder).handle(Port::Command, "VOL", 0).reply->mid(3, 3).toHex(), "04325b");
}

TEST(Element, MeasurementsGrowWithTimeAndTheServoConverges)
{
    // GIVEN a decoder with a steady 350 us path and a 1 ms servo target, started at t = 0
    Element e = element(kDecoder + "--latency-ns 350000 --jitter-ns 0");
    const auto at = [&](const QByteArray& request, int t) {
        return decodeMeasurementRecord(*e.handle(Port::Measure, request, t).reply);
    };
    // THEN after 10 s: 1000 audio frames and 8 PTP syncs a second; counted again from a reset
    const MeasurementValues a = at(kGetStats, 10000);
    EXPECT_NEAR(a.rxAudioFramesOk, 10000, 10);
    EXPECT_NEAR(a.ptpSyncOk + a.ptpSyncErr, 80, 1);
    EXPECT_EQ(a.propagationDelayAverage, 350000);
    EXPECT_FALSE(e.handle(Port::Measure, kRstStats, 10000).reply);
    EXPECT_NEAR(at(kGetStats, 11000).rxAudioFramesOk, 1000, 5);
    // WHEN 250 us and auto servo are set THEN the record carries 00 03 D0 90 at 52, no correction yet, 01 at
    // 60
    EXPECT_TRUE(e.handle(Port::Measure, hex("53 00 03 D0 90 01"), 11000).stateChanged);
    EXPECT_EQ(e.handle(Port::Measure, kGetDel, 11000).reply->mid(52).toHex(), "0003d0900000000001");
    // AND the servo moves towards 1000000 - 350000 - 250000
    EXPECT_GT(at(kGetDel, 12000).autoServoValue, 0);
    EXPECT_LT(at(kGetDel, 12000).autoServoValue, at(kGetDel, 30000).autoServoValue - 1000);
    EXPECT_NEAR(at(kGetDel, 41000).autoServoValue, 400000, 100);
}
