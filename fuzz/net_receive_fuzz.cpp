// The networking library's receive path on arbitrary streams: bytes poured
// into a client's queue from the host and into a host's queues from three
// remote players (two joined, one not), taken out by net_process as a frame
// does: framing, the packet rules, routing, the byte swap and the library's
// handlers, with a fake game behind them.  The fake game fails the run when
// it is handed a packet the rules should have dropped; the sanitizers catch
// any read or write outside a queue, a packet or a record.
//
// Input: chunks of [target, length, bytes...]; target % 4 picks the client
// (0) or a remote player of the host (1-3), and a frame runs after each
// chunk.  The remote players' connections are stand-ins the connection layer
// does not know: closing one or sending on it does nothing, so they stay.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "game_records.h"
#include "networking/connection_manager.h"
#include "networking/network_transport_hooks.h"
#include "networking/network_constants.h"
#include "networking/public_packet_definitions.h"
#include "networking/tcp_module.h"
#include "networking_procedures.h"
#include "vesk_networking/network.h"
#include "vesk_networking/network_hooks.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/network_server.h"
#include "vesk_networking/packet_rules.h"
#include "vesk_networking/vesk_packets.h"

namespace {

constexpr int32_t REMOTE_PLAYERS = 3;

struct fuzz_games
{
    net_game_data *host;
    net_game_data *client;
    // The records as they were before any input, restored before each.
    server_data server;
    client_data host_client;
    client_data client_client;
    uint64_t stand_in_connections[REMOTE_PLAYERS]; // addresses only, never read
} games;

void fake_game(void *packet_pointer)
{
    const uint8_t *const packet = (const uint8_t *)packet_pointer;
    const net_message_header *const header = (const net_message_header *)packet;
    if (header->what & kNetLibPacketBit)
    {
        if (check_received_packet(_received_status, header->what, header->messageLen, header->to, header->from, 0) !=
            _packet_accepted)
        {
            abort();
        }
        return;
    }
    if (!vesk_packet_size_is_valid(header->what, header->messageLen)) abort();
    // What the game will do with it: its extractors read within the packet.
    switch (header->what)
    {
    case _chat_packet:
        if (const char *text = extract_text_from_chat_packet(packet))
        {
            char decoded[MAXIMUM_SINGLE_PACKET_SIZE];
            decode_chat_text(text, decoded, sizeof(decoded));
        }
        break;
    case _ping_packet:
    {
        uint16_t latencies[MAXIMUM_PING_LATENCIES];
        extract_ping_packet_latencies(latencies, (int16_t)((header->messageLen - PING_FIXED_SIZE) / 2), packet);
        break;
    }
    case _begin_game_midgame_packet:
    {
        new_player_data players[MAXIMUM_MIDGAME_PLAYERS];
        extract_players_from_begin_game_midgame_packet(packet, players, MAXIMUM_MIDGAME_PLAYERS);
        break;
    }
    default: break;
    }
}

const char *message_text(int16_t) { return "message %d"; }

net_game_data *enter(void)
{
    return net_enter(0, DEFAULT_NET_QUEUE_SIZE, DEFAULT_NET_QUEUE_SIZE, fake_game, vesk_packet_byteswapping,
                     (int16_t)sizeof(new_player_data), nullptr, message_text, nullptr);
}

// A host on a loopback listener with its own player and three remote
// players; a client with no connection that has joined as player 1.
bool set_up(void)
{
    register_network_transport_hooks();
    start_network_module_manager();
    register_network_hooks();
    games.host = enter();
    games.client = enter();
    ProtocolConfig *config = nullptr;
    if (!games.host || !games.client ||
        ProtocolCreateConfig(kModuleID, NETWORK_GAME_ID, "fuzz", nullptr, 0, nullptr, &config))
    {
        return false;
    }
    config->configuration_data->host = 0x7F000001;
    config->configuration_data->host_name[0] = 0;
    config->configuration_data->port = 0;
    config->configuration_data->connectionMode = 2;
    char failure[256];
    const new_player_data player = {};
    const bool hosting = create_game(games.host, config, "", false, failure, sizeof(failure)) &&
                         join_game(games.host, nullptr, "host", "", &player, sizeof(player), failure,
                                   sizeof(failure), true);
    ProtocolDisposeConfig(config);
    if (!hosting) return false;
    for (int32_t index = 0; index < REMOTE_PLAYERS; index++)
    {
        const int16_t player_id = get_next_player_id(games.host);
        if (add_player_to_topology(games.host, "remote", (Endpoint *)&games.stand_in_connections[index], player_id) ==
            NONE)
        {
            return false;
        }
        // The last has connected but not joined.
        const int16_t slot = server_player_id_to_server_players_index(games.host, player_id);
        SET_FLAG(games.host->server->server_players[slot].flags, _server_player_logged_in_flag_bit,
                 index < REMOTE_PLAYERS - 1);
    }
    games.client->state = _net_up;
    games.client->client.state = _client_idle;
    games.client->client.local_player_id = 1;
    games.server = *games.host->server;
    games.host_client = games.host->client;
    games.client_client = games.client->client;
    return true;
}

// Back to the records before any input, every queue empty (the queues keep
// their buffers: only their indexes are in the saved records).
void restore(void)
{
    *games.host->server = games.server;
    games.host->client = games.host_client;
    games.client->client = games.client_client;
    for (net_game_data *game : {games.host, games.client})
    {
        reset_circular_queue(&game->incoming_buffer);
        reset_circular_queue(&game->outgoing_buffer);
        reset_circular_queue(&game->status_buffer);
    }
    for (server_net_player_data &slot : games.host->server->server_players)
    {
        if (slot.player_id == NONE) continue;
        reset_circular_queue(&slot.incoming_buffer);
        reset_circular_queue(&slot.outgoing_buffer);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = set_up();
    if (!ready) abort();
    restore();
    for (size_t at = 0; at + 2 <= size;)
    {
        const int32_t target = data[at] % (REMOTE_PLAYERS + 1);
        const size_t length = data[at + 1] < size - at - 2 ? data[at + 1] : size - at - 2;
        const uint8_t *const bytes = data + at + 2;
        at += 2 + length;
        circular_queue *queue = &games.client->incoming_buffer;
        net_game_data *game = games.client;
        if (target > 0)
        {
            const server_net_player_data &slot = games.server.server_players[target];
            const int16_t index = server_player_id_to_server_players_index(games.host, slot.player_id);
            if (index == NONE) continue;
            queue = &games.host->server->server_players[index].incoming_buffer;
            game = games.host;
        }
        // A peer that sends more than the queue holds is dropped by the
        // connection layer before the library sees it.
        if (!copy_data_into_circular_queue(bytes, (int32_t)length, queue)) continue;
        net_process(game);
    }
    net_process(games.host);
    return 0;
}
