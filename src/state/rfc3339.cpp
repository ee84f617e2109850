#include "state/rfc3339.h"
