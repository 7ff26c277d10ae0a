// The main loop's event pump: every pending window event reaches the event
// consumers in list order, only while the video system is initialised; the
// frame limiter runs only when asked for.

#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <string>

#include "screen_procedures.h"
#include "cseries/registration.h"
#include "platform_events.h"

namespace platform_events_test_file {

namespace {

std::string calls;

void input_consumer(const SDL_Event *event) { calls += "input:" + std::to_string(event->user.code) + " "; }
void window_consumer(const SDL_Event *event) { calls += "window:" + std::to_string(event->user.code) + " "; }
void limiter(void) { calls += "limit "; }

void push_user_event(int code)
{
    SDL_Event event = {};
    event.type = SDL_USEREVENT;
    event.user.code = code;
    ASSERT_EQ(SDL_PushEvent(&event), 0) << SDL_GetError();
}

class platform_events : public ::testing::Test
{
protected:
    void SetUp() override
    {
        clear_all_registrations();
        calls.clear();
        register_event_consumer_procedure(_event_consumer_window, window_consumer);
        register_event_consumer_procedure(_event_consumer_input, input_consumer);
        static const screen_procedures screen = {.limit_framerate = limiter};
        register_screen_procedures(&screen);
    }
    void TearDown() override
    {
        if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_QuitSubSystem(SDL_INIT_VIDEO);
        clear_all_registrations();
    }
};

TEST_F(platform_events, events_reach_the_consumers_in_order_and_the_limiter_only_when_asked)
{
    platform_specific_update(false);
    EXPECT_EQ(calls, "") << "no video: nothing is pumped";
    platform_specific_update(true);
    EXPECT_EQ(calls, "limit ") << "the limiter needs no display";

    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_PumpEvents();
    for (SDL_Event stale; SDL_PollEvent(&stale);) {} // whatever start-up queued
    calls.clear();
    push_user_event(1);
    push_user_event(2);
    platform_specific_update(false);
    EXPECT_EQ(calls, "input:1 window:1 input:2 window:2 ");
    calls.clear();
    push_user_event(3);
    platform_specific_update(true);
    EXPECT_EQ(calls, "input:3 window:3 limit ") << "events first, then the limiter";
    calls.clear();
    platform_specific_update(true);
    EXPECT_EQ(calls, "limit ") << "each event is offered once";

    hide_cursor();
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    show_cursor();
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

} // namespace

} // namespace platform_events_test_file
