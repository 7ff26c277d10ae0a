// The determinism harness on the demo map: the same seed and commands give the
// same per-tick state hashes however the frames fall, whatever the game speed
// and however often the local generator is drawn; one perturbed value shows.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "determinism_harness.h"
#include "game_time.h"
#include "mesh_format.h"
#include "players.h"
#include "support/tag_file_builder.h"

namespace {
namespace fs = std::filesystem;

const tag DEMO = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');

class determinism_test : public ::testing::Test
{
protected:
    std::string directory, previous, tool, source;

    void SetUp() override
    {
        char working[4096];
        previous = getcwd(working, sizeof(working)) ? working : "/";
        tool = fs::absolute(fs::path(previous) / ".." / "bin" / "vesk_tags").string();
        source = (fs::path(__FILE__).parent_path() / ".." / ".." / "data" / "maps" / "demo_valley.map").string();
        if (!fs::exists(tool) || !fs::exists(source)) GTEST_SKIP() << "the tool or the map source is missing";
        directory = enter_test_directory();
        const std::string command = "'" + tool + "' mesh demo.tag --subgroup demo --name 'demo valley' '" + source + "'";
        ASSERT_EQ(system(command.c_str()), 0);
        std::vector<uint8_t> file = read_file_bytes("demo.tag");
        ASSERT_GT(file.size(), sizeof(local_tag_file_header));
        test_tag map = {MESH_TAG_GROUP, DEMO, "demo valley", MESH_TAG_VERSION,
                        std::vector<uint8_t>(file.begin() + sizeof(local_tag_file_header), file.end())};
        ASSERT_TRUE(write_foundation_files({map}));
        ASSERT_TRUE(write_monolithic_file("tags/patch1.tags", 2, {}, "patch1", "", 1));
    }
    void TearDown() override
    {
        stop_simulation();
        if (chdir(previous.c_str()) != 0) abort();
        if (!directory.empty()) fs::remove_all(directory);
    }

    std::vector<uint32_t> trace(uint32_t seed, const std::vector<simulation_command> &commands,
                                const simulation_pacing &pacing, int32_t ticks = 240)
    {
        char reason[256];
        EXPECT_TRUE(start_simulation(nullptr, DEMO, seed, reason, sizeof(reason))) << reason;
        std::vector<uint32_t> hashes((size_t)ticks, 0);
        EXPECT_TRUE(run_simulation(ticks, commands.data(), (int32_t)commands.size(), &pacing, hashes.data()));
        stop_simulation();
        return hashes;
    }
};

const std::vector<simulation_command> script = {
    {5, _simulation_score_points, 0, 3, 0, 0},      {12, _simulation_new_mesh_effect, 1, 0, 4000, 4000},
    {30, _simulation_damage, NONE, NONE, 25, 1},    {31, _simulation_ally, 0, 1, 1, 0},
    {60, _simulation_start_fire, 0, 0, 3, 3},       {90, _simulation_switch_snowing, 0, 0, 0, 0},
};

TEST_F(determinism_test, same_seed_gives_the_same_trace_whatever_the_pacing_speed_and_local_draws)
{
    const simulation_pacing normal = {1, NORMAL_GAME_SPEED_INDEX, 0};
    const std::vector<uint32_t> reference = trace(77, script, normal);
    EXPECT_NE(reference.front(), reference.back());
    const simulation_pacing pacings[] = {
        {1, NORMAL_GAME_SPEED_INDEX, 0}, {4, NORMAL_GAME_SPEED_INDEX, 0}, {7, NORMAL_GAME_SPEED_INDEX, 13},
        {1, 0, 0},                       {3, NUMBER_OF_GAME_SPEEDS - 1, 5},
    };
    for (const auto &pacing : pacings)
        EXPECT_EQ(trace(77, script, pacing), reference)
            << "frames of " << pacing.local_ticks_per_frame << ", speed " << pacing.game_speed;
    EXPECT_NE(trace(78, script, normal), reference);
}

TEST_F(determinism_test, a_planted_fault_changes_the_trace_from_its_tick_on)
{
    const simulation_pacing normal = {1, NORMAL_GAME_SPEED_INDEX, 0};
    const std::vector<uint32_t> reference = trace(5, script, normal);
    std::vector<simulation_command> faulty = script;
    faulty.push_back({150, _simulation_damage, NONE, NONE, 1, 0}); // one synchronized value moves
    const std::vector<uint32_t> perturbed = trace(5, faulty, normal);
    for (size_t t = 0; t < 150; ++t) ASSERT_EQ(perturbed[t], reference[t]) << t;
    for (size_t t = 150; t < perturbed.size(); ++t) ASSERT_NE(perturbed[t], reference[t]) << t;
}

TEST_F(determinism_test, maps_start_and_stop_again_and_again_and_a_missing_map_is_refused)
{
    char reason[256];
    for (int32_t i = 0; i < 8; ++i)
    {
        ASSERT_TRUE(start_simulation(nullptr, DEMO, (uint32_t)i, reason, sizeof(reason))) << reason;
        EXPECT_EQ(get_player_count(), 2);
        stop_simulation();
        EXPECT_EQ(get_player_count(), 0);
    }
    EXPECT_FALSE(start_simulation(nullptr, FOUR_CHARACTER_CODE('n', 'o', 'n', 'e'), 1, reason, sizeof(reason)));
    EXPECT_NE(std::string(reason).find("none"), std::string::npos) << reason;
    EXPECT_EQ(get_player_count(), 0);
    ASSERT_TRUE(start_simulation(nullptr, DEMO, 1, reason, sizeof(reason))) << reason; // still usable
}

TEST_F(determinism_test, the_tool_prints_one_hash_per_tick_and_refuses_a_missing_map)
{
    const std::string sim = fs::absolute(fs::path(previous) / ".." / "bin" / "vesk_sim").string();
    if (!fs::exists(sim)) GTEST_SKIP() << "vesk_sim is missing";
    const std::string base = "'" + sim + "' --data '" + directory + "' --seed 9 --ticks 20";
    const std::string good = base + " --map demo > out.txt", bad = base + " --map none > bad.txt";
    EXPECT_EQ(system(good.c_str()), 0);
    std::vector<uint8_t> out = read_file_bytes("out.txt");
    const std::string text(out.begin(), out.end());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 20);
    EXPECT_EQ(text.rfind("20 ", 0) == std::string::npos && text.find("\n20 ") != std::string::npos, true);
    const int status = system(bad.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    std::vector<uint8_t> refusal = read_file_bytes("bad.txt");
    EXPECT_EQ(std::count(refusal.begin(), refusal.end(), '\n'), 1);
}

} // namespace
