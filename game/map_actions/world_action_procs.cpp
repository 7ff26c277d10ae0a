#include "world_action_procs.h"

#include "action_procs.h"

uint32_t movement_command_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t meander_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t melee_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t move_marker_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t mesh_cell_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t model_animation_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t model_effect_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}
