#include "state/state_watch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace quillnest {
namespace {
// How long events are gathered after the first one: a rename, or a rewrite in a few writes, is one
// change, and the refresh still follows within a tenth of a second.
constexpr int settleMs = 25;
} // namespace

StateWatch::StateWatch(const QString& dir, QObject* parent)
    : QObject(parent), dir_(dir.isEmpty() ? QStringLiteral("/") : dir),
      file_(dir + QStringLiteral("/state.json")) {
    settle_.setSingleShot(true);
    settle_.setInterval(settleMs);
    connect(&settle_, &QTimer::timeout, this, &StateWatch::settle);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &StateWatch::onEvent);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &StateWatch::onEvent);
    last_ = stamp();
    arm();
}

void StateWatch::onEvent() {
    if (!settle_.isActive())
        settle_.start();
}

void StateWatch::settle() {
    arm();
    const Stamp now = stamp();
    if (now == last_)
        return;
    last_ = now;
    Q_EMIT changed();
}

// Watches the state directory, or the nearest folder above it that exists, for the file or the
// directory to appear, and the file itself when it exists. The file's watch is renewed every time:
// a file replaced by a rename is a new file, and the old watch went with the old one.
void StateWatch::arm() {
    QString folder = dir_;
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            break;
        folder = parent;
    }
    for (const QString& path : watcher_.directories()) {
        if (path != folder)
            watcher_.removePath(path);
    }
    if (!watcher_.directories().contains(folder))
        watcher_.addPath(folder);
    if (!watcher_.files().isEmpty())
        watcher_.removePaths(watcher_.files());
    if (QFileInfo::exists(file_))
        watcher_.addPath(file_);
}

StateWatch::Stamp StateWatch::stamp() const {
    struct stat st {};
    if (::stat(QFile::encodeName(file_).constData(), &st) != 0)
        return std::nullopt;
#ifdef __APPLE__
    const struct timespec& m = st.st_mtimespec;
    const struct timespec& c = st.st_ctimespec;
#else
    const struct timespec& m = st.st_mtim;
    const struct timespec& c = st.st_ctim;
#endif
    return Stamp::value_type{static_cast<long long>(st.st_dev),  static_cast<long long>(st.st_ino),
                             static_cast<long long>(st.st_size), static_cast<long long>(m.tv_sec),
                             static_cast<long long>(m.tv_nsec),  static_cast<long long>(c.tv_sec),
                             static_cast<long long>(c.tv_nsec)};
}

} // namespace quillnest
