// Target scanning and switching.

#include "monster_targets.h"
