#pragma once
// Unit queries ('quni'), sounds ('soun', 'ambi', both local) and suicide units ('suic').

#include <cstdint>

uint32_t query_units_action_proc(int32_t action_index);
uint32_t sound_action_proc(int32_t action_index);
uint32_t ambient_sound_action_proc(int32_t action_index);
uint32_t suicide_action_proc(int32_t action_index);
