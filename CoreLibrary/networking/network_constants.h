#pragma once
// The limits of the game's network protocol, shared by both ends of every
// connection.

#include <cstdint>

#include "cseries/cseries.h"

enum
{
    MAXIMUM_SINGLE_PACKET_SIZE = 4096, // a whole packet, header included
    MAXIMUM_NETWORK_PLAYERS = 16,
    MAXIMUM_NETWORK_PLAYER_NAME_LENGTH = 31, // without the terminator
    MAXIMUM_NETWORK_PASSWORD_LENGTH = 31,
    MAXIMUM_NETWORK_GAME_NAME_LENGTH = 31,
    NETWORK_MESSAGE_LENGTH = 255,
    MAXIMUM_USER_GAME_DATA_SIZE = 480,
    // The protocol's ceiling for a player's data.  The game's record is far
    // smaller: every player-data path refuses more than
    // NETWORK_PLAYER_DATA_SIZE (packet_construction.h).
    MAXIMUM_USER_PLAYER_DATA_SIZE = 4096,
    NETWORK_PLAYER_DATA_SIZE = 124, // one new_player_data
};

// Addresses in a header's `to` and `from`: player ids 0 to 127 (0 is the
// host's player), or one of these.
enum : uint8_t
{
    kSendToServer = 254,     // the host (as `from`: the host's library speaking as host)
    kSendToAllPlayers = 255, // every player, the sender included
};

// How long the ends of a connection wait for each other (milliseconds of
// machine_tick_count).
enum : int32_t
{
    // A host closes a connection whose join request was not accepted within
    // this (a client gives up its own join after 5000 ms).
    UNJOINED_CONNECTION_LIMIT_MS = 5000,
    // A host drops a player, and a client leaves its host, after hearing
    // nothing from the other end for this long.  While a session is up the
    // host pings every player once a second and each answers, so an honest
    // link is never this quiet.
    NET_SILENCE_LIMIT_MS = 30000,
    NET_SILENCE_LIMIT_FOR_TESTS_MINIMUM_MS = 1000,
};

// The silence limit in force: NET_SILENCE_LIMIT_MS, unless the environment
// variable VESK_TEST_SILENCE_LIMIT_MS (for the process tests only) gives
// another of at least NET_SILENCE_LIMIT_FOR_TESTS_MINIMUM_MS.  Read once.
int32_t net_silence_limit_ms(void);

// The game's identifier in configurations and discovery datagrams, and the
// port a host listens on unless told otherwise.
enum : int32_t
{
    NETWORK_GAME_ID = (int32_t)FOUR_CHARACTER_CODE('v', 'e', 's', 'k'),
    DEFAULT_NETWORK_GAME_PORT = 3453,
};
