#include "menu/compose.h"
