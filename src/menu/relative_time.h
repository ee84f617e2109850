// Relative wording of a past instant ("5 minutes ago", "5 минут назад") through ICU.
#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace quillnest {

// "never"/"ещё не было" for no date; otherwise the date, capped at now, worded relative to now with
// the largest non-zero calendar unit of the difference (year, month, week, day, hour, minute,
// second), its count truncated. No difference at all is "in 0 seconds".
QString when(const std::optional<QDateTime>& date, bool ru, const QDateTime& now);

} // namespace quillnest
