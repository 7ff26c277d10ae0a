// Saved games on the demo map: who may save, the autosave request, what a
// saved game holds (the film's blocks and one last block of what was not
// written), restoring one to the same state and film, the snapshot's round
// trip and its refusal when damaged, reverting, failed saves leaving no tag,
// six saves under one name killed or failing at every disk step; then
// vesk_sim's --save-at and --continue and vesk_film end to end.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "console_procedures.h"
#include "cseries/byte_swapping.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "determinism_harness.h"
#include "game_states.h"
#include "game_time.h"
#include "progress_dialog.h"
#include "recording.h"
#include "recording_format.h"
#include "observer.h"
#include "saved_games.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "support/scratch.h"
#include "support/tag_file_builder.h"
#include "support/vesk_sim_fixture.h"
#include "unit_commands.h"
#include "unit_orders.h"
#include "monster_lists.h"
#include "monsters.h"
#include "objects.h"
#include "tag_files/tag_files.h"
#include "vesk.h"

namespace saved_games_test_file {

namespace {
namespace fs = std::filesystem;

const tag DEMO = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');
const tag MT00 = FOUR_CHARACTER_CODE('m', 't', '0', '0');
const int32_t LOCAL_HEADER = 64; // the store's local tag file header

// ---- the test's own procedures: the slots take one registration per process ----

// The snapshot the saves see: none (the renderer's, headless) or a pattern.
int16_t snapshot_encoding = NONE;
void *pattern_snapshot(int16_t width, int16_t height, int16_t *encoding)
{
    if (snapshot_encoding == NONE) return nullptr;
    const size_t bytes_per_pixel = snapshot_encoding == 3 ? 4 : 2;
    uint8_t *pixels = (uint8_t *)malloc((size_t)width * (size_t)height * bytes_per_pixel);
    for (size_t i = 0; i < (size_t)width * (size_t)height * bytes_per_pixel; ++i) pixels[i] = (uint8_t)(i * 13 + 5);
    *encoding = snapshot_encoding;
    return pixels;
}

// The save dialog: cancels, or answers with a name.
const char *dialog_answer = nullptr;
bool dialog_fails = false;
saved_game_name_result test_save_dialog(const char *, const void *, int16_t, int16_t, int16_t, char *name,
                                        size_t name_size)
{
    if (dialog_fails) return _saved_game_name_dialog_failed;
    if (!dialog_answer) return _saved_game_name_cancelled;
    strlcpy(name, dialog_answer, name_size);
    return _saved_game_name_chosen;
}

cached_line console_lines[NUMBER_OF_CACHED_CONSOLE_LINES];
int16_t console_line_count = 0;
void save_console(cached_line *lines, int16_t *count)
{
    memcpy(lines, console_lines, sizeof(console_lines));
    *count = console_line_count;
}
void restore_console(const cached_line *lines, int16_t count)
{
    memcpy(console_lines, lines, sizeof(console_lines));
    console_line_count = count;
}

bool executed_adjustment(command_header *) { return true; }

// A command of `size` bytes the executor takes without effect.
std::vector<uint8_t> make_command(int32_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes((size_t)size);
    for (int32_t i = 8; i < size; ++i) bytes[(size_t)i] = (uint8_t)(seed * 31 + (uint32_t)i * 7);
    command_header header = {(int16_t)size, (int8_t)_command_sync_formation, NONE, 0};
    memcpy(bytes.data(), &header, sizeof(header));
    return bytes;
}

struct block_info
{
    uint32_t flags;
    std::vector<uint8_t> commands;
    int32_t count;
};
// The blocks of a film or saved game (a local tag file's bytes).
std::vector<block_info> blocks_of(const std::vector<uint8_t> &file, recording_file_header *header)
{
    std::vector<block_info> blocks;
    if (file.size() < (size_t)(LOCAL_HEADER + RECORDING_FILE_HEADER_SIZE)) return blocks;
    memcpy(header, &file[LOCAL_HEADER], sizeof(*header));
    byte_swap_recording_header(header);
    for (size_t at = (size_t)(LOCAL_HEADER + header->data_offset); at + 8 <= file.size();)
    {
        const size_t size = read_be16(&file[at + 4]);
        if (at + 8 + size > file.size()) break;
        blocks.push_back({read_be32(&file[at]), std::vector<uint8_t>(file.begin() + (long)at + 8,
                                                                      file.begin() + (long)(at + 8 + size)),
                          (int16_t)read_be16(&file[at + 6])});
        at += 8 + size;
        if (blocks.back().flags & _last_recording_block_flag) break;
    }
    return blocks;
}

// The stored commands of the blocks with a time of at most `last_time`.
std::vector<uint8_t> commands_up_to(const std::vector<block_info> &blocks, int32_t last_time)
{
    std::vector<uint8_t> kept;
    for (const block_info &block : blocks)
        for (size_t at = 0; at + 8 <= block.commands.size();)
        {
            const size_t size = (int16_t)read_be16(&block.commands[at]);
            if (size < 8) return kept;
            if ((int32_t)read_be32(&block.commands[at + 4]) <= last_time)
                kept.insert(kept.end(), block.commands.begin() + (long)at, block.commands.begin() + (long)(at + size));
            at += size;
        }
    return kept;
}

int32_t saved_game_count(void)
{
    tag_file_info filter;
    tag_file_info_new(&filter);
    filter.group_tag = SAVED_GAME_GROUP_TAG;
    return tag_file_enumerate(&filter, nullptr, -1);
}

std::string local_file_of(int32_t tag_index)
{
    return std::string(SAVED_GAMES_FOLDER) + "/" + tag_file_full_filename_get(tag_index);
}

class saved_games_test : public ::testing::Test
{
protected:
    static inline std::string directory, previous;

    static void SetUpTestSuite()
    {
        char working[4096];
        previous = getcwd(working, sizeof(working)) ? working : "/";
        const std::string tool = data_tool_path();
        if (!fs::exists(tool)) return;
        directory = enter_test_directory();
        if (!write_demo_data_set(tool)) directory.clear();
        open_log_file("saved games test");
        register_render_saved_game_snapshot_procedure(pattern_snapshot);
        static const console_procedures console = {.save_cached_console_text = save_console,
                                                   .restore_cached_console_text = restore_console};
        register_console_procedures(&console);
        static const film_dialog_procedures dialogs = {.saved_game_name_dialog = test_save_dialog};
        register_film_dialog_procedures(&dialogs);
        register_command_verb_procedure(_command_sync_formation, executed_adjustment);
    }
    static void TearDownTestSuite()
    {
        stop_simulation();
        close_log_file();
        if (chdir(previous.c_str()) != 0) abort();
        if (!directory.empty()) fs::remove_all(directory);
    }
    void SetUp() override
    {
        if (directory.empty()) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
        snapshot_encoding = NONE;
        dialog_answer = nullptr;
        dialog_fails = false;
        console_line_count = 0;
        set_autosave_for_new_level_hack(false);
        reset_last_saved_game();
    }
    void TearDown() override
    {
        stop_simulation();
        clear_pending_error();
        clear_pending_game_state();
        // Each case starts with no saved game.
        fs::remove_all(SAVED_GAMES_FOLDER);
        mkdir(SAVED_GAMES_FOLDER, 0755);
        tag_files_open(-1, nullptr, -1, -1, 0);
    }

    // The demo game with the film's first blocks: the registration of the
    // procedures above is refused once for the glue's own (which came later).
    void start(uint32_t seed)
    {
        static bool first = true;
        char reason[256];
        if (first)
        {
            first = false;
            // The glue's snapshot and console registrations and the film
            // dialogs' name dialog find the test's in their slots.
            expected_assertions expect(3);
            ASSERT_TRUE(start_simulation(nullptr, DEMO, seed, reason, sizeof(reason))) << reason;
        }
        else
            ASSERT_TRUE(start_simulation(nullptr, DEMO, seed, reason, sizeof(reason))) << reason;
    }
    // Queues a command of `size` bytes now; it is recorded when it is stamped.
    static void queue_command(int32_t size, uint32_t seed)
    {
        const std::vector<uint8_t> command = make_command(size, seed);
        EXPECT_TRUE(queue_outgoing_command((const command_header *)command.data()));
    }
    static std::vector<uint8_t> save_bytes(void)
    {
        const int32_t tag_index = tag_file_open(SAVED_GAME_GROUP_TAG, get_last_save_game_tag());
        EXPECT_NE(tag_index, NONE);
        return tag_index == NONE ? std::vector<uint8_t>() : read_file_bytes(local_file_of(tag_index));
    }
};

TEST_F(saved_games_test, only_single_player_games_off_the_tutorial_map_save)
{
    start(3);
    EXPECT_TRUE(can_save_game());
    game_->type = _game_type_networked;
    EXPECT_FALSE(can_save_game());
    EXPECT_FALSE(save_game());
    game_->type = _game_type_local;
    new_game_data *data = const_cast<new_game_data *>(get_current_game_data());
    data->parameters.scenario_tag = MT00;
    EXPECT_FALSE(can_save_game());
    EXPECT_FALSE(save_game());
    data->parameters.scenario_tag = DEMO;
    EXPECT_EQ(saved_game_count(), 0);

    // With no dialog answer the save is cancelled: success, nothing written.
    run_simulation(10, nullptr, 0, nullptr, nullptr);
    EXPECT_TRUE(save_game());
    EXPECT_EQ(saved_game_count(), 0);
    EXPECT_FALSE(could_revert_to_last_saved_game());
    // A name longer than a tag holds is cut, not overrun.
    dialog_answer = "A name of more than thirty-two characters in all";
    EXPECT_TRUE(save_game());
    EXPECT_EQ(saved_game_count(), 1);
    EXPECT_STREQ(get_last_save_game_name(), "A name of more than thirty-two ");
    EXPECT_TRUE(save_game_exists());
}

TEST_F(saved_games_test, an_autosave_request_is_honoured_once)
{
    start(3);
    run_simulation(5, nullptr, 0, nullptr, nullptr);
    set_autosave_for_new_level_hack(true);
    EXPECT_FALSE(autosave_game(false)); // the main loop's call clears it
    EXPECT_FALSE(get_autosave_for_new_level_hack());
    EXPECT_EQ(saved_game_count(), 0);

    set_autosave_for_new_level_hack(true);
    run_simulation(1, nullptr, 0, nullptr, nullptr); // the tick's step takes it
    EXPECT_EQ(saved_game_count(), 1);
    EXPECT_EQ(strncmp(get_last_save_game_name(), AUTOSAVE_PREFIX, strlen(AUTOSAVE_PREFIX)), 0);
    EXPECT_FALSE(autosave_game(true));
    run_simulation(3, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(saved_game_count(), 1);
}

TEST_F(saved_games_test, a_save_holds_the_written_blocks_and_one_last_block_of_the_rest)
{
    start(4);
    console_line_count = 2;
    strcpy(console_lines[0].string, "first line");
    strcpy(console_lines[1].string, "second line");
    // At least three full blocks and part of the next.
    for (int32_t i = 0; i < 9; ++i)
    {
        queue_command(700, (uint32_t)i);
        run_simulation(1, nullptr, 0, nullptr, nullptr);
    }
    tag film_subgroup;
    int32_t written_end;
    const uint8_t *unwritten;
    int16_t unwritten_size, unwritten_count;
    ASSERT_TRUE(get_recording_in_progress(&film_subgroup, &written_end, &unwritten, &unwritten_size, &unwritten_count));
    const std::vector<uint8_t> rest(unwritten, unwritten + unwritten_size);
    ASSERT_GT(unwritten_count, 0);
    snapshot_encoding = 2;
    ASSERT_TRUE(create_saved_game("three blocks"));
    const int32_t save_time = game_->game_time;

    const std::vector<uint8_t> save = save_bytes();
    recording_file_header header;
    const std::vector<block_info> blocks = blocks_of(save, &header);
    EXPECT_EQ(header.type, _saved_game_recording_type);
    EXPECT_EQ(header.recording_ending_time, save_time);
    EXPECT_EQ(header.snapshot_length, 41008);
    EXPECT_EQ(header.monster_initializers_offset, 43608);
    // The film's own blocks, byte for byte, then the rest as the last block.
    const std::vector<uint8_t> film =
        read_file_bytes(std::string(FILMS_FOLDER) + "/" +
                        tag_file_full_filename_get(tag_file_open(RECORDING_GROUP_TAG, film_subgroup)));
    recording_file_header film_header;
    const std::vector<block_info> film_blocks = blocks_of(film, &film_header);
    const size_t written = film_blocks.size();
    ASSERT_GE(written, 3u);
    ASSERT_EQ(blocks.size(), written + 1);
    for (size_t i = 0; i < written; ++i)
    {
        EXPECT_EQ(blocks[i].flags, 0u);
        EXPECT_EQ(blocks[i].commands, film_blocks[i].commands);
    }
    EXPECT_EQ(blocks[written].flags, (uint32_t)_last_recording_block_flag);
    // The rest, and the end record of the save's tick.
    EXPECT_EQ(blocks[written].count, unwritten_count + 1);
    ASSERT_EQ(blocks[written].commands.size(), rest.size() + RECORDING_CHAINED_END_RECORD_SIZE);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), blocks[written].commands.begin()));
    recording_end_record end;
    ASSERT_TRUE(is_recording_end_record(&blocks[written].commands[rest.size()], RECORDING_CHAINED_END_RECORD_SIZE, &end));
    EXPECT_TRUE(end.chained);

    // The recording goes on untouched.
    tag still;
    const uint8_t *unwritten_after;
    int32_t written_after;
    ASSERT_TRUE(get_recording_in_progress(&still, &written_after, &unwritten_after, &unwritten_size, &unwritten_count));
    EXPECT_EQ(still, film_subgroup);
    EXPECT_EQ(written_after, written_end);

    // The header read back: camera, console, the 565 snapshot.
    const int32_t tag_index = tag_file_open(SAVED_GAME_GROUP_TAG, get_last_save_game_tag());
    recording_file_header read_header;
    save_game_header saved;
    ASSERT_TRUE(read_saved_game_headers(tag_index, &read_header, &saved));
    EXPECT_EQ(saved.cached_console_line_count, 2);
    EXPECT_STREQ(saved.cached_console_text[1].string, "second line");
    EXPECT_EQ(saved.encoding, 1);
}

TEST_F(saved_games_test, snapshots_round_trip_and_damaged_ones_are_refused)
{
    start(5);
    run_simulation(20, nullptr, 0, nullptr, nullptr);
    for (int16_t encoding : {(int16_t)1, (int16_t)2, (int16_t)3})
    {
        snapshot_encoding = encoding;
        ASSERT_TRUE(create_saved_game(encoding == 3 ? "deep" : "shallow"));
        int16_t width = 0, height = 0, read_encoding = 0;
        const int32_t tag_index = tag_file_open(SAVED_GAME_GROUP_TAG, get_last_save_game_tag());
        uint8_t *pixels = (uint8_t *)read_save_game_snapshot(tag_index, &width, &height, &read_encoding);
        ASSERT_NE(pixels, nullptr);
        EXPECT_EQ(width, 160);
        EXPECT_EQ(height, 120);
        EXPECT_EQ(read_encoding, encoding);
        uint16_t *expected = (uint16_t *)pattern_snapshot(width, height, &read_encoding);
        EXPECT_EQ(memcmp(pixels, expected, (size_t)160 * 120 * (encoding == 3 ? 4 : 2)), 0);
        free(expected);
        free(pixels);
    }
    // Without a picture from the renderer the snapshot is black.
    snapshot_encoding = NONE;
    ASSERT_TRUE(create_saved_game("black"));
    const std::vector<uint8_t> good = save_bytes();
    recording_file_header header;
    memcpy(&header, &good[LOCAL_HEADER], sizeof(header));
    byte_swap_recording_header(&header);
    EXPECT_EQ(header.snapshot_length, 41008);
    const size_t pixels_at = (size_t)LOCAL_HEADER + RECORDING_FILE_HEADER_SIZE + SAVE_GAME_HEADER_SIZE;
    for (size_t i = pixels_at; i < pixels_at + 38400; ++i) ASSERT_EQ(good[i], 0) << i;

    const struct
    {
        const char *name;
        size_t offset;
        int bytes;
        uint32_t value;
    } damage[] = {
        {"width 65535", 0, 2, 0xFFFF},
        {"width 32767 x 32767", 0, 4, 0x7FFF7FFF},
        {"encoding 9", 16, 2, 9},
        {"height 0", 2, 2, 0},
        {"32-bit pixels in a 16-bit length", 16, 2, 2},
    };
    for (const auto &row : damage)
    {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> data(good.begin() + LOCAL_HEADER, good.end());
        uint8_t *field = &data[RECORDING_FILE_HEADER_SIZE + row.offset];
        if (row.bytes == 2)
            write_be16(field, (uint16_t)row.value);
        else
            write_be32(field, row.value);
        int32_t tag_index = tag_file_new(SAVED_GAME_GROUP_TAG, "damaged", SAVE_GAME_VERSION_NUMBER);
        ASSERT_TRUE(tag_file_write(&tag_index, 0, (int32_t)data.size(), data.data()));
        int16_t width, height, encoding;
        EXPECT_EQ(read_save_game_snapshot(tag_index, &width, &height, &encoding), nullptr);
        int32_t code = 0;
        char text[256];
        EXPECT_TRUE(error_pending(&code, text, sizeof(text)));
        EXPECT_EQ(code, _error_data_corrupted) << text;
        clear_pending_error();
        new_game_data game;
        saved_game_restoration restoration;
        EXPECT_FALSE(continue_saved_game_from_header(tag_index, &game, &restoration));
        clear_pending_error();
        tag_file_delete(tag_index);
    }
    // A film is no saved game; a truncated saved game is refused.
    std::vector<uint8_t> data(good.begin() + LOCAL_HEADER, good.begin() + LOCAL_HEADER + 3000);
    int32_t tag_index = tag_file_new(SAVED_GAME_GROUP_TAG, "cut short", SAVE_GAME_VERSION_NUMBER);
    ASSERT_TRUE(tag_file_write(&tag_index, 0, (int32_t)data.size(), data.data()));
    int16_t width, height, encoding;
    EXPECT_EQ(read_save_game_snapshot(tag_index, &width, &height, &encoding), nullptr);
    clear_pending_error();
}

TEST_F(saved_games_test, every_failed_save_reports_false_and_leaves_no_tag)
{
    start(6);
    run_simulation(10, nullptr, 0, nullptr, nullptr);
    // The film cut short on disk: the copy of its blocks fails after the
    // saved game's tag was made.
    for (int32_t i = 0; i < 4; ++i)
    {
        queue_command(900, (uint32_t)i);
        run_simulation(1, nullptr, 0, nullptr, nullptr);
    }
    tag film_subgroup;
    int32_t written_end;
    const uint8_t *unwritten;
    int16_t unwritten_size, unwritten_count;
    ASSERT_TRUE(get_recording_in_progress(&film_subgroup, &written_end, &unwritten, &unwritten_size, &unwritten_count));
    const std::string film_path = std::string(FILMS_FOLDER) + "/" +
                                  tag_file_full_filename_get(tag_file_open(RECORDING_GROUP_TAG, film_subgroup));
    const std::vector<uint8_t> film = read_file_bytes(film_path);
    ASSERT_EQ(truncate(film_path.c_str(), LOCAL_HEADER + RECORDING_FILE_HEADER_SIZE + 100), 0);
    EXPECT_FALSE(create_saved_game("cut film"));
    clear_pending_error();
    EXPECT_EQ(saved_game_count(), 0);
    EXPECT_FALSE(could_revert_to_last_saved_game());
    // Put back, the same save works.
    write_file_bytes(film_path, film);
    EXPECT_TRUE(create_saved_game("whole film"));
    EXPECT_EQ(saved_game_count(), 1);

    // A save dialog that cannot open: a failure, not a cancel.
    dialog_fails = true;
    EXPECT_FALSE(create_saved_game(nullptr));
    clear_pending_error();
    dialog_fails = false;
    EXPECT_EQ(saved_game_count(), 1);

    // A name the store refuses.
    EXPECT_FALSE(create_saved_game("../escape"));
    clear_pending_error();
    EXPECT_EQ(saved_game_count(), 1);

    // Nothing recorded: no game, nothing to save.
    stop_simulation();
    EXPECT_FALSE(create_saved_game("no game"));
    clear_pending_error();
    EXPECT_EQ(saved_game_count(), 1);
}

TEST_F(saved_games_test, a_restored_game_runs_as_the_original_and_records_its_commands)
{
    const int32_t SAVE_AT = 200, TICKS = 420;
    start(7);
    std::vector<uint32_t> original(TICKS);
    for (int32_t tick = 0; tick < TICKS; ++tick)
    {
        if (tick % 25 == 3) queue_command(60 + tick % 300, (uint32_t)tick);
        run_simulation(1, nullptr, 0, nullptr, &original[(size_t)tick]);
        if (tick + 1 == SAVE_AT)
        {
            char reason[256];
            ASSERT_TRUE(save_simulation_game("restore.save", reason, sizeof(reason))) << reason;
        }
    }
    stop_simulation();
    recording_file_header header;
    const std::vector<block_info> original_blocks =
        blocks_of(read_file_bytes(std::string(FILMS_FOLDER) + "/Last Game"), &header);

    char reason[256];
    int32_t save_ticks = 0;
    ASSERT_TRUE(start_simulation_from_saved_game(nullptr, "restore.save", &save_ticks, reason, sizeof(reason)))
        << reason;
    EXPECT_EQ(save_ticks, SAVE_AT);
    std::vector<uint32_t> restored(TICKS);
    // The saved game's film plays at full speed, many ticks a frame.
    ASSERT_TRUE(run_simulation(SAVE_AT, nullptr, 0, nullptr, restored.data()));
    EXPECT_EQ(game_->game_time, SAVE_AT);
    for (int32_t tick = SAVE_AT; tick < TICKS; ++tick)
    {
        if (tick % 25 == 3) queue_command(60 + tick % 300, (uint32_t)tick);
        run_simulation(1, nullptr, 0, nullptr, &restored[(size_t)tick]);
    }
    for (int32_t tick = 0; tick < TICKS; ++tick) ASSERT_EQ(restored[(size_t)tick], original[(size_t)tick]) << tick;
    // Past the save it is the single-player game again, not a film.
    EXPECT_EQ(game_->type, _game_type_local);
    stop_simulation();
    const std::vector<block_info> continued_blocks =
        blocks_of(read_file_bytes(std::string(FILMS_FOLDER) + "/Last Game"), &header);
    const std::vector<uint8_t> before = commands_up_to(original_blocks, SAVE_AT);
    EXPECT_FALSE(before.empty());
    EXPECT_EQ(commands_up_to(continued_blocks, SAVE_AT), before);
    EXPECT_EQ(commands_up_to(continued_blocks, TICKS), commands_up_to(original_blocks, TICKS));
}

// Loaded, the game is the player's again: a move order given through the
// game's command builder, as the selection gives it, moves the unit.
TEST_F(saved_games_test, a_loaded_game_takes_a_move_order_and_the_unit_moves)
{
    const int32_t SAVE_AT = 60;
    start(5);
    ASSERT_TRUE(run_simulation(SAVE_AT, nullptr, 0, nullptr, nullptr));
    char reason[256];
    ASSERT_TRUE(save_simulation_game("move.save", reason, sizeof(reason))) << reason;
    stop_simulation();
    ASSERT_TRUE(start_simulation_from_saved_game(nullptr, "move.save", nullptr, reason, sizeof(reason))) << reason;
    // Replayed to the save point, then one tick as the player's game.
    ASSERT_TRUE(run_simulation(SAVE_AT, nullptr, 0, nullptr, nullptr));
    ASSERT_TRUE(run_simulation(1, nullptr, 0, nullptr, nullptr));
    ASSERT_EQ(game_->type, _game_type_local);

    const int16_t identifier = 10; // the first unit of player 0 (data/orders/battle.txt)
    int16_t unit = NONE;
    ASSERT_EQ(monster_identifiers_to_monster_indexes(&identifier, &unit, 1), 1);
    const world_point3d before = get_object(get_monster_data(unit)->object_index)->location.position;
    const std::string line = std::to_string(game_->game_time) + " 0 move 10 " + std::to_string(before.x + 2048) +
                             "," + std::to_string(before.y) + "\n";
    ASSERT_TRUE(write_file_bytes("move.txt", {line.begin(), line.end()}));
    std::vector<unit_order> orders;
    ASSERT_TRUE(read_unit_orders("move.txt", &orders, reason, sizeof(reason))) << reason;
    give_unit_orders_of_tick(game_->game_time, &orders);
    ASSERT_TRUE(run_simulation(90, nullptr, 0, nullptr, nullptr));
    const world_point3d after = get_object(get_monster_data(unit)->object_index)->location.position;
    EXPECT_GT(after.x - before.x, 512) << "from x " << before.x << " to " << after.x;
}

// The bytes of a film or saved game whose first block is marked last.
std::vector<uint8_t> first_last_of(std::vector<uint8_t> bytes)
{
    recording_file_header header;
    blocks_of(bytes, &header);
    write_be32(&bytes[(size_t)(LOCAL_HEADER + header.data_offset)], _last_recording_block_flag);
    return bytes;
}

// A saved game must end with its block marked last and nothing after it: one
// cut before or between its blocks would continue a different game.
TEST_F(saved_games_test, cut_saves_are_refused_and_never_continued)
{
    start(9);
    for (int32_t i = 0; i < 9; ++i)
    {
        queue_command(700, (uint32_t)i);
        run_simulation(1, nullptr, 0, nullptr, nullptr);
    }
    char reason[256];
    ASSERT_TRUE(save_simulation_game("whole.save", reason, sizeof(reason))) << reason;
    stop_simulation();
    const std::vector<uint8_t> bytes = read_file_bytes("whole.save");
    recording_file_header header;
    const std::vector<block_info> blocks = blocks_of(bytes, &header);
    ASSERT_GE(blocks.size(), 3u);
    const auto cut = [&bytes](size_t size) {
        std::vector<uint8_t> copy(bytes.begin(), bytes.begin() + (long)size);
        write_be32(&copy[56], (uint32_t)(size - LOCAL_HEADER)); // the store's stated data size
        return copy;
    };
    struct row
    {
        std::string name;
        std::vector<uint8_t> bytes;
    };
    size_t end = (size_t)(LOCAL_HEADER + header.data_offset);
    std::vector<row> rows = {{"cut before its blocks", cut(end)}};
    for (size_t i = 0; i + 1 < blocks.size(); ++i)
    {
        end += 8 + blocks[i].commands.size();
        rows.push_back({"cut after block " + std::to_string(i), cut(end)});
    }
    rows.push_back({"first block marked last", first_last_of(bytes)});
    std::vector<uint8_t> far_end = bytes;
    write_be32(&far_end[LOCAL_HEADER + 8], 2147483647);
    rows.push_back({"ending time 2147483647", far_end});
    for (size_t i = 0; i < rows.size(); ++i)
    {
        const row &r = rows[i];
        SCOPED_TRACE(r.name);
        // A file name each: the store keeps what it learnt of a file it opened by path.
        const std::string path = "cut" + std::to_string(i) + ".save";
        ASSERT_TRUE(write_file_bytes(path, r.bytes));
        int32_t save_ticks = 0;
        EXPECT_FALSE(start_simulation_from_saved_game(nullptr, path.c_str(), &save_ticks, reason, sizeof(reason)));
        EXPECT_NE(strstr(reason, "is damaged"), nullptr) << reason;
        stop_simulation();
        clear_pending_error();
    }
    int32_t save_ticks = 0;
    EXPECT_TRUE(start_simulation_from_saved_game(nullptr, "whole.save", &save_ticks, reason, sizeof(reason))) << reason;
    EXPECT_EQ(save_ticks, header.recording_ending_time);
    stop_simulation();

    // Loaded in a game: refused before the game being played stops recording.
    start(9);
    for (int32_t i = 0; i < 9; ++i)
    {
        queue_command(700, (uint32_t)i);
        run_simulation(1, nullptr, 0, nullptr, nullptr);
    }
    ASSERT_TRUE(create_saved_game("damaged"));
    const int32_t save = tag_file_open(SAVED_GAME_GROUP_TAG, get_last_save_game_tag());
    ASSERT_TRUE(write_file_bytes(local_file_of(save), first_last_of(save_bytes())));
    new_game_data game;
    saved_game_restoration restoration;
    EXPECT_FALSE(continue_saved_game_from_header(save, &game, &restoration));
    tag film;
    int32_t written_end;
    const uint8_t *unwritten;
    int16_t unwritten_size, unwritten_count;
    EXPECT_TRUE(get_recording_in_progress(&film, &written_end, &unwritten, &unwritten_size, &unwritten_count));
}

TEST_F(saved_games_test, revert_goes_back_to_the_last_save_or_restarts_the_level)
{
    start(8);
    run_simulation(30, nullptr, 0, nullptr, nullptr);
    new_game_data game;
    saved_game_restoration restoration;
    EXPECT_FALSE(could_revert_to_last_saved_game());
    EXPECT_FALSE(revert_to_last_saved_game(&game, &restoration));
    int16_t state = NONE;
    EXPECT_TRUE(game_state_change_pending(&state));
    clear_pending_game_state();

    console_line_count = 1;
    strcpy(console_lines[0].string, "kept");
    ASSERT_TRUE(create_saved_game("revert"));
    EXPECT_TRUE(could_revert_to_last_saved_game());
    console_line_count = 0;
    run_simulation(10, nullptr, 0, nullptr, nullptr);
    ASSERT_TRUE(revert_to_last_saved_game(&game, &restoration));
    EXPECT_EQ(game.parameters.type, _game_type_replay);
    EXPECT_EQ(restoration.save_game_ticks, 30);
    EXPECT_EQ(restoration.cached_console_line_count, 1);
    EXPECT_STREQ(restoration.cached_console_text[0].string, "kept");
    EXPECT_STREQ(get_last_save_game_name(), "revert");
    reset_last_saved_game();
    EXPECT_FALSE(could_revert_to_last_saved_game());
    EXPECT_STREQ(get_last_save_game_name(), "");
}

// A save is of the game that made it: the next game offers no restore until
// it is saved itself, and then restores its own save, not the earlier game's.
TEST_F(saved_games_test, a_new_game_restores_only_its_own_save)
{
    start(8);
    run_simulation(30, nullptr, 0, nullptr, nullptr);
    ASSERT_TRUE(create_saved_game("Plan A start"));
    start(9);
    run_simulation(20, nullptr, 0, nullptr, nullptr);
    EXPECT_FALSE(could_revert_to_last_saved_game());
    EXPECT_STREQ(get_last_save_game_name(), "");
    ASSERT_TRUE(create_saved_game("Plan B"));
    run_simulation(10, nullptr, 0, nullptr, nullptr);
    new_game_data game;
    saved_game_restoration restoration;
    ASSERT_TRUE(revert_to_last_saved_game(&game, &restoration));
    EXPECT_EQ(restoration.save_game_ticks, 20);
    EXPECT_STREQ(get_last_save_game_name(), "Plan B");
}

// A reverted game's replay to its save point reports its ticks to the front
// end's restoring progress: open from the first tick, half full half way,
// closed at the save point (headless, the dialog only counts).
TEST_F(saved_games_test, a_restore_reports_its_ticks_until_the_save_point)
{
    start(8);
    run_simulation(30, nullptr, 0, nullptr, nullptr);
    ASSERT_TRUE(create_saved_game("progress"));
    run_simulation(10, nullptr, 0, nullptr, nullptr);
    ASSERT_TRUE(revert_game());
    ASSERT_TRUE(apply_pending_game_state_change());
    ASSERT_EQ(game_->type, _game_type_replay);
    EXPECT_FALSE(progress_dialog_is_open());
    run_simulation(15, nullptr, 0, nullptr, nullptr);
    EXPECT_TRUE(progress_dialog_is_open());
    EXPECT_EQ(get_progress_bar_value(), 128);
    run_simulation(15, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(game_->game_time, 30);
    EXPECT_FALSE(progress_dialog_is_open()) << "closed at the save point";
    run_simulation(5, nullptr, 0, nullptr, nullptr);
    EXPECT_FALSE(progress_dialog_is_open());
}

// Restore asked while the game still runs a tick before the restored one
// starts (the quit dialog's Restore): the camera goes where the save had it,
// not to the map's start.
TEST_F(saved_games_test, a_restore_puts_the_camera_where_the_save_had_it)
{
    start(8);
    run_simulation(30, nullptr, 0, nullptr, nullptr);
    world_location3d view;
    memset(&view, 0, sizeof(view));
    view.position = {5120, 9216, 0};
    set_actual_observer_location_and_zoom(&view, get_observer_zoom_factor(), false);
    ASSERT_TRUE(create_saved_game("the view"));
    world_location3d elsewhere = view;
    elsewhere.position = {9216, 5120, 0};
    set_actual_observer_location_and_zoom(&elsewhere, get_observer_zoom_factor(), false);
    ASSERT_TRUE(revert_game());
    run_simulation(1, nullptr, 0, nullptr, nullptr); // the old game's last tick
    ASSERT_TRUE(apply_pending_game_state_change());
    run_simulation(40, nullptr, 0, nullptr, nullptr);
    world_location3d restored;
    get_observer_location(&restored);
    EXPECT_NEAR(restored.position.x, view.position.x, 64);
    EXPECT_NEAR(restored.position.y, view.position.y, 64);
}

// ---- the tools ------------------------------------------------------------------

// Six saves under one name, a few ticks apart, interrupted at every disk step
// of the saves in turn: killed there (a crash), or failing there (a full
// disk).  After a kill "Slot 1" is byte for byte the last save completed or
// the one under way; a failing save reports it and the earlier save stays.
enum { SIX_SAVES = 6 };
const char *const SLOT = "Slot 1";
const char *const REFERENCES = "references";

std::string reference_path(int32_t save) { return std::string(REFERENCES) + "/" + std::to_string(save); }

struct save_run
{
    int32_t step; // 0: the uninterrupted run, which keeps every save as a reference
    disk_step_fault fault;
    int outcomes; // one byte a save: 'S' saved, 'E' refused and reported, 'F' refused silently, 'X' earlier save lost
};

int six_saves(const void *context)
{
    const save_run *run = (const save_run *)context;
    interrupt_disk_step(run->step, run->fault);
    int32_t last_saved = 0;
    for (int32_t save = 1; save <= SIX_SAVES; ++save)
    {
        arm_disk_steps(false);
        const std::vector<uint8_t> command = make_command(300, (uint32_t)save);
        queue_outgoing_command((const command_header *)command.data());
        run_simulation(3, nullptr, 0, nullptr, nullptr);
        arm_disk_steps(true);
        const bool saved = create_saved_game(SLOT);
        arm_disk_steps(false);
        char outcome = saved ? 'S' : error_pending(nullptr, nullptr, 0) ? 'E' : 'F';
        clear_pending_error();
        if (saved) last_saved = save;
        const std::vector<uint8_t> bytes = read_file_bytes(std::string(SAVED_GAMES_FOLDER) + "/" + SLOT);
        if (run->step == 0) write_file_bytes(reference_path(save), bytes);
        else if (last_saved && bytes != read_file_bytes(reference_path(last_saved))) outcome = 'X';
        if (write(run->outcomes, &outcome, 1) != 1) return 3;
    }
    if (run->step == 0)
    {
        const std::string steps = std::to_string(disk_steps_taken());
        write_file_bytes(std::string(REFERENCES) + "/steps", std::vector<uint8_t>(steps.begin(), steps.end()));
    }
    return 0;
}

// Runs the six saves in a child; their outcomes.
std::string run_six_saves(int32_t step, disk_step_fault fault, int *exit_code)
{
    fs::remove_all(SAVED_GAMES_FOLDER);
    mkdir(SAVED_GAMES_FOLDER, 0755);
    int ends[2];
    if (pipe(ends) != 0) return "pipe";
    const save_run run = {step, fault, ends[1]};
    *exit_code = exit_code_of(run_in_child(six_saves, &run, 60));
    close(ends[1]);
    std::string outcomes;
    char outcome;
    while (read(ends[0], &outcome, 1) == 1) outcomes += outcome;
    close(ends[0]);
    return outcomes;
}

// One case a fault, each a pass over every disk step.
class six_saves_under_one_name : public saved_games_test, public testing::WithParamInterface<disk_step_fault>
{
};

TEST_P(six_saves_under_one_name, interrupted_at_every_disk_step_keep_the_last_whole_save)
{
    start(11); // every child goes on from this game
    fs::create_directory(REFERENCES);
    int code;
    ASSERT_EQ(run_six_saves(0, _disk_step_kill, &code), std::string(SIX_SAVES, 'S'));
    ASSERT_EQ(code, 0);
    std::vector<std::vector<uint8_t>> references;
    for (int32_t save = 1; save <= SIX_SAVES; ++save) references.push_back(read_file_bytes(reference_path(save)));
    const std::vector<uint8_t> steps_text = read_file_bytes(std::string(REFERENCES) + "/steps");
    const int32_t steps = atoi(std::string(steps_text.begin(), steps_text.end()).c_str());
    ASSERT_GT(steps, SIX_SAVES);

    const disk_step_fault fault = GetParam();
    const char *const label = fault == _disk_step_kill ? "killed" : "disk full";
    int32_t refused = 0;
    for (int32_t step = 1; step <= steps; ++step)
    {
        SCOPED_TRACE(std::string(label) + " at step " + std::to_string(step) + " of " + std::to_string(steps));
        const std::string outcomes = run_six_saves(step, fault, &code);
        // What the next start would find: the store passes over hidden files.
        std::vector<std::string> visible;
        for (const auto &entry : fs::directory_iterator(SAVED_GAMES_FOLDER))
            if (entry.path().filename().string()[0] != '.') visible.push_back(entry.path().filename().string());
        const bool present = !visible.empty();
        EXPECT_TRUE(visible.empty() || visible == std::vector<std::string>{SLOT});
        const std::vector<uint8_t> bytes = read_file_bytes(std::string(SAVED_GAMES_FOLDER) + "/" + SLOT);
        if (fault == _disk_step_kill)
        {
            EXPECT_EQ(code, -1);
            const size_t completed = outcomes.size();
            ASSERT_LT(completed, (size_t)SIX_SAVES);
            EXPECT_EQ(outcomes, std::string(completed, 'S'));
            const bool last = completed > 0 && bytes == references[completed - 1];
            const bool under_way = bytes == references[completed];
            EXPECT_TRUE(last || under_way || (completed == 0 && !present));
        }
        else
        {
            EXPECT_EQ(code, 0);
            EXPECT_EQ(outcomes.size(), (size_t)SIX_SAVES);
            EXPECT_EQ(outcomes.find_first_of("FX"), std::string::npos) << outcomes;
            refused += (int32_t)std::count(outcomes.begin(), outcomes.end(), 'E');
            const size_t last = outcomes.find_last_of('S');
            EXPECT_TRUE(last == std::string::npos ? !present : bytes == references[last]);
        }
    }
    if (fault == _disk_step_full)
    {
        EXPECT_GT(refused, SIX_SAVES); // most failing steps refuse their save
        return;
    }

    // Every save the kills may leave is one the game loads.
    stop_simulation();
    for (int32_t save = 1; save <= SIX_SAVES; ++save)
    {
        SCOPED_TRACE("save " + std::to_string(save));
        ASSERT_TRUE(write_file_bytes(std::string(SAVED_GAMES_FOLDER) + "/" + SLOT, references[(size_t)save - 1]));
        tag_files_open(-1, nullptr, -1, -1, 0);
        const int32_t slot = tag_file_find_by_name(SAVED_GAME_GROUP_TAG, SLOT);
        recording_file_header file_header;
        save_game_header header;
        ASSERT_NE(slot, NONE);
        EXPECT_TRUE(read_saved_game_headers(slot, &file_header, &header));
        EXPECT_EQ(file_header.recording_ending_time, 3 * save);
    }
}

INSTANTIATE_TEST_SUITE_P(faults, six_saves_under_one_name, testing::Values(_disk_step_kill, _disk_step_full),
                         [](const testing::TestParamInfo<disk_step_fault> &info) {
                             return std::string(info.param == _disk_step_kill ? "killed" : "disk_full");
                         });

class saved_game_tools_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {"vesk_sim", "vesk_film"}; }
    std::string output_of(const std::string &command)
    {
        std::string text;
        FILE *pipe = popen(command.c_str(), "r");
        if (!pipe) return text;
        char line[512];
        while (fgets(line, sizeof(line), pipe)) text += line;
        EXPECT_EQ(pclose(pipe), 0) << command;
        return text;
    }
};

TEST_F(saved_game_tools_test, a_continued_save_prints_the_uninterrupted_trace)
{
    const std::string orders_file =
        source_tree_path("data/orders/battle.txt");
    ASSERT_TRUE(fs::exists(orders_file));
    const std::string whole =
        output_of(vesk_sim_command("--map demo --seed 7 --ticks 1000 --orders '" + orders_file + "'"));
    const std::string saving = output_of(vesk_sim_command("--map demo --seed 7 --ticks 1000 --orders '" + orders_file +
                                                          "' --save-at 500 '" + directory + "/S'"));
    EXPECT_EQ(saving, whole);
    const std::string continued =
        output_of(vesk_sim_command("--continue '" + directory + "/S' --ticks 1000 --orders '" + orders_file + "'"));
    EXPECT_EQ(continued, whole);
    const std::string listing = output_of("'" + bin + "/vesk_film' '" + directory + "/S'");
    EXPECT_NE(listing.find("saved game"), std::string::npos) << listing;
    EXPECT_NE(listing.find("snapshot size: 41008 bytes"), std::string::npos) << listing;
    // One save a run: a second would have replaced the first unsaid.
    EXPECT_EQ(run_vesk_sim("--map demo --seed 7 --ticks 100 --save-at 20 A --save-at 40 B > /dev/null 2> twice.txt"), 2);
    EXPECT_NE(read_whole_file("twice.txt").find("--save-at is given twice"), std::string::npos);
}

// The tools refuse a cut film or save with exit 1 instead of playing it.
TEST_F(saved_game_tools_test, a_cut_film_or_save_exits_1)
{
    ASSERT_EQ(run_vesk_sim("--map demo --seed 3 --ticks 200 --record '" + directory + "/F' --save-at 100 '" +
                           directory + "/S' > /dev/null"),
              0);
    for (const char *name : {"F", "S"})
    {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes = read_file_bytes(directory + "/" + name);
        recording_file_header header;
        ASSERT_GE(blocks_of(bytes, &header).size(), 1u);
        // Cut before its blocks, the store's stated size made to match.
        bytes.resize((size_t)(LOCAL_HEADER + header.data_offset));
        write_be32(&bytes[56], (uint32_t)(bytes.size() - LOCAL_HEADER));
        ASSERT_TRUE(write_file_bytes(directory + "/cut", bytes));
        const std::string option = name[0] == 'F' ? "--film" : "--ticks 200 --continue";
        EXPECT_EQ(run_vesk_sim(option + " '" + directory + "/cut' > /dev/null 2>&1"), 1);
    }
}

} // namespace

} // namespace saved_games_test_file
