// Composition of the status menu and colour from the summary, the language and the commands in
// progress. Pure: the same inputs give the same menu, and nothing global is read (the language
// comes from the inputs), so any thread may call it; the result is a plain value owned by the
// caller.
#pragma once

#include "menu/menu_model.h"
#include "state/summary.h"

#include <QDateTime>
#include <QString>

namespace quillnest {

// The one-shot command in progress: none, or the sync or check that the menu names while it runs.
enum class Busy { None, Sync, Check };

struct MenuInputs {
    Summary summary;
    bool ru = false;
    Busy busy = Busy::None;
    bool watching = false; // the watch process is held and running
    QDateTime now;         // reference for the relative dates
};

struct Composition {
    StatusColor color = StatusColor::Gray;
    Menu menu;
    QString toolTip;        // below the title: the status line, then the last sync
    bool attention = false; // secrets found
};

// Gray when neither date is known, red with secrets, yellow when warnings plus conflicts (the
// true sum, never overflowing) reach 1, green otherwise.
StatusColor statusColor(const Summary& summary);
// The whole menu: status line, counts, dates worded relative to `now`, commands (unavailable,
// that is Action::None, while a command is busy), the project submenu, the conflicts item when
// there are conflicts, the credit line and Quit.
Composition compose(const MenuInputs& inputs);

// The titles of the master-file item and of the conflicts item, which notices that lead to the
// same places offer as their actions.
QString masterFileTitle(bool ru);
QString conflictsTitle(bool ru);
// How the project submenu names the project at `path`: the last component of the path, trailing
// slashes ignored ("/" for a path of slashes alone).
QString projectTitle(const QString& path);

// The credit line (UTF-8, the same in both languages) and the address it opens.
extern const char* const creditTitle;
extern const char* const siteUrl;

} // namespace quillnest
