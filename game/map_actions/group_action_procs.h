#pragma once
// Group state procedures: groups that hold states ('grou'), guard ('guar'), split up ('spup'), and platoons of squads ('plat', 'squa').

#include <cstdint>

uint32_t group_action_proc(int32_t action_index);
uint32_t guard_group_action_proc(int32_t action_index);
uint32_t split_up_group_action_proc(int32_t action_index);
uint32_t platoon_action_proc(int32_t action_index);
uint32_t squad_action_proc(int32_t action_index);
