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
// The longest a refresh waits for the open menu to close. A tray host that said the menu opened
// may never say it closed (a panel that crashed or restarted meanwhile).
constexpr int deferredRefreshLimitMs = 60000;
} // namespace

App::App(AppSetup setup, QObject* parent)
    : QObject(parent), item(new StatusItem(this)), setup_(std::move(setup)) {
    if (!setup_.workspace)
        setup_.workspace = std::make_unique<DesktopWorkspace>();
    if (!setup_.notifier)
        setup_.notifier = std::make_unique<DesktopNotifier>();
    connect(item, &StatusItem::activated, this, &App::dispatch, Qt::QueuedConnection);
    connect(item, &StatusItem::menuClosed, this, [this] {
        if (refreshPending_)
            refreshDeferred();
    });
    deferredLimit_.setSingleShot(true);
    deferredLimit_.setInterval(deferredRefreshLimitMs);
    connect(&deferredLimit_, &QTimer::timeout, this, [this] {
        if (refreshPending_)
            refreshDeferred();
    });
}

// The watch process is deliberately left alone: destroying a ChildProcess never stops its child.
App::~App() = default;

void App::applicationDidFinishLaunching() {
    refresh();

    timer = new QTimer(this);
    timer->setInterval(refreshIntervalMs);
    connect(timer, &QTimer::timeout, this, &App::timerTick);
    timer->start();

    if (runSnapshotMode())
        return; // quitting

    // The timer keeps the relative dates current; the watch shows the tool's results at once.
    auto* watch = new StateWatch(setup_.settings.stateDir, this);
    connect(watch, &StateWatch::changed, this, &App::requestRefresh);

    if (setup_.settings.showMenu)
        QTimer::singleShot(showMenuDelayMs, this, [this] { item->popUp(); });
}

void App::applicationWillTerminate() {
    quitting_ = true;
    handOverWaitingFolders();
    if (watcher)
        watcher->terminate();
}

void App::timerTick() {
    requestRefresh();
}

// A refresh that falls due while the menu is open happens once, after it has closed, or when it
// has waited deferredRefreshLimitMs, whichever comes first.
void App::requestRefresh() {
    if (!item->isMenuOpen()) {
        refresh();
        return;
    }
    if (!refreshPending_) {
        refreshPending_ = true;
        deferredLimit_.start();
    }
}

void App::refreshDeferred() {
    refreshPending_ = false;
    deferredLimit_.stop();
    refresh();
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
