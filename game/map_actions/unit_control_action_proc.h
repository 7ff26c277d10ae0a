#pragma once
// Unit control ('ctrl'): changes owners, flags and states of units.

#include <cstdint>

uint32_t unit_control_action_proc(int32_t action_index);
