// Chat through a host with real peers: each kind of line reaches whom it
// should exactly once, the host stamps every relayed line with its real
// sender's appearance, a delivered line is taken from the host alone, long
// texts are cut; the dot commands answer only to their exact words; the back
// log replays its newest 63 lines oldest first.

#include "support/net_session_fixture.h"

#include <cstring>
#include <string>

#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "support/scratch.h"
#include "game_preferences.h"
#include "networking/network_constants.h"
#include "networking_procedures.h"
#include "cseries/registration.h"
#include "subsystems.h"
#include "vesk_networking/network_server.h"
#include "vesk_networking/vesk_chat.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"

namespace vesk_chat_test_file {

namespace {

enum
{
    CHAT_TYPE_OFFSET = 50,
};

// What a peer read of one chat line: its sender's name and decoded text.
struct seen_line
{
    std::string name, text;
    int16_t type;
};

seen_line read_wire_chat(const std::vector<uint8_t> &packet)
{
    seen_line line;
    line.name.assign((const char *)packet.data() + 8, strnlen((const char *)packet.data() + 8, 32));
    line.type = packet_int16(packet, CHAT_TYPE_OFFSET);
    for (size_t i = CHAT_TEXT_OFFSET; i < packet.size() && packet[i]; ++i)
        line.text.push_back((char)(packet[i] - CHAT_TEXT_SHIFT));
    return line;
}

std::vector<std::string> back_log_texts(void)
{
    std::vector<std::string> texts;
    visit_chat_back_log([](void *context, const chat_entry_record *entry)
                        { ((std::vector<std::string> *)context)->push_back(entry->text); },
                        &texts);
    return texts;
}

class chat_host : public net_setup_host_fixture
{
protected:
    int32_t a = 0, b = 0;

    void SetUp(void) override
    {
        net_setup_host_fixture::SetUp();
        empty_chat_text_log();
        for (const char *name : {"A", "B", "C"}) join_peer(test_net_player(name));
        a = id_of_peer(0);
        b = id_of_peer(1);
        pump_a_while();
        for (size_t peer = 0; peer < peers.size(); ++peer) take_game_packets(peer, _chat_packet);
    }

    // Sends a chat packet from peer `peer` (built in host order, sent in wire order).
    void send_chat(size_t peer, const char *claimed_name, uint8_t to, uint16_t flags, int16_t type,
                   int16_t identifier, const std::string &text)
    {
        send_peer_chat(peer, claimed_name, to, flags, type, identifier, text);
        pump_a_while(30);
    }

    std::vector<seen_line> lines_of(size_t peer)
    {
        std::vector<seen_line> lines;
        for (const std::vector<uint8_t> &packet : take_game_packets(peer, _chat_packet))
            lines.push_back(read_wire_chat(packet));
        return lines;
    }

    void set_captain(int32_t id, int32_t captain)
    {
        new_player_data player = *get_net_player(find_net_player_index(id));
        player.team_captain_identifier = captain;
        update_player_data(&player);
    }
};

// Each kind of line from peer A, who claims to be the host: who receives it
// (peers A, B, C and the host's own player, by its back log), and always
// under A's own name.
TEST_F(chat_host, each_kind_reaches_its_receivers_once_under_the_real_senders_name)
{
    set_captain(b, b);
    set_captain(id_of_peer(2), b);
    pump_a_while();
    struct route
    {
        const char *what;
        int16_t type;
        int32_t identifier; // -2: peer A's id, -3: peer B's id (resolved below)
        int receivers[4];   // A, B, C, host
    };
    const route routes[] = {
        {"broadcast: everybody, the sender included", _broadcast_chat_message, -1, {1, 1, 1, 1}},
        {"directed: the target and the sender", _directed_chat_message, -3, {1, 1, 0, 0}},
        {"directed to oneself: once", _directed_chat_message, -2, {1, 0, 0, 0}},
        {"team from outside: the members and the sender", _team_chat_message, -3, {1, 1, 1, 0}},
        {"directed to the host's player", _directed_chat_message, 0, {1, 0, 0, 1}},
    };
    for (const route &r : routes)
    {
        SCOPED_TRACE(r.what);
        const int32_t identifier = r.identifier == -2 ? a : r.identifier == -3 ? b : r.identifier;
        const size_t logged = back_log_texts().size();
        send_chat(0, "Host", 0, _chat_packet_relay_request_flag, r.type, (int16_t)identifier, r.what);
        for (size_t peer = 0; peer < 3; ++peer)
        {
            const std::vector<seen_line> lines = lines_of(peer);
            ASSERT_EQ(lines.size(), (size_t)r.receivers[peer]) << "peer " << peer;
            for (const seen_line &line : lines)
            {
                EXPECT_EQ(line.name, "A") << "the forged appearance was relayed";
                EXPECT_EQ(line.text, r.what);
                EXPECT_EQ(line.type, r.type);
            }
        }
        EXPECT_EQ(back_log_texts().size() - logged, (size_t)r.receivers[3]) << "the host's own player";
    }

    // A team member speaking to its own team reaches the team once.
    send_chat(2, "C", 0, _chat_packet_relay_request_flag, _team_chat_message, (int16_t)b, "team");
    EXPECT_EQ(lines_of(0).size(), 0u);
    EXPECT_EQ(lines_of(1).size(), 1u);
    EXPECT_EQ(lines_of(2).size(), 1u);
}

// Lines the host must not take as they come: a delivered line a player sends
// itself (it would choose its own appearance), and a text far longer than a
// line, which is relayed whole but kept cut.
TEST_F(chat_host, a_delivered_line_from_a_player_is_dropped_and_long_texts_are_cut)
{
    send_chat(0, "Host", kSendToAllPlayers, 0, _broadcast_chat_message, -1, "I am the host");
    EXPECT_TRUE(back_log_texts().empty()) << "a delivered line not from the host was shown";
    for (size_t peer = 0; peer < peers.size(); ++peer) lines_of(peer); // the library passes it on; clients drop it

    const std::string long_text(3000, 'x');
    send_chat(1, "B", 0, _chat_packet_relay_request_flag, _broadcast_chat_message, -1, long_text);
    const std::vector<seen_line> lines = lines_of(0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, long_text) << "relayed whole";
    const std::vector<std::string> logged = back_log_texts();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], std::string(CHAT_ENTRY_TEXT_SIZE - 1, 'x'));

    // A text without its terminator is no line.
    std::vector<uint8_t> packet = chat_packet_bytes("B", 0, _chat_packet_relay_request_flag, 2, -1, "abc");
    packet.back() = 'z';
    vesk_packet_byteswapping(packet.data(), true);
    send_game_packet(1, _chat_packet, 0, std::vector<uint8_t>(packet.begin() + 8, packet.end()));
    pump_a_while(30);
    EXPECT_TRUE(lines_of(0).empty());
}

// What a dot command says, and whether `line` was one.
std::vector<std::string> notices_of(const char *line, bool *command)
{
    std::vector<std::string> notices;
    *command = run_chat_dot_command(
        line, nullptr, [](void *context, const char *text) { ((std::vector<std::string> *)context)->push_back(text); },
        &notices);
    return notices;
}

class chat_client : public net_session_client_fixture
{
protected:
    void SetUp(void) override
    {
        net_session_client_fixture::SetUp();
        new_player_data host = test_net_player("Hostess"), me = test_net_player("Me");
        host.unique_identifier = 0;
        me.unique_identifier = 3;
        list_players({host, me}, 3);
        const vesk_networking_globals *globals = get_vesk_net_globals();
        set_net_state(_net_configuring_game);
        net_game_description description = globals->current_game_description;
        strlcpy(description.name, "Friday", sizeof(description.name));
        description.parameters.maximum_players = 8;
        description.parameters.random_seed = 77;
        description.parameters.initial_team_random_seed = 5;
        set_net_current_game_description(&description);
    }
};

TEST_F(chat_client, dot_commands_answer_only_their_exact_words)
{
    struct answer
    {
        const char *line;
        bool command;
        std::vector<std::string> notices;
    };
    const answer answers[] = {
        {".count", true, {"Players in game: 2 / 8"}},
        {".host", true, {"Game host: Hostess"}},
        {".seeds", true, {"Random: 77, Team: 5"}},
        {".help", true, {"Available commands: .count, .help, .host, .info, .ping, .plugins, .userid, .version, .vets"}},
        {".userid", true, {"The .userid command can only be used in metaserver hosted games."}},
        {".vets", true, {"You must be the game host to use the .vets command."}},
        {".plugins", true, {"No plugins are currently active."}},
        {".ping", true, {}},
        {".count ", false, {}},
        {".Count", false, {}},
        {" .count", false, {}},
        {"count", false, {}},
        {"", false, {}},
    };
    const uint32_t latencies_shown = get_game_preferences()->flags & _game_pref_show_player_latencies_flag;
    for (const answer &a : answers)
    {
        bool command = false;
        const std::vector<std::string> notices = notices_of(a.line, &command);
        EXPECT_EQ(command, a.command) << "'" << a.line << "'";
        EXPECT_EQ(notices, a.notices) << "'" << a.line << "'";
    }
    EXPECT_NE(get_game_preferences()->flags & _game_pref_show_player_latencies_flag, latencies_shown)
        << ".ping toggles the latencies";
    // ".info" gathers the others, the version last.
    bool command = false;
    const std::vector<std::string> info = notices_of(".info", &command);
    ASSERT_EQ(info.size(), 5u);
    EXPECT_EQ(info[0], "Game name: Friday");
    EXPECT_NE(info[4].find("|i"), std::string::npos);
}

TEST(chat_back_log, replays_the_newest_63_of_a_full_ring_oldest_first)
{
    empty_chat_text_log();
    EXPECT_TRUE(back_log_texts().empty());
    const rgb_color red = {65535, 0, 0, 0};
    for (int i = 0; i < 3; ++i) add_chat_to_back_log(0, "N", &red, std::to_string(i).c_str());
    EXPECT_EQ(back_log_texts(), (std::vector<std::string>{"0", "1", "2"}));
    for (int i = 3; i < 70; ++i) add_chat_to_back_log(0, i % 2 ? nullptr : "N", nullptr, std::to_string(i).c_str());
    const std::vector<std::string> texts = back_log_texts();
    ASSERT_EQ(texts.size(), 63u);
    EXPECT_EQ(texts.front(), "7");
    EXPECT_EQ(texts.back(), "69");
    // A line without a colour keeps the slot's old one.
    EXPECT_EQ(get_chat_back_log()->chat_list[1].player_color.red, 65535);
    EXPECT_STREQ(get_chat_back_log()->chat_list[3].name, "");
    // Names and texts are cut to their fields.
    add_chat_to_back_log(2, std::string(100, 'n').c_str(), &red, std::string(1000, 't').c_str());
    EXPECT_EQ(strlen(get_chat_back_log()->chat_list[6].name), (size_t)CHAT_ENTRY_NAME_SIZE - 1);
    EXPECT_EQ(strlen(get_chat_back_log()->chat_list[6].text), (size_t)CHAT_ENTRY_TEXT_SIZE - 1);
    empty_chat_text_log();
    EXPECT_TRUE(back_log_texts().empty());
    EXPECT_EQ(get_chat_back_log()->index, 0);
}

// A peer changing its record in a loop: the others are sent one
// announcement a period, then its last change, so it cannot fill their queues.
TEST_F(chat_host, a_record_changed_in_a_loop_is_announced_once_a_period_and_its_last_change_then)
{
    new_player_data player = *get_net_player(find_net_player_index(a));
    const auto announced_orders = [this] {
        std::vector<int16_t> orders; // of peer A's record, as peer B was told
        for (const std::vector<uint8_t> &packet : take_game_packets(1, 0x8003))
            if (packet_int16(packet, 8) == a) orders.push_back(packet_int16(packet, (int32_t)packet.size() - 124 + 6));
        return orders;
    };
    announced_orders(); // its joining's
    for (int16_t order = 1; order <= 50; ++order) player.order = order, send_peer_record(0, player);
    pump_a_while(40);
    EXPECT_EQ(announced_orders(), std::vector<int16_t>{1});
    net_session_test_clock += NET_PLAYER_DATA_ANNOUNCE_MS;
    pump_a_while(10);
    EXPECT_EQ(announced_orders(), std::vector<int16_t>{50});
    EXPECT_EQ(get_net_player(find_net_player_index(a))->order, 50);
}

// ---- lines a peer can repeat ------------------------------------------------------

// Each line a peer can make the host write, caused by each of three peers
// (several lines are once per connection already): written once, then
// counted when its period ends, so no flood of it fills the log.
class peer_caused_log_lines;
struct peer_caused_line
{
    const char *name, *text; // the case, and what its line holds
    void (*cause)(peer_caused_log_lines &host, size_t peer, int32_t other_id);
    bool counted = true; // false: a connection's refusal of one reason is logged once, never counted
};

class peer_caused_log_lines : public net_setup_host_fixture, public ::testing::WithParamInterface<peer_caused_line>
{
protected:
    scratch_directory scratch;
    void SetUp(void) override
    {
        net_setup_host_fixture::SetUp();
        net_session_test_clock += 1000000000; // past every period an earlier case began
        flush_repeated_log_lines();
        ASSERT_TRUE(scratch.entered && open_log_file_at("peer.log", "peer-caused lines"));
        for (const char *name : {"A", "B", "C"}) join_peer(test_net_player(name));
    }
    void TearDown(void) override { close_log_file(), net_setup_host_fixture::TearDown(); }

public:
    using net_session_host_fixture::peers, net_session_host_fixture::send_game_packet,
        net_session_host_fixture::send_peer_chat;
};

// Each peer causes the line twice: each peer's is written once, naming it,
// then counted.
TEST_P(peer_caused_log_lines, is_written_once_per_player_and_then_counted)
{
    for (int32_t time = 0; time < 2; ++time)
        for (size_t peer = 0; peer < 3; ++peer)
            GetParam().cause(*this, peer, id_of_peer((peer + 1) % 3)), pump_a_while(30);
    net_session_test_clock += REPEATED_LOG_PERIOD_MS;
    flush_repeated_log_lines();
    const std::string log = read_whole_file("peer.log");
    const size_t counts = GetParam().counted ? 3 : 0;
    EXPECT_EQ(count_of(log, GetParam().text), 3 + counts) << log; // each player's line, then its count
    EXPECT_EQ(count_of(log, "... 1 more in the last 10 s"), counts) << log;
    for (size_t peer = 0; peer < 3; ++peer)
        EXPECT_NE(log.find(std::to_string(id_of_peer(peer))), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(
    lines, peer_caused_log_lines,
    ::testing::Values(
        peer_caused_line{"chat_of_an_unknown_type", "a chat line of unknown type",
                         [](peer_caused_log_lines &host, size_t peer, int32_t) {
                             host.send_peer_chat(peer, "A", 0, _chat_packet_relay_request_flag, 7, NONE, "?");
                         }},
        peer_caused_line{"anothers_player_data", "player data change from",
                         [](peer_caused_log_lines &host, size_t peer, int32_t other) {
                             std::vector<uint8_t> body = {(uint8_t)(other >> 8), (uint8_t)other};
                             body.resize(2 + 124);
                             host.peers[peer]->send_bytes(raw_library_packet(1, 254, body));
                         }},
        peer_caused_line{"a_delivered_line_not_from_the_host", "a delivered chat line not from the host",
                         [](peer_caused_log_lines &host, size_t peer, int32_t) {
                             host.send_peer_chat(peer, "A", 0, 0, _broadcast_chat_message, NONE, "forged");
                         },
                         false},
        peer_caused_line{"a_library_packet_only_the_host_sends", "packet 0x8003 of",
                         [](peer_caused_log_lines &host, size_t peer, int32_t) {
                             host.peers[peer]->send_bytes(raw_library_packet(3, 254, {0, 1, 0, 0, 'x', 0}));
                         },
                         false},
        peer_caused_line{"chat_past_the_share", "not relayed: past its sender's share",
                         [](peer_caused_log_lines &host, size_t peer, int32_t) {
                             host.send_game_packet(peer, _chat_packet, 255, std::vector<uint8_t>(4088, 0));
                         },
                         false}),
    [](const ::testing::TestParamInfo<peer_caused_line> &info) { return std::string(info.param.name); });

// The program's own registration lets the console's player lines reach the
// back log.
TEST(chat_back_log, the_program_registers_it_for_the_consoles_lines)
{
    clear_all_registrations();
    register_built_subsystems();
    EXPECT_EQ(get_networking_procedures()->add_chat_to_back_log, add_console_chat_to_back_log);
    clear_all_registrations();
}

} // namespace

} // namespace vesk_chat_test_file
