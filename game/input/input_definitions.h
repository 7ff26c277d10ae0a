#pragma once
// Key bindings: which physical key or mouse button sets which action flag
// (action_queue.h).  The player has five named sets of bindings, two of them
// factory layouts; one set is current.  The sets, the mouse options of each
// set and the chosen set are the preferences record "input".
//
// Threads: everything here is main-thread only except
// get_input_definition_snapshot, which the 30 Hz keyboard task calls: the
// current set and its mouse options are also published as an immutable
// snapshot that no later change frees while the process runs.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"

enum input_device
{
    _input_device_none = 0,
    _input_device_keyboard = 1,
    _input_device_mouse = 2,
    _input_device_joystick = 3, // never reported down on this platform
    NUMBER_OF_INPUT_DEVICES
};

// Internal key codes: the same on every keyboard layout.
enum keyboard_code
{
    _key_escape = 0,
    _key_f1, _key_f2, _key_f3, _key_f4, _key_f5, _key_f6, _key_f7, _key_f8, _key_f9, _key_f10, _key_f11, _key_f12,
    _key_f13, _key_f14, _key_f15,
    _key_backquote,
    _key_1, _key_2, _key_3, _key_4, _key_5, _key_6, _key_7, _key_8, _key_9, _key_0,
    _key_minus, _key_plus, _key_delete, _key_tab,
    _key_q, _key_w, _key_e, _key_r, _key_t, _key_y, _key_u, _key_i, _key_o, _key_p,
    _key_left_brace, _key_right_brace, _key_backslash, _key_caps_lock,
    _key_a, _key_s, _key_d, _key_f, _key_g, _key_h, _key_j, _key_k, _key_l,
    _key_semicolon, _key_quote, _key_return, _key_shift,
    _key_z, _key_x, _key_c, _key_v, _key_b, _key_n, _key_m,
    _key_less_than, _key_greater_than, _key_question_mark,
    _key_control, _key_option, _key_command, _key_space,
    _key_up_arrow, _key_down_arrow, _key_left_arrow, _key_right_arrow,
    _key_help, _key_home, _key_page_up, _key_forward_delete, _key_end, _key_page_down,
    _keypad_clear, _keypad_equals, _keypad_slash, _keypad_asterik,
    _keypad_0, _keypad_1, _keypad_2, _keypad_3, _keypad_4, _keypad_5, _keypad_6, _keypad_7, _keypad_8, _keypad_9,
    _keypad_minus, _keypad_plus, _keypad_enter, _keypad_period,
    NUMBER_OF_KEYBOARD_DEVICE_CODES,

    _key_print_screen = _key_f13,
    _key_scroll_lock = _key_f14,
    _key_pause = _key_f15,
    _keypad_numlock = _keypad_clear,
};
static_assert(NUMBER_OF_KEYBOARD_DEVICE_CODES == 100);

enum mouse_code
{
    _mouse_axis0 = 0,
    _mouse_axis1,
    _mouse_axis_wheel,
    _mouse_button_left,
    _mouse_button_right,
    _mouse_button_middle,
    _mouse_button3, _mouse_button4, _mouse_button5, _mouse_button6, _mouse_button7, _mouse_button8,
    NUMBER_OF_MOUSE_DEVICE_CODES
};
static_assert(NUMBER_OF_MOUSE_DEVICE_CODES == 12);

enum control_definition_flags
{
    _control_value_mask = 0x0f,           // the value a flag-range control stores
    _control_sets_value_range_flag = 0x20, // the control stores its value at its action bit (digit keys)
    _control_rebindable_flag = 0x80,      // the player may rebind it in the editor
    _control_event_only_flag = 0x100,     // taken only from key presses, never from the held-key state
};

// One binding.  Stored big-endian in the "input" record.
struct control_definition
{
    int16_t device;           // input_device
    int16_t code;             // keyboard_code or mouse_code
    int16_t action_bit;       // action_flag
    int16_t action_bit_flags; // control_definition_flags
};
static_assert(sizeof(control_definition) == 8);

enum input_definition_flag_bits
{
    _input_definition_write_protected = 0,
    _input_definition_valid,
    _input_definition_right_button_deselects,
    _input_definition_control_bar_inventory,
    _input_definition_caps_lock_does_nothing,
    _input_definition_alternate_preset_recall,
    _input_definition_right_click_through_ui,
    _input_definition_tilde_ignores_inventory,
    NUMBER_OF_INPUT_DEFINITION_FLAGS
};
enum
{
    _input_definition_valid_flag = FLAG(_input_definition_valid),
    _input_definition_right_button_deselects_flag = FLAG(_input_definition_right_button_deselects),
    _input_definition_alternate_preset_recall_flag = FLAG(_input_definition_alternate_preset_recall),
};

enum caps_lock_action
{
    _caps_lock_selection_boxes = 0,
    _caps_lock_ignored,
    _caps_lock_health_bars,
    _caps_lock_player_stats,
    _caps_lock_chat_backlog,
    NUMBER_OF_CAPS_LOCK_ACTIONS
};

enum
{
    NUMBER_OF_CONTROLS_PER_INPUT_DEFINITION = 54,
    MAXIMUM_INPUT_DEFINITION_NAME_LENGTH = 63,
    rotate_preset_control_index = 19,
    NUMBER_OF_INPUT_SETS = 5,
    DEFAULT_SET_INDEX = 0,
    INPUT_DEFINITIONS_VERSION = 3,
};

// One set of bindings.
struct input_definition
{
    char name[MAXIMUM_INPUT_DEFINITION_NAME_LENGTH + 1];
    uint32_t flags;     // input_definition_flag_bits
    int16_t unused[12]; // stored unconverted
    uint8_t unused2;
    uint8_t caps_lock_action; // caps_lock_action
    int16_t set_index;
    control_definition controls[NUMBER_OF_CONTROLS_PER_INPUT_DEFINITION];
};
static_assert(sizeof(input_definition) == 528);
static_assert(offsetof(input_definition, flags) == 64);
static_assert(offsetof(input_definition, unused) == 68);
static_assert(offsetof(input_definition, unused2) == 92);
static_assert(offsetof(input_definition, caps_lock_action) == 93);
static_assert(offsetof(input_definition, set_index) == 94);
static_assert(offsetof(input_definition, controls) == 96);

enum mouse_control_flag_bits
{
    _mouse_control_enabled = 0,
    _mouse_control_reversed_left_right,
    _mouse_control_top_corners_turn_camera,
    _mouse_control_bottom_corners_orbit_camera,
    _mouse_control_vux_actions,
    _mouse_control_use_directinput,
    _mouse_control_right_click_attack,
    _mouse_control_wheel_does_nothing,
    _mouse_control_wheel_moves,
    _mouse_control_wheel_zooms,
    _mouse_control_wheel_cycle_presets,
    _mouse_control_left_click_gestures_disabled,
    _mouse_control_wheel_cycle_inventory,
    _mouse_control_right_click_ignored,
    NUMBER_OF_MOUSE_CONTROL_FLAGS
};
enum
{
    _mouse_control_enabled_flag = FLAG(_mouse_control_enabled),
    _mouse_control_reversed_left_right_flag = FLAG(_mouse_control_reversed_left_right),
    _mouse_control_top_corners_turn_camera_flag = FLAG(_mouse_control_top_corners_turn_camera),
    _mouse_control_bottom_corners_orbit_camera_flag = FLAG(_mouse_control_bottom_corners_orbit_camera),
    _mouse_control_vux_actions_flag = FLAG(_mouse_control_vux_actions),
    _mouse_control_right_click_attack_flag = FLAG(_mouse_control_right_click_attack),
    _mouse_control_wheel_does_nothing_flag = FLAG(_mouse_control_wheel_does_nothing),
    _mouse_control_wheel_moves_flag = FLAG(_mouse_control_wheel_moves),
    _mouse_control_wheel_zooms_flag = FLAG(_mouse_control_wheel_zooms),
    _mouse_control_wheel_cycle_presets_flag = FLAG(_mouse_control_wheel_cycle_presets),
    _mouse_control_wheel_cycle_inventory_flag = FLAG(_mouse_control_wheel_cycle_inventory),
    _mouse_control_right_click_ignored_flag = FLAG(_mouse_control_right_click_ignored),
    _mouse_control_wheel_flags_mask = 6016, // moves, zooms, cycle presets, does nothing, cycle inventory
};

enum horizontal_movement_action
{
    _horizontal_movement_ignored = 0,
    _horizontal_movement_pan,
    _horizontal_movement_rotate,
    _horizontal_movement_orbit,
};
enum mouse_wheel_action
{
    _mouse_wheel_ignored = 0,
    _mouse_wheel_move,
    _mouse_wheel_zoom,
    _mouse_wheel_cycle_presets,
    _mouse_wheel_cycle_inventory,
};
enum right_click_action
{
    _right_click_ignored = 0,
    _right_click_gesture_move,
    _right_click_acttack_ground,
    _right_click_deselect_units,
};

// The selector word of a mouse record: three 3-bit fields, bits 9-31 zero.
enum
{
    MOUSE_SELECTOR_FIELD_MASK = 7,
    HORIZONTAL_ACTION_SHIFT = 0,
    WHEEL_ACTION_SHIFT = 3,
    RIGHT_CLICK_ACTION_SHIFT = 6,
    // encoded_horizontal_action: the first action bit of the pair horizontal
    // mouse movement drives; this value for none.
    ENCODED_HORIZONTAL_ACTION_NONE = 32768,
};

// The mouse options of one set.
struct mouse_control_data
{
    uint32_t flags;          // mouse_control_flag_bits
    uint32_t selectors;      // stored unconverted; derived from the flags whenever the record is read
    int16_t encoded_horizontal_action; // 6 pan, 4 rotate, 0 orbit, ENCODED_HORIZONTAL_ACTION_NONE (as stored: -32768)
    int16_t unused[5];
};
static_assert(sizeof(mouse_control_data) == 20);
static_assert(offsetof(mouse_control_data, encoded_horizontal_action) == 8);

enum keyboard_layout
{
    _keyboard_layout_system_default = 0,
    _keyboard_layout_qwerty,
    NUMBER_OF_KEYBOARD_LAYOUTS
};

#define INPUT_DEFINITIONS_PREFERENCES_NAME "input"

// The preferences record "input".
struct input_definitions_data
{
    int16_t last_selected_set; // 0..4
    int16_t flags;             // 0
    int16_t keyboard_layout;   // keyboard_layout
    int16_t pad;
    input_definition sets[NUMBER_OF_INPUT_SETS];
    mouse_control_data mouse_sets[NUMBER_OF_INPUT_SETS];
};
static_assert(sizeof(input_definitions_data) == 2748);
static_assert(offsetof(input_definitions_data, sets) == 8);
static_assert(offsetof(input_definitions_data, mouse_sets) == 2648);

extern const byte_swap_code input_definitions_byte_swapping_data[];

// Names and valid flags of the stored sets, for the editor's set menu.
struct input_set_data
{
    bool used;
    char name[MAXIMUM_INPUT_DEFINITION_NAME_LENGTH + 1];
};

// ---- life cycle -----------------------------------------------------------------

// Start-up: reads "input", marks the event-only controls of both default
// tables, and makes the stored selected set current.  Always true (a missing
// or refused record gives the defaults).
bool initialize_input_definition(void);

// Fills the "input definitions" start-up step.
void register_input_definition_hooks(void);

// ---- the current set --------------------------------------------------------------

// The current set and its mouse options (main thread).  Before start-up each
// asserts and answers the right-handed defaults.
const input_definition *get_input_definition(void);
const mouse_control_data *get_mouse_controls(void);
int16_t get_current_input_definition_set_index(void);
// Whether the current set asks the rotate-preset key to choose a formation
// instead (false before start-up); the preprocessing reads it.
bool alternate_preset_recall_enabled(void);

// An immutable copy of the current set and its mouse options, replaced (never
// changed or freed) whenever the current set changes.  Any thread.
struct input_definition_snapshot
{
    input_definition definition;
    mouse_control_data mouse_controls;
};
const input_definition_snapshot *get_input_definition_snapshot(void);

void set_current_keyboard_layout(int16_t layout);
int16_t get_current_keyboard_layout(void);

// Makes stored set `set_index` (0..4, else the default set) current with its
// mouse options, and takes the stored keyboard layout.
void load_input_definition(int16_t set_index);

// All five stored sets and mouse records, and the layout.  The names come back
// as the translated default names and set_index as the position.
void load_input_definitions(input_definition *definitions, mouse_control_data *mouse_controls, int16_t *layout);
// Stores all five sets with the selected set and the layout.  False when the
// record cannot be written.
bool save_input_definitions(const input_definition *definitions, const mouse_control_data *mouse_controls,
                            int16_t selected_set, int16_t layout);
// The factory bindings of `set_index` (left-handed for set 1, right-handed for
// the others) with the translated default name, valid flag and default mouse options.
void revert_input_definition_to_default(input_definition *definition, mouse_control_data *mouse_controls,
                                        int16_t set_index);

void get_input_set_data(input_set_data *sets);
bool set_input_set_data(const input_set_data *sets);

// Makes the right-handed defaults current without touching the stored sets,
// keeping the player's current set to put back.
void switch_to_default_keybindings(void);
void restore_previous_user_keybindings(void);

// Copies a set and its mouse options into the current ones.
void slam_current_settings(const input_definition *definition, const mouse_control_data *mouse_controls,
                           int16_t set_index);

// The display name of an action in the action-name list `string_list_index`.
const char *get_control_action_string(int32_t string_list_index, int16_t action_bit, int16_t control_flags);

// The name of key `key_code` in the key-name list 'inkn' at `string_list_index`;
// "" for a code outside 0..99 or a list without it.
const char *get_key_string(int32_t string_list_index, int16_t key_code);
#define KEY_NAME_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'k', 'n')

// ---- the record ---------------------------------------------------------------------

// The default and verify procedures of "input".  Verification repairs in
// place and always keeps the record.
void default_input_preferences(void *record);
bool verify_input_preferences(void *record);

// The selector words from the flags (after reading), and back (before writing).
void derive_input_selectors_from_flags(input_definitions_data *record);
void derive_input_flags_from_selectors(input_definitions_data *record);

// The right-handed (0) or left-handed (1) default table.
const control_definition *get_default_controls(int16_t handedness);

// ---- the preferences dialog -------------------------------------------------------

// The "controls" panel of the preferences dialog: verb 2 (item hit) on item 4
// opens the key-binding editor; verbs 0, 1, 3, 4 do nothing; any other verb
// asserts.  Always true.
bool controls_preferences_panel_handler(void *dialog, int16_t verb, int32_t parameter);

// The key-binding editor, opened from the panel: true when the player saved.
typedef bool (*key_binding_editor_procedure)(void);
bool register_key_binding_editor_procedure(key_binding_editor_procedure procedure);
