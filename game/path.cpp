// Pathfinding: the path array, the grid search and obstacle avoidance.

#include "path.h"
