#pragma once
// The unit record: one `monster_data` per unit in the data array "monster".
// A unit's body (position, velocity, animation, vitality) is its object; what
// the unit thinks about (owner, orders, target, path, timers, inventory,
// name) lives here.  This module owns the array, the record's flag words and
// constants, the module's start-up and per-map life, the initialisation of a
// fresh record (`init_monster`) and its removal without a death
// (`delete_monster`).  The action machine that every record runs fills
// `monster_action_fns`.
//
// Simulation: integer arithmetic, vesk_random drawn only in the documented
// order (docs/determinism.md, "The unit record").  Main thread only.

#include <cstddef>

#include "cseries/cseries.h"
#include "tag_files/data.h"
#include "world.h"

struct marker_palette_entry;

enum
{
    MAXIMUM_MONSTERS_PER_MAP = 400,
    MAXIMUM_MONSTER_NAME_LENGTH = 17, // the name holds 18 bytes with the terminator
    MAXIMUM_WAYPOINTS_PER_MONSTER = 4,
    MONSTER_MELEE_RADIUS = 85, // world units
    MAXIMUM_NUMBER_OF_MONSTER_DIED_PROCS = 8,
    MAXIMUM_HELD_OBJECTS_PER_MONSTER = 9,
};

// monster_data.flags
enum monster_flag_bits : uint32_t
{
    _monster_has_valid_target_bit = 0,
    _monster_responding_to_command_bit = 1,
    _monster_responding_to_target_command_bit = 2,
    _monster_has_valid_target_index_bit = 3,
    _monster_has_valid_target_location_bit = 4,
    _monster_needs_new_path_bit = 5,
    _monster_needs_to_stop_bit = 6,
    _monster_has_obstructed_path_bit = 7,
    _monster_in_proximity_to_target_bit = 8,
    _monster_has_looped_waypoints_bit = 9,
    _monster_has_back_and_forth_looped_waypoints_bit = 10,
    _monster_looping_back_through_waypoints_bit = 11,
    _monster_has_final_desired_yaw_bit = 12,
    _monster_has_attacked_bit = 13,
    _monster_wants_to_pick_up_object_bit = 14,
    _monster_attack_was_aborted_bit = 15,
    _monster_did_not_get_targeting_solution_bit = 16,
    _monster_is_evading_obstacle_to_attack_bit = 17,
    _monster_evading_obstacle_bit = 18,
    _monster_needs_to_retreat_bit = 19,
    _monster_is_retreating_bit = 20,
    _monster_should_close_on_target_bit = 21,
    _monster_was_stopped_bit = 22,
    _monster_will_use_special_ability_bit = 23,
    _monster_is_using_special_ability_bit = 24,
    _monster_has_celebrated_bit = 25,
    _monster_healing_cannot_be_stopped_bit = 26,
    _monster_has_received_user_command_bit = 27,
    _monster_ignores_user_commands_bit = 28,
    _monster_target_has_caused_melee_damage_bit = 29,
    _monster_has_left_the_mesh_bit = 30,
    _monster_standing_ground_bit = 31,
    _monster_is_teleporting_in_bit = _monster_has_celebrated_bit,

    _monster_has_valid_target_flag = FLAG(_monster_has_valid_target_bit),
    _monster_responding_to_command_flag = FLAG(_monster_responding_to_command_bit),
    _monster_responding_to_target_command_flag = FLAG(_monster_responding_to_target_command_bit),
    _monster_has_valid_target_index_flag = FLAG(_monster_has_valid_target_index_bit),
    _monster_has_valid_target_location_flag = FLAG(_monster_has_valid_target_location_bit),
    _monster_needs_new_path_flag = FLAG(_monster_needs_new_path_bit),
    _monster_needs_to_stop_flag = FLAG(_monster_needs_to_stop_bit),
    _monster_has_obstructed_path_flag = FLAG(_monster_has_obstructed_path_bit),
    _monster_in_proximity_to_target_flag = FLAG(_monster_in_proximity_to_target_bit),
    _monster_has_looped_waypoints_flag = FLAG(_monster_has_looped_waypoints_bit),
    _monster_has_back_and_forth_looped_waypoints_flag = FLAG(_monster_has_back_and_forth_looped_waypoints_bit),
    _monster_looping_back_through_waypoints_flag = FLAG(_monster_looping_back_through_waypoints_bit),
    _monster_has_final_desired_yaw_flag = FLAG(_monster_has_final_desired_yaw_bit),
    _monster_has_attacked_flag = FLAG(_monster_has_attacked_bit),
    _monster_wants_to_pick_up_object_flag = FLAG(_monster_wants_to_pick_up_object_bit),
    _monster_attack_was_aborted_flag = FLAG(_monster_attack_was_aborted_bit),
    _monster_did_not_get_targeting_solution_flag = FLAG(_monster_did_not_get_targeting_solution_bit),
    _monster_is_evading_obstacle_to_attack_flag = FLAG(_monster_is_evading_obstacle_to_attack_bit),
    _monster_evading_obstacle_flag = FLAG(_monster_evading_obstacle_bit),
    _monster_needs_to_retreat_flag = FLAG(_monster_needs_to_retreat_bit),
    _monster_is_retreating_flag = FLAG(_monster_is_retreating_bit),
    _monster_should_close_on_target_flag = FLAG(_monster_should_close_on_target_bit),
    _monster_was_stopped_flag = FLAG(_monster_was_stopped_bit),
    _monster_will_use_special_ability_flag = FLAG(_monster_will_use_special_ability_bit),
    _monster_is_using_special_ability_flag = FLAG(_monster_is_using_special_ability_bit),
    _monster_has_celebrated_flag = FLAG(_monster_has_celebrated_bit),
    _monster_healing_cannot_be_stopped_flag = FLAG(_monster_healing_cannot_be_stopped_bit),
    _monster_has_received_user_command_flag = FLAG(_monster_has_received_user_command_bit),
    _monster_ignores_user_commands_flag = FLAG(_monster_ignores_user_commands_bit),
    _monster_target_has_caused_melee_damage_flag = FLAG(_monster_target_has_caused_melee_damage_bit),
    _monster_has_left_the_mesh_flag = FLAG(_monster_has_left_the_mesh_bit),
    _monster_standing_ground_flag = FLAG(_monster_standing_ground_bit),
    _monster_is_teleporting_in_flag = FLAG(_monster_is_teleporting_in_bit),
};

// monster_data.extra_flags
enum monster_extra_flag_bits : uint32_t
{
    _monster_actually_moved_extra_bit = 0,
    _monster_has_no_visibility_extra_bit = 1,
    _monster_is_invisible_extra_bit = 2,
    _monster_does_not_autotarget_extra_bit = 3,
    _monster_cannot_be_autotargeted_extra_bit = 4,
    _monster_failed_to_attack_extra_bit = 5,
    _monster_evading_left_extra_bit = 6,
    _monster_evading_right_extra_bit = 7,
    _monster_is_confused_extra_bit = 8,
    _monster_ignores_model_collisions_extra_bit = 9,
    _monster_wants_to_run_extra_bit = 10,
    _monster_is_netgame_target_extra_bit = 11,
    _monster_is_ambient_life_extra_bit = 12,
    _monster_is_hunted_creature_extra_bit = 13,
    _monster_is_berserk_extra_bit = 14,
    _monster_chain_lightning_prevention_extra_bit = 15,
    _monster_inside_object_extra_bit = 16,
    _monster_inside_object_allowed_extra_bit = 17,
    _monster_has_deferred_movement_command_extra_bit = 18,
    _monster_is_uncontrollable_extra_bit = 19,
    _monster_deviating_left_extra_bit = 20,
    _monster_should_use_closest_range_attack_extra_bit = 21,
    _monster_should_spawn_entrance_proj_group_extra_bit = 22,
    _monster_is_being_traded_extra_bit = 23,
    _monster_was_stoned_prior_to_heal_extra_bit = 24,
    _monster_immobile_extra_bit = 25,
    _monster_deferred_uses_special_extra_bit = 26,
    _monster_will_use_old_collision_detection_extra_bit = 27,
    _monster_is_affected_by_collection_override_extra_bit = 28,
    _monster_was_controllable_extra_bit = 29,

    _monster_actually_moved_extra_flag = FLAG(_monster_actually_moved_extra_bit),
    _monster_has_no_visibility_extra_flag = FLAG(_monster_has_no_visibility_extra_bit),
    _monster_is_invisible_extra_flag = FLAG(_monster_is_invisible_extra_bit),
    _monster_does_not_autotarget_extra_flag = FLAG(_monster_does_not_autotarget_extra_bit),
    _monster_cannot_be_autotargeted_extra_flag = FLAG(_monster_cannot_be_autotargeted_extra_bit),
    _monster_failed_to_attack_extra_flag = FLAG(_monster_failed_to_attack_extra_bit),
    _monster_evading_left_extra_flag = FLAG(_monster_evading_left_extra_bit),
    _monster_evading_right_extra_flag = FLAG(_monster_evading_right_extra_bit),
    _monster_is_confused_extra_flag = FLAG(_monster_is_confused_extra_bit),
    _monster_ignores_model_collisions_extra_flag = FLAG(_monster_ignores_model_collisions_extra_bit),
    _monster_wants_to_run_extra_flag = FLAG(_monster_wants_to_run_extra_bit),
    _monster_is_netgame_target_extra_flag = FLAG(_monster_is_netgame_target_extra_bit),
    _monster_is_ambient_life_extra_flag = FLAG(_monster_is_ambient_life_extra_bit),
    _monster_is_hunted_creature_extra_flag = FLAG(_monster_is_hunted_creature_extra_bit),
    _monster_is_berserk_extra_flag = FLAG(_monster_is_berserk_extra_bit),
    _monster_chain_lightning_prevention_extra_flag = FLAG(_monster_chain_lightning_prevention_extra_bit),
    _monster_inside_object_extra_flag = FLAG(_monster_inside_object_extra_bit),
    _monster_inside_object_allowed_extra_flag = FLAG(_monster_inside_object_allowed_extra_bit),
    _monster_has_deferred_movement_command_extra_flag = FLAG(_monster_has_deferred_movement_command_extra_bit),
    _monster_is_uncontrollable_extra_flag = FLAG(_monster_is_uncontrollable_extra_bit),
    _monster_deviating_left_extra_flag = FLAG(_monster_deviating_left_extra_bit),
    _monster_should_use_closest_range_attack_extra_flag = FLAG(_monster_should_use_closest_range_attack_extra_bit),
    _monster_should_spawn_entrance_proj_group_extra_flag = FLAG(_monster_should_spawn_entrance_proj_group_extra_bit),
    _monster_is_being_traded_extra_flag = FLAG(_monster_is_being_traded_extra_bit),
    _monster_was_stoned_prior_to_heal_extra_flag = FLAG(_monster_was_stoned_prior_to_heal_extra_bit),
    _monster_immobile_extra_flag = FLAG(_monster_immobile_extra_bit),
    _monster_deferred_uses_special_extra_flag = FLAG(_monster_deferred_uses_special_extra_bit),
    _monster_will_use_old_collision_detection_extra_flag = FLAG(_monster_will_use_old_collision_detection_extra_bit),
    _monster_is_affected_by_collection_override_extra_flag = FLAG(_monster_is_affected_by_collection_override_extra_bit),
    _monster_was_controllable_extra_flag = FLAG(_monster_was_controllable_extra_bit),
};

// monster_data.action: the action procedure of the tick.
enum monster_action
{
    _monster_action_none = 0, // no procedure
    _monster_action_idle,
    _monster_action_celebrating,
    _monster_action_taunting,
    _monster_action_moving,
    _monster_action_turning,
    _monster_action_holding_for_attack,
    _monster_action_aiming_attack,
    _monster_action_attacking,
    _monster_action_blocking,
    _monster_action_picking_up,
    _monster_action_being_healed,
    _monster_action_being_held,
    _monster_action_stoned,
    _monster_action_paralyzed,
    _monster_action_taking_damage,
    _monster_action_being_propelled,
    NUMBER_OF_MONSTER_ACTIONS // 17
};

// Named values of monster_data.action_permutation.
enum monster_action_permutation
{
    _monster_action_permutation_walking = 18,
    _monster_action_permutation_running,
    _monster_action_permutation_gliding,
    _monster_action_permutation_turning_to_stone,
    _monster_action_permutation_stoned,
    _monster_action_permutation_being_paralyzed,
    _monster_action_permutation_paralyzed,
    _monster_action_permutation_recovering_from_paralysis, // 25

    // Sub-states of the idle action.
    _monster_idle_primary = 26,
    _monster_idle_transition_to_primary,
    _monster_idle_secondary,
    _monster_idle_transition_to_secondary,

    // Special abilities.
    _monster_special_ability_explode = 30,
    _monster_special_ability_dark_dream,
    _monster_special_ability_light_dream,
    _monster_special_ability_dark_taunt,
    _monster_special_ability_light_taunt,
    _monster_special_ability_relic_search,
    _monster_special_ability_place_projectile,
    _monster_special_ability_drop,

    // Deaths.
    _monster_death_soft = 38,
    _monster_death_hard,
    _monster_death_disintegration,
    _monster_death_fire,
};

// monster_data.display_dirty_flags: parts of the status display to redraw.
enum monster_display_dirty_flags
{
    _monster_name_dirty_flag = 0x01,
    _monster_experience_dirty_flag = 0x02,
    _monster_flavor_dirty_flag = 0x04,
    _monster_items_dirty_flag = 0x08,
    _monster_type_dirty_flag = 0x10,
    _monster_headshot_dirty_flag = 0x20,
    _monster_special_ability_dirty_flag = 0x40,
    _monster_ammunition_dirty_flag = 0x80,
    ALL_MONSTER_DISPLAY_DIRTY_FLAGS = 0xFF,
};

// Bits of the died procedures' flags.
enum monster_died_flags
{
    _monster_died_show_censored_death_flag = 0x1,
    _monster_died_clear_presets_flag = 0x2,
};


// In memory only: the state hash covers its synchronized fields one by one
// (never the local ones: the three formation fields, the display dirty flags,
// the overhead text, the local projectile group indexes, nor the pointer).
struct monster_data
{
    int16_t identifier; // 0: free slot
    int16_t type; // 'mons' definition index (an artifact may override it)
    uint32_t flags; // monster_flag_bits
    uint32_t extra_flags; // monster_extra_flag_bits
    // In the record's first bytes, beside the flags: what the obstacle and
    // target scans read of every unit they meet.
    int8_t action; // monster_action, 1..16 once initialised
    int8_t action_permutation;
    int16_t base_movement_speed;
    int16_t target_monster_index; // NONE
    int16_t object_index; // its object (owner 2, owner_index this unit)
    int16_t carrying_object_index; // the wielded object, NONE
    int16_t artifact_index; // artifact definition of the wielded object, NONE
    int16_t local_projectile_group_index; // shown while confused (local), NONE
    int16_t unit_type; // 'unit' definition (the owner's copy)
    int8_t owner_team_index;
    int8_t owner_player_index;
    uint8_t cell_impassability_flags; // build_cell_impassability_flags
    int8_t ticks_until_updating;
    uint16_t terrain_impassability_flags; // the definition's
    int16_t path_index; // NONE
    angle desired_yaw;
    angle final_desired_yaw;
    world_point2d waypoints[MAXIMUM_WAYPOINTS_PER_MONSTER];
    world_point2d path_destination;
    world_point2d target_location;
    world_point2d last_target_location;
    int16_t target_location_height;
    int16_t deferred_target_index;
    int16_t attack_timer;
    int16_t confusion_timer;
    int16_t estimated_projectile_flight_time;
    angle estimated_projectile_pitch;
    int16_t projectile_initial_velocity;
    int16_t avoiding_object_index;
    int16_t pick_up_object_index;
    int16_t pick_up_object_identifier;
    int16_t aggressor_monster_index;
    int16_t internal_command_identifier;
    short_fixed mana;
    int16_t formation_identifier;
    int16_t formation_position; // local
    int16_t formation_index; // local
    int16_t last_formation_index; // local
    angle formation_angle;
    int16_t height_over_mesh;
    int16_t repeated_obstruction_count;
    int16_t path_segment_length;
    int8_t waypoint_count; // 0..4
    int8_t waypoint_index;
    int8_t ammunition_count;
    uint8_t display_dirty_flags; // local: the status bar clears them as it draws
    uint8_t experience;
    int8_t battles_survived;
    int8_t original_name_string_index;
    int8_t maximum_artifacts_carried; // 0..9
    int8_t held_object_count;
    uint8_t orig_color_table_index;
    int16_t collection_reference_index;
    int16_t held_object_indexes[MAXIMUM_HELD_OBJECTS_PER_MONSTER];
    int16_t current_local_projectile_group_index; // local, NONE
    int16_t current_overhead_text_index; // local, NONE
    uint32_t artifact_timer;
    int16_t orig_type;
    int16_t orig_base_movement_speed;
    // Offset of its ambient-life block in that module's pool; NONE: none.
    // An offset, not a pointer: the pool moves blocks when it compacts.
    int32_t monster_map_action_data;
    int32_t map_action_index; // NONE
    int32_t marker_index; // NONE
    angle propelled_yaw;
    int16_t propelled_timer;
    int16_t propulsion_speed;
    char name[MAXIMUM_MONSTER_NAME_LENGTH + 1];
};

// The unit record's fields the state hash leaves out, each local to one
// machine: shown only (display_dirty_flags, which the status bar clears as it
// draws; the overhead text and local projectile groups shown), the formation's
// local bookkeeping, and an offset into another module's pool.  Every other
// byte of the record is hashed; a field added to the record goes into the
// hash or into this list (monsters_test checks each byte).
#define MONSTER_UNHASHED_FIELDS(X)                                                                                    \
    X(local_projectile_group_index)                                                                                   \
    X(formation_position) X(formation_index) X(last_formation_index) X(display_dirty_flags)                           \
    X(current_local_projectile_group_index) X(current_overhead_text_index) X(monster_map_action_data)

// Called with (unit index, monster_died_flags) when a unit dies, changes owner
// or is deleted.
typedef void (*monster_died_procedure)(int32_t monster_index, uint32_t died_flags);
// The procedure of one action, called once per tick with the unit's index.
typedef void (*monster_action_procedure)(int32_t monster_index);

// Indexed by `action`; slot 0 stays empty.  The action machine fills it.
extern monster_action_procedure monster_action_fns[NUMBER_OF_MONSTER_ACTIONS];

// ---- life cycle ---------------------------------------------------------------

// Once at start-up: the "monster" array and the 'mons', 'arti' and 'unit'
// groups.  False when one cannot be made.
bool initialize_monsters(void);
void initialize_monsters_for_new_map(void);
// The array, then the 'mons', 'arti' and 'unit' definitions of the old map.
void dispose_monsters_from_old_map(void);

datum_globals *get_monster_array(void);
// The unit array; only this module writes it (get_monster_data reads it
// inline: a unit's tick asks for records dozens of times).
extern datum_globals monster_data_globals;
// The record at `index`, null for a free slot or an index out of range.
inline monster_data *get_monster_data(int32_t monster_index)
{
    if (!monster_data_globals.blocks || monster_index < 0 || monster_index >= monster_data_globals.capacity)
        return nullptr;
    return (monster_data *)get_datum(&monster_data_globals, monster_index);
}
// monsters_are_allied for two used records of the array, read straight from
// them (the core's unit facts that it asks for come from the same fields): for
// the scans that meet every unit of a region.
bool monster_records_are_allied(const monster_data *a, const monster_data *b);

// Adds a died procedure to the ordered list (cseries/registration.h): a null
// one, one listed already and a ninth are refused with the lists' logged
// assertion and not stored.  False when refused.
bool register_monster_died_procedure(monster_died_procedure procedure);
int32_t get_monster_died_proc_count(void);
// Tells every died procedure (a unit that left the mesh, for instance).
void call_monster_died_procedures(int32_t monster_index, uint32_t died_flags);
// Tests: forget every died procedure.
void reset_monster_died_procs(void);

// Fills the freshly allocated record `monster_index` (zeroed by the array)
// for its object; every step and draw in docs/determinism.md.
void init_monster(int32_t monster_index, int16_t monster_type, int16_t unit_type, int32_t object_index,
                  int16_t player_index, int16_t team_index, uint32_t palette_entry_flags,
                  const world_point2d *location, bool reset_underwater_flags);

// Removes a unit without a death.  A free slot's object, path and record are
// never touched (from gameplay version 1811 nothing at all happens for it;
// before, the died procedures are still called).
void delete_monster(int32_t monster_index, bool show_censored_death);
// Obstacle collection keeps a copy of what the unit says of itself as an
// obstacle (objects.h, obstacle_facts): called after every write of its
// action, its needs-new-path flag, its invisible extra flag, its speed or
// its team.
void unit_obstacle_facts_changed(const monster_data *monster);
// What the unit says of its object as an obstacle (objects.h).
struct obstacle_unit_facts unit_obstacle_facts(const monster_data *monster);

// Resolves a unit marker palette entry: the unit definition (the captain's
// copy for a team's entry) and the player and team its units get.
void new_monster_palette_entry(marker_palette_entry *entry);

// ---- neighbouring services init_monster calls --------------------------------

// The impassability of a unit's footprint at `location` for a unit whose
// terrain_impassability_flags are `terrain_flags` (bit n: terrain type n is
// barred): bit 0 and bit 1 the cell's two triangles impassable, bits 4-7
// leaving toward lower y, lower x, higher y, higher x barred.  The rule is in
// docs/determinism.md ("Cell impassability").
uint8_t build_cell_impassability_flags(uint16_t terrain_flags, const world_point2d *location);

// A fresh formation identifier (1, 2, ... per map, never 0 or NONE) and the
// default formation type.
int16_t get_formation_identifier(void);
int16_t get_default_formation_index(void);

// Bit t for every team t with a unit on the map (not left the mesh) whose
// object stands within `radius` of the point (squared distances in 64 bits):
// the flags' question, registered with them.
uint32_t teams_with_units_near_point(const world_point2d *point, int32_t radius);

// Adds every synchronized field of every used record, in index order.
void hash_monsters(uint32_t *hash);

// Registers the start-up step, the per-map stores, the unit facts and the
// state hash (game/subsystems.cpp).
void register_monster_hooks(void);
