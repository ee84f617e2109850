#include "tool/process_spec.h"
