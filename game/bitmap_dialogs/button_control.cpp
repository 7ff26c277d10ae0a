// Buttons and checkboxes.

#include "bitmap_dialogs/button_control.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/radio_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "collection_services.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "interface_definitions.h"
#include "shading_tables.h"
#include "shapes.h"

static bool is_button_procedure(control_def_proc procedure)
{
    return procedure == button_control_def_proc || procedure == checkbox_button_control_def_proc ||
           procedure == radio_button_control_def_proc;
}

// The button record of the item, NULL when the dialog is bad or the item
// missing (logged by find_control), of another type or without a record
// (logged here).  The procedure is compared before the record is read:
// another type's record may be shorter than a cookie.
static button_control_data *get_button_data(const dialog_data *dialog, int16_t item_id,
                                            control_data **item_out = nullptr)
{
    control_data *item = find_control(dialog, item_id);
    if (!item) return nullptr;
    button_control_data *data = nullptr;
    if (is_button_procedure(item->handler)) data = (button_control_data *)item->extra_data;
    if (!data || data->cookie != BUTTON_CONTROL_COOKIE)
    {
        char text[64];
        snprintf(text, sizeof(text), "item #%d isn't a button", (int)item_id);
        assertion_failed(__FILE__, __LINE__, _assertion_vassert,
                         "extra_data ? extra_data->cookie==BUTTON_CONTROL_COOKIE : 0", text);
        return nullptr;
    }
    if (item_out) *item_out = item;
    return data;
}

static bool same_color(const rgb_color &a, const rgb_color &b)
{
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// The views of the sequence; 0 without a collection.
static int16_t sequence_view_count(int16_t collection_index, int16_t sequence_index)
{
    if (collection_index == NONE || sequence_index == NONE) return 0;
    const int32_t views = count_sequence_bitmaps(collection_index, sequence_index, _count_views);
    return (int16_t)(views < 0 ? 0 : views > INT16_MAX ? INT16_MAX : views);
}

// Keeps the state inside the views that exist, and never below 0 (a button
// without states has state 0).
static int16_t clamp_button_state(const button_control_data *data, int32_t state)
{
    if (state >= data->number_of_states) state = data->number_of_states - 1;
    if (state < 0) state = 0;
    return (int16_t)state;
}

void set_button_control_shape(dialog_data *dialog, int16_t item_id, int16_t collection_index,
                              int16_t sequence_index)
{
    control_data *item = nullptr;
    button_control_data *data = get_button_data(dialog, item_id, &item);
    if (!data) return;
    if (sequence_index == NONE)
    {
        data->collection_index = data->sequence_index = NONE;
        data->color_table_index = data->color_table_permutation = NONE;
        data->number_of_states = 0;
    }
    else
    {
        data->collection_index = collection_index;
        data->sequence_index = sequence_index;
        data->color_table_index = data->color_table_permutation = NONE;
        data->number_of_states = sequence_view_count(collection_index, sequence_index);
    }
    data->state = clamp_button_state(data, data->state);
    set_dialog_item_dirty(dialog, item_id);
    // A one-view button shows its pressed look for a moment after a click; a
    // toggle shows its new view instead.
    if (data->number_of_states == 1) item->flags |= _control_requires_visible_click_time_flag;
    else item->flags &= (uint16_t)~_control_requires_visible_click_time_flag;

    if (collection_index == NONE || sequence_index == NONE || !verify_sequence_index(collection_index, sequence_index))
        return;
    data->text_bounds = data->original_bounds;
    const int32_t views = count_sequence_bitmaps(collection_index, sequence_index, _count_views);
    const int32_t frames = count_sequence_bitmaps(collection_index, sequence_index, _count_frames_per_view);
    if (data->flags & _button_control_word_wrapped_text_flag)
        data->text_bounds.left = (int16_t)(data->text_bounds.left + WORD_WRAPPED_BUTTON_TEXT_INSET);
    else if ((data->flags & _button_control_draw_side_by_side_flag) && views > 0 && frames > 0)
    {
        const bitmap_data *first = get_sequence_bitmap(collection_index, sequence_index, 0, 0, nullptr, nullptr);
        if (first) data->text_bounds.left = (int16_t)(data->text_bounds.left + first->width + SIDE_BY_SIDE_TEXT_GAP);
    }

    // The picture is drawn centred on the original bounds by its registration
    // point: the item covers every bitmap so drawn, and at least the original.
    bool any = false;
    rectangle2d picture = {0, 0, 0, 0};
    for (int32_t view = 0; view < views; ++view)
        for (int32_t frame = 0; frame < frames; ++frame)
        {
            point2d registration = {0, 0};
            const bitmap_data *bitmap =
                get_sequence_bitmap(collection_index, sequence_index, view, frame, &registration, nullptr);
            if (!bitmap) continue;
            const rectangle2d r = {(int16_t)-registration.y, (int16_t)-registration.x,
                                   (int16_t)(bitmap->height - registration.y), (int16_t)(bitmap->width - registration.x)};
            if (any) union_rectangles2d(&picture, &r, &picture);
            else picture = r;
            any = true;
        }
    if (!any)
    {
        set_dialog_item_bounds(dialog, item_id, &data->original_bounds);
        return;
    }
    const rectangle2d &o = data->original_bounds;
    offset_rectangle2d(&picture, (int16_t)(o.left + (o.right - o.left) / 2), (int16_t)(o.top + (o.bottom - o.top) / 2));
    union_rectangles2d(&picture, &o, &picture);
    set_dialog_item_bounds(dialog, item_id, &picture);
}

void build_default_button_control_data(dialog_data *dialog, int16_t item_id)
{
    button_control_data *data = get_button_data(dialog, item_id);
    if (!data) return;
    const int32_t width = data->original_bounds.right - data->original_bounds.left;
    const int16_t sequence = width < SHORT_BUTTON_WIDTH_THRESHHOLD    ? _dialog_elements_short_button_sequence
                             : width < MEDIUM_BUTTON_WIDTH_THRESHHOLD ? _dialog_elements_medium_button_sequence
                                                                      : _dialog_elements_long_button_sequence;
    set_button_control_shape(dialog, item_id, (int16_t)get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG),
                             sequence);
}

void set_button_control_frame_shape(dialog_data *dialog, int16_t item_id, int16_t collection_index,
                                    int16_t sequence_index)
{
    button_control_data *data = get_button_data(dialog, item_id);
    if (!data) return;
    data->frame_collection_index = sequence_index == NONE ? (int16_t)NONE : collection_index;
    data->frame_sequence_index = sequence_index;
    set_dialog_item_dirty(dialog, item_id);
}

void set_button_control_state(dialog_data *dialog, int16_t item_id, int16_t state)
{
    button_control_data *data = get_button_data(dialog, item_id);
    if (!data) return;
    const int16_t clamped = clamp_button_state(data, state);
    if (clamped == data->state) return;
    data->state = clamped;
    set_dialog_item_dirty(dialog, item_id);
}

int16_t get_button_control_state(const dialog_data *dialog, int16_t item_id)
{
    const button_control_data *data = get_button_data(dialog, item_id);
    return data ? data->state : (int16_t)NONE;
}

void set_button_control_number_of_states(dialog_data *dialog, int16_t item_id, int16_t number_of_states)
{
    button_control_data *data = get_button_data(dialog, item_id);
    if (!data) return;
    VASSERT(data->collection_index != NONE, "data->collection_index != NONE");
    const int16_t views = sequence_view_count(data->collection_index, data->sequence_index);
    // A count the picture cannot show would make drawing ask for views that
    // do not exist: it is kept inside 0 .. views.
    if (!VASSERT(number_of_states >= 0, "number_of_states >= 0")) number_of_states = 0;
    if (!VASSERT(number_of_states <= views, "number_of_states <= count_sequence_bitmaps(data->collection_index, "
                                            "data->sequence_index, _count_sequence_views)"))
        number_of_states = views;
    data->number_of_states = number_of_states;
    data->state = clamp_button_state(data, data->state);
}

void set_button_control_flags(dialog_data *dialog, int16_t item_id, uint32_t flags)
{
    button_control_data *data = get_button_data(dialog, item_id);
    if (!data || data->flags == flags) return;
    data->flags = flags;
    set_dialog_item_dirty(dialog, item_id);
}

void set_button_control_text_color(dialog_data *dialog, int16_t item_id, const rgb_color *color)
{
    button_control_data *data = get_button_data(dialog, item_id);
    if (!data || !VASSERT(color, "color") || same_color(data->text_color, *color)) return;
    data->text_color = *color;
    set_dialog_item_dirty(dialog, item_id);
}

void set_button_transparency(dialog_data *dialog, int16_t item_id, fixed_fraction transparency)
{
    button_control_data *data = get_button_data(dialog, item_id);
    if (!data || data->transparency == transparency) return;
    data->transparency = transparency;
    set_dialog_item_dirty(dialog, item_id);
}

void set_button_control_replacement_colors(dialog_data *dialog, int16_t item_id, const rgb_color *colors)
{
    button_control_data *data = get_button_data(dialog, item_id);
    if (!data) return;
    data->replacement_colors = colors;
    set_dialog_item_dirty(dialog, item_id);
}

void set_button_control_color_table(dialog_data *dialog, int16_t item_id, int16_t color_table_index,
                                    int16_t permutation)
{
    button_control_data *data = get_button_data(dialog, item_id);
    if (!data) return;
    data->color_table_index = color_table_index;
    data->color_table_permutation = permutation;
    set_dialog_item_dirty(dialog, item_id);
}

void get_button_control_original_bounds(const dialog_data *dialog, int16_t item_id, rectangle2d *bounds)
{
    if (!VASSERT(bounds, "bounds")) return;
    const button_control_data *data = get_button_data(dialog, item_id);
    *bounds = data ? data->original_bounds : rectangle2d{0, 0, 0, 0};
}

void set_button_control_original_bounds(dialog_data *dialog, int16_t item_id, const rectangle2d *bounds)
{
    button_control_data *data = get_button_data(dialog, item_id);
    if (!data || !VASSERT(bounds, "bounds")) return;
    data->original_bounds = *bounds;
    mark_control_as_hardcoded(dialog, item_id);
}

void get_button_control_name(const dialog_data *dialog, int16_t item_id, char *buffer, int32_t size)
{
    if (!buffer || size <= 0) return;
    const button_control_data *data = get_button_data(dialog, item_id);
    strlcpy(buffer, data ? data->name : "", (size_t)size);
}

void set_button_control_name(dialog_data *dialog, int16_t item_id, const char *name)
{
    button_control_data *data = get_button_data(dialog, item_id);
    if (!data) return;
    char copy[MAXIMUM_BUTTON_NAME_LENGTH + 1];
    strlcpy(copy, name ? name : "", sizeof(copy));
    if (strcmp(copy, data->name) == 0) return;
    memcpy(data->name, copy, sizeof(copy));
    set_dialog_item_dirty(dialog, item_id);
}

void set_checkbox_state(dialog_data *dialog, int16_t item_id, bool on)
{
    set_button_control_state(dialog, item_id, on ? 1 : 0);
}

bool get_checkbox_state(const dialog_data *dialog, int16_t item_id)
{
    const button_control_data *data = get_button_data(dialog, item_id);
    return data && data->state != 0;
}

// ---- the procedures -------------------------------------------------------------------

int32_t disabled_control_transparency(int32_t transparency)
{
    if (transparency < 0) transparency = 0;
    return (transparency + 65536) / 2;
}

static void draw_button(dialog_data *dialog, int16_t item_id, const param_control_draw_verb *parameter)
{
    control_data *item = nullptr;
    button_control_data *data = get_button_data(dialog, item_id, &item);
    if (!data || !parameter || !parameter->dialog_bitmap || data->number_of_states == 0) return;
    const bool disabled = (item->flags & _control_is_disabled_flag) != 0;
    int32_t t = data->transparency;
    if (disabled) t = disabled_control_transparency(t);
    if (t < 0) t = 0;
    if (t >= 65535) return;

    rectangle2d picture = data->original_bounds;
    uint32_t bitmap_flags = _draw_bitmap_respect_registration_point_flag;
    uint32_t text_flags = _draw_string_center_horizontal_flag | _draw_string_center_vertical_flag | _draw_string_shadow_flag;
    int16_t inset = 0;
    if (data->flags & _button_control_word_wrapped_text_flag)
    {
        text_flags = _draw_string_shadow_flag;
        picture.right = data->text_bounds.left;
    }
    else if (data->flags & _button_control_draw_side_by_side_flag)
    {
        text_flags = _draw_string_center_vertical_flag | _draw_string_shadow_flag;
        if (get_sequence_bitmap(data->collection_index, data->sequence_index, 0, 0, nullptr, nullptr))
        {
            bitmap_flags |= _draw_bitmap_left_justified_flag;
            inset = SIDE_BY_SIDE_INSET;
        }
    }

    const void *colors = data->replacement_colors;
    if (data->color_table_index != NONE)
    {
        const void *table = get_shading_table(data->collection_index, data->color_table_index, data->color_table_permutation);
        if (table)
        {
            bitmap_flags |= _draw_bitmap_explicit_shading_table_provided_flag;
            colors = table;
        }
    }

    const int16_t view = disabled && !(data->flags & _button_control_stays_checked_when_disabled_flag) ? 0 : data->state;
    const int16_t bitmap_index = item->state == _control_pressed ? 1 : 0;
    rectangle2d frame = picture;
    draw_bitmap_from_sequence(parameter->dialog_bitmap, data->collection_index, data->sequence_index, view, bitmap_index,
                              &frame, nullptr, colors, (fixed_fraction)t, 0, bitmap_flags, inset);
    if (data->frame_collection_index != NONE)
    {
        frame = picture;
        draw_bitmap_from_sequence(parameter->dialog_bitmap, data->frame_collection_index, data->frame_sequence_index, 0,
                                  0, &frame, nullptr, nullptr, (fixed_fraction)t, 0,
                                  bitmap_flags & ~(uint32_t)_draw_bitmap_explicit_shading_table_provided_flag, inset);
    }
    draw_string(parameter->dialog_bitmap, nullptr, &data->text_bounds, nullptr, get_interface_font_index(0), -1,
                &data->text_color, data->name, text_flags, (fixed_fraction)t);
}

// The click: the default tracking; a completed press steps the state.
static intptr_t click_button(dialog_data *dialog, int16_t item_id, void *parameter)
{
    const intptr_t result = default_control_handler(_control_click_verb, dialog, item_id, parameter);
    if (!result) return result;
    button_control_data *data = get_button_data(dialog, item_id);
    if (!data || data->number_of_states <= 0) return result;
    if (data->state != 0 && (data->flags & _button_control_locks_flag)) return result;
    const param_control_click_verb *p = (const param_control_click_verb *)parameter;
    const bool shift = p && p->action && TEST_FLAG(p->action->flags[_shift_down_bit / 32], _shift_down_bit % 32);
    int32_t state = data->state + (shift ? -1 : 1);
    if (state < 0) state = data->number_of_states - 1;
    if (state >= data->number_of_states) state = 0;
    if (state != data->state)
    {
        data->state = (int16_t)state;
        set_dialog_item_dirty(dialog, item_id);
    }
    return result;
}

intptr_t button_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        const param_control_new_verb *p = (const param_control_new_verb *)parameter;
        button_control_data *data = new_control_record<button_control_data>(BUTTON_CONTROL_COOKIE);
        if (!data) return 0;
        data->frame_collection_index = data->frame_sequence_index = NONE;
        data->collection_index = data->sequence_index = NONE;
        data->color_table_index = data->color_table_permutation = NONE;
        strlcpy(data->name, p && p->text ? p->text : "", sizeof(data->name));
        get_dialog_color(&data->text_color, _dialog_button_text_color);
        if (p && p->definition) data->original_bounds = p->definition->bounds;
        data->text_bounds = data->original_bounds;
        return (intptr_t)data;
    }
    case _control_new_completion_verb:
        build_default_button_control_data(dialog, item_id);
        return 0;
    case _control_click_verb:
        return click_button(dialog, item_id, parameter);
    case _control_draw_verb:
        draw_button(dialog, item_id, (const param_control_draw_verb *)parameter);
        return 0;
    default:
        return default_control_handler(verb, dialog, item_id, parameter);
    }
}

void apply_button_control_style(dialog_data *dialog, int16_t item_id, uint32_t flags, int16_t sequence, int16_t color_index)
{
    set_button_control_flags(dialog, item_id, flags);
    set_button_control_shape(dialog, item_id, (int16_t)get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG),
                             sequence);
    rgb_color color;
    get_dialog_color(&color, color_index);
    set_button_control_text_color(dialog, item_id, &color);
}

intptr_t checkbox_button_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    const intptr_t result = button_control_def_proc(verb, dialog, item_id, parameter);
    if (verb == _control_new_completion_verb)
        apply_button_control_style(dialog, item_id, _button_control_draw_side_by_side_flag, _dialog_elements_checkbox_sequence,
                          _dialog_checkbox_text_color);
    return result;
}

