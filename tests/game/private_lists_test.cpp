// The list engine on its own, without art (so the thumb is the fixed one):
// a seeded sweep of random operations checking the engine's invariants after
// each, rows and their order against a plain array of rows (with and
// without sort keys), the slot growth and the maximum,
// sorted inserts and autoscrolling,
// thumb geometry and dragging, presses on the scroll bar and the rows,
// double clicks, and the refusals of bad rows and lengths.

#include "support/dialog_harness.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bitmap_dialogs/private_lists.h"
#include "bitmap_dialogs/string_list_control.h"
#include "cseries/sorting.h"
#include "support/expected_assertions.h"

namespace private_lists_test_file {

namespace {

// (top, left, bottom, right): a view of 200 - 2 x 2 = 196 pixels, the scroll
// bar from x 134 to 150.
const rectangle2d list_bounds = {10, 0, 210, 150};
const int32_t view = 196;
const rectangle2d scrollbar = {10, 134, 210, 150};

int32_t by_first_byte(const void *a, int16_t length_a, const void *b, int16_t length_b)
{
    const int32_t x = length_a > 0 ? ((const uint8_t *)a)[0] : -1;
    const int32_t y = length_b > 0 ? ((const uint8_t *)b)[0] : -1;
    return x - y;
}

bool starts_with_text(const void *data, int16_t length, const char *typed)
{
    const size_t n = strlen(typed);
    return (size_t)length >= n && memcmp(data, typed, n) == 0;
}

// Every clip the engine hands over lies in its row and in the list.
rectangle2d drawn_limit;
int32_t drawn_rows = 0;
bool drawn_outside = false;
void checking_draw_proc(bitmap_data *, const rectangle2d *row, const rectangle2d *clip, const void *, int16_t,
                        int16_t, uint16_t)
{
    ++drawn_rows;
    if (clip->top < row->top || clip->bottom > row->bottom || clip->top < drawn_limit.top ||
        clip->bottom > drawn_limit.bottom || clip->left < drawn_limit.left || clip->right > drawn_limit.right ||
        clip->top >= clip->bottom)
        drawn_outside = true;
}

class private_lists : public dialog_test
{
protected:
    private_list_data *list = nullptr;

    void SetUp() override
    {
        dialog_test::SetUp();
        list = new_private_list(&list_bounds, 0);
        ASSERT_NE(list, nullptr);
        set_list_line_height(list, 10);
    }
    void TearDown() override
    {
        if (list) dispose_private_list(list);
        dialog_test::TearDown();
    }

    int16_t add(uint8_t byte, int16_t height = 10, bool enabled = true)
    {
        return add_data_to_private_list(&byte, 1, list, height, enabled);
    }
    uint8_t byte_at(int16_t row, int32_t index = 0)
    {
        uint8_t bytes[8] = {};
        int16_t size = sizeof(bytes);
        get_data_from_private_list_row(list, row, bytes, &size);
        return bytes[index];
    }
    int32_t position(void) { return get_private_list_scroll_position(list); }
    int32_t last_position(void) { return std::max(0, get_private_list_content_height(list) - view); }
    bool press(int16_t x, int16_t y, bool double_clicked = false, uint16_t modifiers = 0)
    {
        return click_private_list(list, point2d{x, y}, modifiers, double_clicked);
    }
    // A whole press: down and up at one point.
    bool tap(int16_t x, int16_t y, bool double_clicked = false)
    {
        const bool result = press(x, y, double_clicked);
        mouse_up_in_list(list);
        return result;
    }
    // The screen y of a row's middle when the view is at the top.
    static int16_t row_y(int32_t row) { return (int16_t)(list_bounds.top + 2 + row * 10 + 5); }
};

// The invariants every operation keeps, as text (empty when all hold).
std::string broken_invariant(const private_list_data *list)
{
    const int32_t count = list->actual_row_count;
    int32_t sum = 0;
    for (int32_t i = 0; i < count; ++i)
    {
        // Read through the engine, which brings the tops up to date as it reads.
        list_span r;
        get_row_bounds_private_list((int16_t)i, &r, nullptr, list);
        if (r.top != sum) return "height_in_list of row " + std::to_string(i);
        const row_data *row = get_private_list_row(list, (int16_t)i);
        if (row->flags & _row_visible_flag) sum += row->height;
    }
    if (count == 0 ? list->top_visible_row != 0 : (list->top_visible_row < 0 || list->top_visible_row >= count))
        return "top row " + std::to_string(list->top_visible_row) + " of " + std::to_string(count);
    const int32_t total = get_private_list_content_height(list);
    const int32_t p = get_private_list_scroll_position(list);
    if (p < 0 || p > std::max(0, total - view))
        return "position " + std::to_string(p) + " outside [0, " + std::to_string(std::max(0, total - view)) + "]";
    const bool scrolls = (list->flags & _list_has_vertical_scroll_flag) != 0;
    if (scrolls != (count > 0 && total > view)) return "scroll flag";
    if (count > list->allocated_row_count) return "count above slots";
    if (list->allocated_row_count > std::max<int32_t>(DEFAULT_LIST_ALLOCATED_ROW_COUNT, list->maximum_row_count))
        return "slots above the maximum";
    if (count > list->maximum_row_count) return "count above the maximum";
    return "";
}

TEST_F(private_lists, a_random_sweep_keeps_positions_the_view_and_the_slots_consistent)
{
    std::mt19937 random(20261207);
    auto below = [&](int32_t n) { return n <= 0 ? 0 : (int32_t)(random() % (uint32_t)n); };
    set_list_maximum_row_count(list, 150);
    set_list_match_proc(list, starts_with_text);
    set_list_draw_proc(list, checking_draw_proc);
    dialog_test_screen screen;
    drawn_limit = list_bounds;
    drawn_limit.right = (int16_t)(list_bounds.right - SCROLL_BAR_WIDTH);
    int32_t sorted = 0, scrolled = 0, clicked = 0;
    for (int32_t step = 0; step < 10000; ++step)
    {
        const int32_t count = list->actual_row_count;
        const int32_t row = below(std::max(count, 1));
        const int32_t choice = below(100);
        if (choice < 40)
        {
            uint8_t bytes[8];
            const int16_t length = (int16_t)(1 + below(8));
            for (int32_t i = 0; i < length; ++i) bytes[i] = (uint8_t)('a' + below(6));
            set_autoscroll_mode_private_list(list, (int16_t)below(3));
            add_data_to_private_list(bytes, length, list, (int16_t)below(40), below(4) != 0);
        }
        else if (choice < 52)
        {
            if (count > 0) delete_row_private_list((int16_t)std::min(1 + below(3), count - row), (int16_t)row, list);
        }
        else if (choice < 62)
        {
            if (count > 0) set_list_row_visible(list, (int16_t)row, below(3) != 0);
        }
        else if (choice < 64)
        {
            set_list_line_height(list, (int16_t)below(30));
        }
        else if (choice < 68)
        {
            set_list_sort_proc(list, below(2) ? by_first_byte : nullptr);
            sort_list(list);
            ++sorted;
        }
        else if (choice < 80)
        {
            ++scrolled;
            switch (below(3))
            {
            case 0: move_private_list_by_delta(list, below(2000) - 1000); break;
            case 1: move_private_list(list, (int16_t)below(5)); break;
            default:
                if (count > 0) make_row_visible_private_list((int16_t)row, list, below(2) != 0);
                break;
            }
        }
        else if (choice < 97)
        {
            ++clicked;
            const int16_t x = (int16_t)(below(170) - 10), y = (int16_t)(below(240) - 10);
            click_private_list(list, point2d{x, y}, (uint16_t)below(16), below(4) == 0);
            if (below(3) == 0) mouse_up_in_list(list);
        }
        else if (choice < 99)
        {
            drawn_outside = false;
            draw_private_list(screen.bitmap, list, below(2) != 0);
            ASSERT_FALSE(drawn_outside) << "step " << step;
        }
        else
        {
            int16_t found = NONE;
            const char typed[2] = {(char)('a' + below(6)), 0};
            if (find_data_in_private_list(typed, &found, list))
            {
                ASSERT_TRUE(found >= 0 && found < list->actual_row_count);
                ASSERT_TRUE(get_row_enabled_private_list(list, found));
            }
        }
        const std::string broken = broken_invariant(list);
        ASSERT_EQ(broken, "") << "after step " << step << " (choice " << choice << ")";
    }
    EXPECT_GT(sorted, 100);
    EXPECT_GT(scrolled, 500);
    EXPECT_GT(clicked, 1000);
    EXPECT_GT(drawn_rows, 0);
}

TEST_F(private_lists, a_new_list_grows_its_slots_by_doubling_and_drops_the_oldest_row_at_its_maximum)
{
    EXPECT_EQ(list->actual_row_count, 0);
    EXPECT_EQ(list->allocated_row_count, 32);
    EXPECT_EQ(list->maximum_row_count, 32767);
    EXPECT_EQ(list->horizontal_gutter, 1);
    EXPECT_EQ(list->vertical_gutter, 2);
    EXPECT_EQ(list->arrow_scroll_rate, 4);
    EXPECT_EQ(list->page_up_down_rate, 4);
    EXPECT_TRUE(get_list_focusable(list));
    EXPECT_EQ(list->item_last_clicked, NONE);
    for (int32_t i = 0; i < 32; ++i) add((uint8_t)i);
    EXPECT_EQ(list->allocated_row_count, 32);
    EXPECT_EQ(add(32), 32);
    EXPECT_EQ(list->allocated_row_count, 64);

    dispose_private_list(list);
    list = new_private_list(&list_bounds, 0);
    set_list_maximum_row_count(list, 10);
    for (int32_t i = 0; i < 10; ++i) add((uint8_t)i);
    EXPECT_EQ(add(10), 9);
    EXPECT_EQ(list->actual_row_count, 10);
    EXPECT_EQ(byte_at(0), 1);
    EXPECT_EQ(byte_at(9), 10);

    // A maximum below 1 keeps one row instead of deleting forever.
    set_list_maximum_row_count(list, 0);
    EXPECT_EQ(list->maximum_row_count, 1);
    EXPECT_EQ(add(11), 0);
    EXPECT_EQ(list->actual_row_count, 1);
    EXPECT_EQ(byte_at(0), 11);
}

TEST_F(private_lists, sorted_rows_go_after_equal_rows_and_autoscroll_targets_the_first_identical_row)
{
    set_list_sort_proc(list, by_first_byte);
    const uint8_t first[2] = {'m', 1}, second[2] = {'m', 2};
    add('z');
    add('a');
    EXPECT_EQ(add_data_to_private_list(first, 2, list, 10, true), 1);
    EXPECT_EQ(add_data_to_private_list(second, 2, list, 10, true), 2);
    EXPECT_EQ(add('m'), 3);
    EXPECT_EQ(add('b'), 1);
    const std::vector<uint8_t> expected = {'a', 'b', 'm', 'm', 'm', 'z'};
    for (int16_t r = 0; r < 6; ++r) EXPECT_EQ(byte_at(r), expected[r]) << r;
    EXPECT_EQ(byte_at(2, 1), 1);
    EXPECT_EQ(byte_at(3, 1), 2);

    // 40 rows of 10 pixels; an identical 'c' near the top is the target of a
    // new 'c' even though the new one goes after it.
    for (int32_t i = 0; i < 40; ++i) add('y');
    set_autoscroll_mode_private_list(list, _autoscroll_mode_always);
    make_row_visible_private_list((int16_t)(list->actual_row_count - 1), list, false);
    ASSERT_GT(position(), 0);
    add('c');
    const int16_t second_c = add('c');
    EXPECT_EQ(second_c, 3);
    EXPECT_EQ(position(), 2 * 10) << "the first 'c' (row 2) is brought to the top of the view";
}

TEST_F(private_lists, autoscrolling_follows_new_rows_by_its_mode)
{
    for (int32_t i = 0; i < 30; ++i) add('a'); // 300 pixels in a view of 196
    EXPECT_EQ(position(), 0) << "mode 0 never moves";

    set_autoscroll_mode_private_list(list, _autoscroll_mode_only_at_bottom);
    add('b');
    EXPECT_EQ(position(), 0) << "a reader at the top is not moved";
    move_private_list_by_delta(list, 100000);
    ASSERT_EQ(position(), last_position());
    add('c');
    EXPECT_EQ(position(), last_position()) << "a reader at the end follows";
    move_private_list_by_delta(list, -1);
    add('d');
    EXPECT_EQ(position(), last_position() - 11) << "one pixel above the end no longer follows";

    set_autoscroll_mode_private_list(list, _autoscroll_mode_always);
    move_private_list_by_delta(list, -100000);
    add('e');
    EXPECT_EQ(position(), last_position());
}

TEST_F(private_lists, the_fixed_thumb_is_fourteen_pixels_and_dragging_its_track_ends_reaches_both_ends)
{
    for (int32_t i = 0; i < 100; ++i) add('a'); // 1000 pixels: last position 804
    rectangle2d up, down, thumb;
    ASSERT_TRUE(calculate_scroll_element_bounds(list, &scrollbar, &up, &down, &thumb));
    EXPECT_EQ(up.bottom, scrollbar.top + 14);
    EXPECT_EQ(down.top, scrollbar.bottom - 14);
    for (int32_t p : {0, 1, 400, 803, 804})
    {
        move_private_list_by_delta(list, p - position());
        ASSERT_TRUE(calculate_scroll_element_bounds(list, &scrollbar, nullptr, nullptr, &thumb));
        EXPECT_EQ(thumb.bottom - thumb.top, 14) << p;
        EXPECT_GE(thumb.top, up.bottom) << p;
        EXPECT_LE(thumb.bottom, down.top) << p;
    }
    move_private_list_by_delta(list, -100000);
    ASSERT_TRUE(calculate_scroll_element_bounds(list, &scrollbar, nullptr, nullptr, &thumb));
    const int16_t x = (int16_t)(scrollbar.left + 8);
    press(x, (int16_t)(thumb.top + 3));
    EXPECT_EQ(list->item_last_clicked, _in_thumb);
    EXPECT_EQ(position(), 0) << "grabbing does not move";
    press(x, 1000);
    EXPECT_EQ(position(), 804);
    press(x, -1000);
    EXPECT_EQ(position(), 0);
    press(x, (int16_t)((scrollbar.top + scrollbar.bottom) / 2));
    EXPECT_EQ(position(), 402);
    mouse_up_in_list(list);

    // Everything fits, or the bar is too short for a track: no thumb, no division by zero.
    const rectangle2d short_bar = {10, 134, 40, 150};
    EXPECT_FALSE(calculate_scroll_element_bounds(list, &short_bar, &up, &down, &thumb));
    delete_row_private_list(90, 0, list);
    EXPECT_FALSE(calculate_scroll_element_bounds(list, &scrollbar, &up, &down, &thumb));
    EXPECT_EQ(up.bottom, scrollbar.top + 14) << "the arrows are written even without a thumb";
    rectangle2d tiny = {0, 0, 3, 150}; // a negative view
    set_private_list_bounds(list, &tiny);
    for (int16_t r = 0; r < 10; ++r) set_list_row_visible(list, r, false);
    EXPECT_FALSE(calculate_scroll_element_bounds(list, &scrollbar, nullptr, nullptr, &thumb));
    press(140, 1);
    EXPECT_EQ(position(), 0);
}

TEST_F(private_lists, held_arrows_repeat_and_a_press_that_began_on_the_bar_never_reaches_the_rows)
{
    for (int32_t i = 0; i < 50; ++i) add('a');
    set_select_private_list(true, 3, list);
    const int16_t x = (int16_t)(scrollbar.left + 8);
    press(x, (int16_t)(scrollbar.bottom - 3)); // the down arrow
    EXPECT_EQ(position(), 4);
    press(x, (int16_t)(scrollbar.bottom - 3));
    press(x, (int16_t)(scrollbar.bottom - 3));
    EXPECT_EQ(position(), 12) << "every call of a held press steps again";
    // Dragged over the rows while held: no row is pressed, the selection stays.
    EXPECT_FALSE(press(20, row_y(5)));
    EXPECT_FALSE(press(20, row_y(6), true));
    EXPECT_EQ(position(), 12);
    int16_t selected = 0;
    ASSERT_TRUE(get_select_private_list(true, &selected, list));
    EXPECT_EQ(selected, 3);
    // Moving onto the up arrow while the down arrow's press is held does nothing either.
    press(x, (int16_t)(scrollbar.top + 3));
    EXPECT_EQ(position(), 12);
    mouse_up_in_list(list);

    press(x, (int16_t)(scrollbar.top + 3));
    EXPECT_EQ(position(), 8);
    mouse_up_in_list(list);
    press(x, (int16_t)(scrollbar.bottom - 20)); // below the thumb: a page of 196 / 4
    EXPECT_EQ(position(), 8 + 49);
    mouse_up_in_list(list);

    // With everything in view the bar takes no presses and arrows do nothing.
    delete_row_private_list(40, 0, list);
    EXPECT_EQ(position(), 0);
    move_private_list(list, _in_down_arrow);
    move_private_list(list, _in_page_down);
    EXPECT_EQ(position(), 0);
    press(x, (int16_t)(scrollbar.bottom - 3));
    EXPECT_NE(list->item_last_clicked, _in_down_arrow);
    mouse_up_in_list(list);
}

TEST_F(private_lists, double_clicks_need_the_same_row_and_the_deselect_flags_apply)
{
    for (int32_t i = 0; i < 5; ++i) add('a');
    EXPECT_FALSE(tap(20, row_y(1)));
    EXPECT_FALSE(tap(20, row_y(2), true)) << "a double click on another row";
    EXPECT_TRUE(tap(20, row_y(2), true));
    EXPECT_EQ(list->ticks_at_last_click, 0u);
    int16_t row = 0;
    ASSERT_TRUE(get_select_private_list(true, &row, list));
    EXPECT_EQ(row, 2);

    set_private_list_flag(list, _list_click_in_selected_row_deselects_not_double_flag, true);
    EXPECT_FALSE(tap(20, row_y(2)));
    EXPECT_FALSE(get_select_private_list(true, &(row = 0), list)) << "a single press deselects";
    EXPECT_FALSE(tap(20, row_y(2)));
    EXPECT_TRUE(tap(20, row_y(2), true)) << "a double click reselects and completes";
    EXPECT_TRUE(get_select_private_list(false, &(row = 2), list));

    set_private_list_flag(list, _list_click_in_selected_row_deselects_flag, true);
    EXPECT_FALSE(tap(20, row_y(2), true));
    EXPECT_FALSE(get_select_private_list(false, &(row = 2), list));

    // Option selects and locks; a press off the rows clears the lock and the selection.
    EXPECT_FALSE(click_private_list(list, point2d{20, row_y(4)}, _list_modifier_option_flag, false));
    mouse_up_in_list(list);
    EXPECT_TRUE(get_private_list_flag(list, _list_selection_locked_flag));
    tap(20, row_y(20));
    EXPECT_FALSE(get_private_list_flag(list, _list_selection_locked_flag));
    EXPECT_FALSE(get_select_private_list(true, &(row = 0), list));

    // A disabled row cannot be selected unless the list allows it.
    set_list_row_enabled(list, 1, false);
    tap(20, row_y(1));
    EXPECT_FALSE(get_select_private_list(true, &(row = 0), list));
    set_private_list_flag(list, _list_disabled_row_allow_click_flag, true);
    tap(20, row_y(1));
    EXPECT_TRUE(get_select_private_list(false, &(row = 1), list));
}

TEST_F(private_lists, lists_taller_than_32767_pixels_scroll_and_hit_test)
{
    for (int32_t i = 0; i < 5000; ++i)
    {
        const uint16_t value = (uint16_t)i;
        ASSERT_EQ(add_data_to_private_list(&value, 2, list, 10, true), i);
    }
    ASSERT_EQ(get_private_list_content_height(list), 50000);
    make_row_visible_private_list(4000, list, false);
    EXPECT_EQ(position(), 40010 - view);
    const int16_t hit = get_row_at_point_private_list(list, point2d{20, (int16_t)(list_bounds.top + 2 + view - 5)},
                                                      nullptr);
    EXPECT_EQ(hit, 4000);
    move_private_list_by_delta(list, 1000000);
    EXPECT_EQ(position(), 50000 - view);
    EXPECT_TRUE(tap(20, (int16_t)(list_bounds.top + 2 + view - 5)) == false);
    int16_t row = 0;
    ASSERT_TRUE(get_select_private_list(true, &row, list));
    EXPECT_EQ(row, 4999);
}

TEST_F(private_lists, bad_rows_and_lengths_are_refused_without_touching_memory)
{
    add('a');
    add('b');
    {
        expected_assertions expect(6, "row>=0 && row<list->actual_row_count");
        delete_row_from_list(2, list);
        delete_row_from_list(-1, list);
        set_list_row_enabled(list, 5, false);
        set_list_row_visible(list, 2, false);
        EXPECT_FALSE(set_select_private_list(true, 7, list));
        set_data_in_private_list_row(list, -3, "x", 1);
    }
    EXPECT_EQ(list->actual_row_count, 2);
    {
        expected_assertions expect(1, "length==row_data->length");
        set_data_in_private_list_row(list, 0, "xyz", 3);
    }
    EXPECT_EQ(byte_at(0), 'a');
    set_data_in_private_list_row(list, 0, "q", 1);
    EXPECT_EQ(byte_at(0), 'q');

    uint8_t small[4] = {9, 9, 9, 9};
    const uint8_t wide[3] = {1, 2, 3};
    add_data_to_private_list(wide, 3, list, 10, true);
    int16_t size = 2;
    get_data_from_private_list_row(list, 2, small, &size);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(small[0], 0);
    EXPECT_EQ(small[1], 0);
    EXPECT_EQ(small[2], 9) << "only the given size is zeroed";
    size = 4;
    get_data_from_private_list_row(list, 9, small, &size);
    EXPECT_EQ(size, 0);

    {
        expected_assertions expect(2, "is bad!");
        EXPECT_EQ(get_row_count_private_list(nullptr), 0);
        private_list_data fake = {};
        EXPECT_EQ(add_data_to_private_list("a", 1, &fake, 10, true), NONE);
    }
    {
        expected_assertions expect(1, "bad row data");
        EXPECT_EQ(add_data_to_private_list(nullptr, 4, list, 10, true), NONE);
    }
}

// ---- rows against a plain array ----------------------------------------------------
// The rows as one array, added, deleted and sorted as the engine always did:
// the insertion point by the same binary search, the sort by the same heap
// sort.  The engine keeps its rows otherwise (and compares sort keys where it
// can), so every index, byte, height and flag must still come out the same,
// equal rows included.

struct model_row
{
    std::vector<uint8_t> bytes;
    int16_t height;
    uint16_t flags;
};

struct list_model
{
    std::vector<model_row> rows;
    sort_list_proc sort = nullptr;
    int32_t maximum = DEFAULT_LIST_MAXIMUM_ROW_COUNT;
    int16_t empty_height = 10; // slot 0's height while there are no rows

    void remove(int32_t row)
    {
        if (rows.size() == 1) empty_height = rows[0].height;
        rows.erase(rows.begin() + row);
    }
    int32_t add(const std::vector<uint8_t> &bytes, int16_t height, bool enabled)
    {
        while (!rows.empty() && (int32_t)rows.size() >= maximum) remove(0);
        int32_t low = 0, high = (int32_t)rows.size();
        while (sort && low < high)
        {
            const int32_t middle = low + (high - low) / 2;
            const model_row &r = rows[(size_t)middle];
            if (sort(bytes.data(), (int16_t)bytes.size(), r.bytes.data(), (int16_t)r.bytes.size()) < 0) high = middle;
            else low = middle + 1;
        }
        const int32_t index = sort ? low : (int32_t)rows.size();
        const uint16_t flags = (uint16_t)(enabled ? _row_enabled_flag | _row_visible_flag : _row_visible_flag);
        rows.insert(rows.begin() + index, model_row{bytes, height, flags});
        return index;
    }
};

// The heap sort's moves depend only on the answers, so sorting indexes
// orders the rows as sorting the rows would.
const list_model *model_being_sorted = nullptr;
int compare_model_rows(const void *a, const void *b)
{
    const model_row &x = model_being_sorted->rows[(size_t)*(const int32_t *)a];
    const model_row &y = model_being_sorted->rows[(size_t)*(const int32_t *)b];
    const int32_t result =
        model_being_sorted->sort(x.bytes.data(), (int16_t)x.bytes.size(), y.bytes.data(), (int16_t)y.bytes.size());
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

void sort_model(list_model *model)
{
    std::vector<int32_t> order(model->rows.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = (int32_t)i;
    model_being_sorted = model;
    qsort_private(order.data(), order.size(), sizeof(int32_t), compare_model_rows);
    std::vector<model_row> sorted;
    for (int32_t i : order) sorted.push_back(model->rows[(size_t)i]);
    model->rows = sorted;
}

// The first difference between the list and the model, as text ("" for none).
std::string list_differs_from_model(const private_list_data *list, const list_model &model)
{
    const int32_t count = get_row_count_private_list(list);
    if (count != (int32_t)model.rows.size())
        return "count " + std::to_string(count) + " against " + std::to_string(model.rows.size());
    for (int32_t i = 0; i < count; ++i)
    {
        const row_data *row = get_private_list_row(list, (int16_t)i);
        const model_row &expected = model.rows[(size_t)i];
        if (row->length != (int16_t)expected.bytes.size() ||
            memcmp(row->data, expected.bytes.data(), expected.bytes.size()) != 0)
            return "bytes of row " + std::to_string(i);
        if (row->height != expected.height) return "height of row " + std::to_string(i);
        if (row->flags != expected.flags) return "flags of row " + std::to_string(i);
    }
    const int16_t line_height = model.rows.empty() ? model.empty_height : model.rows[0].height;
    if (get_list_line_height(list) != line_height) return "line height";
    return "";
}

// A string-list row: texts that tie case-blind, differ around the key's 16
// bytes, hold bytes between 'Z' and 'a' or above 127; now and then a row of
// another length, which has no key, which the comparison finds equal to
// everything, and whose copy the list keeps apart from the usual length's.
std::vector<uint8_t> text_row(std::mt19937 &random)
{
    if (random() % 40 == 0) return std::vector<uint8_t>(12, (uint8_t)random());
    static const char *const starts[] = {
        "Map ", "map ", "MAP 0", "Map 000", "exactly sixteen!", "Exactly sixteen", "", "\xc3\xa9t\xc3\xa9", "Z",
    };
    string_list_data data;
    memset(&data, 0, sizeof(data));
    data.identifier = (int32_t)random();
    std::string text = starts[random() % (sizeof(starts) / sizeof(starts[0]))];
    const int32_t more = (int32_t)(random() % 4);
    for (int32_t i = 0; i < more; ++i) text += "aAbB[`\xe9 0"[random() % 9];
    snprintf(data.string, sizeof(data.string), "%s", text.c_str());
    const uint8_t *bytes = (const uint8_t *)&data;
    return std::vector<uint8_t>(bytes, bytes + sizeof(data));
}

// One byte (often equal) or none.
std::vector<uint8_t> byte_row(std::mt19937 &random)
{
    if (random() % 20 == 0) return {};
    return {(uint8_t)('a' + random() % 5), (uint8_t)random()};
}

// Orders rows by first byte as by_first_byte does, but only rows starting
// with an even byte have keys (the empty row, first, none either).
bool even_first_byte_key(const void *data, int16_t length, list_sort_key *key)
{
    if (length <= 0 || ((const uint8_t *)data)[0] % 2) return false;
    *key = list_sort_key{(uint64_t)((const uint8_t *)data)[0] + 1, 0};
    return true;
}

TEST_F(private_lists, rows_keep_the_indexes_and_order_of_a_plain_array_through_every_change)
{
    const struct
    {
        const char *name;
        sort_list_proc sort;
        sort_key_list_proc key;
        std::vector<uint8_t> (*row)(std::mt19937 &);
        int32_t maximum;
    } cases[] = {
        {"string rows with keys", string_list_sort_proc, string_list_sort_key_proc, text_row, 32767},
        {"string rows without keys", string_list_sort_proc, nullptr, text_row, 32767},
        {"first bytes, many equal, half without keys", by_first_byte, even_first_byte_key, byte_row, 32767},
        {"appended rows at a maximum", nullptr, nullptr, byte_row, 300},
        {"string rows at a maximum", string_list_sort_proc, string_list_sort_key_proc, text_row, 400},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        dispose_private_list(list);
        list = new_private_list(&list_bounds, 0);
        ASSERT_NE(list, nullptr);
        set_list_line_height(list, 10);
        set_list_maximum_row_count(list, (int16_t)c.maximum);
        list_model model;
        model.maximum = c.maximum;
        auto use_order = [&](bool sorted) {
            set_list_sort_proc(list, sorted ? c.sort : nullptr);
            set_list_sort_key_proc(list, sorted ? c.key : nullptr);
            model.sort = sorted ? c.sort : nullptr;
        };
        use_order(true);
        std::mt19937 random(1207);
        int32_t peak = 0;
        for (int32_t step = 0; step < 2500; ++step)
        {
            const int32_t count = (int32_t)model.rows.size();
            const int32_t row = count > 0 ? (int32_t)(random() % (uint32_t)count) : 0;
            const uint32_t choice = random() % 100;
            if (choice < 75 || count == 0)
            {
                const std::vector<uint8_t> bytes = c.row(random);
                const int16_t height = (int16_t)(random() % 20);
                const bool enabled = random() % 5 != 0;
                const int32_t expected = model.add(bytes, height, enabled);
                const int16_t length = (int16_t)bytes.size();
                ASSERT_EQ(add_data_to_private_list(bytes.data(), length, list, height, enabled), expected)
                    << "step " << step;
            }
            else if (choice < 78)
            {
                // Runs of deletions empty blocks and leave small neighbours.
                const int32_t run = std::min(1 + (int32_t)(random() % 20), count - row);
                delete_row_private_list((int16_t)run, (int16_t)row, list);
                for (int32_t i = 0; i < run; ++i) model.remove(row);
            }
            else if (choice < 90)
            {
                std::vector<uint8_t> bytes = c.row(random);
                if (bytes.size() != model.rows[(size_t)row].bytes.size()) continue;
                set_data_in_private_list_row(list, (int16_t)row, bytes.data(), (int16_t)bytes.size());
                model.rows[(size_t)row].bytes = bytes;
            }
            else if (choice < 93)
            {
                const bool visible = random() % 2 != 0;
                set_list_row_visible(list, (int16_t)row, visible);
                uint16_t &flags = model.rows[(size_t)row].flags;
                flags = (uint16_t)(visible ? flags | _row_visible_flag : flags & ~_row_visible_flag);
            }
            else if (choice < 94)
            {
                if (model.sort)
                {
                    sort_list(list);
                    sort_model(&model);
                }
            }
            else if (choice < 97)
            {
                // The order changes without a sort: later rows go where a
                // binary search over rows out of order sends them.
                use_order(model.sort == nullptr);
            }
            else
            {
                const int16_t height = (int16_t)(random() % 15);
                set_list_line_height(list, height);
                for (model_row &r : model.rows) r.height = height;
                model.empty_height = height;
            }
            peak = std::max(peak, (int32_t)model.rows.size());
            if (step % 25 == 0 || choice >= 90)
            {
                ASSERT_EQ(list_differs_from_model(list, model), "") << "step " << step;
            }
        }
        ASSERT_EQ(list_differs_from_model(list, model), "");
        EXPECT_GT(peak, std::min(c.maximum - 1, 800)) << "too few rows to fill many blocks";
        // Emptied in no order, which merges blocks as they thin out.
        for (int32_t left = (int32_t)model.rows.size(); left > 0; --left)
        {
            const int32_t row = (int32_t)(random() % (uint32_t)left);
            delete_row_from_list((int16_t)row, list);
            model.remove(row);
            if (left % 50 == 0)
            {
                ASSERT_EQ(list_differs_from_model(list, model), "") << left << " rows left";
            }
        }
        EXPECT_EQ(list_differs_from_model(list, model), "") << "emptied";
    }
}

} // namespace

} // namespace private_lists_test_file
