// Particle systems and their splashes as surfaces of the frame.
#include "render/render_particles.h"

#include "particles.h"
#include "render/render.h"
#include "render/render_effects.h"

void initialize_particle_system_surfaces(void)
{
    register_prerender_effect(build_particle_system_surface_list, PARTICLE_SYSTEM_PRERENDER_PRIORITY);
}

// Without a look in the weather definition there is nothing to draw, however
// many particles the weather shows.
void build_particle_system_surface_list(view_data *view) {}

void build_particle_system_splashes(view_data *view, mesh_region *region) {}
