#include "platform/status_item.h"

#include "platform/menu_builder.h"

#include <QAction>
#include <QCursor>
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
        QTimer::singleShot(0, this, [this] {
            if (menuOpen_)
                return;
            if (menuDirty_)
                applyMenu();
            Q_EMIT menuClosed();
        });
    });
    if (menu_)
        applyMenu();
    return qmenu_.get();
}

StatusItem::~StatusItem() {
    delete tray_.data();
}

void StatusItem::setImage(const QIcon& image) {
    image_ = image;
    ensureTray();
    if (tray_)
        tray_->setIcon(image);
}

void StatusItem::setToolTip(const QString& toolTip) {
    toolTip_ = toolTip;
    if (tray_)
        tray_->setToolTip(toolTip);
}

void StatusItem::setMenu(const Menu& menu) {
    menu_ = menu;
    menuDirty_ = true;
    if (!menuOpen_)
        applyMenu();
}

void StatusItem::applyMenu() {
    if (!qmenu_)
        return; // applied when the menu is made
    menuDirty_ = false;
    if (!menu_)
        return;
    populateMenu(qmenu_.get(), *menu_, [this](Action action, const QString& represented) {
        Q_EMIT activated(action, represented);
    });
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
    if (menuOpen_)
        return;
    QPoint at = QCursor::pos();
    if (tray_ && tray_->isVisible()) {
        const QRect place = tray_->geometry();
        if (place.isValid())
            at = place.bottomLeft();
    }
    qmenu()->popup(at);
}

// The tray icon is made the first time there is an image to show and a tray to show it in. While
// no tray exists a slow timer looks for one; the timer stops once the icon is shown.
void StatusItem::ensureTray() {
    if (tray_ || !image_)
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
