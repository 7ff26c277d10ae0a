#pragma once
// Hit-and-run harassers ('girl').
//
// A small group of units picks up throwable objects, circles enemy spatial
// groups, attacks them from behind, retreats from their reach, falls back to
// a guard waypoint and turns suicidal when badly hurt; with the flag 'timd'
// it keeps its distance measured against the enemy's reach instead.  The
// run-time state lives whole in the action's '#glo' entry (raw bytes, host
// order, never a pointer).  Every order carries the internal command
// identifier -2.  The rules and the draws are in docs/determinism.md
// ("Harass").

#include <cstddef>
#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

enum
{
    MAXIMUM_MONSTERS_PER_HARASS_GROUP = 64,
    DEFAULT_VISIBILITY_RADIUS = 20480,
    DEFAULT_PROJECTILE_SEARCH_RADIUS = 20480,
    DEFAULT_HARASS_SUICIDE_FRACTION = 0x40, // 0.25
    DEFAULT_HARASS_RETREAT_FRACTION = 0x100, // 1.0
    DEFAULT_HARASS_DELAY_BEFORE_REEVALUATING = 1,
    WAYPOINT_WANDER_RADIUS = 2560,
    MINIMUM_CIRCLING_RADIUS = 3072,
    CIRCLING_PAD = 1024,
    HARASS_GLOBALS_SIZE = 1064,
};

enum harass_field_names : uint32_t
{
    _harass_field_name_globals = FOUR_CHARACTER_CODE('#', 'g', 'l', 'o'),
    _harass_field_name_visibility_radius = FOUR_CHARACTER_CODE('r', 'a', 'd', 'i'),
    _harass_field_name_scan_for_projectile_radius = FOUR_CHARACTER_CODE('p', 'r', 'r', 'a'),
    _harass_field_name_delay_before_reevaluating = FOUR_CHARACTER_CODE('r', 'e', 'e', 'v'),
    _harass_field_name_delay = FOUR_CHARACTER_CODE('d', 'e', 'l', 'a'),
    _harass_field_name_guard_waypoint = FOUR_CHARACTER_CODE('w', 'a', 'y', 'p'),
    _harass_field_name_casualty = FOUR_CHARACTER_CODE('c', 'a', 's', 'u'),
    _harass_timid_flag = FOUR_CHARACTER_CODE('t', 'i', 'm', 'd'),
};

enum harass_state
{
    _harass_state_idle = 0,
    _harass_state_picking_up_item_to_throw,
    _harass_state_returning_to_waypoint,
    _harass_state_circling_around_enemy,
    _harass_state_attacking_enemy,
    _harass_state_suiciding_enemy,
    _harass_state_retreating_from_enemy,
    _harass_state_fleeing,
    _harass_state_looking_for_item,
    _harass_state_moving_in,
    _harass_state_heading_for_waypoint,
    NUMBER_OF_HARASS_STATES // 11
};

enum harass_unit_flags : uint16_t
{
    _harass_unit_carrying_item_flag = 1,
    _harass_unit_cant_carry_item_flag = 2,
    _harass_unit_in_enemy_range_flag = 4, // never set
};

// In a namespace: the follow record has a flag of the same name.
namespace harass_globals_flags {
enum : uint32_t
{
    _globals_initialized_flag = 1,
    _globals_has_waypoint_flag = 2,
};
} // namespace harass_globals_flags

struct harass_unit_data
{
    int16_t monster_index;
    int16_t monster_identifier;
    short_fixed last_vitality; // the object's vitality at the end of the last normal-mode run
    int16_t state; // harass_state
    int16_t sought_object_index; // 0 until first changed
    uint16_t flags; // harass_unit_flags
    int16_t fear_countdown; // never set
    int16_t delay; // timid mode: triggers until the next evaluation
};
static_assert(sizeof(harass_unit_data) == 16);
static_assert(offsetof(harass_unit_data, state) == 6);
static_assert(offsetof(harass_unit_data, delay) == 14);

struct harass_globals
{
    int16_t action_index;
    int16_t pad;
    world_distance visibility_radius;
    world_distance projectile_search_radius;
    world_distance distance_before_committing_to_the_attack; // never set
    short_fixed suicide_fraction;
    short_fixed retreat_fraction;
    int32_t delay_before_reevaluating;
    int16_t team_index; // the first unit's, NONE
    int16_t unit_count;
    harass_unit_data units[MAXIMUM_MONSTERS_PER_HARASS_GROUP];
    world_point2d waypoint;
    uint32_t flags; // harass_globals_flags
};
static_assert(sizeof(harass_globals) == HARASS_GLOBALS_SIZE);
static_assert(offsetof(harass_globals, visibility_radius) == 4);
static_assert(offsetof(harass_globals, suicide_fraction) == 16);
static_assert(offsetof(harass_globals, delay_before_reevaluating) == 20);
static_assert(offsetof(harass_globals, team_index) == 24);
static_assert(offsetof(harass_globals, units) == 28);
static_assert(offsetof(harass_globals, waypoint) == 1052);
static_assert(offsetof(harass_globals, flags) == 1060);

// 4 once every unit of the group is gone, else 0: the action stays active.
uint32_t harass_action_proc(int32_t action_index);

// The best throwable object for `unit` of `globals` in normal mode: a used,
// visible dormant projectile of the unit's desired volume that no unit of the
// group seeks, explosive before lethal before the rest; NONE when none.
int32_t find_nearby_object(const harass_globals *globals, int32_t unit);
