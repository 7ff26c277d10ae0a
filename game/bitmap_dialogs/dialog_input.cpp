// Dialog input: actions, keyboard equivalents, focus, presses, the sleep timer, the wheel.
#include "bitmap_dialogs/bitmap_dialogs.h"
