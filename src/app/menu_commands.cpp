// The menu commands of App and the running of the tool.
#include "app/app.h"

#include "core/settings.h"
#include "desktop/workspace.h"
#include "menu/compose.h"
#include "state/summary.h"
#include "tool/child_process.h"
#include "tool/cli_path.h"
#include "tool/commands.h"
#include "tool/run.h"

#include <QDir>
#include <QLoggingCategory>
#include <QPointer>
#include <QUrl>

#include <vector>

namespace quillnest {

Q_LOGGING_CATEGORY(lcApp, "quillnest.app")

// Clears `busy` and refreshes, or starts adding the next waiting folder, if the App still exists.
std::function<void(Outcome)> App::commandCompletion(ToolCommand command, const QString& tool) {
    QPointer<App> self(this);
    return [self, command, tool](Outcome outcome) {
        if (!self)
            return;
        self->busy = Busy::None;
        self->oneShot_.reset();
        self->tellFailure(command, tool, outcome);
        if (!self->waitingFolders_.isEmpty()) {
            self->addFolder(self->waitingFolders_.takeFirst());
            self->keepStandby(); // the rest now wait for that addition
        } else {
            self->refresh();
        }
    };
}

void App::startCommand(Busy kind, ToolCommand command, const QStringList& args) {
    busy = kind;
    refresh();
    const QString found = tool();
    // A launch that fails completes before run returns, and that completion may have started the
    // next command already: only a launched child is kept.
    if (std::shared_ptr<ChildProcess> child =
            quillnest::run(process(found, args), commandCompletion(command, found)))
        oneShot_ = std::move(child);
}

QString App::tool() const {
    return setup_.locateTool ? setup_.locateTool() : cliPath();
}

ProcessSpec App::process(const QString& tool, const QStringList& args) const {
    return processSpec(args, tool, processEnvironment(), setup_.settings.ru);
}

void App::tellFailure(ToolCommand command, const QString& tool, const Outcome& outcome) {
    const std::optional<Notice> notice =
        failureNotice({command, outcome, tool, resourceDir(), homeDirectory(), setup_.settings.ru});
    if (!notice)
        return;
    qCWarning(lcApp) << notice->summary << notice->body;
    std::function<void()> again;
    if (!notice->action.isEmpty()) {
        QPointer<App> self(this);
        again = [self, command] {
            if (!self || self->quitting_)
                return;
            command == ToolCommand::Check ? self->checkNow() : self->syncNow();
        };
    }
    setup_.notifier->notify(NoticeKind::Failure, notice->summary, notice->body, notice->action,
                            std::move(again));
}

// A sync or check asked for while a command runs comes from a menu that no longer holds it (a
// queued click, a shortcut): it is dropped.
void App::syncNow() {
    if (busy == Busy::None)
        startCommand(Busy::Sync, ToolCommand::Sync, syncAllArgs());
}

void App::checkNow() {
    if (busy == Busy::None)
        startCommand(Busy::Check, ToolCommand::Check, checkAllArgs());
}

// Switching off forgets the process at once; its completion, arriving when it has ended, clears
// `watcher` only if it still holds that same process, so a watch started again in the meantime is
// never lost (a lost handle could not be stopped and would outlive the utility). A watch that ends
// while it is still held ended by itself: that is told, and the check mark goes off.
void App::toggleWatch() {
    if (watcher && watcher->isRunning()) {
        watcher->terminate();
        watcher.reset();
        refresh();
        return;
    }

    auto child = std::make_shared<ChildProcess>();
    QPointer<App> self(this);
    std::weak_ptr<ChildProcess> ended = child;
    const QString found = tool();
    child->setTerminationHandler([self, ended, found](Outcome outcome) {
        if (!self)
            return;
        const std::shared_ptr<ChildProcess> process = ended.lock();
        if (process && self->watcher == process) {
            self->watcher.reset();
            if (!self->quitting_)
                self->tellFailure(ToolCommand::Watch, found, outcome);
        }
        self->refresh();
    });
    // Tied: it must not go on re-syncing, unseen, once the utility has gone, however it went.
    if (child->launch(process(found, watchArgs()), Lifetime::Tied)) {
        watcher = std::move(child);
    } else {
        watcher.reset();
        tellFailure(ToolCommand::Watch, found, Outcome{Outcome::Kind::NotStarted, 0});
    }
    refresh();
}

// The folder chooser runs the event loop, so a command may start while it is open. The folder
// chosen then is not dropped: it waits until that command has ended.
void App::addProject() {
    if (busy != Busy::None)
        return;
    const std::optional<QString> folder =
        setup_.workspace->chooseFolder(addProjectMessage(setup_.settings.ru));
    if (!folder || folder->isEmpty())
        return;
    if (busy != Busy::None) {
        waitingFolders_.append(*folder);
        keepStandby();
    } else
        addFolder(*folder);
}

// Whether the folder has a master file is asked when its turn comes.
void App::addFolder(const QString& folder) {
    startCommand(Busy::Sync, ToolCommand::AddProject, addFolderArgs(folder));
}

QStringList App::addFolderArgs(const QString& folder) {
    return addProjectArgs(folder, pathExists(masterFilePath(folder)));
}

// The hand-over happens when a folder is queued, not at quit: a utility that goes by SIGKILL, a
// crash or an _exit (Qt's Wayland plugin, on a lost compositor) runs nothing at its end. Started
// at once the additions would write the state file together with the running command, and one
// could lose the other's result, so the standby waits for it; where the system cannot wait for
// another process's child (no pidfd) it starts at once once the utility has gone. Nothing can be
// told of them then: they are only logged.
void App::keepStandby() {
    if (standby_.holds())
        qCDebug(lcApp) << "standby retired";
    standby_.retire();
    if (waitingFolders_.isEmpty())
        return;
    const QString found = tool();
    std::vector<ProcessSpec> additions;
    for (const QString& folder : std::as_const(waitingFolders_))
        additions.push_back(process(found, addFolderArgs(folder)));
    if (standby_.start(additions, oneShot_.get()))
        qCInfo(lcApp).nospace()
            << "handed over to a standby process, which adds them if the utility ends first, once "
               "the running command (pid "
            << (oneShot_ ? oneShot_->pid() : 0)
            << ") has ended (waiting for it, and for each addition, at most "
            << std::chrono::duration_cast<std::chrono::seconds>(detachedBound).count()
            << " s): " << waitingFolders_;
    else
        qCWarning(lcApp) << "could not start a standby process for" << waitingFolders_;
}

void App::openMaster(const QString& path) {
    if (path.isEmpty())
        return;
    const QString target = masterTarget(absoluteProjectPath(path, QDir::currentPath()), pathExists);
    setup_.workspace->open(QUrl::fromLocalFile(target));
}

void App::openConflicts() {
    QStringList projects = readState(setup_.settings.stateDir).projects;
    const QString workingDir = QDir::currentPath();
    for (QString& project : projects)
        project = absoluteProjectPath(project, workingDir);
    const QStringList folders = conflictFolders(projects, pathExists);
    for (const QString& folder : folders)
        setup_.workspace->open(QUrl::fromLocalFile(folder));
}

void App::openSite() {
    setup_.workspace->open(QUrl(QString::fromLatin1(siteUrl)));
}

} // namespace quillnest
