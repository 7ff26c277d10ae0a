// Buttons and checkboxes.
#include "bitmap_dialogs/button_control.h"
