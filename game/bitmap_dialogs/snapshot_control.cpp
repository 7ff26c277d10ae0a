// A saved game's snapshot picture.
#include "bitmap_dialogs/snapshot_control.h"
