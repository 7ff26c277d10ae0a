// The unit status line of the status bar.

#include "bitmap_dialogs/monster_status_control.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "cseries/log.h"
#include "game_preferences.h"
#include "interface_definitions.h"
#include "shading_tables.h"
#include "shapes.h"

// The record of a status line item; NULL (logged) for a missing item or one of another type.
static status_control_data *unit_status_record(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, monster_status_control_handler);
    if (!item) return nullptr;
    if (!VASSERT(item->extra_data && item->handler == monster_status_control_handler, "not a unit status line"))
        return nullptr;
    return (status_control_data *)item->extra_data;
}

bool status_control_data_differ(const status_control_data *a, const status_control_data *b)
{
    return strncmp(a->name, b->name, sizeof(a->name)) != 0 || strncmp(a->type, b->type, sizeof(a->type)) != 0 ||
           a->show_full_vets != b->show_full_vets || a->experience != b->experience ||
           a->battles_survived != b->battles_survived || a->experience_allegiance != b->experience_allegiance ||
           a->ammunition_count != b->ammunition_count ||
           a->ammunition_collection_index != b->ammunition_collection_index ||
           a->ammunition_sequence_index != b->ammunition_sequence_index ||
           a->ammunition_shading_table_index != b->ammunition_shading_table_index ||
           a->item_collection_index != b->item_collection_index || a->item_sequence_index != b->item_sequence_index ||
           a->item_shading_table_index != b->item_shading_table_index || a->item_count != b->item_count ||
           a->random_seed != b->random_seed || a->collection_index != b->collection_index ||
           a->color.red != b->color.red || a->color.green != b->color.green || a->color.blue != b->color.blue ||
           a->color.flags != b->color.flags;
}

void format_status_control_count(char *buffer, int32_t size, int32_t count, bool percentage_when_negative)
{
    if (!buffer || size <= 0) return;
    if (count > 9999) snprintf(buffer, (size_t)size, "%dk", count / 1000);
    else if (count < 0 && percentage_when_negative) snprintf(buffer, (size_t)size, "%d%%", -count);
    else snprintf(buffer, (size_t)size, "%d", count);
}

// The bitmap `index` of a view, wrapped onto the view's frames (a seed may be
// any value); NULL when the sequence has none.
static bitmap_data *get_icon(int32_t collection_index, int32_t sequence_index, int32_t view, int32_t index)
{
    if (collection_index == NONE) return nullptr;
    const int32_t count = view == NONE ? count_sequence_bitmaps(collection_index, sequence_index, _count_views_times_frames)
                                       : count_sequence_bitmaps(collection_index, sequence_index, _count_frames_per_view);
    if (count <= 0) return nullptr;
    int32_t frame = index % count;
    if (frame < 0) frame += count;
    return get_sequence_bitmap(collection_index, sequence_index, view, frame, nullptr, nullptr);
}

// Copies the icon with its right edge at `right` and its top at `top`, through
// its collection's colours.
static void draw_icon(bitmap_data *destination, const rectangle2d *clip, int32_t collection_index,
                      const bitmap_data *icon, int32_t right, int32_t top)
{
    const void *table = temporary_shading_table(collection_index, nullptr, 0, true);
    if (!table) return;
    const point2d point = {(int16_t)(right - icon->width), (int16_t)top};
    copy_bitmap(destination, &point, icon, clip, table, 0, get_transparency_table(0));
}

static void draw_text(bitmap_data *destination, const rectangle2d *clip, int32_t font_index, int16_t style,
                      const rgb_color *color, const char *text, int32_t left, int32_t right, const rectangle2d *bounds)
{
    if (right <= left) return;
    const rectangle2d field = {bounds->top, (int16_t)left, bounds->bottom, (int16_t)right};
    draw_string(destination, nullptr, &field, clip, font_index, style, color, text, _draw_string_shadow_flag, 0);
}

// A count field and its icon, leftwards from *x.
static void draw_count_and_icon(bitmap_data *destination, const rectangle2d *bounds, int32_t font_index,
                                const rgb_color *color, const char *count, int32_t collection_index,
                                int32_t sequence_index, int32_t random_seed, int32_t *x)
{
    if (count)
    {
        draw_text(destination, bounds, font_index, NONE, color, count, *x - AMMUNITION_COUNT_WIDTH, *x, bounds);
        *x -= AMMUNITION_COUNT_WIDTH;
    }
    const bitmap_data *icon = get_icon(collection_index, sequence_index, NONE, random_seed);
    if (icon)
    {
        draw_icon(destination, bounds, collection_index, icon, *x, bounds->top);
        *x -= icon->width;
    }
    *x -= AMMUNITION_AND_EXPERIENCE_SEPARATION;
}

// One row of experience icons (or a number and one icon when they do not fit).
static void draw_experience_row(bitmap_data *destination, const rectangle2d *bounds, int32_t font_index,
                                const status_control_data *data, int32_t count, int32_t view, int32_t text_end,
                                int32_t *x)
{
    if (count <= 0) return;
    const int32_t collection = data->collection_index;
    const bitmap_data *first = get_icon(collection, EXPERIENCE_ICON_SEQUENCE, view, data->random_seed);
    if (!first) return;
    int32_t room = (*x - 10 - bounds->left - text_end) / (first->width + EXPERIENCE_ICON_SEPARATION);
    if (!data->show_full_vets && room > MAXIMUM_EXPERIENCE_ICONS) room = MAXIMUM_EXPERIENCE_ICONS;
    if (count > room)
    {
        char text[16];
        if (count >= EXPERIENCE_COUNT_CAP) snprintf(text, sizeof(text), "%d+", (int)EXPERIENCE_COUNT_CAP);
        else snprintf(text, sizeof(text), "%d", (int)count);
        const int32_t width = string_width(font_index, NONE, text);
        const int32_t left = *x - 5 - width;
        draw_text(destination, bounds, font_index, NONE, &data->color, text, left, *x - 5 + 1, bounds);
        *x = left;
        draw_icon(destination, bounds, collection, first, *x, bounds->top);
        *x -= first->width + EXPERIENCE_ICON_SEPARATION;
        return;
    }
    for (int32_t k = 0; k < count && *x > bounds->left + text_end + 9; ++k)
    {
        const bitmap_data *icon = get_icon(collection, EXPERIENCE_ICON_SEQUENCE, view, data->random_seed + k);
        if (!icon) break;
        draw_icon(destination, bounds, collection, icon, *x, bounds->top);
        *x -= icon->width + EXPERIENCE_ICON_SEPARATION;
    }
}

static void draw_status_line(bitmap_data *destination, const rectangle2d *bounds, const status_control_data *data)
{
    const int32_t font_index = get_interface_font_index(0);
    point2d origin = {0, 0};
    if (data->name[0])
    {
        draw_string(destination, &origin, bounds, bounds, font_index, _font_style_bold, &data->color, data->name,
                    _draw_string_shadow_flag, 0);
        origin.x += SPACE_BETWEEN_NAME_AND_TYPE;
        origin.y = 0;
    }
    if (data->type[0])
    {
        draw_string(destination, &origin, bounds, bounds, font_index, _font_style_italic, &data->color, data->type,
                    _draw_string_shadow_flag, 0);
    }
    const int32_t text_end = origin.x;

    int32_t x = bounds->right;
    char count[16];
    if (data->ammunition_collection_index != NONE)
    {
        format_status_control_count(count, sizeof(count), data->ammunition_count, false);
        draw_count_and_icon(destination, bounds, font_index, &data->color, count, data->ammunition_collection_index,
                            data->ammunition_sequence_index, data->random_seed, &x);
    }
    if (data->item_collection_index != NONE)
    {
        format_status_control_count(count, sizeof(count), data->item_count, true);
        draw_count_and_icon(destination, bounds, font_index, &data->color, data->item_count ? count : nullptr,
                            data->item_collection_index, data->item_sequence_index, data->random_seed, &x);
    }
    if (data->experience_allegiance != NONE && data->collection_index != NONE &&
        count_sequence_bitmaps(data->collection_index, EXPERIENCE_ICON_SEQUENCE, _count_views_times_frames) > 0)
    {
        draw_experience_row(destination, bounds, font_index, data, data->battles_survived,
                            3 - data->experience_allegiance, text_end, &x);
        x -= BATTLES_SURVIVED_AND_EXPERIENCE_SEPARATION;
        draw_experience_row(destination, bounds, font_index, data, data->experience, data->experience_allegiance,
                            text_end, &x);
    }
}

intptr_t monster_status_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        status_control_data *data = (status_control_data *)calloc(1, sizeof(status_control_data));
        if (!data) return 0;
        data->experience_allegiance = NONE;
        data->ammunition_collection_index = NONE;
        data->item_collection_index = NONE;
        data->collection_index = NONE;
        data->color = rgb_color{0xFFFF, 0xFFFF, 0xFFFF, 0};
        data->show_full_vets = (get_game_preferences()->flags & _game_pref_show_full_vets_flag) != 0;
        return (intptr_t)data;
    }
    case _control_click_verb:
    {
        const param_control_click_verb *p = (const param_control_click_verb *)parameter;
        status_control_data *data = unit_status_record(dialog, item_id);
        if (!data || !p || !p->action || !test_action_flag(p->action, _double_left_mouse_down_bit)) return 0;
        data->show_full_vets = !data->show_full_vets;
        set_dialog_item_dirty(dialog, item_id);
        game_preferences *preferences = get_game_preferences();
        if (data->show_full_vets) preferences->flags |= _game_pref_show_full_vets_flag;
        else preferences->flags &= ~(uint32_t)_game_pref_show_full_vets_flag;
        return 0;
    }
    case _control_draw_verb:
    {
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        const control_data *item = find_control(dialog, item_id);
        if (!item || !p || !p->dialog_bitmap || !item->extra_data) return 0;
        draw_status_line(p->dialog_bitmap, &item->bounds, (const status_control_data *)item->extra_data);
        return 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

bool set_status_control_data(dialog_data *dialog, int16_t item_id, const status_control_data *updated)
{
    status_control_data *data = unit_status_record(dialog, item_id);
    if (!data || !VASSERT(updated, "no status line record")) return false;
    status_control_data copy = *updated;
    copy.name[sizeof(copy.name) - 1] = 0;
    copy.type[sizeof(copy.type) - 1] = 0;
    if (!status_control_data_differ(data, &copy)) return false;
    *data = copy;
    set_dialog_item_dirty(dialog, item_id);
    return true;
}

bool get_status_control_data(const dialog_data *dialog, int16_t item_id, status_control_data *data)
{
    const status_control_data *stored = unit_status_record(dialog, item_id);
    if (!stored || !data) return false;
    *data = *stored;
    return true;
}
