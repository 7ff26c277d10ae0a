#pragma once
// What the game core and the program ask of the input's action queue
// (game/input/action_queue), in one table the queue registers whole
// (`register_action_queue_procedures`).
//
// Every member may be null, and each is until the queue registers its table; the default
// of a null member is said beside it.  The table is kept by pointer: register
// a static record.  A null table, or a second one, is refused with an
// assertion and changes nothing.
//
// Main thread only; register before the main loop starts.

#include <cstdint>

struct action_queue_procedures
{
    // Drains the queued actions into the action consumers, once per pass of
    // the main loop; the local ticks they spanned (null member: no action is
    // taken, no local tick passes).
    int32_t (*update_actions)(void);
    // Forgets every queued action, at a change of game state (null member:
    // nothing to forget).
    void (*flush_actions)(void);
    // Starts (true) or stops the 30 Hz input timer that fills the queue (null
    // member: there is no timer).
    void (*set_keyboard_queue_task_state)(bool running);
};

bool register_action_queue_procedures(const action_queue_procedures *procedures);
// Never null: an empty table until one is registered.
const action_queue_procedures *get_action_queue_procedures(void);
