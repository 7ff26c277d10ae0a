// The two-value status bar.  See status_bar_control.h.

#include "bitmap_dialogs/status_bar_control.h"

#include <cstdlib>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "cseries/log.h"
#include "shapes.h"

enum
{
    HALF_TRANSPARENT = 32768,
};

static status_bar_control_data *status_bar_record(const dialog_data *dialog, int16_t item_id)
{
    return get_control_record<status_bar_control_data>(dialog, item_id, status_bar_control_def_proc,
                                                       STATUS_BAR_COOKIE, "not a status bar");
}

static void draw_status_bar(const control_data *item, bitmap_data *destination)
{
    const status_bar_control_data *data = (const status_bar_control_data *)item->extra_data;
    if (!data || data->cookie != STATUS_BAR_COOKIE) return;
    const int32_t width = item->bounds.right - item->bounds.left;
    const uint8_t *table = get_transparency_table(_transparency_normal);
    rectangle2d bar = item->bounds;
    bar.right = (int16_t)(bar.left + width * data->fraction / STATUS_BAR_FULL);
    if (bar.right > bar.left) fill_rectangle_clipped(destination, &data->fill_color, &bar, nullptr, HALF_TRANSPARENT, table);
    if (data->average_point < 0) return;
    const int32_t point = data->average_point < STATUS_BAR_FULL ? (int32_t)data->average_point : (int32_t)STATUS_BAR_FULL;
    rectangle2d marker = item->bounds;
    marker.left = (int16_t)(item->bounds.left + width * point / STATUS_BAR_FULL);
    marker.right = (int16_t)(marker.left + STATUS_BAR_MARKER_WIDTH);
    fill_rectangle_clipped(destination, &data->marker_color, &marker, &item->bounds, HALF_TRANSPARENT, table);
}

intptr_t status_bar_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        status_bar_control_data *data = new_control_record<status_bar_control_data>(STATUS_BAR_COOKIE);
        if (!data) return 0;
        data->color = {0, 0, 0, 0};
        data->fill_color = {0, 0, 65535, 0};
        data->marker_color = {65535, 65535, 65535, 0};
        return (intptr_t)data;
    }
    case _control_click_verb: return 0;
    case _control_draw_verb:
    {
        const control_data *item = find_control(dialog, item_id);
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        if (item && p && p->dialog_bitmap) draw_status_bar(item, p->dialog_bitmap);
        return 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter); // frees the record at dispose
    }
}

static int16_t clamped(int32_t value)
{
    return (int16_t)(value < 0 ? 0 : (value > STATUS_BAR_FULL ? (int32_t)STATUS_BAR_FULL : value));
}

static void store(dialog_data *dialog, int16_t item_id, int16_t status_bar_control_data::*field, int32_t value)
{
    status_bar_control_data *data = status_bar_record(dialog, item_id);
    if (!data || data->*field == clamped(value)) return;
    data->*field = clamped(value);
    set_dialog_item_dirty(dialog, item_id);
}

void set_status_bar_fraction(dialog_data *dialog, int16_t item_id, int32_t value)
{
    store(dialog, item_id, &status_bar_control_data::fraction, value);
}

void set_status_bar_average_point(dialog_data *dialog, int16_t item_id, int32_t value)
{
    store(dialog, item_id, &status_bar_control_data::average_point, value);
}

int16_t get_status_bar_fraction(const dialog_data *dialog, int16_t item_id)
{
    const status_bar_control_data *data = status_bar_record(dialog, item_id);
    return data ? data->fraction : (int16_t)0;
}

int16_t get_status_bar_average_point(const dialog_data *dialog, int16_t item_id)
{
    const status_bar_control_data *data = status_bar_record(dialog, item_id);
    return data ? data->average_point : (int16_t)0;
}
