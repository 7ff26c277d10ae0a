#pragma once
// The colour wheel and brightness slider the colour picker draws and reads.
//
// The wheel is the largest circle in the square at the bounds' top left:
// hue around it (arctangent of the offset from the centre, 65536 to the
// turn), saturation growing from 0 at the centre to full at the rim, all at
// one brightness.  The slider runs along its longer side from a minimum to a
// maximum brightness.  Every pixel goes through the clipped solid-drawing
// calls, so bounds reaching past the destination write nothing outside it.

#include <cstdint>

#include "bitmaps.h"
#include "point2d.h"

struct bitmap_data;

// The hue and saturation under `click`; false (nothing written) outside the
// circle, its edge included.
bool click_in_color_picker_wheel(const rectangle2d *bounds, point2d click, uint16_t *hue, uint16_t *saturation);
// The brightness under `click`, along the longer side; always true.
bool click_in_color_picker_slider(const rectangle2d *bounds, point2d click, uint16_t *value, uint16_t minimum_value,
                                  uint16_t maximum_value);
// Draws the wheel at brightness `value`; pixels outside the circle are left.
void rasterize_color_picker_wheel(bitmap_data *destination, const rectangle2d *bounds, uint16_t value);
// Draws the slider of the hue and saturation from the minimum to the maximum brightness.
void rasterize_color_picker_slider(bitmap_data *destination, const rectangle2d *bounds, uint16_t hue,
                                   uint16_t saturation, uint16_t minimum_value, uint16_t maximum_value);
