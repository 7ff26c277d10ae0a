#pragma once
// 'math': arithmetic and logic over numbers held in map-action parameters,
// in 32.32 fixed point, the result written back into parameters.

#include <cstdint>

#include "map_actions.h"

// A signed 64-bit number in 32.32 form.
typedef int64_t long_fixed;

// One side's operand: the integer, the fixed value, or the named parameter of
// another action (first rule that applies), then 'not', then 'negative'.
long_fixed get_operand(int32_t action_index, field_tag integer_name, field_tag fixed_name, field_tag action_name,
                       field_tag field_name_name, field_tag negative_name, field_tag not_name);

uint32_t math_action_proc(int32_t action_index);
