#pragma once
// Stains on the terrain: the mesh paints them (stain_mesh, local_stain_mesh,
// bloody_mesh in mesh.h); this module gives it the game's two random
// generators, so a synchronized stain draws vesk_random and a local one
// local_random.

void initialize_stains(void);
