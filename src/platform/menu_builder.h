// Turning a menu description into QActions. Main thread only.
#pragma once

#include "menu/menu_model.h"

#include <QString>

#include <functional>

class QMenu;

namespace quillnest {

// A title as QAction shows it literally: '&' doubled so it is no mnemonic marker.
QString actionText(const QString& title);
// A tooltip that shows as plain text even when it looks like markup.
QString plainToolTip(const QString& text);

// Replaces every action of `menu` (and deletes its old submenus) with items of `items`. An item is
// enabled when it is not an info item and has an action or a submenu. `pick` is called when the
// user triggers an item that has an action.
void populateMenu(QMenu* menu, const Menu& items,
                  const std::function<void(Action, const QString&)>& pick);

} // namespace quillnest
