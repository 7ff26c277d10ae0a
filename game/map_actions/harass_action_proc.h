#pragma once
// Hit-and-run harassers ('girl').

#include <cstdint>

uint32_t harass_action_proc(int32_t action_index);
