// Requests for state changes and the interrupting states' bookkeeping.

#include "game_states.h"

#include "game_time.h"

static struct game_state_globals
{
    bool change_pending;
    int16_t pending_state;
} game_state_globals;

static bool game_state_is_valid(int16_t state)
{
    switch (state)
    {
#define GAME_STATE_CASE(identifier, number, name, interrupting) case number:
        GAME_STATE_LIST(GAME_STATE_CASE)
#undef GAME_STATE_CASE
        return true;
    default: return false;
    }
}

bool game_state_is_interrupting(int16_t state)
{
    switch (state)
    {
#define GAME_STATE_CASE(identifier, number, name, interrupting) case number: return interrupting;
        GAME_STATE_LIST(GAME_STATE_CASE)
#undef GAME_STATE_CASE
    default: return false;
    }
}

void set_game_state(int16_t state)
{
    if (!game_state_is_valid(state) || game_state_is_interrupting(state) || state == _game_state_starting_up)
    {
        log_message(__FILE__, __LINE__, "refused a request for game state %d", state);
        return;
    }
    // The player asked to leave (the window closed, Quit): no later request,
    // such as a dialog's cancel going back to the menu, takes that back.
    if (game_state_globals.change_pending && game_state_globals.pending_state == _game_state_quit &&
        state != _game_state_quit)
    {
        log_message(__FILE__, __LINE__, "game state %d not taken: the program is quitting", state);
        return;
    }
    game_state_globals.change_pending = true;
    game_state_globals.pending_state = state;
}

bool game_state_change_pending(int16_t *state)
{
    if (state && game_state_globals.change_pending) *state = game_state_globals.pending_state;
    return game_state_globals.change_pending;
}

void clear_pending_game_state(void)
{
    game_state_globals.change_pending = false;
    game_state_globals.pending_state = NONE;
}

int16_t enter_interrupting_game_state(int16_t state)
{
    if (!game_state_is_interrupting(state))
    {
        log_message(__FILE__, __LINE__, "game state %d is not an interrupting state", state);
        return NONE;
    }
    const int16_t interrupted = game_->state;
    if (!game_state_is_interrupting(interrupted)) game_->state_when_in_modal_loop = interrupted;
    game_->state = state;
    return interrupted;
}

void leave_interrupting_game_state(int16_t interrupted_state)
{
    if (!VASSERT(game_state_is_interrupting(game_->state), "leaving an interrupting state that was not entered"))
        return;
    if (!VASSERT(game_state_is_valid(interrupted_state), "bad interrupted state")) return;
    game_->state = interrupted_state;
}

int16_t get_underlying_game_state(void)
{
    return game_state_is_interrupting(game_->state) ? game_->state_when_in_modal_loop : game_->state;
}

const char *game_state_name(int16_t state)
{
    switch (state)
    {
#define GAME_STATE_CASE(identifier, number, name, interrupting) case number: return name;
        GAME_STATE_LIST(GAME_STATE_CASE)
#undef GAME_STATE_CASE
    default: return "unknown";
    }
}
