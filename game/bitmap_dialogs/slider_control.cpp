// Sliders.
#include "bitmap_dialogs/slider_control.h"
