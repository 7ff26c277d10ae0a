// The list engine: rows, selection, sorting, scrolling and the scroll bar.
#include "bitmap_dialogs/private_lists.h"
