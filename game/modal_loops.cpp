// Modal loops.
#include "modal_loops.h"

static struct modal_loop_globals modal_loop_globals;

void modal_loop(void *data, modal_loop_callback procedure, int16_t state)
{
    (void)data;
    (void)procedure;
    (void)state;
}

bool modal_loop_handled_action(action_data *action)
{
    (void)action;
    return false;
}

bool modal_loop_is_running(void)
{
    return modal_loop_globals.procedure != nullptr;
}
