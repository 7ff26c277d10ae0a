// The terrain's surfaces: level-of-detail triangles of the visible mesh.
#include "render/terrain_surfaces.h"
