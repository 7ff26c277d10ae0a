// The list control ('list') in a dialog made from a stored tag: what its
// presses report, movement keys and type-ahead with the test clock (also
// across the clock's wrap), the focus box, the wheel, and the dialog-level
// calls refusing items that are not lists.  A second fixture draws a list
// with the demo data's dialog art (proportional thumb) and writes the frame
// as PNG (VESK_LIST_FRAME names a file to keep it in).

#include "support/dialog_input_harness.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bitmap_dialogs/list_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/registration.h"
#include "cseries/timers.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "image_files.h"
#include "input/input_definitions.h"
#include "interface_definitions.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "tag_files/definitions.h"
#include "tag_files/store_fixture.h"
#include "vesk/string_lists.h"

namespace list_control_test_file {

namespace {

enum
{
    LIST_ITEM = 1,
    BUTTON_ITEM = 2,
    OK_ITEM = 3,
};

// Dialog coordinates: 10 rows of 16 pixels fill the view of 160 - 4.
const rectangle2d list_bounds = {20, 20, 180, 220};

dialog_item_description item(const char *code, int16_t id, rectangle2d bounds, uint16_t flags = 0,
                             const char *text = "")
{
    dialog_item_description d;
    d.type = dialog_test_code(code);
    d.item_id = id;
    d.bounds = bounds;
    d.flags = flags;
    d.text = text;
    return d;
}

bool starts_with(const void *data, int16_t length, const char *typed)
{
    return strncmp((const char *)data, typed, strlen(typed)) == 0;
}

const char *const names[] = {"alpha", "apple", "banana", "beta", "cherry", "delta", "echo", "fig", "golf", "hotel",
                             "india", "juliet", "kilo", "lima", "mango", "nectar", "oscar", "papa", "quince", "romeo"};

class list_control : public dialog_input_test
{
protected:
    dialog_data *dialog = nullptr;

    void SetUp() override
    {
        dialog_input_test::SetUp();
        dialog = open_test_dialog("lsts", {item("list", LIST_ITEM, list_bounds, _list_draw_focus_box_flag),
                                           item("butt", BUTTON_ITEM, {200, 20, 220, 120}, 0, "Button"),
                                           item("tprb", OK_ITEM, {200, 140, 220, 220})});
        ASSERT_NE(dialog, nullptr);
        bitmap_set_list_line_height(dialog, LIST_ITEM, 16);
        bitmap_set_list_match_proc(dialog, LIST_ITEM, starts_with);
    }

    void fill(int32_t count = 20)
    {
        for (int32_t i = 0; i < count; ++i) ASSERT_EQ(bitmap_add_text_to_list(dialog, LIST_ITEM, names[i], true), i);
    }
    intptr_t verb(int16_t which, void *parameter)
    {
        return list_control_def_proc(which, dialog, LIST_ITEM, parameter);
    }
    intptr_t click(action_data action)
    {
        param_control_click_verb p = {&action};
        return verb(_control_click_verb, &p);
    }
    // A press and release at a row's middle (the view at the top).
    intptr_t click_row(int32_t row, int32_t flag = NONE)
    {
        action_data down = make_click_action(40, (int16_t)(list_bounds.top + 2 + row * 16 + 8));
        if (flag != NONE) down = with_action_flag(down, flag);
        const intptr_t result = click(down);
        click(make_release_action(40, 0));
        return result;
    }
    intptr_t key(int16_t key_code, int16_t ascii = NONE)
    {
        action_data action = make_key_action(key_code, ascii);
        param_control_key_verb p = {&action};
        return verb(_control_key_verb, &p);
    }
    intptr_t type(char c) { return key(_key_a, c); }
    int16_t selected(void) { return bitmap_get_listbox_value(dialog, LIST_ITEM); }
    private_list_data *list(void) { return get_list_control_private_list(dialog, LIST_ITEM); }
};

TEST_F(list_control, a_press_reports_only_a_changed_selection_or_shift_and_double_clicks_press_their_item)
{
    fill(5);
    EXPECT_EQ(click_row(2), 1);
    EXPECT_EQ(selected(), 2);
    EXPECT_EQ(get_dialog_focus(dialog), LIST_ITEM) << "a press takes the focus";
    EXPECT_EQ(click_row(2), 0) << "the same row again";
    EXPECT_EQ(click_row(2, _shift_down_bit), 1) << "shift always reports";
    EXPECT_EQ(click_row(9), 1) << "a press below the rows clears the selection";
    EXPECT_EQ(selected(), NONE);

    // Through the dialog's own input: the handler hears a changed selection.
    handler_calls.clear();
    {
        action_data down = make_click_action(screen_x(40), screen_y((int16_t)(list_bounds.top + 2 + 16 + 8)));
        dialogs_handled_action(&down);
        action_data up = make_release_action(screen_x(40), screen_y(40));
        dialogs_handled_action(&up);
        dialogs_handled_action(&up);
    }
    EXPECT_EQ(selected(), 1);
    EXPECT_EQ(handled_items(), std::vector<int16_t>{LIST_ITEM});

    bitmap_set_listbox_doubleclick_itemhit(dialog, LIST_ITEM, OK_ITEM);
    EXPECT_EQ(click_row(3), 1);
    EXPECT_EQ(dialog->item_clicked, NONE);
    EXPECT_EQ(click_row(3, _double_left_mouse_down_bit), 0) << "the selection did not change";
    EXPECT_EQ(dialog->item_clicked, OK_ITEM) << "the double-click item was pressed";

}

TEST_F(list_control, movement_keys_pick_their_rows_even_with_nothing_selected)
{
    EXPECT_EQ(key(_key_down_arrow), 0) << "an empty list takes no keys";
    fill(6);
    EXPECT_EQ(key(_key_up_arrow), 1);
    EXPECT_EQ(selected(), 1) << "up with nothing selected: the first enabled row after row 0";
    bitmap_clear_selections(dialog, LIST_ITEM);
    EXPECT_EQ(key(_key_down_arrow), 1);
    EXPECT_EQ(selected(), 4) << "down with nothing selected: the second-to-last row";
    EXPECT_EQ(key(_key_down_arrow), 1);
    EXPECT_EQ(key(_key_down_arrow), 1);
    EXPECT_EQ(selected(), 5) << "the last row stays";
    EXPECT_EQ(key(_key_home), 1);
    EXPECT_EQ(selected(), 0);
    bitmap_set_row_enabled(dialog, LIST_ITEM, 1, false);
    bitmap_set_row_visible(dialog, LIST_ITEM, 2, false);
    EXPECT_EQ(key(_key_down_arrow), 1);
    EXPECT_EQ(selected(), 3) << "disabled and hidden rows are stepped over";
    EXPECT_EQ(key(_key_end), 1);
    EXPECT_EQ(selected(), 5);

    for (int16_t r = 0; r < 6; ++r) bitmap_set_row_enabled(dialog, LIST_ITEM, r, false);
    bitmap_clear_selections(dialog, LIST_ITEM);
    EXPECT_EQ(key(_key_home), 1) << "nothing to go to, still reported";
    EXPECT_EQ(selected(), NONE);
    EXPECT_EQ(key(_key_left_arrow), 0) << "a key without a character";

    bitmap_empty_list(dialog, LIST_ITEM);
    fill(20);
    EXPECT_EQ(key(_key_page_down), 1);
    EXPECT_EQ(get_private_list_scroll_position(list()), 156 / 4);
    EXPECT_EQ(key(_key_end), 1);
    EXPECT_EQ(get_private_list_scroll_position(list()), 20 * 16 - 156) << "the target is brought into view";
}

TEST_F(list_control, type_ahead_joins_keys_under_a_second_apart_by_an_unsigned_clock_difference)
{
    fill();
    EXPECT_EQ(type('b'), 1);
    EXPECT_EQ(selected(), 2);
    advance_test_clock_milliseconds(999);
    EXPECT_EQ(type('e'), 1);
    EXPECT_EQ(selected(), 3) << "\"be\" within 999 ms";
    EXPECT_STREQ(get_dialog_list_data()->typed_selection, "be");
    advance_test_clock_milliseconds(1000);
    EXPECT_EQ(type('e'), 1);
    EXPECT_EQ(selected(), 6) << "a pause of 1000 ms starts again: \"e\"";
    EXPECT_EQ(type('z'), 0) << "no row answers \"ez\"";
    EXPECT_EQ(selected(), 6);

    // 31 characters are kept; the 32nd within the second is ignored.
    advance_test_clock_milliseconds(5000);
    for (int32_t i = 0; i < 31; ++i) type('x');
    EXPECT_EQ(strlen(get_dialog_list_data()->typed_selection), 31u);
    EXPECT_EQ(type('x'), 0);
    EXPECT_EQ(strlen(get_dialog_list_data()->typed_selection), 31u);
}

TEST_F(list_control, type_ahead_survives_the_clock_wrapping_past_two_to_the_32)
{
    install_test_clock(0xFFFFFE00u);
    fill();
    type('a');
    EXPECT_EQ(selected(), 0);
    advance_test_clock_milliseconds(0x300); // wraps to 0x100
    ASSERT_LT(machine_tick_count(), 0x1000u);
    type('p');
    EXPECT_EQ(selected(), 1) << "\"ap\" across the wrap";
    advance_test_clock_milliseconds(1000);
    type('c');
    EXPECT_EQ(selected(), 4);
    // A new list restarts type-ahead.
    type('h');
    EXPECT_STREQ(get_dialog_list_data()->typed_selection, "ch");
    const dialog_data *other = open_test_dialog("lst2", {item("list", 1, list_bounds)});
    ASSERT_NE(other, nullptr);
    EXPECT_STREQ(get_dialog_list_data()->typed_selection, "");
}

TEST_F(list_control, the_focus_box_lies_four_pixels_outside_a_focused_list_with_the_flag)
{
    fill(3);
    dialog_test_screen canvas;
    const int32_t box_x = list_bounds.left - 4, box_y = list_bounds.top + 40;
    for (const bool focused : {false, true})
    {
        for (const bool flag : {false, true})
        {
            canvas.fill();
            bitmap_set_list_flag(dialog, LIST_ITEM, _list_draw_focus_box_flag, flag);
            param_control_draw_verb p = {canvas.bitmap, (uint16_t)(focused ? _control_draw_has_focus_flag : 0)};
            verb(_control_draw_verb, &p);
            const bool drawn = canvas.pixel(box_x, box_y) != DIALOG_TEST_SENTINEL;
            EXPECT_EQ(drawn, focused && flag) << focused << flag;
            EXPECT_EQ(canvas.pixel(box_x + 1, box_y) != DIALOG_TEST_SENTINEL, focused && flag);
            EXPECT_EQ(canvas.pixel(box_x - 1, box_y), DIALOG_TEST_SENTINEL);
        }
    }
    // Clearing the focusable flag on the focused list takes the focus away.
    set_dialog_focus(dialog, LIST_ITEM);
    ASSERT_EQ(get_dialog_focus(dialog), LIST_ITEM);
    bitmap_set_list_flag(dialog, LIST_ITEM, _list_can_be_focused_flag, false);
    EXPECT_NE(get_dialog_focus(dialog), LIST_ITEM);
    param_control_focus_verb focus = {true};
    EXPECT_EQ(verb(_control_focus_verb, &focus), 0);
}

TEST_F(list_control, the_wheel_scrolls_and_list_calls_refuse_items_that_are_not_lists)
{
    fill();
    action_data wheel = make_wheel_action(40, 40, 40);
    param_control_wheel_verb p = {&wheel};
    EXPECT_EQ(verb(_control_wheel_verb, &p), 1);
    EXPECT_EQ(get_private_list_scroll_position(list()), 40);
    wheel.wheel_delta = 0;
    EXPECT_EQ(verb(_control_wheel_verb, &p), 0);

    bitmap_set_listbox_refcon(dialog, LIST_ITEM, 77);
    EXPECT_EQ(bitmap_get_listbox_refcon(dialog, LIST_ITEM), 77);
    char buffer[16];
    int16_t size = sizeof(buffer);
    bitmap_get_listbox_row_data(dialog, LIST_ITEM, 2, buffer, &size);
    EXPECT_EQ(size, 7);
    EXPECT_STREQ(buffer, "banana");
    {
        expected_assertions expect(8, "not a list");
        EXPECT_EQ(bitmap_add_data_to_list(dialog, BUTTON_ITEM, "x", 1, 10, true), -1);
        EXPECT_EQ(bitmap_add_text_to_list(dialog, BUTTON_ITEM, "x", true), -1);
        EXPECT_EQ(bitmap_get_listbox_value(dialog, BUTTON_ITEM), -1);
        EXPECT_EQ(bitmap_get_listbox_row_count(dialog, OK_ITEM), 0);
        EXPECT_EQ(bitmap_get_listbox_refcon(dialog, BUTTON_ITEM), 0);
        bitmap_empty_list(dialog, BUTTON_ITEM);
        bitmap_select_list_item(dialog, OK_ITEM, 0);
        size = sizeof(buffer);
        bitmap_get_listbox_row_data(dialog, BUTTON_ITEM, 0, buffer, &size);
        EXPECT_EQ(size, 0);
    }
    EXPECT_EQ(bitmap_get_listbox_row_count(dialog, LIST_ITEM), 20);
    {
        expected_assertions expect(1, "control");
        EXPECT_EQ(bitmap_add_data_to_list(dialog, 9, "x", 1, 10, true), -1);
    }
    EXPECT_EQ(bitmap_add_data_to_list(nullptr, LIST_ITEM, "x", 1, 10, true), -1);
}

// ---- drawn with the demo art ---------------------------------------------------------

const rectangle2d picture_dialog_bounds = {60, 100, 420, 540};
const rectangle2d picture_list_bounds = {20, 20, 220, 260};

// Rows as the list-based controls draw them: a highlight when selected, the
// text in the list colours.
void draw_text_row(bitmap_data *destination, const rectangle2d *row, const rectangle2d *clip, const void *data,
                   int16_t length, int16_t font_id, uint16_t flags)
{
    rgb_color color;
    if (flags & _row_selected_flag)
    {
        get_dialog_color(&color, _dialog_list_highlight_color);
        fill_rectangle_clipped(destination, &color, row, clip, 16384, get_transparency_table(_transparency_normal));
        get_dialog_color(&color, _dialog_list_highlighted_text_color);
    }
    else
    {
        get_dialog_color(&color, (flags & _row_enabled_flag) ? _dialog_list_enabled_text_color
                                                              : _dialog_list_disabled_text_color);
    }
    if (length <= 0 || ((const char *)data)[length - 1] != 0) return;
    rectangle2d bounds = *row;
    draw_string(destination, nullptr, &bounds, clip, font_id, -1, &color, (const char *)data, 0, 0);
}

class list_control_picture : public demo_controls_test
{
protected:
    dialog_data *dialog = nullptr;

    void SetUp() override
    {
        demo_controls_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;

        dialog_description d;
        d.bounds = picture_dialog_bounds;
        d.items = {item("list", LIST_ITEM, picture_list_bounds,
                        _list_has_shaded_background_flag | _list_scrollbars_have_background_flag |
                            _list_draw_focus_box_flag)};
        const std::vector<uint8_t> bytes = build_dialog_tag_data(d);
        write_local_tag(DIALOG_GROUP_TAG, "lstp", CURRENT_DIALOG_VERSION, bytes.data(), (int32_t)bytes.size());
        dialog = new_dialog(dialog_test_code("lstp"), nullptr, nullptr, NONE, 0);
        ASSERT_NE(dialog, nullptr);
    }
};

TEST_F(list_control_picture, a_list_is_drawn_with_a_proportional_thumb_inside_its_track)
{
    private_list_data *list = get_list_control_private_list(dialog, LIST_ITEM);
    ASSERT_NE(list, nullptr);
    bitmap_set_list_draw_proc(dialog, LIST_ITEM, draw_text_row);
    bitmap_set_list_line_height(dialog, LIST_ITEM, 18);
    char text[32];
    for (int32_t i = 0; i < 60; ++i)
    {
        snprintf(text, sizeof(text), "Row %d: %s", i, names[i % 20]);
        bitmap_add_text_to_list(dialog, LIST_ITEM, text, i % 7 != 3);
    }
    rectangle2d scrollbar, thumb;
    get_private_list_scrollbar_bounds(list, &scrollbar);
    const int32_t track = scrollbar.bottom - scrollbar.top - 28;
    for (int32_t p : {0, 100, 500, 60 * 18 - 196})
    {
        move_private_list_by_delta(list, p - get_private_list_scroll_position(list));
        ASSERT_TRUE(calculate_scroll_element_bounds(list, &scrollbar, nullptr, nullptr, &thumb));
        EXPECT_EQ(thumb.bottom - thumb.top, track * 196 / (60 * 18)) << "proportional at " << p;
        EXPECT_GE(thumb.top, scrollbar.top + 14);
        EXPECT_LE(thumb.bottom, scrollbar.bottom - 14) << "never past the track at " << p;
    }
    EXPECT_GE(thumb.bottom, scrollbar.bottom - 15) << "at the end the thumb reaches the track's end (less rounding)";
    // A thousand rows: the thumb keeps its minimum of 14.
    for (int32_t i = 0; i < 1000; ++i) bitmap_add_text_to_list(dialog, LIST_ITEM, "More", true);
    move_private_list_by_delta(list, 1 << 30);
    ASSERT_TRUE(calculate_scroll_element_bounds(list, &scrollbar, nullptr, nullptr, &thumb));
    EXPECT_EQ(thumb.bottom - thumb.top, 14);
    EXPECT_EQ(thumb.bottom, scrollbar.bottom - 14);
    // Dragging the proportional thumb: the track's ends map to 0 and the last position.
    const int16_t x = (int16_t)(scrollbar.left + 8);
    click_private_list(list, point2d{x, (int16_t)(thumb.top + 2)}, 0, false);
    ASSERT_EQ(list->item_last_clicked, _in_thumb);
    click_private_list(list, point2d{x, -500}, 0, false);
    EXPECT_EQ(get_private_list_scroll_position(list), 0);
    click_private_list(list, point2d{x, 2000}, 0, false);
    EXPECT_EQ(get_private_list_scroll_position(list), 1060 * 18 - 196);
    mouse_up_in_list(list);
    delete_row_private_list(1000, 60, list);

    move_private_list_by_delta(list, -(1 << 30));
    move_private_list_by_delta(list, 30);
    bitmap_select_list_item(dialog, LIST_ITEM, 4);
    set_dialog_focus(dialog, LIST_ITEM);
    render_dialogs(screen.bitmap);
    ASSERT_TRUE(write_bitmap_to_file_highlevel(screen.bitmap, nullptr, "pictures", "list", "png", 0));
    if (const char *keep = getenv("VESK_LIST_FRAME"))
        std::filesystem::copy_file("pictures/list.png", keep, std::filesystem::copy_options::overwrite_existing);
    // Rows were drawn inside the list and left of the scroll bar; the
    // focus box lies outside it.
    const int32_t left = picture_dialog_bounds.left, top = picture_dialog_bounds.top;
    int32_t changed_rows = 0;
    for (int32_t y = picture_list_bounds.top + 3; y < picture_list_bounds.bottom - 3; ++y)
        if (screen.pixel(left + picture_list_bounds.left + 10, top + y) !=
            screen.pixel(left + picture_list_bounds.left + 10, top + picture_list_bounds.top + 3))
            ++changed_rows;
    EXPECT_GT(changed_rows, 0);
    EXPECT_NE(screen.pixel(left + picture_list_bounds.left - 4, top + picture_list_bounds.top + 50),
              screen.pixel(left + picture_list_bounds.left - 8, top + picture_list_bounds.top + 50));
}

} // namespace

} // namespace list_control_test_file
