// The main menu without a screen: its size comes from the dialog tag's
// bounds (the caller's defaults when the tag cannot be read), the state's
// entry quits when there is no screen to show the menu on, and the plug-in
// question is answered no when it cannot be asked.  The menu on a screen is
// checked end to end by vesk_shot_test.

#include "support/dialog_harness.h"

#include "game_states.h"
#include "main_menu.h"

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
