// The MAC lookup, the ping test and the level monitor against scripted services and by hand; the
// ICMP facilities and the neighbour table against a simulated element in a lab.
#include "diagnostics/LevelMonitor.h"
#include "diagnostics/MacLookup.h"
#include "diagnostics/PingTest.h"
#include "store/ElementStore.h"

#include "Fakes.h"
#include "Lab.h"
#include "TestUtil.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

// 480 samples of `fill` (1440 bytes), with three bytes placed at an offset.
QByteArray levelReply(const char* fill, int offset = 0, const char* placed = nullptr)
{
    QByteArray reply = hex(fill).repeated(480);
    if (placed)
        reply.replace(offset, 3, hex(placed));
    return reply;
}

} // namespace

TEST(getRemoteMac, AnswersAndRefusals)
{
    // The service holds `answer` for 10.0.0.2 (host order) and for 0.0.0.0, 10.0.0.0 and the
    // all-ones address, which are never asked for.
    // address, answer, delimiter -> found, the text ("unchanged": left alone), the service asked
    const std::tuple<const char*, const char*, const char*, bool, const char*, bool> cases[] = {
        {"10.0.0.2", "00 50 C2 0A 0B 0C", ":", true, "00:50:C2:0A:0B:0C", true},
        {" 10. 0.0 .2 ", "AB CD EF FF 9A 10", "-", true, "AB-CD-EF-FF-9A-10", true},
        {"010.000.000.002", "01 02 03 04 05 0F", "", true, "01020304050F", true}, // decimal
        {"10.0.0.2", "01 02 03 04", ":", true, "", true},
        {"10.0.0.2", "01 02 03 04 05 06 07", ":", true, "", true},
        {"10.0.0.2", "00 00 00 00 0B 0C", ":", false, "unchanged", true}, // no hardware address
        {"10.0.0.2", "", ":", false, "unchanged", true},
        {"10.0.0.3", "00 50 C2 0A 0B 0C", ":", false, "unchanged", true},
        {"0.0.0.0", "00 50 C2 0A 0B 0C", ":", false, "unchanged", false},
        {"255.255.255.255", "00 50 C2 0A 0B 0C", ":", false, "unchanged", false},
        {"10.0.0", "00 50 C2 0A 0B 0C", ":", false, "unchanged", false},
        {"0x0A.0.0.2", "00 50 C2 0A 0B 0C", ":", false, "unchanged", false},
    };
    for (const auto& [ip, answer, delimiter, found, text, asked] : cases) {
        FakeArp arp;
        for (quint32 address : {0x0A000002u, 0u, 0x0A000000u, 0xFFFFFFFFu})
            arp.table[address] = hex(answer);
        QString mac = QStringLiteral("unchanged");
        EXPECT_EQ(getRemoteMac(arp, ip, delimiter, mac), found) << ip;
        EXPECT_EQ(mac, text) << ip;
        EXPECT_EQ(arp.calls, asked ? 1 : 0) << ip;
    }
}

TEST(LevelMonitor, PeakBarAndTextOfALevelReply)
{
    const std::tuple<QByteArray, qint32, int, const char*> cases[] = {
        {levelReply("00 00 00", 0, "7F FF FF"), 8388607, 2100, "0dBFS"},
        {levelReply("10 00 00", 300, "40 00 00"), 4194304, 1050, "-6dBFS"},
        {levelReply("00 00 00", 3, "20 00 00"), 2097152, 525, "-12dBFS"},
        {levelReply("00 00 00", 9, "00 00 01"), 1, 0, "-138.5dBFS"},
        {levelReply("80 00 00", 6, "FF FF FF"), 0, 0, "-oodBFS"},    // negative half only
        {levelReply("00 00 00", 1437, "7F FF FF"), 0, 0, "-oodBFS"}, // the 480th sample is not read
        {levelReply("00 00 00", 1434, "00 01 00"), 256, 0, "-90.3dBFS"},
        {hex("00 10 00 7F"), 4096, 1, "-66.2dBFS"}, // a short reply: whole samples only
    };
    for (const auto& [reply, peak, twips, text] : cases) {
        EXPECT_EQ(peakLevelOf(reply), peak) << text;
        EXPECT_EQ(meterWidthTwips(peak), twips) << text;
        EXPECT_EQ(levelText(peak), text);
    }
    EXPECT_EQ(levelText(3000000, QLocale(QLocale::German)), "-8,9dBFS");
}

TEST(LevelMonitor, AReadingThatArrivesAfterTheStopLeavesTheDisplayBlank)
{
    LevelMonitor monitor;
    QSignalSpy levels(&monitor, &LevelMonitor::levelChanged);
    monitor.start();
    monitor.applyPeak(4194304);
    monitor.stop();
    monitor.applyPeak(4194304); // a reply still under way
    EXPECT_EQ(monitor.peakLevel(), 4194304);
    ASSERT_EQ(levels.size(), 3);
    EXPECT_EQ(QList<int>({levels[0][0].toInt(), levels[1][0].toInt(), levels[2][0].toInt()}),
              QList<int>({4194304, 0, 0}));
}

TEST(DiagnosticsLab, PingThroughEachFacilityAndMacLookupThroughTheNeighbourTable)
{
    if (const QString reason = Lab::unavailableReason(); !reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    // The echo runs on a worker thread: the station interface joins the whole test's namespace.
    Lab lab(Lab::Station::CurrentNamespace);
    QString error;
    ASSERT_TRUE(lab.up(0, 1, 1, &error)) << error.toStdString();
    const Lab::Element element = lab.elements().first();
    const QString kFreeIp = QStringLiteral("10.77.101.200"), dev = lab.stationInterface();
    auto ip = [](const QStringList& args) { QProcess::execute(QStringLiteral("ip"), args); };
    const QString kGroupRange = QStringLiteral("/proc/sys/net/ipv4/ping_group_range");
    const QByteArray groupRange = readFile(kGroupRange);
    using F = LinuxIcmp::Facility;
    const QList<F> all = LinuxIcmp::allFacilities();
    // ping_group_range, facilities in order, element or free address -> the carrier (-1: none), success
    const std::tuple<const char*, QList<F>, bool, int, bool> cases[] = {
        {"0 2147483647", all, true, int(F::DatagramSocket), true},
        {"1 0", all, true, int(F::RawSocket), true},
        {"1 0", {F::DatagramSocket, F::PingProgram}, true, int(F::PingProgram), true},
        {"1 0", all, false, int(F::RawSocket), false}, // no answer within the time-out
        {"1 0", {F::DatagramSocket}, true, -1, false},
    };
    for (const auto& [range, facilities, toElement, carrier, succeeds] : cases) {
        SCOPED_TRACE(carrier);
        ASSERT_TRUE(writeFile(kGroupRange, range));
        LinuxIcmp icmp(facilities);
        // The element answers at once; the free address never does.
        const PingOutcome o = pingAddress(icmp, toElement ? element.ip : kFreeIp, 300);
        EXPECT_EQ(o.result, succeeds       ? PingOutcome::Result::Replied
                            : carrier >= 0 ? PingOutcome::Result::Failed
                                           : PingOutcome::Result::NoIcmp);
        EXPECT_EQ(icmp.lastFacility(), carrier);
    }
    writeFile(kGroupRange, groupRange);
    // A neighbour table that does not know the element yet, then changed from outside.
    ip({"neigh", "flush", "dev", dev});
    NeighbourTableArp arp;
    QString mac = QStringLiteral("unchanged");
    auto lookUp = [&] { return waitUntil([&] { return getRemoteMac(arp, element.ip, "-", mac); }, 3000); };
    EXPECT_FALSE(getRemoteMac(arp, kFreeIp, "-", mac));
    EXPECT_EQ(mac, "unchanged");
    ASSERT_TRUE(lookUp());
    EXPECT_EQ(mac, QString(element.mac).replace(':', '-'));
    ip({"neigh", "replace", element.ip, "lladdr", "02:00:00:00:00:99", "dev", dev, "nud", "permanent"});
    ASSERT_TRUE(getRemoteMac(arp, element.ip, ":", mac));
    EXPECT_EQ(mac, "02:00:00:00:00:99");
    ip({"neigh", "del", element.ip, "dev", dev});
    ASSERT_TRUE(lookUp());
    EXPECT_EQ(mac, QString(element.mac).replace(':', '-'));
}
