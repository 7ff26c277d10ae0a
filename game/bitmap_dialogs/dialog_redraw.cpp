// Dialog redraw: dirty marking and drawing of dialogs.
#include "bitmap_dialogs/bitmap_dialogs.h"
