// Attack choice and execution and the line-of-fire services.

#include "monster_attacks.h"
