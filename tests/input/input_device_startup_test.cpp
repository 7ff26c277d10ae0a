// The input layer with a real (if invisible) video system: events the window
// system delivers reach the action queue through the core's event pump, and
// the grab is applied to a real window where one can be opened.

#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "game_hooks.h"
#include "input/action_queue.h"
#include "input/input_controller_sdl.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "platform_events.h"
#include "support/demo_data.h"
#include "support/game_core_fixture.h"
#include "support/x_server.h"

namespace input_device_startup_test_file {

// The window system's libraries keep blocks of their video system after it
// shuts down (some in libraries they unload, which no suppression can name);
// they are theirs, not the game's, so the leak checker, where it runs, is
// told to ignore what is allocated while a video system is up.
extern "C" void __lsan_disable(void) __attribute__((weak));
extern "C" void __lsan_enable(void) __attribute__((weak));

namespace {

struct window_system_allocations_ignored
{
    window_system_allocations_ignored(void)
    {
        if (__lsan_disable) __lsan_disable();
    }
    ~window_system_allocations_ignored(void)
    {
        if (__lsan_enable) __lsan_enable();
    }
};

std::vector<action_data> delivered;

bool capture_action(action_data *action)
{
    delivered.push_back(*action);
    return false;
}

// The game's input as start-up leaves it, with the task's ticks left to the test.
void start_input(void)
{
    reset_game_core();
    delivered.clear();
    ASSERT_TRUE(register_action_procedure(_action_cursor_visibility, capture_action));
    register_keyboard_hooks();
    ASSERT_TRUE(initialize_actions());
    remove_keyboard_queue_task();
    set_keyboard_queue_task_state(true);
}

SDL_Event key_event(SDLKey symbol)
{
    SDL_Event event;
    memset(&event, 0, sizeof(event));
    event.type = SDL_KEYDOWN;
    event.key.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = symbol;
    return event;
}

TEST(input_device_startup, pumped_events_of_a_dummy_video_system_become_action_records)
{
    const window_system_allocations_ignored ignored;
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    ASSERT_NE(SDL_SetVideoMode(64, 48, 0, SDL_SWSURFACE), nullptr) << SDL_GetError();
    start_input();

    SDL_Event press = key_event(SDLK_h);
    ASSERT_EQ(SDL_PushEvent(&press), 0);
    SDL_Event motion;
    memset(&motion, 0, sizeof(motion));
    motion.type = SDL_MOUSEMOTION;
    motion.motion.type = SDL_MOUSEMOTION;
    motion.motion.x = 33;
    motion.motion.y = 21;
    ASSERT_EQ(SDL_PushEvent(&motion), 0);
    platform_specific_update(false);
    update_actions();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].key_code, _key_h);
    EXPECT_EQ(delivered[0].ascii_code, 'h');
    int16_t x = 0, y = 0;
    EXPECT_TRUE(get_mouse_position(&x, &y));
    EXPECT_EQ(x, 33);
    EXPECT_EQ(y, 21);

    set_keyboard_queue_task_state(false);
    SDL_Quit();
}

// Grabbing needs a window system: the test starts an X server of its own.
TEST(input_device_startup, the_grab_toggle_grabs_and_releases_a_real_window)
{
    alarm(60); // a window system that hangs fails the test instead of the whole run
    own_x_server server;
    std::string why;
    if (!server.start(&why)) SKIP_OR_FAIL_UNDER_CI(why);
    setenv("DISPLAY", server.display.c_str(), 1);
    const window_system_allocations_ignored ignored;
    unsetenv("SDL_VIDEODRIVER");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) GTEST_SKIP() << "no video system: " << SDL_GetError();
    if (!SDL_SetVideoMode(64, 48, 0, SDL_SWSURFACE))
    {
        SDL_Quit();
        GTEST_SKIP() << "no window: " << SDL_GetError();
    }
    start_input();
    const bool initial = get_sdl_grab_mode();
    toggle_sdl_grab_mode();
    EXPECT_NE(get_sdl_grab_mode(), initial);
    EXPECT_EQ(SDL_WM_GrabInput(SDL_GRAB_QUERY), initial ? SDL_GRAB_OFF : SDL_GRAB_ON);
    // Set passes a mode on without changing the toggle's.
    set_sdl_grab_mode(initial);
    EXPECT_EQ(SDL_WM_GrabInput(SDL_GRAB_QUERY), initial ? SDL_GRAB_ON : SDL_GRAB_OFF);
    EXPECT_NE(get_sdl_grab_mode(), initial);
    toggle_sdl_grab_mode();
    EXPECT_EQ(SDL_WM_GrabInput(SDL_GRAB_QUERY), initial ? SDL_GRAB_ON : SDL_GRAB_OFF);
    set_sdl_grab_mode(false);
    set_keyboard_queue_task_state(false);
    SDL_Quit();
    unsetenv("DISPLAY");
    alarm(0);
}

} // namespace

} // namespace input_device_startup_test_file
