// Lists of maps' entry points.

#include "bitmap_dialogs/entry_point_list_control.h"

#include <cstdio>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "game_preferences.h"
#include "input/keyboard.h"
#include "mesh_format.h"
#include "tag_files/plugins.h"
#include "vesk/string_lists.h"

// Levels 100..199, 200..299 ... 600..699 (red, green, blue).
static const rgb_color entry_point_colors[NUMBER_OF_ENTRY_POINT_COLORS] = {
    {17664, 38144, 58624, 0}, {44288, 3584, 58880, 0},  {54528, 16384, 25856, 0},
    {16384, 54528, 20480, 0}, {49152, 54528, 16384, 0}, {54528, 34048, 16384, 0},
};

enum
{
    DISABLED_ENTRY_POINT_SCALE = 43690, // of 65536: two thirds
};

static bool is_entry_point_list(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, entry_point_list_control_def_proc);
    if (!item) return false;
    return VASSERT(item->handler == entry_point_list_control_def_proc &&
                       get_list_control_private_list(dialog, item_id),
                   "not a map list");
}

static bool is_entry_point_row(const void *data, int16_t length)
{
    return data && length == (int16_t)sizeof(ep_list_data) && ((const ep_list_data *)data)->ep;
}

// The row (-1: the first selected row); false when there is none.
static bool read_entry_point_row(const dialog_data *dialog, int16_t item_id, int16_t row, ep_list_data *data)
{
    if (!is_entry_point_list(dialog, item_id)) return false;
    if (row < 0) row = bitmap_get_listbox_value(dialog, item_id);
    if (row < 0) return false;
    int16_t size = (int16_t)sizeof(ep_list_data);
    bitmap_get_listbox_row_data(dialog, item_id, row, data, &size);
    return size == (int16_t)sizeof(ep_list_data) && data->ep;
}

int32_t entry_point_sort_proc(const void *a, int16_t length_a, const void *b, int16_t length_b)
{
    if (!is_entry_point_row(a, length_a) || !is_entry_point_row(b, length_b)) return 0;
    return (int32_t)((const ep_list_data *)a)->ep->level - (int32_t)((const ep_list_data *)b)->ep->level;
}

bool entry_point_match_proc(const void *data, int16_t length, const char *typed_text)
{
    if (!is_entry_point_row(data, length) || !typed_text) return false;
    const char *name = ((const ep_list_data *)data)->translated_printed_name;
    return name && string_starts_with_fuzzy(name, typed_text);
}

rgb_color *get_entry_point_row_color(rgb_color *color, const full_entry_point *entry, bool enabled)
{
    if (!(entry->mesh_flags & _mesh_is_complete_flag)) get_dialog_color(color, _dialog_list_warning_text_color);
    else if (entry->level >= 100 && entry->level <= 699) *color = entry_point_colors[entry->level / 100 - 1];
    else get_dialog_color(color, _dialog_list_enabled_text_color);
    if (!enabled)
    {
        color->red = (uint16_t)((uint32_t)color->red * DISABLED_ENTRY_POINT_SCALE / 65536);
        color->green = (uint16_t)((uint32_t)color->green * DISABLED_ENTRY_POINT_SCALE / 65536);
        color->blue = (uint16_t)((uint32_t)color->blue * DISABLED_ENTRY_POINT_SCALE / 65536);
    }
    return color;
}

void entry_point_draw_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                           const void *data, int16_t length, int16_t font_id, uint16_t flags)
{
    if (!destination || !row_bounds || !is_entry_point_row(data, length)) return;
    const ep_list_data *row = (const ep_list_data *)data;
    rgb_color color;
    uint32_t draw_flags = 0;
    if (!draw_list_row_background(destination, row_bounds, clip, flags, &color))
    {
        get_entry_point_row_color(&color, row->ep, (flags & _row_enabled_flag) != 0);
        draw_flags = _draw_string_shadow_flag;
    }
    const char *name = row->translated_printed_name ? row->translated_printed_name : "";
    char text[MAXIMUM_ENTRY_POINT_NAME_SIZE];
    if (row->prefix_symbol != NONE) snprintf(text, sizeof(text), "%c %s", (char)row->prefix_symbol, name);
    else strlcpy(text, name, sizeof(text));
    draw_string(destination, nullptr, row_bounds, clip, font_id, -1, &color, text, draw_flags, 0);
}

intptr_t entry_point_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb: return new_list_keeping_its_selection(dialog, item_id, parameter);
    case _control_new_completion_verb:
        bitmap_set_list_draw_proc(dialog, item_id, entry_point_draw_proc);
        bitmap_set_list_sort_proc(dialog, item_id, entry_point_sort_proc);
        bitmap_set_list_match_proc(dialog, item_id, entry_point_match_proc);
        bitmap_set_list_flag(dialog, item_id, _list_has_shaded_background_flag | _list_scrollbars_have_background_flag,
                             true);
        return 0;
    default: return list_control_def_proc(verb, dialog, item_id, parameter);
    }
}

namespace {

// What populate_map_list_plugin_restricted decides about the entries.
struct map_list_rules
{
    uint32_t mask;
    tag current_map_tag;
    int16_t plugin_index;
    bool single_player;
    bool show_unfinished;
    bool show_training;
    bool unlock_all;

    bool is_open(const full_entry_point &e) const
    {
        return !single_player || e.subgroup_tag == current_map_tag || solo_level_visited(e.subgroup_tag, e.plugin_index);
    }

    bool is_listed(const full_entry_point &e) const
    {
        const bool open = is_open(e);
        bool qualifies = (e.mesh_flags & mask) != 0 && (show_unfinished || (e.mesh_flags & _mesh_is_complete_flag));
        if (!open && (e.mesh_flags & _mesh_is_single_player_entry_point_flag) &&
            (e.subgroup_tag == SECRET_MAP_MESH_TAG2 || e.subgroup_tag == SECRET_MAP_MESH_TAG1))
            qualifies = false;
        if ((e.mesh_flags & _mesh_is_training_map_flag) && !show_training) qualifies = false;
        return qualifies && e.plugin_index == plugin_index;
    }
};

} // namespace

void populate_map_list_plugin_restricted(dialog_data *dialog, int16_t item_id, uint32_t mesh_flag_mask,
                                         tag current_map_tag, int16_t plugin_index, bool network_game)
{
    if (!is_entry_point_list(dialog, item_id)) return;
    int32_t count = 0;
    full_entry_point *const *entries = nullptr;
    get_cached_entry_points(&count, &entries, nullptr);
    bitmap_empty_list(dialog, item_id);
    if (!entries) count = 0;

    map_list_rules rules;
    rules.mask = mesh_flag_mask;
    rules.current_map_tag = current_map_tag;
    rules.plugin_index = plugin_index;
    rules.single_player = (mesh_flag_mask & _mesh_is_single_player_entry_point_flag) != 0;
    rules.show_unfinished = key_down(KEY_TO_SHOW_ALL_UNFINISHED_MAPS);
    rules.show_training = rules.show_unfinished && !network_game;
    rules.unlock_all = rules.single_player ? rules.show_unfinished : true;

    // Pass 1, from the last cached entry to the first: the current entry and
    // the first (lowest-level, not training) entry.
    const full_entry_point *current = nullptr, *first = nullptr;
    for (int32_t i = count - 1; i >= 0; --i)
    {
        const full_entry_point *e = entries[i];
        if (!e || !rules.is_listed(*e)) continue;
        if (rules.is_open(*e) && e->subgroup_tag == current_map_tag) current = e;
        if (!(e->mesh_flags & _mesh_is_training_map_flag) && (!first || e->level < first->level)) first = e;
    }

    // Pass 2, in the same order: the rows.
    const full_entry_point *chosen = current ? current : first;
    bool added = false;
    for (int32_t i = count - 1; i >= 0; --i)
    {
        const full_entry_point *e = entries[i];
        if (!e || !rules.is_listed(*e)) continue;
        bool enabled;
        if (rules.is_open(*e) || (e->mesh_flags & _mesh_is_training_map_flag)) enabled = true;
        else if (first && e->level <= first->level) enabled = true;
        else if (e->level % 100 == 1 || e == current) enabled = true;
        else enabled = rules.unlock_all;
        ep_list_data row;
        memset(&row, 0, sizeof(row));
        row.ep = e;
        row.translated_printed_name = translate_string(e->printed_name);
        row.prefix_symbol = NONE;
        if (rules.single_player) row.prefix_symbol = enabled ? ENTRY_POINT_ENABLED_PREFIX : ENTRY_POINT_DISABLED_PREFIX;
        const int16_t index = bitmap_add_data_to_list(dialog, item_id, &row, (int16_t)sizeof(row), -1, enabled);
        if (index == NONE) continue;
        added = true;
        // Later rows may be sorted in before it: the selection flag moves with the row.
        if (e == chosen) bitmap_select_list_item(dialog, item_id, index);
    }

    if (!added) return;
    if (bitmap_get_listbox_value(dialog, item_id) == NONE) bitmap_select_list_item(dialog, item_id, 0);
    bitmap_focus_on_list_item(dialog, item_id, NONE);
}

int32_t get_entry_point_list_item_plugin_index(const dialog_data *dialog, int16_t item_id, int16_t row)
{
    ep_list_data data;
    return read_entry_point_row(dialog, item_id, row, &data) ? (int32_t)data.ep->plugin_index : (int32_t)NONE;
}

bool get_entry_point_list_item_data(const dialog_data *dialog, int16_t item_id, int16_t row,
                                    const full_entry_point **entry)
{
    ep_list_data data;
    const bool found = read_entry_point_row(dialog, item_id, row, &data);
    if (entry) *entry = found ? data.ep : nullptr;
    return found;
}

bool get_entry_point_list_item_name(const dialog_data *dialog, int16_t item_id, int16_t row, char *name, int32_t size)
{
    if (name && size > 0) name[0] = 0;
    ep_list_data data;
    if (!read_entry_point_row(dialog, item_id, row, &data)) return false;
    if (name && size > 0 && data.translated_printed_name)
        strlcpy(name, data.translated_printed_name, (size_t)size);
    return true;
}

int32_t get_entry_point_list_item_value(const dialog_data *dialog, int16_t item_id, int16_t row)
{
    ep_list_data data;
    return read_entry_point_row(dialog, item_id, row, &data) ? (int32_t)data.ep->subgroup_tag : NONE;
}

int32_t get_entry_point_list_item_mesh_flags(const dialog_data *dialog, int16_t item_id, int16_t row)
{
    ep_list_data data;
    return read_entry_point_row(dialog, item_id, row, &data) ? (int32_t)data.ep->mesh_flags : NONE;
}
