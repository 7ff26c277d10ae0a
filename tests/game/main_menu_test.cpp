// The main menu without a screen: its size comes from the dialog tag's
// bounds (the caller's defaults when the tag cannot be read), the state's
// entry quits when there is no screen to show the menu on, and the plug-in
// question is answered no when it cannot be asked.  The menu on a screen is
// checked end to end by vesk_shot_test.

#include <cstdlib>

#include "support/dialog_harness.h"
#include "support/dialog_input_harness.h"

#include "game_states.h"
#include "game_time.h"
#include "main_menu.h"
#include "screen_sdl.h"
#include "screen_setup.h"

namespace main_menu_test_file {

namespace {

class main_menu : public dialog_test
{
protected:
    void TearDown() override
    {
        clear_pending_game_state();
        dialog_test::TearDown();
    }
};

TEST_F(main_menu, its_size_comes_from_the_tag_bounds_and_stays_the_default_without_a_readable_tag)
{
    int16_t width = 640, height = 480;
    get_main_menu_dialog_size(&width, &height);
    EXPECT_EQ(width, 640) << "no tag: the defaults stay";
    EXPECT_EQ(height, 480);

    dialog_description upside_down;
    upside_down.bounds = {100, 0, 50, 800};
    store_dialog("mmnu", upside_down);
    get_main_menu_dialog_size(&width, &height);
    EXPECT_EQ(width, 640) << "an empty rectangle is no size";
    EXPECT_EQ(height, 480);

    dialog_description menu;
    menu.bounds = {0, 0, 600, 800};
    menu.items.push_back(probe_item(1, {10, 10, 30, 100}, "title"));
    store_dialog("mmnu", menu);
    get_main_menu_dialog_size(&width, &height);
    EXPECT_EQ(width, 800);
    EXPECT_EQ(height, 600);
}

TEST_F(main_menu, without_a_screen_the_menu_quits_and_the_plugin_question_is_answered_no)
{
    dialog_description menu;
    menu.bounds = {0, 0, 480, 640};
    store_dialog("mmnu", menu);
    enter_main_menu();
    EXPECT_EQ(get_main_menu_dialog(), nullptr);
    int16_t next = NONE;
    ASSERT_TRUE(game_state_change_pending(&next));
    EXPECT_EQ(next, _game_state_quit);
    leave_main_menu();
    close_main_menu_dialog(); // nothing open: nothing happens

    EXPECT_FALSE(ask_plugin_question("Missing plugin required", "Continue anyways?"));
}

} // namespace

// ---- the plug-in question on a screen ---------------------------------------------------

namespace {

// The question's dialog, centred on the 640 x 480 screen: its top-left is
// (140, 165); Yes is at (40, 112)-(168, 134) and No at (192, 112)-(320, 134).
class plugin_question : public dialog_input_test
{
protected:
    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        dialog_input_test::SetUp();
        // The real screen (of the same size) in place of the test screen's bounds.
        reset_screen_for_tests();
        initialize_screen();
        dialog_description question;
        question.bounds = {0, 0, 150, 360};
        question.items = {
            {FOUR_CHARACTER_CODE('s', 't', 'a', 't'), 1, {16, 20, 40, 340}, 0, 0, {0, 0}, ""},
            {FOUR_CHARACTER_CODE('s', 't', 'a', 't'), 2, {48, 20, 100, 340}, 0, 0, {0, 0}, ""},
            {FOUR_CHARACTER_CODE('b', 'u', 't', 't'), 3, {112, 40, 134, 168}, 0, 0, {0, 0}, "Yes"},
            {FOUR_CHARACTER_CODE('b', 'u', 't', 't'), 4, {112, 192, 134, 320}, 0, 0, {0, 0}, "No"},
        };
        store_dialog("plgq", question);
    }
    void TearDown() override
    {
        // The real screen goes first: the dialog fixture then puts back the
        // screen record it found.
        restore_world_device();
        reset_screen_for_tests();
        clear_screen_devices();
        dialog_input_test::TearDown();
    }
    // A click at (x, y) and its release, then passes enough for the press to fire.
    static void script_click(int16_t x, int16_t y)
    {
        add_script_steps({action_step(make_click_action(x, y)), action_step(make_release_action(x, y))});
        for (int i = 0; i < 12; ++i) add_script_step(action_step(make_test_action(1)));
    }
};

TEST_F(plugin_question, is_a_modal_dialog_answered_by_its_two_buttons)
{
    ASSERT_TRUE(screen_surface_exists());
    script_click(140 + 104, 165 + 123);
    EXPECT_TRUE(ask_plugin_question("Missing plugin required", "Continue anyways?"));
    EXPECT_EQ(get_underlying_game_state(), game_->state) << "the modal state was left";

    restart_main_loop_script();
    script_click(140 + 256, 165 + 123);
    EXPECT_FALSE(ask_plugin_question("Missing plugin required", "Continue anyways?"));
}

} // namespace

} // namespace main_menu_test_file
