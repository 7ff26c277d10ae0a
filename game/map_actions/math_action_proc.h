#pragma once
// 'math': arithmetic and logic over numbers held in map-action parameters,
// in 32.32 fixed point, the result written back into parameters.

#include <cstdint>

#include "map_actions.h"

// A signed 64-bit number in 32.32 form.
typedef int64_t long_fixed;

uint32_t math_action_proc(int32_t action_index);
