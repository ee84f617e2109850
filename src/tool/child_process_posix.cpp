#include "tool/child_process.h"
