// Lists of maps' entry points.
#include "bitmap_dialogs/entry_point_list_control.h"
