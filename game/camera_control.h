#pragma once
// Who moves the camera: the player (no flag), object tracking or a script.
// Local: nothing here is simulated.  Main thread only.

#include <cstdint>

enum camera_control_flag_bits
{
    _camera_controlled_by_object_tracking_bit = 0,
    _camera_controlled_by_map_action_bit = 1,

    _camera_controlled_by_object_tracking_flag = 1u << _camera_controlled_by_object_tracking_bit,
    _camera_controlled_by_map_action_flag = 1u << _camera_controlled_by_map_action_bit,
};

// 0 while the player moves the camera.
uint32_t get_camera_control_flags(void);
void set_camera_control_flags(uint32_t flags);
