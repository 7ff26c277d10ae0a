#pragma once
// Particle systems and their splashes as surfaces of the frame.
//
// The weather's particles are visual: the game core keeps only how many are
// shown (particle_system_particle_count) and whether it snows; the weather
// definition gives their look (a collection, the particle's and the splash's
// sequences, a scale and a fall speed).  Where each particle is lies here,
// in display state of this machine alone: particles are placed with the
// local generator over the visible cells near the eye, fall and drift (with
// the wind, when the map has one) as game ticks pass, and where one meets the
// ground or the water it leaves a splash and starts again at the top of its
// column.  Nothing here is hashed, nothing is drawn from the synchronized
// generator, and a film plays the same with or without them.
//
// The particles join the frame as a pre-render effect of priority -2, one
// object rectangle per visible particle, so that every one sorts by that key
// over the scene; their splashes join with the local projectiles and sort by
// depth.  Maps without weather, weather without a look and a look whose
// collection is missing draw nothing (the last logged once a map).
//
// Main thread only.

#include <cstdint>

struct mesh_region;
struct view_data;
struct weather_definition;

enum
{
    PARTICLE_SYSTEM_PRERENDER_PRIORITY = -2,
    // However many the weather asks for, at most this many are drawn.
    MAXIMUM_WEATHER_PARTICLES = 1024,
    MAXIMUM_WEATHER_SPLASHES = 256,
    // Particles appear on visible cells at most this far from the eye's cell.
    WEATHER_SPAWN_RADIUS_CELLS = 24,
    // The height over the ground or water where they appear (world units).
    WEATHER_COLUMN_HEIGHT = 1536,
    // A particle's own drift: up to this much each way per tick (8.8).
    WEATHER_DRIFT = 96,
    // Particles nearer the eye than this (viewer-space depth) are not drawn.
    WEATHER_NEAREST_VIEWER_DISTANCE = 1024,
    // A frame moves the particles by at most this many ticks.
    WEATHER_MAXIMUM_FRAME_TICKS = 30,
};

// Registers build_particle_system_surface_list as the pre-render effect -2
// (the scene's start-up step).
void initialize_particle_system_surfaces(void);
// A map begins: no particles, no splashes, its look's fault logged again.
void initialize_particle_system_surfaces_for_new_map(void);

// How many particles are drawn when the weather shows `count`: never more
// than the definition's maximum nor MAXIMUM_WEATHER_PARTICLES, never fewer than 0.
int32_t weather_particles_to_draw(const weather_definition *definition, int32_t count);

// The pre-render effect: the weather's particles over the view's region.
void build_particle_system_surface_list(view_data *view);

// Where the weather's particles met the ground or the water: each splash
// plays its sequence once (view 0) at the point where its particle landed.
void build_particle_system_splashes(view_data *view, mesh_region *region);
