#include "unit_behaviour_action_procs.h"

#include "action_procs.h"

uint32_t assassin_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t shaman_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t pick_up_object_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}
