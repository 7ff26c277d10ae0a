// The visible part of the terrain.
#include "render/mesh_region.h"
