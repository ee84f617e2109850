#include "snapshot/snapshot.h"
