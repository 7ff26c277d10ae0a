#pragma once
// What the event pump, the input and the observer ask of the screen, in one
// table the screen (game/screen) registers whole (`register_screen_procedures`).
// The core's frame and state-change procedures stay in the core's list
// (game_hooks.h).
//
// Every member may be null, and each is until the screen registers its table; the default
// of a null member is said beside it.  The table is kept by pointer: register
// a static record.  A null table, or a second one, is refused with an
// assertion and changes nothing.
//
// Register before the main loop starts; `read_pointer_screen` alone is called
// from the 30 Hz timer thread.

struct pointer_screen_data; // input/action_queue.h
struct rectangle2d; // point2d.h

struct screen_procedures
{
    // Sleeps until the next frame may begin (null member: no wait).
    void (*limit_framerate)(void);
    // The physical screen the pointer moves on (null member: 640 x 480 at
    // 96 dpi, active).  Called from the timer thread: it must read values
    // that a mode change cannot free under it.
    void (*read_pointer_screen)(pointer_screen_data *screen);
    // The screen's bounds and the game view's frame, in pixels (null members:
    // 640 x 480, the whole screen).
    void (*observer_screen_bounds)(rectangle2d *rectangle);
    void (*observer_destination_frame)(rectangle2d *rectangle);
};

bool register_screen_procedures(const screen_procedures *procedures);
// Never null: an empty table until one is registered.
const screen_procedures *get_screen_procedures(void);
