#pragma once
// The lobby's small dialogs around its main dialog: choosing a room, the
// question before a web address from the lobby is opened, a yes-or-no
// question, the player search and the player information.  Each runs its
// own modal loop (the lobby's pump goes on inside it) and closes before it
// returns; a dialog whose tag is missing or lacks an item is logged and
// taken as cancelled.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

struct dialog_data;

enum
{
    PLAYER_SEARCH_CANCELLED = -100,
};

// The room chooser and the question are drawn on the wait dialog's parchment.
#define SMALL_DIALOG_BACKGROUND_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 'b')
#define ROOM_DIALOG_TAG FOUR_CHARACTER_CODE('r', 'o', 'o', 'm')
#define QUESTION_DIALOG_TAG FOUR_CHARACTER_CODE('m', 'e', 'u', 'd')
#define PLAYER_SEARCH_DIALOG_TAG FOUR_CHARACTER_CODE('f', 'i', 'p', 'l')
#define PLAYER_SEARCH_BACKGROUND_TAG FOUR_CHARACTER_CODE('i', 'n', 'f', 'p')
#define PLAYER_INFO_DIALOG_TAG FOUR_CHARACTER_CODE('s', 't', 'a', 't')
#define PLAYER_INFO_BACKGROUND_TAG FOUR_CHARACTER_CODE('i', 'n', 's', 't')
#define PLAYER_INFO_SCORE_TYPES_TAG FOUR_CHARACTER_CODE('i', 'n', 'a', 's')

enum
{
    _room_dialog_ok_item = 1,
    _room_dialog_cancel_item,
    _room_dialog_list_item, // a plain list in the tag; the dialog makes it the room list

    _question_dialog_text_item = 1,
    _question_dialog_no_item,
    _question_dialog_yes_item, // default

    _search_dialog_go_to_item = 1, // also a double click on a row
    _search_dialog_cancel_item,
    _search_dialog_list_item, // rows keyed by the room the player is in
    _search_dialog_text_item = 5,
    _search_dialog_find_item, // default

    _info_dialog_ok_item = 1,
    _info_dialog_cancel_item, // optional
    _info_dialog_name_item,
    _info_dialog_login_item,
    _info_dialog_order_name_item,
    _info_dialog_city_item = 7, // the four description fields at 7, 9, 11, 13
    _info_dialog_state_item = 9,
    _info_dialog_country_item = 11,
    _info_dialog_personal_item = 13,
    _info_dialog_order_item, // checked: the order's scores
    _info_dialog_score_type_item,
    _info_dialog_rank_item,
    _info_dialog_points_item,
    _info_dialog_points_bar_item,
    _info_dialog_wins_item,
    _info_dialog_wins_bar_item,
    _info_dialog_damage_inflicted_item,
    _info_dialog_damage_inflicted_bar_item,
    _info_dialog_damage_received_item,
    _info_dialog_damage_received_bar_item,
    _info_dialog_icon_item,
    _info_dialog_games_played_item = 27,
    _info_dialog_best_player_item,

    PLAYER_SEARCH_TEXT_SIZE = 32, // at most 31 characters
    PLAYER_DESCRIPTION_TEXT_SIZE = 255, // each description field, at most 254 characters
    NUMBER_OF_INFO_SCORE_TYPES = 17, // the rows of 'inas'
};

// The room chosen ('room'), or -1 on cancel.
int16_t metaserver_change_room(void);
// Asks whether to open the web address the lobby sent ('meud'), showing
// `text`: true for yes.
bool query_metaserver_url(const char *text);
// A yes-or-no question: true for yes.
bool metaserver_query_dialog(const char *text);
// The player search ('fipl'): the room of the player chosen, -100 on cancel
// (or when the room dies meanwhile).
int16_t do_player_search_dialog(void);
// The player information ('stat') of player `player_id`.  For the local
// user the description can be edited and OK sends it.  The lobby dialog and
// its list item are not read.
void do_player_info_dialog(dialog_data *lobby_dialog, int16_t list_item, uint32_t player_id);

// The score record (0..35 of the information packet) that entry `entry` of
// the score list shows, of the player or of his order; an entry out of range
// reads as the first.
int16_t info_score_slot(int16_t entry, bool order);
// A bar's fill for `value` against the best value, 0..256; an empty bar when
// the best is 0 (nobody has scored).
int32_t info_bar_fraction(uint32_t value, uint32_t best);
