// The station's operations on an element named by its MAC, through their outcomes: the
// attenuation change and the configuration send with its answer, against stand-in elements on
// 127.0.0.2 over loopback.
#include "core/Station.h"
#include "Fakes.h"
#include "TestUtil.h"
#include "journal/Journal.h"
#include "journal/Recorders.h"
#include "link/ConfigCodec.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

const QString kMac = QStringLiteral("00:50:C2:00:00:02");

// A station on 127.0.0.1 with a store in a fresh folder; stand-in elements use 127.0.0.2.
class StationTest : public ::testing::Test, public FakeMachine
{
protected:
    QTemporaryDir dir;
    Station station{stationServices(dir.filePath(QStringLiteral("nms.ini")), QHostAddress("127.0.0.1"))};
};

} // namespace

TEST_F(StationTest, AttenuationLeavesOnceAndIsStoredOnlyWhenSent)
{
    struct Case
    {
        const char* what;
        QByteArray section; // the decoder's stored lines; selected unless empty
        int position;
        QByteArray sent;   // the datagram the element gets; empty: none
        const char* cause; // the problem's cause, after "Cannot send to the Network Element: "
    };
    const Case cases[] = {
        {"a step", "IP=127.0.0.2\nATT=100\n", 101, hex("65 00"), nullptr},
        {"mute", "IP=127.0.0.2\nATT=100\n", 14, hex("0E 00"), nullptr},
        {"loudest", "IP=127.0.0.2\n", 255, hex("FF 00"), nullptr},
        {"no element named", {}, 101, {}, "no element named"},
        {"invalid address",
         "IP=10.0.0.300\n",
         101,
         {},
         "the IP address stored for it is not valid (10.0.0.300)."},
        {"no address", "ATT=100\n", 101, {}, "no IP address is stored for it."},
    };
    QUdpSocket element, marker;
    ASSERT_TRUE(element.bind(QHostAddress(QStringLiteral("127.0.0.2")), kCommandPort));
    ASSERT_TRUE(marker.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray before = "[0050C2000002]\nROLE=2\n" + c.section;
        ASSERT_TRUE(writeFile(station.store().path(), before));
        const AttenuationOutcome outcome =
            station.setAttenuation(c.section.isNull() ? "-" : kMac, c.position);
        EXPECT_EQ(outcome.stored, !c.sent.isEmpty());

        // A marker sent after it arrives after anything the station sent.
        marker.writeDatagram("MARK", QHostAddress(QStringLiteral("127.0.0.2")), kCommandPort);
        QList<QByteArray> got;
        ASSERT_TRUE(waitUntil([&] {
            while (element.hasPendingDatagrams())
                got << element.receiveDatagram().data();
            return got.value(got.size() - 1) == "MARK";
        }));
        got.removeLast();
        EXPECT_EQ(got, c.sent.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{c.sent});
        const QString prefix = c.section.isNull() ? "" : "Cannot send to the Network Element: ";
        EXPECT_EQ(outcome.problem.cause, c.cause ? prefix + QString::fromLatin1(c.cause) : QString());
        if (c.sent.isEmpty())
            EXPECT_EQ(readFile(station.store().path()), before);
        else
            EXPECT_EQ(station.store().read(kMac, QStringLiteral("att")), QString::number(c.position));
    }
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_TRUE(end.codes.isEmpty());
}

namespace {

using Result = ConfigureOutcome::Result;

// The store holds the decoder 00:50:C2:00:00:02 at 127.0.0.2, with a stand-in element on
// 127.0.0.2:2976 and the neighbour table knowing it.
class ConfigureTest : public StationTest
{
protected:
    ConfigureTest()
    {
        writeFile(station.store().path(), kStored);
        arp.table.insert(0x7F000002, hex("00 50 C2 00 00 02"));
        EXPECT_TRUE(element.bind(QHostAddress(QStringLiteral("127.0.0.2")), kConfigPort));
        EXPECT_TRUE(station.bindConfigPort());
        QObject::connect(&station, &Station::configured,
                         [this](const ConfigureOutcome& o) { outcomes << o; });
        sent.name = "TX SITE B", sent.ip = "127.0.0.2", sent.mask = "255.0.0.0", sent.gateway = "127.0.0.1";
        sent.remote = "239.1.1.1", sent.txType = 1, sent.role = 2, sent.buffer = 4, sent.silenceMode = -1;
        sent.silenceLevel = 37, sent.silenceTime = 43, sent.serial = 40001, sent.attenuation = 200;
    }

    QByteArray request(int waitMs = 5000)
    {
        return waitUntil([&] { return element.hasPendingDatagrams(); }, waitMs)
                   ? element.receiveDatagram().data()
                   : QByteArray();
    }
    void answer(const ElementConfig& r)
    {
        element.writeDatagram(buildConfigReply(r), QHostAddress(QStringLiteral("127.0.0.1")), kConfigPort);
    }

    static inline const QByteArray kStored = "[0050C2000002]\nROLE=2\nIP=127.0.0.2\nDLY=5\n";
    QUdpSocket element;
    QList<ConfigureOutcome> outcomes;
    ElementConfig sent;
};

} // namespace

TEST_F(ConfigureTest, TheChecksOfSaveChangesRefuseInTheirOrderAndNothingLeaves)
{
    const QList<QPair<std::function<void(QString&, ElementConfig&)>, Refusal::Reason>> cases = {
        {[](QString& mac, ElementConfig& d) { mac = "-", d.name.clear(); }, Refusal::Reason::NoElement},
        {[](QString& mac, ElementConfig& d) { mac.clear(), d.txType = -1; }, Refusal::Reason::NoElement},
        {[](QString&, ElementConfig& d) { d.audioType = -1, d.name.clear(); }, Refusal::Reason::AudioFields},
        {[](QString&, ElementConfig& d) { d.name.clear(), d.mask = "1.2.3.300"; }, Refusal::Reason::Name},
        {[](QString&, ElementConfig& d) { d.remote = "239.1.1"; }, Refusal::Reason::Addresses},
        {[](QString&, ElementConfig& d) { d.gateway = "x"; }, Refusal::Reason::Addresses},
        {[this](QString&, ElementConfig&) { QFile::remove(station.store().path()); },
         Refusal::Reason::StoreMissing},
    };
    for (const auto& [spoil, reason] : cases) {
        QString mac = kMac;
        ElementConfig draft = sent;
        spoil(mac, draft);
        EXPECT_EQ(station.checkConfiguration(mac, draft).reason, reason);
        station.configure(mac, draft, Role::Decoder);
        ASSERT_FALSE(outcomes.isEmpty());
        EXPECT_EQ(outcomes.last().result, Result::Refused);
        EXPECT_EQ(outcomes.last().refusal.reason, reason);
        EXPECT_FALSE(station.isAwaitingAnswer());
    }
    EXPECT_EQ(outcomes.size(), cases.size());
    EXPECT_FALSE(station.link().timerRemoteSent()->isActive());
    EXPECT_TRUE(request(100).isEmpty()); // loopback would have delivered it by now
}

TEST_F(ConfigureTest, ADecoderGets40BytesAndItsAnswerIsComparedAndStoredInOneWrite)
{
    // WHEN the decoder is configured (SFN 5 goes out as 1, no routing chosen as automatic)
    sent.sfn = 5;
    station.configure(kMac, sent, Role::Decoder);
    EXPECT_TRUE(station.isAwaitingAnswer());
    EXPECT_TRUE(outcomes.isEmpty());
    // THEN 40 bytes leave for its stored address
    EXPECT_EQ(request(), hex("7F 00 00 02 FF 00 00 00 7F 00 00 01 EF 01 01 01 00 00 01 01") +
                             "TX SITE B       " + hex("04 00 25 2B"));
    // WHEN it answers with what it took on
    ElementConfig reply = sent;
    reply.sfn = 1, reply.silenceMode = 0;
    answer(reply);
    ASSERT_TRUE(waitUntil([&] { return !outcomes.isEmpty(); }));
    // THEN the configuration is confirmed and its section written with the keys kept
    EXPECT_EQ(outcomes[0].result, Result::Confirmed);
    EXPECT_EQ(outcomes[0].mac, kMac);
    EXPECT_EQ(arp.calls, 0); // identified without waiting on the network
    EXPECT_GE(arp.nowCalls, 1);
    EXPECT_FALSE(station.isAwaitingAnswer());
    EXPECT_FALSE(station.link().timerRemoteSent()->isActive());
    EXPECT_EQ(readFile(station.store().path()),
              "[0050C2000002]\nROLE=2\nIP=127.0.0.2\nDLY=5\nNAME=TX SITE B\nMASK=255.0.0.0\n"
              "GW=127.0.0.1\nINPUT=0\nTYPE=0\nTX=1\nMULTI=239.1.1.1\nSN=40001\nVER=0.0\nATT=200\nBUF=4\n"
              "SFN=1\nSDM=0\nSDL=37\nSDT=43\n");
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(ConfigureTest, TheTimeOutEndsTheSendAndALateAnswerIsStillCompared)
{
    // GIVEN a send to an encoder (36 bytes) and an invalid reply meanwhile
    station.configure(kMac, sent, Role::Encoder);
    EXPECT_EQ(request().size(), 36);
    ElementConfig bad = sent;
    bad.audioType = 4;
    answer(bad);
    QSignalSpy invalid(&station, &Station::invalidReply);
    ASSERT_TRUE(invalid.wait(5000));
    EXPECT_TRUE(outcomes.isEmpty());
    // WHEN the reply time-out fires (fired here, not waited for)
    ASSERT_TRUE(station.link().timerRemoteSent()->isActive());
    QMetaObject::invokeMethod(station.link().timerRemoteSent(), "timeout");
    // THEN the send ends without an answer, naming the invalid reply; the store is untouched
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].result, Result::NoAnswer);
    EXPECT_EQ(outcomes[0].corruptedField, "Audio Type");
    EXPECT_EQ(outcomes[0].sent.name, sent.name);
    EXPECT_FALSE(station.isAwaitingAnswer());
    EXPECT_EQ(readFile(station.store().path()), kStored);
    // WHEN the window has edited the name since and the answer comes late
    ElementConfig edited = sent;
    edited.name = "OTHER";
    station.expect(kMac, edited);
    answer(sent);
    ASSERT_TRUE(waitUntil([&] { return outcomes.size() == 2; }));
    // THEN it is compared with the edited configuration and what matched is stored
    EXPECT_EQ(outcomes[1].result, Result::Mismatch);
    ASSERT_EQ(outcomes[1].differences.size(), 1);
    EXPECT_EQ(outcomes[1].differences[0].key, "name");
    EXPECT_EQ(station.store().read(kMac, "name"), QString());
    EXPECT_EQ(station.store().read(kMac, "sn"), "40001");
}

TEST_F(ConfigureTest, ASendThatCannotLeaveEndsAtOnceWithItsCause)
{
    writeFile(station.store().path(), "[0050C2000002]\nROLE=2\n");
    station.configure(kMac, sent, Role::Decoder);
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(std::tuple(outcomes[0].result, outcomes[0].problem.failure, outcomes[0].problem.cause),
              std::tuple(Result::SendFailed, SendFailure::NoAddress,
                         QString("Cannot send to the Network Element: no IP address is stored for it.")));
    EXPECT_FALSE(station.isAwaitingAnswer() || station.link().timerRemoteSent()->isActive());
}

namespace {
// Another program's transaction on the journal file, held while the station writes.
struct JournalLock
{
    explicit JournalLock(const QString& path)
    {
        db = QSqlDatabase::addDatabase("QSQLITE", "other");
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open() && QSqlQuery(db).exec("BEGIN EXCLUSIVE"));
    }
    ~JournalLock()
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("other");
    }
    QSqlDatabase db;
};
} // namespace

TEST_F(ConfigureTest, EveryOutcomeIsJournaledWithTheElementAsStoredBeforeTheSend)
{
    Journal journal(dir.filePath("nms-journal.db"), "window");
    station.setJournal(&journal);
    ElementConfig mismatched = sent;
    mismatched.name = "NIGHT";
    const struct
    {
        const char* outcome;
        std::function<void()> act;
        QList<JournalChange> changes; // the name's change; empty: none journaled
    } rows[] = {
        {"confirmed",
         [&] { station.configure(kMac, sent, Role::Decoder), request(), answer(sent); },
         {{"name", "", "TX SITE B", "TX SITE B"}}},
        {"mismatch", // what the first send stored is now the value before
         [&] { station.configure(kMac, mismatched, Role::Decoder), request(), answer(sent); },
         {{"name", "TX SITE B", "NIGHT", "TX SITE B"}}},
        {"no-answer",
         [&] {
             station.configure(kMac, mismatched, Role::Decoder), request(),
                 QMetaObject::invokeMethod(station.link().timerRemoteSent(), "timeout");
         },
         {{"name", "TX SITE B", "NIGHT", ""}}},
        {"refused", [&] { station.configure(kMac, ElementConfig{}, Role::Decoder); }, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.outcome);
        const qsizetype before = outcomes.size();
        r.act();
        ASSERT_TRUE(waitUntil([&] { return outcomes.size() > before; }));
        const auto entries = journal.entries();
        ASSERT_TRUE(entries && !entries->isEmpty()) << journal.problem().toStdString();
        const JournalEntry& e = entries->last();
        EXPECT_EQ(QStringList({e.mac, e.outcome, e.program}), QStringList({kMac, r.outcome, "window"}));
        QList<JournalChange> names;
        for (const JournalChange& c : e.changes)
            if (c.field == "name")
                names << c;
        EXPECT_EQ(changesText(names), changesText(r.changes));
    }
    // The attenuation as it was stored before the change.
    ASSERT_TRUE(station.setAttenuation(kMac, 100).stored);
    ASSERT_TRUE(station.setAttenuation(kMac, 101).stored);
    EXPECT_EQ(journal.entries()->last().changes, QList<JournalChange>({{"att", "100", "101", ""}}));
    EXPECT_EQ(journal.entries()->size(), 6);
}

TEST_F(ConfigureTest, TheMeasurementWindowsChangesAreJournaledAsSentOrFailed)
{
    // GIVEN a decoder stored with delay position 3, servo off
    ASSERT_TRUE(station.store().writeKeys(kMac, {{"dly", "3"}, {"srv", "0"}}));
    Journal journal(dir.filePath("windows.db"), "window");
    station.setJournal(&journal);
    // WHEN its adjustment window sets 25 with the servo, and a clear cannot leave
    station.journalDelaySent(kMac, 25, true, {});
    station.journalCountersReset(kMac, {SendFailure::Unreachable, "Network is unreachable"});
    // THEN both are journaled with the values before and the cause of the failure
    const auto entries = journal.entries();
    ASSERT_TRUE(entries && entries->size() == 2) << journal.problem().toStdString();
    EXPECT_EQ(QStringList({operationName((*entries)[0].operation), (*entries)[0].outcome}),
              QStringList({"set-delay", "sent"}));
    EXPECT_EQ((*entries)[0].changes, QList<JournalChange>({{"dly", "3", "25", ""}, {"srv", "0", "1", ""}}));
    EXPECT_EQ(
        QStringList({operationName((*entries)[1].operation), (*entries)[1].outcome, (*entries)[1].detail}),
        QStringList({"counters-cleared", "send-failed", "Network is unreachable"}));
}

TEST_F(ConfigureTest, AJournalThatCannotBeWrittenStopsNothingAndIsSaidOnce)
{
    const struct
    {
        const char* name;
        const char* says;
    } rows[] = {{"corrupted", "not a database"}, {"locked", "locked"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const QString path = dir.filePath(QString("%1.db").arg(r.name));
        std::unique_ptr<JournalLock> lock;
        if (QString(r.name) == "corrupted") {
            ASSERT_TRUE(writeFile(path, QByteArray(4096, 'z')));
        } else {
            ASSERT_TRUE(Journal(path, "exporter").open());
            lock = std::make_unique<JournalLock>(path);
        }
        Journal journal(path, "window");
        station.setJournal(&journal);
        QSignalSpy warnings(&station, &Station::journalWarning);
        // The operations go on and store what they did; the reason is given once.
        EXPECT_TRUE(station.setAttenuation(kMac, 120).stored);
        EXPECT_TRUE(station.setAttenuation(kMac, 121).stored);
        EXPECT_EQ(station.store().read(kMac, "att"), "121");
        station.configure(kMac, sent, Role::Decoder);
        request();
        answer(sent);
        ASSERT_TRUE(waitUntil([&] { return !outcomes.isEmpty(); }));
        EXPECT_EQ(outcomes.takeLast().result, Result::Confirmed);
        ASSERT_EQ(warnings.size(), 1);
        EXPECT_TRUE(warnings[0][0].toString().contains(r.says)) << warnings[0][0].toString().toStdString();
    }
}

TEST_F(StationTest, TheWindowsCoreAndACommandLineProcessWriteTheSameJournalAtOnce)
{
    // GIVEN a station in this process and vexolink-cli in another, both on one store and journal
    const QString store = station.store().path();
    ASSERT_TRUE(writeFile(store, "[0050C2000002]\nROLE=2\nIP=127.0.0.2\nATT=100\n"));
    Journal journal(dir.filePath("nms-journal.db"), "window");
    station.setJournal(&journal);
    constexpr int kEach = 40;
    QProcess other;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VEXOLINK_NMS_STORE", store);
    other.setProcessEnvironment(env);
    // WHEN the command line changes the attenuation while the station clears the counters
    other.start(
        "sh",
        {"-c",
         QString("for i in $(seq %1); do \"$0\" attenuation %2 -$i || exit 1; done").arg(kEach).arg(kMac),
         qEnvironmentVariable("VEXO_BIN") + "/src/app/vexolink-cli"});
    ASSERT_TRUE(other.waitForStarted());
    int cleared = 0;
    for (int i = 0; i < kEach; ++i) {
        station.clearCounters(
            kMac, [&](const MeasureOutcome& o) { cleared += o.result == MeasureOutcome::Result::Answered; });
        ASSERT_TRUE(waitUntil([&] { return cleared == i + 1; }));
    }
    ASSERT_TRUE(other.waitForFinished(60000));
    EXPECT_EQ(other.exitCode(), 0) << other.readAllStandardError().toStdString();
    // THEN every change of both is in the journal, each with its program, and nothing was said
    const auto entries = journal.entries();
    ASSERT_TRUE(entries) << journal.problem().toStdString();
    QMap<QString, int> byProgram;
    for (const JournalEntry& e : *entries)
        byProgram[e.program + "/" + operationName(e.operation)]++;
    EXPECT_EQ(byProgram,
              (QMap<QString, int>{{"window/counters-cleared", kEach}, {"command-line/attenuation", kEach}}));
    EXPECT_EQ(other.readAllStandardError(), QByteArray());
}
