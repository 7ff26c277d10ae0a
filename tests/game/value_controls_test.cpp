// The value controls driven through the dialog layer's own input path, with
// the test clock behind the game's local time: double arrows (step table,
// repeat, wrap, shift, enumerations, time format), sliders (dragging,
// default, empty ranges), progress bars and static text (firing, redraw,
// the wait dialog's message).  Without art or fonts: what needs them is in
// value_controls_picture_test.cpp.

#include "support/dialog_input_harness.h"

#include <cstring>
#include <string>
#include <vector>

#include "bitmap_dialogs/double_arrow_control.h"
#include "bitmap_dialogs/progress_bar_control.h"
#include "bitmap_dialogs/slider_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "game_states.h"
#include "game_time.h"
#include "support/expected_assertions.h"
#include "networking_procedures.h"

namespace value_controls_test_file {

namespace {

enum
{
    ARROW_ITEM = 1,
    SLIDER_ITEM = 2,
    PROGRESS_ITEM = 3,
    TEXT_ITEM = 4,
};

// Dialog coordinates (top, left, bottom, right).
const rectangle2d arrow_bounds = {20, 20, 44, 120};  // upper arrow: y < 32
const rectangle2d slider_bounds = {60, 20, 80, 220}; // travel 184
const rectangle2d progress_bounds = {100, 20, 110, 220};
const rectangle2d text_bounds = {130, 20, 150, 220};

class value_controls : public dialog_input_test
{
protected:
    dialog_data *dialog = nullptr;

    void SetUp() override
    {
        dialog_input_test::SetUp();
        dialog = open_test_dialog("vals", {dialog_test_item("numb", ARROW_ITEM, arrow_bounds),
                                           dialog_test_item("slid", SLIDER_ITEM, slider_bounds),
                                           dialog_test_item("prog", PROGRESS_ITEM, progress_bounds),
                                           dialog_test_item("stat", TEXT_ITEM, text_bounds, "Plain words")});
        ASSERT_NE(dialog, nullptr);
    }

    bool feed(action_data action) { return dialogs_handled_action(&action); }

    // One press and release at a dialog point; the release's firing included.
    void press(int16_t x, int16_t y, bool shift = false)
    {
        action_data down = make_click_action(screen_x(x), screen_y(y));
        if (shift) down = with_action_flag(down, _shift_down_bit);
        feed(down);
        feed(make_release_action(screen_x(x), screen_y(y)));
        feed(make_release_action(screen_x(x), screen_y(y)));
    }
    void press_up(bool shift = false) { press(60, 25, shift); }
    void press_down(bool shift = false) { press(60, 40, shift); }
    int32_t arrow_value(void) { return get_double_arrow_control_value(dialog, ARROW_ITEM); }

    // Draws and forgets the dirt, so that a test sees what a change marks.
    void settle(void) { render_dialogs(screen.bitmap); }
    bool dirty(int16_t item_id) { return (find_control(dialog, item_id)->flags & _control_dirty_flag) != 0; }
};

TEST_F(value_controls, the_step_table_covers_values_up_to_its_bounds)
{
    static const double_arrow_delta table[] = {{45, 1}, {100, 5}, {300, 10}};
    set_double_arrow_control_delta(dialog, ARROW_ITEM, 3, table);
    const struct
    {
        int32_t from;
        bool up;
        int32_t to;
    } cases[] = {{100, true, 110}, {100, false, 95}, {45, true, 50}, {45, false, 44},
                 {30, true, 31},   {30, false, 29}, {300, true, 310}, {290, true, 300}};
    for (const auto &c : cases)
    {
        set_double_arrow_control_value(dialog, ARROW_ITEM, 0, 1000, c.from);
        if (c.up) press_up();
        else press_down();
        EXPECT_EQ(arrow_value(), c.to) << c.from << (c.up ? " up" : " down");
        EXPECT_EQ(get_double_arrow_control_last_click(dialog, ARROW_ITEM),
                  c.up ? _clicked_arrow_up : _clicked_arrow_down);
    }
}

// A press steps at once, even in the first 15 ticks of the local time, then
// every 16 ticks while held; letting go and pressing again steps at once.
TEST_F(value_controls, holding_an_arrow_steps_at_once_then_every_sixteen_ticks)
{
    for (int32_t start : {3, 200})
    {
        SCOPED_TRACE(start);
        set_double_arrow_control_value(dialog, ARROW_ITEM, 0, 100, 0);
        advance_test_clock_ticks(start - game_->local_time.load());
        feed(make_click_action(screen_x(60), screen_y(25)));
        std::vector<int32_t> values = {arrow_value()};
        for (int32_t tick = 1; tick <= 32; ++tick)
        {
            advance_test_clock_ticks(1);
            feed(make_hold_action(screen_x(60), screen_y(25)));
            if (tick == 15 || tick == 16 || tick == 31 || tick == 32) values.push_back(arrow_value());
        }
        EXPECT_EQ(values, (std::vector<int32_t>{1, 1, 2, 2, 3}));
        feed(make_release_action(screen_x(60), screen_y(25)));
        feed(make_release_action(screen_x(60), screen_y(25)));
        press_up();
        EXPECT_EQ(arrow_value(), 4) << "a fresh press does not wait";
    }
}

TEST_F(value_controls, wrapping_shift_and_listener)
{
    static int32_t heard = 0;
    heard = 0;
    set_double_arrow_control_value_listener(dialog, ARROW_ITEM, [](dialog_data *, int16_t) { ++heard; });
    set_double_arrow_control_value(dialog, ARROW_ITEM, 2, 9, 5);
    press_up(true);
    EXPECT_EQ(arrow_value(), 9) << "shift goes to the maximum";
    press_up();
    EXPECT_EQ(arrow_value(), 9) << "clamped, not wrapped";
    EXPECT_EQ(heard, 1) << "no change, no listener";
    press_down(true);
    EXPECT_EQ(arrow_value(), 2);
    set_double_arrow_direction(dialog, ARROW_ITEM, true);
    press_down();
    EXPECT_EQ(arrow_value(), 3) << "inverted: the lower arrow increases";
    set_double_arrow_direction(dialog, ARROW_ITEM, false);

    get_double_arrow_control_data(dialog, ARROW_ITEM)->cyclic = true;
    set_double_arrow_control_value(dialog, ARROW_ITEM, -1, -1, 9);
    press_up();
    EXPECT_EQ(arrow_value(), 2) << "cyclic: past the maximum to the minimum";
    press_down();
    EXPECT_EQ(arrow_value(), 9);

    // -1 keeps a field; the maximum is raised to the minimum.
    set_double_arrow_control_value(dialog, ARROW_ITEM, 12, -1, -1);
    EXPECT_EQ(get_double_arrow_control_data(dialog, ARROW_ITEM)->maximum, 12);
    EXPECT_EQ(arrow_value(), 12);
}

TEST_F(value_controls, an_enumeration_selector_steps_through_its_choices)
{
    static const enum_selector_data choices[] = {{nullptr, 3}, {"first", 10}, {"second", 20}, {"third", 30}};
    static const enum_selector_data empty[] = {{nullptr, 0}};
    settle();
    EXPECT_FALSE(set_enum_selector_value(dialog, ARROW_ITEM, choices, 25));
    EXPECT_FALSE(set_enum_selector_value(dialog, ARROW_ITEM, empty, 0));
    EXPECT_EQ(get_double_arrow_control_data(dialog, ARROW_ITEM)->enum_data, nullptr) << "refused: nothing changed";
    EXPECT_FALSE(dirty(ARROW_ITEM));
    ASSERT_TRUE(set_enum_selector_value(dialog, ARROW_ITEM, choices, 20));
    EXPECT_EQ(arrow_value(), 1);
    EXPECT_EQ(get_enum_selector_value(dialog, ARROW_ITEM, choices), 20);
    press_up();
    EXPECT_EQ(get_enum_selector_value(dialog, ARROW_ITEM, choices), 10) << "the upper arrow goes to the previous choice";
    press_up();
    EXPECT_EQ(get_enum_selector_value(dialog, ARROW_ITEM, choices), 30) << "and wraps";
    set_double_arrow_direction(dialog, ARROW_ITEM, true);
    press_up();
    EXPECT_EQ(get_enum_selector_value(dialog, ARROW_ITEM, choices), 10) << "inverted: to the next";
}

TEST_F(value_controls, formats_write_integers_and_clamped_times)
{
    char text[DOUBLE_ARROW_FORMAT_BUFFER_SIZE];
    const struct
    {
        int32_t ticks;
        const char *text;
    } times[] = {{930, "0:31"}, {-5, "0:00"}, {810001, "450:00"}, {INT32_MAX, "450:00"}, {1800 * 12 + 59 * 30, "12:59"}};
    for (const auto &t : times)
    {
        double_arrow_time_format(text, t.ticks);
        EXPECT_STREQ(text, t.text) << t.ticks;
    }
    double_arrow_integer_format(text, INT32_MIN);
    EXPECT_STREQ(text, "-2147483648");
}

TEST_F(value_controls, accessors_refuse_items_of_another_type_and_missing_ones)
{
    {
        expected_assertions expect(4, "not a");
        set_double_arrow_control_value(dialog, SLIDER_ITEM, 0, 1, 1);
        set_slider_value(dialog, ARROW_ITEM, 3);
        set_progress_bar_fraction(dialog, TEXT_ITEM, 3);
        set_bitmap_dialog_static_item_text(dialog, PROGRESS_ITEM, "x");
    }
    {
        expected_assertions expect(1, "control");
        EXPECT_EQ(get_slider_value(dialog, 99), 0);
    }
    {
        expected_assertions expect(1, "bad double arrow step table");
        set_double_arrow_control_delta(dialog, ARROW_ITEM, 2, nullptr);
    }
    EXPECT_EQ(get_double_arrow_control_data(dialog, ARROW_ITEM)->delta_count, 0);
}

TEST_F(value_controls, a_dragged_slider_holds_its_maximum_and_a_double_click_restores_the_default)
{
    set_slider_extrema(dialog, SLIDER_ITEM, 0, 100);
    set_slider_default_value(dialog, SLIDER_ITEM, 40);
    // The thumb is at the left (20 .. 36): grab it, drag far past the end.
    feed(make_click_action(screen_x(28), screen_y(70)));
    EXPECT_EQ(get_slider_value(dialog, SLIDER_ITEM), 0);
    feed(make_hold_action(screen_x(120), screen_y(70)));
    // (120 - 8 - 20) * 100 / 184
    EXPECT_EQ(get_slider_value(dialog, SLIDER_ITEM), 50);
    // A drag step fires the dialog's handler, and a firing press takes the
    // next action: the drag goes on with the one after.
    EXPECT_EQ(handled_items(), (std::vector<int16_t>{}));
    feed(make_hold_action(screen_x(280), screen_y(150)));
    EXPECT_EQ(handled_items(), (std::vector<int16_t>{SLIDER_ITEM}));
    feed(make_hold_action(screen_x(280), screen_y(150)));
    EXPECT_EQ(get_slider_value(dialog, SLIDER_ITEM), 100);
    feed(make_release_action(screen_x(280), screen_y(150)));
    feed(make_release_action(screen_x(280), screen_y(150)));
    EXPECT_EQ(get_slider_value(dialog, SLIDER_ITEM), 100);
    EXPECT_EQ(((private_control_data *)get_dialog_item_extra_data(dialog, SLIDER_ITEM))->item_last_clicked, _nothing);

    // A press on the track beside the thumb takes the thumb there and fires:
    // (60 - 8 - 20) * 100 / 184.  The release lets it go.
    const size_t fired = handled_items().size();
    press(60, 70);
    EXPECT_EQ(get_slider_value(dialog, SLIDER_ITEM), 17);
    EXPECT_EQ(handled_items().size(), fired + 1);
    EXPECT_EQ(((private_control_data *)get_dialog_item_extra_data(dialog, SLIDER_ITEM))->item_last_clicked, _nothing);

    feed(with_action_flag(make_click_action(screen_x(60), screen_y(70)), _double_left_mouse_down_bit));
    feed(make_release_action(screen_x(60), screen_y(70)));
    EXPECT_EQ(get_slider_value(dialog, SLIDER_ITEM), 40);

    // Extrema clamp the value; set_slider_value does not, but the thumb stays inside.
    set_slider_extrema(dialog, SLIDER_ITEM, 0, 30);
    EXPECT_EQ(get_slider_value(dialog, SLIDER_ITEM), 30);
    set_slider_value(dialog, SLIDER_ITEM, 5000);
    rectangle2d thumb;
    ASSERT_TRUE(get_slider_thumb_bounds(dialog, SLIDER_ITEM, &thumb));
    EXPECT_EQ(thumb.left, 204);
    EXPECT_EQ(thumb.right, 220);
    set_slider_value(dialog, SLIDER_ITEM, -5000);
    ASSERT_TRUE(get_slider_thumb_bounds(dialog, SLIDER_ITEM, &thumb));
    EXPECT_EQ(thumb.left, 20);
}

TEST_F(value_controls, a_slider_with_an_empty_range_keeps_its_thumb_left_and_its_value)
{
    set_slider_extrema(dialog, SLIDER_ITEM, 7, 7);
    EXPECT_EQ(get_slider_value(dialog, SLIDER_ITEM), 7);
    feed(make_click_action(screen_x(28), screen_y(70)));
    feed(make_hold_action(screen_x(150), screen_y(70)));
    feed(make_release_action(screen_x(150), screen_y(70)));
    EXPECT_EQ(get_slider_value(dialog, SLIDER_ITEM), 7);
    rectangle2d thumb;
    ASSERT_TRUE(get_slider_thumb_bounds(dialog, SLIDER_ITEM, &thumb));
    EXPECT_EQ(thumb.left, 20);

    // A track no wider than the thumb cannot map positions either.
    const rectangle2d narrow = {60, 20, 80, 36};
    set_dialog_item_bounds(dialog, SLIDER_ITEM, &narrow);
    set_slider_extrema(dialog, SLIDER_ITEM, 0, 10);
    set_slider_value(dialog, SLIDER_ITEM, 4);
    feed(make_click_action(screen_x(28), screen_y(70)));
    feed(make_hold_action(screen_x(35), screen_y(70)));
    feed(make_release_action(screen_x(35), screen_y(70)));
    EXPECT_EQ(get_slider_value(dialog, SLIDER_ITEM), 4);
    ASSERT_TRUE(get_slider_thumb_bounds(dialog, SLIDER_ITEM, &thumb));
    EXPECT_EQ(thumb.left, 20);
}

TEST_F(value_controls, progress_is_clamped_and_redrawn_only_when_it_changes)
{
    const struct
    {
        short_fixed set, stored;
    } cases[] = {{300, 256}, {-1, 0}, {128, 128}, {256, 256}};
    for (const auto &c : cases)
    {
        set_progress_bar_fraction(dialog, PROGRESS_ITEM, c.set);
        EXPECT_EQ(get_progress_bar_fraction(dialog, PROGRESS_ITEM), c.stored) << c.set;
    }
    settle();
    set_progress_bar_fraction(dialog, PROGRESS_ITEM, 999);
    EXPECT_FALSE(dirty(PROGRESS_ITEM));
    feed(make_click_action(screen_x(50), screen_y(105)));
    feed(make_release_action(screen_x(50), screen_y(105)));
    feed(make_release_action(screen_x(50), screen_y(105)));
    EXPECT_TRUE(handler_calls.empty()) << "a progress bar cannot be pressed";
}

TEST_F(value_controls, static_text_fires_and_redraws_only_for_a_new_text)
{
    press(50, 140);
    EXPECT_EQ(handled_items(), (std::vector<int16_t>{TEXT_ITEM})) << "plain text fires like a button";

    char text[8];
    EXPECT_STREQ(get_bitmap_dialog_static_item_text(dialog, TEXT_ITEM, text, sizeof(text)), "Plain w") << "cut to fit";
    settle();
    set_bitmap_dialog_static_item_text(dialog, TEXT_ITEM, "Plain words");
    EXPECT_FALSE(dirty(TEXT_ITEM)) << "the same text does not redraw";
    set_bitmap_dialog_static_item_text(dialog, TEXT_ITEM, "Other");
    EXPECT_TRUE(dirty(TEXT_ITEM));
    settle();
    set_bitmap_dialog_static_item_text(dialog, TEXT_ITEM, nullptr);
    EXPECT_TRUE(dirty(TEXT_ITEM));
    EXPECT_STREQ(get_bitmap_dialog_static_item_text(dialog, TEXT_ITEM, text, sizeof(text)), "");
    settle();
    set_bitmap_dialog_static_item_text(dialog, TEXT_ITEM, "");
    EXPECT_FALSE(dirty(TEXT_ITEM)) << "empty is the same as none";

    const rgb_color red = {65535, 0, 0, 0};
    set_dialog_static_item_text_appearance(dialog, TEXT_ITEM, -1, 2, &red, 0xFFFFFFFFu);
    const text_extra_data *data = (const text_extra_data *)get_dialog_item_extra_data(dialog, TEXT_ITEM);
    EXPECT_EQ(data->style, 2);
    EXPECT_EQ(data->color.red, 65535);
    EXPECT_EQ(data->flags, (uint32_t)DEFAULT_STATIC_TEXT_FLAGS);
}

std::vector<std::string> opened_urls;
void record_url(const char *url) { opened_urls.push_back(url); }

TEST_F(value_controls, go_to_url_launches_only_through_the_registered_procedure)
{
    opened_urls.clear();
    go_to_url("http://example.org/"); // logged, nothing launched
    static const networking_procedures network = {.go_to_url = record_url};
    ASSERT_TRUE(register_networking_procedures(&network));
    {
        expected_assertions expect(1);
        EXPECT_FALSE(register_networking_procedures(&network)) << "one registration per process";
    }
    go_to_url("http://example.org/a");
    EXPECT_EQ(opened_urls, (std::vector<std::string>{"http://example.org/a"}));
}

std::string wait_message_shown;
bool wait_dialog_read(void)
{
    const dialog_data *front = get_last_dialog();
    if (!front || front->tag != WAIT_DIALOG_TAG) return false;
    char text[64];
    wait_message_shown = get_bitmap_dialog_static_item_text(front, WAIT_DIALOG_MESSAGE_ITEM, text, sizeof(text));
    return true;
}

TEST_F(value_controls, the_wait_dialog_shows_its_message)
{
    dialog_description wait_dialog;
    wait_dialog.bounds = {0, 0, 100, 200};
    wait_dialog.items = {dialog_test_item("stat", WAIT_DIALOG_MESSAGE_ITEM, {10, 10, 50, 190}, "Waiting"),
                         probe_item(WAIT_DIALOG_CANCEL_ITEM, rectangle2d{60, 100, 90, 190}, "Cancel")};
    store_dialog("prdn", wait_dialog);
    game_->state = _game_state_displaying_main_menu;
    wait_message_shown.clear();
    for (int32_t n = 0; n < 30; ++n) add_script_step(idle_step(100));
    EXPECT_EQ(wait_for_global_with_delayed_dialog(nullptr, wait_dialog_read, "Joining the game", 0), _gwait_success);
    EXPECT_EQ(wait_message_shown, "Joining the game");
}

} // namespace

} // namespace value_controls_test_file
