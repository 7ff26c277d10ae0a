// Static text.

#include "bitmap_dialogs/static_text_control.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "networking_procedures.h"
#include "interface_definitions.h"

// The empty text every item without text shares; never freed.
static char shared_empty_string[1] = "";

void go_to_url(const char *url)
{
    if (!url) return;
    const auto procedure = get_networking_procedures()->go_to_url;
    if (procedure) procedure(url);
    else log_message(__FILE__, __LINE__, "no web browser is registered: not opening '%s'", url);
}

// The record of a static text item, NULL (logged) for a missing item or one
// of another type.
static text_extra_data *static_text_record(const dialog_data *dialog, int16_t item_id)
{
    return get_control_record<text_extra_data>(dialog, item_id, static_text_control_def_proc, STATIC_TEXT_COOKIE,
                                               "not a static text item");
}

// A private copy, the shared empty string for an empty text; NULL when
// memory runs out.
static char *copy_text(const char *text)
{
    if (!text || !*text) return shared_empty_string;
    return cstrdup(text);
}

static void free_text(char *text)
{
    if (text && text != shared_empty_string) free(text);
}

// Opens the link under the released pointer; false when the pointer is not
// on a link.
static bool open_link_at_pointer(const control_data *item, const text_extra_data *data, const action_data *action)
{
    if (data->font_index == NONE) return false;
    // In: how far to look (the whole text); out: the byte under the pointer.
    int32_t position = (int32_t)strlen(data->string);
    const int32_t width = item->bounds.right - item->bounds.left - 4;
    if (width <= 0) return false;
    if (!find_string_click_point_wrapped(data->font_index, data->style, data->string, width,
                                         action->pointer.x + 1 - item->bounds.left,
                                         action->pointer.y - 1 - item->bounds.top, &position))
        return false;
    char url[MAXIMUM_LINK_URL_LENGTH];
    if (!get_link_url_at_string_position(data->string, position, url, (int32_t)sizeof(url))) return false;
    url[sizeof(url) - 1] = 0;
    if (strncmp(url, "http:", 5) != 0 && strncmp(url, "https:", 6) != 0) str_prepend(url, sizeof(url), "http://");
    go_to_url(url);
    return true;
}

intptr_t static_text_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        const param_control_new_verb *p = (const param_control_new_verb *)parameter;
        text_extra_data *data = new_control_record<text_extra_data>(STATIC_TEXT_COOKIE);
        if (!data) return 0;
        data->string = copy_text(p ? p->text : nullptr);
        if (!data->string)
        {
            free(data);
            return 0;
        }
        get_dialog_color(&data->color, _dialog_static_text_color);
        data->font_index = (int16_t)get_interface_font_index(0);
        data->style = -1;
        data->transparency = 0;
        data->flags = DEFAULT_STATIC_TEXT_FLAGS;
        return (intptr_t)data;
    }
    case _control_dispose_verb:
    {
        const param_control_dispose_verb *p = (const param_control_dispose_verb *)parameter;
        text_extra_data *data = p ? (text_extra_data *)p->data : nullptr;
        if (data)
        {
            free_text(data->string);
            free(data);
        }
        return 0;
    }
    case _control_click_verb:
    {
        const param_control_click_verb *p = (const param_control_click_verb *)parameter;
        const control_data *item = find_control(dialog, item_id);
        if (!item || !p || !p->action) return 0;
        const text_extra_data *data = (const text_extra_data *)item->extra_data;
        if (data && !is_left_button_down(p->action) && open_link_at_pointer(item, data, p->action))
        {
            if (item->state != _control_unpressed)
            {
                find_control(dialog, item_id)->state = _control_unpressed;
                set_dialog_item_dirty(dialog, item_id);
            }
            return 1;
        }
        return default_control_handler(verb, dialog, item_id, parameter);
    }
    case _control_draw_verb:
    {
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        const control_data *item = find_control(dialog, item_id);
        if (!item || !p || !p->dialog_bitmap) return 0;
        const text_extra_data *data = (const text_extra_data *)item->extra_data;
        if (!data || !*data->string) return 0;
        const fixed_fraction transparency = (item->flags & _control_is_disabled_flag) ? 32768 : 0;
        draw_string(p->dialog_bitmap, nullptr, &item->bounds, &item->bounds, data->font_index, data->style,
                    &data->color, data->string, data->flags, transparency);
        return 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

void set_bitmap_dialog_static_item_text(dialog_data *dialog, int16_t item_id, const char *text)
{
    text_extra_data *data = static_text_record(dialog, item_id);
    if (!data) return;
    const char *wanted = text ? text : "";
    if (strcmp(wanted, data->string) == 0) return;
    char *copy = copy_text(wanted);
    if (!VASSERT(copy, "out of memory for a static text")) return;
    free_text(data->string);
    data->string = copy;
    set_dialog_item_dirty(dialog, item_id);
}

char *get_bitmap_dialog_static_item_text(const dialog_data *dialog, int16_t item_id, char *buffer, size_t size)
{
    if (!buffer || size == 0) return buffer;
    buffer[0] = 0;
    const text_extra_data *data = static_text_record(dialog, item_id);
    if (data) snprintf(buffer, size, "%s", data->string);
    return buffer;
}

void set_dialog_static_item_text_appearance(dialog_data *dialog, int16_t item_id, int16_t font_index,
                                            int16_t style, const rgb_color *color, uint32_t flags)
{
    text_extra_data *data = static_text_record(dialog, item_id);
    if (!data) return;
    if (font_index != -1) data->font_index = font_index;
    data->style = style;
    if (color) data->color = *color;
    if (flags != 0xFFFFFFFFu) data->flags = flags;
    set_dialog_item_dirty(dialog, item_id);
}

void set_static_text_item_transparency(dialog_data *dialog, int16_t item_id, fixed_fraction transparency)
{
    text_extra_data *data = static_text_record(dialog, item_id);
    if (data) data->transparency = transparency;
}
