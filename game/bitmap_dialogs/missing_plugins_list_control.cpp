// The list of plug-ins a game needs and this machine lacks.
#include "bitmap_dialogs/missing_plugins_list_control.h"
