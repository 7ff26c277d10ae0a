// Bitmap items.
#include "bitmap_dialogs/bitmap_item_control.h"
