// A menu item with a title and an action, the rest left as it comes, for tests that build menus.
#pragma once

#include "menu/menu_model.h"

#include <QString>

namespace quillnest::test {

inline MenuItem item(const QString& title, Action action = Action::None) {
    MenuItem entry;
    entry.title = title;
    entry.action = action;
    return entry;
}

} // namespace quillnest::test
