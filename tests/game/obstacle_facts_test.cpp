// The obstacle facts the scan chains keep per object (objects.h) against the
// records, over the 400-unit battle and the demo battle: the checker compares
// every object the obstacle collection meets and finds no difference; a
// planted fault, one unit's facts left as they were, is found (and the
// battle runs on its record, hash for hash).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "determinism_harness.h"
#include "full_battle.h"
#include "monsters.h"
#include "objects.h"
#include "path.h"
#include "support/demo_data.h"
#include "support/vesk_sim_fixture.h"
#include "tag_files/data.h"
#include "unit_orders.h"

namespace obstacle_facts_test_file {

namespace {

class obstacle_facts_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {}; }
    void TearDown() override
    {
        set_obstacle_facts_checking(false);
        set_obstacle_skipping_checking(false);
        set_scan_chain_checking(false);
        plant_obstacle_facts_fault(NONE);
        stop_full_battle();
        vesk_sim_fixture::TearDown();
    }

    std::vector<unit_order> orders;
};

// The object of the first unit, NONE without one.
int32_t obstacle_facts_first_unit_object(void)
{
    for (int32_t index = 0; index < get_monster_array()->capacity; ++index)
        if (const monster_data *monster = get_monster_data(index)) return monster->object_index;
    return NONE;
}

TEST_F(obstacle_facts_test, the_kept_facts_are_the_records_in_every_battle_and_a_stale_unit_is_found)
{
    struct
    {
        const char *battle;
        tag map; // 0: the 400-unit battle
        const char *orders; // under the source tree, or null
        int32_t ticks;
        bool fault_bites; // a unit that plans near others, its facts frozen
    } const battles[] = {
        {"the 400-unit battle", 0, nullptr, 300, true},
        {"the demo battle", FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), "data/orders/battle.txt", 2400, false},
    };
    for (const auto &b : battles)
    {
        SCOPED_TRACE(b.battle);
        char text[256];
        if (!b.map)
        {
            std::string reason;
            ASSERT_TRUE(start_full_battle(1, &reason)) << reason;
        }
        else
        {
            ASSERT_TRUE(start_simulation(nullptr, b.map, 7, text, sizeof(text))) << text;
            if (b.orders)
            {
                ASSERT_TRUE(read_unit_orders(source_tree_path(b.orders).c_str(), &orders, text, sizeof(text))) << text;
                set_simulation_tick_procedure(give_unit_orders_of_tick, &orders);
            }
        }
        set_obstacle_facts_checking(true);
        ASSERT_TRUE(run_simulation(b.ticks, nullptr, 0, nullptr, nullptr));
        EXPECT_EQ(obstacle_facts_mismatches(), 0);

        // The stale unit is found, and the collections and the units' steps
        // read its record instead: the battle runs on hash for hash as the
        // same battle without the fault or the checker.
        if (b.fault_bites)
        {
            std::vector<uint32_t> hashes[2] = {std::vector<uint32_t>(b.ticks / 4), std::vector<uint32_t>(b.ticks / 4)};
            plant_obstacle_facts_fault(obstacle_facts_first_unit_object());
            set_obstacle_facts_checking(true);
            ASSERT_TRUE(run_simulation(b.ticks / 4, nullptr, 0, nullptr, hashes[0].data()));
            EXPECT_GT(obstacle_facts_mismatches(), 0);
            plant_obstacle_facts_fault(NONE);
            set_obstacle_facts_checking(false);
            stop_full_battle();
            std::string reason;
            ASSERT_TRUE(start_full_battle(1, &reason)) << reason;
            ASSERT_TRUE(run_simulation(b.ticks, nullptr, 0, nullptr, nullptr));
            ASSERT_TRUE(run_simulation(b.ticks / 4, nullptr, 0, nullptr, hashes[1].data()));
            EXPECT_EQ(hashes[0], hashes[1]);
        }
        set_obstacle_facts_checking(false);
        set_simulation_tick_procedure(nullptr, nullptr);
        stop_full_battle();
    }
}

// Every demo map: its source under data/maps (none for 'demo', which the
// fixture always makes) and its mesh's subgroup, as the demo data script has them.
const char *const DEMO_MAPS[][2] = {{"battle_field.map", "batt"},   {"behaviours_valley.map", "beha"},
                                    {"campaign_valley.map", "camp"}, {nullptr, "demo"},
                                    {"every_tag.map", "ever"},       {"golden_shore.map", "gold"},
                                    {"ridge_pass.map", "ridg"},      {"scripted_valley.map", "scri"},
                                    {"skirmish_hill.map", "skir"},   {"twin_valleys.map", "85gi"}};

class obstacle_facts_maps_test : public obstacle_facts_test
{
protected:
    bool make_extra_tags(std::vector<test_tag> *tags) override
    {
        for (const auto &map : DEMO_MAPS)
            if (map[0] && !make_demo_map_source_tags(tool, map[0], map[1], tags)) return false;
        return true;
    }
};

// Every demo map as vesk_sim plays it, with every checker of the kept facts,
// the cell summaries, the scan chains and the remembered path searches
// (each recalled answer searched again) on, and the chains' counts checked
// against the kept facts every few ticks: no change of a unit (an action said
// again, a move, a turn) leaves its cell's counts or summary behind.
TEST_F(obstacle_facts_maps_test, every_demo_map_keeps_its_facts_counts_and_summaries)
{
    for (const auto &map : DEMO_MAPS)
    {
        const char *name = map[1];
        SCOPED_TRACE(name);
        char text[256];
        ASSERT_TRUE(start_simulation(nullptr, FOUR_CHARACTER_CODE(name[0], name[1], name[2], name[3]), 7, text,
                                     sizeof(text)))
            << text;
        set_obstacle_facts_checking(true);
        set_obstacle_skipping_checking(true);
        set_scan_chain_checking(true);
        set_path_sharing_checking(true);
        for (int32_t tick = 0; tick < 1200; tick += 100)
        {
            ASSERT_TRUE(run_simulation(100, nullptr, 0, nullptr, nullptr));
            ASSERT_TRUE(object_chains_are_consistent()) << "after tick " << tick + 100;
        }
        EXPECT_EQ(obstacle_facts_mismatches(), 0);
        EXPECT_EQ(get_obstacle_skipping_check_counts().mismatches, 0);
        EXPECT_EQ(get_scan_chain_check_counts().mismatches, 0);
        EXPECT_EQ(get_path_sharing_check_counts().mismatches, 0);
        set_path_sharing_checking(false);
    }
}

} // namespace

} // namespace obstacle_facts_test_file
