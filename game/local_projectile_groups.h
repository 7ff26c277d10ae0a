#pragma once
// Local projectile group definitions ('lpgr'): visual-only particle groups
// (glows, smoke, sparkles) that follow a unit, a projectile or a marker.  They
// are drawn and moved on this machine only and never touch the simulation:
// nothing here draws from vesk_random.  A big-endian record per tag; the
// collection index at its end is filled at load and never stored.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "world.h"

#define LOCAL_PROJECTILE_GROUP_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('l', 'p', 'g', 'r')

enum
{
    LOCAL_PROJECTILE_GROUP_DEFINITION_VERSION = 1,
    MAXIMUM_LOCAL_PROJECTILE_GROUP_DEFINITIONS_PER_MAP = 64,
    // Particles one group keeps alive at once.
    MAXIMUM_LOCAL_PROJECTILES_PER_GROUP = 128,
};

enum local_projectile_group_definition_flag_bits
{
    _local_projectile_group_is_continuous_bit = 0, // emits for its whole duration, else one burst
    _local_projectile_group_affected_by_wind_bit = 1,
    _local_projectile_group_falls_bit = 2, // particles take the gravity below
    _local_projectile_group_animates_once_bit = 3, // a particle dies at its sequence's last frame
    // Drawn with the colour table of the object it follows when that object's
    // sprites come from the same collection.
    _local_projectile_group_uses_owner_color_table_bit = 27,

    _local_projectile_group_is_continuous_flag = FLAG(_local_projectile_group_is_continuous_bit),
    _local_projectile_group_affected_by_wind_flag = FLAG(_local_projectile_group_affected_by_wind_bit),
    _local_projectile_group_falls_flag = FLAG(_local_projectile_group_falls_bit),
    _local_projectile_group_animates_once_flag = FLAG(_local_projectile_group_animates_once_bit),
    _local_projectile_group_uses_owner_color_table_flag = FLAG(_local_projectile_group_uses_owner_color_table_bit),

    LOCAL_PROJECTILE_GROUP_FLAGS_MASK = 0xF | _local_projectile_group_uses_owner_color_table_flag,
};

// 128 bytes stored.
struct local_projectile_group_definition
{
    uint32_t flags; // local_projectile_group_definition_flag_bits
    tag collection_tag; // '.256'
    int16_t sequence_index; // NONE: nothing is drawn
    int16_t color_table_index;
    int16_t maximum_projectiles; // 0..MAXIMUM_LOCAL_PROJECTILES_PER_GROUP
    int16_t emission_lower_bound; // particles per tick (continuous) or in the burst
    int16_t emission_delta;
    int16_t lifespan_lower_bound; // ticks a particle lives
    int16_t lifespan_delta;
    short_world_distance radius; // particles appear within this distance of the centre
    short_world_distance height; // and this far above it
    short_world_distance velocity_lower_bound;
    short_world_distance velocity_delta;
    int16_t gravity; // world units per tick per tick, with the falls flag
    short_fixed scale_lower_bound;
    short_fixed scale_delta;
    int16_t duration; // ticks; 0: until turned off
    int16_t transition_in; // ticks of the fade in and out
    int16_t transition_out;
    short_fixed animation_rate;
    uint8_t unused[80];
    // Run time.
    int16_t collection_index;
    int16_t unused_runtime;
};
static_assert(sizeof(local_projectile_group_definition) == 128);
static_assert(offsetof(local_projectile_group_definition, sequence_index) == 8);
static_assert(offsetof(local_projectile_group_definition, radius) == 22);
static_assert(offsetof(local_projectile_group_definition, duration) == 36);
static_assert(offsetof(local_projectile_group_definition, unused) == 44);
static_assert(offsetof(local_projectile_group_definition, collection_index) == 124);

extern const byte_swap_code local_projectile_group_definition_byte_swapping_data[];

// No collection, no sequence, scale and animation rate 1.0, everything else 0.
void default_local_projectile_group_definition(void *record);

// Checks a loaded, swapped record; repairs are logged, false (logged) refuses it.
bool validate_local_projectile_group_definition(local_projectile_group_definition *definition, const char *name);

// The group of the definitions, "local proj group".  The projectiles set it
// up and empty it with their own per-map stores, because projectile and unit
// definitions name local groups and load them as dependencies: it must be
// ready before the first of them loads.  Registering twice does nothing.
struct definition_globals;
extern definition_globals local_projectile_group_definitions;
bool initialize_local_projectile_group_definitions(void);
void initialize_local_projectile_group_definitions_for_new_map(void);
void dispose_local_projectile_group_definitions_from_old_map(void);
// The definition of a type, or null (no such type, or the group not set up).
const local_projectile_group_definition *get_local_projectile_group_definition(int32_t type);
