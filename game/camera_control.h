#pragma once
// Who moves the camera: the player (no flag), a script (map actions) or
// automatic object tracking, and the per-frame and per-tick calls that hand
// the camera to its master.  Local: nothing here is simulated, and nothing
// here reads or draws what the simulation keeps.  Main thread only.

#include <cstdint>

enum camera_control_flag_bits
{
    _camera_uncontrollable_by_user_bit = 0,
    _camera_controlled_by_map_actions_bit = 1,
    _camera_controlled_by_object_tracking_bit = 2,

    // The player's controls do not move the camera.
    _camera_uncontrollable_by_user_flag = 1 << _camera_uncontrollable_by_user_bit,
    // Scripts fly the camera ('obmo').
    _camera_controlled_by_map_actions_flag = 1 << _camera_controlled_by_map_actions_bit,
    // Automatic object tracking follows interesting things.
    _camera_controlled_by_object_tracking_flag = 1 << _camera_controlled_by_object_tracking_bit,
};

// A map begins: tracking is on when the game's options ask for it, else the
// player has the camera; the tracking list is emptied.
void initialize_camera_control_for_new_map(void);
void dispose_camera_control_from_old_map(void);

// The whole word: 0 while the player moves the camera.
int16_t get_camera_control_flags(void);
void set_camera_control_flags(int16_t flags);

// Once per frame, after the frame's ticks: the player's camera moves by the
// machine time passed, or tracking places it (when a tick passed) and the
// samples are smoothed.
void handle_camera_control(int32_t game_ticks_elapsed);
// Once per tick (the tick's scripted camera step): the script's flight.
void handle_map_action_camera_control(void);
// Once per tick (the tick's camera tracking step): what tracking follows.
void update_camera_tracking(void);

// Fills the map step, the two tick steps, the frame update and the offers
// of tracked objects from the objects and the unit action machine.
void register_camera_control_hooks(void);
