// Lists of plug-ins.

#include "bitmap_dialogs/plugin_list_control.h"

#include <cctype>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_file_formats.h"
#include "vesk/string_lists.h"

static const char base_game_name[] = "Vesk II: Duskenwarder";
static const char search_placeholder[] = "(search)";

static bool is_plugin_list(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, plugin_list_control_def_proc);
    if (!VASSERT(item != nullptr, "no plug-in list item")) return false;
    return VASSERT(item->handler == plugin_list_control_def_proc && get_list_control_private_list(dialog, item_id),
                   "not a plug-in list");
}

static bool read_plugin_row(const dialog_data *dialog, int16_t item_id, int16_t row, plugin_list_data *data)
{
    int16_t size = (int16_t)sizeof(plugin_list_data);
    bitmap_get_listbox_row_data(dialog, item_id, row, data, &size);
    data->name[sizeof(data->name) - 1] = 0;
    return size == (int16_t)sizeof(plugin_list_data);
}

static bool name_contains(const char *name, const char *text)
{
    const size_t n = strlen(text);
    if (n == 0) return true;
    for (const char *p = name; *p; ++p)
    {
        size_t i = 0;
        while (i < n && p[i] && tolower((unsigned char)p[i]) == tolower((unsigned char)text[i])) ++i;
        if (i == n) return true;
    }
    return false;
}

static const plugin_list_data *row_of(const void *data, int16_t length)
{
    return length == (int16_t)sizeof(plugin_list_data) ? (const plugin_list_data *)data : nullptr;
}

// Names compared without regard to case, each bounded to its 32 bytes.
static int32_t compare_names(const plugin_list_data *a, const plugin_list_data *b)
{
    char x[PLUGIN_LIST_NAME_SIZE], y[PLUGIN_LIST_NAME_SIZE];
    strlcpy_field(x, sizeof(x), a->name, sizeof(a->name));
    strlcpy_field(y, sizeof(y), b->name, sizeof(b->name));
    return csstrcmp(x, y);
}

int32_t plugin_list_sort_by_name(const void *a, int16_t length_a, const void *b, int16_t length_b)
{
    const plugin_list_data *x = row_of(a, length_a), *y = row_of(b, length_b);
    if (!x || !y) return 0;
    const bool x_base = x->entry_points == BASE_GAME_ENTRY_POINTS, y_base = y->entry_points == BASE_GAME_ENTRY_POINTS;
    if (x_base != y_base) return x_base ? -1 : 1;
    return compare_names(x, y);
}

int32_t plugin_list_sort_by_entrypoint_count(const void *a, int16_t length_a, const void *b, int16_t length_b)
{
    const plugin_list_data *x = row_of(a, length_a), *y = row_of(b, length_b);
    if (!x || !y) return 0;
    if (x->entry_points != y->entry_points) return x->entry_points > y->entry_points ? -1 : 1;
    return compare_names(x, y);
}

bool plugin_list_match_proc(const void *data, int16_t length, const char *typed_text)
{
    const plugin_list_data *row = row_of(data, length);
    if (!row || !typed_text) return false;
    char name[PLUGIN_LIST_NAME_SIZE];
    strlcpy_field(name, sizeof(name), row->name, sizeof(row->name));
    return string_starts_with_fuzzy(name, typed_text);
}

void plugin_list_draw_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                           const void *data, int16_t length, int16_t font_id, uint16_t flags)
{
    const plugin_list_data *row = row_of(data, length);
    if (!destination || !row_bounds || !row) return;
    rgb_color color;
    const bool selected = (flags & _row_selected_flag) != 0;
    const bool enabled = (flags & _row_enabled_flag) != 0;
    if (selected)
    {
        get_dialog_color(&color, _dialog_list_highlight_color);
        fill_rectangle_clipped(destination, &color, row_bounds, clip, 16384, nullptr);
    }
    get_dialog_color(&color, selected && enabled ? _dialog_list_highlighted_text_color
                             : enabled           ? _dialog_list_enabled_text_color
                                                 : _dialog_list_disabled_text_color);
    char name[PLUGIN_LIST_NAME_SIZE];
    strlcpy_field(name, sizeof(name), row->name, sizeof(row->name));
    draw_string(destination, nullptr, row_bounds, clip, font_id, -1, &color, name,
                selected ? 0 : _draw_string_shadow_flag, 0);
}

intptr_t plugin_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    if (verb == _control_new_verb && parameter)
    {
        const param_control_new_verb *p = (const param_control_new_verb *)parameter;
        if (!p->definition) return 0;
        file_control_data definition = *p->definition;
        definition.flags |= _list_cant_lose_selection_flag;
        param_control_new_verb changed = {&definition, p->text};
        return list_control_def_proc(verb, dialog, item_id, &changed);
    }
    if (verb == _control_new_completion_verb)
    {
        bitmap_set_list_draw_proc(dialog, item_id, plugin_list_draw_proc);
        bitmap_set_list_sort_proc(dialog, item_id, plugin_list_sort_by_name);
        bitmap_set_list_match_proc(dialog, item_id, plugin_list_match_proc);
        bitmap_set_list_flag(dialog, item_id,
                             _list_has_shaded_background_flag | _list_scrollbars_have_background_flag, true);
    }
    return list_control_def_proc(verb, dialog, item_id, parameter);
}

bool add_plugin_to_list(dialog_data *dialog, int16_t item_id, int16_t plugin_index, bool selected, bool solo)
{
    if (!is_plugin_list(dialog, item_id)) return false;
    plugin_list_data row;
    memset(&row, 0, sizeof(row));
    row.plugin_index = plugin_index;
    if (plugin_index == BASE_GAME_PLUGIN_INDEX)
    {
        row.entry_points = BASE_GAME_ENTRY_POINTS;
        strlcpy(row.name, translate_string(base_game_name), sizeof(row.name));
    }
    else
    {
        const plugin_datum *plugin = get_plugin_data(plugin_index);
        if (!plugin || plugin->type != _tag_file_type_plugin) return false;
        strlcpy(row.name, plugin->name, sizeof(row.name));
        const uint16_t count = solo ? plugin->solo_entry_point_count : plugin->multiplayer_entry_point_count;
        // Kept below the base game's mark so that no plug-in sorts as the base game.
        row.entry_points = (int16_t)(count < BASE_GAME_ENTRY_POINTS ? count : BASE_GAME_ENTRY_POINTS - 1);
    }
    const int16_t index = bitmap_add_data_to_list(dialog, item_id, &row, (int16_t)sizeof(row), 0, true);
    if (index != NONE && selected) bitmap_select_list_item(dialog, item_id, index);
    return index != NONE;
}

bool remove_plugin_from_list(dialog_data *dialog, int16_t item_id, int16_t plugin_index)
{
    if (!is_plugin_list(dialog, item_id)) return false;
    const int16_t count = bitmap_get_listbox_row_count(dialog, item_id);
    plugin_list_data row;
    for (int16_t i = 0; i < count; ++i)
    {
        if (!read_plugin_row(dialog, item_id, i, &row) || row.plugin_index != plugin_index) continue;
        bitmap_delete_listbox_row(dialog, item_id, i);
        return true;
    }
    return false;
}

bool get_plugin_list_selected_plugin_index(const dialog_data *dialog, int16_t item_id, int16_t *plugin_index)
{
    if (!is_plugin_list(dialog, item_id)) return false;
    const int16_t selected = bitmap_get_listbox_value(dialog, item_id);
    plugin_list_data row;
    if (selected == NONE || !read_plugin_row(dialog, item_id, selected, &row)) return false;
    if (plugin_index) *plugin_index = row.plugin_index;
    return true;
}

static bool plugin_has_maps(const plugin_datum *plugin)
{
    return plugin->solo_entry_point_count != 0 || plugin->multiplayer_entry_point_count != 0;
}

void initialize_plugin_list_control(dialog_data *dialog, int16_t item_id, const void *plugins, int32_t plugin_count,
                                    bool decode, uint32_t chosen_mapset_checksum, int16_t type)
{
    if (!is_plugin_list(dialog, item_id)) return;
    bitmap_empty_list(dialog, item_id);
    bitmap_set_list_maximum_row_count(dialog, item_id, MAXIMUM_PLUGIN_LIST_ROWS);

    int16_t given[MAXIMUM_PLUGINS];
    int32_t given_count = 0;
    if (decode)
    {
        int16_t decoded[MAXIMUM_PLUGINS_PER_GAME];
        int32_t decoded_count = 0;
        // A list naming plug-ins this machine lacks still gives the installed ones.
        const bool all_installed =
            plugins && tag_file_plugins_decode(decoded, &decoded_count, plugins, nullptr, nullptr, 0);
        for (int32_t i = 0; i < decoded_count && i < MAXIMUM_PLUGINS_PER_GAME; ++i) given[given_count++] = decoded[i];
        if (plugins && !all_installed && decoded_count == 0)
            log_message(__FILE__, __LINE__, "plug-in list: no installed plug-in in the encoded list");
    }
    else if (plugins)
    {
        const int16_t *indexes = (const int16_t *)plugins;
        for (int32_t i = 0; i < plugin_count && given_count < MAXIMUM_PLUGINS; ++i) given[given_count++] = indexes[i];
    }

    const int32_t installed = tag_file_get_plugin_count();
    switch (type)
    {
    case _active_plugin_list_control:
        for (int32_t i = 0; i < given_count; ++i)
        {
            const plugin_datum *plugin = get_plugin_data(given[i]);
            if (plugin && !plugin_has_maps(plugin)) add_plugin_to_list(dialog, item_id, given[i], false, false);
        }
        break;
    case _inactive_plugin_list_control:
        for (int32_t index = 0; index < installed; ++index)
        {
            const plugin_datum *plugin = get_plugin_data(index);
            if (!plugin || plugin_has_maps(plugin)) continue;
            bool is_given = false;
            for (int32_t i = 0; i < given_count && !is_given; ++i) is_given = given[i] == index;
            if (!is_given) add_plugin_to_list(dialog, item_id, (int16_t)index, false, false);
        }
        break;
    case _solo_plugin_list_control:
    case _multi_plugin_list_control:
    {
        const bool solo = type == _solo_plugin_list_control;
        bitmap_set_list_sort_proc(dialog, item_id, plugin_list_sort_by_entrypoint_count);
        bool matched = false;
        for (int32_t index = 0; index < installed; ++index)
        {
            const plugin_datum *plugin = get_plugin_data(index);
            if (!plugin) continue;
            if ((solo ? plugin->solo_entry_point_count : plugin->multiplayer_entry_point_count) == 0) continue;
            const bool chosen = plugin->checksum == chosen_mapset_checksum;
            if (add_plugin_to_list(dialog, item_id, (int16_t)index, chosen, solo) && chosen) matched = true;
        }
        add_plugin_to_list(dialog, item_id, BASE_GAME_PLUGIN_INDEX, !matched, solo);
        bitmap_focus_on_list_item(dialog, item_id, NONE);
        break;
    }
    default: VASSERT(false, "unknown plug-in list kind"); break;
    }
}

int32_t get_encoded_plugin_data_from_list(const dialog_data *dialog, int16_t item_id, void *plugin_data)
{
    if (!plugin_data) return NONE;
    if (!is_plugin_list(dialog, item_id))
    {
        memset(plugin_data, 0, ENCODED_PLUGIN_LIST_SIZE);
        return NONE;
    }
    int16_t indexes[MAXIMUM_PLUGIN_LIST_ROWS];
    int32_t count = 0;
    const int16_t rows = bitmap_get_listbox_row_count(dialog, item_id);
    plugin_list_data row;
    for (int16_t i = 0; i < rows && count < MAXIMUM_PLUGIN_LIST_ROWS; ++i)
    {
        // The base game is no plug-in: a list names only plug-ins.
        if (read_plugin_row(dialog, item_id, i, &row) && row.plugin_index != BASE_GAME_PLUGIN_INDEX)
            indexes[count++] = row.plugin_index;
    }
    const int32_t used = tag_file_plugins_encode(indexes, count, plugin_data);
    return used < 0 ? NONE : count;
}

void set_plugin_list_sort_method(dialog_data *dialog, int16_t item_id, bool alphabetical)
{
    if (!is_plugin_list(dialog, item_id)) return;
    bitmap_set_list_sort_proc(dialog, item_id,
                              alphabetical ? plugin_list_sort_by_name : plugin_list_sort_by_entrypoint_count);
    bitmap_sort_list(dialog, item_id);
    if (bitmap_get_listbox_value(dialog, item_id) != NONE) bitmap_focus_on_list_item(dialog, item_id, NONE);
}

void set_plugin_list_filter_control(dialog_data *dialog, int16_t item_id, int16_t filter_item)
{
    if (!is_plugin_list(dialog, item_id)) return;
    set_bitmap_dialog_edit_item_text(dialog, filter_item, translate_string(search_placeholder));
    set_edit_text_key_listener(dialog, filter_item, filter_key_listener, (void *)(intptr_t)item_id);
}

void set_plugin_list_filter_text(dialog_data *dialog, int16_t item_id, const char *text)
{
    if (!is_plugin_list(dialog, item_id)) return;
    const int16_t rows = bitmap_get_listbox_row_count(dialog, item_id);
    plugin_list_data row;
    for (int16_t i = 0; i < rows; ++i)
    {
        if (!read_plugin_row(dialog, item_id, i, &row)) continue;
        const bool visible = name_contains(row.name, text ? text : "");
        if (visible != bitmap_list_item_visible(dialog, item_id, i)) bitmap_set_row_visible(dialog, item_id, i, visible);
    }
}

void refilter_plugin_list_now(dialog_data *dialog, int16_t item_id, int16_t filter_item)
{
    if (!is_plugin_list(dialog, item_id)) return;
    char text[PLUGIN_FILTER_TEXT_SIZE];
    text[0] = 0;
    get_bitmap_dialog_edit_item_text(dialog, filter_item, text, (int32_t)sizeof(text));
    if (strcmp(text, translate_string(search_placeholder)) == 0) return;
    set_plugin_list_filter_text(dialog, item_id, text);
}

void filter_key_listener(dialog_data *dialog, int16_t item_id, action_data *action, void *context)
{
    (void)action;
    refilter_plugin_list_now(dialog, (int16_t)(intptr_t)context, item_id);
}
