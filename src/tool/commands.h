// The decisions of the menu commands, as pure functions that tests call with fakes.
#pragma once

#include <QString>
#include <QStringList>

namespace quillnest {
} // namespace quillnest
