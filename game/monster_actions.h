#pragma once
// The unit action machine: the one door into an action (`set_monster_action`),
// the common way out (`set_most_appropriate_monster_action`), the small entry
// operations, and the per-tick procedures of the actions that end by
// themselves.  The moving, healing and propelled procedures come with the
// modules that own them and fill their slots of `monster_action_fns`.
//
// Simulation: integer arithmetic; every vesk_random draw and its order is in
// docs/determinism.md ("The unit action machine").  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

struct monster_attack_definition;
struct monster_data;

// The fixed table of internal projectile groups (the effects of healing,
// paralysis, stoning, teleporting and holding), resolved per map.
enum internal_projectile_group
{
    _internal_projectile_group_healing_start = 0,
    _internal_projectile_group_healing_effect,
    _internal_projectile_group_paralysis_start,
    _internal_projectile_group_paralysis_effect,
    _internal_projectile_group_paralysis_done,
    _internal_projectile_group_stoning_start,
    _internal_projectile_group_stoning_effect,
    _internal_projectile_group_stone_impact_effect,
    _internal_projectile_group_stone_detonation_effect,
    _internal_projectile_group_teleport_in,
    _internal_projectile_group_teleport_out,
    _internal_projectile_group_tain_in,
    _internal_projectile_group_tain_out,
    _internal_projectile_group_hold_effect,
    NUMBER_OF_INTERNAL_PROJECTILE_GROUPS // 14
};

enum
{
    // Games before it never made an internal group: their tags were not
    // looked up, so films and saves of those versions load no 'prgr' tag more
    // (which would move the definitions' indexes the state hash reads) and
    // replay as recorded.
    FIRST_GAMEPLAY_VERSION_WITH_INTERNAL_PROJECTILE_GROUPS = 1830,
};

// The 'prgr' tag of an internal group (both tain groups share one tag).
tag get_internal_projectile_group_tag(int32_t index);
// The resolved projectile group type of an internal group, NONE when absent
// or when `index` is outside the table.
int16_t get_internal_projectile_group_type(int32_t index);
// Resolves the 14 tags to projectile group types, loading them, from
// FIRST_GAMEPLAY_VERSION_WITH_INTERNAL_PROJECTILE_GROUPS on; every type is
// NONE below it.  A tag the map's files lack, or one that names no loadable
// projectile group, resolves to NONE: the map starts, and one log line names
// all such tags.  The units' map store step calls it, after the projectile
// groups are emptied.
void initialize_internal_projectile_groups_for_new_map(void);

// What new_internal_projectile_group asks the projectiles to make: a request
// of that type owned by and bounded by the unit's object, at its position,
// without velocity.
struct internal_projectile_group_request
{
    int16_t type;
    int16_t owner_object_index;
    int16_t bounds_object_index;
    int16_t owner_monster_index;
    world_point3d epicenter;
};
// Makes internal group `index` at the unit when its type is not NONE.
void new_internal_projectile_group(int32_t monster_index, int32_t index);

// ---- the machine ---------------------------------------------------------------

// Enters `action` (1..16).  Anything else is logged ("halt") and refused: the
// unit keeps its old action, so the next tick runs a procedure that exists.
void set_monster_action(int32_t monster_index, int32_t action, int32_t permutation);
void set_most_appropriate_monster_action(int32_t monster_index);
void set_monster_action_holding_for_attack(int32_t monster_index);
void set_monster_movement_animation(int32_t monster_index, int32_t permutation);
void make_monster_celebrate(int32_t monster_index);
// A free slot is ignored (logged) in every version.
void make_monster_taunt(int32_t monster_index);
void idle_monster_after_target_death(int32_t monster_index);
// The unit drops its target: no target unit, location or pending
// special ability; the attack counts as aborted.  The same for every caller
// (entering an action that drops the target, the confused unit's wander).
void forget_target(monster_data *monster);

// The unit's order has been carried out: when a map action gave it (the unit
// responds to a command and keeps an internal command identifier of 0 or
// more), that identifier goes to the map-action-succeeded procedure.  A
// player's order (NONE) and an order of no action (-2) report nothing.
void report_monster_order_completed(int32_t monster_index);

// Sets the object's colour permutation and marks the headshot display dirty.
// The fading copy is only seen, never simulated; it comes with the renderer's
// parasitic objects.
void crossfade_monster_color_table_permutation(int32_t monster_index, int16_t permutation, int16_t ticks);

// Action procedures, once per tick through monster_action_fns.  The per-tick
// update counts `attack_timer` down before them (resting at -1); the timed
// actions act once it is below 0.
void monster_idle(int32_t monster_index);
void monster_celebrating(int32_t monster_index);
void monster_taunting(int32_t monster_index);
void monster_attacking(int32_t monster_index);
void monster_blocking(int32_t monster_index);
void monster_picking_up(int32_t monster_index);
void monster_being_held(int32_t monster_index);
void monster_stoned(int32_t monster_index);
void monster_paralyzed(int32_t monster_index);
void monster_taking_damage(int32_t monster_index);

// Fills the slots of the procedures above in monster_action_fns (idempotent;
// initialize_monsters calls it).
void install_monster_action_procedures(void);

// ---- what the action machine calls -------------------------------------------
// The attacks (handle_monster_attack, the attack's sequence at the unit's
// pitch), the inventory (give_object_to_monster) and the projectiles
// (projectile_group_type_of_tag, new_projectile_group_for_unit) are called
// directly; only the map scripts, a later layer, answer through their table
// (map_action_procedures.h: a map action's order was carried out).

// Tests only: replaces the strike on the attack's key frame, the hand-over of
// a picked-up object and the internal projectile groups, so that the
// machine's steps are counted without real attacks, items or 'prgr' tags.  A
// null member keeps the real call; a null table restores them all.  Returns
// the previous table (null when none).  The program never calls it.
struct monster_action_test_procedures
{
    void (*handle_monster_attack)(int32_t monster_index, int32_t attack_index, bool execute);
    bool (*give_object_to_monster)(int32_t monster_index, int32_t object_index); // true when taken
    int16_t (*projectile_group_type)(tag group_tag); // NONE when absent
    void (*new_internal_projectile_group)(const internal_projectile_group_request *request);
};
const monster_action_test_procedures *set_monster_action_test_procedures(
    const monster_action_test_procedures *procedures);

// Makes `target_index` the unit's target (`flags`: the switch's mode,
// try_and_switch_target_indexes of monster_targets.h); false when refused.
bool switch_monster_target(int32_t monster_index, int32_t target_index, uint32_t flags);
// The unit's most appropriate target in `mode` (closest_most_appropriate_target); NONE when none.
int32_t find_closest_monster_target(int32_t monster_index, int32_t mode);


enum
{
    // The target switch's flag that rouses the unit's neighbours (its other
    // flags are in monster_targets.h: 0x1 is the command override).
    _switch_target_activate_adjacents_flag = 0x2,
    MONSTER_HOLD_TICKS = 1590,
};
