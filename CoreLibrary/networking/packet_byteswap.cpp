#include "packet_byteswap.h"

#include <cstring>

#include "cseries/cseries.h"
#include "network_constants.h"
#include "packet_definitions.h"

const byte_swap_code net_message_header_byte_swap_codes[] = {
    _begin_bs_array, 1, _2byte, _2byte, _byte, _byte, _2byte, _end_bs_array};

// Per library packet type: the bytes its fixed fields need, and how many
// 16-bit words follow the header (player id, then the new player's flags).
struct library_packet_layout
{
    int16_t minimum_length;
    int16_t swapped_words;
};

static const library_packet_layout library_packet_layouts[NUMBER_OF_LIBRARY_PACKET_TYPES] = {
    {8, 0},  // join request: strings and data stay as they are
    {10, 1}, // player data changed: player id
    {8, 0},  // game data changed
    {12, 2}, // new player: player id, flags
    {8, 0},  // join request denied
    {10, 1}, // server deleted player: player id
    {8, 0},  // game data
    {8, 0},  // client connection closed
};

bool byteswap_packet_norm(net_packet_byteswap_procedure game_byteswap, void *packet, int32_t available,
                          bool to_wire)
{
    if (!VASSERT(packet, "packet")) return false;
    if (available < (int32_t)sizeof(net_message_header))
    {
        LOG_REPEATED("packet not converted: %d bytes hold no header", available);
        return false;
    }
    const uint8_t *bytes = (const uint8_t *)packet;
    uint16_t what, length;
    if (to_wire)
    {
        memcpy(&what, bytes, sizeof(what));
        memcpy(&length, bytes + offsetof(net_message_header, messageLen), sizeof(length));
    }
    else
    {
        what = read_be16(bytes);
        length = read_be16(bytes + offsetof(net_message_header, messageLen));
    }
    if (length < sizeof(net_message_header) || length > available || length > MAXIMUM_SINGLE_PACKET_SIZE)
    {
        LOG_REPEATED("packet of type 0x%04x not converted: %u bytes", (unsigned)what,
                     (unsigned)length);
        return false;
    }
    if (!(what & kNetLibPacketBit))
    {
        if (!VASSERT(game_byteswap, "a game packet without the game's byte swap")) return false;
        game_byteswap(packet, to_wire);
        return true;
    }
    const int32_t type = what & kNetLibPacketMask;
    if (type >= NUMBER_OF_LIBRARY_PACKET_TYPES || length < library_packet_layouts[type].minimum_length)
    {
        LOG_REPEATED("library packet of type %d not converted: %u bytes", (int)type,
                     (unsigned)length);
        return false;
    }
    byte_swap_data("net_message_header", packet, sizeof(net_message_header), 1, net_message_header_byte_swap_codes);
    if (library_packet_layouts[type].swapped_words)
    {
        byte_swap_memory("library packet", (uint8_t *)packet + sizeof(net_message_header),
                         library_packet_layouts[type].swapped_words, _2byte);
    }
    return true;
}
