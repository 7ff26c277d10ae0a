// The mission objectives the console shows.
#include "console/console_mission_text.h"
