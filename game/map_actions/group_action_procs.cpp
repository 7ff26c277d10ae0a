#include "group_action_procs.h"

#include "action_procs.h"

uint32_t group_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t guard_group_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t split_up_group_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t platoon_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t squad_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}
