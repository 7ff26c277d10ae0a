#pragma once
// Legions holding a line ('legi').

#include <cstdint>

uint32_t legion_action_proc(int32_t action_index);
