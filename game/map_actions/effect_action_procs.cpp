#include "effect_action_procs.h"

#include "action_procs.h"

uint32_t particle_system_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t local_projectile_group_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t ingame_fade_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}
