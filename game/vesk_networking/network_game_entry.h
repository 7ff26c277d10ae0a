#pragma once
// The frame of every network game for the main loop: from the main menu into
// a configured game (the protocol choice, a session, the set-up dialog), and
// after each game through the end barrier and the endgame dialog, back into
// the set-up for another game of the same session or out of it.  They are
// the entries of the network-setup and post-game states.
//
// Main thread only.

#include <cstdint>

#include "game_records.h"

struct dialog_data;
struct net_game_description;
struct full_entry_point;

#define NETWORK_ENDGAME_DIALOG_TAG FOUR_CHARACTER_CODE('!', 'E', 'N', 'D')
#define NETWORK_ENDGAME_FALLBACK_DIALOG_TAG FOUR_CHARACTER_CODE('e', 'n', 'd', 'i')
#define NETWORK_ENDGAME_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('!', 'n', 'p', 'g')
#define NETWORK_ENDGAME_FALLBACK_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 'd')

// The endgame dialog's items.
enum network_endgame_item
{
    _endgame_hidden_item = 1,
    _endgame_save_film_item = 3,
    _endgame_leave_item = 4,
    _endgame_play_again_item = 5,
    _endgame_player_list_item = 6,
    _endgame_chat_log_item = 8,
    _endgame_chat_entry_item = 9,
    _endgame_send_chat_item = 10,
    _endgame_stats_header_item = 11,
    _endgame_stats_list_item = 12,
    _endgame_graph_item = 13,
    _endgame_first_view_item = 14, // 14, 15 the two statistics lists; 16-20 the five graphs
    _endgame_last_view_item = 20,
    _endgame_tabs_item = 30,
    _endgame_reenter_item = 100, // arrives only through the network
};

enum setup_network_game_result
{
    _network_setup_cancelled = 0,
    _network_setup_configured = 1, // a game is to start; `data` holds it
    _network_setup_lobby_asks = 2, // the lobby login asked for it
};

enum
{
    NETWORK_ENDGAME_AUTOHOST_RESTART_MS = 30000,
    NETWORK_SETUP_SOUND_FADE_TICKS = 15,
};

// From the main menu to a configured game: the protocol choice (again when
// the player switched the lobby's server), then directly a session and the
// set-up dialog, or the lobby's login and the lobby dialog, which creates or
// joins the game (the login again when the lobby sent the player to a web
// page).  `service_type` must be 0.
int16_t setup_network_game(int16_t service_type, new_game_data *data);

// The lobby's entry: a session, joined or created with `verb`, and the
// set-up dialog.  Non-zero when a game is configured; `failed` is set when
// the join failed.  `scoring_game_id`, `scoring_player_id` and `caste` are
// the lobby's (-1: not a scored lobby game).
int16_t setup_network_game_for_new_netgame_session(new_game_data *data, net_game_description *description,
                                                   new_player_data *player, int16_t verb, uint32_t protocol,
                                                   int32_t scoring_game_id, int32_t scoring_player_id, int16_t caste,
                                                   bool *failed);

// After a game: the end barrier, the players and their statistics back, the
// endgame dialog (skipped for a forced restart), then another game of the
// session (true: `data` holds it) or the end of the session; a player still
// in the lobby goes back to the lobby dialog, which may lead into another
// game (true) or out of the lobby (false).
bool handle_network_endgame(new_game_data *data, int16_t endgame_state, int16_t forced_endgame_type, bool leave_now);
// The host went away while this joiner's endgame dialog is open: the dialog
// stays, its chat closed, until the player leaves it (a Leave meant for it
// must not land on the lobby's dialog behind).  False without the dialog.
bool network_endgame_lost_its_host(void);

// Shows statistics list `type` (item 12) or graph `type` (item 13), with
// its header, when the type is valid.
void start_showing_proper_stats(dialog_data *dialog, int16_t type, bool graph);

// The players of a session who stay together after a game: each keeps its
// captain only while that captain is listed and its team has two listed
// players at least.
void repair_teams_after_game(new_player_data *players, int16_t count);

// Whether the players can stay together after a game that ended in
// `endgame_state` with `time_remaining` left; `next_map` gets the map that
// follows (NONE for none) from `next_mesh_tags` (after success, after failure).
// The host's Rehost or Restart (`forced_endgame_type`) keeps everybody
// together on the same map whatever the clock says: the next game's clock
// starts afresh with the map.
bool players_can_stay_after_game(int16_t endgame_state, int16_t forced_endgame_type, int32_t time_remaining,
                                 const tag next_mesh_tags[2], bool have_mesh_header, tag *next_map);

// The clock of the automatic host's restart (machine milliseconds); null
// restores the machine's.
void set_network_endgame_clock(uint32_t (*clock)(void));

// The network-setup and post-game states' entries (registered by networking).
void enter_network_setup_state(void);
void enter_network_post_game_state(void);

// A description whose map is not among `entries` takes the first finished map
// offered for network games there (`log_swap`: one log line says so).  False,
// the description unchanged, when its map is missing and none can stand in.
bool offer_an_installed_map_from(net_game_description *description, const full_entry_point *const *entries,
                                 int32_t count, bool log_swap);
// The same among the installed maps.
bool offer_an_installed_map(net_game_description *description, bool log_swap);
// An automatic host's playlist entry, its map swapped (and logged) when it is
// not installed; false, logged, when nothing installed can be played.
bool take_installed_autohosted_map(net_game_description *description);
