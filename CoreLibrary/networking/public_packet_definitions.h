#pragma once
// The status packets the client side of the networking library hands the
// game through its "client status" queue: in host order, never on the wire.
// Header: `what` = kNetLibPacketBit | type, `to` the local player id, `from`
// kSendToServer, `id` 0.

#include <cstdint>

enum public_packet_type
{
    _player_added_packet_public,        // name (32 bytes), player id (s16), player data
    _player_deleted_packet_public,      // player id (s16); 10 bytes
    _player_left_game_packet_public,    // nothing: the local player left or lost the game; 8 bytes
    _player_data_changed_packet_public, // player id (s16), data length (s16), data
    _game_data_packet_public,           // data length (s16), data
    NUMBER_OF_PUBLIC_PACKET_TYPES,
};

enum
{
    PLAYER_ADDED_PUBLIC_NAME_OFFSET = 8,
    PLAYER_ADDED_PUBLIC_NAME_SIZE = 32,
    PLAYER_ADDED_PUBLIC_PLAYER_ID_OFFSET = 40,
    PLAYER_ADDED_PUBLIC_DATA_OFFSET = 42,
    PUBLIC_PLAYER_ID_OFFSET = 8,                    // deleted and data changed
    PLAYER_DATA_CHANGED_PUBLIC_LENGTH_OFFSET = 10,
    PLAYER_DATA_CHANGED_PUBLIC_DATA_OFFSET = 12,
    GAME_DATA_PUBLIC_LENGTH_OFFSET = 8,
    GAME_DATA_PUBLIC_DATA_OFFSET = 10,
};
