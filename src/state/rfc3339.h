// A strict reader of RFC 3339 internet date-times without fractional seconds.
//
// The state file stamps every run of the tool with such a date-time; this reader accepts exactly
// that form and nothing looser (no fractions, no date without time, no offset without colon).
// Pure functions of their argument: safe on any thread.
#pragma once

#include <QDateTime>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace quillnest {

// "YYYY-MM-DDTHH:MM:SS" followed by "Z" or "+HH:MM"/"-HH:MM". The separators "T" and "Z" may also
// be written "t" and "z", as RFC 3339 allows. Every field is range-checked (days per month, leap
// years, seconds up to 59, offsets up to 23:59). Returns the instant in UTC, or nothing when the
// text is not exactly in that form.
std::optional<QDateTime> parseRfc3339(QStringView text);

// The same reading, as whole seconds since 1970-01-01T00:00:00Z (negative before it), for callers
// that only compare instants and need no QDateTime.
std::optional<std::int64_t> parseRfc3339Seconds(QStringView text);

} // namespace quillnest
