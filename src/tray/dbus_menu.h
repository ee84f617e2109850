// The menu exported as com.canonical.dbusmenu, for tray hosts that draw the menu themselves.
//
// The object serves the last description given to setMenu() as a DBusMenuTree and knows nothing
// else: what a click does and what an open menu means are the owner's, through the two handlers.
// Its public slots, signals and properties are the protocol's and nothing more, so that all of them
// can be exported. Their signatures spell list types out: Qt D-Bus looks parameter types up by the
// name written there, which an alias is not registered under. Main thread only.
#pragma once

#include "menu/dbus_menu_layout.h"
#include "tray/dbus_types.h"

#include <QDBusContext>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace quillnest {

class DBusMenu : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"com.canonical.dbusmenu\">\n"
                "    <property name=\"Version\" type=\"u\" access=\"read\"/>\n"
                "    <property name=\"TextDirection\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"IconThemePath\" type=\"as\" access=\"read\"/>\n"
                "    <method name=\"GetLayout\">\n"
                "      <arg name=\"parentId\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"recursionDepth\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"propertyNames\" type=\"as\" direction=\"in\"/>\n"
                "      <arg name=\"revision\" type=\"u\" direction=\"out\"/>\n"
                "      <arg name=\"layout\" type=\"(ia{sv}av)\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"GetGroupProperties\">\n"
                "      <arg name=\"ids\" type=\"ai\" direction=\"in\"/>\n"
                "      <arg name=\"propertyNames\" type=\"as\" direction=\"in\"/>\n"
                "      <arg name=\"properties\" type=\"a(ia{sv})\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"GetProperty\">\n"
                "      <arg name=\"id\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"name\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"value\" type=\"v\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"Event\">\n"
                "      <arg name=\"id\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"eventId\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"data\" type=\"v\" direction=\"in\"/>\n"
                "      <arg name=\"timestamp\" type=\"u\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"EventGroup\">\n"
                "      <arg name=\"events\" type=\"a(isvu)\" direction=\"in\"/>\n"
                "      <arg name=\"idErrors\" type=\"ai\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"AboutToShow\">\n"
                "      <arg name=\"id\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"needUpdate\" type=\"b\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"AboutToShowGroup\">\n"
                "      <arg name=\"ids\" type=\"ai\" direction=\"in\"/>\n"
                "      <arg name=\"updatesNeeded\" type=\"ai\" direction=\"out\"/>\n"
                "      <arg name=\"idErrors\" type=\"ai\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <signal name=\"ItemsPropertiesUpdated\">\n"
                "      <arg name=\"updatedProps\" type=\"a(ia{sv})\" direction=\"out\"/>\n"
                "      <arg name=\"removedProps\" type=\"a(ias)\" direction=\"out\"/>\n"
                "    </signal>\n"
                "    <signal name=\"LayoutUpdated\">\n"
                "      <arg name=\"revision\" type=\"u\" direction=\"out\"/>\n"
                "      <arg name=\"parent\" type=\"i\" direction=\"out\"/>\n"
                "    </signal>\n"
                "    <signal name=\"ItemActivationRequested\">\n"
                "      <arg name=\"id\" type=\"i\" direction=\"out\"/>\n"
                "      <arg name=\"timestamp\" type=\"u\" direction=\"out\"/>\n"
                "    </signal>\n"
                "  </interface>\n")
    Q_PROPERTY(uint Version READ version CONSTANT)
    Q_PROPERTY(QString TextDirection READ textDirection CONSTANT)
    Q_PROPERTY(QString Status READ status CONSTANT)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath CONSTANT)

public:
    // Called for a "clicked" event on a live item with an action, directly from the D-Bus call.
    using PickHandler = std::function<void(Action action, const QString& represented)>;
    // Called with true whenever the host shows the whole menu (AboutToShow or "opened" on the
    // root, so often twice for one opening) and with false when it says it closed it ("closed").
    // A description given to setMenu() from within the call is what the host then reads.
    using OpenHandler = std::function<void(bool open)>;

    DBusMenu(PickHandler pick, OpenHandler open, QObject* parent = nullptr);

    // Serves `menu` from now on. Only a description that differs from the served one bumps the
    // revision and emits LayoutUpdated, so hosts refetch nothing when nothing changed.
    void setMenu(const Menu& menu);
    uint revision() const { return revision_; }

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   quillnest::DBusMenuLayoutItem& layout);
    QList<quillnest::DBusMenuItemProperties> GetGroupProperties(const QList<int>& ids,
                                                                const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const QList<quillnest::DBusMenuEvent>& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

Q_SIGNALS:
    void ItemsPropertiesUpdated(const QList<quillnest::DBusMenuItemProperties>& updatedProps,
                                const QList<quillnest::DBusMenuItemKeys>& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    bool handleEvent(int id, const QString& eventId);
    bool hostShows();
    void unknownItem(int id);

    PickHandler pick_;
    OpenHandler open_;
    std::optional<Menu> served_;
    std::shared_ptr<const DBusMenuTree> tree_;
    // The tree of the host's last GetLayout, against which events are read: the ids of a click
    // are those of the layout the host shows, and a "clicked" that comes after "closed" can find
    // a newer tree served by then (the held-back one, applied on close).
    std::shared_ptr<const DBusMenuTree> fetched_;
    uint revision_ = 0;
};

} // namespace quillnest
