#include "ConfigureSupport.h"

#include "core/Station.h"
#include "journal/Journal.h"

#include <QJsonArray>
#include <QTextStream>

namespace vexo::cli {

QString dryRunText(const QString& mac, const DryRun& run)
{
    qsizetype keyWidth = 5, storedWidth = 6;
    for (const DryRunField& f : run.fields) {
        keyWidth = std::max(keyWidth, f.field.size());
        storedWidth = std::max(storedWidth, f.stored.size());
    }
    QString text = QStringLiteral("%1: dry run, nothing sent or stored\n").arg(mac);
    auto row = [&](const QString& mark, const QString& field, const QString& stored, const QString& sent) {
        text += QStringLiteral("%1 %2  %3  %4\n")
                    .arg(mark, field.leftJustified(keyWidth), stored.leftJustified(storedWidth), sent);
    };
    row(QStringLiteral(" "), QStringLiteral("FIELD"), QStringLiteral("STORED"), QStringLiteral("SENT"));
    for (const DryRunField& f : run.fields)
        row(f.stored == f.sent ? QStringLiteral(" ") : QStringLiteral("*"), f.field, f.stored, f.sent);
    text += QStringLiteral("request (%1 bytes): %2\n")
                .arg(run.request.size())
                .arg(QString::fromLatin1(run.request.toHex(' ')));
    return text;
}

QJsonObject dryRunJson(const QString& mac, const DryRun& run)
{
    QJsonArray changes;
    for (const DryRunField& f : run.fields)
        changes.append(QJsonObject{{"field", f.field}, {"stored", f.stored}, {"sent", f.sent}});
    return QJsonObject{
        {"mac", mac}, {"changes", changes}, {"request_hex", QString::fromLatin1(run.request.toHex())}};
}

std::optional<JournalEntry> entryToRestore(const QList<JournalEntry>& entries, qint64 id, QString& why)
{
    // Newest first: the last confirmed configuration is the one the element last held for sure.
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        const JournalEntry& e = *it;
        if (e.operation != JournalOperation::Configure)
            continue;
        if (id > 0 && e.id != id)
            continue;
        if (id == 0 && e.outcome != QLatin1String("confirmed"))
            continue;
        if (e.sentConfig.isEmpty()) {
            why = QStringLiteral("entry %1 holds no configuration to send (%2)").arg(e.id).arg(e.outcome);
            return std::nullopt;
        }
        return e;
    }
    why = id > 0 ? QStringLiteral("the journal holds no configuration entry %1 of this element").arg(id)
                 : QStringLiteral("the journal holds no confirmed configuration of this element");
    return std::nullopt;
}

QString journalWarningLine(const QString& reason)
{
    return QStringLiteral("vexolink-cli: warning: changes are not being journaled: ") + reason;
}

void journalChanges(Station& station, Journal& journal, QTextStream& err)
{
    station.setJournal(&journal);
    QObject::connect(&station, &Station::journalWarning,
                     [&err](const QString& reason) { err << journalWarningLine(reason) << Qt::endl; });
}

} // namespace vexo::cli
