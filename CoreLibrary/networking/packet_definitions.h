#pragma once
// The 8-byte header every packet of the game's protocol starts with, and the
// networking library's own packets.  On the wire every field is big-endian;
// packets are built and handled in host order and converted in place at the
// queue's edge (networking/packet_byteswap.h).

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"

enum : uint16_t
{
    kNetLibPacketBit = 0x8000,  // set in `what`: a library packet
    kNetLibPacketMask = 0x7FFF, // the library packet's type
};

struct net_message_header
{
    uint16_t what;       // packet type; kNetLibPacketBit set for the library's
    uint16_t messageLen; // the whole packet's length, header included: 8 .. 4096
    uint8_t to;          // player id, kSendToServer or kSendToAllPlayers
    uint8_t from;        // the sender's player id, kSendToServer for the host's library
    uint16_t id;         // always 0
};
static_assert(sizeof(net_message_header) == 8);
static_assert(offsetof(net_message_header, what) == 0);
static_assert(offsetof(net_message_header, messageLen) == 2);
static_assert(offsetof(net_message_header, to) == 4);
static_assert(offsetof(net_message_header, from) == 5);
static_assert(offsetof(net_message_header, id) == 6);

// what (2), messageLen (2), to, from, id (2).
extern const byte_swap_code net_message_header_byte_swap_codes[];

// The library's packets on the wire (`what` = kNetLibPacketBit | type).
enum library_packet_type
{
    _join_request_packet,             // client -> host: name, NUL, password, NUL, player data
    _player_data_changed_packet,      // client -> host: player id (s16), player data
    _game_data_changed_packet,        // the host's own client -> host: game data
    _new_player_packet,               // host -> client: player id (s16), flags (u16), name, NUL, player data
    _join_request_denied_packet,      // host -> joiner: text, NUL, optionally "error=%d", NUL
    _server_deleted_player_packet,    // host -> client: player id (s16); 10 bytes
    _game_data_packet,                // host -> client: game data
    _client_connection_closed_packet, // host -> client: nothing; 8 bytes
    NUMBER_OF_LIBRARY_PACKET_TYPES,
};

// Byte offsets of the library packets' bodies.
enum
{
    LIBRARY_PACKET_BODY_OFFSET = 8,   // join request's name, game data, denial text
    LIBRARY_PACKET_PLAYER_ID_OFFSET = 8,
    LIBRARY_PACKET_PLAYER_DATA_OFFSET = 10, // player data changed
    NEW_PLAYER_FLAGS_OFFSET = 10,
    NEW_PLAYER_NAME_OFFSET = 12,
    SERVER_DELETED_PLAYER_PACKET_SIZE = 10,
    CLIENT_CONNECTION_CLOSED_PACKET_SIZE = 8,
};

// The new-player packet's flags.
enum
{
    _sent_new_player_packet_to_owner_flag_bit = 0, // it describes its receiver: its id is the receiver's own
};
