#pragma once
// Automatic object tracking, the spectator camera: the objects, units and
// projectiles offer themselves when something worth watching happens to them
// (with their tracking priority); a list of five keeps the best offers, the
// camera follows the one of highest priority, eases or jumps to a new one and
// now and then orbits slowly around it.
//
// Local state of this machine: only local_random is drawn, and the objects
// are only read.  Main thread only.

#include <cstdint>

#include "world.h"

enum
{
    MAXIMUM_NUMBER_OF_TRACKED_ITEMS = 5,
    NUMBER_OF_INTERPOLANT_STEPS = 30, // an eased move lasts steps 0..30, 31 frames
    TRACKING_TIME_LOWER_BOUND = 120,
    TRACKING_TIME_DELTA = 120,
    PROJECTILE_TRACKING_TIME = 30,
    ORBIT_TIME_LOWER_BOUND = 60,
    ORBIT_TIME_DELTA = 30,
    TIME_BEFORE_ORBITING_AGAIN_LOWER_BOUND = 300,
    TIME_BEFORE_ORBITING_AGAIN_DELTA = 300,
    MAXIMUM_ORBIT_VELOCITY = 256,
    ORBIT_ACCELERATION = 16,
    MAXIMUM_ANGULAR_DELTA = 16384,
    MINIMUM_DISTANCE_BEFORE_SWITCHING = 5120,
    MINIMUM_TRACKED_OBJECT_VELOCITY = 5,
};

enum tracking_list_entry_type
{
    _tracking_object = 0,
    _tracking_projectile = 1,
};

struct tracking_list_entry
{
    int16_t type; // tracking_list_entry_type
    int16_t object_index, object_identifier; // NONE when free
    int16_t priority;
    int32_t duration; // ticks left
};

enum tracking_orbit_state
{
    _tracking_not_orbiting = 0,
    _tracking_orbiting_down = 1, // the viewing angle decreases
    _tracking_orbiting_up = 2,
};

struct tracking_data
{
    int16_t list_index; // the entry followed, NONE
    int16_t object_index, object_identifier;
    angle viewing_angle; // the direction the camera looks at the object from
    world_point3d target_location;
    int16_t priority;
    int16_t orbit_state;
    int32_t time_last_orbited, orbit_finish_time; // game ticks
    int16_t orbit_velocity; // angle units per frame
    bool tracked_first_object;
    world_point3d old_location; // the start of an eased move
    angle old_viewing_angle;
    int16_t step_index; // 0..30 while easing, NONE otherwise
};

// A map begins: nothing followed, every entry free.
void initialize_object_tracking_for_new_map(void);
void dispose_object_tracking_from_old_map(void);

// Offers an object to the camera (the objects, units and projectiles call it
// through their registration points).  Taken only while tracking is on and
// the object can be tracked; `owner_team_index` is not read.
void add_tracking_object(int32_t object_index, int32_t owner_team_index);

// Per tick: list upkeep, the choice of what to follow, the target and the orbit.
void update_object_tracking(void);
// Per frame: the orbit speed, the eased move and the camera's placement.
// Only while tracking owns the camera (the observer asserts it).
void track_object(void);
// Kept for its callers: does nothing.
void initialize_camera_to_first_tracked_object(void);

// Visible, on the mesh and seen by the local player this tick, and either a
// unit that is not ambient life or any other object that moves (a velocity
// component of at least 5).
bool object_can_be_tracked(int32_t object_index);

// The state, for tests and the saved game.
const tracking_data *get_tracking_data(void);
const tracking_list_entry *get_tracking_list(void);
