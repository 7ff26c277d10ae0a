// The game layer of a network game in one process, on the test clock: the
// host's command server (stamps, null commands, holds, relays, refusals), the
// player list kept from status packets, the start barrier, who may start, the
// feeding of a mid-game joiner and the admission check.

#include <gtest/gtest.h>

#include <poll.h>

#include <cstring>
#include <vector>

#include "commands.h"
#include "cseries/timers.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "lobby_procedures.h"
#include "metaserver/metaserver_dialogs.h"
#include "networking/connection_manager.h"
#include "networking/public_packet_definitions.h"
#include "networking/tcp_module.h"
#include "session_state.h"
#include "support/expected_assertions.h"
#include "support/game_core_fixture.h"
#include "support/net_peers.h"
#include "unit_commands.h"
#include "vesk.h"
#include "vesk_networking/network.h"
#include "vesk_networking/network_hooks.h"
#include "vesk_networking/vesk_midgame.h"
#include "vesk_networking/player_data_tags.h"
#include "vesk_networking/vesk_netsync.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_server.h"

namespace net_game_layer_test_file {

namespace
{
uint32_t test_now_ms;
uint32_t test_clock_step_ms; // added at every reading (waits that must end)
uint32_t test_clock(void)
{
    test_now_ms += test_clock_step_ms;
    return test_now_ms;
}

// A command of `size` bytes (header included) with `verb`, as the command
// codec leaves it.
std::vector<uint8_t> command_of(int8_t verb, int16_t size = 8, int8_t player_index = -1)
{
    std::vector<uint8_t> bytes((size_t)(size < 8 ? 8 : size), 0);
    command_header header = {size, verb, player_index, 0};
    memcpy(bytes.data(), &header, sizeof(header));
    return bytes;
}

// A command packet (host order) from `from` to the server, `length` its
// messageLen (8 + the command's own size unless given).
std::vector<uint8_t> command_packet(uint8_t from, const std::vector<uint8_t> &command, int32_t length = -1)
{
    std::vector<uint8_t> packet(sizeof(net_message_header) + command.size());
    memcpy(packet.data() + sizeof(net_message_header), command.data(), command.size());
    net_message_header header = {_command_packet, (uint16_t)(length < 0 ? packet.size() : length), kSendToServer, from,
                                 0};
    memcpy(packet.data(), &header, sizeof(header));
    return packet;
}

class net_game_layer : public ::testing::Test
{
protected:
    uint16_t port = 0;

    void SetUp() override
    {
        reset_game_core();
        register_command_hooks();
        ASSERT_TRUE(initialize_commands());
        set_vesk_headless(true);
        InitUber();
        register_network_hooks(); // the core's reset emptied it
        ASSERT_TRUE(allocate_network_structures_for_game_session(kModuleID));
        net_game_description description = {};
        description.parameters.maximum_players = 16;
        new_player_data host = {};
        host.version = CURRENT_VERSION_IDENTIFIER;
        set_net_state(_net_configuring_game);
        ASSERT_TRUE(join_or_create_new_netgame_session(&description, &host, kModuleID, _netgame_session_direct));
        port = tcp_endpoint_local_port(net_get_listener_endpoint(get_vesk_net_globals()->game)->module,
                                       _stream_socket);
        ASSERT_TRUE(pump_until([] { return get_net_player_count() == 1; }));
        test_now_ms = 1000000;
        test_clock_step_ms = 0;
        set_machine_tick_count_for_tests(test_clock);
    }

    void TearDown() override
    {
        set_machine_tick_count_for_tests(nullptr);
        setdown_network_game_from_old_netgame_session(false, true);
        initialize_game_server_for_new_game();
        EndUber();
        if (vesk_map_is_loaded()) dispose_vesk_from_old_map();
        joining_mid_game = false;
    }

    // Pumps the session (and reads `peer`) for at most 2000 turns.
    template <typename condition> bool pump_until(condition done, raw_peer *peer = nullptr)
    {
        for (int32_t turn = 0; turn < 2000; ++turn)
        {
            vesk_net_process();
            if (peer)
            {
                for (std::vector<uint8_t> &packet : peer->receive_packets()) peer_packets.push_back(packet);
                pollfd ready = {peer->stream, POLLIN, 0};
                poll(&ready, 1, 1);
            }
            if (done()) return true;
        }
        return false;
    }
    std::vector<std::vector<uint8_t>> peer_packets;

    // A player the library announces (a status packet), with `record`.
    void add_listed_player(int16_t id, new_player_data record = {}, bool arrived = true)
    {
        std::vector<uint8_t> packet(42 + sizeof(new_player_data), 0);
        net_message_header header = {(uint16_t)(kNetLibPacketBit | (int)_player_added_packet_public),
                                     (uint16_t)packet.size(), 0, kSendToServer, 0};
        memcpy(packet.data(), &header, sizeof(header));
        memcpy(packet.data() + PLAYER_ADDED_PUBLIC_PLAYER_ID_OFFSET, &id, sizeof(id));
        byte_swap_new_player_data(&record);
        memcpy(packet.data() + PLAYER_ADDED_PUBLIC_DATA_OFFSET, &record, sizeof(record));
        handle_packet(packet.data());
        const int16_t index = find_net_player_index(id);
        ASSERT_GE(index, 0);
        get_vesk_sync_data()->players_data[index].arrived = arrived;
    }

    void arrive_host(void) { get_vesk_sync_data()->players_data[0].arrived = true; }

    void server_command(int16_t verb, uint8_t from = 0)
    {
        uint8_t packet[16];
        build_server_command_packet(packet, sizeof(packet), kSendToServer, verb);
        EXPECT_TRUE(handle_game_server_packet(packet, 10, kSendToServer, from));
    }

    void relay(uint8_t from, const std::vector<uint8_t> &command, int32_t length = -1)
    {
        std::vector<uint8_t> packet = command_packet(from, command, length);
        const int32_t message_length = ((const net_message_header *)packet.data())->messageLen;
        EXPECT_TRUE(handle_game_server_packet(packet.data(), message_length, kSendToServer, from));
    }

    static std::vector<command_header> history(void)
    {
        std::vector<command_header> commands;
        for (command_packet_history_entry *entry = get_command_history_head(); entry; entry = entry->next)
            commands.push_back(entry->command);
        return commands;
    }
};

TEST_F(net_game_layer, commands_are_stamped_with_ticks_of_the_hosts_clock_since_the_start)
{
    const struct
    {
        uint32_t after_ms;
        int32_t tick;
    } cases[] = {{1000, 30}, {33, 0}, {34, 1}, {3600000, 108000}};
    arrive_host();
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.after_ms);
        initialize_game_server_for_new_game();
        server_command(_start_sending_null_commands);
        test_now_ms += c.after_ms;
        relay(0, command_of(_command_movement, 12));
        ASSERT_EQ(history().size(), 1u);
        EXPECT_EQ(history()[0].time, c.tick);
        test_now_ms -= c.after_ms;
    }
}

TEST_F(net_game_layer, a_quiet_game_gets_a_null_command_every_four_ticks_and_keeps_no_history)
{
    arrive_host();
    server_command(_start_sending_null_commands);
    const uint32_t start = test_now_ms;
    const struct
    {
        uint32_t at_ms;
        int32_t last_stamp;
    } steps[] = {{100, 0}, {134, 4}, {200, 4}, {267, 8}, {400, 12}, {401, 12}};
    for (const auto &step : steps)
    {
        test_now_ms = start + step.at_ms;
        idle_game_server();
        EXPECT_EQ(get_game_server_globals()->ticks_at_last_command, step.last_stamp) << step.at_ms;
    }
    EXPECT_TRUE(history().empty());
    // After the stop: no nulls, yet commands are still stamped and kept.
    server_command(_stop_sending_null_commands);
    test_now_ms = start + 1000;
    idle_game_server();
    EXPECT_EQ(get_game_server_globals()->ticks_at_last_command, 12);
    relay(0, command_of(_command_movement, 12));
    ASSERT_EQ(history().size(), 1u);
    EXPECT_EQ(history()[0].time, 30);
    // A departing host's last stamp is the players' last tick: nothing after it.
    server_command(_start_sending_null_commands);
    stamp_last_tick_of_departing_host();
    relay(0, command_of(_command_movement, 12));
    EXPECT_EQ(history().size(), 1u);
}

TEST_F(net_game_layer, a_command_before_the_start_is_held_and_stamped_when_the_clock_starts)
{
    arrive_host();
    relay(0, command_of(_command_movement, 12));
    EXPECT_TRUE(history().empty());
    test_now_ms += 5000; // the clock starts later: the command is not stamped 150
    server_command(_start_sending_null_commands);
    ASSERT_EQ(history().size(), 1u);
    EXPECT_EQ(history()[0].time, 0);
}

TEST_F(net_game_layer, the_hosts_drop_command_keeps_its_index_and_other_commands_name_their_sender)
{
    arrive_host();
    add_listed_player(3);
    server_command(_start_sending_null_commands);
    relay(0, command_of(_command_drop_player, 8, 5));
    relay(0, command_of(_command_movement, 12, 5));
    relay(3, command_of(_command_movement, 12, 9));
    const std::vector<command_header> commands = history();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].player_index, 5);
    EXPECT_EQ(commands[1].player_index, 0);
    EXPECT_EQ(commands[2].player_index, 3);
}

TEST_F(net_game_layer, refused_commands_and_server_commands_change_nothing)
{
    arrive_host();
    add_listed_player(3);
    add_listed_player(4, {}, false);
    server_command(_start_sending_null_commands);
    // A player cannot stop (or restart) the host's clock.
    server_command(_stop_sending_null_commands, 3);
    EXPECT_TRUE(game_server_game_in_progress());
    const struct
    {
        const char *why;
        uint8_t from;
        std::vector<uint8_t> command;
        int32_t length;
        int32_t rules = NONE; // the game's gameplay version (NONE: its description names none)
    } cases[] = {
        {"inner size -1", 3, command_of(_command_movement, -1), 16},
        {"inner size 0", 3, command_of(_command_movement, 0), 16},
        {"inner size 7", 3, command_of(_command_movement, 7), 16},
        {"inner size past the packet", 3, command_of(_command_movement, 12), 16},
        {"unknown verb", 3, command_of(99, 8), -1},
        {"negative verb", 3, command_of(-3, 8), -1},
        {"a sync command from a player", 3, command_of(_command_sync, 20), -1},
        {"a forced endgame from a player", 3, command_of(_command_forced_endgame, 12), -1},
        {"an add-player command from a player", 3, command_of(_command_add_player, 104), -1},
        {"a drop-player command from a player", 3, command_of(_command_drop_player, 8), -1},
        {"from a player who has not arrived", 4, command_of(_command_movement, 12), -1},
        {"from a player not listed", 9, command_of(_command_movement, 12), -1},
        {"a verdict of the tutorial watcher in a 1.8.3 game", 3, command_of(_command_tutorial_input, 12), -1, 1830},
    };
    const net_game_description kept = get_vesk_net_globals()->current_game_description;
    for (const auto &c : cases)
    {
        net_game_description described = kept;
        if (c.rules != NONE)
        {
            ASSERT_TRUE(update_game_parameters_for_gameplay_version(c.rules, &described.parameters));
        }
        set_net_current_game_description(&described);
        relay(c.from, c.command, c.length);
        EXPECT_TRUE(history().empty()) << c.why;
    }
    // The same verdict in a game whose rules know it is relayed.
    net_game_description described = kept;
    ASSERT_TRUE(update_game_parameters_for_gameplay_version(1840, &described.parameters));
    set_net_current_game_description(&described);
    relay(3, command_of(_command_tutorial_input, 12));
    EXPECT_EQ(history().size(), 1u);
    set_net_current_game_description(&kept);
    EXPECT_EQ(get_net_player_count(), 3);
}

TEST_F(net_game_layer, the_host_checks_the_game_and_a_relayed_command_moves_the_target_time_only_forward)
{
    register_vesk_networking_hooks();
    ASSERT_TRUE(start_test_game(_game_type_networked, 1820, 7));
    EXPECT_TRUE(is_sync_originator());
    game_->target_time = 50;
    const struct
    {
        int32_t time;
        int32_t target;
    } cases[] = {{40, 50}, {50, 50}, {60, 60}};
    for (const auto &c : cases)
    {
        std::vector<uint8_t> command = command_of(_command_null);
        ((command_header *)command.data())->time = c.time;
        std::vector<uint8_t> packet = command_packet(0, command);
        ((net_message_header *)packet.data())->to = 0;
        handle_packet(packet.data());
        EXPECT_EQ(game_->target_time, c.target) << c.time;
    }
}

TEST_F(net_game_layer, commands_arriving_before_the_map_has_started_wait_for_it)
{
    set_net_state(_net_game_in_progress);
    for (int32_t time : {3, 30})
    {
        std::vector<uint8_t> command = command_of(_command_null);
        ((command_header *)command.data())->time = time;
        std::vector<uint8_t> packet = command_packet(0, command);
        ((net_message_header *)packet.data())->to = 0;
        handle_packet(packet.data());
    }
    ASSERT_TRUE(start_test_game(_game_type_networked, 1820, 7));
    EXPECT_EQ(game_->target_time, 0);
    vesk_net_process();
    EXPECT_EQ(game_->target_time, 30);
    EXPECT_EQ(update_vesk(1), 15); // the per-frame budget
}

TEST_F(net_game_layer, the_player_list_refuses_bad_notices_and_the_host_is_always_ready)
{
    EXPECT_TRUE(get_net_player(0)->agreed_to_play);
    EXPECT_EQ(get_net_player(0)->unique_identifier, 0);
    // A notice of a wrong length, one past the list's end, one of a known id.
    std::vector<uint8_t> packet(42 + 124 - 4, 0);
    net_message_header header = {(uint16_t)(kNetLibPacketBit | (int)_player_added_packet_public), (uint16_t)packet.size(), 0,
                                 kSendToServer, 0};
    memcpy(packet.data(), &header, sizeof(header));
    handle_packet(packet.data());
    EXPECT_EQ(get_net_player_count(), 1);
    for (int16_t id = 1; id < MAXIMUM_NET_GAME_PLAYERS; ++id) add_listed_player(id);
    add_listed_player(1); // known: refused, the list unchanged
    EXPECT_EQ(get_net_player_count(), MAXIMUM_NET_GAME_PLAYERS);
    remove_player_from_player_list(5);
    EXPECT_EQ(get_net_player_count(), MAXIMUM_NET_GAME_PLAYERS - 1);
    EXPECT_EQ(find_net_player_index(5), -1);
    EXPECT_EQ(get_net_player(5)->unique_identifier, 6);
}

TEST_F(net_game_layer, a_departure_while_configuring_mends_the_team_it_leaves)
{
    // A team of three under captain 1: players 1, 2 and 3; 3 keeps its mark.
    const struct
    {
        const char *why;
        int16_t departing;
        bool dissolved;
    } cases[] = {{"the captain leaves", 1, true}, {"a member leaves", 2, false}};
    for (const auto &c : cases)
    {
        while (get_net_player_count() > 1) remove_player_from_player_list(get_net_player(1)->unique_identifier);
        for (int16_t id = 1; id <= 3; ++id)
        {
            new_player_data member = {};
            member.team_captain_identifier = 1;
            member.team_is_locked = true;
            member.agreed_to_play = true;
            member.persistent_ready = id == 3;
            add_listed_player(id, member);
        }
        uint8_t deleted[10] = {};
        net_message_header header = {(uint16_t)(kNetLibPacketBit | (int)_player_deleted_packet_public), 10, 0,
                                     kSendToServer, 0};
        memcpy(deleted, &header, sizeof(header));
        memcpy(deleted + PUBLIC_PLAYER_ID_OFFSET, &c.departing, sizeof(c.departing));
        handle_packet(deleted);
        EXPECT_EQ(find_net_player_index(c.departing), -1) << c.why;
        for (int16_t id = 1; id <= 3; ++id)
        {
            if (id == c.departing) continue;
            const new_player_data *member = get_net_player(find_net_player_index(id));
            EXPECT_EQ(member->team_captain_identifier, c.dissolved ? -1 : 1) << c.why << id;
            EXPECT_EQ(member->team_is_locked, !c.dissolved) << c.why << id;
            EXPECT_EQ(member->agreed_to_play, id == 3) << c.why << id;
        }
    }
}

TEST_F(net_game_layer, the_start_barrier_passes_at_once_for_a_lone_host_and_drops_a_player_that_never_reports)
{
    set_net_state(_net_idle);
    EXPECT_TRUE(vesk_netsync());
    EXPECT_EQ(get_vesk_net_globals()->state, _net_game_in_progress);
    vesk_net_process(); // the start server command loops back to the host
    EXPECT_TRUE(game_server_game_in_progress());
    EXPECT_FALSE(netsync_failed());
    EXPECT_EQ(netsync_waits_shown(), 0) << "a barrier passed at once shows no progress";

    // A listed player who never reports holds the host 180000 ms, no more:
    // then it is dropped and the game starts without it.
    initialize_game_server_for_new_game();
    add_listed_player(7, {}, false);
    set_net_state(_net_idle);
    test_clock_step_ms = 997;
    const uint32_t started = test_now_ms;
    EXPECT_TRUE(vesk_netsync());
    EXPECT_FALSE(netsync_failed());
    EXPECT_GE(test_now_ms - started, (uint32_t)NETSYNC_TIMEOUT_MS);
    EXPECT_GT(netsync_waits_shown(), 0) << "a wait over 1000 ms shows its progress";
    EXPECT_LT(test_now_ms - started, (uint32_t)NETSYNC_TIMEOUT_MS + 30000); // the clock steps on every reading
    EXPECT_EQ(get_vesk_net_globals()->state, _net_game_in_progress);
    EXPECT_EQ(find_net_player_index(7), -1);
}

TEST_F(net_game_layer, barrier_reports_and_confirmations_are_taken_only_from_who_may_send_them)
{
    add_listed_player(3, {}, false);
    uint8_t packet[PLAYER_SYNC_FINAL_STATE_SIZE] = {};
    const struct
    {
        const char *why;
        uint8_t from;
        int16_t player_id_from;
        uint16_t flags;
        bool arrived, confirmed;
        uint16_t length; // 0: the plain packet's
    } cases[] = {
        // A drift report or notice is neither, whoever sends it (no game runs here).
        {"a drift report", 3, 3, 3, false, false, PLAYER_SYNC_FINAL_STATE_SIZE},
        {"a drift notice", 0, 3, 2, false, false, PLAYER_SYNC_FINAL_STATE_SIZE},
        {"a report naming another player", 3, 0, 1, false, false},
        {"a report naming a player not listed", 3, 9, 1, false, false},
        {"a confirmation from a player", 3, 3, 0, false, false},
        {"the player's own report, cut short of a final state", 3, 3, 1, false, false, 16},
        {"the player's own report", 3, 3, 1, true, false},
        {"the host's confirmation", 0, 3, 0, true, true},
    };
    for (const auto &c : cases)
    {
        build_player_sync_data_packet(packet, sizeof(packet), 0, c.player_id_from, c.flags);
        ((net_message_header *)packet)->from = c.from;
        if (c.length) ((net_message_header *)packet)->messageLen = c.length;
        handle_packet(packet);
        EXPECT_EQ(get_vesk_sync_data()->players_data[1].arrived, c.arrived) << c.why;
        EXPECT_EQ(get_vesk_sync_data()->client_received_player_sync_data[1], c.confirmed) << c.why;
        EXPECT_FALSE(get_vesk_sync_data()->players_data[0].arrived) << c.why;
    }
}

// A ranked room asks only that someone plays against the observer; outside
// one the ranked rule always holds.
TEST_F(net_game_layer, who_may_start_follows_the_ready_marks_and_the_observers_team)
{
    if (!lobby_procedures_registered()) register_metaserver_hooks();
    const int32_t NO_TEAM = -1;
    const struct
    {
        const char *why;
        std::vector<std::pair<uint16_t, int32_t>> others; // flags, captain
        bool ready;
        bool may_start, ranked_enough;
    } cases[] = {
        {"everybody ready", {{0, NO_TEAM}}, true, true, true},
        {"one not ready", {{0, NO_TEAM}}, false, false, true},
        {"an observer without a team in a game of two", {{_player_is_observer_flag, NO_TEAM}}, true, true, true},
        {"an observer captaining all three", {{_player_is_observer_flag, 1}, {0, 1}}, true, false, false},
    };
    for (const auto &c : cases)
    {
        while (get_net_player_count() > 1) remove_player_from_player_list(get_net_player(1)->unique_identifier);
        // The host is the third member of an observer's team of three.
        new_player_data host = *get_net_player(0);
        host.team_captain_identifier = c.others.size() > 1 ? 1 : NO_TEAM;
        set_net_player(0, &host);
        for (size_t i = 0; i < c.others.size(); ++i)
        {
            new_player_data player = {};
            player.flags = c.others[i].first;
            player.team_captain_identifier = c.others[i].second;
            player.agreed_to_play = c.ready;
            add_listed_player((int16_t)(i + 1), player);
        }
        EXPECT_EQ(enough_players_agree_to_start_game(), c.may_start) << c.why;
        reset_current_metaserver_room_ranked_guess(true);
        EXPECT_EQ(net_enough_players_for_ranked_game(), c.ranked_enough) << c.why;
        reset_current_metaserver_room_ranked_guess(false);
        EXPECT_TRUE(net_enough_players_for_ranked_game()) << c.why;
    }
}

TEST_F(net_game_layer, a_joiner_is_fed_the_history_in_batches_and_then_added)
{
    raw_peer peer(port, kNMNormalMode);
    std::vector<uint8_t> record(124, 0);
    record[36] = CURRENT_VERSION_IDENTIFIER >> 8, record[37] = CURRENT_VERSION_IDENTIFIER & 0xFF;
    peer.send_bytes(raw_join_request("joiner", "", record));
    ASSERT_TRUE(pump_until([] { return get_net_player_count() == 2; }, &peer));
    const int32_t joiner = get_net_player(1)->unique_identifier;
    arrive_host();
    server_command(_start_sending_null_commands);
    for (uint32_t after_ms : {0u, 300u, 30700u}) // ticks 0, 9 and 930
    {
        test_now_ms += after_ms;
        relay(0, command_of(_command_movement, 12));
    }
    set_net_state(_net_game_in_progress);
    vesk_sync_player_data *data = &get_vesk_sync_data()->players_data[1];
    data->command_history_to_send = get_command_history_head();
    data->wants_more_commands = true;

    // A budget smaller than one packet sends nothing.
    idle_command_history_with_budget(10);
    EXPECT_EQ(data->command_history_to_send, get_command_history_head());
    // The last entry, 930 ticks after the batch's first, waits for the next request.
    data->wants_more_commands = true;
    idle_command_history();
    ASSERT_NE(data->command_history_to_send, nullptr);
    EXPECT_EQ(data->command_history_to_send->command.time, 930);
    EXPECT_FALSE(data->arrived);
    // A request from a player not listed changes nothing; the joiner's own resumes.
    uint8_t request[8];
    build_request_more_commands_packet(request, sizeof(request), 0);
    ((net_message_header *)request)->from = 77;
    handle_packet(request);
    EXPECT_FALSE(data->wants_more_commands);
    ((net_message_header *)request)->from = (uint8_t)joiner;
    handle_packet(request);
    idle_command_history();
    EXPECT_TRUE(data->arrived);
    EXPECT_EQ(data->command_history_to_send, nullptr);
    EXPECT_EQ(history().back().verb, _command_add_player);
    // The joiner got the three commands of the history, then the add-player one live.
    ASSERT_TRUE(pump_until(
        [&] {
            int32_t commands = 0;
            for (const std::vector<uint8_t> &packet : peer_packets) commands += packet_what(packet) == _command_packet;
            return commands >= 4;
        },
        &peer));
}

TEST_F(net_game_layer, a_joiner_reporting_while_the_history_is_empty_is_added_at_once)
{
    arrive_host();
    add_listed_player(5, {}, false);
    set_net_state(_net_game_in_progress);
    server_command(_start_sending_null_commands);
    uint8_t report[16];
    build_player_sync_data_packet(report, sizeof(report), 0, 5, _player_sync_data_packet_destined_for_server_flag);
    ((net_message_header *)report)->from = 5;
    handle_packet(report);
    EXPECT_TRUE(get_vesk_sync_data()->players_data[1].arrived);
    ASSERT_EQ(history().size(), 1u);
    EXPECT_EQ(history()[0].verb, _command_add_player);
    // A second report from the player, now arrived, adds nothing (the host
    // drops the player instead).
    handle_packet(report);
    EXPECT_EQ(history().size(), 1u);
}

TEST_F(net_game_layer, admission_refuses_what_the_game_cannot_take)
{
    // The record's data tags: none (an older program's); this data; other
    // tag files; other patches; the mark with nothing known (0s).
    enum data_tags { none, same, other_files, other_patches, unknown };
    const struct
    {
        const char *why;
        int16_t version;
        uint8_t lobby_player;
        int32_t length;
        int16_t state;
        bool admitted;
        uint8_t lobby_host = 0; // the host came through the lobby: a lobby game
        int32_t rules = NONE;   // the game's gameplay version (NONE: the set-up names none yet)
        data_tags tags = none;
    } cases[] = {
        {"a record of the wrong length", CURRENT_VERSION_IDENTIFIER, 0, 100, _net_configuring_game, false},
        {"a lobby player in a direct game", CURRENT_VERSION_IDENTIFIER, 1, 124, _net_configuring_game, false},
        {"a lobby player in a lobby game", CURRENT_VERSION_IDENTIFIER, 1, 124, _net_configuring_game, true, 1},
        {"a direct player in a lobby game", CURRENT_VERSION_IDENTIFIER, 0, 124, _net_configuring_game, false, 1},
        {"version 2181 while configured", 2181, 0, 124, _net_configuring_game, true},
        {"version 2181 while the game runs", 2181, 0, 124, _net_game_in_progress, false},
        {"version 2182 while a 1.8.3 game runs", 2182, 0, 124, _net_game_in_progress, false, 0, 1830},
        {"version 2182 set up for 1.8.2", 2182, 0, 124, _net_configuring_game, true, 0, 1820},
        {"version 2182 set up for 1.8.2.5 (it may know 1.8.2 alone)", 2182, 0, 124, _net_configuring_game, false, 0, 1825},
        {"this version set up for 1.8.2.5", CURRENT_VERSION_IDENTIFIER, 0, 124, _net_configuring_game, true, 0, 1825},
        {"a record on this data", CURRENT_VERSION_IDENTIFIER, 0, 124, _net_configuring_game, true, 0, NONE, same},
        {"a record on other tag files", CURRENT_VERSION_IDENTIFIER, 0, 124, _net_configuring_game, false, 0, NONE,
         other_files},
        {"a record on other patches, mid-game", CURRENT_VERSION_IDENTIFIER, 0, 124, _net_game_in_progress, false, 0,
         1830, other_patches},
        {"a record whose data is not known", CURRENT_VERSION_IDENTIFIER, 0, 124, _net_configuring_game, true, 0, NONE,
         unknown},
    };
    const net_game_description *own = get_net_host_game_description();
    const net_game_description kept = own ? *own : net_game_description{};
    const int16_t host = find_net_player_index(get_local_player_id());
    ASSERT_GE(host, 0);
    for (const auto &c : cases)
    {
        new_player_data host_player = *get_net_player(host);
        host_player.metaserver_player = c.lobby_host;
        set_net_player(host, &host_player);
        new_player_data player = {};
        player.version = c.version;
        player.metaserver_player = c.lobby_player;
        byte_swap_new_player_data(&player);
        if (c.tags != none) mark_player_data_with_local_tags(&player);
        const uint8_t changed_at = c.tags == other_files ? 5 : 9; // the last byte of either checksum
        if (c.tags == other_files || c.tags == other_patches) player.data_tags[changed_at] ^= 1;
        if (c.tags == unknown) memset(player.data_tags + 2, 0, 8);
        set_net_state(c.state);
        net_game_description described = kept;
        described.parameters.version = 0; // no rules named yet
        if (c.rules != NONE)
        {
            ASSERT_TRUE(update_game_parameters_for_gameplay_version(c.rules, &described.parameters));
        }
        set_net_originator_game_description(&described);
        current_gameplay_version = c.rules != NONE ? c.rules : (int32_t)DEFAULT_GAMEPLAY_VERSION;
        char message[NET_ALLOW_JOIN_REASON_SIZE] = "";
        EXPECT_EQ(allow_vesk_player_to_join(&player, c.length, message), c.admitted) << c.why;
        EXPECT_EQ(message[0] != 0, !c.admitted) << c.why;
        if (c.tags == other_files || c.tags == other_patches)
        {
            EXPECT_NE(strstr(message, c.tags == other_files ? "(your tag files differ)" : "(your patches differ)"),
                      nullptr)
                << message;
        }
    }
    set_net_originator_game_description(own ? &kept : nullptr);
    current_gameplay_version = DEFAULT_GAMEPLAY_VERSION;
}
} // namespace

} // namespace net_game_layer_test_file
