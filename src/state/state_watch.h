// Notices when the state file may have changed, so that the icon follows the tool at once instead
// of at the next timer tick.
//
// The tool usually renames a new state.json over the old one; it may also rewrite it in place,
// delete it, or create the state directory after the utility started. So the watch covers the
// state directory (or, while it is missing, the nearest existing folder above it) and the file
// itself, and re-arms itself after every change. changed() is emitted only when the file is not
// what it was (its presence, identity, size or times): at once for a file put in place whole (a
// rename or a deletion), after a short pause for one rewritten in place; a burst of events within
// that pause is one signal. Main thread only; costs nothing while
// nothing changes (the kernel's notifications, no polling, where the platform has them).
#pragma once

#include <QFileSystemWatcher>
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

Q_SIGNALS:
    void changed();

private:
    // Device, inode, size, modification and change times; nothing while the file is missing.
    using Stamp = std::optional<std::array<long long, 7>>;

    void arm();
    void onEvent();
    void settle();
    Stamp stamp() const;

    using FileId = std::array<long long, 2>; // device and inode

    QString dir_;
    QString file_;
    QString watchedFolder_;             // the folder under watch; empty for none
    std::optional<FileId> watchedFile_; // the file under watch, as it was when the watch began
    QFileSystemWatcher watcher_;
    QTimer settle_;
    Stamp last_;
};

} // namespace quillnest
