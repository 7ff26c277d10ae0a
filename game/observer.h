#pragma once
// The observer: the camera the battlefield is seen through.  A point over the
// terrain mesh that moves, turns, orbits and zooms with velocities whose limits
// come from the map's 'obpc' definition (observer_constants.h).  The player's
// action records set the velocities 30 times a second; each frame advances the
// camera by the machine time passed and builds the renderer's view and the
// sound system's listener.  Scripts and object tracking place it through
// samples that are smoothed between frames.
//
// Positions are reals in mesh cells (512 world units), angles radians.  Local
// state of this machine: floats, the machine clock and local_random only;
// nothing here is read by the simulation or hashed.  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "point2d.h"
#include "world.h"

struct action_data;
struct view_data;

enum observer_flag_bits
{
    _observer_filtering_flag = 1,
    _observer_bounded_flag = 2,
    _observer_shaking_flag = 4,
};

// The velocities, in this order.
enum observer_velocity
{
    _observer_velocity_vertical = 0,
    _observer_velocity_pitch,
    _observer_velocity_parallel,
    _observer_velocity_orthogonal,
    _observer_velocity_yaw,
    _observer_velocity_orbit,
    _observer_velocity_zoom,
    NUMBER_OF_OBSERVER_VELOCITIES
};

struct real_rectangle2d
{
    real top, left, bottom, right;
};

struct observer_physics_variables
{
    real x, y, z; // cells
    real yaw, pitch; // radians
    real zoom_factor; // -5..1; below 0 the eye pulls back
    real velocities[NUMBER_OF_OBSERVER_VELOCITIES]; // per game tick
    real orbit_delta, zoom_factor_delta, parallel_delta, orthogonal_delta; // added once by the next frame
    world_location3d true_location; // of the last view built
    real minimum_zoom_factor;
};

// Camera placement values of a sample (camera_sample's mask).
enum camera_sample_mask
{
    _camera_sample_x = 1,
    _camera_sample_y = 2,
    _camera_sample_z = 4,
    _camera_sample_yaw = 8,
    _camera_sample_pitch = 16,
    _camera_sample_zoom = 32,
    _camera_sample_all = 63,
};

// Fixed values.
constexpr real OBSERVER_MINIMUM_PITCH = 5.7627826f;
constexpr real OBSERVER_MAXIMUM_PITCH = 5.8364134f;
constexpr real OBSERVER_DEFAULT_PITCH = 5.8118701f;
constexpr real OBSERVER_DEFAULT_HEIGHT = 8.0f;
constexpr real OBSERVER_MAXIMUM_ZOOM_FACTOR = 0.99998474f;
constexpr real OBSERVER_MINIMUM_ZOOM_FACTOR = -0.99998474f;
constexpr real OBSERVER_EXTENDED_MINIMUM_ZOOM_FACTOR = -5.0f;
constexpr real OBSERVER_ORBIT_DISTANCE = 12.25f;

// ---- life cycle -------------------------------------------------------------------

// Start-up: registers the 'obpc' group and fills the height filter.
bool initialize_observer(void);
// A map begins: clears the camera (filtering and bounded), loads the map's
// 'obpc' definition (missing: code 11 "observer physics constants missing."
// and false), places the camera on the start marker and starts the selection's map.
bool initialize_observer_for_new_map(tag observer_physics_constants_tag);
void dispose_observer_from_old_map(void);

// Fills the "observer" start-up step, its per-map store and the map step.
void register_observer_hooks(void);

// ---- placement ----------------------------------------------------------------------

// x and y in world units (to the nearest), the yaw as an angle.
void get_observer_location(world_location3d *location);
fixed get_observer_zoom_factor(void);
const observer_physics_variables *get_observer_physics_variables(void);
uint32_t get_observer_flags(void);
void set_observer_flags(uint32_t flags);

// Looks at the world point `location` from 12.25 cells behind it, trying yaws
// ever further from the location's own until the camera fits the allowed box.
void set_observer_location(const world_location3d *location);
// Puts the camera at the location (height 8, its yaw, the default pitch) with the zoom.
void set_actual_observer_location_and_zoom(const world_location3d *location, fixed zoom_factor, bool interpolate);
// Object tracking's placement: faces `focus` from `viewing_angle` (asserts
// unless tracking owns the camera).
void set_observer_focus(const world_point3d *focus, angle viewing_angle);
// NONE for an amount or duration takes the type's default.
void set_observer_shaking(int16_t shake_type, world_distance shake_amount, int32_t duration);
void alter_zoom_factor(bool zooming_in, fixed granularity);

void get_observer_axis_values(real *yaw, real *parallel, real *orthogonal, real *orbit, real *zoom);
void set_observer_axis_values(real yaw, real parallel, real orthogonal, real orbit, real zoom);
// Every velocity but the zoom and the four deltas 0.
void reset_observer_velocity_to_zero(void);

// Records a placement (the mask says which values are given); smoothed when
// `interpolate` and the motion interpolation preference are both on.
void camera_sample(uint32_t mask, bool interpolate, real x, real y, real z, real yaw, real pitch, real zoom);

// ---- per action and per frame -----------------------------------------------------

// Per action record (null: no record; every velocity decays).
void update_observer_physics_variables_for_action(action_data *action);
// Per frame while the player has the camera.
void update_observer_physics_variables(void);
// Per frame while scripts or tracking have it.
void interpolate_observer(void);
// Per frame before rendering.  The view's animation clock (tick_count) is
// local time less the local ticks passed while the game was paused (never in
// a network game): a paused game draws the same frame until the camera moves.
void build_observer_view(view_data *view, int32_t ticks_elapsed, int16_t resolution_width, int16_t resolution_height);

// The listener the sound system hears with: null while the game is disabled.
const world_location3d *sound_listener_proc(void);

// Extended zoom (down to -5): in films and for network observers, when the
// hardware rasterizer can draw it (hardware_rasterizer.h), until
// perma_disable_extended_zoom for the rest of the map.
// perma_disable_extended_zoom returns whether it was available.
bool extended_zoom_enabled(void);
bool perma_disable_extended_zoom(void);

// ---- pieces, for tests -------------------------------------------------------------

// The zoom ladder: the next rung out, in, or both as documented.
real zoom_rungs(real zoom_factor, bool zoom_in, bool zoom_out);
void compute_observer_bounds_for_yaw(real yaw, real_rectangle2d *bounds);
// Moves the eye (cells) so that the view's axis, looking along `yaw` and
// `pitch`, comes down `height` cells below the eye on the map.
void keep_view_centre_on_the_map(real pitch, real yaw, real height, real *eye_x, real *eye_y);
// The edge-scroll pushes of the pointer for the four axes (added, unclamped).
void adjust_axis_values_for_mouse_movement(const action_data *action, real *parallel, real *orthogonal, real *yaw,
                                           real *orbit);
// The filtered terrain height (world units) under the cell point x, y (cells).
real observer_filtered_height(real x, real y);

// The machine clock in milliseconds; tests replace it (null: the real one).
typedef uint32_t (*observer_clock_procedure)(void);
void set_observer_clock(observer_clock_procedure procedure);

// ---- what the observer asks of later subsystems -------------------------------------

// The screen's bounds and the game view's frame come from the screen's table
// (screen_procedures.h); until it registers: 640 x 480, the whole screen.
// The ground corners of a view come from the overhead map's table
// (overhead_map_procedures.h); until it registers, the visibility test of
// limited-visibility maps passes.
