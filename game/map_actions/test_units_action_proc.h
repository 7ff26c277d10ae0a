#pragma once
// The unit test ('tuni'): watches a set of units and succeeds or fails on their state.

#include <cstdint>

uint32_t test_units_action_proc(int32_t action_index);
