#include "netgame_action_procs.h"

#include "action_procs.h"

uint32_t player_count_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t netgame_time_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t game_type_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t custom_scoring_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t goal_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t object_control_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}
