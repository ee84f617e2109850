#include "tray/status_item.h"

#include "core/session_bus.h"
#include "tray/menu_builder.h"
#include "tray/status_notifier_item.h"
#include "tray/xembed_tray.h"

#include <QAction>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace quillnest {

namespace {
// How often to look whether an XEmbed tray came or went, while that could change the backend.
constexpr int trayPollMs = 2000;

bool onX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}
} // namespace

QPoint menuPosition(const QSize& size, const QRect& anchor, const QRect& available) {
    const int below = available.bottom() - anchor.bottom(); // room under the anchor
    const int above = anchor.top() - available.top();
    int y;
    if (size.height() <= below)
        y = anchor.bottom() + 1;
    else if (size.height() <= above || above > below)
        y = anchor.top() - size.height();
    else
        y = anchor.bottom() + 1;
    y = std::max(available.top(), std::min(y, available.bottom() + 1 - size.height()));
    int x = std::min(anchor.left(), available.right() + 1 - size.width());
    x = std::max(available.left(), x);
    return {x, y};
}

StatusItem::StatusItem(QObject* parent, std::function<bool()> xembedTray)
    : QObject(parent), xembedTray_(std::move(xembedTray)) {}

// The backends go before the QObject children; they hold handlers that call back here.
StatusItem::~StatusItem() {
    sni_.reset();
    xembed_.reset();
}

// Every backend there is gets every change: the one that shows the icon, and a StatusNotifierItem
// that is asked again while an XEmbed tray stands in for it.
QVarLengthArray<TrayBackend*, 2> StatusItem::backends() const {
    QVarLengthArray<TrayBackend*, 2> all;
    if (sni_)
        all.append(sni_.get());
    if (xembed_)
        all.append(xembed_.get());
    return all;
}

// The QMenu is made the first time it is needed: for the XEmbed tray, for popUp(), or when asked
// for. Snapshot mode and a StatusNotifierItem host never need it, and a QMenu brings the widget
// style with it (about 0.6 MB of resident memory).
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

void StatusItem::setImage(const QIcon& image) {
    image_ = image;
    for (TrayBackend* backend : backends())
        backend->setImage(image);
    if (backends().isEmpty())
        chooseBackend();
}

void StatusItem::setToolTip(const QString& title, const QString& text) {
    toolTipTitle_ = title;
    toolTipText_ = text;
    for (TrayBackend* backend : backends())
        backend->setToolTip(title, text);
}

void StatusItem::setAttention(bool attention) {
    attention_ = attention;
    for (TrayBackend* backend : backends())
        backend->setAttention(attention);
}

void StatusItem::setMenu(const Menu& menu) {
    menu_ = menu;
    for (TrayBackend* backend : backends())
        backend->setMenu(menu);
    if (backends().isEmpty())
        chooseBackend();
    if (qmenu_ && !menuOpen_)
        populateQMenu();
    else
        qmenuDirty_ = bool(qmenu_);
}

void StatusItem::populateQMenu() {
    qmenuDirty_ = false;
    if (!menu_)
        return;
    populateMenu(qmenu_.get(), *menu_, [this](Action action, const QString& represented) {
        Q_EMIT activated(action, represented);
    });
}

// Runs from the event loop after the QMenu has closed; it may be open again by then.
void StatusItem::menuHidden() {
    if (!menuOpen_ && qmenuDirty_)
        populateQMenu();
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

void StatusItem::popUp() {
    if (menuOpen_ || (kind_ == Kind::StatusNotifier && !onX11()))
        return;
    QRect anchor;
    if (kind_ == Kind::XEmbed)
        anchor = xembed_->geometry();
    if (!anchor.isValid())
        anchor = QRect(QCursor::pos(), QSize(1, 1));
    popUpAt(anchor);
}

// Placed by menuPosition() on the screen at the anchor: Qt's own placement keeps a popup on the
// whole screen, where it covers the panel.
void StatusItem::popUpAt(const QRect& anchor) {
    if (menuOpen_)
        return;
    QMenu* menu = qmenu();
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    menu->ensurePolished();
    const QPoint at = screen ? menuPosition(menu->sizeHint(), anchor, screen->availableGeometry())
                             : anchor.topLeft();
    menu->popup(at);
}

// Once: whether a StatusNotifierWatcher is on the session bus, and a watch on its name from then
// on. Without a session bus nothing is watched and only an XEmbed tray can show the icon.
void StatusItem::watchBus() {
    if (busLookedAt_)
        return;
    busLookedAt_ = true;
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
                watcherPresent_ = !owner.isEmpty();
                // A new watcher (a panel that restarted) is told about the item already there.
                if (watcherPresent_ && sni_)
                    sni_->announce();
                chooseBackend();
            });
    watcherPresent_ = bus.interface()->isServiceRegistered(statusNotifierWatcherService);
}

// The one place that decides which backend shows the item:
//  - an XEmbed tray that holds the icon keeps it;
//  - else a StatusNotifierWatcher gets it; while the watcher refuses it, an XEmbed tray that is
//    there stands in, and the watcher gets it back once it takes the item;
//  - else an XEmbed tray gets it;
//  - else it stays where it is (an item left exported waits for the next watcher).
void StatusItem::setShown(bool shown) {
    shown_ = shown;
    if (shown_)
        chooseBackend();
    else
        switchTo(Kind::None);
}

void StatusItem::chooseBackend() {
    if (!image_ || !menu_ || !shown_)
        return; // a host is shown a complete item only
    watchBus();
    const bool xembed = xembedTray_ ? xembedTray_() : xembedTrayPresent();
    const bool refused = watcherPresent_ && sni_ && sni_->refused();
    Kind kind = kind_;
    if (kind_ == Kind::XEmbed && xembed && !sni_)
        kind = Kind::XEmbed;
    else if (watcherPresent_)
        kind = refused && xembed ? Kind::XEmbed : Kind::StatusNotifier;
    else if (xembed)
        kind = Kind::XEmbed;
    switchTo(kind);
    if (kind_ != kind && xembed) // the bus refused the item
        switchTo(Kind::XEmbed);
    // The XEmbed tray is looked at while its coming or going would change the choice.
    const bool poll = (xembedTray_ || onX11()) &&
                      !(kind_ == Kind::StatusNotifier && watcherPresent_ && !refused) &&
                      !(kind_ == Kind::XEmbed && !watcherPresent_);
    if (poll && !trayPoll_) {
        trayPoll_ = new QTimer(this);
        trayPoll_->setInterval(trayPollMs);
        connect(trayPoll_, &QTimer::timeout, this, &StatusItem::chooseBackend);
        trayPoll_->start();
    } else if (!poll && trayPoll_) {
        trayPoll_->deleteLater();
        trayPoll_ = nullptr;
    }
}

// A StatusNotifierItem stays on the bus beside an XEmbed icon only while its watcher refuses it.
void StatusItem::switchTo(Kind kind) {
    if (kind != Kind::StatusNotifier &&
        !(kind == Kind::XEmbed && watcherPresent_ && sni_ && sni_->refused()))
        sni_.reset();
    if (kind != Kind::XEmbed)
        xembed_.reset();
    kind_ = Kind::None;
    if (kind == Kind::StatusNotifier && !sni_) {
        auto tray = std::make_unique<StatusNotifierTray>(
            QDBusConnection::sessionBus(),
            [this](QPoint at) {
                if (onX11())
                    popUpAt(QRect(at, QSize(1, 1)));
            },
            [this](Action action, const QString& represented) {
                QMetaObject::invokeMethod(
                    this, [this, action, represented] { Q_EMIT activated(action, represented); },
                    Qt::QueuedConnection);
            });
        tray->setImage(*image_);
        tray->setToolTip(toolTipTitle_, toolTipText_);
        tray->setAttention(attention_);
        tray->setMenu(*menu_);
        // Queued: the choice may end the tray that tells of the refusal.
        connect(tray.get(), &StatusNotifierTray::refusedChanged, this, &StatusItem::chooseBackend,
                Qt::QueuedConnection);
        if (!tray->publish())
            return;
        sni_ = std::move(tray);
    } else if (kind == Kind::XEmbed && !xembed_) {
        xembed_ = std::make_unique<XEmbedTray>(*image_, qmenu(), [this] { popUp(); });
        xembed_->setToolTip(toolTipTitle_, toolTipText_);
    }
    kind_ = kind;
}

} // namespace quillnest
