// The unit status line of the status bar.
#include "bitmap_dialogs/monster_status_control.h"
