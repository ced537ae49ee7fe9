// vexolink-cli in the test process, without elements.
#include "Fakes.h"
#include "TestUtil.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "store/IniFile.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;
using namespace vexo::cli;

TEST(Cli, BadInputIsRefusedWithItsCodeAndNothingSentOrWrittenAndTheStoreIsListed)
{
    // GIVEN an encoder and an SFN decoder at 127.0.0.2 and 127.0.0.3, where the test listens
    QTemporaryDir dir;
    const QString store = dir.filePath("nms.ini");
    ASSERT_TRUE(writeSectionsToIni(
        {{"0050C2770001", {{"name", "ENCODER 001     "}, {"ip", "127.0.0.2"}, {"role", "1"}, {"sfn", "0"}}},
         {"0050C2770002", {{"name", "DECODER 001     "}, {"ip", "127.0.0.3"}, {"role", "2"}, {"sfn", "1"}}}},
        store));
    std::vector<std::unique_ptr<QUdpSocket>> elementPorts;
    for (const char* ip : {"127.0.0.2", "127.0.0.3"})
        for (quint16 port : {2976, 2977, 2978})
            ASSERT_TRUE(elementPorts.emplace_back(new QUdpSocket)->bind(QHostAddress(ip), port));
    FakeSettings settings;
    FakeArp arp;
    FakeIcmp icmp;
    QString out, err;
    const auto run = [&](const QStringList& args) {
        out.clear();
        err.clear();
        QTextStream o(&out), e(&err);
        CliEnvironment env{o, e, settings, arp, icmp, store, QHostAddress("127.0.0.1")};
        return runCli(args, env);
    };
    QUdpSocket stationPort;
    QTcpServer listening;
    ASSERT_TRUE(listening.listen(QHostAddress("127.0.0.1"), 9109));
    const struct
    {
        QStringList args;
        int code;
        const char* says;
        char setup = 0; // 's': no store, 'c': a corrupted section, 'p': the station's port taken
    } rows[] = {
        {{"frobnicate"}, UsageError, "unknown command 'frobnicate'"},
        {{"list", "--bogus"}, UsageError, "Unknown option 'bogus'"},
        {{"show"}, UsageError, "ELEMENT missing"},
        {{"show", "00:50:C2:77:00:99"}, ElementUnknown, "no stored element '00:50:C2:77:00:99'"},
        {{"ping", "STUDIO"}, ElementUnknown, "no stored element 'STUDIO'"},
        {{"show", "00:50:C2:77:00"}, UsageError, "malformed MAC address"},
        {{"mac", "10.77.1"}, UsageError, "malformed IP address '10.77.1'"},
        {{"attenuation", "DECODER 001", "-121"}, UsageError, "attenuation '-121' out of range"},
        {{"attenuation", "DECODER 001", "-20.25"}, UsageError, "out of range"},
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
        {{"exporter", "--listen", "127.0.0.1:9109"}, PortBusy, "cannot listen on"},
        {{"attenuation", "DECODER 001", "-20"}, PortBusy, "UDP port 2976 is in use", 'p'},
        {{"list"}, StoreProblem, "no element store at", 's'},
        {{"show", "ENCODER 001"}, StoreProblem, "is corrupted (21 lines)", 'c'},
    };
    const QByteArray original = readFile(store);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.args.join(' ').toStdString());
        if (r.setup == 's')
            QFile::remove(store);
        for (int i = 0; r.setup == 'c' && i < 17; ++i)
            writeToIni("0050C2770001", QStringLiteral("extra%1").arg(i), "x", store);
        ASSERT_TRUE(r.setup != 'p' || stationPort.bind(QHostAddress("127.0.0.1"), 2976));
        const QByteArray before = readFile(store);
        EXPECT_EQ(run(r.args), r.code);
        EXPECT_TRUE(err.endsWith('\n') && err.count('\n') == 1 && err.contains(r.says)) << err.toStdString();
        EXPECT_EQ(out, QString());
        QCoreApplication::processEvents();
        for (const auto& port : elementPorts)
            EXPECT_FALSE(port->hasPendingDatagrams()) << port->localAddress().toString().toStdString();
        EXPECT_EQ(readFile(store), before);
        ASSERT_TRUE(writeFile(store, original));
        stationPort.close();
    }

    // AND the store is listed as the formats say
    ASSERT_EQ(run({"list", "--csv"}), Success);
    EXPECT_EQ(out, "MAC,NAME,IP,ROLE,SERIAL,VERSION,SFN\r\n"
                   "00:50:C2:77:00:01,ENCODER 001,127.0.0.2,ENCODER,,2.00,0\r\n"
                   "00:50:C2:77:00:02,DECODER 001,127.0.0.3,DECODER,,2.00,1\r\n");
    ASSERT_EQ(run({"list", "--json"}), Success);
    EXPECT_EQ(out, R"([{"ip":"127.0.0.2","mac":"00:50:C2:77:00:01","name":"ENCODER 001","role":"encoder",)"
                   R"("serial":0,"sfn":false,"version":"2.00"},{"ip":"127.0.0.3","mac":"00:50:C2:77:00:02",)"
                   R"("name":"DECODER 001","role":"decoder","serial":0,"sfn":true,"version":"2.00"}])"
                   "\n");
}
