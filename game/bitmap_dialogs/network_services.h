#pragma once
// What the game's own controls need of networking and of the lobby client,
// which are built later: a game description as the game graphic shows it,
// and the questions the player list, the icon popup and the game graphic ask
// (latencies, ranked games, buddy status, the lobby's room count).
//
// Each question is a registration point: until its owner registers, the
// neutral answer is given (no ping, latency 0, not ranked, no buddy status,
// no rooms).  A slot takes one procedure; a second registration is refused.
// Main thread only.

#include <cstdint>

#include "game_records.h" // new_game_parameter_data

enum
{
    NET_GAME_NAME_SIZE = 32, // terminated
    NET_GAME_MAP_NAME_SIZE = 64, // terminated
};

enum
{
    _net_game_in_progress_flag = 1, // bit 0 of net_game_description.flags
};

// A network game or film as offered to the player.  Networking builds it from
// its own packets; the game graphic only reads it.  Names may arrive without
// a terminator: readers bound them.
struct net_game_description
{
    char name[NET_GAME_NAME_SIZE];
    char map_name[NET_GAME_MAP_NAME_SIZE];
    new_game_parameter_data parameters;
    uint32_t flags; // _net_game_in_progress_flag
};

// ---- networking ----------------------------------------------------------------------

// True when the current network game measures latencies (false until networking registers).
bool networked_game_supports_ping(void);
// The player's latency in milliseconds (0 until networking registers).
int16_t get_player_latency(int32_t player_id);
// True when the game being set up counts as ranked (false until networking registers).
bool enough_players_for_ranked_game(void);

typedef bool (*networked_game_supports_ping_proc)(void);
typedef int16_t (*get_player_latency_proc)(int32_t player_id);
typedef bool (*enough_players_for_ranked_game_proc)(void);
bool register_networked_game_supports_ping_procedure(networked_game_supports_ping_proc procedure);
bool register_get_player_latency_procedure(get_player_latency_proc procedure);
bool register_enough_players_for_ranked_game_procedure(enough_players_for_ranked_game_proc procedure);

// ---- the lobby client -------------------------------------------------------------------

// The buddy status character of a lobby player (0 until the lobby registers).
char get_player_buddy_status(int32_t lobby_player_id);
// The number of lobby rooms (0 until the lobby registers).
int16_t metaserver_room_count(void);

typedef char (*get_player_buddy_status_proc)(int32_t lobby_player_id);
typedef int16_t (*metaserver_room_count_proc)(void);
bool register_get_player_buddy_status_procedure(get_player_buddy_status_proc procedure);
bool register_metaserver_room_count_procedure(metaserver_room_count_proc procedure);
