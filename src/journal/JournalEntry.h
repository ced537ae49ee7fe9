#pragma once

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace vexo {

// What an operator or a script did to an element or to the store.
enum class JournalOperation
{
    Configure,
    Attenuation,
    SetDelay,
    CountersCleared,
    SfnAlignment,
    Discovery,
    StoreRestored,
};

// "configure", "attenuation", "set-delay", "counters-cleared", "sfn-alignment", "discovery",
// "store-restored": the names the journal keeps and the command line takes.
QString operationName(JournalOperation operation);
std::optional<JournalOperation> operationFromName(const QString& name);
QStringList operationNames();

// One field an operation touched: the store key, its stored value before, what was sent and
// what the element reported back (empty when it did not answer or is not asked).
struct JournalChange
{
    QString field;
    QString before;
    QString sent;
    QString reported;
    bool operator==(const JournalChange&) const = default;
};

struct JournalEntry
{
    qint64 id = 0;  // given by the journal when written
    QDateTime time; // UTC, milliseconds; the journal sets it when empty
    QString user;   // login name, host and program: the journal fills them in when empty
    QString host;
    QString program; // "window", "command-line", "exporter"
    QString mac;     // "00:50:C2:77:00:01"; empty for an operation on the whole store
    QString name;
    QString ip;
    JournalOperation operation = JournalOperation::Configure;
    QString outcome; // "confirmed", "mismatch", "no-answer", "send-failed", "refused", "sent", ...
    QString detail;  // the cause of a failure, the rule of a refusal, the invalid reply field
    QList<JournalChange> changes;
    // A configuration: every store key the request carried with its value, in request order,
    // so that it can be loaded into the editor or sent again.
    QList<QPair<QString, QString>> sentConfig;
    qint64 storeCopy = 0; // discovery: the copy of the store it replaced; restore: the copy put back
    int elements = -1;    // discovery: how many answered; restore: how many the copy holds

    bool operator==(const JournalEntry&) const = default;
};

// A copy of the store's bytes kept in the journal.
struct StoreCopy
{
    qint64 id = 0;
    QDateTime time;
    int elements = 0;
    qint64 bytes = 0;
};

} // namespace vexo
