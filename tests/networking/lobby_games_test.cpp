// The hosted lobby game on the wire against a scripted room: what is listed
// (names cut, fields in place), what is sent only while the game is listed,
// the recording stream only in rooms that both support and require it, the
// score packet carrying the game core's standings; the listing flags of the
// set-up; the lobby's events while a game is configured.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "game_time.h"
#include "lobby_procedures.h"
#include "metaserver/metaserver_client.h"
#include "vesk_networking/netgame_parameters_dialog.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_games.h"
#include "networking/connection_manager.h"
#include "players.h"
#include "scoring.h"
#include "statistics.h"
#include "subsystems.h"
#include "support/game_core_fixture.h"
#include "support/lobby_client_fixture.h"
#include "vesk_networking/netgame_lobby.h"
#include "vesk_networking/vesk_chat.h"
#include "vesk_networking/vesk_networking.h"

namespace lobby_games_test_file {

namespace
{

using namespace lobby_client_test;

constexpr int32_t LISTED_GAME_ID = 42;
constexpr int32_t LOCAL_USER_ID = 77; // what lobby_challenge_and_rooms logs us in as

int32_t be32_at(const std::vector<uint8_t> &body, size_t offset) { return (int32_t)read_be32(body.data() + offset); }
int16_t be16_at(const std::vector<uint8_t> &body, size_t offset) { return (int16_t)read_be16(body.data() + offset); }

// A room that takes the login, answers the first listing with a game list
// naming our game, then takes whatever comes until the client leaves.
std::vector<lobby_script_step> listing_room(void)
{
    std::vector<uint8_t> room_login, games;
    put_be32(room_login, LOCAL_USER_ID);
    put_be16(room_login, 16);
    put_be16(room_login, 0);
    put_be32(games, LISTED_GAME_ID);
    put_be32(games, 0x7F000001);
    put_be16(games, 3453);
    games.push_back(0); // added
    games.push_back(1);
    put_be32(games, 0); // seconds remaining
    put_be32(games, LOCAL_USER_ID); // the creator
    put_be16(games, 0); // no data
    games.resize(games.size() + 10);
    return {lobby_accept(), lobby_expect(203), lobby_send_key(), lobby_expect(101), lobby_expect(103),
            lobby_send(3, lobby_server_message(8)), lobby_send(9, room_login), lobby_expect(104),
            lobby_send(2, games), lobby_wait_for_close()};
}

// The game core's standings of a game of three players, as end_game builds them.
void build_standings_of_three_players(void)
{
    initialize_players();
    initialize_scoring();
    initialize_statistics();
    new_game_data data = make_test_game_data(_game_type_local, 1820, 1, 3);
    begin_game_time(&data);
    initialize_players_for_new_map(&data);
    initialize_scoring_for_new_map();
    initialize_statistics_for_new_map(data.parameters.scenario_tag);
    for (int16_t i = 0; i < 3; ++i) get_player_data(i)->metaserver_player_id = 500 + i;
    build_draxil_net_game_standings(2);
}

TEST(lobby_listing, the_listed_data_cuts_the_names_and_carries_the_listing_fields)
{
    const struct
    {
        int32_t name_length, map_length;
        const char *password;
        uint16_t flags, listed_flags;
        int32_t listed_name, listed_map;
        int32_t version, listed_version; // the version the game plays is listed, one outside the line is not
    } cases[] = {
        {40, 70, "", _net_game_is_closed_flag, _net_game_is_closed_flag, 31, 63, 1, 2182},
        {31, 63, "pw", 0, _net_game_has_password_flag, 31, 63, 2183, 2183},
        {5, 0, "", _net_game_in_progress_flag | _net_game_supports_midgame_joining_flag,
         _net_game_in_progress_flag | _net_game_supports_midgame_joining_flag, 5, 0, 2172, 2172},
        {5, 5, "", 0, 0, 5, 5, 2200, 2182},
    };
    for (const auto &c : cases)
    {
        net_game_description description = {};
        memset(description.name, 'N', (size_t)c.name_length < sizeof(description.name) ? c.name_length : 31);
        memset(description.map_name, 'M', (size_t)c.map_length < sizeof(description.map_name) ? c.map_length : 63);
        if (c.name_length >= (int32_t)sizeof(description.name))
            memset(description.name, 'N', sizeof(description.name)); // no terminator at all
        if (c.map_length >= (int32_t)sizeof(description.map_name))
            memset(description.map_name, 'M', sizeof(description.map_name));
        strcpy(description.password, c.password);
        description.player_count = 3;
        description.private_tags_checksum = 0x01020304;
        description.parameters.version = c.version;
        uint8_t data[MAXIMUM_METASERVER_GAME_DATA_SIZE];
        memset(data, 0xEE, sizeof(data));
        const int32_t length = build_metaserver_game_data(&description, c.flags, 5, data);
        ASSERT_EQ(length, 568 + c.listed_name + 1 + c.listed_map + 1) << c.name_length;
        EXPECT_EQ(read_be16(data + 32), 443u) << "the build number leads its word on the wire";
        EXPECT_EQ(read_be32(data + 36), (uint32_t)c.listed_version);
        EXPECT_EQ(read_be16(data + 40), 5u) << "the current room";
        EXPECT_EQ(read_be32(data + 560), 0x01020304u);
        EXPECT_EQ(read_be16(data + 564), c.listed_flags);
        EXPECT_EQ(data[566], 3);
        EXPECT_EQ(strlen((const char *)data + 568), (size_t)c.listed_name);
        EXPECT_EQ(strlen((const char *)data + 568 + c.listed_name + 1), (size_t)c.listed_map);
    }
}

TEST(lobby_listing, the_start_reports_the_length_in_seconds_or_minus_one)
{
    const struct
    {
        int32_t time_limit, pregame;
        int32_t seconds;
    } cases[] = {{0, 0, -1}, {NONE, 900, -1}, {1800, 0, 60}, {1800, 900, 90}, {29, 0, 0}};
    for (const auto &c : cases)
    {
        new_game_parameter_data parameters = {};
        parameters.time_limit = c.time_limit;
        parameters.pregame_time_limit = c.pregame;
        EXPECT_EQ(metaserver_game_length_in_seconds(&parameters), c.seconds) << c.time_limit << " " << c.pregame;
    }
}

TEST(lobby_listing, the_set_up_lists_full_games_closed_and_running_open_ones_for_joining)
{
    const struct
    {
        bool accepting;
        int32_t players, maximum;
        bool in_progress;
        uint16_t flags;
    } cases[] = {
        {true, 2, 8, false, 0},
        {true, 8, 8, false, _net_game_is_closed_flag}, // full, not started
        {false, 2, 8, false, _net_game_is_closed_flag},
        {true, 2, 8, true, _net_game_in_progress_flag | _net_game_supports_midgame_joining_flag},
        {false, 2, 8, true, _net_game_in_progress_flag | _net_game_is_closed_flag},
        {true, 8, 8, true, _net_game_in_progress_flag | _net_game_is_closed_flag},
    };
    for (const auto &c : cases)
        EXPECT_EQ(netgame_lobby_listing_flags(c.accepting, c.players, c.maximum, c.in_progress), c.flags)
            << c.accepting << " " << c.players << "/" << c.maximum << " " << c.in_progress;
}

// A room lists the players the map takes (a player is a team when teams are
// off) and the scoring the map plays, as the set-up and the settings show them.
TEST(lobby_listing, the_listing_tells_the_maps_players_and_the_scoring_it_plays)
{
    const struct
    {
        const char *what;
        uint32_t options;
        int16_t maximum, scoring, team_count;
        uint32_t map_scorings;
        int16_t listed_maximum, listed_scoring;
    } cases[] = {
        {"two teams, the default sixteen", 0, 16, 2, 2, 1u << 0, 2, 0},
        {"teams allowed", _game_option_allow_multiplayer_teams_flag, 16, 0, 2, 1u << 0, 16, 0},
        {"fewer than the map takes", 0, 2, 4, 4, (1u << 4) | 1u, 2, 4},
        {"cooperative", _game_option_cooperative_flag, 16, 13, 2, 1u << 0, 16, 13},
        {"a map that cannot be read", 0, 16, 2, 0, 0, 16, 2},
    };
    for (const auto &c : cases)
    {
        new_game_parameter_data parameters = {};
        parameters.option_flags = c.options;
        parameters.maximum_players = c.maximum;
        parameters.scoring = c.scoring;
        netgame_listed_parameters(&parameters, c.team_count, c.map_scorings);
        EXPECT_EQ(parameters.maximum_players, c.listed_maximum) << c.what;
        EXPECT_EQ(parameters.scoring, c.listed_scoring) << c.what;
        // The settings' players spinner offers no more than the listing shows.
        EXPECT_EQ(std::min(c.maximum, netgame_players_on_map(c.options, c.team_count)), c.listed_maximum) << c.what;
    }
}

TEST(lobby_listing, the_program_streams_recordings_through_the_listing)
{
    clear_all_registrations();
    register_built_subsystems();
    const lobby_procedures *lobby = get_lobby_procedures();
    EXPECT_EQ(lobby->send_recording_stream_header, send_recording_stream_header_to_metaserver);
    EXPECT_EQ(lobby->send_recording_stream_command, send_recorded_command_to_metaserver);
    EXPECT_EQ(lobby->send_recording_stream_end, send_recording_stream_end_to_metaserver);
    clear_all_registrations();
}

// The listing's whole life on the wire, once per room flags: only a room
// that supports and requires a stream (3) gets the recording.
TEST_F(lobby_client, a_hosted_game_is_listed_started_scored_and_removed_and_nothing_goes_out_unlisted)
{
    build_standings_of_three_players();
    std::vector<uint8_t> standings(216 + 28 * 16);
    ASSERT_EQ(encode_draxil_net_game_standings(standings.data(), (int32_t)standings.size()),
              (int32_t)standings.size());
    for (int16_t room_flags : {3, 1, 2})
    {
        lobby_script_peer room(listing_room());
        std::vector<uint8_t> rooms = room.room_entry(0);
        rooms[15] = (uint8_t)room_flags;
        lobby_script_peer host(login_host(2, rooms));
        room.start();
        host.start();
        ASSERT_EQ(login(host), _metaserver_game_entered_successfully);

        // Unlisted: nothing of the game leaves, and a start leaves the stream off.
        description.player_count = 1;
        synchronize_game_with_metaserver(_synchronize_with_metaserver_change_game_verb, &description, 0);
        synchronize_game_with_metaserver(_synchronize_with_metaserver_delete_game_verb, &description, 0);
        reset_metaserver_game_scoring();
        const uint32_t ids[] = {LOCAL_USER_ID, 88};
        send_game_player_list_to_metaserver(LISTED_GAME_ID, ids, 2);
        send_start_game_to_metaserver(60, true);
        EXPECT_FALSE(metaserver_streaming_recording());
        send_recording_stream_header_to_metaserver("film", 4);
        send_recording_stream_end_to_metaserver(1);
        metaserver_scoring_data scoring;
        EXPECT_FALSE(get_metaserver_scoring_data(&scoring));
        const std::vector<uint8_t> too_long(MAXIMUM_METASERVER_GAME_DATA_SIZE + 1);
        add_game_to_room_list(3453, 0, too_long.data(), (int32_t)too_long.size());
        EXPECT_FALSE(metaserver_game_created()) << "refused data lists nothing";
        send_recording_stream_end_to_metaserver(2);

        // A name as long as its field holds, without a terminator.
        memset(description.name, 'G', sizeof(description.name));
        synchronize_game_with_metaserver(_synchronize_with_metaserver_create_game_verb, &description, 0);
        ASSERT_TRUE(pump_until([] { return get_listed_metaserver_game_id() == LISTED_GAME_ID; }));
        ASSERT_TRUE(get_metaserver_scoring_data(&scoring));
        EXPECT_EQ(scoring.game_id, (uint32_t)LISTED_GAME_ID);
        EXPECT_EQ(scoring.local_player_id, (uint32_t)LOCAL_USER_ID);
        description.player_count = 2;
        description.port = 23453; // the host listens where its description says
        synchronize_game_with_metaserver(_synchronize_with_metaserver_change_game_verb, &description,
                                         _net_game_is_closed_flag);
        description.port = 0;
        new_player_data players[2] = {};
        players[0].metaserver_player_id = LOCAL_USER_ID;
        players[1].metaserver_player_id = 88;
        start_metaserver_netgame_for_scoring(LISTED_GAME_ID, players, 2,
                                             metaserver_game_length_in_seconds(&description.parameters));
        EXPECT_EQ(metaserver_streaming_recording(), room_flags == 3);
        send_recording_stream_header_to_metaserver("film", 4);
        alignas(command_header) uint8_t command[8] = {0, 8, 1, 0, 0, 0, 0, 9}; // as the film stores it
        send_recorded_command_to_metaserver((const command_header *)command);
        send_recording_stream_end_to_metaserver(900);
        metaserver_handle_network_endgame(LISTED_GAME_ID);
        synchronize_game_with_metaserver(_synchronize_with_metaserver_delete_game_verb, &description, 0);
        EXPECT_FALSE(metaserver_game_created());
        logout_of_metaserver();
        EXPECT_EQ(host.finish(), "");
        EXPECT_EQ(room.finish(), "") << room_flags;

        std::vector<lobby_received_packet> game_packets;
        for (const lobby_received_packet &packet : room.received)
            if ((packet.type >= 104 && packet.type <= 114 && packet.type != 110) || packet.type >= 204)
                game_packets.push_back(packet);
        std::vector<int16_t> types;
        for (const lobby_received_packet &packet : game_packets) types.push_back(packet.type);
        const std::vector<int16_t> expected =
            room_flags == 3 ? std::vector<int16_t>{104, 104, 113, 111, 114, 204, 205, 206, 112, 105}
                            : std::vector<int16_t>{104, 104, 113, 111, 114, 112, 105};
        ASSERT_EQ(types, expected) << room_flags;

        const std::vector<uint8_t> &listed = game_packets[0].body;
        EXPECT_EQ(be16_at(listed, 0), 3453) << "the hosting settings' port, the description naming none";
        EXPECT_EQ(be16_at(game_packets[1].body, 0), 23453) << "the description's port";
        EXPECT_EQ(be16_at(listed, 2), 0) << "not an order game";
        EXPECT_EQ(std::string((const char *)listed.data() + 4 + 568), std::string(31, 'G'));
        EXPECT_LE(listed.size(), 4u + 1024u);
        EXPECT_EQ(listed.back(), 0) << "the map name ends the data";
        EXPECT_EQ(be16_at(game_packets[1].body, 4 + 564), _net_game_is_closed_flag);
        EXPECT_EQ(game_packets[1].body[4 + 566], 2);
        EXPECT_TRUE(game_packets[2].body.empty());
        const std::vector<uint8_t> &list = game_packets[3].body;
        ASSERT_EQ(list.size(), 12u);
        EXPECT_EQ(be32_at(list, 0), LISTED_GAME_ID);
        EXPECT_EQ(be32_at(list, 4), LOCAL_USER_ID);
        EXPECT_EQ(be32_at(list, 8), 88);
        const std::vector<uint8_t> &start = game_packets[4].body;
        EXPECT_EQ(start, std::vector<uint8_t>({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0})) << "no time limit";
        if (room_flags == 3)
        {
            EXPECT_EQ(game_packets[5].body, std::vector<uint8_t>({'f', 'i', 'l', 'm'}));
            EXPECT_EQ(game_packets[6].body, std::vector<uint8_t>(command, command + 8));
            EXPECT_EQ(be32_at(game_packets[7].body, 0), 900);
        }
        const std::vector<uint8_t> &score = game_packets[expected.size() - 2].body;
        ASSERT_EQ(score.size(), 4 + standings.size());
        EXPECT_EQ(be32_at(score, 0), LISTED_GAME_ID);
        EXPECT_EQ(be16_at(score, 4 + 20), 3) << "three players declared";
        EXPECT_TRUE(std::equal(standings.begin(), standings.end(), score.begin() + 4))
            << "the standings as the game core encodes them";
        memset(description.name, 0, sizeof(description.name));
    }
}

TEST_F(lobby_client, the_set_up_takes_the_lobbys_events_while_configuring)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    empty_chat_text_log();
    const int16_t state = net->state;
    struct
    {
        int16_t state;
        int32_t event;
        bool taken;
        int32_t lines;
    } cases[] = {
        {_net_idle, _message_of_the_day_message, false, 0},
        {_net_idle, _metaserver_room_went_down, false, 0},
        {_net_configuring_game, _message_of_the_day_message, true, 1},
        {_net_configuring_game, _metaserver_room_went_down, true, 2},
        {_net_configuring_game, _player_list_message, false, 0},
    };
    // The text runs to the end of the event's length, with no terminator.
    const char motd[] = {'W', 'e', 'l', 'c', 'o', 'm', 'e', '!', '!', '!'};
    for (const auto &c : cases)
    {
        set_net_state(c.state);
        const int32_t before = get_chat_back_log()->index;
        EXPECT_EQ(handle_metaserver_event_in_game_lobby(c.event, motd, 7), c.taken) << c.event;
        EXPECT_EQ(get_chat_back_log()->index - before, c.lines) << c.event;
    }
    EXPECT_STREQ(get_chat_back_log()->chat_list[0].text, "Welcome");

    // A join request whose host text fills its field is read within the
    // field and refused as no address; the event is the set-up's either way.
    set_allow_connection_status(true);
    std::vector<uint8_t> join(sizeof(proxy_client_join_packet), 'x');
    EXPECT_TRUE(handle_metaserver_event_in_game_lobby(_proxy_client_join_message, join.data(), 0));
    set_allow_connection_status(false);
    EXPECT_TRUE(handle_metaserver_event_in_game_lobby(_proxy_client_join_message, join.data(), 0));
    EXPECT_EQ(connection_manager_used_context_count(), 0);
    set_net_state(state);
}

} // namespace

} // namespace lobby_games_test_file
