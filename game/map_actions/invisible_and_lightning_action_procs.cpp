#include "invisible_and_lightning_action_procs.h"

#include "action_procs.h"

uint32_t invisible_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}

uint32_t lightning_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}
