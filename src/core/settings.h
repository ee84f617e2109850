// Process-wide settings fixed once at start-up: the interface language and the state directory.
//
// `ru` and `stateDir` are written by initSettings() on the main thread before the event loop runs
// and only read afterwards, so they need no lock. Only the application layer reads them; everything
// below it is handed the language or the directory as an argument. The decisions themselves are
// pure functions of their inputs (preferred languages, environment, home directory) so that tests
// need no globals.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace quillnest {

// An environment as plain data: variable name to value, each the bytes the process holds, which
// need not be UTF-8 or any other encoding.
using Env = QMap<QByteArray, QByteArray>;

extern bool ru;
extern QString stateDir;

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

// Sets `ru` and `stateDir` from the real inputs, in that order.
void initSettings();

} // namespace quillnest
