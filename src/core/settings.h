// The settings of the utility, fixed once at start-up: the interface language, the state directory
// and the snapshot and show-menu switches. This is the one place that reads the utility's own
// environment variables (QUILLNEST_* and the language variables); main() reads them once and hands
// them to the App. The decisions are pure functions of their inputs (preferred languages,
// environment, home directory) so that tests need no process environment.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace quillnest {

// An environment as plain data: variable name to value, each the bytes the process holds, which
// need not be UTF-8 or any other encoding.
using Env = QMap<QByteArray, QByteArray>;

struct Settings {
    bool ru = false;  // the interface language, handed on to the tool
    QString stateDir; // where state.json is read
    // Snapshot mode: the path of the menu picture (QUILLNEST_SNAPSHOT, taken even when empty);
    // none when the variable is unset.
    std::optional<QString> snapshotPath;
    bool snapshotDark = false; // QUILLNEST_SNAPSHOT_DARK is "1"
    bool showMenu = false;     // QUILLNEST_SHOW_MENU is "1"
};

// The settings for an environment, a home directory and the preferred languages. A Boolean
// variable is on only when it is exactly "1".
Settings settingsFrom(const Env& env, const QString& home, const QStringList& languages);

// True when the first preferred language begins with "ru" (case-sensitive); an empty list is
// English.
bool ruFrom(const QStringList& preferredLanguages);

// QUILLNEST_HOME unchanged when present (even empty), else home + "/.quillnest". Bytes that are
// not UTF-8 come out as U+FFFD, as with every file name Qt decodes.
QString stateDirFrom(const Env& env, const QString& home);

// The preferred languages on Linux, in gettext's order: LANGUAGE's colon-separated entries when it
// is set and not empty, else the first non-empty of LC_ALL, LC_MESSAGES and LANG, taken raw.
QStringList linuxPreferredLanguages(const Env& env);

// The real inputs. processEnvironment() copies the process's environment block byte for byte (of a
// name given twice, the first value, as getenv() answers); call it on the main thread, while no
// other thread changes the environment.
Env processEnvironment();
QStringList preferredLanguages();
QString homeDirectory();

// The settings of this process, from the real inputs.
Settings readSettings();

} // namespace quillnest
