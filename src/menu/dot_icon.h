// The status icon: a document glyph with a coloured dot at its lower right, painted on demand.
#pragma once

#include "menu/menu_model.h"

#include <QColor>
#include <QIcon>

namespace quillnest {

// Apple's published system colour, light or dark variant.
QColor systemColor(StatusColor color, bool dark);

// A 20 x 18 icon whose engine paints the glyph in the palette's text colour at paint time, so it
// is sharp at every size and scale and follows a light or dark palette.
QIcon dotIcon(StatusColor color);

} // namespace quillnest
