// The networking library's roles in one process: a host made by the library
// with raw peers as remote machines (the join handshake, denials,
// departures, routing, and a hostile peer's packets), and a library client
// facing a raw host (denial texts, a host announcing too many players, the
// join's time-out).  Loopback only; every wait is bounded.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <functional>
#include <thread>

#include "cseries/timers.h"
#include "networking/connection_manager.h"
#include "networking/public_packet_definitions.h"
#include "support/expected_assertions.h"
#include "support/net_library_fixture.h"
#include "support/wire_packets.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/network_server.h"
#include "vesk_networking/vesk_packets.h"

namespace net_library_test_file {

namespace {

std::vector<int16_t> subjects_of(const std::vector<std::vector<uint8_t>> &new_player_packets)
{
    std::vector<int16_t> ids;
    for (const std::vector<uint8_t> &packet : new_player_packets) ids.push_back(packet_int16(packet, 8));
    return ids;
}

size_t count_status(uint16_t type)
{
    size_t count = 0;
    for (const std::vector<uint8_t> &packet : delivered_packets)
    {
        const net_message_header *header = (const net_message_header *)packet.data();
        count += header->what == (kNetLibPacketBit | type);
    }
    return count;
}

// A game packet the host's own game sends to everybody: what an honest
// client keeps receiving whatever a hostile one does.
void host_sends_begin_sync(net_game_data *game)
{
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    ASSERT_EQ(build_begin_sync_data_packet(packet, sizeof(packet), kSendToAllPlayers), 8);
    EXPECT_TRUE(net_send(game, packet, 0));
}

} // namespace

TEST_F(net_host_fixture, three_joiners_get_ids_in_order_and_hear_of_everybody_before_themselves)
{
    const size_t first = join_peer("one"), second = join_peer("two");
    const uint8_t data[3] = {7, 8, 9};
    ASSERT_TRUE(net_set_game_data(game, data, sizeof(data)));
    pump_a_while();
    const size_t third = join_peer("three");

    EXPECT_EQ(subjects_of(library_packets_of(first, 3)), (std::vector<int16_t>{0, 1, 1, 2, 3}));
    EXPECT_EQ(subjects_of(library_packets_of(second, 3)), (std::vector<int16_t>{0, 1, 2, 2, 3}));
    EXPECT_EQ(subjects_of(library_packets_of(third, 3)), (std::vector<int16_t>{0, 1, 2, 3, 3}));
    // The newcomer hears the game data before anybody.
    EXPECT_EQ(packet_what(received[third][0]), 0x8006);
    EXPECT_EQ(received[third][0], bytes_of({0x80, 0x06, 0x00, 0x0B, 3, 254, 0, 0, 7, 8, 9}));
    for (const std::vector<uint8_t> &packet : library_packets_of(third, 3))
    {
        EXPECT_EQ(packet[11] & 1, packet_int16(packet, 8) == 3 ? 1 : 0) << "only its own record is marked";
        EXPECT_EQ(packet[5], 254) << "the host speaks as 254";
    }
    ASSERT_TRUE(pump_until([&] { return net_get_player_count(game) == 4; }));
    pump_a_while(); // the status packets reach the game on the pass after
    char name[32];
    net_get_player_name(game, 2, name, sizeof(name));
    EXPECT_STREQ(name, "two");
    net_get_player_name(game, 9, name, sizeof(name));
    EXPECT_STREQ(name, "<Unknown>");
    EXPECT_EQ(count_status(_player_added_packet_public), 4u);
}

TEST_F(net_host_fixture, a_denied_joiner_is_never_announced_and_its_departure_is_not_told)
{
    host("secret");
    const size_t honest = join_peer("honest", "secret");
    struct denial_case
    {
        const char *password;
        std::vector<uint8_t> body; // after the header
    };
    const denial_case cases[] = {
        {"", {'m', 'e', 's', 's', 'a', 'g', 'e', ' ', '9', 0, 'e', 'r', 'r', 'o', 'r', '=', '9', 0}},
        {"wrong", {'m', 'e', 's', 's', 'a', 'g', 'e', ' ', '1', '0', 0, 'e', 'r', 'r', 'o', 'r', '=', '1', '0', 0}},
    };
    for (const denial_case &test : cases)
    {
        SCOPED_TRACE(test.password);
        const size_t joiner = connect_peer();
        peers[joiner]->send_bytes(raw_join_request("intruder", test.password, player_record(1)));
        ASSERT_TRUE(pump_until([&] { return !library_packets_of(joiner, 4).empty(); }));
        const std::vector<uint8_t> denial = library_packets_of(joiner, 4)[0];
        EXPECT_EQ(std::vector<uint8_t>(denial.begin() + 8, denial.end()), test.body);
        EXPECT_EQ(library_packets_of(joiner, 3).size(), 0u);
        const size_t before = received[honest].size();
        peers[joiner].reset(new raw_peer(-1)); // closes the connection
        ASSERT_TRUE(pump_until([&] { return host_player_count() == 2; }));
        pump_a_while();
        EXPECT_EQ(received[honest].size(), before) << "no announcement, no deletion notice";
    }
}

TEST_F(net_host_fixture, a_departure_is_told_only_about_players_who_had_joined)
{
    const size_t watcher = join_peer("watcher");
    const size_t unjoined = connect_peer();
    const size_t leaver = join_peer("leaver");
    const int16_t leaver_id = id_of_peer(leaver);
    // The connection that never joined is not announced to the newcomer.
    EXPECT_EQ(subjects_of(library_packets_of(leaver, 3)),
              (std::vector<int16_t>{0, id_of_peer(watcher), leaver_id, leaver_id}));
    peers[unjoined].reset(new raw_peer(-1));
    ASSERT_TRUE(pump_until([&] { return host_player_count() == 3; }));
    pump_a_while();
    EXPECT_TRUE(library_packets_of(watcher, 5).empty());
    peers[leaver].reset(new raw_peer(-1));
    ASSERT_TRUE(pump_until([&] { return library_packets_of(watcher, 5).size() == 1; }));
    EXPECT_EQ(library_packets_of(watcher, 5)[0], bytes_of({0x80, 0x05, 0, 10, (uint8_t)id_of_peer(watcher), 254, 0, 0, 0,
                                                            (uint8_t)leaver_id}));
    ASSERT_TRUE(pump_until([&] { return count_status(_player_deleted_packet_public) == 1; }));
    EXPECT_EQ(net_get_player_count(game), 2);
}

TEST_F(net_host_fixture, deleting_the_connections_ends_every_client)
{
    for (const char *name : {"a", "b", "c"}) join_peer(name);
    EXPECT_TRUE(delete_server_connections(game));
    EXPECT_EQ(host_player_count(), 0);
    EXPECT_EQ(net_get_listener_endpoint(game), nullptr);
    for (size_t peer = 0; peer < peers.size(); peer++)
    {
        for (int turn = 0; turn < 100 && !peers[peer]->ended; turn++) peers[peer]->receive_packets(), usleep(1000);
        EXPECT_TRUE(peers[peer]->ended) << peer;
    }
}

// A program out of time (the simulator's wall-clock limit) waits for no
// orderly close: net_exit then closes the rest abortively.
TEST_F(net_host_fixture, a_cancelled_teardown_waits_for_no_close)
{
    for (const char *name : {"a", "b"}) join_peer(name);
    set_net_exit_cancel_check([] { return true; });
    EXPECT_FALSE(delete_server_connections(game));
    set_net_exit_cancel_check(nullptr);
    EXPECT_EQ(host_player_count(), 3);
}

TEST_F(net_host_fixture, packets_are_routed_by_their_address)
{
    const size_t sender = join_peer("sender"), other = join_peer("other");
    const size_t leaver = join_peer("leaver");
    const int16_t sender_id = id_of_peer(sender), other_id = id_of_peer(other), leaver_id = id_of_peer(leaver);
    peers[leaver].reset(new raw_peer(-1));
    ASSERT_TRUE(pump_until([&] { return host_player_count() == 3; }));
    pump_a_while(); // the deletion notices

    struct routing_case
    {
        const char *name;
        std::vector<uint8_t> bytes; // what the sender writes
        bool to_sender, to_other, to_host_game;
    };
    std::vector<uint8_t> stopper = wire_packet(0x8009, 8, kSendToServer);
    const std::vector<uint8_t> chat = wire_packet(_chat_packet, 60, kSendToAllPlayers, 77, 0x41);
    stopper.insert(stopper.end(), chat.begin(), chat.end());
    const routing_case cases[] = {
        {"to everybody, the sender included, with a forged sender", chat, true, true, true},
        {"to one player", wire_packet(_chat_packet, 60, (uint8_t)other_id, 0, 0x42), false, true, false},
        {"to a player who left", wire_packet(_chat_packet, 60, (uint8_t)leaver_id, 0, 0x43), false, false, false},
        {"to the host's game", wire_packet(_request_more_commands_packet, 8, kSendToServer), false, false, true},
        {"a game type of 12", wire_packet(12, 8, kSendToAllPlayers), false, false, false},
        {"library type 9, then a chat handled on a later pass", stopper, true, true, true},
    };
    for (const routing_case &test : cases)
    {
        SCOPED_TRACE(test.name);
        const size_t sender_before = received[sender].size(), other_before = received[other].size();
        delivered_packets.clear();
        peers[sender]->send_bytes(test.bytes);
        pump_a_while(60);
        ASSERT_EQ(received[sender].size(), sender_before + test.to_sender);
        ASSERT_EQ(received[other].size(), other_before + test.to_other);
        const size_t host_game = std::count_if(delivered_packets.begin(), delivered_packets.end(), [](const auto &p) {
            return !(((const net_message_header *)p.data())->what & kNetLibPacketBit);
        });
        EXPECT_EQ(host_game, test.to_host_game ? 1u : 0u);
        if (test.to_other)
        {
            EXPECT_EQ(received[other].back()[5], sender_id) << "the slot's id replaces `from`";
        }
    }
}

TEST_F(net_host_fixture, a_packet_split_over_many_writes_arrives_whole)
{
    const size_t slow = join_peer("slow", "", 4096);
    const int16_t slow_id = id_of_peer(slow);
    const chat_appearance appearance = {"host", 1, 2, 3, 0};
    std::string text(3900, 'x');
    // The peer does not read while the host writes until the sockets are
    // full and the host's queue holds what they refused, cut wherever the
    // socket stopped; then a few more.
    int32_t count = 0, after_held_back = 0;
    bool held_back = false;
    for (int32_t turn = 0; after_held_back < 8 && count < 4000 && turn < 20000; turn++)
    {
        if (net_get_player_client_outgoing_buffer_free_size(game, slow_id) > 4000)
        {
            snprintf(&text[0], 8, "%06d", count);
            text[6] = 'x';
            uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
            ASSERT_GT(build_chat_packet(packet, sizeof(packet), &appearance, (uint8_t)slow_id, 0,
                                        _directed_chat_message, slow_id, text.c_str()),
                      0);
            ASSERT_TRUE(net_send(game, packet, 0));
            count++;
            after_held_back += held_back;
        }
        net_process(game);
        held_back = held_back || net_get_player_client_outgoing_buffer_free_size(game, slow_id) < DEFAULT_NET_QUEUE_SIZE - 1;
    }
    EXPECT_TRUE(held_back);
    ASSERT_TRUE(pump_until([&] { return game_packets_of(slow, _chat_packet).size() == (size_t)count; }));
    int32_t expected = 0;
    for (std::vector<uint8_t> packet : game_packets_of(slow, _chat_packet))
    {
        ASSERT_EQ(packet.size(), (size_t)CHAT_TEXT_OFFSET + 3901);
        vesk_packet_byteswapping(packet.data(), false);
        char decoded[4000];
        decode_chat_text(extract_text_from_chat_packet(packet.data()), decoded, sizeof(decoded));
        EXPECT_EQ(atoi(decoded), expected++);
        EXPECT_EQ(strlen(decoded), 3900u);
    }
    EXPECT_EQ(host_player_count(), 2);
}

TEST_F(net_host_fixture, a_hostile_peer_changes_nothing_and_the_honest_one_keeps_receiving)
{
    const size_t honest = join_peer("honest");
    const int16_t honest_id = id_of_peer(honest);
    struct hostile_case
    {
        const char *name;
        bool joined;
        std::function<std::vector<uint8_t>(void)> bytes;
        bool close_after;
        bool dropped; // the host ends the connection
    };
    const std::vector<uint8_t> other_record = player_record(0x66);
    const hostile_case cases[] = {
        {"library type 0 to everybody", true, [] { auto p = raw_join_request("x", "", player_record(1)); p[4] = 255; return p; }, false, false},
        {"type 5 to 254 naming the host's player", true, [] { return raw_library_packet(5, 254, {0, 0}); }, false, false},
        {"type 3 with the owner flag to the host's player", true,
         [] { return raw_new_player(0, 100, true, "me", player_record(2)); }, false, false},
        {"type 2 with 4088 bytes", true, [] { return raw_library_packet(2, 254, std::vector<uint8_t>(4088, 1)); }, false, false},
        {"type 1 naming another player", true,
         [&] {
             std::vector<uint8_t> body = {0, (uint8_t)honest_id};
             body.insert(body.end(), other_record.begin(), other_record.end());
             return raw_library_packet(1, 254, body);
         },
         false, false},
        {"a second join request", true, [] { return raw_join_request("renamed", "", player_record(4)); }, false, false},
        {"type 1 for itself with 100 bytes", true,
         [&] { return raw_library_packet(1, 254, std::vector<uint8_t>(102, 0)); }, false, false},
        {"type 2 with 10 bytes", true, [] { return raw_library_packet(2, 254, std::vector<uint8_t>(10, 1)); }, false, false},
        {"a chat before the join", false, [] { return wire_packet(_chat_packet, 60, kSendToAllPlayers); }, false, false},
        {"messageLen 0", true, [] { return wire_packet(_chat_packet, 0, kSendToAllPlayers); }, false, true},
        {"messageLen 7", true, [] { return wire_packet(_chat_packet, 7, kSendToAllPlayers); }, false, true},
        {"messageLen 4097", true, [] { return wire_packet(_chat_packet, 4097, kSendToAllPlayers); }, false, true},
        {"messageLen 65535", true, [] { return wire_packet(_chat_packet, 65535, kSendToAllPlayers); }, false, true},
        {"a truncated packet, then a close", true,
         [] { auto p = wire_packet(_chat_packet, 60, kSendToAllPlayers); p.resize(30); return p; }, true, false},
        {"begin sync to everybody", true, [] { return wire_packet(_begin_sync_data_packet, 8, kSendToAllPlayers); }, false, false},
        {"a description to everybody", true, [] { return wire_packet(_vesk_game_description_packet, 600, kSendToAllPlayers); }, false, false},
        {"a configuration broadcast", true, [] { return wire_packet(_configuration_packet, 16, kSendToAllPlayers, 0, 0); }, false, false},
        {"a ping with latencies", true, [] { return wire_packet(_ping_packet, 18, kSendToAllPlayers); }, false, false},
        {"a midgame start to one player", true, [&] { return wire_packet(_begin_game_midgame_packet, 134, (uint8_t)honest_id); }, false, false},
        {"cooperative veterans to everybody", true, [] { return wire_packet(_coop_vets_packet, 48, kSendToAllPlayers); }, false, false},
    };
    for (const hostile_case &test : cases)
    {
        SCOPED_TRACE(test.name);
        const size_t attacker = test.joined ? join_peer("attacker") : connect_peer();
        const int16_t players = host_player_count();
        const size_t honest_before = received[honest].size();
        delivered_packets.clear();
        peers[attacker]->send_bytes(test.bytes());
        if (test.close_after) peers[attacker].reset(new raw_peer(-1));
        pump_a_while(60);

        const bool gone = test.dropped || test.close_after;
        if (gone)
        {
            EXPECT_TRUE(pump_until([&] { return host_player_count() == players - 1; }));
        }
        else
        {
            EXPECT_EQ(host_player_count(), players) << "the attacker stays";
        }
        if (test.dropped)
        {
            EXPECT_TRUE(pump_until([&] { return peers[attacker]->ended; }));
        }
        // Nothing reached the honest player but a deletion notice, and the
        // host's own player, id, record and game data are as they were.
        for (size_t index = honest_before; index < received[honest].size(); index++)
        {
            EXPECT_EQ(packet_what(received[honest][index]), 0x8005) << index;
        }
        EXPECT_EQ(net_get_local_player_id(game), 0);
        EXPECT_NE(net_player_id_to_player_index(&game->server->game_desc, 0), NONE);
        EXPECT_EQ(net_player_id_to_player_index(&game->client.game_desc, 100), NONE);
        EXPECT_EQ(game->server->game_data_length, 0);
        const int16_t honest_slot = server_player_id_to_server_players_index(game, honest_id);
        EXPECT_EQ(game->server->server_players[honest_slot].player_data[0], honest);
        for (const std::vector<uint8_t> &packet : delivered_packets)
        {
            EXPECT_TRUE(((const net_message_header *)packet.data())->what & kNetLibPacketBit)
                << "no game packet reached the host's game";
        }
        host_sends_begin_sync(game);
        EXPECT_TRUE(pump_until([&] { return game_packets_of(honest, _begin_sync_data_packet).size() > 0; }));
        received[honest].clear();
        if (!gone) peers[attacker].reset(new raw_peer(-1));
        ASSERT_TRUE(pump_until([&] { return host_player_count() == 2; }));
        pump_a_while(5);
        received[honest].clear();
    }
}

TEST_F(net_host_fixture, a_seventeenth_player_is_refused_and_closed)
{
    // Joined: a connection that has not joined would make room for the newcomer.
    for (int32_t peer = 0; peer < MAXIMUM_NETWORK_PLAYERS - 1; peer++) join_peer("p" + std::to_string(peer));
    ASSERT_EQ(host_player_count(), MAXIMUM_NETWORK_PLAYERS);
    {
        expected_assertions expect(1, "context->player_id!=NONE");
        peers.push_back(std::make_unique<raw_peer>(port, kNMStreamMode));
        received.emplace_back();
        EXPECT_TRUE(pump_until([&] { return peers.back()->ended; }));
    }
    EXPECT_EQ(host_player_count(), MAXIMUM_NETWORK_PLAYERS);
}

// ---- a library client facing a raw host ---------------------------------------------

namespace {

// A raw host on its own thread: takes one connection, reads the join request
// and answers with `answer` (nothing when empty), then waits for the close.
struct scripted_host
{
    raw_listener listener;
    std::vector<uint8_t> join_request;
    std::thread thread;

    explicit scripted_host(std::vector<uint8_t> answer)
        : thread([this, answer] {
              raw_peer connection(listener.accept_connection(3000));
              for (int turn = 0; turn < 3000 && join_request.empty() && !connection.ended; turn++)
              {
                  std::vector<std::vector<uint8_t>> packets = connection.receive_packets();
                  if (!packets.empty()) join_request = packets[0];
                  else usleep(1000);
              }
              if (!answer.empty()) connection.send_bytes(answer);
              int error = -1;
              for (int turn = 0; turn < 300 && error != 0; turn++) connection.receive(10, &error);
          })
    {
    }
    ~scripted_host() { thread.join(); }
};

struct client_outcome
{
    bool joined;
    std::string failure;
    int16_t players;
};

client_outcome join_scripted_host(const std::vector<uint8_t> &answer, net_progress_procedure progress = nullptr)
{
    net_game_data *const game = enter_test_network_game(progress);
    client_outcome outcome = {false, "", 0};
    if (!game) return outcome;
    {
        scripted_host host(answer);
        ProtocolConfig *config = create_config_for_internet(kModuleID, "Game", 0x7F000001, host.listener.port);
        char failure[64] = "unchanged";
        const std::vector<uint8_t> record = player_record(5);
        outcome.joined = join_game(game, config, "client", "", record.data(), (int32_t)record.size(), failure,
                                   sizeof(failure), false);
        ProtocolDisposeConfig(config);
        outcome.failure = failure;
        outcome.players = net_get_player_count(game);
        net_exit(game);
    }
    EndUber();
    return outcome;
}

std::vector<uint8_t> denial(const std::vector<uint8_t> &body)
{
    std::vector<uint8_t> packet = raw_library_packet(4, 0, body);
    packet[5] = 254;
    return packet;
}

} // namespace

TEST(net_client, denials_give_the_local_text_for_a_reason_index)
{
    struct denial_case
    {
        std::vector<uint8_t> body;
        const char *failure;
    };
    const denial_case cases[] = {
        {{'n', 'o', 0, 'e', 'r', 'r', 'o', 'r', '=', '9', 0}, "message 9"},
        {{'n', 'o', 0, 'e', 'r', 'r', 'o', 'r', '=', '1', '0', 0}, "message 10"},
        {{'n', 'o', 0, 'e', 'r', 'r', 'o', 'r', '=', '1', '1', 0}, "no"},
        {{'f', 'u', 'l', 'l'}, "ful"}, // the last byte is forced to the terminator
        {{'x'}, ""},                   // 9 bytes: no text
        {{}, ""},
    };
    for (const denial_case &test : cases)
    {
        const client_outcome outcome = join_scripted_host(denial(test.body));
        EXPECT_FALSE(outcome.joined) << test.failure;
        EXPECT_EQ(outcome.failure, test.failure);
    }
}

TEST(net_client, a_host_announcing_twenty_players_fills_sixteen_and_the_join_completes)
{
    std::vector<uint8_t> answer;
    for (int16_t id = 1; id <= 20; id++)
    {
        const std::vector<uint8_t> packet = raw_new_player(21, id, false, "p", player_record(1));
        answer.insert(answer.end(), packet.begin(), packet.end());
    }
    const std::vector<uint8_t> own = raw_new_player(21, 21, true, "client", player_record(5));
    answer.insert(answer.end(), own.begin(), own.end());
    const client_outcome outcome = join_scripted_host(answer);
    EXPECT_TRUE(outcome.joined) << outcome.failure;
    EXPECT_EQ(outcome.players, MAXIMUM_NETWORK_PLAYERS);
}

namespace {

uint32_t fake_now = 0;
uint32_t fake_clock(void) { return ++fake_now; } // a millisecond a reading
std::vector<std::pair<int16_t, uint32_t>> progress_calls;
bool record_progress(int16_t operation, const char *, int32_t)
{
    progress_calls.emplace_back(operation, fake_now);
    return false;
}

} // namespace

TEST(net_client, an_unanswered_join_times_out_after_five_seconds_with_the_dialog_from_the_first)
{
    fake_now = 0;
    progress_calls.clear();
    set_machine_tick_count_for_tests(fake_clock);
    const client_outcome outcome = join_scripted_host({}, record_progress);
    const uint32_t ended = fake_now;
    set_machine_tick_count_for_tests(nullptr);
    EXPECT_FALSE(outcome.joined);
    EXPECT_EQ(outcome.failure, "message 2");
    ASSERT_GE(progress_calls.size(), 4u);
    EXPECT_EQ(progress_calls.front().first, 0);
    EXPECT_GE(progress_calls.front().second, 1000u);
    EXPECT_LT(progress_calls.front().second, 1100u);
    EXPECT_EQ(progress_calls[1].first, 5);
    EXPECT_EQ(progress_calls[2].first, 4);
    EXPECT_EQ(progress_calls.back().first, 3);
    EXPECT_GE(progress_calls.back().second, 5000u);
    EXPECT_LT(progress_calls.back().second, 5100u);
    EXPECT_LT(ended, 30000u);
}

TEST_F(net_host_fixture, the_hosts_own_packets_loop_back_without_a_socket)
{
    struct own_case
    {
        uint8_t to;
        int32_t passes_before_delivery; // 0: in the sending frame's pass
    };
    const own_case cases[] = {{kSendToServer, 0}, {0, 1}, {kSendToAllPlayers, 1}};
    for (const own_case &test : cases)
    {
        SCOPED_TRACE(test.to);
        pump_a_while(3);
        delivered_packets.clear();
        uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
        ASSERT_EQ(build_request_more_commands_packet(packet, sizeof(packet), test.to), 8);
        ASSERT_TRUE(net_send(game, packet, 0));
        for (int32_t pass = 0; pass < test.passes_before_delivery; pass++)
        {
            net_process(game);
            EXPECT_TRUE(delivered_packets.empty());
        }
        net_process(game);
        ASSERT_EQ(delivered_packets.size(), 1u);
        EXPECT_EQ(((const net_message_header *)delivered_packets[0].data())->from, 0);
    }
}

} // namespace net_library_test_file
