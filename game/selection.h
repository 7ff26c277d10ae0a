#pragma once
// The selection: the local player's choice of units, its sixteen presets, the
// pending waypoints and command modes, and the orders given from it.  Every
// action record reaches update_selection through the core's action consumers;
// presses and drags pick units in the last rendered frame (pick.h), releases,
// keys and the console turn into unit orders through the builders of
// monster_commands.h with the internal command identifier NONE, so an order
// takes effect only when it comes back stamped with a tick.
//
// Local: nothing here is synchronized.  The object flag bits it writes
// (selected 16, attack highlighted 30, mouse-over highlighted 31) and the
// units' `formation_index` are kept out of the state hash and read by no
// simulation code.  Main thread only.

#include <cstdint>

#include "input/action_queue.h"
#include "pick.h"
#include "world.h"

struct object_data;

enum
{
    MAXIMUM_NUMBER_OF_SELECTED_MONSTERS = 126,
    MAXIMUM_NUMBER_OF_TARGET_MONSTERS = 30,
    NUMBER_OF_SELECTION_PRESETS = 16,
    MAXIMUM_SELECTION_WAYPOINTS = 4,

    BAND_SELECTION_START_RADIUS = 8,
    GESTURE_CLICK_RESOLVE_RADIUS = 4,
    MAXIMUM_GESTURE_TIME = 15,
    MINIMUM_GESTURE_VELOCITY = 5,
    MAXIMUM_GESTURE_LOW_VELOCITY_TICKS = 1,
    MAXIMUM_GESTURE_DISTANCE = 450,
    MODIFIER_STICKY_TICKS = 7,
    WAIT_FOR_DOUBLE_CLICK_DELAY = 10,
    WAIT_FOR_SELECTION_SET_PRESET = 15,
    TARGET_HIGHLIGHT_TIME = 7,
    TICKS_UNTIL_RESELECTION_AFTER_COMMAND = 7,
    MINIMUM_WAYPOINT_SEPARATION = 512,
    MAXIMUM_SEPARATION_BEFORE_REFORMING = 5120,
    TIME_BETWEEN_IDLES = 250, // machine milliseconds
    ROTATION_AMOUNT = 4096,
    DEFAULT_CONSOLE_POPUP_VISIBLE_TIME = 15,
    MAXIMUM_RENAME_LENGTH = 17,
    MAXIMUM_CHAT_LENGTH_BEFORE_1700 = 49,
    MAXIMUM_CHAT_LENGTH = 192,
};

#define SELECTION_MODES_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 's', 'm')
#define SELECTION_POPUPS_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 's', 'p')

enum selection_flag_bits
{
    _selection_is_not_controllable_bit = 0,
    _selection_is_dirty_bit = 1,
    _selection_is_not_controllable_flag = 1 << _selection_is_not_controllable_bit,
    _selection_is_dirty_flag = 1 << _selection_is_dirty_bit,
};

struct selection_data
{
    int16_t count; // 0..126
    uint16_t flags; // selection_flag_bits
    int16_t monster_indexes[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS]; // unit slots, in the order added
};

enum selection_state
{
    _selection_idle = 0,
    _selection_possible_gesture,
    _selection_gesture,
    _selection_possible_band,
    _selection_band,
    _selection_locked,
    _selection_uninitialized,
};

enum selection_mode
{
    _selection_mode_none = -1,
    _selection_mode_recall_preset = 0,
    _selection_mode_formation,
    _selection_mode_attack,
    _selection_mode_special_ability,
    _selection_mode_rename,
    _selection_mode_whisper,
    _selection_mode_yell,
    _selection_mode_detach_units,
    _selection_mode_ally,
    _selection_mode_inventory,
    _selection_mode_inventory_next,
    _selection_mode_inventory_prev,
    _selection_mode_set_formation,
    _selection_mode_set_formation_in_place,
    _selection_mode_set_preset,
    NUMBER_OF_SELECTION_MODES // 15
};

enum selection_double_click_mode
{
    _selection_double_click_close_on_target = 0,
    _selection_double_click_select_like_units = 1,
    _selection_double_click_run_dont_walk = 2, // never stored
};

enum adjust_selection_kind
{
    _adjust_selection_add = 0,
    _adjust_selection_subtract,
    _adjust_selection_invert,
};

// How the unit scan compares each criterion.
enum scan_match_kind
{
    _must_match = 0,
    _cannot_match,
    _cannot_be_allied,
    _can_be_anything,
};

struct selection_globals_
{
    int16_t state; // selection_state
    int16_t mode; // selection_mode
    int16_t double_click_mode; // NONE, 0 or 1
    int16_t formation_index; // last chosen with a formation key
    bool suppress_selection; // the press may order but not select
    int16_t sloppy_monster_index;
    int16_t preset_selection_index;
    int32_t preset_selection_ticks;
    int16_t none_selected;
    int16_t modifier_key_ticks;
    int16_t ticks_until_reselection_after_command;
    int16_t selection_modes_string_list_index;
    int16_t selection_popups_string_list_index;
    int16_t low_velocity_gesture_ticks;
    action_data original_action;
    action_data last_action;
    pick_state original_pick;
    selection_data current_selection;
    selection_data saved_selection;
    rectangle2d band_selection_bounds;
    int16_t old_target_command_target_index;
    int16_t target_highlight_ticks;
    int16_t old_pick_up_command_target_object_index;
    int16_t old_pick_up_command_target_object_identifier;
    selection_data old_target_command_attacker_selection;
    selection_data old_target_command_defender_selection;
    int16_t old_selected_monster_index;
    int16_t waypoint_count;
    world_point2d waypoints[MAXIMUM_SELECTION_WAYPOINTS];
    int16_t preset_selection_match_hint;
    selection_data preset_selections[NUMBER_OF_SELECTION_PRESETS];
    bool first_click_was_overhead_map_click;
    uint32_t last_idle_time;
    // The selection as last reported in the command stream (a local game from
    // FIRST_GAMEPLAY_VERSION_WITH_REPORTED_SELECTION), as unit identifiers.
    bool selection_reported;
    int16_t reported_count;
    int16_t reported_identifiers[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS];
};

// ---- life cycle ------------------------------------------------------------------------

// Start-up: state uninitialized; registers remove_monster_index_from_all_selections
// as a died procedure.  Always true.
bool initialize_selection(void);
// A map starts: the record cleared (state idle, every list empty), mode none,
// the default formation, the string lists 'insm' and 'insp' looked up.
// Logs an assertion unless the state was uninitialized.  Always true.
bool initialize_selection_for_new_map(void);
void dispose_selection_from_old_map(void);

// Read-only view of the record (tests, the interface).
const selection_globals_ *get_selection_globals(void);

// ---- membership and modes --------------------------------------------------------------

void reset_selection_mode(void);
// Enters `mode` or refuses (see docs/determinism.md, "The selection"); the
// pending waypoints and markers go either way.  True when entered.
bool change_selection_mode(int16_t mode);
// Adds, removes or toggles one unit in `selection`; the current selection
// also gets the selected mark and drops its waypoints.  A unit that may not
// be selected is never added; a full list (126) ignores additions but is
// still marked dirty.
void adjust_monster_index_in_selection(selection_data *selection, int32_t monster_index, int16_t kind);
void add_monster_index_to_current_selection(int32_t monster_index);
// Empties the current selection, clears the three local object marks on every
// unit, leaves any mode.
void select_nothing(void);
// A unit that moved under a script's control or turned into an object.
void remove_monster_index_from_current_selections(int32_t monster_index);
// The died procedure: also out of the presets when `died_flags` holds
// _monster_died_clear_presets_flag.
void remove_monster_index_from_all_selections(int32_t monster_index, uint32_t died_flags);
int16_t get_current_selection_count(void);
// The unit at position `i`; NONE (assertion) beyond the count or without a map.
int16_t get_current_selection_index(int32_t i);
// Its position, or -1.
int16_t find_monster_index_in_current_selection(int32_t monster_index);

// ---- selecting -------------------------------------------------------------------------

// evaluate_monster with ambient units neither commandable nor, when
// targetable, friendly.
uint32_t evaluate_monster_for_selection_purposes(int32_t monster_index);
bool monster_is_ambient_for_selection_purposes(int32_t monster_index);
void start_new_selection(const action_data *action);
void update_band_selection_or_gesture(const action_data *action);
void handle_single_friendly_monster_click(int32_t monster_index);
void select_all(void);
void set_preset_selection(int32_t preset_index);
// A preset-selection command of the local player came back: the preset holds
// the units still alive of at most 126 identifiers.  Indexes outside 0..15 are ignored.
void set_preset_selection_by_identifiers(int32_t preset_index, int32_t count, const int16_t *identifiers);
// `action` may be null (the selection is replaced).
void recall_preset_selection(int32_t preset_index, const action_data *action);
// The preset equal to the selection (or, allowing larger, holding it), or -1.
int32_t match_current_selection_preset2(bool allow_larger);
// Units near `list[0]` (and, transitively, near each found) that pass the
// tests, appended to `list` up to `maximum`; the new count.
int32_t scan_and_get_monsters(int16_t *list, int32_t count, int32_t maximum, int32_t cell_radius,
                              int32_t player, int16_t player_test, int32_t team, int16_t team_test,
                              int32_t collection, int16_t collection_test, bool inanimate, int16_t inanimate_test);

// ---- what the interface's overlays read -------------------------------------------------

// True while a rubber band is dragged (state band), with its screen rectangle.
bool get_band_selection_bounds(rectangle2d *bounds);
// True while a facing gesture is dragged (state gesture) from a press that
// was not on the overhead map.  `start`: the press's ground point at the
// mesh's surface height (0 where there is none), or, after a press on an
// object, that object's position (false when it is gone) and *is_object set.
// `end`: what a triangles-only pick finds under the last pointer (clamped to
// the view), ground point or model location, at the start's height; false
// when it finds nothing.
bool get_gesture_vector(bool *is_object, world_point3d *start, world_point3d *end);

// ---- what the selection asks of later subsystems ---------------------------------------

// The console answers through its table (console_procedures.h): neutral until
// it registers (takes no action, no input, no prompts).
// The console menu of a mode's prompts (-1 none; the console's menu modes).
enum selection_console_menu
{
    _selection_console_menu_none = -1,
    _selection_console_menu_teammates = 0, // detach: the local teammates
    _selection_console_menu_teams = 1, // ally: the other teams
    _selection_console_menu_inventory = 2, // inventory: numbered, chosen by digit
    _selection_console_menu_inventory_briefly = 3, // next/previous item: closes by itself
};
// A press on the overhead map is located through the overhead map's table
// (overhead_map_procedures.h); until it registers, no press is on the map.
// What the selection asks of the layers built after it: one table,
// registered whole by the program (register_built_subsystems joins the
// members of the control bar, the status bar and the renderer).  Each
// member's default while null beside it.
struct selection_procedures
{
    // The control bar's inventory: refresh its buttons, toggle its display
    // (null: nothing).
    void (*update_inventory_buttons)(void);
    void (*toggle_inventory)(void);
    // Whether an in-game dialog is open (null: none is).
    bool (*any_ingame_dialogs_open)(void);
    // The renderer's local marker sprites (interface collection sequence) and
    // their removal, at once or fading (null: markers are not drawn).
    void (*new_local_sprite)(const world_point3d *location, int16_t sequence);
    void (*remove_local_sprites)(bool immediately);
};
// Refused (assertion, the first kept) for null or a second table.
bool register_selection_procedures(const selection_procedures *procedures);
// The registered table; never null (every member null until one is registered).
const selection_procedures *get_selection_procedures(void);

// The key bindings' options the selection reads (0 while no key bindings are
// loaded).
enum selection_input_option_bits
{
    _selection_input_alternate_preset_recall_bit = 0,
    _selection_input_right_button_deselects_bit,
    _selection_input_tilde_ignores_inventory_bit,
    _selection_input_control_bar_inventory_bit,
    _selection_input_right_click_attack_bit,
    _selection_input_right_click_ignored_bit,
    _selection_input_left_click_gestures_disabled_bit,
    _selection_input_vux_actions_bit,
    _selection_input_wheel_cycle_presets_bit,
    _selection_input_wheel_cycle_inventory_bit,
};
// Tests only: replaces where the selection reads its option bits (null: the
// key bindings again); the previous procedure.
typedef uint32_t (*selection_input_options_procedure)(void);
selection_input_options_procedure set_selection_input_options_procedure_for_tests(
    selection_input_options_procedure procedure);

// The core's action consumer, the map step, the died procedure, the preset
// verb and the units' remove-from-selection point (game/subsystems.cpp).
void register_selection_hooks(void);

// ---- within the selection: what selection.cpp shares with selection_orders.cpp ----------

// The marker sprites of the interface collection.
enum interface_sequence
{
    _interface_sequence_destination_marker = 0,
    _interface_sequence_waypoint_marker = 1,
    _interface_sequence_attack_marker = 2,
    _interface_sequence_impassable_destination_marker = 4,
};

// The record, writable (the orders' half of the module only).
selection_globals_ *get_mutable_selection_globals(void);
// Not empty and controllable.
bool selection_is_usable(void);
bool selection_input_option(int32_t bit);
// An action's ticks for the countdowns: its delta held to 0..1024.
int32_t selection_action_ticks(const action_data *action);
// A countdown less the action's ticks, stopping at -1.
int16_t selection_count_down(int32_t ticks, const action_data *action);
// The larger of the horizontal and vertical distance.
int32_t selection_pointer_distance(point2d a, point2d b);
bool monster_is_commandable_on_mesh_for_selection(int32_t monster_index);
object_data *get_selection_unit_object(int32_t monster_index);
void set_selection_object_mark(int32_t monster_index, uint32_t flag, bool on);
// The markers (nothing until the renderer registers them).
void new_selection_local_sprite(const world_point2d *at, int16_t sequence);
void remove_selection_local_sprites(bool immediately);
// Mode none, the selected marks hidden for the reselection countdown.
void finish_selection_order(void);
void send_selection_general_order(int16_t type);
void highlight_selection_targets(bool on);
void handle_selection_double_click(const action_data *action);
void update_selection_mouse_over_highlight(const action_data *action);
int32_t get_selection_preset_usable_count(const selection_data *preset);
// The local team's other players and the other live teams, in order.
int32_t get_selection_local_teammates(int16_t *players);
int32_t get_selection_other_live_teams(int16_t *teams);
bool selection_team_is_live(int32_t team_index);
