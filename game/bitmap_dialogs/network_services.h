#pragma once
// What the game's own controls need of networking and of the lobby client,
// which are built later: a game description as the game graphic shows it.
// Main thread only.

#include <cstdint>

#include "game_records.h" // new_game_parameter_data
#include "lobby_procedures.h"
#include "networking_procedures.h"

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

// The questions the player list, the icon popup and the game graphic ask
// (latencies, ranked games, buddy status, the lobby's room count) are the
// calls of networking's and the lobby's tables, with their defaults.
