// The event pump, the frame limiter's call and the pointer.

#include "platform_events.h"

#include <SDL.h>

#include <ctime>

#include "screen_procedures.h"
#include "cseries/registration.h"

#define LIST_NAME(identifier, name) name,
static const char *const event_consumer_names[] = {EVENT_CONSUMER_LIST(LIST_NAME)};
#undef LIST_NAME

const char *event_consumer_name(event_consumer consumer)
{
    return consumer >= 0 && consumer < NUMBER_OF_EVENT_CONSUMERS ? event_consumer_names[consumer] : "unknown";
}

static const char *event_consumer_slot_name(int32_t index) { return event_consumer_name((event_consumer)index); }

static procedure_table<event_consumer_procedure, NUMBER_OF_EVENT_CONSUMERS> event_consumer_slots(
    "event consumer", event_consumer_slot_name);

bool register_event_consumer_procedure(event_consumer consumer, event_consumer_procedure procedure)
{
    return event_consumer_slots.fill(consumer, procedure);
}

void platform_specific_update(bool limit)
{
    // SDL_PollEvent needs the video system; a headless program never starts it.
    if (SDL_WasInit(SDL_INIT_VIDEO))
    {
        SDL_Event event;
        while (SDL_PollEvent(&event))
        {
            for (int32_t consumer = 0; consumer < NUMBER_OF_EVENT_CONSUMERS; ++consumer)
            {
                event_consumer_procedure procedure = event_consumer_slots.get(consumer);
                if (procedure) procedure(&event);
            }
        }
    }
    if (limit)
    {
        const auto limiter = get_screen_procedures()->limit_framerate;
        if (limiter) limiter();
    }
}

void wait_for_platform_event(uint32_t longest_ms, bool (*stop)(void))
{
    enum
    {
        LOOK_EVERY_MS = 8,
    };
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
    // The real clock, whatever clock a test gives the program.
    const auto now_ms = [] {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        return (uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u;
    };
    const uint64_t start = now_ms();
    while (now_ms() - start < longest_ms && !(stop && stop()))
    {
        SDL_PumpEvents();
        SDL_Event event;
        if (SDL_PeepEvents(&event, 1, SDL_PEEKEVENT, SDL_ALLEVENTS) > 0) return;
        const struct timespec pause = {0, LOOK_EVERY_MS * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

// SDL reads the mouse relatively while the input is grabbed (full screen)
// and the pointer is hidden with SDL_ShowCursor: the pointer's position then
// stays where it was, so a click after a move lands there rather than under
// the pointer, and the move never shows the pointer again.  An empty cursor
// hides the pointer and keeps positions absolute.  It lives only while the
// pointer is hidden, so no cursor outlives the video system.
static struct platform_events_globals
{
    SDL_Cursor *empty_cursor;   // while hidden
    SDL_Cursor *default_cursor; // SDL's own, put back when shown
} platform_events_globals;

void release_hidden_cursor(void)
{
    if (!platform_events_globals.empty_cursor) return;
    SDL_SetCursor(platform_events_globals.default_cursor);
    SDL_FreeCursor(platform_events_globals.empty_cursor);
    platform_events_globals.empty_cursor = nullptr;
    platform_events_globals.default_cursor = nullptr;
}

void show_cursor(void)
{
    release_hidden_cursor();
    SDL_ShowCursor(SDL_ENABLE);
}

void hide_cursor(void)
{
    if (!platform_events_globals.empty_cursor && SDL_WasInit(SDL_INIT_VIDEO))
    {
        static Uint8 empty[8] = {0}; // 8 x 8, every pixel transparent
        SDL_Cursor *current = SDL_GetCursor();
        SDL_Cursor *cursor = current ? SDL_CreateCursor(empty, empty, 8, 8, 0, 0) : nullptr;
        if (cursor)
        {
            platform_events_globals.default_cursor = current;
            platform_events_globals.empty_cursor = cursor;
            SDL_SetCursor(cursor);
            return;
        }
    }
    if (platform_events_globals.empty_cursor) return;
    SDL_ShowCursor(SDL_DISABLE);
}
