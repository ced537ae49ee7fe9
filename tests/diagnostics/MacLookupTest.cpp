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
class RecordingArp : public Arp
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

} // namespace

TEST(makeMacText, TwoUpperCaseDigitsPerByteJoinedByTheDelimiter)
{
    const struct
    {
        const char* bytes;
        const char* delimiter;
        const char* text;
    } cases[] = {
        {"00 50 C2 0A 0B 0C", ":", "00:50:C2:0A:0B:0C"},
        {"00 50 C2 0A 0B 0C", "-", "00-50-C2-0A-0B-0C"},
        {"00 50 C2 0A 0B 0C", "", "0050C20A0B0C"},
        {"01 02 03 04 05 0F", ":", "01:02:03:04:05:0F"},
        {"AB CD EF FF 9A 10", ":", "AB:CD:EF:FF:9A:10"},
        {"00 50 C2 0A 0B", ":", ""},
        {"00 50 C2 0A 0B 0C 0D", ":", ""},
        {"", ":", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(makeMacText(hex(c.bytes), QString::fromLatin1(c.delimiter)), QString::fromLatin1(c.text))
            << c.bytes;
}

TEST(getRemoteMac, AnswersAndRefusals)
{
    // The service knows 10.0.0.2 and would answer for 0.0.0.0, 10.0.0.0 (what a short form could
    // be taken for) and the all-ones address; it is asked in host byte order.
    const struct
    {
        const char* ip;
        const char* answer; // what the service holds for the address; nullptr: unknown
        bool found;
        const char* mac; // "unchanged" when the out-parameter is left alone
        bool asked;
    } cases[] = {
        {"10.0.0.2", "00 50 C2 0A 0B 0C", true, "00:50:C2:0A:0B:0C", true},
        {" 10. 0.0 .2 ", "00 50 C2 0A 0B 0C", true, "00:50:C2:0A:0B:0C", true},
        {"10.0.0.2", "00 00 00 01 00 00", true, "00:00:00:01:00:00", true},
        {"10.0.0.2", "01 02 03 04", true, "", true},
        {"10.0.0.2", "01 02 03 04 05 06 07 08", true, "", true},
        {"10.0.0.2", "00 00 00 00 0B 0C", false, "unchanged", true},
        {"10.0.0.2", "", false, "unchanged", true},
        {"10.0.0.3", nullptr, false, "unchanged", true},
        {"0.0.0.0", "00 50 C2 0A 0B 0C", false, "unchanged", false},
        {"255.255.255.255", "00 50 C2 0A 0B 0C", false, "unchanged", false},
        {"10.0.0", "00 50 C2 0A 0B 0C", false, "unchanged", false},
    };
    for (const auto& c : cases) {
        RecordingArp arp;
        quint32 address = 0;
        const bool converts = parseIPv4(QString::fromLatin1(c.ip), address);
        if (c.answer)
            arp.table[converts ? address : 0x0A000000] = hex(c.answer);
        QString mac = QStringLiteral("unchanged");
        EXPECT_EQ(getRemoteMac(arp, QString::fromLatin1(c.ip), QStringLiteral(":"), mac), c.found) << c.ip;
        EXPECT_EQ(mac, QString::fromLatin1(c.mac)) << c.ip;
        EXPECT_EQ(arp.asked, c.asked ? QList<quint32>{address} : QList<quint32>{}) << c.ip;
    }
    for (const char* text : {"10.0.0.0.1", "", "abc", "10.0.0.256", "10.0.x.2", "10..0.2", "-1.0.0.2"}) {
        RecordingArp arp;
        QString mac;
        EXPECT_FALSE(getRemoteMac(arp, QString::fromLatin1(text), QStringLiteral(":"), mac)) << text;
        EXPECT_TRUE(arp.asked.isEmpty()) << text;
    }
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
