#pragma once
// The two-value status bar ('sacc'): a bar filled from the left by a fraction
// of 256, with a thin marker at an average point.  It cannot be pressed.
// The lobby's player information shows a player's scores on it.
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define STATUS_BAR_CONTROL_TAG FOUR_CHARACTER_CODE('s', 'a', 'c', 'c')
#define STATUS_BAR_COOKIE FOUR_CHARACTER_CODE('s', 'a', 'c', 'c')

enum
{
    STATUS_BAR_FULL = 256,
    STATUS_BAR_MARKER_WIDTH = 2,
};

// The item's extra data (zeroed at creation, freed with the item).
struct status_bar_control_data
{
    int32_t cookie; // STATUS_BAR_COOKIE
    int16_t fraction; // 0 .. STATUS_BAR_FULL
    int16_t average_point; // 0 .. STATUS_BAR_FULL
    rgb_color color; // black
    rgb_color fill_color; // blue
    rgb_color marker_color; // white
};

intptr_t status_bar_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Both clamp the value to 0 .. STATUS_BAR_FULL and redraw the item only when
// the stored value changed.  A missing item or one of another type is
// logged and left alone.
void set_status_bar_fraction(dialog_data *dialog, int16_t item_id, int32_t value);
void set_status_bar_average_point(dialog_data *dialog, int16_t item_id, int32_t value);
// The stored values; 0 for a bad item.
int16_t get_status_bar_fraction(const dialog_data *dialog, int16_t item_id);
int16_t get_status_bar_average_point(const dialog_data *dialog, int16_t item_id);
