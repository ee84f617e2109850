// The backend for XEmbed trays (trayer, stalonetray, old panels): a QSystemTrayIcon with our own
// QMenu as its context menu. Main thread only.
#pragma once

#include "tray/tray_backend.h"

#include <QPointer>
#include <QRect>

#include <functional>

class QMenu;
class QSystemTrayIcon;

namespace quillnest {

// Whether an XEmbed tray holds the system tray selection of the X screen. False off X11.
bool xembedTrayPresent();

class XEmbedTray : public TrayBackend {
public:
    // Shows `image` with `menu` (owned by the caller, alive as long as this) as the context menu;
    // `trigger` is called on a left click.
    XEmbedTray(const QIcon& image, QMenu* menu, std::function<void()> trigger);
    ~XEmbedTray() override;
    XEmbedTray(const XEmbedTray&) = delete;
    XEmbedTray& operator=(const XEmbedTray&) = delete;

    void setImage(const QIcon& image) override;
    void setToolTip(const QString& title, const QString& text) override;
    void setAttention(bool) override {}
    void setMenu(const Menu&) override {}

    // Where the tray shows the icon, or an invalid rectangle when unknown.
    QRect geometry() const;

private:
    QPointer<QSystemTrayIcon> icon_;
};

} // namespace quillnest
