// The edit-text control.
#include "bitmap_dialogs/edittext_control.h"
