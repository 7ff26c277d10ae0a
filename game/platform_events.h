#pragma once
// The main loop's event pump and frame limiter, and the window system's
// pointer.
//
// The core pumps the window system's events; the subsystems that understand
// them (the input layer, the screen) register as event consumers and see every
// event in the order of EVENT_CONSUMER_LIST.  Without an initialised video
// system (vesk_sim, tests, "--oos_check") nothing is pumped, so none of them
// needs a display.
//
// Main thread only.

#include "cseries/cseries.h"

union SDL_Event;

// The consumers of one window-system event, in the order each is offered it.
#define EVENT_CONSUMER_LIST(X)                                                  \
    X(input, "input")   /* queue_input_event_if_necessary: keys, pointer, touch */ \
    X(window, "window") /* activation, resize and quit */

#define EVENT_CONSUMER_ENUM_VALUE(identifier, name) _event_consumer_##identifier,
enum event_consumer
{
    EVENT_CONSUMER_LIST(EVENT_CONSUMER_ENUM_VALUE)
    NUMBER_OF_EVENT_CONSUMERS
};
#undef EVENT_CONSUMER_ENUM_VALUE

typedef void (*event_consumer_procedure)(const SDL_Event *event);
// The pump sleeps until the next frame may begin through the screen's table
// (screen_procedures.h).

// Registration (cseries/registration.h rules: a null procedure, a consumer out
// of the list or a taken slot is refused with an assertion).
bool register_event_consumer_procedure(event_consumer consumer, event_consumer_procedure procedure);

// "input", "window"; "unknown" outside the list.
const char *event_consumer_name(event_consumer consumer);

// Pumps every pending window-system event and offers each to the consumers in
// order; then, when `limit` is true, calls the frame limiter.  Pumps nothing
// while the video system is not initialised (the limiter still runs).
void platform_specific_update(bool limit);

// Sleeps until an event waits in the queue (left there for the next update),
// `stop` (may be null) answers true, or `longest_ms` milliseconds pass,
// looking every few milliseconds.  Returns at once without the video system.
void wait_for_platform_event(uint32_t longest_ms, bool (*stop)(void));

// Shows or hides the window system's pointer.  Hidden, the pointer is an
// empty cursor (SDL's own hiding would turn a grabbed mouse relative and
// freeze the pointer's position); release_hidden_cursor frees it before the
// video system ends.
void show_cursor(void);
void hide_cursor(void);
void release_hidden_cursor(void);
