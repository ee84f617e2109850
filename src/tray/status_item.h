// The utility's presence in the panel: our counterpart of a menu-bar status item.
//
// It holds the button image, the tooltip and the current menu description, and shows them in
// whatever tray the desktop has. When a StatusNotifierWatcher owns its name on the session bus, the
// item is our own StatusNotifierItem with the menu exported as com.canonical.dbusmenu (the host
// draws it, every title exact); otherwise it is a QSystemTrayIcon, which docks into an XEmbed tray.
// Without either (tests, snapshot mode, a panel that starts after us) it keeps them all the same,
// and the icon appears once a tray does: a watcher that appears while no XEmbed tray has taken the
// icon is preferred, and a watcher that restarts is told about the item again.
// The Qt menu is one long-lived QMenu, given to the tray once; every setMenu() rebuilds its
// actions and the exported menu, but never while either menu is open: a description installed then
// is applied when the menu closes. Main thread only.
#pragma once

#include "menu/menu_model.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QMenu;
class QPoint;
class QSystemTrayIcon;
class QTimer;

namespace quillnest {

class StatusNotifierExport;

class StatusItem : public QObject {
    Q_OBJECT
public:
    explicit StatusItem(QObject* parent = nullptr);
    ~StatusItem() override;

    void setImage(const QIcon& image);
    const std::optional<QIcon>& image() const { return image_; }
    void setToolTip(const QString& toolTip);
    const QString& toolTip() const { return toolTip_; }

    // Installs a new menu; applied at once, or when the open menu closes.
    void setMenu(const Menu& menu);
    // The most recently installed description, applied or pending.
    const std::optional<Menu>& menu() const { return menu_; }
    // The Qt menu, made (with the installed description applied) on first use.
    QMenu* qmenu();

    // Whether the QMenu or the menu a StatusNotifierItem host draws is open.
    bool isMenuOpen() const { return menuOpen_ || hostMenuOpen_; }
    // Opens the menu as a click on the icon does: at the icon, or at the cursor when the icon's
    // place is unknown. Nothing off X11 while a StatusNotifierItem host shows the icon: a program
    // cannot open the host's menu, and its own would be a window away from the panel.
    void popUp();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    // The user picked an item; `represented` is the project path of a project item. A pick in the
    // menu a host draws arrives from the event loop, after the D-Bus call has been answered.
    void activated(quillnest::Action action, const QString& represented);
    // The open menu (ours or the host's) has closed and a held-back description is applied.
    void menuClosed();

private:
    void show();
    void watchForStatusNotifierWatcher();
    void statusNotifierWatcherChanged(const QString& owner);
    bool exportStatusNotifierItem();
    void ensureTray();
    void applyMenu();
    void populateQMenu();
    void hostMenuChanged(bool open);
    void menuHidden();
    void popUpAt(const QPoint& at);

    std::optional<QIcon> image_;
    QString toolTip_;
    std::optional<Menu> menu_;
    bool menuDirty_ = false;
    bool menuOpen_ = false;
    bool hostMenuOpen_ = false;
    std::unique_ptr<QMenu> qmenu_;
    QPointer<QSystemTrayIcon> tray_;
    QTimer* trayWatch_ = nullptr;
    bool watcherLookedFor_ = false;
    bool busWatched_ = false; // a session bus is connected and its watcher watched
    bool watcherPresent_ = false;
    std::unique_ptr<StatusNotifierExport> exported_;
};

} // namespace quillnest
