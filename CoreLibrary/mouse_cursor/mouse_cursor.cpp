// The mouse cursor: when the pointer shows, and the sprite cursor.
#include "mouse_cursor/mouse_cursor.h"
