// The edit-text engine: typing, selection and the caret.
#include "bitmap_dialogs/bitmap_edittext.h"
