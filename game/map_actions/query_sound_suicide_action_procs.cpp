#include "query_sound_suicide_action_procs.h"

#include "action_procs.h"

uint32_t query_units_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t sound_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t ambient_sound_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t suicide_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}
