// The status icon: a document glyph with a coloured dot at its lower right, painted on demand.
//
// The icon stores no pixels: its engine paints vectors whenever Qt asks for a pixmap or a paint, at
// the requested size and device pixel ratio, reading the application palette at that moment (the
// glyph in the window text colour; the dot's dark variant on a dark window colour). GUI thread
// only, with a QGuiApplication alive, as for any QIcon that renders.
#pragma once

#include "menu/menu_model.h"

#include <QColor>
#include <QIcon>

namespace quillnest {

// Apple's published sRGB value of the system colour, light or dark variant.
QColor systemColor(StatusColor color, bool dark);

// A 20 x 18 icon (scaled to fit, keeping that aspect, at other sizes) whose engine paints the glyph
// at paint time, its outline and lines in the palette's text colour on a sheet of the contrasting
// colour (so it stands out on dark and light panels alike), so it is sharp at every size and scale
// and follows a light or dark palette. Not a mask: the panel shows its colours as they are.
QIcon dotIcon(StatusColor color);

} // namespace quillnest
