// Locating the command-line tool.
//
// The tool is searched for anew at every launch, so a tool installed or removed while the utility
// runs counts from the next command on. cliPathFrom() is the pure search over injected inputs;
// cliPath() feeds it the real file system. Both are stateless and may be called on any thread; the
// application calls them on the main thread.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace quillnest {

struct CliPathInputs {
    QString resourceDir; // empty when unknown
    QString home;
    std::function<bool(const QString&)> isExecutable;
    // The file's text; nothing when it is unreadable or not UTF-8.
    std::function<std::optional<QString>(const QString&)> readUtf8;
};

// Where an installed tool is looked for, in this order, after the build's own and the pointer
// file: home/.local/bin/quillnest, /usr/local/bin/quillnest, /opt/homebrew/bin/quillnest.
QStringList installedToolPaths(const QString& home);
// The pointer file: a file in the resource directory holding the tool's path.
QString cliPointerPath(const QString& resourceDir);

// The first accepted of: resourceDir/tool/bin/quillnest, the path named by resourceDir/cli (its
// content trimmed of white space and line breaks at both ends), home/.local/bin/quillnest,
// /usr/local/bin/quillnest, /opt/homebrew/bin/quillnest; else the bare name "quillnest", which
// /usr/bin/env looks up along the child's PATH. Paths are joined as plain text, never normalised,
// except that a pointer naming a file in the working directory without a slash gets "./" in
// front: every file found comes back with a slash, so it runs as the file it is and is never
// looked up along PATH. Never fails.
QString cliPathFrom(const CliPathInputs& in);

// True when path names an existing regular file (symbolic links followed) that the current user
// may execute. Directories, empty paths and paths containing NUL are not executable files.
bool isExecutableFile(const QString& path);

// The whole content of the regular file at path decoded as UTF-8 (a leading byte-order mark is
// dropped); nothing when it is missing, not a regular file, unreadable or not valid UTF-8.
std::optional<QString> readUtf8File(const QString& path);

// <directory of the executable>/../share/quillnest-bar (on macOS the bundle's Contents/Resources),
// without "." or ".." components, as it is shown to the user (/usr/share/quillnest-bar for
// /usr/bin/quillnest-bar); empty when the executable's directory is unknown. Uses
// QCoreApplication::applicationDirPath() when an application object exists, else /proc/self/exe.
QString resourceDir();

// cliPathFrom with the real file system, resource directory and home directory.
QString cliPath();

} // namespace quillnest
