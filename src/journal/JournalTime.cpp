#include "JournalTime.h"

#include <QRegularExpression>

namespace vexo {

std::optional<QDateTime> parseJournalTime(const QString& text, const QDateTime& now)
{
    const QString t = text.trimmed();
    static const QRegularExpression span(QStringLiteral("^([0-9]{1,9})([smhdw])$"));
    if (const auto m = span.match(t); m.hasMatch()) {
        static const QString units = QStringLiteral("smhdw");
        static const qint64 unitSeconds[] = {1, 60, 3600, 86400, 7 * 86400};
        const qint64 seconds = m.captured(1).toLongLong() * unitSeconds[units.indexOf(m.captured(2))];
        // Further back than the calendar goes is no time at all.
        if (seconds > 200LL * 366 * 86400)
            return std::nullopt;
        return now.addSecs(-seconds);
    }
    static const QRegularExpression date(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
    if (date.match(t).hasMatch()) {
        const QDate d = QDate::fromString(t, Qt::ISODate);
        if (!d.isValid())
            return std::nullopt;
        return d.startOfDay();
    }
    // Qt reads more than ISO 8601 strictly allows ("2024-05-01T7:5"); the shape is checked first.
    static const QRegularExpression dateTime(
        QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}[T "
                       "][0-9]{2}:[0-9]{2}(:[0-9]{2}(\\.[0-9]{1,3})?)?(Z|[+-][0-9]{2}:[0-9]{2})?$"));
    if (!dateTime.match(t).hasMatch())
        return std::nullopt;
    // Qt takes a space for the T as ISO 8601's profile for people (RFC 3339) allows.
    const QDateTime dt = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!dt.isValid())
        return std::nullopt;
    return dt;
}

} // namespace vexo
