// vexolink-cli's configuration commands in this process, against a stand-in element on
// 127.0.0.2: what is refused before anything leaves, and the reply time-out fired by the test.
#include "Fakes.h"
#include "TestUtil.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/ConfigureSupport.h"
#include "editor/StoredElement.h"
#include "journal/Journal.h"
#include "journal/Recorders.h"
#include "link/ConfigLink.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

class CliConfigure : public ::testing::Test
{
protected:
    int run(const QStringList& args)
    {
        out.clear(), err.clear();
        QTextStream o(&out), e(&err);
        cli::CliEnvironment env{
            o, e, settings, arp, icmp, dir.filePath("nms.ini"), QHostAddress("127.0.0.1")};
        return cli::runCli(args, env);
    }
    QList<QByteArray> requests()
    {
        QList<QByteArray> got;
        while (element.hasPendingDatagrams())
            got << element.receiveDatagram().data();
        return got;
    }

    QTemporaryDir dir;
    FakeSettings settings;
    FakeArp arp;
    FakeIcmp icmp;
    QString out, err;
    QUdpSocket element;
};

const QByteArray kDecoder = "[0050C2000002]\nROLE=2\nNAME=B\nIP=127.0.0.2\nMASK=255.0.0.0\nGW=127.0.0.1\n"
                            "MULTI=239.1.1.1\nINPUT=0\nTYPE=0\nTX=1\nSFN=0\nBUF=4\nSDM=0\nSDL=37\nSDT=43\n";

} // namespace

TEST_F(CliConfigure, AnInvalidStoredValueIsRefusedUnlessGivenAndTheTimeOutEndsTheWait)
{
    ASSERT_TRUE(element.bind(QHostAddress("127.0.0.2"), 2976));
    const struct
    {
        QByteArray from, to; // the stored line spoilt
        const char* args;    // the changes given
        int code;
        const char* error; // the one line after "vexolink-cli configure: "
    } cases[] = {
        {"BUF=4", "BUF=99", "name=X", cli::StoreProblem,
         "00:50:C2:00:00:02: stored buf=99 is out of range (0 to 22); give buf=VALUE to replace it"},
        {"INPUT=0", "INPUT=abc", "name=X", cli::StoreProblem,
         "00:50:C2:00:00:02: stored input=abc is not a number (0 to 1); give input=VALUE to replace it"},
        {"BUF=4", "BUF=99", "name=X buf=5", cli::NoAnswer,
         "00:50:C2:00:00:02 did not answer the configuration"},
        {"INPUT=0", "INPUT=abc", "input=1", cli::NoAnswer,
         "00:50:C2:00:00:02 did not answer the configuration"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        QByteArray stored = kDecoder;
        stored.replace(c.from, c.to);
        ASSERT_TRUE(writeFile(dir.filePath("nms.ini"), stored));
        // The reply time-out is fired as soon as the request has reached the element.
        QList<QByteArray> sent;
        auto fire = QObject::connect(&element, &QUdpSocket::readyRead, [&] {
            sent << requests();
            if (auto* link = qApp->findChild<ConfigLink*>())
                link->onTimerRemoteSent();
        });
        const int code = run(QStringList{"configure", "00:50:C2:00:00:02"} + QString(c.args).split(' '));
        QObject::disconnect(fire);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(err, "vexolink-cli configure: " + QString::fromLatin1(c.error) + "\n");
        EXPECT_EQ(readFile(dir.filePath("nms.ini")), stored); // nothing written either way
        sent << requests();
        if (c.code == cli::StoreProblem) {
            EXPECT_TRUE(sent.isEmpty());
        } else {
            ASSERT_EQ(sent.size(), 1);
            ASSERT_EQ(sent[0].size(), 40);
            EXPECT_EQ(int(sent[0][16]), QString(c.args).contains("input=1") ? 1 : 0);
            EXPECT_EQ(int(sent[0][36]), QString(c.args).contains("buf=5") ? 5 : 4);
        }
    }
}

TEST_F(CliConfigure, ADryRunPrintsTheRequestBytesAndSendsAndWritesNothing)
{
    ASSERT_TRUE(element.bind(QHostAddress("127.0.0.2"), 2976));
    // The request's bytes computed by hand from the message layout: 127.0.0.2, 255.255.255.0,
    // 127.0.0.1, 239.1.1.1; analog, MPX, multicast, SFN on; "STUDIO 1" and eight blanks; a
    // decoder adds buffer 4, "Force internal", threshold 37, time-out 43.
    const QByteArray head = "7f000002ffffff007f000001ef0101010101010153545544494f20312020202020202020";
    const QByteArray stored =
        "ROLE=%1\nNAME=OLD\nIP=127.0.0.2\nMASK=255.255.255.0\nGW=127.0.0.1\nMULTI=239.1.1.1\n"
        "INPUT=0\nTYPE=0\nTX=1\nSFN=0\nBUF=9\nSDM=0\nSDL=10\nSDT=10\n";
    const QStringList changes = {"name=studio 1", "input=1", "type=1", "sfn=1"};
    const struct
    {
        const char* role;
        QStringList decoderChanges;
        QByteArray hex;
    } rows[] = {{"1", {}, head}, {"2", {"buf=4", "sdm=1", "sdl=37", "sdt=43"}, head + "0401252b"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.role);
        const QByteArray bytes = "[0050C2000002]\n" + QString(stored).arg(r.role).toLatin1();
        ASSERT_TRUE(writeFile(dir.filePath("nms.ini"), bytes));
        const QStringList args =
            QStringList{"configure", "00:50:C2:00:00:02", "--dry-run"} + changes + r.decoderChanges;
        ASSERT_EQ(run(args + QStringList{"--json"}), 0) << err.toStdString();
        const QJsonObject o = QJsonDocument::fromJson(out.toUtf8()).object();
        EXPECT_EQ(o["request_hex"].toString().toLatin1(), r.hex);
        EXPECT_TRUE(o["changes"].toArray().contains(
            QJsonObject{{"field", "name"}, {"stored", "OLD"}, {"sent", "STUDIO 1"}}));
        EXPECT_TRUE(o["changes"].toArray().contains(
            QJsonObject{{"field", "ip"}, {"stored", "127.0.0.2"}, {"sent", "127.0.0.2"}}));
        ASSERT_EQ(run(args), 0);
        EXPECT_TRUE(out.startsWith("00:50:C2:00:00:02: dry run, nothing sent or stored\n"
                                   "  FIELD  STORED         SENT\n"))
            << out.toStdString();
        EXPECT_TRUE(out.contains("* name   OLD            STUDIO 1\n")) << out.toStdString();
        EXPECT_TRUE(out.contains(QString("request (%1 bytes): %2\n")
                                     .arg(r.hex.size() / 2)
                                     .arg(QString(QByteArray::fromHex(r.hex).toHex(' ')))));
        // Nothing left, nothing written: neither the store nor a journal.
        EXPECT_EQ(readFile(dir.filePath("nms.ini")), bytes);
        EXPECT_FALSE(QFile::exists(dir.filePath("nms-journal.db")));
        EXPECT_TRUE(requests().isEmpty());
    }
}

TEST(DryRunText, ColumnsWidenForTheLongestKeyAndStoredValueButNeverBelowTheirHeaders)
{
    DryRun run;
    run.fields = {{"remote", "10.0.0.1", "10.0.0.2"}, {"ip", "10.0.0.5", "10.0.0.5"}};
    run.request = QByteArray::fromHex("0102");
    EXPECT_EQ(cli::dryRunText("00:50:C2:00:00:01", run),
              "00:50:C2:00:00:01: dry run, nothing sent or stored\n"
              "  FIELD   STORED    SENT\n"
              "* remote  10.0.0.1  10.0.0.2\n"
              "  ip      10.0.0.5  10.0.0.5\n"
              "request (2 bytes): 01 02\n");
    run.fields = {{"buf", "3", "4"}};
    EXPECT_EQ(cli::dryRunText("00:50:C2:00:00:01", run),
              "00:50:C2:00:00:01: dry run, nothing sent or stored\n"
              "  FIELD  STORED  SENT\n"
              "* buf    3       4\n"
              "request (2 bytes): 01 02\n");
}

TEST_F(CliConfigure, RestoreSendsTheLastConfirmedConfigurationAndAnUnwritableJournalIsOneLine)
{
    ASSERT_TRUE(element.bind(QHostAddress("127.0.0.2"), 2976));
    ASSERT_TRUE(writeFile(dir.filePath("nms.ini"), kDecoder));
    const QString mac = "00:50:C2:00:00:02";
    // Nothing confirmed yet: nothing to restore
    ASSERT_TRUE(Journal(dir.filePath("nms-journal.db"), "window").open());
    EXPECT_EQ(run({"restore", mac}), cli::UsageError);
    EXPECT_TRUE(err.contains("no confirmed configuration of this element")) << err.toStdString();
    EXPECT_EQ(run({"restore", mac, "--entry", "1"}), cli::UsageError);
    EXPECT_TRUE(err.contains("no configuration entry 1 of this element")) << err.toStdString();
    // GIVEN a confirmed configuration named NIGHT and a later one named LATER that did not match
    qint64 night = 0, later = 0;
    {
        Journal journal(dir.filePath("nms-journal.db"), "window");
        const StoredElement before = StoredElement::load(ElementStore(dir.filePath("nms.ini")), mac);
        for (const char* name : {"NIGHT", "LATER"}) {
            ConfigureOutcome o;
            o.result = name == QString("NIGHT") ? ConfigureOutcome::Result::Confirmed
                                                : ConfigureOutcome::Result::Mismatch;
            o.mac = mac, o.sent = o.reported = before.config(), o.sent.name = name;
            (name == QString("NIGHT") ? night : later) = recordConfigure(journal, o, before).value_or(0);
        }
    }
    // WHEN it is restored (the element does not answer: the time-out is fired), or entry LATER
    const auto restore = [&](const QStringList& args) {
        QList<QByteArray> sent;
        auto fire = QObject::connect(&element, &QUdpSocket::readyRead, [&] {
            sent << requests();
            if (auto* link = qApp->findChild<ConfigLink*>())
                link->onTimerRemoteSent();
        });
        EXPECT_EQ(run(QStringList{"restore", mac} + args), cli::NoAnswer) << err.toStdString();
        QObject::disconnect(fire);
        return sent.size() == 1 ? sent[0].mid(20, 16).trimmed() : QByteArray();
    };
    // THEN the confirmed configuration is sent again, ending as configure ends, and journaled
    EXPECT_EQ(restore({}), "NIGHT");
    EXPECT_EQ(restore({"--entry", QString::number(later)}), "LATER");
    ASSERT_EQ(night, 1); // the first entry of a journal: an id that is still a chosen entry
    EXPECT_EQ(restore({"--entry", "1"}), "NIGHT");
    const auto entries = Journal(dir.filePath("nms-journal.db"), "window").entries();
    ASSERT_EQ(entries->size(), 5);
    EXPECT_EQ(QStringList({entries->at(2).program, entries->at(2).outcome}),
              QStringList({"command-line", "no-answer"}));
    EXPECT_EQ(run({"restore", mac, "--entry", "99"}), cli::UsageError);
    EXPECT_TRUE(err.contains("no configuration entry 99")) << err.toStdString();

    // WHEN the journal is corrupted and the attenuation is changed
    ASSERT_TRUE(writeFile(dir.filePath("nms-journal.db"), QByteArray(4096, 'z')));
    EXPECT_EQ(run({"attenuation", mac, "-20"}), cli::Success);
    // THEN the change is made and one line on stderr says it was not journaled, and why
    EXPECT_EQ(ElementStore(dir.filePath("nms.ini")).read(mac, "att"), "215");
    EXPECT_EQ(err.count('\n'), 1);
    EXPECT_TRUE(err.startsWith("vexolink-cli: warning: changes are not being journaled: journal "))
        << err.toStdString();
    EXPECT_TRUE(err.contains("not a database"));
}

TEST_F(CliConfigure, HelpGivesTheCommandsUsageItsJsonKeysAndTheExitCodes)
{
    ASSERT_EQ(run({"ping", "--help"}), cli::Success) << err.toStdString();
    EXPECT_TRUE(
        out.startsWith("Usage: vexolink-cli ping ELEMENT\n\nOne ICMP echo to the element's stored address."))
        << out.toStdString();
    EXPECT_TRUE(out.contains("\nJSON keys (snake_case; times in ns as integers):\n"
                             "  {mac, ip, success, status, round_trip_ns}\n"))
        << out.toStdString();
    EXPECT_TRUE(out.contains("  1  failure (a send failed, the store could not be written)\n"))
        << out.toStdString();
}
