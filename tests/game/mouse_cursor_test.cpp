// The pointer's show-and-hide rules over a fake full-screen (or windowed)
// surface: a film hides an idle pointer after 60 ticks and shows it again on
// movement or a press, pausing shows it, the main menu and a window never hide
// it, and entering a cutscene (or a modal state over a film) hides it at once.
// The sprite cursor is checked with the demo interface (interface_definitions_test).

#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>

#include "fake_sdl_video.h"
#include "support/expected_assertions.h"

#include "cseries/registration.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "mouse_cursor/mouse_cursor.h"
#include "screen.h"
#include "screen_sdl.h"

namespace mouse_cursor_test_file {

namespace {

class mouse_cursor : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // The real pointer calls go to SDL's dummy driver, so its state can be read back.
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }
    static void TearDownTestSuite() { SDL_QuitSubSystem(SDL_INIT_VIDEO); }

    void SetUp() override
    {
        reset_screen_for_tests();
        fake_sdl::install();
        int16_t width = 0, height = 0;
        get_true_screen_dimensions(&width, &height);
        ASSERT_TRUE(create_sdl_window(width, height, 32, 0));
        ASSERT_FALSE(is_windowed_now()) << "the desktop's size opens full screen";
        saved_state = game_->state;
        saved_under = game_->state_when_in_modal_loop;
        saved_type = game_->type;
        saved_flags = game_->flags.load();
        // Start from a shown pointer in the main menu, as the game starts.
        set_state(_game_state_displaying_main_menu);
        game_->type = _game_type_replay;
        game_->flags.store(saved_flags & ~(uint32_t)_game_is_paused_flag);
        update_mouse_cursor_visibility(nullptr);
        ASSERT_TRUE(mouse_cursor_visible());
        ASSERT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    }
    void TearDown() override
    {
        game_->state = saved_state;
        game_->state_when_in_modal_loop = saved_under;
        game_->type = saved_type;
        game_->flags.store(saved_flags);
        reset_screen_for_tests();
        fake_sdl::uninstall();
        clear_all_registrations();
    }

    static void set_state(int16_t state)
    {
        game_->state = state;
        if (!game_state_is_interrupting(state)) game_->state_when_in_modal_loop = state;
    }
    void set_paused(bool paused)
    {
        if (paused)
            game_->flags.fetch_or(_game_is_paused_flag);
        else
            game_->flags.fetch_and(~(uint32_t)_game_is_paused_flag);
    }

    // One tick's action with the pointer at (x, y), optionally a button down.
    action_data act(int16_t x, int16_t y, int32_t button_bit = NONE)
    {
        action_data action = {};
        action.time_delta = 1;
        action.pointer = {x, y};
        action.ascii_code = action.key_code = -1;
        if (button_bit != NONE) set_action_flag(&action, button_bit);
        return action;
    }
    // Feeds `count` idle ticks with the pointer where it was.
    void idle(int32_t count)
    {
        for (int32_t i = 0; i < count; ++i)
        {
            action_data action = act(pointer.x, pointer.y);
            update_mouse_cursor_visibility(&action);
        }
    }
    void move_to(int16_t x, int16_t y)
    {
        pointer = {x, y};
        action_data action = act(x, y);
        update_mouse_cursor_visibility(&action);
    }
    static bool shown(void)
    {
        const bool visible = mouse_cursor_visible();
        EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), visible ? SDL_ENABLE : SDL_DISABLE) << "the window system agrees";
        return visible;
    }

    point2d pointer = {0, 0};
    int16_t saved_state = 0, saved_under = 0, saved_type = 0;
    uint32_t saved_flags = 0;
};

TEST_F(mouse_cursor, a_film_hides_the_idle_pointer_after_60_ticks_and_shows_it_on_movement_a_press_or_pause)
{
    set_state(_game_state_running); // a film (replay), not paused
    move_to(100, 100);
    EXPECT_FALSE(shown()) << "entering playback hides the pointer at once, even while it moves";

    move_to(101, 100);
    EXPECT_TRUE(shown()) << "movement shows it";
    idle(59);
    EXPECT_TRUE(shown()) << "59 idle ticks: still shown";
    idle(1);
    EXPECT_FALSE(shown()) << "60 idle ticks: hidden";
    idle(200);
    EXPECT_FALSE(shown());

    action_data press = act(pointer.x, pointer.y, _left_mouse_down_bit);
    update_mouse_cursor_visibility(&press);
    EXPECT_TRUE(shown()) << "a left press shows it";
    idle(60);
    EXPECT_FALSE(shown());
    press = act(pointer.x, pointer.y, _right_mouse_down_bit);
    update_mouse_cursor_visibility(&press);
    EXPECT_TRUE(shown()) << "a right press shows it";
    idle(60);
    ASSERT_FALSE(shown());

    set_paused(true);
    idle(1);
    EXPECT_TRUE(shown()) << "pausing the film shows it";
    idle(100);
    EXPECT_TRUE(shown()) << "and it stays while paused";

    // Null actions (no input) count nothing down.
    set_paused(false);
    update_mouse_cursor_visibility(nullptr);
    EXPECT_FALSE(shown()) << "playing again with no movement since: hidden";
    move_to(5, 5);
    for (int i = 0; i < 100; ++i) update_mouse_cursor_visibility(nullptr);
    EXPECT_TRUE(shown()) << "without actions no ticks pass";

    // A game that is not a film never hides it.
    game_->type = 1;
    idle(200);
    EXPECT_TRUE(shown());
}

TEST_F(mouse_cursor, the_main_menu_and_a_window_never_hide_the_pointer)
{
    idle(300);
    EXPECT_TRUE(shown()) << "main menu";
    set_state(_game_state_post_game);
    idle(300);
    EXPECT_TRUE(shown());

    toggle_windowed_mode(false);
    ASSERT_TRUE(is_windowed_now());
    for (int16_t state : {(int16_t)_game_state_running, (int16_t)_game_state_displaying_intro_sequence,
                          (int16_t)_game_state_displaying_mesh_prologue, (int16_t)_game_state_displaying_cutscene})
    {
        set_state(state);
        move_to(3, 4);
        idle(300);
        EXPECT_TRUE(shown()) << "in a window, state " << state;
    }

    // Back to full screen in the cutscene: the window kept no state, so this
    // is a new state and hides the pointer at once.
    toggle_windowed_mode(false);
    ASSERT_FALSE(is_windowed_now());
    idle(1);
    EXPECT_FALSE(shown());
}

TEST_F(mouse_cursor, entering_a_cutscene_hides_the_pointer_at_once_and_a_modal_state_looks_beneath_it)
{
    game_->type = 1; // a live game: shown while running
    set_state(_game_state_running);
    move_to(10, 10);
    ASSERT_TRUE(shown());

    const int16_t interrupted = enter_interrupting_game_state(_game_state_displaying_cutscene);
    move_to(20, 20);
    EXPECT_FALSE(shown()) << "hidden at once although the pointer moved";
    move_to(30, 20);
    EXPECT_TRUE(shown());
    idle(60);
    EXPECT_FALSE(shown());
    leave_interrupting_game_state(interrupted);
    idle(1);
    EXPECT_TRUE(shown()) << "back in the running game";

    // A modal dialog over a film follows the film's rules, and leaving it is
    // no new state: the idle count goes on.
    game_->type = _game_type_replay;
    idle(1);
    ASSERT_FALSE(shown()) << "an idle film: hidden";
    move_to(40, 40);
    const int16_t film = enter_interrupting_game_state(_game_state_modal_dialog);
    idle(30);
    EXPECT_TRUE(shown());
    leave_interrupting_game_state(film);
    idle(29);
    EXPECT_TRUE(shown());
    idle(1);
    EXPECT_FALSE(shown());
}

TEST_F(mouse_cursor, a_bad_cursor_type_is_refused_and_changes_nothing)
{
    initialize_mouse_cursor_for_new_map();
    {
        expected_assertions refused(2, "NUMBER_OF_MOUSE_CURSOR_TYPES");
        set_mouse_cursor(NUMBER_OF_MOUSE_CURSOR_TYPES);
        set_mouse_cursor(-1);
    }
    EXPECT_EQ(get_mouse_cursor_globals()->cursor_type, _mouse_cursor_pointer_windows);
    dispose_mouse_cursor_from_old_map();
}

} // namespace

} // namespace mouse_cursor_test_file
