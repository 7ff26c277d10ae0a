#pragma once
// The horizontal slider ('slid'): a 16-pixel thumb dragged along the item.
// Only the thumb is drawn; the track is the dialog's background.  A double
// click restores the default value.
//
// A slider whose range (maximum - minimum) or travel (width - 16) is not
// positive cannot map positions: its thumb sits at the left and dragging
// keeps the value.  The thumb is clamped into the item when drawn, whatever
// value set_slider_value stored.
//
// Every accessor checks the item's cookie: a missing item or an item of
// another type is logged and gets 0 without its record being touched.
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define SLIDER_CONTROL_TAG FOUR_CHARACTER_CODE('s', 'l', 'i', 'd')
#define SLIDER_COOKIE FOUR_CHARACTER_CODE('s', 'l', 'i', 'd')

enum
{
    THUMB_WIDTH = 16,
    HALF_THUMB_WIDTH = 8,
};

enum
{
    _nothing = -1,  // the thumb is not held
    _in_slider = 0, // the thumb is held
};

// The item's extra data.
struct private_control_data
{
    uint32_t cookie; // SLIDER_COOKIE
    int32_t min_value, max_value, value, default_value;
    int16_t item_last_clicked; // _in_slider while the thumb is held, _nothing otherwise
};

intptr_t slider_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Stores both and clamps the value into them (a maximum below the minimum
// clamps to the minimum).
void set_slider_extrema(dialog_data *dialog, int16_t item_id, int32_t minimum, int32_t maximum);
// Either out pointer may be NULL; 0 and 0 for a bad item.
void get_slider_extrema(const dialog_data *dialog, int16_t item_id, int32_t *minimum, int32_t *maximum);
// Stores without clamping; redraws when it changed.
void set_slider_value(dialog_data *dialog, int16_t item_id, int32_t value);
int32_t get_slider_value(const dialog_data *dialog, int16_t item_id);
// Store only: what a double click restores (clamped then).
void set_slider_default_value(dialog_data *dialog, int16_t item_id, int32_t value);

// The thumb's rectangle (dialog coordinates) for the item's current value,
// clamped into the item.  False for a bad item.
bool get_slider_thumb_bounds(const dialog_data *dialog, int16_t item_id, rectangle2d *bounds);
