#pragma once
// 'obmo': a script takes the camera, hands it to object tracking or back to
// the player, flies it to a point and a facing (or to a spot ten cells from
// one unit, looking at it), and shakes it.  A local procedure: the camera is
// not simulated, so it only changes what this machine shows; in a film only
// the shake is played, but the result (which the scripts' simulated success
// state keeps) is the one the game returned.  The flight advances once per tick through
// handle_observer_movement_actions, which camera control calls while scripts
// own the camera.  Main thread only.
//
// Parameters: 'mode' integer (-1 gives the camera back; otherwise the camera
// control flags become 1 << (mode & 31): 0 uncontrollable, 1 scripts, 2
// tracking); with mode 1 'subj' one unit, or 'dest' point and 'faci' angle;
// 'line' world units per step (32), 'angu' angle per step in 64ths (512),
// 'time' fixed seconds (a longer flight jumps), 'drco' keep script control
// after the flight, 'maxz' fly at zoom -65535 instead of 0; 'shak' flag with
// 'dura' fixed seconds and 'inte' amplitude.

#include <cstdint>

#include "world.h"

// 2 (succeeded); 0 when a required parameter is missing or the subject list
// does not name exactly one unit (the camera goes back to the player).  A
// film returns the same, and leaves the camera alone.
uint32_t observer_movement_action_proc(int32_t action_index);

// Sets up a flight from the camera's place, yaw and zoom to `destination`
// and `final_facing`, reading 'line', 'angu', 'time' and 'maxz' of the action.
void setup_camera_movement(int32_t action_index, const world_point2d *destination, angle final_facing);

// One step of the flight (nothing once it ended): places the camera, and at
// the end gives it back to the player unless 'drco' was given.
void handle_observer_movement_actions(void);

// The flight's steps: n steps take n + 1 ticks.  For tests.
int16_t get_observer_movement_interpolant_count(void);

// Registers the procedure into the action procedures' table.
void register_observer_movement_action_hooks(void);
