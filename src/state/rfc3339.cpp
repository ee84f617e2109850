#include "state/rfc3339.h"

namespace quillnest {
namespace {

// The value of `count` ASCII digits starting at `p`, or -1 when any of them is not one.
int digits(const char16_t* p, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = p[i];
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar (year >= 0).
std::int64_t daysSinceEpoch(int year, int month, int day) {
    // Counts years from March so that the leap day ends the year; 146097 days per 400 years.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int monthFromMarch = month > 2 ? month - 3 : month + 9;
    const int dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return std::int64_t(era) * 146097 + dayOfEra - 719468;
}

} // namespace

std::optional<std::int64_t> parseRfc3339Seconds(QStringView text) {
    // 0123456789012345678 9 (or 9-24: "+HH:MM")
    // YYYY-MM-DDTHH:MM:SS Z
    const qsizetype size = text.size();
    if (size != 20 && size != 25)
        return std::nullopt;
    const char16_t* p = text.utf16();
    if (p[4] != u'-' || p[7] != u'-' || (p[10] != u'T' && p[10] != u't') || p[13] != u':' ||
        p[16] != u':')
        return std::nullopt;
    const int year = digits(p, 4);
    const int month = digits(p + 5, 2);
    const int day = digits(p + 8, 2);
    const int hour = digits(p + 11, 2);
    const int minute = digits(p + 14, 2);
    const int second = digits(p + 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;

    int offset = 0; // seconds east of UTC
    if (size == 20) {
        if (p[19] != u'Z' && p[19] != u'z')
            return std::nullopt;
    } else {
        if ((p[19] != u'+' && p[19] != u'-') || p[22] != u':')
            return std::nullopt;
        const int offsetHours = digits(p + 20, 2);
        const int offsetMinutes = digits(p + 23, 2);
        if (offsetHours < 0 || offsetHours > 23 || offsetMinutes < 0 || offsetMinutes > 59)
            return std::nullopt;
        offset = (offsetHours * 60 + offsetMinutes) * 60;
        if (p[19] == u'-')
            offset = -offset;
    }
    return daysSinceEpoch(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
}

std::optional<QDateTime> parseRfc3339(QStringView text) {
    const std::optional<std::int64_t> seconds = parseRfc3339Seconds(text);
    if (!seconds)
        return std::nullopt;
    return QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC);
}

} // namespace quillnest
