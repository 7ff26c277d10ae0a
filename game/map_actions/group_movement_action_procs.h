#pragma once
// Group movement procedures: rout ('rout'), surround ('surr'), look ('look'), wander ('wand'), follow ('foll') and lead ('lead').
//
// Each moves a script's units as a body from the spatial groups of the
// current pass and orders them through the unit-command layer with an
// internal command identifier, so the orders are carried out at once on
// every machine.  Lock-step simulation: integers only, draws of vesk_random
// only where docs/determinism.md ("Group movement scripts") says.  Surround
// and follow keep one fixed-size record each as a run-time entry of their own
// action (type 1, host order, never a pointer); lead keeps six integers.

#include <cstddef>
#include <cstdint>

#include "world.h"

enum
{
    // Units read from a 'subj' entry of rout, look and lead.
    MAXIMUM_GROUP_MOVEMENT_UNITS = 400,
    MAXIMUM_WANDERING_MONSTERS = 126,

    MAXIMUM_SURROUND_ANGULAR_DELTA = 10922,

    MAXIMUM_FOLLOWING_MONSTERS = 16,
    MAXIMUM_FOLLOWED_MONSTERS = 12,
    DEFAULT_FOLLOW_VISIBILITY_RADIUS = 7680,
    DEFAULT_FOLLOW_RADIUS = 256,
    POWER_OVER_DISTANCE_THRESHHOLD = 1024,
    MINIMUM_DESIRED_DISTANCE = 512,
    FALLEN_BEHIND_DISTANCE = 1536,
    FALLING_BEHIND_DISTANCE = 2560,

    // Lead: the most waypoints a leading_data holds (a 'wayp' entry may
    // give one fewer), and the most identifiers of each of its lists
    // ('flee', 'beck', 'died', 'gone', 'succ', all entries combined).
    MAXIMUM_ALLOWED_WAYPOINTS = 16,
    MAXIMUM_LEAD_ACTION_IDENTIFIERS_PER_LIST = 5,
    DEFAULT_LEAD_TARGET_RANGE = 1024,
    DEFAULT_YELLING_LOWER_BOUND = 120,
    DEFAULT_YELLING_DELTA = 0,
    DEFAULT_BECKONING_LOWER_BOUND = 120,
    DEFAULT_BECKONING_DELTA = 0,
    DEFAULT_MINIMUM_RADIUS_BEFORE_FLEEING = 3072,
    DEFAULT_FLEEING_RADIUS = 1024,
};

// ---- surround: the '#cst' record (12 bytes) -----------------------------------------------

enum surround_state
{
    _surround_state_surrounding = 0,
    _surround_state_attacking = 1,
};

struct surround_action_proc_globals
{
    int16_t state; // surround_state; never goes back to surrounding
    int16_t original_monster_count; // the first count seen, NONE before
    int32_t losses_causing_a_charge; // 'loss', NONE: never
    int32_t time_causing_a_charge; // 'time', counted down once per run; NONE: never
};
static_assert(sizeof(surround_action_proc_globals) == 12);
static_assert(offsetof(surround_action_proc_globals, original_monster_count) == 2);
static_assert(offsetof(surround_action_proc_globals, losses_causing_a_charge) == 4);
static_assert(offsetof(surround_action_proc_globals, time_causing_a_charge) == 8);

// ---- follow: the '#glo' record (32 bytes) -------------------------------------------------

// The flags stand in their own namespace: other procedures' records use the
// same names for their own bits.
namespace follow_globals_flags
{
enum : uint32_t
{
    _globals_initialized_flag = 1,
    _falling_behind_flag = 2,
    _abandoned_flag = 4,
    _followed_monsters_valid_flag = 8,
    _stop_when_idle_flag = 16,
    _blinkered_flag = 32,
};
} // namespace follow_globals_flags

struct follow_action_proc_globals
{
    int16_t state; // left 0
    int16_t action_index; // the action that set the record up
    uint32_t flags; // follow_globals_flags
    world_distance visibility_radius; // 'radi' when set up
    world_distance follow_radius; // 'fora' when set up
    world_point2d actual_centerpoint; // the followers' centre at the last run
    world_point2d desired_centerpoint; // where they were last sent
};
static_assert(sizeof(follow_action_proc_globals) == 32);
static_assert(offsetof(follow_action_proc_globals, action_index) == 2);
static_assert(offsetof(follow_action_proc_globals, flags) == 4);
static_assert(offsetof(follow_action_proc_globals, visibility_radius) == 8);
static_assert(offsetof(follow_action_proc_globals, follow_radius) == 12);
static_assert(offsetof(follow_action_proc_globals, actual_centerpoint) == 16);
static_assert(offsetof(follow_action_proc_globals, desired_centerpoint) == 24);

// ---- the procedures ----------------------------------------------------------------------------

// Each unit of 'subj' not under a player's control to its nearest 'dest'
// point (internal command identifier: the action's index).  6 when no unit
// is left, else 0.
uint32_t rout_action_proc(int32_t action_index);
// Spreads 'subj' around the nearest enemy spatial group until 'loss'
// casualties or 'time' runs, then hands them to the attack AI ('acat'
// activated once).  4 when no unit is left, else 0.
uint32_t surround_action_proc(int32_t action_index);
// 2 when an enemy spatial group reaches into the circle of 'subj', or when no
// unit of 'subj' exists; else 0.
uint32_t look_action_proc(int32_t action_index);
// Each unit of 'subj' to a random point within 'radi' of 'cent': two draws
// per unit, the angle first.  2 after ordering; 0 (nothing drawn) without
// units, centre or a radius other than 0.
uint32_t wander_action_proc(int32_t action_index);
// Keeps 'subj' behind the 'obje' units or the nearest friendly supergroup,
// away from enemies.  4 when either side is gone, else 0.
uint32_t follow_action_proc(int32_t action_index);
// The 'lead' unit leads 'subj' to waypoints, a unit or an object, waiting,
// beckoning and fleeing.  4 when it ends (its 'succ', 'died' and 'gone' lists
// tell why), else 0; never 2.
uint32_t lead_action_proc(int32_t action_index);
