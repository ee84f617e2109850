#include "menu/relative_time.h"
