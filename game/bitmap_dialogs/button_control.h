#pragma once
// Buttons and checkboxes.
//
// A button ('butt') is a clickable picture with a caption.  Its picture is a
// sequence of a collection whose views are the button's states (one view: a
// plain button; two: a toggle) and whose bitmaps 0 and 1 are the released and
// pressed looks.  A checkbox ('chek') is a button drawn side by side with the
// checkbox art; the radio button (radio_control.h) is one that also locks.
//
// Every accessor checks the item's record: a missing item, an item of another
// type or one whose record could not be made logs "item #%d isn't a button"
// and gets the neutral answer (NONE, false, an empty name, empty bounds)
// without anything being touched.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define BUTTON_CONTROL_TAG FOUR_CHARACTER_CODE('b', 'u', 't', 't')
#define CHECKBOX_CONTROL_TAG FOUR_CHARACTER_CODE('c', 'h', 'e', 'k')

enum
{
    BUTTON_CONTROL_COOKIE = 287454020,
    MAXIMUM_BUTTON_NAME_LENGTH = 127,
    // Widths up to 65 get the short button, 66 to 94 the medium, 95 and up the long.
    SHORT_BUTTON_WIDTH_THRESHHOLD = 66,
    MEDIUM_BUTTON_WIDTH_THRESHHOLD = 95,
    DISABLED_CONTROL_TRANSPARENCY = 32768,
    ACTIVE_CONTROL_TRANSPARENCY = 0,
    // The caption's left edge moves this far right for word-wrapped buttons.
    WORD_WRAPPED_BUTTON_TEXT_INSET = 45,
    // The gap between the picture and the caption of side-by-side buttons.
    SIDE_BY_SIDE_TEXT_GAP = 8,
    SIDE_BY_SIDE_INSET = 4,
};

// `button_control_data.flags`.
enum
{
    _button_control_draw_side_by_side_flag = 1,        // picture at the left, caption beside it
    _button_control_locks_flag = 2,                    // once on, a click does not turn it off
    _button_control_word_wrapped_text_flag = 4,
    _button_control_stays_checked_when_disabled_flag = 8,
};

// The item's extra data.
struct button_control_data
{
    int32_t cookie; // BUTTON_CONTROL_COOKIE
    rectangle2d original_bounds; // the item's bounds as created or set by code
    rectangle2d text_bounds;     // where the caption is drawn
    int16_t frame_collection_index, frame_sequence_index; // drawn over the button; NONE for none
    int16_t collection_index, sequence_index;             // the picture; NONE for none
    int16_t color_table_index, color_table_permutation;   // a shading table of the collection; NONE for none
    int16_t state;            // the view drawn: 0 .. number_of_states - 1 (0 when there are none)
    int16_t number_of_states; // views of the sequence; 0 draws nothing and clicks change nothing
    fixed_fraction transparency; // 0 opaque
    const rgb_color *replacement_colors; // owned by the caller
    uint32_t flags;           // _button_control_*_flag
    char name[MAXIMUM_BUTTON_NAME_LENGTH + 1];
    rgb_color text_color;
};

// The control procedures (bitmap_controls.h has the verbs).  Create: the
// record with the item's text as caption (127 characters at most), the button
// text colour, the item's bounds as original bounds.  Completion: the default
// shape.  Click: the default press tracking; when it completes, a locking
// button that is on stays on, else the state steps forward (back with shift,
// action flag 43), wrapping; a button with no states keeps 0.  The checkbox's
// and radio button's completion gives them their own art, flags and colour.
intptr_t button_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);
intptr_t checkbox_button_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Sets the picture (sequence NONE: none, no states) and the item's bounds:
// the union of the sequence's bitmaps around their registration points,
// centred on the original bounds and grown to contain them.  The item gets
// the visible-click flag exactly when the sequence has one view.  The
// caption's rectangle follows the word-wrap and side-by-side flags.
// Resets the colour table; marks the item dirty.
void set_button_control_shape(dialog_data *dialog, int16_t item_id, int16_t collection_index,
                              int16_t sequence_index);
// The default shape for the original bounds' width: 'baie' short (up to 65),
// medium (66 to 94) or long button (95 and up).
void build_default_button_control_data(dialog_data *dialog, int16_t item_id);
// A frame picture drawn over the button (view 0, bitmap 0); sequence NONE
// removes it.  Marks dirty.
void set_button_control_frame_shape(dialog_data *dialog, int16_t item_id, int16_t collection_index,
                                    int16_t sequence_index);

// The state is clamped into 0 .. number_of_states - 1 (0 when there are no
// states); marks dirty when it changed.
void set_button_control_state(dialog_data *dialog, int16_t item_id, int16_t state);
// NONE for an item that is not a button.
int16_t get_button_control_state(const dialog_data *dialog, int16_t item_id);
// The count is clamped into 0 .. the views of the sequence (0 without a
// picture), each violation logged; the state is clamped to the new count.
// No redraw.
void set_button_control_number_of_states(dialog_data *dialog, int16_t item_id, int16_t number_of_states);

// Store and mark dirty when the value changed.
void set_button_control_flags(dialog_data *dialog, int16_t item_id, uint32_t flags);
void set_button_control_text_color(dialog_data *dialog, int16_t item_id, const rgb_color *color);
void set_button_transparency(dialog_data *dialog, int16_t item_id, fixed_fraction transparency);
// Store and mark dirty.  The colours stay the caller's and must outlive the item.
void set_button_control_replacement_colors(dialog_data *dialog, int16_t item_id, const rgb_color *colors);
// A shading table of the picture's collection (NONE for none).
void set_button_control_color_table(dialog_data *dialog, int16_t item_id, int16_t color_table_index,
                                    int16_t permutation);

// Empty bounds (0, 0, 0, 0) for an item that is not a button.
void get_button_control_original_bounds(const dialog_data *dialog, int16_t item_id, rectangle2d *bounds);
// Stores them and marks the item as placed by code (the shape is not rebuilt).
void set_button_control_original_bounds(dialog_data *dialog, int16_t item_id, const rectangle2d *bounds);

// Copies the caption into `buffer` of `size` bytes, truncated and always
// terminated ("" for an item that is not a button); nothing for a size of 0.
void get_button_control_name(const dialog_data *dialog, int16_t item_id, char *buffer, int32_t size);
// When different: at most 127 characters are kept; marks dirty.  NULL reads as "".
void set_button_control_name(dialog_data *dialog, int16_t item_id, const char *name);

// State 1 when `on`, else 0 (clamped as set_button_control_state).
void set_checkbox_state(dialog_data *dialog, int16_t item_id, bool on);
// Whether the state is not 0; false for an item that is not a button.
bool get_checkbox_state(const dialog_data *dialog, int16_t item_id);

// ---- shared by the button family and the other controls ----------------------------

// What the checkbox's and the radio button's completion verb add to the
// button's: `flags`, the 'baie' sequence and the caption in dialog colour
// `color_index`.
void apply_button_control_style(dialog_data *dialog, int16_t item_id, uint32_t flags, int16_t sequence,
                                int16_t color_index);

// The transparency a disabled item is drawn with, given its own: half way
// from it to invisible, so DISABLED_CONTROL_TRANSPARENCY for an opaque item.
int32_t disabled_control_transparency(int32_t transparency);
