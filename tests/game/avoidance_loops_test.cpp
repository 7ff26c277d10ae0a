// The tangent search's loop shortcut against the full walk of its levels:
// the demo battle and the 400-unit battle of the battle benchmark replayed
// with the checker on, which keeps each loop's answer aside, walks every
// level down to the cut-off and compares; a planted fault (the answer of the
// wrong level) is found in both.  The traces the full walks gave are held by
// the recorded traces of vesk_sim and the benchmark, byte for byte.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "determinism_harness.h"
#include "full_battle.h"
#include "path.h"
#include "support/demo_data.h"
#include "support/vesk_sim_fixture.h"
#include "unit_orders.h"

namespace {

const tag DEMO = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');

class avoidance_loops_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {}; }
    void TearDown() override
    {
        set_avoidance_loop_checking(false);
        plant_avoidance_loop_fault(false);
        stop_full_battle();
        vesk_sim_fixture::TearDown();
    }

    std::vector<unit_order> orders;
};

TEST_F(avoidance_loops_test, every_loop_of_both_battles_ends_as_the_full_walk_does_and_a_wrong_level_is_found)
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
        std::string reason;
        if (b.full) ASSERT_TRUE(start_full_battle(1, &reason)) << reason;
        else
        {
            char text[256];
            ASSERT_TRUE(read_unit_orders(source_tree_path("data/orders/battle.txt").c_str(), &orders, text,
                                         sizeof(text)))
                << text;
            ASSERT_TRUE(start_simulation(nullptr, DEMO, 7, text, sizeof(text))) << text;
            set_simulation_tick_procedure(give_unit_orders_of_tick, &orders);
        }
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

} // namespace
