// The status menu as plain data: what each refresh composes and the Qt layer and the snapshot
// renderer turn into pixels. Nothing here touches the GUI.
#pragma once

#include <QString>

#include <vector>

namespace quillnest {

// The four status colours; their RGB values live in one table in dot_icon.cpp.
enum class StatusColor { Gray, Red, Yellow, Green };

// What picking an item does. None makes a command item unavailable.
enum class Action {
    None,
    SyncNow,
    CheckNow,
    ToggleWatch,
    OpenMaster, // reads the item's `represented` path
    AddProject,
    OpenConflicts,
    OpenSite,
    Quit,
};

struct MenuItem {
    // What the item stands for, the same in every composition where it means the same thing
    // ("sync", "project:/path", "separator:2", ...), whatever its title and state say: the
    // exported menu keeps an item's id as long as its `name` stays. Unique among its siblings;
    // empty names fall back to the item's position.
    QString name;
    bool separator = false;
    QString title; // shown as written: '&' is not a mnemonic marker
    Action action = Action::None;
    QString key;            // "s", "r", "q" or empty; taken with the Ctrl/Command modifier
    bool enabled = true;    // cleared on info items only
    bool checkable = false; // shows a check mark, on or off as `checked` says
    bool checked = false;
    QString represented;     // project path, project items only
    QString toolTip;         // plain text, project items only
    bool hasSubmenu = false; // the master-file item
    std::vector<MenuItem> submenu;

    bool operator==(const MenuItem&) const = default;
};

using Menu = std::vector<MenuItem>;

// Whether the item can be picked: not an info item, and with an action or a submenu. Every view of
// the menu (the Qt menu, the exported D-Bus menu, the snapshot) dims the others.
inline bool isLive(const MenuItem& item) {
    return item.enabled && (item.action != Action::None || item.hasSubmenu);
}

} // namespace quillnest
