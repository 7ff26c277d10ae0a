#pragma once
// Terrain overlays, stains and the media coverage of the mesh.
