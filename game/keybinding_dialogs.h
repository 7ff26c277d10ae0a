#pragma once
// The key-binding editor and the on-screen key list.
//
// The editor's logic works on a plain record of what its items show
// (key_binding_items), so that it runs and is tested without a window: the
// dialog only copies that record to and from its controls.  The editor keeps
// its own copies of the five stored sets; nothing reaches the "input" record
// or the current set before OK.

#include <cstdint>

#include "cseries/cseries.h"
#include "input/input_definitions.h"
#include "point2d.h"

#define KEYBOARD_PREFS_DIALOG_TAG FOUR_CHARACTER_CODE('!', 'k', 'e', 'y')
#define ACTION_NAME_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'a', 'n')
#define PREFERENCE_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'p', 's')

// Rows of 'inps'.
enum
{
    // The duplicate-key message: key name, the other control's action, this control's action.
    _multiple_key_bindings_error_with_formatting_index = 0,
};

enum key_binding_dialog_item
{
    iKEY_BINDING_OK = 1,
    iKEY_BINDING_CANCEL,
    iSTATUS_TEXT,
    iKEY_COLUMN1_TOP_LEFT,
    iKEY_COLUMN2_TOP_LEFT,
    iCONTROL_SET_TEXT,
    iCONTROL_SET_SELECTOR,
    iREVERT_SET,
    iRIGHT_CLICK_TEXT,
    iRIGHT_CLICK_SELECTOR,
    iWHEEL_TEXT,
    iWHEEL_SELECTOR,
    iCAPS_LOCK_TEXT,
    iCAPS_LOCK_SELECTOR,
    iHORIZONTAL_MOVEMENT_TEXT,
    iHORIZONTAL_MOVEMENT_SELECTOR,
    iMOUSE_MOVEMENT_ENABLED,
    iTOP_CORNERS_TURN_CAMERA,
    iBOTTOM_CORNERS_ORBIT_CAMERA,
    iREVERSE_AXIS,
    iLEFT_CLICK_GESTURE_DISABLED,
    iVUX_MOUSE_ACTIONS,
    iCONTROL_BAR_INVENTORY,
    iSYSTEM_KEY_LAYOUT,
    iALTERNATE_PRESET_RECALL,
    iRIGHT_CLICK_THROUGH_UI,
    iTILDE_IGNORES_INVENTORY,

    FIRST_KEY_BINDING_CHECKBOX = iMOUSE_MOVEMENT_ENABLED,
    NUMBER_OF_KEY_BINDING_CHECKBOXES = iTILDE_IGNORES_INVENTORY - iMOUSE_MOVEMENT_ENABLED + 1,

    // Rebindable control i has the caption iACTION + 2i and the key field iKEY + 2i.
    iACTION = 4096,
    iKEY = 4097,
};

enum
{
    ROW_HEIGHT = 17,
    SPACE_BETWEEN_ROWS = 1,
    EDIT_TEXT_WIDTH = 115,
    SPACE_BETWEEN_EDITTEXT_AND_CAPTION = 3,
    CAPTION_WIDTH_MARGIN = 5,
    CAPTION_TOP_OFFSET = 2,

    HIGH_RES_ROW_WIDTH = 310,
    HIGH_RES_ROW_HEIGHT = 25,
    HIGH_RES_SPACE_BETWEEN_COLUMNS = 10,
    LIST_BORDER = 3,

    KEYBINDINGS_POSTRASTERIZATION_PRIORITY = -500,

    MAXIMUM_CONFIGURABLE_CONTROLS = NUMBER_OF_CONTROLS_PER_INPUT_DEFINITION,
    MAXIMUM_KEY_TEXT_LENGTH = 63,
    MAXIMUM_KEY_BINDING_STATUS_LENGTH = 255,
};

// One row of a selector: its text and the value it stands for.
struct key_binding_selector_row
{
    const char *text;
    int16_t value;
};
enum key_binding_selector
{
    _caps_lock_selector,
    _horizontal_movement_selector,
    _mouse_wheel_selector,
    _right_click_selector,
    NUMBER_OF_KEY_BINDING_SELECTORS
};
// The rows of `selector` in menu order, with their count.
const key_binding_selector_row *get_key_binding_selector_rows(int16_t selector, int16_t *count);

// What the editor's items show for one set.
struct key_binding_items
{
    int16_t count;                                      // rebindable controls, one caption and key field each
    int16_t controls[MAXIMUM_CONFIGURABLE_CONTROLS];    // their control indexes, in control order
    char key_texts[MAXIMUM_CONFIGURABLE_CONTROLS][MAXIMUM_KEY_TEXT_LENGTH + 1];
    const char *captions[MAXIMUM_CONFIGURABLE_CONTROLS]; // owned by the action-name list
    bool checked[NUMBER_OF_KEY_BINDING_CHECKBOXES];     // items 17..27
    bool camera_corner_items_enabled;                   // items 18..20 follow item 17
    int16_t selectors[NUMBER_OF_KEY_BINDING_SELECTORS]; // the chosen values
    char status_text[MAXIMUM_KEY_BINDING_STATUS_LENGTH + 1];
    bool ok_enabled;
    int16_t selected_set; // the control-set selector
};

// The rebindable controls of `definition`: keyboard controls carrying
// _control_rebindable_flag, in control order.  Returns their count.
int16_t build_configurable_control_list(const input_definition *definition,
                                        int16_t controls[MAXIMUM_CONFIGURABLE_CONTROLS]);

// The key code whose name in the key-name list `key_list_index` equals `text`
// (the last of several); NONE when no name matches.
int16_t find_key_code_by_name(int32_t key_list_index, const char *text);

// Putting one set into the items and reading it back.  Key texts that name no
// key leave that binding as it was.
void setup_dialog_for_input_definition(key_binding_items *items, const input_definition *definition,
                                       const mouse_control_data *mouse_controls, int32_t action_list_index,
                                       int32_t key_list_index);
void get_input_definition_from_dialog(const key_binding_items *items, input_definition *definition,
                                      mouse_control_data *mouse_controls, int32_t key_list_index);

// The first rebindable control whose key another rebindable control shares,
// and the last such partner.  False when every key is used once.
bool find_duplicate_key_binding(const input_definition *definition, const int16_t *controls, int16_t count,
                                int16_t *control_index, int16_t *partner_index);

// `format` with each "%s" replaced in turn by the next of `arguments` (none
// left: nothing) and "%%" by "%"; every other character, other conversions
// included, is copied as it stands, because the format comes from data.
// Always terminated within `size`.
void format_key_binding_message(char *buffer, size_t size, const char *format, const char *const *arguments,
                                int16_t argument_count);

// ---- the editor's state, headless ----------------------------------------------------

struct key_binding_editor
{
    input_definition sets[NUMBER_OF_INPUT_SETS];
    mouse_control_data mouse_sets[NUMBER_OF_INPUT_SETS];
    int16_t remembered_layout;
    int16_t selected_set;
    int32_t action_list_index, key_list_index, preference_list_index;
    key_binding_items items;
};

enum key_binding_editor_outcome
{
    _key_binding_editor_stays,
    _key_binding_editor_saved,
    _key_binding_editor_cancelled,
};

// Loads the stored sets, the layout and the string lists and shows the
// current set.  False when a string list is missing or no control is rebindable.
bool open_key_binding_editor(key_binding_editor *editor);

// The player changed `item`, its new state already in editor->items.  Reads
// the selected set back, checks for duplicate keys (status text and OK), then
// acts by item.
int16_t key_binding_editor_item_hit(key_binding_editor *editor, int16_t item);

// ---- the on-screen key list -------------------------------------------------------

struct view_data;

// Registers rasterize_keybindings as a post-rasterization effect.
void initialize_keybindings(void);
// Draws the list over the view while the help key is held.
void rasterize_keybindings(view_data *view);

// Rows per column of the list: half the controls of any device that carry
// _control_rebindable_flag, rounded up.
int16_t keybinding_overlay_rows_per_column(const input_definition *definition);

// The box of row `row` of the list drawn in `view_hole`.
rectangle2d keybinding_overlay_row_bounds(const rectangle2d &view_hole, int16_t row, int16_t rows_per_column);

// The caption width for action names `widths` wide: each width beyond the
// current value makes it that width plus the margin.
int16_t key_binding_caption_width(const int16_t *widths, int16_t count);

// The caption and key field of rebindable control `index` of `count`, in the
// columns whose top-left corners are `column1` and `column2`.
void key_binding_row_bounds(point2d column1, point2d column2, int16_t caption_width, int16_t index, int16_t count,
                            rectangle2d *caption, rectangle2d *key_field);

// ---- the dialog ------------------------------------------------------------------------

// The editor as a modal dialog ('!key'): true when the player saved.  False,
// changing nothing, when its names or its dialog tag are missing.
bool modal_control_prefs_dialog(void);

// Fills the preferences panel's editor point and the "key bindings" start-up
// step, which registers the key list's effect.
void register_keybinding_dialog_hooks(void);
