#include "group_movement_action_procs.h"

#include "action_procs.h"

uint32_t rout_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t surround_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t look_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t wander_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t follow_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t lead_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}
