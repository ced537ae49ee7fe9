#pragma once

#include "editor/DryRun.h"
#include "journal/JournalEntry.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

class QTextStream;

namespace vexo {

class Journal;
class Station;

namespace cli {

// What `configure --dry-run` prints: per field the request carries, the stored value and the
// value to be sent (a mark where they differ), then the request's bytes in hex.
QString dryRunText(const QString& mac, const DryRun& run);
// {mac, changes: [{field, stored, sent}], request_hex}; every field the request carries.
QJsonObject dryRunJson(const QString& mac, const DryRun& run);

// The configuration `restore` sends again: the entry `id` of the element's configure entries, or
// (id 0) the newest one the element confirmed. Nothing, with `why`, when there is none to send.
std::optional<JournalEntry> entryToRestore(const QList<JournalEntry>& configureEntries, qint64 id,
                                           QString& why);

// The command's station records its changes in `journal`; a journal that cannot be written is
// said once, as one warning line on `err`.
void journalChanges(Station& station, Journal& journal, QTextStream& err);
// That warning line.
QString journalWarningLine(const QString& reason);

} // namespace cli
} // namespace vexo
