#pragma once
// What the game's own controls need of networking and of the lobby client,
// which are built later: a game description as the game graphic shows it.
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"

#include "game_records.h" // new_game_parameter_data
#include "lobby_procedures.h"
#include "networking_procedures.h"

enum
{
    NET_GAME_NAME_SIZE = 32, // terminated
    NET_GAME_MAP_NAME_SIZE = 64, // terminated
    NET_GAME_PASSWORD_SIZE = 32, // terminated; empty: none
};

// net_game_description.flags
enum
{
    _net_game_in_progress_flag = 1 << 0,
    _net_game_has_password_flag = 1 << 1,
    _net_game_invalid_flag = 1 << 2,
    _net_game_is_tournament_round_flag = 1 << 3,
    _net_game_is_closed_flag = 1 << 4,
    _net_game_supports_midgame_joining_flag = 1 << 5,
    // A game nobody can join from a list.
    _net_game_disabled_flags = _net_game_in_progress_flag | _net_game_invalid_flag | _net_game_is_closed_flag,
};

// A network game as listed on the local network and by the lobby, and as
// stored in the networking preferences; films show theirs through the same
// record.  Stored and sent big-endian (net_game_description_byte_swapping_data).
// Names may arrive without a terminator: readers bound them.
struct net_game_description
{
    char name[NET_GAME_NAME_SIZE];
    char map_name[NET_GAME_MAP_NAME_SIZE];
    char password[NET_GAME_PASSWORD_SIZE];
    new_game_parameter_data parameters;
    // Either the host's address and ping time, or (a fresh description) the
    // map set's checksum and the gameplay selector: 0 and 0x7FFFFFFF.
    union
    {
        struct
        {
            uint32_t host;
            uint32_t ping_time;
        } address;
        struct
        {
            uint32_t mapset_checksum;
            uint32_t gameplay_selector_value;
        } fresh;
    } host_or_selector;
    uint16_t port; // the host's TCP port
    uint16_t flags; // _net_game_in_progress_flag ...
    uint32_t game_id; // the lobby's
    uint32_t public_tags_checksum;
    uint32_t private_tags_checksum;
    uint8_t player_count;
    uint8_t unused_char;
    uint16_t game_seconds_remaining;
};
static_assert(sizeof(net_game_description) == 712);
static_assert(offsetof(net_game_description, password) == 96);
static_assert(offsetof(net_game_description, parameters) == 128);
static_assert(offsetof(net_game_description, host_or_selector) == 684);
static_assert(offsetof(net_game_description, port) == 692);
static_assert(offsetof(net_game_description, flags) == 694);
static_assert(offsetof(net_game_description, game_id) == 696);
static_assert(offsetof(net_game_description, public_tags_checksum) == 700);
static_assert(offsetof(net_game_description, private_tags_checksum) == 704);
static_assert(offsetof(net_game_description, player_count) == 708);
static_assert(offsetof(net_game_description, game_seconds_remaining) == 710);

extern const byte_swap_code net_game_description_byte_swapping_data[];

// The questions the player list, the icon popup and the game graphic ask
// (latencies, ranked games, buddy status, the lobby's room count) are the
// calls of networking's and the lobby's tables, with their defaults.
