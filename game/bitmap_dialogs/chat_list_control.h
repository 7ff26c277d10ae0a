#pragma once
// Chat lines that wrap and keep their styles ('chat').
//
// A list item (list_control.h) that draws from the bottom and keeps at most
// 1024 rows, the list engine dropping the oldest row when full.  Each message
// becomes one or more rows wrapped to the item's width; every row of a
// message carries its type, sender and colour, and a row that continues a
// bold or italic span starts with that style's markup ("|b", "|i").  Normal,
// directed and team rows draw the sender in a coloured name tag; directed,
// team and message-of-the-day rows get a tinted background.
//
// Texts come from other machines: names and messages are copied bounded
// (31 and 255 characters) and always terminated.  Calls on a missing item or
// one of another type are logged and do nothing.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "rgb_color.h"

#define DIALOG_CHAT_LIST_TAG FOUR_CHARACTER_CODE('c', 'h', 'a', 't')

enum
{
    NAME_RECT_SIZE = 90,
    SPACE_BETWEEN_NAME_AND_CHAT_TEXT = 6,
    CHAT_TEXT_HORIZONTAL_INSET = 3,
    CHAT_TEXT_VERTICAL_INSET = 1,
    CHAT_VERTEX_COUNT = 6,
    CHAT_LIST_HORIZONTAL_GUTTER = 1,
    CHAT_LIST_VERTICAL_GUTTER = 4,
    MAXIMUM_LINES_OF_CHAT_TEXT = 1024,
    CHAT_STRING_LENGTH = 256,
    CHAT_PLAYER_NAME_SIZE = 32,
    // Messages of the day wrap this much narrower than the item; the others
    // leave room for the name tag as well.
    CHAT_MOTD_WRAP_INSET = 24,
    CHAT_MESSAGE_WRAP_INSET = 122,
};

enum chat_message_type
{
    _normal_chat_message_type = 0,
    _directed_chat_message_type = 1,
    _motd_chat_message_type = 2,
    _chat_message_continuation_type = 3,
    _team_chat_message_type = 4,
};

// One row's bytes (kept in memory only).
struct chat_list_data
{
    int16_t type; // chat_message_type
    char player_name[CHAT_PLAYER_NAME_SIZE];
    rgb_color player_color;
    char message[CHAT_STRING_LENGTH]; // this row's part, in styled-text markup
};
static_assert(sizeof(chat_list_data) == 298);

intptr_t chat_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Adds a message of type 0, 1, 2 or 4 (other types are ignored).  A NULL name
// reads as "", a NULL colour as CHAT_DEFAULT_PLAYER_COLOR.  A message of the
// day, a directed or team message, or one from the local player scrolls the
// list to show it; another normal message does so only when the reader was
// already at the bottom.
void add_chat_text_full(dialog_data *dialog, int16_t item_id, int16_t type, const char *player_name,
                        const rgb_color *player_color, const char *text, bool from_local_player);
// Empties the list.
void reset_chat_text(dialog_data *dialog, int16_t item_id);

// The row drawer (list engine signature).
void draw_chat_list_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                         const void *data, int16_t length, int16_t font_id, uint16_t flags);

// The name-tag colour of a message without one (mid grey).
extern const rgb_color CHAT_DEFAULT_PLAYER_COLOR;
