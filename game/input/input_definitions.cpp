// Key bindings and the "input" preferences record.

#include "input/input_definitions.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "game_hooks.h"
#include "input/action_queue.h"
#include "input/keyboard.h"
#include "tag_files/preferences.h"
#include "vesk/string_lists.h"

const byte_swap_code input_definitions_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _2byte, _2byte, _2byte, _2byte, // selected set, flags, layout, pad
    _begin_bs_array, NUMBER_OF_INPUT_SETS,
        MAXIMUM_INPUT_DEFINITION_NAME_LENGTH + 1, // name
        _4byte,                                   // flags
        24, _byte, _byte,                         // unused words, unused2, caps lock action: unconverted
        _2byte,                                   // set index
        _begin_bs_array, NUMBER_OF_CONTROLS_PER_INPUT_DEFINITION, _2byte, _2byte, _2byte, _2byte, _end_bs_array,
    _end_bs_array,
    _begin_bs_array, NUMBER_OF_INPUT_SETS,
        _4byte, // flags
        4,      // selector word: unconverted, derived again on every read
        _2byte, // encoded horizontal action
        10,     // unused
    _end_bs_array,
    _end_bs_array};

namespace {

const char *const default_set_names[NUMBER_OF_INPUT_SETS] = {"Right Handed", "Left Handed", "User 1", "User 2",
                                                             "User 3"};

enum
{
    LEFT_HANDED_SET_INDEX = 1,
    DEFAULT_ENCODED_HORIZONTAL_ACTION = 6,
    KNOWN_INPUT_DEFINITION_FLAGS = (1 << NUMBER_OF_INPUT_DEFINITION_FLAGS) - 1,
    KNOWN_MOUSE_CONTROL_FLAGS = (1 << NUMBER_OF_MOUSE_CONTROL_FLAGS) - 1,
};

#define KEY(code, bit, flags) {_input_device_keyboard, (code), (bit), (flags)}
#define MOUSE(code, bit) {_input_device_mouse, (code), (bit), 0}
#define DIGIT(code, value) KEY((code), _preset_selection_or_formation_valid_bit, _control_sets_value_range_flag + (value))
#define REBINDABLE _control_rebindable_flag

// Start-up adds the event-only flag to some of these, hence not const.
control_definition right_handed_controls[NUMBER_OF_CONTROLS_PER_INPUT_DEFINITION] = {
    MOUSE(_mouse_button_left, _left_mouse_down_bit),
    MOUSE(_mouse_button_right, _right_mouse_down_bit),
    MOUSE(_mouse_button_middle, _mouse_movement_modifier_bit),
    MOUSE(_mouse_axis_wheel, _zoom_in_bit),
    KEY(_key_command, _command_down_bit, 0),
    KEY(_key_option, _option_down_bit, 0),
    KEY(_key_control, _control_down_bit, 0),
    KEY(_key_shift, _shift_down_bit, 0),
    KEY(_key_w, _move_forward_bit, REBINDABLE),
    KEY(_key_s, _move_backward_bit, REBINDABLE),
    KEY(_key_z, _move_left_bit, REBINDABLE),
    KEY(_key_x, _move_right_bit, REBINDABLE),
    KEY(_key_a, _yaw_left_bit, REBINDABLE),
    KEY(_key_d, _yaw_right_bit, REBINDABLE),
    KEY(_key_q, _orbit_left_bit, REBINDABLE),
    KEY(_key_e, _orbit_right_bit, REBINDABLE),
    KEY(_key_c, _zoom_in_bit, REBINDABLE),
    KEY(_key_v, _zoom_out_bit, REBINDABLE),
    KEY(_key_backquote, _selection_cancel_bit, REBINDABLE),
    KEY(_key_f, _selection_rotate_preset_bit, REBINDABLE),
    KEY(_key_space, _selection_stop_bit, REBINDABLE),
    KEY(_key_return, _selection_all_bit, REBINDABLE),
    KEY(_key_delete, _selection_clear_preset_bit, REBINDABLE),
    KEY(_key_command, _selection_preset_selection_bit, REBINDABLE),
    KEY(_key_h, _selection_center_selection_bit, REBINDABLE),
    KEY(_key_b, _selection_scatter_bit, REBINDABLE),
    KEY(_key_r, _selection_retreat_bit, REBINDABLE),
    KEY(_key_control, _selection_attack_bit, REBINDABLE),
    KEY(_key_t, _selection_special_ability_bit, REBINDABLE),
    KEY(_key_n, _selection_rename_bit, REBINDABLE),
    KEY(_key_y, _selection_chat_bit, REBINDABLE),
    KEY(_key_backslash, _selection_detach_units_bit, REBINDABLE),
    KEY(_key_g, _selection_guard_bit, REBINDABLE),
    KEY(_key_tab, _toggle_overhead_map_bit, REBINDABLE),
    KEY(_key_escape, _pause_game_bit, REBINDABLE),
    KEY(_key_plus, _selection_ally_bit, 0),
    KEY(_key_up_arrow, _display_chat_bit, REBINDABLE),
    DIGIT(_key_1, 0), DIGIT(_key_2, 1), DIGIT(_key_3, 2), DIGIT(_key_4, 3), DIGIT(_key_5, 4),
    DIGIT(_key_6, 5), DIGIT(_key_7, 6), DIGIT(_key_8, 7), DIGIT(_key_9, 8), DIGIT(_key_0, 9),
    KEY(_keypad_0, _orbit_zoom_modifier_bit, 0),
    KEY(_key_u, _selection_taunt_bit, REBINDABLE),
    KEY(_key_right_arrow, _selection_rotate_clockwise_bit, REBINDABLE),
    KEY(_key_left_arrow, _selection_rotate_counterclockwise_bit, REBINDABLE),
    KEY(_key_i, _selection_inventory_bit, REBINDABLE),
    {_input_device_none, 0, 0, 0},
    {_input_device_none, 0, 0, 0},
};

// The left-handed layout moves the camera keys to the keypad.
constexpr int32_t FIRST_LEFT_HANDED_CONTROL = 8;
constexpr int16_t left_handed_camera_keys[] = {_keypad_8, _keypad_5, _keypad_1, _keypad_3, _keypad_4,
                                               _keypad_6, _keypad_7, _keypad_9, _keypad_plus, _keypad_minus};
control_definition left_handed_controls[NUMBER_OF_CONTROLS_PER_INPUT_DEFINITION];

#undef KEY
#undef MOUSE
#undef DIGIT
#undef REBINDABLE

// Controls that act once per key press, never while held.
constexpr int16_t event_only_action_bits[] = {
    _selection_cancel_bit, _selection_rotate_preset_bit, _selection_stop_bit, _selection_all_bit,
    _selection_clear_preset_bit, _selection_scatter_bit, _selection_retreat_bit, _selection_special_ability_bit,
    _selection_rename_bit, _selection_chat_bit, _selection_guard_bit, _toggle_overhead_map_bit, _pause_game_bit,
    _selection_ally_bit, _selection_inventory_bit};

struct input_settings
{
    input_definition definition;
    mouse_control_data mouse_controls;
    int16_t keyboard_layout;
};

struct input_definition_globals
{
    bool initialized;
    bool swapped; // switch_to_default_keybindings holds the player's set in `swap_settings`
    input_settings current_settings;
    input_settings swap_settings;
    input_definitions_data fallback; // the record when the preferences store cannot be read
};
input_definition_globals input_definition_globals;

// The snapshot the timer thread reads.  Replaced snapshots are kept until the
// process ends: a reader may still hold one, and bindings change only when
// the player edits them, so few are ever made.
std::atomic<const input_definition_snapshot *> published_snapshot{nullptr};
std::vector<std::unique_ptr<input_definition_snapshot>> all_snapshots;

preferences_globals input_preferences_store = {
    INPUT_DEFINITIONS_PREFERENCES_NAME, sizeof(input_definitions_data), INPUT_DEFINITIONS_VERSION,
    default_input_preferences, verify_input_preferences, input_definitions_byte_swapping_data,
    FOUR_CHARACTER_CODE('i', 'n', 'p', 't'), nullptr};

// Outside the globals record: start-up never empties a registration.
procedure_slot<key_binding_editor_procedure> key_binding_editor_slot("key binding editor");

void build_left_handed_controls(void)
{
    memcpy(left_handed_controls, right_handed_controls, sizeof(left_handed_controls));
    for (size_t i = 0; i < NUMBER_OF(left_handed_camera_keys); i++)
        left_handed_controls[FIRST_LEFT_HANDED_CONTROL + i].code = left_handed_camera_keys[i];
}

void default_mouse_controls(mouse_control_data *mouse_controls)
{
    memset(mouse_controls, 0, sizeof(*mouse_controls));
    // The factory sets bind the wheel to zooming (their control 3): the
    // wheel's option says the same, so a new player's wheel zooms.
    mouse_controls->flags = _mouse_control_enabled_flag | _mouse_control_wheel_zooms_flag;
    mouse_controls->encoded_horizontal_action = DEFAULT_ENCODED_HORIZONTAL_ACTION;
}

void publish_current_settings(void)
{
    std::unique_ptr<input_definition_snapshot> snapshot(new input_definition_snapshot);
    snapshot->definition = input_definition_globals.current_settings.definition;
    snapshot->mouse_controls = input_definition_globals.current_settings.mouse_controls;
    published_snapshot.store(snapshot.get(), std::memory_order_release);
    all_snapshots.push_back(std::move(snapshot));
}

// The stored record, read, verified and with its selector words derived.
// Owned by the store (or the fallback); valid until the next read.
input_definitions_data *read_input_record(void)
{
    input_definitions_data *record =
        (input_definitions_data *)read_preferences_convert(&input_preferences_store, nullptr);
    if (!record)
    {
        record = &input_definition_globals.fallback;
        default_input_preferences(record);
        verify_input_preferences(record);
    }
    derive_input_selectors_from_flags(record);
    return record;
}

bool write_input_record(input_definitions_data *record)
{
    derive_input_flags_from_selectors(record);
    bool written = false;
    if (record != &input_definition_globals.fallback) written = write_preferences(&input_preferences_store);
    free_preferences(&input_preferences_store);
    if (!written) log_message(__FILE__, __LINE__, "input preferences: the record could not be written");
    return written;
}

int16_t valid_set_index(int16_t set_index)
{
    return set_index >= 0 && set_index < NUMBER_OF_INPUT_SETS ? set_index : (int16_t)DEFAULT_SET_INDEX;
}

bool control_is_valid(const control_definition *control)
{
    switch (control->device)
    {
    case _input_device_none: return false; // unbound: the default key comes back
    case _input_device_keyboard: return control->code >= 0 && control->code < NUMBER_OF_KEYBOARD_DEVICE_CODES;
    case _input_device_mouse: return control->code >= 0 && control->code < NUMBER_OF_MOUSE_DEVICE_CODES;
    case _input_device_joystick: return true;
    default: return false;
    }
}

int16_t horizontal_action_from_encoded(int16_t encoded)
{
    switch (encoded)
    {
    case 6: return _horizontal_movement_pan;
    case 4: return _horizontal_movement_rotate;
    case 0: return _horizontal_movement_orbit;
    default: return _horizontal_movement_ignored;
    }
}

int16_t encoded_from_horizontal_action(uint32_t action)
{
    switch (action)
    {
    case _horizontal_movement_pan: return 6;
    case _horizontal_movement_rotate: return 4;
    case _horizontal_movement_ignored: return (int16_t)ENCODED_HORIZONTAL_ACTION_NONE;
    default: return 0; // orbit, and anything unknown
    }
}

} // namespace

bool alternate_preset_recall_enabled(void)
{
    if (!input_definition_globals.initialized) return false;
    return (get_input_definition()->flags & _input_definition_alternate_preset_recall_flag) != 0;
}

// ---- the record ---------------------------------------------------------------------

const control_definition *get_default_controls(int16_t handedness)
{
    if (left_handed_controls[0].device == _input_device_none) build_left_handed_controls();
    return handedness == LEFT_HANDED_SET_INDEX ? left_handed_controls : right_handed_controls;
}

void revert_input_definition_to_default(input_definition *definition, mouse_control_data *mouse_controls,
                                        int16_t set_index)
{
    set_index = valid_set_index(set_index);
    memset(definition, 0, sizeof(*definition));
    strlcpy(definition->name, translate_string(default_set_names[set_index]), sizeof(definition->name));
    definition->flags = _input_definition_valid_flag;
    definition->caps_lock_action = _caps_lock_selection_boxes;
    definition->set_index = set_index;
    memcpy(definition->controls, get_default_controls(set_index), sizeof(definition->controls));
    default_mouse_controls(mouse_controls);
}

void default_input_preferences(void *data)
{
    input_definitions_data *record = (input_definitions_data *)data;
    memset(record, 0, sizeof(*record));
    record->last_selected_set = DEFAULT_SET_INDEX;
    for (int16_t i = 0; i < NUMBER_OF_INPUT_SETS; i++)
        revert_input_definition_to_default(&record->sets[i], &record->mouse_sets[i], i);
}

bool verify_input_preferences(void *data)
{
    input_definitions_data *record = (input_definitions_data *)data;
    const control_definition *defaults = get_default_controls(DEFAULT_SET_INDEX);
    int32_t repairs = 0;

    if (record->keyboard_layout < 0 || record->keyboard_layout >= NUMBER_OF_KEYBOARD_LAYOUTS)
    {
        record->keyboard_layout = _keyboard_layout_system_default;
        repairs++;
    }
    for (int16_t i = 0; i < NUMBER_OF_INPUT_SETS; i++)
    {
        input_definition *definition = &record->sets[i];
        mouse_control_data *mouse_controls = &record->mouse_sets[i];
        definition->name[MAXIMUM_INPUT_DEFINITION_NAME_LENGTH] = 0;
        definition->set_index = i;
        if (definition->flags & ~(uint32_t)KNOWN_INPUT_DEFINITION_FLAGS)
        {
            definition->flags &= KNOWN_INPUT_DEFINITION_FLAGS;
            repairs++;
        }
        if (definition->caps_lock_action >= NUMBER_OF_CAPS_LOCK_ACTIONS)
        {
            definition->caps_lock_action = _caps_lock_selection_boxes;
            repairs++;
        }
        for (int32_t j = 0; j < NUMBER_OF_CONTROLS_PER_INPUT_DEFINITION; j++)
        {
            // Only the key or button of a control is ever the player's.
            control_definition *control = &definition->controls[j];
            control->action_bit = defaults[j].action_bit;
            control->action_bit_flags = defaults[j].action_bit_flags;
            if (!control_is_valid(control))
            {
                if (control->device != _input_device_none) repairs++;
                control->device = defaults[j].device;
                control->code = defaults[j].code;
            }
        }
        if (mouse_controls->flags & ~(uint32_t)KNOWN_MOUSE_CONTROL_FLAGS)
        {
            mouse_controls->flags &= KNOWN_MOUSE_CONTROL_FLAGS;
            repairs++;
        }
        const int16_t encoded = mouse_controls->encoded_horizontal_action;
        if (encoded != 6 && encoded != 4 && encoded != 0 && encoded != (int16_t)ENCODED_HORIZONTAL_ACTION_NONE)
        {
            mouse_controls->encoded_horizontal_action = DEFAULT_ENCODED_HORIZONTAL_ACTION;
            repairs++;
        }
    }
    if (record->last_selected_set < 0 || record->last_selected_set >= NUMBER_OF_INPUT_SETS)
    {
        record->last_selected_set = DEFAULT_SET_INDEX;
        repairs++;
    }
    if (repairs)
        log_message(__FILE__, __LINE__, "input preferences: %d out-of-range values repaired from the defaults",
                    (int)repairs);
    return true;
}

void derive_input_selectors_from_flags(input_definitions_data *record)
{
    for (int32_t i = 0; i < NUMBER_OF_INPUT_SETS; i++)
    {
        mouse_control_data *mouse_controls = &record->mouse_sets[i];
        const uint32_t flags = mouse_controls->flags;
        const uint32_t horizontal = (uint32_t)horizontal_action_from_encoded(mouse_controls->encoded_horizontal_action);

        uint32_t wheel = _mouse_wheel_ignored;
        if (flags & _mouse_control_wheel_moves_flag) wheel = _mouse_wheel_move;
        else if (flags & _mouse_control_wheel_zooms_flag) wheel = _mouse_wheel_zoom;
        else if (flags & _mouse_control_wheel_cycle_presets_flag) wheel = _mouse_wheel_cycle_presets;
        else if (flags & _mouse_control_wheel_cycle_inventory_flag) wheel = _mouse_wheel_cycle_inventory;

        uint32_t right_click;
        if (flags & _mouse_control_right_click_attack_flag) right_click = _right_click_acttack_ground;
        else if (record->sets[i].flags & _input_definition_right_button_deselects_flag)
            right_click = _right_click_deselect_units;
        else if (flags & _mouse_control_right_click_ignored_flag) right_click = _right_click_ignored;
        else right_click = _right_click_gesture_move;

        mouse_controls->selectors = (horizontal << HORIZONTAL_ACTION_SHIFT) | (wheel << WHEEL_ACTION_SHIFT) |
                                    (right_click << RIGHT_CLICK_ACTION_SHIFT);
    }
}

void derive_input_flags_from_selectors(input_definitions_data *record)
{
    static const uint32_t wheel_flags[] = {0, _mouse_control_wheel_moves_flag, _mouse_control_wheel_zooms_flag,
                                           _mouse_control_wheel_cycle_presets_flag,
                                           _mouse_control_wheel_cycle_inventory_flag};
    for (int32_t i = 0; i < NUMBER_OF_INPUT_SETS; i++)
    {
        mouse_control_data *mouse_controls = &record->mouse_sets[i];
        const uint32_t selectors = mouse_controls->selectors;
        const uint32_t horizontal = (selectors >> HORIZONTAL_ACTION_SHIFT) & MOUSE_SELECTOR_FIELD_MASK;
        const uint32_t wheel = (selectors >> WHEEL_ACTION_SHIFT) & MOUSE_SELECTOR_FIELD_MASK;
        const uint32_t right_click = (selectors >> RIGHT_CLICK_ACTION_SHIFT) & MOUSE_SELECTOR_FIELD_MASK;

        mouse_controls->encoded_horizontal_action = encoded_from_horizontal_action(horizontal);
        mouse_controls->flags &= ~(uint32_t)(_mouse_control_wheel_flags_mask | _mouse_control_right_click_attack_flag |
                                             _mouse_control_right_click_ignored_flag);
        record->sets[i].flags &= ~(uint32_t)_input_definition_right_button_deselects_flag;
        if (wheel < NUMBER_OF(wheel_flags)) mouse_controls->flags |= wheel_flags[wheel];
        if (right_click == _right_click_acttack_ground) mouse_controls->flags |= _mouse_control_right_click_attack_flag;
        else if (right_click == _right_click_deselect_units)
            record->sets[i].flags |= _input_definition_right_button_deselects_flag;
        else if (right_click == _right_click_ignored) mouse_controls->flags |= _mouse_control_right_click_ignored_flag;
    }
}

// ---- life cycle -----------------------------------------------------------------------

bool initialize_input_definition(void)
{
    struct input_definition_globals &globals = input_definition_globals;
    globals.swapped = false;
    build_left_handed_controls();
    read_input_record();

    // From here on every read of the record carries the event-only flag, since
    // verification copies the flags of the defaults.
    for (control_definition *table : {right_handed_controls, left_handed_controls})
    {
        for (int32_t j = 0; j < NUMBER_OF_CONTROLS_PER_INPUT_DEFINITION; j++)
        {
            for (int16_t bit : event_only_action_bits)
            {
                if (table[j].device != _input_device_none && table[j].action_bit == bit)
                    table[j].action_bit_flags |= _control_event_only_flag;
            }
        }
    }
    globals.initialized = true;
    const input_definitions_data *record = read_input_record();
    const int16_t selected = record->last_selected_set;
    free_preferences(&input_preferences_store);
    load_input_definition(selected);
    return true;
}

static bool startup_input_definitions(void)
{
    return initialize_input_definition();
}

void register_input_definition_hooks(void)
{
    register_startup_procedure(_startup_input_definitions, startup_input_definitions);
}

// ---- the current set --------------------------------------------------------------------

const input_definition *get_input_definition(void)
{
    if (!VASSERT(input_definition_globals.initialized, "current_settings.input_definition"))
    {
        static input_definition defaults;
        static mouse_control_data mouse_defaults;
        revert_input_definition_to_default(&defaults, &mouse_defaults, DEFAULT_SET_INDEX);
        return &defaults;
    }
    return &input_definition_globals.current_settings.definition;
}

const mouse_control_data *get_mouse_controls(void)
{
    if (!VASSERT(input_definition_globals.initialized, "current_settings.mouse_controls"))
    {
        static mouse_control_data defaults;
        default_mouse_controls(&defaults);
        return &defaults;
    }
    return &input_definition_globals.current_settings.mouse_controls;
}

int16_t get_current_input_definition_set_index(void)
{
    return get_input_definition()->set_index;
}

const input_definition_snapshot *get_input_definition_snapshot(void)
{
    return published_snapshot.load(std::memory_order_acquire);
}

void set_current_keyboard_layout(int16_t layout)
{
    if (layout < 0 || layout >= NUMBER_OF_KEYBOARD_LAYOUTS) layout = _keyboard_layout_system_default;
    input_definition_globals.current_settings.keyboard_layout = layout;
}

int16_t get_current_keyboard_layout(void)
{
    return input_definition_globals.current_settings.keyboard_layout;
}

void load_input_definition(int16_t set_index)
{
    set_index = valid_set_index(set_index);
    const input_definitions_data *record = read_input_record();
    slam_current_settings(&record->sets[set_index], &record->mouse_sets[set_index], set_index);
    input_definition_globals.current_settings.keyboard_layout = record->keyboard_layout;
    free_preferences(&input_preferences_store);
}

void slam_current_settings(const input_definition *definition, const mouse_control_data *mouse_controls,
                           int16_t set_index)
{
    if (!VASSERT(set_index >= 0 && set_index < NUMBER_OF_INPUT_SETS,
                 "set_index>=0 && set_index<NUMBER_OF_INPUT_SETS"))
        return;
    input_definition_globals.initialized = true;
    input_definition_globals.current_settings.definition = *definition;
    input_definition_globals.current_settings.mouse_controls = *mouse_controls;
    input_definition_globals.current_settings.definition.set_index = set_index;
    publish_current_settings();
}

void load_input_definitions(input_definition *definitions, mouse_control_data *mouse_controls, int16_t *layout)
{
    const input_definitions_data *record = read_input_record();
    for (int16_t i = 0; i < NUMBER_OF_INPUT_SETS; i++)
    {
        definitions[i] = record->sets[i];
        mouse_controls[i] = record->mouse_sets[i];
        strlcpy(definitions[i].name, translate_string(default_set_names[i]), sizeof(definitions[i].name));
        definitions[i].set_index = i;
    }
    if (layout) *layout = record->keyboard_layout;
    free_preferences(&input_preferences_store);
}

bool save_input_definitions(const input_definition *definitions, const mouse_control_data *mouse_controls,
                            int16_t selected_set, int16_t layout)
{
    input_definitions_data *record = read_input_record();
    record->last_selected_set = valid_set_index(selected_set);
    for (int32_t i = 0; i < NUMBER_OF_INPUT_SETS; i++)
    {
        record->sets[i] = definitions[i];
        record->mouse_sets[i] = mouse_controls[i];
    }
    record->keyboard_layout = layout;
    return write_input_record(record);
}

void get_input_set_data(input_set_data *sets)
{
    const input_definitions_data *record = read_input_record();
    for (int32_t i = 0; i < NUMBER_OF_INPUT_SETS; i++)
    {
        sets[i].used = (record->sets[i].flags & _input_definition_valid_flag) != 0;
        strlcpy(sets[i].name, record->sets[i].name, sizeof(sets[i].name));
    }
    free_preferences(&input_preferences_store);
}

bool set_input_set_data(const input_set_data *sets)
{
    input_definitions_data *record = read_input_record();
    for (int32_t i = 0; i < NUMBER_OF_INPUT_SETS; i++)
    {
        strlcpy(record->sets[i].name, sets[i].name, sizeof(record->sets[i].name));
        if (sets[i].used) record->sets[i].flags |= _input_definition_valid_flag;
        else record->sets[i].flags &= ~(uint32_t)_input_definition_valid_flag;
    }
    return write_input_record(record);
}

void switch_to_default_keybindings(void)
{
    struct input_definition_globals &globals = input_definition_globals;
    if (!globals.swapped)
    {
        globals.swap_settings = globals.current_settings;
        globals.swapped = true;
    }
    input_definition definition;
    mouse_control_data mouse_controls;
    revert_input_definition_to_default(&definition, &mouse_controls, DEFAULT_SET_INDEX);
    slam_current_settings(&definition, &mouse_controls, DEFAULT_SET_INDEX);
}

void restore_previous_user_keybindings(void)
{
    struct input_definition_globals &globals = input_definition_globals;
    if (!globals.swapped) return;
    globals.swapped = false;
    globals.current_settings = globals.swap_settings;
    publish_current_settings();
}

// ---- strings ----------------------------------------------------------------------------

const char *get_control_action_string(int32_t string_list_index, int16_t action_bit, int16_t definition_flags)
{
    // With alternate preset recall the rotate-preset key chooses a formation,
    // which has its own name at the end of the list.
    enum { ALTERNATE_PRESET_RECALL_ACTION_NAME = 54 };
    if (action_bit == _selection_rotate_preset_bit && (definition_flags & _input_definition_alternate_preset_recall_flag))
        return get_string_from_list(string_list_index, ALTERNATE_PRESET_RECALL_ACTION_NAME);
    return get_string_from_list(string_list_index, action_bit);
}

const char *get_key_string(int32_t string_list_index, int16_t key_code)
{
    if (key_code < 0 || key_code >= NUMBER_OF_KEYBOARD_DEVICE_CODES) return "";
    return get_string_from_list(string_list_index, key_code);
}

// ---- the preferences dialog ---------------------------------------------------------------

bool controls_preferences_panel_handler(void *dialog, int16_t verb, int32_t parameter)
{
    (void)dialog;
    enum { ITEM_HIT_VERB = 2, EDIT_KEY_BINDINGS_ITEM = 4 };
    switch (verb)
    {
    case 0:
    case 1:
    case 3:
    case 4: break;
    case ITEM_HIT_VERB:
        if (parameter == EDIT_KEY_BINDINGS_ITEM)
        {
            const key_binding_editor_procedure editor = key_binding_editor_slot.get();
            if (editor) editor();
        }
        break;
    default: HALT("halt"); break;
    }
    return true;
}

bool register_key_binding_editor_procedure(key_binding_editor_procedure procedure)
{
    return key_binding_editor_slot.fill(procedure);
}
