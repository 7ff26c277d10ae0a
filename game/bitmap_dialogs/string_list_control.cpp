// Lists of strings with identifiers and enable masks.
#include "bitmap_dialogs/string_list_control.h"
