// The StatusNotifierItem protocol, ours: the tray icon that most desktops host over D-Bus (KDE,
// GNOME with AppIndicator, Xfce's panel, waybar, every Wayland session).
//
// StatusNotifierItem is the D-Bus object with the icon, the tooltip and the fixed properties; its
// public slots, signals and properties are the protocol's and nothing more.
// StatusNotifierExport puts that object and a DBusMenu on a bus under a name of their own and tells
// the host's StatusNotifierWatcher about them. Neither decides what a click does: that is the
// handlers', which the owner passes in. Main thread only.
#pragma once

#include "tray/dbus_menu.h"
#include "tray/dbus_types.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QIcon>
#include <QLoggingCategory>
#include <QObject>
#include <QPoint>

#include <functional>
#include <memory>

namespace quillnest {

Q_DECLARE_LOGGING_CATEGORY(lcTray)

// `icon` drawn at the sizes hosts pick from (16 to 64 pixels square, the icon centred in each),
// as ARGB32 in network byte order.
SniPixmapList sniPixmaps(const QIcon& icon);

// The bus name of the panel's side: the watcher that items register with.
inline const QString statusNotifierWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

class StatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"org.kde.StatusNotifierItem\">\n"
                "    <property name=\"Category\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Id\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Title\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"WindowId\" type=\"i\" access=\"read\"/>\n"
                "    <property name=\"IconThemePath\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"IconName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                "    <property name=\"OverlayIconName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"OverlayIconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                "    <property name=\"AttentionIconName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"AttentionIconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                "    <property name=\"AttentionMovieName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>\n"
                "    <property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>\n"
                "    <property name=\"Menu\" type=\"o\" access=\"read\"/>\n"
                "    <method name=\"ContextMenu\">\n"
                "      <arg name=\"x\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"y\" type=\"i\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"Activate\">\n"
                "      <arg name=\"x\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"y\" type=\"i\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"SecondaryActivate\">\n"
                "      <arg name=\"x\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"y\" type=\"i\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"Scroll\">\n"
                "      <arg name=\"delta\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"orientation\" type=\"s\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"ProvideXdgActivationToken\">\n"
                "      <arg name=\"token\" type=\"s\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <signal name=\"NewTitle\"/>\n"
                "    <signal name=\"NewIcon\"/>\n"
                "    <signal name=\"NewAttentionIcon\"/>\n"
                "    <signal name=\"NewOverlayIcon\"/>\n"
                "    <signal name=\"NewToolTip\"/>\n"
                "    <signal name=\"NewStatus\">\n"
                "      <arg name=\"status\" type=\"s\"/>\n"
                "    </signal>\n"
                "  </interface>\n")
    Q_PROPERTY(QString Category READ category CONSTANT)
    Q_PROPERTY(QString Id READ id CONSTANT)
    Q_PROPERTY(QString Title READ title CONSTANT)
    Q_PROPERTY(QString Status READ status CONSTANT)
    Q_PROPERTY(int WindowId READ windowId CONSTANT)
    Q_PROPERTY(QString IconThemePath READ noName CONSTANT)
    Q_PROPERTY(QString IconName READ noName CONSTANT)
    Q_PROPERTY(QList<quillnest::SniPixmap> IconPixmap READ iconPixmap NOTIFY NewIcon)
    Q_PROPERTY(QString OverlayIconName READ noName CONSTANT)
    Q_PROPERTY(QList<quillnest::SniPixmap> OverlayIconPixmap READ noPixmaps CONSTANT)
    Q_PROPERTY(QString AttentionIconName READ noName CONSTANT)
    Q_PROPERTY(QList<quillnest::SniPixmap> AttentionIconPixmap READ noPixmaps CONSTANT)
    Q_PROPERTY(QString AttentionMovieName READ noName CONSTANT)
    Q_PROPERTY(quillnest::SniToolTip ToolTip READ toolTip NOTIFY NewToolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu CONSTANT)
    Q_PROPERTY(QDBusObjectPath Menu READ menu CONSTANT)

public:
    // Asked to open the menu at a point on the screen (Activate and ContextMenu).
    using ActivateHandler = std::function<void(QPoint at)>;

    StatusNotifierItem(const QDBusObjectPath& menu, ActivateHandler activate,
                       QObject* parent = nullptr);

    // Emits NewIcon when the icon's pixels differ from the shown ones.
    void setIcon(const QIcon& icon);
    // Emits NewToolTip when the text differs.
    void setToolTip(const QString& text);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("quillnest-bar"); }
    QString title() const { return QStringLiteral("Quillnest"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString noName() const { return {}; }
    SniPixmapList noPixmaps() const { return {}; }
    const SniPixmapList& iconPixmap() const { return pixmaps_; }
    SniToolTip toolTip() const { return {{}, {}, toolTip_, {}}; }
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menu() const { return menu_; }

public Q_SLOTS:
    void ContextMenu(int x, int y);
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void Scroll(int delta, const QString& orientation);
    void ProvideXdgActivationToken(const QString& token);

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    QDBusObjectPath menu_;
    ActivateHandler activate_;
    SniPixmapList pixmaps_;
    QString toolTip_;
};

// The item and its menu on `bus`: /StatusNotifierItem and /MenuBar under the well-known name
// org.kde.StatusNotifierItem-<pid>-<n>, n counting the exports of this process from 1. Nothing is
// on the bus before publish(); destroying it takes both objects and the name off again.
class StatusNotifierExport {
public:
    StatusNotifierExport(const QDBusConnection& bus, StatusNotifierItem::ActivateHandler activate,
                         DBusMenu::PickHandler pick, DBusMenu::OpenHandler open);
    ~StatusNotifierExport();
    StatusNotifierExport(const StatusNotifierExport&) = delete;
    StatusNotifierExport& operator=(const StatusNotifierExport&) = delete;

    StatusNotifierItem& item() { return *item_; }
    DBusMenu& menu() { return *menu_; }
    const QString& service() const { return service_; }

    // Registers the objects and the name, then announces the item. False, with the reason logged,
    // when the bus refuses either.
    bool publish();
    // Asks the StatusNotifierWatcher to host the item; again whenever a new watcher appears (a
    // panel that restarted). A refusal is logged, nothing more.
    void announce();

private:
    QDBusConnection bus_;
    QString service_;
    std::unique_ptr<DBusMenu> menu_;
    std::unique_ptr<StatusNotifierItem> item_;
};

} // namespace quillnest
