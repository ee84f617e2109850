#include "tray/menu_builder.h"

#include <QAction>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>

namespace quillnest {

QString actionText(const QString& title) {
    QString text = title;
    text.replace(QLatin1Char('&'), QLatin1String("&&"));
    return text;
}

QString plainToolTip(const QString& text) {
    if (text.isEmpty())
        return text;
    return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped());
}

static QKeySequence shortcutFor(const QString& key) {
    if (key.isEmpty())
        return {};
    return QKeySequence(QStringLiteral("Ctrl+") + key.toUpper());
}

void populateMenu(QMenu* menu, const Menu& items,
                  const std::function<void(Action, const QString&)>& pick) {
    QList<QMenu*> oldSubmenus;
    for (QAction* action : menu->actions()) {
        if (QMenu* sub = action->menu())
            oldSubmenus.append(sub);
    }
    menu->clear();
    qDeleteAll(oldSubmenus);

    for (const MenuItem& item : items) {
        if (item.separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = nullptr;
        if (item.hasSubmenu) {
            auto* sub = new QMenu(menu);
            sub->setToolTipsVisible(true);
            populateMenu(sub, item.submenu, pick);
            sub->setTitle(actionText(item.title));
            action = menu->addMenu(sub);
        } else {
            action = menu->addAction(actionText(item.title));
        }
        action->setEnabled(isLive(item));
        if (item.checkable) {
            action->setCheckable(true);
            action->setChecked(item.checked);
            // Qt flips a checkable action's mark on every click. The mark shows the description,
            // which the next refresh brings up to date, also when the click changed nothing.
            const bool checked = item.checked;
            QObject::connect(action, &QAction::triggered, action,
                             [action, checked] { action->setChecked(checked); });
        }
        action->setShortcut(shortcutFor(item.key));
        action->setShortcutVisibleInContextMenu(true);
        if (!item.toolTip.isEmpty())
            action->setToolTip(plainToolTip(item.toolTip));
        if (item.action != Action::None) {
            const Action what = item.action;
            const QString represented = item.represented;
            QObject::connect(action, &QAction::triggered, menu,
                             [pick, what, represented] { pick(what, represented); });
        }
    }
}

QAction* actionForShortcut(const QMenu* menu, const QKeyEvent& key) {
    if (key.modifiers() == Qt::NoModifier || key.modifiers() == Qt::ShiftModifier)
        return nullptr; // plain keys belong to the menu's own navigation
    const QKeySequence pressed(key.keyCombination());
    for (QAction* action : menu->actions()) {
        if (action->isEnabled() && action->isVisible() && !action->shortcut().isEmpty() &&
            action->shortcut() == pressed)
            return action;
    }
    return nullptr;
}

} // namespace quillnest
