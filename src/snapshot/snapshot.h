// Drawing the status icon above an open menu into a PNG picture.
#pragma once

#include "menu/menu_model.h"

#include <QIcon>
#include <QString>

namespace quillnest {

// Paints `menu` below `icon` in the dark or light palette and writes a PNG to `path`. A picture that
// cannot be written leaves no file, and no partial file; nothing is reported.
void snapshot(const Menu& menu, const QIcon& icon, const QString& path, bool dark);

} // namespace quillnest
