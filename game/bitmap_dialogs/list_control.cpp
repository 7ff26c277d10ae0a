// The list control over the list engine, with type-ahead.
#include "bitmap_dialogs/list_control.h"
