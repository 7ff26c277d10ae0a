#pragma once
// Object definitions ('obje'): the physical constants that units, projectiles,
// scenery and flags share through their objects (vitality, gravity, size, how
// each kind of damage affects them).  One 64-byte big-endian record per tag.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "tag_files/definitions.h"
#include "world.h"

#define OBJECT_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('o', 'b', 'j', 'e')

enum
{
    OBJECT_DEFINITION_VERSION = 1,
    MAXIMUM_OBJECT_DEFINITIONS_PER_MAP = 128,
    NUMBER_OF_EFFECT_MODIFIERS = 16,
};

enum object_definition_flag_bits
{
    _object_definition_is_solid_bit = 0, // other objects strike it
    _object_definition_draws_vitality_bar_bit = 1,
    _maintains_constant_height_above_ground_bit = 2,
    _object_not_accelerated_by_damage_bit = 3,
    _object_definition_floats_on_media_bit = 4,
    _object_definition_is_permeable_bit = 5, // struck "softly": movers pass through

    _object_definition_is_solid_flag = FLAG(_object_definition_is_solid_bit),
    _object_definition_draws_vitality_bar_flag = FLAG(_object_definition_draws_vitality_bar_bit),
    _maintains_constant_height_above_ground_flag = FLAG(_maintains_constant_height_above_ground_bit),
    _object_not_accelerated_by_damage_flag = FLAG(_object_not_accelerated_by_damage_bit),
    _object_definition_floats_on_media_flag = FLAG(_object_definition_floats_on_media_bit),
    _object_definition_is_permeable_flag = FLAG(_object_definition_is_permeable_bit),
};

// Indexes of `effect_modifiers`; 256 (1.0 in 8.8) takes a damage as it comes.
enum effect_modifier_index
{
    _effect_modifier_close_range_physical = 0,
    _effect_modifier_long_range_physical,
    _effect_modifier_explosive,
    _effect_modifier_electrical,
    _effect_modifier_magical,
    _effect_modifier_paralysis,
    _effect_modifier_stone,
    _effect_modifier_gas,
    _effect_modifier_confusion,
    _effect_modifier_fire,
    _effect_modifier_charm,
    _effect_modifier_healing,
};

// 64 bytes stored.
struct object_definition
{
    uint32_t flags; // object_definition_flag_bits
    short_fixed effect_modifiers[NUMBER_OF_EFFECT_MODIFIERS];
    int16_t gravity; // world units per tick added downward to the velocity each tick
    fixed_fraction elasticity; // share of the speed kept when bouncing off the ground
    short_fixed maximum_vitality; // 0: cannot be damaged
    short_fixed scale_lower_bound; // 8.8; 0 means 1.0
    short_fixed scale_delta;
    short_world_distance radius; // at scale 1.0
    short_world_distance height; // top above the position, at scale 1.0
    int16_t terminal_velocity; // largest falling speed, world units per tick; 0: none
    uint8_t unused[12];
};
static_assert(sizeof(object_definition) == 64);
static_assert(offsetof(object_definition, effect_modifiers) == 4);
static_assert(offsetof(object_definition, gravity) == 36);
static_assert(offsetof(object_definition, radius) == 46);

extern const byte_swap_code object_definition_byte_swapping_data[];
extern definition_globals object_definitions;

// Registers the group (start-up).  False when the registry refuses it.
bool initialize_object_definitions(void);

// The definition at `index`; null for NONE, a hole or an index out of range.
// Inline: every move of every object asks for its definition.
inline object_definition *get_object_definition(int32_t index)
{
    return (object_definition *)try_and_get_definition(&object_definitions, index);
}
