// The layout of a menu picture: the picture's size, the icon and panel rectangles, and for every
// menu row its place, its texts and the colour role of its title, all as plain data. Painting only
// maps this onto a palette and a font, so every number here can be checked without a display.
//
// Coordinates are device-independent pixels, origin at the top-left corner of the picture, y
// growing downwards. Text origins are the top-left corner of the text line (not its baseline).
// No text is measured: rows have fixed heights and a long title simply runs on to the right.
//
// Threading: pure functions of their arguments; callable from any thread.
#pragma once

#include "menu/menu_model.h"

#include <QPointF>
#include <QRectF>
#include <QString>

#include <vector>

namespace quillnest {

// The colour a title is drawn in. Right-column texts are always Dim.
enum class SnapshotRole { Text, Dim };

struct SnapshotRow {
    bool separator = false;
    qreal top = 0; // the row's top edge

    // Separator rows: the hairline to fill in the separator colour.
    QRectF line;

    // Item rows. `checkMark` says whether kCheckMark is drawn at `checkOrigin`; `right` may be
    // empty, in which case nothing is drawn at `rightOrigin`.
    SnapshotRole role = SnapshotRole::Dim;
    bool checkMark = false;
    QString title; // verbatim: '&' is not a mnemonic marker
    QString right;
    QPointF checkOrigin;
    QPointF titleOrigin;
    QPointF rightOrigin;
};

struct SnapshotLayout {
    qreal width = 0;
    qreal height = 0;
    QRectF icon;           // the status icon is stretched to fill this rectangle
    QRectF panel;          // the menu panel, a rounded rectangle
    qreal panelRadius = 0; // the same radius horizontally and vertically
    std::vector<SnapshotRow> rows;
};

// The glyphs drawn for a checked item and in the right column of an item with a submenu.
inline constexpr char16_t kCheckMark[] = u"\u2713";
inline constexpr char16_t kSubmenuArrow[] = u"\u203A";
inline constexpr char16_t kCommandSign[] = u"\u2318";

// Lays out `menu`, one row per item in order. An item's title is Text when it is enabled and has
// an action or a submenu, otherwise Dim (disabled items and info lines). Its right column holds
// "⌘" and the key in upper case when it has a key, else "›" when it has a submenu, else nothing.
// Submenu contents, tool tips and represented paths are not read.
SnapshotLayout layoutSnapshot(const Menu& menu);

} // namespace quillnest
