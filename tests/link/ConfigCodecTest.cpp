// Configuration messages against hand-computed bytes.
#include "link/ConfigCodec.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

using namespace vexo;

namespace {

ElementConfig studioEditor()
{
    ElementConfig f;
    f.ip = QStringLiteral("10.0.0.5");
    f.mask = QStringLiteral("255.255.255.0");
    f.gateway = QStringLiteral("10.0.0.1");
    f.remote = QStringLiteral("239.1.1.1");
    f.audioSource = 1; // Analog
    f.audioType = 1;   // MPX
    f.txType = 1;      // Multicast
    f.sfn = 1;
    f.name = QStringLiteral("studio 1");
    return f;
}

// 10.0.0.5 / 255.255.255.0 / 10.0.0.1 / 239.1.1.1, source 1, type 0, TX 1, name STUDIO 1 padded,
// role as given, serial 00 00 80 01 (32769): the 40 bytes every reply starts with.
QByteArray replyHead(const char* role)
{
    return hex("0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01 01 00 01"
               "53 54 55 44 49 4F 20 31 20 20 20 20 20 20 20 20") +
           hex(role) + hex("00 00 80 01");
}

} // namespace

TEST(ConfigRequest, EncoderIs36BytesWithNamePaddedAndUpperCase)
{
    // GIVEN the studio editor with role ENCODER WHEN the request is built
    const QByteArray d = buildConfigRequest(studioEditor(), QStringLiteral("ENCODER"));
    // THEN it is the 36 bytes worked out by hand
    EXPECT_EQ(d, hex("0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01 01 01 01 01"
                     "53 54 55 44 49 4F 20 31 20 20 20 20 20 20 20 20"));
}

TEST(ConfigRequest, DecoderIs40BytesEndingWithBufferAndSilenceDetector)
{
    ElementConfig f = studioEditor();
    f.buffer = 4;
    f.silenceMode = 1; // Force internal
    f.silenceLevel = 37;
    f.silenceTime = 43;
    const QByteArray d = buildConfigRequest(f, QStringLiteral("DECODER"));
    EXPECT_EQ(d, hex("0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01 01 01 01 01"
                     "53 54 55 44 49 4F 20 31 20 20 20 20 20 20 20 20 04 01 25 2B"));
}

TEST(ConfigRequest, EveryCaptionButDecoderGives36Bytes)
{
    ElementConfig f = studioEditor();
    f.buffer = 9;
    for (const char* caption : {"ENCODER", "UNKNOWN", "-", "", "decoder", "DECODER "})
        EXPECT_EQ(buildConfigRequest(f, QString::fromLatin1(caption)).size(), 36) << caption;
}

TEST(ConfigRequest, TwentyCharacterNameIsCutToSixteenInUpperCase)
{
    ElementConfig f = studioEditor();
    f.name = QStringLiteral("abcdefghijklmnopqrst");
    const QByteArray d = buildConfigRequest(f, QStringLiteral("ENCODER"));
    EXPECT_EQ(d.mid(20), hex("41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50"));
}

TEST(ConfigRequest, EmptyNameIsSixteenBlanksAndZeroAddressesAreZeroBytes)
{
    ElementConfig f;
    f.ip = f.mask = f.gateway = f.remote = QStringLiteral("0.0.0.0");
    const QByteArray d = buildConfigRequest(f, QStringLiteral("ENCODER"));
    EXPECT_EQ(d, QByteArray(20, '\0') + QByteArray(16, ' '));
}

TEST(ConfigRequest, NameCharactersAreSentAsWindows1252)
{
    ElementConfig f = studioEditor();
    // "été Ω €’“–": é -> C9, Ω has no Windows-1252 byte -> '?', € ’ “ – -> 80 92 93 96
    f.name = QString::fromUtf8("\xC3\xA9t\xC3\xA9 \xCE\xA9 \xE2\x82\xAC\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x93");
    const QByteArray d = buildConfigRequest(f, QStringLiteral("ENCODER"));
    EXPECT_EQ(d.mid(20, 11), hex("C9 54 C9 20 3F 20 80 92 93 96 20"));
}

TEST(formatElementName, PadsCutsAndUpperCases)
{
    EXPECT_EQ(formatElementName(QStringLiteral("studio 1")), QStringLiteral("STUDIO 1        "));
    EXPECT_EQ(formatElementName(QStringLiteral("abcdefghijklmnopqrst")), QStringLiteral("ABCDEFGHIJKLMNOP"));
    EXPECT_EQ(formatElementName(QString()), QString(16, QLatin1Char(' ')));
    EXPECT_EQ(formatElementName(QStringLiteral("  x  ")), QStringLiteral("  X             "));
}

TEST(formatElementName, StaysSixteenCharactersForLettersWithoutSingleCapital)
{
    // The sharp s has no single capital (whole-text upper case makes "SS" of it), and the
    // capitals of y with diaeresis and of the micro sign lie outside Latin-1.
    const QString name = QString::fromUtf8("stra\xC3\x9F"
                                           "e \xC3\xBF\xC2\xB5"
                                           "0123456789");
    const QString formatted = formatElementName(name);
    EXPECT_EQ(formatted.size(), 16);
    EXPECT_EQ(formatted, QString::fromUtf8("STRA\xC3\x9F"
                                           "E \xC3\xBF\xC2\xB5"
                                           "0123456"));
}

TEST(ConfigRequest, ParseReadsBackWhatWasBuilt)
{
    ElementConfig f = studioEditor();
    f.buffer = 4;
    f.silenceMode = 2;
    f.silenceLevel = 255;
    f.silenceTime = 0;
    ElementConfig back;
    ASSERT_TRUE(parseConfigRequest(buildConfigRequest(f, QStringLiteral("DECODER")), back));
    EXPECT_EQ(back.ip, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(back.mask, QStringLiteral("255.255.255.0"));
    EXPECT_EQ(back.gateway, QStringLiteral("10.0.0.1"));
    EXPECT_EQ(back.remote, QStringLiteral("239.1.1.1"));
    EXPECT_EQ(back.sfn, 1);
    EXPECT_EQ(back.name, QStringLiteral("STUDIO 1        "));
    EXPECT_EQ(back.silenceMode, 2);
    EXPECT_EQ(back.silenceLevel, 255);
    EXPECT_FALSE(parseConfigRequest(QByteArray(37, '\0'), back));
    EXPECT_FALSE(parseConfigRequest(QByteArray(), back));
}

TEST(ConfigReply, Encoder44BytesCarriesVersionSfnAndBuffer)
{
    ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(replyHead("01") + hex("03 01 01 06"), r));
    EXPECT_EQ(r.ip, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(r.mask, QStringLiteral("255.255.255.0"));
    EXPECT_EQ(r.gateway, QStringLiteral("10.0.0.1"));
    EXPECT_EQ(r.remote, QStringLiteral("239.1.1.1"));
    EXPECT_EQ(r.audioSource, 1);
    EXPECT_EQ(r.audioType, 0);
    EXPECT_EQ(r.txType, 1);
    EXPECT_EQ(r.name, QStringLiteral("STUDIO 1        "));
    EXPECT_EQ(r.role, 1);
    EXPECT_EQ(r.serial, 32769);
    EXPECT_EQ(r.version(), QStringLiteral("3.1"));
    EXPECT_EQ(r.sfn, 1);
    EXPECT_EQ(r.buffer, 6);
}

TEST(ConfigReply, Encoder40BytesTakesTheDefaults)
{
    ElementConfig r;
    r.versionMajor = 9;
    r.sfn = 1;
    r.buffer = 77;
    ASSERT_TRUE(decodeConfigReply(replyHead("01"), r));
    EXPECT_EQ(r.version(), QStringLiteral("2.0"));
    EXPECT_EQ(r.sfn, 0);
    EXPECT_EQ(r.buffer, 0);
}

TEST(ConfigReply, Encoder41BytesIgnoresItsExtraByte)
{
    // The encoder fields are taken only when the reply is longer than 41 bytes.
    ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(replyHead("00") + hex("07"), r));
    EXPECT_EQ(r.version(), QStringLiteral("2.0"));
    EXPECT_EQ(r.role, 0);
}

TEST(ConfigReply, Encoder42BytesTakesVersionOnly)
{
    ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(replyHead("01") + hex("05 03"), r));
    EXPECT_EQ(r.version(), QStringLiteral("5.3"));
    EXPECT_EQ(r.sfn, 0);
    EXPECT_EQ(r.buffer, 0);
}

TEST(ConfigReply, EncoderLeavesAttenuationAndSilenceDetectorOfTheEarlierReply)
{
    ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(replyHead("02") + hex("64 03 02 01 05 02 4D 09"), r));
    ASSERT_TRUE(decodeConfigReply(replyHead("01") + hex("03 01 01 06"), r));
    EXPECT_EQ(r.attenuation, 100);
    EXPECT_EQ(r.silenceMode, 2);
    EXPECT_EQ(r.silenceLevel, 77);
    EXPECT_EQ(r.silenceTime, 9);
    EXPECT_EQ(r.version(), QStringLiteral("3.1"));
}

TEST(ConfigReply, Decoder41BytesTakesAttenuationAndDefaultsAndKeepsSilenceDetector)
{
    ElementConfig r;
    r.silenceMode = 2;
    r.silenceLevel = 77;
    r.silenceTime = 9;
    ASSERT_TRUE(decodeConfigReply(replyHead("02") + hex("C8"), r));
    EXPECT_EQ(r.attenuation, 200);
    EXPECT_EQ(r.version(), QStringLiteral("2.0"));
    EXPECT_EQ(r.sfn, 0);
    EXPECT_EQ(r.buffer, 1);
    EXPECT_EQ(r.silenceMode, 2);
    EXPECT_EQ(r.silenceLevel, 77);
    EXPECT_EQ(r.silenceTime, 9);
}

TEST(ConfigReply, Decoder40BytesGivesAttenuation255AndBuffer1)
{
    ElementConfig r;
    r.attenuation = 14;
    ASSERT_TRUE(decodeConfigReply(replyHead("02"), r));
    EXPECT_EQ(r.attenuation, 255);
    EXPECT_EQ(r.version(), QStringLiteral("2.0"));
    EXPECT_EQ(r.buffer, 1);
}

TEST(ConfigReply, Decoder45BytesLeavesSilenceDetectorUntouched)
{
    ElementConfig r;
    r.silenceMode = 1;
    r.silenceLevel = 5;
    r.silenceTime = 6;
    ASSERT_TRUE(decodeConfigReply(replyHead("02") + hex("64 03 02 01 05"), r));
    EXPECT_EQ(r.attenuation, 100);
    EXPECT_EQ(r.version(), QStringLiteral("3.2"));
    EXPECT_EQ(r.sfn, 1);
    EXPECT_EQ(r.buffer, 5);
    EXPECT_EQ(r.silenceMode, 1);
    EXPECT_EQ(r.silenceLevel, 5);
    EXPECT_EQ(r.silenceTime, 6);
}

TEST(ConfigReply, Decoder46BytesTakesModeOnly)
{
    ElementConfig r;
    r.silenceMode = 1;
    r.silenceLevel = 5;
    r.silenceTime = 6;
    ASSERT_TRUE(decodeConfigReply(replyHead("02") + hex("64 03 02 01 05 02"), r));
    EXPECT_EQ(r.silenceMode, 2);
    EXPECT_EQ(r.silenceLevel, 5);
    EXPECT_EQ(r.silenceTime, 6);
}

TEST(ConfigReply, Decoder48BytesCarriesEveryField)
{
    ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(replyHead("02") + hex("0E 04 07 01 FF 02 25 2B"), r));
    EXPECT_EQ(r.attenuation, 14);
    EXPECT_EQ(r.version(), QStringLiteral("4.7"));
    EXPECT_EQ(r.sfn, 1);
    EXPECT_EQ(r.buffer, 255);
    EXPECT_EQ(r.silenceMode, 2);
    EXPECT_EQ(r.silenceLevel, 37);
    EXPECT_EQ(r.silenceTime, 43);
}

TEST(ConfigReply, BytesBeyondFortyEightAreIgnored)
{
    ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(replyHead("02") + hex("0E 04 07 01 FF 02 25 2B 11 22 33 44"), r));
    EXPECT_EQ(r.silenceTime, 43);
    EXPECT_EQ(r.serial, 32769);
}

TEST(ConfigReply, SerialIsSignedBigEndian)
{
    ElementConfig r;
    QByteArray d = replyHead("01");
    d.replace(36, 4, hex("80 00 00 00"));
    ASSERT_TRUE(decodeConfigReply(d, r));
    EXPECT_EQ(r.serial, std::numeric_limits<qint32>::min());
    d.replace(36, 4, hex("FF FF FF FF"));
    ASSERT_TRUE(decodeConfigReply(d, r));
    EXPECT_EQ(r.serial, -1);
    d.replace(36, 4, hex("7F FF FF FF"));
    ASSERT_TRUE(decodeConfigReply(d, r));
    EXPECT_EQ(r.serial, 2147483647);
    d.replace(36, 4, hex("01 02 03 04"));
    ASSERT_TRUE(decodeConfigReply(d, r));
    EXPECT_EQ(r.serial, 16909060);
}

TEST(ConfigReply, NameBytesAreSingleByteCharacters)
{
    ElementConfig r;
    QByteArray d = replyHead("01");
    d.replace(19, 16, hex("C9 00 41 FF 80 92 20 20 20 20 20 20 20 20 20 7E"));
    ASSERT_TRUE(decodeConfigReply(d, r));
    EXPECT_EQ(r.name.size(), 16);
    EXPECT_EQ(r.name.at(0), QChar(0xC9));
    EXPECT_EQ(r.name.at(1), QChar(0));
    EXPECT_EQ(r.name.at(3), QChar(0xFF));
    EXPECT_EQ(r.name.mid(4, 2), QString::fromUtf8("\xE2\x82\xAC\xE2\x80\x99")); // € ’
    EXPECT_EQ(r.name.at(15), QLatin1Char('~'));
}

TEST(ConfigReply, AddressesAreDecimalWithoutLeadingZeros)
{
    ElementConfig r;
    QByteArray d = replyHead("01");
    d.replace(0, 4, hex("C0 A8 01 5B"));
    d.replace(4, 4, hex("00 00 00 00"));
    ASSERT_TRUE(decodeConfigReply(d, r));
    EXPECT_EQ(r.ip, QStringLiteral("192.168.1.91"));
    EXPECT_EQ(r.mask, QStringLiteral("0.0.0.0"));
}

TEST(ConfigReply, ShorterThan40BytesIsRejectedAndLeavesTheRecord)
{
    ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(replyHead("02") + hex("0E 04 07 01 FF 02 25 2B"), r));
    const QByteArray head = replyHead("01");
    for (int length : {39, 36, 3, 1, 0}) {
        EXPECT_FALSE(decodeConfigReply(head.left(length), r)) << length;
        EXPECT_EQ(r.role, 2);
        EXPECT_EQ(r.attenuation, 14);
    }
}

TEST(AttenuationMessage, IsValueThenZero)
{
    EXPECT_EQ(buildAttenuationMessage(120), hex("78 00"));
    EXPECT_EQ(buildAttenuationMessage(255), hex("FF 00"));
    EXPECT_EQ(buildAttenuationMessage(14), hex("0E 00"));
    EXPECT_EQ(buildAttenuationMessage(0), hex("00 00"));
}

TEST(PagingRequest, IsTheThirtyTwoByteText)
{
    EXPECT_EQ(QByteArray(kPagingRequest, kPagingRequestSize),
              hex("49 50 4D 50 58 53 54 4C 20 4B 4F 52 56 41 4E 54 41 20 50 41 47 49 4E 47 20"
                  "52 45 51 55 45 53 54"));
    EXPECT_EQ(kConfigPort, 2976);
    EXPECT_EQ(kCommandPort, 2977);
    EXPECT_EQ(kPagingPort, 1901);
}

TEST(ConfigReplyBuilder, EncoderAndDecoderLayouts)
{
    ElementConfig r;
    r.ip = QStringLiteral("10.0.0.5");
    r.mask = QStringLiteral("255.255.255.0");
    r.gateway = QStringLiteral("10.0.0.1");
    r.remote = QStringLiteral("239.1.1.1");
    r.audioSource = 1;
    r.txType = 1;
    r.name = QStringLiteral("STUDIO 1");
    r.role = 1;
    r.serial = 32769;
    r.versionMajor = 3;
    r.versionMinor = 1;
    r.sfn = 1;
    r.buffer = 6;
    EXPECT_EQ(buildConfigReply(r), replyHead("01") + hex("03 01 01 06"));
    r.role = 2;
    r.attenuation = 14;
    r.versionMajor = 4;
    r.versionMinor = 7;
    r.buffer = 255;
    r.silenceMode = 2;
    r.silenceLevel = 37;
    r.silenceTime = 43;
    EXPECT_EQ(buildConfigReply(r), replyHead("02") + hex("0E 04 07 01 FF 02 25 2B"));
}
