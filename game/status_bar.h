#pragma once
// The status bar: the strip along the top of the screen during a game.  The
// quit (pause) and help buttons, the overhead-map and sketch buttons, and a
// description of the selection (portrait, name, experience, ammunition,
// carried item) or, with nothing selected, the game's scoring, difficulty and
// rules.  It is the dialog '!sba' drawing from the collection '!sba'; the
// unit status line's experience icons come from 'isb6'.  Laid out for a
// 640-pixel bar, it widens its texts and moves its buttons right on wider
// screens.
//
// Per map: made by initialize_status_bar_for_new_map, disposed by
// dispose_status_bar_from_old_map.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/monster_status_control.h"

#define STATUS_BAR_DIALOG_TAG FOUR_CHARACTER_CODE('!', 's', 'b', 'a')
#define STATUS_BAR_COLLECTION_TAG FOUR_CHARACTER_CODE('!', 's', 'b', 'a')
#define STATUS_BAR_EXPERIENCE_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 's', 'b', '6')
#define DIFFICULTY_LEVEL_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'd', 'l')

// Items of the dialog '!sba'.
enum status_bar_item
{
    _status_bar_quit_button = 1,      // toggle: the quit dialog (which pauses)
    _status_bar_unit_status = 2,      // 'STAT': click renames the selected unit
    _status_bar_description_text = 3, // the selection's description
    _status_bar_portrait_button = 4,  // points the camera at the selection
    _status_bar_map_button = 5,       // toggle: the overhead map
    _status_bar_erase_sketch_button = 6, // network games only
    _status_bar_sketch_mode_button = 7,  // toggle, network games only
    _status_bar_scoring_text = 8,     // scoring and difficulty
    _status_bar_rules_text = 9,       // the game's rules
    _status_bar_help_button = 10,     // toggle: the game hints dialog
    NUMBER_OF_STATUS_BAR_ITEMS = 10
};

// Sequences of the collection '!sba'.
enum status_bar_sequence
{
    _status_bar_map_button_sequence = 0,
    _status_bar_quit_button_sequence = 3,
    _status_bar_help_button_sequence = 4,
    _status_bar_sketch_mode_button_sequence = 5,
    _status_bar_erase_sketch_button_sequence = 6,
    _status_bar_portrait_frame_sequence = 8,
    _status_bar_colors_sequence = 9, // frames: 0 unit status, 1 description, 2 scoring, 3 rules
    _status_bar_background_sequence = 10,
};

enum
{
    STATUS_BAR_DESIGN_WIDTH = 640,
    // Dialog flags of the bar: bevel, horizontally centred, behind every other dialog.
    STATUS_BAR_DIALOG_FLAGS = 1288,
    NUMBER_OF_STATUS_BAR_CONTROL_POSITIONS = 9,
    SELECTION_DESCRIPTION_SIZE = 1024,
    // The map button's transparency when the game does not allow the overhead map.
    DISALLOWED_MAP_BUTTON_TRANSPARENCY = 43690,
    // The portrait button's control flag: fires on the next action.
    PORTRAIT_BUTTON_CONTROL_FLAGS = 128,
};

// `cached_control_position_data.flags`.
enum
{
    _control_position_is_button_flag = 1,     // its original bounds move too
    _control_position_moves_with_right_flag = 2, // moves right; without it the item widens
    _control_position_widens_flag = 4,        // marks a widening item (read as "not 2")
};

// One row of the resolution table: where an item was in the dialog tag.
struct cached_control_position_data
{
    int16_t item_index;
    uint16_t flags;
    bool initialized;                 // the starting bounds were recorded (once per run)
    rectangle2d starting_bounds;
    rectangle2d starting_original_bounds; // buttons only
};

// The one status bar record, cleared at the end of each map.
struct status_bar_data
{
    dialog_data *status_bar;       // NULL without a map
    int32_t collection_index;      // '!sba'
    int32_t exp_collection_index;  // 'isb6'
    int16_t height;                // the dialog tag's height
    int16_t visible;
    uint8_t map_visible;           // the overhead map is open
    uint8_t map_initially_opened;  // the map was opened automatically once this map
    uint8_t force_update;          // refresh the selection display on the next update
    int16_t shown_scoring;         // the scoring type the texts name
    int32_t shown_objective;       // the objective the rules text gives in a game its script decides
    int16_t shown_speed;           // the game speed the scoring text names (none at normal)
};

// The resolution table (9 rows); the starting bounds are kept for the whole run.
extern cached_control_position_data status_bar_control_positions[NUMBER_OF_STATUS_BAR_CONTROL_POSITIONS];

// Loads the collections '!sba' and 'isb6', makes the dialog '!sba' (flags
// 1288) and lays it out.  Asserts that no bar exists.  A missing or refused
// dialog tag leaves no bar (logged); the game goes on without it.
void initialize_status_bar_for_new_map(void);
// The layout and the static texts for the current screen width; then an update.
void initialize_status_bar_dialog(void);
// initialize_status_bar_dialog when the bar exists.
void update_status_bar_for_new_resolution(void);
// Disposes the dialog and clears the record (the next map opens the map again).
void dispose_status_bar_from_old_map(void);

// Shows or hides the bar; the game preference follows.
void set_status_bar_visibility(bool visible);
// Whether the bar is shown; with `bounds`, when it exists and is shown, the
// dialog's rectangle with its bottom at top + height.
int16_t status_bar_visible(rectangle2d *bounds);

int16_t get_status_bar_height(void);
int32_t get_status_bar_collection_index(void);     // NONE without a bar
int32_t get_status_bar_exp_collection_index(void); // NONE without a bar
dialog_data *get_status_bar_dialog(void);          // NULL without a bar
bool is_status_bar(const dialog_data *dialog);

// Whether the quit dialog or the game hints dialog is open.
bool any_ingame_dialogs_open(void);

// A simulated click on the quit (item 1) or help (item 10) button; false when
// the press was refused or there is no bar (asserted).
bool push_pause_button(void);
bool push_help_button(void);

enum push_overhead_map_button_mode
{
    _push_overhead_map_button_always = 0,
    _push_overhead_map_button_to_open = 1,  // only when the map is closed
    _push_overhead_map_button_to_close = 2, // only when it is open
};
// Clicks the map button as `push_mode` says.  Asserts that the bar exists.
void push_overhead_map_button(int32_t push_mode);

// The dialog's inhibitor: the quit button is refused while the hints dialog
// is open; the help button while the quit dialog is open or the console is
// taking input.
bool status_bar_dialog_inhibitor_proc(dialog_data *dialog, int16_t item_id);
// The dialog's handler: the items' clicks.
void status_bar_dialog_handler_proc(dialog_data *dialog, int16_t item_id, action_data *action);

// Once per frame: the once-per-map opening of the overhead map, then the
// selection's display when it changed (or an update was forced).
void update_status_bar(void);

// Joins the status bar to the core: the selection's any-dialogs-open query.
void register_status_bar_hooks(void);

// ---- what the status bar asks of other subsystems ------------------------------------

// The quit dialog and the game hints dialog belong to the front end
// (front_end_procedures.h); until it fills them, the buttons open nothing and
// neither dialog counts as open.

// What the bar shows of the selection.  `portrait_collection_index` NONE:
// no unit is shown.  `status` is the unit status line's record (its
// collection and colour are the bar's and are set by the bar).
struct status_bar_selection_data
{
    int16_t portrait_collection_index;
    int16_t portrait_sequence_index;
    const rgb_color *portrait_replacement_colors; // owned by the selection; may be NULL
    char description[SELECTION_DESCRIPTION_SIZE];
    status_control_data status;
};
// The bar calls the selection directly (game/selection_interface.h): whether
// it changed since the last look (`selection_changed`), what to show of it
// (portrait, description, name, type, experience, ammunition, item), and the
// clicks on it: the unit status line renames the unit
// (`rename_current_selection`), the portrait turns the camera to it
// (`point_observer_at_current_selection`).
enum status_bar_selection_click
{
    _status_bar_rename_selection = 0,
    _status_bar_point_observer_at_selection = 1,
};

// Tests only: replaces those calls, so that the bar's display and clicks are
// checked without units.  `changed` answers whether the selection changed;
// `status` fills the record (which comes in showing nothing); `click` gets
// one of the clicks above.  A null member keeps the real call; a null table
// restores them all.  Returns the previous table (null when none).  The
// program never calls it.
struct status_bar_selection_procedures
{
    bool (*changed)(void);
    void (*status)(status_bar_selection_data *selection);
    void (*click)(int16_t click);
};
const status_bar_selection_procedures *set_status_bar_selection_procedures(
    const status_bar_selection_procedures *procedures);
