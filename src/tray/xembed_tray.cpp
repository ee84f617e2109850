#include "tray/xembed_tray.h"

#include "tray/menu_builder.h"

#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#ifdef QN_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#endif

namespace quillnest {

// The tray manager owns the selection _NET_SYSTEM_TRAY_S<screen> (the XEmbed tray protocol). Asked
// of the X server directly: QSystemTrayIcon::isSystemTrayAvailable() also counts a
// StatusNotifierWatcher, and makes Qt's own choice of tray protocol for the rest of the process.
bool xembedTrayPresent() {
#ifdef QN_HAVE_XCB
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t* connection = x11->connection();
    int screen = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen))
        std::free(host);
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.constData()),
        nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false; // nobody ever made the atom: no tray ever ran
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool present = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return present;
#else
    return QGuiApplication::platformName() == QLatin1String("xcb") &&
           QSystemTrayIcon::isSystemTrayAvailable();
#endif
}

XEmbedTray::XEmbedTray(const QIcon& image, QMenu* menu, std::function<void()> trigger)
    : icon_(new QSystemTrayIcon(image)) {
    icon_->setContextMenu(menu);
    QObject::connect(icon_, &QSystemTrayIcon::activated, icon_,
                     [trigger = std::move(trigger)](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger)
                             trigger();
                     });
    icon_->show();
}

XEmbedTray::~XEmbedTray() {
    delete icon_.data();
}

void XEmbedTray::setImage(const QIcon& image) {
    icon_->setIcon(image);
}

// Qt shows a tooltip as rich text when it looks like markup: the lines are escaped.
void XEmbedTray::setToolTip(const QString& title, const QString& text) {
    icon_->setToolTip(text.isEmpty() ? plainToolTip(title)
                                     : plainToolTip(title + QLatin1Char('\n') + text));
}

QRect XEmbedTray::geometry() const {
    return icon_->isVisible() ? icon_->geometry() : QRect();
}

} // namespace quillnest
