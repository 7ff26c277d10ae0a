// Game packets on arbitrary bytes, as the receive path takes them: a packet
// that passes the size table is swapped to host order and handed to its
// type's extractor.  Nothing may be read outside the packet, and what the
// extractors accept must hold what they promise.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bitmap_dialogs/network_services.h"
#include "game_records.h"
#include "monster_initializers.h"
#include "vesk_networking/vesk_packets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8 || size > 4096) return 0;
    // An exact-size copy, so reading past the packet is caught.
    std::vector<uint8_t> packet(data, data + size);
    const uint16_t what = (uint16_t)(packet[0] << 8 | packet[1]);
    const uint16_t length = (uint16_t)(packet[2] << 8 | packet[3]);
    if (length != size || !vesk_packet_size_is_valid(what, length)) return 0;
    vesk_packet_byteswapping(packet.data(), false);
    switch (what)
    {
    case _chat_packet:
        if (const char *text = extract_text_from_chat_packet(packet.data()))
        {
            char decoded[4096];
            decode_chat_text(text, decoded, sizeof(decoded));
        }
        break;
    case _vesk_game_description_packet:
    {
        net_game_description description = {};
        if (game_description_packet_to_net_game_description(packet.data(), &description) &&
            (strnlen(description.name, sizeof(description.name)) == sizeof(description.name) ||
             strnlen(description.map_name, sizeof(description.map_name)) == sizeof(description.map_name) ||
             description.player_count > 16))
            abort();
        break;
    }
    case _ping_packet:
    {
        uint16_t latencies[16];
        extract_ping_packet_latencies(latencies, (int16_t)((length - 12) / 2), packet.data());
        break;
    }
    case _player_sync_data_packet:
    {
        net_final_state state;
        if (extract_final_state_from_player_sync_data_packet(packet.data(), &state) != (length == 24)) abort();
        break;
    }
    case _coop_vets_packet: import_monster_initializers_from_coop_vets_packet(packet.data()); break;
    case _begin_game_midgame_packet:
    {
        new_player_data players[16];
        const int16_t count = extract_players_from_begin_game_midgame_packet(packet.data(), players, 16);
        if (count != -1 && (count < 1 || count > 16 || length != 10 + 124 * count)) abort();
        break;
    }
    default: break;
    }
    vesk_packet_byteswapping(packet.data(), true);
    return 0;
}
