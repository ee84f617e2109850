#include "state/summary.h"

#include "state/rfc3339.h"
#include "state/state_document.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillnest {
namespace {

using Seconds = std::optional<std::int64_t>;

// Far above any state file the tool writes (a thousand projects take well under a megabyte). A
// larger file, even a sparse one that costs nothing on disk, would have to be held in memory whole.
constexpr qsizetype maxStateFileSize = qsizetype(256) << 20;

// The whole content of the regular file at `path`, or nothing when it is missing, unreadable, not
// a regular file or larger than maxStateFileSize. Reads until end of file, so a file that grows
// while being read is taken whole as long as it stays within that size.
std::optional<QByteArray> readRegularFile(const QByteArray& path) {
    if (path.isEmpty() || path.contains('\0'))
        return std::nullopt;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxStateFileSize) {
        ::close(fd);
        return std::nullopt;
    }
    QByteArray bytes;
    bytes.resize(qsizetype(info.st_size) + 1); // one spare byte shows end of file in one read
    qsizetype used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used > maxStateFileSize) {
                ::close(fd);
                return std::nullopt;
            }
            bytes.resize(std::min(bytes.size() * 2, maxStateFileSize + 1));
        }
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

// A running total kept exactly: 128 bits hold any sum of 2^64 counts. It is clamped to the 64-bit
// range once, at the end, so the result is the true total whenever that fits, and never depends on
// the order of the counts.
class Total {
public:
    void add(std::int64_t count) { sum_ += count; }
    std::int64_t clamped() const {
        constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
        constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
        return sum_ > max ? max : sum_ < min ? min : std::int64_t(sum_);
    }

private:
    __int128 sum_ = 0;
};

// The later of two instants; equal instants keep `soFar`.
Seconds later(Seconds soFar, Seconds found) {
    return found && (!soFar || *found > *soFar) ? found : soFar;
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

// A key with what ordering it needs.
struct SortKey {
    QString key;
    QString normalized;  // the key in NFC
    bool beyondBmpOrder; // the normalized key holds a surrogate or a unit above it
};

bool ascending(const SortKey& a, const SortKey& b) {
    const int order = a.beyondBmpOrder || b.beyondBmpOrder
                          ? compareScalars(a.normalized, b.normalized)
                          : QStringView(a.normalized).compare(b.normalized);
    // Canonically equal keys are still different paths: their own scalar values decide.
    return order != 0 ? order < 0 : compareScalars(a.key, b.key) < 0;
}

// Sorts paths in ascending order of Unicode scalar values after canonical composition. When every
// code unit is below U+0300 (plain ASCII paths and most Latin ones), each path is its own NFC and
// UTF-16 order is scalar order, so plain comparison does.
void sortPaths(QStringList& paths, bool allBelowCombining) {
    if (allBelowCombining) {
        if (!std::is_sorted(paths.begin(), paths.end()))
            std::sort(paths.begin(), paths.end());
        return;
    }
    std::vector<SortKey> keys;
    keys.reserve(size_t(paths.size()));
    for (QString& path : paths) {
        QString normalized = path.normalized(QString::NormalizationForm_C);
        const bool beyond = !allBelow(normalized, firstSurrogate);
        keys.push_back({std::move(path), std::move(normalized), beyond});
    }
    std::sort(keys.begin(), keys.end(), ascending);
    for (qsizetype i = 0; i < paths.size(); ++i)
        paths[i] = std::move(keys[size_t(i)].key);
}

bool existsEncoded(const char* path) {
    struct stat info;
    return ::stat(path, &info) == 0;
}

QStringView identityOf(const StateEntry& entry) {
    return entry.identity.isNull() ? QStringView(entry.key) : QStringView(entry.identity);
}

// The entries that stand: of several with the same identity, the last one, as in QJsonObject.
std::vector<StateEntry> withoutRepeatedKeys(std::vector<StateEntry> entries) {
    const auto less = [](const StateEntry& a, const StateEntry& b) {
        return identityOf(a) < identityOf(b);
    };
    if (std::adjacent_find(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
            return !less(a, b);
        }) == entries.end())
        return entries; // strictly ascending (a file written in key order): no key repeats
    std::stable_sort(entries.begin(), entries.end(), less);
    std::vector<StateEntry> kept;
    kept.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        if (i + 1 == entries.size() || identityOf(entries[i]) != identityOf(entries[i + 1]))
            kept.push_back(std::move(entries[i]));
    return kept;
}

} // namespace

bool pathExists(const QString& path) {
    if (path.isEmpty())
        return false;
    // Project paths are nearly always short and ASCII: those are encoded on the stack.
    char ascii[512];
    const char16_t* units = QStringView(path).utf16();
    const qsizetype size = path.size();
    if (size < qsizetype(sizeof ascii)) {
        qsizetype i = 0;
        for (; i < size && units[i] != 0 && units[i] < 0x80; ++i)
            ascii[i] = char(units[i]);
        if (i == size) {
            ascii[size] = '\0';
            return existsEncoded(ascii);
        }
    }
    if (path.contains(QChar(u'\0')) || !QStringView(path).isValidUtf16())
        return false;
    return existsEncoded(QFile::encodeName(path).constData());
}

namespace {

// summarize() that also says whether the text was a JSON document.
Summary summarize(const QByteArray& json, bool (*exists)(const QString& path), bool* valid) {
    std::optional<std::vector<StateEntry>> entries = readStateEntries(json, valid);
    if (!entries)
        return {};

    Summary summary;
    Total secrets;
    Total warn;
    Total conflicts;
    Seconds synced;
    Seconds checked;
    bool allBelowCombining = true;
    for (StateEntry& entry : withoutRepeatedKeys(std::move(*entries))) {
        if (!entry.isObject || !exists(entry.key))
            continue;
        secrets.add(entry.secrets);
        warn.add(entry.warn);
        conflicts.add(entry.conflicts);
        synced = later(synced, entry.synced);
        checked = later(checked, entry.checked);
        allBelowCombining = allBelowCombining && allBelow(entry.key, firstCombining);
        if (entry.secrets > 0)
            summary.withSecrets.append(entry.key);
        if (entry.conflicts > 0)
            summary.withConflicts.append(entry.key);
        summary.projects.append(std::move(entry.key));
    }
    sortPaths(summary.projects, allBelowCombining);
    sortPaths(summary.withSecrets, allBelowCombining);
    sortPaths(summary.withConflicts, allBelowCombining);
    summary.secrets = secrets.clamped();
    summary.warn = warn.clamped();
    summary.conflicts = conflicts.clamped();
    summary.synced = toDateTime(synced);
    summary.checked = toDateTime(checked);
    return summary;
}

} // namespace

Summary summarize(const QByteArray& json, bool (*exists)(const QString& path)) {
    return summarize(json, exists, nullptr);
}

StateReading readStateFile(const QString& dir) {
    const std::optional<QByteArray> bytes =
        readRegularFile(QFile::encodeName(dir + QLatin1StringView("/state.json")));
    if (!bytes)
        return {};
    bool valid = false;
    StateReading reading{summarize(*bytes, pathExists, &valid), StateFile::Read};
    if (!valid)
        reading.file = StateFile::Malformed;
    return reading;
}

Summary readState(const QString& dir) {
    return readStateFile(dir).summary;
}

} // namespace quillnest
