// The progress and message dialogs on the software screen (SDL's dummy
// driver), driven by the scripted main loop and its test clock, and the
// program's registration of the front end.

#include <cstdlib>
#include <string>
#include <vector>

#include "support/dialog_input_harness.h"
#include "support/expected_assertions.h"

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/progress_bar_control.h"
#include "cseries/errors.h"
#include "front_end_hooks.h"
#include "front_end_procedures.h"
#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "message_dialog.h"
#include "progress_dialog.h"
#include "screen_sdl.h"
#include "vesk.h"
#include "screen_setup.h"
#include "subsystems.h"
#include "bitmap_dialogs/carnage_graph_control.h"
#include "bitmap_dialogs/carnage_header_control.h"
#include "bitmap_dialogs/carnage_stats_list_control.h"
#include "bitmap_dialogs/postgame_report_control.h"
#include "cseries/registration.h"
#include "game_records.h"
#include "vesk/game_statistics.h"

namespace front_end_dialogs_test_file {

namespace {

std::vector<std::string> message_boxes;
void record_message_box(const char *text) { message_boxes.push_back(text ? text : ""); }

const file_tag STAT = FOUR_CHARACTER_CODE('s', 't', 'a', 't');
const file_tag BUTT = FOUR_CHARACTER_CODE('b', 'u', 't', 't');
const file_tag PROG = FOUR_CHARACTER_CODE('p', 'r', 'o', 'g');

// The dialogs as the demo data lays them out, on the real screen (640 x 480).
class front_end_dialogs : public dialog_input_test
{
protected:
    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        dialog_input_test::SetUp();
        reset_screen_for_tests();
        initialize_screen();
        dialog_description progress;
        progress.bounds = {0, 0, 150, 400};
        progress.items = {
            {STAT, 1, {16, 20, 40, 380}, 0, 0, {0, 0}, "Loading..."},
            {PROG, 3, {52, 20, 70, 380}, 0, 0, {0, 0}, ""},
            {STAT, 4, {78, 20, 100, 380}, 0, 0, {0, 0}, ""},
            {BUTT, 2, {110, 136, 132, 264}, 0, 0, {0, 0}, "Cancel"},
        };
        store_dialog("prdb", progress);
        dialog_description message;
        message.bounds = {0, 0, 200, 400};
        message.items = {
            {STAT, 1, {16, 20, 40, 380}, 0, 0, {0, 0}, ""},
            {STAT, 2, {48, 20, 150, 380}, 0, 0, {0, 0}, ""},
            {BUTT, 3, {162, 136, 184, 264}, 0, 0, {0, 0}, "OK"},
        };
        store_dialog("mesg", message);
        message_boxes.clear();
        set_message_box_proc(record_message_box);
    }
    void TearDown() override
    {
        reset_progress_dialog();
        set_message_box_proc(nullptr);
        restore_world_device();
        reset_screen_for_tests();
        clear_screen_devices();
        dialog_input_test::TearDown();
    }
    static int32_t bar_item_fraction(void)
    {
        return get_progress_dialog() ? get_progress_bar_fraction(get_progress_dialog(), _progress_bar_item) : -1;
    }
};

TEST_F(front_end_dialogs, the_bar_fills_by_steps_of_the_expected_count_and_stays_full_beyond_it)
{
    ASSERT_TRUE(screen_surface_exists());
    const struct
    {
        const char *what;
        int32_t restore_steps; // NONE: a map load (42 expected)
        int32_t updates;
        int32_t bar;
    } cases[] = {
        {"half a map", NONE, 21, 128},
        {"a whole map", NONE, 42, 256},
        {"a map of more stages than expected", NONE, 60, 256},
        {"a restore of 10 steps, half way", 10, 5, 128},
        {"a restore of 10 steps, one step over", 10, 11, 256},
        {"a restore expecting no steps counts as 42", 0, 21, 128},
    };
    for (const auto &c : cases)
    {
        if (c.restore_steps == NONE) open_map_loading_progress_dialog(NONE, false);
        else open_save_game_restoring_progress_dialog(c.restore_steps);
        ASSERT_NE(get_progress_dialog(), nullptr) << c.what;
        EXPECT_FALSE(bitmap_get_item_visible(get_progress_dialog(), _progress_cancel_item)) << c.what;
        for (int32_t i = 0; i < c.updates; ++i)
        {
            if (c.restore_steps == NONE) update_map_loading_progress_dialog();
            else update_save_game_progress_dialog();
            ASSERT_LE(get_progress_bar_value(), PROGRESS_FULL) << c.what << " after " << i + 1;
        }
        EXPECT_EQ(get_progress_bar_value(), c.bar) << c.what;
        EXPECT_EQ(bar_item_fraction(), c.bar) << c.what;
        if (c.restore_steps == NONE) close_map_loading_progress_dialog();
        else close_save_game_progress_dialog();
        EXPECT_FALSE(progress_dialog_is_open()) << c.what;
    }
}

// The core reports each of its map steps with their count: the bar is full
// at the last, which closes the dialog; a load that stopped part way leaves
// its dialog to the next load's first step.
TEST_F(front_end_dialogs, the_cores_map_steps_fill_the_bar_and_the_last_closes_it)
{
    for (int32_t step = 1; step < 10; ++step) map_loading_progress(step, 32);
    EXPECT_TRUE(progress_dialog_is_open());
    EXPECT_EQ(get_progress_bar_value(), 9 * 256 / 32);
    for (int32_t step = 1; step < 32; ++step) map_loading_progress(step, 32);
    EXPECT_EQ(get_progress_bar_value(), 31 * 256 / 32) << "started again at the first step";
    map_loading_progress(32, 32);
    EXPECT_FALSE(progress_dialog_is_open());
}

TEST_F(front_end_dialogs, a_delayed_dialog_draws_nothing_for_five_seconds_of_the_clock)
{
    progress_function(_progress_open_delayed, "Waiting for the host", 0);
    ASSERT_NE(get_progress_dialog(), nullptr);
    EXPECT_FALSE(bitmap_get_item_visible(get_progress_dialog(), _progress_cancel_item));
    screen.fill();
    for (uint32_t elapsed = 0; elapsed < PROGRESS_DELAY_MILLISECONDS; elapsed += 1000)
    {
        progress_function(_progress_set_bar, nullptr, (int32_t)elapsed / 40);
        progress_function(_progress_draw_now, nullptr, 0);
        advance_test_clock_milliseconds(elapsed + 1000 < PROGRESS_DELAY_MILLISECONDS ? 1000 : 999);
    }
    EXPECT_EQ(screen.count_changed(), 0) << "drawn within the delay";
    advance_test_clock_milliseconds(1);
    progress_function(_progress_draw_now, nullptr, 0);
    EXPECT_GT(screen.count_changed(), 0) << "drawn once the delay is over";
    screen.fill();
    progress_function(_progress_draw_now, nullptr, 0);
    EXPECT_EQ(screen.count_changed(), 0) << "nothing dirty: nothing drawn again";
}

TEST_F(front_end_dialogs, verbs_on_a_closed_dialog_do_nothing_and_misuse_is_refused)
{
    for (int16_t verb : {_progress_close, _progress_set_bar, _progress_set_message, _progress_draw_now})
    {
        EXPECT_EQ(progress_function(verb, "text", 99), 0) << verb;
        EXPECT_FALSE(progress_dialog_is_open()) << verb;
    }
    EXPECT_EQ(script_passes(), 0);
    {
        expected_assertions expect(1, "progress_bar_globals.dialog");
        EXPECT_EQ(progress_function(_progress_modal_pass, nullptr, 0), 0);
    }
    {
        expected_assertions expect(1, "halt");
        EXPECT_EQ(progress_function(NUMBER_OF_PROGRESS_VERBS, nullptr, 0), 0);
    }
    progress_function(_progress_open_without_bar, nullptr, 0);
    {
        expected_assertions expect(1, "progress_bar_globals.has_bar");
        progress_function(_progress_set_bar, nullptr, 100);
    }
    {
        expected_assertions expect(1, "!progress_bar_globals.dialog");
        progress_function(_progress_open_with_bar, nullptr, 0);
    }
    EXPECT_EQ(get_progress_bar_value(), 0);
    progress_function(_progress_close, nullptr, 0);
    EXPECT_FALSE(progress_dialog_is_open());
}

// Between its modal passes the dialog stays open while the main loop runs (a
// restore's fast-forward, a network wait): its sleep timer then runs out
// every pass, which must find a handler (any assertion fails the test).
TEST_F(front_end_dialogs, an_open_dialog_outlives_main_loop_passes)
{
    open_save_game_restoring_progress_dialog(10);
    ASSERT_NE(get_progress_dialog(), nullptr);
    for (int i = 0; i < 5; ++i) add_script_step(action_step(make_test_action(1)));
    while (script_steps_left() > 0) update_everything();
    EXPECT_TRUE(progress_dialog_is_open());
    close_save_game_progress_dialog();
}

TEST_F(front_end_dialogs, a_pending_error_outside_a_game_opens_the_message_dialog_until_ok)
{
    ASSERT_TRUE(screen_surface_exists());
    bool shown = false;
    // The dialog (400 x 200) is centred: OK is at (120 + 200, 140 + 173).
    add_script_step(call_step([&](action_data &) { shown = get_modal_dialog() != nullptr; }, make_test_action(1)));
    add_script_steps({action_step(make_click_action(320, 313)), action_step(make_release_action(320, 313))});
    for (int i = 0; i < 12; ++i) add_script_step(action_step(make_test_action(1)));
    game_->state = _game_state_displaying_main_menu;
    report_pending_error_in_front_end(_error_data_missing, "The film cannot be read.");
    EXPECT_TRUE(shown);
    EXPECT_EQ(get_modal_dialog(), nullptr) << "OK closed it";
    EXPECT_TRUE(message_boxes.empty());

    // A program on its way out asks nobody to press OK: the system's box says it.
    set_game_state(_game_state_quit);
    report_pending_error_in_front_end(_error_data_missing, "Still unreadable.");
    EXPECT_EQ(message_boxes, std::vector<std::string>{"Still unreadable."});
    clear_pending_game_state();
}

} // namespace

// ---- the program's registration -------------------------------------------------------

namespace {

TEST(front_end_registration, the_program_fills_the_progress_pending_error_and_game_over_members_and_the_report_controls)
{
    clear_all_registrations();
    register_built_subsystems();
    EXPECT_EQ(get_front_end_procedures()->map_loading_progress, map_loading_progress);
    EXPECT_EQ(get_front_end_procedures()->game_over, front_end_game_over);
    EXPECT_EQ(get_front_end_procedures()->report_pending_error, report_pending_error_in_front_end);
    EXPECT_EQ(find_control_handler(POSTGAME_REPORT_CONTROL_TAG), postgame_report_control_def_proc);
    EXPECT_EQ(find_control_handler(CARNAGE_GRAPH_CONTROL_TAG), carnage_graph_control_handler);
    EXPECT_EQ(find_control_handler(CARNAGE_HEADER_CONTROL_TAG), carnage_header_control_handler);
    EXPECT_EQ(find_control_handler(CARNAGE_STATS_LIST_CONTROL_TAG), carnage_stats_list_control_handler);
    clear_all_registrations();
}

} // namespace

// ---- the end of a single-player game -------------------------------------------------

namespace {

int32_t epilogues_entered = 0;
void enter_epilogue(void) { ++epilogues_entered; }

// The report as the demo data lays it out, centred: its top-left is (10, 40).
class carnage_report : public front_end_dialogs
{
protected:
    void SetUp() override
    {
        front_end_dialogs::SetUp();
        register_control_procedure(CARNAGE_STATS_LIST_CONTROL_TAG, carnage_stats_list_control_handler);
        register_control_procedure(CARNAGE_GRAPH_CONTROL_TAG, carnage_graph_control_handler);
        register_control_procedure(CARNAGE_HEADER_CONTROL_TAG, carnage_header_control_handler);
        dialog_description report;
        report.bounds = {0, 0, 400, 620};
        report.items = {
            {CARNAGE_HEADER_CONTROL_TAG, 4, {44, 20, 66, 600}, 0, 0, {0, 0}, ""},
            {CARNAGE_STATS_LIST_CONTROL_TAG, 2, {66, 20, 330, 600}, 0, 0, {0, 0}, ""},
            {CARNAGE_GRAPH_CONTROL_TAG, 3, {66, 20, 330, 600}, 0, 0, {0, 0}, ""},
        };
        for (int16_t button = 5; button <= 11; ++button)
            report.items.push_back({BUTT, button, {342, (int16_t)(20 + (button - 5) * 76), 364, (int16_t)(90 + (button - 5) * 76)},
                                    0, 0, {0, 0}, "view"});
        report.items.push_back({BUTT, 1, {370, 520, 392, 600}, 0, 0, {0, 0}, "Done"});
        store_dialog("pocr", report);
        saved_type = game_->type;
        saved_scoring = game_->scoring;
    }
    void TearDown() override
    {
        close_postgame_carnage_report_dialog();
        pause_game(false);
        clear_pending_game_state();
        game_->type = saved_type;
        game_->scoring = saved_scoring;
        front_end_dialogs::TearDown();
    }
    // Clicks the report's button `item` and runs the passes for the press to fire.
    static void click_button(int16_t item)
    {
        const int16_t x = (int16_t)(10 + (item == 1 ? 560 : 55 + (item - 5) * 76)), y = (int16_t)(40 + (item == 1 ? 381 : 353));
        add_script_steps({action_step(make_click_action(x, y)), action_step(make_release_action(x, y))});
        for (int i = 0; i < 12; ++i) add_script_step(action_step(make_test_action(1)));
        while (script_steps_left() > 0) update_everything();
    }
    int16_t saved_type = 0, saved_scoring = 0;
};

TEST_F(carnage_report, a_single_player_games_end_shows_the_report_over_the_paused_game_until_done)
{
    game_->type = _game_type_local;
    game_->scoring = 0;
    front_end_game_over();
    dialog_data *dialog = get_postgame_carnage_report_dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(game_is_paused());
    EXPECT_FALSE(game_state_change_pending(nullptr));
    EXPECT_FALSE(bitmap_get_item_enabled(dialog, 7)) << "the score graph is cattle drive's";
    EXPECT_TRUE(bitmap_get_item_enabled(dialog, 9));
    EXPECT_EQ(get_carnage_stats_type(dialog, 2), 0);

    click_button(9); // damage
    EXPECT_TRUE(bitmap_get_item_visible(dialog, 3));
    EXPECT_FALSE(bitmap_get_item_visible(dialog, 2));
    EXPECT_EQ(get_carnage_graph_type(dialog, 3), 2);
    int16_t type = NONE;
    bool graph = false;
    get_carnage_report_view(&type, &graph);
    EXPECT_TRUE(graph);
    EXPECT_EQ(type, 2);
    click_button(5); // back to the players
    EXPECT_TRUE(bitmap_get_item_visible(dialog, 2));
    EXPECT_FALSE(bitmap_get_item_visible(dialog, 3));
    EXPECT_TRUE(game_is_paused());

    get_carnage_report_view(&type, &graph);
    EXPECT_FALSE(graph);
    EXPECT_EQ(type, 0);

    // What follows a single-player game: the epilogue, entered once the report is done.
    epilogues_entered = 0;
    ASSERT_TRUE(register_game_state_procedures(_game_state_displaying_mesh_epilogue, enter_epilogue, nullptr));
    click_button(1);
    EXPECT_FALSE(postgame_carnage_report_dialog_is_open());
    EXPECT_FALSE(game_is_paused());
    EXPECT_EQ(epilogues_entered, 1);
}

TEST_F(carnage_report, other_games_go_straight_to_what_follows_them)
{
    game_->type = _game_type_networked;
    front_end_game_over();
    EXPECT_FALSE(postgame_carnage_report_dialog_is_open());
    int16_t next = NONE;
    ASSERT_TRUE(game_state_change_pending(&next));
    EXPECT_EQ(next, _game_state_post_game);
}

} // namespace

} // namespace front_end_dialogs_test_file
