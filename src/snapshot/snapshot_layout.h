// The layout of a menu picture: where every row goes and in which colour role, without painting.
#pragma once

#include "menu/menu_model.h"

namespace quillnest {
} // namespace quillnest
