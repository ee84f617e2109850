#include "core/settings.h"

#include <QDir>
#include <QLocale>
#include <QProcessEnvironment>

namespace quillnest {

bool ru = false;
QString stateDir;

bool ruFrom(const QStringList& preferredLanguages) {
    const QString first =
        preferredLanguages.isEmpty() ? QStringLiteral("en") : preferredLanguages.first();
    return first.startsWith(QLatin1String("ru"), Qt::CaseSensitive);
}

QString stateDirFrom(const Env& env, const QString& home) {
    const auto it = env.constFind(QStringLiteral("QUILLNEST_HOME"));
    if (it != env.constEnd())
        return it.value();
    return home + QStringLiteral("/.quillnest");
}

QStringList linuxPreferredLanguages(const Env& env) {
    const QString language = env.value(QStringLiteral("LANGUAGE"));
    if (!language.isEmpty()) {
        QStringList entries = language.split(QLatin1Char(':'), Qt::SkipEmptyParts);
        if (!entries.isEmpty())
            return entries;
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = env.value(QString::fromLatin1(name));
        if (!value.isEmpty())
            return {value};
    }
    return {};
}

Env processEnvironment() {
    Env env;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    const QStringList keys = system.keys();
    for (const QString& key : keys)
        env.insert(key, system.value(key));
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

void initSettings() {
    ru = ruFrom(preferredLanguages());
    stateDir = stateDirFrom(processEnvironment(), homeDirectory());
}

} // namespace quillnest
