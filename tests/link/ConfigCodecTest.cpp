// Configuration messages against bytes worked out by hand.
#include "LinkFixture.h"

#include <functional>
#include <limits>

using namespace vexo;

namespace {

ElementConfig studioEditor()
{
    ElementConfig f;
    f.ip = QStringLiteral("10.0.0.5");
    f.mask = QStringLiteral("255.255.255.0");
    f.gateway = QStringLiteral("10.0.0.1");
    f.remote = QStringLiteral("239.1.1.1");
    f.audioSource = f.audioType = f.txType = f.sfn = 1;
    f.buffer = 9; // only a decoder request carries it
    f.name = QStringLiteral("studio 1");
    return f;
}

const char* const kStudioRequest = "0A 00 00 05 FF FF FF 00 0A 00 00 01 EF 01 01 01 01 01 01 01"
                                   "53 54 55 44 49 4F 20 31 20 20 20 20 20 20 20 20";

} // namespace

TEST(ConfigRequest, IsBuiltAsWorkedOutByHandAndParsedBack)
{
    const struct
    {
        const char* caption;
        std::function<void(ElementConfig&)> edit;
        QByteArray bytes;
    } cases[] = {
        {"ENCODER", [](ElementConfig&) {}, hex(kStudioRequest)},
        {"decoder", [](ElementConfig&) {}, hex(kStudioRequest)},
        {"DECODER ", [](ElementConfig&) {}, hex(kStudioRequest)},
        {"DECODER",
         [](ElementConfig& f) {
             f.buffer = 4;
             f.silenceMode = 1;
             f.silenceLevel = 37;
             f.silenceTime = 43;
         },
         hex(kStudioRequest) + hex("04 01 25 2B")},
        {"ENCODER", [](ElementConfig& f) { f.name = QStringLiteral("abcdefghijklmnopqrst"); },
         hex(kStudioRequest).left(20) + "ABCDEFGHIJKLMNOP"},
        {"ENCODER",
         [](ElementConfig& f) {
             f = ElementConfig();
             f.ip = f.mask = f.gateway = QStringLiteral("0.0.0.0");
             f.remote = QStringLiteral("300.1.1.1"); // never sent unchecked: goes out as 0.0.0.0
         },
         QByteArray(20, '\0') + QByteArray(16, ' ')},
        // é -> É C9, Ω has no Windows-1252 byte -> '?', € ’ “ – -> 80 92 93 96
        {"ENCODER",
         [](ElementConfig& f) {
             f.name = QString::fromUtf8(
                 "\xC3\xA9t\xC3\xA9 \xCE\xA9 \xE2\x82\xAC\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x93");
         },
         hex(kStudioRequest).left(20) + hex("C9 54 C9 20 3F 20 80 92 93 96 20 20 20 20 20 20")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.toHex(' ').toStdString());
        ElementConfig f = studioEditor();
        c.edit(f);
        const QString caption = QString::fromLatin1(c.caption);
        EXPECT_EQ(buildConfigRequest(f, caption), c.bytes);
        ElementConfig back;
        ASSERT_TRUE(parseConfigRequest(c.bytes, back));
        EXPECT_EQ(buildConfigRequest(back, caption), c.bytes);
    }
    ElementConfig back;
    EXPECT_FALSE(parseConfigRequest(QByteArray(37, '\0'), back));
    EXPECT_FALSE(parseConfigRequest(QByteArray(), back));
}

TEST(formatElementName, PadsCutsAndUpperCasesToSixteenCharacters)
{
    const struct
    {
        QString name;
        QString formatted;
    } cases[] = {
        {QStringLiteral("studio 1"), QStringLiteral("STUDIO 1        ")},
        {QStringLiteral("abcdefghijklmnopqrst"), QStringLiteral("ABCDEFGHIJKLMNOP")},
        {QString(), QString(16, QLatin1Char(' '))},
        {QStringLiteral("  x  "), QStringLiteral("  X             ")},
        // The sharp s has no single capital; the capitals of y with diaeresis and of the micro
        // sign lie outside Latin-1: all three keep their form.
        {QString::fromUtf8("stra\xC3\x9F"
                           "e \xC3\xBF\xC2\xB5"
                           "0123456789"),
         QString::fromUtf8("STRA\xC3\x9F"
                           "E \xC3\xBF\xC2\xB5"
                           "0123456")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatElementName(c.name), c.formatted);
}

TEST(ConfigReply, EachLengthTakesItsFieldsAndKeepsOrDefaultsTheRest)
{
    const struct
    {
        QByteArray bytes;
        int role, attenuation;
        const char* version;
        int sfn, buffer, silenceMode, silenceLevel, silenceTime;
    } cases[] = {
        // encoder replies: version, SFN and buffer only when longer than 41 bytes
        {replyHead("01") + hex("03 01 01 06"), 1, 99, "3.1", 1, 6, 7, 8, 9},
        {replyHead("01"), 1, 99, "2.0", 0, 0, 7, 8, 9},
        {replyHead("00") + hex("07"), 0, 99, "2.0", 0, 0, 7, 8, 9},
        {replyHead("01") + hex("05 03"), 1, 99, "5.3", 0, 0, 7, 8, 9},
        // decoder replies: the silence detector only when longer than 45 bytes
        {replyHead("02"), 2, 255, "2.0", 0, 1, 7, 8, 9},
        {replyHead("02") + hex("C8"), 2, 200, "2.0", 0, 1, 7, 8, 9},
        {replyHead("02") + hex("64 03 02 01 05"), 2, 100, "3.2", 1, 5, 7, 8, 9},
        {replyHead("02") + hex("64 03 02 01 05 02"), 2, 100, "3.2", 1, 5, 2, 8, 9},
        {replyHead("02") + hex("0E 04 07 01 FF 02 25 2B"), 2, 14, "4.7", 1, 255, 2, 37, 43},
        {replyHead("02") + hex("0E 04 07 01 FF 02 25 2B 11 22 33 44"), 2, 14, "4.7", 1, 255, 2, 37, 43},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.toHex(' ').toStdString());
        ElementConfig r; // what an earlier reply left
        r.attenuation = 99;
        r.versionMajor = 9;
        r.sfn = 1;
        r.buffer = 77;
        r.silenceMode = 7;
        r.silenceLevel = 8;
        r.silenceTime = 9;
        ASSERT_TRUE(decodeConfigReply(c.bytes, r));
        EXPECT_EQ(QStringList({r.ip, r.mask, r.gateway, r.remote, r.name}),
                  QStringList({"10.0.0.5", "255.255.255.0", "10.0.0.1", "239.1.1.1", "STUDIO 1        "}));
        EXPECT_EQ(QList<int>({r.audioSource, r.audioType, r.txType, r.serial}), QList<int>({1, 0, 1, 32769}));
        EXPECT_EQ(QList<int>(
                      {r.role, r.attenuation, r.sfn, r.buffer, r.silenceMode, r.silenceLevel, r.silenceTime}),
                  QList<int>({c.role, c.attenuation, c.sfn, c.buffer, c.silenceMode, c.silenceLevel,
                              c.silenceTime}));
        EXPECT_EQ(r.version(), QLatin1String(c.version));
    }
}

TEST(ConfigReply, SerialAddressesAndNameAreDecodedFromTheirBytes)
{
    const struct
    {
        int offset;
        QByteArray bytes;
        std::function<void(const ElementConfig&)> check;
    } cases[] = {
        {36, hex("80 00 00 00"),
         [](const ElementConfig& r) { EXPECT_EQ(r.serial, std::numeric_limits<qint32>::min()); }},
        {36, hex("FF FF FF FF"), [](const ElementConfig& r) { EXPECT_EQ(r.serial, -1); }},
        {36, hex("01 02 03 04"), [](const ElementConfig& r) { EXPECT_EQ(r.serial, 16909060); }},
        {0, hex("C0 A8 01 5B 00 00 00 00"),
         [](const ElementConfig& r) { EXPECT_EQ(r.ip + "/" + r.mask, "192.168.1.91/0.0.0.0"); }},
        // One Windows-1252 byte per character: É, NUL, A, ÿ, €, ’ ... ~
        {19, hex("C9 00 41 FF 80 92 20 20 20 20 20 20 20 20 20 7E"),
         [](const ElementConfig& r) {
             EXPECT_EQ(r.name, QString::fromUtf8("\xC3\x89") + QChar(0) +
                                   QString::fromUtf8("A\xC3\xBF\xE2\x82\xAC\xE2\x80\x99         ~"));
         }},
    };
    for (const auto& c : cases) {
        ElementConfig r;
        ASSERT_TRUE(decodeConfigReply(replyHead("01").replace(c.offset, c.bytes.size(), c.bytes), r));
        c.check(r);
    }
}

TEST(ConfigReply, ShorterThan40BytesIsRejectedAndLeavesTheRecord)
{
    ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(replyHead("02") + hex("0E 04 07 01 FF 02 25 2B"), r));
    for (int length : {39, 3, 0}) {
        EXPECT_FALSE(decodeConfigReply(replyHead("01").left(length), r)) << length;
        EXPECT_EQ(r.role, 2);
        EXPECT_EQ(r.attenuation, 14);
    }
}

TEST(ConfigReply, ElementRepliesAreBuiltInBothLayouts)
{
    ElementConfig r;
    ASSERT_TRUE(decodeConfigReply(replyHead("01") + hex("03 01 01 06"), r));
    EXPECT_EQ(buildConfigReply(r), replyHead("01") + hex("03 01 01 06"));
    ASSERT_TRUE(decodeConfigReply(replyHead("02") + hex("0E 04 07 01 FF 02 25 2B"), r));
    EXPECT_EQ(buildConfigReply(r), replyHead("02") + hex("0E 04 07 01 FF 02 25 2B"));
}

TEST(CommandMessages, AttenuationIsValueThenZeroAndPagingIsTheThirtyTwoByteText)
{
    EXPECT_EQ(buildAttenuationMessage(120) + buildAttenuationMessage(255) + buildAttenuationMessage(0),
              hex("78 00 FF 00 00 00"));
    EXPECT_EQ(QByteArray(kPagingRequest, kPagingRequestSize),
              hex("49 50 4D 50 58 53 54 4C 20 4B 4F 52 56 41 4E 54 41 20 50 41 47 49 4E 47 20"
                  "52 45 51 55 45 53 54"));
}
