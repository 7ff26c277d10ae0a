#pragma once
// The double arrow control ('numb'): a value box with an up and a down arrow.
//
// Holding an arrow steps the value at once and then every 16 ticks of the
// game's local time (more than TICKS_BETWEEN_ADJUSTMENTS); shift jumps to the
// end the arrow points at.  The value is shown as an integer, a time, or, in
// enumeration mode (an enumeration selector), as the label of a choice.
//
// Every accessor checks the item's cookie: a missing item or an item of
// another type is logged and gets the neutral answer (0, NULL, false)
// without its record being touched.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define DOUBLE_ARROW_CONTROL_TAG FOUR_CHARACTER_CODE('n', 'u', 'm', 'b')
#define DOUBLE_ARROW_CONTROL_COOKIE FOUR_CHARACTER_CODE('z', 'i', 'p', 'p')

enum
{
    TICKS_BETWEEN_ADJUSTMENTS = 15,
    ICON_SPACING = 20, // the arrows' width right of the value box
    // The size of the text buffer a format procedure writes into.
    DOUBLE_ARROW_FORMAT_BUFFER_SIZE = 64,
    // double_arrow_time_format clamps to this many ticks (450 minutes).
    DOUBLE_ARROW_MAXIMUM_TIME = 810000,
};

enum double_arrow_state
{
    _state_idle = 0,
    _state_increasing = 1, // the upper arrow is held
    _state_decreasing = 2, // the lower arrow is held
};

enum double_arrow_click
{
    _clicked_arrow_up = 0,
    _clicked_arrow_down = 1,
};

// One row of a step table: values up to and including `upper_bound` step by
// `delta`.  Rows ascend by `upper_bound`.
struct double_arrow_delta
{
    int32_t upper_bound;
    int32_t delta;
};

// An enumeration table (owned by the caller): row 0's `value` is the number
// of choices n; rows 1 .. n are the choices.  `text` is translated when drawn.
struct enum_selector_data
{
    const char *text;
    int32_t value;
};

// Writes `value` as text into `buffer`, which holds
// DOUBLE_ARROW_FORMAT_BUFFER_SIZE bytes: a procedure must write at most 63
// characters and the terminator.
typedef void (*double_arrow_format_proc)(char *buffer, int32_t value);

// Called after a click changed the value.
typedef void (*double_arrow_value_listener)(dialog_data *dialog, int16_t item_id);

// The item's extra data.
struct double_arrow_control_data
{
    int32_t cookie; // DOUBLE_ARROW_CONTROL_COOKIE
    int32_t local_time_at_last_adjustment;
    int16_t state; // double_arrow_state
    int32_t minimum, maximum, value; // in enumeration mode the value is the choice's index
    bool draw_text;    // draw the value box; true at creation
    int16_t last_click; // double_arrow_click: the arrow that stepped last
    int16_t collection_index, sequence_index; // the arrows' picture ('baie' 15)
    int16_t delta_count;
    const double_arrow_delta *deltas; // owned by the caller; with no rows the step is 1
    rectangle2d original_bounds;      // the item's bounds as created
    double_arrow_format_proc format;  // double_arrow_integer_format at creation
    const enum_selector_data *enum_data; // the enumeration table, NULL outside enumeration mode
    bool cyclic;   // stepping past an end wraps
    bool inverted; // the arrows step the other way
    double_arrow_value_listener value_listener;
};

intptr_t double_arrow_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Each argument -1 leaves that field unchanged; then the maximum is raised to
// the minimum and the value clamped into [minimum, maximum].  The item is
// redrawn when the value changed.
void set_double_arrow_control_value(dialog_data *dialog, int16_t item_id, int32_t minimum, int32_t maximum,
                                    int32_t value);
int32_t get_double_arrow_control_value(const dialog_data *dialog, int16_t item_id); // 0 for a bad item
// _clicked_arrow_up or _clicked_arrow_down; 0 for a bad item.
int16_t get_double_arrow_control_last_click(const dialog_data *dialog, int16_t item_id);

// Store only.  The step table stays the caller's and must outlive the item;
// a negative count or a NULL table with a count is refused (logged).
void set_double_arrow_control_delta(dialog_data *dialog, int16_t item_id, int16_t count,
                                    const double_arrow_delta *table);
// NULL restores double_arrow_integer_format.
void set_double_arrow_control_format_proc(dialog_data *dialog, int16_t item_id, double_arrow_format_proc format);
void set_double_arrow_control_draw_text(dialog_data *dialog, int16_t item_id, bool draw_text);
bool get_double_arrow_control_draw_text(const dialog_data *dialog, int16_t item_id);
void set_double_arrow_direction(dialog_data *dialog, int16_t item_id, bool inverted);
void set_double_arrow_control_value_listener(dialog_data *dialog, int16_t item_id,
                                             double_arrow_value_listener listener);

// The item's record; NULL for a missing item or one of another type.
double_arrow_control_data *get_double_arrow_control_data(const dialog_data *dialog, int16_t item_id);

// "%d".
void double_arrow_integer_format(char *buffer, int32_t value);
// Ticks (30 a second), clamped to 0 .. DOUBLE_ARROW_MAXIMUM_TIME, as
// "minutes:seconds" ("%d:%02d").
void double_arrow_time_format(char *buffer, int32_t ticks);

// Enters enumeration mode showing the first choice whose value is `value`:
// the table becomes the control's, the control becomes cyclic over the
// choices' indexes, and is redrawn when the index changed.  False, changing
// nothing, for a NULL table, a table without choices or a value none has.
// The table stays the caller's and must outlive the item.
bool set_enum_selector_value(dialog_data *dialog, int16_t item_id, const enum_selector_data *table, int32_t value);
// The value of the choice shown; 0 (logged) for a bad item, a NULL or empty
// table, or an index outside the table.
int32_t get_enum_selector_value(const dialog_data *dialog, int16_t item_id, const enum_selector_data *table);
