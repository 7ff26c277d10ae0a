#pragma once
// Ambient life: the wildlife and villagers of a map ('bear', 'chic', 'deer', 'peas', 'soar'), each unit with a small behaviour record from a fixed pool.

#include <cstdint>

uint32_t bear_action_proc(int32_t action_index);
uint32_t chicken_action_proc(int32_t action_index);
uint32_t deer_action_proc(int32_t action_index);
uint32_t peasant_action_proc(int32_t action_index);
uint32_t soaring_action_proc(int32_t action_index);
