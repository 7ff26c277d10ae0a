// The local player's fog of war: the visibility buffers of the mesh.

#include "monster_visibility.h"
