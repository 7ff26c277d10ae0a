// Modal loops.
//
// The game record keeps one state_when_in_modal_loop for everything, so a
// loop nested in another would lose the state the outer loop interrupted.
// Each loop therefore keeps the state it interrupted itself (what
// enter_interrupting_game_state hands back) and restores exactly that one.

#include "modal_loops.h"

#include "cseries/log.h"
#include "game_states.h"
#include "vesk.h"

static struct modal_loop_globals modal_loop_globals;

// Puts back the interrupted loop and game state however the loop is left
// (the test harness unwinds a loop whose script ran dry).
struct modal_loop_restorer
{
    struct modal_loop_globals interrupted_loop;
    int16_t interrupted_state;
    ~modal_loop_restorer(void)
    {
        modal_loop_globals = interrupted_loop;
        leave_interrupting_game_state(interrupted_state);
    }
};

void modal_loop(void *data, modal_loop_callback procedure, int16_t state)
{
    if (!VASSERT(procedure, "modal loop without a procedure")) return;
    if (!VASSERT(state == _game_state_modal_dialog || state == _game_state_modal_loop ||
                     state == _game_state_modal_draw_loop,
                 "not a modal game state"))
    {
        return;
    }

    const modal_loop_restorer restorer = {modal_loop_globals, enter_interrupting_game_state(state)};
    modal_loop_globals.procedure = procedure;
    modal_loop_globals.data = data;
    do
    {
        update_everything();
    } while (!procedure(data, nullptr));
}

bool modal_loop_handled_action(action_data *action)
{
    if (!action || !modal_loop_globals.procedure) return false;
    return modal_loop_globals.procedure(modal_loop_globals.data, action);
}

bool modal_loop_is_running(void)
{
    return modal_loop_globals.procedure != nullptr;
}
