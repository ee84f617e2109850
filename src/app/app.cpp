#include "app/app.h"

#include "desktop/workspace.h"
#include "state/state_watch.h"
#include "tool/child_process.h"
#include "tray/status_item.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

namespace quillnest {

namespace {
constexpr int refreshIntervalMs = 15000;
constexpr int showMenuDelayMs = 1000;
} // namespace

App::App(AppSetup setup, QObject* parent)
    : QObject(parent), item(new StatusItem(this)), setup_(std::move(setup)) {
    if (!setup_.workspace)
        setup_.workspace = std::make_unique<DesktopWorkspace>();
    if (!setup_.notifier)
        setup_.notifier = std::make_unique<DesktopNotifier>();
    connect(item, &StatusItem::activated, this, &App::dispatch, Qt::QueuedConnection);
}

// The watch process is deliberately left alone: destroying a ChildProcess never stops its child.
App::~App() = default;

void App::applicationDidFinishLaunching() {
    // Snapshot mode draws the menu and quits: its item never goes to a panel.
    if (setup_.settings.snapshotPath)
        item->setShown(false);
    refresh();

    timer = new QTimer(this);
    timer->setInterval(refreshIntervalMs);
    // Each tick also looks again at what no file-system event tells (a linked-to state folder
    // replaced, say), so that later changes are again seen at once.
    connect(timer, &QTimer::timeout, this, [this] {
        if (watch_)
            watch_->recheck();
        refresh();
    });
    timer->start();

    if (runSnapshotMode())
        return; // quitting

    // The timer keeps the relative dates current; the watch shows the tool's results at once.
    watch_ = new StateWatch(setup_.settings.stateDir, this);
    connect(watch_, &StateWatch::changed, this, &App::refresh);

    if (setup_.settings.showMenu)
        QTimer::singleShot(showMenuDelayMs, this, [this] { item->popUp(); });
}

// Runs once however often it is called. Waiting folders need nothing here: their standby goes on
// by itself once this process has ended, however it ends.
void App::applicationWillTerminate() {
    if (quitting_)
        return;
    quitting_ = true;
    if (watcher)
        watcher->terminate();
}

void App::dispatch(Action action, const QString& represented) {
    switch (action) {
    case Action::None:
        break;
    case Action::SyncNow:
        syncNow();
        break;
    case Action::CheckNow:
        checkNow();
        break;
    case Action::ToggleWatch:
        toggleWatch();
        break;
    case Action::OpenMaster:
        openMaster(represented);
        break;
    case Action::AddProject:
        addProject();
        break;
    case Action::OpenConflicts:
        openConflicts();
        break;
    case Action::OpenSite:
        openSite();
        break;
    case Action::Quit:
        QCoreApplication::quit();
        break;
    }
}

} // namespace quillnest
