// Drawing the status icon above an open menu into a PNG picture. The picture is not a screen
// capture: it is painted from the layout in snapshot_layout.h with its own light or dark palette
// and the application's menu font, so it depends neither on the screen nor on the desktop theme.
//
// Threading: main (GUI) thread only; it needs a QGuiApplication (a QApplication for the menu
// font) and does nothing without one.
#pragma once

#include "menu/menu_model.h"

#include <QIcon>
#include <QImage>
#include <QString>

namespace quillnest {

// The picture of `menu` below `icon`: 330 x H device-independent pixels at the application's
// device pixel ratio. A null image when there is no QGuiApplication or the picture is too large
// to allocate.
QImage renderSnapshot(const Menu& menu, const QIcon& icon, bool dark);

// Paints `menu` below `icon` in the dark or light palette and writes a PNG to `path`, replacing any
// file there; a symbolic link there is replaced itself, and what it points to is never written. A
// picture that cannot be rendered, encoded or written (empty path, missing folder, unwritable
// place) leaves no file and no partial file, and an existing file untouched; nothing is reported.
void snapshot(const Menu& menu, const QIcon& icon, const QString& path, bool dark);

} // namespace quillnest
