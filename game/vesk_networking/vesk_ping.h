#pragma once
// Ping and latency: once a second the host pings every player over the game
// connection and shares the whole table of latencies with everybody, so that
// every machine's player list can show each player's latency.  Players of
// versions 2179 and older are never pinged.
//
// Indexes follow the game layer's player list (vesk_networking.h).  A client
// takes pings only from the host's own player (id 0): nobody else can
// rewrite its table.
//
// Main thread only.

#include <cstdint>

#include "vesk_networking/vesk_networking.h" // MAXIMUM_NET_GAME_PLAYERS

enum
{
    PING_INTERVAL_MS = 1001, // the host pings when at least this long has passed
    PING_SILENCE_MS = 3999, // a player silent longer than this shows no latency
    MINIMUM_PING_VERSION = 2180, // the oldest player version that is pinged
    LATENCY_UNKNOWN = 65535, // unknown or silent
    // The player list's answer for "none yet": the largest value its signed
    // 16-bit latency holds (65535 would read as -1 ms).
    PLAYER_LIST_LATENCY_UNKNOWN = 32767,
};

struct ping_data
{
    uint32_t last_ping_time; // host: machine milliseconds of the last round
    uint32_t last_pong_time[MAXIMUM_NET_GAME_PLAYERS]; // host: of each player's last accepted answer
    uint16_t latency[MAXIMUM_NET_GAME_PLAYERS]; // milliseconds; 0 the host; LATENCY_UNKNOWN
};

// The record (read-only; tests).
const ping_data *get_ping_data(void);
// A new or torn-down session: no latency known, no round sent.
void clear_ping_data(void);

// The host's per-frame call, after idle_game_server: a round of pings when
// PING_INTERVAL_MS have passed.  Anywhere but on the host it is refused
// (assertion) and does nothing.
void idle_ping(void);

// A ping packet (type 9) in host order.  On a client, a ping from player 0 is
// answered at once with a pong to the host carrying the same time, and its
// latencies are taken when it holds one for every listed player.  On the
// host, a pong measures its sender's round trip: the first answer after
// silence sets the latency, later ones smooth it as (3 x old + new) / 4.
void handle_ping_packet(void *packet);

// What networking's table offers the screen and the dialogs (named apart
// from the table's own front functions, which fall back when nothing is
// registered):
// A session is up and the host's player (id 0) is of a version that pings.
bool vesk_ping_supported(void);
// The latency of the listed player with that network id; LATENCY_UNKNOWN
// without a session or when the player is not listed.
uint16_t vesk_ping_player_latency(int32_t player_id);
uint16_t vesk_ping_local_player_latency(void);
// The same for the player list's signed point: PLAYER_LIST_LATENCY_UNKNOWN
// for none, and no value above it.
int16_t vesk_ping_player_list_latency(int32_t player_id);
