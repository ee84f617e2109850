// App: the one object that holds the running utility's mutable state: the status item, the
// one-shot command in progress, the watch process and the refresh timer.
//
// Created once by main() before the event loop runs and alive until the process ends. Every field
// is read and written on the main thread only: menu actions and the timer arrive there, and child
// process completions are posted there. Callbacks that can outlive a call hold the App through a
// QPointer and do nothing once it is gone.
#pragma once

#include "core/settings.h"
#include "desktop/notifier.h"
#include "desktop/workspace.h"
#include "menu/compose.h"
#include "menu/menu_model.h"
#include "tool/child_process.h"
#include "tool/notices.h"
#include "tool/outcome.h"
#include "tool/process_description.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace quillnest {

class StateWatch;
class StatusItem;

// What an App is given when it is made: main() passes the settings it read and the real desktop,
// tests their own.
struct AppSetup {
    Settings settings;
    // Opens locations and asks for folders; the real desktop when null.
    std::unique_ptr<Workspace> workspace;
    // Finds the tool for every launch; the real search when empty.
    std::function<QString()> locateTool;
    // Tells the user of commands that failed; desktop notifications when null.
    std::unique_ptr<Notifier> notifier;
};

class App : public QObject {
    Q_OBJECT
public:
    explicit App(AppSetup setup, QObject* parent = nullptr);
    ~App() override;

    // Lifecycle.
    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // Reads the state anew and rebuilds the icon, tooltip and menu, all at once (the status item
    // holds back only the rebuild of its own open menu).
    void refresh();

    // The menu commands. One one-shot command (sync, check, add project) runs at a time: while one
    // runs, sync, check and add project do nothing, as the menu offers none of them then. A folder
    // chosen in the folder chooser while a command started meanwhile still runs is added once that
    // command has ended, also when the utility quits before then.
    void syncNow();
    void checkNow();
    void toggleWatch();
    void addProject();
    void openMaster(const QString& path);
    void openConflicts();
    void openSite();

    // The tool as the search finds it now.
    QString tool() const;
    // The child process of `tool` for the given arguments, not launched.
    ProcessSpec process(const QString& tool, const QStringList& args) const;

Q_SIGNALS:
    // Emitted at the end of every refresh().
    void refreshed();

private:
    // Tests and benchmarks read and set the fields below through this, and nothing else does.
    friend struct AppProbe;

    void dispatch(Action action, const QString& represented);
    // Sets `busy`, refreshes and runs the tool with `args`; a failure is told as `command`'s.
    void startCommand(Busy kind, ToolCommand command, const QStringList& args);
    // Runs the tool to add `folder`.
    void addFolder(const QString& folder);
    // The tool's arguments that add `folder`; whether it has a master file is asked now.
    static QStringList addFolderArgs(const QString& folder);
    // Called whenever the waiting folders or the command they wait for change: the standby for
    // the previous list is retired, and one is started for the current list, if any, to wait for
    // the running command. It adds them, one after the other once that command has ended, only if
    // the utility goes before it has added them itself, however the utility goes.
    void keepStandby();
    // The completion of a one-shot command: clears `busy`, tells a failure, and starts the next
    // waiting folder, if any; refreshes.
    std::function<void(Outcome)> commandCompletion(ToolCommand command, const QString& tool);
    // Shows the notice for a run of `tool` that ended with `outcome`, if it is a failure; its
    // action runs `command` again as the menu would.
    void tellFailure(ToolCommand command, const QString& tool, const Outcome& outcome);
    // Tells secrets or conflicts that `summary`, the state a refresh shows, has and the state seen
    // before had not; its action opens what the menu's item opens.
    void tellStateChange(const Summary& summary);
    // Writes the snapshot pictures and requests termination when the settings ask for snapshot
    // mode; true when it did.
    bool runSnapshotMode();

    StatusItem* item = nullptr;             // owned; never replaced
    Busy busy = Busy::None;                 // the one-shot command in progress
    std::shared_ptr<ChildProcess> watcher;  // the watch process while watching is on
    std::shared_ptr<ChildProcess> oneShot_; // the one-shot command's process while it runs
    QTimer* timer = nullptr;                // owned; set when launching has finished
    StateWatch* watch_ = nullptr;           // owned; the state file's watch, once launched

    AppSetup setup_;
    bool quitting_ = false;      // the application is going: a watch that ends is not told
    Summary summary_;            // the summary shown: the last one read from a whole file
    QStringList waitingFolders_; // chosen while a command ran; added in this order
    Standby standby_;            // holds the waiting folders' standby while any wait
    struct ShownIcon {
        StatusColor color;
        unsigned glyph;  // the palette's text colour the icon was painted in
        unsigned window; // its window colour, which picks the dot's light or dark variant
        bool operator==(const ShownIcon&) const = default;
    };
    std::optional<ShownIcon> shownIcon_;
    std::optional<Summary> stateSeen_; // the last state told from; none before the first reading
};

} // namespace quillnest
