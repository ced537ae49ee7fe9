// The simulated element's answers, byte for byte against hand-computed vectors.
#include "Element.h"
#include "ElementConfig.h"
#include "Lab.h"
#include "TestUtil.h"
#include "link/ConfigCodec.h"
#include "measure/MeasureCodec.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace vexo;
using namespace vexo::sim;

namespace {

const QByteArray kPaging(kPagingRequest, kPagingRequestSize);
const QString
    kEncoder = "--role 1 --name \"STUDIO 1\" --serial 32769 --version 3.1 --ip 10.0.0.5 --mask "
               "255.255.255.0 --gw 10.0.0.1 --remote 239.1.1.1 --input 1 --type 1 --tx 1 --sfn 1 --buffer 6 ",
    kDecoder = kEncoder + "--role 2 --version 2.7 --sfn 0 --buffer 4 --att 200 --sdm 1 --sdl 37 --sdt 43 ";
// 10.0.0.5 255.255.255.0 10.0.0.1 239.1.1.1, source/type/tx 01 01 01, "STUDIO 1" + 8 blanks; then
// role, serial, and for an encoder version, SFN, buffer; for a decoder att, version, SFN, buffer, silence.
#define HEAD "0A000005 FFFFFF00 0A000001 EF010101 010101 5354554449 4F2031 2020202020202020"
// 10.0.0.9 255.255.0.0 10.0.0.1 10.0.0.99, SFN 1 at 19, "NEW NAME" from 20, buffer 8, silence 02 10 20.
const QByteArray kRequest =
    hex("0A000009 FFFF0000 0A000001 0A000063 000100 01 4E455720 4E414D45 20202020 20202020 08 021020");

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
        {kEncoder, Port::Paging, kPaging, HEAD "01 00008001 0301 01 06"},
        {kDecoder, Port::Paging, kPaging, HEAD "02 00008001 C8 0207 00 04 01252B"},
        {kEncoder, Port::Paging, "IPMPXSTL KORVANTA PAGING REQUES", nullptr},
        // What it took on, in the reply layout: the name from 19.
        {kDecoder, Port::Config, kRequest,
         "0A000009 FFFF0000 0A000001 0A000063 000100 4E455720 4E414D45 20202020 20202020 02 00008001 C8 0207 "
         "01 08 "
         "021020"},
        {kEncoder, Port::Config, kRequest.left(39), nullptr},
        {kEncoder, Port::Command, buildAttenuationMessage(120), nullptr},
        {kDecoder, Port::Measure, hex("53 00 00 00 00"), nullptr},
        {kDecoder + "--silent", Port::Paging, kPaging, nullptr},
        {kDecoder + "--config-reply-length 41", Port::Paging, kPaging, HEAD "02 00008001 C8"},
        {kEncoder + "--force-serial 0", Port::Paging, kPaging, HEAD "01 00000000 0301 01 06"},
        // Role 3 puts a decoder's reply in the encoder layout.
        {kDecoder +
             "--force-role=3 --force-input=2 --force-serial -5 --force-name Other --force-ip 10.0.0.77",
         Port::Paging, kPaging,
         "0A00004D FFFFFF00 0A000001 EF010101 020101 4F74686572 202020 2020202020202020 03 FFFFFFFB 0207 00 "
         "04"},
        // A stale element answers a request with what it had before.
        {kEncoder + "--stale-reply", Port::Config, kRequest, HEAD "01 00008001 0301 01 06"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE((r.element.section("--", -1) + r.datagram.left(8).toHex(' ')).toStdString());
        const Outcome out = element(r.element).handle(r.port, r.datagram, 0);
        EXPECT_EQ(out.reply.value_or("none"), r.reply ? hex(r.reply) : QByteArray("none"));
    }
}

TEST(Element, LevelAndMeasurementRepliesFollowItsSettings)
{
    // 1440 bytes, samples of 3, 48 a period: 12 is the peak, round(8388608 * 10^(dBFS/20)) at most
    // 7FFFFF, 36 its negative; the first and the last three bytes zero.
    for (const auto& [dbfs, samples] : {std::pair{"0", "000000 7fffff 800001 000000"},
                                        {"-20", "000000 0ccccd f33333 000000"},
                                        {"-300", "000000 000000 000000 000000"}}) {
        const QByteArray d =
            *element(kEncoder + "--level-dbfs " + dbfs).handle(Port::Command, "VOL", 0).reply;
        EXPECT_EQ(d.size(), 1440);
        EXPECT_EQ(d.left(3) + d.mid(36, 3) + d.mid(108, 3) + d.right(3), hex(samples)) << dbfs;
    }
    // 250 us and auto servo set: the record carries 00 03 D0 90 at 52, no correction yet, 01 at 60.
    Element e = element(kDecoder);
    EXPECT_TRUE(e.handle(Port::Measure, hex("53 00 03 D0 90 01"), 1000).stateChanged);
    EXPECT_EQ(e.handle(Port::Measure, kGetDel, 1000).reply->mid(52).toHex(), "0003d0900000000001");
}

TEST(ElementProgram, RefusesBadOptions)
{
    QProcess sim;
    sim.start(Lab::elementBinary(), {"--role", "nine"});
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 2);
}
