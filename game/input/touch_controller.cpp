#include "input/touch_controller.h"

#include <cmath>
#include <mutex>

#include "cseries/cseries.h"
#include "input/action_queue.h"

namespace {

// A touch counts as moved once it is more than this far from where it went
// down (compared squared: 5 pixels).
constexpr float TOUCH_MOVEMENT_THRESHOLD_SQUARED = 25.0f;
constexpr float TWO_PI = 6.28318530717958647692f;
constexpr float PI = 3.14159265358979323846f;

struct touch_point
{
    float x, y;
    float last_x, last_y;
    float start_x, start_y;
    uint32_t handle;
};

struct touch_controller_globals
{
    std::mutex lock; // the entry points against the timer thread's records
    touch_point touch_points[MAXIMUM_TOUCH_POINTS];
    int32_t touch_points_down;
    bool multitouch_gesture_active;
    bool touch_movement;
    bool multitouch_press_and_tap;
};

touch_controller_globals touch_globals;

touch_point *find_touch_point(uint32_t handle)
{
    for (int32_t i = 0; i < touch_globals.touch_points_down; ++i)
        if (touch_globals.touch_points[i].handle == handle) return &touch_globals.touch_points[i];
    return nullptr;
}

// The rotation and zoom of the vector from the first touch to the second.
void apply_two_touch_gesture(action_data *action)
{
    const touch_point &a = touch_globals.touch_points[0];
    const touch_point &b = touch_globals.touch_points[1];
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float last_dx = b.last_x - a.last_x, last_dy = b.last_y - a.last_y;
    float rotation = std::atan2(dy, dx) - std::atan2(last_dy, last_dx);
    // The angles wrap at a half turn: a small turn across the wrap must stay
    // small, not become almost a whole turn the other way.
    if (rotation > PI)
        rotation -= TWO_PI;
    else if (rotation < -PI)
        rotation += TWO_PI;
    action->multitouch_rotation_delta = rotation;
    action->multitouch_zoom_delta = std::sqrt(dx * dx + dy * dy) - std::sqrt(last_dx * last_dx + last_dy * last_dy);
}

void apply_three_touch_gesture(action_data *action)
{
    float x = 0, y = 0, last_x = 0, last_y = 0;
    for (const touch_point &point : touch_globals.touch_points)
    {
        x += point.x;
        y += point.y;
        last_x += point.last_x;
        last_y += point.last_y;
    }
    action->multitouch_pan_delta_x = x * (1.0f / 3.0f) - last_x * (1.0f / 3.0f);
    action->multitouch_pan_delta_y = y * (1.0f / 3.0f) - last_y * (1.0f / 3.0f);
}

} // namespace

void initialize_touch_controller(void)
{
    std::lock_guard<std::mutex> guard(touch_globals.lock);
    for (touch_point &point : touch_globals.touch_points) point = {};
    touch_globals.touch_points_down = 0;
    touch_globals.multitouch_gesture_active = false;
    touch_globals.touch_movement = false;
    touch_globals.multitouch_press_and_tap = false;
}

void apply_multitouch_to_action(action_data *action)
{
    if (!action) return;
    action->multitouch_rotation_delta = 0;
    action->multitouch_pan_delta_x = 0;
    action->multitouch_pan_delta_y = 0;
    action->multitouch_zoom_delta = 0;

    std::lock_guard<std::mutex> guard(touch_globals.lock);
    if (touch_globals.multitouch_gesture_active && touch_globals.touch_movement)
    {
        if (touch_globals.touch_points_down == 2) apply_two_touch_gesture(action);
        if (touch_globals.touch_points_down == 3) apply_three_touch_gesture(action);
    }
    for (int32_t i = 0; i < touch_globals.touch_points_down; ++i)
    {
        touch_point &point = touch_globals.touch_points[i];
        point.last_x = point.x;
        point.last_y = point.y;
    }
    if (touch_globals.multitouch_gesture_active)
    {
        for (int32_t bit = _left_mouse_down_bit; bit <= _double_right_mouse_down_bit; ++bit)
            clear_action_flag(action, bit);
        if (touch_globals.multitouch_press_and_tap)
        {
            set_action_flag(action, _right_mouse_click_bit);
            touch_globals.multitouch_press_and_tap = false;
        }
    }
}

void input_touch_point_down(uint32_t handle, float x, float y)
{
    std::lock_guard<std::mutex> guard(touch_globals.lock);
    if (touch_globals.touch_points_down >= MAXIMUM_TOUCH_POINTS) return;
    touch_globals.touch_points[touch_globals.touch_points_down++] = {x, y, x, y, x, y, handle};
    if (touch_globals.touch_points_down > 1) touch_globals.multitouch_gesture_active = true;
}

void input_touch_point_move(uint32_t handle, float x, float y)
{
    std::lock_guard<std::mutex> guard(touch_globals.lock);
    touch_point *point = find_touch_point(handle);
    if (!point) return;
    point->x = x;
    point->y = y;
    const float dx = x - point->start_x, dy = y - point->start_y;
    if (dx * dx + dy * dy > TOUCH_MOVEMENT_THRESHOLD_SQUARED) touch_globals.touch_movement = true;
}

void input_touch_point_up(uint32_t handle, float x, float y)
{
    (void)x;
    (void)y;
    std::lock_guard<std::mutex> guard(touch_globals.lock);
    touch_point *point = find_touch_point(handle);
    if (!point) return;
    const int32_t before = touch_globals.touch_points_down;
    *point = touch_globals.touch_points[before - 1]; // the last point takes its slot
    touch_globals.touch_points_down = before - 1;
    if (before == 2 && !touch_globals.touch_movement) touch_globals.multitouch_press_and_tap = true;
    if (touch_globals.touch_points_down == 0)
    {
        touch_globals.multitouch_gesture_active = false;
        touch_globals.touch_movement = false;
    }
}
