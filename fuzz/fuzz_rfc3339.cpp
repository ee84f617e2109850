// Fuzz target of the RFC 3339 reader.
//
// The input is read as UTF-8 and, when its length is even, also as raw UTF-16 code units, so that
// lone surrogates and NULs reach the reader. Every accepted text is checked against Qt's calendar:
// the instant, moved by the text's own offset, must show the text's fields again.

#include "state/rfc3339.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

int field(QStringView text, qsizetype at, qsizetype width) {
    int value = 0;
    for (qsizetype i = at; i < at + width; ++i)
        value = value * 10 + (text[i].unicode() - u'0');
    return value;
}

void check(QStringView text) {
    const std::optional<std::int64_t> seconds = quillnest::parseRfc3339Seconds(text);
    const std::optional<QDateTime> instant = quillnest::parseRfc3339(text);
    if (seconds.has_value() != instant.has_value())
        std::abort();
    if (!seconds)
        return;
    if (instant->toSecsSinceEpoch() != *seconds || instant->timeSpec() != Qt::UTC)
        std::abort();

    int offset = 0;
    if (text.size() == 25) {
        offset = (field(text, 20, 2) * 60 + field(text, 23, 2)) * 60;
        if (text[19] == u'-')
            offset = -offset;
    }
    const QDateTime local = QDateTime::fromSecsSinceEpoch(*seconds + offset, Qt::UTC);
    const int year = field(text, 0, 4);
    // Qt's proleptic Gregorian calendar has no year 0: the year before 1 is -1.
    if (local.date().year() != (year == 0 ? -1 : year) ||
        local.date().month() != field(text, 5, 2) || local.date().day() != field(text, 8, 2) ||
        local.time().hour() != field(text, 11, 2) || local.time().minute() != field(text, 14, 2) ||
        local.time().second() != field(text, 17, 2))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (size % 2 == 0) {
        QString units(qsizetype(size / 2), Qt::Uninitialized);
        std::memcpy(units.data(), data, size);
        check(units);
    }
    return 0;
}
