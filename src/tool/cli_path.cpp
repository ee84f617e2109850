#include "tool/cli_path.h"
