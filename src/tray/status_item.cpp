#include "tray/status_item.h"

#include "tray/menu_builder.h"
#include "tray/status_notifier_item.h"

#include <QAction>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

namespace quillnest {

namespace {
// How often to look for a system tray while there is none (a panel that starts after us).
constexpr int trayPollMs = 2000;
} // namespace

StatusItem::StatusItem(QObject* parent) : QObject(parent) {}

// The QMenu is made the first time it is needed: for the tray, for popUp(), or when asked for.
// Snapshot mode and a session without a tray never need it, and a QMenu brings the widget style
// with it (about 0.6 MB of resident memory).
QMenu* StatusItem::qmenu() {
    if (qmenu_)
        return qmenu_.get();
    qmenu_ = std::make_unique<QMenu>();
    qmenu_->installEventFilter(this);
    connect(qmenu_.get(), &QMenu::aboutToShow, this, [this] { menuOpen_ = true; });
    connect(qmenu_.get(), &QMenu::aboutToHide, this, [this] {
        menuOpen_ = false;
        // Leave the hide (and the triggered action) to finish before touching the actions.
        QTimer::singleShot(0, this, [this] { menuHidden(); });
    });
    if (menu_)
        populateQMenu();
    return qmenu_.get();
}

// The exported objects go before the QObject children; they hold handlers that call back here.
StatusItem::~StatusItem() {
    exported_.reset();
    delete tray_.data();
}

void StatusItem::setImage(const QIcon& image) {
    image_ = image;
    if (exported_)
        exported_->item().setIcon(image);
    else if (tray_)
        tray_->setIcon(image);
    else
        show();
}

void StatusItem::setToolTip(const QString& toolTip) {
    toolTip_ = toolTip;
    if (exported_)
        exported_->item().setToolTip(toolTip);
    if (tray_)
        tray_->setToolTip(toolTip);
}

void StatusItem::setMenu(const Menu& menu) {
    menu_ = menu;
    menuDirty_ = true;
    if (!isMenuOpen())
        applyMenu();
}

void StatusItem::applyMenu() {
    menuDirty_ = false;
    if (!menu_)
        return;
    if (qmenu_)
        populateQMenu();
    if (exported_)
        exported_->menu().setMenu(*menu_);
}

void StatusItem::populateQMenu() {
    populateMenu(qmenu_.get(), *menu_, [this](Action action, const QString& represented) {
        Q_EMIT activated(action, represented);
    });
}

// Runs from the event loop after a menu has closed; another menu may be open by then.
void StatusItem::menuHidden() {
    if (isMenuOpen())
        return;
    if (menuDirty_)
        applyMenu();
    Q_EMIT menuClosed();
}

// A host that shows its menu again has closed it in between, whether or not it said so: a
// description held back since is applied before the host reads the layout.
void StatusItem::hostMenuChanged(bool open) {
    if (open) {
        if (menuDirty_ && !menuOpen_)
            applyMenu();
        hostMenuOpen_ = true;
    } else if (hostMenuOpen_) {
        hostMenuOpen_ = false;
        QTimer::singleShot(0, this, [this] { menuHidden(); });
    }
}

// The shortcuts shown in the open menu (Ctrl+S, Ctrl+R, Ctrl+Q) work as a menu-bar menu's do.
bool StatusItem::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qmenu_.get() && event->type() == QEvent::KeyPress) {
        if (QAction* action = actionForShortcut(qmenu_.get(), *static_cast<QKeyEvent*>(event))) {
            qmenu_->hide();
            action->trigger();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

// Shown by our StatusNotifierItem off X11 (Wayland), the QMenu could only be a window of its own,
// away from the panel: then the panel's own menu is the only one, and this does nothing.
void StatusItem::popUp() {
    if (isMenuOpen())
        return;
    if (exported_ && QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    QPoint at = QCursor::pos();
    if (tray_ && tray_->isVisible()) {
        const QRect place = tray_->geometry();
        if (place.isValid())
            at = place.bottomLeft();
    }
    qmenu()->popup(at);
}

// A StatusNotifierItem host that asks us to show the menu ourselves. Only X11 lets a client place a
// popup at a point on the screen; elsewhere (Wayland) the QMenu would become a window of its own,
// so nothing is shown and the host's own rendering of the exported menu is all there is.
void StatusItem::popUpAt(const QPoint& at) {
    if (QGuiApplication::platformName() != QLatin1String("xcb") || isMenuOpen())
        return;
    qmenu()->popup(at);
}

// The icon is shown the first time there is an image: as our StatusNotifierItem when a watcher is
// there, else through QSystemTrayIcon (XEmbed).
void StatusItem::show() {
    if (!image_ || exported_ || tray_)
        return;
    watchForStatusNotifierWatcher();
    if (watcherPresent_ && exportStatusNotifierItem())
        return;
    ensureTray();
}

// Whether this process can have a session bus: an address in the environment, the per-user bus
// socket, or an X display, over which libdbus finds or starts one. Without any of them (a snapshot
// run on a server, the tests) D-Bus is not even loaded, which would cost about 3 ms.
static bool sessionBusReachable() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
        !qEnvironmentVariableIsEmpty("DISPLAY"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

// Once: whether a StatusNotifierWatcher is on the session bus, and a watch on its name from then
// on. Without a session bus nothing is watched and the item stays with QSystemTrayIcon.
void StatusItem::watchForStatusNotifierWatcher() {
    if (watcherLookedFor_)
        return;
    watcherLookedFor_ = true;
    if (!sessionBusReachable())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    busWatched_ = true;
    auto* watch = new QDBusServiceWatcher(statusNotifierWatcherService, bus,
                                          QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watch, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                statusNotifierWatcherChanged(owner);
            });
    watcherPresent_ = bus.interface()->isServiceRegistered(statusNotifierWatcherService);
}

// A watcher that goes away leaves the item exported for the next one (a restarting panel), which
// is told about it again. A new watcher takes over from the tray poll, but never from an icon an
// XEmbed tray already shows.
void StatusItem::statusNotifierWatcherChanged(const QString& owner) {
    watcherPresent_ = !owner.isEmpty();
    if (!watcherPresent_)
        return;
    if (exported_)
        exported_->announce();
    else if (image_ && !tray_)
        exportStatusNotifierItem();
}

bool StatusItem::exportStatusNotifierItem() {
    auto exported = std::make_unique<StatusNotifierExport>(
        QDBusConnection::sessionBus(), [this](QPoint at) { popUpAt(at); },
        [this](Action action, const QString& represented) {
            QMetaObject::invokeMethod(
                this, [this, action, represented] { Q_EMIT activated(action, represented); },
                Qt::QueuedConnection);
        },
        [this](bool open) { hostMenuChanged(open); });
    exported->item().setIcon(*image_);
    exported->item().setToolTip(toolTip_);
    if (menu_)
        exported->menu().setMenu(*menu_);
    if (!exported->publish())
        return false;
    exported_ = std::move(exported);
    if (trayWatch_) {
        trayWatch_->deleteLater();
        trayWatch_ = nullptr;
    }
    return true;
}

// The tray icon is made the first time there is an image to show and a tray to show it in. While
// no tray exists a slow timer looks for one; the timer stops once the icon is shown.
void StatusItem::ensureTray() {
    if (tray_ || exported_ || !image_)
        return;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (!trayWatch_) {
            trayWatch_ = new QTimer(this);
            trayWatch_->setInterval(trayPollMs);
            connect(trayWatch_, &QTimer::timeout, this, [this] { ensureTray(); });
            trayWatch_->start();
        }
        return;
    }
    // Qt counts a StatusNotifierWatcher as a tray too: one that has just appeared, before its
    // owner change has reached us, gets our own item, never Qt's.
    if (busWatched_ && QDBusConnection::sessionBus().interface()->isServiceRegistered(
                           statusNotifierWatcherService)) {
        watcherPresent_ = true;
        if (exportStatusNotifierItem())
            return;
    }
    if (trayWatch_) {
        trayWatch_->deleteLater();
        trayWatch_ = nullptr;
    }
    auto* tray = new QSystemTrayIcon(*image_, this);
    tray->setToolTip(toolTip_);
    tray->setContextMenu(qmenu());
    connect(tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Trigger:
                    popUp();
                    break;
                case QSystemTrayIcon::Context:
                case QSystemTrayIcon::DoubleClick:
                case QSystemTrayIcon::MiddleClick:
                case QSystemTrayIcon::Unknown:
                    break;
                }
            });
    tray_ = tray;
    tray->show();
}

} // namespace quillnest
