// Map actions: the scripts every map carries, their records, parameters and engine.

#include "map_actions.h"
