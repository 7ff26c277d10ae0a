#pragma once
// Particle systems and their splashes as surfaces of the frame.
//
// The weather's particles are visual: the game core keeps only how many are
// shown (particle_system_particle_count) and whether it snows.  They join the
// frame as a pre-render effect of priority -2, so that every surface they add
// sorts by that key over the scene, and their splashes join with the local
// projectiles.  No weather definition gives the particles or their splashes
// a look yet (a collection and sequence), so both builders add nothing until
// one does; maps without weather never draw any.
//
// Main thread only.

#include <cstdint>

struct mesh_region;
struct view_data;

enum
{
    PARTICLE_SYSTEM_PRERENDER_PRIORITY = -2,
};

// Registers build_particle_system_surface_list as the pre-render effect -2
// (the scene's start-up step).
void initialize_particle_system_surfaces(void);

// The pre-render effect: the weather's particles over the view's region.
void build_particle_system_surface_list(view_data *view);

// Where the weather's particles meet the ground or the water.
void build_particle_system_splashes(view_data *view, mesh_region *region);
