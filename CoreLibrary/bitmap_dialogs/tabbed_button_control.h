#pragma once
// The tabbed button ('tabc'): a row of overlapping named tabs drawn from one
// collection sequence (by default 'baie' tab button, overlap 8).  Tab i
// covers x from L + i * (w - overlap) to that + w, where L is the left of the
// item's original bounds and w the width of the tab picture.  A click
// selects the enabled tab under the pointer (the strips where two tabs
// overlap belong to the one drawn on top, the one nearer the selection) and
// always fires, so the dialog's handler can switch pages.
//
// Accessors on an item that is not a tabbed button, and tab indexes outside
// 0 .. number_of_tabs - 1, are refused with a logged assertion; get answers
// NONE then.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define TABBED_BUTTON_CONTROL_TAG FOUR_CHARACTER_CODE('t', 'a', 'b', 'c')
#define DIALOG_TABBED_BUTTON_TAG TABBED_BUTTON_CONTROL_TAG

enum
{
    TABBED_BUTTON_CONTROL_COOKIE = (int32_t)0x99887766,
    DEFAULT_TAB_OVERLAP = 8,
    MAXIMUM_TAB_NAME_LENGTH = 32,
};

struct tab_info
{
    char tab_name[MAXIMUM_TAB_NAME_LENGTH + 1];
    uint8_t enabled;
};

// The item's extra data.
struct tabbed_button_control_data
{
    int32_t cookie; // TABBED_BUTTON_CONTROL_COOKIE
    ::tab_info *tab_info; // number_of_tabs entries, owned; NULL when there are none
    rectangle2d original_bounds;
    rectangle2d bitmap_bounds; // (0, 0, height, width) of one tab's picture
    rectangle2d text_bounds;
    fixed_fraction transparency;
    int16_t number_of_tabs, selected_tab, tab_overlap;
    int16_t frame_collection_index, frame_sequence_index;
    int16_t collection_index, sequence_index;
    int16_t color_table_index, color_table_permutation;
    int16_t state;            // the view drawn
    int16_t number_of_states; // views of the sequence; 0 draws nothing
    char name[MAXIMUM_TAB_NAME_LENGTH + 1];
    const rgb_color *replacement_colors; // stored, not used
    uint32_t flags;                      // stored, not used
    rgb_color color; // the captions' colour
};

intptr_t tabbed_button_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// A different count (0 or more) replaces the table with one of nameless,
// disabled tabs (the selection is kept as it is); the same count keeps the
// names.  A negative count is refused; when memory runs out the control is
// left without tabs (logged).  Marks dirty.
void set_number_of_tabs(dialog_data *dialog, int16_t item_id, int16_t count);
// When the first 32 characters differ: copies them and enables the tab;
// marks dirty.  NULL reads as "".
void set_tab_name(dialog_data *dialog, int16_t item_id, int16_t tab, const char *name);
// Stores (no redraw).
void set_tab_enabled(dialog_data *dialog, int16_t item_id, int16_t tab, bool enabled);
// A tab outside 0 .. number_of_tabs - 1 is refused.  Marks dirty.
// get: NONE for an item that is not a tabbed button.
void set_selected_tab(dialog_data *dialog, int16_t item_id, int16_t tab);
int16_t get_selected_tab(const dialog_data *dialog, int16_t item_id);
// A negative overlap is refused.  Marks dirty.
void set_tab_overlap(dialog_data *dialog, int16_t item_id, int16_t overlap);
void set_tab_control_transparency(dialog_data *dialog, int16_t item_id, fixed_fraction transparency);
// Sequence NONE: no picture, no states.  Otherwise the views of the sequence
// and the size of its (last) bitmap as one tab's.  Marks dirty.
void set_tabbed_button_control_shape(dialog_data *dialog, int16_t item_id, int16_t collection_index,
                                     int16_t sequence_index);
// Frees the tab table; the control then has no tabs (clicks are ignored).
void destroy_tab_control(dialog_data *dialog, int16_t item_id);
