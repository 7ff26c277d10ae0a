// The scan chains against the walks they replace: the demo battle and the
// 400-unit battle of the battle benchmark replayed with the checker on, which
// compares at every cell a scan visits the objects the scan chain yields with
// those of the whole chain; a planted fault (a unit's object left out) is
// found by the checker and by the chain check, and so is a unit that breaks
// what move_object's skipping of far cells rests on (standing outside its
// cell, a radius above the bound, an owner changed unseen); and the traces are those the
// whole walks gave (the recorded traces of vesk_sim and the benchmark hold
// that, byte for byte).  The target search's choices are checked against
// the search that weighs every candidate as often as it is met.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "determinism_harness.h"
#include "mesh.h"
#include "monster_targets.h"
#include "monsters.h"
#include "objects.h"
#include "projectiles.h"
#include "tag_files/data.h"
#include "support/demo_data.h"
#include "full_battle.h"
#include "support/vesk_sim_fixture.h"
#include "world.h"
#include "unit_orders.h"

namespace scan_chains_test_file {

namespace {

class scan_chains_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {}; }
    void TearDown() override
    {
        set_scan_chain_checking(false);
        plant_scan_chain_fault(NONE);
        set_target_search_checking(false);
        plant_target_search_fault(false);
        stop_full_battle();
        vesk_sim_fixture::TearDown();
    }

    // The demo battle of data/orders/battle.txt from seed 7, as vesk_sim runs it.
    void start_demo_battle(void)
    {
        std::string reason;
        ASSERT_TRUE(::start_demo_battle(7, &orders, &reason)) << reason;
    }
    // Runs `ticks` ticks in steps of `step`, checking every chain after each.
    void run_checking_chains(int32_t ticks, int32_t step)
    {
        for (int32_t done = 0; done < ticks; done += step)
        {
            ASSERT_TRUE(run_simulation(step, nullptr, 0, nullptr, nullptr));
            ASSERT_TRUE(object_chains_are_consistent()) << "after tick " << done + step;
        }
    }
    // The first used unit's object.
    static int32_t some_unit_object(void)
    {
        for (int32_t index = 0; index < get_monster_array()->count; ++index)
            if (const monster_data *unit = get_monster_data(index))
                if (get_object(unit->object_index)) return unit->object_index;
        return NONE;
    }

    std::vector<unit_order> orders;
};

TEST_F(scan_chains_test, every_scan_of_the_demo_battle_meets_what_the_whole_chains_hold)
{
    start_demo_battle();
    set_scan_chain_checking(true);
    run_checking_chains(6000, 250);
    const scan_chain_check_counts counts = get_scan_chain_check_counts();
    EXPECT_GT(counts.cells_checked, 100000);
    EXPECT_EQ(counts.mismatches, 0);
}

TEST_F(scan_chains_test, every_scan_of_the_400_unit_battle_meets_what_the_whole_chains_hold)
{
    std::string reason;
    ASSERT_TRUE(start_full_battle(1, &reason)) << reason;
    set_scan_chain_checking(true);
    set_target_search_checking(true);
    // Far enough for the arrows to fly, strike, lie on the ground and units to die.
    int32_t most_projectiles = 0;
    for (int32_t step = 0; step < 8; ++step)
    {
        run_checking_chains(100, 100);
        most_projectiles = std::max(most_projectiles, get_projectile_count());
    }
    const scan_chain_check_counts counts = get_scan_chain_check_counts();
    EXPECT_GT(most_projectiles, 50);
    EXPECT_GT(counts.cells_checked, 1000000);
    EXPECT_EQ(counts.mismatches, 0);
    EXPECT_GT(get_target_search_check_counts().searches_checked, 300);
    EXPECT_EQ(get_target_search_check_counts().mismatches, 0);
}

TEST_F(scan_chains_test, a_unit_left_out_of_the_scan_chains_is_found)
{
    struct
    {
        const char *battle;
        bool full;
    } const battles[] = {{"the demo battle", false}, {"the 400-unit battle", true}};
    for (const auto &b : battles)
    {
        std::string reason;
        if (b.full) ASSERT_TRUE(start_full_battle(1, &reason)) << reason;
        else start_demo_battle();
        ASSERT_TRUE(run_simulation(30, nullptr, 0, nullptr, nullptr));
        const int32_t victim = some_unit_object();
        ASSERT_NE(victim, NONE);
        set_scan_chain_checking(true);
        plant_scan_chain_fault(victim);
        EXPECT_FALSE(object_chains_are_consistent()) << b.battle;
        ASSERT_TRUE(run_simulation(60, nullptr, 0, nullptr, nullptr));
        EXPECT_GT(get_scan_chain_check_counts().mismatches, 0) << b.battle;
        // Taken back, the object is in its place again.
        plant_scan_chain_fault(NONE);
        EXPECT_TRUE(object_chains_are_consistent()) << b.battle;
        set_scan_chain_checking(true);
        ASSERT_TRUE(run_simulation(30, nullptr, 0, nullptr, nullptr));
        EXPECT_EQ(get_scan_chain_check_counts().mismatches, 0) << b.battle;
        set_scan_chain_checking(false);
        stop_full_battle();
    }
}

TEST_F(scan_chains_test, a_unit_outside_its_cell_or_above_the_radius_bound_is_found)
{
    struct
    {
        const char *fault;
        void (*plant)(object_data *object, int32_t sign);
    } const faults[] = {
        {"a radius written behind the chains' back",
         [](object_data *object, int32_t sign) { object->radius = (int16_t)(object->radius + sign * 20000); }},
        {"a unit moved two cells without relinking",
         [](object_data *object, int32_t sign) { object->location.position.x += sign * 2 * WORLD_ONE; }},
        {"an owner changed without a word to the chains (the cell's count of other objects is wrong)",
         [](object_data *object, int32_t) {
             object->owner = object->owner == _object_is_monster ? _object_is_scenery : _object_is_monster;
         }},
    };
    std::string reason;
    ASSERT_TRUE(start_full_battle(1, &reason)) << reason;
    ASSERT_TRUE(run_simulation(30, nullptr, 0, nullptr, nullptr));
    const int32_t victim = some_unit_object();
    ASSERT_NE(victim, NONE);
    object_data *object = get_object(victim);
    // Two cells toward the middle of the map, so that the unit stays on it.
    const int32_t sign = object->cell_x < mesh_width / 2 ? 1 : -1;
    for (const auto &f : faults)
    {
        set_scan_chain_checking(true);
        f.plant(object, sign);
        first_scanned_object(object->cell_x, object->cell_y);
        EXPECT_GT(get_scan_chain_check_counts().mismatches, 0) << f.fault;
        EXPECT_FALSE(object_chains_are_consistent()) << f.fault;
        f.plant(object, -sign);
        set_scan_chain_checking(true);
        first_scanned_object(object->cell_x, object->cell_y);
        EXPECT_EQ(get_scan_chain_check_counts().mismatches, 0) << f.fault;
        EXPECT_TRUE(object_chains_are_consistent()) << f.fault;
    }
}

// A target search that skips too many candidates is found (the 400-unit
// battle above checks that the real one chooses what the whole search does).
// The skip shows only in a search whose best candidate comes after another,
// which takes the sides in contact: while they close (some 200 ticks, a few
// dozen searches) it may not show at all, and when contact comes depends on
// the rules, so the battle runs until the checker finds the skip.
TEST_F(scan_chains_test, a_target_search_that_skips_a_candidate_is_found)
{
    std::string reason;
    ASSERT_TRUE(start_full_battle(1, &reason)) << reason;
    plant_target_search_fault(true);
    set_target_search_checking(true);
    for (int32_t ticks = 0; ticks < 600 && get_target_search_check_counts().mismatches == 0; ticks += 50)
        ASSERT_TRUE(run_simulation(50, nullptr, 0, nullptr, nullptr));
    EXPECT_GT(get_target_search_check_counts().mismatches, 0)
        << get_target_search_check_counts().searches_checked << " searches checked";
}

} // namespace

} // namespace scan_chains_test_file
