#pragma once
// What the dialog layer's own files share: the open-dialog list.
#include "bitmap_dialogs/bitmap_dialogs.h"
