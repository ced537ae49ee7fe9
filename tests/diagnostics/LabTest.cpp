// Ping and MAC lookup against a real neighbour in a namespace lab the test builds itself:
// the test's own (private) namespace and one element namespace, joined by a veth pair.
#include "diagnostics/MacLookup.h"
#include "diagnostics/PingTest.h"
#include "platform/Arp.h"
#include "platform/Icmp.h"
#include "store/ElementStore.h"
#include "store/SelectedElement.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "Fakes.h"
#include "TestUtil.h"

using namespace vexo;

namespace {

struct Command
{
    int code = -1;
    QString output;
};

Command run(const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(args.first(), args.mid(1));
    Command c;
    if (!p.waitForStarted(5000) || !p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(1000);
        c.output = QStringLiteral("did not run: ") + args.join(QLatin1Char(' '));
        return c;
    }
    c.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    c.output = QString::fromLocal8Bit(p.readAll());
    return c;
}

// Why this process must not build a lab here; empty when it may.
QString labRefusal()
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root to build a namespace lab");
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        return QStringLiteral("the ip program (iproute2) is missing");
    struct stat self
    {
    }, initial{};
    if (::stat("/proc/self/ns/net", &self) == 0 && ::stat("/proc/1/ns/net", &initial) == 0) {
        if (self.st_ino == initial.st_ino && self.st_dev == initial.st_dev)
            return QStringLiteral("running in the machine's initial network namespace (use scripts/test)");
        return {};
    }
    // The initial namespace cannot be looked at (no access to process 1): accept only a namespace
    // that has nothing but loopback, which is what a private one starts with and which reaches
    // no network whatever happens.
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        if (!(i.flags() & QNetworkInterface::IsLoopBack))
            return QStringLiteral(
                       "cannot tell this network namespace from the machine's (interface %1 present)")
                .arg(i.name());
    }
    return {};
}

struct Lab
{
    QString ns, hostIf, elementIf, hostIp, elementIp, freeIp;
    QString elementMac = QStringLiteral("02:78:0a:0b:0c:0d");
    QString skip;  // lab cannot be built here
    QString error; // lab should have been built but was not
    bool created = false;

    void build()
    {
        const qint64 pid = ::getpid();
        ns = QStringLiteral("vxdiag%1").arg(pid);
        hostIf = QStringLiteral("vdh%1").arg(pid);
        elementIf = QStringLiteral("vde%1").arg(pid);
        const QString net = QStringLiteral("10.78.%1.").arg(1 + pid % 250);
        hostIp = net + QStringLiteral("1");
        elementIp = net + QStringLiteral("2");
        freeIp = net + QStringLiteral("3");
        teardown(); // leftovers of an earlier run with the same pid
        removeOrphans();

        const Command add = run({QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("add"), ns});
        if (add.code != 0) {
            skip = QStringLiteral("cannot create a network namespace here: ") + add.output.trimmed();
            return;
        }
        created = true;
        const QList<QStringList> steps = {
            {"ip", "link", "add", hostIf, "type", "veth", "peer", "name", elementIf},
            {"ip", "link", "set", elementIf, "netns", ns},
            {"ip", "addr", "add", hostIp + "/24", "dev", hostIf},
            {"ip", "link", "set", hostIf, "up"},
            {"ip", "-n", ns, "link", "set", "lo", "up"},
            {"ip", "-n", ns, "link", "set", elementIf, "address", elementMac},
            {"ip", "-n", ns, "addr", "add", elementIp + "/24", "dev", elementIf},
            {"ip", "-n", ns, "link", "set", elementIf, "up"},
        };
        for (const QStringList& step : steps) {
            const Command c = run(step);
            if (c.code != 0) {
                error = step.join(QLatin1Char(' ')) + QStringLiteral(": ") + c.output.trimmed();
                return;
            }
        }
        const bool up = waitUntil(
            [&] {
                return run({"ip", "-o", "link", "show", "dev", hostIf})
                    .output.contains(QStringLiteral("LOWER_UP"));
            },
            5000);
        if (!up)
            error = QStringLiteral("the veth pair did not come up");
    }

    void teardown()
    {
        // Deleting the namespace destroys the element end and with it the whole veth pair.
        run({QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("del"), ns});
        run({QStringLiteral("ip"), QStringLiteral("link"), QStringLiteral("del"), hostIf});
        created = false;
    }

    // A namespace made by `ip netns add` outlives its test if the test program dies: remove those
    // of ours whose program is gone.
    static void removeOrphans()
    {
        static const QRegularExpression ours(QStringLiteral("^vxdiag([0-9]+)\\b"));
        const QStringList lines = run({"ip", "netns", "list"}).output.split(QLatin1Char('\n'));
        for (const QString& line : lines) {
            const auto m = ours.match(line.trimmed());
            if (m.hasMatch() && !QFile::exists(QStringLiteral("/proc/") + m.captured(1)))
                run({"ip", "netns", "del", QStringLiteral("vxdiag") + m.captured(1)});
        }
    }

    void flushNeighbours() { run({"ip", "neigh", "flush", "dev", hostIf}); }
};

Lab* s_lab = nullptr;

// Puts a value into a per-namespace sysctl of the test's own namespace and restores it.
class SysctlValue
{
public:
    SysctlValue(const QString& path, const QByteArray& value) : m_path(path), m_old(readFile(path))
    {
        m_ok = !m_old.isEmpty() && writeFile(path, value);
    }
    ~SysctlValue()
    {
        if (!m_old.isEmpty())
            writeFile(m_path, m_old);
    }
    bool ok() const { return m_ok; }

private:
    QString m_path;
    QByteArray m_old;
    bool m_ok = false;
};

const char* const kPingGroupRange = "/proc/sys/net/ipv4/ping_group_range";

quint32 address(const QString& text)
{
    quint32 a = 0;
    parseIPv4(text, a);
    return a;
}

} // namespace

class DiagnosticsLab : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_lab = new Lab;
        s_lab->skip = labRefusal();
        if (s_lab->skip.isEmpty())
            s_lab->build();
    }
    static void TearDownTestSuite()
    {
        if (s_lab->created)
            s_lab->teardown();
        delete s_lab;
        s_lab = nullptr;
    }
    void SetUp() override
    {
        if (!s_lab->skip.isEmpty())
            GTEST_SKIP() << "namespace lab skipped: " << s_lab->skip.toStdString();
        ASSERT_TRUE(s_lab->error.isEmpty()) << "lab not built: " << s_lab->error.toStdString();
        lab = s_lab;
    }

    // The station's ping test of one element.
    struct Pinger
    {
        explicit Pinger(Icmp& icmp) : test(icmp, boxes, selected) {}
        // Returns the time the test took in ms, -1 on no outcome.
        qint64 ping(const QString& ip)
        {
            QSignalSpy finished(&test, &PingTest::finished);
            QElapsedTimer clock;
            clock.start();
            test.ping(ip);
            return waitUntil([&] { return finished.count() > 0; }, 8000) ? clock.elapsed() : -1;
        }
        FakeMessageBoxes boxes;
        ElementStore store{QStringLiteral("nms.ini")};
        SelectedElement selected{store};
        PingTest test;
        QSignalSpy succeeded{&test, &PingTest::succeeded};
        QSignalSpy failed{&test, &PingTest::failed};
    };

    Lab* lab = nullptr;
};

TEST_F(DiagnosticsLab, PingOfTheElementSucceedsAndOfAFreeAddressFailsAfterTheTimeOut)
{
    // GIVEN the element behind the veth pair, a free address beside it, and the facility as the
    // application uses it; a timer stands for the station's other work
    lab->flushNeighbours();
    LinuxIcmp icmp;
    Pinger pinger(icmp);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(100);
    // WHEN the element is pinged, THEN it answers with its round-trip time
    ASSERT_GE(pinger.ping(lab->elementIp), 0);
    ASSERT_EQ(pinger.succeeded.size(), 1);
    EXPECT_GE(pinger.succeeded[0].at(0).toInt(), 0);
    // WHEN the free address is pinged, THEN the test fails after the 3 s time-out, the thread
    // doing its other work meanwhile
    ticks = 0;
    const qint64 ms = pinger.ping(lab->freeIp);
    ASSERT_GE(ms, 0) << "no outcome";
    EXPECT_GE(ms, 2500);
    EXPECT_EQ(pinger.failed.size(), 1);
    EXPECT_GE(ticks, 15) << "the thread was held up while the echo was awaited";
    EXPECT_TRUE(pinger.boxes.shown.isEmpty());
    std::cout << "[ figure ] free address failed after " << ms << " ms" << std::endl;
}

TEST_F(DiagnosticsLab, MacLookupOfTheElementGivesItsAddress)
{
    // GIVEN a neighbour table that does not know the element yet
    lab->flushNeighbours();
    ASSERT_EQ(run({"ip", "neigh", "show", "to", lab->elementIp, "dev", lab->hostIf}).output.trimmed(),
              QString());
    NeighbourTableArp arp;
    QString mac;
    // WHEN the lookup is retried as the reply handler does, events running between attempts
    QElapsedTimer total;
    total.start();
    qint64 slowest = 0;
    bool found = false;
    while (!found && total.elapsed() < 5000) {
        QElapsedTimer attempt;
        attempt.start();
        found = getRemoteMac(arp, lab->elementIp, QStringLiteral(":"), mac);
        slowest = std::max(slowest, attempt.elapsed());
        QCoreApplication::processEvents();
    }
    // THEN it finds the element's MAC, each attempt short
    ASSERT_TRUE(found);
    EXPECT_EQ(mac, QStringLiteral("02:78:0A:0B:0C:0D"));
    ASSERT_TRUE(getRemoteMac(arp, lab->elementIp, QStringLiteral("-"), mac));
    EXPECT_EQ(mac, QStringLiteral("02-78-0A-0B-0C-0D"));
    std::cout << "[ figure ] MAC found after " << total.elapsed() << " ms, slowest attempt " << slowest
              << " ms" << std::endl;
}

TEST_F(DiagnosticsLab, AKeptMacLookupFollowsTheTableChangedFromOutside)
{
    // GIVEN a lookup, kept as the station keeps it, that has found the element
    lab->flushNeighbours();
    NeighbourTableArp arp;
    QString mac;
    ASSERT_TRUE(waitUntil([&] { return getRemoteMac(arp, lab->elementIp, QStringLiteral(":"), mac); }));
    EXPECT_EQ(mac, QStringLiteral("02:78:0A:0B:0C:0D"));
    // WHEN the entry is replaced from outside THEN the next lookup gives the new address
    run({"ip", "neigh", "replace", lab->elementIp, "lladdr", "02:00:00:00:00:99", "dev", lab->hostIf, "nud",
         "permanent"});
    ASSERT_TRUE(getRemoteMac(arp, lab->elementIp, QStringLiteral(":"), mac));
    EXPECT_EQ(mac, QStringLiteral("02:00:00:00:00:99"));
    // WHEN it is deleted THEN the element is resolved again
    run({"ip", "neigh", "del", lab->elementIp, "dev", lab->hostIf});
    ASSERT_TRUE(waitUntil([&] { return getRemoteMac(arp, lab->elementIp, QStringLiteral(":"), mac); }));
    EXPECT_EQ(mac, QStringLiteral("02:78:0A:0B:0C:0D"));
}

TEST_F(DiagnosticsLab, MacLookupOfAFreeAddressFailsAndEachAttemptIsShort)
{
    lab->flushNeighbours();
    NeighbourTableArp arp;
    QString mac = QStringLiteral("unchanged");
    QElapsedTimer total;
    total.start();
    qint64 slowest = 0;
    int attempts = 0;
    while (total.elapsed() < 1500) {
        QElapsedTimer attempt;
        attempt.start();
        EXPECT_FALSE(getRemoteMac(arp, lab->freeIp, QStringLiteral(":"), mac));
        slowest = std::max(slowest, attempt.elapsed());
        ++attempts;
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(mac, QStringLiteral("unchanged"));
    EXPECT_GE(attempts, 5) << "each attempt must be short: the reply handler retries for 20 s";
    // The kernel was made to resolve it: it holds an entry that never became usable.
    const Command neigh = run({"ip", "neigh", "show", "to", lab->freeIp, "dev", lab->hostIf});
    EXPECT_TRUE(neigh.output.contains(QStringLiteral("INCOMPLETE")) ||
                neigh.output.contains(QStringLiteral("FAILED")))
        << neigh.output.toStdString();
    std::cout << "[ figure ] " << attempts << " attempts in " << total.elapsed() << " ms, slowest " << slowest
              << " ms" << std::endl;
}

TEST_F(DiagnosticsLab, MacLookupOfAddressesNoNeighbourCanHaveFailsWithoutAsking)
{
    // No route leads to the first; the others are no host's address.
    lab->flushNeighbours();
    NeighbourTableArp arp;
    QString mac = QStringLiteral("unchanged");
    for (const char* ip : {"192.168.213.7", "0.0.0.0", "255.255.255.255"})
        EXPECT_FALSE(getRemoteMac(arp, QString::fromLatin1(ip), QStringLiteral(":"), mac)) << ip;
    EXPECT_EQ(mac, QStringLiteral("unchanged"));
    EXPECT_EQ(run({"ip", "neigh", "show", "dev", lab->hostIf}).output.trimmed(), QString());
}

TEST_F(DiagnosticsLab, DatagramSocketAnswersWhereTheGroupRangeAllowsIt)
{
    // GIVEN datagram ICMP sockets opened to every group of the test's namespace
    SysctlValue range(QString::fromLatin1(kPingGroupRange), "0 2147483647");
    ASSERT_TRUE(range.ok());
    LinuxIcmp icmp({LinuxIcmp::Facility::DatagramSocket});
    ASSERT_TRUE(icmp.startup());
    // WHEN the element and a free address are pinged through it
    const Icmp::Reply good = icmp.echo(address(lab->elementIp), QByteArrayLiteral("hello"), 3000);
    lab->flushNeighbours();
    QElapsedTimer clock;
    clock.start();
    const Icmp::Reply bad = icmp.echo(address(lab->freeIp), QByteArrayLiteral("hello"), 3000);
    const qint64 ms = clock.elapsed();
    // THEN the element answers and the free address fails after about 3 s
    EXPECT_EQ(good.status, 0);
    EXPECT_NE(bad.status, 0);
    EXPECT_GE(ms, 2500);
    EXPECT_EQ(icmp.lastFacility(), int(LinuxIcmp::Facility::DatagramSocket));
    std::cout << "[ figure ] datagram socket: free address status " << bad.status << " after " << ms << " ms"
              << std::endl;
}

TEST_F(DiagnosticsLab, RawSocketStandsInWhenDatagramSocketsAreShutOut)
{
    // GIVEN net.ipv4.ping_group_range shutting every group out of datagram ICMP sockets
    SysctlValue range(QString::fromLatin1(kPingGroupRange), "1 0");
    ASSERT_TRUE(range.ok());
    LinuxIcmp icmp; // the application's order: datagram, raw, ping program
    ASSERT_FALSE(icmp.available(LinuxIcmp::Facility::DatagramSocket));
    // WHEN the element is pinged as the station does
    Pinger pinger(icmp);
    ASSERT_GE(pinger.ping(lab->elementIp), 0);
    // THEN the raw socket carried it and it succeeded
    EXPECT_EQ(icmp.lastFacility(), int(LinuxIcmp::Facility::RawSocket));
    EXPECT_EQ(pinger.succeeded.size(), 1);
}

TEST_F(DiagnosticsLab, PingProgramIsTheLastResort)
{
    // GIVEN datagram sockets shut out and no raw socket in the facility's list
    SysctlValue range(QString::fromLatin1(kPingGroupRange), "1 0");
    ASSERT_TRUE(range.ok());
    LinuxIcmp icmp({LinuxIcmp::Facility::DatagramSocket, LinuxIcmp::Facility::PingProgram});
    if (!icmp.available(LinuxIcmp::Facility::PingProgram))
        GTEST_SKIP() << "no ping program on this machine";
    ASSERT_TRUE(icmp.startup());
    // WHEN the element and a free address are pinged
    Pinger pinger(icmp);
    ASSERT_GE(pinger.ping(lab->elementIp), 0);
    EXPECT_EQ(icmp.lastFacility(), int(LinuxIcmp::Facility::PingProgram));
    ASSERT_EQ(pinger.succeeded.size(), 1);
    // The time is the echo's, not the start-up of the ping process (tens of milliseconds): a
    // neighbour on a veth pair answers well within a millisecond.
    const int roundTripMs = pinger.succeeded[0].at(0).toInt();
    EXPECT_LE(roundTripMs, 10);
    std::cout << "[ figure ] ping program: element answered in " << roundTripMs << " ms" << std::endl;
    lab->flushNeighbours();
    const qint64 ms = pinger.ping(lab->freeIp);
    // THEN the first succeeds through ping and the second fails after about 3 s
    ASSERT_GE(ms, 0);
    EXPECT_EQ(pinger.failed.size(), 1);
    EXPECT_GE(ms, 2500);
    std::cout << "[ figure ] ping program: free address failed after " << ms << " ms" << std::endl;
}
