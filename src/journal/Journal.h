#pragma once

#include "JournalEntry.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <optional>

namespace vexo {

// Which entries a query gives; empty members do not filter.
struct JournalQuery
{
    QString mac; // "00:50:C2:77:00:01"
    QDateTime since;
    std::optional<JournalOperation> operation;
    int limit = 0; // the newest `limit` entries; 0: all
};

// How putting a store copy back ended.
struct RestoreResult
{
    enum class Status
    {
        Restored,
        UnknownCopy,      // the journal holds no copy of that id
        JournalProblem,   // the journal could not be read (problem)
        StoreWriteFailed, // the store could not be written: it keeps its previous content
    };
    Status status = Status::JournalProblem;
    QString problem;
    int elements = 0;
    qint64 replacedCopy = 0; // the store as it was before, kept as a copy too (0: there was none)
    QString journalProblem;  // the restore happened but could not be journaled
};

// The journal of every change: an SQLite database (Qt SQL) beside the store. The window, the
// command-line tool and the exporter may write it at the same time (WAL, busy time-out), each
// through its own Journal object, used on the thread that made it.
//
// A journal never stands in the way of an operation: nothing here throws, a locked file is
// waited for at most the busy time-out, and every failure leaves a reason in problem(), which a
// face shows once (takeWarning()).
class Journal
{
public:
    static constexpr int kSchemaVersion = 1;
    static constexpr int kBusyTimeoutMs = 1000;

    // `program` names the face that writes: "window", "command-line", "exporter".
    Journal(QString path, QString program, int busyTimeoutMs = kBusyTimeoutMs);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    const QString& path() const { return m_path; }
    // Opens the file when it is not open yet: creates it, or brings an older schema up to date.
    // A journal written by a newer station opens for reading only. False with problem().
    bool open();
    bool isWritable() const { return m_open && m_writable; }
    // Why the last call failed; empty after a success.
    const QString& problem() const { return m_problem; }
    // The reason a write failed, given once: the window shows it once per session, the command
    // line as one warning line. Empty when every write succeeded or it was given already.
    QString takeWarning();

    // Writes the entry (time, user, host and program filled in when empty); its id, or nothing.
    std::optional<qint64> record(JournalEntry entry);
    // Entries in the order they were made (time, then id).
    std::optional<QList<JournalEntry>> entries(const JournalQuery& query = {});

    // Keeps the store's bytes before a discovery empties it. The copy's id; 0 when there is no
    // store file to keep; nothing when the journal could not take it (problem()).
    std::optional<qint64> saveStoreCopy(const QString& storePath);
    std::optional<QList<StoreCopy>> storeCopies();
    // A copy's bytes; nothing with problem() for an unknown id or an unreadable journal.
    std::optional<QByteArray> storeCopyBytes(qint64 id);
    // Writes the copy back byte for byte through the store's atomic write, after keeping the
    // store it replaces as a copy too, and journals the restore.
    RestoreResult restoreStoreCopy(qint64 id, const QString& storePath);

private:
    bool fail(const QString& what, const QString& why);
    bool exec(const QString& sql);
    bool createOrMigrate();
    std::optional<int> readSchemaVersion();
    bool rollBack(); // always false
    bool requireWritable();

    QString m_path;
    QString m_program;
    QString m_user;
    QString m_host;
    QString m_connection;
    int m_busyTimeoutMs;
    QSqlDatabase m_db;
    bool m_open = false;
    bool m_writable = false;
    QString m_problem;
    QString m_readOnlyReason;
    bool m_warned = false;
    QString m_pendingWarning;
};

} // namespace vexo
