// The menu commands of App and the running of the tool.
#include "app/app.h"

#include "core/settings.h"
#include "menu/compose.h"
#include "platform/workspace.h"
#include "state/summary.h"
#include "tool/child_process.h"
#include "tool/cli_path.h"
#include "tool/commands.h"
#include "tool/run.h"

#include <QDir>
#include <QPointer>
#include <QUrl>

namespace quillnest {

// Clears `busy` and refreshes, if the App still exists.
std::function<void()> App::commandCompletion() {
    QPointer<App> self(this);
    return [self] {
        if (!self)
            return;
        self->busy = Busy::None;
        self->refresh();
    };
}

ProcessSpec App::process(const QStringList& args) const {
    return processSpec(args, setup_.locateTool ? setup_.locateTool() : cliPath(),
                       processEnvironment(), setup_.ru);
}

void App::run(const QStringList& args, std::function<void()> done) {
    quillnest::run(process(args), std::move(done));
}

void App::syncNow() {
    busy = Busy::Sync;
    refresh();
    run(syncAllArgs(), commandCompletion());
}

void App::checkNow() {
    busy = Busy::Check;
    refresh();
    run(checkAllArgs(), commandCompletion());
}

// Switching off forgets the process at once; its completion, arriving when it has ended, clears
// `watcher` only if it still holds that same process, so a watch started again in the meantime is
// never lost (a lost handle could not be stopped and would outlive the utility).
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
    child->setTerminationHandler([self, ended] {
        const std::shared_ptr<ChildProcess> process = ended.lock();
        if (self && process && self->watcher == process)
            self->watcher.reset();
        if (self)
            self->refresh();
    });
    if (child->launch(process(watchArgs())))
        watcher = std::move(child);
    else
        watcher.reset();
    refresh();
}

void App::addProject() {
    const std::optional<QString> folder =
        setup_.workspace->chooseFolder(addProjectMessage(setup_.ru));
    if (!folder || folder->isEmpty())
        return;
    const bool masterExists = pathExists(masterFilePath(*folder));
    busy = Busy::Sync;
    refresh();
    run(addProjectArgs(*folder, masterExists), commandCompletion());
}

void App::openMaster(const QString& path) {
    if (path.isEmpty())
        return;
    const QString target = masterTarget(absoluteProjectPath(path, QDir::currentPath()), pathExists);
    const QUrl url = QUrl::fromLocalFile(target);
    const std::optional<QString> editor = setup_.workspace->textEditor();
    if (opensInTextEditor(target, editor.has_value(),
                          setup_.workspace->applicationFor(url).has_value()))
        setup_.workspace->openWith(url, *editor);
    else
        setup_.workspace->open(url);
}

void App::openConflicts() {
    QStringList projects = readState(setup_.stateDir).projects;
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
