// The utility's presence in the panel: our counterpart of a menu-bar status item.
//
// It holds the button image, the tooltip, the attention flag and the current menu description,
// and shows them through one backend (tray_backend.h), chosen in chooseBackend() and chosen again
// whenever the panels around it change: our StatusNotifierItem with the menu exported over D-Bus
// when a StatusNotifierWatcher is there and no XEmbed tray holds the icon, else a QSystemTrayIcon
// in the XEmbed tray. While the watcher refuses the item (and it is asked again), an XEmbed tray
// that is there shows the icon in its place. Nothing is shown before the image and the menu are
// both set; without any tray (tests, snapshot mode, a panel that starts after us) it keeps them,
// and the icon appears once a tray does.
//
// Every change goes to the backend at once. Only our own QMenu (the XEmbed tray's menu, and the one
// popped up on X11 for a host that asks for it) is never rebuilt while it is open: a description
// installed then is applied when it closes. Main thread only.
#pragma once

#include "menu/menu_model.h"

#include <QIcon>
#include <QObject>
#include <QRect>
#include <QString>
#include <QVarLengthArray>

#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QPoint;
class QSize;
class QTimer;

namespace quillnest {

class StatusNotifierTray;
class TrayBackend;
class XEmbedTray;

// Where a popup menu of `size` goes for a click on `anchor` (the icon, or the point clicked):
// below the anchor when it fits in `available`, else above it, else on the side with more room,
// then moved into `available` (the screen less the panels that reserve their place), so that it
// never covers the panel. The top-left corner.
QPoint menuPosition(const QSize& size, const QRect& anchor, const QRect& available);

class StatusItem : public QObject {
    Q_OBJECT
public:
    enum class Kind { None, XEmbed, StatusNotifier };

    // `xembedTray` tells whether an XEmbed tray is there now; xembedTrayPresent() when empty.
    explicit StatusItem(QObject* parent = nullptr, std::function<bool()> xembedTray = {});
    ~StatusItem() override;

    void setImage(const QIcon& image);
    const std::optional<QIcon>& image() const { return image_; }
    // `title` on the first line, `text` below it.
    void setToolTip(const QString& title, const QString& text = {});
    const QString& toolTipTitle() const { return toolTipTitle_; }
    const QString& toolTipText() const { return toolTipText_; }
    void setAttention(bool attention);

    // Installs a new menu: at once in the exported menu, in the QMenu when it is not open.
    void setMenu(const Menu& menu);
    // The most recently installed description.
    const std::optional<Menu>& menu() const { return menu_; }
    // The Qt menu, made (with the installed description applied) on first use.
    QMenu* qmenu();
    // Whether our QMenu is open.
    bool isMenuOpen() const { return menuOpen_; }

    Kind kind() const { return kind_; }
    // Whether the item goes to a tray at all (it does unless told otherwise). An item kept off the
    // panel still holds everything it is given, for a picture of it, say.
    void setShown(bool shown);

    // Opens the QMenu as a click on the icon does: at the icon, or at the cursor when the icon's
    // place is unknown. Nothing off X11 while a StatusNotifierItem host shows the icon: a program
    // cannot open the host's menu, and its own would be a window away from the panel.
    void popUp();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    // The user picked an item; `represented` is the project path of a project item. A pick in the
    // menu a host draws arrives from the event loop, after the D-Bus call has been answered.
    void activated(quillnest::Action action, const QString& represented);

private:
    QVarLengthArray<TrayBackend*, 2> backends() const;
    void chooseBackend();
    void switchTo(Kind kind);
    void watchBus();
    void pollTrays();
    void populateQMenu();
    void menuHidden();
    void popUpAt(const QRect& anchor);

    std::function<bool()> xembedTray_;
    std::optional<QIcon> image_;
    QString toolTipTitle_;
    QString toolTipText_;
    bool attention_ = false;
    bool shown_ = true;
    std::optional<Menu> menu_;
    bool qmenuDirty_ = false;
    bool menuOpen_ = false;
    std::unique_ptr<QMenu> qmenu_;
    Kind kind_ = Kind::None; // which backend shows the icon
    std::unique_ptr<StatusNotifierTray> sni_;
    std::unique_ptr<XEmbedTray> xembed_;
    QTimer* trayPoll_ = nullptr;
    bool busLookedAt_ = false;
    bool busWatched_ = false; // a session bus is connected and its watcher watched
    bool watcherPresent_ = false;
};

} // namespace quillnest
