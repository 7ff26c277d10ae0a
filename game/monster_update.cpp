// The per-tick unit update.

#include "monster_update.h"
