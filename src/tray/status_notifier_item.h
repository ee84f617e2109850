// The StatusNotifierItem protocol, ours: the tray icon that most desktops host over D-Bus (KDE,
// GNOME with AppIndicator, Xfce's panel, waybar, every Wayland session).
//
// StatusNotifierItem is the D-Bus object with the icon, the tooltip and the fixed properties; its
// public slots, signals and properties are the protocol's and nothing more.
// StatusNotifierTray, the backend for these hosts, puts that object and a DBusMenu on a bus under
// a name of their own and registers them with the host's StatusNotifierWatcher. Neither decides
// what a click does: that is the handlers', which the owner passes in. Main thread only.
#pragma once

#include "tray/dbus_menu.h"
#include "tray/dbus_types.h"
#include "tray/tray_backend.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QIcon>
#include <QLoggingCategory>
#include <QObject>
#include <QPoint>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace quillnest {

Q_DECLARE_LOGGING_CATEGORY(lcTray)

// `icon` drawn at the sizes hosts pick from (16 to 64 pixels square, the icon centred in each),
// as ARGB32 in network byte order.
SniPixmapList sniPixmaps(const QIcon& icon);

// The bus name of the panel's side: the watcher that items register with.
inline const QString statusNotifierWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

// The item's Id property.
inline const QString itemId = QStringLiteral("quillnest-bar");

// How the host whose process is named `processName` (/proc/PID/comm) reads menu labels.
LabelStyle labelStyleForHost(const QString& processName);

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
    Q_PROPERTY(QString Status READ status NOTIFY NewStatus)
    Q_PROPERTY(int WindowId READ windowId CONSTANT)
    Q_PROPERTY(QString IconThemePath READ noName CONSTANT)
    Q_PROPERTY(QString IconName READ noName CONSTANT)
    Q_PROPERTY(QList<quillnest::SniPixmap> IconPixmap READ iconPixmap NOTIFY NewIcon)
    Q_PROPERTY(QString OverlayIconName READ noName CONSTANT)
    Q_PROPERTY(QList<quillnest::SniPixmap> OverlayIconPixmap READ noPixmaps CONSTANT)
    Q_PROPERTY(QString AttentionIconName READ noName CONSTANT)
    Q_PROPERTY(
        QList<quillnest::SniPixmap> AttentionIconPixmap READ iconPixmap NOTIFY NewAttentionIcon)
    Q_PROPERTY(QString AttentionMovieName READ noName CONSTANT)
    Q_PROPERTY(quillnest::SniToolTip ToolTip READ toolTip NOTIFY NewToolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu CONSTANT)
    Q_PROPERTY(QDBusObjectPath Menu READ menu CONSTANT)

public:
    // Asked to open the menu at a point on the screen (Activate and ContextMenu).
    using ActivateHandler = std::function<void(QPoint at)>;

    StatusNotifierItem(const QDBusObjectPath& menu, ActivateHandler activate,
                       QObject* parent = nullptr);

    // Emits NewIcon for another icon at once; its images are drawn when a host reads them.
    void setIcon(const QIcon& icon);
    // Emits NewToolTip when the tooltip differs.
    void setToolTip(const QString& title, const QString& text);
    // "NeedsAttention" or "Active"; emits NewStatus on a change.
    void setAttention(bool attention);
    // While held, changes are kept but not signalled; the release signals each kind of change
    // once. For a host that is still setting the item up.
    void holdSignals(bool hold);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const {
        if (idRead_)
            idRead_();
        return itemId;
    }
    // Called whenever a host reads Id, before the answer goes out.
    void onIdRead(std::function<void()> hook) { idRead_ = std::move(hook); }
    QString title() const { return QStringLiteral("Quillnest"); }
    QString status() const {
        return attention_ ? QStringLiteral("NeedsAttention") : QStringLiteral("Active");
    }
    int windowId() const { return 0; }
    QString noName() const { return {}; }
    SniPixmapList noPixmaps() const { return {}; }
    const SniPixmapList& iconPixmap() const;
    SniToolTip toolTip() const { return {{}, {}, toolTipTitle_, toolTipText_}; }
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
    enum Pending { IconChanged = 1, ToolTipChanged = 2, StatusChanged = 4 };
    void changed(Pending what);

    QDBusObjectPath menu_;
    ActivateHandler activate_;
    QIcon icon_;
    mutable std::optional<SniPixmapList> pixmaps_; // of icon_, once read
    std::function<void()> idRead_;
    QString toolTipTitle_;
    QString toolTipText_;
    bool attention_ = false;
    bool held_ = false;
    int pending_ = 0;
};

// The backend for StatusNotifierItem hosts: the item and its menu on `bus` as /StatusNotifierItem
// and /MenuBar under the well-known name org.kde.StatusNotifierItem-<pid>-<n>, n counting the
// backends of this process from 1. Nothing is on the bus before publish(); destroying it takes both
// objects and the name off again.
//
// Registration waits until the host is known (one asynchronous look at the watcher's process,
// whose name picks the label style). A watcher that refuses the item or does not answer within
// registerTimeoutMs, and a host that drops the item (the watcher says it was unregistered while the
// name is still ours), are asked again, later each time; refused() tells the owner meanwhile.
// Nothing waits on the bus: every call is asynchronous, and an answer to a call that a newer one
// has replaced is ignored.
//
// GNOME Shell's AppIndicator extension forgets the item's Id and Menu whenever it sees our name
// appear (also the first time) and reads both again a second later; an answer that arrives while
// its cache is empty makes it destroy the item. For that host every read of Id is preceded by a
// PropertiesChanged holding Id and Menu, which puts both back into its cache first (messages from
// one connection arrive in order). It also sets the item up for a while after the registration:
// for a settle period the item sends it no change signal, and one signal of each kind that
// changed goes out when the period ends. Every other host is sent each change at once.
class StatusNotifierTray : public QObject, public TrayBackend {
    Q_OBJECT
public:
    StatusNotifierTray(const QDBusConnection& bus, StatusNotifierItem::ActivateHandler activate,
                       DBusMenu::PickHandler pick);
    ~StatusNotifierTray() override;

    void setImage(const QIcon& image) override { item_->setIcon(image); }
    void setToolTip(const QString& title, const QString& text) override {
        item_->setToolTip(title, text);
    }
    void setAttention(bool attention) override { item_->setAttention(attention); }
    void setMenu(const Menu& menu) override { menu_->setMenu(menu); }

    StatusNotifierItem& item() { return *item_; }
    DBusMenu& menu() { return *menu_; }
    const QString& service() const { return service_; }

    // Puts the objects and the name on the bus, then registers with the watcher (see announce()).
    // False, with the reason logged, when the bus refuses either.
    bool publish();
    // Finds out who the watcher is, then asks it to host the item; again whenever a new watcher
    // appears (a panel that restarted), with the wait before asking again back at its shortest.
    void announce();
    // Whether the watcher's last answer to a registration was a refusal, or there was none in
    // time: the item is not shown, and it is asked again. False again once the watcher takes it.
    bool refused() const { return refused_; }

    // How long change signals to GNOME Shell wait after a registration (tests and benchmarks
    // shorten it).
    static inline int settleMs = 1500;
    // How long a registration may go unanswered before it counts as refused. A watcher answers
    // at once; a host that is busy starting gets far more than it needs.
    static inline int registerTimeoutMs = 10000;

Q_SIGNALS:
    void refusedChanged();

private Q_SLOTS:
    void unregistered(const QString& service);

private:
    void ask();
    void registerWithWatcher(const QString& watcherProcess);
    void registered(const QDBusError& error);
    void askAgainLater();
    void holdSignals(bool hold);

    QDBusConnection bus_;
    QString service_;
    std::unique_ptr<DBusMenu> menu_;
    std::unique_ptr<StatusNotifierItem> item_;
    QTimer settle_;
    QTimer retry_;
    int retryMs_ = 1000;  // the wait before asking again after the next drop or refusal
    QElapsedTimer taken_; // since the watcher last took the item
    int generation_ = 0;  // of the last ask(); answers to earlier ones are ignored
    bool refused_ = false;
};

} // namespace quillnest
