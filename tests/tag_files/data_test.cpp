#include "tag_files/data.h"

#include <gtest/gtest.h>

#include "support/expected_assertions.h"

#include <cstring>
#include <vector>

namespace data_test_file {

namespace {

struct test_record
{
    int16_t identifier;
    int16_t unused;
    int32_t value;
};

// A fresh array per test, released at the end.  Any assertion a test does
// not declare fails it.
struct test_array
{
    datum_globals globals = {};

    test_array(int32_t maximum_count, uint32_t flags = 0)
    {
        strlcpy(globals.name, "test", sizeof(globals.name));
        globals.size = sizeof(test_record);
        globals.maximum_count = maximum_count;
        globals.flags = flags;
        EXPECT_TRUE(initialize_data(&globals));
    }
    ~test_array()
    {
        dispose_data(&globals);
    }

    test_record *record(int32_t index) { return (test_record *)get_datum(&globals, index); }
    int16_t identifier(int32_t index) { return record(index) ? record(index)->identifier : 0; }
};

// One step of a scripted history: positive = new_datum, negative = delete slot
// (-1 - value).  Returns (index << 16 | identifier) for new, the count for delete.
std::vector<int32_t> run_history(datum_globals *globals, const std::vector<int32_t> &steps)
{
    std::vector<int32_t> trace;
    for (int32_t step : steps)
    {
        if (step >= 0)
        {
            const int32_t index = new_datum(globals);
            const test_record *record = index == NONE ? nullptr : (test_record *)get_datum(globals, index);
            trace.push_back(record ? build_datum_identifier(record->identifier, (int16_t)index) : NONE);
        }
        else
        {
            delete_datum(globals, -1 - step);
            trace.push_back(globals->count);
        }
    }
    return trace;
}

// A history that reuses holes, frees the tail and fills the array: new = 0, delete slot s = -1 - s.
const std::vector<int32_t> history = {0, 0, 0, 0, 0, -2, -4, 0, 0, -5, -1, 0, 0, 0, 0, 0, 0, 0, 0, -3, 0};

} // namespace

TEST(data_array, new_datum_takes_lowest_free_slot_zero_filled_with_fresh_identifier)
{
    test_array array(8);
    for (int32_t i = 0; i < 4; ++i)
    {
        ASSERT_EQ(new_datum(&array.globals), i);
        array.record(i)->value = 100 + i;
        array.record(i)->unused = 7;
    }
    const int16_t old_identifier = array.identifier(1);
    delete_datum(&array.globals, 1);
    delete_datum(&array.globals, 2);

    ASSERT_EQ(new_datum(&array.globals), 1);
    const test_record *record = array.record(1);
    EXPECT_EQ(record->value, 0);
    EXPECT_EQ(record->unused, 0);
    EXPECT_GT(record->identifier, 0);
    EXPECT_NE(record->identifier, old_identifier);
    EXPECT_EQ(new_datum(&array.globals), 2);
    EXPECT_EQ(new_datum(&array.globals), 4);
    EXPECT_EQ(array.globals.count, 5);
}

TEST(data_array, same_history_gives_same_slots_and_identifiers)
{
    const uint32_t flag_cases[] = {0, _data_array_muids_flag, _data_array_growable_flag};
    for (uint32_t flags : flag_cases)
    {
        SCOPED_TRACE(flags);
        test_array first(6, flags), second(6, flags);
        // Allocations between the two push them to unrelated addresses.
        std::vector<char> spacer(4096);
        const std::vector<int32_t> trace = run_history(&first.globals, history);
        EXPECT_EQ(trace, run_history(&second.globals, history));

        // A new map replays the same sequence from its start.
        initialize_data_for_new_map(&first.globals);
        EXPECT_EQ(first.globals.count, 0);
        EXPECT_EQ(get_datum(&first.globals, 0), nullptr);
        EXPECT_EQ(trace, run_history(&first.globals, history));
        dispose_data_from_old_map(&second.globals);
        EXPECT_EQ(trace, run_history(&second.globals, history));
        }
}

TEST(data_array, full_array_gives_none_until_a_slot_is_freed)
{
    test_array array(4);
    for (int32_t i = 0; i < 4; ++i) ASSERT_EQ(new_datum(&array.globals), i);
    EXPECT_EQ(new_datum(&array.globals), NONE);
    EXPECT_EQ(array.globals.count, 4);
    delete_datum(&array.globals, 2);
    EXPECT_EQ(new_datum(&array.globals), 2);
    EXPECT_EQ(new_datum(&array.globals), NONE);
}

TEST(data_array, delete_lowers_count_past_every_trailing_free_slot)
{
    struct
    {
        int32_t index;
        int32_t count_after;
    } const steps[] = {{2, 6}, {4, 6}, {5, 4}, {3, 2}, {0, 2}, {1, 0}};

    test_array array(6);
    for (int32_t i = 0; i < 6; ++i) new_datum(&array.globals);
    for (const auto &step : steps)
    {
        delete_datum(&array.globals, step.index);
        EXPECT_EQ(array.globals.count, step.count_after) << "after deleting " << step.index;
    }

    // A second delete of a slot is refused with an assertion and changes nothing.
    {
        expected_assertions expect(1, "free slot");
        delete_datum(&array.globals, 0);
    }
    EXPECT_EQ(array.globals.count, 0);
}

TEST(data_array, lookup_by_identifier_fails_once_the_slot_is_freed_or_reused)
{
    test_array array(4);
    const int32_t index = new_datum(&array.globals);
    const int16_t identifier = array.identifier(index);
    EXPECT_EQ(get_datum_by_identifier(&array.globals, index, identifier), array.record(index));
    EXPECT_EQ(get_datum_by_identifier(&array.globals, index, (int16_t)(identifier + 1)), nullptr);

    delete_datum(&array.globals, index);
    EXPECT_EQ(get_datum_by_identifier(&array.globals, index, identifier), nullptr);
    EXPECT_EQ(get_datum_by_identifier(&array.globals, index, 0), nullptr);
    EXPECT_EQ(get_datum(&array.globals, index), nullptr);

    ASSERT_EQ(new_datum(&array.globals), index);
    EXPECT_EQ(get_datum_by_identifier(&array.globals, index, identifier), nullptr);
    EXPECT_NE(get_datum_by_identifier(&array.globals, index, array.identifier(index)), nullptr);

    // Indexes outside the array are refused, never read.
    const int32_t bad_indexes[] = {NONE, 4, 0x7FFF, -40000};
    expected_assertions expect(4 * (int32_t)NUMBER_OF(bad_indexes), "outside data array");
    for (int32_t bad : bad_indexes)
    {
        EXPECT_EQ(get_datum(&array.globals, bad), nullptr);
        EXPECT_EQ(get_datum_by_identifier(&array.globals, bad, 1), nullptr);
        delete_datum(&array.globals, bad);
        set_datum_identifier(&array.globals, bad, 1);
    }
}

TEST(data_array, set_datum_identifier_replaces_a_used_record_identifier)
{
    test_array array(4);
    const int32_t index = new_datum(&array.globals);
    const int16_t old_identifier = array.identifier(index);
    set_datum_identifier(&array.globals, index, 1234);
    EXPECT_EQ(get_datum_by_identifier(&array.globals, index, 1234), array.record(index));
    EXPECT_EQ(get_datum_by_identifier(&array.globals, index, old_identifier), nullptr);

    // 0 would free the slot behind the array's back; a free slot stays free.
    {
        expected_assertions expect(2, "set_datum_identifier");
        set_datum_identifier(&array.globals, index, 0);
        set_datum_identifier(&array.globals, 3, 55);
    }
    EXPECT_EQ(array.identifier(index), 1234);
    EXPECT_EQ(get_datum(&array.globals, 3), nullptr);
    EXPECT_EQ(array.globals.count, 1);
}

TEST(data_array, muids_skip_identifiers_still_in_use)
{
    struct
    {
        uint32_t flags;
        int16_t expected;
    } const cases[] = {{0, 2}, {_data_array_muids_flag, 3}};
    for (const auto &c : cases)
    {
        test_array array(4, c.flags);
        new_datum(&array.globals); // takes identifier 1
        set_datum_identifier(&array.globals, 0, 2);
        const int32_t index = new_datum(&array.globals);
        EXPECT_EQ(array.identifier(index), c.expected) << "flags " << c.flags;
    }
}

// The data array as it first stood: the lowest free slot, and a new
// identifier checked against every used record.  Films and peers depend on
// the identifiers it handed out, so every faster form must hand out the same.
struct reference_array
{
    std::vector<int16_t> identifiers; // per slot ever used, 0 free
    int16_t next_identifier = 1;
    size_t capacity;
    bool muids;

    reference_array(int32_t capacity, bool muids) : capacity((size_t)capacity), muids(muids) {}

    bool in_use(int16_t identifier) const
    {
        for (int16_t held : identifiers)
            if (held == identifier) return true;
        return false;
    }
    int16_t take(void)
    {
        const int16_t identifier = next_identifier;
        next_identifier = identifier >= MAXIMUM_DATUM_IDENTIFIER ? 1 : (int16_t)(identifier + 1);
        return identifier;
    }
    int32_t create(void)
    {
        for (size_t index = 0; index < capacity; ++index)
        {
            if (index == identifiers.size()) identifiers.push_back(0);
            if (identifiers[index] != 0) continue;
            int16_t identifier = take();
            for (int32_t attempt = 0; muids && in_use(identifier) && attempt < MAXIMUM_DATUM_IDENTIFIER; ++attempt)
                identifier = take();
            identifiers[index] = identifier;
            return (int32_t)index;
        }
        return NONE;
    }
};

TEST(data_array, long_random_history_hands_out_the_reference_identifiers)
{
    struct
    {
        uint32_t flags;
        int32_t block, capacity, live_limit;
    } const cases[] = {{_data_array_muids_flag, 700, 700, 650},
                       {_data_array_muids_flag | _data_array_growable_flag, 64, MAXIMUM_DATA_ARRAY_COUNT, 900},
                       {0, 300, 300, 300}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.flags);
        test_array array(c.block, c.flags);
        reference_array reference(c.capacity, (c.flags & _data_array_muids_flag) != 0);
        std::vector<int32_t> used;
        uint32_t seed = 2026;
        auto draw = [&seed](uint32_t n) {
            seed = seed * 1664525u + 1013904223u;
            return (seed >> 8) % n;
        };
        // Long-lived records collide with the sequence after every wrap, and
        // forced identifiers land just ahead of it.
        for (int32_t step = 0; step < 120000; ++step)
        {
            const uint32_t choice = draw(100);
            const bool fill = (int32_t)used.size() < c.live_limit && (step / 5000) % 2 == 0;
            if (!used.empty() && choice < 4)
            {
                const int32_t index = used[draw((uint32_t)used.size())];
                int16_t identifier = (int16_t)(reference.next_identifier + (int32_t)draw(6));
                if (identifier <= 0) identifier = (int16_t)-1 - (int16_t)draw(3);
                set_datum_identifier(&array.globals, index, identifier);
                reference.identifiers[(size_t)index] = identifier;
            }
            else if (!used.empty() && (choice < (fill ? 40u : 58u) || (int32_t)used.size() >= c.live_limit))
            {
                const size_t at = draw((uint32_t)used.size());
                const int32_t index = used[at];
                used[at] = used.back();
                used.pop_back();
                delete_datum(&array.globals, index);
                reference.identifiers[(size_t)index] = 0;
            }
            else
            {
                const int32_t expected = reference.create();
                const int32_t index = new_datum(&array.globals);
                ASSERT_EQ(index, expected) << "step " << step;
                if (index == NONE) continue;
                ASSERT_EQ(array.identifier(index), reference.identifiers[(size_t)index]) << "step " << step;
                used.push_back(index);
            }
        }
        EXPECT_GT(reference.next_identifier, 0);
        ASSERT_LE(array.globals.count, (int32_t)reference.identifiers.size());
        for (int32_t index = 0; index < array.globals.count; ++index)
            ASSERT_EQ(array.identifier(index), reference.identifiers[(size_t)index]) << index;
    }
}

// An identifier written into a record by hand escapes the count of values in
// use: the array says so when it next meets the record, and from then on
// follows what the record holds.
TEST(data_array, identifier_written_behind_the_arrays_back_is_caught)
{
    test_array array(4, _data_array_muids_flag);
    ASSERT_EQ(new_datum(&array.globals), 0);
    ASSERT_EQ(new_datum(&array.globals), 1);
    array.record(0)->identifier = 3;
    {
        expected_assertions expect(1, "behind the array's back");
        delete_datum(&array.globals, 0);
    }
    EXPECT_EQ(array.identifier(new_datum(&array.globals)), 3);
    // Freed by hand: the slot is taken again with a fresh count.
    array.record(1)->identifier = 0;
    {
        expected_assertions expect(1, "behind the array's back");
        EXPECT_EQ(new_datum(&array.globals), 1);
    }
    EXPECT_EQ(array.identifier(1), 4);
    EXPECT_EQ(array.identifier(new_datum(&array.globals)), 5);
}

TEST(data_array, identifier_sequence_wraps_to_one_never_zero_or_negative)
{
    const uint32_t flag_cases[] = {0, _data_array_muids_flag};
    for (uint32_t flags : flag_cases)
    {
        SCOPED_TRACE(flags);
        test_array array(2, flags);
        new_datum(&array.globals); // slot 0 keeps identifier 1 throughout
        int16_t previous = 1;
        bool wrapped = false;
        for (int32_t i = 0; i < 70000; ++i)
        {
            const int32_t index = new_datum(&array.globals);
            const int16_t identifier = array.identifier(index);
            ASSERT_GE(identifier, 1);
            ASSERT_LE(identifier, MAXIMUM_DATUM_IDENTIFIER);
            if (previous == MAXIMUM_DATUM_IDENTIFIER)
            {
                // With MUIDs 1 is held by slot 0 and is skipped.
                EXPECT_EQ(identifier, flags ? 2 : 1);
                wrapped = true;
            }
            else
            {
                ASSERT_EQ(identifier, previous + 1);
            }
            previous = identifier;
            delete_datum(&array.globals, index);
        }
        EXPECT_TRUE(wrapped);
    }
}

TEST(data_array, import_places_records_in_order_and_renames_clashes)
{
    test_array array(8);
    new_datum(&array.globals);
    set_datum_identifier(&array.globals, 0, 5);

    const test_record records[] = {{7, 0, 10}, {0, 0, 11}, {5, 0, 12}, {7, 0, 13}, {9, 0, 14}};
    {
        expected_assertions expect(2, "already used"); // the two clashes
        ASSERT_TRUE(import_data(&array.globals, records, NUMBER_OF(records)));
    }
    EXPECT_EQ(array.globals.count, 6);
    EXPECT_EQ(get_datum(&array.globals, 2), nullptr); // identifier 0 leaves its slot free
    const int32_t expected_values[] = {0, 10, 0, 12, 13, 14};
    for (int32_t index = 0; index < 6; ++index)
    {
        if (index == 2) continue;
        EXPECT_EQ(array.record(index)->value, expected_values[index]) << index;
    }
    EXPECT_EQ(array.identifier(1), 7);
    EXPECT_EQ(array.identifier(5), 9);

    // Every used slot holds a distinct non-zero identifier.
    for (int32_t a = 0; a < array.globals.count; ++a)
    {
        for (int32_t b = a + 1; b < array.globals.count; ++b)
        {
            if (array.record(a) && array.record(b))
            {
                EXPECT_NE(array.identifier(a), array.identifier(b)) << a << b;
            }
        }
    }

    // The hole left by the zero record is the next slot new_datum takes.
    EXPECT_EQ(new_datum(&array.globals), 2);
}

TEST(data_array, import_that_does_not_fit_changes_nothing)
{
    test_array array(4);
    new_datum(&array.globals);
    new_datum(&array.globals);
    delete_datum(&array.globals, 0);
    const test_record records[] = {{1, 0, 1}, {2, 0, 2}, {3, 0, 3}, {4, 0, 4}};

    {
        expected_assertions expect(2);
        EXPECT_FALSE(import_data(&array.globals, records, 4));
        EXPECT_FALSE(import_data(&array.globals, records, -1));
    }
    EXPECT_EQ(array.globals.count, 2);
    EXPECT_EQ(get_datum(&array.globals, 0), nullptr);
    EXPECT_EQ(get_datum(&array.globals, 3), nullptr);

    {
        expected_assertions expect(2, "already used"); // 2 and 3 are taken: renamed
        EXPECT_TRUE(import_data(&array.globals, records, 3)); // exactly the free slots 0, 2, 3
    }
    EXPECT_EQ(array.globals.count, 4);
}

TEST(data_array, compress_keeps_order_and_iteration_visits_used_records)
{
    test_array array(8);
    for (int32_t i = 0; i < 8; ++i)
    {
        new_datum(&array.globals);
        array.record(i)->value = i;
    }
    const int32_t deleted[] = {0, 3, 4, 6};
    for (int32_t index : deleted) delete_datum(&array.globals, index);

    std::vector<int32_t> visited;
    data_iterator iterator = data_iterator_new(&array.globals);
    while (test_record *record = (test_record *)data_iterator_next(&iterator))
    {
        EXPECT_EQ(iterator.index, record->value);
        visited.push_back(record->value);
    }
    EXPECT_EQ(visited, (std::vector<int32_t>{1, 2, 5, 7}));
    EXPECT_EQ(data_iterator_next(&iterator), nullptr); // stays at the end
    EXPECT_EQ(iterator.index, NONE);

    const int16_t identifier_of_7 = array.identifier(7);
    compress_data(&array.globals);
    EXPECT_EQ(array.globals.count, 4);
    const int32_t expected[] = {1, 2, 5, 7};
    for (int32_t index = 0; index < 4; ++index) EXPECT_EQ(array.record(index)->value, expected[index]);
    EXPECT_EQ(array.identifier(3), identifier_of_7);
    for (int32_t index = 4; index < 8; ++index) EXPECT_EQ(get_datum(&array.globals, index), nullptr);
    EXPECT_EQ(new_datum(&array.globals), 4);

    // Deleting the record the walk stands on is safe.
    visited.clear();
    iterator = data_iterator_new(&array.globals);
    while (test_record *record = (test_record *)data_iterator_next(&iterator))
    {
        visited.push_back(record->value);
        delete_datum(&array.globals, iterator.index);
    }
    EXPECT_EQ(visited, (std::vector<int32_t>{1, 2, 5, 7, 0}));
    EXPECT_EQ(array.globals.count, 0);
}

TEST(data_array, growable_array_adds_blocks_without_moving_records)
{
    test_array array(4, _data_array_growable_flag);
    ASSERT_EQ(new_datum(&array.globals), 0);
    test_record *first = array.record(0);
    first->value = 99;
    for (int32_t i = 1; i < 10; ++i) ASSERT_EQ(new_datum(&array.globals), i);
    EXPECT_EQ(array.globals.capacity, 12);
    EXPECT_EQ(first, array.record(0));
    EXPECT_EQ(first->value, 99);
    for (int32_t i = 1; i < 10; ++i) array.record(i)->value = i;

    dispose_data_from_old_map(&array.globals);
    EXPECT_EQ(array.globals.capacity, 4);
    EXPECT_EQ(array.globals.count, 0);
    EXPECT_EQ(new_datum(&array.globals), 0);
    EXPECT_EQ(array.identifier(0), 1);

    // Growth stops at the largest 16-bit index.
    test_array large(16384, _data_array_growable_flag);
    for (int32_t i = 0; i < MAXIMUM_DATA_ARRAY_COUNT; ++i) ASSERT_EQ(new_datum(&large.globals), i);
    EXPECT_EQ(new_datum(&large.globals), NONE);
    EXPECT_EQ(large.globals.capacity, MAXIMUM_DATA_ARRAY_COUNT);
}

TEST(data_array, unusable_descriptor_is_refused)
{
    struct
    {
        const char *name;
        int32_t size;
        int32_t maximum_count;
    } const cases[] = {{"", 8, 4}, {"small", 1, 4}, {"empty", 8, 0}, {"huge", 8, 32768}};
    for (const auto &c : cases)
    {
        datum_globals globals = {};
        strlcpy(globals.name, c.name, sizeof(globals.name));
        globals.size = c.size;
        globals.maximum_count = c.maximum_count;
        expected_assertions expect(2);
        EXPECT_FALSE(initialize_data(&globals)) << c.name;
        EXPECT_EQ(new_datum(&globals), NONE);
    }
}

} // namespace data_test_file
