// The menu commands of App and the running of the tool.
#include "app/app.h"

#include "app/settings.h"
#include "menu/compose.h"
#include "platform/workspace.h"
#include "state/summary.h"
#include "tool/child_process.h"
#include "tool/cli_path.h"
#include "tool/commands.h"
#include "tool/run.h"

#include <QPointer>
#include <QUrl>

namespace quillnest {

namespace {

// Clears `busy` and refreshes, if the App still exists.
std::function<void()> commandCompletion(App* app) {
    QPointer<App> self(app);
    return [self] {
        if (self)
            self->busy.reset();
        if (self)
            self->refresh();
    };
}

} // namespace

ProcessSpec App::process(const QStringList& args) const {
    ProcessSpec spec =
        processSpec(args, locateTool ? locateTool() : cliPath(), processEnvironment(), ru);
    spec.argv[0] = envProgram;
    return spec;
}

void App::run(const QStringList& args, std::function<void()> done) {
    quillnest::run(process(args), std::move(done));
}

void App::syncNow() {
    busy = QStringLiteral("sync");
    refresh();
    run(syncAllArgs(), commandCompletion(this));
}

void App::checkNow() {
    busy = QStringLiteral("check");
    refresh();
    run(checkAllArgs(), commandCompletion(this));
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
    const std::optional<QString> folder = workspace_->chooseFolder(addProjectMessage(ru));
    if (!folder || folder->isEmpty())
        return;
    const bool masterExists = pathExists(*folder + QStringLiteral("/QUILLNEST.md"));
    busy = QStringLiteral("sync");
    refresh();
    run(addProjectArgs(*folder, masterExists), commandCompletion(this));
}

void App::openMaster(const QString& path) {
    if (path.isEmpty())
        return;
    const QString target = masterTarget(path, pathExists);
    const QUrl url = QUrl::fromLocalFile(target);
    const std::optional<QString> editor = workspace_->textEditor();
    if (opensInTextEditor(target, editor.has_value(), workspace_->applicationFor(url).has_value()))
        workspace_->openWith(url, *editor);
    else
        workspace_->open(url);
}

void App::openConflicts() {
    const QStringList folders = conflictFolders(readState().projects, pathExists);
    for (const QString& folder : folders)
        workspace_->open(QUrl::fromLocalFile(folder));
}

void App::openSite() {
    workspace_->open(QUrl(QString::fromLatin1(siteUrl)));
}

} // namespace quillnest
