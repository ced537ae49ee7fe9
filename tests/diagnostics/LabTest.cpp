// The ping test through each real ICMP facility and the MAC lookup through the real neighbour
// table, against a simulated element in a namespace lab.
#include "Lab.h"
#include "Fakes.h"
#include "TestUtil.h"
#include "diagnostics/MacLookup.h"
#include "diagnostics/PingTest.h"
#include "store/ElementStore.h"
#include "store/SelectedElement.h"

#include <QProcess>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

const QString kFreeIp = QStringLiteral("10.77.101.200");
const QString kGroupRange = QStringLiteral("/proc/sys/net/ipv4/ping_group_range");

// The echo runs on a worker thread: the station interface joins the namespace of the whole test.
class DiagnosticsLab : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const QString reason = Lab::unavailableReason(); !reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        QString error;
        ASSERT_TRUE(lab.up(0, 1, 1, &error)) << error.toStdString();
        element = lab.elements().first();
        ip({"neigh", "flush", "dev", lab.stationInterface()});
    }
    void TearDown() override { writeFile(kGroupRange, groupRange); }
    static void ip(const QStringList& args) { QProcess::execute(QStringLiteral("ip"), args); }

    Lab lab{Lab::Station::CurrentNamespace};
    Lab::Element element;
    ElementStore store{QStringLiteral("unused.ini")};
    SelectedElement selected{store};
    const QByteArray groupRange = readFile(kGroupRange);
};

} // namespace

TEST_F(DiagnosticsLab, PingThroughEachFacilityThatMayBeUsed)
{
    using F = LinuxIcmp::Facility;
    // ping_group_range, the facilities in their order -> the one that carries the echo (-1: none)
    const std::tuple<const char*, QList<F>, int> cases[] = {
        {"0 2147483647", LinuxIcmp::allFacilities(), int(F::DatagramSocket)},
        {"1 0", LinuxIcmp::allFacilities(), int(F::RawSocket)},
        {"1 0", {F::DatagramSocket, F::PingProgram}, int(F::PingProgram)},
        {"1 0", {F::DatagramSocket}, -1},
    };
    for (const auto& [range, facilities, carrier] : cases) {
        SCOPED_TRACE(carrier);
        ASSERT_TRUE(writeFile(kGroupRange, range));
        LinuxIcmp icmp(facilities);
        FakeMessageBoxes boxes;
        PingTest test(icmp, boxes, selected);
        QSignalSpy succeeded(&test, &PingTest::succeeded);
        QSignalSpy finished(&test, &PingTest::finished);
        test.ping(element.ip);
        ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }, 8000));
        EXPECT_EQ(succeeded.count(), carrier >= 0 ? 1 : 0);
        EXPECT_EQ(icmp.lastFacility(), carrier);
        EXPECT_EQ(boxes.shown.size(), carrier >= 0 ? 0 : 1);
        if (carrier != int(F::PingProgram))
            continue;
        // An address nobody answers fails after the time-out, the thread free meanwhile.
        QSignalSpy failed(&test, &PingTest::failed);
        test.ping(kFreeIp);
        EXPECT_TRUE(test.busy());
        ASSERT_TRUE(waitUntil([&] { return finished.count() == 2; }, 8000));
        EXPECT_EQ(failed.count(), 1);
    }
}

TEST_F(DiagnosticsLab, MacLookupFindsTheElementAndFollowsTheTableChangedFromOutside)
{
    NeighbourTableArp arp;
    QString mac = QStringLiteral("unchanged");
    auto lookUp = [&] { return waitUntil([&] { return getRemoteMac(arp, element.ip, "-", mac); }, 3000); };
    EXPECT_FALSE(getRemoteMac(arp, kFreeIp, "-", mac));
    EXPECT_EQ(mac, "unchanged");
    ASSERT_TRUE(lookUp());
    EXPECT_EQ(mac, QString(element.mac).replace(':', '-'));
    const QString dev = lab.stationInterface();
    ip({"neigh", "replace", element.ip, "lladdr", "02:00:00:00:00:99", "dev", dev, "nud", "permanent"});
    ASSERT_TRUE(getRemoteMac(arp, element.ip, ":", mac));
    EXPECT_EQ(mac, "02:00:00:00:00:99");
    ip({"neigh", "del", element.ip, "dev", dev});
    ASSERT_TRUE(lookUp());
    EXPECT_EQ(mac, QString(element.mac).replace(':', '-'));
}
