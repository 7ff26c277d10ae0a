// The event pump, the frame limiter's call and the pointer.

#include "platform_events.h"

#include <SDL.h>

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
static procedure_slot<limit_framerate_procedure> limit_framerate_slot("limit framerate");

bool register_event_consumer_procedure(event_consumer consumer, event_consumer_procedure procedure)
{
    return event_consumer_slots.fill(consumer, procedure);
}

bool register_limit_framerate_procedure(limit_framerate_procedure procedure)
{
    return limit_framerate_slot.fill(procedure);
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
        limit_framerate_procedure limiter = limit_framerate_slot.get();
        if (limiter) limiter();
    }
}

void show_cursor(void)
{
    SDL_ShowCursor(SDL_ENABLE);
}

void hide_cursor(void)
{
    SDL_ShowCursor(SDL_DISABLE);
}
