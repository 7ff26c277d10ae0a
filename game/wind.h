#pragma once
// Wind, from the map's weather definition: a direction and a speed that
// gusts around its mean in a fixed cycle.  Projectiles that the wind carries
// add the integer parts of the vector's components when they are made.
// Synchronized: the vector changes only in the wind tick step.

#include "cseries/cseries.h"
#include "world.h"

// World units per tick, 16.16.
struct fixed_vector3d
{
    fixed i, j, k;
};

void initialize_wind(void);
// Reads the wind of the map's weather (particles must be set up first).
void initialize_wind_for_new_map(void);
void dispose_wind_from_old_map(void);
// The wind tick step.
void update_wind(void);

// The wind now, or null on a map without wind.
const fixed_vector3d *get_wind_velocity(void);

// The integer part of a wind component, truncated toward zero.
inline int32_t wind_component_integer_part(fixed component)
{
    return component < 0 ? -((-component) >> FIXED_FRACTIONAL_BITS) : component >> FIXED_FRACTIONAL_BITS;
}
