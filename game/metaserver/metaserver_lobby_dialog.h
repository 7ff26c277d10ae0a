#pragma once
// The lobby dialog ('medi', or '!mdi' with the alternate look): the room's
// players and games, the chat, buddies and the order, the room change, and
// the session loop that leads from it into a network game (created or
// joined) and back after each game.
//
// The dialog exists from a successful login until the logout and is hidden
// while a game runs.  The pump's events reach it through
// metaserver_handler_proc, which asks the game's set-up first.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

struct dialog_data;
struct net_game_description;
struct new_player_data;
struct new_game_data;

#define METASERVER_CLIENT_TAG FOUR_CHARACTER_CODE('m', 'e', 'd', 'i')
#define METASERVER_CLIENT_ALTERNATE_TAG FOUR_CHARACTER_CODE('!', 'm', 'd', 'i')
#define METASERVER_BACKGROUND_TAG FOUR_CHARACTER_CODE('m', 'e', 'g', 'r')
#define METASERVER_ALTERNATE_BACKGROUND_TAG FOUR_CHARACTER_CODE('!', 'm', 'g', 'r')

enum metaserver_client_dialog_item
{
    iTITLE_GRAPHIC = 1,
    iROOM_GRAPHIC,
    iPLAYER_LIST,
    iGAME_LIST,
    iCHAT_LIST,
    iLEAVE_METASERVER,
    iSTART_NEW_GAME, // Shift: the automatic host's playlist
    iJOIN_GAME,
    iCHAT_TEXT_ENTRY,
    iGAG_BUTTON,
    iPLAYER_STATS_BUTTON,
    iFIND_PLAYER_BUTTON,
    iBUDDY_BUTTON,
    iPLAYER_LIST_TAB,
    iGAME_LIST_TAB,
    iSEND_BUTTON,
    iORDER_LIST = 19,
    iBUDDY_LIST = 20,
};

enum
{
    METASERVER_JOIN_WAIT_MILLISECONDS = 5000, // for the player data after moving to a game's room
    METASERVER_CHAT_ENTRY_SIZE = 256, // at most 255 characters
};

// What the item loop ended with.
enum metaserver_lobby_choice
{
    _lobby_left = 0,
    _lobby_joined_game = 1, // the joined game's description is in the context's
    _lobby_created_game = 2,
    _lobby_back_to_login = 3, // the service sent the player elsewhere: log in again
};

// Makes the dialog (hidden) once the login succeeded; false (logged) when
// its tag or an item is missing.  Its lists then receive the list events.
bool create_metaserver_client_dialog(void);
void dispose_metaserver_client_dialog(void);
dialog_data *get_metaserver_client_dialog(void);
void show_metaserver_client_dialog(bool visible);
// The tab strips' tabs and names, and the looks the dialog takes each time
// it shows (the buttons' and tabs' pictures, which size those items, and the
// banner): where the dialog's items end up is theirs and the tag's together.
void set_metaserver_client_dialog_tabs(dialog_data *dialog);
void set_metaserver_client_dialog_shapes(dialog_data *dialog);

// The session: shows the dialog and runs its items until the player leaves
// (0) or a game is created or joined; then the network session starts for
// `data`, `description` and `player` and its result is returned
// (`passed_value`, the protocol, is handed on unchanged).  A session that
// does not start brings the player back to the dialog.  `first_entry` is
// false when the player comes back after a game.
int16_t handle_metaserver_dialog_for_session(new_game_data *data, net_game_description *description,
                                             new_player_data *player, uint32_t passed_value, bool first_entry);
// True when the last session ended because the service sent the player to a
// web address: the caller logs out and shows the login again.
bool metaserver_session_returns_to_login(void);

// The item loop alone (the dialog must exist): what it ended with.
int16_t run_metaserver_client_dialog_items(void);

// The lobby's events that concern the dialog (chat, addresses, the room
// going down, the message of the day, updates): false when not one of them.
bool handle_metaserver_event_in_client_dialog(int32_t event, void *data, int32_t length);

// The chat entry's text sent to the room (or to the selected player), or run
// as one of the exact commands ".clear", ".userid", ".version".  False when
// there was nothing to send.
bool send_metaserver_chat_text(dialog_data *dialog, const char *text);
// Whether `text` is a lobby command (a full stop and one of its words, exactly).
bool metaserver_chat_command(const char *text);

bool allow_join_game_raised(void);
// Empties the chat, game and player lists (the room changed).
void empty_metaserver_client_dialog_lists(void);

// The network session's start as the lobby asks for it: the entry module's
// setup_network_game_for_new_netgame_session unless a test hands another
// (null: that one again).  `verb` is 1 to join, 2 to create; the scores go
// to the lobby's game `game_id` for the user `player_id` of caste `caste`;
// the result is the session's (0: not started).
typedef int16_t (*metaserver_session_starter)(new_game_data *data, net_game_description *description,
                                              new_player_data *player, int16_t verb, uint32_t protocol,
                                              int32_t game_id, int32_t player_id, int16_t caste, bool *failed);
void set_metaserver_session_starter(metaserver_session_starter starter);
