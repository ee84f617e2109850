// The menu exported as com.canonical.dbusmenu, for tray hosts that draw the menu themselves.
//
// The object serves the last description given to setMenu() as a DBusMenuTree and tells hosts of
// every change as it happens; hosts update an open menu in place. What a click does is the
// owner's, through the handler. Whether a host shows the menu changes nothing here: AboutToShow
// only answers whether the host has missed a change, and "opened" and "closed" mean nothing.
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

    explicit DBusMenu(PickHandler pick, QObject* parent = nullptr);

    // Serves `menu` from now on and tells hosts at once: ItemsPropertiesUpdated when only
    // properties changed (the ids stay, see dbus_menu_layout.h), else a new revision and
    // LayoutUpdated. A description equal to the served one tells nothing.
    void setMenu(const Menu& menu);
    // How labels are written for the host; a change is told as any other.
    void setLabelStyle(LabelStyle style);
    // While held, changes are served but not signalled; the release signals one new layout if
    // anything changed meanwhile. For a host that is still setting the item up.
    void holdSignals(bool hold);
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
    void serve(std::shared_ptr<const DBusMenuTree> tree);
    bool handleEvent(int id, const QString& eventId);
    void unknownItem(int id);

    PickHandler pick_;
    std::optional<Menu> menu_;
    LabelStyle style_ = LabelStyle::Mnemonic;
    DBusMenuIds ids_;
    std::shared_ptr<const DBusMenuTree> tree_;
    uint revision_ = 0;
    bool held_ = false;
    bool changedWhileHeld_ = false;
};

} // namespace quillnest
