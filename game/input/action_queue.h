#pragma once
// Action records and the action queue: every piece of player input reaches the
// game as one action_data record.  The 30 Hz keyboard task (timer thread)
// queues one record per tick and the event pump (main thread) one per key
// press; the main loop drains the queue once per frame with update_actions,
// which preprocesses each record (keyboard.h) and hands it to process_action.
//
// Threads: queue_action may be called from the timer thread and the main
// thread at once; update_actions and flush_actions run on the main thread.
// The queue and the stamp of the previous record are guarded by a lock, so a
// record is never lost half-written, stamped against a record it raced with,
// or seen twice.  Everything else here is main-thread only, except the flag
// procedures, which touch only the record they are given, and
// get_mouse_position_vesk, which the keyboard task calls.

#include <cstdint>

#include "point2d.h" // a pointer position in pixels

// ---- action flags -------------------------------------------------------------
// Flag n is bit n % 32 of flags[n / 32].  Bits 0-9 are held camera controls;
// 10-24, 30-33 and 50-54 requests from key bindings; 34-39 mouse buttons;
// 40-43 modifier keys; 44-46 and 56-57 the latched forms that
// preprocess_action sets; 25 with 26-29 is a flag range (a valid bit followed
// by a 4-bit preset or formation number).

enum action_flag
{
    _orbit_left_bit = 0,
    _orbit_right_bit = 1,
    _move_forward_bit = 2,
    _move_backward_bit = 3,
    _yaw_left_bit = 4,
    _yaw_right_bit = 5,
    _move_left_bit = 6,
    _move_right_bit = 7,
    _zoom_in_bit = 8,
    _zoom_out_bit = 9,
    _selection_cancel_bit = 10,
    _selection_rotate_preset_bit = 11,
    _selection_stop_bit = 12,
    _selection_all_bit = 13,
    _selection_clear_preset_bit = 14,
    _selection_preset_selection_bit = 15,
    _selection_center_selection_bit = 16,
    _selection_scatter_bit = 17,
    _selection_retreat_bit = 18,
    _selection_attack_bit = 19,
    _selection_special_ability_bit = 20,
    _selection_rename_bit = 21,
    _selection_chat_bit = 22,
    _selection_detach_units_bit = 23,
    _selection_guard_bit = 24,
    _preset_selection_or_formation_valid_bit = 25,
    _preset_selection_or_formation_first_bit = 26, // and the three bits above it
    _toggle_overhead_map_bit = 30,
    _pause_game_bit = 31,
    _selection_ally_bit = 32,
    _display_chat_bit = 33,
    _left_mouse_down_bit = 34,
    _left_mouse_click_bit = 35,
    _double_left_mouse_down_bit = 36,
    _right_mouse_down_bit = 37,
    _right_mouse_click_bit = 38,
    _double_right_mouse_down_bit = 39,
    _command_down_bit = 40,
    _option_down_bit = 41,
    _control_down_bit = 42,
    _shift_down_bit = 43,
    _new_preset_selection_or_formation_bit = 44,
    _latched_preset_selection_bit = 45,
    _latched_attack_bit = 46,
    _key_repeat_bit = 47,
    _orbit_zoom_modifier_bit = 48,
    _mouse_movement_modifier_bit = 49,
    _selection_taunt_bit = 50,
    _selection_rotate_clockwise_bit = 51,
    _selection_rotate_counterclockwise_bit = 52,
    _selection_inventory_bit = 53,
    _selection_choose_formation_bit = 54,
    _dont_move_observer_bit = 55,
    _latched_zoom_in_bit = 56,
    _latched_zoom_out_bit = 57,
    _action_pointer_valid_bit = 58,
    _key_double_bit = 59,
    NUMBER_OF_ACTION_FLAGS = 60
};

enum
{
    NUMBER_OF_ACTION_FLAG_WORDS = 2,
    NUMBER_OF_PRESET_SELECTION_OR_FORMATION_BITS = 4,
    MAXIMUM_ACTION_QUEUE_SIZE = 32, // one slot stays free: at most 31 records wait
};

// One input action.  In memory only: it never crosses a disk or the network.
struct action_data
{
    int32_t time;       // local time when queued
    int32_t time_delta; // local ticks since the previously queued record, 0..1
    uint32_t flags[NUMBER_OF_ACTION_FLAG_WORDS];
    point2d pointer;    // logical pixels (physical x 96 / dpi), clamped to the screen
    int16_t wheel_delta;  // -40 per notch up, +40 per notch down
    int16_t xwheel_delta; // always 0 on this platform
    int16_t ascii_code;   // the character of a key press, -1 otherwise
    int16_t key_code;     // the internal key code 0..99 of a key press, -1 otherwise
    float multitouch_rotation_delta; // radians since the last record
    float multitouch_pan_delta_x;    // pixels
    float multitouch_pan_delta_y;
    float multitouch_zoom_delta;
};
static_assert(sizeof(action_data) == 44);

// ---- the queue -------------------------------------------------------------------

// Start-up: prepares the empty queue and the preprocessing state.  Always true.
bool initialize_actions(void);
// Nothing is kept per map: true, and nothing to dispose.
bool initialize_actions_for_new_map(void);
void dispose_actions_from_old_map(void);

// Empties the queue (dialogs opening or closing, game-state changes, a map
// starting).  A record queued by the timer thread at the same moment is either
// dropped whole or kept whole.
void flush_actions(void);

// Stamps a copy of `action` with the current local time and the ticks since
// the previously queued record (clamped to 0..1), and queues it.  False, and
// the record is dropped, when 31 records wait already (the previous stamp is
// then left alone) or for a null action (assertion).  The caller's record is
// not changed.  Timer thread and main thread.
bool queue_action(const action_data *action);
// The keyboard task's tick: queues the tick's record, then advances local
// time, as one step as update_actions sees it (so a frame never takes the
// record before its tick is counted).  The time advances even when the record
// is dropped.
bool queue_action_and_advance_local_time(const action_data *action);

// Main thread, once per frame: takes the records waiting on entry, in queue
// order, preprocesses each and hands it to process_action.  Returns the local
// time read on entry minus the smallest `time` among them: the local ticks the
// frame covers; 0 when none waited.  A record queued while it drains waits
// for the next frame, so a busy writer cannot keep it here.
int32_t update_actions(void);

// Registers the action queue's table (action_queue_procedures.h:
// update_actions, flush_actions, set_keyboard_queue_task_state) and the
// "actions" start-up step.
void register_action_queue_hooks(void);

// ---- flags of one record -----------------------------------------------------------
// A bit outside 0..NUMBER_OF_ACTION_FLAGS-1 logs the assertion
// "bit>=0 && bit<NUMBER_OF_ACTION_FLAGS" and touches nothing (the test answers
// false).  A null action is ignored (the test answers false).

bool test_action_flag(const action_data *action, int32_t bit);
void set_action_flag(action_data *action, int32_t bit);
void clear_action_flag(action_data *action, int32_t bit);

// The `number_of_bits` bits just above `valid_bit`, as a number; -1 for a
// null action, a clear `valid_bit`, or a range that does not lie inside the
// flags (assertion).
int32_t get_action_flag_range(const action_data *action, int32_t valid_bit, int32_t number_of_bits);

// Stores `value` in the NUMBER_OF_PRESET_SELECTION_OR_FORMATION_BITS bits just
// above `valid_bit` and sets `valid_bit`; when `valid_bit` is set already
// nothing changes (the first value stored wins).  Only the value's low four
// bits are stored: a larger value (assertion) could otherwise reach the
// flags above the range.
void set_action_flag_range(action_data *action, int32_t valid_bit, int32_t value);

// ---- the pointer -------------------------------------------------------------------

// The physical screen the pointer moves on: its size in pixels, its dots per
// inch (0 counts as 96) and whether the game's window is active.
struct pointer_screen_data
{
    int32_t width;
    int32_t height;
    int32_t dpi;
    bool window_active;
};
// The screen fills it through its table (screen_procedures.h); until then the
// screen is 640 x 480 at 96 dpi, active.

// The pointer's position in physical window pixels comes from the input
// devices of this library (get_mouse_position, input_controller_sdl.h: an
// atomic word, safe on the timer thread); before any motion it rests at 0, 0.

// Reads the pointer, clamps it to the physical screen (0..width-1,
// 0..height-1) and stores it, scaled by 96 / dpi, where an out-pointer is
// given.  True only when no clamping was needed and the window is active.
bool get_mouse_position_vesk(int16_t *x, int16_t *y);
