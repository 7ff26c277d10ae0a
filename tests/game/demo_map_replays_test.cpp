// Every demo map's films and saved games replay as their games went: a
// film of each map and seed replays to the recorded trace with vesk_sim
// --film, each continued save prints the uninterrupted run's trace, and a
// saved game planted out of step says so, naming the tick.  Each map and
// seed is a case of its own, so that ctest runs them side by side and none
// takes long; the two 400-unit battle maps run fewer ticks.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/errors.h"
#include "determinism_harness.h"
#include "game_preferences.h"
#include "game_time.h"
#include "objects.h"
#include "unit_orders.h"
#include "recording.h"
#include "recording_format.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"

namespace demo_map_replays_test_file {

namespace {

struct demo_map
{
    const char *source, *subgroup;
    int32_t ticks; // of the film; a save is made at a third of them
};

// Every map of data/maps: the battle maps' 400 units cost the most a tick.
const demo_map demo_maps[] = {
    {"demo_valley.map", "demo", 3000},     {"every_tag.map", "ever", 3000},
    {"scripted_valley.map", "scri", 3000}, {"campaign_valley.map", "camp", 3000},
    {"behaviours_valley.map", "beha", 3000}, {"skirmish_hill.map", "skir", 3000},
    {"golden_shore.map", "gold", 3000},    {"ridge_pass.map", "ridg", 3000},
    {"battle_field.map", "batt", 600},     {"assault_valley.map", "assa", 600},
    {"teaching_valley.map", "teac", 1200}, // its lessons wait for a player who never comes
};

const int32_t LOCAL_HEADER = 64; // the store's local tag file header

// The maps' tags: those of the demo valley are the demo data set's own.
bool make_map_tags(const std::string &tool, const demo_map &map, std::vector<test_tag> *tags)
{
    return std::string(map.subgroup) == "demo" || make_demo_map_source_tags(tool, map.source, map.subgroup, tags);
}

using demo_map_replays_test = vesk_sim_fixture;

// One row: a map of the table and a seed.
struct replay_row
{
    int32_t map, seed;
};
// How ctest names a row's case ("... # GetParam() = batt seed 3").
void PrintTo(const replay_row &row, std::ostream *out) { *out << demo_maps[row.map].subgroup << " seed " << row.seed; }

class demo_map_replay : public demo_map_replays_test, public testing::WithParamInterface<replay_row>
{
protected:
    const demo_map &map(void) const { return demo_maps[GetParam().map]; }
    bool make_extra_tags(std::vector<test_tag> *tags) override { return make_map_tags(tool, map(), tags); }
};

std::vector<replay_row> replay_rows(void)
{
    std::vector<replay_row> rows;
    for (int32_t map = 0; map < (int32_t)std::size(demo_maps); ++map)
        for (int32_t seed = 1; seed <= 3; ++seed) rows.push_back({map, seed});
    return rows;
}

// The commands of a recording's blocks, each at its offset in the file.
template <typename visit> void for_each_command(std::vector<uint8_t> *file, visit each)
{
    recording_file_header header;
    ASSERT_GE(file->size(), (size_t)(LOCAL_HEADER + RECORDING_FILE_HEADER_SIZE));
    memcpy(&header, &(*file)[LOCAL_HEADER], sizeof(header));
    byte_swap_recording_header(&header);
    for (size_t at = (size_t)(LOCAL_HEADER + header.data_offset); at + 8 <= file->size();)
    {
        const size_t size = read_be16(&(*file)[at + 4]);
        const uint32_t flags = read_be32(&(*file)[at]);
        for (size_t command = at + 8; command + 8 <= at + 8 + size;)
        {
            const size_t length = (uint16_t)read_be16(&(*file)[command]);
            if (length < 8) return;
            each(&(*file)[command]);
            command += length;
        }
        at += 8 + size;
        if (flags & _last_recording_block_flag) break;
    }
}

// A map and seed: its film replays to the live trace; at seed 3 a save made
// at a third of the game, continued, prints the same trace as well.
TEST_P(demo_map_replay, films_and_continued_saves_replay_as_the_games_went)
{
    const int32_t seed = GetParam().seed;
    const std::string name = std::string(map().subgroup) + std::to_string(seed);
    const std::string run = "--map " + std::string(map().subgroup) + " --seed " + std::to_string(seed) + " --ticks " +
                            std::to_string(map().ticks);
    ASSERT_EQ(run_vesk_sim(run + " --record " + name + ".film > " + name + ".live"), 0);
    EXPECT_EQ(run_vesk_sim("--film " + name + ".film > " + name + ".replay 2> " + name + ".err"), 0)
        << read_whole_file(name + ".err");
    const std::string live = read_whole_file(name + ".live");
    EXPECT_NE(live.find("\n" + std::to_string(map().ticks) + " "), std::string::npos) << "the film's whole length";
    EXPECT_EQ(read_whole_file(name + ".replay"), live);
    if (seed == 3)
    {
        ASSERT_EQ(run_vesk_sim(run + " --save-at " + std::to_string(map().ticks / 3) + " " + name + ".save > /dev/null"), 0);
        EXPECT_EQ(run_vesk_sim("--continue " + name + ".save --ticks " + std::to_string(map().ticks) + " > " + name +
                               ".continued 2>> " + name + ".err"),
                  0)
            << read_whole_file(name + ".err");
        EXPECT_EQ(read_whole_file(name + ".continued"), live);
    }
}

INSTANTIATE_TEST_SUITE_P(maps, demo_map_replay, testing::ValuesIn(replay_rows()),
                         [](const testing::TestParamInfo<replay_row> &info) {
                             return std::string(demo_maps[info.param.map].subgroup) + "_seed" +
                                    std::to_string(info.param.seed);
                         });

// The demo valley's save of seed 3, its sync check of tick 680 planted with
// another hash: the restore leaves step there, and the tool says so.
TEST_F(demo_map_replays_test, a_save_planted_out_of_step_names_the_tick)
{
    ASSERT_EQ(run_vesk_sim("--map demo --seed 3 --ticks 3000 --save-at 1000 demo3.save > /dev/null"), 0);
    std::vector<uint8_t> save = read_file_bytes("demo3.save");
    int32_t planted = 0;
    for_each_command(&save, [&planted](uint8_t *command) {
        const size_t data = 8; // after the command header: snapshot time, seed, hash
        if ((int8_t)command[2] == 1 && read_be32(command + data) == 680)
        {
            command[data + 11] ^= 1;
            ++planted;
        }
    });
    ASSERT_GT(planted, 0) << "the save holds the sync check of tick 680";
    ASSERT_TRUE(write_file_bytes("planted.save", save));
    EXPECT_EQ(run_vesk_sim("--continue planted.save --ticks 3000 > planted.out 2> planted.err"), 17);
    EXPECT_NE(read_whole_file("planted.err").find("vesk_sim: the saved game went out of step at tick 680"),
              std::string::npos)
        << read_whole_file("planted.err");
}

// One row of the table below: the bytes of a film or a saved game whose
// bits are flipped, one file per flip.
struct flip_row
{
    const char *name;
    bool saved_game;
    // Where `first` counts from: the start of the tag's data, the first
    // command block, or (backwards) the end of the file.
    enum { from_data, from_commands, from_end } origin;
    int32_t first, count; // bytes; a count of -1: to the end of the file
    int32_t stride;       // every stride-th byte of them
    bool every_bit;       // each of its 8 bits, else bit (offset % 8)
};

// The end of a film and of a saved game (its last commands and end record)
// bit by bit, and a sample of their headers: each flip is refused, reported
// as a drift (a transient one between two sync checks included), or replays
// the very game recorded; never another game passed as whole.
class flipped_file_test : public vesk_sim_fixture, public ::testing::WithParamInterface<flip_row>
{
protected:
    static constexpr int32_t TICKS = 360, SAVE_AT = 300;
    std::vector<unit_order> orders;
    std::vector<uint32_t> recorded;

    // Plays the demo valley with a battle ordered at its start and a move
    // late, saving at SAVE_AT and keeping the film: both files' paths.
    void record(std::string *film, std::string *saved)
    {
        const std::string text = "1 0 attack 10,11,12,13 20,21,22,23\n1 1 attack 20,21,22,23 10,11,12,13\n"
                                 "345 0 move 10,11,12,13 4000,8000\n";
        ASSERT_TRUE(write_whole_file("flips.txt", text.data(), text.size()));
        char reason[512] = "";
        ASSERT_TRUE(read_unit_orders("flips.txt", &orders, reason, sizeof(reason))) << reason;
        *film = directory + "/flips.film";
        *saved = directory + "/flips.save";
        recorded.assign((size_t)TICKS, 0);
        ASSERT_TRUE(start_simulation(directory.c_str(), FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), 7, reason,
                                     sizeof(reason)))
            << reason;
        std::vector<unit_order> left = orders;
        set_simulation_tick_procedure(give_unit_orders_of_tick, &left);
        ASSERT_TRUE(run_simulation(SAVE_AT, nullptr, 0, nullptr, recorded.data()));
        ASSERT_TRUE(save_simulation_game(saved->c_str(), reason, sizeof(reason))) << reason;
        ASSERT_TRUE(run_simulation(TICKS - SAVE_AT, nullptr, 0, nullptr, recorded.data() + SAVE_AT));
        set_simulation_tick_procedure(nullptr, nullptr);
        stop_simulation();
        ASSERT_TRUE(save_simulation_film(film->c_str(), reason, sizeof(reason))) << reason;
    }

    // Plays the file at `path`: 0 refused, 1 reported, 2 the recorded game;
    // 3 another game passed as whole.
    int32_t outcome(const std::string &path, bool saved_game)
    {
        char reason[512] = "";
        int32_t ticks = 0;
        const bool started =
            saved_game ? start_simulation_from_saved_game(directory.c_str(), path.c_str(), &ticks, reason, sizeof(reason))
                       : start_simulation_from_film(directory.c_str(), path.c_str(), &ticks, reason, sizeof(reason));
        clear_pending_error();
        if (!started) return 0;
        // A continued save is given the orders after it, as the live game was.
        std::vector<unit_order> later;
        for (const unit_order &order : orders)
            if (saved_game && order.tick >= SAVE_AT) later.push_back(order);
        set_simulation_tick_procedure(saved_game ? give_unit_orders_of_tick : nullptr, &later);
        std::vector<uint32_t> replayed((size_t)TICKS);
        const bool ran = run_simulation(TICKS, nullptr, 0, nullptr, replayed.data());
        set_simulation_tick_procedure(nullptr, nullptr);
        const bool drift = get_out_of_sync_tick() != NONE, failed = replay_failed();
        stop_simulation();
        clear_pending_error();
        if (drift || failed || !ran) return 1;
        return replayed == recorded ? 2 : 3;
    }
};

TEST_P(flipped_file_test, no_changed_bit_replays_another_game_unseen)
{
    const flip_row row = GetParam();
    std::string film, saved;
    ASSERT_NO_FATAL_FAILURE(record(&film, &saved));
    const std::vector<uint8_t> whole = read_file_bytes(row.saved_game ? saved : film);
    size_t start = (size_t)(LOCAL_HEADER + row.first);
    if (row.origin == flip_row::from_end) start = whole.size() - (size_t)row.first;
    if (row.origin == flip_row::from_commands)
    {
        recording_file_header header;
        memcpy(&header, &whole[LOCAL_HEADER], sizeof(header));
        byte_swap_recording_header(&header);
        start = (size_t)(LOCAL_HEADER + header.data_offset + row.first);
    }
    const int32_t count = row.count < 0 ? (int32_t)(whole.size() - start) : row.count;
    ASSERT_LE(start + (size_t)count, whole.size());
    int32_t counts[4] = {0, 0, 0, 0};
    const std::string path = directory + "/flipped";
    for (int32_t i = 0; i < count; i += row.stride)
    {
        const size_t at = start + (size_t)i;
        for (int32_t bit = 0; bit < 8; ++bit)
        {
            if (!row.every_bit && bit != (int32_t)(at % 8)) continue;
            std::vector<uint8_t> changed = whole;
            changed[at] ^= (uint8_t)(1u << bit);
            ASSERT_TRUE(write_file_bytes(path, changed));
            const int32_t result = outcome(path, row.saved_game);
            EXPECT_NE(result, 3) << "byte " << at << " bit " << bit << " played another game, passed as whole";
            ++counts[result];
        }
    }
    EXPECT_GT(counts[0] + counts[1], 0) << "the rows reach bytes that matter";
}

// A row's name is its case's: ctest names the case by it (tests/long_cases.txt).
void PrintTo(const flip_row &row, std::ostream *out) { *out << row.name; }

const flip_row flip_rows[] = {
    // Every byte of the command blocks, one bit each (a different bit each byte).
    {"film_commands", false, flip_row::from_commands, 0, -1, 1, false},
    {"save_commands", true, flip_row::from_commands, 0, -1, 1, false},
    // The last 96 bytes: the last commands, the end record and its block.
    {"film_end_96_to_72", false, flip_row::from_end, 96, 24, 1, true},
    {"film_end_72_to_48", false, flip_row::from_end, 72, 24, 1, true},
    {"film_end_48_to_24", false, flip_row::from_end, 48, 24, 1, true},
    {"film_end_24_to_0", false, flip_row::from_end, 24, 24, 1, true},
    {"save_end_96_to_72", true, flip_row::from_end, 96, 24, 1, true},
    {"save_end_72_to_48", true, flip_row::from_end, 72, 24, 1, true},
    {"save_end_48_to_24", true, flip_row::from_end, 48, 24, 1, true},
    {"save_end_24_to_0", true, flip_row::from_end, 24, 24, 1, true},
    // The header: its fields, the game it sets up (local player, options,
    // teams, plug-ins); a saved game's camera and console lines too.
    {"film_header_fields", false, flip_row::from_data, 0, 36, 1, true},
    {"film_header_parameters", false, flip_row::from_data, 36, 44, 1, true},
    {"film_header_players", false, flip_row::from_data, 592, 8, 1, true},
    {"film_header_game", false, flip_row::from_data, 36, 2564, 7, false},
    {"save_header_fields", true, flip_row::from_data, 0, 36, 1, true},
    {"save_header_parameters", true, flip_row::from_data, 36, 44, 1, true},
    {"save_header_players", true, flip_row::from_data, 592, 8, 1, true},
    {"save_header_game", true, flip_row::from_data, 36, 2564, 7, false},
    {"save_snapshot_header", true, flip_row::from_data, 2600, 2608, 11, false},
};

INSTANTIATE_TEST_SUITE_P(rows, flipped_file_test, ::testing::ValuesIn(flip_rows),
                         [](const ::testing::TestParamInfo<flip_row> &info) { return std::string(info.param.name); });

// The blood lock is a player's preference: with it on, the battle's blood
// drops (flagged for it) are neither drawn nor stain the ground, and the
// fallen leave smoke instead.  A film of the 400-unit battle recorded with it
// on or off replays to the same trace, and in step, on a machine with it the
// other way.
class blood_lock_test : public vesk_sim_fixture
{
protected:
    bool make_extra_tags(std::vector<test_tag> *tags) override
    {
        return make_demo_map_source_tags(tool, "battle_field.map", "batt", tags);
    }
    static void lock_blood(bool locked)
    {
        if (locked)
            get_game_preferences()->flags |= _game_pref_censored_flag;
        else
            get_game_preferences()->flags &= ~(uint32_t)_game_pref_censored_flag;
    }
    struct trace
    {
        std::vector<uint32_t> hashes;
        int32_t ticks_with_hidden_blood = 0;
    };
    static void record_tick(int32_t, uint32_t hash, void *context)
    {
        trace *t = (trace *)context;
        t->hashes.push_back(hash);
        bool hidden = false;
        for (int32_t index = 0; index < get_object_array()->count && !hidden; ++index)
            if (const object_data *object = get_object(index))
                hidden = (object->flags & _object_is_not_rendered_flag) != 0;
        t->ticks_with_hidden_blood += hidden;
    }
};

TEST_F(blood_lock_test, a_battle_film_replays_in_step_whatever_each_machines_blood_lock)
{
    const int32_t TICKS = 700; // past the first sync check (the snapshot of tick 512)
    char reason[512] = "";
    std::vector<unit_order> orders;
    ASSERT_TRUE(read_unit_orders(source_tree_path("data/orders/battle400.txt").c_str(), &orders, reason,
                                 sizeof(reason)))
        << reason;
    // The preferences are read as the game comes up; the lock is set after.
    ASSERT_TRUE(bring_up_simulation(directory.c_str(), reason, sizeof(reason))) << reason;
    for (const bool recorded_locked : {true, false})
    {
        SCOPED_TRACE(recorded_locked ? "recorded with the lock on" : "recorded with the lock off");
        trace recorded, replayed;
        lock_blood(recorded_locked);
        ASSERT_TRUE(start_simulation(directory.c_str(), FOUR_CHARACTER_CODE('b', 'a', 't', 't'), 1, reason,
                                     sizeof(reason)))
            << reason;
        std::vector<unit_order> left = orders; // the tick procedure takes them as they are given
        set_simulation_tick_procedure(give_unit_orders_of_tick, &left);
        ASSERT_TRUE(run_simulation_reporting(TICKS, nullptr, 0, nullptr, nullptr, record_tick, &recorded));
        set_simulation_tick_procedure(nullptr, nullptr);
        stop_simulation();
        ASSERT_TRUE(save_simulation_film((directory + "/battle.film").c_str(), reason, sizeof(reason))) << reason;
        EXPECT_EQ(recorded.ticks_with_hidden_blood > 0, recorded_locked) << "the lock hides the blood drops";

        lock_blood(!recorded_locked);
        int32_t ticks = 0;
        ASSERT_TRUE(start_simulation_from_film(directory.c_str(), (directory + "/battle.film").c_str(), &ticks, reason,
                                               sizeof(reason)))
            << reason;
        ASSERT_EQ(ticks, TICKS);
        ASSERT_TRUE(run_simulation_reporting(TICKS, nullptr, 0, nullptr, nullptr, record_tick, &replayed));
        EXPECT_EQ(get_out_of_sync_tick(), NONE);
        stop_simulation();
        EXPECT_EQ(replayed.ticks_with_hidden_blood > 0, !recorded_locked);
        EXPECT_TRUE(replayed.hashes == recorded.hashes);
        EXPECT_EQ(take_pending_error(), _error_none) << "every effect the lock asks for is in the data";
    }
    lock_blood(false);
}

} // namespace

} // namespace demo_map_replays_test_file
