#include "state/state_watch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace quillnest {
namespace {
// How long events are gathered after a change before the file is looked at again: a rewrite in
// several writes is one change, and the refresh still follows well within a tenth of a second.
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

// A file put in place whole (renamed over the old one, or deleted, or made) is taken at once; the
// tool's writes are over by then. Anything else, a file being rewritten in place above all, is
// looked at once the events have paused for settleMs, so that a half-written file is not shown.
// Events while that pause runs are gathered into it.
void StateWatch::onEvent() {
    if (settle_.isActive())
        return;
    const Stamp now = stamp();
    const bool replaced = now.has_value() != last_.has_value() ||
                          (now && ((*now)[0] != (*last_)[0] || (*now)[1] != (*last_)[1]));
    if (replaced)
        settle();
    else
        settle_.start();
}

// The change is told before the watches are renewed, which would only delay it. A change that
// slips in meanwhile is caught by the look at the file after renewing them.
void StateWatch::settle() {
    const Stamp now = stamp();
    if (now != last_) {
        last_ = now;
        // Events that this change still causes (the old file's, the folder's) come within the
        // pause and find nothing new.
        settle_.start();
        Q_EMIT changed();
    }
    arm();
    if (!settle_.isActive() && stamp() != last_)
        settle_.start();
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
    if (folder != watchedFolder_) {
        if (!watchedFolder_.isEmpty())
            watcher_.removePath(watchedFolder_);
        watchedFolder_ = watcher_.addPath(folder) ? folder : QString();
    }
    const std::optional<FileId> file =
        last_ ? std::optional(FileId{(*last_)[0], (*last_)[1]}) : std::nullopt;
    if (file == watchedFile_)
        return;
    if (watchedFile_)
        watcher_.removePath(file_);
    watchedFile_ = file && watcher_.addPath(file_) ? file : std::nullopt;
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
