// Capturing a key for a binding.
#include "bitmap_dialogs/keybinding_control.h"
