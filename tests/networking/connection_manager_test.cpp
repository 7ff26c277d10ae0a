// The connection manager on loopback (127.0.0.1, ports chosen free by the
// system), with the probe's small game record standing for the library's
// roles and raw sockets for the remote machines: admission and its limit,
// corrupt framing, stray datagrams, closes, and the configuration built from
// an address.  Every loop is bounded in turns and in time.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "networking/connection_manager.h"
#include "probe_network_game.h"
#include "support/net_peers.h"
#include "support/wire_packets.h"

namespace connection_manager_test_file {

namespace {

struct delivered
{
    int16_t player_id;
    std::vector<uint8_t> packet;
};

void keep_packet(void *context, int16_t player_id, const uint8_t *packet, int32_t length)
{
    ((std::vector<delivered> *)context)->push_back({player_id, std::vector<uint8_t>(packet, packet + length)});
}

// A host's listener on 127.0.0.1 through the connection manager.
class connection_manager_host : public ::testing::Test
{
protected:
    probe_network_game game;
    std::vector<delivered> packets;
    uint16_t port = 0;

    void SetUp(void) override
    {
        InitUber();
        register_probe_network_game();
        initialize_connection_manager();
        ASSERT_TRUE(initialize_probe_network_game(&game, true));
    }
    void TearDown(void) override
    {
        dispose_probe_network_game(&game);
        EndUber();
        EXPECT_EQ(connection_manager_used_context_count(), 0);
    }
    void listen(int32_t mode)
    {
        ProtocolConfig *config = nullptr;
        ASSERT_EQ(ProtocolCreateConfig(kModuleID, NETWORK_GAME_ID, "Host", nullptr, 0, nullptr, &config), 0);
        config->configuration_data->connectionMode = mode;
        config->configuration_data->host = INADDR_LOOPBACK;
        config->configuration_data->port = 0;
        NMErr error = 1;
        game.listener = open_connection(&game, config, kOpenListen, &error);
        ProtocolDisposeConfig(config);
        ASSERT_EQ(error, 0);
        ASSERT_NE(game.listener, nullptr);
        EXPECT_TRUE(allow_connection_status());
        port = tcp_endpoint_local_port(game.listener->module, _stream_socket);
    }
    // Idles until `done` (checked once per turn) or 400 turns.
    template <typename condition> bool idle_until(condition done)
    {
        for (int32_t turn = 0; turn < 400; turn++)
        {
            idle_endpoints(&game);
            take_probe_packets(&game, keep_packet, &packets);
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    int32_t players(void)
    {
        int32_t count = 0;
        for (const probe_player_slot &slot : game.slots) count += slot.player_id != NONE;
        return count;
    }
    Endpoint *endpoint_of(int16_t player_id)
    {
        for (const probe_player_slot &slot : game.slots)
        {
            if (slot.player_id == player_id) return slot.endpoint;
        }
        return nullptr;
    }
};

} // namespace

TEST_F(connection_manager_host, admission_follows_the_limit_and_the_allow_switch)
{
    struct admission_case
    {
        const char *name;
        int32_t maximum_players;
        bool allow;
        int32_t peers;
        int32_t admitted;
    };
    const admission_case cases[] = {
        {"four players: three connections, the fourth is reset", 4, true, 4, 3},
        {"connections not allowed", 16, false, 1, 0},
        {"one player: nobody", 1, true, 1, 0},
    };
    listen(kNMStreamMode);
    for (const admission_case &test : cases)
    {
        SCOPED_TRACE(test.name);
        set_game_maximum_players(test.maximum_players);
        set_allow_connection_status(test.allow);
        std::vector<raw_peer *> peers;
        for (int32_t i = 0; i < test.peers; i++)
        {
            peers.push_back(new raw_peer(port, kNMStreamMode));
            const int32_t expected = std::min(i + 1, test.admitted);
            idle_until([&] { return players() == expected; });
            for (int turn = 0; turn < 20; turn++) idle_endpoints(&game); // a late arrival would show
        }
        EXPECT_EQ(players(), test.admitted);
        for (int32_t i = 0; i < test.peers; i++)
        {
            int error = -1;
            peers[i]->receive(i < test.admitted ? 20 : 1000, &error);
            EXPECT_EQ(error, i < test.admitted ? -1 : ECONNRESET) << "peer " << i;
        }
        for (raw_peer *peer : peers) delete peer;
        EXPECT_TRUE(idle_until([&] { return players() == 0; }));
        EXPECT_EQ(connection_manager_used_context_count(), 0);
    }
}

TEST_F(connection_manager_host, a_corrupt_frame_drops_only_its_connection)
{
    listen(kNMNormalMode);
    raw_peer honest(port, kNMNormalMode), broken(port, kNMNormalMode);
    ASSERT_TRUE(idle_until([&] { return players() == 2; }));
    const int16_t honest_id = 0; // the first to connect
    const std::vector<uint8_t> hello = wire_packet(1, 12, kSendToServer, 0, 0x11);
    honest.send_bytes(hello);
    ASSERT_TRUE(idle_until([&] { return packets.size() == 1; }));
    EXPECT_EQ(packets[0].player_id, honest_id);
    EXPECT_EQ(packets[0].packet, hello) << "the port bytes are never delivered";

    // A length of 0 can never be framed: the connection goes, the other stays.
    broken.send_bytes(wire_packet(1, 0));
    EXPECT_TRUE(idle_until([&] { return players() == 1; }));
    int error = -1;
    for (int turn = 0; turn < 10 && error == -1; turn++) broken.receive(200, &error); // the port bytes first
    EXPECT_TRUE(error == 0 || error == ECONNRESET) << error;

    honest.send_bytes(hello);
    EXPECT_TRUE(idle_until([&] { return packets.size() == 2; }));
    const std::vector<uint8_t> answer = wire_packet(0x8006, 10, 0, kSendToServer, 0x22);
    EXPECT_EQ(send_packet(endpoint_of(honest_id), answer.data(), (uint32_t)answer.size(), kNMBlocking), 10);
    std::vector<uint8_t> received;
    for (int turn = 0; turn < 10 && received.size() < 12; turn++)
    {
        const std::vector<uint8_t> more = honest.receive(100, &error);
        received.insert(received.end(), more.begin(), more.end());
    }
    ASSERT_EQ(received.size(), 12u) << "the host's port, then the packet";
    EXPECT_EQ(std::vector<uint8_t>(received.begin() + 2, received.end()), answer);
}

TEST_F(connection_manager_host, datagrams_on_a_connection_never_reach_its_stream)
{
    listen(kNMNormalMode);
    raw_peer peer(port, kNMNormalMode);
    ASSERT_TRUE(idle_until([&] { return players() == 1; }));
    int error = -1;
    const std::vector<uint8_t> port_bytes = peer.receive(1000, &error);
    ASSERT_EQ(port_bytes.size(), 2u);
    sockaddr_in host{};
    host.sin_family = AF_INET;
    host.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    host.sin_port = htons((uint16_t)(port_bytes[0] << 8 | port_bytes[1]));
    // A well-framed packet sent as datagrams, and plain junk: neither may be
    // taken for stream bytes, and reading them keeps the poll short.
    const std::vector<uint8_t> framed = wire_packet(2, 16, kSendToServer, 0);
    for (int i = 0; i < 200; i++)
    {
        sendto(peer.datagram, framed.data(), framed.size(), 0, (const sockaddr *)&host, sizeof(host));
    }
    idle_until([&] { return false; });
    EXPECT_LE(tcp_last_idle_pass_count(), 2);
    EXPECT_TRUE(packets.empty());
    const std::vector<uint8_t> real = wire_packet(3, 9, kSendToServer, 0, 0x33);
    peer.send_bytes(real);
    ASSERT_TRUE(idle_until([&] { return packets.size() == 1; }));
    EXPECT_EQ(packets[0].packet, real);
    EXPECT_EQ(players(), 1);
}

TEST_F(connection_manager_host, closes_are_counted_once_and_a_closing_connection_takes_nothing)
{
    listen(kNMStreamMode);
    raw_peer peer(port, kNMStreamMode);
    ASSERT_TRUE(idle_until([&] { return players() == 1; }));
    Endpoint *const connection = endpoint_of(0);
    close_connection(connection, true);
    EXPECT_EQ(players(), 0) << "the close completes inside the call";
    EXPECT_EQ(send_packet(connection, "12345678", 8, 0), 0);
    close_connection(connection, true); // only logged
    idle_endpoints(&game);
    close_connection(connection, true);
    EXPECT_EQ(connection_manager_used_context_count(), 0);

    // The listener, too, is forgotten when it closes.
    close_connection(game.listener, true);
    EXPECT_EQ(game.listener, nullptr);
}

TEST(connection_manager, a_client_losing_its_host_leaves_the_game)
{
    InitUber();
    register_probe_network_game();
    initialize_connection_manager();
    probe_network_game game;
    ASSERT_TRUE(initialize_probe_network_game(&game, false));
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, (const sockaddr *)&address, sizeof(address)), 0);
    socklen_t size = sizeof(address);
    getsockname(listener, (sockaddr *)&address, &size);
    ASSERT_EQ(::listen(listener, 1), 0);

    ProtocolConfig *config = create_config_for_internet(kModuleID, "Lobby Game", INADDR_LOOPBACK,
                                                        ntohs(address.sin_port));
    ASSERT_NE(config, nullptr);
    NMErr error = 1;
    game.client_endpoint = open_connection(&game, config, 0, &error);
    ProtocolDisposeConfig(config);
    ASSERT_EQ(error, 0);
    const int host = accept(listener, nullptr, nullptr);
    ASSERT_GE(host, 0);
    const std::vector<uint8_t> packet = wire_packet(0x8006, 12, 0, kSendToServer, 0x44);
    send(host, packet.data(), packet.size(), MSG_NOSIGNAL);
    close(host);
    std::vector<delivered> packets;
    for (int turn = 0; turn < 400 && game.client_endpoint; turn++)
    {
        idle_endpoints(&game);
        take_probe_packets(&game, keep_packet, &packets);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(game.client_endpoint, nullptr);
    ASSERT_EQ(packets.size(), 1u) << "mode 2: the stream starts with the first packet";
    EXPECT_EQ(packets[0].packet, packet);
    EXPECT_EQ(connection_manager_used_context_count(), 0);
    close(listener);
    dispose_probe_network_game(&game);
    EndUber();
}

TEST(connection_manager, the_configuration_for_an_address_is_golden)
{
    InitUber();
    struct config_case
    {
        const char *game_name;
        uint32_t address;
        uint16_t port;
        const char *text; // null: refused
    };
    const config_case cases[] = {
        {"Skirmish", 0x0A000001, 3453,
         "type=1231971700\tversion=256\tgameID=1986360171\tgameName=Skirmish\tmode=2\tIPaddr=10.0.0.1\tIPport=3453"},
        {"", 0xC0000202, 65535,
         "type=1231971700\tversion=256\tgameID=1986360171\tgameName=\tmode=2\tIPaddr=192.0.2.2\tIPport=65535"},
        {"x\tmode=3", 0x0A000001, 3453, nullptr},
        {"a name well beyond the thirty-one characters of a game", 0x0A000001, 3453, nullptr},
    };
    for (const config_case &test : cases)
    {
        SCOPED_TRACE(test.game_name);
        ProtocolConfig *config = create_config_for_internet(kModuleID, test.game_name, test.address, test.port);
        if (!test.text)
        {
            EXPECT_EQ(config, nullptr);
            continue;
        }
        ASSERT_NE(config, nullptr);
        char text[MAXIMUM_CONFIG_LENGTH];
        int32_t length = sizeof(text);
        ASSERT_EQ(ProtocolGetConfigString(config, text, &length), 0);
        EXPECT_STREQ(text, test.text);
        EXPECT_EQ(config->configuration_data->connectionMode, kNMStreamMode);
        ProtocolDisposeConfig(config);
    }
    char name[32];
    NMType type = 0;
    EXPECT_TRUE(net_get_indexed_protocol_name(0, name, sizeof(name), &type));
    EXPECT_STREQ(name, "TCP/IP (Internet)");
    EXPECT_EQ(type, kModuleID);
    EXPECT_FALSE(net_get_indexed_protocol_name(1, name, sizeof(name), &type));
    EndUber();
}

} // namespace connection_manager_test_file
