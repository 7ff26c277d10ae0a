#pragma once
// The network game's set-up dialog ('ne#1' over 'innd'): every player, host
// and joiners alike, sits in it before a game of a network session starts,
// with the game's description, the players and teams, the chat, and the
// buttons to get ready, form teams, change the game, boot players and start.
// The host decides: its presses reach everybody as configuration packets,
// which the game layer posts to this dialog as item hits.  The decisions
// themselves are the set-up model's (netgame_setup.h); this binds the
// dialog's items to them and runs the automatic host.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

struct dialog_data;
struct net_game_description;
struct new_game_data;

#define NETGAME_SETUP_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 'd')

// The networking texts ('inmn') the dialog's titles come from.
enum netgame_setup_string
{
    _netgame_setup_string_close_game = 15, // item 13 while the game is open
    _netgame_setup_string_open_game = 16,  // item 13 while it is closed
    _netgame_setup_string_lock_team = 32,  // item 15 while the team is unlocked
    _netgame_setup_string_unlock_team = 33,
    _netgame_setup_string_not_ready = 35, // item 16 while ready
    _netgame_setup_string_ready = 36,     // item 16 while not ready
};

// Runs the set-up until the game starts (true: `data` holds the game's
// parameters and players, `game` the description played), or the player
// leaves or is left out of the start (false).  `continuation`: a finished
// cooperative game goes on (its chat and selection are kept); else the
// continuation option is cleared, the chat log emptied and the selection
// forgotten.  `start_immediately`: the host starts at once and keeps the
// game's closed state.  False (logged) without a session or when the
// dialog cannot be made.
bool configure_netgame(new_game_data *data, net_game_description *game, bool continuation, bool start_immediately);

// The automatic host: on while the program plays the host's part by itself
// (set when such a game is created, cleared when the host leaves the set-up);
// `request_next_autohosted_game` asks for the playlist's next game once
// five seconds of the next set-up have passed (the endgame of an autohosted
// game).
void set_netgame_autohost(bool on);
bool netgame_autohost_is_on(void);
void request_next_autohosted_game(void);
bool next_autohosted_game_requested(void);

// The player list's selection the next set-up of the series shows again
// (NONE: none), kept by the endgame dialog.
void remember_netgame_player_selection(int32_t player_id);

// Presses made by a program instead of a player (a tool without one, or a
// test): asked once per pass before the dialog's own pass; an item other
// than NONE is taken as pressed (the dialog's pass is then skipped).  Null
// (the default) asks nothing.
typedef int16_t (*netgame_setup_script_procedure)(dialog_data *dialog, void *context);
void set_netgame_setup_script(netgame_setup_script_procedure procedure, void *context);

// The dialog while it runs, null otherwise.
dialog_data *get_netgame_setup_dialog(void);
