// Progress bars.
#include "bitmap_dialogs/progress_bar_control.h"
