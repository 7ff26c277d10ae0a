#pragma once
// Unit indicators ('uind', local) and world knots exchanging waves of units ('knot').

#include <cstdint>

uint32_t unit_indicators_action_proc(int32_t action_index);
uint32_t world_knot_action_proc(int32_t action_index);
