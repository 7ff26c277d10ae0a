// A host of the test's own making sends a real vesk_sim joiner what no honest
// host sends: the joiner logs one refusal, reaches no assertion, and leaves a
// host that keeps sending such packets, well within its limits.

#include <poll.h>

#include "support/malformed_commands.h"
#include "support/net_game_processes.h"
#include "support/net_peers.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"
#include "bitmap_dialogs/network_services.h"
#include "cseries/tags.h"
#include "determinism_harness.h"
#include "networking/network_constants.h"
#include "vesk_networking/packet_rules.h"
#include "vesk_networking/vesk_packets.h"

namespace hostile_host_processes_test_file {

namespace
{
constexpr int32_t PROCESS_LIMIT_MS = 60000;

// A game packet from the host's player 0 to everybody.
std::vector<uint8_t> host_packet(uint16_t what, std::vector<uint8_t> body)
{
    const uint16_t size = (uint16_t)(8 + body.size());
    body.insert(body.begin(), {(uint8_t)(what >> 8), (uint8_t)what, (uint8_t)(size >> 8), (uint8_t)size, 255, 0, 0, 0});
    return body;
}

// The joiners and the raw host in a network of their own (as before any
// thread starts), so that a joiner's own port is never another case's; where
// the system refuses, a joiner that could not connect is started again.
class hostile_host_processes : public vesk_sim_fixture
{
protected:
    void SetUp() override
    {
        std::string why;
        (void)enter_own_network(&why);
        vesk_sim_fixture::SetUp();
    }
};

TEST_F(hostile_host_processes, a_joiner_refuses_what_a_host_may_not_send_and_leaves_a_host_that_persists)
{
    // The demo game, not cooperative, as the host describes it.
    new_game_data game;
    get_simulation_game_data(string_to_tag("demo"), 7, &game);
    net_game_description description = {};
    description.parameters = game.parameters;
    description.parameters.type = _game_type_networked;
    description.parameters.option_flags &= ~_game_option_cooperative_flag;
    std::vector<uint8_t> described(MAXIMUM_SINGLE_PACKET_SIZE);
    described.resize(build_vesk_game_description_packet(described.data(), (int32_t)described.size(), 1, &description));
    vesk_packet_byteswapping(described.data(), true);
    described[5] = 0; // from the host's player
    std::vector<uint8_t> midgame(2 + 124, 0), record(124, 0);
    midgame[1] = 1, record[36] = CURRENT_VERSION_IDENTIFIER >> 8, record[37] = CURRENT_VERSION_IDENTIFIER & 0xFF; // one player; the version
    const struct
    {
        bool described;
        std::vector<uint8_t> packet;
        const char *refusal; // the log's one line
    } cases[] = {
        {true, host_packet(_server_command_packet, {0, 1}), "dropped: wrong direction"},
        {false, host_packet(_begin_sync_data_packet, {}), "(not in this stage of the game): a barrier begin"},
        {true, host_packet(_begin_game_midgame_packet, midgame), "(not in this stage of the game): a mid-game start"},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.refusal);
        raw_listener listener;
        vesk_sim_process client;
        // A joiner that could not connect (its own port taken by another
        // test's process) is started again, at most twice.
        int accepted = -1;
        for (int32_t attempt = 0; attempt < 3 && accepted < 0; ++attempt)
        {
            if (attempt > 0) remove_directory_tree(client.directory.c_str());
            client.exit_code = -1;
            ASSERT_TRUE(client.start(bin, directory, {"--net-join", "127.0.0.1:" + std::to_string(listener.port),
                                                      "--ticks", "300", "--wall-limit", "40"}));
            for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 100 && accepted < 0 && !client.wait(0); ++turn)
                accepted = listener.accept_connection(100);
            if (accepted < 0) accepted = listener.accept_connection(0);
            if (accepted < 0 && !client.wait(0)) break; // neither connected nor ended
        }
        ASSERT_GE(accepted, 0) << client.log();
        raw_peer host(accepted);
        host.port_bytes_pending = true; // each side's datagram port comes first
        host.send_bytes({0, 0});
        bool joined = false;
        for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 20 && !host.ended && !client.wait(0); ++turn)
        {
            pollfd ready = {host.stream, POLLIN, 0};
            poll(&ready, 1, 20);
            for (const std::vector<uint8_t> &packet : host.receive_packets())
            {
                if (packet_what(packet) != 0x8000 || joined) continue;
                joined = true;
                host.send_bytes(raw_new_player(1, 0, false, "host", record));
                host.send_bytes(raw_new_player(1, 1, true, "client", record));
                if (c.described) host.send_bytes(described);
                for (int32_t sent = 0; sent < NET_REFUSED_PACKET_LIMIT; ++sent) host.send_bytes(c.packet);
            }
        }
        EXPECT_TRUE(joined && host.ended) << "the joiner stayed with the host";
        ASSERT_TRUE(client.wait(PROCESS_LIMIT_MS));
        const std::string log = client.log();
        const size_t first = log.find(c.refusal);
        EXPECT_NE(first, std::string::npos) << log;
        EXPECT_EQ(log.find(c.refusal, first + 1), std::string::npos) << "logged more than once";
        EXPECT_NE(log.find("refused packets: leaving the host"), std::string::npos) << log;
        for (const char *assertion : {"vassert", "halt"}) EXPECT_EQ(log.find(assertion), std::string::npos) << log;
    }
}
// A host of the test's making relays one malformed command to a joiner, each
// kind to a joiner of its own, a few at a time: with assertions fatal, each
// joiner says why in its log and leaves the host, asserting nothing.
TEST_F(hostile_host_processes, a_joiner_leaves_a_host_that_relays_a_command_that_does_not_decode)
{
    constexpr size_t AT_ONCE = 6; // joiners starting together must each answer within the join limit
    std::vector<uint8_t> record(124, 0);
    record[36] = 2182 >> 8, record[37] = 2182 & 0xFF;
    struct session
    {
        command_shape shape;
        raw_listener listener;
        vesk_sim_process client;
        std::unique_ptr<raw_peer> host;
        bool joined = false;
    };
    const std::vector<command_shape> shapes = malformed_commands();
    for (size_t first = 0; first < shapes.size(); first += AT_ONCE)
    {
        std::vector<std::unique_ptr<session>> sessions;
        setenv("VESK_FATAL_ASSERTIONS", "1", 1);
        for (size_t i = first; i < shapes.size() && i < first + AT_ONCE; ++i)
        {
            sessions.emplace_back(new session{shapes[i], {}, {}, nullptr});
            session &s = *sessions.back();
            ASSERT_TRUE(s.client.start(bin, directory, {"--net-join", "127.0.0.1:" + std::to_string(s.listener.port),
                                                        "--ticks", "300", "--wall-limit", "40"}));
        }
        unsetenv("VESK_FATAL_ASSERTIONS");
        const auto all_ended = [&] {
            for (const auto &s : sessions)
                if (!s->client.wait(0)) return false;
            return true;
        };
        for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 10 && !all_ended(); ++turn)
        {
            for (const auto &s : sessions)
            {
                if (!s->host)
                {
                    const int accepted = s->listener.accept_connection(0);
                    if (accepted < 0) continue;
                    s->host.reset(new raw_peer(accepted));
                    s->host->port_bytes_pending = true; // each side's datagram port comes first
                    s->host->send_bytes({0, 0});
                }
                for (const std::vector<uint8_t> &packet : s->host->receive_packets())
                {
                    if (packet_what(packet) != 0x8000 || s->joined) continue;
                    s->joined = true;
                    s->host->send_bytes(raw_new_player(1, 0, false, "host", record));
                    s->host->send_bytes(raw_new_player(1, 1, true, "client", record));
                    std::vector<uint8_t> command = s->shape.bytes;
                    command[3] = 0; // the host's player, stamped at tick 0
                    s->host->send_bytes(host_packet(_command_packet, command));
                }
            }
            poll(nullptr, 0, 10);
        }
        for (const auto &s : sessions)
        {
            SCOPED_TRACE(s->shape.name);
            ASSERT_TRUE(s->client.wait(PROCESS_LIMIT_MS));
            EXPECT_TRUE(s->joined);
            const std::string log = s->client.log();
            const size_t said = log.find("that does not decode");
            EXPECT_NE(said, std::string::npos) << log;
            EXPECT_EQ(log.find("that does not decode", said + 1), std::string::npos) << log;
            for (const char *assertion : {"vassert", "halt", "assertions are fatal"})
            {
                EXPECT_EQ(log.find(assertion), std::string::npos) << log;
                EXPECT_EQ(s->client.err().find(assertion), std::string::npos) << s->client.err();
            }
        }
    }
}
} // namespace

} // namespace hostile_host_processes_test_file
