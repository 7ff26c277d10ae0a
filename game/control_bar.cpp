// The control bar: the selection's orders and inventory buttons.
#include "control_bar.h"
