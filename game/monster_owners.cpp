// Death notices and change of owner: who is told of a death, and units changing hands.

#include "monster_owners.h"
