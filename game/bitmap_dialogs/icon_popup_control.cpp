// Popups of icons.

#include "bitmap_dialogs/icon_popup_control.h"

#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_drawing.h"
#include "cseries/log.h"
#include "shapes.h"
#include "world.h"

static const int16_t background_tile_state_map[NUMBER_OF_TILE_RECTANGLE_STATES] = {0, 1, 2, -1, 4, 5, 6, 7, 8};

// The popup itself, or the lobby's room graphic, which builds on it and keeps its record.
static bool icon_popup_based_handler(control_def_proc handler)
{
    return handler == icon_popup_control_def_proc ||
           (handler && handler == find_control_handler(ROOM_GRAPHIC_CONTROL_TAG));
}

static icon_popup_control_data *icon_popup_record(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, icon_popup_control_def_proc);
    if (!item) return nullptr;
    icon_popup_control_data *data = (icon_popup_control_data *)item->extra_data;
    if (!VASSERT(data && icon_popup_based_handler(item->handler) && data->cookie == ICON_POPUP_COOKIE,
                 "not an icon popup"))
        return nullptr;
    return data;
}

// The rows the grid shows: a room list follows the lobby's room count.
static int16_t grid_row_count(const icon_popup_control_data *data)
{
    if (!data->is_metaserver_room_list || data->column_count <= 0) return data->row_count;
    int32_t rows = (metaserver_room_count() + 1) / data->column_count;
    if (rows > data->row_count) rows = data->row_count;
    return (int16_t)(rows < 1 ? 1 : rows);
}

static void recompute_tracking_bounds(icon_popup_control_data *data)
{
    const int32_t rows = grid_row_count(data);
    data->tracking_bounds.top = data->idle_bounds.top;
    data->tracking_bounds.left = data->idle_bounds.left;
    data->tracking_bounds.bottom = (int16_t)(data->idle_bounds.top + rows * (data->icon_height + data->icon_separation) +
                                             2 * BORDER_WIDTH - data->icon_separation);
    data->tracking_bounds.right =
        (int16_t)(data->idle_bounds.left + data->column_count * (data->icon_width + data->icon_separation) +
                  2 * BORDER_WIDTH - data->icon_separation);
}

// Keeps the value's position inside the visible list (0 for an empty one).
static void clamp_value_position(icon_popup_control_data *data)
{
    if (data->original_icon_visible_index >= data->visible_icon_count)
        data->original_icon_visible_index = (int16_t)(data->visible_icon_count - 1);
    if (data->original_icon_visible_index < 0) data->original_icon_visible_index = 0;
}

static int16_t current_value(const icon_popup_control_data *data)
{
    if (!data->visible_icon_indexes || data->visible_icon_count <= 0) return NONE;
    int16_t position = data->original_icon_visible_index;
    if (position < 0) position = 0;
    if (position >= data->visible_icon_count) position = (int16_t)(data->visible_icon_count - 1);
    return data->visible_icon_indexes[position];
}

// The visible-list position shown at grid place `place`.
static int16_t place_to_position(const icon_popup_control_data *data, int16_t place)
{
    if (place == 0) return data->original_icon_visible_index;
    if (place == data->original_icon_visible_index) return 0;
    return place;
}

static rectangle2d place_rectangle(const icon_popup_control_data *data, int16_t place)
{
    const rectangle2d &bounds = data->tracking ? data->tracking_bounds : data->idle_bounds;
    const int16_t columns = data->column_count > 0 ? data->column_count : 1;
    const int16_t column = (int16_t)(place % columns), row = (int16_t)(place / columns);
    rectangle2d r;
    r.left = (int16_t)(bounds.left + BORDER_WIDTH + column * (data->icon_width + data->icon_separation));
    r.top = (int16_t)(bounds.top + BORDER_WIDTH + row * (data->icon_height + data->icon_separation));
    r.right = (int16_t)(r.left + data->icon_width);
    r.bottom = (int16_t)(r.top + data->icon_height);
    return r;
}

static bool icon_enabled(const icon_popup_control_data *data, int16_t icon)
{
    return !data->enabled_proc || data->enabled_proc(icon);
}

static void set_bounds(dialog_data *dialog, int16_t item_id, const rectangle2d &bounds)
{
    rectangle2d copy = bounds;
    set_dialog_item_bounds(dialog, item_id, &copy);
}

static intptr_t click_icon_popup(dialog_data *dialog, int16_t item_id, const param_control_click_verb *parameter)
{
    icon_popup_control_data *data = icon_popup_record(dialog, item_id);
    if (!data || !data->initialized || !parameter || !parameter->action) return 0;
    const action_data *action = parameter->action;
    const int16_t value_before = current_value(data);
    const bool held = TEST_FLAG(action->flags[_left_mouse_down_bit / 32], _left_mouse_down_bit % 32);
    if (held)
    {
        const rectangle2d &bounds = data->tracking ? data->tracking_bounds : data->idle_bounds;
        int16_t highlight = data->highlighted_icon_place;
        if (point2d_in_rectangle2d(&bounds, &action->pointer))
        {
            const int16_t places = data->tracking ? data->visible_icon_count : (data->visible_icon_count > 0 ? 1 : 0);
            for (int16_t place = 0; place < places; ++place)
            {
                const int16_t position = place_to_position(data, place);
                if (position < 0 || position >= data->visible_icon_count) continue;
                const rectangle2d place_bounds = place_rectangle(data, place);
                if (!point2d_in_rectangle2d(&place_bounds, &action->pointer)) continue;
                // A disabled icon under the pointer keeps the previous highlight.
                if (!icon_enabled(data, data->visible_icon_indexes[position])) continue;
                highlight = place;
                break;
            }
        }
        else
            highlight = NONE;
        if (highlight != data->highlighted_icon_place)
        {
            data->highlighted_icon_place = highlight;
            set_dialog_item_dirty(dialog, item_id);
        }
        if (!data->tracking)
        {
            data->tracking = true;
            set_bounds(dialog, item_id, data->tracking_bounds);
            set_dialog_item_dirty(dialog, item_id);
        }
        return 0;
    }
    if (data->tracking)
    {
        const int16_t place = data->highlighted_icon_place;
        if (place != NONE)
        {
            const int16_t position = place_to_position(data, place);
            if (position >= 0 && position < data->visible_icon_count) data->original_icon_visible_index = position;
        }
        data->highlighted_icon_place = NONE;
        data->tracking = false;
        set_bounds(dialog, item_id, data->idle_bounds);
        set_dialog_item_dirty(dialog, item_id);
    }
    return current_value(data) != value_before ? 1 : 0;
}

static void draw_icon_popup(const control_data *item, icon_popup_control_data *data, bitmap_data *destination)
{
    if (!data->initialized) return;
    const fixed_fraction transparency =
        (item->flags & _control_is_disabled_flag) ? (fixed_fraction)ICON_POPUP_DISABLED_TRANSPARENCY : 0;
    const int16_t stored_rows = data->row_count;
    if (data->tracking && data->is_metaserver_room_list)
    {
        data->row_count = grid_row_count(data);
        recompute_tracking_bounds(data);
    }
    const rectangle2d bounds = data->tracking ? data->tracking_bounds : data->idle_bounds;
    const int32_t elements = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    if (elements != NONE)
    {
        tile_and_bevel_rectangle(destination, elements, _dialog_elements_control_background_sequence, -1, &bounds,
                                 nullptr, nullptr, 0, _transparency_normal, background_tile_state_map);
        if (!data->tracking)
        {
            rectangle2d frame = bounds;
            draw_bitmap_from_sequence(destination, elements, _dialog_elements_popup_icon_sequence, -1, 0, &frame,
                                      nullptr, data->replacement_colors, transparency, _transparency_normal,
                                      _draw_bitmap_right_justified_flag | _draw_bitmap_respect_registration_point_flag,
                                      0);
        }
    }
    const int16_t places = data->tracking ? data->visible_icon_count : (data->visible_icon_count > 0 ? 1 : 0);
    for (int16_t place = 0; place < places; ++place)
    {
        const int16_t position = place_to_position(data, place);
        if (position < 0 || position >= data->visible_icon_count) continue;
        rectangle2d r = place_rectangle(data, place);
        const bool highlighted = place == data->highlighted_icon_place;
        if (highlighted)
        {
            if (data->highlight_sequence_index != NONE)
            {
                rectangle2d frame = r;
                draw_bitmap_from_sequence(destination, data->collection_index, data->highlight_sequence_index, -1, 0,
                                          &frame, nullptr, nullptr, 0, _transparency_normal,
                                          _draw_bitmap_right_justified_flag | _draw_bitmap_bottom_justified_flag, 0);
            }
            else
            {
                const rgb_color white = {0xFFFF, 0xFFFF, 0xFFFF, 0};
                fill_rectangle_clipped(destination, &white, &r, nullptr, 0, nullptr);
            }
        }
        const rectangle2d clip = r;
        if (data->draw_proc)
            data->draw_proc(destination, data->collection_index, data->icons_sequence_index,
                            data->visible_icon_indexes[position], &r, &clip, data->replacement_colors, transparency,
                            data->tracking, highlighted);
    }
    if (data->row_count != stored_rows)
    {
        data->row_count = stored_rows;
        recompute_tracking_bounds(data);
    }
}

intptr_t icon_popup_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        const param_control_new_verb *p = (const param_control_new_verb *)parameter;
        icon_popup_control_data *data = new_control_record<icon_popup_control_data>(ICON_POPUP_COOKIE);
        if (!data) return 0;
        data->draw_proc = default_icon_draw_proc;
        data->highlighted_icon_place = NONE;
        data->collection_index = data->icons_sequence_index = NONE;
        data->highlight_sequence_index = data->popup_arrow_sequence_index = NONE;
        if (p && p->definition) data->idle_bounds = p->definition->bounds;
        data->tracking_bounds = data->idle_bounds;
        return (intptr_t)data;
    }
    case _control_dispose_verb:
    {
        const param_control_dispose_verb *p = (const param_control_dispose_verb *)parameter;
        icon_popup_control_data *data = p ? (icon_popup_control_data *)p->data : nullptr;
        if (data)
        {
            free(data->visible_icon_indexes);
            free(data);
        }
        return 0;
    }
    case _control_click_verb: return click_icon_popup(dialog, item_id, (const param_control_click_verb *)parameter);
    case _control_draw_verb:
    {
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        const control_data *item = find_control(dialog, item_id);
        if (!item || !p || !p->dialog_bitmap) return 0;
        icon_popup_control_data *data = (icon_popup_control_data *)item->extra_data;
        if (data && data->cookie == ICON_POPUP_COOKIE) draw_icon_popup(item, data, p->dialog_bitmap);
        return 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

void default_icon_draw_proc(bitmap_data *destination, int16_t collection_index, int16_t sequence_index,
                            int16_t bitmap_index, rectangle2d *bounds, const rectangle2d *clip,
                            const rgb_color *replacement_colors, fixed_fraction transparency, bool, bool)
{
    if (collection_index == NONE || sequence_index == NONE) return;
    draw_bitmap_from_sequence(destination, collection_index, sequence_index, -1, bitmap_index, bounds, clip,
                              replacement_colors, transparency, _transparency_normal,
                              _draw_bitmap_respect_registration_point_flag, 0);
}

// Closes the grid (the item back to its idle bounds).
static void close_grid(dialog_data *dialog, int16_t item_id, icon_popup_control_data *data)
{
    data->highlighted_icon_place = NONE;
    if (data->tracking)
    {
        data->tracking = false;
        set_bounds(dialog, item_id, data->idle_bounds);
    }
}

void set_icon_popup_control_information(dialog_data *dialog, int16_t item_id, int16_t collection_index,
                                        int16_t icons_sequence_index, int16_t highlight_sequence_index,
                                        int16_t popup_arrow_sequence_index, int16_t original_icon_index,
                                        int16_t icon_separation)
{
    icon_popup_control_data *data = icon_popup_record(dialog, item_id);
    if (!data) return;
    const int32_t sequence_count = get_collection_sequence_count(collection_index);
    if (icons_sequence_index < 0 || icons_sequence_index >= sequence_count)
    {
        close_grid(dialog, item_id, data);
        data->initialized = false;
        return;
    }
    data->collection_index = collection_index;
    data->icons_sequence_index = icons_sequence_index;
    data->highlight_sequence_index =
        highlight_sequence_index >= 0 && highlight_sequence_index < sequence_count ? highlight_sequence_index
                                                                                     : (int16_t)NONE;
    data->popup_arrow_sequence_index = popup_arrow_sequence_index;
    data->dialog = dialog;
    data->dialog_item_index = item_id;
    data->highlighted_icon_place = NONE;
    data->icon_separation = icon_separation;

    const bitmap_data *size_bitmap = nullptr;
    if (data->highlight_sequence_index != NONE)
        size_bitmap = get_sequence_bitmap(collection_index, data->highlight_sequence_index, 0, 0, nullptr, nullptr);
    if (!size_bitmap) size_bitmap = get_sequence_bitmap(collection_index, icons_sequence_index, 0, 0, nullptr, nullptr);
    if (!size_bitmap)
    {
        close_grid(dialog, item_id, data);
        data->initialized = false;
        return;
    }
    data->icon_width = size_bitmap->width;
    data->icon_height = size_bitmap->height;
    const int32_t idle_width = data->idle_bounds.right - data->idle_bounds.left;
    const int32_t idle_height = data->idle_bounds.bottom - data->idle_bounds.top;
    if (data->icon_width + 2 * BORDER_WIDTH > idle_width || data->icon_height + 2 * BORDER_WIDTH > idle_height)
    {
        data->idle_bounds.right = (int16_t)(data->idle_bounds.left + data->icon_width + 2 * BORDER_WIDTH);
        data->idle_bounds.bottom = (int16_t)(data->idle_bounds.top + data->icon_height + 2 * BORDER_WIDTH);
    }

    int32_t count = count_sequence_bitmaps(collection_index, icons_sequence_index, _count_frames_per_view);
    if (count < 0) count = 0;
    if (count > 32767) count = 32767;
    int16_t *indexes = (int16_t *)malloc((size_t)(count > 0 ? count : 1) * sizeof(int16_t));
    if (!indexes)
    {
        close_grid(dialog, item_id, data);
        data->initialized = false;
        return;
    }
    for (int32_t i = 0; i < count; ++i) indexes[i] = (int16_t)i;
    free(data->visible_icon_indexes);
    data->visible_icon_indexes = indexes;
    data->icon_count = data->visible_icon_count = (int16_t)count;
    data->original_icon_visible_index = original_icon_index;
    clamp_value_position(data);

    int32_t columns = isqrt((uint32_t)count);
    if (columns < 1) columns = 1;
    if (columns > MAXIMUM_COLUMN_COUNT) columns = MAXIMUM_COLUMN_COUNT;
    data->column_count = (int16_t)columns;
    recompute_tracking_bounds(data);
    close_grid(dialog, item_id, data);
    set_bounds(dialog, item_id, data->idle_bounds);
    data->initialized = true;
    set_dialog_item_dirty(dialog, item_id);
}

void set_icon_popup_column_count(dialog_data *dialog, int16_t item_id, int16_t count)
{
    icon_popup_control_data *data = icon_popup_record(dialog, item_id);
    if (!data) return;
    data->column_count = count;
    recompute_tracking_bounds(data);
}

void set_icon_popup_row_count(dialog_data *dialog, int16_t item_id, int16_t count)
{
    icon_popup_control_data *data = icon_popup_record(dialog, item_id);
    if (!data) return;
    data->row_count = count;
    recompute_tracking_bounds(data);
}

void set_icon_popup_is_metaserver_room_list(dialog_data *dialog, int16_t item_id, bool is_room_list)
{
    icon_popup_control_data *data = icon_popup_record(dialog, item_id);
    if (!data) return;
    data->is_metaserver_room_list = is_room_list;
    recompute_tracking_bounds(data);
}

void set_icon_popup_replacement_colors(dialog_data *dialog, int16_t item_id, const rgb_color *colors, int16_t count)
{
    icon_popup_control_data *data = icon_popup_record(dialog, item_id);
    if (!data || !data->initialized || !colors || count <= 0) return;
    if (count > MAXIMUM_ICON_POPUP_REPLACEMENT_COLORS) count = MAXIMUM_ICON_POPUP_REPLACEMENT_COLORS;
    memcpy(data->replacement_colors, colors, (size_t)count * sizeof(rgb_color));
    set_dialog_item_dirty(dialog, item_id);
}

void set_icon_popup_icon_enabled_proc(dialog_data *dialog, int16_t item_id, icon_enabled_proc_ptr procedure)
{
    icon_popup_control_data *data = icon_popup_record(dialog, item_id);
    if (!data) return;
    data->enabled_proc = procedure;
    set_dialog_item_dirty(dialog, item_id);
}

void set_icon_popup_draw_proc(dialog_data *dialog, int16_t item_id, icon_draw_proc_ptr procedure)
{
    icon_popup_control_data *data = icon_popup_record(dialog, item_id);
    if (!data) return;
    data->draw_proc = procedure ? procedure : default_icon_draw_proc;
    set_dialog_item_dirty(dialog, item_id);
}

void set_icon_popup_value(dialog_data *dialog, int16_t item_id, int16_t value)
{
    icon_popup_control_data *data = icon_popup_record(dialog, item_id);
    if (!data) return;
    for (int16_t position = 0; position < data->visible_icon_count; ++position)
        if (data->visible_icon_indexes[position] == value)
        {
            data->original_icon_visible_index = position;
            break;
        }
    set_dialog_item_dirty(dialog, item_id);
}

int16_t get_icon_popup_value(const dialog_data *dialog, int16_t item_id)
{
    const icon_popup_control_data *data = icon_popup_record(dialog, item_id);
    return data ? current_value(data) : (int16_t)NONE;
}

int16_t get_icon_popup_maximum_count(const dialog_data *dialog, int16_t item_id)
{
    const icon_popup_control_data *data = icon_popup_record(dialog, item_id);
    return data ? data->icon_count : 0;
}

void set_icon_popup_bitmaps_disabled_state(dialog_data *dialog, int16_t item_id, int16_t bitmap_index, bool enabled)
{
    icon_popup_control_data *data = icon_popup_record(dialog, item_id);
    if (!data) return;
    if (!VASSERT(data->visible_icon_indexes, "the icon popup has no icons yet")) return;
    if (!VASSERT(bitmap_index >= 0 && bitmap_index < data->icon_count, "icon index out of range")) return;
    const int16_t value = current_value(data);
    int16_t position = 0;
    while (position < data->visible_icon_count && data->visible_icon_indexes[position] < bitmap_index) ++position;
    const bool present = position < data->visible_icon_count && data->visible_icon_indexes[position] == bitmap_index;
    if (!enabled && present)
    {
        memmove(data->visible_icon_indexes + position, data->visible_icon_indexes + position + 1,
                (size_t)(data->visible_icon_count - position - 1) * sizeof(int16_t));
        --data->visible_icon_count;
    }
    else if (enabled && !present)
    {
        // The list was allocated for every icon, so there is room.
        memmove(data->visible_icon_indexes + position + 1, data->visible_icon_indexes + position,
                (size_t)(data->visible_icon_count - position) * sizeof(int16_t));
        data->visible_icon_indexes[position] = bitmap_index;
        ++data->visible_icon_count;
    }
    recompute_tracking_bounds(data);
    for (int16_t p = 0; p < data->visible_icon_count; ++p)
        if (data->visible_icon_indexes[p] == value)
        {
            data->original_icon_visible_index = p;
            break;
        }
    clamp_value_position(data);
    set_dialog_item_dirty(dialog, item_id);
}
