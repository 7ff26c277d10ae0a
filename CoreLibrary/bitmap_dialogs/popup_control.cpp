// Popup menus.
#include "bitmap_dialogs/popup_control.h"
