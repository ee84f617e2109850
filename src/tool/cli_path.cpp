#include "tool/cli_path.h"

#include "core/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringDecoder>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace quillnest {

QStringList installedToolPaths(const QString& home) {
    return {home + QStringLiteral("/.local/bin/quillnest"),
            QStringLiteral("/usr/local/bin/quillnest"),
            QStringLiteral("/opt/homebrew/bin/quillnest")};
}

QString cliPointerPath(const QString& resourceDir) {
    return resourceDir + QStringLiteral("/cli");
}

QString cliPathFrom(const CliPathInputs& in) {
    const QString bundled = in.resourceDir + QStringLiteral("/tool/bin/quillnest");
    if (in.isExecutable(bundled))
        return bundled;

    if (const std::optional<QString> pointer = in.readUtf8(cliPointerPath(in.resourceDir))) {
        // QString::trimmed() removes exactly the white space and line-break characters (Zs, Zl,
        // Zp, U+0009..U+000D, U+0085).
        const QString named = pointer->trimmed();
        if (in.isExecutable(named))
            return named.contains(u'/') ? named : QStringLiteral("./") + named;
    }

    for (const QString& candidate : installedToolPaths(in.home)) {
        if (in.isExecutable(candidate))
            return candidate;
    }
    return QStringLiteral("quillnest");
}

bool isExecutableFile(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(u'\0')))
        return false;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return ::access(native.constData(), X_OK) == 0;
}

std::optional<QString> readUtf8File(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(u'\0')))
        return std::nullopt;
    // Only regular files are read: a FIFO or a device named "cli" would block or never end.
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    // Stateless: an incomplete sequence at the end is an error, not a pending state.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString resourceDir() {
#ifdef Q_OS_MACOS
    // The executable sits in the bundle's Contents/MacOS, its resources in Contents/Resources.
    if (QCoreApplication::instance())
        return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                               QStringLiteral("/../Resources"));
    return {};
#else
    QString dir;
    if (QCoreApplication::instance()) {
        dir = QCoreApplication::applicationDirPath();
    } else {
        char buffer[PATH_MAX];
        const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
        if (length > 0 && static_cast<size_t>(length) < sizeof buffer) {
            const QString exe = QFile::decodeName(QByteArray(buffer, length));
            dir = exe.left(exe.lastIndexOf(QLatin1Char('/')));
            if (dir.isEmpty() && exe.startsWith(QLatin1Char('/')))
                dir = QStringLiteral("/");
        }
    }
    if (dir.isEmpty())
        return {};
    // Both sources give the executable's path with every symbolic link resolved, so ".." is its
    // folder's parent and cleaning the text is exact.
    return QDir::cleanPath(dir + QStringLiteral("/../share/quillnest-bar"));
#endif
}

QString cliPath() {
    return cliPathFrom({resourceDir(), homeDirectory(), isExecutableFile, readUtf8File});
}

} // namespace quillnest
