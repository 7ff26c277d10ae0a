#pragma once
// Scenery: trees, rocks, flags on poles, the lesser things of a map, placed
// from scenery markers as objects (owner scenery, owner index = the scenery
// definition).  Scenery definitions are 128-byte records of the group 'scen',
// at most 96 per map.  Animating scenery shares one animation per definition,
// advanced by the tick, so every tree of a kind sways alike.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "tag_files/definitions.h"
#include "world.h"

#define SCENERY_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('s', 'c', 'e', 'n')

enum
{
    SCENERY_DEFINITION_VERSION = 1,
    MAXIMUM_SCENERY_DEFINITIONS_PER_MAP = 96,
};

enum scenery_flag_bits
{
    _scenery_is_solid_bit = 0,
    _scenery_animates_bit = 1,
    _scenery_randomizes_initial_frame_bit = 2, // one vesk_random draw at placement
    _scenery_is_netgame_flag_bit = 3,
    _scenery_is_invisible_on_overhead_map_bit = 4,
    _scenery_marks_terrain_impassable_bit = 7,

    _scenery_is_solid_flag = FLAG(_scenery_is_solid_bit),
    _scenery_animates_flag = FLAG(_scenery_animates_bit),
    _scenery_randomizes_initial_frame_flag = FLAG(_scenery_randomizes_initial_frame_bit),
    _scenery_is_netgame_flag_flag = FLAG(_scenery_is_netgame_flag_bit), // 8
    _scenery_is_invisible_on_overhead_map_flag = FLAG(_scenery_is_invisible_on_overhead_map_bit),
    _scenery_marks_terrain_impassable_flag = FLAG(_scenery_marks_terrain_impassable_bit), // 128
};

// 128 bytes stored.
struct scenery_definition
{
    uint32_t flags; // scenery_flag_bits
    tag collection_tag;
    tag object_tag; // 'obje'
    int16_t sequence_index;
    int16_t ticks_per_frame; // animating scenery; 0: the sequence's own
    int16_t color_table_index;
    int16_t unused0;
    uint8_t unused[104];
    // Run time.
    int16_t collection_index;
    int16_t object_type;
};
static_assert(sizeof(scenery_definition) == 128);
static_assert(offsetof(scenery_definition, collection_index) == 124);

extern const byte_swap_code scenery_definition_byte_swapping_data[];
extern definition_globals scenery_definitions;

bool initialize_scenery(void);
void initialize_scenery_for_new_map(void);
void dispose_scenery_from_old_map(void);

scenery_definition *get_scenery_definition(int32_t index);

// Makes the scenery object of definition `definition_index` at `location`
// (its z is taken as a height above the surface); NONE when the definition
// is missing or the object array is full.
int32_t new_scenery(int16_t definition_index, const world_location3d *location, bool invisible);

// Advances the shared animation of every animating definition one tick.
void update_animating_scenery(void);

// The sequence and frame to draw scenery of definition `definition_index`
// with; frame 0 of its sequence when it does not animate.  False (outputs
// untouched) for a missing definition.
bool get_animation_parameters_for_scenery(int32_t definition_index, int16_t *sequence, int16_t *frame);

void hash_scenery(uint32_t *hash);
