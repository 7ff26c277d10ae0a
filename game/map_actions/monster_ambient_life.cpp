#include "monster_ambient_life.h"

#include "action_procs.h"

uint32_t bear_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t chicken_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t deer_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t peasant_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t soaring_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}
