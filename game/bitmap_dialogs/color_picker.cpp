// The colour wheel the picker draws and reads.

#include "bitmap_dialogs/color_picker.h"

#include "bitmap_drawing.h"
#include "world.h"

static int32_t width_of(const rectangle2d *r) { return r->right - r->left; }
static int32_t height_of(const rectangle2d *r) { return r->bottom - r->top; }

static rgb_color hsv_to_rgb(uint16_t hue, uint16_t saturation, uint16_t value)
{
    const hsv_color hsv = {hue, saturation, value, 0};
    rgb_color rgb = {0, 0, 0, 0};
    hsv_color_to_rgb_color(&hsv, &rgb);
    return rgb;
}

bool click_in_color_picker_wheel(const rectangle2d *bounds, point2d click, uint16_t *hue, uint16_t *saturation)
{
    if (!bounds) return false;
    const int32_t w = width_of(bounds), h = height_of(bounds);
    const int32_t r = (w < h ? w : h) >> 1;
    if (r <= 0) return false;
    const int32_t dx = click.x - bounds->left - r;
    const int32_t dy = click.y - bounds->top - r;
    const int32_t d = isqrt((uint32_t)(dx * dx + dy * dy));
    if (d >= r) return false;
    if (hue) *hue = arctangent(dx, dy);
    if (saturation) *saturation = (uint16_t)((d << 16) / r);
    return true;
}

bool click_in_color_picker_slider(const rectangle2d *bounds, point2d click, uint16_t *value, uint16_t minimum_value,
                                  uint16_t maximum_value)
{
    if (!bounds || !value) return true;
    const int32_t w = width_of(bounds), h = height_of(bounds);
    const bool horizontal = w > h;
    const int32_t length = horizontal ? w : h;
    int32_t offset = horizontal ? click.x - bounds->left : click.y - bounds->top;
    // The framework keeps sending the press while the pointer is dragged
    // past the ends: the value stays in range.
    if (offset < 0) offset = 0;
    if (offset > length) offset = length;
    if (length <= 0) return true;
    *value = (uint16_t)((int64_t)(maximum_value - minimum_value) * offset / length + minimum_value);
    return true;
}

void rasterize_color_picker_wheel(bitmap_data *destination, const rectangle2d *bounds, uint16_t value)
{
    if (!destination || !bounds) return;
    const int32_t w = width_of(bounds), h = height_of(bounds);
    const int32_t n = w < h ? w : h;
    const int32_t r = n >> 1;
    if (r <= 0) return;
    for (int32_t j = 0; j < n; ++j)
    {
        for (int32_t i = 0; i < n; ++i)
        {
            const int32_t dx = i - r, dy = j - r;
            const int32_t d = isqrt((uint32_t)(dx * dx + dy * dy));
            if (d >= r) continue;
            const rgb_color color = hsv_to_rgb(arctangent(dx, dy), (uint16_t)((d << 16) / r), value);
            const rectangle2d pixel = {(int16_t)(bounds->top + j), (int16_t)(bounds->left + i),
                                       (int16_t)(bounds->top + j + 1), (int16_t)(bounds->left + i + 1)};
            fill_rectangle_clipped(destination, &color, &pixel, nullptr, 0, nullptr);
        }
    }
}

void rasterize_color_picker_slider(bitmap_data *destination, const rectangle2d *bounds, uint16_t hue,
                                   uint16_t saturation, uint16_t minimum_value, uint16_t maximum_value)
{
    if (!destination || !bounds) return;
    const int32_t w = width_of(bounds), h = height_of(bounds);
    const bool horizontal = w > h;
    const int32_t length = horizontal ? w : h;
    for (int32_t i = 0; i < length; ++i)
    {
        const uint16_t value =
            (uint16_t)(minimum_value + (int64_t)i * (maximum_value - minimum_value) / length);
        const rgb_color color = hsv_to_rgb(hue, saturation, value);
        rectangle2d line = *bounds;
        if (horizontal)
        {
            line.left = (int16_t)(bounds->left + i);
            line.right = (int16_t)(line.left + 1);
        }
        else
        {
            line.top = (int16_t)(bounds->top + i);
            line.bottom = (int16_t)(line.top + 1);
        }
        fill_rectangle_clipped(destination, &color, &line, nullptr, 0, nullptr);
    }
}
