// Locating the command-line tool. Never cached: every launch searches again.
#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace quillnest {

struct CliPathInputs {
    QString resourceDir;  // empty when unknown
    QString home;
    std::function<bool(const QString&)> isExecutable;
    std::function<std::optional<QString>(const QString&)> readUtf8;  // nothing when unreadable or not UTF-8
};

// The first accepted of: resourceDir/tool/bin/quillnest, the path named by resourceDir/cli,
// home/.local/bin/quillnest, /usr/local/bin/quillnest, /opt/homebrew/bin/quillnest; else "quillnest".
QString cliPathFrom(const CliPathInputs& in);

// <directory of the executable>/../share/quillnest-bar
QString resourceDir();
// cliPathFrom with the real file system, resource directory and home directory.
QString cliPath();

} // namespace quillnest
