// Names used by snapshot mode.
#pragma once

#include <QString>

namespace quillnest {

// The path of the projects picture: every ".png" in `path` replaced by "-projects.png".
QString projectsPicturePath(const QString& path);

} // namespace quillnest
