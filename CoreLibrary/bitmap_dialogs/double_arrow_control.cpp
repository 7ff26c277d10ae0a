// The double arrow control.

#include "bitmap_dialogs/double_arrow_control.h"

#include <cstdio>
#include <cstdlib>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "collection_services.h"
#include "cseries/log.h"
#include "game_time.h"
#include "interface_definitions.h"
#include "shapes.h"
#include "vesk/string_lists.h"

// The record of a double arrow item, NULL (logged) for a missing item or one
// of another type.
static double_arrow_control_data *double_arrow_record(const dialog_data *dialog, int16_t item_id)
{
    return get_control_record<double_arrow_control_data>(dialog, item_id, double_arrow_control_def_proc,
                                                         DOUBLE_ARROW_CONTROL_COOKIE, "not a double arrow control");
}

static int32_t clamp_arrow_value(int32_t value, int32_t minimum, int32_t maximum)
{
    return value < minimum ? minimum : (value > maximum ? maximum : value);
}

// The step from `value` in the direction `up` (see the step table's rule in
// the header: a row covers the values up to and including its bound).
static int32_t step_for_value(const double_arrow_control_data *data, int32_t value, bool up)
{
    if (data->delta_count <= 0 || !data->deltas) return 1;
    const double_arrow_delta *rows = data->deltas;
    const int32_t count = data->delta_count;
    if (value < rows[0].upper_bound) return rows[0].delta;
    for (int32_t i = 0; i < count; ++i)
    {
        if (up ? rows[i].upper_bound > value : rows[i].upper_bound >= value) return rows[i].delta;
    }
    return rows[count - 1].delta;
}

// ((value - minimum) mod span) + minimum with a non-negative modulo, in 64
// bits so that no range overflows.
static int32_t wrap_value(int64_t value, int32_t minimum, int32_t maximum)
{
    const int64_t span = (int64_t)maximum + 1 - minimum;
    if (span <= 0) return minimum;
    int64_t r = (value - minimum) % span;
    if (r < 0) r += span;
    return (int32_t)(r + minimum);
}

// Grows the item to the arrows' picture: the union of the sequence's bitmaps
// about their registration points, centred on the original bounds and
// grown to contain them.
static void fit_bounds_to_picture(dialog_data *dialog, int16_t item_id, double_arrow_control_data *data)
{
    const int32_t count =
        count_sequence_bitmaps(data->collection_index, data->sequence_index, _count_views_times_frames);
    const rectangle2d &o = data->original_bounds;
    if (count <= 0)
    {
        set_dialog_item_bounds(dialog, item_id, &o);
        return;
    }
    bool any = false;
    rectangle2d r = {0, 0, 0, 0};
    for (int32_t k = 0; k < count; ++k)
    {
        point2d registration = {0, 0};
        const bitmap_data *bitmap =
            get_sequence_bitmap(data->collection_index, data->sequence_index, NONE, k, &registration, nullptr);
        if (!bitmap) continue;
        const rectangle2d b = {(int16_t)-registration.y, (int16_t)-registration.x,
                               (int16_t)(bitmap->height - registration.y), (int16_t)(bitmap->width - registration.x)};
        if (!any) r = b;
        else
        {
            if (b.top < r.top) r.top = b.top;
            if (b.left < r.left) r.left = b.left;
            if (b.bottom > r.bottom) r.bottom = b.bottom;
            if (b.right > r.right) r.right = b.right;
        }
        any = true;
    }
    if (!any)
    {
        set_dialog_item_bounds(dialog, item_id, &o);
        return;
    }
    const int16_t cx = (int16_t)(o.left + (o.right - o.left) / 2), cy = (int16_t)(o.top + (o.bottom - o.top) / 2);
    rectangle2d bounds = {(int16_t)(r.top + cy), (int16_t)(r.left + cx), (int16_t)(r.bottom + cy),
                          (int16_t)(r.right + cx)};
    if (o.top < bounds.top) bounds.top = o.top;
    if (o.left < bounds.left) bounds.left = o.left;
    if (o.bottom > bounds.bottom) bounds.bottom = o.bottom;
    if (o.right > bounds.right) bounds.right = o.right;
    set_dialog_item_bounds(dialog, item_id, &bounds);
}

static intptr_t click_double_arrow(dialog_data *dialog, int16_t item_id, void *parameter)
{
    control_data *item = find_control(dialog, item_id);
    const param_control_click_verb *p = (const param_control_click_verb *)parameter;
    if (!item || !p || !p->action) return 0;
    double_arrow_control_data *data = (double_arrow_control_data *)item->extra_data;
    if (!data) return 0;

    if (default_control_handler(_control_click_verb, dialog, item_id, parameter))
    {
        data->local_time_at_last_adjustment = 0;
        data->state = _state_idle;
        set_dialog_item_dirty(dialog, item_id);
        return 1;
    }
    const action_data *action = p->action;
    const rectangle2d &b = item->bounds;
    if (action->pointer.x < b.left || action->pointer.x >= b.right || action->pointer.y < b.top ||
        action->pointer.y >= b.bottom)
    {
        data->state = _state_idle;
        set_dialog_item_dirty(dialog, item_id);
        return 0;
    }

    // A fresh press steps at once, whatever the local time: the time of the
    // last step is only compared while an arrow stays held.
    const bool fresh = data->state == _state_idle;
    data->state = action->pointer.y < b.top + (b.bottom - b.top) / 2 ? _state_increasing : _state_decreasing;
    const int32_t now = game_->local_time.load();
    if (fresh || now - data->local_time_at_last_adjustment > TICKS_BETWEEN_ADJUSTMENTS)
    {
        const int32_t old_value = data->value;
        data->local_time_at_last_adjustment = now;
        bool up = data->state == _state_increasing;
        if (data->enum_data) up = !up; // the upper arrow goes to the previous choice
        if (data->inverted) up = !up;
        int32_t new_value;
        if (TEST_FLAG(action->flags[_shift_down_bit / 32], _shift_down_bit % 32))
        {
            new_value = up ? data->maximum : data->minimum;
        }
        else
        {
            const int64_t step = step_for_value(data, data->value, up);
            const int64_t stepped = up ? (int64_t)data->value + step : (int64_t)data->value - step;
            if (data->cyclic) new_value = wrap_value(stepped, data->minimum, data->maximum);
            else
                new_value = (int32_t)(stepped < data->minimum ? data->minimum
                                                              : (stepped > data->maximum ? data->maximum : stepped));
        }
        data->value = new_value;
        data->last_click = data->state == _state_increasing ? _clicked_arrow_up : _clicked_arrow_down;
        if (new_value != old_value && data->value_listener) data->value_listener(dialog, item_id);
    }
    set_dialog_item_dirty(dialog, item_id);
    return 0;
}

static void draw_double_arrow(dialog_data *dialog, int16_t item_id, void *parameter)
{
    const control_data *item = find_control(dialog, item_id);
    const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
    if (!item || !p || !p->dialog_bitmap) return;
    const double_arrow_control_data *data = (const double_arrow_control_data *)item->extra_data;
    if (!data) return;
    const fixed_fraction transparency = (item->flags & _control_is_disabled_flag) ? 32768 : 0;
    const uint8_t *table = get_transparency_table(_transparency_normal);

    if (data->draw_text)
    {
        rectangle2d box = data->original_bounds;
        box.right = (int16_t)(box.right - ICON_SPACING);
        const rgb_color black = {0, 0, 0, 0};
        frame_rectangle_clipped(p->dialog_bitmap, &black, &box, nullptr, 32768, table);
        const rectangle2d inside = {(int16_t)(box.top + 1), (int16_t)(box.left + 1), (int16_t)(box.bottom - 1),
                                    (int16_t)(box.right - 1)};
        fill_rectangle_clipped(p->dialog_bitmap, &black, &inside, nullptr, 21845, table);

        char text[DOUBLE_ARROW_FORMAT_BUFFER_SIZE] = "";
        if (data->enum_data)
        {
            const int32_t n = data->enum_data[0].value;
            if (data->value >= 0 && data->value < n && data->enum_data[data->value + 1].text)
                snprintf(text, sizeof(text), "%s", translate_string(data->enum_data[data->value + 1].text));
        }
        else if (data->format)
        {
            data->format(text, data->value);
            text[sizeof(text) - 1] = 0;
        }
        rgb_color color;
        get_dialog_color(&color, _dialog_edit_text_color);
        draw_string(p->dialog_bitmap, nullptr, &box, nullptr, get_interface_font_index(0), -1, &color, text,
                    _draw_string_center_vertical_flag | _draw_string_right_justified_flag, transparency);
    }
    if (data->collection_index != NONE)
    {
        rectangle2d frame = data->original_bounds;
        draw_bitmap_from_sequence(p->dialog_bitmap, data->collection_index, data->sequence_index, NONE, data->state,
                                  &frame, nullptr, nullptr, transparency, _transparency_normal,
                                  _draw_bitmap_right_justified_flag, 0);
    }
}

intptr_t double_arrow_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        const param_control_new_verb *p = (const param_control_new_verb *)parameter;
        double_arrow_control_data *data = new_control_record<double_arrow_control_data>(DOUBLE_ARROW_CONTROL_COOKIE);
        if (!data) return 0;
        data->format = double_arrow_integer_format;
        data->draw_text = true;
        data->collection_index = NONE;
        data->sequence_index = NONE;
        if (p && p->definition) data->original_bounds = p->definition->bounds;
        return (intptr_t)data;
    }
    case _control_new_completion_verb:
    {
        control_data *item = find_control(dialog, item_id);
        if (!item || !item->extra_data) return 0;
        double_arrow_control_data *data = (double_arrow_control_data *)item->extra_data;
        const int32_t collection = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
        data->collection_index = (int16_t)collection;
        data->sequence_index = _dialog_elements_double_arrow_control_sequence;
        if (collection != NONE && verify_sequence_index(collection, data->sequence_index))
            fit_bounds_to_picture(dialog, item_id, data);
        else
            data->collection_index = NONE;
        return 0;
    }
    case _control_click_verb: return click_double_arrow(dialog, item_id, parameter);
    case _control_draw_verb: draw_double_arrow(dialog, item_id, parameter); return 0;
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

void set_double_arrow_control_value(dialog_data *dialog, int16_t item_id, int32_t minimum, int32_t maximum,
                                    int32_t value)
{
    double_arrow_control_data *data = double_arrow_record(dialog, item_id);
    if (!data) return;
    const int32_t old_value = data->value;
    if (minimum != -1) data->minimum = minimum;
    if (maximum != -1) data->maximum = maximum;
    if (value != -1) data->value = value;
    if (data->maximum < data->minimum) data->maximum = data->minimum;
    data->value = clamp_arrow_value(data->value, data->minimum, data->maximum);
    if (data->value != old_value) set_dialog_item_dirty(dialog, item_id);
}

int32_t get_double_arrow_control_value(const dialog_data *dialog, int16_t item_id)
{
    const double_arrow_control_data *data = double_arrow_record(dialog, item_id);
    return data ? data->value : 0;
}

int16_t get_double_arrow_control_last_click(const dialog_data *dialog, int16_t item_id)
{
    const double_arrow_control_data *data = double_arrow_record(dialog, item_id);
    return data ? data->last_click : (int16_t)0;
}

void set_double_arrow_control_delta(dialog_data *dialog, int16_t item_id, int16_t count,
                                    const double_arrow_delta *table)
{
    double_arrow_control_data *data = double_arrow_record(dialog, item_id);
    if (!data) return;
    if (!VASSERT(count >= 0 && (count == 0 || table), "bad double arrow step table")) return;
    data->delta_count = count;
    data->deltas = count ? table : nullptr;
}

void set_double_arrow_control_format_proc(dialog_data *dialog, int16_t item_id, double_arrow_format_proc format)
{
    double_arrow_control_data *data = double_arrow_record(dialog, item_id);
    if (data) data->format = format ? format : double_arrow_integer_format;
}

void set_double_arrow_control_draw_text(dialog_data *dialog, int16_t item_id, bool draw_text)
{
    double_arrow_control_data *data = double_arrow_record(dialog, item_id);
    if (data) data->draw_text = draw_text;
}

bool get_double_arrow_control_draw_text(const dialog_data *dialog, int16_t item_id)
{
    const double_arrow_control_data *data = double_arrow_record(dialog, item_id);
    return data ? data->draw_text : false;
}

void set_double_arrow_direction(dialog_data *dialog, int16_t item_id, bool inverted)
{
    double_arrow_control_data *data = double_arrow_record(dialog, item_id);
    if (data) data->inverted = inverted;
}

void set_double_arrow_control_value_listener(dialog_data *dialog, int16_t item_id,
                                             double_arrow_value_listener listener)
{
    double_arrow_control_data *data = double_arrow_record(dialog, item_id);
    if (data) data->value_listener = listener;
}

double_arrow_control_data *get_double_arrow_control_data(const dialog_data *dialog, int16_t item_id)
{
    return double_arrow_record(dialog, item_id);
}

void double_arrow_integer_format(char *buffer, int32_t value)
{
    if (buffer) snprintf(buffer, DOUBLE_ARROW_FORMAT_BUFFER_SIZE, "%d", (int)value);
}

void double_arrow_time_format(char *buffer, int32_t ticks)
{
    if (!buffer) return;
    const int32_t t = clamp_arrow_value(ticks, 0, DOUBLE_ARROW_MAXIMUM_TIME);
    snprintf(buffer, DOUBLE_ARROW_FORMAT_BUFFER_SIZE, "%d:%02d", (int)(t / 1800), (int)(t % 1800 / 30));
}

bool set_enum_selector_value(dialog_data *dialog, int16_t item_id, const enum_selector_data *table, int32_t value)
{
    double_arrow_control_data *data = double_arrow_record(dialog, item_id);
    if (!data || !table) return false;
    const int32_t n = table[0].value;
    if (n <= 0) return false;
    int32_t index = NONE;
    for (int32_t i = 0; i < n; ++i)
    {
        if (table[i + 1].value == value)
        {
            index = i;
            break;
        }
    }
    if (index == NONE) return false;
    const int32_t old_value = data->value;
    data->enum_data = table;
    data->cyclic = true;
    data->minimum = 0;
    data->maximum = n - 1;
    data->value = index;
    if (index != old_value) set_dialog_item_dirty(dialog, item_id);
    return true;
}

int32_t get_enum_selector_value(const dialog_data *dialog, int16_t item_id, const enum_selector_data *table)
{
    const double_arrow_control_data *data = double_arrow_record(dialog, item_id);
    if (!data) return 0;
    if (!VASSERT(table && table[0].value > 0 && data->value >= 0 && data->value < table[0].value,
                 "enumeration index outside the table"))
        return 0;
    return table[data->value + 1].value;
}
