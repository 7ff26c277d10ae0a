#pragma once
// The control bar: the strip of order buttons along the bottom of the screen
// during a game (chat, ally, stop, hold, scatter, retreat, special ability and
// ten formations), or, with an input definition that asks for it, a row of
// inventory buttons for the one selected unit.  It is the dialog '!cba' whose
// buttons take their pictures from the collection '!cba'; the row is laid
// out to fit the screen width, dropping the least important buttons first.
//
// The layout and the inventory row's geometry are pure functions
// (layout_control_bar_buttons, layout_inventory_buttons) so they can be
// checked as tables; the module applies their results to the dialog.
//
// The selection's orders and inventory queries are reached through the
// registration points below (neutral until the selection fills them).
// Local: nothing here is synchronized.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "point2d.h"

#define CONTROL_BAR_DIALOG_TAG FOUR_CHARACTER_CODE('!', 'c', 'b', 'a')
#define CONTROL_BAR_COLLECTION_TAG FOUR_CHARACTER_CODE('!', 'c', 'b', 'a')
#define CONTROL_BAR_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'c', 'b')

enum
{
    NUMBER_OF_CONTROL_BAR_BUTTONS = 17,
    NUMBER_OF_INVENTORY_BUTTONS = 10,
    FIRST_INVENTORY_BUTTON_ITEM = 18, // items 18 .. 27 of the dialog
    // Bevelled (8), horizontally centred (256) and behind every other
    // dialog (1024).
    CONTROL_BAR_DIALOG_FLAGS = 1288,
    CONTROL_BAR_BACKGROUND_SEQUENCE = 12,
    MAXIMUM_CONTROL_BAR_PRIORITY = 3,
    CONTROL_BAR_MARGIN = 8,     // before the first button and between buttons
    CONTROL_BAR_GROUP_GAP = 16, // after the ally and the special-ability entries
    INVENTORY_BUTTON_GAP = 16,
    MINIMUM_INVENTORY_BUTTON_WIDTH = 66, // and the width of the narrow buttons
    MAXIMUM_INVENTORY_BUTTON_WIDTH = 128,
    INVENTORY_BUTTON_TOP = 8,
    INVENTORY_BUTTON_BOTTOM = 24,
    MAXIMUM_INVENTORY_STRING_LENGTH = 127,
    // A larger count from the selection is taken as this (it only narrows the row).
    MAXIMUM_INVENTORY_ENTRIES = 1000,
};

// Strings of the list 'incb'.
enum
{
    _control_bar_string_whisper = 0, // the chat button to the team
    _control_bar_string_yell = 1,    // the chat button to everyone
};

// `control_bar_data.visible`.
enum control_bar_visibility
{
    _control_bar_hidden = 0,
    _control_bar_commands = 1,
    _control_bar_inventory = 2,
};

// A button's type is the order it gives; 0 hides the button.
enum control_bar_button_type
{
    _control_bar_button_none = 0,
    _control_bar_button_chat,           // 1
    _control_bar_button_ally,           // 2
    _control_bar_button_stop,           // 3
    _control_bar_button_hold_ground,    // 4
    _control_bar_button_scatter,        // 5
    _control_bar_button_retreat,        // 6
    _control_bar_button_special_ability, // 7
    _control_bar_button_formation_0,    // 8 .. 17: formations 0 .. 9
    _control_bar_button_formation_9 = _control_bar_button_formation_0 + 9,
    NUMBER_OF_CONTROL_BAR_BUTTON_TYPES // 18
};

// One entry of the button table.
struct mapping
{
    uint8_t priority;             // 0 most important .. 3
    uint8_t dialog_control_index; // the item of the dialog
    uint8_t button_type;          // control_bar_button_type
    uint8_t sequence_index;       // the picture in the collection '!cba'
};

// The bar's one record, cleared at the end of each map.
struct control_bar_data
{
    dialog_data *dialog;        // null without a bar
    int16_t collection_index;   // '!cba', NONE when missing
    int16_t string_list_index;  // 'incb', NONE when missing
    int16_t height;             // of the dialog tag
    uint8_t visible;            // control_bar_visibility
    uint8_t inv_visible;        // the inventory row is showing
    uint8_t visibility_before_toggle;
    uint8_t max_priority;       // the highest priority that fitted
    // Bit n: item n of the dialog is a button (items 1 .. 27).  A dialog tag
    // without one of them leaves that button out instead of asking a
    // missing item every frame.
    uint32_t button_items;
    // How many entries the inventory row is shaped for; NONE until it is.
    // Shaping marks every button for drawing, so it is done only on change.
    int16_t inventory_row_shaped_for;
};

// The table in its order; the types of entries 0 (chat) and 1 (ally) are
// set at each map start by the game type.
extern mapping button_mapping[NUMBER_OF_CONTROL_BAR_BUTTONS];

// ---- the layout (pure) ------------------------------------------------------------------

// The type entry `entry` of the table has in a game that is (or is not) a
// network game: the chat and ally buttons exist only in network games.
int32_t control_bar_button_type(int32_t entry, bool network_game);

// What the layout is given and what it gives.
struct control_bar_layout_input
{
    int32_t screen_width;
    int16_t bar_height;
    bool network_game;
    // The first frame of each entry's sequence; width 0 when it has none.
    point2d picture_sizes[NUMBER_OF_CONTROL_BAR_BUTTONS]; // x = width, y = height
};
struct control_bar_layout
{
    int32_t max_priority;  // 3, 2 or 1 when the row fits, else 0
    int32_t width_needed;  // of the row at that priority
    int32_t offset;        // (screen width - width needed) / 2; negative when it overflows
    bool shown[NUMBER_OF_CONTROL_BAR_BUTTONS];
    rectangle2d bounds[NUMBER_OF_CONTROL_BAR_BUTTONS]; // of the shown entries, dialog coordinates
};

// The row's width at maximum priority `priority`: 8, plus picture width + 8
// for each shown entry with a picture, plus 16 after every entry whose type
// is ally or special ability (shown or not).
int32_t control_bar_width_needed(const control_bar_layout_input *input, int32_t priority);
// The highest of priorities 3, 2, 1 whose row is narrower than the screen
// (else 0, even when it overflows), and the centred row at it.
void layout_control_bar_buttons(const control_bar_layout_input *input, control_bar_layout *layout);

// The inventory row for `count` entries on a bar `dialog_width` wide.
struct inventory_button_layout
{
    int32_t count;          // buttons placed: min(count, 10), 0 for none
    int32_t width;          // of each placed button
    int16_t frame_sequence; // of the collection 'baie': long (11) or short (8) button
    rectangle2d bounds[NUMBER_OF_INVENTORY_BUTTONS];
};
// w = (dialog width - 16 (count + 1)) / count: above 66 the buttons are
// min(w, 128) wide with the long frame, else 66 wide with the short frame;
// left edges 16 + i (width + 16), rows 8 .. 24.  At most 10 are placed.
void layout_inventory_buttons(int32_t dialog_width, int32_t count, inventory_button_layout *layout);

// ---- the module ---------------------------------------------------------------------------

// Per map: the dialog '!cba' (flags 1288), its collection and string list, the
// types of the chat and ally entries, then the layout.  A missing dialog tag
// or collection is logged and leaves the map without a bar.
void initialize_control_bar_for_new_map(void);
// Lays the bar out for the screen (nothing without a dialog).
void initialize_control_bar(void);
// Disposes the dialog and clears the record (the next map starts hidden).
void dispose_control_bar_from_old_map(void);
// Lays the bar out again; a showing inventory row is shown again.
void update_control_bar_for_new_resolution(void);

// 0 hidden, 1 order buttons, 2 inventory row.  Nothing in a replay, without a
// local team, or when unchanged; otherwise the game preference follows.
void set_control_bar_visibility(int32_t visible);
// To the inventory row, or from it back to what was shown before.
void toggle_control_bar_inventory(void);
// Once per frame: the chat and ally buttons, or the inventory row.
void update_control_bar(void);
void control_bar_dialog_handler_proc(dialog_data *dialog, int16_t item_id, action_data *action);

// The `visible` value; when `bounds` is given and the bar is visible, the
// dialog's rectangle is copied into it.
int16_t control_bar_visible(rectangle2d *bounds);
bool is_control_bar(const dialog_data *dialog);
dialog_data *get_control_bar_dialog(void);

// Places `count` inventory buttons (0 hides them all; at most 10 are placed).
void rebuild_inventory_buttons(int32_t count);
// While the inventory row shows: the selection's inventory into its buttons.
void update_inventory_buttons(void);

// Fills the selection's inventory points (register_inventory_buttons_procedures).
void register_control_bar_hooks(void);

// ---- what the control bar asks of the selection -----------------------------------------
// The bar calls the selection directly (game/selection_interface.h): a
// button's order (types 1 .. 7: chat, ally, stop, hold ground, scatter,
// retreat, special ability; 8 .. 17: formation type - 8, with the shift
// state), the one selected unit's inventory and its texts, and the choice of
// an inventory entry.

// Tests only: replaces those calls, so that the bar's buttons and rows are
// checked without units.  `give_order` gets the button type and the shift
// state; `get_inventory` answers false when no single unit with an inventory
// is selected, else its item count and selected entry (-1: the unit itself);
// `format_inventory` writes entry `index` (-1: the unit's own name);
// `set_inventory` selects an entry.  A null member keeps the real call; a
// null table restores them all.  Returns the previous table (null when none).
// The program never calls it.
struct control_bar_selection_procedures
{
    void (*give_order)(int32_t button_type, bool shift);
    bool (*get_inventory)(bool rebuild, int32_t *count, int32_t *selected);
    void (*format_inventory)(char *buffer, int32_t size, int32_t index, bool show_number, bool show_check_mark,
                             bool show_count);
    void (*set_inventory)(int32_t entry, bool shift);
};
const control_bar_selection_procedures *set_control_bar_selection_procedures(
    const control_bar_selection_procedures *procedures);
