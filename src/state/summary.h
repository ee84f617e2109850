// The condensed state of the user's projects, read from the tool's state file.
//
// readState() never fails: a missing or malformed file gives the empty summary, a project whose
// folder does not exist is left out, a value of the wrong type counts as nothing; readStateFile()
// also tells a malformed file from a missing one. Nothing is cached; every call reads the file
// anew. Main thread only (it keeps no state, so any thread would do).
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace quillnest {

struct Summary {
    QStringList projects;     // existing project folders, ascending
    std::int64_t secrets = 0; // totals over the listed projects, saturating at the
    std::int64_t warn = 0;    // 64-bit limits
    std::int64_t conflicts = 0;
    std::optional<QDateTime> synced; // latest among the listed projects, UTC
    std::optional<QDateTime> checked;
    // The listed projects whose own count of secrets, or of conflicts, is 1 or more, in the order
    // of `projects`: the ones a notice of found secrets or conflicts names.
    QStringList withSecrets;
    QStringList withConflicts;

    bool operator==(const Summary&) const = default;
};

// Reads dir + "/state.json"; the directory is joined as plain text. Only a regular file (or a
// symbolic link to one) is read, so a FIFO or device in its place cannot block or flood the caller.
// A file larger than 256 MiB, far beyond any the tool writes, gives the empty summary unread.
Summary readState(const QString& dir);

// What was found at dir + "/state.json".
enum class StateFile {
    Read,      // a JSON document, summarised (it may still list nothing)
    Missing,   // no regular file there, or one that cannot be read or is too large
    Malformed, // a regular file whose bytes are no JSON document: corrupt, or half written
};
struct StateReading {
    Summary summary; // the empty summary unless the file was Read
    StateFile file = StateFile::Missing;
};
// readState() with what it found: a caller can hold on to the last summary while a file being
// rewritten in place is read half written.
StateReading readStateFile(const QString& dir);
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

} // namespace quillnest
