#pragma once
// Preprocessing of action records before the game sees them: held inputs
// become one-shot "latched" flags, a mouse button pressed again soon gives a
// double-press flag, the orbit-zoom modifier turns panning into zooming and
// orbiting, and a key pressed twice with the same modifiers gives
// _key_double_bit on the second press.
//
// The state behind it (how long ago each latched input was last seen, the
// last key press) is the main thread's: update_actions calls
// preprocess_action there, once per record, in queue order.

struct action_data;

// Forgets every latched input and the last key press (start-up).
void initialize_action_preprocessing(void);

// Rewrites `action` in place, as above.  Ages the state by the record's
// `time_delta`, so several records of one tick (delta 0) do not age it.
void preprocess_action(action_data *action);

// Whether the player's key bindings ask the rotate-preset key to choose a
// formation instead.  The key bindings register it; until then they do not.
typedef bool (*alternate_preset_recall_procedure)(void);
bool register_alternate_preset_recall_procedure(alternate_preset_recall_procedure procedure);

// ---- the keyboard task ----------------------------------------------------------
// A timer task, 30 times a second: while its state is on it queues one action
// record built from the input held this tick, then advances the game's local
// time, the clock every frame's ticks are counted by.  Until the key bindings
// and the device layer exist, the record carries the pointer only.

// Installs the task (start-up; the action queue's start-up calls it).  A
// second call keeps the task already running.  False when no task could be
// started.  The task is removed at exit.
bool initialize_keyboard(void);

// The task, and key presses, produce records only while the state is on;
// `main` turns it off before start-up and on once start-up is done.
void set_keyboard_queue_task_state(bool state);
bool get_keyboard_queue_task_state(void);

// Removes the task (exit; tests).  Safe when none runs.
void remove_keyboard_queue_task(void);
