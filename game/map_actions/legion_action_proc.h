#pragma once
// Legions holding a line ('legi').
//
// A legion is up to six groups of units that keep formation round a centre
// moving along a defence line, fall back along the line out of a dangerous
// enemy's reach and turn to the attack when the enemy comes close and the
// odds are good, when they took damage or when another legion calls them.
// Its state lives in the action's '#glo' entry (384 bytes, host order, the
// layout below); see docs/determinism.md ("Legions").

#include <cstddef>
#include <cstdint>

#include "world.h"

enum
{
    MAXIMUM_GROUPS_PER_LEGION = 6,
    MAXIMUM_MONSTERS_PER_LEGION = 60,
    MAXIMUM_POINTS_PER_LINE = 2,
    LEGION_GLOBALS_SIZE = 384,
    LEGION_GROUP_DATA_SIZE = 52,

    DEFAULT_LEGION_VISIBILITY_RADIUS = 25600,
    DEFAULT_LEGION_INNER_ATTACK_RADIUS = 10240,
    DEFAULT_LEGION_OUTER_ATTACK_RADIUS = 14336,
    DEFAULT_LEGION_ATTACK_POWER_RATIO = 2 * 65536, // 2.0
    DEFAULT_LEGION_VITALITY_DELTA = 65536, // 1.0
    DEFAULT_LEGION_POWER_OVER_DISTANCE_THRESHHOLD = 2048,
    DEFAULT_LEGION_FORMATION_INDEX = 1,
};

enum legion_globals_flags : uint32_t
{
    _legion_initialized_flag = 1,
    _legion_unable_to_retreat_flag = 2,
    _legion_in_range_flag = 4,
    _legion_threatened_flag = 8,
    _legion_took_damage_flag = 16,
    _legion_called_as_ally_flag = 32,
    _legion_is_circular_flag = 64,
};

enum legion_state
{
    _legion_state_moving = 0,
    _legion_state_attacking = 1,
};

struct legion_group_data
{
    world_point2d relative_centerpoint; // in the legion's frame
    angle relative_facing;
    uint16_t pad0;
    int32_t formation_index;
    int32_t guard_dependency_group_index; // NONE or a group index
    int16_t unit_container_action_index; // the action whose 'subj' lists the units; NONE: none
    int16_t monster_count; // this trigger's units
    // Where the group's units start in the trigger's unit list.  Set afresh
    // on every trigger; as stored it means nothing.
    int32_t monster_indexes;
    world_point2d actual_centerpoint;
    uint16_t flags;
    int16_t state; // legion_state
    world_point2d desired_centerpoint;
    angle desired_facing;
    uint16_t pad1;
};
static_assert(sizeof(legion_group_data) == LEGION_GROUP_DATA_SIZE);
static_assert(offsetof(legion_group_data, relative_facing) == 8);
static_assert(offsetof(legion_group_data, formation_index) == 12);
static_assert(offsetof(legion_group_data, guard_dependency_group_index) == 16);
static_assert(offsetof(legion_group_data, unit_container_action_index) == 20);
static_assert(offsetof(legion_group_data, monster_count) == 22);
static_assert(offsetof(legion_group_data, monster_indexes) == 24);
static_assert(offsetof(legion_group_data, actual_centerpoint) == 28);
static_assert(offsetof(legion_group_data, flags) == 36);
static_assert(offsetof(legion_group_data, state) == 38);
static_assert(offsetof(legion_group_data, desired_centerpoint) == 40);
static_assert(offsetof(legion_group_data, desired_facing) == 48);

struct legion_action_proc_globals
{
    uint32_t flags; // legion_globals_flags
    world_distance visibility_radius;
    world_distance inner_attack_radius;
    world_distance outer_attack_radius;
    fixed attack_power_ratio;
    fixed vitality_delta;
    int16_t action_index; // the action that set the record up
    int16_t state; // legion_state
    int32_t combined_friendly_vitality; // sum of the units' object vitality (8.8)
    int32_t combined_friendly_power;
    angle desired_facing;
    short_world_distance circle_radius;
    world_distance power_over_distance_threshhold;
    world_point2d desired_centerpoint;
    world_point2d line[MAXIMUM_POINTS_PER_LINE];
    int32_t group_count;
    legion_group_data groups[MAXIMUM_GROUPS_PER_LEGION];
};
static_assert(sizeof(legion_action_proc_globals) == LEGION_GLOBALS_SIZE);
static_assert(offsetof(legion_action_proc_globals, attack_power_ratio) == 16);
static_assert(offsetof(legion_action_proc_globals, action_index) == 24);
static_assert(offsetof(legion_action_proc_globals, combined_friendly_vitality) == 28);
static_assert(offsetof(legion_action_proc_globals, desired_facing) == 36);
static_assert(offsetof(legion_action_proc_globals, circle_radius) == 38);
static_assert(offsetof(legion_action_proc_globals, power_over_distance_threshhold) == 40);
static_assert(offsetof(legion_action_proc_globals, desired_centerpoint) == 44);
static_assert(offsetof(legion_action_proc_globals, line) == 52);
static_assert(offsetof(legion_action_proc_globals, group_count) == 68);
static_assert(offsetof(legion_action_proc_globals, groups) == 72);

// 4 when no unit is left or the fallback actions were started, else 0.
uint32_t legion_action_proc(int32_t action_index);
// Marks a legion called as an ally (read by its next trigger).  A 'legi'
// action not yet set up, NONE and free slots are left alone; any other tag
// is traced as an error.
void call_legion_as_ally(int32_t action_index);
