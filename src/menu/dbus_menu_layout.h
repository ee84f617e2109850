// A menu description as the com.canonical.dbusmenu protocol numbers and describes it: a tree of
// items, each with an integer id and a map of properties, that a tray host draws by itself.
//
// Plain data, no D-Bus: the exporter in dbus_menu.h sends these maps as they are. An item's id
// follows its meaning, not its place: DBusMenuIds gives the item the id its path of names
// (MenuItem::name, from the root down) had in every earlier tree, and a path never seen before a
// new id; ids are never reused. So a host's open menu is updated in place as titles, counts and
// check marks change, and a click on an item that has gone names no other item. Any thread.
#pragma once

#include "menu/menu_model.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>
#include <vector>

namespace quillnest {

// How the host reads a label's '_'.
enum class LabelStyle {
    // As the protocol says: '_' marks the mnemonic and "__" is a literal '_'.
    Mnemonic,
    // GNOME Shell's AppIndicator extension: it removes the first '_' that is followed by another
    // character and shows every other '_' as it is.
    FirstUnderscoreRemoved,
};

// The label under which a dbusmenu host of that style shows `title` literally. Nothing but '_' is
// changed ('&' and '<' mean nothing there).
QString dbusMenuLabel(const QString& title, LabelStyle style = LabelStyle::Mnemonic);

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

// The ids handed out so far, by path of names. The root is 0.
class DBusMenuIds {
public:
    int idFor(const QString& path);

private:
    QHash<QString, int> ids_;
    int next_ = 1;
};

class DBusMenuTree {
public:
    // Just the root, without children.
    DBusMenuTree();
    // With ids from `ids`, which remembers the new ones.
    DBusMenuTree(const Menu& menu, DBusMenuIds& ids, LabelStyle style = LabelStyle::Mnemonic);

    // The item with this id, or null when there is none.
    const DBusMenuNode* find(int id) const;
    const DBusMenuNode& root() const { return nodes_.front(); }
    // Every item, the root first.
    const std::vector<DBusMenuNode>& nodes() const { return nodes_; }

private:
    void add(const Menu& items, int parent, const QString& path, DBusMenuIds& ids,
             LabelStyle style);

    std::vector<DBusMenuNode> nodes_;
    QHash<int, qsizetype> index_; // id -> position in nodes_
};

// What changed in one item's properties.
struct DBusMenuPropertyChange {
    int id = 0;
    QVariantMap updated;
    QStringList removed;
};

// The property changes that take a host from `from` to `to`, or nothing when the two differ in
// structure (an item added, removed or moved), which only a new layout can tell.
std::optional<std::vector<DBusMenuPropertyChange>> propertyChanges(const DBusMenuTree& from,
                                                                   const DBusMenuTree& to);

// `properties` restricted to `names`; all of them when `names` is empty (as the protocol says).
QVariantMap selectProperties(const QVariantMap& properties, const QStringList& names);

} // namespace quillnest
