// The console's menu line.
#include "console/console_menu.h"
