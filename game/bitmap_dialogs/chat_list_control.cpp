// Chat lines that wrap and keep their styles.

#include "bitmap_dialogs/chat_list_control.h"

#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"

const rgb_color CHAT_DEFAULT_PLAYER_COLOR = {32768, 32768, 32768, 0};

static bool is_chat_list(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, chat_list_control_def_proc);
    if (!VASSERT(item != nullptr, "no chat list item")) return false;
    return VASSERT(item->handler == chat_list_control_def_proc && get_list_control_private_list(dialog, item_id),
                   "not a chat list");
}

// Adds `row` as one or more rows wrapped to `maximum_width`, each carrying
// the style in force where the previous one ended.
static void append_chat_text_wrapped(dialog_data *dialog, int16_t item_id, const chat_list_data *row,
                                     int32_t maximum_width, bool force_autoscroll)
{
    bitmap_list_set_autoscroll_mode(dialog, item_id,
                                    force_autoscroll ? _autoscroll_mode_always : _autoscroll_mode_only_at_bottom);
    const int16_t font_id = bitmap_get_list_font_id(dialog, item_id);
    if (font_id == NONE) return;
    // The wrap point is looked for in the row's own copy of the text, which
    // is terminated within its 256 bytes.
    char text[CHAT_STRING_LENGTH];
    strlcpy(text, row->message, sizeof(text));
    const int32_t length = (int32_t)strlen(text);
    chat_list_data line = *row;
    const char *prefix = "";
    int32_t start = 0;
    for (;;)
    {
        int32_t end = length;
        const bool rest_fits = find_string_wrap_point(font_id, -1, text, maximum_width, start, &end);
        // A line that cannot be broken still takes at least one character,
        // so the loop always advances.
        if (end <= start && start < length) end = start + 1;
        memset(line.message, 0, sizeof(line.message));
        const size_t prefix_length = strlcpy(line.message, prefix, sizeof(line.message));
        const size_t room = sizeof(line.message) - 1 - prefix_length;
        size_t count = (size_t)(end - start);
        bool cut = false;
        if (count > room)
        {
            // The prefix left no room for the whole line: the rest goes on the next row.
            count = room;
            end = start + (int32_t)count;
            cut = true;
        }
        memcpy(line.message + prefix_length, text + start, count);
        bitmap_add_data_to_list(dialog, item_id, &line, (int16_t)sizeof(line), 0, true);
        if (!cut)
        {
            while (text[end] == ' ') ++end;
        }
        start = end;
        if ((rest_fits && !cut) || start >= length) break;
        const int16_t style = compute_style_at_end_of_string(line.message, -1);
        prefix = style == _font_style_bold ? "|b" : style == _font_style_italic ? "|i" : "";
    }
}

void add_chat_text_full(dialog_data *dialog, int16_t item_id, int16_t type, const char *player_name,
                        const rgb_color *player_color, const char *text, bool from_local_player)
{
    if (!is_chat_list(dialog, item_id)) return;
    if (type != _normal_chat_message_type && type != _directed_chat_message_type &&
        type != _motd_chat_message_type && type != _team_chat_message_type)
        return;
    chat_list_data row;
    memset(&row, 0, sizeof(row));
    row.type = type;
    strlcpy(row.player_name, player_name ? player_name : "", sizeof(row.player_name));
    row.player_color = player_color ? *player_color : CHAT_DEFAULT_PLAYER_COLOR;
    strlcpy(row.message, text ? text : "", sizeof(row.message));
    const int32_t width = bitmap_get_list_line_width(dialog, item_id);
    if (type == _motd_chat_message_type)
        append_chat_text_wrapped(dialog, item_id, &row, width - CHAT_MOTD_WRAP_INSET, true);
    else
        append_chat_text_wrapped(dialog, item_id, &row, width - CHAT_MESSAGE_WRAP_INSET,
                                 from_local_player || type != _normal_chat_message_type);
}

void reset_chat_text(dialog_data *dialog, int16_t item_id)
{
    if (!is_chat_list(dialog, item_id)) return;
    bitmap_empty_list(dialog, item_id);
}

void draw_chat_list_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                         const void *data, int16_t length, int16_t font_id, uint16_t flags)
{
    (void)flags;
    if (!destination || !row_bounds || !data || length != (int16_t)sizeof(chat_list_data)) return;
    chat_list_data row;
    memcpy(&row, data, sizeof(row));
    row.player_name[sizeof(row.player_name) - 1] = 0;
    row.message[sizeof(row.message) - 1] = 0;
    rectangle2d r = *row_bounds;
    r.left += CHAT_TEXT_HORIZONTAL_INSET;
    r.right -= CHAT_TEXT_HORIZONTAL_INSET;
    r.top += CHAT_TEXT_VERTICAL_INSET;
    static const rgb_color tints[] = {{65535, 0, 0, 0}, {0, 65535, 0, 0}, {0, 0, 65535, 0}};
    const rgb_color *tint = row.type == _directed_chat_message_type ? &tints[0]
                          : row.type == _team_chat_message_type     ? &tints[1]
                          : row.type == _motd_chat_message_type     ? &tints[2]
                                                                    : nullptr;
    if (tint) fill_rectangle_clipped(destination, tint, &r, clip, 32768, nullptr);
    const rgb_color white = {65535, 65535, 65535, 0};
    rectangle2d text_bounds = r;
    if (row.type == _normal_chat_message_type || row.type == _directed_chat_message_type ||
        row.type == _team_chat_message_type)
    {
        const int16_t h = (int16_t)(r.bottom - r.top);
        const int16_t mid = (int16_t)((r.top + r.bottom) / 2);
        const point2d vertices[CHAT_VERTEX_COUNT] = {
            {r.left, r.bottom},
            {r.left, r.top},
            {(int16_t)(r.left + NAME_RECT_SIZE), r.top},
            {(int16_t)(r.left + NAME_RECT_SIZE - 1 + h / 2), (int16_t)(mid - 1)},
            {(int16_t)(r.left + NAME_RECT_SIZE - 1 + h / 2), (int16_t)(mid + 1)},
            {(int16_t)(r.left + NAME_RECT_SIZE), r.bottom},
        };
        fill_polygon(destination, &row.player_color, clip, 0, nullptr, vertices, CHAT_VERTEX_COUNT);
        rectangle2d name_bounds = r;
        name_bounds.right = (int16_t)(r.left + NAME_RECT_SIZE);
        if (clip)
        {
            name_bounds.top = clip->top;
            name_bounds.bottom = clip->bottom;
        }
        draw_string(destination, nullptr, &name_bounds, clip, font_id, -1, &white, row.player_name,
                    _draw_string_center_vertical_flag | _draw_string_shadow_flag, 0);
        text_bounds.left = (int16_t)(r.left + NAME_RECT_SIZE + SPACE_BETWEEN_NAME_AND_CHAT_TEXT);
    }
    uint32_t text_flags = _draw_string_center_vertical_flag | _draw_string_shadow_flag;
    if (row.type != _motd_chat_message_type) text_flags |= _draw_string_color_codes_flag;
    draw_string(destination, nullptr, &text_bounds, clip, font_id, -1, &white, row.message, text_flags, 0);
}

intptr_t chat_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    if (verb == _control_new_verb && parameter)
    {
        // The list takes its flags from the definition: a chat list always
        // draws from the bottom and nothing else.
        param_control_new_verb *new_parameter = (param_control_new_verb *)parameter;
        file_control_data definition = *new_parameter->definition;
        definition.flags = _list_draws_from_bottom_flag;
        param_control_new_verb changed = {&definition, new_parameter->text};
        return list_control_def_proc(verb, dialog, item_id, &changed);
    }
    if (verb == _control_new_completion_verb)
    {
        bitmap_set_list_draw_proc(dialog, item_id, draw_chat_list_proc);
        bitmap_set_list_line_height(dialog, item_id, (int16_t)(bitmap_get_list_line_height(dialog, item_id) + 2));
        bitmap_set_list_flag(dialog, item_id, _list_can_be_focused_flag, false);
        bitmap_set_list_flag(dialog, item_id, _list_has_shaded_background_flag, false);
        bitmap_set_list_flag(dialog, item_id, _list_scrollbars_have_background_flag, true);
        bitmap_set_list_gutters(dialog, item_id, CHAT_LIST_HORIZONTAL_GUTTER, CHAT_LIST_VERTICAL_GUTTER);
        bitmap_set_list_maximum_row_count(dialog, item_id, MAXIMUM_LINES_OF_CHAT_TEXT);
        return 0;
    }
    return list_control_def_proc(verb, dialog, item_id, parameter);
}
