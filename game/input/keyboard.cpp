#include "input/keyboard.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "cseries/cseries.h"
#include "cseries/registration.h"
#include "cseries/timers.h"
#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "input/input_controller_sdl.h"
#include "input/input_definitions.h"
#include "input/touch_controller.h"
#include "platform_events.h"

namespace {

enum
{
    // A latched input seen in a record is "fresh" for this many ticks.
    LATCH_PERSISTENCE = 15,
    // A button pressed again while the memory of its last press lies between
    // these (it was up for 1 to 9 ticks) is a double press.
    MINIMUM_DOUBLE_PRESS_PERSISTENCE = 6,
    MAXIMUM_DOUBLE_PRESS_PERSISTENCE = 14,
    // A key pressed again within this many ticks of its first press.
    DOUBLE_KEY_PRESS_TICKS = 20,
    // The countdown value that says "a key press was just seen".
    DOUBLE_KEY_PRESS_PENDING = -1,
};

enum preprocessing_type
{
    _preprocess_double_press, // the alternate bit marks a second press soon after the first
    _preprocess_edge,         // the alternate bit is set only in the first record of a press
};

struct preprocessing_action_flags_data
{
    int16_t type;
    int16_t bit;
    int16_t alternate_bit;
    int32_t persistence; // ticks: 15 when the bit was in the last record, counting down while it is not
};

constexpr int32_t NUMBER_OF_PREPROCESSING_ACTION_FLAGS = 26;

// The order matters: both left-button entries see the same press.
constexpr preprocessing_action_flags_data initial_preprocessing_action_flags[NUMBER_OF_PREPROCESSING_ACTION_FLAGS] = {
    {_preprocess_double_press, _left_mouse_down_bit, _double_left_mouse_down_bit, 0},
    {_preprocess_double_press, _right_mouse_down_bit, _double_right_mouse_down_bit, 0},
    {_preprocess_edge, _left_mouse_down_bit, _left_mouse_click_bit, 0},
    {_preprocess_edge, _right_mouse_down_bit, _right_mouse_click_bit, 0},
    {_preprocess_edge, _selection_cancel_bit, _selection_cancel_bit, 0},
    {_preprocess_edge, _selection_rotate_preset_bit, _selection_rotate_preset_bit, 0},
    {_preprocess_edge, _selection_stop_bit, _selection_stop_bit, 0},
    {_preprocess_edge, _selection_all_bit, _selection_all_bit, 0},
    {_preprocess_edge, _selection_scatter_bit, _selection_scatter_bit, 0},
    {_preprocess_edge, _selection_retreat_bit, _selection_retreat_bit, 0},
    {_preprocess_edge, _selection_special_ability_bit, _selection_special_ability_bit, 0},
    {_preprocess_edge, _selection_preset_selection_bit, _latched_preset_selection_bit, 0},
    {_preprocess_edge, _selection_clear_preset_bit, _selection_clear_preset_bit, 0},
    {_preprocess_edge, _selection_attack_bit, _latched_attack_bit, 0},
    {_preprocess_edge, _selection_rename_bit, _selection_rename_bit, 0},
    {_preprocess_edge, _selection_chat_bit, _selection_chat_bit, 0},
    {_preprocess_edge, _selection_guard_bit, _selection_guard_bit, 0},
    {_preprocess_edge, _preset_selection_or_formation_valid_bit, _new_preset_selection_or_formation_bit, 0},
    {_preprocess_edge, _toggle_overhead_map_bit, _toggle_overhead_map_bit, 0},
    {_preprocess_edge, _pause_game_bit, _pause_game_bit, 0},
    {_preprocess_edge, _selection_ally_bit, _selection_ally_bit, 0},
    {_preprocess_edge, _selection_rotate_clockwise_bit, _selection_rotate_clockwise_bit, 0},
    {_preprocess_edge, _selection_rotate_counterclockwise_bit, _selection_rotate_counterclockwise_bit, 0},
    {_preprocess_edge, _selection_inventory_bit, _selection_inventory_bit, 0},
    {_preprocess_edge, _zoom_in_bit, _latched_zoom_in_bit, 0},
    {_preprocess_edge, _zoom_out_bit, _latched_zoom_out_bit, 0},
};

struct pan_orbit_flags_data
{
    int16_t bit;
    int16_t alternate_bit;
};

// With the orbit-zoom modifier held, panning forward and back zooms and
// yawing orbits.
constexpr pan_orbit_flags_data pan_orbit_flags[] = {
    {_move_forward_bit, _zoom_in_bit},
    {_move_backward_bit, _zoom_out_bit},
    {_yaw_left_bit, _orbit_left_bit},
    {_yaw_right_bit, _orbit_right_bit},
};

struct double_key_press_data
{
    int16_t last_key_code; // NONE when no press waits for its second
    int32_t countdown;     // ticks left for the second press; DOUBLE_KEY_PRESS_PENDING right after the first
    uint32_t flags[NUMBER_OF_ACTION_FLAG_WORDS]; // of the first press
};

struct keyboard_preprocessing_globals
{
    preprocessing_action_flags_data preprocessing_action_flags[NUMBER_OF_PREPROCESSING_ACTION_FLAGS];
    double_key_press_data double_key_press;
};

keyboard_preprocessing_globals preprocessing_globals = {};
bool preprocessing_initialized = false;

void latch_action_flags(action_data *action)
{
    for (preprocessing_action_flags_data &entry : preprocessing_globals.preprocessing_action_flags)
    {
        if (!test_action_flag(action, entry.bit))
        {
            if (entry.persistence > 0) entry.persistence -= action->time_delta;
            continue;
        }
        switch (entry.type)
        {
        case _preprocess_double_press:
            if (entry.persistence >= MINIMUM_DOUBLE_PRESS_PERSISTENCE &&
                entry.persistence <= MAXIMUM_DOUBLE_PRESS_PERSISTENCE)
                set_action_flag(action, entry.alternate_bit);
            break;
        case _preprocess_edge:
            if (entry.persistence == LATCH_PERSISTENCE || test_action_flag(action, _key_repeat_bit))
                clear_action_flag(action, entry.alternate_bit);
            else
                set_action_flag(action, entry.alternate_bit);
            break;
        default:
            HALT(nullptr);
            break;
        }
        entry.persistence = LATCH_PERSISTENCE;
    }
}

void rewrite_pan_orbit_flags(action_data *action)
{
    if (!test_action_flag(action, _orbit_zoom_modifier_bit)) return;
    for (const pan_orbit_flags_data &pair : pan_orbit_flags)
    {
        if (!test_action_flag(action, pair.bit)) continue;
        clear_action_flag(action, pair.bit);
        set_action_flag(action, pair.alternate_bit);
    }
}

void rewrite_preset_recall(action_data *action)
{
    if (!test_action_flag(action, _selection_rotate_preset_bit)) return;
    if (!alternate_preset_recall_enabled()) return;
    clear_action_flag(action, _selection_rotate_preset_bit);
    set_action_flag(action, _selection_choose_formation_bit);
}

bool same_flags(const uint32_t *a, const uint32_t *b)
{
    for (int32_t word = 0; word < NUMBER_OF_ACTION_FLAG_WORDS; ++word)
        if (a[word] != b[word]) return false;
    return true;
}

void detect_double_key_press(action_data *action)
{
    double_key_press_data &memory = preprocessing_globals.double_key_press;
    if (action->key_code == NONE)
    {
        // Tick records age the memory; the first one after a press starts the count.
        if (memory.countdown == DOUBLE_KEY_PRESS_PENDING) memory.countdown = DOUBLE_KEY_PRESS_TICKS;
        if (memory.countdown > 0) memory.countdown -= action->time_delta;
    }
    else if (action->key_code == memory.last_key_code && memory.countdown > 0)
    {
        if (same_flags(action->flags, memory.flags)) set_action_flag(action, _key_double_bit);
        memory.countdown = 0; // a third press starts a new pair
    }
    else
    {
        memory.last_key_code = action->key_code;
        for (int32_t word = 0; word < NUMBER_OF_ACTION_FLAG_WORDS; ++word) memory.flags[word] = action->flags[word];
        memory.countdown = DOUBLE_KEY_PRESS_PENDING;
    }
    if (memory.countdown == 0) memory.last_key_code = NONE;
}

} // namespace

void initialize_action_preprocessing(void)
{
    for (int32_t i = 0; i < NUMBER_OF_PREPROCESSING_ACTION_FLAGS; ++i)
        preprocessing_globals.preprocessing_action_flags[i] = initial_preprocessing_action_flags[i];
    preprocessing_globals.double_key_press = {};
    preprocessing_globals.double_key_press.last_key_code = NONE;
    preprocessing_initialized = true;
}

void preprocess_action(action_data *action)
{
    if (!VASSERT(action, "no action to preprocess")) return;
    if (!preprocessing_initialized) initialize_action_preprocessing();
    latch_action_flags(action);
    rewrite_pan_orbit_flags(action);
    rewrite_preset_recall(action);
    detect_double_key_press(action);
}

// ---- the keyboard task ----------------------------------------------------------

enum
{
    KEYBOARD_TASK_CALLS_PER_SECOND = 30,
    MAXIMUM_KEY_DOWN_EVENTS = 16,
};

struct key_down_event
{
    int16_t ascii_code;
    int16_t key_code;
};

static struct keyboard_global_data
{
    std::mutex lock; // installing and removing the task (main thread and exit)
    int32_t keyboard_queue_task = NONE;
    bool removal_registered = false;
    // Read by the timer thread every tick.
    std::atomic<bool> keyboard_queue_task_state{false};
    std::atomic<int16_t> game_state{_game_state_starting_up};
    std::atomic<bool> given_to_text_field{false};
    // Main thread; reset with the state and otherwise unused.
    int16_t last_keydown = NONE;
    int32_t last_keydown_ticks = 0;
    int16_t last_ascii_equivalent = NONE;
    key_down_event key_down_events[MAXIMUM_KEY_DOWN_EVENTS] = {};
    int32_t queue_read_index = 0;
    int32_t queue_write_index = 0;
} keyboard_globals;

static procedure_slot<mouse_cursor_visible_procedure> mouse_cursor_visible_slot("mouse cursor visible");

static bool mouse_cursor_is_visible(void)
{
    const mouse_cursor_visible_procedure visible = mouse_cursor_visible_slot.get();
    return visible ? visible() : true;
}

// A record with nothing in it: no key, no character.
static action_data empty_action(void)
{
    action_data action = {};
    action.ascii_code = NONE;
    action.key_code = NONE;
    return action;
}

static bool control_matches(const control_definition *control, const action_data *action, bool synchronous)
{
    // Event-only controls (the digit keys choosing a preset...) act once per
    // press, never while their key is merely held.
    if (control->action_bit_flags & _control_event_only_flag)
        return synchronous && control->device == _input_device_keyboard && control->code == action->key_code;
    return test_control_definition(control);
}

void fill_in_action(action_data *action, bool synchronous)
{
    if (!action) return;
    // The snapshot is never freed, so a binding edit on the main thread
    // cannot pull it from under this loop.
    const input_definition_snapshot *bindings = get_input_definition_snapshot();
    const bool typing = keyboard_globals.given_to_text_field.load();
    if (bindings)
    {
        for (const control_definition &control : bindings->definition.controls)
        {
            if (control.device == _input_device_mouse && control.code == _mouse_axis_wheel) continue;
            if (typing && control.device == _input_device_keyboard) continue;
            if (!control_matches(&control, action, synchronous)) continue;
            if (control.action_bit_flags & _control_sets_value_range_flag)
                set_action_flag_range(action, control.action_bit, control.action_bit_flags & _control_value_mask);
            set_action_flag(action, control.action_bit);
        }
    }
    int16_t x = 0, y = 0;
    if (get_mouse_position_vesk(&x, &y) && mouse_cursor_is_visible()) set_action_flag(action, _action_pointer_valid_bit);
    action->pointer.x = x;
    action->pointer.y = y;
    apply_multitouch_to_action(action);
}

static int16_t clamp_to_int16(int32_t value)
{
    if (value > INT16_MAX) return INT16_MAX;
    if (value < INT16_MIN) return INT16_MIN;
    return (int16_t)value;
}

bool keyboard_queue_task_proc(void *refcon)
{
    (void)refcon;
    if (!keyboard_globals.keyboard_queue_task_state.load()) return true;
    refresh_device_states();
    action_data action = empty_action();
    fill_in_action(&action, false);

    const input_definition_snapshot *bindings = get_input_definition_snapshot();
    const uint32_t mouse_flags = bindings ? bindings->mouse_controls.flags : (uint32_t)_mouse_control_enabled_flag;
    // With the wheel doing nothing in a running game, notches wait in the
    // accumulator until the setting or the state changes.
    if (!((mouse_flags & _mouse_control_wheel_does_nothing_flag) &&
          keyboard_globals.game_state.load() == _game_state_running))
    {
        if (mouse_flags & _mouse_control_wheel_moves_flag) get_smooth_scroll_deltas();
        int32_t x_delta = 0, y_delta = 0;
        get_mouse_wheel_delta_for_axis(_mouse_wheel_axis_x, &x_delta);
        get_mouse_wheel_delta_for_axis(_mouse_wheel_axis_y, &y_delta);
        action.xwheel_delta = clamp_to_int16(x_delta);
        action.wheel_delta = clamp_to_int16(y_delta);
    }
    if (action.wheel_delta != 0 || action.xwheel_delta != 0)
    {
        // The wheel is an edge, the rest is held: the copy without the wheel
        // tells the consumers the movement is over.
        queue_action(&action);
        action.wheel_delta = 0;
        action.xwheel_delta = 0;
    }
    queue_action_and_advance_local_time(&action);
    return true;
}

void add_input_to_queue(int16_t device_code, int16_t control_code, bool repeat, bool shift_down, bool option_down,
                        bool command_down, bool control_down)
{
    if (!keyboard_globals.keyboard_queue_task_state.load()) return;
    action_data action = empty_action();
    action.time = game_->local_time.load();
    if (device_code == _input_device_keyboard)
    {
        if (control_code < 0 || control_code >= NUMBER_OF_KEYBOARD_DEVICE_CODES) return;
        if (repeat && key_repeats_ignored(control_code)) return;
        action.key_code = control_code;
        action.ascii_code = ascii_equivalent_of_key(control_code, shift_down, option_down);
    }
    if (repeat) set_action_flag(&action, _key_repeat_bit);
    if (shift_down) set_action_flag(&action, _shift_down_bit);
    if (option_down) set_action_flag(&action, _option_down_bit);
    if (command_down) set_action_flag(&action, _command_down_bit);
    if (control_down) set_action_flag(&action, _control_down_bit);
    fill_in_action(&action, true);
    queue_action(&action);
}

bool key_down(int16_t keyboard_code)
{
    const control_definition control = {_input_device_keyboard, keyboard_code, 0, 0};
    return test_control_definition(&control);
}

bool mouse_down(int16_t mouse_code)
{
    const control_definition control = {_input_device_mouse, mouse_code, 0, 0};
    return test_control_definition(&control);
}

void set_keyboard_given_to_text_field(bool given)
{
    keyboard_globals.given_to_text_field.store(given);
}

bool keyboard_given_to_text_field(void)
{
    return keyboard_globals.given_to_text_field.load();
}

void publish_game_state_to_keyboard_task(int16_t state)
{
    keyboard_globals.game_state.store(state);
}

bool register_mouse_cursor_visible_procedure(mouse_cursor_visible_procedure procedure)
{
    return mouse_cursor_visible_slot.fill(procedure);
}

static void remove_keyboard_queue_task_at_exit(void)
{
    remove_keyboard_queue_task();
}

bool initialize_keyboard(void)
{
    std::lock_guard<std::mutex> guard(keyboard_globals.lock);
    if (keyboard_globals.keyboard_queue_task != NONE) return true;
    initialize_input_device();
    initialize_touch_controller();
    keyboard_globals.keyboard_queue_task =
        install_timer_task(KEYBOARD_TASK_CALLS_PER_SECOND, keyboard_queue_task_proc, nullptr);
    if (!VASSERT(keyboard_globals.keyboard_queue_task != NONE, "keyboard_globals.keyboard_queue_task")) return false;
    if (!keyboard_globals.removal_registered)
    {
        keyboard_globals.removal_registered = true;
        atexit(remove_keyboard_queue_task_at_exit);
    }
    return true;
}

void set_keyboard_queue_task_state(bool state)
{
    keyboard_globals.queue_read_index = 0;
    keyboard_globals.queue_write_index = 0;
    keyboard_globals.last_ascii_equivalent = NONE;
    keyboard_globals.last_keydown = NONE;
    keyboard_globals.last_keydown_ticks = 0;
    keyboard_globals.given_to_text_field.store(false);
    keyboard_globals.keyboard_queue_task_state.store(state);
}

bool get_keyboard_queue_task_state(void)
{
    return keyboard_globals.keyboard_queue_task_state.load();
}

void remove_keyboard_queue_task(void)
{
    std::lock_guard<std::mutex> guard(keyboard_globals.lock);
    if (keyboard_globals.keyboard_queue_task == NONE) return;
    remove_timer_task(keyboard_globals.keyboard_queue_task);
    keyboard_globals.keyboard_queue_task = NONE;
    release_input_devices();
}

void register_keyboard_hooks(void)
{
    register_event_consumer_procedure(_event_consumer_input, queue_input_event_if_necessary);
}
