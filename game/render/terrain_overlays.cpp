// Terrain overlays, stains and the media coverage of the mesh.
#include "render/terrain_overlays.h"
