// Registration of the core control types.
#include "bitmap_dialogs/register_controls.h"
