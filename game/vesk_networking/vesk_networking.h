#pragma once
// The game layer of a network game: the session (its globals and states),
// the per-frame pump, the dispatcher the networking library calls for every
// packet the game receives, and the game layer's player list, kept in step
// with the library's status packets.
//
// A session is one library game (`net_game_data`).  Every machine, the host
// included, sends the commands its local player issues to the host's command
// server (CoreLibrary/vesk_networking/vesk_server.h), which stamps them and
// relays them to every player who has arrived; each machine queues the
// stamped commands and moves its target time.
//
// Main thread only.  Handlers run inside `net_process`, itself called from
// `vesk_net_process`; only the waiting loops (the barriers) call the pump
// again from inside the game layer.

#include <cstddef>
#include <cstdint>

#include "bitmap_dialogs/network_services.h" // net_game_description
#include "game_records.h"                    // new_player_data

struct net_game_data;
struct dialog_data;

enum
{
    MAXIMUM_NET_GAME_PLAYERS = 16, // the game layer's list
    NET_PLAYER_RECORD_SIZE = 124,  // one new_player_data on the wire
    NET_HOST_PLAYER_ID = 0,
    NET_NO_DIALOG_ITEM = -1,
};
static_assert(sizeof(new_player_data) == NET_PLAYER_RECORD_SIZE);

// The session's state (the library's own `net_state` is another enum).
enum vesk_net_state
{
    _vesk_net_down = 0,      // no session
    _net_idle,               // a session, no dialog shows the game
    _net_configuring_game,   // a configuration or endgame dialog shows the game
    _net_game_in_progress,   // from the end of the start barrier to the end of the game
    _vesk_net_coming_down,   // while the session is torn down
    _net_reenter_game,       // between games of one session
    NUMBER_OF_VESK_NET_STATES
};

// join_or_create_new_netgame_session verbs.
enum netgame_session_verb
{
    _netgame_session_direct = 0,  // a game found or given directly (local network)
    _netgame_session_join_lobby,  // join a lobby game
    _netgame_session_host_lobby,  // host a lobby game
};

// The one static record of the session, cleared whole when a session begins.
struct vesk_networking_globals
{
    int16_t state;                 // vesk_net_state
    uint32_t protocol;             // four-character code: 'Inet'
    net_game_data *game;           // the library's game; null without a session
    dialog_data *configure_dialog; // the dialog that shows the game; null when none
    int16_t item_hit_via_network;  // a dialog item a network event asks the dialog to act on; -1: none
    int16_t player_count;          // entries of `players`
    // In order of arrival; each `unique_identifier` is the player's network id
    // (0 .. 127, 0 the host).
    new_player_data players[MAXIMUM_NET_GAME_PLAYERS];
    int32_t player_count_at_game_start;
    new_player_data players_at_game_start[MAXIMUM_NET_GAME_PLAYERS];
    bool game_closed;
    int32_t requested_more_commands_game_time;
    int32_t metaserver_game_id; // -1: not a lobby game
    net_game_description current_game_description;
    net_game_description originator_game_description_mem;
    const net_game_description *originator_game_description; // the host's editable description; else null
    bool current_game_description_changed;
    bool game_description_received; // a client: the host's description has come
    bool endgame_raised;
};

// The record itself, to read (never null).  Only this module writes it: the
// other modules and the tests change it through the calls below.
const vesk_networking_globals *get_vesk_net_globals(void);

// ---- the session's state, written here ---------------------------------------------
// Each sets its field and nothing else.

void set_net_state(int16_t state); // vesk_net_state
void set_net_lobby_game_id(int32_t game_id); // -1: not a lobby game
void set_net_configure_dialog(dialog_data *dialog); // null: none
void set_net_item_hit_via_network(int16_t item); // -1: none
void set_net_game_closed(bool closed);
void set_net_endgame_raised(bool raised);
void set_net_requested_more_commands_game_time(int32_t game_time);
// The first `count` entries of `players` become the list (at most the list's
// size); the entries after them stay as they were.
void set_net_player_list(const new_player_data *players, int16_t count);
// The list's entry at `index` becomes `player` (out of the list: nothing).
void set_net_player(int16_t index, const new_player_data *player);
// As the game started: the count, and `copied` entries of `players` (at most
// the list's size; the entries after them stay as they were).
void set_net_players_at_game_start(const new_player_data *players, int32_t copied, int32_t count);
void set_net_current_game_description(const net_game_description *description);
void set_net_current_game_description_changed(bool changed);
void set_net_game_description_received(bool received);
// The host's editable description becomes a copy of `description`; null: none.
void set_net_originator_game_description(const net_game_description *description);
// The host's own description; null while the host has none (and on a joiner).
// Others change it through the setters here: set_net_originator_game_description
// with an edited copy, or change_net_host_game_option_flags.
const net_game_description *get_net_host_game_description(void);
// Sets the option bits `set`, then clears the bits `clear`, of the host's own
// description.  False, and nothing changed, while the host has none.
bool change_net_host_game_option_flags(uint32_t set, uint32_t clear);
// The description the host edits (its own while it has one, else the current one).
const net_game_description *get_net_edited_game_description(void);
// That description's player count becomes the list's.
void note_net_player_count_in_game_description(void);
// build_vesk_game_description_packet of that description (which sets its
// has-password bit).
uint16_t build_edited_game_description_packet(void *packet, int32_t capacity, uint8_t to);

// ---- the session ------------------------------------------------------------------

// Creates the library game with the game layer's procedures (handle_packet,
// the packet byte swap, 124-byte player records, 16384-byte queues).  False
// (logged) when a session exists or the library refuses.
bool allocate_network_structures_for_game_session(uint32_t protocol);

// Ends the session: unless `force` or the state is not _net_reenter_game
// (then the session is kept), the host's command server is disposed, the
// library game left.  `logout` also logs out of the lobby.
void setdown_network_game_from_old_netgame_session(bool logout, bool force);

// Hosts or joins.  `player` is the local player's record (host order; sent as
// a byte-swapped copy).  Verb 0: a direct game on the local network, hosted
// when the description's host address (first word of its union) is 0, else
// joined at that address and the description's port, in the connection mode
// of the local network (stream and datagram).  Verbs 1 and 2: lobby games.
// Non-zero on success; a failure leaves its text in `failure` (may be null).
int32_t join_or_create_new_netgame_session(net_game_description *description, const new_player_data *player,
                                           uint32_t protocol, int16_t verb, char *failure = nullptr,
                                           size_t failure_size = 0);

// The session's part once the library has joined a game (created by this
// machine or not): the host starts its command server, limits the players
// and keeps `description` as the one it edits and shows; a joiner shows the
// description the host sends, never its own.
void netgame_session_entered(const net_game_description *description);

// ---- queries ------------------------------------------------------------------------

// A session exists (the state is not down).
bool is_vesk_networking(void);
// The lobby's id of this session's game (lobby_procedures.h), or without the
// lobby the id the session was given; -1: not a lobby game.
int32_t netgame_lobby_game_id(void);
// A session exists and this machine is its host.
bool local_player_is_network_originator(void);
bool net_i_am_host_in_netgame_lobby(void);
// The library's local player id; -1 without a session.
int16_t get_local_player_id(void);
// Copies the local player's entry of the list; false (logged) when it is missing.
bool get_local_player(new_player_data *player);
// False with the reason in `message` when no protocol module is available.
bool vesk_networking_available(char *message, size_t message_size);
// Entries of the networking texts ('inmn') and of the library's texts ('inns');
// "" out of range.  NETWORKING_STRING_NOT_CONNECTED: "You are no longer
// connected to the game."
enum { NETWORKING_STRING_NOT_CONNECTED = 20 };
const char *get_networking_string(int16_t index);
const char *get_internal_network_string(int16_t index);
// Removes the player with that network id from the list (later entries move
// up, with their barrier records); unknown ids change nothing.
void remove_player_from_player_list(int32_t player_id);
// Issues the forced-endgame command of `type` once per game.
void force_network_endgame(int16_t type);

// ---- the player list ----------------------------------------------------------------

int16_t get_net_player_count(void);
// The entry at `index`, or null out of range.
const new_player_data *get_net_player(int16_t index);
// The index of the player with network id `player_id`, or -1.
int16_t find_net_player_index(int32_t player_id);

// ---- per frame and per packet --------------------------------------------------------

// The per-frame pump: sends the local player's queued commands to the host's
// command server, asks for more history while joining, runs the host's
// idle work, then lets the library move and deliver packets.
void vesk_net_process(void);
// The dispatcher given to the library: every game and status packet, in
// host order, already checked against the packet rules.
void handle_packet(void *packet);
// Publishes a changed player record (host order); on the host the list entry
// is replaced at once.  The caller's record is left in wire order.
void update_player_data(new_player_data *player);
// A player's record changed (host order): applied while the game is configured.
void handle_player_data_changed(int32_t player_id, const void *record, int32_t length);

// Registers the game layer's procedures (networking table, command verbs,
// the drop-player point).  Once, from register_built_subsystems.
void register_vesk_networking_hooks(void);

// ---- refused packets ------------------------------------------------------------------

// Why the game layer dropped a packet before handling it.
enum game_packet_refusal
{
    _game_refusal_malformed = 0,  // its fields disagree with its length or with each other
    _game_refusal_not_allowed,    // its sender may not send it
    _game_refusal_not_arrived,    // its sender has not arrived in the game
    _game_refusal_unknown_player, // it names a player not in the list
    _game_refusal_wrong_stage,    // the packet rules refuse it in the session's stage
    _game_refusal_undecodable,    // its command's fields do not decode
    _game_refusal_unknown_to_rules, // its command's verb is not in the game's rules
    _game_refusal_unchecked,      // its word about the game is not one the host's record can check
    NUMBER_OF_GAME_PACKET_REFUSALS
};

// Logs `text` once per game, sender and reason; the packet is dropped by
// the caller.  The NET_REFUSED_PACKET_LIMIT-th refusal of a peer within one
// game disconnects it (the host drops a remote player; a client leaves a
// host).
void log_game_packet_refusal(int32_t player_id, int16_t reason, const char *text);
// Starts every sender's refusals anew: each game counts its own, so what a
// long session's games refused never adds up to a drop.
void forget_game_packet_refusals(void);

// Whether this client's host left the game in progress (quit, or its link
// died): the game then ends at the last tick heard from the host, and no end
// barrier follows.  Cleared by the next session.
bool network_game_host_departed(void);
// The host departed by this player's own link falling silent (nothing heard
// within the silence limit, while the others may play on): the player is
// told the connection to the host was lost, and its game ends as left, with
// no Victory or Defeat.
bool network_game_host_link_lost(void);
// On a client the host dropped (it said why before closing the connection):
// the host's reason, worded for the player; else null.  The game then ends
// as one whose host departed.
const char *network_game_dropped_because(void);

// The progress dialog the session's waits use (the library's procedure type):
// true when the player cancelled; a headless run shows none.
bool network_progress(int16_t operation, const char *text, int32_t value);
