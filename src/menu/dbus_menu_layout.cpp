#include "menu/dbus_menu_layout.h"

#include <QSet>

namespace quillnest {

QString dbusMenuLabel(const QString& title, LabelStyle style) {
    QString label = title;
    switch (style) {
    case LabelStyle::Mnemonic:
        label.replace(QLatin1Char('_'), QLatin1String("__"));
        break;
    case LabelStyle::FirstUnderscoreRemoved:
        // One '_' more before the '_' that the host removes; the rest it shows as written.
        for (qsizetype i = 0; i + 1 < label.size(); ++i) {
            if (label.at(i) == u'_' && label.at(i + 1) != u'_') {
                label.insert(i, QLatin1Char('_'));
                break;
            }
        }
        break;
    }
    return label;
}

QList<QStringList> dbusMenuShortcut(const QString& key) {
    if (key.isEmpty())
        return {};
    return {{QStringLiteral("Control"), key}};
}

int DBusMenuIds::idFor(const QString& path) {
    const auto found = ids_.constFind(path);
    if (found != ids_.cend())
        return *found;
    ids_.insert(path, next_);
    return next_++;
}

static DBusMenuNode nodeFor(const MenuItem& item, LabelStyle style) {
    DBusMenuNode node;
    QVariantMap& properties = node.properties;
    properties.insert(QStringLiteral("visible"), true);
    if (item.separator) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
        return node;
    }
    properties.insert(QStringLiteral("label"), dbusMenuLabel(item.title, style));
    properties.insert(QStringLiteral("enabled"), isLive(item));
    if (item.hasSubmenu)
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (item.checkable) {
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
    index_.insert(0, 0);
}

DBusMenuTree::DBusMenuTree(const Menu& menu, DBusMenuIds& ids, LabelStyle style) : DBusMenuTree() {
    add(menu, 0, QString(), ids, style);
}

// An item without a name, or with the name of an earlier sibling, is known by its place.
void DBusMenuTree::add(const Menu& items, int parent, const QString& path, DBusMenuIds& ids,
                       LabelStyle style) {
    QSet<QString> seen;
    for (size_t i = 0; i < items.size(); ++i) {
        const MenuItem& item = items[i];
        QString name = item.name;
        if (name.isEmpty() || seen.contains(name))
            name = QStringLiteral("#%1").arg(i);
        seen.insert(name);
        const QString itemPath = path + QLatin1Char('/') + name;
        DBusMenuNode node = nodeFor(item, style);
        node.id = ids.idFor(itemPath);
        node.parent = parent;
        nodes_[size_t(index_.value(parent))].children.push_back(node.id);
        index_.insert(node.id, qsizetype(nodes_.size()));
        nodes_.push_back(std::move(node));
        if (item.hasSubmenu)
            add(item.submenu, nodes_.back().id, itemPath, ids, style);
    }
}

const DBusMenuNode* DBusMenuTree::find(int id) const {
    const auto found = index_.constFind(id);
    return found == index_.cend() ? nullptr : &nodes_[size_t(*found)];
}

std::optional<std::vector<DBusMenuPropertyChange>> propertyChanges(const DBusMenuTree& from,
                                                                   const DBusMenuTree& to) {
    if (from.nodes().size() != to.nodes().size())
        return std::nullopt;
    std::vector<DBusMenuPropertyChange> changes;
    for (const DBusMenuNode& node : to.nodes()) {
        const DBusMenuNode* old = from.find(node.id);
        if (!old || old->children != node.children)
            return std::nullopt;
        DBusMenuPropertyChange change{node.id, {}, {}};
        for (auto it = node.properties.cbegin(); it != node.properties.cend(); ++it) {
            const auto before = old->properties.constFind(it.key());
            // The type too: a host reads "toggle-state" as an int and "enabled" as a boolean.
            if (before == old->properties.cend() || before->metaType() != it->metaType() ||
                *before != *it)
                change.updated.insert(it.key(), *it);
        }
        for (auto it = old->properties.cbegin(); it != old->properties.cend(); ++it) {
            if (!node.properties.contains(it.key()))
                change.removed.append(it.key());
        }
        if (!change.updated.isEmpty() || !change.removed.isEmpty())
            changes.push_back(std::move(change));
    }
    return changes;
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
