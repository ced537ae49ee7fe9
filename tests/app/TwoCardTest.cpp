// A station with two network cards: the office network holds the default route, the elements sit
// behind the other card. Discovery pages both, each copy from the card's own address; naming the
// empty card finds nothing and says where it looked.
#include "AppFixture.h"
#include "discovery/InterfaceChoice.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QProcess>
#include <QTimer>

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

struct PagingCopy
{
    QString interface;
    QString source;
    quint16 sourcePort = 0;
    bool operator==(const PagingCopy&) const = default;
    bool operator<(const PagingCopy& o) const { return interface < o.interface; }
};
void PrintTo(const PagingCopy& c, std::ostream* os)
{
    *os << c.interface.toStdString() << ' ' << c.source.toStdString() << ':' << c.sourcePort;
}

// Every paging request that leaves the station's namespace, seen as the cards send it (outgoing
// frames reach only the taps of every protocol).
class PagingCapture
{
public:
    PagingCapture() : m_fd(::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL)))
    {
    }
    ~PagingCapture() { ::close(m_fd); }
    bool isOpen() const { return m_fd >= 0; }

    // What left since the last take(), sorted by interface.
    QList<PagingCopy> take()
    {
        drain();
        QList<PagingCopy> copies = std::exchange(m_seen, {});
        std::sort(copies.begin(), copies.end());
        return copies;
    }
    bool any()
    {
        drain();
        return !m_seen.isEmpty();
    }

private:
    void drain()
    {
        unsigned char p[2048];
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        for (ssize_t n;
             (n = ::recvfrom(m_fd, p, sizeof p, 0, reinterpret_cast<sockaddr*>(&from), &length)) > 0;
             length = sizeof from) {
            const int header = (p[0] & 0x0F) * 4;
            if (from.sll_pkttype != PACKET_OUTGOING || from.sll_protocol != htons(ETH_P_IP) ||
                n < header + 8 + 32 || p[9] != 17)
                continue;
            const unsigned char* udp = p + header;
            const QByteArray payload(reinterpret_cast<const char*>(udp + 8), int(n) - header - 8);
            if ((udp[2] << 8 | udp[3]) != 1901 ||
                QByteArray(reinterpret_cast<const char*>(p + 16), 4) != "\xFF\xFF\xFF\xFF" ||
                payload != "IPMPXSTL KORVANTA PAGING REQUEST")
                continue;
            m_seen.append({QNetworkInterface::interfaceNameFromIndex(from.sll_ifindex),
                           QStringLiteral("%1.%2.%3.%4").arg(p[12]).arg(p[13]).arg(p[14]).arg(p[15]),
                           quint16(udp[0] << 8 | udp[1])});
        }
    }
    int m_fd;
    QList<PagingCopy> m_seen;
};

} // namespace

TEST(TwoCards, DiscoveryPagesEveryCardFromItsOwnAddressAndOnlyTheNamedOnes)
{
    if (const QString reason = Lab::unavailableReason(); !reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    // GIVEN the station started in a lab of an encoder and a decoder, then a second card that
    // takes over the default route
    LabStation s;
    QString error;
    ASSERT_TRUE(s.start(1, 1, 0, &error)) << error.toStdString();
    ASSERT_TRUE(s.lab.addOfficeCard(&error)) << error.toStdString();
    const QString office = s.lab.officeInterface(), elements = s.lab.stationInterface();
    PagingCapture capture;
    ASSERT_TRUE(capture.isOpen());
    Discovery& discovery = s.window->station().discovery();

    // WHEN the station is told to page the office card only (and remembers it)
    discovery.setInterfaceNames(pagingInterfaceChoice(s.f.settings, {true, {office}}));
    EXPECT_EQ(s.f.settings.values.value(kPagingInterfacesSetting), office);
    EXPECT_EQ(pagingInterfaceChoice(s.f.settings, {}), QStringList{office});
    // ... and its discovery ends as soon as the request has left
    s.f.boxes.clear();
    s.f.boxes.answers << MsgAnswer::Yes;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (discovery.isAwaiting() && capture.any())
            discovery.finish();
    });
    poll.start(5);
    s.window->onToolbarButton(1);
    poll.stop();
    // THEN one copy left by the office card, nothing was found, and the operator is told where
    // the station looked
    EXPECT_EQ(capture.take(), (QList<PagingCopy>{{office, s.lab.officeIp(), 2976}}));
    EXPECT_EQ(s.window->TreeView1->topLevelItemCount(), 0);
    EXPECT_TRUE(s.f.boxes.texts().contains(
        QStringLiteral("No element answered the paging request on %1 (%2).").arg(office, s.lab.officeIp())))
        << s.f.boxes.texts().join(" | ").toStdString();

    // WHEN "--interface all" puts every card back and the window discovers again
    discovery.setInterfaceNames(pagingInterfaceChoice(s.f.settings, {true, {"all"}}));
    EXPECT_EQ(s.f.settings.values.value(kPagingInterfacesSetting), QString());
    s.discover();
    // THEN one copy per card, each from that card's address and port 2976, and both elements are
    // found
    EXPECT_EQ(capture.take(),
              (QList<PagingCopy>{{office, s.lab.officeIp(), 2976}, {elements, s.lab.stationIp(), 2976}}));
    EXPECT_EQ(s.window->TreeView1->topLevelItemCount(), 2);

    // The command line, once the window has let go of its port
    s.window.reset();
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VEXOLINK_NMS_STORE", dir.filePath("nms.ini"));
    env.insert("HOME", dir.path());
    const struct
    {
        QStringList args;
        int code;
        int found;
        QString says;
    } rows[] = {
        {{}, 0, 2, {}},
        {{"--interface", office},
         0,
         0,
         QStringLiteral("No element answered the paging request on %1 (%2).").arg(office, s.lab.officeIp())},
        {{"--interface", "nosuch0"},
         1,
         -1,
         "No network interface can send the paging request: nosuch0 is not up with an IPv4 address"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.start(qEnvironmentVariable("VEXO_BIN") + "/src/app/vexolink-cli",
                  QStringList{"discover", "--timeout", "0.5", "--json"} + row.args);
        ASSERT_TRUE(cli.waitForFinished(60000));
        const QString err = cli.readAllStandardError();
        EXPECT_EQ(cli.exitCode(), row.code) << err.toStdString();
        if (row.found >= 0) {
            EXPECT_EQ(QJsonDocument::fromJson(cli.readAllStandardOutput()).array().size(), row.found);
        }
        EXPECT_TRUE(err.contains(row.says)) << err.toStdString();
    }
    EXPECT_EQ(capture.take(), (QList<PagingCopy>{{office, s.lab.officeIp(), 2976},
                                                 {office, s.lab.officeIp(), 2976},
                                                 {elements, s.lab.stationIp(), 2976}}));
}
