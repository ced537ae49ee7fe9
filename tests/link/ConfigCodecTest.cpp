// Configuration messages against bytes worked out by hand.
#include "LinkFixture.h"

using namespace vexo;

TEST(ConfigRequest, IsBuiltAsWorkedOutByHandAndParsedBack)
{
    // 10.0.0.5 / 255.255.255.0 / 10.0.0.1 / 239.1.1.1, source, type, TX and SFN 1
    const QByteArray studio = hex("0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01 01 01 01 01");
    const struct
    {
        Role role;
        const char* name; // UTF-8
        QByteArray bytes;
    } cases[] = {
        {Role::Encoder, "studio 1", studio + "STUDIO 1        "},
        {Role::Unknown, "studio 1", studio + "STUDIO 1        "},
        {Role::Decoder, "studio 1", studio + "STUDIO 1        " + hex("04 01 25 2B")},
        {Role::Encoder, "abcdefghijklmnopqrst", studio + "ABCDEFGHIJKLMNOP"},
        // "été Ω €’“–": É C9, Ω has no Windows-1252 byte: '?', € ’ “ – 80 92 93 96
        {Role::Encoder, "\xC3\xA9t\xC3\xA9 \xCE\xA9 \xE2\x82\xAC\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x93",
         studio + hex("C9 54 C9 20 3F 20 80 92 93 96 20 20 20 20 20 20")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.toHex(' ').toStdString());
        ElementConfig f; // buffer 4, silence detector 1 / 37 / 43
        ASSERT_TRUE(parseConfigRequest(studio + QByteArray(16, ' ') + hex("04 01 25 2B"), f));
        f.name = QString::fromUtf8(c.name);
        EXPECT_EQ(buildConfigRequest(f, c.role), c.bytes);
        ASSERT_TRUE(parseConfigRequest(c.bytes, f));
        EXPECT_EQ(buildConfigRequest(f, c.role), c.bytes);
    }
    ElementConfig f; // unchecked addresses go out as 0.0.0.0
    f.remote = "300.1.1.1";
    EXPECT_EQ(buildConfigRequest(f, Role::Encoder), QByteArray(20, '\0') + QByteArray(16, ' '));
    EXPECT_FALSE(parseConfigRequest(QByteArray(37, '\0'), f));
}

TEST(formatElementName, PadsCutsAndUpperCasesToSixteenCharacters)
{
    EXPECT_EQ(formatElementName("  x  "), "  X             ");
    EXPECT_EQ(formatElementName("abcdefghijklmnopqrst"), "ABCDEFGHIJKLMNOP");
    // The sharp s has no single capital; the capitals of ÿ and µ lie outside Latin-1.
    EXPECT_EQ(formatElementName(QString::fromUtf8("stra\xC3\x9F"
                                                  "e \xC3\xBF\xC2\xB5 0123456789")),
              QString::fromUtf8("STRA\xC3\x9F"
                                "E \xC3\xBF\xC2\xB5 012345"));
}

TEST(ConfigReply, EachLengthTakesItsFieldsAndKeepsOrDefaultsTheRest)
{
    const struct
    {
        QByteArray bytes;
        QList<int> fields; // role, attenuation, version, SFN, buffer, silence mode, level, time
    } cases[] = {
        // encoder: version, SFN and buffer only when longer than 41 bytes
        {replyHead("01") + hex("03 01 01 06"), {1, 99, 31, 1, 6, 7, 8, 9}},
        {replyHead("01"), {1, 99, 20, 0, 0, 7, 8, 9}},
        {replyHead("00") + hex("07"), {0, 99, 20, 0, 0, 7, 8, 9}},
        {replyHead("01") + hex("05 03"), {1, 99, 53, 0, 0, 7, 8, 9}},
        // decoder: the silence detector only when longer than 45 bytes
        {replyHead("02"), {2, 255, 20, 0, 1, 7, 8, 9}},
        {replyHead("02") + hex("C8"), {2, 200, 20, 0, 1, 7, 8, 9}},
        {replyHead("02") + hex("64 03 02 01 05"), {2, 100, 32, 1, 5, 7, 8, 9}},
        {replyHead("02") + hex("64 03 02 01 05 02"), {2, 100, 32, 1, 5, 2, 8, 9}},
        {replyHead("02") + hex("0E 04 07 01 FF 02 25 2B"), {2, 14, 47, 1, 255, 2, 37, 43}},
        {replyHead("02") + hex("0E 04 07 01 FF 02 25 2B 11 22 33 44"), {2, 14, 47, 1, 255, 2, 37, 43}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.toHex(' ').toStdString());
        ElementConfig r; // what an earlier reply left
        r.attenuation = 99, r.versionMajor = 9, r.sfn = 1, r.buffer = 77;
        r.silenceMode = 7, r.silenceLevel = 8, r.silenceTime = 9;
        ASSERT_TRUE(decodeConfigReply(c.bytes, r));
        EXPECT_EQ(QStringList({r.ip, r.mask, r.gateway, r.remote, r.name}),
                  QStringList({"10.0.0.5", "255.255.255.0", "10.0.0.1", "239.1.1.1", "STUDIO 1        "}));
        EXPECT_EQ(QList<int>({r.audioSource, r.audioType, r.txType, r.serial}), QList<int>({1, 0, 1, 32769}));
        EXPECT_EQ(QList<int>({r.role, r.attenuation, r.versionMajor * 10 + r.versionMinor, r.sfn, r.buffer,
                              r.silenceMode, r.silenceLevel, r.silenceTime}),
                  c.fields);
    }
}

TEST(ConfigReply, SerialAddressesAndNameComeFromTheirBytes)
{
    ElementConfig r;
    QByteArray d = replyHead("01");
    for (const auto& [bytes, serial] :
         {std::pair{"80 00 00 00", INT_MIN}, {"FF FF FF FF", -1}, {"01 02 03 04", 16909060}}) {
        ASSERT_TRUE(decodeConfigReply(d.replace(36, 4, hex(bytes)), r));
        EXPECT_EQ(r.serial, serial);
    }
    // One Windows-1252 byte per name character: É NUL A ÿ € ’ ... ~
    d.replace(0, 8, hex("C0 A8 01 5B 00 00 00 00"))
        .replace(19, 16, hex("C9 00 41 FF 80 92 20 20 20 20 20 20 20 20 20 7E"));
    ASSERT_TRUE(decodeConfigReply(d, r));
    EXPECT_EQ(r.ip + "/" + r.mask, "192.168.1.91/0.0.0.0");
    EXPECT_EQ(r.name, QString::fromUtf8("\xC3\x89") + QChar(0) +
                          QString::fromUtf8("A\xC3\xBF\xE2\x82\xAC\xE2\x80\x99         ~"));
    EXPECT_FALSE(decodeConfigReply(d.left(39), r));
}

TEST(CommandMessages, AttenuationIsValueThenZeroAndPagingIsTheThirtyTwoByteText)
{
    EXPECT_EQ(buildAttenuationMessage(120) + buildAttenuationMessage(255) + buildAttenuationMessage(0),
              hex("78 00 FF 00 00 00"));
    EXPECT_EQ(QByteArray(kPagingRequest, kPagingRequestSize),
              hex("49 50 4D 50 58 53 54 4C 20 4B 4F 52 56 41 4E 54 41 20 50 41 47 49 4E 47 20"
                  "52 45 51 55 45 53 54"));
}
