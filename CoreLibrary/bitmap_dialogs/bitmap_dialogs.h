#pragma once
// Dialogs: the dialog and item records, the dialog tag, and the dialog layer's calls.
//
// A dialog is a screen rectangle with a background and a list of items
// (controls), built from a dialog tag of group 'bina'.  Every open dialog is
// in one list: the head is drawn first (the back), the tail last (the front);
// input goes from the tail backwards.  Items of a dialog are kept in reverse
// tag order: the tag's last record is the head of the list, its first the
// tail, so the tag's first item is drawn last and wins hit tests.
//
// Every call checks the dialog's cookie: a NULL, foreign or disposed dialog
// logs the assertion "dialog->cookie== DIALOG_COOKIE" and gets the neutral
// answer (NONE, 0, NULL, false) without the record being touched.  A missing
// item is logged with the assertion text "control" unless said otherwise.
//
// Main thread only.

#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "input/action_queue.h" // action_data
#include "point2d.h"
#include "rgb_color.h"
#include "world.h" // fixed_fraction, short_fixed

struct bitmap_data;
struct control_data;
struct dialog_data;

// ---- the dialog tag ('bina') ---------------------------------------------------

#define DIALOG_GROUP_TAG FOUR_CHARACTER_CODE('b', 'i', 'n', 'a')
#define DIALOG_COOKIE FOUR_CHARACTER_CODE('D', 'L', 'O', 'G')
// The built-in dialog elements collection and the wait dialog's background.
#define INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG FOUR_CHARACTER_CODE('b', 'a', 'i', 'e')

enum
{
    CURRENT_DIALOG_VERSION = 1,
    SIZEOF_DIALOG_HEADER = 12,
    SIZEOF_FILE_CONTROL_DATA = 24,
    // A tag larger than this is refused (no real dialog comes near it).
    MAXIMUM_DIALOG_TAG_SIZE = 1 * MEG,
};

// The 12-byte header of a dialog tag, big-endian on disk.
struct dialog_header
{
    int16_t version;       // must be CURRENT_DIALOG_VERSION
    int16_t control_count; // number of control records after the header
    rectangle2d bounds;    // the dialog's screen rectangle
};
static_assert(sizeof(dialog_header) == SIZEOF_DIALOG_HEADER);
static_assert(offsetof(dialog_header, version) == 0);
static_assert(offsetof(dialog_header, control_count) == 2);
static_assert(offsetof(dialog_header, bounds) == 4);

// One control record (24 bytes, big-endian on disk).  `bitmap_ids`, `flags`
// and `state` reach only the control's create verb.
struct file_control_data
{
    uint32_t tag;          // the control type's four-character code
    int16_t padding;
    int16_t item_id;       // 1, 2, 3 ... by convention
    int16_t bitmap_ids[2];
    uint16_t flags;
    uint16_t state;
    rectangle2d bounds;    // dialog coordinates
};
static_assert(sizeof(file_control_data) == SIZEOF_FILE_CONTROL_DATA);
static_assert(offsetof(file_control_data, tag) == 0);
static_assert(offsetof(file_control_data, padding) == 4);
static_assert(offsetof(file_control_data, item_id) == 6);
static_assert(offsetof(file_control_data, bitmap_ids) == 8);
static_assert(offsetof(file_control_data, flags) == 12);
static_assert(offsetof(file_control_data, state) == 14);
static_assert(offsetof(file_control_data, bounds) == 16);

// Byte-swap descriptions (cseries/byte_swapping.h): the header is six 16-bit
// words; a control record one 32-bit word and ten 16-bit words.
extern const byte_swap_code dialog_header_byte_swap_codes[];
extern const byte_swap_code file_control_data_byte_swap_codes[];

// ---- the dialog elements collection 'baie' ------------------------------------

enum dialog_element_sequence
{
    _dialog_elements_scrollbar_sequence = 0,
    _dialog_elements_checkbox_sequence,
    _dialog_elements_radio_button_sequence,
    _dialog_elements_medium_button_sequence,
    _dialog_elements_scrollbar_background_sequence,
    _dialog_elements_dialog_background_sequence, // 5
    _dialog_elements_control_background_sequence,
    _dialog_elements_popup_icon_sequence,
    _dialog_elements_short_button_sequence,
    _dialog_elements_status_bar_background_sequence,
    _dialog_elements_tiny_locking_button_sequence, // 10
    _dialog_elements_long_button_sequence,
    _dialog_elements_longest_button_sequence,
    _dialog_elements_dialog_colors_sequence, // 13
    _dialog_elements_slider_controls_sequence,
    _dialog_elements_double_arrow_control_sequence, // 15
    _dialog_elements_tab_button_sequence,
    _dialog_elements_right_arrow_button_sequence,
    _dialog_elements_left_arrow_button_sequence,
    _dialog_elements_three_state_button_sequence,
    _dialog_elements_small_button_sequence, // 20
    _dialog_elements_help_button_sequence,
    NUMBER_OF_DIALOG_ELEMENT_SEQUENCES // 22
};

// The twelve dialog colours: entries of the dialog colours sequence.
enum dialog_color
{
    _dialog_static_text_color = 0,
    _dialog_edit_text_color,
    _dialog_button_text_color,
    _dialog_list_enabled_text_color,
    _dialog_list_disabled_text_color,
    _dialog_list_warning_text_color,
    _dialog_list_highlight_color,
    _dialog_list_highlighted_text_color,
    _dialog_progress_bar_color,
    _dialog_focus_box_color,
    _dialog_checkbox_text_color,
    _dialog_radio_text_color,
    NUMBER_OF_DIALOG_COLORS // 12
};

// ---- flags -------------------------------------------------------------------

// Dialog creation flags (`dialog_data.flags`), given to new_dialog.
enum
{
    _dialog_is_transparent_flag = 1,
    _dialog_is_initially_invisible_flag = 2,
    _dialog_has_no_background_flag = 4,
    _dialog_has_bevel_flag = 8,
    _dialog_is_centered_flag = 16, // both directions; also marks popup menus
    _dialog_ignores_tab_key_flag = 32,
    _dialog_draws_black_backdrop_flag = 64,
    _dialog_erases_screen_flag = 128,
    _dialog_is_hcentered_flag = 256,
    _dialog_is_vcentered_flag = 512,
    _dialog_bottom_zorder_flag = 1024, // behind all other dialogs
};

// `dialog_data.private_flags`.
enum
{
    _dialog_is_visible_flag = 1,
    _dialog_has_dirty_background_controls_flag = 2, // some item is dirty
    _dialog_background_color_valid_flag = 4,
};

// `control_data.flags`.
enum
{
    _control_is_disabled_flag = 1,
    _control_invisible_flag = 2,
    _control_does_not_respond_flag = 3, // disabled or invisible
    _control_checked_flag = 4,
    _control_dirty_flag = 8,
    _control_requires_idle_time_flag = 16,
    _control_requires_visible_click_time_flag = 32, // pressed look held for 3 ticks
    _control_background_dirty_flag = 64,
    _control_has_no_delay_flag = 128, // fires on the next action
    _control_animates_despite_no_delay_flag = 256,
    _control_has_hardcoded_modifications_flag = 512, // placed or changed by code
};

// `control_data.state`.
enum
{
    _control_unpressed = 0,
    _control_pressed = 1,
};

// Dialog colours' defaults.
enum
{
    DEFAULT_DIALOG_TEXT_RED = 0xEF00,
    DEFAULT_DIALOG_TEXT_GREEN = 0x9200,
    DEFAULT_DIALOG_TEXT_BLUE = 0x0E00,
    DIALOG_VISIBLE_CLICK_TICKS = 3,
};

// ---- procedures ----------------------------------------------------------------

// A control type's procedure (bitmap_controls.h has the verbs).  The result
// is pointer-sized because the create verb returns the item's extra data.
typedef intptr_t (*control_def_proc)(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Called when an item fires (item NONE: the sleep timer ran out).  It may
// dispose of its own dialog.
typedef void (*dialog_handler_proc)(dialog_data *dialog, int16_t item_id, action_data *action);

// Asked before an item is pressed; false vetoes the press.
typedef bool (*dialog_inhibition_proc)(dialog_data *dialog, int16_t item_id);

// A modal loop's procedure.  With an action: whether it used the action.
// With NULL (once per pass of the loop): whether the loop is done.
typedef bool (*modal_loop_callback)(void *data, action_data *action);

// ---- records -------------------------------------------------------------------

// One item.  Allocated by new_control, owned by its dialog.
struct control_data
{
    control_def_proc handler;
    int16_t item_id;
    uint16_t flags;  // _control_*_flag
    uint16_t state;  // _control_unpressed, _control_pressed
    rectangle2d bounds; // dialog coordinates
    void *extra_data;   // the control type's record: made by verb 0, freed by verb 2
    int16_t keyboard_equivalent; // a character code, NONE for none
    int16_t keyboard_flag_mask;  // an action flag number that must be set with it, NONE for none
    control_data *next;
    int32_t refcon; // the caller's value, 0 at creation
    file_tag tag;   // the control type code
};

// One open dialog.  Allocated by new_dialog, owned by the dialog list; its
// owner keeps the pointer until dispose_dialog.
struct dialog_data
{
    int16_t background_collection_index; // NONE: no background
    int16_t background_sequence_index;
    rgb_color background_color; // used when the collection is NONE and the colour is valid
    rectangle2d bounds;         // screen rectangle
    rectangle2d dirty_bounds;   // screen coordinates; empty is (32767, 32767, -32768, -32768)
    int16_t item_inside;        // the item the left button went down in, NONE otherwise
    uint16_t flags;             // creation flags
    uint16_t private_flags;     // _dialog_is_visible_flag ...
    int16_t text_target_item;   // the item with the keyboard focus, NONE for none
    int32_t cookie;             // DIALOG_COOKIE while open
    int16_t sleep_time;         // ticks, NONE for none
    int16_t slept_ticks;        // the sleep timer's count-down
    int16_t default_item;       // pressed by Return and Enter, NONE for none
    int16_t cancel_item;        // pressed by Escape and command-'.', NONE for none
    int16_t item_clicked;       // the item whose press is pending, NONE otherwise
    int16_t sound_list_index;   // 0
    dialog_handler_proc dialog_handler;
    dialog_inhibition_proc dialog_inhibitor;
    fixed_fraction item_transparency;       // 0 opaque, 65535 invisible
    fixed_fraction transparency;
    fixed_fraction background_transparency;
    control_data *first_control; // head of the item list
    dialog_data *prev, *next;    // neighbours in the dialog list
    int32_t ticks_at_creation;   // the game's local time when created
    int32_t delay;               // the pending press's count-down
    bool delay_was_set;
    rgb_color text_color;
    bitmap_data *internal_bitmap; // off-screen copy for the hardware path; freed on a size change
    action_data click_action;     // the action that pressed item_clicked
    file_tag tag;                 // the dialog tag it was built from
    uint32_t item_list_changes;   // counts additions, removals and moves of items
};

// What the hardware back end needs to put one dialog on the screen.
struct dialog_rasterization_data
{
    dialog_data *dialog;
    point2d origin; // the dialog's left and top on the screen
    bitmap_data *bitmap; // the dialog's internal bitmap
    short_fixed transparency; // 0
};

// Results of wait_for_global_with_delayed_dialog.
enum
{
    _gwait_success = 0,     // the condition became true
    _gwait_timeout = 1,     // the time-out passed
    _gwait_cancel = 2,      // the cancel procedure returned true
    _gwait_user_cancel = 3, // the user pressed item 2 of the wait dialog
};

// The wait dialog and its background collection.
#define WAIT_DIALOG_TAG FOUR_CHARACTER_CODE('p', 'r', 'd', 'n')
#define WAIT_DIALOG_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 'b')
enum
{
    WAIT_DIALOG_MESSAGE_ITEM = 1,
    WAIT_DIALOG_CANCEL_ITEM = 2,
    WAIT_DIALOG_DELAY_MILLISECONDS = 1000,
};

// ---- dialogs (bitmap_dialogs.cpp) -----------------------------------------------

// Builds a dialog from dialog tag `tag` of group 'bina': items in reverse tag
// order, focus on the first item that accepts it (forward Tab search), linked
// in front of the others (behind them with _dialog_bottom_zorder_flag),
// marked dirty and centred as its flags ask.  `sleep_time` in ticks (passes
// when run modally), NONE for none.  A missing tag is fatal (error 11).  A
// malformed tag (bad version, a count that does not fit, two items with one
// identifier, a record whose unread fields are not 0, an item rectangle
// inside out or off the 16-bit screen) is refused, before any item is made,
// with a code-10 log line naming the tag and the item: NULL.  NULL when
// memory runs out.
dialog_data *new_dialog(file_tag tag, dialog_handler_proc handler, dialog_inhibition_proc inhibitor,
                        int16_t sleep_time, uint16_t flags);

// Unlinks the dialog, frees its internal bitmap, sends the dispose verb to
// every item and frees it, and invalidates the area it covered on every other
// dialog.  Called from a handler during input dispatch, the record is unlinked
// at once and freed when the dispatch ends.
void dispose_dialog(dialog_data *dialog);

// Disposes every dialog still open, logging each (program exit).
void close_all_dialogs(void);

// Whether `dialog` is an open dialog (still linked in the list).  Never
// dereferences it: safe on a pointer that may have been disposed (by its own
// handler, or by close_all_dialogs).
bool dialog_is_open(const dialog_data *dialog);

// Loads the items of dialog tag `tag` into `dialog` with identifiers and
// string indexes offset by `base`; with `load_bounds` the tag's bounds become
// the dialog's.  True when the tag was sound; false with a code-10 log line
// when it was refused (its records are all checked before any item is made;
// an identifier the dialog already has is refused too).  A missing tag is
// fatal.
bool load_controls_and_dialog_bounds(dialog_data *dialog, file_tag tag, int16_t base, bool load_bounds);

// An item a dialog's code relies on: its identifier and its type code.
struct dialog_item_requirement
{
    int16_t item_id;
    file_tag type;
};

// Whether the dialog has every item its code names, each of the type named.
// False, with a code-10 line naming the dialog's tag and the first item
// missing or of another type, when not: the caller disposes of the dialog
// instead of using it.
bool dialog_has_items(const dialog_data *dialog, const dialog_item_requirement *items, int32_t count);
// Whether the dialog has item `item_id`, without a word when it has not (for
// items a dialog's data may leave out).
bool dialog_has_item(const dialog_data *dialog, int16_t item_id);

// Opens the dialog `tag` (new_dialog with `flags`, no handler) over the
// collection `background` when that is loaded (NONE: none), once its tag can
// be read and it has every item of `items`.  Null otherwise, with a log line
// (and dialog_has_items's error), the dialog disposed.
dialog_data *open_dialog_with_items(file_tag tag, uint16_t flags, const dialog_item_requirement *items, int32_t count,
                                    file_tag background);

// Adds the items of another dialog tag, their identifiers offset by the item
// count before the call; bounds unchanged; the dialog is marked dirty.
void append_ditl(dialog_data *dialog, file_tag tag);

// Disposes and removes every item whose identifier exceeds `last_item_id`;
// marks the dialog dirty.
void shorten_ditl(dialog_data *dialog, int16_t last_item_id);

void get_dialog_bounds(const dialog_data *dialog, rectangle2d *bounds);
// Reads only the header of dialog tag `tag`.  False when the tag cannot be
// opened or read, its header is malformed, or `bounds` is NULL.
bool get_dialog_bounds_from_file(file_tag tag, rectangle2d *bounds);

// Nothing when unchanged; a change of size frees the internal bitmap; the new
// bounds are stored and the dialog marked dirty.
void move_dialog(dialog_data *dialog, const rectangle2d *bounds);

// Showing marks the dialog dirty; hiding empties its dirt and does not
// invalidate what it covered.
void set_dialog_visible(dialog_data *dialog, bool visible);

void set_dialog_background(dialog_data *dialog, int16_t collection_index, int16_t sequence_index);
void set_dialog_background_transparency(dialog_data *dialog, fixed_fraction transparency);
// Stores the colour, sets _dialog_background_color_valid_flag, marks dirty.
void set_dialog_background_color(dialog_data *dialog, const rgb_color *color);
// Only for dialogs made with _dialog_is_transparent_flag (else an assertion
// and nothing changes); marks dirty.
void set_dialog_transparency(dialog_data *dialog, fixed_fraction transparency);
void set_dialog_item_transparency(dialog_data *dialog, fixed_fraction transparency);

int16_t get_dialog_default_item(const dialog_data *dialog); // NONE for a bad dialog
int16_t get_dialog_focus(const dialog_data *dialog);        // NONE for a bad dialog
int16_t get_dialog_sound_list_index(const dialog_data *dialog);

// Colour `index` of the dialog colours sequence of 'baie' into `color`;
// white for an index outside the strip, black when the collection is
// missing.  Returns `color`.
rgb_color *get_dialog_color(rgb_color *color, int16_t index);

// The union of the bounds of visible centred dialogs (popup menus); false when none.
bool get_popup_dialog_union_rect(rectangle2d *rectangle);
// Whether some visible dialog's bounds meet the rectangle.
bool dialog_exists_in_rectangle(const rectangle2d *rectangle);

// GameWidth and GameHeight of the power-user INI section "UI" (read once);
// true only when the width is at least 640 and the height at least 480.
bool get_custom_game_resolution(int32_t *width, int32_t *height);

// Once per update: centres every dialog as its flags ask, then sends the idle
// verb to each item that asked for idle time (of the modal dialog only while
// one runs, else of every dialog); an item answering nonzero is marked dirty.
// Allocates nothing.  Never from an idle verb (refused, asserted).
void idle_dialogs(void);

// Places the dialog on the screen by its centring flags (16 both, 256
// horizontal only, 512 vertical only); when visible and moved, marks it dirty
// and invalidates its old rectangle.
void apply_dialog_centering_style(dialog_data *dialog);

// ---- items (bitmap_dialogs.cpp) --------------------------------------------------

// The item with that identifier, NULL when missing (logged "control").
control_data *find_control(const dialog_data *dialog, int16_t item_id);
// The item with that identifier made by `procedure` (its type's procedure).
// Controls find their own records through it, so that none ever takes
// another's record for its own.  When the identifier is only on an item of
// another type, that item: the caller refuses it by its procedure, with its
// own assertion, before reading its record.  NULL (logged "control") when
// the dialog has no item with that identifier.
control_data *find_control_of_type(const dialog_data *dialog, int16_t item_id, control_def_proc procedure);
control_data *get_first_dialog_control(const dialog_data *dialog);
int16_t get_dialog_item_count(const dialog_data *dialog);

// Creates an item from `definition` (identifier + `base`) at the head of the
// list: verb 0 with the definition and `text` (NULL reads as ""), the
// record's flags cleared, verb 1, verb 8.  A type code without a registered
// procedure skips the item (logged): NULL.  NULL when memory runs out.
control_data *new_control(dialog_data *dialog, const file_control_data *definition, const char *text,
                          int16_t base);

// Adds an item of type `tag` built by code, replacing (and disposing) an
// existing item with that identifier; it is marked as placed by code and
// dirty.  Press and focus state naming a replaced item is cleared.
control_data *new_unpressed_control(dialog_data *dialog, file_tag tag, int16_t item_id,
                                    const rectangle2d *bounds, const char *text);

// Unlinks the item, sends it the dispose verb and frees it.  item_inside,
// item_clicked, the focus, the default and the cancel item are cleared when
// they named it, and its rectangle is invalidated.
void delete_control(dialog_data *dialog, int16_t item_id);

// Moves the item to the tail of the list: drawn last, first in hit tests.
void make_control_frontmost(dialog_data *dialog, int16_t item_id);

void get_dialog_item_bounds(const dialog_data *dialog, int16_t item_id, rectangle2d *bounds);
// Invalidates the old and the new rectangle on this dialog and those in front.
void set_dialog_item_bounds(dialog_data *dialog, int16_t item_id, const rectangle2d *bounds);
void offset_dialog_item(dialog_data *dialog, int16_t item_id, int16_t dx, int16_t dy);
// As set_dialog_item_bounds, and marks the item as placed by code.
void set_dialog_item_bounds_hard(dialog_data *dialog, int16_t item_id, const rectangle2d *bounds);
void mark_control_as_hardcoded(dialog_data *dialog, int16_t item_id);

// Hiding or disabling the item being pressed cancels the press.  Nothing
// happens when the state does not change; a missing item is ignored (logged).
void bitmap_set_item_visible(dialog_data *dialog, int16_t item_id, bool visible);
void bitmap_set_item_enabled(dialog_data *dialog, int16_t item_id, bool enabled);
// False for a missing item.
bool bitmap_get_item_visible(const dialog_data *dialog, int16_t item_id);
bool bitmap_get_item_enabled(const dialog_data *dialog, int16_t item_id);
// The item's type code, NONE for a missing item.
file_tag get_bitmap_item_tag(const dialog_data *dialog, int16_t item_id);

// `character` NONE for none; `flag_number` an action flag that must be set
// with it, NONE for none.
void set_dialog_item_keyboard_equivalent(dialog_data *dialog, int16_t item_id, int16_t character,
                                         int16_t flag_number);

// Redraws the old and the new item; the new default item loses its keyboard
// equivalent (Return is its key).
void set_default_dialog_item(dialog_data *dialog, int16_t item_id);
// Redraws the old and the new item (NONE for none).
void set_dialog_cancel_item(dialog_data *dialog, int16_t item_id);

// The item's extra data, NULL for a missing item.
void *get_dialog_item_extra_data(const dialog_data *dialog, int16_t item_id);
// The item's refcon, -1 for a missing item; setting a missing item is ignored.
int32_t get_dialog_item_refcon(const dialog_data *dialog, int16_t item_id);
void set_dialog_item_refcon(dialog_data *dialog, int16_t item_id, int32_t refcon);

// ---- modal dialogs (dialog_modal.cpp, modal_loops.cpp) ---------------------------

// Runs the dialog modally (game state 14) until an item fires: returns it, or
// NONE when the dialog's sleep time (in passes) ran out.  The caller disposes
// of the dialog.  NONE for a bad dialog.
int16_t modal_dialog(dialog_data *dialog);

// As modal_dialog, with `procedure` (may be NULL) called first for every
// action and every pass with `data`; it ends the loop by returning true on a
// pass.
int16_t custom_modal_dialog(dialog_data *dialog, void *data, modal_loop_callback procedure);

// The loop procedures of the two.
bool modal_dialog_loop_update(void *data, action_data *action);
bool custom_modal_dialog_loop_update(void *data, action_data *action);

// Waits until `condition` returns true (_gwait_success), `cancel` (may be
// NULL) returns true (_gwait_cancel), more than `timeout_milliseconds` pass
// (_gwait_timeout; 0 or less: never) or the user presses item 2 of the wait
// dialog 'prdn' shown after 1000 ms (_gwait_user_cancel), running the program
// meanwhile.  `message` (may be NULL) is the wait dialog's text.  The wait
// dialog is disposed exactly once before returning.
int16_t wait_for_global_with_delayed_dialog(bool (*cancel)(void), bool (*condition)(void), const char *message,
                                            int32_t timeout_milliseconds);

// ---- input and focus (dialog_input.cpp) -----------------------------------------

// Offers the action to the open dialogs, front to back; false at once while a
// modal dialog runs.  True when a dialog used it.
bool dialogs_handled_action(action_data *action);

// Whether the player is typing: the modal dialog (any open visible dialog
// when none runs modally) has the focus on a text field ('edit', 'pass',
// 'keyb').  Then every key is the field's: the dialogs' consumers keep key
// presses from the game and tell the keyboard task to leave the keyboard's
// bindings untested (set_keyboard_given_to_text_field).
bool text_field_has_keyboard_focus(void);

// One dialog's handling in its six ordered steps (keyboard equivalents, sleep
// timer, keys, mouse, right click, wheel).  True when the action was used.
bool dialog_handled_action(dialog_data *dialog, action_data *action);

// Presses an item as if clicked (`action` NULL: a synthetic click at the
// item's centre).  False when the inhibitor vetoes, the item is missing or
// its click verb answers 0.
bool press_item(dialog_data *dialog, action_data *action, int16_t item_id);

// Advances a pending press by the action's time_delta, firing it when due.
// False when no press is pending.
bool handle_dialog_item_down(dialog_data *dialog, action_data *action);

// Moves the focus to the next (forward) or previous item that accepts it;
// false when none does.
bool handle_tab(dialog_data *dialog, bool forward);

// Moves the focus (NONE removes it), telling the old and the new item; the
// dialog is marked dirty.  Nothing when the item has it already.
void set_dialog_focus(dialog_data *dialog, int16_t item_id);

// The last item in list order from `first` that responds and contains
// `point` (dialog coordinates; right and bottom exclusive), NONE when none.
int16_t find_control_by_point_helper(const control_data *first, point2d point);

// ---- redraw (dialog_redraw.cpp) ---------------------------------------------------

// Marks one item for redrawing (with its background) and what covers it in
// front.  A mark made while dialogs are drawn is logged and kept for the next frame.
void set_dialog_item_dirty(dialog_data *dialog, int16_t item_id);
// Marks a screen rectangle of one dialog dirty, with every item it meets.
void invalidate_one_dialog_rectangle(dialog_data *dialog, const rectangle2d *rectangle);
// Marks a screen rectangle dirty on every dialog.
void invalidate_dialog_rectangle(const rectangle2d *rectangle);
// Marks the whole dialog and what lies over it in front dirty.
void set_dialog_dirty(dialog_data *dialog);
void set_all_dialogs_dirty(void);

// Whether a dialog needs drawing: `rectangle` gets the union of the dirty
// screen areas, `backdrop` whether a visible dialog draws a black backdrop
// (either may be NULL).
bool dialogs_are_dirty(rectangle2d *rectangle, bool *backdrop);

// Once per frame, after the scene: draws the dirty parts of the visible
// dialogs back to front into `screen` and forgets the dirt.  Dialogs partly
// or wholly off the screen are clipped to it.
void render_dialogs(bitmap_data *screen);

// Draws the dialog's dirty part into `bitmap`, whose origin is the dialog's top-left.
void draw_dialog_into_bitmap(bitmap_data *bitmap, dialog_data *dialog);
// Draws the dialog's dirty items in list order, the focused item last.
void draw_controls(bitmap_data *bitmap, dialog_data *dialog);

// The hardware back end's iteration: fills `data` for the dialog; steps from
// data->dialog (the head when NULL) to the next dialog with an internal
// bitmap, false at the end of the list.
void get_rasterization_data_for_dialog(dialog_data *dialog, dialog_rasterization_data *data);
bool get_dialog_to_rasterize(dialog_rasterization_data *data);

// Joins the dialog layer to the core (action consumers, drawing, control types).
void register_dialog_hooks(void);
