#pragma once
// Multi-touch gestures added to action records: two touches rotate and zoom,
// three pan, and a second finger tapping while the first rests is a right
// click.  No touch source exists on this platform, so the entry points are
// called only by tests; the records then carry zero gesture deltas.
//
// Threads: the entry points would run on the main thread and
// apply_multitouch_to_action runs on the timer thread; the touch state is
// guarded by a lock.

#include <cstdint>

struct action_data;

enum
{
    MAXIMUM_TOUCH_POINTS = 3,
};

// Forgets every touch and gesture (start-up, tests).
void initialize_touch_controller(void);

// Fills the record's four multi-touch fields with the movement since the last
// record (zero without a gesture); while a gesture lasts the mouse button
// flags (34-39) are cleared, and a pending press-and-tap sets the right click
// once.
void apply_multitouch_to_action(action_data *action);

// A touch went down (a fourth is ignored; the second starts a gesture), moved
// (an unknown handle is ignored), or went up.  Positions in pixels.
void input_touch_point_down(uint32_t handle, float x, float y);
void input_touch_point_move(uint32_t handle, float x, float y);
void input_touch_point_up(uint32_t handle, float x, float y);
