// The colour picker control.
#include "bitmap_dialogs/color_picker_control.h"
