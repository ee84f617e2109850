// Menu items for the snapshot tests: a command item (an action unless told otherwise) and a
// separator.
#pragma once

#include "menu/menu_model.h"

namespace quillnest {

inline MenuItem item(const QString& title, Action action = Action::SyncNow) {
    MenuItem i;
    i.title = title;
    i.action = action;
    return i;
}

inline MenuItem separator() {
    MenuItem i;
    i.separator = true;
    return i;
}

} // namespace quillnest
