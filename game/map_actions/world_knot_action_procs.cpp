#include "world_knot_action_procs.h"

#include "action_procs.h"

uint32_t unit_indicators_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t world_knot_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}
