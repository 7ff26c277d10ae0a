// Sliders.

#include "bitmap_dialogs/slider_control.h"

#include <cstdlib>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "cseries/log.h"
#include "shapes.h"

static private_control_data *slider_record(const dialog_data *dialog, int16_t item_id)
{
    return get_control_record<private_control_data>(dialog, item_id, slider_control_def_proc, SLIDER_COOKIE,
                                                    "not a slider");
}

static int32_t clamp_slider_value(int64_t value, int32_t minimum, int32_t maximum)
{
    return (int32_t)(value < minimum ? minimum : (value > maximum ? maximum : value));
}

// The thumb at the record's value, kept inside the item whatever value was
// stored; at the left when the range or the travel is empty.
static rectangle2d slider_thumb_bounds(const control_data *item, const private_control_data *data)
{
    const int32_t travel = item->bounds.right - item->bounds.left - THUMB_WIDTH;
    const int64_t range = (int64_t)data->max_value - data->min_value;
    int64_t offset = 0;
    if (travel > 0 && range > 0)
    {
        offset = (int64_t)travel * ((int64_t)data->value - data->min_value) / range;
        if (offset < 0) offset = 0;
        if (offset > travel) offset = travel;
    }
    const int16_t left = (int16_t)(item->bounds.left + offset);
    return {item->bounds.top, left, item->bounds.bottom, (int16_t)(left + THUMB_WIDTH)};
}

// The value whose thumb is centred on `x`, clamped; an empty range or travel
// cannot map a position, and the value stays.
static void slider_follow_pointer(const control_data *item, private_control_data *data, int16_t x)
{
    const int32_t travel = item->bounds.right - item->bounds.left - THUMB_WIDTH;
    const int64_t range = (int64_t)data->max_value - data->min_value;
    if (travel <= 0 || range <= 0) return;
    const int64_t position = (int64_t)x - HALF_THUMB_WIDTH - item->bounds.left;
    data->value = clamp_slider_value(data->min_value + position * range / travel, data->min_value, data->max_value);
}

static intptr_t click_slider(dialog_data *dialog, int16_t item_id, void *parameter)
{
    const control_data *item = find_control(dialog, item_id);
    const param_control_click_verb *p = (const param_control_click_verb *)parameter;
    if (!item || !p || !p->action) return 0;
    private_control_data *data = (private_control_data *)item->extra_data;
    if (!data) return 0;
    const action_data *action = p->action;
    intptr_t result = 0;

    if (action_flag_set(action, _double_left_mouse_down_bit))
    {
        data->value = clamp_slider_value(data->default_value, data->min_value, data->max_value);
        result = 1;
    }
    else if (action_flag_set(action, _left_mouse_down_bit))
    {
        if (data->item_last_clicked == _in_slider)
        {
            slider_follow_pointer(item, data, action->pointer.x);
            result = 1;
        }
        const point2d at = action->pointer;
        const rectangle2d thumb = slider_thumb_bounds(item, data);
        const bool inside_item = at.x >= item->bounds.left && at.x < item->bounds.right &&
                                 at.y >= item->bounds.top && at.y < item->bounds.bottom;
        const bool inside_thumb = at.x >= thumb.left && at.x < thumb.right;
        if (inside_item && data->item_last_clicked != _in_slider)
        {
            // A press on the thumb grabs it where it is; a press on the track
            // beside it takes the thumb there and holds it, so a click moves
            // the value and a drag that began beside the thumb still drags.
            // Only the move reports a change: the dialog applies it at once.
            if (!inside_thumb)
            {
                slider_follow_pointer(item, data, at.x);
                result = 1;
            }
            data->item_last_clicked = _in_slider;
        }
        else if (data->item_last_clicked != _in_slider) return 0;
    }
    else
    {
        data->item_last_clicked = _nothing;
    }
    set_dialog_item_dirty(dialog, item_id);
    return result;
}

intptr_t slider_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        private_control_data *data = new_control_record<private_control_data>(SLIDER_COOKIE);
        if (!data) return 0;
        data->item_last_clicked = _nothing;
        return (intptr_t)data;
    }
    case _control_click_verb: return click_slider(dialog, item_id, parameter);
    case _control_draw_verb:
    {
        const control_data *item = find_control(dialog, item_id);
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        if (!item || !p || !p->dialog_bitmap) return 0;
        const private_control_data *data = (const private_control_data *)item->extra_data;
        if (!data) return 0;
        const int32_t collection = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
        if (collection == NONE) return 0;
        rectangle2d thumb = slider_thumb_bounds(item, data);
        // The thumb's picture may be taller than the item; only the item is
        // redrawn when the thumb moves, so nothing may be drawn outside it.
        const rectangle2d clip = item->bounds;
        const fixed_fraction transparency = (item->flags & _control_is_disabled_flag) ? 32768 : 0;
        draw_bitmap_from_sequence(p->dialog_bitmap, collection, _dialog_elements_slider_controls_sequence,
                                  data->item_last_clicked == _in_slider ? 1 : 0, 0, &thumb, &clip, nullptr,
                                  transparency, _transparency_normal, _draw_bitmap_respect_registration_point_flag,
                                  0);
        return 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

void set_slider_extrema(dialog_data *dialog, int16_t item_id, int32_t minimum, int32_t maximum)
{
    private_control_data *data = slider_record(dialog, item_id);
    if (!data) return;
    data->min_value = minimum;
    data->max_value = maximum;
    data->value = clamp_slider_value(data->value, minimum, maximum < minimum ? minimum : maximum);
}

void get_slider_extrema(const dialog_data *dialog, int16_t item_id, int32_t *minimum, int32_t *maximum)
{
    const private_control_data *data = slider_record(dialog, item_id);
    if (minimum) *minimum = data ? data->min_value : 0;
    if (maximum) *maximum = data ? data->max_value : 0;
}

void set_slider_value(dialog_data *dialog, int16_t item_id, int32_t value)
{
    private_control_data *data = slider_record(dialog, item_id);
    if (!data || data->value == value) return;
    data->value = value;
    set_dialog_item_dirty(dialog, item_id);
}

int32_t get_slider_value(const dialog_data *dialog, int16_t item_id)
{
    const private_control_data *data = slider_record(dialog, item_id);
    return data ? data->value : 0;
}

void set_slider_default_value(dialog_data *dialog, int16_t item_id, int32_t value)
{
    private_control_data *data = slider_record(dialog, item_id);
    if (data) data->default_value = value;
}

bool get_slider_thumb_bounds(const dialog_data *dialog, int16_t item_id, rectangle2d *bounds)
{
    const private_control_data *data = slider_record(dialog, item_id);
    if (!data || !bounds) return false;
    *bounds = slider_thumb_bounds(find_control(dialog, item_id), data);
    return true;
}
