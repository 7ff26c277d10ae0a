// Lists of plug-ins.
#include "bitmap_dialogs/plugin_list_control.h"
