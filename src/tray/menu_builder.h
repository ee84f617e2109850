// Turning a menu description into QActions. Main thread only.
#pragma once

#include "menu/menu_model.h"

#include <QString>

#include <functional>

class QAction;
class QKeyEvent;
class QMenu;

namespace quillnest {

// A title as QAction shows it literally: '&' doubled so it is no mnemonic marker.
QString actionText(const QString& title);
// A tooltip that shows as plain text even when it looks like markup.
QString plainToolTip(const QString& text);

// Replaces every action of `menu` (and deletes its old submenus) with items of `items`. An item is
// enabled when it is not an info item and has an action or a submenu. `pick` is called when the
// user triggers an item that has an action. A check mark shows the item's `checked` and nothing
// else: clicking does not flip it.
void populateMenu(QMenu* menu, const Menu& items,
                  const std::function<void(Action, const QString&)>& pick);

// The enabled action of `menu` whose shortcut is the pressed key, or null. Qt matches shortcuts
// only through a window the action belongs to, which a tray's context menu never is, so the open
// menu has to look its shortcuts up itself.
QAction* actionForShortcut(const QMenu* menu, const QKeyEvent& key);

} // namespace quillnest
