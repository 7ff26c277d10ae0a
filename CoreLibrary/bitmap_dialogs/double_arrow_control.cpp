// The double arrow control.
#include "bitmap_dialogs/double_arrow_control.h"
