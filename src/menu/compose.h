// Composition of the status menu and colour from the summary, the language and the commands in
// progress. Pure: the same inputs give the same menu.
#pragma once

#include "menu/menu_model.h"
#include "state/summary.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace quillnest {

struct MenuInputs {
    Summary summary;
    bool ru = false;
    std::optional<QString> busy;  // "sync" or "check" while that one-shot command runs
    bool watching = false;        // the watch process is held and running
    QDateTime now;                // reference for the relative dates
};

struct Composition {
    StatusColor color = StatusColor::Gray;
    Menu menu;
};

StatusColor statusColor(const Summary& summary);
Composition compose(const MenuInputs& inputs);

// The credit line and the address it opens.
extern const char* const creditTitle;
extern const char* const siteUrl;

} // namespace quillnest
