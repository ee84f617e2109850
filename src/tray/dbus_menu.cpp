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

DBusMenu::DBusMenu(PickHandler pick, OpenHandler open, QObject* parent)
    : QObject(parent), pick_(std::move(pick)), open_(std::move(open)),
      tree_(std::make_shared<const DBusMenuTree>()) {
    registerDBusTypes();
}

void DBusMenu::setMenu(const Menu& menu) {
    if (served_ && *served_ == menu)
        return;
    served_ = menu;
    tree_ = std::make_shared<const DBusMenuTree>(menu);
    ++revision_;
    Q_EMIT LayoutUpdated(revision_, 0);
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
    fetched_ = tree_;
    return revision_;
}

DBusMenuItemPropertiesList DBusMenu::GetGroupProperties(const QList<int>& ids,
                                                        const QStringList& propertyNames) {
    DBusMenuItemPropertiesList result;
    auto add = [&](const DBusMenuNode& node) {
        result.append({node.id, selectProperties(node.properties, propertyNames)});
    };
    if (ids.isEmpty()) {
        for (int id = 0; id < tree_->size(); ++id)
            add(*tree_->find(id));
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

bool DBusMenu::AboutToShow(int id) {
    if (!tree_->find(id)) {
        unknownItem(id);
        return false;
    }
    return id == 0 && hostShows();
}

QList<int> DBusMenu::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    QList<int> updatesNeeded;
    for (int id : ids) {
        if (!tree_->find(id))
            idErrors.append(id);
        else if (id == 0 && hostShows())
            updatesNeeded.append(0);
    }
    return updatesNeeded;
}

// False when there is no item `id`. Events other than these three mean nothing here ("hovered",
// and "opened" or "closed" of a submenu).
bool DBusMenu::handleEvent(int id, const QString& eventId) {
    const DBusMenuNode* node = (fetched_ ? fetched_ : tree_)->find(id);
    if (!node)
        return false;
    if (eventId == QLatin1String("clicked")) {
        if (node->live)
            pick_(node->action, node->represented);
    } else if (id == 0 && eventId == QLatin1String("opened")) {
        hostShows();
    } else if (id == 0 && eventId == QLatin1String("closed")) {
        open_(false);
    }
    return true;
}

// Whether the owner served a new layout while told that the host shows the menu: the host has to
// read it before showing (AboutToShow's "needUpdate").
bool DBusMenu::hostShows() {
    const uint before = revision_;
    open_(true);
    return revision_ != before;
}

} // namespace quillnest
