// Relative wording of a past instant ("5 minutes ago", "5 минут назад") through ICU's relative
// date formatter, numeric wording with full unit names, locale "en" or "ru".
//
// Keeps one calendar and, per language, one formatter per thread, made on first use, so any thread
// may call it.
#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace quillnest {

// "never"/"ещё не было" for no date (or an invalid one); otherwise the date, capped at now, worded
// relative to now with the largest non-zero calendar component of the difference (year, month,
// week, day, hour, minute, second), its count truncated. The components are reckoned on the
// Gregorian calendar in UTC. No difference at all (less than a second) is "in 0 seconds". An
// invalid `now` stands for the current time. Gives the empty text only if ICU cannot format.
QString when(const std::optional<QDateTime>& date, bool ru, const QDateTime& now);

} // namespace quillnest
