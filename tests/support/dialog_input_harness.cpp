#include "support/dialog_input_harness.h"
#include "action_queue_procedures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_text.h"
#include "input/action_queue.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "support/demo_data.h"
#include "support/game_core_fixture.h"
#include "cseries/timers.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "ingame_bars.h"
#include "interface_definitions.h"
#include "tag_files/tag_files.h"
#include "vesk.h"

// ---- the test clock ------------------------------------------------------------------

// One clock: the milliseconds since it was installed, from which the local
// time (whole ticks) follows, so the two never disagree.
static struct test_clock_globals
{
    uint32_t start_milliseconds;
    uint64_t elapsed_milliseconds;
} test_clock;

static uint32_t test_machine_tick_count(void)
{
    return test_clock.start_milliseconds + (uint32_t)test_clock.elapsed_milliseconds;
}

static int64_t test_clock_ticks(void)
{
    return (int64_t)(test_clock.elapsed_milliseconds * GAME_TICKS_PER_SECOND / 1000);
}

static void store_local_time(void)
{
    game_->local_time.store((int32_t)test_clock_ticks());
}

void install_test_clock(uint32_t start_milliseconds)
{
    test_clock = {start_milliseconds, 0};
    store_local_time();
    set_machine_tick_count_for_tests(test_machine_tick_count);
}

void remove_test_clock(void)
{
    set_machine_tick_count_for_tests(nullptr);
}

void advance_test_clock_ticks(int32_t ticks)
{
    if (ticks <= 0) return;
    // The first millisecond at which the local time has advanced by `ticks`.
    const int64_t target = test_clock_ticks() + ticks;
    test_clock.elapsed_milliseconds = (uint64_t)((target * 1000 + GAME_TICKS_PER_SECOND - 1) / GAME_TICKS_PER_SECOND);
    store_local_time();
}

void advance_test_clock_milliseconds(uint32_t milliseconds)
{
    test_clock.elapsed_milliseconds += milliseconds;
    store_local_time();
}

uint32_t test_clock_milliseconds(void)
{
    return test_machine_tick_count();
}

// ---- actions ---------------------------------------------------------------------------

action_data make_test_action(int32_t time_delta)
{
    action_data action = {};
    action.time = game_->local_time.load();
    action.time_delta = time_delta;
    action.ascii_code = NONE;
    action.key_code = NONE;
    return action;
}

static action_data make_pointer_action(int16_t x, int16_t y)
{
    action_data action = make_test_action();
    action.pointer.x = x;
    action.pointer.y = y;
    return action;
}

action_data make_click_action(int16_t x, int16_t y)
{
    return with_action_flag(make_hold_action(x, y), _left_mouse_click_bit);
}

action_data make_hold_action(int16_t x, int16_t y)
{
    return with_action_flag(make_pointer_action(x, y), _left_mouse_down_bit);
}

action_data make_release_action(int16_t x, int16_t y)
{
    return make_pointer_action(x, y);
}

action_data make_key_action(int16_t key_code, int16_t ascii_code)
{
    action_data action = make_test_action();
    action.key_code = key_code;
    action.ascii_code = ascii_code;
    return action;
}

action_data make_wheel_action(int16_t x, int16_t y, int16_t wheel_delta)
{
    action_data action = make_pointer_action(x, y);
    action.wheel_delta = wheel_delta;
    return action;
}

action_data make_right_click_action(int16_t x, int16_t y)
{
    return with_action_flag(with_action_flag(make_pointer_action(x, y), _right_mouse_down_bit),
                            _right_mouse_click_bit);
}

action_data with_action_flag(action_data action, int32_t bit)
{
    set_action_flag(&action, bit);
    return action;
}

// ---- the scripted main-loop pass -----------------------------------------------------------

static struct script_globals
{
    std::deque<script_step> steps;
    bitmap_data *screen;
    int32_t passes;
    int32_t grace_passes; // idle passes handed out when the script is empty
} script;

script_step action_step(const action_data &action)
{
    script_step step;
    step.has_action = true;
    step.action = action;
    return step;
}

script_step idle_step(int32_t milliseconds)
{
    script_step step;
    step.milliseconds = milliseconds;
    return step;
}

script_step call_step(std::function<void(action_data &action)> before, const action_data &action)
{
    script_step step = action_step(action);
    step.before = std::move(before);
    return step;
}

static int32_t scripted_update_actions(void)
{
    if (script.steps.empty() && script.grace_passes > 0)
    {
        --script.grace_passes;
        script.steps.push_back(idle_step(1));
    }
    if (script.steps.empty())
    {
        ADD_FAILURE() << "the main-loop script ran dry after " << script.passes << " passes";
        throw script_ran_dry();
    }
    script_step step = script.steps.front();
    script.steps.pop_front();
    ++script.passes;
    if (step.before) step.before(step.action);

    const int32_t local_time_before = game_->local_time.load();
    if (step.milliseconds < 0)
        advance_test_clock_ticks(step.has_action ? step.action.time_delta : 0);
    else
        advance_test_clock_milliseconds((uint32_t)step.milliseconds);
    const int32_t ticks = game_->local_time.load() - local_time_before;
    if (step.has_action)
    {
        step.action.time = game_->local_time.load();
        process_action(&step.action);
    }
    return ticks;
}

static void scripted_draw_frame(int32_t game_ticks, bool world_shown)
{
    (void)game_ticks;
    (void)world_shown;
    idle_dialogs();
    if (script.screen) render_dialogs(script.screen);
}

void start_main_loop_script(bitmap_data *screen, bool program_draws)
{
    script.steps.clear();
    script.screen = screen;
    script.passes = 0;
    script.grace_passes = 0;
    // The scripted pass drains the input; the queue's other members stay the
    // program's own.
    static const action_queue_procedures queue = {.update_actions = scripted_update_actions,
                                                  .flush_actions = flush_actions,
                                                  .set_keyboard_queue_task_state = set_keyboard_queue_task_state};
    EXPECT_TRUE(register_action_queue_procedures(&queue));
    if (!program_draws)
    {
        EXPECT_TRUE(register_draw_frame_procedure(scripted_draw_frame));
    }
}

void restart_main_loop_script(void)
{
    script.steps.clear();
    script.passes = 0;
    script.grace_passes = 0;
}

void grant_script_grace_passes(int32_t passes)
{
    script.grace_passes = passes;
}

void add_script_steps(std::initializer_list<script_step> steps)
{
    for (const script_step &step : steps) add_script_step(step);
}

void add_script_step(const script_step &step)
{
    script.grace_passes = 0; // the script goes on: what it waited for is over
    script.steps.push_back(step);
}

size_t script_steps_left(void)
{
    return script.steps.size();
}

int32_t script_passes(void)
{
    return script.passes;
}

// ---- the fixture -------------------------------------------------------------------------------

static dialog_input_test *current_dialog_input_test;

void dialog_input_test::SetUp()
{
    reset_game_core();
    dialog_test::SetUp();
    register_dialog_hooks();
    install_test_clock();
    start_main_loop_script(screen.bitmap);
    input_definition definition;
    mouse_control_data mouse;
    revert_input_definition_to_default(&definition, &mouse, 0);
    slam_current_settings(&definition, &mouse, 0);
    current_dialog_input_test = this;
}

void dialog_input_test::TearDown()
{
    current_dialog_input_test = nullptr;
    dialog_test::TearDown();
    remove_test_clock();
    reset_game_core();
}

void dialog_input_test::recording_handler(dialog_data *dialog, int16_t item_id, action_data *action)
{
    dialog_input_test *test = current_dialog_input_test;
    if (!test) return;
    test->handler_calls.push_back({dialog, item_id, *action});
    if (test->handler_disposes_dialog) dispose_dialog(dialog);
}

std::vector<int16_t> dialog_input_test::handled_items(void) const
{
    std::vector<int16_t> items;
    for (const handler_call &call : handler_calls) items.push_back(call.item_id);
    return items;
}

dialog_data *dialog_input_test::open_test_dialog(const char *subgroup,
                                                 const std::vector<dialog_item_description> &items,
                                                 uint16_t flags, int16_t sleep_time)
{
    dialog_description description;
    description.bounds = {100, 100, 300, 400};
    description.items = items;
    return open_dialog(subgroup, description, flags, recording_handler, nullptr, sleep_time);
}

probe_answers presses_at_once(void)
{
    probe_answers answers;
    answers.click = _probe_click_always;
    return answers;
}

dialog_item_description row_item(int16_t id)
{
    const int16_t left = (int16_t)(10 + 50 * (id - 1));
    return probe_item(id, rectangle2d{10, left, 40, (int16_t)(left + 40)});
}

// ---- the demo's interface and the bars ---------------------------------------------------

void demo_interface_test::SetUp()
{
    // The foundation files go in before the store opens.
    mkdir(TAG_FILES_FOLDER, 0755);
    mkdir(PLUGINS_FOLDER, 0755);
    if (demo_fonts)
    {
        if (!data_tool_built()) SKIP_OR_FAIL_UNDER_CI("the data tool is not built");
        const std::vector<test_tag> *demo_tags = demo_map_tags();
        ASSERT_NE(demo_tags, nullptr);
        std::vector<test_tag> tags = *demo_tags;
        ASSERT_TRUE(use_demo_interface_fonts(data_tool_path(), &tags));
        ASSERT_TRUE(write_foundation_files(tags));
    }
    else WRITE_DEMO_FOUNDATION_FILES();
    dialog_input_test::SetUp();
    set_up = true;
    store_interface_tags();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(initialize_font_definitions());
    ASSERT_TRUE(initialize_interface());
    ASSERT_TRUE(initialize_interface_without_map());
}

void demo_interface_test::TearDown()
{
    if (!set_up)
    {
        store_fixture::store_test::TearDown();
        return;
    }
    close_all_dialogs();
    dispose_interface_from_old_map();
    dispose_font_definitions_from_old_map();
    dialog_input_test::TearDown();
}

void bar_dialogs_test::SetUp()
{
    current_gameplay_version = 1811;
    demo_interface_test::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    initialize_game_preferences(false);
    saved_preferences = get_game_preferences()->flags;
}

void bar_dialogs_test::TearDown()
{
    if (set_up)
    {
        dispose_ingame_bars_from_old_map();
        get_game_preferences()->flags = saved_preferences;
    }
    demo_interface_test::TearDown();
}
