// Radio buttons.
#include "bitmap_dialogs/radio_control.h"
