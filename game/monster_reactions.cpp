// Damage reactions: how a unit takes a hit, and propelled units.

#include "monster_reactions.h"
