// Lobby list packets for tests.  See lobby_list_packets.h.

#include "support/lobby_list_packets.h"

#include <cstring>

#include "game_records.h"

std::vector<uint8_t> list_packet(int16_t type, const std::vector<std::vector<uint8_t>> &entries)
{
    std::vector<uint8_t> packet(METASERVER_PACKET_HEADER_SIZE, 0);
    for (const auto &entry : entries) packet.insert(packet.end(), entry.begin(), entry.end());
    const uint16_t identifier = PACKET_IDENTIFIER;
    const int32_t length = (int32_t)packet.size();
    memcpy(packet.data(), &identifier, 2);
    memcpy(packet.data() + 2, &type, 2);
    memcpy(packet.data() + 4, &length, 4);
    return packet;
}

std::vector<uint8_t> lobby_player_data(const char *name, int16_t state)
{
    player_appearance_data look;
    memset(&look, 0, sizeof(look));
    strcpy(look.name, name);
    strcpy(look.team_name, "Team");
    std::vector<uint8_t> data(MAXIMUM_METASERVER_PLAYER_DATA_SIZE);
    data.resize((size_t)build_metaserver_player_data_from_appearance(data.data(), &look, state));
    return data;
}

std::vector<uint8_t> player_entry(uint32_t id, const std::vector<uint8_t> &data, uint16_t verb, bool prefix,
                                  int16_t declared, int32_t room)
{
    metaserver_player_aux_data aux;
    memset(&aux, 0, sizeof(aux));
    aux.verb = verb;
    aux.player_id = id;
    aux.room_id = room;
    aux.player_data_length = declared != NONE ? declared : (int16_t)data.size();
    std::vector<uint8_t> entry;
    if (prefix) entry.insert(entry.end(), (const uint8_t *)&room, (const uint8_t *)&room + sizeof(room));
    entry.insert(entry.end(), (const uint8_t *)&aux, (const uint8_t *)&aux + sizeof(aux));
    entry.insert(entry.end(), data.begin(), data.end());
    return entry;
}
