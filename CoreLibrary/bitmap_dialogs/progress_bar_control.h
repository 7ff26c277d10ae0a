#pragma once
// The progress bar ('prog'): a rectangle filled from the left by a fraction.
// It cannot be pressed.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define PROGRESS_BAR_CONTROL_TAG FOUR_CHARACTER_CODE('p', 'r', 'o', 'g')
#define PROGRESS_BAR_COOKIE FOUR_CHARACTER_CODE('p', 'r', 'o', 'g')

enum
{
    PROGRESS_BAR_FULL = 256, // the fraction of a full bar
};

// The item's extra data.
struct progress_bar_control_data
{
    int32_t cookie;       // PROGRESS_BAR_COOKIE
    short_fixed fraction; // 0 .. PROGRESS_BAR_FULL
    rgb_color fill_color; // pure red under the vux option, else dialog colour 8
};

intptr_t progress_bar_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Clamped to 0 .. PROGRESS_BAR_FULL; the item is redrawn when it changed.
// A missing item or one of another type is logged and left alone.
void set_progress_bar_fraction(dialog_data *dialog, int16_t item_id, short_fixed fraction);
// The stored fraction; 0 for a bad item.
short_fixed get_progress_bar_fraction(const dialog_data *dialog, int16_t item_id);
