#pragma once
// The colour picker control ('colr'): a colour wheel (hue around, saturation
// outward) at the chosen brightness, a brightness slider right of it and a
// swatch of the result below both.
//
// Creating the item makes it square, its side the longer side of its tag
// bounds; with q = (side - 3) / 4 the wheel is the 3q square at its top left,
// the slider the q-wide strip 3 pixels right of it and the swatch the q-high
// strip 3 pixels below.  A press with the left button held in the wheel sets
// hue and saturation (outside the circle nothing changes), in the slider the
// brightness; the item fires whenever the colour was set.
//
// Calls on a missing item or one of another type are logged and do nothing
// (the getter leaves the colour alone).  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "rgb_color.h"

#define COLOR_PICKER_CONTROL_TAG FOUR_CHARACTER_CODE('c', 'o', 'l', 'r')
#define COLOR_PICKER_COOKIE FOUR_CHARACTER_CODE('c', 'o', 'l', 'r')

enum
{
    WHEEL_ELEMENT_SEPARATION = 3,
};

intptr_t color_picker_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

void get_color_picker_color(const dialog_data *dialog, int16_t item_id, rgb_color *color);
// Stores the colour and redraws the item.
void set_color_picker_color(dialog_data *dialog, int16_t item_id, const rgb_color *color);

// The three parts in dialog coordinates (for tests and callers that lay out
// around them); false for an item that is not a colour picker.
bool get_color_picker_layout(const dialog_data *dialog, int16_t item_id, rectangle2d *wheel, rectangle2d *slider,
                             rectangle2d *swatch);
