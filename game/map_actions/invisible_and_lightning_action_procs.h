#pragma once
// Searchers hunting a hidden unit ('invi') and scripted lightning ('ligh').

#include <cstdint>

uint32_t invisible_action_proc(int32_t action_index);
uint32_t lightning_action_proc(int32_t action_index);
