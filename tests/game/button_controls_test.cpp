// Buttons, checkboxes, radio buttons and the tabbed button, made from dialog
// tags and drawn with the demo data's dialog art 'baie' and interface fonts:
// the default shape by width and the bounds it gives, the visible-click
// flag, state stepping (shift, locking, no states), clamping, captions,
// refusals, what a disabled checkbox shows, and the tabs' click ranges,
// selection and refusals.  VESK_BUTTON_FRAME names a file to keep the PNG
// of the controls in.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/radio_control.h"
#include "bitmap_dialogs/tabbed_button_control.h"
#include "bitmap_text.h"
#include "gameplay_versions.h"
#include "image_files.h"
#include "interface_definitions.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "support/dialog_input_harness.h"
#include "support/expected_assertions.h"
#include "tag_files/plugins.h"

namespace button_controls_test_file {

namespace
{

enum
{
    SHORT_ITEM = 1,
    MEDIUM_ITEM,
    LONG_ITEM,
    CHECKBOX_ITEM,
    RADIO_ITEM,
    SECOND_RADIO_ITEM,
    THREE_STATE_ITEM,
    TABS_ITEM,
    DISABLED_ITEM,
};

dialog_item_description item(const char *type, int16_t id, rectangle2d bounds, const std::string &text)
{
    dialog_item_description d;
    d.type = dialog_test_code(type);
    d.item_id = id;
    d.bounds = bounds;
    d.text = text;
    return d;
}

// Buttons 65, 66 and 95 pixels wide but only 10 high, so the 22-pixel art
// has to grow them; a checkbox, two radio buttons, a button made three-state
// by code, a row of tabs and a disabled button.
std::vector<dialog_item_description> control_items(void)
{
    return {
        item("butt", SHORT_ITEM, {20, 10, 30, 75}, "Short"),
        item("butt", MEDIUM_ITEM, {50, 20, 60, 86}, "Medium"),
        item("butt", LONG_ITEM, {80, 20, 90, 115}, "Long button"),
        item("chek", CHECKBOX_ITEM, {110, 20, 126, 150}, "Check"),
        item("radi", RADIO_ITEM, {130, 20, 146, 150}, "Radio one"),
        item("radi", SECOND_RADIO_ITEM, {150, 20, 166, 150}, "Radio two"),
        item("butt", THREE_STATE_ITEM, {20, 160, 42, 200}, ""),
        item("tabc", TABS_ITEM, {170, 20, 192, 260}, ""),
        item("butt", DISABLED_ITEM, {50, 160, 72, 290}, "Disabled"),
    };
}

class button_controls : public demo_interface_test
{
protected:
    int32_t elements = NONE;
    dialog_data *dialog = nullptr;

    void SetUp() override
    {
        current_gameplay_version = 1811;
        demo_interface_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        elements = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
        ASSERT_NE(elements, NONE);
        for (const char *code : {"butt", "chek", "radi", "tabc"})
            ASSERT_EQ(find_control_handler(dialog_test_code(code)) != nullptr, true) << code;
    }

    void open_controls(const char *subgroup = "ctls")
    {
        dialog = open_test_dialog(subgroup, control_items());
        ASSERT_NE(dialog, nullptr);
        handler_calls.clear();
    }
    button_control_data *button(int16_t id)
    {
        return (button_control_data *)get_dialog_item_extra_data(dialog, id);
    }
    tabbed_button_control_data *tabs(void)
    {
        return (tabbed_button_control_data *)get_dialog_item_extra_data(dialog, TABS_ITEM);
    }
    rectangle2d bounds_of(int16_t id)
    {
        rectangle2d r;
        get_dialog_item_bounds(dialog, id, &r);
        return r;
    }
    // A click and release at dialog point (x, y), then the quiet actions a
    // pending press needs to fire; the handler calls it made.
    size_t click(int16_t x, int16_t y, bool shift = false)
    {
        const size_t before = handler_calls.size();
        action_data down = make_click_action(screen_x(x), screen_y(y));
        action_data up = make_release_action(screen_x(x), screen_y(y));
        if (shift)
        {
            down = with_action_flag(down, _shift_down_bit);
            up = with_action_flag(up, _shift_down_bit);
        }
        dialogs_handled_action(&down);
        dialogs_handled_action(&up);
        for (int32_t i = 0; i < DIALOG_VISIBLE_CLICK_TICKS + 1; ++i)
        {
            action_data quiet = make_test_action(1);
            dialogs_handled_action(&quiet);
        }
        return handler_calls.size() - before;
    }
    size_t click_item(int16_t id, bool shift = false)
    {
        const rectangle2d r = bounds_of(id);
        return click((int16_t)((r.left + r.right) / 2), (int16_t)((r.top + r.bottom) / 2), shift);
    }
};

void expect_rectangle(const rectangle2d &got, const rectangle2d &want, const char *what)
{
    EXPECT_EQ(got.top, want.top) << what;
    EXPECT_EQ(got.left, want.left) << what;
    EXPECT_EQ(got.bottom, want.bottom) << what;
    EXPECT_EQ(got.right, want.right) << what;
}

// ---- shape -------------------------------------------------------------------------------

TEST_F(button_controls, the_width_picks_the_art_and_the_bounds_grow_to_the_pictures_around_their_centres)
{
    open_controls();
    // The short, medium and long art are 64, 94 and 128 pixels wide and 22
    // high, each registered at its centre.
    const struct
    {
        int16_t id;
        int16_t sequence;
        rectangle2d bounds;
    } buttons[] = {
        {SHORT_ITEM, _dialog_elements_short_button_sequence, {14, 10, 36, 75}},
        {MEDIUM_ITEM, _dialog_elements_medium_button_sequence, {44, 6, 66, 100}},
        {LONG_ITEM, _dialog_elements_long_button_sequence, {74, 3, 96, 131}},
    };
    for (const auto &b : buttons)
    {
        SCOPED_TRACE(b.id);
        ASSERT_NE(button(b.id), nullptr);
        EXPECT_EQ(button(b.id)->sequence_index, b.sequence);
        EXPECT_EQ(button(b.id)->collection_index, elements);
        EXPECT_EQ(button(b.id)->number_of_states, 1);
        expect_rectangle(bounds_of(b.id), b.bounds, "item bounds");
        expect_rectangle(button(b.id)->original_bounds, control_items()[b.id - 1].bounds, "original bounds");
        EXPECT_TRUE(find_control(dialog, b.id)->flags & _control_requires_visible_click_time_flag)
            << "a one-view button shows its pressed look";
    }

    // The checkbox and the radio button: two views (no visible click), their
    // own art, side by side (the caption right of the 16-pixel picture), the
    // radio button locking, captions in their own dialog colours.
    rgb_color checkbox_color, radio_color;
    get_dialog_color(&checkbox_color, _dialog_checkbox_text_color);
    get_dialog_color(&radio_color, _dialog_radio_text_color);
    const struct
    {
        int16_t id;
        int16_t sequence;
        uint32_t flags;
        rgb_color color;
    } toggles[] = {
        {CHECKBOX_ITEM, _dialog_elements_checkbox_sequence, _button_control_draw_side_by_side_flag, checkbox_color},
        {RADIO_ITEM, _dialog_elements_radio_button_sequence,
         _button_control_draw_side_by_side_flag | _button_control_locks_flag, radio_color},
    };
    for (const auto &t : toggles)
    {
        SCOPED_TRACE(t.id);
        EXPECT_EQ(button(t.id)->sequence_index, t.sequence);
        EXPECT_EQ(button(t.id)->number_of_states, 2);
        EXPECT_EQ(button(t.id)->flags, t.flags);
        EXPECT_EQ(button(t.id)->text_color.red, t.color.red);
        EXPECT_EQ(button(t.id)->text_color.blue, t.color.blue);
        EXPECT_EQ(button(t.id)->text_bounds.left, 20 + 16 + SIDE_BY_SIDE_TEXT_GAP);
        EXPECT_FALSE(find_control(dialog, t.id)->flags & _control_requires_visible_click_time_flag);
    }

    // A shape without a sequence: no states, nothing to draw; the flag goes.
    set_button_control_shape(dialog, THREE_STATE_ITEM, (int16_t)elements, _dialog_elements_checkbox_sequence);
    EXPECT_FALSE(find_control(dialog, THREE_STATE_ITEM)->flags & _control_requires_visible_click_time_flag);
    set_button_control_shape(dialog, THREE_STATE_ITEM, NONE, NONE);
    EXPECT_EQ(button(THREE_STATE_ITEM)->number_of_states, 0);
    EXPECT_EQ(button(THREE_STATE_ITEM)->collection_index, NONE);
}

// ---- states ------------------------------------------------------------------------------

TEST_F(button_controls, clicks_step_the_state_forward_back_with_shift_and_a_locked_radio_button_stays_on)
{
    open_controls();
    set_button_control_shape(dialog, THREE_STATE_ITEM, (int16_t)elements, _dialog_elements_three_state_button_sequence);
    ASSERT_EQ(button(THREE_STATE_ITEM)->number_of_states, 3);
    EXPECT_EQ(click_item(THREE_STATE_ITEM, true), 1u);
    EXPECT_EQ(get_button_control_state(dialog, THREE_STATE_ITEM), 2) << "shift steps back, wrapping from 0";
    EXPECT_EQ(click_item(THREE_STATE_ITEM), 1u);
    EXPECT_EQ(get_button_control_state(dialog, THREE_STATE_ITEM), 0) << "forward wraps from the last";
    EXPECT_EQ(click_item(THREE_STATE_ITEM), 1u);
    EXPECT_EQ(get_button_control_state(dialog, THREE_STATE_ITEM), 1);

    EXPECT_EQ(click_item(CHECKBOX_ITEM), 1u);
    EXPECT_TRUE(get_checkbox_state(dialog, CHECKBOX_ITEM));
    EXPECT_EQ(click_item(CHECKBOX_ITEM), 1u);
    EXPECT_FALSE(get_checkbox_state(dialog, CHECKBOX_ITEM)) << "a checkbox toggles";

    for (int32_t n = 0; n < 2; ++n)
    {
        EXPECT_EQ(click_item(RADIO_ITEM), 1u) << "a locked radio button still fires, click " << n;
        EXPECT_TRUE(get_radio_button_state(dialog, RADIO_ITEM)) << "and stays on, click " << n;
    }
    set_radio_button_family(dialog, RADIO_ITEM, SECOND_RADIO_ITEM, SECOND_RADIO_ITEM);
    EXPECT_FALSE(get_radio_button_state(dialog, RADIO_ITEM));
    EXPECT_TRUE(get_radio_button_state(dialog, SECOND_RADIO_ITEM));

    // A button without states still fires and keeps state 0.
    set_button_control_shape(dialog, THREE_STATE_ITEM, NONE, NONE);
    set_dialog_item_bounds(dialog, THREE_STATE_ITEM, &button(THREE_STATE_ITEM)->original_bounds);
    EXPECT_EQ(click_item(THREE_STATE_ITEM), 1u);
    EXPECT_EQ(get_button_control_state(dialog, THREE_STATE_ITEM), 0);
    EXPECT_EQ(click_item(THREE_STATE_ITEM, true), 1u);
    EXPECT_EQ(get_button_control_state(dialog, THREE_STATE_ITEM), 0);
}

TEST_F(button_controls, states_and_state_counts_are_clamped_to_the_views_that_exist)
{
    open_controls();
    set_button_control_state(dialog, CHECKBOX_ITEM, 7);
    EXPECT_EQ(get_button_control_state(dialog, CHECKBOX_ITEM), 1);
    set_button_control_state(dialog, CHECKBOX_ITEM, -3);
    EXPECT_EQ(get_button_control_state(dialog, CHECKBOX_ITEM), 0);

    set_checkbox_state(dialog, CHECKBOX_ITEM, true);
    {
        expected_assertions expect(1, "number_of_states <=");
        set_button_control_number_of_states(dialog, CHECKBOX_ITEM, 5);
    }
    EXPECT_EQ(button(CHECKBOX_ITEM)->number_of_states, 2) << "no more states than views";
    {
        expected_assertions expect(1, "number_of_states >= 0");
        set_button_control_number_of_states(dialog, CHECKBOX_ITEM, -1);
    }
    EXPECT_EQ(button(CHECKBOX_ITEM)->number_of_states, 0);
    EXPECT_EQ(get_button_control_state(dialog, CHECKBOX_ITEM), 0) << "the state follows the count";
    set_button_control_state(dialog, CHECKBOX_ITEM, 3);
    EXPECT_EQ(get_button_control_state(dialog, CHECKBOX_ITEM), 0) << "never below 0, even without states";
    set_button_control_number_of_states(dialog, CHECKBOX_ITEM, 1);
    EXPECT_EQ(button(CHECKBOX_ITEM)->number_of_states, 1);
}

// ---- captions and refusals -------------------------------------------------------------------

TEST_F(button_controls, captions_keep_127_characters_and_other_items_are_refused)
{
    std::vector<dialog_item_description> items = control_items();
    items[0].text = std::string(200, 'a');
    dialog = open_test_dialog("long", items);
    ASSERT_NE(dialog, nullptr);
    char name[256];
    get_button_control_name(dialog, SHORT_ITEM, name, sizeof(name));
    EXPECT_EQ(strlen(name), (size_t)MAXIMUM_BUTTON_NAME_LENGTH);

    set_button_control_name(dialog, MEDIUM_ITEM, std::string(150, 'b').c_str());
    get_button_control_name(dialog, MEDIUM_ITEM, name, sizeof(name));
    EXPECT_EQ(std::string(name), std::string(127, 'b'));
    get_button_control_name(dialog, MEDIUM_ITEM, name, 4);
    EXPECT_STREQ(name, "bbb") << "the copy is cut to the buffer and terminated";

    {
        expected_assertions expect(1, "item #8 isn't a button");
        EXPECT_EQ(get_button_control_state(dialog, TABS_ITEM), NONE);
    }
    {
        expected_assertions expect(1, "control");
        set_button_control_state(dialog, 99, 1);
    }
    {
        expected_assertions expect(1, "isn't a tabbed button");
        EXPECT_EQ(get_selected_tab(dialog, SHORT_ITEM), NONE);
    }
    {
        // The family runs over the tabs (item 8): the buttons still get their states.
        expected_assertions expect(1, "item #8 isn't a button");
        set_radio_button_family(dialog, RADIO_ITEM, RADIO_ITEM, TABS_ITEM);
    }
    EXPECT_TRUE(get_radio_button_state(dialog, RADIO_ITEM));
    EXPECT_FALSE(get_radio_button_state(dialog, SECOND_RADIO_ITEM));
}

// ---- drawing ------------------------------------------------------------------------------

// The pixels of an item's bounds on the screen.
std::vector<uint32_t> pixels_of(const dialog_test_screen &screen, const rectangle2d &r)
{
    std::vector<uint32_t> pixels;
    for (int32_t y = r.top; y < r.bottom; ++y)
        for (int32_t x = r.left; x < r.right; ++x) pixels.push_back(screen.pixel(x + 100, y + 100));
    return pixels;
}

TEST_F(button_controls, a_disabled_checkbox_shows_its_off_view_unless_it_stays_checked)
{
    open_controls();
    bitmap_set_item_enabled(dialog, CHECKBOX_ITEM, false);
    // Drawn side by side: left-justified 4 pixels in, 16 x 16.
    const rectangle2d picture = {110, 24, 126, 40};
    auto draw = [&](bool on) {
        set_checkbox_state(dialog, CHECKBOX_ITEM, on);
        set_dialog_dirty(dialog);
        dialog_test_screen drawn;
        render_dialogs(drawn.bitmap);
        return pixels_of(drawn, picture);
    };
    const std::vector<uint32_t> off = draw(false), on = draw(true);
    EXPECT_EQ(on, off) << "disabled: view 0 whatever the state";
    set_button_control_flags(dialog, CHECKBOX_ITEM,
                             _button_control_draw_side_by_side_flag | _button_control_stays_checked_when_disabled_flag);
    EXPECT_NE(draw(true), off) << "stays checked: the on view";
    bitmap_set_item_enabled(dialog, CHECKBOX_ITEM, true);
    EXPECT_NE(draw(true), draw(false)) << "enabled: the views differ";
}

TEST_F(button_controls, pressed_buttons_show_their_second_bitmap_and_the_picture_is_written)
{
    open_controls();
    set_button_control_shape(dialog, THREE_STATE_ITEM, (int16_t)elements, _dialog_elements_three_state_button_sequence);
    set_button_control_state(dialog, THREE_STATE_ITEM, 2);
    set_checkbox_state(dialog, CHECKBOX_ITEM, true);
    set_radio_button_state(dialog, RADIO_ITEM, true);
    bitmap_set_item_enabled(dialog, DISABLED_ITEM, false);
    set_number_of_tabs(dialog, TABS_ITEM, 3);
    set_tab_name(dialog, TABS_ITEM, 0, "Game");
    set_tab_name(dialog, TABS_ITEM, 1, "Players");
    set_tab_name(dialog, TABS_ITEM, 2, "Teams");
    set_tab_enabled(dialog, TABS_ITEM, 2, false);
    set_selected_tab(dialog, TABS_ITEM, 1);

    screen.fill();
    render_dialogs(screen.bitmap);
    const std::vector<uint32_t> released = pixels_of(screen, bounds_of(LONG_ITEM));
    action_data down = make_click_action(screen_x(60), screen_y(85));
    dialogs_handled_action(&down);
    EXPECT_EQ(find_control(dialog, LONG_ITEM)->state, _control_pressed);
    render_dialogs(screen.bitmap);
    EXPECT_NE(pixels_of(screen, bounds_of(LONG_ITEM)), released) << "the pressed look";
    ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", "buttons", "png", 0));
    if (const char *keep = getenv("VESK_BUTTON_FRAME"))
        std::filesystem::copy_file("pictures/buttons.png", keep, std::filesystem::copy_options::overwrite_existing);
    action_data up = make_release_action(screen_x(300), screen_y(190));
    dialogs_handled_action(&up);
}

// ---- tabs ---------------------------------------------------------------------------------

TEST_F(button_controls, tabs_select_by_overlap_fire_when_disabled_and_refuse_bad_indexes)
{
    open_controls();
    tabbed_button_control_data *data = tabs();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->tab_overlap, DEFAULT_TAB_OVERLAP);
    EXPECT_EQ(data->sequence_index, _dialog_elements_tab_button_sequence);
    // Tabs 100 pixels wide: tab 1 covers 92 to 192 from the item's left (20).
    data->bitmap_bounds = {0, 0, 22, 100};
    set_number_of_tabs(dialog, TABS_ITEM, 2);
    EXPECT_EQ(data->tab_info[0].enabled, 0) << "a new table: nameless and disabled";
    set_tab_name(dialog, TABS_ITEM, 0, "First");
    set_tab_name(dialog, TABS_ITEM, 1, "Second");
    EXPECT_EQ(data->tab_info[1].enabled, 1) << "a named tab is enabled";

    EXPECT_EQ(click(20 + 95, 180), 1u);
    EXPECT_EQ(get_selected_tab(dialog, TABS_ITEM), 0) << "the strip belongs to the selected tab 0";
    set_selected_tab(dialog, TABS_ITEM, 1);
    EXPECT_EQ(click(20 + 95, 180), 1u);
    EXPECT_EQ(get_selected_tab(dialog, TABS_ITEM), 1) << "the strip belongs to the selected tab 1";
    EXPECT_EQ(click(20 + 50, 180), 1u);
    EXPECT_EQ(get_selected_tab(dialog, TABS_ITEM), 0);

    set_tab_enabled(dialog, TABS_ITEM, 1, false);
    EXPECT_EQ(click(20 + 150, 180), 1u) << "a disabled tab still fires";
    EXPECT_EQ(get_selected_tab(dialog, TABS_ITEM), 0) << "and keeps the selection";
    set_tab_name(dialog, TABS_ITEM, 1, "Renamed");
    EXPECT_EQ(data->tab_info[1].enabled, 1) << "renaming enables";

    set_number_of_tabs(dialog, TABS_ITEM, 2);
    EXPECT_STREQ(data->tab_info[1].tab_name, "Renamed") << "the same count keeps the names";
    set_tab_name(dialog, TABS_ITEM, 0, std::string(40, 'x').c_str());
    EXPECT_EQ(strlen(data->tab_info[0].tab_name), (size_t)MAXIMUM_TAB_NAME_LENGTH);

    {
        expected_assertions expect(5, "tab index out of range");
        set_tab_name(dialog, TABS_ITEM, 2, "Third");
        set_tab_name(dialog, TABS_ITEM, -1, "Minus");
        set_tab_enabled(dialog, TABS_ITEM, 2, true);
        set_selected_tab(dialog, TABS_ITEM, 2);
        set_selected_tab(dialog, TABS_ITEM, -1);
    }
    EXPECT_EQ(get_selected_tab(dialog, TABS_ITEM), 0);
    {
        expected_assertions expect(1, "overlap >= 0");
        set_tab_overlap(dialog, TABS_ITEM, -4);
    }
    EXPECT_EQ(data->tab_overlap, DEFAULT_TAB_OVERLAP);

    // Without tabs a click fires, selects nothing and reads no table.
    destroy_tab_control(dialog, TABS_ITEM);
    EXPECT_EQ(data->number_of_tabs, 0);
    EXPECT_EQ(data->tab_info, nullptr);
    EXPECT_EQ(click(20 + 50, 180), 1u);
    EXPECT_EQ(get_selected_tab(dialog, TABS_ITEM), 0);
    {
        expected_assertions expect(1, "tab index out of range");
        set_tab_name(dialog, TABS_ITEM, 0, "Gone");
    }
    set_number_of_tabs(dialog, TABS_ITEM, 1);
    EXPECT_EQ(data->number_of_tabs, 1);
    EXPECT_STREQ(data->tab_info[0].tab_name, "") << "a new count clears the names";
    dialog_test_screen drawn;
    render_dialogs(drawn.bitmap);
}

} // namespace

} // namespace button_controls_test_file
