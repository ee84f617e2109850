#include "menu/relative_time.h"

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>

namespace quillnest {
namespace {

QString fromIcu(const icu::UnicodeString& s) {
    return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

struct Difference {
    int32_t count = 0; // whole units from the earlier date to the later one, >= 0
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
};

// The largest non-zero calendar component of the span from `earlier` to `later` (milliseconds since
// the epoch, earlier <= later), reckoned on the Gregorian calendar in UTC. The components are taken
// one after the other, each from what the larger ones leave, so 8 days is 1 week (and 1 day) and
// 1 hour 59 minutes is 1 hour. Nothing but milliseconds left gives 0 seconds.
Difference largestComponent(UDate earlier, UDate later) {
    UErrorCode status = U_ZERO_ERROR;
    // Made once per thread: building a calendar costs more than the reckoning itself. Every call
    // sets its time before use, and nothing else of it ever changes.
    thread_local const std::unique_ptr<icu::GregorianCalendar> cached = [] {
        UErrorCode made = U_ZERO_ERROR;
        auto calendar = std::make_unique<icu::GregorianCalendar>(*icu::TimeZone::getGMT(), made);
        return U_SUCCESS(made) ? std::move(calendar) : nullptr;
    }();
    if (!cached)
        return {};
    icu::GregorianCalendar& calendar = *cached;
    // Lenient (the default): instants beyond the calendar's range are clamped to it.
    calendar.setTime(earlier, status);
    static constexpr struct {
        UCalendarDateFields field;
        URelativeDateTimeUnit unit;
    } components[] = {
        {UCAL_YEAR, UDAT_REL_UNIT_YEAR},         {UCAL_MONTH, UDAT_REL_UNIT_MONTH},
        {UCAL_WEEK_OF_YEAR, UDAT_REL_UNIT_WEEK}, {UCAL_DATE, UDAT_REL_UNIT_DAY},
        {UCAL_HOUR_OF_DAY, UDAT_REL_UNIT_HOUR},  {UCAL_MINUTE, UDAT_REL_UNIT_MINUTE},
        {UCAL_SECOND, UDAT_REL_UNIT_SECOND},
    };
    for (const auto& c : components) {
        // Advances the calendar by the whole units it returns.
        const int32_t n = calendar.fieldDifference(later, c.field, status);
        if (U_FAILURE(status))
            return {};
        if (n != 0)
            return {n, c.unit};
    }
    return {};
}

// The formatter of one language, made once per thread (its construction loads the locale's data
// and is the costly part of wording a date); null when ICU cannot make it. Formatting is const.
const icu::RelativeDateTimeFormatter* formatterFor(bool ru) {
    using Formatter = std::unique_ptr<icu::RelativeDateTimeFormatter>;
    auto make = [](const char* language) -> Formatter {
        UErrorCode status = U_ZERO_ERROR;
        auto formatter = std::make_unique<icu::RelativeDateTimeFormatter>(
            icu::Locale(language), nullptr, UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_NONE, status);
        return U_SUCCESS(status) ? std::move(formatter) : nullptr;
    };
    if (ru) {
        thread_local const Formatter russian = make("ru");
        return russian.get();
    }
    thread_local const Formatter english = make("en");
    return english.get();
}

} // namespace

QString when(const std::optional<QDateTime>& date, bool ru, const QDateTime& now) {
    if (!date || !date->isValid())
        return ru ? QStringLiteral("ещё не было") : QStringLiteral("never");

    const QDateTime reference = now.isValid() ? now : QDateTime::currentDateTimeUtc();
    const qint64 nowMs = reference.toMSecsSinceEpoch();
    const qint64 dateMs = std::min(date->toMSecsSinceEpoch(), nowMs);
    const Difference d = largestComponent(static_cast<UDate>(dateMs), static_cast<UDate>(nowMs));

    const icu::RelativeDateTimeFormatter* formatter = formatterFor(ru);
    if (!formatter)
        return {};
    // A past date is a negative offset ("5 minutes ago"); no difference at all is +0, which the
    // formatter words as a future ("in 0 seconds").
    const double offset = d.count == 0 ? 0.0 : -static_cast<double>(d.count);
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString text;
    formatter->formatNumeric(offset, d.unit, text, status);
    if (U_FAILURE(status))
        return {};
    return fromIcu(text);
}

} // namespace quillnest
