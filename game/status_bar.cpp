// The status bar: the selection's name, status line and the pause, help and map buttons.
#include "status_bar.h"
