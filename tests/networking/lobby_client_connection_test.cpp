// The lobby client against a scripted service on loopback: the login with
// each password scheme into a room, the state and result of every refusal,
// the room walk past full and silent rooms, the room that goes down, the
// keepalive, and every malformed frame closing the connection.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cseries/timers.h"
#include "bitmap_dialogs/network_services.h"
#include "game_records.h"
#include "iniparser3.0b/inifile.h"
#include "metaserver/metaserver_client.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_preferences.h"
#include "metaserver/metaserver_rooms.h"
#include "metaserver/vesk_metaserver_packets.h"
#include "support/demo_data.h"
#include "support/game_core_fixture.h"
#include "support/lobby_client_fixture.h"
#include "support/lobby_list_packets.h"
#include "support/lobby_script_peer.h"
#include "tag_files/store_fixture.h"
#include "uber/uber.h"
#include "vesk.h"

namespace lobby_client_connection_test_file {

namespace
{

using namespace lobby_client_test;

TEST_F(lobby_client, md5_and_simple_logins_enter_a_room)
{
    for (int16_t type : {2, 1})
    {
        lobby_script_peer room({});
        room.script = lobby_room_welcome();
        lobby_script_peer host(login_host(type, room.room_entry(0)));
        room.start();
        host.start();
        EXPECT_EQ(login(host), _metaserver_game_entered_successfully) << type;
        EXPECT_TRUE(metaserver_connected());
        EXPECT_TRUE(metaserver_connected_to_room());
        EXPECT_EQ(get_metaserver_user_id(), 77);
        // The room's answer follows its login message, on the next frame.
        EXPECT_TRUE(pump_until([] { return get_metaserver_context()->local_player_id == 77u; }));
        EXPECT_EQ(maximum_players_per_metaserver_room(), 40);
        EXPECT_TRUE(vesk_local_folder_disabled()) << "lobby games use the shared data alone";
        logout_of_metaserver();
        EXPECT_FALSE(vesk_local_folder_disabled());
        EXPECT_EQ(host.finish(), "") << type;
        EXPECT_EQ(room.finish(), "") << type;
        EXPECT_EQ(host.body_of(109).size(), type == 2 ? 64u : 16u);
        const std::vector<uint8_t> login_body = host.body_of(100);
        ASSERT_EQ(login_body.size(), 276u);
        EXPECT_EQ(login_body[12] << 8 | login_body[13], 2) << "max_authentication";
        EXPECT_EQ(login_body[8] << 8 | login_body[9], 0xFFFF) << "an anonymous login's user id";
        EXPECT_EQ(std::string((const char *)login_body.data() + 16), "VESK2");
        EXPECT_EQ(std::string((const char *)login_body.data() + 112), "anna");
        const std::vector<uint8_t> room_login = room.body_of(101);
        EXPECT_EQ(std::string(room_login.begin(), room_login.begin() + 4), "ABCD") << "the token, byte for byte";
    }
}

TEST_F(lobby_client, each_refusal_ends_in_its_state_result_and_message)
{
    const struct
    {
        int32_t code;
        int16_t state, result;
    } cases[] = {
        {1, _metaserver_connection_failed_games_not_allowed, _metaserver_game_entered_failure},
        {2, _metaserver_connection_failed_bad_version, _metaserver_game_entered_failure},
        {3, _metaserver_connection_failed_bad_user_or_password, _metaserver_bad_login},
        {6, _metaserver_connection_failed_already_logged_in, _metaserver_retry},
        {12, _metaserver_connection_failed_already_logged_in, _metaserver_retry},
        {14, _metaserver_connection_failed_account_locked, _metaserver_game_entered_failure},
        {15, _metaserver_connection_failed_metaserver_not_supported, _metaserver_game_entered_failure},
        {16, _metaserver_connection_failed_guests_disallowed, _metaserver_bad_login},
        {17, _metaserver_connection_failed_guest_name_taken, _metaserver_bad_login},
    };
    for (const auto &c : cases)
    {
        // The service closes right after its refusal: the refusal still counts.
        lobby_script_peer host(
            concat_steps({lobby_login_opening(), {lobby_send(3, lobby_server_message(c.code, "no")), lobby_close()}}));
        host.start();
        EXPECT_EQ(login(host), c.result) << c.code;
        EXPECT_EQ(get_metaserver_login_final_state(), c.state) << c.code;
        EXPECT_EQ(get_metaserver_context()->state, _metaserver_uninitialized);
        EXPECT_EQ(host.finish(), "") << c.code;
    }
}

TEST_F(lobby_client, a_plaintext_challenge_is_refused_unless_the_power_user_allows_it)
{
    uint8_t salt[16] = {};
    {
        lobby_script_peer host(
            concat_steps({lobby_login_opening(), {lobby_send(6, std::vector<uint8_t>(18, 0)), lobby_wait_for_close()}}));
        host.start();
        EXPECT_EQ(login(host), _metaserver_game_entered_failure);
        EXPECT_EQ(get_metaserver_login_final_state(), _metaserver_connection_failed_metaserver_not_supported);
        EXPECT_EQ(host.finish(), "");
        EXPECT_TRUE(host.body_of(109).empty()) << "no answer leaves the client";
    }
    const char ini[] = "[Net.Lobby]\nAllowPlaintextPassword=1\n";
    ASSERT_TRUE(load_poweruser_settings_from_buffer(ini, sizeof(ini) - 1));
    {
        std::vector<uint8_t> challenge(2, 0);
        challenge.insert(challenge.end(), salt, salt + 16);
        lobby_script_peer host(concat_steps({lobby_login_opening(),
                                       {lobby_send(6, challenge), lobby_expect(109),
                                        lobby_send(3, lobby_server_message(3)), lobby_wait_for_close()}}));
        host.start();
        EXPECT_EQ(login(host), _metaserver_bad_login);
        EXPECT_EQ(host.finish(), "");
        const std::vector<uint8_t> answer = host.body_of(109);
        ASSERT_EQ(answer.size(), 16u);
        EXPECT_STREQ((const char *)answer.data(), "secret");
    }
}

TEST_F(lobby_client, full_and_silent_rooms_are_passed_for_the_next)
{
    lobby_script_peer full({lobby_accept(), lobby_expect(203), lobby_send_key(), lobby_expect(101), lobby_expect(103),
                            lobby_send(3, lobby_server_message(13)), lobby_wait_for_close()});
    lobby_script_peer silent({lobby_accept(), lobby_expect(203), lobby_wait_for_close()});
    lobby_script_peer open({});
    open.script = lobby_room_welcome();
    std::vector<uint8_t> rooms = full.room_entry(2);
    const std::vector<uint8_t> second = silent.room_entry(4), third = open.room_entry(6, _ranked_room);
    rooms.insert(rooms.end(), second.begin(), second.end());
    rooms.insert(rooms.end(), third.begin(), third.end());
    lobby_script_peer host(login_host(2, rooms));
    for (lobby_script_peer *peer : {&full, &silent, &open, &host}) peer->start();

    EXPECT_EQ(login(host), _metaserver_game_entered_successfully);
    EXPECT_EQ(get_metaserver_context()->desired_room, 6);
    EXPECT_TRUE(current_metaserver_room_is_ranked());
    EXPECT_FALSE(metaserver_room_available(2));
    EXPECT_FALSE(metaserver_room_available(4));
    logout_of_metaserver();
    for (lobby_script_peer *peer : {&full, &silent, &open, &host}) EXPECT_EQ(peer->finish(), "");
}

TEST_F(lobby_client, a_room_that_goes_down_is_told_once_then_the_close_once)
{
    lobby_script_peer room({});
    room.script = lobby_room_welcome();
    // The test's request goes out as the login returns; the service then
    // asks for the versions, answered with the next frame.  (Asked before
    // the request, it may be answered during the login, the answer first.)
    room.script.back() = lobby_expect(110);
    room.script.push_back(lobby_send(12));
    room.script.push_back(lobby_expect(115));
    room.script.push_back(lobby_close());
    lobby_script_peer host(login_host(2, room.room_entry(1)));
    room.start();
    host.start();
    ASSERT_EQ(login(host), _metaserver_game_entered_successfully);
    request_full_update_from_metaserver();
    EXPECT_TRUE(pump_until([] { return count_events(_connection_closed_by_metaserver) > 0; }));
    for (int32_t i = 0; i < 20; ++i) update_metaserver();
    EXPECT_EQ(count_events(_metaserver_room_went_down), 1);
    EXPECT_EQ(count_events(_connection_closed_by_metaserver), 1);
    EXPECT_TRUE(metaserver_connection_died(false));
    EXPECT_EQ(host.finish(), "");
    EXPECT_EQ(room.finish(), "");
    const std::vector<uint8_t> versions = room.body_of(115);
    ASSERT_EQ(versions.size(), 16u);
    EXPECT_EQ(versions[2] << 8 | versions[3], 300);
    EXPECT_EQ(versions[6] << 8 | versions[7], 2182);
    EXPECT_EQ(versions[14] << 8 | versions[15], 443);
}

// The pump on its own, with the test's handler and no room change.
class lobby_pump : public lobby_client
{
protected:
    metaserver_context_data context = {};
    void start(lobby_script_peer &service)
    {
        service.start();
        metaserver_login_data login = {};
        strcpy(login.user, "anna");
        strcpy(login.password, "secret");
        context.state = _metaserver_pending_connection;
        ASSERT_TRUE(start_metaserver_connection("127.0.0.1", service.listener.port, record_event, &login, &context));
    }
};

TEST_F(lobby_pump, a_keepalive_goes_out_only_after_180_seconds_of_silence_and_every_keepalive_is_answered)
{
    clock_held = true;
    held_clock = 1000;
    lobby_script_peer service(concat_steps({lobby_login_opening(),
                                      {lobby_expect(200), lobby_expect(202), lobby_send(202), lobby_expect(202),
                                       lobby_close()}}));
    start(service);
    ASSERT_TRUE(pump_until([&] { return !service.body_of(100).empty(); }));
    held_clock = 101000;
    const uint8_t chat[4] = {1, 2, 3, 4};
    room_broadcast_data(chat, sizeof(chat));
    held_clock = 250000; // 249 s after the login, 149 s after the broadcast
    ASSERT_TRUE(pump_until([&] { return !service.body_of(200).empty(); }));
    for (int32_t i = 0; i < 50; ++i) update_metaserver();
    EXPECT_TRUE(service.body_of(202).empty()) << "a keepalive within 180 s of the broadcast";
    held_clock = 281001;
    EXPECT_TRUE(pump_until([&] { return service.script_done; }));
    EXPECT_EQ(service.finish(), "");
}

// The receive queue holds the largest packet the docs allow: a player list
// of nearly 128 KB and the packet after it both reach the handler whole, the
// connection open, whatever the socket hands over at once.
TEST_F(lobby_pump, a_player_list_of_nearly_the_largest_size_and_the_packet_after_it_are_both_received)
{
    std::vector<std::vector<uint8_t>> entries;
    size_t length = METASERVER_PACKET_HEADER_SIZE;
    for (uint32_t id = 1;; ++id)
    {
        std::vector<uint8_t> entry = player_entry(id, lobby_player_data("a player of a crowded room"));
        // Encoded (24 bytes more) it stays within the documented 131072.
        if (length + entry.size() > 130847) break;
        length += entry.size();
        entries.push_back(entry);
    }
    std::vector<uint8_t> list = list_packet(_player_list_packet, entries);
    ASSERT_GT(list.size(), 130000u);
    ASSERT_TRUE(byteswap_packet(list.data(), (int32_t)list.size(), true));
    const std::vector<uint8_t> body(list.begin() + METASERVER_PACKET_HEADER_SIZE, list.end());
    // A message of the day that does not fit beside the list in 128 KB.
    std::vector<uint8_t> message(2000, 'm');
    message.push_back(0);
    lobby_script_peer service(concat_steps(
        {lobby_login_opening(),
         {lobby_send(3, lobby_server_message(8)), lobby_send(1, body), lobby_send(10, message),
          lobby_wait_for_close()}}));
    start(service);
    // Once the service has the login, the client reads nothing while the
    // service sends (up to 2 s: a socket of small buffers holds the service
    // back): the socket holds both packets when the pump next looks.
    const size_t opened = lobby_login_opening().size();
    ASSERT_TRUE(pump_until([&] { return service.steps_begun > opened; }));
    for (int32_t turn = 0; turn < 2000 && service.steps_begun < opened + 4; ++turn)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(pump_until([] { return count_events(_message_of_the_day_message) > 0; }));
    EXPECT_EQ(count_events(_player_list_message), 1);
    EXPECT_EQ(count_events(_connection_closed_by_metaserver), 0);
    EXPECT_FALSE(metaserver_endpoint_died());
    close_metaserver_connection();
    EXPECT_EQ(service.finish(), "");
}

TEST_F(lobby_pump, the_login_message_ends_the_frames_reading)
{
    lobby_script_peer service(concat_steps({lobby_login_opening(),
                                      {lobby_send(3, lobby_server_message(8)), lobby_send(10, {'h', 'i', 0}),
                                       lobby_wait_for_close()}}));
    start(service);
    ASSERT_TRUE(pump_until([] { return count_events(_message_of_the_day_message) > 0; }));
    ASSERT_EQ(count_events(_connection_established), 1);
    int32_t established = 0, message = 0;
    for (const recorded_event &e : events)
    {
        if (e.event == _connection_established) established = e.frame;
        if (e.event == _message_of_the_day_message) message = e.frame;
    }
    EXPECT_LT(established, message);
    close_metaserver_connection();
    EXPECT_EQ(service.finish(), "");
}

// Every malformed frame closes the connection (a closed event, never a hang
// or a read outside the packet), and the client logs in again afterwards.
TEST_F(lobby_pump, each_malformed_frame_closes_the_connection)
{
    auto header = [](uint16_t identifier, int16_t type, uint32_t length) {
        std::vector<uint8_t> bytes;
        put_be16(bytes, identifier);
        put_be16(bytes, type);
        put_be32(bytes, length);
        return bytes;
    };
    std::vector<uint8_t> cut_player(24, 0);
    cut_player[18] = 0x01; // 500 bytes of data announced, none present
    cut_player[19] = 0xF4;
    std::vector<uint8_t> members;
    put_be32(members, 10000);
    members.resize(4 + 80, 0);
    std::vector<uint8_t> garbage(40, 0x5A);
    std::vector<uint8_t> bad_check = header(0xDEAD, 3, 8 + 40);
    bad_check.insert(bad_check.end(), garbage.begin(), garbage.end());
    std::vector<uint8_t> unterminated;
    put_be32(unterminated, 99);
    unterminated.insert(unterminated.end(), {'a', 'b', 'c'});
    const struct
    {
        const char *name;
        lobby_script_step frame;
        const char *why; // in the log line of the refusal
    } cases[] = {
        {"length 0", lobby_send_raw(header(0xDEAD, 3, 0)), "impossible packet length"},
        {"length 3", lobby_send_raw(header(0xDEAD, 3, 3)), "impossible packet length"},
        {"length past the buffer", lobby_send_raw(header(0xDEAD, 3, 131073)), "impossible packet length"},
        {"a bad identifier", lobby_send_raw(header(0xBEEF, 202, 8)), "without the lobby's identifier"},
        {"a bad check block", lobby_send_raw(bad_check), "does not decode"},
        {"a member count of 10000", lobby_send(20, members), "its member count does not fit"},
        {"a list entry past the packet", lobby_send(1, cut_player), "runs past the packet"},
        {"a short info packet", lobby_send(17, std::vector<uint8_t>(100, 0)), "does not fit its type"},
        {"a text without terminator", lobby_send(3, unterminated), "does not end inside it"},
        {"directed data without its words", lobby_send(201, {0, 0, 0, 1}), "shorter than its two words"},
        {"an unknown type", lobby_send(150, {}), "What is packet type?"},
    };
    for (const auto &c : cases)
    {
        events.clear();
        lobby_script_peer service(concat_steps({lobby_login_opening(), {c.frame, lobby_wait_for_close()}}));
        start(service);
        EXPECT_TRUE(pump_until([] { return count_events(_connection_closed_by_metaserver) > 0; })) << c.name;
        EXPECT_TRUE(metaserver_endpoint_died()) << c.name;
        const std::string log = log_text();
        EXPECT_NE(log.find(c.why, log.rfind("Establishing connection")), std::string::npos) << c.name;
        EXPECT_EQ(service.finish(), "") << c.name;
        disconnect_from_metaserver();
    }

    // A clean login afterwards.
    lobby_script_peer room({});
    room.script = lobby_room_welcome();
    lobby_script_peer host(login_host(2, room.room_entry(0)));
    room.start();
    host.start();
    EXPECT_EQ(login(host), _metaserver_game_entered_successfully);
    logout_of_metaserver();
    EXPECT_EQ(host.finish(), "");
    EXPECT_EQ(room.finish(), "");
}

// The probe logs in as the game does and prints what the room tells it.
TEST(lobby_probe, the_probe_enters_a_room_says_its_line_and_prints_the_rooms_games_and_chat)
{
    uint8_t chat[MAXIMUM_VESK_METASERVER_CHAT_SIZE];
    const int32_t chat_length = build_vesk_metaserver_chat_packet(chat, nullptr, 0, 88, 0xFFFFFFFF, "Bert", "hi anna");
    byteswap_metaserver_packet(chat, chat_length, true);
    std::vector<uint8_t> game(32, 0);
    game[3] = 9; // game id 9
    game[20] = (568 + 10) >> 8; // game data size
    game[21] = (568 + 10) & 0xFF;
    game.resize(32 + 568, 0);
    for (const char *text : {"Duel", "Map1"}) game.insert(game.end(), text, text + 5);

    lobby_script_peer room({});
    room.script = lobby_room_welcome();
    room.script.insert(room.script.end() - 1, {lobby_expect(200), lobby_send(200, std::vector<uint8_t>(chat, chat + chat_length)),
                                               lobby_send(2, game)});
    // Room 1 comes first in the list, but the probe asks for room 3.
    lobby_script_peer decoy({});
    std::vector<uint8_t> rooms = decoy.room_entry(1);
    const std::vector<uint8_t> asked = room.room_entry(3);
    rooms.insert(rooms.end(), asked.begin(), asked.end());
    lobby_script_peer host(login_host(2, rooms));
    room.start();
    host.start();
    const std::string command = test_programs_directory() + "/vesk_lobby_probe --host 127.0.0.1 --port " +
                                std::to_string(host.listener.port) +
                                " --user anna --password secret --room 3 --say hello --seconds 1 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char line[512];
    while (fgets(line, sizeof(line), pipe)) output += line;
    EXPECT_EQ(pclose(pipe), 0) << output;
    EXPECT_EQ(host.finish(), "");
    EXPECT_EQ(room.finish(), "");
    EXPECT_NE(output.find("state 2\n"), std::string::npos) << output;
    EXPECT_NE(output.find("in room 3\n"), std::string::npos) << output;
    EXPECT_EQ(decoy.listener.accept_connection(0), -1) << "the probe tried room 1";
    EXPECT_NE(output.find("room 3 players 3 games 1 host 127.0.0.1"), std::string::npos) << output;
    EXPECT_NE(output.find("game 9 verb 0 name \"Duel\""), std::string::npos) << output;
    EXPECT_NE(output.find("chat from 88 \"Bert\": hi anna"), std::string::npos) << output;
    const std::vector<uint8_t> said = room.body_of(200);
    EXPECT_NE(std::string(said.begin(), said.end()).find("hello"), std::string::npos);
}

TEST(lobby_room_address, any_address_but_zero_is_the_rooms_own)
{
    const struct
    {
        int32_t host;
        const char *text;
    } cases[] = {{0, "login.example"}, {0x7F000001, "127.0.0.1"}, {(int32_t)0xC0A80102, "192.168.1.2"},
                 {(int32_t)0x80000001, "128.0.0.1"}};
    for (const auto &c : cases)
    {
        char text[256];
        metaserver_room_host_text(c.host, "login.example", text, sizeof(text));
        EXPECT_STREQ(text, c.text);
    }
}

} // namespace

} // namespace lobby_client_connection_test_file
