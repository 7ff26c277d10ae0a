// Registration of the game's own control types.
#include "register_vesk_controls.h"
