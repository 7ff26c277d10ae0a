// The attack AI: groups of units told by the scripts to attack, given targets after each script pass.

#include "attack_ai.h"
