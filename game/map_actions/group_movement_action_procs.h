#pragma once
// Group movement procedures: rout ('rout'), surround ('surr'), look ('look'), wander ('wand'), follow ('foll') and lead ('lead').

#include <cstdint>

uint32_t rout_action_proc(int32_t action_index);
uint32_t surround_action_proc(int32_t action_index);
uint32_t look_action_proc(int32_t action_index);
uint32_t wander_action_proc(int32_t action_index);
uint32_t follow_action_proc(int32_t action_index);
uint32_t lead_action_proc(int32_t action_index);
