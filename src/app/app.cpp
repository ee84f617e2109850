#include "app/app.h"

#include "platform/status_item.h"
#include "platform/workspace.h"
#include "tool/child_process.h"

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
    connect(item, &StatusItem::activated, this, &App::dispatch, Qt::QueuedConnection);
    connect(item, &StatusItem::menuClosed, this, [this] {
        if (refreshPending_) {
            refreshPending_ = false;
            refresh();
        }
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

    runSnapshotMode();

    if (qEnvironmentVariable("QUILLNEST_SHOW_MENU") == QLatin1String("1")) {
        QTimer::singleShot(showMenuDelayMs, this, [this] { item->popUp(); });
    }
}

void App::applicationWillTerminate() {
    if (watcher)
        watcher->terminate();
}

// A tick that falls due while the menu is open refreshes once, after it has closed.
void App::timerTick() {
    if (item->isMenuOpen()) {
        refreshPending_ = true;
        return;
    }
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
