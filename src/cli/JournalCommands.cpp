#include "JournalCommands.h"

#include "CliSupport.h"
#include "Commands.h"
#include "ConfigureSupport.h"

#include "journal/Journal.h"
#include "journal/JournalTime.h"
#include "journal/Recorders.h"
#include "platform/StorePath.h"
#include "store/ElementStore.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextStream>

#include <exception>

namespace vexo::cli {

namespace {

const QString kJournalSynopsis = QStringLiteral("journal [ELEMENT] [--since TIME] [--operation OP] [--csv]");
const QString kBackupsSynopsis = QStringLiteral("store backups");
const QString kRestoreSynopsis = QStringLiteral("store restore ID");

QString isoTime(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

// What the table's CHANGES column says: the fields, or what a discovery or a restore did with
// the store.
QString summary(const JournalEntry& e)
{
    if (e.operation == JournalOperation::Discovery)
        return QStringLiteral("%1 answered; the store before: %2")
            .arg(e.elements)
            .arg(e.storeCopy > 0 ? QStringLiteral("copy %1").arg(e.storeCopy) : QStringLiteral("none"));
    if (e.operation == JournalOperation::StoreRestored)
        return QStringLiteral("copy %1 put back (%2 elements)").arg(e.storeCopy).arg(e.elements);
    return changesText(e.changes);
}

QJsonValue optionalNumber(qint64 value, qint64 none)
{
    return value == none ? QJsonValue(QJsonValue::Null) : QJsonValue(double(value));
}

QJsonObject entryJson(const JournalEntry& e)
{
    QJsonArray changes;
    for (const JournalChange& c : e.changes)
        changes.append(QJsonObject{
            {"field", c.field}, {"before", c.before}, {"sent", c.sent}, {"reported", c.reported}});
    return QJsonObject{{"id", double(e.id)},
                       {"time", isoTime(e.time)},
                       {"user", e.user},
                       {"host", e.host},
                       {"program", e.program},
                       {"mac", e.mac},
                       {"name", e.name},
                       {"ip", e.ip},
                       {"operation", operationName(e.operation)},
                       {"outcome", e.outcome},
                       {"changes", changes},
                       {"detail", e.detail},
                       {"store_copy", optionalNumber(e.storeCopy, 0)},
                       {"elements", optionalNumber(e.elements, -1)}};
}

class JournalRunner
{
public:
    JournalRunner(QCommandLineParser& parser, CliEnvironment& env)
        : m_parser(parser), m_env(env), m_journalPath(resolveJournalPath(env.storePath)),
          m_journal(m_journalPath, QStringLiteral("command-line"))
    {
    }
    ~JournalRunner()
    {
        // A journal that cannot be written never stops a command: it is said once, on stderr
        // (a command that fails says why in its own one line instead).
        if (std::uncaught_exceptions() > 0)
            return;
        if (const QString warning = m_journal.takeWarning(); !warning.isEmpty())
            m_env.err << journalWarningLine(warning) << Qt::endl;
    }

    int journal();
    int backups();
    int restore();

private:
    void print(const QString& text) { m_env.out << text << Qt::flush; }
    bool json() const { return m_parser.isSet(QStringLiteral("json")); }
    // Reading never creates a journal: one that does not exist holds nothing yet.
    bool journalExists() const { return QFileInfo::exists(m_journalPath); }
    [[noreturn]] void unreadable() { throw CliError(Failure, m_journal.problem()); }
    QString elementMac(const QString& text) const;

    QCommandLineParser& m_parser;
    CliEnvironment& m_env;
    QString m_journalPath;
    Journal m_journal;
};

// A MAC address names an element even when the store no longer holds it (a discovery dropped
// it): its history is still in the journal. A name or an address is looked up in the store.
QString JournalRunner::elementMac(const QString& text) const
{
    static const QRegularExpression colon(QStringLiteral("^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$"));
    static const QRegularExpression plain(QStringLiteral("^[0-9A-Fa-f]{12}$"));
    const QString t = text.trimmed();
    if (colon.match(t).hasMatch())
        return t.toUpper();
    if (plain.match(t).hasMatch())
        return decodeMac(t);
    return resolveElement(ElementStore(m_env.storePath), text);
}

int JournalRunner::journal()
{
    const QStringList positional = m_parser.positionalArguments();
    if (positional.size() > 1)
        throw CliError(UsageError, QStringLiteral("unexpected argument '%1'").arg(positional.value(1)));
    JournalQuery query;
    if (m_parser.isSet(QStringLiteral("since"))) {
        const QString text = m_parser.value(QStringLiteral("since"));
        const auto since = parseJournalTime(text, QDateTime::currentDateTimeUtc());
        if (!since)
            throw CliError(UsageError, QStringLiteral("malformed time '%1': give an ISO 8601 date or "
                                                      "date and time, or 30m, 2h, 7d")
                                           .arg(text));
        query.since = *since;
    }
    if (m_parser.isSet(QStringLiteral("operation"))) {
        const QString text = m_parser.value(QStringLiteral("operation"));
        query.operation = operationFromName(text);
        if (!query.operation)
            throw CliError(UsageError, QStringLiteral("unknown operation '%1': one of %2")
                                           .arg(text, operationNames().join(QStringLiteral(", "))));
    }
    if (!positional.isEmpty())
        query.mac = elementMac(positional.first());

    QList<JournalEntry> entries;
    if (journalExists()) {
        const auto found = m_journal.entries(query);
        if (!found)
            unreadable();
        entries = *found;
    }
    if (json()) {
        QJsonArray array;
        for (const JournalEntry& e : entries)
            array.append(entryJson(e));
        print(renderJson(array));
        return Success;
    }
    QList<QStringList> rows;
    const bool csv = m_parser.isSet(QStringLiteral("csv"));
    for (const JournalEntry& e : entries) {
        if (csv)
            rows.append({QString::number(e.id), isoTime(e.time), e.user, e.host, e.program, e.mac, e.name,
                         e.ip, operationName(e.operation), e.outcome, changesText(e.changes), e.detail});
        else
            rows.append({QString::number(e.id), isoTime(e.time), operationName(e.operation), e.mac, e.name,
                         e.outcome, summary(e), e.user});
    }
    if (csv)
        print(renderCsv({"id", "time", "user", "host", "program", "mac", "name", "ip", "operation", "outcome",
                         "changes", "detail"},
                        rows));
    else
        print(renderTable({"ID", "TIME", "OPERATION", "MAC", "NAME", "OUTCOME", "CHANGES", "USER"}, rows));
    return Success;
}

int JournalRunner::backups()
{
    if (m_parser.positionalArguments().size() > 1)
        throw CliError(
            UsageError,
            QStringLiteral("backups: unexpected argument '%1'").arg(m_parser.positionalArguments().value(1)));
    QList<StoreCopy> copies;
    if (journalExists()) {
        const auto found = m_journal.storeCopies();
        if (!found)
            unreadable();
        copies = *found;
    }
    QJsonArray array;
    QList<QStringList> rows;
    for (const StoreCopy& c : copies) {
        array.append(QJsonObject{{"id", double(c.id)},
                                 {"time", isoTime(c.time)},
                                 {"elements", c.elements},
                                 {"bytes", double(c.bytes)}});
        rows.append(
            {QString::number(c.id), isoTime(c.time), QString::number(c.elements), QString::number(c.bytes)});
    }
    print(json() ? renderJson(array) : renderTable({"ID", "TIME", "ELEMENTS", "BYTES"}, rows));
    return Success;
}

int JournalRunner::restore()
{
    const QStringList positional = m_parser.positionalArguments();
    if (positional.size() < 2)
        throw CliError(UsageError, QStringLiteral("restore: ID missing"));
    if (positional.size() > 2)
        throw CliError(UsageError, QStringLiteral("restore: unexpected argument '%1'").arg(positional[2]));
    bool ok = false;
    const qint64 id = positional[1].toLongLong(&ok);
    if (!ok || id <= 0)
        throw CliError(UsageError, QStringLiteral("restore: malformed ID '%1'").arg(positional[1]));
    if (!journalExists())
        throw CliError(UsageError, QStringLiteral("restore: no journal at %1").arg(m_journalPath));
    const RestoreResult result = m_journal.restoreStoreCopy(id, m_env.storePath);
    switch (result.status) {
    case RestoreResult::Status::UnknownCopy:
        throw CliError(UsageError, QStringLiteral("restore: %1").arg(result.problem));
    case RestoreResult::Status::JournalProblem:
    case RestoreResult::Status::StoreWriteFailed:
        throw CliError(Failure, result.problem);
    case RestoreResult::Status::Restored:
        break;
    }
    if (json())
        print(renderJson(QJsonObject{{"id", double(id)},
                                     {"elements", result.elements},
                                     {"replaced_copy", optionalNumber(result.replacedCopy, 0)}}));
    else
        print(QStringLiteral("Store copy %1 restored (%2 elements)%3.\n")
                  .arg(id)
                  .arg(result.elements)
                  .arg(result.replacedCopy > 0
                           ? QStringLiteral("; the store it replaced is copy %1").arg(result.replacedCopy)
                           : QString()));
    return Success;
}

} // namespace

bool isJournalCommand(const QString& name)
{
    return name == QLatin1String("journal") || name == QLatin1String("store");
}

QString journalCommandsHelp()
{
    return QStringLiteral("  %1\n  %2\n  %3\n").arg(kJournalSynopsis, kBackupsSynopsis, kRestoreSynopsis);
}

int runJournalCommand(const QStringList& arguments, CliEnvironment& env)
{
    const QString name = arguments.value(0);
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addOption({"json", "Machine-readable output (one JSON document; keys below)."});
    parser.addOption({"quiet", "Accepted as by every command."});
    const bool journal = name == QLatin1String("journal");
    if (journal) {
        parser.addOption({"since",
                          "Only entries from TIME on: an ISO 8601 date or date and time (local time "
                          "unless it ends in Z or an offset), or 30m, 2h, 7d back from now.",
                          "TIME"});
        parser.addOption(
            {"operation", "Only entries of this operation: " + operationNames().join(", ") + ".", "OP"});
        parser.addOption({"csv", "Comma-separated values with a header row."});
    }
    if (!parser.parse(QStringList{QStringLiteral("vexolink-cli")} + arguments.mid(1))) {
        env.err << "vexolink-cli " << name << ": " << parser.errorText() << Qt::endl;
        return UsageError;
    }
    const QString sub = parser.positionalArguments().value(0);
    if (parser.isSet(QStringLiteral("help"))) {
        const QString synopsis =
            journal ? kJournalSynopsis : kBackupsSynopsis + "\n       " + kRestoreSynopsis;
        const QString keys =
            journal
                ? QStringLiteral("array of {id, time (ISO 8601, UTC), user, host, program, mac, name, ip,\n"
                                 "  operation, outcome, changes: [{field, before, sent, reported}], detail,\n"
                                 "  store_copy, elements}")
                : QStringLiteral("backups: array of {id, time, elements, bytes}; restore: {id, elements, "
                                 "replaced_copy}");
        QString help = parser.helpText();
        help.replace(QRegularExpression(QStringLiteral("^Usage: [^\n]*")),
                     QStringLiteral("Usage: vexolink-cli %1\n\nThe journal of changes beside the store "
                                    "(VEXOLINK_NMS_JOURNAL overrides its path) and the copies of the store\n"
                                    "kept before each discovery.")
                         .arg(synopsis));
        env.out << help << "\nJSON keys:\n  " << keys << "\n\n" << exitCodesHelp() << Qt::flush;
        return Success;
    }
    try {
        JournalRunner runner(parser, env);
        if (journal)
            return runner.journal();
        if (sub == QLatin1String("backups"))
            return runner.backups();
        if (sub == QLatin1String("restore"))
            return runner.restore();
        throw CliError(UsageError, sub.isEmpty() ? QStringLiteral("backups or restore missing")
                                                 : QStringLiteral("unknown subcommand '%1'").arg(sub));
    } catch (const CliError& e) {
        env.err << "vexolink-cli " << name << ": " << e.message() << Qt::endl;
        return e.code();
    }
}

} // namespace vexo::cli
