#include "legion_action_proc.h"

#include "action_procs.h"

uint32_t legion_action_proc(int32_t action_index)
{
    return action_proc_not_built_yet(action_index);
}
