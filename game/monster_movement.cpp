// Unit movement: the moving action and the units' own mover.

#include "monster_movement.h"
