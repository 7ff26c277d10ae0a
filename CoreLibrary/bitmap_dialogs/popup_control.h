#pragma once
// Popup menus ('popu'): one selected row of a list of rows is shown; while
// the left button is held on the item it grows over its dialog to show the
// rows around the selection, follows the pointer, scrolls one row per action
// while the pointer rests on the first or last row shown, and on release
// collapses and fires.  Rows are private copies of caller bytes drawn by a
// replaceable procedure; the standard one draws them as text.
//
// The selection is always a row that exists, or -1: a press in the drop
// shadow picks the last row shown, clearing the rows forgets the selection,
// and drawing reads only rows that exist.  Disabled rows can be highlighted
// and chosen; the flag only changes how they are drawn.
//
// Every call checks the item: a missing item or one of another type is
// logged and gets the neutral answer (-1, 0, false) without its record being
// touched.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define POPUP_CONTROL_TAG FOUR_CHARACTER_CODE('p', 'o', 'p', 'u')
#define POPUP_COOKIE FOUR_CHARACTER_CODE('p', 'o', 'p', 'u')

enum
{
    INITIAL_ALLOCATION_COUNT = 5, // rows allocated by the create verb
    ALLOCATION_BLOCK_SIZE = 5,    // rows added when the array is full
    MAXIMUM_POPUP_ROWS = 65535,
    MAXIMUM_POPUP_ROW_LENGTH = 65535, // bytes of one row
    POPUP_ARROW_HEIGHT = 6,
    POPUP_ARROW_RIGHT_INSET = 7,
    DROPSHADOW_WIDTH = 2,
    DROPSHADOW_HEIGHT = 2,
    // The standard drawer shows at most this many bytes of a row.
    MAXIMUM_POPUP_STRING_LENGTH = 255,
};

// A row's flags.
enum
{
    _popup_row_disabled_flag = 1,
    _popup_row_selected_flag = 2, // passed to the drawer for the highlighted row while expanded
};

// Draws one row into `bounds` of `destination` (the dialog's bitmap).
typedef void (*draw_popup_proc)(bitmap_data *destination, const rectangle2d *bounds, const void *data, int32_t length,
                                int32_t font_id, uint16_t flags);

struct popup_row_data
{
    void *data;      // the row's own copy
    uint16_t flags;  // _popup_row_*_flag
    uint16_t length; // bytes in data
};

// The item's extra data.
struct popup_control_data
{
    uint32_t cookie; // POPUP_COOKIE
    draw_popup_proc draw_proc;
    int32_t actual_count;
    int32_t previous_selection; // the selection when the current expansion began
    int32_t selected_index;     // -1 for none
    int32_t allocated_count;
    int32_t top_visible_item, bottom_visible_item; // both the selection when collapsed
    int32_t line_height; // one row; at least 1
    int32_t font_id;     // interface font 0
    rectangle2d original_bounds; // collapsed: one line and the drop shadow
    bool expanded;
    popup_row_data *rows; // allocated_count slots
    char *text;           // the item's text from the dialog tag, kept
};

intptr_t popup_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Expands over the dialog (only when collapsed) so that the selected row stays
// where it was drawn, or collapses (only when expanded): the selection stays
// when `in_bounds`, otherwise it returns to what it was when the expansion
// began.  Marks the item dirty.
void toggle_popup(dialog_data *dialog, int16_t item_id, bool expand, bool in_bounds);

// The standard row drawer: the row as text (a copy of at most its length,
// terminated), grey when disabled, white on black when highlighted, else black.
void standard_draw_popup_proc(bitmap_data *destination, const rectangle2d *bounds, const void *data, int32_t length,
                              int32_t font_id, uint16_t flags);

// Appends a copy of `size` bytes (0..MAXIMUM_POPUP_ROW_LENGTH) as an enabled
// row; the selection does not change.  The new row's index, or -1 when the
// popup is full, the size is out of range or memory runs out.
int32_t append_data_to_popup(dialog_data *dialog, int16_t item_id, const void *data, int32_t size);
// The string with its terminator.
int32_t append_string_to_popup(dialog_data *dialog, int16_t item_id, const char *string);
// Every string of the string list with tag `string_list` (nothing when there
// is none): row i enabled when bit i of `inclusion_flags` is set (rows from 32
// on are disabled).  Then row 0 is selected (-1 for a popup still empty) and
// the item redrawn.
void append_strings_to_popup_with_mask(dialog_data *dialog, int16_t item_id, tag string_list,
                                       uint32_t inclusion_flags);
// The same with every bit set.
void append_strings_to_popup(dialog_data *dialog, int16_t item_id, tag string_list);

// Refused (logged) for a row that does not exist.
void set_popup_enabled_state(dialog_data *dialog, int16_t item_id, int32_t row, bool enabled);
// Frees every row; the selection and the rows shown become -1.
void clear_bitmap_popup_items(dialog_data *dialog, int16_t item_id);

int32_t get_popup_value(const dialog_data *dialog, int16_t item_id); // the selection, -1 for none
// A row that exists becomes the selection; on an empty popup any value sets
// -1; any other value is ignored.  Redraws when something was set.
void set_popup_value(dialog_data *dialog, int16_t item_id, int32_t value);
int32_t get_popup_number_of_items(const dialog_data *dialog, int16_t item_id);
// NULL restores the standard drawer.  Redraws.
void set_popup_draw_proc(dialog_data *dialog, int16_t item_id, draw_popup_proc draw_proc);

// Copies row `row` into `data`: `*length` is the buffer's size on entry and
// the row's length on return.  A buffer shorter than the row gets only what
// fits (logged).  False (and *length untouched) for a bad item or row.
bool get_popup_row_data(const dialog_data *dialog, int16_t item_id, int32_t row, void *data, int32_t *length);
