// The condensed state of the user's projects, read from the tool's state file.
//
// readState() never fails: a missing or malformed file gives the empty summary, a project whose
// folder does not exist is left out, a value of the wrong type counts as nothing. Nothing is
// cached; every call reads the file anew. Main thread only (it keeps no state, so any thread would
// do).
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

class QJsonValue;

namespace quillnest {

struct Summary {
    QStringList projects;     // existing project folders, ascending
    std::int64_t secrets = 0; // totals over the listed projects, saturating at the
    std::int64_t warn = 0;    // 64-bit limits
    std::int64_t conflicts = 0;
    std::optional<QDateTime> synced; // latest among the listed projects, UTC
    std::optional<QDateTime> checked;

    bool operator==(const Summary&) const = default;
};

// Reads stateDir + "/state.json".
Summary readState();
// Reads dir + "/state.json"; the directory is joined as plain text. Only a regular file (or a
// symbolic link to one) is read, so a FIFO or device in its place cannot block or flood the caller.
// A file larger than 256 MiB, far beyond any the tool writes, gives the empty summary unread.
Summary readStateIn(const QString& dir);
// Condenses the bytes of a state file, read as QJsonDocument reads JSON (of repeated keys the last
// one stands) except that a number beyond the range of a double counts as nothing instead of
// making the text invalid. `exists` tells whether a project path exists on disk; it is asked once
// for each key whose entry is an object. Projects are listed in ascending order of Unicode scalar
// values after canonical composition (NFC). Each total is the exact sum of the counts clamped to
// the 64-bit range, so it never overflows and does not depend on the order.
Summary summarize(const QByteArray& json, bool (*exists)(const QString& path));

// Whether a file or directory exists at `path` (symbolic links followed), the path taken as it is,
// relative paths against the working directory. An empty path, or one holding a NUL or an unpaired
// surrogate, names nothing.
bool pathExists(const QString& path);

// The later of two instants, in whole seconds since 1970-01-01T00:00:00Z: `soFar`, and the RFC 3339
// date-time in `raw` (see parseRfc3339). A `raw` that is absent, not a string or not in that form
// leaves `soFar`; equal instants keep `soFar`.
std::optional<std::int64_t> later(std::optional<std::int64_t> soFar, const QJsonValue& raw);

// The integer a count value stands for: a JSON number whose value converts exactly to a 64-bit
// signed integer (2.0 is 2, -0 is 0). Anything else, booleans included, gives nothing.
std::optional<std::int64_t> countValue(const QJsonValue& raw);

} // namespace quillnest
