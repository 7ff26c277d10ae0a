// The lobby client's readers on arbitrary packets in host order: the list
// walks of every kind, the room entries, the player data and statistics, and
// the chat payload.  Each copy is exact in size, so a read past the packet is
// caught.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "metaserver/metaserver_readers.h"
#include "metaserver/vesk_metaserver_packets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65536) return 0;
    const std::vector<uint8_t> packet(data, data + size);
    const int32_t length = (int32_t)size;
    const uint8_t *p = packet.data();

    room_info room;
    for (int32_t i = 0; get_indexed_room_data_from_packet(p, length, i, &room); ++i)
    {
    }
    char name[32], team[32];
    void (*starts[3])(metaserver_list_walk *, const void *, int32_t) = {start_player_list_walk,
                                                                           start_search_list_walk, start_game_list_walk};
    for (auto start : starts)
    {
        metaserver_list_walk walk;
        start(&walk, p, length);
        int32_t prefix, data_length;
        uint8_t aux[sizeof(metaserver_game_aux_data)];
        while (const uint8_t *entry = next_metaserver_list_entry(&walk, &prefix, aux, &data_length))
        {
            if (entry < p || entry + data_length > p + length) abort();
            parse_metaserver_player_data(entry, data_length, name, sizeof(name), team, sizeof(team));
        }
    }
    metaserver_player_aux_data aux;
    int32_t data_length;
    if (const uint8_t *player = get_player_data_from_metaserver(p, length, &data_length, &aux))
        parse_metaserver_player_data(player, data_length, name, sizeof(name), team, sizeof(team));
    static metaserver_player_stats stats;
    build_metaserver_player_stats_from_player_info_packet(&stats, p, length);

    std::vector<uint8_t> payload(packet);
    char text[256];
    if (byteswap_metaserver_packet(payload.data(), length, false))
    {
        extract_message_from_vesk_metaserver_chat_packet(payload.data(), length, text, sizeof(text));
        extract_player_name_from_vesk_metaserver_chat_packet(payload.data(), length, name, sizeof(name));
    }
    return 0;
}
