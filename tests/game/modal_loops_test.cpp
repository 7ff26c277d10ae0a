// Modal loops, modal dialogs and the wait with its delayed wait dialog, run
// through the real main loop with a scripted pass.

#include <gtest/gtest.h>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "game_states.h"
#include "game_time.h"
#include "input/input_definitions.h"
#include "modal_loops.h"
#include "support/dialog_input_harness.h"
#include "support/expected_assertions.h"
#include "vesk.h"

namespace modal_loops_test_file {

namespace
{

// A pass with the action of a tick on which nothing happened (a pending press
// advances on it; a pass without any action advances nothing).
script_step tick(void)
{
    return action_step(make_test_action());
}

class modal_loops : public dialog_input_test
{
protected:
    void SetUp() override
    {
        dialog_input_test::SetUp();
        game_->state = _game_state_displaying_main_menu;
    }
};

// ---- modal loops ------------------------------------------------------------------------

struct loop_record
{
    int32_t passes_to_run;
    int32_t passes = 0;
    std::vector<int16_t> states_seen;
    std::vector<int16_t> keys_seen;
};

bool counting_loop(void *data, action_data *action)
{
    loop_record *record = (loop_record *)data;
    record->states_seen.push_back(game_->state);
    if (action)
    {
        record->keys_seen.push_back(action->key_code);
        return action->key_code == _key_a; // uses 'a' only
    }
    return ++record->passes >= record->passes_to_run;
}

TEST_F(modal_loops, a_loop_sees_each_action_before_the_dialogs_and_restores_the_state)
{
    probe_answers typist;
    typist.accepts_focus = true;
    typist.uses_keys = true;
    set_probe_answers(1, typist);
    dialog_data *dialog = open_test_dialog("back", {row_item(1)});
    ASSERT_NE(dialog, nullptr);

    add_script_steps({action_step(make_key_action(_key_a, 'a')), action_step(make_key_action(_key_b, 'b')),
                      idle_step()});
    loop_record record = {3};
    modal_loop(&record, counting_loop, _game_state_modal_loop);

    EXPECT_EQ(script_passes(), 3);
    EXPECT_EQ(record.keys_seen, (std::vector<int16_t>{_key_a, _key_b}));
    for (int16_t state : record.states_seen) EXPECT_EQ(state, _game_state_modal_loop);
    // What the loop did not use went on to the (non-modal) dialogs.
    std::vector<int16_t> keys_to_dialog;
    for (const probe_call &call : probe_calls_for(1, _control_key_verb)) keys_to_dialog.push_back(call.action.key_code);
    EXPECT_EQ(keys_to_dialog, std::vector<int16_t>{_key_b});

    EXPECT_EQ(game_->state, _game_state_displaying_main_menu);
    action_data action = make_key_action(_key_a, 'a');
    EXPECT_FALSE(modal_loop_handled_action(&action)) << "no loop runs any more";
}

struct nested_record
{
    std::vector<int16_t> states;
    bool inner_ran = false;
};

bool inner_loop(void *data, action_data *action)
{
    if (!action) ((nested_record *)data)->states.push_back(game_->state);
    return action == nullptr;
}

bool outer_loop(void *data, action_data *action)
{
    nested_record *record = (nested_record *)data;
    if (action) return false;
    record->states.push_back(game_->state);
    if (!record->inner_ran)
    {
        record->inner_ran = true;
        modal_loop(record, inner_loop, _game_state_modal_draw_loop);
        record->states.push_back(game_->state);
        return false;
    }
    return true;
}

TEST_F(modal_loops, nested_loops_each_return_to_the_state_they_interrupted)
{
    add_script_steps({idle_step(), idle_step(), idle_step()});
    nested_record record;
    modal_loop(&record, outer_loop, _game_state_modal_loop);
    EXPECT_EQ(record.states, (std::vector<int16_t>{_game_state_modal_loop, _game_state_modal_draw_loop,
                                                    _game_state_modal_loop, _game_state_modal_loop}));
    EXPECT_EQ(game_->state, _game_state_displaying_main_menu);
    EXPECT_EQ(game_->state_when_in_modal_loop, _game_state_displaying_main_menu);
}

TEST_F(modal_loops, a_loop_without_a_procedure_or_in_a_state_that_is_not_modal_does_not_run)
{
    loop_record record = {1};
    {
        expected_assertions expect(2);
        modal_loop(&record, nullptr, _game_state_modal_loop);
        modal_loop(&record, counting_loop, _game_state_running);
    }
    EXPECT_EQ(script_passes(), 0);
    EXPECT_EQ(game_->state, _game_state_displaying_main_menu);
}

// ---- modal dialogs --------------------------------------------------------------------------

TEST_F(modal_loops, a_modal_dialog_sleeps_for_passes_and_otherwise_waits_for_an_item)
{
    const struct
    {
        int16_t sleep_time;
        int32_t passes;
    } cases[] = {{0, 1}, {2, 3}};
    int32_t index = 0;
    for (const auto &test_case : cases)
    {
        SCOPED_TRACE(test_case.sleep_time);
        const std::string subgroup = "slp" + std::to_string(index++);
        dialog_data *dialog = open_test_dialog(subgroup.c_str(), {row_item(1)}, 0, test_case.sleep_time);
        ASSERT_NE(dialog, nullptr);
        restart_main_loop_script();
        for (int32_t n = 0; n < test_case.passes; ++n) add_script_step(idle_step());
        EXPECT_EQ(modal_dialog(dialog), NONE);
        EXPECT_EQ(script_passes(), test_case.passes);
        EXPECT_EQ(game_->state, _game_state_displaying_main_menu);
        dispose_dialog(dialog);
    }

    // Without a sleep time only a fired item ends it.  A dialog behind hears nothing meanwhile.
    set_probe_answers(1, presses_at_once());
    dialog_data *behind = open_test_dialog("bhnd", {row_item(1), row_item(2)});
    dialog_data *dialog = open_test_dialog("wait", {row_item(1), row_item(2)});
    ASSERT_NE(dialog, nullptr);
    set_default_dialog_item(dialog, 1);
    restart_main_loop_script();
    bool others_heard = false;
    auto ask_the_others = [&](action_data &action) {
        action_data copy = action;
        others_heard |= dialogs_handled_action(&copy);
    };
    add_script_steps({idle_step(), call_step(ask_the_others, make_click_action(300, 250)), idle_step(),
                      action_step(make_key_action(_key_return, '\r')), tick(), tick()});
    clear_probe_calls();
    EXPECT_EQ(modal_dialog(dialog), 1);
    EXPECT_EQ(script_passes(), 5) << "Return presses; the next pass fires and ends the loop";
    EXPECT_FALSE(others_heard) << "no other dialog takes input while a modal dialog runs";
    for (const probe_call &call : probe_calls())
    {
        if (call.verb == _control_click_verb || call.verb == _control_key_verb || call.verb == _control_wheel_verb)
        {
            EXPECT_NE(call.dialog, behind);
        }
    }
    EXPECT_EQ(handled_items(), std::vector<int16_t>{1}) << "the handler still hears the item";
    EXPECT_EQ(game_->state, _game_state_displaying_main_menu);

    // The window closed while it waits: it ends as cancelled, and the quit
    // stays the pending request whatever its caller asks next.
    restart_main_loop_script();
    add_script_steps({idle_step(), call_step([](action_data &) { set_game_state(_game_state_quit); }, make_test_action(1)),
                      idle_step(), idle_step(), idle_step()});
    EXPECT_EQ(modal_dialog(dialog), NONE);
    EXPECT_LE(script_passes(), 3);
    set_game_state(_game_state_displaying_main_menu); // a cancel going back to the menu
    int16_t pending = NONE;
    EXPECT_TRUE(game_state_change_pending(&pending));
    EXPECT_EQ(pending, _game_state_quit);
    clear_pending_game_state();
    dispose_dialog(dialog);
    dispose_dialog(behind);
}

struct custom_record
{
    int32_t actions = 0;
    int32_t passes = 0;
};

bool custom_procedure(void *data, action_data *action)
{
    custom_record *record = (custom_record *)data;
    if (action)
    {
        ++record->actions;
        return action->key_code == _key_x; // 'x' is the caller's
    }
    return ++record->passes == 3;
}

TEST_F(modal_loops, a_custom_procedure_sees_every_action_and_pass_first_and_ends_the_loop)
{
    // (A key the focused item used would fire it and end the dialog.)
    probe_answers field;
    field.accepts_focus = true;
    set_probe_answers(1, field);
    dialog_data *dialog = open_test_dialog("cust", {row_item(1)});
    ASSERT_NE(dialog, nullptr);
    add_script_steps({action_step(make_key_action(_key_x, 'x')), action_step(make_key_action(_key_y, 'y')),
                      idle_step(), idle_step()});
    custom_record record;
    EXPECT_EQ(custom_modal_dialog(dialog, &record, custom_procedure), NONE);
    EXPECT_EQ(record.actions, 2);
    EXPECT_EQ(record.passes, 3);
    EXPECT_EQ(script_passes(), 3);
    std::vector<int16_t> keys_to_dialog;
    for (const probe_call &call : probe_calls_for(1, _control_key_verb)) keys_to_dialog.push_back(call.action.key_code);
    EXPECT_EQ(keys_to_dialog, std::vector<int16_t>{_key_y});
    dispose_dialog(dialog);
}

// The outer dialog's item 1 runs a second dialog modally from its handler.
struct nested_dialogs
{
    dialog_data *inner = nullptr;
    int16_t inner_result = 0;
    int16_t state_in_inner = NONE;
} nested;

void inner_handler(dialog_data *dialog, int16_t item_id, action_data *action)
{
    nested.state_in_inner = game_->state;
}

void outer_handler(dialog_data *dialog, int16_t item_id, action_data *action)
{
    if (item_id == 1 && nested.inner) nested.inner_result = modal_dialog(nested.inner);
}

TEST_F(modal_loops, a_modal_dialog_inside_a_modal_dialog_keeps_both_results_and_the_state)
{
    set_probe_answers(1, presses_at_once());
    set_probe_answers(2, presses_at_once());
    dialog_description description;
    description.bounds = {100, 100, 300, 400};
    description.items = {row_item(1), row_item(2)};
    dialog_data *outer = open_dialog("outr", description, 0, outer_handler);
    nested = nested_dialogs();
    nested.inner = open_dialog("innr", description, 0, inner_handler);
    ASSERT_NE(outer, nullptr);
    ASSERT_NE(nested.inner, nullptr);
    set_default_dialog_item(outer, 1);
    set_default_dialog_item(nested.inner, 2);
    add_script_steps({action_step(make_key_action(_key_return, '\r')), tick(),
                      action_step(make_key_action(_key_return, '\r')), tick()});
    EXPECT_EQ(modal_dialog(outer), 1);
    EXPECT_EQ(nested.inner_result, 2);
    EXPECT_EQ(nested.state_in_inner, _game_state_modal_dialog);
    EXPECT_EQ(game_->state, _game_state_displaying_main_menu);
    EXPECT_EQ(script_passes(), 4);
    dispose_dialog(nested.inner);
    dispose_dialog(outer);
}

TEST_F(modal_loops, a_modal_dialog_may_be_disposed_by_its_own_handler)
{
    handler_disposes_dialog = true;
    set_probe_answers(1, presses_at_once());
    dialog_data *dialog = open_test_dialog("self", {row_item(1)});
    ASSERT_NE(dialog, nullptr);
    add_script_steps({action_step(make_click_action(120, 115)), action_step(make_release_action(120, 115)),
                      idle_step()});
    EXPECT_EQ(modal_dialog(dialog), 1);
    EXPECT_EQ(handled_items(), std::vector<int16_t>{1});
    const rectangle2d bounds = {100, 100, 300, 400};
    EXPECT_FALSE(dialog_exists_in_rectangle(&bounds));
}

TEST_F(modal_loops, a_bad_dialog_is_refused)
{
    dialog_data foreign = {};
    expected_assertions expect(1, "cookie");
    EXPECT_EQ(modal_dialog(&foreign), NONE);
    EXPECT_EQ(script_passes(), 0);
}

// ---- the wait with its delayed dialog ---------------------------------------------------------

struct wait_setting
{
    uint32_t start;
    uint32_t cancel_after; // milliseconds from the start; 0: never
    uint32_t done_after;
} waiting;

bool wait_cancel(void)
{
    return waiting.cancel_after && test_clock_milliseconds() - waiting.start >= waiting.cancel_after;
}

bool wait_done(void)
{
    return waiting.done_after && test_clock_milliseconds() - waiting.start >= waiting.done_after;
}

TEST_F(modal_loops, a_wait_ends_four_ways_and_its_wait_dialog_comes_late_and_goes_once)
{
    // The wait dialog: probes for its static text (1) and its button (2).
    set_probe_answers(2, presses_at_once());
    dialog_description wait_dialog;
    wait_dialog.bounds = {0, 0, 100, 200};
    wait_dialog.items = {probe_item(1, rectangle2d{0, 0, 100, 100}, "Waiting"),
                         probe_item(2, rectangle2d{0, 100, 100, 200}, "Cancel")};
    store_dialog("prdn", wait_dialog);

    const struct
    {
        const char *name;
        uint32_t clock_start;
        uint32_t cancel_after, done_after;
        int32_t timeout;
        bool press_cancel_item; // once the dialog shows
        int16_t result;
        bool dialog_shown;
    } cases[] = {
        {"done early", 5000, 0, 500, 3000, false, _gwait_success, false},
        {"done late", 5000, 0, 1500, 3000, false, _gwait_success, true},
        {"no time-out", 0xFFFFFC00u, 0, 4000, 0, false, _gwait_success, true},
        {"negative time-out", 5000, 0, 4000, -5, false, _gwait_success, true},
        {"timed out across the clock's wrap", 0xFFFFFC00u, 0, 0, 1500, false, _gwait_timeout, true},
        {"cancelled", 5000, 1200, 0, 0, false, _gwait_cancel, true},
        {"cancelled by the user", 5000, 0, 0, 0, true, _gwait_user_cancel, true},
    };
    for (const auto &test_case : cases)
    {
        SCOPED_TRACE(test_case.name);
        install_test_clock(test_case.clock_start);
        waiting = {test_case.clock_start, test_case.cancel_after, test_case.done_after};
        restart_main_loop_script();
        clear_probe_calls();
        int32_t shown_passes = 0;
        for (int32_t n = 0; n < 60; ++n)
        {
            auto press_when_shown = [&](action_data &action) {
                rectangle2d shown;
                if (!get_popup_dialog_union_rect(&shown)) return;
                if (++shown_passes == 2 && test_case.press_cancel_item)
                {
                    action = make_click_action((int16_t)(shown.left + 150), (int16_t)(shown.top + 50));
                }
                else if (shown_passes == 3 && test_case.press_cancel_item)
                {
                    action = make_release_action((int16_t)(shown.left + 150), (int16_t)(shown.top + 50));
                }
            };
            script_step step = call_step(press_when_shown, make_test_action(0));
            step.milliseconds = 100;
            add_script_step(step);
        }

        EXPECT_EQ(wait_for_global_with_delayed_dialog(wait_cancel, wait_done, "Waiting for the host",
                                                      test_case.timeout),
                  test_case.result);
        const size_t made = probe_calls_for(2, _control_new_verb).size();
        EXPECT_EQ(made, test_case.dialog_shown ? 1u : 0u);
        EXPECT_EQ(probe_calls_for(2, _control_dispose_verb).size(), made) << "disposed exactly once";
        if (test_case.dialog_shown)
        {
            // It appears on the first pass after more than 1000 ms.
            EXPECT_EQ(probe_calls_for(2, _control_new_verb)[0].item_id, 2);
        }
        rectangle2d left_over;
        EXPECT_FALSE(get_popup_dialog_union_rect(&left_over));
        EXPECT_EQ(game_->state, _game_state_displaying_main_menu);
    }
}

TEST_F(modal_loops, a_wait_without_a_condition_is_refused)
{
    expected_assertions expect(1, "cond");
    EXPECT_EQ(wait_for_global_with_delayed_dialog(nullptr, nullptr, nullptr, 1000), _gwait_cancel);
    EXPECT_EQ(script_passes(), 0);
}

} // namespace

} // namespace modal_loops_test_file
