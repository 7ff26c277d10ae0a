// The scripted, campaign, behaviours and every-tag maps through the headless
// harness with the parameter runs settled once per script pass, as the game
// runs, and with every edit settled at once, as one move per edit left them:
// the state hashes agree tick by tick, every resize of a run during the
// first run leaves the buffer and the offsets byte for byte where the one
// move per edit put them, and every lookup through the index of entries
// answers what walking the stored entries answers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cseries/tags.h"
#include "determinism_harness.h"
#include "game_time.h"
#include "map_actions/map_action_parameters.h"
#include "support/demo_data.h"
#include "support/map_action_layout_checker.h"
#include "support/vesk_sim_fixture.h"

namespace scripted_maps_layout_test_file {

namespace {

constexpr int32_t TICKS = 1200;

class scripted_maps_layout_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {}; }
    bool make_extra_tags(std::vector<test_tag> *tags) override
    {
        return make_demo_map_source_tags(tool, "scripted_valley.map", "scri", tags) &&
               make_demo_map_source_tags(tool, "campaign_valley.map", "camp", tags) &&
               make_demo_map_source_tags(tool, "behaviours_valley.map", "beha", tags) &&
               make_demo_map_source_tags(tool, "every_tag.map", "ever", tags);
    }
    void TearDown() override
    {
        stop_simulation();
        set_map_action_parameters_settled_every_edit(false);
        vesk_sim_fixture::TearDown();
    }
    std::vector<uint32_t> run(const char *map, bool every_edit_settled)
    {
        std::vector<uint32_t> hashes(TICKS, 0);
        set_map_action_parameters_settled_every_edit(every_edit_settled);
        char reason[256];
        const bool started = start_simulation(nullptr, FOUR_CHARACTER_CODE(map[0], map[1], map[2], map[3]), 7,
                                              reason, sizeof(reason));
        EXPECT_TRUE(started) << reason;
        if (started)
        {
            const simulation_pacing pacing = {1, NORMAL_GAME_SPEED_INDEX, 0};
            EXPECT_TRUE(run_simulation(TICKS, nullptr, 0, &pacing, hashes.data()));
        }
        stop_simulation();
        set_map_action_parameters_settled_every_edit(false);
        return hashes;
    }
};

TEST_F(scripted_maps_layout_test, runs_settled_per_pass_hash_as_runs_settled_per_edit_and_every_resize_and_lookup_checks)
{
    for (const char *map : {"scri", "camp", "beha", "ever"})
    {
        SCOPED_TRACE(map);
        const std::vector<uint32_t> per_edit = run(map, true);
        map_action_layout_checker checker;
        map_action_lookup_checker lookups;
        const std::vector<uint32_t> per_pass = run(map, false);
        std::printf("%s: %d resizes, %lld lookups checked\n", map, (int)checker.resizes, (long long)lookups.lookups);
        EXPECT_GT(checker.resizes, 0);
        EXPECT_EQ(checker.mismatches, 0) << checker.first_mismatch;
        EXPECT_GT(lookups.lookups, 1000);
        EXPECT_EQ(lookups.mismatches, 0) << lookups.first_mismatch;
        int32_t first_difference = NONE;
        for (int32_t tick = 0; tick < TICKS && first_difference == NONE; tick++)
            if (per_edit[tick] != per_pass[tick]) first_difference = tick;
        EXPECT_EQ(first_difference, NONE) << "the hashes part at tick " << first_difference;
    }
}

} // namespace

} // namespace scripted_maps_layout_test_file
