#pragma once
// The lobby's small dialogs around its main dialog: choosing a room, the
// question before a web address from the lobby is opened, a yes-or-no
// question, the player search and the player information.
//
// Main thread only.

#include <cstdint>

struct dialog_data;

enum
{
    PLAYER_SEARCH_CANCELLED = -100,
};

// The room chosen ('room'), or -1 on cancel.
int16_t metaserver_change_room(void);
// Asks whether to open the web address the lobby sent ('meud'), showing
// `text`: true for yes.
bool query_metaserver_url(const char *text);
// A yes-or-no question: true for yes.
bool metaserver_query_dialog(const char *text);
// The player search ('fipl'): the room of the player chosen, -100 on cancel
// (or when the room dies meanwhile), -1 when nobody was chosen.
int16_t do_player_search_dialog(void);
// The player information ('stat') of player `player_id`, shown with the
// appearance of its row in `list_item` of `lobby_dialog`.
void do_player_info_dialog(dialog_data *lobby_dialog, int16_t list_item, uint32_t player_id);
