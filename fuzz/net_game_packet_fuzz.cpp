// The game layer's dispatcher on arbitrary packets that passed the packet
// rules, as a client takes them from the host (and the host's command server
// takes them from a player): game packets converted from wire order, status
// packets as the library hands them over.  Nothing may crash or read outside
// the packet, and the player list stays within its 16 entries.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cseries/byte_swapping.h"
#include "networking/packet_definitions.h"
#include "vesk_networking/packet_rules.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_server.h"

enum
{
    HISTORY_LIMIT = 1 << 20, // bytes of relayed commands kept before the server starts afresh
};

static bool start_session(void)
{
    return allocate_network_structures_for_game_session(FOUR_CHARACTER_CODE('I', 'n', 'e', 't'));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool session = start_session();
    if (!session || size < 1 + 8 || size > 1 + 4096) return 0;
    const bool to_server = data[0] & 1;
    set_net_state((int16_t)((data[0] >> 1) % NUMBER_OF_VESK_NET_STATES));
    // An exact-size copy, so reading past the packet is caught.
    std::vector<uint8_t> packet(data + 1, data + size);
    const uint16_t what = read_be16(&packet[0]), length = read_be16(&packet[2]);
    const uint8_t to = packet[4], from = packet[5];
    if (length != packet.size()) return 0;
    const bool status = (what & kNetLibPacketBit) != 0;
    const net_packet_receiver receiver =
        status ? _received_status : to_server ? _received_from_joined_player : _received_by_client;
    if (check_received_packet(receiver, what, length, to, from, 0) != _packet_accepted) return 0;
    net_message_header *header = (net_message_header *)packet.data();
    if (status)
    {
        // Status packets are in host order: only the header's words differ here.
        header->what = what;
        header->messageLen = length;
        header->id = 0;
    }
    else
        vesk_packet_byteswapping(packet.data(), false);
    if (to_server && !status)
        handle_game_server_packet(packet.data(), length, to, from);
    else
        handle_packet(packet.data());
    if (get_net_player_count() > MAXIMUM_NET_GAME_PLAYERS) abort();
    if (get_command_history_size() > HISTORY_LIMIT) initialize_game_server_for_new_game();
    return 0;
}
