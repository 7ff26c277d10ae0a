#pragma once
// The lobby's texts: the string list 'inms' of the data files, with an
// English text of our own for an entry the data lack (a data set without the
// lobby still says why a login failed).

#include <cstdint>

#include "cseries/cseries.h"

#define METASERVER_STRINGS_TAG FOUR_CHARACTER_CODE('i', 'n', 'm', 's')

enum metaserver_string
{
    _connecting_msg = 0,
    _ok_msg,
    _bad_password_msg,
    _bad_version_msg,
    _game_not_allowed_msg,
    _metaserver_not_responding_msg,
    _metaserver_has_no_rooms_msg,
    _metaserver_user_already_logged_in_msg,
    _metaserver_account_locked_string,
    _metaserver_not_supported_string,
    _guests_disallowed_msg,
    _default_metaserver_host_msg, // 11: "host[:port]" (metaserver_preferences.h)
    _guest_name_taken_msg,
    _metaserver_room_died_msg,
    // The player information's labels (the values follow them) and the
    // address a click on a player opens: exactly one %d, the user's id.
    _login_string, // 14
    _name_string,
    _order_name_string,
    _rank_string,
    _points_string,
    _wins_string,
    _damage_inflicted_string,
    _damage_received_string,
    _games_played_string,
    _highest_ranked_player_string,
    _user_url_format_string, // 24
    // The lobby dialog's tabs and buttons and its messages before a join.
    _room_string, // 25
    _buddy_string,
    _order_string,
    _unbuddy_string,
    _gag_msg,
    _remove_gag_msg,
    _games_local_string,
    _games_preferred_string,
    _incompatible_tags_string,
    _game_in_progress_string,
    _waiting_for_player_data_msg,
    _metaserver_sent_player_elsewhere_msg, // 36
    NUMBER_OF_METASERVER_STRINGS
};

// Entry `index` of 'inms', or our own text when the list lacks it; never null.
const char *get_metaserver_string(int32_t index);
