#pragma once
// The procedures of network games and custom scoring: 'plyc', 'plan', 'ngty',
// 'scor', 'goal', 'obco'.  None keeps state.  The tests ('plyc', 'plan',
// 'ngty') return _map_action_proc_succeeded_flag when every given condition
// holds and 0 otherwise; the engine's success and failure lists do the rest.
// docs/determinism.md ("Netgame procedures") writes down what they read and
// the one draw 'obco' takes.

#include <cstdint>

// 'plyc': the number of teams and of human players (optionally of one team).
uint32_t player_count_action_proc(int32_t action_index);
// 'plan': the state of the game clock and the time remaining.
uint32_t netgame_time_action_proc(int32_t action_index);
// 'ngty': the scoring type, the leading team and the patch level.
uint32_t game_type_action_proc(int32_t action_index);
// 'scor': sets, adds to and reports the scores of listed teams (scoring
// types 10-13 only; 13 switches the game to custom scoring).
uint32_t custom_scoring_action_proc(int32_t action_index);
// 'goal': gives a team a goal outline; always 0.
uint32_t goal_action_proc(int32_t action_index);
// 'obco': reveals or hides the dormant projectiles of one subgroup (flags,
// balls); in object_control_action_proc.cpp.
uint32_t object_control_action_proc(int32_t action_index);
