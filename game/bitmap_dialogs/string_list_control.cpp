// Lists of strings with identifiers and enable masks.

#include "bitmap_dialogs/string_list_control.h"

#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "vesk/string_lists.h"

// Whether the item is a string list (logged when it is not).
static bool is_string_list(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, string_list_control_def_proc);
    if (!item) return false;
    return VASSERT(item->handler == string_list_control_def_proc && get_list_control_private_list(dialog, item_id),
                   "not a string list");
}

// Copies at most `size` - 1 bytes of `text` into `buffer`, cutting only
// between characters, and terminates it.
static void copy_whole_characters(char *buffer, int32_t size, const char *text)
{
    if (size <= 0) return;
    const int32_t length = (int32_t)strlen(text);
    int32_t end = 0;
    if (length < size) end = length;
    else
    {
        int32_t index = 0;
        while (index < length)
        {
            int32_t next = index;
            get_next_character(text, &next);
            if (next > size - 1) break;
            index = next;
        }
        end = index;
    }
    memcpy(buffer, text, (size_t)end);
    buffer[end] = 0;
}

// Row `row`'s bytes; false (the record zeroed) when the row is missing or not
// a string-list row.
static bool read_string_row(const dialog_data *dialog, int16_t item_id, int16_t row, string_list_data *data)
{
    int16_t size = (int16_t)sizeof(string_list_data);
    bitmap_get_listbox_row_data(dialog, item_id, row, data, &size);
    data->string[STRING_LIST_TEXT_SIZE - 1] = 0;
    return size == (int16_t)sizeof(string_list_data);
}

// The first row with the identifier (and, with `enabled_only`, enabled), -1 when none.
static int16_t find_identifier(const dialog_data *dialog, int16_t item_id, int32_t identifier, bool enabled_only)
{
    const int16_t count = bitmap_get_listbox_row_count(dialog, item_id);
    string_list_data data;
    for (int16_t row = 0; row < count; ++row)
    {
        if (!read_string_row(dialog, item_id, row, &data) || data.identifier != identifier) continue;
        if (enabled_only && !bitmap_list_item_enabled(dialog, item_id, row)) continue;
        return row;
    }
    return NONE;
}

int32_t string_list_sort_proc(const void *a, int16_t length_a, const void *b, int16_t length_b)
{
    if (length_a != (int16_t)sizeof(string_list_data) || length_b != (int16_t)sizeof(string_list_data)) return 0;
    return csstrcmp(((const string_list_data *)a)->string, ((const string_list_data *)b)->string);
}

bool string_list_sort_key_proc(const void *data, int16_t length, list_sort_key *key)
{
    if (length != (int16_t)sizeof(string_list_data) || !key) return false;
    // The first sixteen bytes lowered as the sort procedure lowers them, first
    // byte highest, zeros from the terminator on: where two keys differ, the
    // first differing byte is where the texts first differ, so the keys order
    // them as the comparison does.
    const unsigned char *text = (const unsigned char *)((const string_list_data *)data)->string;
    unsigned char bytes[16] = {0};
    for (int32_t i = 0; i < 16 && text[i]; ++i)
        bytes[i] = (text[i] >= 'A' && text[i] <= 'Z') ? (unsigned char)(text[i] + ('a' - 'A')) : text[i];
    uint64_t high = 0, low = 0;
    for (int32_t i = 0; i < 8; ++i)
    {
        high = (high << 8) | bytes[i];
        low = (low << 8) | bytes[i + 8];
    }
    *key = list_sort_key{high, low};
    return true;
}

bool string_list_match_proc(const void *data, int16_t length, const char *typed_text)
{
    if (length != (int16_t)sizeof(string_list_data) || !typed_text) return false;
    return string_starts_with_fuzzy(((const string_list_data *)data)->string, typed_text);
}

void string_list_draw_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                           const void *data, int16_t length, int16_t font_id, uint16_t flags)
{
    if (!destination || !row_bounds || !data || length != (int16_t)sizeof(string_list_data)) return;
    const string_list_data *row = (const string_list_data *)data;
    rgb_color color;
    uint32_t draw_flags =
        draw_list_row_background(destination, row_bounds, clip, flags, &color) ? 0 : _draw_string_shadow_flag;
    if (flags & _row_variable_sized_flag) draw_flags = _draw_string_wrap_flag;
    // The stored text is terminated inside the row; the copy makes sure of it.
    char text[STRING_LIST_TEXT_SIZE];
    copy_whole_characters(text, (int32_t)sizeof(text), row->string);
    draw_string(destination, nullptr, row_bounds, clip, font_id, -1, &color, text, draw_flags, 0);
}

// The text order with its keys, or no order.
static void use_string_list_order(dialog_data *dialog, int16_t item_id, bool sorted)
{
    bitmap_set_list_sort_proc(dialog, item_id, sorted ? string_list_sort_proc : nullptr);
    private_list_data *list = get_list_control_private_list(dialog, item_id);
    if (list) set_list_sort_key_proc(list, sorted ? string_list_sort_key_proc : nullptr);
}

intptr_t string_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    if (verb == _control_new_completion_verb)
    {
        bitmap_set_list_draw_proc(dialog, item_id, string_list_draw_proc);
        use_string_list_order(dialog, item_id, true);
        bitmap_set_list_match_proc(dialog, item_id, string_list_match_proc);
        const int16_t font_id = bitmap_get_list_font_id(dialog, item_id);
        const int16_t line_height = font_id == NONE ? 0 : get_font_line_height(font_id);
        if (line_height > 0) bitmap_set_list_line_height(dialog, item_id, line_height);
        bitmap_set_list_flag(dialog, item_id,
                             _list_has_shaded_background_flag | _list_scrollbars_have_background_flag |
                                 _list_cant_lose_selection_flag,
                             true);
    }
    return list_control_def_proc(verb, dialog, item_id, parameter);
}

int16_t add_string_to_list(dialog_data *dialog, int16_t item_id, const char *text, int32_t identifier, bool enabled)
{
    if (!is_string_list(dialog, item_id)) return NONE;
    string_list_data data;
    memset(&data, 0, sizeof(data));
    data.identifier = identifier;
    copy_whole_characters(data.string, (int32_t)sizeof(data.string), text ? text : "");
    int32_t height = 0;
    const int16_t font_id = bitmap_get_list_font_id(dialog, item_id);
    const int32_t width = bitmap_get_list_line_width(dialog, item_id) - STRING_LIST_WRAP_INSET;
    if (font_id != NONE && width > 0) get_string_height(data.string, font_id, -1, width, &height);
    if (height > INT16_MAX) height = INT16_MAX;
    return bitmap_add_data_to_list(dialog, item_id, &data, (int16_t)sizeof(data), (int16_t)height, enabled);
}

void append_strings_to_list_with_mask(dialog_data *dialog, int16_t item_id, tag string_list, uint32_t mask, bool all)
{
    if (!is_string_list(dialog, item_id)) return;
    const int32_t list_index = string_list_tag_to_string_index(string_list);
    if (list_index == NONE) return;
    const int32_t count = count_strings_in_list(list_index);
    for (int32_t i = 0; i < count; ++i)
    {
        // Only the first 32 strings have a bit: a shift by 32 or more is never made.
        const bool included = i < STRING_LIST_MASK_BITS && ((mask >> i) & 1u) != 0;
        if (included || all) add_string_to_list(dialog, item_id, get_string_from_list(list_index, i), i, included);
    }
}

void delete_string_by_id(dialog_data *dialog, int16_t item_id, int32_t identifier)
{
    if (!is_string_list(dialog, item_id)) return;
    const int16_t row = find_identifier(dialog, item_id, identifier, false);
    if (row != NONE) bitmap_delete_listbox_row(dialog, item_id, row);
}

bool change_string_list_item_name(dialog_data *dialog, int16_t item_id, int32_t identifier, const char *text)
{
    if (!is_string_list(dialog, item_id)) return false;
    const int16_t row = find_identifier(dialog, item_id, identifier, false);
    if (row == NONE) return false;
    string_list_data data;
    read_string_row(dialog, item_id, row, &data);
    memset(data.string, 0, sizeof(data.string));
    copy_whole_characters(data.string, (int32_t)sizeof(data.string), text ? text : "");
    bitmap_set_listbox_row_data(dialog, item_id, row, &data, (int16_t)sizeof(data));
    return true;
}

bool select_string_list_by_identifier(dialog_data *dialog, int16_t item_id, int32_t identifier)
{
    if (!is_string_list(dialog, item_id)) return false;
    const int16_t row = find_identifier(dialog, item_id, identifier, true);
    if (row == NONE) return false;
    bitmap_select_list_item(dialog, item_id, row);
    bitmap_focus_on_list_item(dialog, item_id, row);
    return true;
}

void select_string_list_first_enabled_item(dialog_data *dialog, int16_t item_id)
{
    if (!is_string_list(dialog, item_id)) return;
    const int16_t count = bitmap_get_listbox_row_count(dialog, item_id);
    for (int16_t row = 0; row < count; ++row)
    {
        if (!bitmap_list_item_enabled(dialog, item_id, row)) continue;
        bitmap_select_list_item(dialog, item_id, row);
        bitmap_focus_on_list_item(dialog, item_id, row);
        return;
    }
}

int32_t get_string_list_selected_identifier(const dialog_data *dialog, int16_t item_id)
{
    if (!is_string_list(dialog, item_id)) return NONE;
    const int16_t row = bitmap_get_listbox_value(dialog, item_id);
    string_list_data data;
    if (row == NONE || !read_string_row(dialog, item_id, row, &data)) return NONE;
    return data.identifier;
}

bool get_list_selected_string(const dialog_data *dialog, int16_t item_id, char *text, int32_t text_size, int16_t *row)
{
    if (text && text_size > 0) text[0] = 0;
    if (!row || !is_string_list(dialog, item_id)) return false;
    int16_t found = *row < 0 ? 0 : *row;
    string_list_data data;
    if (!bitmap_get_listbox_selected_rows(dialog, item_id, &found) || !read_string_row(dialog, item_id, found, &data))
        return false;
    if (text) copy_whole_characters(text, text_size, data.string);
    *row = (int16_t)(found + 1);
    return true;
}

void set_string_list_sorted(dialog_data *dialog, int16_t item_id, bool sorted)
{
    if (!is_string_list(dialog, item_id)) return;
    use_string_list_order(dialog, item_id, sorted);
    if (sorted) bitmap_sort_list(dialog, item_id);
}
