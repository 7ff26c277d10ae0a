#pragma once
// Unit and world procedures: movement commands ('move'), meandering ('mean'), melee bands ('mele'), moving markers ('moma'), mesh cells ('mece'), model animations ('anim') and model effects ('moef').

#include <cstdint>

uint32_t movement_command_action_proc(int32_t action_index);
uint32_t meander_action_proc(int32_t action_index);
uint32_t melee_action_proc(int32_t action_index);
uint32_t move_marker_action_proc(int32_t action_index);
uint32_t mesh_cell_action_proc(int32_t action_index);
uint32_t model_animation_action_proc(int32_t action_index);
uint32_t model_effect_action_proc(int32_t action_index);
