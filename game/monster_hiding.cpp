// Hiding, calling in and healing units, and their special-ability modes.

#include "monster_hiding.h"
