#pragma once
// The engine of the map actions: which actions are active, when an active
// action is triggered, what a trigger checks before it runs the action's
// procedure, and which actions are activated, deactivated or triggered in
// consequence.  Lock-step simulation: main thread, inside the game tick;
// draws and version gates as docs/determinism.md gives them.

#include <cstdint>

#include "map_action_procedures.h"
#include "map_actions.h"

// ---- the engine ----------------------------------------------------------------------

// The result flags of a trigger and of an action procedure.
constexpr uint32_t _map_action_proc_executed_flag = 1; // the procedure ran
constexpr uint32_t _map_action_proc_succeeded_flag = 2; // success lists follow
constexpr uint32_t _map_action_proc_deactivate_flag = 4; // deactivate whatever the mode

// The tick's map-action step: works only when game time is a multiple of 32.
// The core also runs it once at the end of map start-up, so at game time 0
// two passes happen (docs/determinism.md).
void update_map_actions(void);
// Each does nothing for NONE or a free slot (trigger returns 0).
void activate_map_action(int32_t action_index);
void deactivate_map_action(int32_t action_index);
uint32_t trigger_map_action(int32_t action_index);
void set_map_action_success(int32_t action_index);
void set_map_action_failure(int32_t action_index);
void set_map_action_error(int32_t action_index);
void reboot_map_action(int32_t action_index);
void belated_initial_activation(int32_t action_index);
// trigger_time_lower_bound + the random delay (one draw when delta > 0).
int32_t map_action_delay(const map_action *action);

// Tests: the slots whose activation or deactivation lists are running.
bool map_action_is_in_transition(int32_t action_index);
// Forgets the trigger stack and every transition mark (a new map).
void reset_map_action_engine(void);
// A demo game's team sent to attack at `game_time`: one team per 32-tick
// step in turn; NONE without teams.
int16_t demo_attacking_team_index(int32_t game_time);
// The map actions' table for the units and the model effects, whole (a
// completed order or effect, a new unit's ambient-life script, a dying unit's
// script); register_map_action_hooks registers it.
const map_action_procedures *map_action_engine_procedures(void);
