// The main menu.
#include "main_menu.h"
