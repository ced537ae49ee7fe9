// MAC text building and the lookup's handling of addresses, against a scripted ARP service.
#include "diagnostics/MacLookup.h"
#include "platform/Arp.h"

#include <QList>
#include <QMap>

#include <gtest/gtest.h>

#include "TestUtil.h"

using namespace vexo;

namespace {

// Answers from a table; records every address it was asked for.
class FakeArp : public Arp
{
public:
    bool resolve(quint32 ipv4, QByteArray& hw) override
    {
        asked << ipv4;
        if (!table.contains(ipv4))
            return false;
        hw = table.value(ipv4);
        return true;
    }
    QMap<quint32, QByteArray> table;
    QList<quint32> asked;
};

constexpr quint32 kElement = 0x0A000002; // 10.0.0.2

} // namespace

TEST(makeMacText, SixBytesWithColonGiveTheSeventeenCharacterText)
{
    // GIVEN the bytes 00 50 C2 0A 0B 0C
    // WHEN they are written with ":"
    // THEN each byte is two upper-case digits, joined by the delimiter
    EXPECT_EQ(makeMacText(hex("00 50 C2 0A 0B 0C"), QStringLiteral(":")),
              QStringLiteral("00:50:C2:0A:0B:0C"));
}

TEST(makeMacText, DelimiterIsTheCallersChoice)
{
    EXPECT_EQ(makeMacText(hex("00 50 C2 0A 0B 0C"), QStringLiteral("-")),
              QStringLiteral("00-50-C2-0A-0B-0C"));
    EXPECT_EQ(makeMacText(hex("00 50 C2 0A 0B 0C"), QString()), QStringLiteral("0050C20A0B0C"));
}

TEST(makeMacText, ValuesBelowSixteenKeepTheirLeadingZero)
{
    EXPECT_EQ(makeMacText(hex("01 02 03 04 05 0F"), QStringLiteral(":")),
              QStringLiteral("01:02:03:04:05:0F"));
    EXPECT_EQ(makeMacText(hex("00 00 00 00 00 00"), QStringLiteral(":")),
              QStringLiteral("00:00:00:00:00:00"));
}

TEST(makeMacText, HexDigitsAreUpperCase)
{
    EXPECT_EQ(makeMacText(hex("AB CD EF FF 9A 10"), QStringLiteral(":")),
              QStringLiteral("AB:CD:EF:FF:9A:10"));
}

TEST(makeMacText, AnyLengthButSixGivesTheEmptyText)
{
    EXPECT_EQ(makeMacText(hex("00 50 C2 0A 0B"), QStringLiteral(":")), QString());
    EXPECT_EQ(makeMacText(hex("00 50 C2 0A 0B 0C 0D"), QStringLiteral(":")), QString());
    EXPECT_EQ(makeMacText(QByteArray(), QStringLiteral(":")), QString());
}

TEST(getRemoteMac, KnownHostGivesItsMacText)
{
    // GIVEN an ARP service that knows 10.0.0.2
    FakeArp arp;
    arp.table[kElement] = hex("00 50 C2 0A 0B 0C");
    QString mac = QStringLiteral("unchanged");
    // WHEN the lookup asks for it
    // THEN it succeeds with the text and asked for the address in host byte order
    ASSERT_TRUE(getRemoteMac(arp, QStringLiteral("10.0.0.2"), QStringLiteral(":"), mac));
    EXPECT_EQ(mac, QStringLiteral("00:50:C2:0A:0B:0C"));
    EXPECT_EQ(arp.asked, QList<quint32>{kElement});
    ASSERT_TRUE(getRemoteMac(arp, QStringLiteral("10.0.0.2"), QStringLiteral("-"), mac));
    EXPECT_EQ(mac, QStringLiteral("00-50-C2-0A-0B-0C"));
}

TEST(getRemoteMac, AddressZeroIsRefusedWithoutAsking)
{
    FakeArp arp;
    arp.table[0] = hex("00 50 C2 0A 0B 0C");
    QString mac = QStringLiteral("unchanged");
    EXPECT_FALSE(getRemoteMac(arp, QStringLiteral("0.0.0.0"), QStringLiteral(":"), mac));
    EXPECT_TRUE(arp.asked.isEmpty());
    EXPECT_EQ(mac, QStringLiteral("unchanged"));
}

TEST(getRemoteMac, TextsThatAreNoAddressAreRefusedWithoutAsking)
{
    // GIVEN a service that would answer for 10.0.0.0 (what a short form could be taken for)
    FakeArp arp;
    arp.table[0x0A000000] = hex("00 50 C2 0A 0B 0C");
    arp.table[0xFFFFFFFF] = hex("00 50 C2 0A 0B 0C");
    QString mac = QStringLiteral("unchanged");
    for (const char* text : {"10.0.0", "10.0.0.0.1", "", "abc", "10.0.0.256", "10.0.x.2", "10..0.2",
                             "255.255.255.255", "-1.0.0.2"}) {
        EXPECT_FALSE(getRemoteMac(arp, QString::fromLatin1(text), QStringLiteral(":"), mac)) << text;
    }
    EXPECT_TRUE(arp.asked.isEmpty());
    EXPECT_EQ(mac, QStringLiteral("unchanged"));
}

TEST(getRemoteMac, BlanksAroundPartsAreAcceptedAsTheAddressCheckAcceptsThem)
{
    FakeArp arp;
    arp.table[kElement] = hex("00 50 C2 0A 0B 0C");
    QString mac;
    EXPECT_TRUE(getRemoteMac(arp, QStringLiteral(" 10. 0.0 .2 "), QStringLiteral(":"), mac));
    EXPECT_EQ(mac, QStringLiteral("00:50:C2:0A:0B:0C"));
}

TEST(getRemoteMac, UnresolvedHostGivesFalseAndLeavesTheTextAlone)
{
    FakeArp arp;
    QString mac = QStringLiteral("unchanged");
    EXPECT_FALSE(getRemoteMac(arp, QStringLiteral("10.0.0.3"), QStringLiteral(":"), mac));
    EXPECT_EQ(arp.asked, QList<quint32>{0x0A000003});
    EXPECT_EQ(mac, QStringLiteral("unchanged"));
}

TEST(getRemoteMac, AddressOfAnotherLengthGivesTrueWithEmptyText)
{
    FakeArp arp;
    arp.table[kElement] = hex("01 02 03 04");
    arp.table[0x0A000003] = hex("01 02 03 04 05 06 07 08");
    QString mac = QStringLiteral("unchanged");
    EXPECT_TRUE(getRemoteMac(arp, QStringLiteral("10.0.0.2"), QStringLiteral(":"), mac));
    EXPECT_EQ(mac, QString());
    mac = QStringLiteral("unchanged");
    EXPECT_TRUE(getRemoteMac(arp, QStringLiteral("10.0.0.3"), QStringLiteral(":"), mac));
    EXPECT_EQ(mac, QString());
}

TEST(getRemoteMac, AnswerWhoseFirstFourBytesAreZeroIsNoAnswer)
{
    FakeArp arp;
    arp.table[kElement] = hex("00 00 00 00 0B 0C");
    arp.table[0x0A000003] = QByteArray();
    QString mac = QStringLiteral("unchanged");
    EXPECT_FALSE(getRemoteMac(arp, QStringLiteral("10.0.0.2"), QStringLiteral(":"), mac));
    EXPECT_FALSE(getRemoteMac(arp, QStringLiteral("10.0.0.3"), QStringLiteral(":"), mac));
    EXPECT_EQ(mac, QStringLiteral("unchanged"));
    // ...while a zero in the last two bytes is an ordinary address
    arp.table[kElement] = hex("00 00 00 01 00 00");
    EXPECT_TRUE(getRemoteMac(arp, QStringLiteral("10.0.0.2"), QStringLiteral(":"), mac));
    EXPECT_EQ(mac, QStringLiteral("00:00:00:01:00:00"));
}

TEST(ParseIPv4, FourDecimalPartsInHostOrder)
{
    quint32 a = 7;
    ASSERT_TRUE(parseIPv4(QStringLiteral("192.168.1.20"), a));
    EXPECT_EQ(a, 0xC0A80114u);
    ASSERT_TRUE(parseIPv4(QStringLiteral("010.000.000.001"), a)); // decimal, not octal
    EXPECT_EQ(a, 0x0A000001u);
    ASSERT_TRUE(parseIPv4(QStringLiteral("255.255.255.255"), a));
    EXPECT_EQ(a, 0xFFFFFFFFu);
    a = 7;
    EXPECT_FALSE(parseIPv4(QStringLiteral("0x0A.0.0.1"), a));
    EXPECT_FALSE(parseIPv4(QStringLiteral("10.1"), a));
    EXPECT_FALSE(parseIPv4(QStringLiteral("167772161"), a));
    EXPECT_FALSE(parseIPv4(QStringLiteral("10.0.0.1000000000000"), a));
    EXPECT_EQ(a, 7u);
}
