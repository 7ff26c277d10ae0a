// The colour wheel the picker draws and reads.
#include "bitmap_dialogs/color_picker.h"
