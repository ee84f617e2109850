#include "core/settings.h"

#include <QDir>
#include <QFile>
#include <QLocale>

#include <cstring>

#ifdef __APPLE__
#include <crt_externs.h>
#else
extern char** environ;
#endif

namespace quillnest {

namespace {

// The environment block of the process. On macOS only the executable itself may refer to
// `environ`; code that might end up in a library asks for it.
char** environmentBlock() {
#ifdef __APPLE__
    return *_NSGetEnviron();
#else
    return environ;
#endif
}

} // namespace

bool ruFrom(const QStringList& preferredLanguages) {
    const QString first =
        preferredLanguages.isEmpty() ? QStringLiteral("en") : preferredLanguages.first();
    return first.startsWith(QLatin1String("ru"), Qt::CaseSensitive);
}

QString stateDirFrom(const Env& env, const QString& home) {
    const auto it = env.constFind("QUILLNEST_HOME");
    if (it != env.constEnd())
        return QFile::decodeName(it.value());
    return home + QStringLiteral("/.quillnest");
}

QStringList linuxPreferredLanguages(const Env& env) {
    const QString language = QString::fromLocal8Bit(env.value("LANGUAGE"));
    if (!language.isEmpty()) {
        QStringList entries = language.split(QLatin1Char(':'), Qt::SkipEmptyParts);
        if (!entries.isEmpty())
            return entries;
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = QString::fromLocal8Bit(env.value(name));
        if (!value.isEmpty())
            return {value};
    }
    return {};
}

Env processEnvironment() {
    Env env;
    for (char** entry = environmentBlock(); entry && *entry; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (!equals || equals == *entry)
            continue; // no name: nothing a child could be given
        const QByteArray name(*entry, equals - *entry);
        if (!env.contains(name))
            env.insert(name, QByteArray(equals + 1));
    }
    return env;
}

QStringList preferredLanguages() {
#ifdef Q_OS_MACOS
    return QLocale::system().uiLanguages();
#else
    return linuxPreferredLanguages(processEnvironment());
#endif
}

QString homeDirectory() {
    return QDir::homePath();
}

Settings settingsFrom(const Env& env, const QString& home, const QStringList& languages) {
    Settings settings;
    settings.ru = ruFrom(languages);
    settings.stateDir = stateDirFrom(env, home);
    const auto snapshot = env.constFind("QUILLNEST_SNAPSHOT");
    if (snapshot != env.constEnd())
        settings.snapshotPath = QFile::decodeName(snapshot.value());
    settings.snapshotDark = env.value("QUILLNEST_SNAPSHOT_DARK") == "1";
    settings.showMenu = env.value("QUILLNEST_SHOW_MENU") == "1";
    return settings;
}

Settings readSettings() {
    return settingsFrom(processEnvironment(), homeDirectory(), preferredLanguages());
}

} // namespace quillnest
