// Lists of tags of one group.
#include "bitmap_dialogs/tag_list_control.h"
