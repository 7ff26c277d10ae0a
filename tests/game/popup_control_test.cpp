// The popup menu driven through the dialog layer's own input path, drawn with
// the data tool's fixed test font (the demo interface): filling from string
// lists and masks, expansion at the dialog's edges, scrolling while the
// pointer rests on the last row, firing on release inside and outside, the
// drop shadow, clearing, and bad rows refused.  An open popup is written as
// PNG (VESK_POPUP_FRAME names a file to keep it in).

#include "support/dialog_input_harness.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bitmap_dialogs/popup_control.h"
#include "bitmap_text.h"
#include "image_files.h"
#include "interface_definitions.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "vesk/string_lists.h"

namespace popup_control_test_file {

namespace {

enum
{
    TOP_POPUP = 1, // at the dialog's top edge
    MIDDLE_POPUP = 2,
    LOW_POPUP = 3, // reaching below the dialog
};

// Dialog coordinates (top, left, bottom, right); the test dialog is 200 high.
const rectangle2d top_bounds = {0, 20, 20, 160};
const rectangle2d middle_bounds = {60, 200, 80, 290};
const rectangle2d low_bounds = {230, 20, 250, 160};

class popup_control : public demo_interface_test
{
protected:
    dialog_data *dialog = nullptr;
    int32_t line_height = 0;

    void SetUp() override
    {
        demo_interface_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        store_strings("pop4", 40);
        store_strings("pop3", 3);
        dialog = open_test_dialog("popd", {dialog_test_item("popu", TOP_POPUP, top_bounds, "kept text"),
                                           dialog_test_item("popu", MIDDLE_POPUP, middle_bounds),
                                           dialog_test_item("popu", LOW_POPUP, low_bounds)});
        ASSERT_NE(dialog, nullptr);
        line_height = get_font_line_height(get_interface_font_index(0));
        ASSERT_GT(line_height, 2);
    }
    // A string list 'stli' of `count` strings "Row 0", "Row 1" ...
    void store_strings(const char *subgroup, int32_t count)
    {
        std::vector<std::string> texts;
        for (int32_t i = 0; i < count; ++i) texts.push_back("Row " + std::to_string(i));
        std::vector<const char *> pointers;
        for (const std::string &t : texts) pointers.push_back(t.c_str());
        std::vector<uint8_t> bytes((size_t)encode_string_list_data(pointers.data(), count, nullptr, 0));
        encode_string_list_data(pointers.data(), count, bytes.data(), (int32_t)bytes.size());
        write_local_tag(STRING_LIST_GROUP_TAG, subgroup, STRING_LIST_VERSION, bytes.data(), (int32_t)bytes.size());
    }

    popup_control_data *record(int16_t item_id)
    {
        return (popup_control_data *)get_dialog_item_extra_data(dialog, item_id);
    }
    rectangle2d bounds(int16_t item_id)
    {
        rectangle2d r;
        get_dialog_item_bounds(dialog, item_id, &r);
        return r;
    }
    bool feed(action_data action) { return dialogs_handled_action(&action); }
    void press(int16_t x, int16_t y) { feed(make_click_action(screen_x(x), screen_y(y))); }
    void hold(int16_t x, int16_t y) { feed(make_hold_action(screen_x(x), screen_y(y))); }
    // The release and the action after it, on which the press fires.
    void release(int16_t x, int16_t y)
    {
        feed(make_release_action(screen_x(x), screen_y(y)));
        feed(make_release_action(screen_x(x), screen_y(y)));
    }
    // The y of the middle of row `row` of an expanded popup.
    int16_t row_y(int16_t item_id, int32_t row)
    {
        return (int16_t)(bounds(item_id).top + (row - record(item_id)->top_visible_item) * line_height +
                         line_height / 2);
    }
    uint32_t dialog_pixel(int32_t x, int32_t y) const { return screen.pixel(screen_x((int16_t)x), screen_y((int16_t)y)); }
};

bool is_black(uint32_t pixel) { return (pixel & 0xFFFFFFu) == 0; }
bool is_white(uint32_t pixel) { return (pixel & 0xFFFFFFu) == 0xFFFFFFu; }

TEST_F(popup_control, forty_strings_fill_the_popup_with_rows_from_32_disabled)
{
    append_strings_to_popup(dialog, MIDDLE_POPUP, dialog_test_code("pop4"));
    ASSERT_EQ(get_popup_number_of_items(dialog, MIDDLE_POPUP), 40);
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), 0);
    const popup_control_data *popup = record(MIDDLE_POPUP);
    EXPECT_EQ(popup->allocated_count, 40) << "grown in blocks of five";
    for (int32_t row = 0; row < 40; ++row)
        EXPECT_EQ((popup->rows[row].flags & _popup_row_disabled_flag) != 0, row >= 32) << row;

    char text[16];
    int32_t length = (int32_t)sizeof(text);
    ASSERT_TRUE(get_popup_row_data(dialog, MIDDLE_POPUP, 37, text, &length));
    EXPECT_STREQ(text, "Row 37");
    EXPECT_EQ(length, 7) << "the terminator is part of the row";

    // A mask picks rows; a list that does not exist adds nothing.
    append_strings_to_popup_with_mask(dialog, TOP_POPUP, dialog_test_code("pop3"), 5);
    ASSERT_EQ(get_popup_number_of_items(dialog, TOP_POPUP), 3);
    EXPECT_EQ(record(TOP_POPUP)->rows[1].flags & _popup_row_disabled_flag, _popup_row_disabled_flag);
    EXPECT_EQ(record(TOP_POPUP)->rows[2].flags & _popup_row_disabled_flag, 0);
    append_strings_to_popup(dialog, TOP_POPUP, dialog_test_code("none"));
    EXPECT_EQ(get_popup_number_of_items(dialog, TOP_POPUP), 3);

    // The item's text stays with the record; the collapsed popup is one line
    // and its shadow high.
    EXPECT_STREQ(record(TOP_POPUP)->text, "kept text");
    EXPECT_EQ(bounds(TOP_POPUP).bottom - bounds(TOP_POPUP).top, line_height + 2);

    // A disabled row is drawn grey, the collapsed selection in black.
    render_dialogs(screen.bitmap);
    const rectangle2d b = bounds(MIDDLE_POPUP);
    auto row_has = [&](uint32_t rgb) {
        for (int32_t y = b.top; y < b.top + line_height; ++y)
            for (int32_t x = b.left; x < b.right - 2; ++x)
                if ((dialog_pixel(x, y) & 0xFFFFFFu) == rgb) return true;
        return false;
    };
    EXPECT_TRUE(row_has(0x000000u));
    EXPECT_FALSE(row_has(0x7F7F7Fu));
    set_popup_value(dialog, MIDDLE_POPUP, 35);
    render_dialogs(screen.bitmap);
    EXPECT_TRUE(row_has(0x7F7F7Fu)) << "row 35 is disabled";
}

TEST_F(popup_control, expansion_keeps_the_selected_row_in_place_and_stops_at_the_dialog_edges)
{
    append_strings_to_popup(dialog, TOP_POPUP, dialog_test_code("pop4"));
    render_dialogs(screen.bitmap);
    // At the top edge no row fits above: the popup grows only downwards, row 0
    // where it was, and no up arrow is drawn.
    press(60, 4);
    const popup_control_data *popup = record(TOP_POPUP);
    ASSERT_TRUE(popup->expanded);
    EXPECT_EQ(popup->top_visible_item, 0);
    EXPECT_EQ(get_popup_value(dialog, TOP_POPUP), 0) << "the press was on the selected row";
    const rectangle2d open = bounds(TOP_POPUP);
    EXPECT_EQ(open.top, 0);
    const int32_t below = (200 - (top_bounds.top + line_height + 2)) / line_height;
    EXPECT_EQ(popup->bottom_visible_item, below);
    EXPECT_EQ(open.bottom, top_bounds.top + line_height + 2 + below * line_height);
    hold(60, row_y(TOP_POPUP, 2)); // row 0 no longer highlighted
    ASSERT_EQ(popup->top_visible_item, 0);
    render_dialogs(screen.bitmap);
    int32_t arrow_pixels = 0;
    for (int32_t y = 0; y < line_height; ++y)
        for (int32_t x = open.right - 20; x < open.right - 2; ++x) arrow_pixels += is_black(dialog_pixel(x, y));
    EXPECT_EQ(arrow_pixels, 0) << "no up arrow";
    release(60, 4);
    EXPECT_FALSE(record(TOP_POPUP)->expanded);
    EXPECT_EQ(get_popup_value(dialog, TOP_POPUP), 2) << "the row highlighted last is chosen";
    EXPECT_EQ(bounds(TOP_POPUP).bottom, top_bounds.top + line_height + 2);

    // In the middle of the dialog the rows above the selection fit; the
    // popup starting on row 0 of a short list shows every row.
    append_strings_to_popup(dialog, MIDDLE_POPUP, dialog_test_code("pop4"));
    set_popup_value(dialog, MIDDLE_POPUP, 20);
    press(210, 65);
    popup = record(MIDDLE_POPUP);
    const int32_t above = middle_bounds.top / line_height;
    EXPECT_EQ(popup->top_visible_item, 20 - above);
    EXPECT_EQ(bounds(MIDDLE_POPUP).top, middle_bounds.top - above * line_height);
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), 20);
    release(210, 65);
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), 20);
    EXPECT_EQ(handled_items(), (std::vector<int16_t>{TOP_POPUP, MIDDLE_POPUP}));
}

TEST_F(popup_control, resting_on_the_last_row_scrolls_one_row_per_action_until_the_end)
{
    append_strings_to_popup(dialog, MIDDLE_POPUP, dialog_test_code("pop4"));
    set_popup_value(dialog, MIDDLE_POPUP, 10);
    press(210, 65);
    const popup_control_data *popup = record(MIDDLE_POPUP);
    const int32_t shown = popup->bottom_visible_item - popup->top_visible_item;
    const int16_t last_row_y = (int16_t)(bounds(MIDDLE_POPUP).bottom - 2 - line_height / 2);
    int32_t actions = 0;
    while (popup->bottom_visible_item < 39 && actions < 100)
    {
        const int32_t before = popup->bottom_visible_item;
        hold(210, last_row_y);
        ++actions;
        ASSERT_EQ(popup->bottom_visible_item, before + 1) << "one row per action";
        EXPECT_EQ(popup->bottom_visible_item - popup->top_visible_item, shown);
    }
    EXPECT_EQ(popup->bottom_visible_item, 39);
    hold(210, last_row_y);
    hold(210, last_row_y);
    EXPECT_EQ(popup->bottom_visible_item, 39) << "it stops at the last row";
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), 39);
    release(210, last_row_y);
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), 39);
    EXPECT_EQ(record(MIDDLE_POPUP)->top_visible_item, 39);
}

TEST_F(popup_control, a_release_outside_restores_the_old_value_and_still_fires)
{
    append_strings_to_popup(dialog, MIDDLE_POPUP, dialog_test_code("pop4"));
    set_popup_value(dialog, MIDDLE_POPUP, 20);
    press(210, 65);
    hold(210, row_y(MIDDLE_POPUP, 22));
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), 22);
    hold(20, 190);
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), NONE) << "nothing highlighted outside";
    release(20, 190);
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), 20);
    EXPECT_FALSE(record(MIDDLE_POPUP)->expanded);
    EXPECT_EQ(bounds(MIDDLE_POPUP).top, middle_bounds.top);
    EXPECT_EQ(handled_items(), (std::vector<int16_t>{MIDDLE_POPUP}));

    // Back inside after resting outside, a release there keeps the old value
    // rather than leaving nothing selected.
    press(210, 65);
    hold(20, 190);
    release(210, 65);
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), 20);
}

TEST_F(popup_control, a_press_in_the_drop_shadow_chooses_the_last_row_shown)
{
    append_strings_to_popup(dialog, MIDDLE_POPUP, dialog_test_code("pop3"));
    press(210, 65);
    const popup_control_data *popup = record(MIDDLE_POPUP);
    ASSERT_EQ(popup->top_visible_item, 0);
    ASSERT_EQ(popup->bottom_visible_item, 2);
    const rectangle2d open = bounds(MIDDLE_POPUP);
    hold(210, (int16_t)(open.bottom - 1));
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), 2);
    release(210, (int16_t)(open.bottom - 1));
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), 2);
    render_dialogs(screen.bitmap);
}

// Below the dialog no row fits under the selection, and without a selection
// the rows are laid out from row 0: the rows shown never go negative.
TEST_F(popup_control, the_rows_shown_never_go_negative)
{
    append_strings_to_popup(dialog, LOW_POPUP, dialog_test_code("pop3"));
    set_popup_value(dialog, LOW_POPUP, 1);
    toggle_popup(dialog, LOW_POPUP, true, true);
    const popup_control_data *popup = record(LOW_POPUP);
    EXPECT_EQ(popup->top_visible_item, 0);
    EXPECT_EQ(popup->bottom_visible_item, 1);
    EXPECT_EQ(bounds(LOW_POPUP).bottom, low_bounds.top + line_height + 2);
    toggle_popup(dialog, LOW_POPUP, false, true);
    EXPECT_EQ(get_popup_value(dialog, LOW_POPUP), 1);

    EXPECT_EQ(append_string_to_popup(dialog, MIDDLE_POPUP, "Only"), 0);
    ASSERT_EQ(get_popup_value(dialog, MIDDLE_POPUP), NONE);
    toggle_popup(dialog, MIDDLE_POPUP, true, true);
    EXPECT_EQ(record(MIDDLE_POPUP)->top_visible_item, 0);
    EXPECT_EQ(record(MIDDLE_POPUP)->bottom_visible_item, 0);
    render_dialogs(screen.bitmap);
    toggle_popup(dialog, MIDDLE_POPUP, false, false);
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), NONE);
}

TEST_F(popup_control, cleared_rows_are_never_read_and_bad_rows_are_refused)
{
    append_strings_to_popup(dialog, MIDDLE_POPUP, dialog_test_code("pop4"));
    set_popup_value(dialog, MIDDLE_POPUP, 30);
    render_dialogs(screen.bitmap);
    clear_bitmap_popup_items(dialog, MIDDLE_POPUP);
    EXPECT_EQ(get_popup_number_of_items(dialog, MIDDLE_POPUP), 0);
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), NONE);
    render_dialogs(screen.bitmap); // ASan: no freed row is read
    press(210, 65);
    EXPECT_FALSE(record(MIDDLE_POPUP)->expanded) << "an empty popup ignores presses";
    release(210, 65);

    // A fresh popup draws nothing of rows it does not have.
    render_dialogs(screen.bitmap);
    EXPECT_EQ(append_string_to_popup(dialog, MIDDLE_POPUP, "One"), 0);
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), NONE) << "appending does not select";
    EXPECT_EQ(append_data_to_popup(dialog, MIDDLE_POPUP, "Two", 4), 1);
    set_popup_value(dialog, MIDDLE_POPUP, NONE);
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), NONE) << "-1 on a non-empty popup changes nothing";
    set_popup_value(dialog, MIDDLE_POPUP, 1);
    set_popup_value(dialog, MIDDLE_POPUP, 2);
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), 1);

    {
        expected_assertions expect(2, "Row: ");
        set_popup_enabled_state(dialog, MIDDLE_POPUP, 2, false);
        set_popup_enabled_state(dialog, MIDDLE_POPUP, -1, false);
    }
    set_popup_enabled_state(dialog, MIDDLE_POPUP, 1, false);
    EXPECT_EQ(record(MIDDLE_POPUP)->rows[1].flags, _popup_row_disabled_flag);
    {
        expected_assertions expect(1);
        EXPECT_EQ(append_data_to_popup(dialog, MIDDLE_POPUP, "x", 70000), NONE);
    }
    {
        // A short buffer gets only what fits; the row's length comes back.
        char small[2] = {'#', '#'};
        int32_t length = 2;
        expected_assertions expect(1, "*length>=row_data->length");
        EXPECT_TRUE(get_popup_row_data(dialog, MIDDLE_POPUP, 0, small, &length));
        EXPECT_EQ(length, 4);
        EXPECT_EQ(small[0], 'O');
        EXPECT_EQ(small[1], 'n');
    }
    {
        // A row that is not a terminated string is drawn from its own bytes only.
        expected_assertions expect(1, "not the right length");
        EXPECT_EQ(append_data_to_popup(dialog, MIDDLE_POPUP, "abcdef", 3), 2);
        set_popup_value(dialog, MIDDLE_POPUP, 2);
        render_dialogs(screen.bitmap);
    }
    {
        // A popup call on an item of another type is refused.
        expected_assertions expect(1, "popup_data->cookie==POPUP_COOKIE");
        dialog_item_description other = probe_item(9, {150, 20, 170, 60});
        new_unpressed_control(dialog, PROBE_CONTROL_TAG, 9, &other.bounds, "");
        EXPECT_EQ(append_string_to_popup(dialog, 9, "no"), NONE);
    }
}

TEST_F(popup_control, an_open_popup_is_drawn_framed_with_its_shadow_arrows_and_highlight)
{
    append_strings_to_popup(dialog, MIDDLE_POPUP, dialog_test_code("pop4"));
    set_popup_value(dialog, MIDDLE_POPUP, 20);
    press(210, 65);
    hold(210, row_y(MIDDLE_POPUP, 21));
    render_dialogs(screen.bitmap);
    ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", "popup", "png", 0));
    if (const char *keep = getenv("VESK_POPUP_FRAME"))
        std::filesystem::copy_file("pictures/popup.png", keep, std::filesystem::copy_options::overwrite_existing);

    const rectangle2d b = bounds(MIDDLE_POPUP);
    const popup_control_data *popup = record(MIDDLE_POPUP);
    // Frame, white box and the two-pixel shadows.
    EXPECT_TRUE(is_black(dialog_pixel(b.left - 1, b.top + 5)));
    EXPECT_TRUE(is_white(dialog_pixel(b.left + 1, b.top + line_height + 1)));
    EXPECT_TRUE(is_black(dialog_pixel(b.right - 1, b.top + 5)));
    EXPECT_TRUE(is_black(dialog_pixel(b.left + 5, b.bottom - 1)));
    EXPECT_FALSE(is_black(dialog_pixel(b.right - 1, b.top))) << "the shadow starts two pixels down";
    // Both arrows: the widest line of the up arrow at row top + (h - 6) / 2 + 6
    // spans right - 18 .. right - 7 of the row area.
    const int32_t area_right = b.right - 2;
    const int32_t up_y = b.top + (line_height - 6) / 2 + 6;
    EXPECT_TRUE(is_black(dialog_pixel(area_right - 18, up_y)));
    EXPECT_TRUE(is_black(dialog_pixel(area_right - 7, up_y)));
    EXPECT_FALSE(is_black(dialog_pixel(area_right - 6, up_y)));
    const int32_t last_top = b.top + (popup->bottom_visible_item - popup->top_visible_item) * line_height;
    EXPECT_TRUE(is_black(dialog_pixel(area_right - 18, last_top + (line_height - 6) / 2)));
    // The highlighted row is filled black behind its white text.
    const int32_t highlighted_top = b.top + (21 - popup->top_visible_item) * line_height;
    EXPECT_TRUE(is_black(dialog_pixel(b.left + 60, highlighted_top + 1)));
    int32_t white_text = 0;
    for (int32_t x = b.left; x < b.left + 40; ++x) white_text += is_white(dialog_pixel(x, highlighted_top + 4));
    EXPECT_GT(white_text, 0);
    release(210, row_y(MIDDLE_POPUP, 21));
    EXPECT_EQ(get_popup_value(dialog, MIDDLE_POPUP), 21);
}

} // namespace

} // namespace popup_control_test_file
