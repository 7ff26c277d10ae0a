// The control registry and the default control procedure.
#include "bitmap_dialogs/bitmap_controls.h"
