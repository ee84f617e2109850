#include "tray/dbus_menu.h"

#include <QDBusError>

namespace quillnest {

static DBusMenuLayoutItem layoutOf(const DBusMenuTree& tree, const DBusMenuNode& node, int depth,
                                   const QStringList& names) {
    DBusMenuLayoutItem item;
    item.id = node.id;
    item.properties = selectProperties(node.properties, names);
    if (depth == 0)
        return item;
    item.children.reserve(node.children.size());
    for (int child : node.children)
        item.children.push_back(
            layoutOf(tree, *tree.find(child), depth < 0 ? -1 : depth - 1, names));
    return item;
}

DBusMenu::DBusMenu(PickHandler pick, QObject* parent)
    : QObject(parent), pick_(std::move(pick)), tree_(std::make_shared<const DBusMenuTree>()) {
    registerDBusTypes();
}

void DBusMenu::setMenu(const Menu& menu) {
    if (menu_ && *menu_ == menu)
        return;
    menu_ = menu;
    serve(std::make_shared<const DBusMenuTree>(menu, ids_, style_));
}

void DBusMenu::setLabelStyle(LabelStyle style) {
    if (style == style_)
        return;
    style_ = style;
    if (menu_)
        serve(std::make_shared<const DBusMenuTree>(*menu_, ids_, style_));
}

void DBusMenu::serve(std::shared_ptr<const DBusMenuTree> tree) {
    const auto changes = propertyChanges(*tree_, *tree);
    tree_ = std::move(tree);
    if (changes && changes->empty())
        return;
    if (held_) {
        changedWhileHeld_ = true;
        if (!changes)
            ++revision_;
        return;
    }
    if (!changes) {
        ++revision_;
        Q_EMIT LayoutUpdated(revision_, 0);
        return;
    }
    DBusMenuItemPropertiesList updated;
    DBusMenuItemKeysList removed;
    for (const DBusMenuPropertyChange& change : *changes) {
        if (!change.updated.isEmpty())
            updated.append({change.id, change.updated});
        if (!change.removed.isEmpty())
            removed.append({change.id, change.removed});
    }
    Q_EMIT ItemsPropertiesUpdated(updated, removed);
}

void DBusMenu::holdSignals(bool hold) {
    if (hold == held_)
        return;
    held_ = hold;
    if (!hold && changedWhileHeld_) {
        changedWhileHeld_ = false;
        ++revision_;
        Q_EMIT LayoutUpdated(revision_, 0);
    }
}

void DBusMenu::unknownItem(int id) {
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("No menu item with id %1").arg(id));
}

uint DBusMenu::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                         DBusMenuLayoutItem& layout) {
    const DBusMenuNode* node = tree_->find(parentId);
    if (!node) {
        unknownItem(parentId);
        return revision_;
    }
    layout = layoutOf(*tree_, *node, recursionDepth, propertyNames);
    return revision_;
}

DBusMenuItemPropertiesList DBusMenu::GetGroupProperties(const QList<int>& ids,
                                                        const QStringList& propertyNames) {
    DBusMenuItemPropertiesList result;
    auto add = [&](const DBusMenuNode& node) {
        result.append({node.id, selectProperties(node.properties, propertyNames)});
    };
    if (ids.isEmpty()) {
        for (const DBusMenuNode& node : tree_->nodes())
            add(node);
    }
    for (int id : ids) {
        if (const DBusMenuNode* node = tree_->find(id))
            add(*node);
    }
    return result;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString& name) {
    const DBusMenuNode* node = tree_->find(id);
    if (!node) {
        unknownItem(id);
        return {};
    }
    const auto found = node->properties.constFind(name);
    if (found == node->properties.cend()) {
        if (calledFromDBus())
            sendErrorReply(QDBusError::InvalidArgs,
                           QStringLiteral("Menu item %1 has no property %2").arg(id).arg(name));
        return {};
    }
    return QDBusVariant(*found);
}

void DBusMenu::Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp) {
    Q_UNUSED(data);
    Q_UNUSED(timestamp);
    if (!handleEvent(id, eventId))
        unknownItem(id);
}

QList<int> DBusMenu::EventGroup(const DBusMenuEventList& events) {
    QList<int> idErrors;
    for (const DBusMenuEvent& event : events) {
        if (!handleEvent(event.id, event.eventId))
            idErrors.append(event.id);
    }
    if (!events.isEmpty() && idErrors.size() == events.size() && calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("None of the menu items exists"));
    return idErrors;
}

// A host has missed a change only while signals are held (see holdSignals()).
bool DBusMenu::AboutToShow(int id) {
    if (!tree_->find(id)) {
        unknownItem(id);
        return false;
    }
    return changedWhileHeld_;
}

QList<int> DBusMenu::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    QList<int> updatesNeeded;
    for (int id : ids) {
        if (!tree_->find(id))
            idErrors.append(id);
        else if (changedWhileHeld_)
            updatesNeeded.append(id);
    }
    return updatesNeeded;
}

// False when there is no item `id`: an item that has gone is never taken for another, since ids
// are not reused. Events other than "clicked" mean nothing here ("hovered", "opened", "closed").
bool DBusMenu::handleEvent(int id, const QString& eventId) {
    const DBusMenuNode* node = tree_->find(id);
    if (!node)
        return false;
    if (eventId == QLatin1String("clicked") && node->live)
        pick_(node->action, node->represented);
    return true;
}

} // namespace quillnest
