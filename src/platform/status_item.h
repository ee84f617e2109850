// The utility's presence in the panel: our counterpart of a menu-bar status item.
//
// It holds the button image, the tooltip and the current menu description, and shows them through
// QSystemTrayIcon whenever the desktop has a system tray. Without a tray (tests, snapshot mode, a
// panel that starts after us) it keeps them all the same, and the icon appears once a tray does.
// The Qt menu is one long-lived QMenu, given to the tray once; every setMenu() rebuilds its
// actions, but never while it is open: a description installed then is applied when the menu
// closes. Main thread only.
#pragma once

#include "menu/menu_model.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace quillnest {

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

    bool isMenuOpen() const { return menuOpen_; }
    // Opens the menu as a click on the icon does: at the icon, or at the cursor when the icon's
    // place is unknown.
    void popUp();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    // The user picked an item; `represented` is the project path of a project item.
    void activated(quillnest::Action action, const QString& represented);
    void menuClosed();

private:
    void ensureTray();
    void applyMenu();

    std::optional<QIcon> image_;
    QString toolTip_;
    std::optional<Menu> menu_;
    bool menuDirty_ = false;
    bool menuOpen_ = false;
    std::unique_ptr<QMenu> qmenu_;
    QPointer<QSystemTrayIcon> tray_;
    QTimer* trayWatch_ = nullptr;
};

} // namespace quillnest
