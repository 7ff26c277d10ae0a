// Dialogs: loading, the open-dialog list, items and their attributes.
#include "bitmap_dialogs/bitmap_dialogs.h"

void register_dialog_hooks(void)
{
}
