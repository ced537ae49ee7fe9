#include "Journal.h"

#include "store/ElementStore.h"
#include "store/IniFile.h"

#include <QAtomicInteger>
#include <QFile>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QVariant>

#include <pwd.h>
#include <unistd.h>

namespace vexo {

namespace {

const QList<QPair<JournalOperation, QString>>& operationTable()
{
    static const QList<QPair<JournalOperation, QString>> table = {
        {JournalOperation::Configure, QStringLiteral("configure")},
        {JournalOperation::Attenuation, QStringLiteral("attenuation")},
        {JournalOperation::SetDelay, QStringLiteral("set-delay")},
        {JournalOperation::CountersCleared, QStringLiteral("counters-cleared")},
        {JournalOperation::SfnAlignment, QStringLiteral("sfn-alignment")},
        {JournalOperation::Discovery, QStringLiteral("discovery")},
        {JournalOperation::StoreRestored, QStringLiteral("store-restored")},
    };
    return table;
}

// Version 1. A later version adds its step to kMigrations and raises kSchemaVersion.
const char* const kSchema[] = {
    "CREATE TABLE entries(id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL, user TEXT, host TEXT,"
    " program TEXT, mac TEXT, name TEXT, ip TEXT, operation TEXT NOT NULL, outcome TEXT,"
    " detail TEXT, changes TEXT, sent TEXT, store_copy INTEGER, elements INTEGER)",
    "CREATE INDEX entries_by_mac ON entries(mac, time_ms)",
    "CREATE INDEX entries_by_time ON entries(time_ms)",
    "CREATE INDEX entries_by_operation ON entries(operation, time_ms)",
    "CREATE TABLE store_copies(id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL, path TEXT,"
    " elements INTEGER NOT NULL, bytes BLOB NOT NULL)",
};
// kMigrations[i] takes a journal from version i + 1 to version i + 2, statement by statement.
const QList<QStringList> kMigrations = {};

QString loginName()
{
    // The account that runs the program, as ls -l would name it; the variables only when the
    // account has no name (a container's bare uid).
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? QString::number(::geteuid()) : user;
}

// Changes and sent values are kept as records of fields joined by the ASCII record and unit
// separators: reading them back is a split, several times cheaper than parsing JSON per entry,
// which is what a query of thousands of entries spends its time on. The separators never occur
// in a store value (a value holding one has it replaced by "?").
constexpr QChar kRecord(0x1E);
constexpr QChar kUnit(0x1F);

QString clean(QString value)
{
    return value.replace(kRecord, QLatin1Char('?')).replace(kUnit, QLatin1Char('?'));
}

QString encodeRecords(const QList<QStringList>& records)
{
    QStringList joined;
    for (const QStringList& fields : records) {
        QStringList cleaned;
        for (const QString& f : fields)
            cleaned.append(clean(f));
        joined.append(cleaned.join(kUnit));
    }
    return joined.join(kRecord);
}

template <typename Make> void decodeRecords(const QString& text, Make make)
{
    if (text.isEmpty())
        return;
    for (const QStringView record : QStringView(text).split(kRecord))
        make(record.split(kUnit));
}

QString encodeChanges(const QList<JournalChange>& changes)
{
    QList<QStringList> records;
    for (const JournalChange& c : changes)
        records.append({c.field, c.before, c.sent, c.reported});
    return encodeRecords(records);
}

QList<JournalChange> decodeChanges(const QString& text)
{
    QList<JournalChange> changes;
    decodeRecords(text, [&](const QList<QStringView>& f) {
        changes.append(
            {f.value(0).toString(), f.value(1).toString(), f.value(2).toString(), f.value(3).toString()});
    });
    return changes;
}

QString encodePairs(const QList<QPair<QString, QString>>& pairs)
{
    QList<QStringList> records;
    for (const auto& [key, value] : pairs)
        records.append({key, value});
    return encodeRecords(records);
}

QList<QPair<QString, QString>> decodePairs(const QString& text)
{
    QList<QPair<QString, QString>> pairs;
    decodeRecords(text, [&](const QList<QStringView>& f) {
        pairs.append({f.value(0).toString(), f.value(1).toString()});
    });
    return pairs;
}

QVariant nullable(qint64 value, qint64 none)
{
    return value == none ? QVariant() : QVariant(value);
}

QDateTime utc(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

} // namespace

QString operationName(JournalOperation operation)
{
    for (const auto& [op, name] : operationTable()) {
        if (op == operation)
            return name;
    }
    return QString();
}

std::optional<JournalOperation> operationFromName(const QString& name)
{
    for (const auto& [op, n] : operationTable()) {
        if (n.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return op;
    }
    return std::nullopt;
}

QStringList operationNames()
{
    QStringList names;
    for (const auto& entry : operationTable())
        names.append(entry.second);
    return names;
}

Journal::Journal(QString path, QString program, int busyTimeoutMs)
    : m_path(std::move(path)), m_program(std::move(program)), m_user(loginName()),
      m_host(QSysInfo::machineHostName()), m_busyTimeoutMs(busyTimeoutMs)
{
    static QAtomicInteger<quint64> counter;
    m_connection = QStringLiteral("vexo-journal-%1").arg(counter.fetchAndAddRelaxed(1));
}

Journal::~Journal()
{
    if (m_db.isValid())
        m_db.close();
    m_db = QSqlDatabase();
    if (QSqlDatabase::contains(m_connection))
        QSqlDatabase::removeDatabase(m_connection);
}

bool Journal::fail(const QString& what, const QString& why)
{
    m_problem = QStringLiteral("journal %1: %2 (%3)").arg(m_path, what, why);
    if (!m_warned && m_pendingWarning.isEmpty())
        m_pendingWarning = m_problem;
    return false;
}

QString Journal::takeWarning()
{
    if (m_warned || m_pendingWarning.isEmpty())
        return QString();
    m_warned = true;
    return m_pendingWarning;
}

bool Journal::exec(const QString& sql)
{
    QSqlQuery q(m_db);
    if (q.exec(sql))
        return true;
    return fail(QStringLiteral("cannot be written"), q.lastError().text());
}

bool Journal::open()
{
    if (m_open)
        return true;
    if (!m_db.isValid()) {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
            return fail(QStringLiteral("cannot be opened"),
                        QStringLiteral("Qt's SQLite driver is missing: install libqt6sql6-sqlite"));
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        m_db.setDatabaseName(m_path);
        m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
    }
    if (!m_db.open())
        return fail(QStringLiteral("cannot be opened"), m_db.lastError().text());
    const std::optional<int> found = readSchemaVersion();
    if (!found) {
        m_db.close();
        return false;
    }
    // Reading through a mapping spares a query of an element's history one read call per page:
    // its entries are spread over the file between those of the other elements.
    QSqlQuery(m_db).exec(QStringLiteral("PRAGMA mmap_size=268435456"));
    m_writable = true;
    m_readOnlyReason.clear();
    if (*found > kSchemaVersion) {
        // Its tables may mean something this station does not know: read, never written.
        m_writable = false;
        m_readOnlyReason = QStringLiteral("written by a newer station (schema %1, this one knows %2)")
                               .arg(*found)
                               .arg(kSchemaVersion);
    } else if (*found < kSchemaVersion && !createOrMigrate()) {
        m_db.close();
        return false;
    }
    if (m_writable) {
        // WAL: readers never wait for a writer, and the window, the command line and the
        // exporter write one after the other. NORMAL: a commit is not synced on its own (a
        // power cut may lose the last entries, never the file's consistency); that keeps an
        // entry far below the cost of the operation it records.
        QSqlQuery wal(m_db);
        if (!wal.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !wal.next() ||
            wal.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
            const QString why =
                wal.lastError().isValid() ? wal.lastError().text() : QStringLiteral("WAL mode refused");
            m_db.close();
            return fail(QStringLiteral("cannot be written"), why);
        }
        wal.finish();
        if (!exec(QStringLiteral("PRAGMA synchronous=NORMAL"))) {
            m_db.close();
            return false;
        }
    }
    m_open = true;
    return true;
}

bool Journal::rollBack()
{
    // The reason the transaction failed is the one to tell, not what its end may add.
    const QString problem = m_problem;
    exec(QStringLiteral("ROLLBACK"));
    m_problem = problem;
    return false;
}

std::optional<int> Journal::readSchemaVersion()
{
    QSqlQuery version(m_db);
    if (version.exec(QStringLiteral("PRAGMA user_version")) && version.next())
        return version.value(0).toInt();
    // Garbage in the file's place says "file is not a database" here.
    fail(QStringLiteral("cannot be read"), version.lastError().text());
    return std::nullopt;
}

bool Journal::createOrMigrate()
{
    // IMMEDIATE: two programs opening a new journal at once create it once.
    if (!exec(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    const std::optional<int> found = readSchemaVersion();
    if (!found)
        return rollBack(); // a journal whose version cannot be read is not one to build a schema in
    QStringList steps;
    if (*found == 0) {
        for (const char* sql : kSchema)
            steps.append(QString::fromLatin1(sql));
    } else {
        for (int v = *found; v < kSchemaVersion; ++v)
            steps += kMigrations.value(v - 1);
    }
    if (*found < kSchemaVersion)
        steps.append(QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion));
    for (const QString& sql : steps) {
        if (!exec(sql))
            return rollBack();
    }
    return exec(QStringLiteral("COMMIT"));
}

bool Journal::requireWritable()
{
    if (!open())
        return false;
    if (!m_writable)
        return fail(QStringLiteral("is not written"), m_readOnlyReason);
    return true;
}

std::optional<qint64> Journal::record(JournalEntry entry)
{
    if (!requireWritable())
        return std::nullopt;
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral(
        "INSERT INTO entries(time_ms, user, host, program, mac, name, ip, operation, outcome, detail,"
        " changes, sent, store_copy, elements) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    const qint64 ms =
        entry.time.isValid() ? entry.time.toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
    q.addBindValue(ms);
    q.addBindValue(entry.user.isEmpty() ? m_user : entry.user);
    q.addBindValue(entry.host.isEmpty() ? m_host : entry.host);
    q.addBindValue(entry.program.isEmpty() ? m_program : entry.program);
    q.addBindValue(entry.mac);
    q.addBindValue(entry.name);
    q.addBindValue(entry.ip);
    q.addBindValue(operationName(entry.operation));
    q.addBindValue(entry.outcome);
    q.addBindValue(entry.detail);
    q.addBindValue(encodeChanges(entry.changes));
    q.addBindValue(encodePairs(entry.sentConfig));
    q.addBindValue(nullable(entry.storeCopy, 0));
    q.addBindValue(nullable(entry.elements, -1));
    if (!q.exec()) {
        fail(QStringLiteral("cannot be written"), q.lastError().text());
        return std::nullopt;
    }
    m_problem.clear();
    return q.lastInsertId().toLongLong();
}

std::optional<QList<JournalEntry>> Journal::entries(const JournalQuery& query)
{
    if (!open())
        return std::nullopt;
    QStringList where;
    QVariantList values;
    if (!query.mac.isEmpty()) {
        where.append(QStringLiteral("mac = ?"));
        values.append(query.mac);
    }
    if (query.since.isValid()) {
        where.append(QStringLiteral("time_ms >= ?"));
        values.append(query.since.toMSecsSinceEpoch());
    }
    if (query.operation) {
        where.append(QStringLiteral("operation = ?"));
        values.append(operationName(*query.operation));
    }
    QString sql = QStringLiteral("SELECT id, time_ms, user, host, program, mac, name, ip, operation, outcome,"
                                 " detail, changes, sent, store_copy, elements FROM entries");
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    // The newest `limit`, then in the order they were made.
    sql += query.limit > 0 ? QStringLiteral(" ORDER BY time_ms DESC, id DESC LIMIT %1").arg(query.limit)
                           : QStringLiteral(" ORDER BY time_ms, id");
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        fail(QStringLiteral("cannot be read"), q.lastError().text());
        return std::nullopt;
    }
    static const QHash<QString, JournalOperation> operationNamed = [] {
        QHash<QString, JournalOperation> h;
        for (const auto& [op, name] : operationTable())
            h.insert(name, op);
        return h;
    }();
    QList<JournalEntry> list;
    while (q.next()) {
        JournalEntry e;
        e.id = q.value(0).toLongLong();
        e.time = utc(q.value(1).toLongLong());
        e.user = q.value(2).toString();
        e.host = q.value(3).toString();
        e.program = q.value(4).toString();
        e.mac = q.value(5).toString();
        e.name = q.value(6).toString();
        e.ip = q.value(7).toString();
        e.operation = operationNamed.value(q.value(8).toString(), JournalOperation::Configure);
        e.outcome = q.value(9).toString();
        e.detail = q.value(10).toString();
        e.changes = decodeChanges(q.value(11).toString());
        e.sentConfig = decodePairs(q.value(12).toString());
        e.storeCopy = q.value(13).toLongLong(); // none: 0
        e.elements = q.value(14).isNull() ? -1 : q.value(14).toInt();
        list.append(e);
    }
    if (query.limit > 0)
        std::reverse(list.begin(), list.end());
    m_problem.clear();
    return list;
}

std::optional<qint64> Journal::saveStoreCopy(const QString& storePath)
{
    QFile file(storePath);
    if (!file.exists())
        return 0;
    // Counted before the bytes are read: a store that changes in between is counted short,
    // never the copy cut.
    const int elements = int(ElementStore(storePath).elements().size());
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("cannot keep the store"), file.errorString());
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (bytes.isNull())
        bytes = QByteArray(""); // an empty store is kept as zero bytes, not as nothing
    if (!requireWritable())
        return std::nullopt;
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO store_copies(time_ms, path, elements, bytes) VALUES(?,?,?,?)"));
    q.addBindValue(QDateTime::currentMSecsSinceEpoch());
    q.addBindValue(storePath);
    q.addBindValue(elements);
    q.addBindValue(bytes);
    if (!q.exec()) {
        fail(QStringLiteral("cannot keep the store"), q.lastError().text());
        return std::nullopt;
    }
    m_problem.clear();
    return q.lastInsertId().toLongLong();
}

std::optional<QList<StoreCopy>> Journal::storeCopies()
{
    if (!open())
        return std::nullopt;
    QSqlQuery q(m_db);
    if (!q.exec(
            QStringLiteral("SELECT id, time_ms, elements, length(bytes) FROM store_copies ORDER BY id"))) {
        fail(QStringLiteral("cannot be read"), q.lastError().text());
        return std::nullopt;
    }
    QList<StoreCopy> list;
    while (q.next())
        list.append({q.value(0).toLongLong(), utc(q.value(1).toLongLong()), q.value(2).toInt(),
                     q.value(3).toLongLong()});
    m_problem.clear();
    return list;
}

std::optional<QByteArray> Journal::storeCopyBytes(qint64 id)
{
    if (!open())
        return std::nullopt;
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT bytes FROM store_copies WHERE id = ?"));
    q.addBindValue(id);
    if (!q.exec()) {
        fail(QStringLiteral("cannot be read"), q.lastError().text());
        return std::nullopt;
    }
    if (!q.next()) {
        m_problem = QStringLiteral("journal %1 holds no store copy %2").arg(m_path).arg(id);
        return std::nullopt;
    }
    m_problem.clear();
    // An empty store was kept as zero bytes, which SQLite may give back as NULL.
    const QByteArray bytes = q.value(0).toByteArray();
    return bytes.isNull() ? QByteArray("") : bytes;
}

RestoreResult Journal::restoreStoreCopy(qint64 id, const QString& storePath)
{
    RestoreResult result;
    if (!open()) {
        result.problem = m_problem;
        return result;
    }
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT bytes, elements FROM store_copies WHERE id = ?"));
    q.addBindValue(id);
    if (!q.exec()) {
        fail(QStringLiteral("cannot be read"), q.lastError().text());
        result.problem = m_problem;
        return result;
    }
    if (!q.next()) {
        result.status = RestoreResult::Status::UnknownCopy;
        result.problem = QStringLiteral("the journal holds no store copy %1").arg(id);
        return result;
    }
    const QByteArray bytes = q.value(0).toByteArray();
    result.elements = q.value(1).toInt();
    q.finish();

    // The store being replaced is a way back too; failing to keep it does not stop the restore,
    // as no journal problem stops an operation.
    QString journalProblem;
    if (const auto kept = saveStoreCopy(storePath))
        result.replacedCopy = *kept;
    else
        journalProblem = m_problem;

    JournalEntry entry;
    entry.operation = JournalOperation::StoreRestored;
    entry.storeCopy = id;
    entry.elements = result.elements;
    if (!replaceIniFile(storePath, bytes.isNull() ? QByteArray("") : bytes)) {
        result.status = RestoreResult::Status::StoreWriteFailed;
        result.problem = QStringLiteral("the store %1 could not be written").arg(storePath);
        entry.outcome = QStringLiteral("store-write-failed");
        entry.detail = result.problem;
    } else {
        result.status = RestoreResult::Status::Restored;
        entry.outcome = QStringLiteral("restored");
        if (result.replacedCopy > 0)
            entry.detail = QStringLiteral("the store it replaced is copy %1").arg(result.replacedCopy);
    }
    if (!record(entry) && journalProblem.isEmpty())
        journalProblem = m_problem;
    result.journalProblem = journalProblem;
    return result;
}

} // namespace vexo
