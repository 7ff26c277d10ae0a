#pragma once
// Monster definitions ('mons'): what a kind of unit is and how it fights,
// moves, sounds and dies; and artifact definitions ('arti'): what an object a
// unit carries does to it.  Both are fixed-size big-endian records; the
// dependency indexes at the end of each record are filled at load and never
// stored (a tool writes them as zero, the loader overwrites them).
//
// Every definition, hack and extra flag bit of 'mons' lives here and nowhere
// else.  The unit record's own state bits (`monster_data.flags`) are another
// word with other meanings.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "tag_files/definitions.h"
#include "world.h"

#define MONSTER_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('m', 'o', 'n', 's')
#define ARTIFACT_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('a', 'r', 't', 'i')

enum
{
    // 2 added combined_power and the initial-artifacts group; a version 1 tag
    // is taken with a power of 1 and no initial artifacts (what it meant then).
    // 3 added the special ability's prompt list; older tags have none.
    MONSTER_DEFINITION_VERSION = 3,
    // combined_power is refused outside 0..this.
    MAXIMUM_MONSTER_COMBINED_POWER = 32767,
    MAXIMUM_MONSTER_DEFINITIONS_PER_MAP = 128,
    MAXIMUM_ATTACKS_PER_MONSTER = 4,
    NUMBER_OF_MONSTER_ATTACK_SEQUENCES = 4,
    // 19 sequences are read (idle 0 .. 18); one spare keeps the record aligned.
    NUMBER_OF_MONSTER_SEQUENCES = 20,
    // One per terrain type of a mesh cell's 4-bit terrain nibble.  Entry 5 is
    // also the chance-to-block bonus, entry 10 the charge range in cells.
    NUMBER_OF_MONSTER_TERRAIN_COSTS = 16,
    NUMBER_OF_MONSTER_DEFINITION_SOUNDS = 16,
    NUMBER_OF_MONSTER_EFFECT_MODIFIERS = 16,
    // The unit record's held_object_indexes hold nine entries.
    MAXIMUM_ARTIFACTS_PER_MONSTER = 9,
    // The attack index of the wielded artifact's override attack.
    ARTIFACT_ATTACK_INDEX = -69,

    // 2 added the special ability's prompt list; a version 1 tag has none.
    ARTIFACT_DEFINITION_VERSION = 2,
    // A prompt list holds the two lines the console shows while a target is
    // chosen for the special ability.
    NUMBER_OF_SPECIAL_ABILITY_PROMPTS = 2,
    MAXIMUM_ARTIFACT_DEFINITIONS_PER_MAP = 64,
};

// monster_definition.flags
enum monster_definition_flag_bits
{
    _monster_is_inanimate_object_bit = 0,
    _monster_is_undead_bit = 1,
    _monster_flies_bit = 2,
    _monster_floats_bit = 3,
    _monster_is_giant_sized_bit = 4,
    _monster_is_not_solid_bit = 5,
    _monster_carries_multiple_artifacts_bit = 6,
    _monster_concentrates_on_single_attacker_bit = 7,
    _monster_always_uses_entrance_proj_group_bit = 8,
    _monster_cannot_be_healed_bit = 9,
    _monster_does_not_drop_ammo_when_dying_bit = 10,
    _monster_leaves_contrail_bit = 11,
    _monster_raise_to_flying_height_bit = 12,
    _monster_translates_continuously_bit = 13,
    _monster_turns_to_stone_when_killed_bit = 14,
    _monster_can_be_propelled_bit = 15,
    _monster_invisible_on_overhead_map_bit = 16, // the overhead map relies on this value
    _monster_allows_projectiles_to_pass_through_bit = 17,
    _monster_does_not_respect_visibility_bit = 18,
    _monster_has_limited_charge_duration_bit = 19,
    _monster_can_extend_charge_duration_bit = 20,
    _monster_cannot_be_autotargeted_bit = 21,
    _monster_targetable_if_ambient_bit = 25, // the overhead map relies on this value

    _monster_is_inanimate_object_flag = FLAG(_monster_is_inanimate_object_bit),
    _monster_is_undead_flag = FLAG(_monster_is_undead_bit),
    _monster_flies_flag = FLAG(_monster_flies_bit),
    _monster_floats_flag = FLAG(_monster_floats_bit),
    _monster_is_giant_sized_flag = FLAG(_monster_is_giant_sized_bit),
    _monster_is_not_solid_flag = FLAG(_monster_is_not_solid_bit),
    _monster_carries_multiple_artifacts_flag = FLAG(_monster_carries_multiple_artifacts_bit),
    _monster_concentrates_on_single_attacker_flag = FLAG(_monster_concentrates_on_single_attacker_bit),
    _monster_always_uses_entrance_proj_group_flag = FLAG(_monster_always_uses_entrance_proj_group_bit),
    _monster_cannot_be_healed_flag = FLAG(_monster_cannot_be_healed_bit),
    _monster_does_not_drop_ammo_when_dying_flag = FLAG(_monster_does_not_drop_ammo_when_dying_bit),
    _monster_leaves_contrail_flag = FLAG(_monster_leaves_contrail_bit),
    _monster_raise_to_flying_height_flag = FLAG(_monster_raise_to_flying_height_bit),
    _monster_translates_continuously_flag = FLAG(_monster_translates_continuously_bit),
    _monster_turns_to_stone_when_killed_flag = FLAG(_monster_turns_to_stone_when_killed_bit),
    _monster_can_be_propelled_flag = FLAG(_monster_can_be_propelled_bit),
    _monster_invisible_on_overhead_map_flag = FLAG(_monster_invisible_on_overhead_map_bit),
    _monster_allows_projectiles_to_pass_through_flag = FLAG(_monster_allows_projectiles_to_pass_through_bit),
    _monster_does_not_respect_visibility_flag = FLAG(_monster_does_not_respect_visibility_bit),
    _monster_has_limited_charge_duration_flag = FLAG(_monster_has_limited_charge_duration_bit),
    _monster_can_extend_charge_duration_flag = FLAG(_monster_can_extend_charge_duration_bit),
    _monster_cannot_be_autotargeted_flag = FLAG(_monster_cannot_be_autotargeted_bit),
    _monster_targetable_if_ambient_flag = FLAG(_monster_targetable_if_ambient_bit),

    MONSTER_DEFINITION_FLAGS_MASK = 0x003FFFFF | _monster_targetable_if_ambient_flag,
};

// monster_definition.hack_flags
enum monster_hack_flag_bits
{
    _monster_hack_unit_can_charge_bit = 0,
    _monster_hack_turns_in_a_curve_bit = 1,
    _monster_hack_mixes_missile_melee_behaviour_bit = 2,
    _monster_hack_extra_aggressive_missile_bit = 3,
    _monster_hack_doesnt_close_on_target_bit = 4,
    _monster_hack_chases_enemy_during_recovery_bit = 5,
    _monster_hack_missile_attack_ignores_height_bit = 6,
    _monster_hack_increased_chance_to_block_bit = 7,
    _monster_hack_doesnt_flinch_heal_bit = 8,
    _monster_hack_walks_on_water_bit = 9,
    _monster_hack_doesnt_auto_target_bit = 10,
    _monster_hack_double_click_monster_type_bit = 11,
    _monster_hack_enemies_cant_see_mana_bit = 12,
    _monster_hack_mana_isnt_shown_bit = 13,

    _monster_hack_unit_can_charge_flag = FLAG(_monster_hack_unit_can_charge_bit),
    _monster_hack_turns_in_a_curve_flag = FLAG(_monster_hack_turns_in_a_curve_bit),
    _monster_hack_mixes_missile_melee_behaviour_flag = FLAG(_monster_hack_mixes_missile_melee_behaviour_bit),
    _monster_hack_extra_aggressive_missile_flag = FLAG(_monster_hack_extra_aggressive_missile_bit),
    _monster_hack_doesnt_close_on_target_flag = FLAG(_monster_hack_doesnt_close_on_target_bit),
    _monster_hack_chases_enemy_during_recovery_flag = FLAG(_monster_hack_chases_enemy_during_recovery_bit),
    _monster_hack_missile_attack_ignores_height_flag = FLAG(_monster_hack_missile_attack_ignores_height_bit),
    _monster_hack_increased_chance_to_block_flag = FLAG(_monster_hack_increased_chance_to_block_bit),
    _monster_hack_doesnt_flinch_heal_flag = FLAG(_monster_hack_doesnt_flinch_heal_bit),
    _monster_hack_walks_on_water_flag = FLAG(_monster_hack_walks_on_water_bit),
    _monster_hack_doesnt_auto_target_flag = FLAG(_monster_hack_doesnt_auto_target_bit),
    _monster_hack_double_click_monster_type_flag = FLAG(_monster_hack_double_click_monster_type_bit),
    _monster_hack_enemies_cant_see_mana_flag = FLAG(_monster_hack_enemies_cant_see_mana_bit),
    _monster_hack_mana_isnt_shown_flag = FLAG(_monster_hack_mana_isnt_shown_bit),

    MONSTER_HACK_FLAGS_MASK = 0x3FFF,
};

// monster_definition.more_hack_flags
enum monster_more_hack_flag_bits
{
    _monster_more_hack_chases_intelligently_bit = 0,
    _monster_more_hack_moves_to_shoot_uphill_bit = 1,
    _monster_more_hack_walks_around_blockage_bit = 2,
    _monster_more_hack_can_target_flying_bit = 3,
    _monster_more_hack_shift_click_targets_group_bit = 4,

    _monster_more_hack_chases_intelligently_flag = FLAG(_monster_more_hack_chases_intelligently_bit),
    _monster_more_hack_moves_to_shoot_uphill_flag = FLAG(_monster_more_hack_moves_to_shoot_uphill_bit),
    _monster_more_hack_walks_around_blockage_flag = FLAG(_monster_more_hack_walks_around_blockage_bit),
    _monster_more_hack_can_target_flying_flag = FLAG(_monster_more_hack_can_target_flying_bit),
    _monster_more_hack_shift_click_targets_group_flag = FLAG(_monster_more_hack_shift_click_targets_group_bit),

    MONSTER_MORE_HACK_FLAGS_MASK = 0x1F,
};

// monster_definition.extra_flags
enum monster_definition_extra_flag_bits
{
    _monster_extra_dont_autoequip_initial_artifacts_bit = 0,
    _monster_extra_hide_owner_name_bit = 1,

    _monster_extra_dont_autoequip_initial_artifacts_flag = FLAG(_monster_extra_dont_autoequip_initial_artifacts_bit),
    _monster_extra_hide_owner_name_flag = FLAG(_monster_extra_hide_owner_name_bit),

    MONSTER_DEFINITION_EXTRA_FLAGS_MASK = 0x3,
};

enum monster_class
{
    _monster_class_melee = 0,
    _monster_class_missile = 1,
    _monster_class_ambient_life = 5,
    NUMBER_OF_MONSTER_CLASSES = 8,
};

// Named entries of sequence_indexes.
enum monster_sequence
{
    _monster_sequence_idle = 0,
    _monster_sequence_head_shots = 8,
    _monster_sequence_ammunition_icon = 14,
};

// Sound types (the values of sound_types; index into nothing, matched by value).
enum monster_sound_type
{
    _monster_sound_selection = 5,
    _monster_sound_hit_friendly_unit = 7,
    _monster_sound_hit_by_friendly_unit = 8,
    _monster_sound_attack_obstructed_by_friendly_unit = 9,
    _monster_sound_attack_enemy_with_friendly_units_nearby = 11,
    _monster_sound_caused_enemy_death = 13,
    _monster_sound_caused_death_of_enemy_undead = 15,
};

// monster_attack_definition.flags
enum monster_attack_flags
{
    _monster_attack_is_indirect_flag = 0x0001,
    _monster_attack_does_not_require_solution_flag = 0x0002,
    _monster_attack_aimed_at_targets_feet_flag = 0x0004,
    _monster_attack_leads_target_flag = 0x0008,
    _monster_attack_uses_ammunition_flag = 0x0010,
    _monster_attack_uses_carried_projectile_flag = 0x0020,
    _monster_attack_is_reflexive_flag = 0x0040,
    _monster_attack_is_special_ability_flag = 0x0080,
    _monster_attack_cannot_be_aborted_flag = 0x0100,
    _monster_attack_is_primary_flag = 0x0200,
    _monster_attack_avoids_friendly_units_flag = 0x0400,
    _monster_attack_vs_giant_sized_flag = 0x0800,
    _monster_attack_prohibited_vs_giant_sized_flag = 0x1000,
    _monster_attack_is_fixed_pitch_flag = 0x2000,
    _monster_attack_dont_try_to_shoot_over_nearby_units_flag = 0x4000,
    _monster_attack_lob_to_hit_lower_nearby_units_flag = 0x8000,
};

// monster_attack_definition.extra_flags
enum monster_attack_extra_flags
{
    _monster_attack_can_be_used_against_friendlies_extra_flag = 0x01,
    _monster_attack_gives_projectile_to_target_extra_flag = 0x02,
    _monster_attack_player_can_interrupt_extra_flag = 0x04,
    _monster_attack_vs_flying_extra_flag = 0x08,
    _monster_attack_prohibited_vs_flying_extra_flag = 0x10,
    _monster_attack_does_not_require_recovery_time_extra_flag = 0x20,
    _monster_attack_vs_undead_extra_flag = 0x40,
    _monster_attack_prohibited_vs_undead_extra_flag = 0x80,

    MONSTER_ATTACK_EXTRA_FLAGS_MASK = 0xFF,
};

// monster_attack_sequence.flags: the pitches a sequence is played at.
enum monster_attack_sequence_flags
{
    _sequence_normal_flag = 0x1, // level
    _sequence_declinated_flag = 0x2, // aiming down
    _sequence_elevated_flag = 0x4, // aiming up

    MONSTER_ATTACK_SEQUENCE_FLAGS_MASK = 0x7,
};

// One animation an attack may play.
struct monster_attack_sequence
{
    uint16_t flags; // monster_attack_sequence_flags
    int16_t sequence_index; // NONE: unused
};
static_assert(sizeof(monster_attack_sequence) == 4);

// 64 bytes, four of them inside each monster definition and one in each artifact.
struct monster_attack_definition
{
    uint16_t flags; // monster_attack_flags
    uint16_t extra_flags; // monster_attack_extra_flags
    tag projectile_tag; // 'proj' launched; NONE: none
    fixed_fraction miss_fraction;
    short_world_distance minimum_range;
    short_world_distance maximum_range; // 0: never preselected
    monster_attack_sequence sequences[NUMBER_OF_MONSTER_ATTACK_SEQUENCES];
    int16_t repetitions; // negative: the attack used when out of ammunition
    short_world_distance initial_velocity_lower_bound;
    short_world_distance initial_velocity_delta;
    short_world_distance initial_velocity_error;
    int16_t recovery_time; // ticks
    int16_t recovery_time_experience_delta;
    short_world_distance velocity_improvement_with_experience;
    int16_t mana_cost; // negative: needs mana at most maximum + cost
    // Run time.
    int16_t projectile_type;
    uint8_t unused[16];
};
static_assert(sizeof(monster_attack_definition) == 64);
static_assert(offsetof(monster_attack_definition, projectile_tag) == 4);
static_assert(offsetof(monster_attack_definition, minimum_range) == 10);
static_assert(offsetof(monster_attack_definition, sequences) == 14);
static_assert(offsetof(monster_attack_definition, repetitions) == 30);
static_assert(offsetof(monster_attack_definition, mana_cost) == 44);
static_assert(offsetof(monster_attack_definition, projectile_type) == 46);

// 1024 bytes stored.
struct monster_definition
{
    uint32_t flags; // monster_definition_flag_bits
    uint32_t hack_flags; // monster_hack_flag_bits
    uint32_t more_hack_flags; // monster_more_hack_flag_bits
    uint32_t extra_flags; // monster_definition_extra_flag_bits
    tag collection_tag; // '.256'; must match the unit's collection reference

    int16_t monster_class;
    int16_t size;
    short_world_distance pathfinding_radius;
    int16_t visibility_type;
    uint16_t terrain_impassability_flags; // bit n: terrain type n cannot be entered
    angle turning_speed;
    short_world_distance base_movement_speed;
    short_world_distance warning_distance;
    short_world_distance critical_distance;
    short_world_distance activation_distance;
    fixed_fraction healing_fraction;
    fixed_fraction left_handed_fraction;
    fixed_fraction absorbed_fraction;
    fixed_fraction flinch_system_shock; // fractions of the maximum vitality
    fixed_fraction propelled_system_shock;
    fixed_fraction hard_death_system_shock;
    fixed_fraction berserk_system_shock;
    short_fixed berserk_vitality;
    int16_t damage_to_propulsion;
    int16_t experience_point_value;
    int16_t initial_ammunition_lower_bound;
    int16_t initial_ammunition_delta;
    int16_t maximum_ammunition_count;
    short_fixed maximum_mana;
    short_fixed mana_recharge_rate;
    int16_t maximum_artifacts_carried; // 0..MAXIMUM_ARTIFACTS_PER_MONSTER
    int16_t number_of_attacks; // 0..MAXIMUM_ATTACKS_PER_MONSTER
    int16_t desired_projectile_volume;
    int16_t attack_frequency_lower_bound;
    int16_t attack_frequency_delta;
    int16_t use_attack_frequency;
    short_world_distance longest_range;
    int16_t next_name_string_index; // the first name; run time: a running counter
    int16_t unused0;

    int16_t sequence_indexes[NUMBER_OF_MONSTER_SEQUENCES]; // NONE: none
    int8_t terrain_costs[NUMBER_OF_MONSTER_TERRAIN_COSTS];
    uint8_t movement_modifiers[NUMBER_OF_MONSTER_TERRAIN_COSTS];
    int16_t sound_types[NUMBER_OF_MONSTER_DEFINITION_SOUNDS]; // monster_sound_type; NONE: unused
    tag sound_tags[NUMBER_OF_MONSTER_DEFINITION_SOUNDS];
    monster_attack_definition attacks[MAXIMUM_ATTACKS_PER_MONSTER];

    tag names_string_list_tag; // 'stli' of unit names
    tag spelling_string_list_tag; // 'stli': singular, plural
    tag ammunition_projectile_tag; // 'proj'
    tag entrance_projectile_group_tag; // 'prgr' ...
    tag exit_projectile_group_tag;
    tag melee_impact_projectile_group_tag;
    tag blocked_impact_projectile_group_tag;
    tag absorbed_impact_projectile_group_tag;
    tag burning_death_projectile_group_tag;
    tag dying_projectile_group_tag;
    tag exploding_projectile_group_tag;
    tag local_projectile_group_tag; // 'lpgr'
    tag object_tag; // 'obje'
    tag map_action_tag; // the ambient-life behaviour of its units; 0 (the default) or NONE: none
    tag initial_artifacts_projectile_group_tag; // 'prgr' handed to each new unit; 0 (the default) or NONE: none
    // What one unit weighs when scripts and the attack AI sum strengths;
    // 0..MAXIMUM_MONSTER_COMBINED_POWER, default 1.
    int16_t combined_power;
    int16_t unused_after_power;
    // 'stli' whose strings 0 and 1 prompt for the special ability's target;
    // 0 (the default) or NONE: the interface's own prompts.
    tag special_ability_string_list_tag;
    uint8_t unused[380];

    // Run time: filled by the loader, never stored.
    int16_t collection_index;
    int16_t object_type;
    int16_t names_string_list_index;
    int16_t spelling_string_list_index;
    int16_t ammunition_projectile_type;
    int16_t entrance_projectile_group_type;
    int16_t exit_projectile_group_type;
    int16_t melee_impact_projectile_group_type;
    int16_t blocked_impact_projectile_group_type;
    int16_t absorbed_impact_projectile_group_type;
    int16_t burning_death_projectile_group_type;
    int16_t dying_projectile_group_type;
    int16_t exploding_projectile_group_type;
    int16_t local_projectile_group_type;
    int16_t sound_indexes[NUMBER_OF_MONSTER_DEFINITION_SOUNDS];
    int16_t initial_artifacts_projectile_group_type;
    // NONE also when the list is missing or too short (logged at load).
    int16_t special_ability_string_list_index;
};
static_assert(sizeof(monster_definition) == 1024);
static_assert(offsetof(monster_definition, collection_tag) == 16);
static_assert(offsetof(monster_definition, monster_class) == 20);
static_assert(offsetof(monster_definition, healing_fraction) == 40);
static_assert(offsetof(monster_definition, maximum_artifacts_carried) == 70);
static_assert(offsetof(monster_definition, next_name_string_index) == 84);
static_assert(offsetof(monster_definition, sequence_indexes) == 88);
static_assert(offsetof(monster_definition, terrain_costs) == 128);
static_assert(offsetof(monster_definition, movement_modifiers) == 144);
static_assert(offsetof(monster_definition, sound_types) == 160);
static_assert(offsetof(monster_definition, sound_tags) == 192);
static_assert(offsetof(monster_definition, attacks) == 256);
static_assert(offsetof(monster_definition, names_string_list_tag) == 512);
static_assert(offsetof(monster_definition, object_tag) == 560);
static_assert(offsetof(monster_definition, map_action_tag) == 564);
static_assert(offsetof(monster_definition, initial_artifacts_projectile_group_tag) == 568);
static_assert(offsetof(monster_definition, combined_power) == 572);
static_assert(offsetof(monster_definition, special_ability_string_list_tag) == 576);
static_assert(offsetof(monster_definition, unused) == 580);
static_assert(offsetof(monster_definition, collection_index) == 960);
static_assert(offsetof(monster_definition, sound_indexes) == 988);
static_assert(offsetof(monster_definition, initial_artifacts_projectile_group_type) == 1020);
static_assert(offsetof(monster_definition, special_ability_string_list_index) == 1022);

// artifact_definition.flags
enum artifact_flags
{
    _artifact_overrides_owner_attack_flag = 0x1,
    _artifact_vanishes_after_last_charge_flag = 0x2,
    _artifact_overrides_owner_monster_flag = 0x4,
    _artifact_keeps_charge_flag = 0x8,
    _artifact_restrict_overrides_flag = 0x10,
    _artifact_cannot_be_holstered_flag = 0x20,
    _artifact_cannot_be_discarded_flag = 0x40,
    _artifact_has_timed_expiry_flag = 0x80,
    _artifact_restricted_by_collection_flag = 0x100,
    _artifact_use_original_death_flag = 0x200,
    _artifact_dont_drop_on_death_flag = 0x400,
    _artifact_display_charges_as_percent_flag = 0x800,
    _artifact_always_slow_when_held_flag = 0x1000,
    _artifact_overrides_monster_yaw_flag = 0x2000,
    _artifact_override_monster_doesnt_use_charges_flag = 0x4000,
    _artifact_override_attack_hides_other_monster_attacks_flag = 0x8000,
    _artifact_does_not_override_monster_effect_modifiers_flag = 0x10000,
    _artifact_projectile_pickup_adds_charges_flag = 0x20000,
    _artifact_charges_drop_as_ammo_flag = 0x40000,
    _artifact_overrides_monster_collection_flag = 0x80000,
    _artifact_overrides_monster_permanently_flag = 0x100000,

    ARTIFACT_FLAGS_MASK = 0x1FFFFF,
};

enum
{
    // Projectiles whose pick-up adds charges to the artifact.
    NUMBER_OF_ARTIFACT_PROJECTILE_TYPES = 4,
};

// 256 bytes stored.
struct artifact_definition
{
    uint32_t flags; // artifact_flags
    tag monster_restriction_tag; // 'unit' the override admits; NONE or 0: any
    tag override_tag; // 'unit' the wielder becomes (and whose collection it may take)
    int16_t maximum_charges;
    int16_t initial_charges_lower_bound;
    int16_t initial_charges_delta;
    int16_t expiry_timer; // seconds
    short_fixed bonus_effect_modifiers[NUMBER_OF_MONSTER_EFFECT_MODIFIERS];
    tag projectile_tags[NUMBER_OF_ARTIFACT_PROJECTILE_TYPES]; // 'proj'; NONE: unused
    monster_attack_definition override_attack;
    // 'stli' prompting for the override attack's target when it is the
    // wielder's special ability; 0 (the default) or NONE: none.
    tag special_ability_string_list_tag;
    uint8_t unused[106];
    // Run time.
    int16_t special_ability_string_list_index; // as monster_definition's
    int16_t monster_restriction_type;
    int16_t monster_override_type;
    int16_t projectile_types[NUMBER_OF_ARTIFACT_PROJECTILE_TYPES];
};
static_assert(sizeof(artifact_definition) == 256);
static_assert(offsetof(artifact_definition, maximum_charges) == 12);
static_assert(offsetof(artifact_definition, bonus_effect_modifiers) == 20);
static_assert(offsetof(artifact_definition, projectile_tags) == 52);
static_assert(offsetof(artifact_definition, override_attack) == 68);
static_assert(offsetof(artifact_definition, special_ability_string_list_tag) == 132);
static_assert(offsetof(artifact_definition, unused) == 136);
static_assert(offsetof(artifact_definition, special_ability_string_list_index) == 242);
static_assert(offsetof(artifact_definition, monster_restriction_type) == 244);

extern const byte_swap_code monster_definition_byte_swapping_data[];
extern const byte_swap_code artifact_definition_byte_swapping_data[];

// The default records: every tag NONE, every index NONE, every multiplier 1.0.
void default_monster_definition(void *record);
void default_artifact_definition(void *record);

// Checks a loaded, swapped record (defaults already past a short one) before
// anything indexes tables with it.  Counts and indexes outside their tables are
// repaired where a safe value exists (each repair logged); false (logged) when
// the record cannot be used; a combined_power outside
// 0..MAXIMUM_MONSTER_COMBINED_POWER is refused with code 10 naming the field.
// `name` labels the log lines.  Whether the initial-artifacts group is a
// projectile group is the loader's question (code 10 as well), once the
// group is looked up.
bool validate_monster_definition(monster_definition *definition, const char *name);
bool validate_artifact_definition(artifact_definition *definition, const char *name);

// ---- the registry rows "monster" and "artifact" -------------------------------

extern definition_globals monster_definitions;
extern definition_globals artifact_definitions;

// Register both groups once at start-up (false: logged by the registry).
bool initialize_monster_definitions(void);
void initialize_monster_definitions_for_new_map(void);
void dispose_monster_definitions_from_old_map(void);

// The definition at `index`, or null for a hole or an index out of range.
// Inline: every unit's tick asks for definitions dozens of times.
inline monster_definition *get_monster_definition(int32_t index)
{
    return (monster_definition *)try_and_get_definition(&monster_definitions, index);
}

// The largest pathfinding_radius of the unit types that exist now (a bound
// for searches that compare distances with it); false with no type.
bool largest_pathfinding_radius(int32_t *radius);

// The power one unit of the type adds wherever strengths are summed (the
// scripts' power tests, the spatial groups, the attack AI): the definition's
// combined_power, 0 for a type that does not exist.
int16_t monster_type_combined_power(int32_t monster_type);
artifact_definition *get_artifact_definition(int32_t index);
