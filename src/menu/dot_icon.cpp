#include "menu/dot_icon.h"
