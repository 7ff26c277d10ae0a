// Overhead texts: the 64 slots, their timers and the unit's reverse link.
#include <gtest/gtest.h>

#include <cstring>

#include "monsters.h"
#include "overhead_text.h"
#include "support/expected_assertions.h"
#include "tag_files/data.h"

namespace overhead_text_test_file {

namespace
{
class overhead_text : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        initialize_overhead_text();
        if (!get_monster_array()->blocks) { ASSERT_TRUE(initialize_data(get_monster_array())); }
    }
    void SetUp() override
    {
        initialize_overhead_text_for_new_map();
        initialize_data_for_new_map(get_monster_array());
    }
    void TearDown() override
    {
        dispose_overhead_text_from_old_map();
        dispose_data_from_old_map(get_monster_array());
    }

    static overhead_text_data request(int32_t timer, int16_t monster_index = NONE)
    {
        overhead_text_data t = {};
        t.identifier = 0x1234; // never copied
        t.monster_index = monster_index;
        t.string_list_index = 3;
        t.string_index = 1;
        t.font_index = 2;
        t.style = NONE;
        t.color = {0xFFFF, 0, 0x8000, 0};
        t.text_flags = _overhead_text_default_flags | _overhead_text_shadow_flag;
        t.timer = timer;
        return t;
    }
    // A bare unit record, linked to a new text the way the scripts do it.
    static int32_t unit_with_text(int32_t timer, int32_t *text_index)
    {
        const int32_t unit = new_datum(get_monster_array());
        EXPECT_NE(unit, NONE);
        const overhead_text_data t = request(timer, (int16_t)unit);
        *text_index = new_overhead_text(&t);
        EXPECT_NE(*text_index, NONE);
        get_monster_data(unit)->current_overhead_text_index = (int16_t)*text_index;
        return unit;
    }
};

TEST_F(overhead_text, sixty_four_fit_the_sixty_fifth_is_refused_and_a_freed_slot_is_reused)
{
    const overhead_text_data t = request(100);
    for (int32_t i = 0; i < MAXIMUM_OVERHEAD_TEXT_PER_MAP; ++i) ASSERT_EQ(new_overhead_text(&t), i);
    EXPECT_EQ(new_overhead_text(&t), NONE);
    EXPECT_EQ(new_overhead_text(nullptr), NONE);

    const overhead_text_data *copy = get_overhead_text(5);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->identifier, 0x1234);
    EXPECT_NE(copy->identifier, 0);
    EXPECT_EQ(memcmp((const uint8_t *)copy + 2, (const uint8_t *)&t + 2, sizeof(t) - 2), 0);

    delete_overhead_text(17);
    EXPECT_EQ(get_overhead_text(17), nullptr);
    EXPECT_EQ(new_overhead_text(&t), 17);

    // A new map empties the array and restarts the identifiers, so replays
    // hand out the same slots.
    initialize_overhead_text_for_new_map();
    const int32_t first = new_overhead_text(&t);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(get_overhead_text(first)->identifier, 1);
}

TEST_F(overhead_text, timers_run_out_and_take_the_units_link_with_them)
{
    int32_t short_text, long_text;
    const int32_t a = unit_with_text(1, &short_text);
    const int32_t b = unit_with_text(3, &long_text);
    const overhead_text_data loose = request(2);
    const int32_t unlinked = new_overhead_text(&loose);

    update_overhead_text();
    EXPECT_EQ(get_overhead_text(short_text), nullptr);
    EXPECT_EQ(get_monster_data(a)->current_overhead_text_index, NONE);
    ASSERT_NE(get_overhead_text(long_text), nullptr);
    EXPECT_EQ(get_overhead_text(long_text)->timer, 2);
    EXPECT_EQ(get_monster_data(b)->current_overhead_text_index, long_text);

    update_overhead_text();
    EXPECT_EQ(get_overhead_text(unlinked), nullptr);
    update_overhead_text();
    EXPECT_EQ(get_overhead_text(long_text), nullptr);
    EXPECT_EQ(get_monster_data(b)->current_overhead_text_index, NONE);
    EXPECT_EQ(get_overhead_text_data_array()->count, 0);

    // A text made with no time left is gone at the next tick.
    const overhead_text_data spent = request(-5);
    const int32_t index = new_overhead_text(&spent);
    update_overhead_text();
    EXPECT_EQ(get_overhead_text(index), nullptr);
}

TEST_F(overhead_text, delete_clears_only_a_link_that_names_the_text_and_refuses_bad_indexes)
{
    int32_t first, second;
    const int32_t unit = unit_with_text(100, &first);
    // The unit moved on to another text; deleting the old one leaves that link.
    const overhead_text_data t = request(100, (int16_t)unit);
    second = new_overhead_text(&t);
    get_monster_data(unit)->current_overhead_text_index = (int16_t)second;
    delete_overhead_text(first);
    EXPECT_EQ(get_monster_data(unit)->current_overhead_text_index, second);

    delete_overhead_text(second);
    EXPECT_EQ(get_monster_data(unit)->current_overhead_text_index, NONE);
    EXPECT_EQ(get_overhead_text(second), nullptr);

    // A text whose unit is gone is still freed.
    int32_t orphan;
    const int32_t dead = unit_with_text(100, &orphan);
    delete_datum(get_monster_array(), dead);
    delete_overhead_text(orphan);
    EXPECT_EQ(get_overhead_text(orphan), nullptr);

    expected_assertions expect(3, "no overhead text to delete");
    delete_overhead_text(orphan);
    delete_overhead_text(NONE);
    delete_overhead_text(MAXIMUM_OVERHEAD_TEXT_PER_MAP);
}
} // namespace

} // namespace overhead_text_test_file
