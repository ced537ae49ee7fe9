// The journal of changes: the entries the operations' outcomes make, store copies put back byte
// for byte, writers at once, journals that cannot be written, and the command line over it.
#include "journal/Journal.h"
#include "TestUtil.h"
#include "editor/StoredElement.h"
#include "journal/JournalTime.h"
#include "journal/Recorders.h"
#include "store/IniFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pwd.h>
#include <thread>
#include <unistd.h>

using namespace vexo;

namespace {

const QString kMac = QStringLiteral("00:50:C2:77:00:02");
const QByteArray kDecoder = "[0050C2770002]\nNAME=DECODER 001\nIP=10.0.0.7\nMASK=255.255.255.0\nGW=10.0.0.1\n"
                            "INPUT=0\nTYPE=0\nTX=1\nMULTI=239.1.1.1\nROLE=2\nSN=5\nVER=3.2\nSFN=1\nBUF=4\n"
                            "ATT=200\nSDM=0\nSDL=40\nSDT=43\nDLY=100\n";

struct Folder
{
    QTemporaryDir dir;
    QString store = dir.filePath("nms.ini");
    QString journal = dir.filePath("nms-journal.db");
    Folder(const QByteArray& storeBytes = kDecoder) { EXPECT_TRUE(writeFile(store, storeBytes)); }
    StoredElement element() const { return StoredElement::load(ElementStore(store), kMac); }
};

// Another program's connection to the same file, for what the journal itself never does.
struct RawConnection
{
    QString name;
    QSqlDatabase db;
    explicit RawConnection(const QString& path) : name("raw-" + path)
    {
        db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
    }
    bool exec(const QString& sql) { return QSqlQuery(db).exec(sql); }
    ~RawConnection()
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
};

struct CliRun
{
    int code = -1;
    QByteArray out, err;
    QJsonDocument json() const { return QJsonDocument::fromJson(out); }
};

CliRun cli(const Folder& f, const QStringList& args, const QStringList& runAs = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VEXOLINK_NMS_STORE", f.store);
    env.insert("VEXOLINK_NMS_JOURNAL", f.journal);
    p.setProcessEnvironment(env);
    const QString program = qEnvironmentVariable("VEXO_BIN") + "/src/app/vexolink-cli";
    if (runAs.isEmpty())
        p.start(program, args);
    else
        p.start(runAs.first(), runAs.mid(1) + QStringList{program} + args);
    EXPECT_TRUE(p.waitForFinished(30000));
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

using R = ConfigureOutcome::Result;

ConfigureOutcome outcome(R result, const ElementConfig& sent, const ElementConfig& reported = {},
                         const QList<FieldDifference>& differences = {}, const SendProblem& problem = {},
                         const Refusal& refusal = {})
{
    ConfigureOutcome o;
    o.result = result;
    o.mac = kMac;
    o.sent = sent;
    o.reported = reported;
    o.differences = differences;
    o.problem = problem;
    o.refusal = refusal;
    return o;
}

JournalQuery query(const QString& mac, const QDateTime& since = {},
                   std::optional<JournalOperation> operation = std::nullopt)
{
    JournalQuery q;
    q.mac = mac;
    q.since = since;
    q.operation = operation;
    return q;
}

} // namespace

TEST(Journal, EachOutcomeMakesItsEntryAndReadsBackAsWritten)
{
    // GIVEN a stored decoder whose name a configuration changes
    Folder f;
    const StoredElement before = f.element();
    ElementConfig sent = before.config();
    sent.name = "NIGHT";
    ElementConfig reported = sent, blank = sent;
    reported.silenceLevel = 41;
    blank.name = ""; // the operator cleared the name: it leaves as sixteen blanks
    const JournalChange name{"name", "DECODER 001", "NIGHT", "NIGHT"},
        unanswered{"name", "DECODER 001", "NIGHT", ""};
    const struct
    {
        ConfigureOutcome outcome;
        const char* name;
        QList<JournalChange> changes;
        const char* detail;
    } rows[] = {
        {outcome(R::Confirmed, sent, sent), "confirmed", {name}, ""},
        {outcome(R::Mismatch, sent, reported, {{"Silence Level", "sdl", "40", "41"}}),
         "mismatch",
         {name, {"sdl", "40", "40", "41"}},
         ""},
        {outcome(R::NoAnswer, sent), "no-answer", {unanswered}, ""},
        {[&] {
             ConfigureOutcome o = outcome(R::OtherElement, sent, sent);
             o.reported.mac = "00:50:C2:00:00:99";
             return o;
         }(),
         "other-element",
         {unanswered},
         "answered by 00:50:C2:00:00:99"},
        {[&] {
             ConfigureOutcome o = outcome(R::Mismatch, sent, sent);
             o.unknownRole = true;
             return o;
         }(),
         "mismatch",
         {name},
         "the element did not say what it is"},
        {outcome(R::Confirmed, blank, blank), "confirmed", {{"name", "DECODER 001", "", ""}}, ""},
        {outcome(R::SendFailed, sent, {}, {}, {SendFailure::Unreachable, "Network is unreachable"}),
         "send-failed",
         {unanswered},
         "Network is unreachable"},
        {outcome(R::Refused, {}, {}, {}, {}, {Refusal::Reason::InvalidStored, "buf", "99", "0 to 22"}),
         "refused",
         {},
         "buf '99' is not 0 to 22"},
    };
    Journal journal(f.journal, "window");
    ASSERT_TRUE(journal.open());
    EXPECT_TRUE(journal.isWritable());
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        // WHEN the outcome is recorded
        const JournalEntry e = configureEntry(r.outcome, before);
        ASSERT_TRUE(recordConfigure(journal, r.outcome, before)) << journal.problem().toStdString();
        // THEN the entry names the element as stored, the outcome, the changed and disagreeing fields
        EXPECT_EQ(QStringList({e.mac, e.name, e.ip, e.outcome, e.detail}),
                  QStringList({kMac, "DECODER 001", "10.0.0.7", r.name, r.detail}));
        EXPECT_EQ(e.changes, r.changes);
        // ... and keeps what was sent whole, to be sent again
        EXPECT_EQ(e.sentConfig.size(), r.outcome.result == R::Refused ? 0 : 13);
        EXPECT_TRUE(r.outcome.result == R::Refused || e.sentConfig.contains({QString("multi"), "239.1.1.1"}));
    }
    // ... and the history says what the element reported where it differs from what was sent
    EXPECT_EQ(changesText(rows[1].changes), "name: DECODER 001 -> NIGHT; sdl: 40 -> 40 (reported 41)");
    // AND every entry reads back as it was built, with who wrote it and when
    recordAttenuation(journal, before, 215, {});
    const auto read = journal.entries(query(kMac));
    ASSERT_TRUE(read) << journal.problem().toStdString();
    ASSERT_EQ(read->size(), std::size(rows) + 1);
    for (size_t i = 0; i < std::size(rows); ++i) {
        JournalEntry expected = configureEntry(rows[i].outcome, before);
        expected.id = read->at(i).id;
        expected.time = read->at(i).time;
        expected.user = read->at(i).user;
        expected.host = read->at(i).host;
        expected.program = "window";
        EXPECT_EQ(read->at(i), expected) << i;
        // ... the account that ran the program, and the machine it ran on
        EXPECT_EQ(QStringList({expected.user, expected.host}),
                  QStringList({QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name),
                               QSysInfo::machineHostName()}));
        EXPECT_LE(qAbs(read->at(i).time.msecsTo(QDateTime::currentDateTimeUtc())), 60000);
    }
    EXPECT_EQ(read->last().changes, QList<JournalChange>({{"att", "200", "215", ""}}));
    EXPECT_EQ(journal.entries(query(kMac, {}, JournalOperation::Attenuation))->size(), 1);
    EXPECT_EQ(journal.entries(query("00:50:C2:77:00:09"))->size(), 0);
    EXPECT_EQ(journal.entries(query(kMac, QDateTime::currentDateTimeUtc().addSecs(60)))->size(), 0);
}

TEST(Journal, TheOtherOperationsMakeTheirEntries)
{
    Folder f;
    const StoredElement before = f.element();
    const JournalEntry failed = attenuationEntry(before, 14, {SendFailure::PortBusy, "port 2976 in use"});
    EXPECT_EQ(QStringList({failed.outcome, failed.detail}), QStringList({"send-failed", "port 2976 in use"}));
    const JournalEntry delay =
        delayEntry(JournalOperation::SfnAlignment, before, {300, true}, {{300, false}}, {});
    EXPECT_EQ(delay.outcome, "mismatch");
    EXPECT_EQ(delay.changes, QList<JournalChange>({{"dly", "100", "300", "300"}, {"srv", "0", "1", "0"}}));
    EXPECT_EQ(delayEntry(JournalOperation::SetDelay, before, {300, true}, {{300, true}}, {}).outcome,
              "confirmed");
    EXPECT_EQ(delayEntry(JournalOperation::SetDelay, before, {300, true}, {}, {}).outcome, "no-answer");
    EXPECT_EQ(countersClearedEntry(before, false, {}).outcome, "no-answer");
    const JournalEntry discovery = discoveryEntry(4, 12);
    EXPECT_EQ(QList<qint64>({discovery.elements, discovery.storeCopy}), QList<qint64>({4, 12}));
}

TEST(Journal, TheNewestEntriesComeInTheOrderTheyWereMadeAndASuccessClearsTheLastProblem)
{
    Folder f;
    Journal journal(f.journal, "window");
    for (int position = 14; position <= 18; ++position)
        ASSERT_TRUE(recordAttenuation(journal, f.element(), position, {})) << journal.problem().toStdString();
    JournalQuery newest;
    newest.limit = 1;
    const auto last = journal.entries(newest);
    ASSERT_TRUE(last && last->size() == 1);
    EXPECT_EQ(last->at(0).changes.value(0).sent, "18");
    newest.limit = 2;
    const auto entries = journal.entries(newest);
    ASSERT_TRUE(entries && entries->size() == 2);
    EXPECT_EQ(QStringList({entries->at(0).changes.at(0).sent, entries->at(1).changes.at(0).sent}),
              QStringList({"17", "18"}));
    // A failure's reason does not outlive the next call that succeeds.
    EXPECT_FALSE(journal.storeCopyBytes(99));
    EXPECT_FALSE(journal.problem().isEmpty());
    const auto copy = journal.saveStoreCopy(f.store);
    ASSERT_TRUE(copy);
    EXPECT_EQ(journal.problem(), "");
    EXPECT_FALSE(journal.storeCopyBytes(99));
    ASSERT_TRUE(journal.storeCopyBytes(*copy));
    EXPECT_EQ(journal.problem(), "");
    EXPECT_FALSE(journal.storeCopyBytes(99));
    ASSERT_TRUE(journal.entries(newest));
    EXPECT_EQ(journal.problem(), "");
}

TEST(Journal, AStoreIsKeptBeforeADiscoveryAndPutBackByteForByte)
{
    // GIVEN the Windows station's store (CRLF, upper-case keys)
    const QByteArray windows = readFile(fixturePath("nms-windows-station.ini"));
    ASSERT_FALSE(windows.isEmpty());
    Folder f(windows);
    Journal journal(f.journal, "window");
    // WHEN it is kept, a discovery empties it, and the copy is restored
    const auto copy = journal.saveStoreCopy(f.store);
    ASSERT_TRUE(copy && *copy > 0) << journal.problem().toStdString();
    ASSERT_TRUE(emptyIniFile(f.store));
    ASSERT_TRUE(recordDiscovery(journal, 0, *copy));
    const RestoreResult result = journal.restoreStoreCopy(*copy, f.store);
    // THEN the store holds the very bytes again, and the emptied store was kept too
    EXPECT_EQ(result.status, RestoreResult::Status::Restored) << result.problem.toStdString();
    EXPECT_EQ(readFile(f.store), windows);
    EXPECT_EQ(result.elements, ElementStore(f.store).elements().size());
    EXPECT_EQ(journal.storeCopyBytes(result.replacedCopy), QByteArray(""));
    const auto copies = journal.storeCopies();
    ASSERT_EQ(copies->size(), 2);
    EXPECT_EQ(QList<qint64>({copies->at(0).id, copies->at(0).elements, copies->at(0).bytes}),
              QList<qint64>({*copy, result.elements, windows.size()}));
    const auto discovery = journal.entries(query({}, {}, JournalOperation::Discovery));
    ASSERT_EQ(discovery->size(), 1);
    EXPECT_EQ(QList<qint64>({discovery->at(0).storeCopy, discovery->at(0).elements}),
              QList<qint64>({*copy, 0}));
    // AND the restore is journaled with the copy it put back
    const auto restored = journal.entries(query({}, {}, JournalOperation::StoreRestored));
    ASSERT_EQ(restored->size(), 1);
    EXPECT_EQ(QList<qint64>({restored->at(0).storeCopy, restored->at(0).elements}),
              QList<qint64>({*copy, result.elements}));
    EXPECT_EQ(restored->at(0).outcome, "restored");
    EXPECT_EQ(restored->at(0).detail, QString("the store it replaced is copy %1").arg(result.replacedCopy));
    const RestoreResult unknown = journal.restoreStoreCopy(99, f.store);
    EXPECT_EQ(unknown.status, RestoreResult::Status::UnknownCopy);
    EXPECT_EQ(unknown.problem, "the journal holds no store copy 99");
    EXPECT_EQ(readFile(f.store), windows);
    EXPECT_EQ(journal.storeCopyBytes(*copy), windows);
    // A store that cannot be written (here a folder stands where it should be) is told, and journaled
    const QString blocked = f.dir.filePath("blocked");
    ASSERT_TRUE(QDir(f.dir.path()).mkdir("blocked"));
    const RestoreResult failed = journal.restoreStoreCopy(*copy, blocked);
    EXPECT_EQ(failed.status, RestoreResult::Status::StoreWriteFailed);
    EXPECT_EQ(failed.problem, QString("the store %1 could not be written").arg(blocked));
    const auto entries = journal.entries(query({}, {}, JournalOperation::StoreRestored));
    ASSERT_EQ(entries->size(), 2);
    EXPECT_EQ(QStringList({entries->at(1).outcome, entries->at(1).detail}),
              QStringList({"store-write-failed", failed.problem}));
}

TEST(Journal, TwoWritersAtOnceLoseNothing)
{
    Folder f;
    const StoredElement before = f.element();
    ASSERT_TRUE(Journal(f.journal, "window").open());
    const auto write = [&](const QString& program, int* written) {
        Journal journal(f.journal, program);
        for (int i = 0; i < 200; ++i)
            *written += recordAttenuation(journal, before, 14 + i, {}).has_value();
    };
    int window = 0, cliWrites = 0;
    std::thread other(write, "command-line", &cliWrites);
    write("window", &window);
    other.join();
    EXPECT_EQ(window + cliWrites, 400);
    EXPECT_EQ(Journal(f.journal, "window").entries(query(kMac))->size(), 400);
}

TEST(Journal, AJournalThatCannotBeWrittenGivesItsReasonOnceAndReturns)
{
    const struct
    {
        const char* name;
        char setup; // g: garbage bytes, l: another connection's exclusive transaction, n: newer schema,
                    // f: another program's database with a table of the journal's names
        const char* says;
    } rows[] = {
        {"corrupted", 'g', "not a database"},
        {"locked", 'l', "locked"},
        {"newer", 'n', "written by a newer station (schema 7"},
        {"foreign", 'f', "table entries already exists"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Folder f;
        std::unique_ptr<RawConnection> other;
        if (r.setup == 'g') {
            ASSERT_TRUE(writeFile(f.journal, QByteArray(4096, '\x5a')));
        } else if (r.setup == 'f') {
            ASSERT_TRUE(RawConnection(f.journal).exec("CREATE TABLE entries(x)"));
        } else {
            Journal before(f.journal, "exporter");
            ASSERT_TRUE(before.record(discoveryEntry(1, 0)) && before.saveStoreCopy(f.store) == 1);
            other = std::make_unique<RawConnection>(f.journal);
            ASSERT_TRUE(other->exec(r.setup == 'l' ? "BEGIN EXCLUSIVE" : "PRAGMA user_version=7"));
        }
        Journal journal(f.journal, "window");
        EXPECT_FALSE(recordAttenuation(journal, f.element(), 20, {}));
        EXPECT_TRUE(journal.problem().contains(r.says)) << journal.problem().toStdString();
        EXPECT_EQ(journal.isWritable(), r.setup == 'l'); // a lock passes, the file stays writable
        EXPECT_TRUE(journal.takeWarning().contains(r.says));
        EXPECT_FALSE(journal.saveStoreCopy(f.store));
        EXPECT_EQ(journal.takeWarning(), QString()); // once per session
        // A newer journal is still read.
        if (r.setup == 'n') {
            EXPECT_EQ(journal.entries()->size(), 1);
            // ... and its copy restored, saying what could not be journaled
            const RestoreResult back = journal.restoreStoreCopy(1, f.store);
            EXPECT_EQ(back.status, RestoreResult::Status::Restored);
            EXPECT_TRUE(back.journalProblem.contains(r.says)) << back.journalProblem.toStdString();
        }
        // A released lock lets the next entry in, and its reason goes with it.
        if (r.setup == 'l') {
            other.reset();
            EXPECT_TRUE(recordAttenuation(journal, f.element(), 21, {}));
            EXPECT_EQ(journal.problem(), "");
        }
    }
}

TEST(JournalTime, DatesTimesAndSpansBackFromNow)
{
    const QDateTime now(QDate(2024, 5, 10), QTime(12, 0), Qt::UTC);
    const QDateTime localMidnight = QDate(2024, 5, 1).startOfDay();
    const struct
    {
        const char* text;
        QDateTime expected; // invalid: refused
    } rows[] = {
        {"30m", now.addSecs(-1800)},
        {"2h", now.addSecs(-7200)},
        {"7d", QDateTime(QDate(2024, 5, 3), QTime(12, 0), Qt::UTC)},
        {"2w", QDateTime(QDate(2024, 4, 26), QTime(12, 0), Qt::UTC)},
        {"45s", now.addSecs(-45)},
        {"2024-05-01", localMidnight},
        {"2024-05-01T22:30:15.250Z", QDateTime(QDate(2024, 5, 1), QTime(22, 30, 15, 250), Qt::UTC)},
        {"2024-05-01 22:30+02:00", QDateTime(QDate(2024, 5, 1), QTime(20, 30), Qt::UTC)},
        {"2024-05-01T22:30", QDateTime(QDate(2024, 5, 1), QTime(22, 30), Qt::LocalTime)},
        {"2024-05-01 22:30", QDateTime(QDate(2024, 5, 1), QTime(22, 30), Qt::LocalTime)},
        {"", {}},
        {"5", {}},
        {"h", {}},
        {"-2h", {}},
        {"2y", {}},
        {"99999999d", {}},
        {"73200d", now.addDays(-73200)}, // 200 years back is the furthest
        {"73201d", {}},
        {"2024-13-01", {}},
        {"2024-05-01T7:05", {}},
        {"2024-05-01T22:30+2", {}},
        {"yesterday", {}},
    };
    for (const auto& r : rows) {
        const auto parsed = parseJournalTime(r.text, now);
        EXPECT_EQ(parsed.has_value(), r.expected.isValid()) << r.text;
        if (parsed && r.expected.isValid()) {
            EXPECT_EQ(parsed->toMSecsSinceEpoch(), r.expected.toMSecsSinceEpoch()) << r.text;
        }
    }
}

TEST(JournalCli, JournalBackupsAndRestoreThroughTheProgram)
{
    // GIVEN a journal with a confirmed configuration, an attenuation change and a kept store
    Folder f(readFile(fixturePath("nms-windows-station.ini")) + kDecoder);
    const QByteArray original = readFile(f.store);
    qint64 copy = 0;
    {
        Journal journal(f.journal, "window");
        ElementConfig sent = f.element().config();
        sent.name = "NIGHT";
        ASSERT_TRUE(recordConfigure(journal, outcome(R::Confirmed, sent, sent), f.element()));
        ASSERT_TRUE(recordAttenuation(journal, f.element(), 215, {}));
        copy = journal.saveStoreCopy(f.store).value_or(0);
        ASSERT_EQ(copy, 1);
        ASSERT_TRUE(recordDiscovery(journal, 2, copy));
    }
    // WHEN a script asks for the element's journal (by stored name) and its configurations
    CliRun r = cli(f, {"journal", "decoder 001", "--since", "1h", "--json"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QJsonArray entries = r.json().array();
    ASSERT_EQ(entries.size(), 2);
    const QJsonObject first = entries[0].toObject();
    EXPECT_EQ(QStringList(first.keys()),
              QStringList({"changes", "detail", "elements", "host", "id", "ip", "mac", "name", "operation",
                           "outcome", "program", "store_copy", "time", "user"}));
    EXPECT_EQ(QStringList({first["mac"].toString(), first["operation"].toString(),
                           first["outcome"].toString(), first["program"].toString()}),
              QStringList({kMac, "configure", "confirmed", "window"}));
    EXPECT_EQ(first["changes"].toArray()[0].toObject(),
              QJsonObject(
                  {{"field", "name"}, {"before", "DECODER 001"}, {"sent", "NIGHT"}, {"reported", "NIGHT"}}));
    // What a configuration does not have is null, not a made-up number
    EXPECT_EQ(QList<QJsonValue>({first["store_copy"], first["elements"]}),
              QList<QJsonValue>(2, QJsonValue::Null));
    EXPECT_TRUE(QDateTime::fromString(first["time"].toString(), Qt::ISODateWithMs).isValid());
    EXPECT_TRUE(first["time"].toString().endsWith('Z'));
    r = cli(f, {"journal", "decoder 001"});
    EXPECT_TRUE(r.out.startsWith("ID  TIME")) << r.out.toStdString();
    EXPECT_EQ(r.out.count('\n'), 3);
    EXPECT_TRUE(r.out.contains("att: 200 -> 215"));
    r = cli(f, {"journal", "0050c2770002", "--operation", "attenuation", "--csv"});
    EXPECT_EQ(r.out.count('\n'), 2) << r.out.toStdString();
    EXPECT_TRUE(
        r.out.startsWith("id,time,user,host,program,mac,name,ip,operation,outcome,changes,detail\r\n"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(",window,00:50:C2:77:00:02,DECODER 001,10.0.0.7,attenuation,"));
    EXPECT_TRUE(r.out.contains("att: 200 -> 215"));
    EXPECT_EQ(cli(f, {"journal", "--since", "2999-01-01", "--json"}).json().array().size(), 0);
    EXPECT_TRUE(
        cli(f, {"journal", "--operation", "discovery"}).out.contains("2 answered; the store before: copy 1"));
    // Bad input: its own line and code.
    r = cli(f, {"journal", "--operation", "reboot"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("unknown operation 'reboot'"));
    EXPECT_EQ(cli(f, {"journal", "--since", "soon"}).code, 2);
    EXPECT_EQ(cli(f, {"journal", "NOBODY"}).code, 3);
    EXPECT_TRUE(cli(f, {"store", "restore", "abc"}).err.contains("malformed ID 'abc'"));
    EXPECT_TRUE(cli(f, {"store", "restore", "0"}).err.contains("malformed ID '0'"));
    const struct
    {
        QStringList args;
        const char* error;
    } usage[] = {{{"journal", "decoder 001", "more"}, "unexpected argument 'more'"},
                 {{"store", "restore"}, "restore: ID missing"},
                 {{"store", "restore", "1", "2"}, "restore: unexpected argument '2'"},
                 {{"store", "backups", "x"}, "backups: unexpected argument 'x'"}};
    for (const auto& u : usage) {
        r = cli(f, u.args);
        EXPECT_EQ(r.code, 2) << u.error;
        EXPECT_TRUE(r.err.contains(u.error)) << r.err.toStdString();
    }

    // WHEN the store was emptied and the copy is listed and restored
    ASSERT_TRUE(emptyIniFile(f.store));
    r = cli(f, {"store", "backups", "--json"});
    ASSERT_EQ(r.code, 0);
    const QJsonObject listed = r.json().array()[0].toObject();
    EXPECT_EQ(QList<qint64>({qint64(listed["id"].toDouble()), listed["elements"].toInt(),
                             qint64(listed["bytes"].toDouble())}),
              QList<qint64>({copy, 3, original.size()}));
    const QDateTime kept = QDateTime::fromString(listed["time"].toString(), Qt::ISODateWithMs);
    EXPECT_LE(qAbs(kept.secsTo(QDateTime::currentDateTimeUtc())), 600)
        << listed["time"].toString().toStdString();
    EXPECT_EQ(cli(f, {"store", "restore", "77"}).code, 2);
    r = cli(f, {"store", "restore", QString::number(copy)});
    // THEN the store is back byte for byte and the restore is in the journal
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, QByteArray());
    EXPECT_EQ(r.out, QString("Store copy %1 restored (3 elements); the store it replaced is copy %2.\n")
                         .arg(copy)
                         .arg(copy + 1));
    EXPECT_EQ(readFile(f.store), original);
    entries = cli(f, {"journal", "--operation", "store-restored", "--json"}).json().array();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].toObject()["program"].toString(), "command-line");
}

TEST(JournalCli, ARestoreGoesOnWhenTheJournalIsReadOnlyAndSaysSoOnce)
{
    // GIVEN a journal holding a store copy that the restoring account may read but not write
    Folder f;
    const QByteArray original = readFile(f.store);
    qint64 copy = 0;
    {
        Journal journal(f.journal, "window");
        copy = journal.saveStoreCopy(f.store).value_or(0);
    }
    ASSERT_GT(copy, 0);
    ASSERT_TRUE(emptyIniFile(f.store));
    ASSERT_TRUE(QFile::setPermissions(f.journal, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    // Root writes every file: the program then runs as nobody, who owns the store and the folder.
    QStringList runAs;
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(QFile::encodeName(f.store).constData(), 65534, 65534), 0);
        ASSERT_EQ(::chown(QFile::encodeName(f.dir.path()).constData(), 65534, 65534), 0);
        runAs = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }
    // WHEN the copy is restored
    const CliRun r = cli(f, {"store", "restore", QString::number(copy), "--json"}, runAs);
    // THEN the store is back, and one warning line says the change was not journaled
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(readFile(f.store), original);
    // ... the store it replaced could not be kept: no copy to name
    EXPECT_EQ(r.json().object(),
              QJsonObject({{"id", double(copy)}, {"elements", 1}, {"replaced_copy", QJsonValue()}}));
    EXPECT_EQ(r.err.count('\n'), 1);
    EXPECT_TRUE(r.err.startsWith("vexolink-cli: warning: changes are not being journaled: journal "))
        << r.err.toStdString();
    EXPECT_EQ(Journal(f.journal, "window").entries()->size(), 0);
}

TEST(JournalCli, AnUnreadableJournalIsTheCommandsOneErrorLine)
{
    // GIVEN a journal file that is no database
    Folder f;
    ASSERT_TRUE(writeFile(f.journal, QByteArray(4096, 'z')));
    for (const QStringList& args :
         {QStringList{"journal"}, QStringList{"store", "backups"}, QStringList{"store", "restore", "1"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        // WHEN it is read THEN the command fails with the reason as its only line
        const CliRun r = cli(f, args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("not a database")) << r.err.toStdString();
        EXPECT_EQ(r.out, QByteArray());
    }
}
