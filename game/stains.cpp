// Stains: the mesh's random generators.

#include "stains.h"

#include "mesh.h"
#include "vesk_random.h"

void initialize_stains(void) { set_mesh_random_procedures(vesk_random, local_random); }
