#pragma once
// The timed device events of `vesk_sim --input FILE`: read from the file, then
// at each tick handed to the input layer as the window system's events, the
// keyboard task's procedure run once, and the queued records drained into the
// game as a frame does.  The syntax is in docs/determinism.md.

#include <cstddef>
#include <cstdint>
#include <vector>

#include <SDL.h>

struct unit_order;

struct input_event
{
    int32_t line; // in the file, for messages
    int32_t tick; // the game time of the tick it opens
    SDL_Event event;
};

// Reads every line of `path`.  False with "line N: why" (or why the file
// cannot be read) in `reason` for the first line that does not parse; no
// event is kept then.
bool read_input_events(const char *path, std::vector<input_event> *events, char *reason, size_t reason_size);

// What the tick procedure works through.
struct input_feed
{
    std::vector<input_event> events; // in tick order
    size_t next;
    std::vector<unit_order> *orders; // given first each tick when not null
};

// Makes the main thread the input's only clock: the keyboard task's timer is
// removed and its procedure turned on, for feed_input_events_of_tick to run.
void take_over_keyboard_task(void);

// The harness's tick procedure (context: an input_feed): the orders of the
// tick, then its events in file order, one keyboard task tick, and the
// records of the tick drained into the game.
void feed_input_events_of_tick(int32_t tick, void *context);
