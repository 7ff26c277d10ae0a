// Popups of icons.
#include "bitmap_dialogs/icon_popup_control.h"
