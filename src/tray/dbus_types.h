// The structures of the StatusNotifierItem and com.canonical.dbusmenu protocols, with their D-Bus
// marshalling. registerDBusTypes() must have run before any of them crosses the bus; the exported
// objects call it when they are made. Any thread.
#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <vector>

namespace quillnest {

// One image of an icon, (iiay): ARGB32 pixels, 4 bytes each in network byte order (A, R, G, B),
// row by row.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;

    bool operator==(const SniPixmap&) const = default;
};
using SniPixmapList = QList<SniPixmap>; // a(iiay)

// (sa(iiay)ss): icon name, icon images, title, description.
struct SniToolTip {
    QString iconName;
    SniPixmapList icon;
    QString title;
    QString description;
};

// (ia{sv}av): an item of GetLayout's answer; each child travels as a variant holding the same
// structure.
struct DBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    std::vector<DBusMenuLayoutItem> children;
};

// (ia{sv}): an item's properties, as GetGroupProperties and ItemsPropertiesUpdated send them.
struct DBusMenuItemProperties {
    int id = 0;
    QVariantMap properties;
};
using DBusMenuItemPropertiesList = QList<DBusMenuItemProperties>;

// (ias): the names of the properties an item no longer has.
struct DBusMenuItemKeys {
    int id = 0;
    QStringList names;
};
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

// (isvu): one event of EventGroup.
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuEventList = QList<DBusMenuEvent>;

void registerDBusTypes();

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& toolTip);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemProperties& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event);

} // namespace quillnest

Q_DECLARE_METATYPE(quillnest::SniPixmap)
Q_DECLARE_METATYPE(quillnest::SniToolTip)
Q_DECLARE_METATYPE(quillnest::DBusMenuLayoutItem)
Q_DECLARE_METATYPE(quillnest::DBusMenuItemProperties)
Q_DECLARE_METATYPE(quillnest::DBusMenuItemKeys)
Q_DECLARE_METATYPE(quillnest::DBusMenuEvent)
