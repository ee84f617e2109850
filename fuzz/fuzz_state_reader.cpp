// Fuzz target of the state reader fed the raw bytes of a state file.
//
// Project paths "exist" by a fixed rule of their text, so the existence filter takes both branches
// without touching the disk. Besides the sanitizers' own checks, every summary is compared with a
// plain reading of the same document through QJsonDocument and QJsonObject alone: the same
// projects in ascending order of scalar values after NFC, the same clamped totals and the same
// latest dates. Numbers beyond the range of a double, which QJsonDocument refuses, are null for
// both.

#include "state/rfc3339.h"
#include "state/summary.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

namespace {

bool fakeExists(const QString& path) {
    return path.size() % 3 != 1;
}

void check(bool condition) {
    if (!condition)
        std::abort();
}

// A count as QJsonValue alone sees it: toInteger() falls back to its default for anything that is
// not an integral number inside the 64-bit range, so two different defaults reveal that case.
std::optional<std::int64_t> plainCount(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const qint64 a = value.toInteger(0);
    const qint64 b = value.toInteger(1);
    return a == b ? std::optional<std::int64_t>(a) : std::nullopt;
}

std::int64_t clamp(__int128 sum) {
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    return sum > max ? max : sum < min ? min : std::int64_t(sum);
}

bool scalarOrder(const QString& a, const QString& b) {
    const QList<uint> na = a.normalized(QString::NormalizationForm_C).toUcs4();
    const QList<uint> nb = b.normalized(QString::NormalizationForm_C).toUcs4();
    if (na != nb)
        return std::lexicographical_compare(na.begin(), na.end(), nb.begin(), nb.end());
    const QList<uint> ua = a.toUcs4();
    const QList<uint> ub = b.toUcs4();
    return std::lexicographical_compare(ua.begin(), ua.end(), ub.begin(), ub.end());
}

// The end of the number QJsonDocument reads from `p`: an optional minus, "0" or a run of digits,
// an optional fraction and exponent, each with a run of digits that may be empty.
const char* qtNumberEnd(const char* p, const char* end) {
    const auto digits = [&] {
        while (p < end && *p >= '0' && *p <= '9')
            ++p;
    };
    if (p < end && *p == '-')
        ++p;
    if (p < end && *p == '0')
        ++p;
    else
        digits();
    if (p < end && *p == '.') {
        ++p;
        digits();
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < end && (*p == '+' || *p == '-'))
            ++p;
        digits();
    }
    return p;
}

// A copy of `json` in which every number QJsonDocument refuses only for being beyond the range of
// a double (1e400, -1e-400) is replaced by null padded with spaces: the reader reads those as
// null. Strings are skipped; everything else is left for QJsonDocument to judge.
QByteArray withUnrepresentableNumbersAsNull(QByteArray json) {
    char* const begin = json.data();
    char* const end = begin + json.size();
    for (char* p = begin; p < end;) {
        const char c = *p;
        if (c == '"') {
            for (++p; p < end && *p != '"'; ++p)
                if (*p == '\\' && ++p == end)
                    break;
            if (p < end)
                ++p;
        } else if (c == '-' || c == '.' || (c >= '0' && c <= '9')) {
            char* q = p;
            while (q < end && (*q == '-' || *q == '+' || *q == '.' || *q == 'e' || *q == 'E' ||
                               (*q >= '0' && *q <= '9')))
                ++q;
            bool ok = false;
            QByteArray::fromRawData(p, q - p).toDouble(&ok);
            double value;
            const std::from_chars_result r = std::from_chars(p, q, value);
            if (!ok && qtNumberEnd(p, q) == q && r.ec == std::errc::result_out_of_range &&
                r.ptr == q && q - p >= 4) {
                std::memcpy(p, "null", 4);
                std::memset(p + 4, ' ', size_t(q - p - 4));
            }
            p = q;
        } else {
            ++p;
        }
    }
    return json;
}

// The summary read through QJsonDocument and QJsonObject alone.
std::optional<quillnest::Summary> plainSummary(const QByteArray& bytes) {
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::IllegalNumber)
        document = QJsonDocument::fromJson(withUnrepresentableNumbersAsNull(bytes), &error);
    quillnest::Summary summary;
    if (error.error != QJsonParseError::NoError || !document.isObject() ||
        !document.object().value(QLatin1StringView("projects")).isObject())
        return summary;
    const QJsonObject projects = document.object().value(QLatin1StringView("projects")).toObject();
    __int128 secrets = 0, warn = 0, conflicts = 0;
    std::optional<std::int64_t> synced, checked;
    for (auto it = projects.begin(); it != projects.end(); ++it) {
        if (!it.value().isObject() || !fakeExists(it.key()))
            continue;
        const QJsonObject entry = it.value().toObject();
        summary.projects.append(it.key());
        const std::int64_t found =
            plainCount(entry.value(QLatin1StringView("secrets"))).value_or(0);
        const std::int64_t clashes =
            plainCount(entry.value(QLatin1StringView("conflicts"))).value_or(0);
        secrets += found;
        warn += plainCount(entry.value(QLatin1StringView("warn"))).value_or(0);
        conflicts += clashes;
        if (found > 0)
            summary.withSecrets.append(it.key());
        if (clashes > 0)
            summary.withConflicts.append(it.key());
        for (auto [key, latest] : {std::pair{"synced", &synced}, std::pair{"checked", &checked}}) {
            const QJsonValue value = entry.value(QLatin1StringView(key));
            const std::optional<std::int64_t> date =
                value.isString() ? quillnest::parseRfc3339Seconds(value.toString()) : std::nullopt;
            if (date && (!*latest || *date > **latest))
                *latest = date;
        }
    }
    summary.secrets = clamp(secrets);
    summary.warn = clamp(warn);
    summary.conflicts = clamp(conflicts);
    if (synced)
        summary.synced = QDateTime::fromSecsSinceEpoch(*synced, Qt::UTC);
    if (checked)
        summary.checked = QDateTime::fromSecsSinceEpoch(*checked, Qt::UTC);
    return summary;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const quillnest::Summary summary = quillnest::summarize(bytes, fakeExists);
    check(quillnest::summarize(bytes, fakeExists) == summary);
    if (summary.projects.isEmpty())
        check(summary == quillnest::Summary());

    std::optional<quillnest::Summary> plain = plainSummary(bytes);
    if (!plain)
        return 0;
    // Keys holding lone surrogates have no scalar values to order by: compare those as sets.
    const bool validKeys =
        std::all_of(summary.projects.begin(), summary.projects.end(),
                    [](const QString& key) { return QStringView(key).isValidUtf16(); });
    for (auto [mine, theirs] : {std::pair{&summary.projects, &plain->projects},
                                std::pair{&summary.withSecrets, &plain->withSecrets},
                                std::pair{&summary.withConflicts, &plain->withConflicts}}) {
        if (validKeys) {
            std::stable_sort(theirs->begin(), theirs->end(), scalarOrder);
        } else {
            QStringList sorted = *mine;
            std::sort(sorted.begin(), sorted.end());
            std::sort(theirs->begin(), theirs->end());
            check(sorted == *theirs);
            *theirs = *mine;
        }
    }
    check(*plain == summary);
    return 0;
}
