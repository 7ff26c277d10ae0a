#pragma once
// Group state procedures: groups that hold states ('grou'), guard ('guar'), split up ('spup'), and platoons of squads ('plat', 'squa').
//
// A group action owns units ('subj') and a list of state actions ('stat');
// each run it triggers its state actions, which act on the group's units and
// may change the group's state.  A platoon owns squads, each a formation of
// units, and one current state action ('#cst') that moves the squads
// (platoon_movement_action_proc.h).  All of it runs inside the lock-step
// tick: integer arithmetic, vesk_random only where docs/determinism.md
// ("Groups and platoons") says, and unit orders carried out at once.

#include <cstdint>

#include "map_actions.h"
#include "world.h"

struct spatial_group;

enum
{
    MAXIMUM_NUMBER_OF_GROUP_STATES = 16,
    // A guard or platoon whose nearest enemy lies this far or farther
    // beyond the inner radius never attacks.
    MAXIMUM_PROXIMITY_TO_INNER_RADIUS = 8192,
    // Squads one platoon orders, tests and resets.
    MAXIMUM_PLATOON_SQUADS = MAXIMUM_LOCAL_ACTION_IDENTIFIERS,
};

// 'subs' of a group: running its states, or NONE after a state change.
enum { _substate_active = 0 };
// 'subs' of a guard state action.
enum { _substate_guarding = 0, _substate_attacking = 1 };

uint32_t group_action_proc(int32_t action_index);
uint32_t guard_group_action_proc(int32_t action_index);
uint32_t split_up_group_action_proc(int32_t action_index);
uint32_t platoon_action_proc(int32_t action_index);
uint32_t squad_action_proc(int32_t action_index);

// Makes the listed actions the group's state: each gets 'subs' NONE, the
// group's 'stat' becomes the list and its 'subs' NONE (which ends the
// group's current run).  Traces "isn't a group action!" and changes nothing
// when the action is no 'grou'; a list longer than 16 is cut to 16 with an
// error trace.  The identifiers may lie in the parameter buffer.
void set_group_action_state(int32_t group_action_index, const int16_t *state_action_identifiers, int32_t count);

// Makes the state action current ('#sub' NONE on it, '#cst' naming it) and
// resets the platoon's squads; NONE (or a free slot) empties '#cst'.
// Traces "isn't a platoon action!" when the action is no 'plat'.
void set_platoon_state(int32_t platoon_action_index, int32_t state_action_index);
// Empties the platoon's '#squ' and triggers each squad initializer of 'init'
// (its '#owp' set to the platoon first), so the squads report again.
void reset_platoon(int32_t platoon_action_index);
// Orders every squad of '#squ' to its place around `destination`, the
// platoon turned to `facing` (generate_squad_movement_commands).
void generate_platoon_movement_commands(int32_t platoon_action_index, const world_point2d *destination, angle facing);
// One movement order for the squad's units: its 'cent' rotated about the
// platoon's origin by (platoon facing - final facing) and moved by
// (destination - origin), formation 'form', final facing + 'faci', given in
// the squad's identifier so the squad succeeds when its units arrive.  A
// squad that cannot be ordered (no 'squa', no living units, no 'cent' or
// 'form') is marked succeeded instead.
void generate_squad_movement_commands(int32_t squad_action_index, const world_point2d *platoon_origin,
                                      const world_point2d *destination, angle platoon_facing, angle final_facing);
// Marks the squad succeeded when none of its units lives; NONE is ignored.
void test_squad_for_elimination(int32_t squad_action_index);

// ---- shared with the platoon movement -------------------------------------------------

// The spatial group of a team neither `team_index` nor allied towards by it
// whose distance from `point` minus its radius is smallest (the first of
// equals), that distance into `distance`; null when there is none.
spatial_group *closest_enemy_spatial_group(const world_point2d *point, int32_t team_index, int32_t *distance);
// The guard rule: attack when the enemy lies inside the inner radius; within
// MAXIMUM_PROXIMITY_TO_INNER_RADIUS beyond it, and inside the outer radius,
// attack when already attacking, or else by one vesk_random draw against
// 16384 + p * 16384 / (inner - outer).  Nothing beyond the outer radius.
bool guard_radii_call_for_attack(int32_t distance, int32_t inner, int32_t outer, bool already_attacking);
