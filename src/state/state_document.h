// The project entries of a state file, read straight from its JSON text.
//
// The reader checks the whole text as QJsonDocument::fromJson would and keeps only what the summary
// needs: for each member of the top-level "projects" object its key and, when it is an object, its
// counts and dates. Nothing else is copied. It takes the same texts as QJsonDocument, with the same
// leniencies (a UTF-8 byte order mark at the start, raw control characters in strings, a backslash
// before any other byte standing for that byte, unpaired \u surrogates, numbers such as "1." or
// ".5", at most 1024 nested arrays and objects) and one addition: a number beyond the range of a
// double (1e400, -1e-400), which QJsonDocument rejects, is read as null. Pure function of its
// argument: safe on any thread.
#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace quillnest {

// One member of "projects" as the text holds it.
struct StateEntry {
    QString key; // as QJsonObject's iterators give it
    // The key as QJsonObject compares it, when that differs from `key`: a key without escapes
    // that starts with a UTF-8 byte order mark is handed out without the mark but compared with
    // it, so "\xEF\xBB\xBF/a" and "/a" are different keys that both give the path "/a".
    QString identity;
    bool isObject = false; // the remaining fields are set only for an object
    // The last "secrets", "warn" and "conflicts" members, when they are numbers that convert
    // exactly to a 64-bit integer; 0 otherwise.
    std::int64_t secrets = 0;
    std::int64_t warn = 0;
    std::int64_t conflicts = 0;
    // The last "synced" and "checked" members as whole seconds since the epoch, when they are
    // strings in RFC 3339 form.
    std::optional<std::int64_t> synced;
    std::optional<std::int64_t> checked;
};

// The members of the last "projects" member of the top-level object, in the order of the text,
// repeated keys included (of those with the same identity the last one stands, as in QJsonObject).
// Nothing when the text is not a valid JSON document, its top level is not an object, or "projects"
// is missing or not an object. `valid`, when given, is set to whether the text is a valid JSON
// document (a file cut short while it is written is not).
std::optional<std::vector<StateEntry>> readStateEntries(QByteArrayView json, bool* valid = nullptr);

} // namespace quillnest
