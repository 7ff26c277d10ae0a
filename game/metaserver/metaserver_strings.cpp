// The lobby's texts.  See metaserver_strings.h.

#include "metaserver/metaserver_strings.h"

#include "vesk/string_lists.h"

static const char *const fallback_texts[NUMBER_OF_METASERVER_STRINGS] = {
    "Connecting to the lobby...",
    "OK",
    "The lobby did not accept this user name and password.",
    "The lobby does not accept this version of the game.",
    "The lobby does not allow games for this account.",
    "The lobby is not responding.",
    "The lobby has no rooms available.",
    "This user is already logged in to the lobby.",
    "This lobby account is locked.",
    "The lobby asked for a login this game does not support.",
    "The lobby does not accept guests.",
    "",
    "This guest name is taken.",
    "The connection to the lobby room was lost.",
    "Login",
    "Name",
    "Order",
    "Rank",
    "Points",
    "Wins",
    "Damage inflicted",
    "Damage received",
    "Games played",
    "Best player",
    "",
    "Room",
    "Buddy",
    "Order",
    "Unbuddy",
    "Gag",
    "Ungag",
    "Local",
    "Preferred",
    "This game uses data this program does not have.",
    "This game is in progress and takes no more players.",
    "Waiting for player data...",
    "The lobby sent you to a web page. Log in again to come back.",
};

const char *get_metaserver_string(int32_t index)
{
    if (index < 0 || index >= NUMBER_OF_METASERVER_STRINGS) return "";
    const char *text = get_string_from_list(string_list_tag_to_string_index(METASERVER_STRINGS_TAG), index);
    return text && *text ? text : fallback_texts[index];
}
