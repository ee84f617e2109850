#include "platform/status_item.h"
