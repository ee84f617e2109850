#include "state/summary.h"

#include "app/settings.h"
#include "state/rfc3339.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillnest {
namespace {

using Seconds = std::optional<std::int64_t>;

// The whole content of the regular file at `path`, or nothing when it is missing, unreadable or not
// a regular file. Reads until end of file, so a file that grows while being read is taken whole.
std::optional<QByteArray> readRegularFile(const QByteArray& path) {
    if (path.isEmpty() || path.contains('\0'))
        return std::nullopt;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    QByteArray bytes;
    bytes.resize(qsizetype(info.st_size) + 1); // one spare byte shows end of file in one read
    qsizetype used = 0;
    for (;;) {
        if (used == bytes.size())
            bytes.resize(bytes.size() * 2);
        const ssize_t n = ::read(fd, bytes.data() + used, size_t(bytes.size() - used));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        used += n;
    }
    ::close(fd);
    bytes.truncate(used);
    return bytes;
}

// A copy of `json` in which every number literal outside the range of a double (1e400, 1e-400) is
// replaced by null padded with spaces. QJsonDocument rejects the whole text for one such literal,
// whereas it only ever stands for a count that adds nothing, and null adds nothing too. Strings are
// skipped; everything else is left for QJsonDocument to judge.
QByteArray withUnrepresentableNumbersAsNull(QByteArray json) {
    char* const begin = json.data();
    char* const end = begin + json.size();
    for (char* p = begin; p < end;) {
        const char c = *p;
        if (c == '"') {
            for (++p; p < end && *p != '"'; ++p)
                if (*p == '\\')
                    ++p;
            ++p;
        } else if (c == '-' || c == '.' || (c >= '0' && c <= '9')) {
            char* q = p;
            while (q < end && (*q == '-' || *q == '+' || *q == '.' || *q == 'e' || *q == 'E' ||
                               (*q >= '0' && *q <= '9')))
                ++q;
            double value;
            const std::from_chars_result r = std::from_chars(p, q, value);
            // Every literal out of range has at least five characters, so "null" fits.
            if (r.ec == std::errc::result_out_of_range && r.ptr == q && q - p >= 4) {
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

std::int64_t saturatingAdd(std::int64_t total, std::int64_t value) {
    std::int64_t sum;
    if (__builtin_add_overflow(total, value, &sum))
        return value > 0 ? std::numeric_limits<std::int64_t>::max()
                         : std::numeric_limits<std::int64_t>::min();
    return sum;
}

void addCount(std::int64_t& total, const QJsonValue& raw) {
    if (const std::optional<std::int64_t> value = countValue(raw))
        total = saturatingAdd(total, *value);
}

std::optional<QDateTime> toDateTime(Seconds seconds) {
    if (!seconds)
        return std::nullopt;
    return QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC);
}

// Code units at or above this need care: from U+0300 on, canonical composition may change a text,
// and from U+D800 on, UTF-16 order departs from the order of scalar values.
constexpr char16_t firstCombining = 0x0300;
constexpr char16_t firstSurrogate = 0xD800;

bool allBelow(QStringView text, char16_t limit) {
    return std::all_of(text.begin(), text.end(), [limit](QChar c) { return c.unicode() < limit; });
}

// Orders by Unicode scalar values: surrogates (U+10000 and up) go after U+E000-U+FFFF.
int compareScalars(QStringView a, QStringView b) {
    const auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (ia == a.end())
        return ib == b.end() ? 0 : -1;
    if (ib == b.end())
        return 1;
    const auto rank = [](char16_t u) -> int {
        return u < firstSurrogate ? u : u >= 0xE000 ? u - 0x800 : u + 0x2000;
    };
    return rank(ia->unicode()) - rank(ib->unicode());
}

struct Project {
    QString key;
    QString normalized;  // the key in NFC, empty when the key is already (and cheaply known to be)
    bool beyondBmpOrder; // some code unit of the compared text is a surrogate or above
    QJsonValue entry;

    QStringView sortKey() const { return normalized.isNull() ? QStringView(key) : normalized; }
};

bool ascending(const Project& a, const Project& b) {
    int order;
    if (!a.beyondBmpOrder && !b.beyondBmpOrder)
        order = a.sortKey().compare(b.sortKey());
    else
        order = compareScalars(a.sortKey(), b.sortKey());
    // Canonically equal keys are still different paths: their own scalar values decide.
    return order != 0 ? order < 0 : compareScalars(a.key, b.key) < 0;
}

} // namespace

bool pathExists(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(u'\0')) || !QStringView(path).isValidUtf16())
        return false;
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0;
}

std::optional<std::int64_t> countValue(const QJsonValue& raw) {
    if (!raw.isDouble())
        return std::nullopt;
    // QJsonValue keeps integer literals that fit in 64 bits exactly and converts other numbers only
    // when the double is integral and inside the range; the default marks failure except for 0.
    const qint64 value = raw.toInteger(0);
    if (value != 0 || raw.toDouble() == 0)
        return value;
    return std::nullopt;
}

std::optional<std::int64_t> later(std::optional<std::int64_t> soFar, const QJsonValue& raw) {
    if (!raw.isString())
        return soFar;
    const std::optional<std::int64_t> found = parseRfc3339Seconds(raw.toString());
    if (found && (!soFar || *found > *soFar))
        return found;
    return soFar;
}

Summary summarize(const QByteArray& json, bool (*exists)(const QString& path)) {
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error == QJsonParseError::IllegalNumber)
        document = QJsonDocument::fromJson(withUnrepresentableNumbersAsNull(json), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    const QJsonValue projectsValue = document.object().value(QLatin1StringView("projects"));
    if (!projectsValue.isObject())
        return {};
    const QJsonObject projectsObject = projectsValue.toObject();

    std::vector<Project> projects;
    projects.reserve(size_t(projectsObject.size()));
    for (auto it = projectsObject.constBegin(); it != projectsObject.constEnd(); ++it) {
        Project project{it.key(), QString(), false, it.value()};
        if (!allBelow(project.key, firstCombining)) {
            project.normalized = project.key.normalized(QString::NormalizationForm_C);
            project.beyondBmpOrder = !allBelow(project.normalized, firstSurrogate);
        }
        projects.push_back(std::move(project));
    }
    if (!std::is_sorted(projects.begin(), projects.end(), ascending))
        std::sort(projects.begin(), projects.end(), ascending);

    Summary summary;
    Seconds synced;
    Seconds checked;
    for (const Project& project : projects) {
        if (!project.entry.isObject() || !exists(project.key))
            continue;
        const QJsonObject entry = project.entry.toObject();
        summary.projects.append(project.key);
        addCount(summary.secrets, entry.value(QLatin1StringView("secrets")));
        addCount(summary.warn, entry.value(QLatin1StringView("warn")));
        addCount(summary.conflicts, entry.value(QLatin1StringView("conflicts")));
        synced = later(synced, entry.value(QLatin1StringView("synced")));
        checked = later(checked, entry.value(QLatin1StringView("checked")));
    }
    summary.synced = toDateTime(synced);
    summary.checked = toDateTime(checked);
    return summary;
}

Summary readStateIn(const QString& dir) {
    const std::optional<QByteArray> bytes =
        readRegularFile(QFile::encodeName(dir + QLatin1StringView("/state.json")));
    if (!bytes)
        return {};
    return summarize(*bytes, pathExists);
}

Summary readState() {
    return readStateIn(stateDir);
}

} // namespace quillnest
