#pragma once
// Modal loops: nested main loops that feed the input actions to one procedure.
//
// A modal loop keeps the whole program running (update_everything: input,
// network, game ticks, drawing) while its caller waits, and hands every input
// action to the loop's procedure before the global keys and the dialogs see
// it.  Loops nest: each keeps the procedure and data of the loop it interrupts
// and puts them back when it ends, and each returns the game to the state it
// interrupted.
//
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h" // modal_loop_callback, action_data

// The running loop's procedure and data (procedure NULL: no loop runs).
struct modal_loop_globals
{
    modal_loop_callback procedure;
    void *data;
};

// Runs passes of the main loop in game state `state` (one of the modal states
// 14, 15 or 16) until `procedure`, asked with a NULL action after each pass,
// answers true; then restores the interrupted loop and game state.  A NULL
// procedure or a state that is not a modal one is refused (logged) and
// nothing runs.
void modal_loop(void *data, modal_loop_callback procedure, int16_t state);

// The core's modal-loop action consumer: hands the action to the running
// loop's procedure with its data.  False when no loop runs.
bool modal_loop_handled_action(action_data *action);

// True while a modal loop runs.
bool modal_loop_is_running(void);
