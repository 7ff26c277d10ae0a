#pragma once
// Explosions: damage whose definition has a positive rate of expansion.  The
// explosion is a small synchronized record whose radius grows by that rate
// every tick, from 0 up to the radius drawn when the damage was caused; each
// tick it damages, in the order of for_each_object_reached_by_damage, the
// objects its radius has reached and that it has not hit before.  Each
// object is hit at most once: the record keeps the objects it hit (index and
// identifier, at most MAXIMUM_OBJECTS_HIT_PER_EXPLOSION; once that is full it
// hits nothing more).  The explosion ends on the tick its radius reaches the
// final one.  Rules in docs/determinism.md ("Damage and explosions").

#include "damage.h"

enum
{
    MAXIMUM_EXPLOSIONS_PER_MAP = 64,
    MAXIMUM_OBJECTS_HIT_PER_EXPLOSION = 64,
};

struct explosion_hit
{
    int16_t object_index;
    int16_t object_identifier;
};

struct explosion_data
{
    int16_t identifier; // data-array identifier (0: free)
    uint16_t flags; // explosion_flag_bits
    int16_t obstacle_index; // the object struck directly (hit before the explosion began), NONE
    int16_t obstacle_identifier;
    world_distance radius; // the final radius
    world_distance current_radius;
    damage_definition definition;
    damage_data damage; // damage and velocity already resolved
    int16_t hit_count;
    explosion_hit hits[MAXIMUM_OBJECTS_HIT_PER_EXPLOSION];
};

enum explosion_flag_bits
{
    // Made during this tick's update (by damage the update itself caused):
    // it first grows on the next tick.
    _explosion_made_this_update_bit = 0,
    _explosion_made_this_update_flag = FLAG(_explosion_made_this_update_bit),
};

// Start-up: creates the array and registers the state hash.  False when the
// array cannot be made.
bool initialize_explosions(void);
void initialize_explosions_for_new_map(void);
void dispose_explosions_from_old_map(void);

// Starts an explosion of the resolved damage in `data` (data->damage, the
// epicenter, owners...) growing to `radius` by definition->rate_of_expansion
// per tick.  The obstacle (NONE for none) is never hit by it.  NONE when the
// array is full (logged) or the rate or radius is not positive.
int32_t new_explosion(const damage_definition *definition, const damage_data *data, world_distance radius,
                      int32_t obstacle_index);

// The tick step: grows every explosion in index order and damages what it reached.
void update_explosions(void);

explosion_data *get_explosion_data(int32_t index); // null for a free slot or out of range
int32_t get_explosion_count(void); // explosions in use
