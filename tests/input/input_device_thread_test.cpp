// The event pump and binding edits on the main thread against the keyboard
// task on the timer thread: under ThreadSanitizer nothing may race, and every
// wheel notch must reach the game exactly once.

#include <gtest/gtest.h>

#include <SDL.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "game_hooks.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "input/input_controller_sdl.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "support/game_core_fixture.h"
#include "support/machine_pace.h"

namespace input_device_thread_test_file {

namespace {

int64_t wheel_total = 0;
int32_t records_seen = 0;

bool sum_wheel(action_data *action)
{
    wheel_total += action->wheel_delta;
    ++records_seen;
    return false;
}

SDL_Event event_of_type(uint8_t type)
{
    SDL_Event event;
    memset(&event, 0, sizeof(event));
    event.type = type;
    return event;
}

void send_key(bool down, SDLKey symbol)
{
    SDL_Event event = event_of_type(down ? SDL_KEYDOWN : SDL_KEYUP);
    event.key.type = event.type;
    event.key.keysym.sym = symbol;
    queue_input_event_if_necessary(&event);
}

void send_button(bool down, uint8_t button, uint16_t x, uint16_t y)
{
    SDL_Event event = event_of_type(down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP);
    event.button.type = event.type;
    event.button.button = button;
    event.button.x = x;
    event.button.y = y;
    queue_input_event_if_necessary(&event);
}

bool local_time_reaches(int32_t from, int32_t ticks)
{
    for (int32_t waited = 0; waited < 1000; ++waited)
    {
        if (game_->local_time.load() - from >= ticks) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(input_device_thread, events_and_binding_edits_race_nothing_and_lose_no_wheel_notch)
{
    reset_game_core();
    ASSERT_TRUE(register_action_procedure(_action_cursor_visibility, sum_wheel));
    register_keyboard_hooks();
    input_definition definitions[2];
    mouse_control_data mouse[2];
    revert_input_definition_to_default(&definitions[0], &mouse[0], 0);
    revert_input_definition_to_default(&definitions[1], &mouse[1], 1);
    mouse[1].flags |= _mouse_control_reversed_left_right_flag;
    slam_current_settings(&definitions[0], &mouse[0], 0);
    ASSERT_TRUE(initialize_actions());
    set_keyboard_queue_task_state(true);

    wheel_total = 0;
    records_seen = 0;
    int32_t notches = 0;
    // 36 ticks of the task (1.2 s at 30 Hz, longer on a busy machine; the
    // bound only guards against a task that never ticks, at ten times that).
    const int32_t first_tick = game_->local_time.load();
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(12);
    for (int32_t i = 0; game_->local_time.load() - first_tick < 36 && std::chrono::steady_clock::now() < guard; ++i)
    {
        send_key(true, i % 2 ? SDLK_w : SDLK_a);
        send_key(false, i % 3 ? SDLK_w : SDLK_a);
        send_button(i % 2 == 0, SDL_BUTTON_LEFT, (uint16_t)(i % 640), (uint16_t)(i % 480));
        send_button(false, i % 2 ? SDL_BUTTON_WHEELUP : SDL_BUTTON_WHEELDOWN, 0, 0);
        notches += i % 2 ? 1 : -1;
        if (i % 5 == 0)
        {
            send_button(false, SDL_BUTTON_WHEELUP, 0, 0);
            ++notches;
        }
        if (i % 50 == 0) slam_current_settings(&definitions[i / 50 % 2], &mouse[i / 50 % 2], (int16_t)(i / 50 % 2));
        update_actions();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    // The task takes what the wheel still holds in its next tick.
    ASSERT_TRUE(local_time_reaches(game_->local_time.load(), 2));
    update_actions();
    set_keyboard_queue_task_state(false);
    std::this_thread::sleep_for(scaled_duration(std::chrono::milliseconds(60))); // a tick under way ends
    update_actions();
    remove_keyboard_queue_task();

    EXPECT_GT(records_seen, 30);
    EXPECT_EQ(wheel_total, -(int64_t)MOUSE_WHEEL_NOTCH * notches);
}

} // namespace

} // namespace input_device_thread_test_file
