#pragma once
// The list control over the list engine, with type-ahead.
//
// Item type 'list': one list engine record per item.  Presses, keys (arrows,
// Home, End, page keys and type-ahead), the wheel and drawing (with a focus
// box) become engine calls.  The list-based control types (string, tag and
// entry-point lists, and the game's chat, player and plug-in lists) pass the
// verbs they do not handle to list_control_def_proc, so their items carry the
// same extra data, and the bitmap_* calls below work on them too.
//
// A list is drawn by its row drawer, which the list's control type or the
// dialog's code gives it once the dialog is made: a list that comes to be
// drawn without one (its rows could not be seen) is a fault of the dialog,
// logged once for each dialog and item.
//
// Every bitmap_* call checks that the item really is a list (the cookie of
// its extra data): a missing item, or an item of another type, gets -1, 0,
// false or nothing without its record being touched.  Calls that change the
// list mark the item dirty unless said otherwise; calls that only read never do.
//
// Type-ahead: characters typed less than a second apart (by an unsigned
// difference of machine_tick_count, so it survives the clock's wrap) build
// one text of at most 31 characters, looked up by the list's match procedure.
// The record is shared by every list; creating a list restarts it.
//
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/private_lists.h"

#define LIST_CONTROL_TAG FOUR_CHARACTER_CODE('l', 'i', 's', 't')
#define LIST_EXTRA_DATA_COOKIE FOUR_CHARACTER_CODE('l', 's', 't', 'x')

enum
{
    TYPE_AHEAD_BUFFER_SIZE = 32, // 31 characters and the terminator
    TYPE_AHEAD_PAUSE_MILLISECONDS = 1000, // a pause this long starts a new text
    LIST_FOCUS_BOX_OUTSET = 4,
};

// The item's extra data (made by the create verb, freed by the dispose verb).
struct list_extra_data
{
    uint32_t cookie; // LIST_EXTRA_DATA_COOKIE
    private_list_data *list; // owned
    int32_t refcon; // the dialog's own value, 0 at creation
    bool missing_drawer_reported; // a draw found no row drawer and said so
};

// The type-ahead state, one for the whole program.
struct dialog_list_data
{
    uint32_t ticks_at_last_key; // machine_tick_count of the last character typed
    char typed_selection[TYPE_AHEAD_BUFFER_SIZE]; // NUL-terminated
};

intptr_t list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// The create verb of a list-based type whose selection the player cannot
// clear: the list as list_control_def_proc makes it, with
// _list_cant_lose_selection_flag added to the item's flags.
intptr_t new_list_keeping_its_selection(dialog_data *dialog, int16_t item_id, void *parameter);

// The look of a text row shared by the list-based types: a selected row
// (_row_selected_flag) gets the highlight laid under it and the highlighted
// text colour; any other row the enabled or disabled text colour by
// _row_enabled_flag.  True for a selected row.
bool draw_list_row_background(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                              uint16_t flags, rgb_color *text_color);

// The item's list engine record, NULL when the item is missing or not a list.
// For the list-based control types, which keep their rows in it.
private_list_data *get_list_control_private_list(const dialog_data *dialog, int16_t item_id);
// The shared type-ahead record (for tests and the list-based types).
dialog_list_data *get_dialog_list_data(void);

// ---- rows -----------------------------------------------------------------------

// Appends (or inserts, sorted) a copy of the data; the row height is used
// only when the list allows rows of variable height, else the list's line
// height.  The new row's index, -1 when the item is not a list or the row was refused.
int16_t bitmap_add_data_to_list(dialog_data *dialog, int16_t item_id, const void *data, int16_t length,
                                int16_t row_height, bool enabled);
// The text with its terminator as the row's data.
int16_t bitmap_add_text_to_list(dialog_data *dialog, int16_t item_id, const char *text, bool enabled);
void bitmap_delete_listbox_row(dialog_data *dialog, int16_t item_id, int16_t row);
// Dirty only when there were rows.
void bitmap_empty_list(dialog_data *dialog, int16_t item_id);
int16_t bitmap_get_listbox_row_count(const dialog_data *dialog, int16_t item_id); // 0 when not a list
// Dirty unless _list_does_not_redraw_when_data_changes_flag; a length other
// than the row's is refused.
void bitmap_set_listbox_row_data(dialog_data *dialog, int16_t item_id, int16_t row, const void *data,
                                 int16_t length);
// As get_data_from_private_list_row: *size in, the row's length out (0 when
// the row is missing or does not fit, the buffer then zeroed).
void bitmap_get_listbox_row_data(const dialog_data *dialog, int16_t item_id, int16_t row, void *buffer,
                                 int16_t *size);
void bitmap_sort_list(dialog_data *dialog, int16_t item_id);

// ---- selection --------------------------------------------------------------------

int16_t bitmap_get_listbox_value(const dialog_data *dialog, int16_t item_id); // first selected row, -1 none
// The first selected row at or after *row (0 when negative) into *row.
bool bitmap_get_listbox_selected_rows(const dialog_data *dialog, int16_t item_id, int16_t *row);
// Deselects every other row, then selects this one (when it can be selected).
void bitmap_select_list_item(dialog_data *dialog, int16_t item_id, int16_t row);
void bitmap_clear_selections(dialog_data *dialog, int16_t item_id);
// Brings the row into view centred; -1 names the first selected row.  Not dirty.
void bitmap_focus_on_list_item(dialog_data *dialog, int16_t item_id, int16_t row);
// Gives the item the dialog's focus when the list can be focused.
void bitmap_focus_on_list(dialog_data *dialog, int16_t item_id);

// ---- flags and rows' flags --------------------------------------------------------

// Clearing _list_can_be_focused_flag on the focused item takes the focus away.
void bitmap_set_list_flag(dialog_data *dialog, int16_t item_id, uint16_t flag, bool on);
uint16_t bitmap_get_list_flag(const dialog_data *dialog, int16_t item_id, uint16_t flag); // flags & flag
void bitmap_set_row_enabled(dialog_data *dialog, int16_t item_id, int16_t row, bool enabled);
void bitmap_set_row_visible(dialog_data *dialog, int16_t item_id, int16_t row, bool visible);
bool bitmap_list_item_enabled(const dialog_data *dialog, int16_t item_id, int16_t row);
bool bitmap_list_item_visible(const dialog_data *dialog, int16_t item_id, int16_t row);

// ---- procedures and layout ----------------------------------------------------------

// Dirty only when the procedure changed.
void bitmap_set_list_draw_proc(dialog_data *dialog, int16_t item_id, draw_list_proc procedure);
void bitmap_set_list_sort_proc(dialog_data *dialog, int16_t item_id, sort_list_proc procedure);
// Not dirty.
void bitmap_set_list_match_proc(dialog_data *dialog, int16_t item_id, match_list_proc procedure);

void bitmap_set_list_line_height(dialog_data *dialog, int16_t item_id, int16_t height);
int16_t bitmap_get_list_line_height(const dialog_data *dialog, int16_t item_id); // 0 when not a list
int16_t bitmap_get_list_line_width(const dialog_data *dialog, int16_t item_id);  // 0 when not a list
// LIST_GUTTER_UNCHANGED leaves that gutter as it is.
void bitmap_set_list_gutters(dialog_data *dialog, int16_t item_id, uint16_t horizontal, uint16_t vertical);
void bitmap_set_list_arrow_scroll_rate(dialog_data *dialog, int16_t item_id, int16_t pixels);
// Not dirty; a count below 1 becomes 1.
void bitmap_set_list_maximum_row_count(dialog_data *dialog, int16_t item_id, int16_t count);
// _autoscroll_mode_never, _always or _only_at_bottom.  Not dirty.
void bitmap_list_set_autoscroll_mode(dialog_data *dialog, int16_t item_id, int16_t mode);
// The dialog item pressed when a row is double-clicked (NONE for none).
void bitmap_set_listbox_doubleclick_itemhit(dialog_data *dialog, int16_t item_id, int16_t double_click_item);
int32_t bitmap_get_listbox_refcon(const dialog_data *dialog, int16_t item_id); // 0 when not a list
void bitmap_set_listbox_refcon(dialog_data *dialog, int16_t item_id, int32_t refcon);
int16_t bitmap_get_list_font_id(const dialog_data *dialog, int16_t item_id); // NONE when not a list

// The visible row under a point in dialog coordinates, -1 for none;
// `distances` (may be NULL) as get_row_at_point_private_list.
int16_t bitmap_list_get_row_at_point(const dialog_data *dialog, int16_t item_id, point2d point,
                                     rectangle2d *distances);
// Moves the item and its list.  Not dirty here (moving the item invalidates it).
void bitmap_list_set_bounds(dialog_data *dialog, int16_t item_id, const rectangle2d *bounds);
