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

// The paging requests that left the station's cards, as "card source:port", sorted (outgoing
// frames reach only the taps of every protocol).
class PagingCapture
{
public:
    PagingCapture() : m_fd(::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL)))
    {
    }
    ~PagingCapture() { ::close(m_fd); }
    QStringList take()
    {
        unsigned char p[2048];
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        for (ssize_t n;
             (n = ::recvfrom(m_fd, p, sizeof p, 0, reinterpret_cast<sockaddr*>(&from), &length)) > 0;
             length = sizeof from) {
            const unsigned char* udp = p + (p[0] & 0x0F) * 4;
            const QByteArray payload(reinterpret_cast<const char*>(udp + 8), int(n - (udp + 8 - p)));
            if (from.sll_pkttype == PACKET_OUTGOING && from.sll_protocol == htons(ETH_P_IP) && p[9] == 17 &&
                (udp[2] << 8 | udp[3]) == 1901 &&
                QByteArray(reinterpret_cast<char*>(p + 16), 4) == "\xFF\xFF\xFF\xFF" &&
                payload == "IPMPXSTL KORVANTA PAGING REQUEST")
                m_seen << QString::asprintf(
                    "%s %d.%d.%d.%d:%d",
                    qPrintable(QNetworkInterface::interfaceNameFromIndex(from.sll_ifindex)), p[12], p[13],
                    p[14], p[15], udp[0] << 8 | udp[1]);
        }
        m_seen.sort();
        return std::exchange(m_seen, {});
    }
    bool isOpen() const { return m_fd >= 0; }

private:
    int m_fd;
    QStringList m_seen;
};

} // namespace

TEST(TwoCards, DiscoveryPagesEveryCardFromItsOwnAddressAndOnlyTheNamedOnes)
{
    if (const QString reason = Lab::unavailableReason(); !reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    // GIVEN the station in a lab of an encoder and a decoder, and a second card with the default route
    LabStation s;
    QString error;
    ASSERT_TRUE(s.start(1, 1, 0, &error)) << error.toStdString();
    ASSERT_TRUE(s.lab.addOfficeCard(&error)) << error.toStdString();
    const QString office = s.lab.officeInterface() + " " + s.lab.officeIp() + ":2976",
                  elements = s.lab.stationInterface() + " " + s.lab.stationIp() + ":2976";
    const QString nothing = QStringLiteral("No element answered the paging request on %1 (%2).")
                                .arg(s.lab.officeInterface(), s.lab.officeIp());
    PagingCapture capture;
    ASSERT_TRUE(capture.isOpen());
    Discovery& discovery = s.window->station().discovery();

    // WHEN the station is told to page the office card only (and remembers it), and its discovery
    // ends once the request has left
    discovery.setInterfaceNames(pagingInterfaceChoice(s.f.settings, {true, {s.lab.officeInterface()}}));
    EXPECT_EQ(pagingInterfaceChoice(s.f.settings, {}), QStringList{s.lab.officeInterface()});
    s.f.boxes.clear();
    s.f.boxes.answers << MsgAnswer::Yes;
    QStringList left;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (discovery.isAwaiting() && !(left += capture.take()).isEmpty())
            discovery.finish();
    });
    poll.start(5);
    child<QAction>(*s.window, "actDiscover")->trigger();
    poll.stop();
    // THEN one copy left by the office card, nothing was found, and the operator is told where
    EXPECT_EQ(left, QStringList{office});
    EXPECT_EQ(child<QTreeWidget>(*s.window, "TreeView1")->topLevelItemCount(), 0);
    EXPECT_TRUE(s.f.boxes.texts().contains(nothing)) << s.f.boxes.texts().join(" | ").toStdString();

    // WHEN "--interface all" puts every card back THEN one copy per card, and both elements are found
    discovery.setInterfaceNames(pagingInterfaceChoice(s.f.settings, {true, {"all"}}));
    s.discover();
    EXPECT_EQ(capture.take(), (QStringList{office, elements}));
    EXPECT_EQ(child<QTreeWidget>(*s.window, "TreeView1")->topLevelItemCount(), 2);

    // The command line, once the window has let go of its port: every card, the empty one, none
    s.window.reset();
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VEXOLINK_NMS_STORE", dir.filePath("nms.ini"));
    env.insert("HOME", dir.path());
    const struct
    {
        QString args;
        int code, found;
        QString says;
    } rows[] = {
        {"", 0, 2, {}},
        {"--interface " + s.lab.officeInterface(), 0, 0, nothing},
        {"--interface nosuch0", 1, 0,
         "No network interface can send the paging request: nosuch0 is not up with an IPv4 address"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.toStdString());
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.start(qEnvironmentVariable("VEXO_BIN") + "/src/app/vexolink-cli",
                  QStringList{"discover", "--timeout", "0.5", "--json"} +
                      row.args.split(' ', Qt::SkipEmptyParts));
        ASSERT_TRUE(cli.waitForFinished(60000));
        const QString err = cli.readAllStandardError();
        EXPECT_EQ(cli.exitCode(), row.code) << err.toStdString();
        EXPECT_EQ(QJsonDocument::fromJson(cli.readAllStandardOutput()).array().size(), row.found);
        EXPECT_TRUE(err.contains(row.says)) << err.toStdString();
    }
    EXPECT_EQ(capture.take(), (QStringList{office, office, elements}));
}
