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

#include <cstdint>

struct action_data;

// Forgets every latched input and the last key press (start-up).
void initialize_action_preprocessing(void);

// Rewrites `action` in place, as above.  Ages the state by the record's
// `time_delta`, so several records of one tick (delta 0) do not age it.
void preprocess_action(action_data *action);

// The rotate-preset key chooses a formation instead when the player's key
// bindings ask for it (alternate_preset_recall_enabled, input_definitions.h).

// ---- the keyboard task ----------------------------------------------------------
// A timer task, 30 times a second: while its state is on it queues one action
// record built from the input held this tick through the current key
// bindings (a second, wheel-free copy follows a record that carries wheel
// movement), then advances the game's local time, the clock every frame's
// ticks are counted by.  Each key press the event pump reports queues a
// record of its own at once (add_input_to_queue).
//
// Threads: the task runs on the timer thread and reads only atomic words and
// the bindings' immutable snapshot; everything else here is main-thread.

// Installs the task (start-up; the action queue's start-up calls it) after
// preparing the input devices.  A second call keeps the task already running.
// False when no task could be started.  The task is removed at exit.
bool initialize_keyboard(void);

// The task, and key presses, produce records only while the state is on;
// `main` turns it off before start-up and on once start-up is done.  The
// state is kept even while no task is installed (vesk_sim drives the task
// procedure itself).
void set_keyboard_queue_task_state(bool state);
bool get_keyboard_queue_task_state(void);

// Removes the task and releases the devices (exit; tests).  Safe when none runs.
void remove_keyboard_queue_task(void);

// The task's procedure, one tick of it; always true (the task goes on).  The
// timer thread calls it; tests and vesk_sim call it on their own thread with
// no task installed.
bool keyboard_queue_task_proc(void *refcon);

// Whether key `keyboard_code` or mouse button `mouse_code` is held now; false
// for codes outside their device's range.  Any thread.
bool key_down(int16_t keyboard_code);
bool mouse_down(int16_t mouse_code);

// Queues the record of one key press at once (the event pump; main thread):
// the key's internal code and character (Shift and Option choose the
// column), the repeat and modifier bits, the bindings (event-only controls
// included) and the pointer.  Nothing while the task's state is off; a
// repeat of a key whose repeats are ignored gives no record; a keyboard code
// outside 0..99 gives none either.
void add_input_to_queue(int16_t device_code, int16_t control_code, bool repeat, bool shift_down, bool option_down,
                        bool command_down, bool control_down);

// Sets the flags of every control of the current bindings that is held now;
// a `synchronous` (key-press) record also matches the event-only controls
// bound to its key.  Then the pointer (valid only inside the active window
// with the cursor shown) and the multi-touch fields.
void fill_in_action(action_data *action, bool synchronous);

// While a dialog's text field has the focus the keyboard is the field's:
// the bindings of keyboard controls are not tested, so neither the records of
// held keys nor those of key presses carry the game's flags (the camera,
// selection, pause...); a press still carries its key and character for the
// field.  The dialogs set it each time they look at an action (main thread);
// the task reads it.  Off at start-up.
void set_keyboard_given_to_text_field(bool given);
bool keyboard_given_to_text_field(void);

// The game state as the task sees it: published by the main thread once per
// frame (update_actions), so the timer thread never reads the game record.
void publish_game_state_to_keyboard_task(int16_t state);

// Whether the mouse cursor is shown.  The screen registers it; until then it
// is.  Called from the timer thread: it must read an atomic word.
typedef bool (*mouse_cursor_visible_procedure)(void);
bool register_mouse_cursor_visible_procedure(mouse_cursor_visible_procedure procedure);

// Fills the event pump's "input" consumer and the action queue's pointer
// position.  The global keys (Ctrl+G among them) are game/global_keys.h's.
void register_keyboard_hooks(void);
