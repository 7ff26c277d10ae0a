// Chat lines that wrap and keep their styles.
#include "bitmap_dialogs/chat_list_control.h"
