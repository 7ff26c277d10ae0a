// The state hash joins records that did not change by their kept CRCs.  Over
// every tick of the demo battle and of the 400-unit battle the value equals
// the one every record written afresh gives; a planted fault (a unit's
// object counted as unchanged while it moves) parts the two, and the checker
// finds it, logs it and returns the fresh value.  On an array of its own,
// through records made, changed, freed, reused and grown past the first
// block, the value stays that of the records written out, whether the writer
// is one the byte tables describe or one with a condition in it, whether the
// records end on a whole 32-byte chunk or not (or are shorter than one),
// whether they are compared 16 or 32 bytes at a time, and whether a step
// changes one record or most of them (when the passes renew every record
// without asking first, and stop again once the changes die down).

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "determinism_harness.h"
#include "full_battle.h"
#include "mesh.h"
#include "monsters.h"
#include "objects.h"
#include "state_hash_kept_records.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "support/vesk_sim_fixture.h"
#include "tag_files/data.h"
#include "cseries/crc.h"
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

// The mesh keeps its rows' CRCs: a cell written behind the hash's back, in
// the first, a middle or the last row and column, by any of its hashed
// words, changes the kept value as it does the fresh one, and writing the
// old word back gives the old value; the unhashed word changes neither.
TEST_F(state_hash_kept_records_test, a_changed_mesh_cell_renews_its_row)
{
    start_battle(false);
    ASSERT_TRUE(run_simulation(30, nullptr, 0, nullptr, nullptr));
    struct cell_case
    {
        int32_t x, y;
        size_t word; // of the cell's six 16-bit words
        bool hashed;
    };
    const int32_t last_x = mesh_width - 1, last_y = mesh_height - 1;
    const cell_case cases[] = {
        {0, 0, 0, true},           {last_x, 0, 1, true},          {3, mesh_height / 2, 2, true},
        {last_x / 2, last_y, 3, true}, {last_x, last_y, 4, true}, {1, 1, 5, false},
    };
    for (const cell_case &c : cases)
    {
        const uint32_t before = compute_state_hash();
        uint16_t *words = (uint16_t *)(void *)get_mesh_cell(c.x, c.y);
        const uint16_t old = words[c.word];
        words[c.word] = (uint16_t)(old ^ 0x0410);
        const uint32_t kept = compute_state_hash();
        EXPECT_EQ(kept, compute_fresh_state_hash()) << c.x << ", " << c.y << " word " << c.word;
        EXPECT_EQ(kept != before, c.hashed) << c.x << ", " << c.y << " word " << c.word;
        words[c.word] = old;
        EXPECT_EQ(compute_state_hash(), before) << c.x << ", " << c.y << " word " << c.word;
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

// A record of 12 + 4 N bytes: N = 5 ends on a 32-byte chunk, N = 6 and 9 run
// past their last 32 (and 16) bytes, which are compared over the bytes
// before them; N = 1 and 2 are shorter than a chunk (16 and 20 bytes).
template <int N> struct kept_record
{
    int16_t identifier;
    int16_t small; // hashed sign-extended
    uint32_t flags; // hashed but for the top bit
    uint8_t level; // hashed zero-extended
    int8_t local; // not hashed
    int16_t pad;
    int32_t values[N]; // hashed but for values[3]
};
template <int N> constexpr int kept_value_count = N > 3 ? N - 1 : N;
template <int N> constexpr size_t kept_hash_size = 4 * (5 + kept_value_count<N>);

template <int N> void write_linear(int32_t index, const kept_record<N> *r, uint8_t *out)
{
    const int32_t fields[] = {index, r->identifier, r->small, (int32_t)(r->flags & 0x7FFFFFFF), r->level};
    for (size_t i = 0; i < NUMBER_OF(fields); ++i) state_hash_write_int32(out + 4 * i, fields[i]);
    out += sizeof(fields);
    for (int i = 0; i < N; ++i)
        if (i != 3)
        {
            state_hash_write_int32(out, r->values[i]);
            out += 4;
        }
}
template <int N> void write_with_a_condition(int32_t index, const kept_record<N> *r, uint8_t *out)
{
    const int32_t fields[] = {index, r->identifier, r->small > 0 ? r->values[0] : (int32_t)r->flags,
                              (int32_t)r->flags, r->level};
    for (size_t i = 0; i < NUMBER_OF(fields); ++i) state_hash_write_int32(out + 4 * i, fields[i]);
    for (int i = 0; i < kept_value_count<N>; ++i) state_hash_write_int32(out + sizeof(fields) + 4 * i, r->values[i]);
}

// Records made, changed, freed, reused and grown past the first block, each
// step hashed kept and written out.  A busy array also has a hashed field of
// most used records changed, but for a quiet step in every five.
template <int N> void check_kept_array(bool wide, bool busy)
{
    typedef void (*writer)(int32_t, const kept_record<N> *, uint8_t *);
    const struct
    {
        const char *name;
        writer write;
        int8_t linear;
    } writers[] = {{"a linear writer", write_linear<N>, 1}, {"a writer with a condition", write_with_a_condition<N>, 0}};
    for (const auto &w : writers)
    {
        SCOPED_TRACE(::testing::Message() << w.name << ", " << sizeof(kept_record<N>) << "-byte records"
                                          << (wide ? ", wide" : ", narrow") << (busy ? ", busy" : ", quiet"));
        datum_globals array = {};
        strlcpy(array.name, "kept", sizeof(array.name));
        array.size = sizeof(kept_record<N>);
        array.maximum_count = 8;
        array.flags = _data_array_growable_flag;
        ASSERT_TRUE(initialize_data(&array));
        state_hash_record_cache cache;
        uint32_t state = 12345;
        auto next = [&state](uint32_t range) {
            state = state * 1103515245u + 12345u;
            return (state >> 8) % range;
        };
        int32_t renewing_steps = 0;
        for (int32_t step = 0; step < 400; ++step)
        {
            for (int32_t index = 0; busy && step % 5 != 4 && index < array.count; ++index)
                if (kept_record<N> *moved = (kept_record<N> *)get_datum(&array, index); moved && next(8) != 0)
                    moved->values[next(N)] += 1 + (int32_t)next(2);
            renewing_steps += cache.renews_every_record;
            const uint32_t action = next(10);
            const int32_t slot = (int32_t)next(20);
            kept_record<N> *r = (kept_record<N> *)get_datum(&array, slot < array.capacity ? slot : 0);
            if (action < 3 || !r) new_datum(&array);
            else if (action == 3) delete_datum(&array, slot < array.capacity ? slot : 0);
            else if (action == 4) r->local = (int8_t)next(256); // changes no hashed byte
            else if (action == 5) r->small = (int16_t)((int32_t)next(65536) - 32768);
            else if (action == 6) r->flags ^= 1u << next(32);
            else r->values[action == 7 ? N - 1 : next(N)] = (int32_t)next(0xFFFFFFFFu) - 7; // the last bytes too
            uint32_t kept = 0, written = 0;
            state_hash_add_kept_records<kept_record<N>, kept_hash_size<N>>(&kept, &cache, &array, array.count, w.write);
            for (int32_t index = 0; index < array.count; ++index)
                if (const kept_record<N> *record = (const kept_record<N> *)get_datum(&array, index))
                {
                    uint8_t bytes[kept_hash_size<N>];
                    w.write(index, record, bytes);
                    written = crc32_update(written, bytes, sizeof(bytes));
                }
            ASSERT_EQ(kept, written) << "step " << step;
        }
        EXPECT_GT(array.capacity, array.maximum_count) << "the array never grew";
        EXPECT_EQ(cache.linear, w.linear);
        if (busy && w.linear) EXPECT_GT(renewing_steps, 200);
        else EXPECT_LT(renewing_steps, 100);
        dispose_data(&array);
    }
}

TEST(state_hash_kept_array, the_kept_value_is_that_of_every_record_written_out)
{
    const bool was_wide = state_hash_compares_wide();
    for (const bool wide : {false, true})
    {
        if (set_state_hash_wide_comparison(wide) != wide) continue; // not on this processor
        for (const bool busy : {false, true})
        {
            check_kept_array<1>(wide, busy);
            check_kept_array<2>(wide, busy);
            check_kept_array<5>(wide, busy);
            check_kept_array<6>(wide, busy);
            check_kept_array<9>(wide, busy);
        }
    }
    set_state_hash_wide_comparison(was_wide);
}

} // namespace

} // namespace state_hash_kept_records_test_file
