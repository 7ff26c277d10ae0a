// Dialog input: focus and Tab order, key precedence, press timing, the mouse,
// right clicks, the wheel, the sleep timer, and handlers that dispose of
// their own dialog.

#include <gtest/gtest.h>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "input/input_definitions.h"
#include "support/dialog_input_harness.h"
#include "support/expected_assertions.h"
#include "vesk.h"

namespace dialog_input_test_file {

namespace
{

probe_answers focusable(void)
{
    probe_answers answers;
    answers.accepts_focus = true;
    return answers;
}

// The items that got `verb`, in order.
std::vector<int16_t> items_given(int16_t verb)
{
    std::vector<int16_t> items;
    for (const probe_call &call : probe_calls())
        if (call.verb == verb) items.push_back(call.item_id);
    return items;
}

action_data tab(bool shift = false)
{
    action_data action = make_key_action(_key_tab, '\t');
    return shift ? with_action_flag(action, _shift_down_bit) : action;
}

// ---- focus ---------------------------------------------------------------------------

TEST_F(dialog_input_test, focus_starts_on_the_last_focusable_item_and_tab_follows_the_tag_both_ways)
{
    for (int16_t id : {2, 3, 5}) set_probe_answers(id, focusable());
    dialog_data *dialog = open_test_dialog("tabs", {row_item(1), row_item(2), row_item(3), row_item(4), row_item(5)});
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(get_dialog_focus(dialog), 5);

    clear_probe_calls();
    action_data action = tab();
    EXPECT_TRUE(dialogs_handled_action(&action));
    EXPECT_EQ(get_dialog_focus(dialog), 2) << "forward Tab wraps from the tag's last item to its first";
    // The old item hears that it lost the focus, the new one that it gained it.
    const std::vector<probe_call> losing = probe_calls_for(5, _control_focus_verb);
    ASSERT_EQ(losing.size(), 1u);
    EXPECT_FALSE(losing[0].gaining_focus);
    ASSERT_FALSE(probe_calls_for(2, _control_focus_verb).empty());
    EXPECT_TRUE(probe_calls_for(2, _control_focus_verb).back().gaining_focus);

    const struct
    {
        bool shift;
        int16_t focus;
    } steps[] = {{false, 3}, {false, 5}, {true, 3}, {true, 2}, {true, 5}, {false, 2}};
    for (const auto &step : steps)
    {
        action = tab(step.shift);
        EXPECT_TRUE(dialogs_handled_action(&action));
        EXPECT_EQ(get_dialog_focus(dialog), step.focus) << (step.shift ? "shift-Tab" : "Tab");
    }
    EXPECT_TRUE(items_given(_control_key_verb).empty()) << "a Tab that moved the focus is not a key";
}

TEST_F(dialog_input_test, a_tab_nobody_takes_never_reaches_the_focused_item_unless_the_dialog_ignores_tab)
{
    probe_answers typist;
    typist.uses_keys = true;
    set_probe_answers(1, typist);

    dialog_data *dialog = open_test_dialog("tab1", {row_item(1)});
    ASSERT_NE(dialog, nullptr);
    set_dialog_focus(dialog, 1); // focus given by code to an item that refuses Tab
    clear_probe_calls();
    action_data action = tab();
    EXPECT_FALSE(dialogs_handled_action(&action));
    EXPECT_TRUE(items_given(_control_key_verb).empty());
    EXPECT_TRUE(handler_calls.empty());
    dispose_dialog(dialog);

    dialog = open_test_dialog("tab2", {row_item(1)}, _dialog_ignores_tab_key_flag);
    ASSERT_NE(dialog, nullptr);
    set_dialog_focus(dialog, 1);
    clear_probe_calls();
    action = tab();
    EXPECT_TRUE(dialogs_handled_action(&action));
    EXPECT_EQ(items_given(_control_key_verb), std::vector<int16_t>{1});
    EXPECT_EQ(handled_items(), std::vector<int16_t>{1}) << "a used key calls the handler for the focused item";
}

// ---- keys ---------------------------------------------------------------------------------

TEST_F(dialog_input_test, keyboard_equivalents_come_before_the_focused_item)
{
    enum
    {
        default_item = 1,
        cancel_item,
        letter_item,
        control_letter_item,
        field_item,
        disabled_item,
        accented_item,
    };
    for (int16_t id = default_item; id <= accented_item; ++id) set_probe_answers(id, presses_at_once());
    probe_answers field = focusable();
    field.uses_keys = true;
    set_probe_answers(field_item, field);

    std::vector<dialog_item_description> items;
    for (int16_t id = default_item; id <= accented_item; ++id) items.push_back(row_item(id));
    dialog_data *dialog = open_test_dialog("keys", items);
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(get_dialog_focus(dialog), field_item);
    set_default_dialog_item(dialog, default_item);
    set_dialog_cancel_item(dialog, cancel_item);
    set_dialog_item_keyboard_equivalent(dialog, letter_item, 'a', NONE);
    set_dialog_item_keyboard_equivalent(dialog, control_letter_item, 'k', _control_down_bit);
    set_dialog_item_keyboard_equivalent(dialog, disabled_item, 'z', NONE);
    bitmap_set_item_enabled(dialog, disabled_item, false);
    set_dialog_item_keyboard_equivalent(dialog, accented_item, (int16_t)(signed char)0xE9, NONE); // é as a signed char

    const struct
    {
        const char *name;
        action_data action;
        int16_t pressed; // NONE: the key goes to the focused field
    } cases[] = {
        {"Return", make_key_action(_key_return, '\r'), default_item},
        {"keypad Enter", make_key_action(_keypad_enter, '\r'), default_item},
        {"Escape", make_key_action(_key_escape, 27), cancel_item},
        {"command-.", with_action_flag(make_key_action(_key_greater_than, '.'), _command_down_bit), cancel_item},
        {"a plain '.'", make_key_action(_key_greater_than, '.'), NONE},
        {"'a'", make_key_action(_key_a, 'a'), letter_item},
        {"'A'", with_action_flag(make_key_action(_key_a, 'A'), _shift_down_bit), letter_item},
        {"'k' without control", make_key_action(_key_k, 'k'), NONE},
        {"control-'k'", with_action_flag(make_key_action(_key_k, 'k'), _control_down_bit), control_letter_item},
        {"'z' of a disabled item", make_key_action(_key_z, 'z'), NONE},
        {"é as an unsigned byte", make_key_action(_key_e, 0xE9), accented_item},
        {"É is not é", make_key_action(_key_e, 0xC9), NONE},
    };
    for (const auto &test_case : cases)
    {
        SCOPED_TRACE(test_case.name);
        clear_probe_calls();
        handler_calls.clear();
        action_data action = test_case.action;
        EXPECT_TRUE(dialog_handled_action(dialog, &action));
        if (test_case.pressed == NONE)
        {
            EXPECT_TRUE(items_given(_control_click_verb).empty());
            EXPECT_EQ(items_given(_control_key_verb), std::vector<int16_t>{field_item});
            EXPECT_EQ(handled_items(), std::vector<int16_t>{field_item});
            continue;
        }
        EXPECT_EQ(items_given(_control_click_verb), std::vector<int16_t>{test_case.pressed});
        EXPECT_TRUE(items_given(_control_key_verb).empty());
        // A key press is a click at the item's centre, fired on the next action.
        const std::vector<probe_call> clicks = probe_calls_for(test_case.pressed, _control_click_verb);
        ASSERT_EQ(clicks.size(), 1u);
        EXPECT_EQ(clicks[0].action.pointer.x, 10 + 50 * (test_case.pressed - 1) + 20);
        EXPECT_EQ(clicks[0].action.pointer.y, 25);
        EXPECT_TRUE(handler_calls.empty());
        action_data next = make_test_action();
        EXPECT_TRUE(handle_dialog_item_down(dialog, &next));
        EXPECT_EQ(handled_items(), std::vector<int16_t>{test_case.pressed});
    }
}

// ---- presses ----------------------------------------------------------------------------

TEST_F(dialog_input_test, a_press_fires_when_its_delay_has_run_out_by_time_delta)
{
    const struct
    {
        const char *name;
        uint16_t flags;
        int32_t time_delta;
        int32_t fires_on_action; // 1 = the first action after the press
        std::vector<uint16_t> states; // the item's state after each action
    } cases[] = {
        {"plain", 0, 1, 1, {0, 0, 0}},
        {"visible click", _control_requires_visible_click_time_flag, 1, 3, {1, 0, 0}},
        {"visible click, three ticks at once", _control_requires_visible_click_time_flag, 3, 1, {0, 0, 0}},
        {"no delay", _control_requires_visible_click_time_flag | _control_has_no_delay_flag, 1, 1, {0, 0, 0}},
        {"no delay, animated",
         _control_requires_visible_click_time_flag | _control_has_no_delay_flag |
             _control_animates_despite_no_delay_flag,
         1, 1, {1, 0, 0}},
    };
    int32_t index = 0;
    for (const auto &test_case : cases)
    {
        SCOPED_TRACE(test_case.name);
        set_probe_answers(1, presses_at_once());
        const std::string subgroup = "prs" + std::to_string(index++);
        dialog_data *dialog = open_test_dialog(subgroup.c_str(), {row_item(1)});
        ASSERT_NE(dialog, nullptr);
        find_control(dialog, 1)->flags |= test_case.flags;
        handler_calls.clear();

        action_data press = make_click_action(screen_x(15), screen_y(15));
        press.time = 777;
        ASSERT_TRUE(press_item(dialog, &press, 1));
        EXPECT_EQ(find_control(dialog, 1)->state,
                  (test_case.flags & _control_requires_visible_click_time_flag) ? 1 : 0);
        for (int32_t n = 1; n <= 3; ++n)
        {
            // Off the dialog: the pending press uses the action without keeping it.
            action_data action = make_test_action(test_case.time_delta);
            EXPECT_FALSE(dialogs_handled_action(&action));
            EXPECT_EQ(handler_calls.size(), n >= test_case.fires_on_action ? 1u : 0u) << "action " << n;
            EXPECT_EQ(find_control(dialog, 1)->state, test_case.states[n - 1]) << "action " << n;
        }
        ASSERT_EQ(handler_calls.size(), 1u);
        EXPECT_EQ(handler_calls[0].item_id, 1);
        EXPECT_EQ(handler_calls[0].action.time, 777) << "the handler gets the action of the press";
        dispose_dialog(dialog);
    }
}

TEST_F(dialog_input_test, a_press_dragged_out_and_back_fires_once_on_the_action_after_the_release)
{
    dialog_data *dialog = open_test_dialog("drag", {row_item(1)});
    ASSERT_NE(dialog, nullptr);
    const action_data script[] = {
        make_click_action(screen_x(20), screen_y(20)),   make_hold_action(screen_x(200), screen_y(150)),
        make_hold_action(screen_x(25), screen_y(25)),    make_release_action(screen_x(25), screen_y(25)),
        make_release_action(screen_x(25), screen_y(25)), make_release_action(screen_x(25), screen_y(25)),
    };
    std::vector<size_t> handled_after;
    std::vector<bool> used;
    for (const action_data &step : script)
    {
        action_data action = step;
        used.push_back(dialogs_handled_action(&action));
        handled_after.push_back(handler_calls.size());
    }
    EXPECT_EQ(handled_after, (std::vector<size_t>{0, 0, 0, 0, 1, 1}));
    EXPECT_EQ(used, (std::vector<bool>{true, true, true, true, true, false})) << "the press ends with the firing";
    EXPECT_EQ(dialog->item_inside, NONE);
}

TEST_F(dialog_input_test, the_earliest_record_wins_where_items_overlap_and_far_pointers_hit_nothing)
{
    dialog_data *dialog = open_test_dialog(
        "over", {probe_item(1, rectangle2d{10, 10, 50, 50}), probe_item(2, rectangle2d{30, 30, 80, 80})});
    ASSERT_NE(dialog, nullptr);
    action_data action = make_click_action(screen_x(40), screen_y(40));
    EXPECT_TRUE(dialogs_handled_action(&action));
    EXPECT_EQ(items_given(_control_click_verb), std::vector<int16_t>{1});
    EXPECT_EQ(dialog->item_inside, 1);
    const std::vector<probe_call> clicks = probe_calls_for(1, _control_click_verb);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].action.pointer.x, 40) << "the click verb gets dialog coordinates";
    EXPECT_EQ(clicks[0].action.pointer.y, 40);
    action = make_release_action(screen_x(40), screen_y(40));
    dialogs_handled_action(&action);

    clear_probe_calls();
    for (const point2d far : {point2d{-32768, -32768}, point2d{32767, 32767}, point2d{-32768, 32767}})
    {
        action = make_click_action(far.x, far.y);
        EXPECT_FALSE(dialogs_handled_action(&action));
    }
    EXPECT_TRUE(items_given(_control_click_verb).empty());
}

// ---- right clicks and the wheel ---------------------------------------------------------------

TEST_F(dialog_input_test, right_clicks_stop_at_a_dialog_unless_the_bindings_let_them_through)
{
    dialog_data *dialog = open_test_dialog("rclk", {row_item(1)});
    ASSERT_NE(dialog, nullptr);
    action_data inside = make_right_click_action(screen_x(150), screen_y(100));
    action_data outside = make_right_click_action(20, 20);
    EXPECT_TRUE(dialogs_handled_action(&inside));
    EXPECT_FALSE(dialogs_handled_action(&outside));

    input_definition definition = *get_input_definition();
    const mouse_control_data mouse = *get_mouse_controls();
    definition.flags |= FLAG(_input_definition_right_click_through_ui);
    slam_current_settings(&definition, &mouse, 0);
    inside = make_right_click_action(screen_x(150), screen_y(100));
    EXPECT_FALSE(dialogs_handled_action(&inside));
}

TEST_F(dialog_input_test, the_wheel_goes_to_the_item_under_the_pointer_then_to_the_focused_item)
{
    probe_answers field = focusable();
    field.uses_wheel = true;
    set_probe_answers(2, field);
    probe_answers list;
    list.uses_wheel = true;
    set_probe_answers(3, list);
    dialog_data *dialog = open_test_dialog("whel", {row_item(1), row_item(2), row_item(3)});
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(get_dialog_focus(dialog), 2);

    const struct
    {
        const char *name;
        point2d pointer; // screen
        std::vector<int16_t> asked;
        bool used;
    } cases[] = {
        {"over an item that does not use it", {screen_x(20), screen_y(20)}, {1, 2}, true},
        {"over an item that uses it", {screen_x(120), screen_y(20)}, {3}, true},
        {"over no item", {screen_x(200), screen_y(150)}, {2}, true},
        {"off the dialog", {20, 20}, {2}, true},
    };
    for (const auto &test_case : cases)
    {
        SCOPED_TRACE(test_case.name);
        clear_probe_calls();
        action_data action = make_wheel_action(test_case.pointer.x, test_case.pointer.y, 40);
        EXPECT_EQ(dialogs_handled_action(&action), test_case.used);
        EXPECT_EQ(items_given(_control_wheel_verb), test_case.asked);
        for (const probe_call &call : probe_calls_for(NONE, _control_wheel_verb))
        {
            EXPECT_EQ(call.action.pointer.x, test_case.pointer.x - 100) << "dialog coordinates";
            EXPECT_EQ(call.action.wheel_delta, 40);
        }
    }

    set_dialog_focus(dialog, NONE);
    clear_probe_calls();
    action_data action = make_wheel_action(20, 20, 40);
    EXPECT_FALSE(dialogs_handled_action(&action)) << "nobody to take it";
}

// ---- the sleep timer ------------------------------------------------------------------------

TEST_F(dialog_input_test, a_sleeping_dialog_hears_none_each_time_its_ticks_have_passed)
{
    const struct
    {
        int32_t time_delta;
        std::vector<int32_t> fired_on; // action numbers, from 1
    } cases[] = {{1, {5, 10}}, {2, {3, 6, 9}}, {0, {}}};
    int32_t index = 0;
    for (const auto &test_case : cases)
    {
        SCOPED_TRACE(test_case.time_delta);
        const std::string subgroup = "slp" + std::to_string(index++);
        dialog_data *dialog = open_test_dialog(subgroup.c_str(), {row_item(1)}, 0, 5);
        ASSERT_NE(dialog, nullptr);
        handler_calls.clear();
        std::vector<int32_t> fired_on;
        for (int32_t n = 1; n <= 10; ++n)
        {
            action_data action = make_test_action(test_case.time_delta);
            dialogs_handled_action(&action);
            if (handler_calls.size() > fired_on.size()) fired_on.push_back(n);
        }
        EXPECT_EQ(fired_on, test_case.fired_on);
        for (const handler_call &call : handler_calls) EXPECT_EQ(call.item_id, NONE);
        dispose_dialog(dialog);
    }

    dialog_description description;
    description.bounds = {100, 100, 300, 400};
    description.items = {row_item(1)};
    dialog_data *dialog = open_dialog("nohd", description, 0, nullptr, nullptr, 1);
    ASSERT_NE(dialog, nullptr);
    expected_assertions expect(1, "dialog has no handler: bounds: (#100,#100,#400,#300)");
    action_data action = make_test_action();
    dialogs_handled_action(&action);
}

// ---- handlers that dispose of their own dialog ----------------------------------------------------

TEST_F(dialog_input_test, a_handler_may_dispose_of_its_dialog_from_a_press_a_key_or_the_sleep_timer)
{
    handler_disposes_dialog = true;
    probe_answers typist = focusable();
    typist.uses_keys = true;
    set_probe_answers(2, typist);
    const rectangle2d bounds = {100, 100, 300, 400};

    // Behind each dialog lies another, which must not see the disposed one's action.
    dialog_data *behind = open_test_dialog("bhnd", {row_item(1)});
    ASSERT_NE(behind, nullptr);
    behind->dialog_handler = nullptr;

    {
        SCOPED_TRACE("press");
        dialog_data *dialog = open_test_dialog("dsp1", {row_item(1)});
        ASSERT_NE(dialog, nullptr);
        action_data action = make_click_action(screen_x(20), screen_y(20));
        EXPECT_TRUE(dialogs_handled_action(&action));
        action = make_release_action(screen_x(20), screen_y(20));
        EXPECT_TRUE(dialogs_handled_action(&action));
        action = make_release_action(screen_x(20), screen_y(20));
        EXPECT_TRUE(dialogs_handled_action(&action)); // fires; the handler disposes
        EXPECT_EQ(handled_items(), std::vector<int16_t>{1});
    }
    {
        SCOPED_TRACE("key");
        handler_calls.clear();
        dialog_data *dialog = open_test_dialog("dsp2", {row_item(1), row_item(2)});
        ASSERT_NE(dialog, nullptr);
        ASSERT_EQ(get_dialog_focus(dialog), 2);
        action_data action = make_key_action(_key_q, 'q');
        EXPECT_TRUE(dialogs_handled_action(&action));
        EXPECT_EQ(handled_items(), std::vector<int16_t>{2});
    }
    {
        SCOPED_TRACE("sleep timer");
        handler_calls.clear();
        dialog_data *dialog = open_test_dialog("dsp3", {row_item(1)}, 0, 1);
        ASSERT_NE(dialog, nullptr);
        action_data action = make_wheel_action(screen_x(20), screen_y(20), 40);
        dialogs_handled_action(&action);
        EXPECT_EQ(handled_items(), std::vector<int16_t>{NONE});
    }
    {
        SCOPED_TRACE("a key equivalent pressed by code, fired by the main loop");
        handler_calls.clear();
        set_probe_answers(1, presses_at_once());
        dialog_data *dialog = open_test_dialog("dsp4", {row_item(1)});
        ASSERT_NE(dialog, nullptr);
        set_default_dialog_item(dialog, 1);
        add_script_steps({action_step(make_key_action(_key_return, '\r')), action_step(make_test_action())});
        update_everything();
        update_everything();
        EXPECT_EQ(handled_items(), std::vector<int16_t>{1});
    }

    // Only the dialog behind is left, and it still works.
    EXPECT_EQ(get_dialog_item_count(behind), 1);
    dispose_dialog(behind);
    EXPECT_FALSE(dialog_exists_in_rectangle(&bounds));
}

} // namespace

} // namespace dialog_input_test_file
