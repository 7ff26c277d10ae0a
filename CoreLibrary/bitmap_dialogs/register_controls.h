#pragma once
// Registration of the core control types: see register_dialog_controls in
// bitmap_controls.h.
#include "bitmap_dialogs/bitmap_controls.h"
