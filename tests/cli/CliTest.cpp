// vexolink-cli without a network: what it makes of its arguments, and bad input refused with a
// one-line error, its own exit code, nothing sent and the store untouched.
#include "Fakes.h"
#include "TestUtil.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QCoreApplication>

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <memory>

using namespace vexo;
using namespace vexo::cli;

namespace {

// An encoder and an SFN decoder at 127.0.0.2 and 127.0.0.3, where the test listens on the
// element ports: a refused command must not have sent anything there.
class Cli : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QList<QPair<QString, QString>> encoder = {
            {"name", "ENCODER 001     "}, {"ip", "127.0.0.2"}, {"role", "1"}, {"sfn", "0"}};
        const QList<QPair<QString, QString>> decoder = {
            {"name", "DECODER 001     "}, {"ip", "127.0.0.3"}, {"role", "2"}, {"sfn", "1"}};
        ASSERT_TRUE(writeSectionsToIni({{"0050C2770001", encoder}, {"0050C2770002", decoder}}, storePath));
        for (const char* ip : {"127.0.0.2", "127.0.0.3"}) {
            for (quint16 port : {2976, 2977, 2978}) {
                auto s = std::make_unique<QUdpSocket>();
                ASSERT_TRUE(s->bind(QHostAddress(QString::fromLatin1(ip)), port));
                elementPorts.push_back(std::move(s));
            }
        }
    }

    int run(const QStringList& args)
    {
        out.clear();
        err.clear();
        QTextStream o(&out), e(&err);
        CliEnvironment env{o, e, settings, arp, icmp, storePath, QHostAddress(QStringLiteral("127.0.0.1"))};
        return runCli(args, env);
    }
    int datagramsAtElements()
    {
        QCoreApplication::processEvents();
        int n = 0;
        for (auto& s : elementPorts)
            n += s->hasPendingDatagrams() ? 1 : 0;
        return n;
    }

    QTemporaryDir dir;
    QString storePath = dir.filePath(QStringLiteral("nms.ini"));
    FakeSettings settings;
    FakeArp arp;
    FakeIcmp icmp;
    QString out, err;
    std::vector<std::unique_ptr<QUdpSocket>> elementPorts;
};

} // namespace

TEST_F(Cli, AnElementIsNamedByMacInAnyFormNameOrAddress)
{
    for (const char* text : {"0050c2770002", "00:50:c2:77:00:02", "00:50:C2:77:00:02", "decoder 001",
                             " DECODER 001 ", "127.0.0.3"})
        EXPECT_EQ(resolveElement(ElementStore(storePath), QString::fromLatin1(text)), "00:50:C2:77:00:02")
            << text;
}

TEST_F(Cli, AttenuationLevelsAreBarPositions)
{
    const struct
    {
        const char* level;
        int position;
    } rows[] = {{"0", 255},   {"-0.5", 254},  {"20", 215},  {"-20", 215},
                {"-120", 15}, {"-120.5", 14}, {"mute", 14}, {"MUTE", 14}};
    for (const auto& r : rows)
        EXPECT_EQ(attenuationPosition(QString::fromLatin1(r.level)), r.position) << r.level;
}

TEST_F(Cli, BadInputIsRefusedWithItsCodeAndNothingSentOrWritten)
{
    // GIVEN the station's configuration port held by another program, for the port-busy row
    QUdpSocket window;
    const struct
    {
        QStringList args;
        int code;
        const char* says;
        enum
        {
            None,
            NoStore,
            Corrupted,
            PortHeld,
            ListenHeld
        } setup = None;
    } rows[] = {
        {{"frobnicate"}, UsageError, "unknown command 'frobnicate'"},
        {{"list", "--bogus"}, UsageError, "Unknown option 'bogus'"},
        {{"show"}, UsageError, "ELEMENT missing"},
        {{"show", "00:50:C2:77:00:99"}, ElementUnknown, "no stored element '00:50:C2:77:00:99'"},
        {{"ping", "STUDIO"}, ElementUnknown, "no stored element 'STUDIO'"},
        {{"show", "00:50:C2:77:00"}, UsageError, "malformed MAC address"},
        {{"show", "127.0.0.300"}, UsageError, "malformed IP address"},
        {{"mac", "10.77.1"}, UsageError, "malformed IP address '10.77.1'"},
        {{"attenuation", "DECODER 001", "-121"}, UsageError, "attenuation '-121' out of range"},
        {{"attenuation", "DECODER 001", "-20.25"}, UsageError, "out of range"},
        {{"attenuation", "DECODER 001", "loud"}, UsageError, "out of range"},
        {{"attenuation", "ENCODER 001", "-20"}, UsageError, "is no decoder"},
        {{"set-delay", "DECODER 001", "2500100"}, UsageError, "delay '2500100' out of range"},
        {{"set-delay", "DECODER 001", "150"}, UsageError, "in steps of 100"},
        {{"set-delay", "DECODER 001", "1000", "--servo", "maybe"}, UsageError, "--servo takes on or off"},
        {{"latency", "ENCODER 001"}, UsageError, "is no SFN decoder"},
        {{"level", "DECODER 001"}, UsageError, "is no encoder"},
        {{"configure", "DECODER 001", "buf=23"}, UsageError, "buf '23' out of range: 0 to 22"},
        {{"configure", "DECODER 001", "sdl=0"}, UsageError, "sdl '0' out of range: 1 to 154"},
        {{"configure", "ENCODER 001", "buf=3"}, UsageError, "buf is for decoders only"},
        {{"configure", "ENCODER 001", "colour=red"}, UsageError, "unknown key 'colour'"},
        {{"configure", "ENCODER 001", "ip=10.1.2"}, UsageError, "ip: malformed IP address '10.1.2'"},
        {{"configure", "ENCODER 001", "name=SEVENTEEN CHARS!!"},
         UsageError,
         "name must be 1 to 16 characters"},
        {{"configure", "ENCODER 001", "att=20"}, UsageError, "att is set with"},
        {{"exporter", "--listen", "127.0.0.1"}, UsageError, "malformed listen address"},
        {{"exporter", "--listen", "127.0.0.1:9100", "--interval", "0"}, UsageError, "--interval must be"},
        {{"list"}, StoreProblem, "no element store at", decltype(rows[0].setup)::NoStore},
        {{"show", "ENCODER 001"},
         StoreProblem,
         "is corrupted (21 lines)",
         decltype(rows[0].setup)::Corrupted},
        {{"attenuation", "DECODER 001", "-20"},
         PortBusy,
         "UDP port 2976 is in use",
         decltype(rows[0].setup)::PortHeld},
        {{"exporter", "--listen", "127.0.0.1:0"},
         PortBusy,
         "cannot listen on",
         decltype(rows[0].setup)::ListenHeld},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.args.join(' ').toStdString());
        QTemporaryDir other;
        const QString kept = storePath;
        const QByteArray original = readFile(storePath);
        QTcpServer listener;
        QStringList args = r.args;
        if (r.setup == r.NoStore) {
            storePath = other.filePath(QStringLiteral("missing.ini"));
        } else if (r.setup == r.Corrupted) {
            for (int i = 0; i < 17; ++i)
                writeToIni(QStringLiteral("0050C2770001"), QStringLiteral("extra%1").arg(i),
                           QStringLiteral("x"), storePath);
        } else if (r.setup == r.PortHeld) {
            ASSERT_TRUE(window.bind(QHostAddress(QStringLiteral("127.0.0.1")), 2976));
        } else if (r.setup == r.ListenHeld) {
            ASSERT_TRUE(listener.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
            args.last() = QStringLiteral("127.0.0.1:%1").arg(listener.serverPort());
        }
        const QByteArray before = readFile(storePath);

        // WHEN the command runs
        const int code = run(args);

        // THEN one line names the problem, the code is its own, nothing left and nothing changed
        EXPECT_EQ(code, r.code);
        EXPECT_TRUE(err.contains(QString::fromLatin1(r.says))) << err.toStdString();
        EXPECT_EQ(err.count(QLatin1Char('\n')), 1) << err.toStdString();
        EXPECT_TRUE(out.isEmpty()) << out.toStdString();
        EXPECT_EQ(datagramsAtElements(), 0);
        EXPECT_EQ(readFile(storePath), before);
        storePath = kept;
        writeFile(storePath, original);
        window.close();
    }
}

TEST_F(Cli, ListsTheStoreAsTableJsonAndCsv)
{
    ASSERT_EQ(run({"list", "--csv"}), Success);
    EXPECT_EQ(out, "MAC,NAME,IP,ROLE,SERIAL,VERSION,SFN\r\n"
                   "00:50:C2:77:00:01,ENCODER 001,127.0.0.2,ENCODER,,2.00,0\r\n"
                   "00:50:C2:77:00:02,DECODER 001,127.0.0.3,DECODER,,2.00,1\r\n");
    ASSERT_EQ(run({"list", "--json"}), Success);
    EXPECT_EQ(
        out,
        "[{\"ip\":\"127.0.0.2\",\"mac\":\"00:50:C2:77:00:01\",\"name\":\"ENCODER 001\",\"role\":\"encoder\","
        "\"serial\":0,\"sfn\":false,\"version\":\"2.00\"},{\"ip\":\"127.0.0.3\",\"mac\":\"00:50:C2:77:00:"
        "02\","
        "\"name\":\"DECODER 001\",\"role\":\"decoder\",\"serial\":0,\"sfn\":true,\"version\":\"2.00\"}]\n");
}
