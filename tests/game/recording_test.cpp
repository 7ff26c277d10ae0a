// Films: the stored header and its golden offsets, recording a game's command
// stream in blocks and replaying it to the same commands at the same ticks,
// refusing damaged films without a crash or a hang, and the film left behind
// by a crash.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "commands.h"
#include "cseries/crash.h"
#include "cseries/crc.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "determinism_harness.h"
#include "game_time.h"
#include "recording.h"
#include "recording_format.h"
#include "tag_files/tag_file_formats.h"
#include "game_ending.h"
#include "scoring.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "support/scratch.h"
#include "support/tag_file_builder.h"
#include "tag_files/tag_files.h"
#include "unit_commands.h"
#include "vesk.h"
#include "game_states.h"
#include "lobby_procedures.h"

namespace recording_test_file {

namespace {
namespace fs = std::filesystem;

const tag DEMO = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');
const int32_t LOCAL_HEADER = 64; // the store's local tag file header

// The file (a local tag file's bytes) as an earlier build wrote it, without
// the end record its last block closes with: what a crash leaves, or the
// base of a file made by hand from another.
std::vector<uint8_t> without_end_record(std::vector<uint8_t> file)
{
    recording_file_header header;
    memcpy(&header, &file[LOCAL_HEADER], sizeof(header));
    byte_swap_recording_header(&header);
    for (size_t at = (size_t)(LOCAL_HEADER + header.data_offset); at + 8 <= file.size();)
    {
        const size_t size = read_be16(&file[at + 4]);
        if (!(read_be32(&file[at]) & _last_recording_block_flag))
        {
            at += 8 + size;
            continue;
        }
        for (const size_t record : {(size_t)RECORDING_END_RECORD_SIZE, (size_t)RECORDING_CHAINED_END_RECORD_SIZE})
        {
            const size_t end = at + 8 + size - record;
            if (size < record || !is_recording_end_record(&file[end], (int32_t)record, nullptr)) continue;
            file.erase(file.begin() + (ptrdiff_t)end, file.begin() + (ptrdiff_t)(end + record));
            write_be16(&file[at + 4], (uint16_t)(size - record));
            write_be16(&file[at + 6], (uint16_t)(read_be16(&file[at + 6]) - 1));
            write_be32(&file[56], (uint32_t)(file.size() - LOCAL_HEADER));
            break;
        }
        break;
    }
    return file;
}

// ---- the header -----------------------------------------------------------------

class recording_header_test : public ::testing::Test
{
protected:
    scratch_directory scratch;
    void SetUp() override
    {
        quiet_message_boxes();
        initialize_tag_files();
    }
    void TearDown() override
    {
        dispose_tag_files();
        clear_pending_error();
    }

    new_game_data one_player_game(void)
    {
        new_game_data data;
        get_default_new_game_data(&data, _game_type_local, DEMO);
        data.player_count = 1;
        data.local_player_index = 0;
        data.players[0].team_index = 0;
        data.players[0].build_number = CURRENT_BUILD_NUMBER;
        // Junk past the count must not reach the film.
        memset(&data.players[5], 0x5a, sizeof(data.players[5]));
        return data;
    }
    std::vector<uint8_t> header_bytes(int32_t tag_index)
    {
        std::vector<uint8_t> bytes(RECORDING_FILE_HEADER_SIZE);
        EXPECT_TRUE(tag_file_read(tag_index, 0, (int32_t)bytes.size(), bytes.data()));
        return bytes;
    }
};

TEST_F(recording_header_test, offsets_follow_the_regions_as_stored)
{
    const struct
    {
        int32_t snapshot, initializers, initializers_offset, data_offset;
    } rows[] = {
        {0, 0, 2600, 2600},
        {save_game_snapshot_length(2), 0, 43608, 43608},
        {save_game_snapshot_length(4), 0, 82008, 82008},
        {0, 100, 2600, 2700},
    };
    EXPECT_EQ(save_game_snapshot_length(2), 41008);
    EXPECT_EQ(save_game_snapshot_length(4), 79408);
    const new_game_data data = one_player_game();
    for (const auto &row : rows)
    {
        int32_t tag_index = tag_file_new_with_random_subgroup_tag(RECORDING_GROUP_TAG, "header", RECORDING_VERSION_NUMBER);
        ASSERT_NE(tag_index, NONE);
        ASSERT_TRUE(write_recording_header(&tag_index, _normal_recording_type, &data, 5400, row.initializers, 0,
                                           row.snapshot));
        const std::vector<uint8_t> bytes = header_bytes(tag_index);
        EXPECT_EQ(read_be16(&bytes[0]), 3);
        EXPECT_EQ(read_be32(&bytes[4]), (uint32_t)row.data_offset);
        EXPECT_EQ(read_be32(&bytes[8]), 5400u);
        EXPECT_EQ(read_be32(&bytes[12]), 2600u);
        EXPECT_EQ(read_be32(&bytes[16]), (uint32_t)row.snapshot);
        EXPECT_EQ(read_be32(&bytes[20]), (uint32_t)row.initializers_offset);
        EXPECT_EQ(read_be32(&bytes[24]), (uint32_t)row.initializers);
        EXPECT_EQ(read_be32(&bytes[28]), (uint32_t)row.data_offset);
        EXPECT_EQ(read_be32(&bytes[32]), 0u);
        // The game's scenario at 36 + 12, big-endian; the player count at 36 + 556.
        EXPECT_EQ(read_be32(&bytes[36 + 12]), (uint32_t)DEMO);
        EXPECT_EQ(read_be16(&bytes[36 + 556]), 1);
        // 15 player records of zero bytes after the one player, then the
        // checksums of the data it is played on.
        const auto players_end = bytes.begin() + 36 + 572 + 16 * 124;
        EXPECT_TRUE(std::all_of(bytes.begin() + 36 + 572 + 124, players_end, [](uint8_t b) { return b == 0; }));
        EXPECT_EQ(read_be32(&bytes[2592]), tag_files_get_foundation_checksum());
        EXPECT_EQ(read_be32(&bytes[2596]), tag_files_get_patch_checksum());

        // A snapshot region needs its bytes before the header reads back.
        if (row.data_offset > RECORDING_FILE_HEADER_SIZE)
        {
            const uint8_t zero = 0;
            ASSERT_TRUE(tag_file_write(&tag_index, row.data_offset - 1, 1, &zero));
        }
        recording_file_header header;
        ASSERT_TRUE(read_recording_header(tag_index, &header));
        EXPECT_EQ(header.game.player_count, 1);
        EXPECT_EQ(header.recording_ending_time, 5400);
        EXPECT_EQ(header.monster_initializers_offset, row.initializers_offset);
        EXPECT_EQ(0, memcmp(&header.game.players[0], &data.players[0], sizeof(data.players[0])));
        EXPECT_TRUE(valid_replay_or_save_version(tag_index, nullptr));
        tag_file_delete(tag_index);
    }
}

TEST_F(recording_header_test, a_header_that_breaks_the_layout_is_refused)
{
    const new_game_data data = one_player_game();
    const struct
    {
        const char *name;
        int32_t offset, size;
        uint32_t value;
        int32_t error;
    } rows[] = {
        {"version 4", 0, 2, 4, _error_file_read},
        {"17 players", 36 + 556, 2, 17, _error_data_corrupted},
        {"negative players", 36 + 556, 2, 0xffff, _error_data_corrupted},
        {"data before the header ends", 4, 4, 2000, _error_data_corrupted},
        {"snapshot elsewhere", 12, 4, 2604, _error_data_corrupted},
        {"initializers past the tag", 24, 4, 100, _error_data_corrupted},
        {"negative snapshot", 16, 4, 0xfffffff0u, _error_data_corrupted},
        {"unknown type", 2, 2, 7, _error_data_corrupted},
    };
    for (const auto &row : rows)
    {
        SCOPED_TRACE(row.name);
        int32_t tag_index = tag_file_new_with_random_subgroup_tag(RECORDING_GROUP_TAG, "bad", RECORDING_VERSION_NUMBER);
        ASSERT_TRUE(write_recording_header(&tag_index, _normal_recording_type, &data, 0, 0, 0, 0));
        uint8_t field[4];
        if (row.size == 2)
            write_be16(field, (uint16_t)row.value);
        else
            write_be32(field, row.value);
        ASSERT_TRUE(tag_file_write(&tag_index, row.offset, row.size, field));
        recording_file_header header;
        EXPECT_FALSE(read_recording_header(tag_index, &header));
        EXPECT_EQ(take_pending_error(), row.error);
        EXPECT_FALSE(valid_replay_or_save_version(tag_index, nullptr));
        tag_file_delete(tag_index);
    }
    // Too short to hold a header, and no tag at all.
    int32_t tag_index = tag_file_new_with_random_subgroup_tag(RECORDING_GROUP_TAG, "short", RECORDING_VERSION_NUMBER);
    const uint8_t bytes[100] = {};
    ASSERT_TRUE(tag_file_write(&tag_index, 0, sizeof(bytes), bytes));
    recording_file_header header;
    EXPECT_FALSE(read_recording_header(tag_index, &header));
    EXPECT_EQ(take_pending_error(), _error_file_read);
    EXPECT_FALSE(read_recording_header(NONE, &header));
    // A tag of version 4 is left out of the lists whatever it holds.
    int32_t newer = tag_file_new_with_random_subgroup_tag(RECORDING_GROUP_TAG, "newer", 4);
    ASSERT_TRUE(write_recording_header(&newer, _normal_recording_type, &data, 0, 0, 0, 0));
    EXPECT_FALSE(valid_replay_or_save_version(newer, nullptr));
    // And a player count beyond 16 is never written.
    new_game_data crowded = data;
    crowded.player_count = 17;
    expected_assertions expect(1, "player_count");
    EXPECT_FALSE(write_recording_header(&tag_index, _normal_recording_type, &crowded, 0, 0, 0, 0));
}

TEST_F(recording_header_test, block_walk_checks_every_size_and_the_count)
{
    const auto command = [](std::vector<uint8_t> *block, int32_t size, int32_t declared) {
        const size_t at = block->size();
        block->resize(at + (size_t)std::max(size, 8), 0);
        write_be16(&(*block)[at], (uint16_t)declared);
        (*block)[at + 2] = 10;
    };
    std::vector<uint8_t> good;
    command(&good, 8, 8);
    command(&good, 20, 20);
    EXPECT_EQ(recording_block_problem(good.data(), (int32_t)good.size(), 2), nullptr);
    EXPECT_EQ(recording_block_problem(nullptr, 0, 0), nullptr);
    EXPECT_NE(recording_block_problem(good.data(), (int32_t)good.size(), 3), nullptr);
    EXPECT_NE(recording_block_problem(good.data(), 2049, 2), nullptr);
    for (int32_t bad : {0, 7, -1, 30})
    {
        std::vector<uint8_t> block;
        command(&block, 8, 8);
        command(&block, 20, bad);
        EXPECT_NE(recording_block_problem(block.data(), (int32_t)block.size(), 2), nullptr) << bad;
    }
    // A header cut by the end of the block.
    std::vector<uint8_t> cut = good;
    cut.resize(cut.size() + 4, 0);
    EXPECT_NE(recording_block_problem(cut.data(), (int32_t)cut.size(), 2), nullptr);
}

TEST_F(recording_header_test, replay_file_names_fall_back_when_the_list_is_missing)
{
    EXPECT_STREQ(get_replay_filename_string(_string_index_last_recording_filename), "Last Game");
    EXPECT_STREQ(get_replay_filename_string(_string_index_new_saved_game_filename), "Saved Game");
    EXPECT_STREQ(get_replay_filename_string(_string_index_untitled_replay), "Untitled Replay");
    EXPECT_STREQ(get_replay_filename_string(3), "");
}

// ---- recording and replaying a game -------------------------------------------------

struct executed_command
{
    int32_t time, verb, player, size;
    uint32_t crc;
    bool operator==(const executed_command &o) const
    {
        return time == o.time && verb == o.verb && player == o.player && size == o.size && crc == o.crc;
    }
};
std::vector<executed_command> executed;
std::vector<int32_t> streamed_verbs;
int32_t streamed_end_time = NONE;

bool log_executed_command(command_header *command)
{
    executed.push_back({game_->game_time, command->verb, command->player_index, command->size,
                        crc32_update(0, (const uint8_t *)(command + 1), (size_t)(command->size - 8))});
    return true;
}
uint32_t streamed_crc = 0;
void stream_command(const command_header *command)
{
    // As the lobby stream sends it: the whole command, by its stored size.
    const int16_t size = (int16_t)read_be16(command);
    streamed_crc = crc32_update(streamed_crc, (const uint8_t *)command, (size_t)size);
    streamed_verbs.push_back(((const int8_t *)command)[2]);
}
void stream_end(int32_t time) { streamed_end_time = time; }

// A verb no built subsystem runs yet (the unit layer runs rename and chat).
const int16_t LOGGED_VERBS[] = {_command_sync_formation};

// The test's own: the slots take one registration per process.
void register_test_procedures(void)
{
    static bool registered = false;
    if (registered) return;
    registered = true;
    for (int16_t verb : LOGGED_VERBS) register_command_verb_procedure(verb, log_executed_command);
    static const lobby_procedures lobby = {.send_recording_stream_command = stream_command,
                                           .send_recording_stream_end = stream_end};
    register_lobby_procedures(&lobby);
}

// A command of `size` bytes of verb `verb`, its data a pattern of `seed`.
std::vector<uint8_t> make_command(int16_t verb, int32_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes((size_t)size);
    for (int32_t i = 8; i < size; ++i) bytes[(size_t)i] = (uint8_t)(seed * 31 + (uint32_t)i * 7);
    command_header header = {(int16_t)size, (int8_t)verb, NONE, 0};
    memcpy(bytes.data(), &header, sizeof(header));
    return bytes;
}

class film_test : public ::testing::Test
{
protected:
    std::string directory, previous;

    void SetUp() override
    {
        const std::string tool = data_tool_path();
        if (!fs::exists(tool)) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
        ASSERT_TRUE(enter_demo_data_directory(tool, &directory, &previous));
        open_log_file("film test");
        register_test_procedures();
        executed.clear();
        streamed_verbs.clear();
        streamed_end_time = NONE;
    }
    void TearDown() override
    {
        stop_simulation();
        clear_pending_error();
        close_log_file();
        leave_demo_data_directory(directory, previous);
    }

    void start(uint32_t seed)
    {
        char reason[256];
        ASSERT_TRUE(start_simulation(nullptr, DEMO, seed, reason, sizeof(reason))) << reason;
    }

    // Plays the film at `path` to its end, one local tick per frame, and
    // returns the ticks run; a damaged film ends early.
    // A film refused leaves the reason in `why`, when given.
    int32_t replay(const std::string &path, bool expect_start = true, std::string *why = nullptr)
    {
        char reason[256] = "";
        int32_t ticks = 0;
        const bool started = start_simulation_from_film(nullptr, path.c_str(), &ticks, reason, sizeof(reason));
        EXPECT_EQ(started, expect_start) << reason;
        if (why) *why = reason;
        if (!started) return -1;
        int32_t frames = 0;
        while (!replay_over() && frames++ < 20000) update_vesk(1);
        EXPECT_TRUE(replay_over()) << "the replay did not end";
        const int32_t ran = game_->game_time;
        stop_simulation();
        return ran;
    }

    // The blocks of the film at `path` (a local tag file): sizes and counts.
    struct block_info
    {
        uint32_t flags;
        int32_t size, count;
        std::vector<int32_t> verbs;
    };
    std::vector<block_info> blocks_of(const std::string &path, recording_file_header *header)
    {
        const std::vector<uint8_t> file = read_file_bytes(path);
        std::vector<block_info> blocks;
        if (file.size() < (size_t)(LOCAL_HEADER + RECORDING_FILE_HEADER_SIZE)) return blocks;
        memcpy(header, &file[LOCAL_HEADER], sizeof(*header));
        byte_swap_recording_header(header);
        for (size_t at = (size_t)(LOCAL_HEADER + header->data_offset); at + 8 <= file.size();)
        {
            block_info block = {read_be32(&file[at]), read_be16(&file[at + 4]), (int16_t)read_be16(&file[at + 6]), {}};
            for (int32_t offset = 0; offset < block.size;)
            {
                block.verbs.push_back((int8_t)file[at + 8 + (size_t)offset + 2]);
                offset += (int16_t)read_be16(&file[at + 8 + (size_t)offset]);
            }
            blocks.push_back(block);
            at += 8 + (size_t)block.size;
            if (block.flags & 1) break;
        }
        return blocks;
    }

    // Records a game of 3000 ticks with about 500 scripted commands: local
    // ones through the outgoing ring, a few as the network hands them over
    // (one of exactly 2048 bytes), null commands among them.  Returns the
    // film's path.
    std::string record_scripted_game(void)
    {
        start(5);
        uint32_t draw = 12345;
        const auto next = [&draw](uint32_t range) {
            draw = draw * 1103515245u + 12345u;
            return (draw >> 16) % range;
        };
        for (int32_t frame = 0; frame < 3000; ++frame)
        {
            if (frame % 6 == 0 && frame < 2990)
            {
                const int16_t verb = next(5) == 0 ? (int16_t)_command_null : LOGGED_VERBS[next((uint32_t)std::size(LOGGED_VERBS))];
                const std::vector<uint8_t> command = make_command(verb, 8 + (int32_t)next(400), (uint32_t)frame);
                EXPECT_TRUE(queue_outgoing_command((const command_header *)command.data()));
            }
            if (frame == 1000 || frame == 1001 || frame == 2000)
            {
                // As the network queues a host's command: stamped, queued, recorded.
                std::vector<uint8_t> command = make_command(_command_sync_formation, frame == 1000 ? 2048 : 1500, 7);
                command_header *header = (command_header *)command.data();
                header->player_index = 1;
                header->time = game_->target_time + 1;
                EXPECT_TRUE(queue_incoming_command(header));
                record_incoming_command(header);
            }
            update_vesk(1);
        }
        EXPECT_EQ(game_->game_time, 3000);
        stop_simulation();
        EXPECT_EQ(streamed_end_time, 3000);
        char reason[256];
        EXPECT_TRUE(save_simulation_film("recorded.film", reason, sizeof(reason))) << reason;
        return fs::absolute("recorded.film").string();
    }
};

TEST_F(film_test, replay_executes_the_recorded_commands_at_their_ticks)
{
    const std::string film = record_scripted_game();
    const std::vector<executed_command> recorded = executed;
    ASSERT_GT(recorded.size(), 380u);
    EXPECT_NE(std::find(streamed_verbs.begin(), streamed_verbs.end(), (int32_t)_command_null), streamed_verbs.end())
        << "null commands reach the lobby stream";

    recording_file_header header;
    const std::vector<block_info> blocks = blocks_of(film, &header);
    ASSERT_GT(blocks.size(), 20u);
    EXPECT_EQ(header.recording_ending_time, 3000);
    EXPECT_EQ(header.data_offset, RECORDING_FILE_HEADER_SIZE);
    bool has_2048 = false;
    int32_t sync_commands = 0;
    for (size_t i = 0; i < blocks.size(); ++i)
    {
        EXPECT_LE(blocks[i].size, RECORDING_BUFFER_SIZE);
        EXPECT_EQ((int32_t)blocks[i].verbs.size(), blocks[i].count);
        EXPECT_EQ((blocks[i].flags & 1) != 0, i + 1 == blocks.size());
        has_2048 = has_2048 || blocks[i].size == 2048;
        for (int32_t verb : blocks[i].verbs)
        {
            EXPECT_NE(verb, _command_null) << "null commands are never stored";
            if (verb == _command_sync) ++sync_commands;
        }
    }
    EXPECT_TRUE(has_2048) << "the 2048-byte command fills a block alone";
    EXPECT_GE(sync_commands, 3000 / 170);

    executed.clear();
    EXPECT_EQ(replay(film), 3000);
    EXPECT_FALSE(game_->flags.load() & _game_is_out_of_sync_flag);
    EXPECT_FALSE(replay_failed());
    ASSERT_EQ(executed.size(), recorded.size());
    EXPECT_TRUE(executed == recorded);
}

TEST_F(film_test, a_command_larger_than_a_block_is_left_out_and_logged)
{
    start(3);
    update_vesk(1);
    std::vector<uint8_t> command = make_command(_command_sync_formation, 3000, 1);
    command_header *header = (command_header *)command.data();
    header->player_index = 0;
    header->time = game_->target_time + 1;
    record_incoming_command(header);
    const std::vector<uint8_t> small = make_command(_command_sync_formation, 40, 2);
    ASSERT_TRUE(queue_outgoing_command((const command_header *)small.data()));
    for (int32_t i = 0; i < 20; ++i) update_vesk(1);
    stop_simulation();
    char reason[256];
    ASSERT_TRUE(save_simulation_film("big.film", reason, sizeof(reason))) << reason;
    recording_file_header film_header;
    const std::vector<block_info> blocks = blocks_of("big.film", &film_header);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].verbs, std::vector<int32_t>({_command_sync_formation, _command_sync})) << "and the end record";
    EXPECT_EQ(streamed_verbs.front(), _command_sync_formation) << "the stream still gets it";
    EXPECT_NE(read_whole_file(LOG_FILE_NAME).find("incomplete"), std::string::npos);
}

// A last film the store cannot read (zeroed by a crash of the machine) would
// stop every later game from being recorded: it is kept aside, bytes and all,
// and the next game records under its name.
TEST_F(film_test, a_damaged_last_film_is_kept_aside_and_the_next_game_is_recorded)
{
    fs::create_directories(FILMS_FOLDER);
    const std::string last = std::string(FILMS_FOLDER) + "/Last Game";
    const std::vector<uint8_t> zeros(4536, 0);
    ASSERT_TRUE(write_file_bytes(last, zeros));
    start(3);
    for (int32_t i = 0; i < 20; ++i) update_vesk(1);
    stop_simulation();
    recording_file_header header;
    EXPECT_FALSE(blocks_of(last, &header).empty()) << "the game was not recorded";
    EXPECT_TRUE(read_file_bytes(std::string(FILMS_FOLDER) + "/.Last Game.damaged") == zeros);
}

// A player keeps a film by copying the last game's file: the copy holds
// "Last Game" inside it, yet the next game replaces only the file of that name
// and every copy stays whole.
TEST_F(film_test, copies_of_the_last_film_outlive_the_next_game)
{
    const std::string last = std::string(FILMS_FOLDER) + "/Last Game";
    start(3);
    for (int32_t i = 0; i < 20; ++i) update_vesk(1);
    stop_simulation();
    const std::vector<uint8_t> kept = read_file_bytes(last);
    ASSERT_FALSE(kept.empty());
    const char *const copies[] = {"Ridge Snow", "Last Game copy", "LAST GAME 2"};
    for (const char *name : copies) fs::copy_file(last, std::string(FILMS_FOLDER) + "/" + name);
    for (uint32_t seed : {4u, 5u})
    {
        start(seed);
        for (int32_t i = 0; i < 30; ++i) update_vesk(1);
        stop_simulation();
        for (const char *name : copies)
        {
            EXPECT_TRUE(read_file_bytes(std::string(FILMS_FOLDER) + "/" + name) == kept) << name << ", seed " << seed;
            EXPECT_STREQ(tag_file_name_get(tag_file_find_by_name(RECORDING_GROUP_TAG, name)), name) << "listed";
        }
        EXPECT_STREQ(tag_file_full_filename_get(tag_file_find_by_name(RECORDING_GROUP_TAG, "Last Game")), "Last Game");
        recording_file_header header;
        const std::vector<block_info> blocks = blocks_of(last, &header);
        ASSERT_FALSE(blocks.empty()) << "the next game was recorded, seed " << seed;
        EXPECT_TRUE(blocks.back().flags & 1) << "closed, seed " << seed;
        EXPECT_EQ(header.recording_ending_time, 30);
        EXPECT_FALSE(read_file_bytes(last) == kept) << "the last film was not renewed";
    }
}

// "Network Game <time>" is one character over a film's name: the time must survive.
TEST(dated_film_name, words_before_the_time_give_way_and_the_time_stays)
{
    const char *const rows[][2] = {
        {"Network Game 2026-12-10 15.12.49", "Network 2026-12-10 15.12.49"},
        {"Autosave 2026-12-10 15.12.49", "Autosave 2026-12-10 15.12.49"},
        {"Our Long Network Game 2026-12-10 15.12.49", "Our Long 2026-12-10 15.12.49"},
        {"A name with no time in it at all, and far too long", "A name with no time in it at al"},
    };
    for (const auto &row : rows)
    {
        char name[256];
        strlcpy(name, row[0], sizeof(name));
        fit_dated_film_name(name, sizeof(name), "2026-12-10 15.12.49");
        EXPECT_STREQ(name, row[1]);
        EXPECT_TRUE(tag_name_is_valid(name)) << row[0];
    }
}

// A command no ring would hold (over 4096 bytes) is refused whole: neither the
// stream nor the film reads past the bytes the recorder copies.
TEST_F(film_test, a_command_over_the_largest_size_is_refused)
{
    start(3);
    update_vesk(1);
    std::vector<uint8_t> command = make_command(_command_sync_formation, 5000, 1);
    command_header *header = (command_header *)command.data();
    header->player_index = 0;
    header->time = game_->target_time + 1;
    streamed_verbs.clear();
    {
        expected_assertions expect(1, "MAXIMUM_COMMAND_SIZE");
        record_incoming_command(header);
    }
    EXPECT_TRUE(streamed_verbs.empty());
}

TEST_F(film_test, a_short_game_has_one_last_block_with_its_ending_time)
{
    start(4);
    // Only the sync command of tick 0 would be stored: run past none.
    for (int32_t i = 0; i < 100; ++i) update_vesk(1);
    stop_simulation();
    char reason[256];
    ASSERT_TRUE(save_simulation_film("short.film", reason, sizeof(reason))) << reason;
    recording_file_header header;
    const std::vector<block_info> blocks = blocks_of("short.film", &header);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].flags, 1u);
    EXPECT_EQ(header.recording_ending_time, 100);
    EXPECT_EQ(replay("short.film"), 100);
}

// Every damage ends the replay with a logged reason: never a crash, a hang or
// a read past a buffer.  A film cut short plays to its last whole command.
TEST_F(film_test, damaged_films_end_their_replay)
{
    const std::string film = record_scripted_game();
    const std::vector<uint8_t> bytes = read_file_bytes(film);
    recording_file_header header;
    const std::vector<block_info> blocks = blocks_of(film, &header);
    ASSERT_GT(blocks.size(), 3u);
    const size_t first_block = (size_t)(LOCAL_HEADER + header.data_offset);
    const size_t second_block = first_block + 8 + (size_t)blocks[0].size;

    // Sets a big-endian field of the film and fixes nothing else.
    const auto with = [&bytes](size_t at, int32_t size, uint32_t value) {
        std::vector<uint8_t> copy = bytes;
        if (size == 2) write_be16(&copy[at], (uint16_t)value);
        else write_be32(&copy[at], value);
        return copy;
    };
    const auto cut = [&bytes](size_t size) { return std::vector<uint8_t>(bytes.begin(), bytes.begin() + (long)size); };
    const auto local_size = [](std::vector<uint8_t> copy) {
        // The store refuses a file shorter than its stated data: state the
        // size that is there, and no ending time, as a film the game never
        // closed has.
        write_be32(&copy[56], (uint32_t)(copy.size() - LOCAL_HEADER));
        write_be32(&copy[LOCAL_HEADER + 8], 0);
        return copy;
    };
    const struct
    {
        const char *name;
        std::vector<uint8_t> bytes;
        bool starts, fails;
    } rows[] = {
        {"version 4", with(LOCAL_HEADER + 0, 2, 4), false, true},
        {"17 players", with(LOCAL_HEADER + 36 + 556, 2, 17), false, true},
        {"data offset 2000", with(LOCAL_HEADER + 4, 4, 2000), false, true},
        // A closed film is checked whole before it starts.
        {"block of 3000 bytes", with(second_block + 4, 2, 3000), false, true},
        {"block size past the end", with(second_block + 4, 2, 2040), false, true},
        {"count too high", with(second_block + 6, 2, (uint32_t)blocks[1].count + 1), false, true},
        {"count negative", with(second_block + 6, 2, 0xffff), false, true},
        {"command size 0", with(second_block + 8, 2, 0), false, true},
        {"command size 7", with(second_block + 8, 2, 7), false, true},
        {"command size -1", with(second_block + 8, 2, 0xffff), false, true},
        {"command size past the block", with(second_block + 8, 2, 2047), false, true},
        // A film the game never closed is read as it plays.
        {"open, command size 7", local_size(with(second_block + 8, 2, 7)), true, true},
        {"cut inside a block", local_size(cut(second_block + 20)), true, false},
        {"cut after a block", local_size(cut(second_block)), true, false},
        {"cut inside the header", local_size(cut(LOCAL_HEADER + 100)), false, true},
    };
    for (const auto &row : rows)
    {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(write_file_bytes("damaged.film", row.bytes));
        const int32_t ran = replay(fs::absolute("damaged.film").string(), row.starts);
        if (row.starts)
        {
            EXPECT_EQ(replay_failed(), row.fails);
            EXPECT_LT(ran, 3000);
        }
        clear_pending_error();
    }
}

// A closed film must end with its block marked last and nothing after it, and
// its ending time must lie within a day's idling of its last command: a cut
// one is refused before it starts (the out-of-sync check and vesk_sim --film
// start films this way), not played as far as it reads and passed as whole;
// vesk_film fails it too.
TEST_F(film_test, cut_or_overlong_closed_films_are_refused)
{
    const std::string film_tool = fs::absolute(fs::path(previous) / ".." / "bin" / "vesk_film").string();
    if (!fs::exists(film_tool)) SKIP_OR_FAIL_UNDER_CI("vesk_film is missing");
    const std::string film = record_scripted_game();
    const std::vector<uint8_t> bytes = read_file_bytes(film);
    recording_file_header header;
    const std::vector<block_info> blocks = blocks_of(film, &header);
    ASSERT_GT(blocks.size(), 3u);
    ASSERT_EQ(header.recording_ending_time, 3000);
    // The store's header states the data size: a cut file states its own.
    const auto cut = [&bytes](size_t size) {
        std::vector<uint8_t> copy(bytes.begin(), bytes.begin() + (long)size);
        write_be32(&copy[56], (uint32_t)(size - LOCAL_HEADER));
        return copy;
    };
    const auto with_ending_time = [](std::vector<uint8_t> copy, uint32_t time) {
        write_be32(&copy[LOCAL_HEADER + 8], time);
        return copy;
    };
    struct row
    {
        std::string name;
        std::vector<uint8_t> bytes;
        bool refused;
    };
    std::vector<row> rows;
    size_t end = (size_t)(LOCAL_HEADER + header.data_offset);
    rows.push_back({"cut before the first block", cut(end), true});
    for (size_t i = 0; i + 1 < blocks.size(); ++i)
    {
        end += 8 + (size_t)blocks[i].size;
        rows.push_back({"cut after block " + std::to_string(i), cut(end), true});
    }
    std::vector<uint8_t> first_last = bytes;
    write_be32(&first_last[(size_t)(LOCAL_HEADER + header.data_offset)], _last_recording_block_flag);
    rows.push_back({"first block marked last", first_last, true});
    std::vector<uint8_t> trailing = bytes;
    trailing.push_back(0);
    write_be32(&trailing[56], (uint32_t)(trailing.size() - LOCAL_HEADER));
    rows.push_back({"a byte after the last block", trailing, true});
    rows.push_back({"ending time 2147483647", with_ending_time(bytes, 2147483647), true});
    rows.push_back({"ending time a day past the last command",
                    with_ending_time(bytes, (uint32_t)(3000 + MAXIMUM_RECORDING_IDLE_TICKS + 1)), true});
    // The last block rebuilt by `edit` (its commands and count), its size and
    // the data size restated: the end record is its last 32 bytes.
    const auto with_last_block = [&](const std::function<void(std::vector<uint8_t> *, int32_t *)> &edit) {
        std::vector<uint8_t> copy = bytes;
        size_t at = (size_t)(LOCAL_HEADER + header.data_offset);
        for (size_t i = 0; i + 1 < blocks.size(); ++i) at += 8 + (size_t)blocks[i].size;
        std::vector<uint8_t> commands(copy.begin() + (long)at + 8, copy.end());
        int32_t count = (int16_t)read_be16(&copy[at + 6]);
        edit(&commands, &count);
        copy.resize(at + 8);
        copy.insert(copy.end(), commands.begin(), commands.end());
        write_be16(&copy[at + 4], (uint16_t)commands.size());
        write_be16(&copy[at + 6], (uint16_t)count);
        write_be32(&copy[56], (uint32_t)(copy.size() - LOCAL_HEADER));
        return copy;
    };
    const size_t END = RECORDING_CHAINED_END_RECORD_SIZE;
    rows.push_back({"end record left out", with_last_block([END](std::vector<uint8_t> *c, int32_t *count) {
                        c->resize(c->size() - END);
                        --*count;
                    }),
                    true});
    rows.push_back({"end record doubled", with_last_block([END](std::vector<uint8_t> *c, int32_t *count) {
                        const std::vector<uint8_t> record(c->end() - (long)END, c->end());
                        c->insert(c->end(), record.begin(), record.end());
                        ++*count;
                    }),
                    true});
    rows.push_back({"end record made a player's sync command",
                    with_last_block([END](std::vector<uint8_t> *c, int32_t *) { (*c)[c->size() - END + 3] = 0; }), true});
    rows.push_back({"end record and ending time at 2147483647",
                    with_ending_time(with_last_block([END](std::vector<uint8_t> *c, int32_t *) {
                                         write_be32(&(*c)[c->size() - END + 4], 2147483647u);
                                         write_be32(&(*c)[c->size() - END + 8], 2147483647u);
                                     }),
                                     2147483647u),
                    true});
    // (It never runs, and its end record judges the game it leaves.)
    rows.push_back({"its last command stamped past the end",
                    with_last_block([END](std::vector<uint8_t> *c, int32_t *) {
                        size_t last = 0;
                        for (size_t at = 0; at + END < c->size(); at += read_be16(&(*c)[at])) last = at;
                        write_be32(&(*c)[last + 4], 3001);
                    }),
                    false});
    std::vector<uint8_t> other_seed = bytes;
    other_seed[LOCAL_HEADER + offsetof(recording_file_header, game) + offsetof(new_game_data, parameters) +
               offsetof(new_game_parameter_data, random_seed) + 3] ^= 1;
    rows.push_back({"a header its end record no longer matches (another seed)", other_seed, true});
    // Left open by a crash (ending time 0): plays to its last whole command.
    rows.push_back({"open, cut after block 1",
                    with_ending_time(cut((size_t)(LOCAL_HEADER + header.data_offset) + 16 + (size_t)blocks[0].size +
                                         (size_t)blocks[1].size),
                                     0),
                    false});
    rows.push_back({"whole", bytes, false});
    for (size_t i = 0; i < rows.size(); ++i)
    {
        const row &r = rows[i];
        SCOPED_TRACE(r.name);
        // A file name each: the store keeps what it learnt of a file it opened by path.
        const std::string path = fs::absolute("cut" + std::to_string(i) + ".film").string();
        ASSERT_TRUE(write_file_bytes(path, r.bytes));
        std::string why;
        const int32_t ran = replay(path, !r.refused, &why);
        if (r.refused)
        {
            EXPECT_NE(why.find("is damaged"), std::string::npos) << why;
        }
        else
        {
            EXPECT_FALSE(replay_failed());
        }
        if (r.name == "whole") { EXPECT_EQ(ran, 3000); }
        clear_pending_error();
        // vesk_film lists what it reads and fails the same films, saying why.
        const int listed = exit_code_of(system(("'" + film_tool + "' '" + path + "' > /dev/null 2> listed.txt").c_str()));
        EXPECT_EQ(listed, r.refused ? 1 : 0) << read_whole_file("listed.txt");
        if (r.refused)
        {
            EXPECT_NE(read_whole_file("listed.txt").find("damaged"), std::string::npos);
        }
    }
}

// A closed film stops at its ending time.  Commands stamped past it never
// run: an earlier build's film may hold some (stamped ahead of its clock),
// and it still ends there instead of waiting for them forever; in a film
// without an end record, commands further past it are a damaged stamp, and
// the film is refused.
TEST_F(film_test, a_film_ends_at_its_ending_time_whatever_blocks_follow)
{
    // An earlier build's: from 1850 a closed film ends with its end record,
    // and one without it is refused.
    ASSERT_TRUE(set_simulation_gameplay_version(1840));
    const std::string film = record_scripted_game();
    set_simulation_gameplay_version(NONE);
    std::vector<uint8_t> bytes = without_end_record(read_file_bytes(film));
    write_be32(&bytes[LOCAL_HEADER + 8], 2990); // commands of ticks up to 3000 after it
    ASSERT_TRUE(write_file_bytes("early.film", bytes));
    EXPECT_EQ(replay(fs::absolute("early.film").string()), 2990);
    EXPECT_FALSE(replay_failed());
    write_be32(&bytes[LOCAL_HEADER + 8], 1000);
    ASSERT_TRUE(write_file_bytes("earlier.film", bytes));
    std::string why;
    EXPECT_EQ(replay(fs::absolute("earlier.film").string(), false, &why), -1);
    EXPECT_NE(why.find("a command is stamped past its ending time"), std::string::npos) << why;

    // A joiner of 1850 that was 2 s behind its host when it quit, at tick
    // 255, wrote the host's orders up to tick 292 (an attack order of each
    // player every tick), before its end record: those never ran.  Its 20
    // orders of ticks 240 to 255 stamped past the end run no more, and its
    // end record finds the other game.
    bytes = read_file_bytes(source_tree_path("tests/data/films/joiner_quit_behind.film"));
    for (const bool moved : {false, true})
    {
        for (size_t at = LOCAL_HEADER + RECORDING_FILE_HEADER_SIZE; moved && at < bytes.size();
             at += 8 + read_be16(&bytes[at + 4]))
            for (size_t c = at + 8; c < at + 8 + read_be16(&bytes[at + 4]); c += read_be16(&bytes[c]))
            {
                const uint32_t time = read_be32(&bytes[c + 4]);
                if ((int8_t)bytes[c + 3] != NONE && time >= 240 && time <= 255) write_be32(&bytes[c + 4], 256);
            }
        const std::string path = fs::absolute(moved ? "moved.film" : "joiner.film").string();
        ASSERT_TRUE(write_file_bytes(path, bytes));
        EXPECT_EQ(replay(path), 255);
        EXPECT_EQ((game_->flags.load() & _game_is_out_of_sync_flag) != 0, moved);
    }
}

// A film set up for playing whose map never started does not take over the
// next game started otherwise: that game is recorded as any other.
// Ending a game changes the state outside any tick (its time state, the over
// flag, the time at its end), and ticks may still run before its map goes:
// however it ends, its film closes with what its last tick left, and replays
// in step to that tick, as does a save made just before the end.  A game
// that runs behind its clock (15 ticks a frame of 60) has its commands
// stamped up to 45 ticks ahead when it ends, and blocks full of them.
TEST_F(film_test, every_way_a_game_ends_closes_its_film_with_its_last_ticks_state)
{
    const auto quit = [] { end_game(_game_end_player_left); };
    struct ending
    {
        const char *way;
        int32_t time_limit, frames; // the frames played before the end
        bool quits, saves_first, restores_first;
        int32_t frames_after; // played after the end, before the map goes
        bool behind = false;  // a frame of 60 ticks, a command of 300 bytes in each
    };
    const ending endings[] = {
        {"its frames run out (a tool's --ticks, a film stopped early)", 0, 200, false, false, false, 0},
        {"Quit from the Game Menu", 0, 200, true, false, false, 6},
        {"Quit after its first tick", 0, 1, true, false, false, 3},
        {"its time limit and then the countdown run out", 60, 60 + ENDGAME_COUNTDOWN_TICKS + 20, false, false, false,
         0},
        {"Quit during the countdown", 60, 90, true, false, false, 4},
        {"Quit just after a save", 0, 150, true, true, false, 2},
        {"Quit in a restored saved game", 0, 40, true, false, true, 5},
        {"the map goes behind the clock (Restart, the window closed)", 0, 30, false, false, false, 0, true},
        {"Quit behind the clock", 0, 30, true, false, false, 3, true},
        {"Quit just after an autosave behind the clock", 0, 30, true, true, false, 2, true},
        {"Quit behind the clock in a restored saved game", 0, 30, true, false, true, 2, true},
    };
    for (const ending &row : endings)
    {
        SCOPED_TRACE(row.way);
        set_simulation_time_limit(row.time_limit);
        if (row.restores_first)
        {
            int32_t save_ticks = 0;
            char reason[256];
            ASSERT_TRUE(start_simulation_from_saved_game(nullptr, "just_before.save", &save_ticks, reason,
                                                         sizeof(reason)))
                << reason;
            set_unbounded_game_ticks(true);
            for (int32_t pass = 0; pass < 200 && !replay_over(); ++pass) update_vesk(1);
            set_unbounded_game_ticks(false);
            ASSERT_EQ(game_->game_time, save_ticks);
            ASSERT_FALSE(game_->flags.load() & _game_is_out_of_sync_flag) << "the restore is in step";
        }
        if (!row.restores_first) start(9);
        for (int32_t frame = 0; frame < row.frames; ++frame)
        {
            if (frame % 10 == 3 || row.behind)
            {
                const std::vector<uint8_t> command = make_command(LOGGED_VERBS[0], row.behind ? 300 : 24, (uint32_t)frame);
                EXPECT_TRUE(queue_outgoing_command((const command_header *)command.data()));
            }
            update_vesk(row.behind ? 60 : 1);
        }
        EXPECT_TRUE(!row.behind || game_->target_time > game_->game_time + 30) << "the commands are stamped ahead";
        char reason[256];
        if (row.saves_first)
        {
            ASSERT_TRUE(save_simulation_game("just_before.save", reason, sizeof(reason))) << reason;
        }
        const int32_t end_tick = game_->game_time;
        if (row.quits) quit();
        for (int32_t frame = 0; frame < row.frames_after; ++frame) update_vesk(1);
        stop_simulation();
        set_simulation_time_limit(0);
        ASSERT_TRUE(save_simulation_film("ending.film", reason, sizeof(reason))) << reason;
        EXPECT_EQ(replay(fs::absolute("ending.film").string()), end_tick);
        EXPECT_FALSE(replay_failed());
        EXPECT_FALSE(game_->flags.load() & _game_is_out_of_sync_flag);
        if (!row.saves_first) continue;
        int32_t save_ticks = 0;
        ASSERT_TRUE(start_simulation_from_saved_game(nullptr, "just_before.save", &save_ticks, reason, sizeof(reason)))
            << reason;
        set_unbounded_game_ticks(true);
        for (int32_t pass = 0; pass < 200 && !replay_over(); ++pass) update_vesk(1);
        set_unbounded_game_ticks(false);
        EXPECT_EQ(save_ticks, end_tick);
        EXPECT_FALSE(game_->flags.load() & _game_is_out_of_sync_flag) << "the save restores in step";
        stop_simulation();
    }
}

TEST_F(film_test, a_film_whose_map_never_started_leaves_the_next_game_recorded)
{
    start(4);
    for (int32_t i = 0; i < 50; ++i) update_vesk(1);
    stop_simulation();
    char reason[256];
    ASSERT_TRUE(save_simulation_film("first.film", reason, sizeof(reason))) << reason;

    new_game_data data;
    ASSERT_TRUE(begin_film_from_path(fs::absolute("first.film").c_str(), &data));
    start(6); // a single-player game, not the film
    EXPECT_TRUE(replay_over()) << "the new game is recorded, not taken for the film";
    for (int32_t i = 0; i < 80; ++i) update_vesk(1);
    stop_simulation();
    ASSERT_TRUE(save_simulation_film("second.film", reason, sizeof(reason))) << reason;
    recording_file_header header;
    ASSERT_FALSE(blocks_of("second.film", &header).empty());
    EXPECT_EQ(header.recording_ending_time, 80);
    EXPECT_EQ(header.game.parameters.random_seed, 6u);
}

// Every file in the check folder is a film to check: one the store cannot
// even open is listed too, so that it fails instead of being passed over.
TEST_F(film_test, the_check_lists_every_file_of_its_folder)
{
    start(4);
    for (int32_t i = 0; i < 50; ++i) update_vesk(1);
    stop_simulation();
    fs::create_directory(OOS_CHECKER_FILMS_FOLDER);
    const std::string folder = std::string(OOS_CHECKER_FILMS_FOLDER) + "/";
    char reason[256];
    ASSERT_TRUE(save_simulation_film((folder + "A").c_str(), reason, sizeof(reason))) << reason;
    const std::vector<uint8_t> film = read_file_bytes(folder + "A");
    ASSERT_TRUE(write_file_bytes(folder + "B", std::vector<uint8_t>(film.begin(), film.begin() + 40)));
    ASSERT_TRUE(write_file_bytes(folder + ".hidden", film));

    int32_t films[8];
    ASSERT_EQ(find_oos_checker_films(films, 8), 2);
    new_game_data data;
    char name[64];
    EXPECT_TRUE(begin_oos_checker_film(films[0], &data, name, sizeof(name)));
    EXPECT_STREQ(name, "A");
    EXPECT_FALSE(begin_oos_checker_film(films[1], &data, name, sizeof(name)));
    EXPECT_STREQ(name, "B");
}

// A folder the check could not play whole fails it, rather than passing the
// films it leaves out.
TEST_F(film_test, a_folder_with_films_the_check_would_leave_out_fails_it)
{
    start(4);
    stop_simulation();
    fs::create_directory(OOS_CHECKER_FILMS_FOLDER);
    const std::string folder = std::string(OOS_CHECKER_FILMS_FOLDER) + "/";
    for (int32_t i = 0; i < 256; ++i)
    {
        ASSERT_TRUE(write_file_bytes(folder + "film" + std::to_string(i), std::vector<uint8_t>(8, 0)));
    }
    int32_t films[256];
    EXPECT_EQ(find_oos_checker_films(films, 256), 256);
    ASSERT_TRUE(write_file_bytes(folder + "one more", std::vector<uint8_t>(8, 0)));
    EXPECT_EQ(find_oos_checker_films(films, 256), NONE);
}

int crash_while_recording(const void *)
{
    if (!open_log_file("film crash test")) return 98;
    char reason[256];
    if (!start_simulation(nullptr, DEMO, 11, reason, sizeof(reason))) return 97;
    initialize_crash_handler();
    // 400 ticks in step, then 4 frames of which 15 ticks of 60 run, their
    // commands stamped at ticks 400, 460, 475 and 490: a block fills with
    // the two stamped ahead while the game is at tick 445, and it crashes at 460.
    for (int32_t frame = 0; frame < 404; ++frame)
    {
        if (frame % 10 == 0 || frame >= 400)
        {
            const std::vector<uint8_t> command =
                make_command(_command_sync_formation, frame >= 400 ? 1000 : 60, (uint32_t)frame);
            queue_outgoing_command((const command_header *)command.data());
        }
        update_vesk(frame >= 400 ? 60 : 1);
    }
    raise(SIGSEGV);
    return 99;
}

TEST_F(film_test, a_crash_leaves_a_film_that_replays)
{
    const int status = run_in_child(crash_while_recording, nullptr, 60);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    std::string crash_film;
    for (const auto &entry : fs::directory_iterator(FILMS_FOLDER))
        if (entry.path().filename().string().rfind("Crash ", 0) == 0) crash_film = entry.path().string();
    ASSERT_FALSE(crash_film.empty()) << read_whole_file("vesk_log.txt");
    recording_file_header header;
    const std::vector<block_info> blocks = blocks_of(crash_film, &header);
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(blocks.back().flags, 1u);
    EXPECT_EQ(header.recording_ending_time, 460);
    EXPECT_EQ(replay(fs::absolute(crash_film).string()), 460);
    EXPECT_FALSE(replay_failed());
    EXPECT_FALSE(game_->flags.load() & _game_is_out_of_sync_flag);
    EXPECT_EQ(executed.size(), 41u);
}

// A saved game is the film of its level up to the save: restoring it replays
// the commands up to that tick at full speed, then recording goes on in a new
// last recording that starts with those commands.
TEST_F(film_test, a_restored_saved_game_turns_into_the_last_recording)
{
    // Made by hand from an earlier build's film: from 1850 a saved game's
    // end record binds its header, which this one changes.
    ASSERT_TRUE(set_simulation_gameplay_version(1840));
    const std::string film = record_scripted_game();
    set_simulation_gameplay_version(NONE);
    const std::vector<executed_command> recorded = executed;
    recording_file_header film_header;
    const std::vector<uint8_t> bytes = without_end_record(read_file_bytes(film));
    ASSERT_FALSE(blocks_of(film, &film_header).empty());
    // Near the end: a save holds no command stamped much past it.
    const int32_t SAVE_TIME = 2900;

    std::vector<uint8_t> data(bytes.begin() + LOCAL_HEADER, bytes.end());
    write_be16(&data[2], _saved_game_recording_type);
    write_be32(&data[8], (uint32_t)SAVE_TIME);
    int32_t save = tag_file_new_with_random_subgroup_tag(SAVED_GAME_GROUP_TAG, "restored", SAVE_GAME_VERSION_NUMBER);
    ASSERT_NE(save, NONE);
    ASSERT_TRUE(tag_file_write(&save, 0, (int32_t)data.size(), data.data()));
    tag_file_info info;
    ASSERT_TRUE(tag_file_info_get(save, &info));

    executed.clear();
    new_game_data game;
    ASSERT_TRUE(private_start_replay(info.subgroup_tag, &game, false));
    EXPECT_EQ(game.parameters.type, _game_type_replay);
    EXPECT_EQ(get_replay_game_type(), _game_type_local);
    EXPECT_TRUE(game_is_solo_replay());
    ASSERT_TRUE(initialize_vesk_for_new_map(&game, true));
    game_->state = _game_state_running;
    set_unbounded_game_ticks(true);
    for (int32_t pass = 0; pass < 200 && !replay_over(); ++pass) update_vesk(1);
    set_unbounded_game_ticks(false);
    EXPECT_TRUE(replay_over());
    EXPECT_EQ(game_->game_time, SAVE_TIME);
    EXPECT_FALSE(game_->flags.load() & _game_is_out_of_sync_flag);
    std::vector<executed_command> before_save;
    for (const executed_command &command : recorded)
        if (command.time < SAVE_TIME) before_save.push_back(command);
    EXPECT_TRUE(executed == before_save);

    // The continued game's film: the saved game's commands up to the save.
    dispose_vesk_from_old_map();
    game_->state = _game_state_displaying_main_menu;
    recording_file_header last_header;
    const std::vector<block_info> last = blocks_of(std::string(FILMS_FOLDER) + "/Last Game", &last_header);
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last_header.recording_ending_time, SAVE_TIME);
    EXPECT_EQ(last.back().flags, 1u);
    int32_t stored = 0;
    for (const block_info &block : last)
    {
        EXPECT_LE(block.size, RECORDING_BUFFER_SIZE);
        stored += block.count;
    }
    // Every recorded command up to the save, sync commands included, and none
    // after it; then the continued film's own end record.
    int32_t expected = 1;
    for (size_t at = (size_t)(LOCAL_HEADER + film_header.data_offset); at + 8 <= bytes.size();)
    {
        const int32_t size = read_be16(&bytes[at + 4]);
        for (int32_t offset = 0; offset < size;)
        {
            if ((int32_t)read_be32(&bytes[at + 8 + (size_t)offset + 4]) <= SAVE_TIME) ++expected;
            offset += (int16_t)read_be16(&bytes[at + 8 + (size_t)offset]);
        }
        const bool was_last = read_be32(&bytes[at]) & 1;
        at += 8 + (size_t)size;
        if (was_last) break;
    }
    EXPECT_GT(expected, 100);
    EXPECT_EQ(stored, expected);
}

// The tools end to end: a recorded run and its replay print one trace, the
// game checks the film as in step, and vesk_film lists it.
TEST_F(film_test, tools_record_replay_check_and_list_a_film)
{
    const std::string bin = fs::absolute(fs::path(previous) / ".." / "bin").string();
    for (const char *tool : {"vesk_sim", "vesk", "vesk_film"})
        if (!fs::exists(fs::path(bin) / tool)) SKIP_OR_FAIL_UNDER_CI(std::string(tool) + " is missing");
    const std::string sim = "'" + bin + "/vesk_sim' --data '" + directory + "'";
    ASSERT_EQ(system((sim + " --map demo --seed 5 --ticks 3000 --record F > recorded.txt 2> err.txt").c_str()), 0)
        << read_whole_file("err.txt");
    ASSERT_EQ(system((sim + " --film F > replayed.txt 2> err.txt").c_str()), 0) << read_whole_file("err.txt");
    const std::string recorded = read_whole_file("recorded.txt");
    EXPECT_EQ(std::count(recorded.begin(), recorded.end(), '\n'), 3000);
    EXPECT_EQ(recorded, read_whole_file("replayed.txt"));
    // Harness verbs act outside the stream: a film could not hold them.
    const int refused = system((sim + " --map demo --seed 5 --ticks 10 --record G --command 5 score 0 1 0 0 "
                                      "> /dev/null 2> refused.txt").c_str());
    EXPECT_TRUE(WIFEXITED(refused) && WEXITSTATUS(refused) == 2);
    EXPECT_NE(read_whole_file("refused.txt").find("--record"), std::string::npos);

    fs::create_directory(OOS_CHECKER_FILMS_FOLDER);
    fs::copy_file("F", std::string(OOS_CHECKER_FILMS_FOLDER) + "/F");
    fs::copy_file(fs::path(bin) / "vesk", "vesk");
    const int checked = system("env -u DISPLAY -u WAYLAND_DISPLAY ./vesk --oos_check > oos.txt 2>&1");
    EXPECT_TRUE(WIFEXITED(checked) && WEXITSTATUS(checked) == 0) << read_whole_file("oos.txt");
    EXPECT_NE(read_whole_file(LOG_FILE_NAME).find("film \"F\": in step at tick 3000"), std::string::npos)
        << read_whole_file(LOG_FILE_NAME);

    // A damaged film is reported and fails the check.
    std::vector<uint8_t> bytes = read_file_bytes("F");
    write_be16(&bytes[64 + RECORDING_FILE_HEADER_SIZE + 6], 99); // the first block's count
    ASSERT_TRUE(write_file_bytes(std::string(OOS_CHECKER_FILMS_FOLDER) + "/F", bytes));
    const int failed = system("env -u DISPLAY -u WAYLAND_DISPLAY ./vesk --oos_check > oos.txt 2>&1");
    EXPECT_TRUE(WIFEXITED(failed) && WEXITSTATUS(failed) == 1);
    // A closed film is checked whole before it starts: the reason names the file.
    EXPECT_NE(read_whole_file(LOG_FILE_NAME).find("(file \"F\") is damaged: the command count disagrees"),
              std::string::npos)
        << read_whole_file(LOG_FILE_NAME);
    // vesk_sim fails the same film, and one never closed, instead of passing them.
    const int damaged_replay = system((sim + " --film oos_checker_films/F > /dev/null 2> err.txt").c_str());
    EXPECT_TRUE(WIFEXITED(damaged_replay) && WEXITSTATUS(damaged_replay) == 1) << read_whole_file("err.txt");
    std::vector<uint8_t> unclosed = without_end_record(read_file_bytes("F"));
    for (int32_t i = 0; i < 4; ++i) unclosed[64 + 8 + (size_t)i] = 0; // the ending time
    ASSERT_TRUE(write_file_bytes("unclosed", unclosed));
    const int unclosed_replay = system((sim + " --film unclosed > unclosed.txt 2> err.txt").c_str());
    EXPECT_TRUE(WIFEXITED(unclosed_replay) && WEXITSTATUS(unclosed_replay) == 1) << read_whole_file("err.txt");
    EXPECT_NE(read_whole_file("err.txt").find("the film was cut short at tick"), std::string::npos)
        << read_whole_file("err.txt");

    ASSERT_EQ(system(("'" + bin + "/vesk_film' F > listing.txt").c_str()), 0);
    const std::string listing = read_whole_file("listing.txt");
    EXPECT_NE(listing.find("header: version 3, type 0 (film), data offset 2600, ending time 3000"), std::string::npos)
        << listing;
    EXPECT_NE(listing.find("block 0 at 2600: flags 0x1 (last)"), std::string::npos) << listing;
    for (int32_t time = 170; time < 3000; time += 170)
        EXPECT_NE(listing.find("time " + std::to_string(time) + " verb 1 (sync) player 0 size 32"), std::string::npos)
            << time;
    const int listed = system(("'" + bin + "/vesk_film' oos_checker_films/F > /dev/null 2> damaged.txt").c_str());
    EXPECT_TRUE(WIFEXITED(listed) && WEXITSTATUS(listed) == 1);
    EXPECT_NE(read_whole_file("damaged.txt").find("count disagrees"), std::string::npos);
}

// A film named on the command line is found where the caller stands, though
// the game runs from its own directory.  Its statistics take the film file's
// name, never the one inside it ("Last Game", the player's own last game's):
// the README's battle, to just after the second team's last unit fell, whose
// row says when (a game of one player goes on: the time is only recorded).
TEST_F(film_test, a_film_path_on_the_command_line_is_the_callers)
{
    const std::string bin = fs::absolute(fs::path(previous) / ".." / "bin").string();
    for (const char *tool : {"vesk_sim", "vesk"})
        if (!fs::exists(fs::path(bin) / tool)) SKIP_OR_FAIL_UNDER_CI(std::string(tool) + " is missing");
    const std::string sim = "'" + bin + "/vesk_sim' --data '" + directory + "'";
    fs::create_directory("elsewhere");
    ASSERT_EQ(system((sim + " --map demo --seed 7 --ticks 600 --orders '" + source_tree_path("data/orders/battle.txt") +
                      "' --record elsewhere/battle.film > /dev/null 2> err.txt")
                         .c_str()),
              0)
        << read_whole_file("err.txt");
    fs::create_directory("recording_stats");
    ASSERT_TRUE(write_whole_file("recording_stats/Last Game.csv", "the player's own\n", 17));
    fs::copy_file(fs::path(bin) / "vesk", "vesk");
    // The game shows its window (on SDL's headless driver here) and stays in
    // the main menu after the film; closing the window (SDL turns SIGTERM
    // into a quit event) ends it cleanly.
    const int played = system(
        "cd elsewhere && (env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=dummy ../vesk battle.film > ../played.txt "
        "2>&1 & pid=$!; for i in $(seq 1800); do grep -q 'the film ended' ../" LOG_FILE_NAME " 2>/dev/null && break; "
        "sleep 0.1; done; kill -TERM $pid; wait $pid)");
    EXPECT_TRUE(WIFEXITED(played) && WEXITSTATUS(played) == 0) << read_whole_file("played.txt");
    EXPECT_NE(read_whole_file(LOG_FILE_NAME).find("the film ended at tick 600"), std::string::npos)
        << read_whole_file(LOG_FILE_NAME);
    EXPECT_EQ(read_whole_file("recording_stats/Last Game.csv"), "the player's own\n");
    const std::string stats = read_whole_file("recording_stats/battle.film.csv");
    EXPECT_NE(stats.find("\nteam,place,score,eliminated_at,enemy_kills,damage_to_enemies\n0,1,1245,-1,4,1245\n1,2,1066,584,2,1066\n"),
              std::string::npos)
        << stats;
}

} // namespace

} // namespace recording_test_file
