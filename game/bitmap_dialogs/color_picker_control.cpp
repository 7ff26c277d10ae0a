// The colour picker control.

#include "bitmap_dialogs/color_picker_control.h"

#include <cstdlib>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/color_picker.h"
#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "cseries/log.h"
#include "input/action_queue.h"

namespace {

// The item's extra data.  (Kept out of the global namespace: the slider has
// a record of the same name.)
struct color_picker_data
{
    uint32_t cookie; // COLOR_PICKER_COOKIE
    rgb_color color; // black at creation
    rectangle2d wheel_bounds, slider_bounds, swatch_bounds; // dialog coordinates
};

} // namespace

static color_picker_data *get_picker(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, color_picker_control_handler);
    if (!VASSERT(item != nullptr, "no colour picker item")) return nullptr;
    color_picker_data *data = (color_picker_data *)item->extra_data;
    if (!VASSERT(item->handler == color_picker_control_handler && data && data->cookie == COLOR_PICKER_COOKIE,
                 "not a colour picker"))
        return nullptr;
    return data;
}

static rectangle2d offset_rectangle(int16_t top, int16_t left, int32_t t, int32_t l, int32_t b, int32_t r)
{
    return {(int16_t)(top + t), (int16_t)(left + l), (int16_t)(top + b), (int16_t)(left + r)};
}

static intptr_t create_color_picker(dialog_data *dialog, int16_t item_id)
{
    control_data *item = find_control(dialog, item_id);
    if (!item) return 0;
    color_picker_data *data = new_control_record<color_picker_data>(COLOR_PICKER_COOKIE);
    if (!data) return 0;
    const int32_t width = item->bounds.right - item->bounds.left;
    const int32_t height = item->bounds.bottom - item->bounds.top;
    int32_t side = width > height ? width : height;
    if (side < 0) side = 0;
    item->bounds.right = (int16_t)(item->bounds.left + side);
    item->bounds.bottom = (int16_t)(item->bounds.top + side);
    const int32_t q = (side - WHEEL_ELEMENT_SEPARATION) / 4 > 0 ? (side - WHEEL_ELEMENT_SEPARATION) / 4 : 0;
    const int16_t top = item->bounds.top, left = item->bounds.left;
    const int32_t s = WHEEL_ELEMENT_SEPARATION;
    data->wheel_bounds = offset_rectangle(top, left, 0, 0, 3 * q, 3 * q);
    data->slider_bounds = offset_rectangle(top, left, 0, 3 * q + s, 3 * q, 4 * q + s);
    data->swatch_bounds = offset_rectangle(top, left, 3 * q + s, 0, 4 * q + s, 4 * q + s);
    return (intptr_t)data;
}

static intptr_t click_color_picker(dialog_data *dialog, int16_t item_id, void *parameter)
{
    const param_control_click_verb *p = (const param_control_click_verb *)parameter;
    color_picker_data *data = get_picker(dialog, item_id);
    if (!data || !p || !p->action) return 0;
    const action_data *action = p->action;
    if (!TEST_FLAG(action->flags[_left_mouse_down_bit / 32], _left_mouse_down_bit % 32)) return 0;
    hsv_color hsv;
    rgb_color_to_hsv_color(&data->color, &hsv);
    if (point2d_in_rectangle2d(&data->wheel_bounds, &action->pointer))
    {
        if (!click_in_color_picker_wheel(&data->wheel_bounds, action->pointer, &hsv.hue, &hsv.saturation)) return 0;
    }
    else if (point2d_in_rectangle2d(&data->slider_bounds, &action->pointer))
    {
        click_in_color_picker_slider(&data->slider_bounds, action->pointer, &hsv.value, 0, 65535);
    }
    hsv_color_to_rgb_color(&hsv, &data->color);
    set_dialog_item_dirty(dialog, item_id);
    return 1;
}

static void draw_color_picker(dialog_data *dialog, int16_t item_id, void *parameter)
{
    const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
    const color_picker_data *data = get_picker(dialog, item_id);
    if (!data || !p || !p->dialog_bitmap) return;
    hsv_color hsv;
    rgb_color_to_hsv_color(&data->color, &hsv);
    rasterize_color_picker_wheel(p->dialog_bitmap, &data->wheel_bounds, hsv.value);
    rasterize_color_picker_slider(p->dialog_bitmap, &data->slider_bounds, hsv.hue, hsv.saturation, 0, 65535);
    fill_rectangle_clipped(p->dialog_bitmap, &data->color, &data->swatch_bounds, nullptr, 0, nullptr);
    const rgb_color black = {0, 0, 0, 0};
    frame_rectangle_clipped(p->dialog_bitmap, &black, &data->swatch_bounds, nullptr, 0, nullptr);
}

intptr_t color_picker_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb: return create_color_picker(dialog, item_id);
    case _control_click_verb: return click_color_picker(dialog, item_id, parameter);
    case _control_draw_verb: draw_color_picker(dialog, item_id, parameter); return 0;
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

void get_color_picker_color(const dialog_data *dialog, int16_t item_id, rgb_color *color)
{
    const color_picker_data *data = get_picker(dialog, item_id);
    if (data && color) *color = data->color;
}

void set_color_picker_color(dialog_data *dialog, int16_t item_id, const rgb_color *color)
{
    color_picker_data *data = get_picker(dialog, item_id);
    if (!data || !color) return;
    data->color = *color;
    set_dialog_item_dirty(dialog, item_id);
}

bool get_color_picker_layout(const dialog_data *dialog, int16_t item_id, rectangle2d *wheel, rectangle2d *slider,
                             rectangle2d *swatch)
{
    const color_picker_data *data = get_picker(dialog, item_id);
    if (!data) return false;
    if (wheel) *wheel = data->wheel_bounds;
    if (slider) *slider = data->slider_bounds;
    if (swatch) *swatch = data->swatch_bounds;
    return true;
}
