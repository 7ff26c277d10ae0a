#pragma once
// Projectile definitions ('proj'): the static description of one kind of
// projectile (look, physics, lifespan, contrails, guidance, detonation,
// promotion, damage, sounds); and projectile group definitions ('prgr'): the
// parts a detonation, splash, entrance or death spreads, each a number of
// projectiles of one kind.  Both are big-endian records; the dependency
// indexes at their ends are filled at load and never stored.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "objects.h"
#include "world.h"

#define PROJECTILE_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('p', 'r', 'o', 'j')
// PROJECTILE_GROUP_DEFINITION_GROUP_TAG ('prgr') stays in media.h, below this
// layer, where the splashes name projectile groups.
#include "media.h"

enum
{
    PROJECTILE_DEFINITION_VERSION_NUMBER = 1,
    MAXIMUM_PROJECTILE_DEFINITIONS_PER_MAP = 1024,
    NUMBER_OF_PROJECTILE_SEQUENCES = 3,
    NUMBER_OF_PROJECTILE_SOUNDS = 4,

    PROJECTILE_GROUP_DEFINITION_VERSION = 1,
    MAXIMUM_PROJECTILE_GROUP_DEFINITIONS_PER_MAP = 256,
    MAXIMUM_PARTS_PER_PROJECTILE_GROUP = 7,
};

enum projectile_sequence
{
    _projectile_sequence_in_flight = 0,
    _projectile_sequence_detonation_stain,
    _projectile_sequence_bounce_stain,
};

enum projectile_sound
{
    _projectile_sound_flight = 0,
    _projectile_sound_rebound,
};

enum projectile_volume
{
    _volume_unwieldy = 0,
    _volume_small,
    _volume_large,
};

enum projectile_definition_flag_bits
{
    _projectile_uses_owner_color_table_index = 0,
    _projectile_is_guided,
    _projectile_is_bloody_do_not_draw,
    _projectile_detonates_when_animation_loops,
    _projectile_detonates_when_transfer_loops,
    _projectile_detonates_at_rest,
    _projectile_affected_by_wind,
    _projectile_animates_at_rest,
    _projectile_becomes_dormant_at_rest,
    _projectile_can_animate_backwards,
    _projectile_contrail_frequency_reset_after_bouncing,
    _projectile_can_be_mirrored,
    _projectile_is_promoted_at_end_of_lifespan,
    _projectile_is_melee_attack,
    _projectile_cannot_be_accelerated,
    _projectile_bloodies_landscape,
    _projectile_is_on_fire,
    _projectile_remains_after_detonation,
    _projectile_passes_through_target,
    _projectile_cannot_be_mirrored_vertically,
    _projectile_floats,
    _projectile_is_media_surface_effect,
    _projectile_damage_proportional_to_mana,
    _projectile_only_destroyed_by_lifespan,
    _projectile_is_lightning,
    _projectile_chooses_nearby_target,
    _projectile_continually_detonates,
    _projectile_makes_owner_monster_visible,
    _projectile_can_set_landscape_on_fire,
    _projectile_centered_on_target,
    _projectile_marks_target_has_having_been_chosen,
    _projectile_definition_detonates_immediately,
    NUMBER_OF_PROJECTILE_DEFINITION_FLAGS
};
static_assert(NUMBER_OF_PROJECTILE_DEFINITION_FLAGS == 32);

enum projectile_definition_flags : uint32_t
{
    _projectile_uses_owner_color_table_index_flag = FLAG(_projectile_uses_owner_color_table_index),
    _projectile_is_guided_flag = FLAG(_projectile_is_guided),
    _projectile_is_bloody_do_not_draw_flag = FLAG(_projectile_is_bloody_do_not_draw),
    _projectile_detonates_when_animation_loops_flag = FLAG(_projectile_detonates_when_animation_loops),
    _projectile_detonates_when_transfer_loops_flag = FLAG(_projectile_detonates_when_transfer_loops),
    _projectile_detonates_at_rest_flag = FLAG(_projectile_detonates_at_rest),
    _projectile_affected_by_wind_flag = FLAG(_projectile_affected_by_wind),
    _projectile_animates_at_rest_flag = FLAG(_projectile_animates_at_rest),
    _projectile_becomes_dormant_at_rest_flag = FLAG(_projectile_becomes_dormant_at_rest),
    _projectile_can_animate_backwards_flag = FLAG(_projectile_can_animate_backwards),
    _projectile_contrail_frequency_reset_after_bouncing_flag = FLAG(_projectile_contrail_frequency_reset_after_bouncing),
    _projectile_can_be_mirrored_flag = FLAG(_projectile_can_be_mirrored),
    _projectile_is_promoted_at_end_of_lifespan_flag = FLAG(_projectile_is_promoted_at_end_of_lifespan),
    _projectile_is_melee_attack_flag = FLAG(_projectile_is_melee_attack),
    _projectile_cannot_be_accelerated_flag = FLAG(_projectile_cannot_be_accelerated),
    _projectile_bloodies_landscape_flag = FLAG(_projectile_bloodies_landscape),
    _projectile_is_on_fire_flag = FLAG(_projectile_is_on_fire),
    _projectile_remains_after_detonation_flag = FLAG(_projectile_remains_after_detonation),
    _projectile_passes_through_target_flag = FLAG(_projectile_passes_through_target),
    _projectile_cannot_be_mirrored_vertically_flag = FLAG(_projectile_cannot_be_mirrored_vertically),
    _projectile_floats_flag = FLAG(_projectile_floats),
    _projectile_is_media_surface_effect_flag = FLAG(_projectile_is_media_surface_effect),
    _projectile_damage_proportional_to_mana_flag = FLAG(_projectile_damage_proportional_to_mana),
    _projectile_only_destroyed_by_lifespan_flag = FLAG(_projectile_only_destroyed_by_lifespan),
    _projectile_is_lightning_flag = FLAG(_projectile_is_lightning),
    _projectile_chooses_nearby_target_flag = FLAG(_projectile_chooses_nearby_target),
    _projectile_continually_detonates_flag = FLAG(_projectile_continually_detonates),
    _projectile_makes_owner_monster_visible_flag = FLAG(_projectile_makes_owner_monster_visible),
    _projectile_can_set_landscape_on_fire_flag = FLAG(_projectile_can_set_landscape_on_fire),
    _projectile_centered_on_target_flag = FLAG(_projectile_centered_on_target),
    _projectile_marks_target_has_having_been_chosen_flag = FLAG(_projectile_marks_target_has_having_been_chosen),
    _projectile_definition_detonates_immediately_flag = FLAG(_projectile_definition_detonates_immediately),
};

enum projectile_class
{
    _projectile_class_unknown = 0,
    _projectile_class_head,
    _projectile_class_arm,
    _projectile_class_leg,
    _projectile_class_torso,
    _projectile_class_bloody_chunk,
    _projectile_class_lethal_object,
    _projectile_class_nonlethal_object,
    _projectile_class_explosive_object,
    _projectile_class_potentially_explosive_object,
    _projectile_class_item,
    NUMBER_OF_PROJECTILE_CLASSES
};

// 256 bytes stored.
struct projectile_definition
{
    uint32_t flags; // projectile_definition_flags
    tag collection_tag; // '.256'
    int16_t sequence_indexes[NUMBER_OF_PROJECTILE_SEQUENCES];
    int16_t splash_or_rebound_effect_type; // 0-2 small, medium, large; other values: none
    tag detonation_projectile_group_tag; // 'prgr'
    tag contrail_projectile_tag; // 'proj'
    int16_t ticks_between_contrails;
    int16_t maximum_contrail_count;
    tag object_tag; // 'obje'
    short_fixed inertia_lower_bound;
    short_fixed inertia_delta;
    short_world_distance random_initial_velocity;
    int16_t volume; // projectile_volume
    int16_t tracking_priority;
    fixed_fraction promotion_on_detonation_fraction;
    fixed_fraction detonation_frequency;
    fixed_fraction media_detonation_frequency;
    short_world_distance detonation_velocity;
    int16_t projectile_class; // NONE or projectile_class
    tag lightning_tag; // 'ligh'
    int16_t unused[2];
    tag sound_tags[NUMBER_OF_PROJECTILE_SOUNDS];
    short_fixed animation_rate_lower_bound;
    short_fixed animation_rate_delta;
    int16_t lifespan_lower_bound;
    int16_t lifespan_delta;
    fixed_fraction initial_contrail_frequency;
    fixed_fraction final_contrail_frequency;
    fixed_fraction contrail_frequency_delta;
    angle guided_turning_speed;
    tag promoted_projectile_tag; // 'proj'
    tag promotion_projectile_group_tag; // 'prgr'
    short_world_distance maximum_safe_acceleration;
    fixed_fraction acceleration_detonation_fraction;
    damage_definition damage;
    tag artifact_tag; // 'arti'; 0 or NONE: none
    tag target_detonation_projectile_group_tag; // 'prgr'; 0 or NONE: none
    tag geometry_tag; // 'geom'; 0 or NONE: none
    int16_t delay_lower_bound;
    int16_t delay_delta;
    tag local_projectile_group_tag; // 'lpgr'; 0 or NONE: none
    int16_t nearby_target_radius; // cells; 0: 4
    int16_t exclude_nearby_target_radius;
    tag promotion_unit_tag; // 'unit'; 0 or NONE: none
    int16_t unused3[37];
    uint8_t unused3c;
    uint8_t use_accel;
    // Run time.
    int16_t local_projectile_group_type;
    int16_t geometry_index;
    int16_t target_detonation_projectile_group_type;
    int16_t lightning_index;
    int16_t artifact_index;
    int16_t detonation_projectile_group_type;
    int16_t contrail_projectile_type;
    int16_t promotion_projectile_group_type;
    int16_t promoted_projectile_type;
    int16_t sound_indexes[NUMBER_OF_PROJECTILE_SOUNDS];
    int16_t collection_index;
    int16_t color_table_index;
    int16_t object_type;
};
static_assert(sizeof(projectile_definition) == 256);
static_assert(offsetof(projectile_definition, sequence_indexes) == 8);
static_assert(offsetof(projectile_definition, splash_or_rebound_effect_type) == 14);
static_assert(offsetof(projectile_definition, ticks_between_contrails) == 24);
static_assert(offsetof(projectile_definition, object_tag) == 28);
static_assert(offsetof(projectile_definition, inertia_lower_bound) == 32);
static_assert(offsetof(projectile_definition, projectile_class) == 50);
static_assert(offsetof(projectile_definition, lightning_tag) == 52);
static_assert(offsetof(projectile_definition, sound_tags) == 60);
static_assert(offsetof(projectile_definition, animation_rate_lower_bound) == 76);
static_assert(offsetof(projectile_definition, guided_turning_speed) == 90);
static_assert(offsetof(projectile_definition, promoted_projectile_tag) == 92);
static_assert(offsetof(projectile_definition, maximum_safe_acceleration) == 100);
static_assert(offsetof(projectile_definition, damage) == 104);
static_assert(offsetof(projectile_definition, artifact_tag) == 120);
static_assert(offsetof(projectile_definition, geometry_tag) == 128);
static_assert(offsetof(projectile_definition, delay_lower_bound) == 132);
static_assert(offsetof(projectile_definition, local_projectile_group_tag) == 136);
static_assert(offsetof(projectile_definition, nearby_target_radius) == 140);
static_assert(offsetof(projectile_definition, promotion_unit_tag) == 144);
static_assert(offsetof(projectile_definition, unused3) == 148);
static_assert(offsetof(projectile_definition, unused3c) == 222);
static_assert(offsetof(projectile_definition, use_accel) == 223);
static_assert(offsetof(projectile_definition, local_projectile_group_type) == 224);
static_assert(offsetof(projectile_definition, sound_indexes) == 242);
static_assert(offsetof(projectile_definition, object_type) == 254);

// Offsets 0-147 swapped (tags and flags as 4 bytes, the rest as 2 bytes);
// 148-255 taken as stored.
extern const byte_swap_code projectile_definition_byte_swapping_data[];

// The default column of the layout: see get_default_projectile_definition.
void default_projectile_definition(void *record);
const projectile_definition *get_default_projectile_definition(void);
// The user data a tool stores in a projectile definition's tag header.
uint32_t get_projectile_definition_tag_header_user_data(const void *definition);

// projectile_group_part.flags
enum projectile_group_part_flags
{
    _projectile_group_part_is_central_flag = 0x1, // at the bounds object's position, no draws
    _projectile_group_part_on_ground_flag = 0x2, // z on the terrain

    PROJECTILE_GROUP_PART_FLAGS_MASK = 0x3,
};

// 32 bytes, inside a projectile group definition.
struct projectile_group_part
{
    uint32_t flags; // projectile_group_part_flags
    tag projectile_tag; // 'proj'
    tag fail_projectile_tag; // 'proj' made when the appearing draw fails; NONE: nothing
    int16_t count_lower_bound;
    int16_t count_delta;
    fixed_fraction appearing_fraction;
    short_fixed position_lower_bound; // height fraction between height0 and height1
    short_fixed position_delta;
    int16_t unused0;
    // Run time.
    int16_t projectile_type;
    int16_t fail_projectile_type;
    int16_t unused[2];
};
static_assert(sizeof(projectile_group_part) == 32);
static_assert(offsetof(projectile_group_part, count_lower_bound) == 12);
static_assert(offsetof(projectile_group_part, position_lower_bound) == 18);
static_assert(offsetof(projectile_group_part, projectile_type) == 24);

// 256 bytes stored.
struct projectile_group_definition
{
    uint32_t flags; // none defined; kept zero
    int16_t mesh_effect_type; // mesh_effect_type; NONE: none
    int16_t number_of_parts; // 0..MAXIMUM_PARTS_PER_PROJECTILE_GROUP
    tag sound_tag; // sound played on the bounds object; NONE: none
    tag local_projectile_group_tag; // 'lpgr'; 0 or NONE: none
    projectile_group_part parts[MAXIMUM_PARTS_PER_PROJECTILE_GROUP];
    // Run time.
    int16_t sound_index;
    int16_t local_projectile_group_type;
    int16_t unused[6];
};
static_assert(sizeof(projectile_group_definition) == 256);
static_assert(offsetof(projectile_group_definition, parts) == 16);
static_assert(offsetof(projectile_group_definition, sound_index) == 240);

extern const byte_swap_code projectile_group_definition_byte_swapping_data[];
void default_projectile_group_definition(void *record);

// Check a loaded, swapped record (defaults already past a short one); repairs
// are logged, false (logged) refuses the record.  `name` labels the lines.
bool validate_projectile_definition(projectile_definition *definition, const char *name);
bool validate_projectile_group_definition(projectile_group_definition *definition, const char *name);
