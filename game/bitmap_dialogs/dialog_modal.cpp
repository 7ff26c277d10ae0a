// Running a dialog modally.
#include "bitmap_dialogs/bitmap_dialogs.h"
