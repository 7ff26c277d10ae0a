// Story text scrolling with faded edges.
#include "bitmap_dialogs/prologue_control.h"
