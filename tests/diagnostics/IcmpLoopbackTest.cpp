// The real ICMP facility on the loopback interface (the suite runs in a private namespace).
#include "diagnostics/PingTest.h"
#include "platform/Icmp.h"

#include <gtest/gtest.h>

using namespace vexo;

namespace {
constexpr quint32 kLoopback = 0x7F000001;
}

TEST(LinuxIcmpLoopback, EchoToLoopbackSucceeds)
{
    // GIVEN the facility as the application uses it
    LinuxIcmp icmp;
    ASSERT_TRUE(icmp.startup()) << "no ICMP facility at all on this machine";
    // WHEN 127.0.0.1 is pinged with "hello"
    Icmp::Reply reply;
    const qint32 status = pingHost(icmp, QStringLiteral("127.0.0.1"), reply);
    icmp.cleanup();
    // THEN it answers at once
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reply.status, 0);
    EXPECT_LT(reply.roundTripMs, 1000u);
    EXPECT_NE(icmp.lastFacility(), -1);
}

TEST(LinuxIcmpLoopback, EveryFacilityTheProcessMayUseAnswers)
{
    int tried = 0;
    for (LinuxIcmp::Facility f : LinuxIcmp::allFacilities()) {
        LinuxIcmp icmp({f});
        if (!icmp.available(f))
            continue; // e.g. datagram sockets shut out by net.ipv4.ping_group_range
        ++tried;
        const Icmp::Reply reply = icmp.echo(kLoopback, QByteArrayLiteral("hello"), 3000);
        EXPECT_EQ(reply.status, 0) << "facility " << int(f);
        EXPECT_EQ(icmp.lastFacility(), int(f));
    }
    EXPECT_GT(tried, 0);
}

TEST(LinuxIcmpLoopback, NoFacilityMeansNoStartupAndNoEcho)
{
    // GIVEN a facility list whose only entry cannot be used
    LinuxIcmp icmp({LinuxIcmp::Facility::PingProgram}, QStringLiteral("/nonexistent/ping"));
    EXPECT_FALSE(icmp.startup());
    const Icmp::Reply reply = icmp.echo(kLoopback, QByteArrayLiteral("hello"), 3000);
    EXPECT_EQ(reply.status, -1);
    EXPECT_EQ(icmp.lastFacility(), -1);
    Icmp::Reply viaPingHost;
    EXPECT_EQ(pingHost(icmp, QStringLiteral("127.0.0.1"), viaPingHost), -1);
}

TEST(LinuxIcmpLoopback, UnusableFacilityIsPassedOverForTheNextOne)
{
    LinuxIcmp icmp({LinuxIcmp::Facility::PingProgram, LinuxIcmp::Facility::RawSocket},
                   QStringLiteral("/nonexistent/ping"));
    if (!icmp.available(LinuxIcmp::Facility::RawSocket))
        GTEST_SKIP() << "this process may not open a raw ICMP socket";
    ASSERT_TRUE(icmp.startup());
    EXPECT_EQ(icmp.echo(kLoopback, QByteArrayLiteral("hello"), 3000).status, 0);
    EXPECT_EQ(icmp.lastFacility(), int(LinuxIcmp::Facility::RawSocket));
}
