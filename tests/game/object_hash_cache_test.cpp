// The objects' part of the state hash gives kept bytes for records that did
// not change.  Over the demo battle and the 400-unit battle the checker,
// which hashes every such record afresh as well, finds no difference, and the
// hash is the one fresh bytes give; a planted fault (a record counted as
// unchanged while it moves) is found by the checker and moves the hash.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "determinism_harness.h"
#include "full_battle.h"
#include "monsters.h"
#include "objects.h"
#include "state_hash.h"
#include "support/demo_data.h"
#include "tag_files/data.h"
#include "support/vesk_sim_fixture.h"
#include "unit_orders.h"

namespace {

class object_hash_cache_test : public vesk_sim_fixture
{
protected:
    std::vector<std::string> programs_needed(void) const override { return {}; }
    void TearDown() override
    {
        set_object_hash_cache_checking(false);
        plant_object_hash_cache_fault(NONE);
        stop_full_battle();
        vesk_sim_fixture::TearDown();
    }

    void start_battle(bool full)
    {
        std::string reason;
        ASSERT_TRUE(full ? start_full_battle(1, &reason) : start_demo_battle(7, &orders, &reason)) << reason;
    }

    // The hash as the kept bytes give it, then as fresh bytes give it (the
    // checker's); a test failure when they differ.
    static void expect_kept_and_fresh_hashes_agree(int32_t tick)
    {
        set_object_hash_cache_checking(false);
        const uint32_t kept = compute_state_hash();
        set_object_hash_cache_checking(true);
        const uint32_t fresh = compute_state_hash();
        EXPECT_EQ(kept, fresh) << "tick " << tick;
    }

    std::vector<unit_order> orders;
};

struct battle_case
{
    const char *name;
    bool full;
    int32_t ticks, step;
};
const battle_case battles[] = {
    {"the demo battle", false, 1500, 10},
    {"the 400-unit battle", true, 600, 6},
};

TEST_F(object_hash_cache_test, kept_bytes_equal_fresh_ones_over_the_battles)
{
    for (const battle_case &b : battles)
    {
        start_battle(b.full);
        int64_t checked = 0;
        for (int32_t tick = 0; tick < b.ticks; tick += b.step)
        {
            ASSERT_TRUE(run_simulation(b.step, nullptr, 0, nullptr, nullptr)) << b.name;
            expect_kept_and_fresh_hashes_agree(tick + b.step);
            const object_hash_cache_check_counts counts = get_object_hash_cache_check_counts();
            EXPECT_EQ(counts.mismatches, 0) << b.name << ", tick " << tick + b.step;
            checked += counts.records_checked;
        }
        EXPECT_GT(checked, 2000) << b.name;
        set_simulation_tick_procedure(nullptr, nullptr);
        stop_full_battle();
    }
}

TEST_F(object_hash_cache_test, a_moving_record_counted_as_unchanged_is_found)
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
        compute_state_hash(); // the victim's bytes are kept as they are now
        plant_object_hash_cache_fault(victim);
        bool hash_moved = false;
        int64_t mismatches = 0;
        for (int32_t tick = 0; tick < 300 && !(hash_moved && mismatches); tick += 10)
        {
            ASSERT_TRUE(run_simulation(10, nullptr, 0, nullptr, nullptr)) << b.name;
            set_object_hash_cache_checking(false);
            const uint32_t kept = compute_state_hash();
            set_object_hash_cache_checking(true);
            hash_moved = hash_moved || kept != compute_state_hash();
            mismatches += get_object_hash_cache_check_counts().mismatches;
        }
        EXPECT_TRUE(hash_moved) << b.name;
        EXPECT_GT(mismatches, 0) << b.name;
        plant_object_hash_cache_fault(NONE);
        set_simulation_tick_procedure(nullptr, nullptr);
        stop_full_battle();
    }
}

} // namespace
