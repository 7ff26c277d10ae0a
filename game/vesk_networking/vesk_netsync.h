#pragma once
// The start and end barrier of a network game: the host tells everybody to
// begin, each player reports in, the host confirms everybody to everybody;
// only then does the host start its command clock, so that tick 0 means the
// same moment everywhere.  Also who may start a game and the ready marks.
//
// Every wait is bounded by netsync_timeout_ms() of `machine_tick_count` and
// pumps the network (`vesk_net_process`).  A player the host has not heard
// from within that bound is dropped and the others go on.  Main thread only.

#include <cstdint>

#include "vesk_networking/vesk_packets.h" // net_final_state

struct command_packet_history_entry;
struct net_game_data;

enum
{
    // Six silence limits (NET_SILENCE_LIMIT_MS): a player that is heard from
    // but does not answer the barrier is dropped after this.
    NETSYNC_TIMEOUT_MS = 180000,
    NETSYNC_PROGRESS_DELAY_MS = 1000, // no progress dialog for a barrier this short
    // The first program version (a record's `version`) that reports a drift
    // to the host and takes the host's notice of one.
    DRIFT_NOTICE_MINIMUM_VERSION = 2185,
    // Message indexes of the networking texts ('inmn').
    _netsync_end_message_index = 5,
    _netsync_start_message_index = 6,
    _netsync_waiting_for_player_message_index = 4,
};

// One entry per entry of the game layer's player list (same index).
struct vesk_sync_player_data
{
    bool arrived; // the host has its report: it receives live commands
    command_packet_history_entry *command_history_to_send; // mid-game join: the next entry to send
    bool wants_more_commands;
    // The end barrier: the final state its report carried (the host's).
    bool final_state_reported;
    net_final_state final_state;
};

struct vesk_sync_data_s
{
    bool originator_told_us_to_begin;
    vesk_sync_player_data players_data[16];
    bool client_received_player_sync_data[16];
    uint32_t number_of_dropped_players_during_netsync;
    uint32_t netsync_dropped_player_ids[16];
};

// The one record (never null).
vesk_sync_data_s *get_vesk_sync_data(void);
// Clears the whole record (a new session).
void clear_vesk_sync_data(void);
// The list entry `index` left: its records move up with the list.
void remove_vesk_sync_player(int16_t index, int16_t count);
// A new list entry: not arrived, no history, wants nothing.
void clear_vesk_sync_player(int16_t index);

// The host's bound on a barrier: NETSYNC_TIMEOUT_MS, scaled with the silence
// limit in force (net_silence_limit_ms).  A client waits one silence limit
// longer, so that the host's decision reaches it.
int32_t netsync_timeout_ms(void);

// A program without a progress dialog (the simulator) cancels the barrier
// waits through `cancelled` as a player would through the dialog; null: none.
void set_netsync_cancel_check(bool (*cancelled)(void));

// True while the start barrier runs.
bool in_netsync(void);

// The start barrier; the state becomes _net_game_in_progress whatever the
// outcome.  False when the barrier failed (scoring is then not reported).
bool vesk_netsync(void);
// The barrier itself with progress text `message_index`.
bool sync_data_between_players(int16_t message_index);

void handle_begin_sync_data_packet(void *packet);
void handle_player_sync_data_packet(void *packet);
bool send_begin_sync_data_packet(net_game_data *game);
bool send_player_sync_data_packet(net_game_data *game, bool to_host, int16_t player_id_from);

// A player the library reports gone while the start barrier runs.
void note_player_dropped_during_netsync(int16_t player_id);
// Settles the players who left during the start barrier: true when any did.
bool sync_player_lists(void);

bool enough_players_agree_to_start_game(void);
// Registered as the networking table's member (the front call of that name is the
// table's, networking_procedures.h).
bool net_enough_players_for_ranked_game(void);
void i_agree_to_play_persistent(bool persistent);

// The last start barrier failed: the game's scoring is not to be reported.
bool netsync_failed(void);
// The end barrier, in a game in progress: the host's clock stops (no report
// reaching the host during the barrier is then taken for a joiner's) and
// the listed players who never arrived are dropped; then everybody passes
// together and the state becomes idle.  False (logged) when the barrier
// failed or no game was in progress.
bool vesk_netunsync(void);
// The end barrier compares the games' final states: each player reports its
// own to the host, the host confirms its own to each player, and every
// machine whose final state differs from the host's says so (the host too,
// naming the player), in the log and in the chat the endgame dialog shows.
// Only between machines whose records carry data tags (vesk_midgame.h):
// others exchange the barrier's plain packets.
//
// This machine's game ended: its state now is the final state (once per
// game, from the loaded map of a game in progress; nothing otherwise).
void note_network_game_final_state(void);
// The first tick at which the end barrier found a game out of step with the
// host's (the earlier of the two last ticks), NONE when none was.
int32_t network_game_end_drift_tick(void);
// The barrier waits of this session that lasted over NETSYNC_PROGRESS_DELAY_MS
// and so showed their progress (a short wait shows none).
int32_t netsync_waits_shown(void);
// A drift is the drifting machine's alone.  A player whose game left step
// (a sync command or its chain showed it) reports to the host the first
// tick out of step with its seed and state hash there, or its chain of
// state hashes from that tick, and leaves the game.  The host believes the
// report only as far as its own record of that tick checks it: one it
// cannot check (a tick its sync commands never named, one to come, one too
// old) or of the host's very state is refused and counted in the log; one
// that differs makes that player leave (network_player_leaves), named to
// every other player, who plays on.  The host's own drift (its game behind
// its commands) is told to every player, who marks its game out of step
// from that tick.  At the end barrier a player whose final state differs
// from the host's is told, and named to the others.  Only between programs
// of DRIFT_NOTICE_MINIMUM_VERSION or later.
//
// Each pass of the network while a game runs: tells what this machine has
// not told yet (a drift whose first tick is earlier than the last told).
void tell_of_network_game_drift(void);
// The host: player `player_id` leaves the game alone for `reason`
// (player_departure_reason: its game left step, its link fell behind) at
// `tick` (NONE: the current one).
// Said here, told by name to every other player that takes the notice,
// then the player is dropped; the others play on.  Nothing on a client.
void network_player_leaves(int32_t player_id, int32_t reason, int32_t tick);
// The host, after a pass of the network: drops the players that left from
// within a packet's handler, their notices now sent.
void drop_players_who_left(void);
// The host: player `player_id`'s command was refused (its link's share
// while a slow link catches up): that player alone is told.
void tell_player_order_refused(int32_t player_id);
// A game out of step may be left: the host told the players (at once on
// the host), or a player heard the host's notice, or has no host to hear.
bool network_game_drift_told(void);

// A confirmation (flag clear) for `player_id_from` addressed to one player.
bool send_player_sync_data_confirmation(net_game_data *game, uint8_t to, int16_t player_id_from);
