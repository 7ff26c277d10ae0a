#pragma once
// While a network game is set up, the host owns the game's description and
// every player's record: teams are formed by asking the host to join a
// captain, a press of a set-up dialog item is relayed to everybody as a
// configuration packet, the host broadcasts each change of the description,
// and every client checks that it can play the described game.
//
// Authority: only the host's own player may have the host relay an item
// (start, boot, settings, close, start of the game); any other player may
// only ask to join or leave a team.  Clients take configuration broadcasts
// and descriptions only from the host's player (id 0).  So no client can
// start the game, boot players, open the host's settings or close the game.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "bitmap_dialogs/network_services.h" // net_game_description

struct dialog_data;
struct new_player_data;

// The configuration packet's item for a team request (the set-up dialog's
// teams button).
enum
{
    TEAM_REQUEST_ITEM = 11,
};

// Sends `item` and `param0`: to the host's player as a request (the host
// relays it, or handles a team request), else to everybody as the host's
// broadcast.  False when there is no session or it could not be queued.
bool send_configuration_packet(bool to_host, int16_t item, int32_t param0);

// A configuration packet (host order), only while the game is configured.
// A broadcast from the host's player posts its item to the dialog
// (`item_hit_via_network`); a request reaches the host: a team request from
// any listed player, any other item only from the host's own player.
void handle_configuration_packet(void *packet);

// On the host: `requester_id` asks to join the team of `captain_id`, or to
// leave its team (`captain_id` -1).  A requester not listed changes nothing;
// a locked team, or a player who is a member of another's team, is not
// joined; an unteamed player becomes a captain when joined.  A member leaving
// a team of two, or a captain leaving, disbands the team.
void handle_join_team_request(int32_t requester_id, int32_t captain_id);
// On the host: every member of the captain's team (the captain included)
// leaves it and its lock is cleared; each changed record is published.
void disband_team(int32_t captain_id);

// A player joined while the game is set up (after it is listed): the
// dialog's list is refreshed; the host keeps the continuation option only
// for a cooperative game with veterans, sends its description to everybody
// (the newcomer included) and enables the start item when it may start.
void handle_player_joined_setup(void);
// A player left (after it left the list; `departed` is its record).  While
// the game is set up, the host repairs its team: a departed captain, or a
// departed member of a team of two, dissolves it (captain -1, lock cleared);
// every other member stops being ready unless persistently ready; each
// changed record is published.  The dialog drops its row.
void handle_player_left_setup(const new_player_data *departed);

// The teams button of the set-up dialog, decided without the dialog: whether
// it is enabled and its caption (the network string: 0 join, 1 disband,
// 2 leave).  `selected_id` -1: no player row is selected.
struct teams_button_state
{
    bool enabled;
    int16_t caption_string;
};
teams_button_state get_teams_button_state(const new_player_data *players, int16_t count, int32_t local_id,
                                          int32_t selected_id, bool teams_allowed);
// Applies it to the dialog's item 11 (from its player list, item 6).
void enable_teams_button_if_appropriate(dialog_data *dialog);

// Rebuilds the dialog's player list (item 6) from the game layer's list:
// sorted, appearances arbitrated; marks the game item (2) dirty.  A
// negative count does nothing.
void refresh_netgame_player_list(dialog_data *dialog, int16_t count);

// The host: new seeds in its description (the fixed ones, when
// fix_network_game_seeds was called), sent to everybody, made current.
void synchronize_game_description(void);
// The host's games of this process take these seeds rather than fresh draws:
// a headless host given its seed on the command line replays the same game.
void fix_network_game_seeds(uint32_t random_seed, int16_t initial_team_random_seed);
// A client while the game is configured: a description packet (host order)
// from the host becomes the current description.
void handle_vesk_game_description_packet(void *packet);
// After the current description changed, while the set-up dialog shows:
// shown, plug-in tab, and a client that cannot play it stops being ready
// and leaves.
void handle_game_description_updated(void);

// Whether this program can play the described game: its version (2151 ..
// 2199, and not the obsolete 2180 build 0) naming rules this program knows
// (identifier and patch bits), with `check_checksum` and a
// lobby connection its tags' checksum, and its plug-ins installed.  The
// reason (when `reason` is given) says why not.
bool is_net_game_valid(const net_game_description *description, bool check_checksum, char *reason,
                       size_t reason_size);
