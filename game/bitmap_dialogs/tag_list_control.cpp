// Lists of tags of one group.

#include "bitmap_dialogs/tag_list_control.h"

#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "tag_files/tag_files.h"

static bool is_tag_list(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, tag_list_control_def_proc);
    if (!item) return false;
    return VASSERT(item->handler == tag_list_control_def_proc && get_list_control_private_list(dialog, item_id),
                   "not a tag list");
}

static bool is_tag_row(int16_t length) { return length == (int16_t)sizeof(tag_list_data); }

int32_t tag_sort_by_name_proc(const void *a, int16_t length_a, const void *b, int16_t length_b)
{
    if (!is_tag_row(length_a) || !is_tag_row(length_b)) return 0;
    return csstrcmp(tag_file_full_filename_get(((const tag_list_data *)a)->tag_index),
                    tag_file_full_filename_get(((const tag_list_data *)b)->tag_index));
}

int32_t tag_sort_by_date_proc(const void *a, int16_t length_a, const void *b, int16_t length_b)
{
    if (!is_tag_row(length_a) || !is_tag_row(length_b)) return 0;
    // Newest first.
    const int32_t time_a = ((const tag_list_data *)a)->last_modification_time;
    const int32_t time_b = ((const tag_list_data *)b)->last_modification_time;
    return (time_b > time_a) - (time_b < time_a);
}

bool tag_match_proc(const void *data, int16_t length, const char *typed_text)
{
    if (!is_tag_row(length) || !typed_text) return false;
    return string_starts_with_fuzzy(tag_file_full_filename_get(((const tag_list_data *)data)->tag_index), typed_text);
}

void tag_list_draw_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                        const void *data, int16_t length, int16_t font_id, uint16_t flags)
{
    if (!destination || !row_bounds || !data || !is_tag_row(length)) return;
    rgb_color color;
    draw_list_row_background(destination, row_bounds, clip, flags, &color);
    draw_string(destination, nullptr, row_bounds, clip, font_id, -1, &color,
                tag_file_full_filename_get(((const tag_list_data *)data)->tag_index), 0, 0);
}

intptr_t tag_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb: return new_list_keeping_its_selection(dialog, item_id, parameter);
    case _control_new_completion_verb:
        bitmap_set_list_draw_proc(dialog, item_id, tag_list_draw_proc);
        bitmap_set_list_sort_proc(dialog, item_id, tag_sort_by_name_proc);
        bitmap_set_list_match_proc(dialog, item_id, tag_match_proc);
        bitmap_set_list_flag(dialog, item_id,
                             _list_has_shaded_background_flag | _list_scrollbars_have_background_flag |
                                 _list_can_be_focused_flag,
                             true);
        return list_control_def_proc(verb, dialog, item_id, parameter);
    default: return list_control_def_proc(verb, dialog, item_id, parameter);
    }
}

void append_tags_to_tag_list(dialog_data *dialog, int16_t item_id, tag group, tag_list_filter_proc filter,
                             void *filter_context, bool enabled)
{
    if (!is_tag_list(dialog, item_id)) return;
    tag_file_info description;
    tag_file_info_new(&description);
    description.group_tag = group;
    const int32_t count = tag_file_enumerate(&description, nullptr, -1);
    if (count > 0)
    {
        int32_t *indexes = (int32_t *)malloc((size_t)count * sizeof(int32_t));
        if (!indexes) return;
        const int32_t found = tag_file_enumerate(&description, indexes, count);
        for (int32_t i = 0; i < found && i < count; ++i)
        {
            if (filter && !filter(indexes[i], filter_context)) continue;
            const int32_t date = get_tag_modification_date(indexes[i], nullptr);
            const tag_list_data row = {indexes[i], date == -1 ? 0 : date};
            bitmap_add_data_to_list(dialog, item_id, &row, (int16_t)sizeof(row), -1, enabled);
        }
        free(indexes);
    }
    if (bitmap_get_listbox_row_count(dialog, item_id) > 0) bitmap_select_list_item(dialog, item_id, 0);
}

void set_tag_list_sort_order(dialog_data *dialog, int16_t item_id, int32_t order)
{
    if (!is_tag_list(dialog, item_id)) return;
    bitmap_set_list_sort_proc(dialog, item_id,
                              order == TAG_LIST_SORT_BY_DATE ? tag_sort_by_date_proc : tag_sort_by_name_proc);
}

int32_t get_tag_list_selected_header(const dialog_data *dialog, int16_t item_id)
{
    if (!is_tag_list(dialog, item_id)) return NONE;
    const int16_t row = bitmap_get_listbox_value(dialog, item_id);
    if (row == NONE) return NONE;
    tag_list_data data;
    int16_t size = (int16_t)sizeof(data);
    bitmap_get_listbox_row_data(dialog, item_id, row, &data, &size);
    return size == (int16_t)sizeof(data) ? data.tag_index : NONE;
}
