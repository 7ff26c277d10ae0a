// Local (visual-only) projectiles and their groups.

#include "local_projectiles.h"
