// The tabbed button.
#include "bitmap_dialogs/tabbed_button_control.h"
