// A menu description as the com.canonical.dbusmenu protocol numbers and describes it: a tree of
// items, each with an integer id and a map of properties, that a tray host draws by itself.
//
// Plain data, no D-Bus: the exporter in dbus_menu.h sends these maps as they are. Ids are positions
// in breadth-first order (the root is 0, the top-level items 1..n, then the items of each submenu
// in turn), so rebuilding from a description of the same shape gives every item the id it had, and
// the ids of the top-level items do not move when a submenu grows or shrinks. Any thread.
#pragma once

#include "menu/menu_model.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <vector>

namespace quillnest {

// The label under which a dbusmenu host shows `title` literally: '_' is that protocol's mnemonic
// marker, so every '_' is doubled; nothing else is changed ('&' and '<' mean nothing there).
QString dbusMenuLabel(const QString& title);

// A shortcut in the dbusmenu form: one chord, the modifier names then the key, e.g.
// [["Control", "s"]]. Empty for an empty key.
QList<QStringList> dbusMenuShortcut(const QString& key);

struct DBusMenuNode {
    int id = 0;
    int parent = -1; // -1 for the root only
    QVariantMap properties;
    std::vector<int> children; // ids, in menu order
    Action action = Action::None;
    QString represented;
    bool live = false; // picking it does something: isLive() and an action
};

class DBusMenuTree {
public:
    // Just the root, without children.
    DBusMenuTree();
    explicit DBusMenuTree(const Menu& menu);

    // The item with this id, or null when there is none.
    const DBusMenuNode* find(int id) const;
    const DBusMenuNode& root() const { return nodes_.front(); }
    int size() const { return int(nodes_.size()); }

private:
    std::vector<DBusMenuNode> nodes_; // indexed by id
};

// `properties` restricted to `names`; all of them when `names` is empty (as the protocol says).
QVariantMap selectProperties(const QVariantMap& properties, const QStringList& names);

} // namespace quillnest
