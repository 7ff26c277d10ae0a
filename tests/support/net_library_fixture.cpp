#include "net_library_fixture.h"

#include <poll.h>

#include <chrono>
#include <cstdio>

#include "networking/connection_manager.h"
#include "networking/tcp_module.h"
#include "vesk_networking/network_hooks.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/network_server.h"
#include "vesk_networking/vesk_packets.h"

std::vector<std::vector<uint8_t>> delivered_packets;

void record_delivered_packet(void *packet)
{
    const net_message_header *const header = (const net_message_header *)packet;
    const uint8_t *const bytes = (const uint8_t *)packet;
    delivered_packets.emplace_back(bytes, bytes + header->messageLen);
}

const char *test_network_message(int16_t index)
{
    static char texts[INTERNAL_NETWORK_MSG_COUNT][32];
    snprintf(texts[index], sizeof(texts[index]), index == 3 ? "message 3 (%%d)" : "message %d", index);
    return texts[index];
}

std::vector<uint8_t> player_record(uint8_t fill) { return std::vector<uint8_t>(NETWORK_PLAYER_DATA_SIZE, fill); }

static uint64_t now_ms(void)
{
    return (uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

net_game_data *enter_test_network_game(net_progress_procedure progress)
{
    InitUber();
    static bool registered = false; // once per process, as the program does
    if (!registered) register_network_hooks();
    registered = true;
    delivered_packets.clear();
    return net_enter(0, DEFAULT_NET_QUEUE_SIZE, DEFAULT_NET_QUEUE_SIZE, record_delivered_packet,
                     vesk_packet_byteswapping, NETWORK_PLAYER_DATA_SIZE, progress, test_network_message, nullptr);
}

uint16_t host_test_game_on_loopback(net_game_data *game, const char *password, const std::vector<uint8_t> &own_record,
                                    std::string *failure)
{
    ProtocolConfig *config = nullptr;
    if (ProtocolCreateConfig(kModuleID, NETWORK_GAME_ID, "Host", nullptr, 0, nullptr, &config) != 0)
    {
        *failure = "no protocol configuration";
        return 0;
    }
    config->configuration_data->connectionMode = kNMStreamMode;
    config->configuration_data->host = 0x7F000001;
    config->configuration_data->port = 0;
    char text[256] = "";
    const bool created = create_game(game, config, password, false, text, sizeof(text));
    ProtocolDisposeConfig(config);
    if (created &&
        join_game(game, nullptr, "Host", password, own_record.data(), (int32_t)own_record.size(), text, sizeof(text), true))
        return tcp_endpoint_local_port(net_get_listener_endpoint(game)->module, _stream_socket);
    *failure = text;
    return 0;
}

void net_host_fixture::SetUp(void) { host(""); }

void net_host_fixture::host(const char *password)
{
    if (game)
    {
        peers.clear();
        received.clear();
        net_exit(game);
        EndUber();
    }
    game = enter_test_network_game();
    ASSERT_NE(game, nullptr);
    std::string failure;
    port = host_test_game_on_loopback(game, password, player_record(0xC0), &failure);
    ASSERT_NE(port, 0) << failure;
    EXPECT_EQ(net_get_local_player_id(game), 0);
    started_ms = now_ms();
}

void net_host_fixture::TearDown(void)
{
    if (game) net_exit(game);
    game = nullptr;
    peers.clear();
    EndUber();
    EXPECT_EQ(connection_manager_used_context_count(), 0);
}

bool net_host_fixture::out_of_time(int32_t turn)
{
    if (turn == 0) started_ms = now_ms();
    return now_ms() - started_ms > 5000;
}

void net_host_fixture::pump_once(void)
{
    net_process(game);
    read_raw_peers(peers, received);
}

void net_host_fixture::pump_a_while(int32_t turns)
{
    for (int32_t turn = 0; turn < turns; turn++) pump_once();
}

size_t net_host_fixture::connect_peer(int receive_buffer)
{
    const int16_t before = host_player_count();
    peers.push_back(std::make_unique<raw_peer>(port, kNMStreamMode, receive_buffer));
    received.emplace_back();
    EXPECT_TRUE(pump_until([&] { return host_player_count() == before + 1; })) << "the connection was not admitted";
    return peers.size() - 1;
}

size_t net_host_fixture::join_peer(const std::string &name, const std::string &password, int receive_buffer)
{
    const size_t peer = connect_peer(receive_buffer);
    peers[peer]->send_bytes(raw_join_request(name, password, player_record((uint8_t)peer)));
    // Joined once the host's announcement of it (its own record, twice) is in.
    EXPECT_TRUE(pump_until([&] {
        size_t own = 0;
        for (const std::vector<uint8_t> &packet : library_packets_of(peer, 3)) own += (packet[11] & 1) != 0;
        return own == 2;
    })) << name << " did not join";
    return peer;
}

int16_t net_host_fixture::id_of_peer(size_t peer)
{
    for (const std::vector<uint8_t> &packet : library_packets_of(peer, 3))
    {
        if (packet[11] & 1) return packet_int16(packet, 8);
    }
    return -1;
}

std::vector<std::vector<uint8_t>> net_host_fixture::library_packets_of(size_t peer, uint16_t type)
{
    std::vector<std::vector<uint8_t>> packets;
    for (const std::vector<uint8_t> &packet : received[peer])
    {
        if (packet_what(packet) == (0x8000 | type)) packets.push_back(packet);
    }
    return packets;
}

std::vector<std::vector<uint8_t>> net_host_fixture::game_packets_of(size_t peer, uint16_t what)
{
    std::vector<std::vector<uint8_t>> packets;
    for (const std::vector<uint8_t> &packet : received[peer])
    {
        if (packet_what(packet) == what) packets.push_back(packet);
    }
    return packets;
}

int16_t net_host_fixture::host_player_count(void) { return game->server->game_desc.player_count; }
