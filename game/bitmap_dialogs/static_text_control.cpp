// Static text.
#include "bitmap_dialogs/static_text_control.h"
