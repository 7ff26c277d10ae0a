// The password control: an edit-text control that shows a mask glyph.
#include "bitmap_dialogs/password_edittext.h"
