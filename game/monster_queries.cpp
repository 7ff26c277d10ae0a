// Queries about one unit: names, experience, artifact charges, nearest enemy, sounds.

#include "monster_queries.h"
