#include "snapshot/snapshot_layout.h"
