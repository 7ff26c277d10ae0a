// The state hash joins records that did not change by their kept CRCs.  Over
// every tick of the demo battle and of the 400-unit battle the value equals
// the one every record written afresh gives; a planted fault (a unit's
// object counted as unchanged while it moves) parts the two, and the checker
// finds it, logs it and returns the fresh value.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "determinism_harness.h"
#include "full_battle.h"
#include "monsters.h"
#include "objects.h"
#include "state_hash.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "support/vesk_sim_fixture.h"
#include "tag_files/data.h"
#include "unit_orders.h"

namespace state_hash_kept_records_test_file {

namespace {

class state_hash_kept_records_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {}; }
    void SetUp() override
    {
        vesk_sim_fixture::SetUp();
        was_checking = state_hash_checking();
        set_state_hash_checking(false);
    }
    void TearDown() override
    {
        set_state_hash_checking(was_checking);
        plant_object_hash_cache_fault(NONE);
        set_simulation_tick_procedure(nullptr, nullptr);
        stop_full_battle();
        vesk_sim_fixture::TearDown();
    }

    void start_battle(bool full)
    {
        std::string reason;
        ASSERT_TRUE(full ? start_full_battle(1, &reason) : start_demo_battle(7, &orders, &reason)) << reason;
    }

    std::vector<unit_order> orders;
    bool was_checking = false;
};

struct battle_case
{
    const char *name;
    bool full;
    int32_t ticks;
};
const battle_case battles[] = {
    {"the demo battle", false, 1500},
    {"the 400-unit battle", true, 600},
};

TEST_F(state_hash_kept_records_test, kept_crcs_give_the_fresh_hash_every_tick)
{
    for (const battle_case &b : battles)
    {
        start_battle(b.full);
        int32_t parted = 0;
        for (int32_t tick = 1; tick <= b.ticks && parted < 3; ++tick)
        {
            ASSERT_TRUE(run_simulation(1, nullptr, 0, nullptr, nullptr)) << b.name;
            const uint32_t kept = compute_state_hash();
            const uint32_t fresh = compute_fresh_state_hash();
            EXPECT_EQ(kept, fresh) << b.name << ", tick " << tick;
            parted += kept != fresh;
        }
        set_simulation_tick_procedure(nullptr, nullptr);
        stop_full_battle();
    }
}

TEST_F(state_hash_kept_records_test, a_moving_record_counted_as_unchanged_is_found)
{
    for (const battle_case &b : battles)
    {
        start_battle(b.full);
        ASSERT_TRUE(run_simulation(60, nullptr, 0, nullptr, nullptr)) << b.name;
        int32_t victim = NONE;
        for (int32_t index = 0; index < get_monster_array()->count && victim == NONE; ++index)
            if (const monster_data *unit = get_monster_data(index))
                if (get_object(unit->object_index)) victim = unit->object_index;
        ASSERT_NE(victim, NONE) << b.name;
        compute_state_hash(); // the victim's record is kept as it is now
        plant_object_hash_cache_fault(victim);
        bool found = false;
        for (int32_t tick = 0; tick < 300 && !found; ++tick)
        {
            ASSERT_TRUE(run_simulation(1, nullptr, 0, nullptr, nullptr)) << b.name;
            const uint32_t kept = compute_state_hash();
            const uint32_t fresh = compute_fresh_state_hash();
            if (kept == fresh) continue;
            set_state_hash_checking(true);
            {
                expected_assertions expect(1, "kept state hash record");
                EXPECT_EQ(compute_state_hash(), fresh) << b.name;
            }
            EXPECT_EQ(get_state_hash_check_counts().checks, 1) << b.name;
            EXPECT_EQ(get_state_hash_check_counts().faults, 1) << b.name;
            set_state_hash_checking(false);
            found = true;
        }
        EXPECT_TRUE(found) << b.name;
        plant_object_hash_cache_fault(NONE);
        set_simulation_tick_procedure(nullptr, nullptr);
        stop_full_battle();
    }
}

} // namespace

} // namespace state_hash_kept_records_test_file
