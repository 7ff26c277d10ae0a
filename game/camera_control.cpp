// Who moves the camera.

#include "camera_control.h"

#include "game_hooks.h"
#include "game_records.h"
#include "game_time.h"
#include "map_actions/observer_movement_action_proc.h"
#include "monster_actions.h"
#include "object_tracking.h"
#include "objects.h"
#include "observer.h"

static struct camera_control_globals
{
    int16_t flags;
} camera_control_globals;

void initialize_camera_control_for_new_map(void)
{
    camera_control_globals.flags =
        (game_->option_flags & _game_option_camera_tracking_initially_on_flag) ? _camera_controlled_by_object_tracking_flag
                                                                               : 0;
    initialize_object_tracking_for_new_map();
}

void dispose_camera_control_from_old_map(void)
{
    camera_control_globals.flags = 0;
    dispose_object_tracking_from_old_map();
}

int16_t get_camera_control_flags(void) { return camera_control_globals.flags; }

void set_camera_control_flags(int16_t flags) { camera_control_globals.flags = flags; }

void handle_camera_control(int32_t game_ticks_elapsed)
{
    const int16_t flags = camera_control_globals.flags;
    if (flags == 0)
    {
        update_observer_physics_variables();
        return;
    }
    if ((flags & _camera_controlled_by_object_tracking_flag) && game_ticks_elapsed > 0) track_object();
    interpolate_observer();
}

void handle_map_action_camera_control(void)
{
    if (camera_control_globals.flags & _camera_controlled_by_map_actions_flag) handle_observer_movement_actions();
}

void update_camera_tracking(void)
{
    if (camera_control_globals.flags & _camera_controlled_by_object_tracking_flag) update_object_tracking();
}

// ---- registration -----------------------------------------------------------------

static bool camera_control_map_step(const new_game_data *data)
{
    (void)data;
    initialize_camera_control_for_new_map();
    return true;
}

static void offer_tracking_object(int32_t object_index) { add_tracking_object(object_index, NONE); }

void register_camera_control_hooks(void)
{
    register_map_procedures(_map_camera_control, camera_control_map_step, dispose_camera_control_from_old_map);
    register_tick_procedure(_tick_camera_tracking, update_camera_tracking);
    register_tick_procedure(_tick_scripted_camera, handle_map_action_camera_control);
    register_update_camera_procedure(handle_camera_control);
    register_object_tracking_procedure(offer_tracking_object);
    register_observer_movement_action_hooks();
}
