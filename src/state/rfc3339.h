// A strict reader of RFC 3339 internet date-times without fractional seconds.
#pragma once

#include <QDateTime>
#include <QStringView>

#include <optional>

namespace quillnest {

// "YYYY-MM-DDTHH:MM:SS" followed by "Z" or "+HH:MM"/"-HH:MM". Every field is range-checked
// (days per month, leap years, offsets up to 23:59). Returns the instant in UTC, or nothing when the
// text is not exactly in that form.
std::optional<QDateTime> parseRfc3339(QStringView text);

} // namespace quillnest
