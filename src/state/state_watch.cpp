#include "state/state_watch.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>

namespace quillnest {
namespace {
// How long the events of a rewrite in place must pause before the file is looked at again: a
// rewrite in several writes is one change, and the refresh still follows well within a tenth of a
// second.
constexpr int settleMs = 40;
// A writer that never pauses for settleMs is still read this long after its first event.
constexpr int settleLimitMs = 250;

// The folder's device and inode, symbolic links followed; nothing when it is no folder.
std::optional<std::array<long long, 2>> folderId(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return std::array<long long, 2>{static_cast<long long>(st.st_dev),
                                    static_cast<long long>(st.st_ino)};
}
} // namespace

StateWatch::StateWatch(const QString& dir, QObject* parent)
    : QObject(parent), dir_(dir.isEmpty() ? QStringLiteral("/") : dir),
      parent_(QFileInfo(QDir::cleanPath(dir_)).path()), file_(dir + QStringLiteral("/state.json")) {
    settle_.setSingleShot(true);
    connect(&settle_, &QTimer::timeout, this, &StateWatch::settle);
    quiet_.setSingleShot(true);
    connect(&quiet_, &QTimer::timeout, this, &StateWatch::onQuiet);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &StateWatch::onEvent);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &StateWatch::onEvent);
    last_ = stamp();
    arm();
}

// A file put in place whole (renamed over the old one, or deleted, or made, or brought by a new
// state directory) is taken at once; the tool's writes are over by then. Anything else, a file
// being rewritten in place above all, is looked at once the events have paused for settleMs, so
// that a half-written file is not shown. Events in the parent folder about anything but the state
// directory are of no interest.
void StateWatch::onEvent(const QString& path) {
    if (directoryMoved()) {
        lastEvent_.start();
        settle();
        return;
    }
    if (path == parent_ && path != dir_ && watchedFolders_.contains(dir_))
        return;
    lastEvent_.start();
    const Stamp now = stamp();
    const bool replaced = now.has_value() != last_.has_value() ||
                          (now && ((*now)[0] != (*last_)[0] || (*now)[1] != (*last_)[1]));
    if (replaced)
        settle();
    else
        wait();
}

void StateWatch::recheck() {
    last_ = stamp();
    arm();
}

// (Re)starts the pause, cut short so that it ends at most settleLimitMs after the first event.
void StateWatch::wait() {
    if (!burst_.isValid())
        burst_.start();
    settle_.start(
        static_cast<int>(std::clamp<qint64>(settleLimitMs - burst_.elapsed(), 0, settleMs)));
}

// The change is told before the watches are renewed, which would only delay it. A change that
// slips in meanwhile is caught by the look at the file after renewing them.
void StateWatch::settle() {
    burst_.invalidate();
    settle_.stop();
    const Stamp now = stamp();
    if (now != last_) {
        last_ = now;
        // Events that this change still causes (the old file's, the folder's) come within the
        // pause and find nothing new.
        wait();
        Q_EMIT changed();
    }
    arm();
    if (!settle_.isActive() && stamp() != last_)
        wait();
}

bool StateWatch::changing() const {
    return msUntilQuiet() > 0;
}

void StateWatch::signalWhenQuiet() {
    if (!quiet_.isActive())
        quiet_.start(std::max(msUntilQuiet(), 1));
}

// Waits on while the file changed meanwhile.
void StateWatch::onQuiet() {
    if (const int left = msUntilQuiet(); left > 0)
        quiet_.start(left);
    else
        Q_EMIT changed();
}

// The modification time is asked too, as events may still be on their way; one in the future (a
// clock set back, a file copied with its times) does not count, so that it cannot hold a reader
// for long.
int StateWatch::msUntilQuiet() const {
    qint64 since = lastEvent_.isValid() ? lastEvent_.elapsed() : qint64(quietMs);
    if (const Stamp now = stamp()) {
        const qint64 modified =
            qint64(QDateTime::currentMSecsSinceEpoch()) - ((*now)[3] * 1000 + (*now)[4] / 1000000);
        if (modified >= 0)
            since = std::min(since, modified);
    }
    return static_cast<int>(std::max<qint64>(quietMs - since, 0));
}

// True when the state directory is no longer the folder under watch: renamed away, replaced,
// relinked, made where it was missing, or its watch dropped because it was deleted.
bool StateWatch::directoryMoved() const {
    const std::optional<FileId> now = folderId(dir_);
    const auto watched = watchedFolders_.constFind(dir_);
    if (watched == watchedFolders_.cend())
        return now.has_value();
    return now != *watched || !watcher_.directories().contains(dir_);
}

// Watches the state directory, or the nearest folder above it that exists, for the file or the
// directory to appear; the directory's parent, for the directory to be replaced; and the file
// itself when it exists. Folders are watched again when they are other folders than those under
// watch, the file every time it is another file: a file replaced by a rename is a new file, and
// the old watch went with the old one.
void StateWatch::arm() {
    QString folder = dir_;
    std::optional<FileId> id;
    while (!(id = folderId(folder))) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            break;
        folder = parent;
    }
    QHash<QString, FileId> wanted;
    if (id)
        wanted.insert(folder, *id);
    if (folder == dir_ && parent_ != dir_) {
        if (const std::optional<FileId> parentId = folderId(parent_))
            wanted.insert(parent_, *parentId);
    }
    const QStringList watching = watcher_.directories();
    for (auto it = watchedFolders_.begin(); it != watchedFolders_.end();) {
        const auto same = wanted.constFind(it.key());
        if (same != wanted.cend() && *same == *it && watching.contains(it.key())) {
            wanted.erase(same);
            ++it;
        } else {
            watcher_.removePath(it.key());
            it = watchedFolders_.erase(it);
        }
    }
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it) {
        if (watcher_.addPath(it.key()))
            watchedFolders_.insert(it.key(), *it);
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
