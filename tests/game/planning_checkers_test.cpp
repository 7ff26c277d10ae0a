// The planning shortcuts against the work they save, over the demo battle and
// the 400-unit battle of the battle benchmark: the tangent search's loops
// (the checker keeps each loop's answer aside, walks every level down to the
// cut-off and compares; a planted fault, the answer of the wrong level, is
// found), the remembered path searches (the checker searches again for
// every recalled answer) and the cells the obstacle collection passes over
// (the checker walks them and finds no obstacle there, and each cell summary
// it reads is the scan chain's; planted faults, cells passed over whatever
// they hold and summaries kept however their cells change, are found), and the
// attack choices answered "none" from kept ranges (the checker makes the pass
// again; a planted fault, ranges kept whatever they held, is found).  The traces the full work gave are held by the
// recorded traces of vesk_sim and the benchmark, byte for byte.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "determinism_harness.h"
#include "monster_attacks.h"
#include "full_battle.h"
#include "monsters.h"
#include "objects.h"
#include "tag_files/data.h"
#include "path.h"
#include "support/demo_data.h"
#include "support/vesk_sim_fixture.h"
#include "unit_orders.h"

namespace planning_checkers_test_file {

namespace {

const tag DEMO = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');

class planning_checkers_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {}; }
    void TearDown() override
    {
        set_avoidance_loop_checking(false);
        plant_avoidance_loop_fault(false);
        set_path_sharing_checking(false);
        set_obstacle_skipping_checking(false);
        plant_obstacle_skipping_fault(false);
        plant_scan_cell_motion_fault(false);
        set_attack_choice_checking(false);
        plant_attack_choice_fault(false);
        stop_full_battle();
        vesk_sim_fixture::TearDown();
    }

    // The demo battle of data/orders/battle.txt from seed 7, or the 400-unit battle.
    void start_battle(bool full)
    {
        if (full)
        {
            std::string reason;
            ASSERT_TRUE(start_full_battle(1, &reason)) << reason;
            return;
        }
        char text[256];
        ASSERT_TRUE(
            read_unit_orders(source_tree_path("data/orders/battle.txt").c_str(), &orders, text, sizeof(text)))
            << text;
        ASSERT_TRUE(start_simulation(nullptr, DEMO, 7, text, sizeof(text))) << text;
        set_simulation_tick_procedure(give_unit_orders_of_tick, &orders);
    }

    std::vector<unit_order> orders;
};

TEST_F(planning_checkers_test, every_loop_of_both_battles_ends_as_the_full_walk_does_and_a_wrong_level_is_found)
{
    struct
    {
        const char *battle;
        bool full;
        int32_t ticks; // from the orders into the melee
        int32_t loops_at_least; // the demo's few units hardly ever loop
    } const battles[] = {{"the demo battle", false, 3000, 0}, {"the 400-unit battle", true, 600, 1000}};
    for (const auto &b : battles)
    {
        SCOPED_TRACE(b.battle);
        ASSERT_NO_FATAL_FAILURE(start_battle(b.full));
        set_avoidance_loop_checking(true);
        ASSERT_TRUE(run_simulation(b.ticks, nullptr, 0, nullptr, nullptr));
        const avoidance_loop_check_counts counts = get_avoidance_loop_check_counts();
        EXPECT_GE(counts.loops_checked, b.loops_at_least);
        EXPECT_EQ(counts.loops_checked, counts.loops_found);
        EXPECT_EQ(counts.mismatches, 0);

        if (b.loops_at_least > 0)
        {
            plant_avoidance_loop_fault(true);
            set_avoidance_loop_checking(true);
            ASSERT_TRUE(run_simulation(b.ticks / 4, nullptr, 0, nullptr, nullptr));
            EXPECT_GT(get_avoidance_loop_check_counts().mismatches, 0);
        }
        plant_avoidance_loop_fault(false);
        set_avoidance_loop_checking(false);
        stop_full_battle();
    }
}

TEST_F(planning_checkers_test, every_recalled_path_search_of_both_battles_is_the_search_made_again)
{
    struct
    {
        const char *battle;
        bool full;
        int32_t ticks;
        int32_t recalls_at_least; // the order tick of the 400-unit battle asks the same searches again
        int32_t moved_at_least; // and the same steps from other cells
    } const battles[] = {{"the demo battle", false, 3000, 1, 0}, {"the 400-unit battle", true, 300, 200, 100}};
    for (const auto &b : battles)
    {
        SCOPED_TRACE(b.battle);
        ASSERT_NO_FATAL_FAILURE(start_battle(b.full));
        set_path_sharing_checking(true);
        ASSERT_TRUE(run_simulation(b.ticks, nullptr, 0, nullptr, nullptr));
        const path_sharing_check_counts counts = get_path_sharing_check_counts();
        EXPECT_GE(counts.recalls_checked, b.recalls_at_least);
        EXPECT_GE(counts.moved_recalls_checked, b.moved_at_least);
        EXPECT_EQ(counts.mismatches, 0);
        set_path_sharing_checking(false);
        stop_full_battle();
    }
}

TEST_F(planning_checkers_test, no_cell_the_obstacle_collection_passes_over_holds_an_obstacle)
{
    struct
    {
        const char *battle;
        bool full;
        int32_t ticks;
        int64_t skipped_at_least; // by the distance bound
        int64_t moving_skipped_at_least; // as allies marching the mover's way
        bool faults_bite; // the demo's few units seldom plan near others or with a tree far off in their block
    } const battles[] = {{"the demo battle", false, 3000, 10, 0, false},
                         {"the 400-unit battle", true, 300, 10000, 10000, true}};
    for (const auto &b : battles)
    {
        SCOPED_TRACE(b.battle);
        ASSERT_NO_FATAL_FAILURE(start_battle(b.full));
        set_obstacle_skipping_checking(true);
        ASSERT_TRUE(run_simulation(b.ticks, nullptr, 0, nullptr, nullptr));
        obstacle_skipping_check_counts counts = get_obstacle_skipping_check_counts();
        EXPECT_GE(counts.cells_skipped, b.skipped_at_least);
        EXPECT_GE(counts.moving_cells_skipped, b.moving_skipped_at_least);
        EXPECT_EQ(counts.mismatches, 0);

        // Cells passed over whatever else they hold (the trees among them
        // count), and summaries that stay as they were while units turn,
        // stop and join the cells.
        if (b.faults_bite)
        {
            const struct
            {
                const char *fault;
                void (*plant)(bool on);
            } faults[] = {{"cells passed over by distance", plant_obstacle_skipping_fault},
                          {"cell summaries kept", plant_scan_cell_motion_fault}};
            for (const auto &f : faults)
            {
                SCOPED_TRACE(f.fault);
                f.plant(true);
                set_obstacle_skipping_checking(true);
                ASSERT_TRUE(run_simulation(b.ticks / 4, nullptr, 0, nullptr, nullptr));
                EXPECT_GT(get_obstacle_skipping_check_counts().mismatches, 0);
                f.plant(false);
            }
        }
        set_obstacle_skipping_checking(false);
        stop_full_battle();
    }
}

TEST_F(planning_checkers_test, every_attack_choice_answered_from_kept_ranges_is_the_pass_choice_and_ranges_kept_wrongly_are_found)
{
    struct
    {
        const char *battle;
        bool full;
        int32_t ticks; // from the orders into the melee
        int64_t answered_at_least; // the order tick of the 400-unit battle answers most units
        bool fault_bites; // the demo's few units seldom plan with their target in reach
    } const battles[] = {{"the demo battle", false, 3000, 10, false}, {"the 400-unit battle", true, 600, 300, true}};
    for (const auto &b : battles)
    {
        SCOPED_TRACE(b.battle);
        ASSERT_NO_FATAL_FAILURE(start_battle(b.full));
        set_attack_choice_checking(true);
        ASSERT_TRUE(run_simulation(b.ticks, nullptr, 0, nullptr, nullptr));
        EXPECT_GE(get_attack_choice_check_counts().choices_answered, b.answered_at_least);
        EXPECT_EQ(get_attack_choice_check_counts().mismatches, 0);

        // Ranges kept whatever they held answer "none" to units that can strike.
        if (b.fault_bites)
        {
            plant_attack_choice_fault(true);
            set_attack_choice_checking(true);
            ASSERT_TRUE(run_simulation(b.ticks / 2, nullptr, 0, nullptr, nullptr));
            EXPECT_GT(get_attack_choice_check_counts().mismatches, 0);
            plant_attack_choice_fault(false);
        }
        set_attack_choice_checking(false);
        stop_full_battle();
    }
}

// The kept summary of a unit's cell after each change its records can make
// to it, said as the code that writes them says it: each change alters the
// summary, and the kept one is the scan chain's.
TEST_F(planning_checkers_test, a_cell_summary_follows_each_change_of_a_unit_in_it)
{
    ASSERT_NO_FATAL_FAILURE(start_battle(true));
    ASSERT_TRUE(run_simulation(40, nullptr, 0, nullptr, nullptr)); // the armies march
    monster_data *unit = nullptr;
    const object_data *object = nullptr;
    for (int32_t index = 0; index < get_monster_array()->capacity && !unit; ++index)
    {
        monster_data *candidate = get_monster_data(index);
        object = candidate ? get_object(candidate->object_index) : nullptr;
        if (!object || candidate->action != _monster_action_moving) continue;
        const scan_cell_motion cell = summarize_scan_cell_motion(object->cell_x, object->cell_y);
        if (!cell.others && cell.yaw_sectors != 0) unit = candidate;
    }
    ASSERT_NE(unit, nullptr) << "no cell of marching units";
    const int32_t x = object->cell_x, y = object->cell_y;
    // Made in turn, each on top of those before.
    const struct
    {
        const char *change;
        void (*make)(monster_data *unit);
    } changes[] = {
        {"turns about",
         [](monster_data *m) {
             get_object(m->object_index)->location.yaw ^= 0x8000;
             obstacle_facts_changed(m->object_index);
         }},
        {"slows down",
         [](monster_data *m) {
             m->base_movement_speed = 1;
             unit_obstacle_facts_changed(m);
         }},
        {"joins another team",
         [](monster_data *m) {
             m->owner_team_index = (int8_t)((m->owner_team_index + 2) % 16); // neither army's
             unit_obstacle_facts_changed(m);
         }},
        {"stops", [](monster_data *m) {
             m->action = _monster_action_idle;
             m->flags &= ~(uint32_t)_monster_needs_new_path_flag; // an obstacle still
             unit_obstacle_facts_changed(m);
         }},
        {"turns invisible", [](monster_data *m) {
             m->extra_flags |= _monster_is_invisible_extra_flag;
             unit_obstacle_facts_changed(m);
         }},
    };
    for (const auto &c : changes)
    {
        SCOPED_TRACE(c.change);
        const scan_cell_motion before = get_scan_cell_motion(x, y);
        c.make(unit);
        const scan_cell_motion kept = get_scan_cell_motion(x, y), chain = summarize_scan_cell_motion(x, y);
        EXPECT_FALSE(chain.yaw_sectors == before.yaw_sectors && chain.teams == before.teams &&
                     chain.slowest == before.slowest && chain.others == before.others);
        EXPECT_EQ(kept.yaw_sectors, chain.yaw_sectors);
        EXPECT_EQ(kept.teams, chain.teams);
        EXPECT_EQ(kept.slowest, chain.slowest);
        EXPECT_EQ(kept.others, chain.others);
    }
}

} // namespace

} // namespace planning_checkers_test_file
