#pragma once
// The game-state machine.  A state change is requested with set_game_state and
// applied once, at the start of the next main-loop pass (update_everything):
// the old state's exit action runs (leaving a game disposes its map), the
// screen is set for the new state and its entry action runs.
//
// Interrupting states (a cutscene, the three modal states) are not requested:
// the code that runs them enters and leaves them around its own loop, and each
// restores exactly the state it interrupted, however deeply they nest.  While
// one runs, a requested change waits until the last of them is left.
//
// The state is never stored or sent.

#include "cseries/cseries.h"

// The states: identifier, number (fixed: films and peers never carry it, but
// the numbers are the ones every later subsystem is written against), name,
// and whether it interrupts another state.  8 and 13 are unused.
#define GAME_STATE_LIST(X)                                                   \
    X(starting_up, 0, "starting up", false) /* before the first state */     \
    X(quit, 1, "quit", false)               /* the main loop ends */         \
    X(displaying_main_menu, 2, "main menu", false)                           \
    X(running, 3, "running", false)                                          \
    X(new_game, 4, "new game", false)                                        \
    X(network_setup, 5, "network setup", false)                              \
    X(preferences, 6, "preferences", false)                                  \
    X(post_game, 7, "post-game", false)                                      \
    X(displaying_intro_sequence, 9, "intro", false)                          \
    X(displaying_mesh_prologue, 10, "prologue", false)                       \
    X(displaying_mesh_epilogue, 11, "epilogue", false)                       \
    X(displaying_cutscene, 12, "cutscene", true)                             \
    X(modal_dialog, 14, "modal dialog", true)                                \
    X(modal_loop, 15, "modal loop", true)                                    \
    X(modal_draw_loop, 16, "modal draw loop", true)

#define GAME_STATE_ENUM_VALUE(identifier, number, name, interrupting) _game_state_##identifier = number,
enum game_state
{
    GAME_STATE_LIST(GAME_STATE_ENUM_VALUE)
    NUMBER_OF_GAME_STATES = 17
};
#undef GAME_STATE_ENUM_VALUE

// Requests a change to `state`; the last request before the next pass wins,
// except that a pending quit is never replaced (logged).  A state outside the
// table, or an interrupting state, is refused (logged).
void set_game_state(int16_t state);

// True while a requested change waits; `state` (may be null) gets it.
bool game_state_change_pending(int16_t *state);

// Forgets a pending request (start-up, tests).
void clear_pending_game_state(void);

// True for the cutscene and modal states.
bool game_state_is_interrupting(int16_t state);

// Enters an interrupting state and returns the state it interrupted, which
// the caller keeps and hands back to leave_interrupting_game_state.
// game_->state_when_in_modal_loop holds the state under all interrupting
// states (never an interrupting one), for readers that ask what is under the
// modal loop.  NONE (nothing changed) for a state that is not interrupting.
int16_t enter_interrupting_game_state(int16_t state);

// Restores the state that the matching enter returned.  When that state is
// not an interrupting one, the outermost loop has ended.
void leave_interrupting_game_state(int16_t interrupted_state);

// The current state, or for an interrupting state the one beneath it.
int16_t get_underlying_game_state(void);

// "main menu", "running"...; "unknown" outside the table.
const char *game_state_name(int16_t state);
