// A menu item with a title and an action, named after its title, the rest left as it comes, for
// tests that build menus.
#pragma once

#include "menu/menu_model.h"

#include <QString>

namespace quillnest::test {

inline MenuItem item(const QString& title, Action action = Action::None) {
    MenuItem entry;
    entry.name = title;
    entry.title = title;
    entry.action = action;
    return entry;
}

} // namespace quillnest::test
