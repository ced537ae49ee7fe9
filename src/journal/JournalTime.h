#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace vexo {

// A point in time as a script gives it: an ISO 8601 date ("2024-05-01", its midnight) or date
// and time ("2024-05-01T22:30", seconds and milliseconds optional, "T" or a blank between),
// local time unless it ends in "Z" or an offset ("+02:00"); or a span back from `now`: a whole
// number with s, m, h, d or w ("30m", "2h", "7d"). Nothing for anything else.
std::optional<QDateTime> parseJournalTime(const QString& text, const QDateTime& now);

} // namespace vexo
