// The condensed state of the user's projects, read from the tool's state file.
//
// readState() never fails: a missing or malformed file gives the empty summary, a project whose
// folder does not exist is left out, a value of the wrong type counts as nothing. Nothing is cached;
// every call reads the file anew. Main thread only (it keeps no state, so any thread would do).
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace quillnest {

struct Summary {
    QStringList projects;               // existing project folders, ascending
    std::int64_t secrets = 0;           // totals over the listed projects, saturating at the
    std::int64_t warn = 0;              // 64-bit limits
    std::int64_t conflicts = 0;
    std::optional<QDateTime> synced;    // latest among the listed projects, UTC
    std::optional<QDateTime> checked;

    bool operator==(const Summary&) const = default;
};

// Reads stateDir + "/state.json".
Summary readState();
// Reads dir + "/state.json"; the directory is joined as plain text.
Summary readStateIn(const QString& dir);
// Condenses the bytes of a state file. `exists` tells whether a project path exists on disk.
Summary summarize(const QByteArray& json, bool (*exists)(const QString& path));

} // namespace quillnest
