#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "console_procedures.h"
#include "commands.h"
#include "game_hooks.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "players.h"
#include "recording_procedures.h"
#include "support/expected_assertions.h"
#include "cseries/registration.h"
#include "support/game_core_fixture.h"
#include "support/malformed_commands.h"
#include "subsystems.h"
#include "unit_commands.h"

namespace unit_commands_test_file {

namespace
{

struct ran_command
{
    int32_t verb, player, time, value;
};
std::vector<ran_command> ran;
int32_t out_of_sync_reports = 0;

const byte_swap_code value_byte_swapping_data[] = {_begin_bs_array, 1, _4byte, _end_bs_array};

// A verb of one 4-byte value, decoded whole before anything is done.
bool run_value_command(command_header *command)
{
    command_codec_state state;
    command_decode_new(&state, command, command->verb);
    const int32_t *value = (const int32_t *)command_decode_data(&state, sizeof(int32_t), value_byte_swapping_data);
    if (!value) return false;
    ran.push_back({command->verb, command->player_index, command->time, *value});
    return true;
}

// A stamped command as the rings hold it.
struct built_command
{
    alignas(8) uint8_t bytes[MAXIMUM_COMMAND_SIZE];
    command_header *header(void) { return (command_header *)bytes; }
};

built_command value_command(int16_t verb, int32_t value, int32_t time, int8_t player)
{
    built_command built;
    command_codec_state state;
    command_encode_new(&state, built.bytes, verb);
    command_encode_data(&state, sizeof(value), &value, value_byte_swapping_data);
    state.header->time = time;
    state.header->player_index = player;
    return built;
}

class command_executor_test : public ::testing::Test
{
protected:
    void SetUp(void) override
    {
        reset_game_core();
        ran.clear();
        out_of_sync_reports = 0;
        register_command_hooks();
        static const console_procedures console = {.out_of_sync = [] { ++out_of_sync_reports; }};
        register_console_procedures(&console);
        ASSERT_TRUE(register_command_verb_procedure(_command_chat, run_value_command));
        ASSERT_TRUE(register_command_verb_procedure(_command_ally, run_value_command));

        new_game_data data = make_test_game_data(_game_type_local, DEFAULT_GAMEPLAY_VERSION, 1, 3);
        const int32_t identifiers[3] = {101, 102, 200};
        for (int32_t i = 0; i < 3; ++i) data.players[i].unique_identifier = identifiers[i];
        initialize_players();
        ASSERT_TRUE(initialize_players_for_new_map(&data));
        ASSERT_EQ(get_player_count(), 3);
        ASSERT_TRUE(initialize_commands());
        ASSERT_TRUE(get_map_initialize_procedure(_map_commands)(&data));
        game_->game_time = 0;
    }
    void TearDown(void) override
    {
        get_map_dispose_procedure(_map_commands)();
        dispose_players_from_old_map();
    }
    void queue(built_command command) { ASSERT_TRUE(queue_incoming_command(command.header())); }
    void run_tick(int32_t time)
    {
        game_->game_time = time;
        get_tick_procedure(_tick_unit_commands)();
    }
};

} // namespace

TEST_F(command_executor_test, commands_run_in_queue_order_and_only_once_due)
{
    queue(value_command(_command_chat, 1, 0, 0));
    queue(value_command(_command_ally, 2, 0, 1));
    queue(value_command(_command_chat, 3, 2, 2));
    queue(value_command(_command_chat, 4, 1, 2)); // queued late: waits behind tick 2
    queue(value_command(_command_chat, 5, 4, 0));

    run_tick(0);
    ASSERT_EQ(ran.size(), 2u);
    EXPECT_EQ(ran[0].value, 1);
    EXPECT_EQ(ran[1].verb, _command_ally);
    EXPECT_EQ(ran[1].player, 1);
    run_tick(1);
    EXPECT_EQ(ran.size(), 2u);
    run_tick(2);
    ASSERT_EQ(ran.size(), 4u);
    EXPECT_EQ(ran[2].value, 3);
    EXPECT_EQ(ran[3].value, 4);
    run_tick(3);
    EXPECT_EQ(ran.size(), 4u);
    run_tick(4);
    ASSERT_EQ(ran.size(), 5u);
    EXPECT_EQ(ran[4].time, 4);
}

TEST_F(command_executor_test, a_negative_verb_runs_for_the_player_of_that_network_id)
{
    // Network id 200 does not fit a signed byte: it travels as its bit pattern.
    queue(value_command(-_command_chat, 7, 0, (int8_t)200));
    queue(value_command(-_command_ally, 8, 0, 101));
    queue(value_command(-_command_chat, 9, 0, 77));
    queue(value_command(_command_chat, 10, 0, 1));
    {
        expected_assertions expect(1, "couldn't find player id 77 for cmd -10");
        run_tick(0);
    }
    ASSERT_EQ(ran.size(), 3u);
    EXPECT_EQ(ran[0].verb, _command_chat);
    EXPECT_EQ(ran[0].player, 2);
    EXPECT_EQ(ran[0].value, 7);
    EXPECT_EQ(ran[1].verb, _command_ally);
    EXPECT_EQ(ran[1].player, 0);
    EXPECT_EQ(ran[2].value, 10);
}

TEST_F(command_executor_test, commands_that_cannot_run_are_skipped_whole_and_the_rest_run)
{
    queue(value_command(_command_chat, 1, 0, 3));          // no player 3 in this game
    queue(value_command(_command_chat, 2, 0, NONE));       // no player at all
    queue(value_command(_command_forced_endgame, 3, 0, 0)); // a verb nobody runs yet
    queue(value_command(_command_forced_endgame, 4, 0, 0));
    queue(value_command(50, 5, 0, 0));                     // no such verb
    built_command short_command = value_command(_command_chat, 6, 0, 0);
    short_command.header()->size = 10;                     // its field runs past its end
    queue(short_command);
    queue(value_command(_command_chat, 7, 0, 1));
    {
        expected_assertions expect(1, "data [#8,#12) can't be decoded");
        run_tick(0);
    }
    ASSERT_EQ(ran.size(), 1u);
    EXPECT_EQ(ran[0].value, 7);
    EXPECT_EQ(dequeue_incoming_command(INT32_MAX), nullptr);
}

// Below 1840 the sniffer sees a local command as it is queued, and what it
// drops is neither queued nor recorded; from 1840 every command is queued and
// recorded, and the sniffer sees each as it runs: what it drops does not run.
TEST_F(command_executor_test, local_commands_are_stamped_sniffed_queued_recorded_and_sync_checked)
{
    static std::vector<command_header> recorded;
    static int32_t sniffed;
    static const recording_procedures films = {
        .record_incoming_command = [](const command_header *command) { recorded.push_back(*command); }};
    ASSERT_TRUE(register_recording_procedures(&films));
    // The sniffer drops the ally commands.
    ASSERT_TRUE(register_command_sniffing_procedure([](command_header *command) {
        ++sniffed;
        return command->verb != _command_ally;
    }));
    const struct
    {
        int32_t version;
        int32_t sniffed_when_queued, recorded, sniffed_when_run;
    } rows[] = {{1830, 3, 2, 0}, {1840, 0, 3, 3}};
    for (const auto &row : rows)
    {
        SCOPED_TRACE(row.version);
        current_gameplay_version = row.version;
        recorded.clear();
        ran.clear();
        sniffed = 0;
        out_of_sync_reports = 0;
        game_->flags.fetch_and(~(uint32_t)_game_is_out_of_sync_flag); // each row a game of its own
        game_->game_time = 0;
        begin_sync_snapshots();
        sync_command_data sync;
        sync.snapshot_time = 0;
        ASSERT_TRUE(get_sync_snapshot(0, &sync.random_seed, &sync.state_hash));
        get_queue_sync_command_procedure()(&sync);
        ASSERT_TRUE(queue_outgoing_command(value_command(_command_ally, 1, 0, NONE).header()));
        ASSERT_TRUE(queue_outgoing_command(value_command(_command_chat, 2, 0, NONE).header()));

        get_queue_local_commands_procedure()(6, 1);
        EXPECT_EQ(sniffed, row.sniffed_when_queued);
        ASSERT_EQ(recorded.size(), (size_t)row.recorded);
        EXPECT_EQ(recorded[0].verb, _command_sync);
        EXPECT_EQ(recorded[0].size, 8 + (int16_t)sizeof(sync_command_data));
        EXPECT_EQ(recorded.back().time, 6);
        EXPECT_EQ(recorded.back().player_index, 1);

        run_tick(5);
        EXPECT_TRUE(ran.empty());
        run_tick(6);
        EXPECT_EQ(sniffed, row.sniffed_when_queued + row.sniffed_when_run);
        ASSERT_EQ(ran.size(), 1u);
        EXPECT_EQ(ran[0].verb, _command_chat);
        EXPECT_EQ(ran[0].player, 1);
        EXPECT_EQ(out_of_sync_reports, 0);

        // A sync command that disagrees with this machine's snapshot.
        sync.state_hash ^= 1;
        get_queue_sync_command_procedure()(&sync);
        get_queue_local_commands_procedure()(7, NONE);
        run_tick(7);
        EXPECT_EQ(out_of_sync_reports, 1);
    }
    current_gameplay_version = DEFAULT_GAMEPLAY_VERSION;
}

// What a peer, a film or a saved game hands over, judged by the program's own
// readers: each sound shape decodes, each malformed payload is refused with
// its reason, and nothing asserts.
TEST(command_decode_problem, sound_commands_decode_and_every_malformed_payload_is_refused_with_a_reason)
{
    const auto problem_of = [](const std::vector<uint8_t> &bytes) {
        alignas(8) uint8_t command[MAXIMUM_COMMAND_SIZE + 64] = {};
        memcpy(command, bytes.data(), bytes.size());
        byte_swap_command_header_big((command_header *)command);
        return command_decode_problem((const command_header *)command);
    };
    clear_all_registrations();
    register_built_subsystems();
    for (const command_shape &shape : sound_commands())
        EXPECT_EQ(problem_of(shape.bytes), nullptr) << shape.name << ": " << problem_of(shape.bytes);
    std::vector<command_shape> refused = malformed_commands();
    refused.push_back({"a size above 4096", travelling_command(2, zeros(4), 5000)});
    refused.push_back({"a verb of 24", travelling_command(24, {})});
    for (const command_shape &shape : refused) EXPECT_NE(problem_of(shape.bytes), nullptr) << shape.name;
    // A verb the network layer negated reads as its positive.
    std::vector<uint8_t> negated = sound_commands()[2].bytes;
    negated[2] = (uint8_t)-2;
    EXPECT_EQ(problem_of(negated), nullptr);
    clear_all_registrations();
}

} // namespace unit_commands_test_file
