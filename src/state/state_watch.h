// Notices when the state file may have changed, so that the icon follows the tool at once instead
// of at the next timer tick.
//
// The tool usually renames a new state.json over the old one; it may also rewrite it in place,
// delete it, or create the state directory after the utility started. So the watch covers the
// state directory (or, while it is missing, the nearest existing folder above it) and the file
// itself, and re-arms itself after every change. The directory is followed by what it is, not only
// by its name: its parent folder is watched too, so a directory renamed away, replaced by another
// folder or by a symbolic link, or a link pointed elsewhere, is watched again at once.
//
// changed() is emitted only when the file is not what it was (its presence, identity, size or
// times): at once for a file put in place whole (a rename, a creation or a deletion, a directory
// replaced), and for one rewritten in place once the events have paused for a short while, or a
// bounded time after the first of them when they never pause; a burst of events within that pause
// is one signal. A file read while it is still being rewritten may be half written: changing()
// tells a reader so, and signalWhenQuiet() has the file read again once it has been left alone.
// Main thread only; costs nothing while nothing changes (the kernel's notifications, no polling,
// where the platform has them); a change of anything else in the parent folder (often the home
// folder) costs a stat of the state directory.
#pragma once

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <optional>

namespace quillnest {

class StateWatch : public QObject {
    Q_OBJECT
public:
    // Watches dir + "/state.json"; `dir` is taken as written (empty is the root folder).
    explicit StateWatch(const QString& dir, QObject* parent = nullptr);

    // For a caller that is about to read the state anyway: takes the file as it is now, without a
    // signal, and watches again whatever is no longer what is under watch. This catches what no
    // event tells, such as a folder above the parent swapped or a linked-to folder replaced.
    void recheck();

    // How long the file must be left alone before a reading of it that is no JSON document is taken
    // for what the file holds rather than for a write in progress. Far longer than any pause within
    // one rewrite by a running writer, even on a loaded machine, and short enough that a file that
    // is truly broken shows as such about a second after its last change.
    static constexpr int quietMs = 1000;

    // True while the file is being written: an event about it came, or its modification time lies,
    // less than quietMs ago.
    bool changing() const;
    // Emits changed() once the file has been left alone for quietMs, whether it then differs or
    // not: for a reader that kept what it had instead of a half-written file.
    void signalWhenQuiet();

Q_SIGNALS:
    void changed();

private:
    // Device, inode, size, modification and change times; nothing while the file is missing.
    using Stamp = std::optional<std::array<long long, 7>>;
    using FileId = std::array<long long, 2>; // device and inode

    void arm();
    void onEvent(const QString& path);
    void wait();
    void settle();
    void onQuiet();
    int msUntilQuiet() const;
    bool directoryMoved() const;
    Stamp stamp() const;

    QString dir_;
    QString parent_; // the folder that holds the state directory
    QString file_;
    QHash<QString, FileId> watchedFolders_; // the folders under watch, as they were when watched
    std::optional<FileId> watchedFile_;     // the file under watch, as it was when the watch began
    QFileSystemWatcher watcher_;
    QTimer settle_;
    QElapsedTimer burst_;     // since the first event not yet looked at
    QElapsedTimer lastEvent_; // since the last event about the file or its folder
    QTimer quiet_;            // runs while a reader waits for the file to be left alone
    Stamp last_;
};

} // namespace quillnest
