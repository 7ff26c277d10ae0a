// The tutorial watcher: the input cases (a swallowed key with errors at most
// once per interval, the watched keys passing, the keys never judged), the
// command cases (each verb and flag the table names, the identifier lists of
// the special-ability cases over the shorter list), success reported once,
// errors after success, the overhead-map question, and commands that are never
// copied: too large, too small, or with no scratch buffer.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "cseries/registration.h"
#include "overhead_map_procedures.h"
#include "commands.h"
#include "cseries/log.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "input/action_queue.h"
#include "monster_commands.h"
#include "players.h"
#include "recording_procedures.h"
#include "unit_commands.h"
#include "sniffing.h"
#include "support/expected_assertions.h"
#include "support/game_core_fixture.h"
#include "vesk_random.h"

namespace sniffing_test_file {

namespace {

std::vector<std::pair<int16_t, bool>> reports;
void record_report(int16_t action_identifier, bool succeeded) { reports.push_back({action_identifier, succeeded}); }

bool overhead_map_shown = false;
bool overhead_map_state(void) { return overhead_map_shown; }

// A command built as the unit builders build one: header in host order,
// fields big-endian, in a heap block of exactly MAXIMUM_COMMAND_SIZE bytes,
// stamped as the local player's (player 0).
struct built_command
{
    std::unique_ptr<uint8_t[]> bytes{new uint8_t[MAXIMUM_COMMAND_SIZE]()};
    command_header *header(void)
    {
        command_header *command = (command_header *)bytes.get();
        if (command->player_index == NONE) command->player_index = 0;
        return command;
    }
};

built_command general_command(int16_t type)
{
    built_command command;
    command_codec_state state;
    command_encode_new(&state, command.bytes.get(), _command_general);
    const command_general_data data = {0, type};
    command_encode_data(&state, sizeof(data), &data, command_general_data_byte_swapping_data);
    const int16_t units[] = {1};
    command_encode_array(&state, 1, sizeof(int16_t), units, command_unit_identifier_byte_swapping_data);
    EXPECT_FALSE(state.failed);
    return command;
}

built_command movement_command(uint16_t flags, int16_t formation_index)
{
    built_command command;
    command_codec_state state;
    command_encode_new(&state, command.bytes.get(), _command_movement);
    const command_movement_data data = {flags, formation_index, 0, 0};
    command_encode_data(&state, sizeof(data), &data, command_movement_data_byte_swapping_data);
    const int16_t units[] = {1};
    command_encode_array(&state, 1, sizeof(int16_t), units, command_unit_identifier_byte_swapping_data);
    const world_point2d waypoint = {1000, 1000};
    command_encode_array(&state, 1, sizeof(waypoint), &waypoint, command_waypoint_byte_swapping_data);
    EXPECT_FALSE(state.failed);
    return command;
}

built_command target_command(uint16_t flags, const std::vector<int16_t> &aggressors, const std::vector<int16_t> &targets)
{
    built_command command;
    command_codec_state state;
    command_encode_new(&state, command.bytes.get(), _command_target);
    const command_target_data data = {flags, 0};
    command_encode_data(&state, sizeof(data), &data, command_target_data_byte_swapping_data);
    command_encode_array(&state, (int16_t)aggressors.size(), sizeof(int16_t), aggressors.data(),
                         command_unit_identifier_byte_swapping_data);
    command_encode_array(&state, (int16_t)targets.size(), sizeof(int16_t), targets.data(),
                         command_unit_identifier_byte_swapping_data);
    EXPECT_FALSE(state.failed);
    return command;
}

built_command bare_command(int16_t verb)
{
    built_command command;
    command_codec_state state;
    command_encode_new(&state, command.bytes.get(), verb);
    return command;
}

action_data key_action(int16_t key_code, std::vector<int32_t> flags = {})
{
    action_data action;
    memset(&action, 0, sizeof(action));
    action.key_code = key_code;
    action.ascii_code = key_code == NONE ? (int16_t)NONE : (int16_t)'k';
    for (const int32_t flag : flags) set_action_flag(&action, flag);
    return action;
}

bool action_was_cleared(const action_data &action)
{
    action_data cleared;
    memset(&cleared, 0, sizeof(cleared));
    cleared.key_code = NONE;
    cleared.ascii_code = NONE;
    return memcmp(&action, &cleared, sizeof(cleared)) == 0;
}

class sniffing_test : public ::testing::Test
{
protected:
    void SetUp(void) override
    {
        reset_game_core();
        // The judging rules as a single-player game applies them on this
        // machine (below 1840); the 1840 cases set their version themselves.
        current_gameplay_version = 1830;
        game_->type = _game_type_local;
        local_player_index = 0;
        reports.clear();
        overhead_map_shown = false;
        set_sniffing_report_procedure_for_tests(record_report);
        ASSERT_TRUE(initialize_sniffing_for_new_map());
        game_->game_time = 100;
        set_random_seed(7);
    }
    void TearDown(void) override
    {
        set_sniffing_report_procedure_for_tests(nullptr);
        dispose_sniffing_from_old_map();
        current_gameplay_version = DEFAULT_GAMEPLAY_VERSION;
        local_player_index = NONE;
    }

    void watch(int16_t test_case, uint32_t flags = _sniffing_clear_after_success_flag, int32_t delay = 150,
               int32_t interval = 150, int32_t delta = 0)
    {
        const new_sniffing_data data = {flags, 42, test_case, delay, interval, delta};
        EXPECT_FALSE(toggle_sniffing(&data));
    }
};

TEST_F(sniffing_test, a_forward_key_is_swallowed_with_errors_at_most_once_per_interval_and_an_orbit_key_passes)
{
    watch(_sniffing_input_orbit, 0);
    // (game time, errors reported so far): the first may come after 250.
    const std::pair<int32_t, size_t> steps[] = {{200, 0}, {250, 0}, {251, 1}, {300, 1}, {401, 1}, {402, 2}};
    for (const auto &step : steps)
    {
        game_->game_time = step.first;
        action_data forward = key_action(NONE, {_move_forward_bit});
        EXPECT_TRUE(handle_action_sniffing(&forward)) << step.first;
        EXPECT_TRUE(action_was_cleared(forward)) << step.first;
        EXPECT_EQ(reports.size(), step.second) << step.first;
    }
    for (const auto &report : reports) EXPECT_EQ(report, (std::pair<int16_t, bool>{42, false}));

    action_data orbit = key_action(NONE, {_orbit_right_bit});
    const action_data before = orbit;
    EXPECT_FALSE(handle_action_sniffing(&orbit));
    EXPECT_EQ(memcmp(&orbit, &before, sizeof(orbit)), 0) << "it reaches the camera";
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports.back(), (std::pair<int16_t, bool>{42, true}));
    EXPECT_EQ(get_sniffing_test_case(), _sniffing_input_orbit) << "no clear flag";

    // Errors stop after the success (no keep flag); the swallowing goes on.
    game_->game_time = 10000;
    action_data forward = key_action(NONE, {_move_forward_bit});
    EXPECT_TRUE(handle_action_sniffing(&forward));
    EXPECT_EQ(reports.size(), 3u);
    // A second success is not reported again.
    orbit = key_action(NONE, {_orbit_left_bit});
    EXPECT_FALSE(handle_action_sniffing(&orbit));
    EXPECT_EQ(reports.size(), 3u);
}

TEST_F(sniffing_test, the_error_interval_draws_one_random_value_per_error)
{
    watch(_sniffing_input_zoom, _sniffing_keep_reporting_errors_after_initial_success_flag, 0, 30, 60);
    const uint32_t draws = get_vesk_random_draw_count();
    game_->game_time = 101;
    action_data key = key_action(40);
    EXPECT_TRUE(handle_action_sniffing(&key));
    EXPECT_EQ(get_vesk_random_draw_count(), draws + 1);
    const int32_t next = get_sniffing_next_possible_error_time();
    EXPECT_GE(next, 101 + 30);
    EXPECT_LT(next, 101 + 30 + 60);

    // With the keep flag, errors go on after a success.
    action_data zoom = key_action(NONE, {_zoom_in_bit});
    EXPECT_FALSE(handle_action_sniffing(&zoom));
    game_->game_time = next + 1;
    key = key_action(40);
    EXPECT_TRUE(handle_action_sniffing(&key));
    EXPECT_EQ(reports, (std::vector<std::pair<int16_t, bool>>{{42, false}, {42, true}, {42, false}}));
}

TEST_F(sniffing_test, escape_function_keys_print_scroll_and_pause_pass_and_other_keys_are_swallowed)
{
    watch(_sniffing_input_toggle_overhead_map);
    for (int16_t key = 0; key <= 15; ++key)
    {
        action_data action = key_action(key);
        const action_data before = action;
        EXPECT_FALSE(we_have_action_flags(&action)) << key;
        EXPECT_FALSE(handle_action_sniffing(&action)) << key;
        EXPECT_EQ(memcmp(&action, &before, sizeof(action)), 0) << key;
    }
    action_data plain = key_action(NONE, {_selection_all_bit});
    EXPECT_FALSE(we_have_action_flags(&plain)) << "not a flag the watcher judges";
    EXPECT_FALSE(handle_action_sniffing(&plain));

    action_data other = key_action(16);
    EXPECT_TRUE(we_have_action_flags(&other));
    EXPECT_TRUE(handle_action_sniffing(&other));
    EXPECT_TRUE(action_was_cleared(other));

    action_data pause = key_action(NONE, {_pause_game_bit});
    EXPECT_TRUE(handle_action_sniffing(&pause)) << "judged, and not what the case asks for";

    // A never-judged key with the watched flag in the same record succeeds.
    action_data escape_and_map = key_action(0, {_toggle_overhead_map_bit});
    EXPECT_FALSE(handle_action_sniffing(&escape_and_map));
    EXPECT_EQ(reports.back(), (std::pair<int16_t, bool>{42, true}));
    EXPECT_EQ(get_sniffing_test_case(), _sniffing_not_watching) << "cleared after success";
    action_data after = key_action(16);
    EXPECT_FALSE(handle_action_sniffing(&after));
}

TEST_F(sniffing_test, a_stop_is_dropped_during_case_105_and_every_command_passes_after_the_success)
{
    watch(_sniffing_command_movement);
    built_command stop = general_command(_command_general_stop);
    EXPECT_FALSE(handle_command_sniffing(stop.header()));
    EXPECT_TRUE(reports.empty()) << "no error before 250";
    game_->game_time = 251;
    EXPECT_FALSE(handle_command_sniffing(stop.header()));
    EXPECT_EQ(reports, (std::vector<std::pair<int16_t, bool>>{{42, false}}));

    built_command null_command = bare_command(_command_null);
    EXPECT_TRUE(handle_command_sniffing(null_command.header()));

    built_command move = movement_command(0, 0);
    const std::vector<uint8_t> before(move.bytes.get(), move.bytes.get() + move.header()->size);
    EXPECT_TRUE(handle_command_sniffing(move.header()));
    EXPECT_EQ(std::vector<uint8_t>(move.bytes.get(), move.bytes.get() + move.header()->size), before)
        << "decoded from a copy, never in place";
    EXPECT_EQ(reports.back(), (std::pair<int16_t, bool>{42, true}));
    EXPECT_TRUE(handle_command_sniffing(stop.header())) << "the watch was cleared";
}

TEST_F(sniffing_test, each_command_case_accepts_what_its_row_names)
{
    const uint16_t special = _command_target_special_ability_flag;
    const uint16_t formation = _command_movement_formation_flag;
    struct
    {
        const char *name;
        built_command command;
    } commands[] = {
        {"stop", general_command(_command_general_stop)},
        {"scatter", general_command(_command_general_scatter)},
        {"retreat", general_command(_command_general_retreat)},
        {"special", general_command(_command_general_special_ability)},
        {"stand ground", general_command(_command_general_guard)},
        {"taunt", general_command(_command_general_taunt)},
        {"move", movement_command(0, 2)},
        {"loose line", movement_command(formation, 2)},
        {"vanguard", movement_command(formation, 8)},
        {"other formation", movement_command(formation, 5)},
        {"target", target_command(0, {1, 2}, {3})},
        {"special on self", target_command(special, {5, 6, 7}, {5, 6})},
        {"special on others", target_command(special, {5, 6}, {5, 9, 10})},
        {"special on nobody", target_command(special, {5, 6}, {})},
        {"attack location", bare_command(_command_attack_location)},
        {"pick up", bare_command(_command_pick_up)},
    };
    struct
    {
        int16_t test_case;
        std::vector<const char *> accepted;
    } rows[] = {
        {100, {"stop"}},
        {101, {"scatter"}},
        {102, {"retreat"}},
        {103, {"special"}},
        {104, {"stand ground"}},
        {105, {"move", "loose line", "vanguard", "other formation"}},
        {106, {"target", "special on self", "special on others", "special on nobody"}},
        {107, {"attack location"}},
        {108, {"pick up"}},
        {109, {"stop", "move", "loose line", "vanguard", "other formation", "target", "special on self",
               "special on others", "special on nobody"}},
        {110, {}},
        {150, {"special on self", "special on nobody"}},
        {151, {"special on others"}},
        {152, {"special on self", "special on others", "special on nobody"}},
        {160, {"loose line"}},
        {161, {"vanguard"}},
        {162, {"loose line", "vanguard", "other formation"}},
    };
    for (const auto &row : rows)
    {
        for (auto &command : commands)
        {
            watch(row.test_case, 0);
            bool expected = false;
            for (const char *name : row.accepted) expected = expected || strcmp(name, command.name) == 0;
            // The attack-location and pick-up stand-ins carry no fields and
            // are judged by their verb alone.
            EXPECT_EQ(handle_command_sniffing(command.command.header()), expected)
                << row.test_case << " " << command.name;
        }
    }
    // Outside 100..162 nothing is judged.
    watch(_sniffing_input_orbit, 0);
    EXPECT_TRUE(handle_command_sniffing(commands[0].command.header()));
    watch(163, 0);
    EXPECT_TRUE(handle_command_sniffing(commands[0].command.header()));
}

// The scratch buffer holds 4096 bytes: a command claiming more is never
// copied (the block behind this header is 8 bytes long, so a copy would be
// caught by AddressSanitizer), and one claiming less than its header too.
TEST_F(sniffing_test, a_command_the_scratch_buffer_cannot_hold_is_dropped_without_a_copy)
{
    watch(_sniffing_command_target, 0);
    for (const int16_t size : {(int16_t)(SNIFFING_COMMAND_BUFFER_SIZE + 1), (int16_t)4, (int16_t)-8})
    {
        std::unique_ptr<command_header> header(new command_header{size, _command_target, 0, 0});
        EXPECT_FALSE(handle_command_sniffing(header.get())) << size;
    }

    // A truncated target command: its identifier list runs past its size.
    built_command truncated = target_command(0, {1, 2, 3}, {4});
    truncated.header()->size = 14;
    {
        expected_assertions expect(1);
        EXPECT_FALSE(handle_command_sniffing(truncated.header()));
    }
}

TEST_F(sniffing_test, without_its_scratch_buffer_the_watcher_drops_commands_it_would_judge)
{
    dispose_sniffing_from_old_map();
    EXPECT_EQ(get_sniffing_test_case(), _sniffing_not_watching);
    built_command move = movement_command(0, 0);
    EXPECT_TRUE(handle_command_sniffing(move.header())) << "not watching";
    watch(_sniffing_command_movement);
    {
        expected_assertions expect(1, "globals.command_header");
        EXPECT_FALSE(handle_command_sniffing(move.header()));
    }
    ASSERT_TRUE(initialize_sniffing_for_new_map());
    EXPECT_EQ(get_sniffing_test_case(), _sniffing_not_watching) << "a new map watches nothing";
}

TEST_F(sniffing_test, case_1_answers_the_overhead_map_question_and_changes_nothing)
{
    watch(_sniffing_input_yaw);
    const new_sniffing_data question = {0, 7, _sniffing_overhead_map_is_shown, 0, 0, 0};
    EXPECT_FALSE(toggle_sniffing(&question)) << "no overhead map yet";
    static const overhead_map_procedures overhead_map = {.map_is_shown = overhead_map_state};
    ASSERT_TRUE(register_overhead_map_procedures(&overhead_map));
    EXPECT_FALSE(toggle_sniffing(&question));
    overhead_map_shown = true;
    EXPECT_TRUE(toggle_sniffing(&question));
    EXPECT_EQ(get_sniffing_test_case(), _sniffing_input_yaw);
    EXPECT_EQ(get_sniffing_flags(), ((uint32_t)_sniffing_clear_after_success_flag | (uint32_t)_sniffing_report_errors_flag));
}

// From 1840 what the watcher decides travels in the command stream: a
// single-player game swallows a wrong key at once but queues the verdict
// (one of a kind in 15 ticks), which acts, with its draw, when it runs, on
// the watch it was made for (the overhead map's state goes the same way:
// built_points_test); commands are judged as they run, for the local player of a game whose
// stream carries that player's input; selection reports pass.
TEST_F(sniffing_test, from_1840_verdicts_travel_in_the_stream_and_act_as_they_run)
{
    clear_all_registrations();
    register_command_hooks();
    register_sniffing_hooks();
    set_sniffing_report_procedure_for_tests(record_report);
    current_gameplay_version = 1840;
    new_game_data data = make_test_game_data(_game_type_local, 1840, 1, 2);
    initialize_players();
    ASSERT_TRUE(initialize_players_for_new_map(&data));
    ASSERT_TRUE(initialize_commands());
    ASSERT_TRUE(get_map_initialize_procedure(_map_commands)(&data));
    ASSERT_TRUE(initialize_sniffing_for_new_map());
    game_->type = _game_type_local;
    local_player_index = 0;
    game_->game_time = 101;
    // Runs what this machine queued, stamped as its player's, at `tick`.
    const auto run_queued = [](int32_t tick) {
        queue_local_commands(tick, local_player_index);
        game_->game_time = tick;
        execute_monster_commands();
    };

    watch(_sniffing_input_orbit, 0, 0, 30, 60);
    action_data forward = key_action(NONE, {_move_forward_bit});
    EXPECT_TRUE(handle_action_sniffing(&forward));
    EXPECT_TRUE(action_was_cleared(forward)) << "swallowed at once";
    game_->game_time = 102;
    forward = key_action(NONE, {_move_forward_bit});
    EXPECT_TRUE(handle_action_sniffing(&forward));
    EXPECT_TRUE(reports.empty()) << "nothing acts before the verdict runs";
    const uint32_t draws = get_vesk_random_draw_count();
    run_queued(103);
    EXPECT_EQ(reports, (std::vector<std::pair<int16_t, bool>>{{42, false}})) << "one error for the held key";
    EXPECT_EQ(get_vesk_random_draw_count(), draws + 1) << "the interval's draw, as the verdict runs";
    EXPECT_GE(get_sniffing_next_possible_error_time(), 103 + 30);

    // A verdict made for a watch since replaced changes nothing.
    action_data orbit = key_action(NONE, {_orbit_left_bit});
    const action_data before = orbit;
    EXPECT_FALSE(handle_action_sniffing(&orbit));
    EXPECT_EQ(memcmp(&orbit, &before, sizeof(orbit)), 0);
    watch(_sniffing_input_yaw, 0);
    run_queued(104);
    EXPECT_EQ(reports.size(), 1u);
    orbit = key_action(NONE, {_yaw_left_bit});
    EXPECT_FALSE(handle_action_sniffing(&orbit));
    run_queued(105);
    EXPECT_EQ(reports.back(), (std::pair<int16_t, bool>{42, true}));

    // Commands: the local player's are judged as they run; selection reports,
    // other players' commands and a network game's pass.
    watch(_sniffing_command_movement, 0, 0, 30, 0);
    game_->game_time = 200;
    const int16_t unit = 1;
    ASSERT_TRUE(queue_selection_report_command(1, &unit));
    run_queued(200);
    game_->game_time = 201; // errors are due after the watch's first tick
    built_command stop = general_command(_command_general_stop);
    EXPECT_FALSE(command_passes_sniffing(stop.header(), _command_sniffed_when_run));
    stop.header()->player_index = 1;
    EXPECT_TRUE(command_passes_sniffing(stop.header(), _command_sniffed_when_run)) << "not the local player's";
    EXPECT_EQ(reports.size(), 3u) << "the report passed, the stop erred: " << reports.size();
    // A single-player game is cooperative too: only the type it was played
    // as tells its film from a cooperative network game's.
    static int16_t played_as;
    static const recording_procedures films = {.replay_game_type = [] { return played_as; }};
    ASSERT_TRUE(register_recording_procedures(&films));
    const struct
    {
        int16_t type, played_as, local_player;
        uint32_t options;
        bool judged;
    } games[] = {{_game_type_replay, _game_type_local, 0, _game_option_cooperative_flag, true},
                 {_game_type_replay, _game_type_local, NONE, 0, false},
                 {_game_type_replay, _game_type_networked, 0, _game_option_cooperative_flag, false},
                 {_game_type_networked, NONE, 0, 0, false}};
    for (const auto &game : games)
    {
        game_->type = game.type;
        played_as = game.played_as;
        local_player_index = game.local_player;
        game_->option_flags = game.options;
        stop.header()->player_index = (int8_t)game.local_player;
        EXPECT_EQ(command_passes_sniffing(stop.header(), _command_sniffed_when_run), !game.judged) << game.type;
        // Nothing but a single-player game judges input.
        forward = key_action(NONE, {_move_forward_bit});
        EXPECT_FALSE(handle_action_sniffing(&forward)) << game.type;
    }
    EXPECT_EQ(dequeue_outgoing_command(), nullptr);
    game_->option_flags = 0;
    get_map_dispose_procedure(_map_commands)();
    dispose_players_from_old_map();
    clear_all_registrations();
}

TEST_F(sniffing_test, the_watcher_takes_its_places_in_the_map_the_actions_and_the_command_stream)
{
    clear_all_registrations(); // the watcher fills its report point itself, where the fixture put a recorder
    register_sniffing_hooks();
    EXPECT_NE(get_map_initialize_procedure(_map_tutorial), nullptr);
    EXPECT_EQ(get_map_dispose_procedure(_map_tutorial), dispose_sniffing_from_old_map);
    EXPECT_EQ(get_action_procedure(_action_tutorial_watcher), handle_action_sniffing);
}

} // namespace

} // namespace sniffing_test_file
