#include "menu/dbus_menu_layout.h"

#include <deque>

namespace quillnest {

QString dbusMenuLabel(const QString& title) {
    QString label = title;
    label.replace(QLatin1Char('_'), QLatin1String("__"));
    return label;
}

QList<QStringList> dbusMenuShortcut(const QString& key) {
    if (key.isEmpty())
        return {};
    return {{QStringLiteral("Control"), key}};
}

static DBusMenuNode nodeFor(const MenuItem& item) {
    DBusMenuNode node;
    QVariantMap& properties = node.properties;
    properties.insert(QStringLiteral("visible"), true);
    if (item.separator) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
        return node;
    }
    properties.insert(QStringLiteral("label"), dbusMenuLabel(item.title));
    properties.insert(QStringLiteral("enabled"), isLive(item));
    if (item.hasSubmenu)
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (item.action == Action::ToggleWatch) {
        properties.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        properties.insert(QStringLiteral("toggle-state"), item.checked ? 1 : 0);
    }
    if (!item.key.isEmpty())
        properties.insert(QStringLiteral("shortcut"),
                          QVariant::fromValue(dbusMenuShortcut(item.key)));
    node.action = item.action;
    node.represented = item.represented;
    node.live = isLive(item) && item.action != Action::None;
    return node;
}

DBusMenuTree::DBusMenuTree() {
    DBusMenuNode root;
    root.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    nodes_.push_back(std::move(root));
}

DBusMenuTree::DBusMenuTree(const Menu& menu) : DBusMenuTree() {
    struct Pending {
        const Menu* items;
        int parent;
    };
    std::deque<Pending> queue{{&menu, 0}};
    while (!queue.empty()) {
        const Pending pending = queue.front();
        queue.pop_front();
        for (const MenuItem& item : *pending.items) {
            DBusMenuNode node = nodeFor(item);
            node.id = int(nodes_.size());
            node.parent = pending.parent;
            nodes_[size_t(pending.parent)].children.push_back(node.id);
            if (item.hasSubmenu)
                queue.push_back({&item.submenu, node.id});
            nodes_.push_back(std::move(node));
        }
    }
}

const DBusMenuNode* DBusMenuTree::find(int id) const {
    if (id < 0 || id >= size())
        return nullptr;
    return &nodes_[size_t(id)];
}

QVariantMap selectProperties(const QVariantMap& properties, const QStringList& names) {
    if (names.isEmpty())
        return properties;
    QVariantMap selected;
    for (const QString& name : names) {
        const auto found = properties.constFind(name);
        if (found != properties.cend())
            selected.insert(name, *found);
    }
    return selected;
}

} // namespace quillnest
