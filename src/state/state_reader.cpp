#include "state/summary.h"
