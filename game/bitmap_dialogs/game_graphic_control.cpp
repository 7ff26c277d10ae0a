// A chosen map or network game shown with its picture and description.
#include "bitmap_dialogs/game_graphic_control.h"
