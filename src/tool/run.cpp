#include "tool/run.h"
