// The list of plug-ins a game needs and this machine lacks.

#include "bitmap_dialogs/missing_plugins_list_control.h"

#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "networking_procedures.h"
#include "input/action_queue.h"
#include "shading_tables.h"
#include "shapes.h"
#include "vesk/string_lists.h"

bool lookup_plugin(const char *name, const char *url, uint32_t checksum, char *download_url,
                   int32_t download_url_size)
{
    if (download_url && download_url_size > 0) download_url[0] = 0;
    const auto procedure = get_networking_procedures()->lookup_plugin;
    if (!procedure || !download_url || download_url_size <= 0) return false;
    const bool found = procedure(name, url, checksum, download_url, download_url_size);
    download_url[download_url_size - 1] = 0;
    return found;
}

static bool is_missing_plugins_list(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, missing_plugins_list_control_handler);
    if (!VASSERT(item != nullptr, "no missing plug-ins list item")) return false;
    return VASSERT(item->handler == missing_plugins_list_control_handler &&
                       get_list_control_private_list(dialog, item_id),
                   "not a missing plug-ins list");
}

// The look-up button's size; false when the dialog elements lack it.
static bool button_size(int32_t *width, int32_t *height)
{
    const int32_t collection = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    const bitmap_data *button =
        collection == NONE ? nullptr : get_bitmap(collection, MISSING_PLUGIN_BUTTON_BITMAP);
    if (!button) return false;
    *width = button->width;
    *height = button->height;
    return true;
}

void draw_missing_plugins_list_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                                    const void *data, int16_t length, int16_t font_id, uint16_t flags)
{
    if (!destination || !row_bounds || !data || length != (int16_t)sizeof(missing_plugins_list_row_data)) return;
    const missing_plugins_list_row_data *row = (const missing_plugins_list_row_data *)data;
    const rectangle2d b = *row_bounds;
    const rectangle2d c = clip ? *clip : b;
    const fixed_fraction transparency = (flags & _row_enabled_flag) ? 0 : 32768;
    const uint32_t shadow = (flags & _row_selected_flag) ? 0 : _draw_string_shadow_flag;

    const int32_t icons = get_collection_index(SHARED_BITMAPS_COLLECTION_TAG);
    const bitmap_data *icon = icons == NONE ? nullptr : get_bitmap(icons, MISSING_PLUGIN_ICON_BITMAP);
    if (icon)
    {
        const point2d at = {(int16_t)(b.left + 3), (int16_t)(b.top + 3)};
        copy_bitmap(destination, &at, icon, &c, temporary_shading_table(icons, nullptr, 0, true), transparency,
                    transparency ? get_transparency_table(_transparency_normal) : nullptr);
    }

    rectangle2d text = b;
    text.left = (int16_t)(b.left + (b.bottom - b.top) + 2);
    int32_t button_width = 0, button_height = 0;
    const bool has_button = button_size(&button_width, &button_height);
    rgb_color color;
    if (row->not_found)
    {
        const char *not_found = translate_string("Not Found");
        get_dialog_color(&color, _dialog_list_warning_text_color);
        draw_string(destination, nullptr, &b, &c, font_id, _font_style_italic, &color, not_found,
                    _draw_string_right_justified_flag | shadow, transparency);
        text.right = (int16_t)(b.right - string_width(font_id, _font_style_italic, not_found));
    }
    else if (has_button)
    {
        text.right = (int16_t)(b.right - button_width);
    }

    char name[TAG_NAME_SIZE + 1], url[TAG_URL_SIZE + 1];
    strlcpy_field(name, sizeof(name), row->plugin.name, sizeof(row->plugin.name));
    strlcpy_field(url, sizeof(url), row->plugin.url, sizeof(row->plugin.url));
    char line[TAG_NAME_SIZE + TAG_URL_SIZE + 32];
    slprintf(line, sizeof(line), "%s\r", name);
    get_dialog_color(&color, _dialog_list_enabled_text_color);
    point2d origin = {0, 0};
    draw_string(destination, &origin, &text, &c, font_id, _font_style_bold, &color, line, shadow, transparency);
    if (url[0])
    {
        rectangle2d second = text;
        second.top = (int16_t)(text.top + origin.y + 2);
        slprintf(line, sizeof(line), strncmp(url, "http://", 7) == 0 ? "|i%s\r" : "|ihttp://%s\r", url);
        draw_string(destination, nullptr, &second, &c, font_id, -1, &color, line, _draw_string_wrap_flag | shadow,
                    transparency);
    }

    if (!row->not_found && has_button)
    {
        const int32_t collection = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
        const bitmap_data *button = get_bitmap(
            collection, row->is_pressed ? MISSING_PLUGIN_BUTTON_PRESSED_BITMAP : MISSING_PLUGIN_BUTTON_BITMAP);
        if (button)
        {
            const point2d at = {(int16_t)(c.right - button->width), (int16_t)(c.top + 2)};
            copy_bitmap(destination, &at, button, &c, temporary_shading_table(collection, nullptr, 0, true),
                        transparency, transparency ? get_transparency_table(_transparency_normal) : nullptr);
        }
    }
}

// A press or release on a row's look-up button.
static void click_on_buttons(dialog_data *dialog, int16_t item_id, const action_data *action)
{
    int32_t width = 0, height = 0;
    int16_t hit = NONE;
    rectangle2d distances;
    if (button_size(&width, &height))
    {
        const int16_t row = bitmap_list_get_row_at_point(dialog, item_id, action->pointer, &distances);
        // distances.right counts from the row's right edge to the pointer's
        // pixel, 1 for the last column.
        if (row != NONE && distances.top >= 2 && distances.top <= height + 1 && distances.right >= 1 &&
            distances.right <= width)
            hit = row;
    }
    const bool down = TEST_FLAG(action->flags[_left_mouse_down_bit / 32], _left_mouse_down_bit % 32);
    const int16_t count = bitmap_get_listbox_row_count(dialog, item_id);
    for (int16_t i = 0; i < count; ++i)
    {
        missing_plugins_list_row_data row;
        int16_t size = (int16_t)sizeof(row);
        bitmap_get_listbox_row_data(dialog, item_id, i, &row, &size);
        if (size != (int16_t)sizeof(row)) continue;
        const bool was_pressed = row.is_pressed != 0;
        row.is_pressed = i == hit && down ? 1 : 0;
        if (i == hit && was_pressed && !down)
        {
            char download[PLUGIN_DOWNLOAD_URL_SIZE];
            char name[TAG_NAME_SIZE + 1], url[TAG_URL_SIZE + 1];
            strlcpy_field(name, sizeof(name), row.plugin.name, sizeof(row.plugin.name));
            strlcpy_field(url, sizeof(url), row.plugin.url, sizeof(row.plugin.url));
            if (lookup_plugin(name, url, row.plugin.checksum, download, (int32_t)sizeof(download)))
                go_to_url(download);
            else
                row.not_found = 1;
        }
        bitmap_set_listbox_row_data(dialog, item_id, i, &row, (int16_t)sizeof(row));
    }
}

intptr_t missing_plugins_list_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    if (verb == _control_new_completion_verb)
    {
        list_control_def_proc(verb, dialog, item_id, parameter);
        bitmap_set_list_draw_proc(dialog, item_id, draw_missing_plugins_list_proc);
        const int32_t icons = get_collection_index(SHARED_BITMAPS_COLLECTION_TAG);
        const bitmap_data *icon = icons == NONE ? nullptr : get_bitmap(icons, MISSING_PLUGIN_ICON_BITMAP);
        bitmap_set_list_line_height(dialog, item_id,
                                    (int16_t)(icon ? icon->height + 3 : MISSING_PLUGIN_DEFAULT_LINE_HEIGHT));
        bitmap_set_list_gutters(dialog, item_id, 2, 2);
        bitmap_set_list_flag(dialog, item_id, _list_can_be_focused_flag, false);
        bitmap_set_list_flag(dialog, item_id,
                             _list_has_shaded_background_flag | _list_scrollbars_have_background_flag |
                                 _list_disabled_row_allow_click_flag,
                             true);
        return 0;
    }
    if (verb == _control_click_verb)
    {
        const param_control_click_verb *p = (const param_control_click_verb *)parameter;
        if (p && p->action && is_missing_plugins_list(dialog, item_id)) click_on_buttons(dialog, item_id, p->action);
    }
    return list_control_def_proc(verb, dialog, item_id, parameter);
}

void add_missing_plugin_to_list(dialog_data *dialog, int16_t item_id, const missing_plugin_info *plugin)
{
    if (!plugin || !is_missing_plugins_list(dialog, item_id)) return;
    missing_plugins_list_row_data row;
    memset(&row, 0, sizeof(row));
    row.plugin = *plugin;
    bitmap_add_data_to_list(dialog, item_id, &row, (int16_t)sizeof(row), 0, true);
}

void clear_missing_plugins_list(dialog_data *dialog, int16_t item_id)
{
    if (!is_missing_plugins_list(dialog, item_id)) return;
    bitmap_empty_list(dialog, item_id);
}
