// Veterans: the unit initializers carried from level to level.

#include "monster_initializers.h"
