// The observer camera.

#include "observer.h"
#include "overhead_map_procedures.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "map_actions/query_sound_suicide_action_procs.h"
#include "screen_procedures.h"
#include "camera_control.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_speed_lerp.h"
#include "game_time.h"
#include "hardware_rasterizer.h"
#include "input/action_queue.h"
#include "input/input_definitions.h"
#include "markers.h"
#include "media.h"
#include "mesh.h"
#include "mesh_format.h"
#include "monster_visibility.h"
#include "observer_constants.h"
#include "players.h"
#include "render/render_surfaces.h"
#include "selection.h"
#include "vesk_random.h"

namespace {

constexpr real TWO_PI = 6.28318530717958647692f;
constexpr real PI = 3.14159265358979323846f;
constexpr real ANGLE_UNIT = TWO_PI / 65536.0f; // 9.58738e-05
constexpr real ZOOM_UNIT = 1.0f / 65536.0f;
constexpr real WORLD_UNITS_PER_CELL = 512.0f;
constexpr real CELLS_PER_WORLD_UNIT = 1.0f / WORLD_UNITS_PER_CELL;
constexpr real EDGE_ZONE_PIXELS = 5.0f;
constexpr real MAXIMUM_FRAME_TICKS = 30.0f;
constexpr real EYE_DISTANCE_PER_ZOOM = 10.0f;          // cells
constexpr real EYE_MINIMUM_HEIGHT_ABOVE_GROUND = 2.0f; // cells
constexpr real ZOOM_TILT = 0.15704128f;
constexpr real LISTENER_LEAD = 3072.0f; // world units ahead of the camera
constexpr real FOCUS_HEIGHT_ABOVE_TERRAIN = 4096.0f;
constexpr real NO_SAMPLE_JUMP_SQUARED = 4.0f; // a placement 2 cells away or more is never smoothed
constexpr int32_t WHEEL_ZOOM_STEPS = 10;

enum
{
    MESH_FILTER_RADIUS = 6,
    MESH_FILTER_SIZE = 2 * MESH_FILTER_RADIUS + 1,
    NUMBER_OF_CAMERA_SAMPLES = 4,
    DEFAULT_SHAKE_AMOUNT_0 = 256,
    DEFAULT_SHAKE_AMOUNT_1 = 128,
    DEFAULT_SHAKE_DURATION_0 = 240,
    DEFAULT_SHAKE_DURATION_1 = 120,
};

struct observer_height_filter_state
{
    int32_t last_x, last_y; // the cell, NONE when unset
    real height00, height10, height01, height11;
};

struct camera_position_sample
{
    bool valid;
    int32_t start_time, end_time; // game ticks
    real x, y, z, pitch, yaw, zoom;
};

struct observer_data
{
    uint32_t flags;
    observer_physics_variables physics;
    observer_height_filter_state focus_height_filter_state;
    observer_height_filter_state position_height_filter_state;
    real yaw_axis, parallel_axis, orthogonal_axis, orbit_axis, zoom_axis;
    int16_t shake_type;
    world_distance shake_amount;
    uint32_t shake_duration, shake_start_time;
    int32_t zoom_hold;
};

struct observer_globals
{
    observer_data observer;
    camera_position_sample camera_history[NUMBER_OF_CAMERA_SAMPLES];
    int32_t camera_history_write_index;
    lerp_logic_state camera_lerp_state;
    real observer_mesh_filter[MESH_FILTER_SIZE][MESH_FILTER_SIZE];
    bool extended_zoom_disabled;
    world_location3d listener_location;
    uint32_t previous_update_time; // machine milliseconds
    int32_t constants_index;
    int32_t last_view_game_time;
    int32_t last_view_local_time; // NONE before the first view of a map
    int32_t paused_local_ticks;   // local ticks the views saw pass while the game stood still
    observer_clock_procedure clock;
};
observer_globals observer_globals;


observer_data &observer(void) { return observer_globals.observer; }

real clamp_real(real value, real low, real high) { return value < low ? low : value > high ? high : value; }

real normalize_radians(real value)
{
    value = std::fmod(value, TWO_PI);
    if (value < 0) value += TWO_PI;
    return value;
}

angle radians_to_angle(real value) { return (angle)(int32_t)std::lround(normalize_radians(value) / TWO_PI * 65536.0f); }

world_distance cells_to_world(real value) { return (world_distance)std::lround(value * WORLD_UNITS_PER_CELL); }

uint32_t machine_milliseconds(void)
{
    return observer_globals.clock ? observer_globals.clock() : machine_tick_count();
}

const observer_physics_constants *constants(void)
{
    const observer_physics_constants *loaded = get_observer_physics_constants(observer_globals.constants_index);
    return loaded ? loaded : get_default_observer_physics_constants();
}

void get_screen_rectangle(void (*procedure)(rectangle2d *rectangle), rectangle2d *rectangle)
{
    if (procedure) procedure(rectangle);
    else *rectangle = {0, 0, 480, 640};
}

void store_zoom_preference(real zoom)
{
    get_game_preferences()->zoom_factor = (int32_t)std::lround(zoom * 65536.0f);
}

void clear_camera_history(void)
{
    memset(observer_globals.camera_history, 0, sizeof(observer_globals.camera_history));
    memset(&observer_globals.camera_lerp_state, 0, sizeof(observer_globals.camera_lerp_state));
}

void reset_height_filter(observer_height_filter_state *state)
{
    state->last_x = NONE;
    state->last_y = NONE;
}

// The cell at x, y of the mesh, clamped inside it, in world units.
real cell_height(int32_t x, int32_t y)
{
    x = std::clamp<int32_t>(x, 0, std::max<int32_t>(mesh_width - 1, 0));
    y = std::clamp<int32_t>(y, 0, std::max<int32_t>(mesh_height - 1, 0));
    const world_point2d point = {x * (int32_t)WORLD_ONE, y * (int32_t)WORLD_ONE};
    const world_distance height = get_mesh_height(&point, _mesh_ground_height);
    return height == MESH_NO_HEIGHT ? 0.0f : (real)height;
}

real filtered_corner_height(int32_t x, int32_t y)
{
    real maximum = 0;
    bool first = true;
    for (int32_t dy = -MESH_FILTER_RADIUS; dy <= MESH_FILTER_RADIUS; dy++)
    {
        for (int32_t dx = -MESH_FILTER_RADIUS; dx <= MESH_FILTER_RADIUS; dx++)
        {
            const real value = cell_height(x + dx, y + dy) *
                               observer_globals.observer_mesh_filter[dx + MESH_FILTER_RADIUS][dy + MESH_FILTER_RADIUS];
            if (first || value > maximum) maximum = value;
            first = false;
        }
    }
    return maximum;
}

real filtered_height(observer_height_filter_state *state, real x, real y)
{
    const int32_t cell_x = (int32_t)std::floor(x), cell_y = (int32_t)std::floor(y);
    if (state->last_x != cell_x || state->last_y != cell_y)
    {
        state->last_x = cell_x;
        state->last_y = cell_y;
        state->height00 = filtered_corner_height(cell_x, cell_y);
        state->height10 = filtered_corner_height(cell_x + 1, cell_y);
        state->height01 = filtered_corner_height(cell_x, cell_y + 1);
        state->height11 = filtered_corner_height(cell_x + 1, cell_y + 1);
    }
    const real fx = x - (real)cell_x, fy = y - (real)cell_y;
    const real top = state->height00 + (state->height10 - state->height00) * fx;
    const real bottom = state->height01 + (state->height11 - state->height01) * fx;
    return top + (bottom - top) * fy;
}

// Whether any corner of the view from the cell point x, y with `yaw` lies on
// ground the local player has ever seen (always, off limited-visibility maps).
bool view_reaches_explored_ground(real x, real y, real yaw)
{
    const mesh_header *header = get_mesh_header();
    if (!header || !(header->flags & _mesh_has_limited_terrain_visibility_flag)) return true;
    const auto corners_procedure = get_overhead_map_procedures()->view_projection_corners;
    const uint32_t *permanent = visibility_permanent_buffer();
    if (!corners_procedure || !permanent) return true;
    const world_point3d eye = {cells_to_world(x), cells_to_world(y), cells_to_world(observer().physics.z)};
    world_point2d corners[4];
    if (!corners_procedure(&eye, radians_to_angle(yaw), corners)) return true;
    for (const world_point2d &corner : corners)
    {
        const int32_t cell_x = corner.x >> WORLD_FRACTIONAL_BITS, cell_y = corner.y >> WORLD_FRACTIONAL_BITS;
        if (mesh_cell_in_bounds(cell_x, cell_y) && visibility_is_visible(get_cell_visibility(permanent, cell_x, cell_y)))
            return true;
    }
    return false;
}

// Where the eye stands from the focus: zoomed out it is behind and above it,
// along the yaw and the pitch tilted by the zoom.
void eye_offset(const observer_physics_variables &physics, real *pitch, real *dx, real *dy, real *dz)
{
    *pitch = physics.pitch;
    if (physics.zoom_factor < 0) *pitch += ZOOM_TILT * std::max(physics.zoom_factor, -1.0f);
    const real length = physics.zoom_factor * EYE_DISTANCE_PER_ZOOM;
    *dx = length * std::cos(*pitch) * std::cos(physics.yaw);
    *dy = length * std::cos(*pitch) * std::sin(physics.yaw);
    *dz = length * std::sin(*pitch);
}

// The view holds the eye over the mesh (build_observer_view), so far zoomed
// out near an edge the focus may lie where its eye cannot follow.  Moving it
// further out there would change nothing on the screen, and moving it back
// would change nothing until it came back to where the eye is free: the keys
// would seem dead.  So on such an axis a move outward is dropped and a move
// inward starts from the point where the eye is free.  A focus outside the
// box [low, high] (placed there by a script) comes back as the borders let
// it, and when no point of the box frees the eye (extended zoom on a small
// map) the axis is left alone too.
void keep_focus_where_eye_follows(real *position, real *delta, real eye_offset, real mesh_high, real low, real high)
{
    if (*position < low || *position > high) return;
    const real eye = *position + eye_offset;
    real free;
    if (eye > mesh_high) free = mesh_high - eye_offset;
    else if (eye < 0) free = -eye_offset;
    else return;
    if (free < low || free > high) return;
    const real outward = eye > mesh_high ? 1.0f : -1.0f;
    if (*delta * outward > 0) *delta = 0;
    else if (*delta != 0) *position = free;
}

// How a move of `delta` along one axis at `position` is held by the box
// [low, high]: the factor to multiply it by (1 when no border applies).
real border_factor(real *position, real delta, real low, real high, bool *applied)
{
    real factor = 1;
    *applied = false;
    if (delta <= 0 && *position < low + 1)
    {
        if (*position < low) *position = low;
        factor = *position - low;
        *applied = true;
    }
    if (delta >= 0 && *position > high - 1)
    {
        if (*position > high) *position = high;
        factor = high - *position;
        *applied = true;
    }
    return factor;
}

void update_observer_physics_variable(real *velocity, bool positive, bool negative, real axis_magnitude,
                                      const observer_physics_constant *constant, real k)
{
    if (positive && !negative)
        *velocity = std::min(*velocity + (real)constant->positive.acceleration * k,
                             (real)constant->positive.maximum_velocity * axis_magnitude * k);
    else if (negative && !positive)
        *velocity = std::max(*velocity - (real)constant->negative.acceleration * k,
                             -((real)constant->negative.maximum_velocity * axis_magnitude * k));
    else if (*velocity >= 0)
        *velocity = std::max(0.0f, *velocity - (real)constant->positive.deceleration * k);
    else
        *velocity = std::min(0.0f, *velocity + (real)constant->negative.deceleration * k);
}

real axis_from_flags(const action_data *action, int32_t positive_bit, int32_t negative_bit)
{
    const bool positive = test_action_flag(action, positive_bit), negative = test_action_flag(action, negative_bit);
    return positive == negative ? 0.0f : positive ? 1.0f : -1.0f;
}

void set_flags_for_axis(action_data *action, real axis, int32_t positive_bit, int32_t negative_bit)
{
    if (axis > 0) set_action_flag(action, positive_bit);
    else if (axis < 0) set_action_flag(action, negative_bit);
}

// Wheel records: zoom steps spread over ten records, or a move.  Returns the
// velocity scale of moving, and whether the record is a wheel-zoom record.
real adjust_action_for_wheel(action_data *action, bool shift, bool *wheel_zoom_record)
{
    const uint32_t mouse_flags = get_mouse_controls()->flags;
    const bool wheel_moves = (mouse_flags & _mouse_control_wheel_moves_flag) != 0;
    const bool wheel_zooms = (mouse_flags & _mouse_control_wheel_zooms_flag) != 0;
    real scale = 1.0f / 512.0f;
    if (action->wheel_delta != 0 && wheel_moves) scale = 1.0f / 128.0f;
    *wheel_zoom_record = action->wheel_delta != 0 && !wheel_moves && wheel_zooms;

    int32_t &zoom_hold = observer().zoom_hold;
    if (wheel_zooms)
    {
        const int32_t steps = shift ? 1 : WHEEL_ZOOM_STEPS;
        if (action->wheel_delta < 0) zoom_hold = -steps;
        else if (action->wheel_delta > 0) zoom_hold = steps;
        if (zoom_hold < 0)
        {
            set_action_flag(action, _zoom_in_bit);
            zoom_hold++;
        }
        else if (zoom_hold > 0)
        {
            set_action_flag(action, _zoom_out_bit);
            zoom_hold--;
        }
    }
    else if (wheel_moves && action->multitouch_pan_delta_x == 0 && action->multitouch_pan_delta_y == 0)
    {
        if (action->xwheel_delta < 0) set_action_flag(action, _move_left_bit);
        else if (action->xwheel_delta > 0) set_action_flag(action, _move_right_bit);
        else if (action->wheel_delta < 0) set_action_flag(action, _move_forward_bit);
        else if (action->wheel_delta > 0) set_action_flag(action, _move_backward_bit);
    }
    return scale;
}

void adjust_axis_values_for_action(action_data *action)
{
    real parallel = axis_from_flags(action, _move_forward_bit, _move_backward_bit);
    real orthogonal = axis_from_flags(action, _move_right_bit, _move_left_bit);
    real yaw = axis_from_flags(action, _yaw_right_bit, _yaw_left_bit);
    real orbit = axis_from_flags(action, _orbit_right_bit, _orbit_left_bit);
    const real zoom = axis_from_flags(action, _zoom_in_bit, _zoom_out_bit);

    adjust_axis_values_for_mouse_movement(action, &parallel, &orthogonal, &yaw, &orbit);
    parallel = clamp_real(parallel, -1, 1);
    orthogonal = clamp_real(orthogonal, -1, 1);
    yaw = clamp_real(yaw, -1, 1);
    orbit = clamp_real(orbit, -1, 1);

    set_flags_for_axis(action, yaw, _yaw_right_bit, _yaw_left_bit);
    set_flags_for_axis(action, parallel, _move_forward_bit, _move_backward_bit);
    set_flags_for_axis(action, orthogonal, _move_right_bit, _move_left_bit);
    set_flags_for_axis(action, orbit, _orbit_right_bit, _orbit_left_bit);
    if (test_action_flag(action, _zoom_in_bit) && !test_action_flag(action, _zoom_out_bit)) set_action_flag(action, _zoom_in_bit);
    else if (zoom < 0) set_action_flag(action, _zoom_out_bit);

    observer_data &o = observer();
    o.yaw_axis = yaw;
    o.parallel_axis = parallel;
    o.orthogonal_axis = orthogonal;
    o.orbit_axis = orbit;
    o.zoom_axis = zoom;
}

int32_t current_game_time(void) { return game_->game_time; }

void place_camera_at_once(real x, real y, real z, real yaw, real pitch, real zoom)
{
    observer_physics_variables &physics = observer().physics;
    physics.x = x;
    physics.y = y;
    physics.z = z;
    physics.yaw = normalize_radians(yaw);
    physics.pitch = pitch;
    physics.zoom_factor = zoom;
}

// The animation clock of the views (the water's wobble, animated materials,
// the shadow overlays' refresh): local time less the local ticks that passed
// while the game stood still, so a paused game with no input shows a still
// picture and resumes its animations where they stopped.  Local time itself
// goes on while paused (input, dialogs and fades run on it).  A network game
// cannot be paused by one machine, so its clock never stops.
int32_t view_animation_clock(void)
{
    struct observer_globals &globals = ::observer_globals;
    const int32_t now = game_->local_time.load();
    const bool stopped = game_is_paused() && game_->type != _game_type_networked;
    if (globals.last_view_local_time == NONE || now < globals.last_view_local_time)
        globals.paused_local_ticks = 0; // the first view, or a restarted clock
    else if (stopped)
        globals.paused_local_ticks += now - globals.last_view_local_time;
    globals.last_view_local_time = now;
    return now - globals.paused_local_ticks;
}

bool motion_interpolation_enabled(void)
{
    return (get_game_preferences()->flags & _game_pref_motion_interpolation_flag) != 0;
}

// The start marker of the local player's team, else of the first team with
// players, else the first team marker; null when the map has none.
const marker_data *find_start_marker(void)
{
    const marker_data *first_with_players = nullptr, *first = nullptr;
    const int32_t count = get_marker_count(_marker_observer);
    for (int32_t i = 0; i < count; i++)
    {
        const marker_data *marker = get_marker_by_index(_marker_observer, i);
        if (!marker) continue;
        const marker_palette_entry *entry = get_marker_palette_entry(_marker_observer, marker->palette_index);
        if (!entry) continue;
        if (local_player_team_index != NONE && entry->team_index == local_player_team_index) return marker;
        if (!first) first = marker;
        const team_data *team = entry->team_index == NONE ? nullptr : get_team_data(entry->team_index);
        if (!first_with_players && team && team->number_of_players > 0) first_with_players = marker;
    }
    if (local_player_team_index == NONE && first_with_players) return first_with_players;
    return first;
}

bool map_observer_step(const new_game_data *data)
{
    (void)data;
    const mesh_header *header = get_mesh_header();
    return initialize_observer_for_new_map(header ? header->observer_physics_constants_tag : (tag)NONE);
}

void empty_observer_stores(void) { initialize_observer_physics_constants_for_new_map(); }

bool empty_observer_stores_step(const new_game_data *data)
{
    (void)data;
    empty_observer_stores();
    return true;
}

} // namespace

// ---- life cycle -----------------------------------------------------------------------

bool initialize_observer(void)
{
    for (int32_t dx = -MESH_FILTER_RADIUS; dx <= MESH_FILTER_RADIUS; dx++)
        for (int32_t dy = -MESH_FILTER_RADIUS; dy <= MESH_FILTER_RADIUS; dy++)
            observer_globals.observer_mesh_filter[dx + MESH_FILTER_RADIUS][dy + MESH_FILTER_RADIUS] =
                std::exp(-(real)(dx * dx + dy * dy) / 32.0f);
    observer_globals.constants_index = NONE;
    return initialize_observer_physics_constants();
}

bool initialize_observer_for_new_map(tag observer_physics_constants_tag)
{
    struct observer_globals &globals = ::observer_globals;
    memset(&globals.observer, 0, sizeof(globals.observer));
    clear_camera_history();
    globals.camera_history_write_index = 0;
    globals.previous_update_time = 0;
    globals.last_view_game_time = 0;
    globals.last_view_local_time = NONE;
    globals.paused_local_ticks = 0;
    observer().flags = _observer_filtering_flag | _observer_bounded_flag;
    observer().physics.minimum_zoom_factor =
        extended_zoom_enabled() ? OBSERVER_EXTENDED_MINIMUM_ZOOM_FACTOR : OBSERVER_MINIMUM_ZOOM_FACTOR;
    observer().physics.pitch = OBSERVER_DEFAULT_PITCH;
    observer().physics.z = OBSERVER_DEFAULT_HEIGHT;

    globals.constants_index = observer_physics_constants_tag == (tag)NONE
                                  ? NONE
                                  : load_observer_physics_constants(observer_physics_constants_tag);
    if (globals.constants_index == NONE)
    {
        ERROR_MESSAGE(_error_data_missing, "observer physics constants missing.");
        return false;
    }

    const marker_data *marker = find_start_marker();
    real x = (real)mesh_width / 2, y = (real)mesh_height / 2, yaw = 0;
    if (marker)
    {
        x = (real)marker->location.position.x * CELLS_PER_WORLD_UNIT;
        y = (real)marker->location.position.y * CELLS_PER_WORLD_UNIT;
        yaw = (real)marker->location.yaw * ANGLE_UNIT;
    }
    place_camera_at_once(x, y, OBSERVER_DEFAULT_HEIGHT, yaw, OBSERVER_DEFAULT_PITCH, 0);
    reset_height_filter(&observer().focus_height_filter_state);
    reset_height_filter(&observer().position_height_filter_state);
    return initialize_selection_for_new_map();
}

void dispose_observer_from_old_map(void)
{
    observer_globals.constants_index = NONE;
    dispose_selection_from_old_map();
    observer_globals.extended_zoom_disabled = false;
}

static bool startup_observer(void) { return initialize_observer(); }

// The last consumer of an action record: the camera's velocities.
static bool observer_action_consumer(action_data *action)
{
    update_observer_physics_variables_for_action(action);
    return true;
}

void register_observer_hooks(void)
{
    register_startup_procedure(_startup_observer, startup_observer);
    register_map_store_procedures(_startup_observer, empty_observer_stores_step, dispose_observer_physics_constants_from_old_map);
    register_map_procedures(_map_observer, map_observer_step, dispose_observer_from_old_map);
    register_action_procedure(_action_camera, observer_action_consumer);
    register_sound_listener_procedure(sound_listener_proc); // the map scripts' sound queries hear from the camera
}

void set_observer_clock(observer_clock_procedure procedure)
{
    observer_globals.clock = procedure;
}

// ---- placement ----------------------------------------------------------------------------

void get_observer_location(world_location3d *location)
{
    memset(location, 0, sizeof(*location));
    const observer_physics_variables &physics = observer().physics;
    location->position.x = cells_to_world(physics.x);
    location->position.y = cells_to_world(physics.y);
    location->position.z = cells_to_world(physics.z);
    location->yaw = radians_to_angle(physics.yaw);
    location->pitch = radians_to_angle(physics.pitch);
}

fixed get_observer_zoom_factor(void)
{
    return (fixed)std::lround(observer().physics.zoom_factor * 65536.0f);
}

const observer_physics_variables *get_observer_physics_variables(void) { return &observer().physics; }
uint32_t get_observer_flags(void) { return observer().flags; }
void set_observer_flags(uint32_t flags) { observer().flags = flags; }

void compute_observer_bounds_for_yaw(real yaw, real_rectangle2d *bounds)
{
    const mesh_header *header = get_mesh_header();
    const int16_t *zones = header ? header->edge_of_mesh_buffer_zones : nullptr;
    // Outward directions of the edges left, top, right, bottom.
    static const real outward[NUMBER_OF_MESH_EDGES] = {PI, 3 * PI / 2, 0, PI / 2};
    real border[NUMBER_OF_MESH_EDGES];
    for (int32_t edge = 0; edge < NUMBER_OF_MESH_EDGES; edge++)
    {
        real width = zones ? (real)zones[edge] : 0;
        if (width > 4) width = std::max(4.0f, width - (1 - std::cos(yaw - outward[edge])) * OBSERVER_ORBIT_DISTANCE);
        border[edge] = width;
    }
    bounds->left = border[_mesh_edge_left];
    bounds->right = (real)mesh_width - 1 - border[_mesh_edge_right];
    bounds->top = border[_mesh_edge_top];
    bounds->bottom = (real)mesh_height - 1 - border[_mesh_edge_bottom];
}

void camera_sample(uint32_t mask, bool interpolate, real x, real y, real z, real yaw, real pitch, real zoom)
{
    struct observer_globals &globals = ::observer_globals;
    const int32_t last_index = (globals.camera_history_write_index + NUMBER_OF_CAMERA_SAMPLES - 1) % NUMBER_OF_CAMERA_SAMPLES;
    const camera_position_sample &last = globals.camera_history[last_index];
    const observer_physics_variables &physics = observer().physics;
    camera_position_sample sample;
    sample.valid = true;
    sample.x = (mask & _camera_sample_x) ? x : last.valid ? last.x : physics.x;
    sample.y = (mask & _camera_sample_y) ? y : last.valid ? last.y : physics.y;
    sample.z = (mask & _camera_sample_z) ? z : last.valid ? last.z : physics.z;
    sample.yaw = (mask & _camera_sample_yaw) ? yaw : last.valid ? last.yaw : physics.yaw;
    sample.pitch = (mask & _camera_sample_pitch) ? pitch : last.valid ? last.pitch : physics.pitch;
    sample.zoom = (mask & _camera_sample_zoom) ? zoom : last.valid ? last.zoom : physics.zoom_factor;

    const real reference_x = last.valid ? last.x : physics.x, reference_y = last.valid ? last.y : physics.y;
    const real dx = sample.x - reference_x, dy = sample.y - reference_y;
    const bool smooth = interpolate && motion_interpolation_enabled() && dx * dx + dy * dy < NO_SAMPLE_JUMP_SQUARED;
    if (!smooth)
    {
        place_camera_at_once(sample.x, sample.y, sample.z, sample.yaw, sample.pitch, sample.zoom);
        globals.camera_history_write_index = (globals.camera_history_write_index + 1) % NUMBER_OF_CAMERA_SAMPLES;
        clear_camera_history();
        reset_observer_velocity_to_zero();
        return;
    }
    const int32_t now = current_game_time();
    sample.start_time = now;
    sample.end_time = now + 1;
    camera_position_sample &previous = globals.camera_history[last_index];
    if (previous.valid && previous.start_time < now && previous.x == sample.x && previous.y == sample.y &&
        previous.z == sample.z && previous.yaw == sample.yaw && previous.pitch == sample.pitch &&
        previous.zoom == sample.zoom)
    {
        previous.end_time = now + 1;
        return;
    }
    globals.camera_history[globals.camera_history_write_index] = sample;
    globals.camera_history_write_index = (globals.camera_history_write_index + 1) % NUMBER_OF_CAMERA_SAMPLES;
}

void set_observer_location(const world_location3d *location)
{
    const real point_x = (real)location->position.x, point_y = (real)location->position.y;
    for (int32_t k = 0; k <= 32768; k += 2048)
    {
        for (int32_t side = 0; side < (k ? 2 : 1); side++)
        {
            const int32_t candidate = (int32_t)location->yaw + (side ? k : -k);
            const real yaw = normalize_radians((real)candidate * ANGLE_UNIT);
            const real behind = yaw + PI;
            const real x = (real)std::lround(point_x + 6272.0f * std::cos(behind)) * CELLS_PER_WORLD_UNIT;
            const real y = (real)std::lround(point_y + 6272.0f * std::sin(behind)) * CELLS_PER_WORLD_UNIT;
            real_rectangle2d bounds;
            compute_observer_bounds_for_yaw(yaw, &bounds);
            if (x > bounds.left && x < bounds.right && y > bounds.top && y < bounds.bottom)
            {
                camera_sample(_camera_sample_all, false, x, y, OBSERVER_DEFAULT_HEIGHT, yaw, OBSERVER_DEFAULT_PITCH,
                              observer().physics.zoom_factor);
                return;
            }
        }
    }
    const mesh_header *header = get_mesh_header();
    const int16_t *zones = header ? header->edge_of_mesh_buffer_zones : nullptr;
    const real left = zones ? zones[_mesh_edge_left] * WORLD_UNITS_PER_CELL : 0;
    const real top = zones ? zones[_mesh_edge_top] * WORLD_UNITS_PER_CELL : 0;
    const real right = ((real)mesh_width - (zones ? zones[_mesh_edge_right] : 0)) * WORLD_UNITS_PER_CELL;
    const real bottom = ((real)mesh_height - (zones ? zones[_mesh_edge_bottom] : 0)) * WORLD_UNITS_PER_CELL;
    const real x = clamp_real(point_x, left, std::max(left, right));
    const real y = clamp_real(point_y, top, std::max(top, bottom));
    const real yaw = std::atan2(point_y - y, point_x - x);
    camera_sample(_camera_sample_all, false, x * CELLS_PER_WORLD_UNIT, y * CELLS_PER_WORLD_UNIT, OBSERVER_DEFAULT_HEIGHT,
                  yaw, OBSERVER_DEFAULT_PITCH, observer().physics.zoom_factor);
}

void set_actual_observer_location_and_zoom(const world_location3d *location, fixed zoom_factor, bool interpolate)
{
    camera_sample(_camera_sample_all, interpolate, (real)location->position.x * CELLS_PER_WORLD_UNIT,
                  (real)location->position.y * CELLS_PER_WORLD_UNIT, OBSERVER_DEFAULT_HEIGHT,
                  (real)location->yaw * ANGLE_UNIT, OBSERVER_DEFAULT_PITCH, (real)zoom_factor * ZOOM_UNIT);
}

void set_observer_focus(const world_point3d *focus, angle viewing_angle)
{
    if (!VASSERT(get_camera_control_flags() & _camera_controlled_by_object_tracking_flag,
                 "get_camera_control_flags() & _camera_controlled_by_object_tracking_flag"))
        return;
    const observer_physics_variables &physics = observer().physics;
    const real pitch = (real)physics.true_location.pitch * ANGLE_UNIT;
    const real tangent = std::tan(TWO_PI - pitch);
    const real point_x = (real)focus->x * CELLS_PER_WORLD_UNIT, point_y = (real)focus->y * CELLS_PER_WORLD_UNIT;
    const real distance =
        tangent != 0 ? (physics.z - (real)focus->z * CELLS_PER_WORLD_UNIT) / tangent : OBSERVER_ORBIT_DISTANCE;
    const real a = (real)viewing_angle * ANGLE_UNIT;
    const real x = clamp_real(point_x + distance * std::cos(a), 0, std::max(0, mesh_width - 1));
    const real y = clamp_real(point_y + distance * std::sin(a), 0, std::max(0, mesh_height - 1));
    camera_sample(_camera_sample_x | _camera_sample_y | _camera_sample_yaw, true, x, y, 0, normalize_radians(a + PI), 0, 0);
}

void set_observer_shaking(int16_t shake_type, world_distance shake_amount, int32_t duration)
{
    observer_data &o = observer();
    if (shake_type == NONE) shake_type = 0;
    o.flags |= _observer_shaking_flag;
    o.shake_type = shake_type;
    if (shake_amount == NONE)
    {
        if (shake_type == 0) o.shake_amount = DEFAULT_SHAKE_AMOUNT_0;
        else if (shake_type == 1) o.shake_amount = DEFAULT_SHAKE_AMOUNT_1;
    }
    else
        o.shake_amount = shake_amount;
    if (duration == NONE)
    {
        if (shake_type == 0) o.shake_duration = DEFAULT_SHAKE_DURATION_0;
        else if (shake_type == 1) o.shake_duration = DEFAULT_SHAKE_DURATION_1;
    }
    else
        o.shake_duration = (uint32_t)std::max(duration, 0);
    o.shake_start_time = (uint32_t)current_game_time();
}

void alter_zoom_factor(bool zooming_in, fixed granularity)
{
    observer_physics_variables &physics = observer().physics;
    physics.zoom_factor += (zooming_in ? 1 : -1) * (real)granularity * ZOOM_UNIT;
    physics.zoom_factor = clamp_real(physics.zoom_factor, physics.minimum_zoom_factor, OBSERVER_MAXIMUM_ZOOM_FACTOR);
    store_zoom_preference(physics.zoom_factor);
}

void get_observer_axis_values(real *yaw, real *parallel, real *orthogonal, real *orbit, real *zoom)
{
    const observer_data &o = observer();
    *yaw = o.yaw_axis;
    *parallel = o.parallel_axis;
    *orthogonal = o.orthogonal_axis;
    *orbit = o.orbit_axis;
    *zoom = o.zoom_axis;
}

void set_observer_axis_values(real yaw, real parallel, real orthogonal, real orbit, real zoom)
{
    observer_data &o = observer();
    o.yaw_axis = yaw;
    o.parallel_axis = parallel;
    o.orthogonal_axis = orthogonal;
    o.orbit_axis = orbit;
    o.zoom_axis = zoom;
}

void reset_observer_velocity_to_zero(void)
{
    observer_physics_variables &physics = observer().physics;
    for (int32_t i = 0; i < NUMBER_OF_OBSERVER_VELOCITIES; i++)
        if (i != _observer_velocity_zoom) physics.velocities[i] = 0;
    physics.orbit_delta = physics.zoom_factor_delta = physics.parallel_delta = physics.orthogonal_delta = 0;
}

// ---- actions ---------------------------------------------------------------------------------

real zoom_rungs(real z, bool zoom_in, bool zoom_out)
{
    if (zoom_out && !zoom_in)
    {
        if (z > 0) return 0.0f;
        if (z > -1.0f) return -1.0f;
        if (z > -2.02165f) return -2.02165f;
        if (z > -3.29534f) return -3.29534f;
        if (z > -5.0f) return -5.0f;
        return z;
    }
    if (zoom_in && !zoom_out)
    {
        if (z < -5.0f) return -5.0f;
        if (z < -3.29534f) return -3.29534f;
        if (z < -2.02165f) return -2.02165f;
        if (z < -1.0f) return -1.0f;
        if (z < 0) return 0.0f;
        return z;
    }
    if (zoom_in && zoom_out)
    {
        if (z < -5.0f) return -5.0f;
        if (z < -3.29534f) return -3.29534f;
        if (z == -2.02165f) return -1.0f;
        if (z <= -1.0f) return -2.02165f;
        if (z <= 0) return -1.0f;
        return 0.0f;
    }
    return z;
}

void adjust_axis_values_for_mouse_movement(const action_data *action, real *parallel, real *orthogonal, real *yaw,
                                           real *orbit)
{
    const mouse_control_data *mouse = get_mouse_controls();
    if (!(mouse->flags & _mouse_control_enabled_flag) || !test_action_flag(action, _action_pointer_valid_bit) ||
        test_action_flag(action, _left_mouse_down_bit))
        return;
    rectangle2d screen, frame;
    get_screen_rectangle(get_screen_procedures()->observer_screen_bounds, &screen);
    get_screen_rectangle(get_screen_procedures()->observer_destination_frame, &frame);
    const real T = (real)(screen.top - frame.top), L = (real)(screen.left - frame.left);
    const real B = (real)(screen.bottom - frame.top), R = (real)(screen.right - frame.left);
    const real x = action->pointer.x, y = action->pointer.y;
    // Inside the area inset by 5 pixels: no push.
    if (L + EDGE_ZONE_PIXELS <= x && x < R - EDGE_ZONE_PIXELS && T + EDGE_ZONE_PIXELS <= y && y < B - EDGE_ZONE_PIXELS)
        return;

    const real w = (real)((int32_t)(R - L) / 8);
    const real ht = (mouse->flags & _mouse_control_top_corners_turn_camera_flag) ? (real)((int32_t)(B - T) / 8) : 0;
    const real hb = (mouse->flags & _mouse_control_bottom_corners_orbit_camera_flag) ? (real)((int32_t)(B - T) / 8) : 0;

    real dv = 0, mv = 0;
    if (y <= T + EDGE_ZONE_PIXELS) dv = 1, mv = std::max(0.0f, 1 - (y - T) / EDGE_ZONE_PIXELS);
    else if (y >= B - EDGE_ZONE_PIXELS) dv = -1, mv = std::max(0.0f, 1 - (B - y) / EDGE_ZONE_PIXELS);
    real dh = 0, m = mv;
    if (x <= L + EDGE_ZONE_PIXELS) dh = -1, m = std::max(mv, 1 - (x - L) / EDGE_ZONE_PIXELS);
    else if (x >= R - EDGE_ZONE_PIXELS) dh = 1, m = std::max(mv, 1 - (R - x) / EDGE_ZONE_PIXELS);

    real q = 1;
    if (ht != 0 && y <= T + ht) q = (y - T) / ht;
    if (hb != 0 && y >= B - hb) q = (B - y) / hb;
    real o = dh * q * m;

    // A zone width of 0 (an area narrower than 8 pixels) has no side zones.
    const bool left_zone = w > 0 && x <= L + w;
    const bool right_zone = w > 0 && !left_zone && x >= R - w;
    real p = 0, b = 0, a = 0;
    if (ht == 0 && dv == 1) p = m;
    else if (hb == 0 && dv == -1) p = -m;
    else
    {
        real f = 1;
        if (left_zone || right_zone)
        {
            // Each zone's fraction is measured to its own side of the area.
            const real inside = left_zone ? (x - L) / w : (R - x) / w;
            const real r = (1 - inside) * 0.4f;
            const real side = left_zone ? 1.0f : -1.0f;
            switch (mouse->selectors >> HORIZONTAL_ACTION_SHIFT & MOUSE_SELECTOR_FIELD_MASK)
            {
            case _horizontal_movement_ignored: f = 0, o = 0; break;
            case _horizontal_movement_pan: f = inside; break;
            case _horizontal_movement_rotate: f = r, b = side * 0.375f * r * m; break;
            case _horizontal_movement_orbit: f = r, a = side * 0.75f * r * m; break;
            default: f = 1; break;
            }
        }
        p = dv * f * m;
    }
    if (ht != 0)
    {
        if (w > 0 && x >= R - w && y <= T + ht) b = 0.75f * m * (1 - std::max((R - x) / w, (y - T) / ht));
        else if (w > 0 && x <= L + w && y <= T + ht) b = -0.75f * m * (1 - std::max((x - L) / w, (y - T) / ht));
        else b = 0.75f * m * b;
    }
    if (hb != 0)
    {
        if (w > 0 && x <= L + w && y >= B - hb) a = -0.75f * m * (1 - std::max((x - L) / w, (B - y) / hb));
        else if (w > 0 && x >= R - w && y >= B - hb) a = 0.75f * m * (1 - std::max((R - x) / w, (B - y) / hb));
        else a = 0.75f * m * a;
    }
    if (mouse->flags & _mouse_control_reversed_left_right_flag) o = -o, b = -b, a = -a;
    *parallel += p;
    *orthogonal += o;
    *yaw += b;
    *orbit += a;
}

void update_observer_physics_variables_for_action(action_data *action)
{
    observer_data &o = observer();
    observer_physics_variables &physics = o.physics;
    const observer_physics_constants *c = constants();
    const bool shift = action && test_action_flag(action, _shift_down_bit);
    real move_scale = 1.0f / 512.0f;
    bool wheel_zoom_record = false;
    action_data none;
    if (action)
    {
        move_scale = adjust_action_for_wheel(action, shift, &wheel_zoom_record);
        if (get_camera_control_flags() != 0)
            for (int32_t bit = _orbit_left_bit; bit <= _zoom_out_bit; bit++) clear_action_flag(action, bit);
        else
            adjust_axis_values_for_action(action);
    }
    else
    {
        memset(&none, 0, sizeof(none));
    }
    const action_data *record = action ? action : &none;
    const bool controlled = action && get_camera_control_flags() == 0;
    auto magnitude = [&](real axis) { return controlled ? std::fabs(axis) : 0.0f; };

    update_observer_physics_variable(&physics.velocities[_observer_velocity_parallel],
                                     test_action_flag(record, _move_forward_bit), test_action_flag(record, _move_backward_bit),
                                     magnitude(o.parallel_axis), &c->constants[_observer_constant_parallel], move_scale);
    update_observer_physics_variable(&physics.velocities[_observer_velocity_orthogonal],
                                     test_action_flag(record, _move_left_bit), test_action_flag(record, _move_right_bit),
                                     magnitude(o.orthogonal_axis), &c->constants[_observer_constant_orthogonal], move_scale);
    update_observer_physics_variable(&physics.velocities[_observer_velocity_yaw], test_action_flag(record, _yaw_left_bit),
                                     test_action_flag(record, _yaw_right_bit), magnitude(o.yaw_axis),
                                     &c->constants[_observer_constant_yaw], ANGLE_UNIT);
    update_observer_physics_variable(&physics.velocities[_observer_velocity_orbit], test_action_flag(record, _orbit_right_bit),
                                     test_action_flag(record, _orbit_left_bit), magnitude(o.orbit_axis),
                                     &c->constants[_observer_constant_orbit], ANGLE_UNIT);
    update_observer_physics_variable(&physics.velocities[_observer_velocity_zoom], test_action_flag(record, _zoom_in_bit),
                                     test_action_flag(record, _zoom_out_bit), magnitude(o.zoom_axis),
                                     &c->constants[_observer_constant_zoom], ZOOM_UNIT);
    if (!action) return;

    if (shift)
    {
        physics.velocities[_observer_velocity_zoom] = 0;
        const bool zoom_in = test_action_flag(action, wheel_zoom_record ? _zoom_in_bit : _latched_zoom_in_bit);
        const bool zoom_out = test_action_flag(action, wheel_zoom_record ? _zoom_out_bit : _latched_zoom_out_bit);
        if (zoom_in || zoom_out)
        {
            physics.zoom_factor = clamp_real(zoom_rungs(physics.zoom_factor, zoom_in, zoom_out),
                                             physics.minimum_zoom_factor, OBSERVER_MAXIMUM_ZOOM_FACTOR);
            store_zoom_preference(physics.zoom_factor);
        }
    }
    physics.orthogonal_delta += action->multitouch_pan_delta_x * 0.05f;
    physics.parallel_delta += action->multitouch_pan_delta_y * 0.05f;
    physics.zoom_factor_delta += action->multitouch_zoom_delta * 0.0075f;
    physics.orbit_delta += action->multitouch_rotation_delta * -2.0f;
}

// ---- per frame ------------------------------------------------------------------------------

void update_observer_physics_variables(void)
{
    struct observer_globals &globals = ::observer_globals;
    observer_data &o = observer();
    observer_physics_variables &physics = o.physics;
    real_rectangle2d bounds;
    compute_observer_bounds_for_yaw(physics.yaw, &bounds);
    const uint32_t now = machine_milliseconds();
    const real ticks = clamp_real((real)(uint32_t)(now - globals.previous_update_time) * 30.0f / 1000.0f, 0,
                                  MAXIMUM_FRAME_TICKS);
    globals.previous_update_time = now;
    clear_camera_history();

    if (current_game_time() == 0)
        physics.zoom_factor = clamp_real((real)get_game_preferences()->zoom_factor * ZOOM_UNIT,
                                         physics.minimum_zoom_factor, OBSERVER_MAXIMUM_ZOOM_FACTOR);

    const real c = std::cos(physics.yaw), s = std::sin(physics.yaw);
    const real parallel = physics.velocities[_observer_velocity_parallel];
    const real orthogonal = physics.velocities[_observer_velocity_orthogonal];
    real dx = (physics.parallel_delta * c - physics.orthogonal_delta * s) + (parallel * c - orthogonal * s) * ticks;
    real dy = (physics.parallel_delta * s + physics.orthogonal_delta * c) + (parallel * s + orthogonal * c) * ticks;
    const real dz = physics.velocities[_observer_velocity_vertical] * ticks;
    physics.parallel_delta = physics.orthogonal_delta = 0;

    bool applied;
    if (o.flags & _observer_bounded_flag)
    {
        dx *= border_factor(&physics.x, dx, bounds.left, bounds.right, &applied);
        dy *= border_factor(&physics.y, dy, bounds.top, bounds.bottom, &applied);
    }
    {
        real pitch, eye_dx, eye_dy, eye_dz;
        eye_offset(physics, &pitch, &eye_dx, &eye_dy, &eye_dz);
        keep_focus_where_eye_follows(&physics.x, &dx, eye_dx, (real)std::max(0, mesh_width - 1), bounds.left, bounds.right);
        keep_focus_where_eye_follows(&physics.y, &dy, eye_dy, (real)std::max(0, mesh_height - 1), bounds.top, bounds.bottom);
    }
    if (!view_reaches_explored_ground(physics.x + dx, physics.y + dy, physics.yaw)) dx = dy = 0;
    physics.x += dx;
    physics.y += dy;
    physics.z += dz;

    const real orbit = physics.velocities[_observer_velocity_orbit];
    if (orbit != 0 || physics.orbit_delta != 0)
    {
        real e = orbit * ticks + physics.orbit_delta;
        physics.orbit_delta = 0;
        real odx = OBSERVER_ORBIT_DISTANCE * (std::cos(physics.yaw) - std::cos(physics.yaw + e));
        real ody = OBSERVER_ORBIT_DISTANCE * (std::sin(physics.yaw) - std::sin(physics.yaw + e));
        if (o.flags & _observer_bounded_flag)
        {
            bool x_applied, y_applied;
            const real fx = border_factor(&physics.x, odx, bounds.left, bounds.right, &x_applied);
            const real fy = border_factor(&physics.y, ody, bounds.top, bounds.bottom, &y_applied);
            const real smaller = std::min(fx, fy);
            odx *= smaller;
            e *= smaller;
            ody *= y_applied ? fy : fx;
        }
        if (!view_reaches_explored_ground(physics.x + odx, physics.y + ody, physics.yaw + e)) odx = ody = e = 0;
        physics.x += odx;
        physics.y += ody;
        physics.yaw += e;
    }

    physics.yaw = normalize_radians(physics.yaw + physics.velocities[_observer_velocity_yaw] * ticks);
    physics.pitch = clamp_real(physics.pitch + physics.velocities[_observer_velocity_pitch] * ticks,
                               OBSERVER_MINIMUM_PITCH, OBSERVER_MAXIMUM_PITCH);
    physics.zoom_factor += physics.velocities[_observer_velocity_zoom] * ticks + physics.zoom_factor_delta;
    physics.zoom_factor_delta = 0;
    if (physics.zoom_factor < physics.minimum_zoom_factor || physics.zoom_factor > OBSERVER_MAXIMUM_ZOOM_FACTOR)
    {
        physics.zoom_factor = clamp_real(physics.zoom_factor, physics.minimum_zoom_factor, OBSERVER_MAXIMUM_ZOOM_FACTOR);
        physics.velocities[_observer_velocity_zoom] = 0;
    }
    store_zoom_preference(physics.zoom_factor);
    o.flags |= _observer_filtering_flag;
}

void interpolate_observer(void)
{
    struct observer_globals &globals = ::observer_globals;
    if (!motion_interpolation_enabled()) return;
    const int32_t index = globals.camera_history_write_index;
    const camera_position_sample &p = globals.camera_history[(index + 1) % NUMBER_OF_CAMERA_SAMPLES];
    const camera_position_sample &q = globals.camera_history[(index + 2) % NUMBER_OF_CAMERA_SAMPLES];
    const camera_position_sample &n = globals.camera_history[(index + 3) % NUMBER_OF_CAMERA_SAMPLES];
    if (!p.valid || !q.valid || !n.valid || !(p.start_time < q.start_time && q.start_time < n.start_time)) return;
    const int32_t span = (q.start_time + q.end_time - p.start_time - p.end_time) / 2;
    const real t = game_speed_aware_lerp_logic(&globals.camera_lerp_state, p.start_time, span);
    auto angular = [t](real from, real to) {
        real difference = std::remainder(to - from, TWO_PI);
        return normalize_radians(from + t * difference);
    };
    place_camera_at_once(p.x + (q.x - p.x) * t, p.y + (q.y - p.y) * t, p.z + (q.z - p.z) * t, angular(p.yaw, q.yaw),
                         angular(p.pitch, q.pitch), p.zoom + (q.zoom - p.zoom) * t);
}

real observer_filtered_height(real x, real y)
{
    return filtered_height(&observer().focus_height_filter_state, x, y);
}

// Whatever moved the camera, the middle of the picture looks at the map: the
// point where the line of sight along the view's axis comes down `height`
// below the eye (to the map's lowest ground) is held inside the mesh, the
// eye moved with it.  The picture's middle looks down more steeply than the
// axis, so with the eye over the mesh its sight line meets the ground
// between the two, on the map too.
// A view held by the mesh's edges on one side and turned away from the map
// would otherwise show only the void.
void keep_view_centre_on_the_map(real pitch, real yaw, real height, real *eye_x, real *eye_y)
{
    const real down = -std::sin(pitch), along = std::cos(pitch);
    if (down <= 0.01f || height <= 0) return; // level or upward: the horizon is in the picture anyway
    const real reach = std::min(height * along / down, (real)4 * std::max(mesh_width, mesh_height));
    const real x = *eye_x + reach * std::cos(yaw), y = *eye_y + reach * std::sin(yaw);
    // The terrain is drawn from the first vertex to the last, a cell short of
    // the mesh's far edges; the point is held half a cell inside that.
    const real margin = 0.5f;
    *eye_x += clamp_real(x, margin, std::max(margin, (real)mesh_width - 1 - margin)) - x;
    *eye_y += clamp_real(y, margin, std::max(margin, (real)mesh_height - 1 - margin)) - y;
}

void build_observer_view(view_data *view, int32_t ticks_elapsed, int16_t resolution_width, int16_t resolution_height)
{
    (void)ticks_elapsed;
    struct observer_globals &globals = ::observer_globals;
    observer_data &o = observer();
    observer_physics_variables &physics = o.physics;
    memset(view, 0, sizeof(*view));
    if (o.flags & _observer_filtering_flag) view->flags |= _view_filtering_flag;
    if (game_->type == _game_type_demo) view->flags |= _view_demo_flag;
    const mesh_header *header = get_mesh_header();
    if (header && header->media_tag != (tag)NONE)
    {
        const media_definition *media = get_media_definition(0);
        if (media && (media->flags & 1)) view->flags |= _view_media_flag;
    }
    view->resolution_width = resolution_width;
    view->resolution_height = resolution_height;
    view->half_resolution_width = (int16_t)(resolution_width / 2);
    view->half_resolution_height = (int16_t)(resolution_height / 2);

    real pitch, eye_dx, eye_dy, eye_dz;
    eye_offset(physics, &pitch, &eye_dx, &eye_dy, &eye_dz);

    real focus_z = physics.z;
    if (header && (header->flags & _mesh_has_terrain_following_camera_flag))
    {
        const real ahead_x = physics.x + OBSERVER_ORBIT_DISTANCE * std::cos(physics.yaw);
        const real ahead_y = physics.y + OBSERVER_ORBIT_DISTANCE * std::sin(physics.yaw);
        focus_z = (filtered_height(&o.focus_height_filter_state, ahead_x, ahead_y) + FOCUS_HEIGHT_ABOVE_TERRAIN) *
                  CELLS_PER_WORLD_UNIT;
    }
    real eye_x = physics.x + eye_dx;
    real eye_y = physics.y + eye_dy;
    real eye_z = focus_z + eye_dz;
    // The eye stays over the mesh above all; the middle of the view comes as
    // near the map as that leaves it.  Its line of sight is followed down to
    // the map's lowest ground, not to the focus: zoomed in, the eye stands
    // below the focus, and a sight line followed to the focus's height would
    // never come down at all.  A second pass holds it after the eye was held
    // over the mesh and lifted over the ground.
    const real lowest = (real)min_cell_height * CELLS_PER_WORLD_UNIT;
    const real free_x = eye_x, free_y = eye_y;
    for (int32_t pass = 0; pass < 2; ++pass)
    {
        keep_view_centre_on_the_map(pitch, physics.yaw, eye_z - lowest, &eye_x, &eye_y);
        eye_x = clamp_real(eye_x, 0, (real)std::max(0, mesh_width - 1));
        eye_y = clamp_real(eye_y, 0, (real)std::max(0, mesh_height - 1));
        const world_point2d ground = {cells_to_world(eye_x), cells_to_world(eye_y)};
        const world_distance ground_height = get_mesh_height(&ground, _mesh_ground_height);
        if (ground_height != MESH_NO_HEIGHT)
            eye_z = std::max(eye_z, (real)ground_height * CELLS_PER_WORLD_UNIT + EYE_MINIMUM_HEIGHT_ABOVE_GROUND);
    }
    // The focus follows the held eye: a focus left past it would make the
    // next moves back seem dead until it came to where the eye is free.
    // However the camera was put there (the edge, a key, a script, a saved
    // game, a film), it comes back to the map.
    physics.x += eye_x - free_x;
    physics.y += eye_y - free_y;

    world_location3d location;
    memset(&location, 0, sizeof(location));
    location.position = {cells_to_world(eye_x), cells_to_world(eye_y), cells_to_world(eye_z)};

    if (o.flags & _observer_shaking_flag)
    {
        const uint32_t t = (uint32_t)current_game_time() - o.shake_start_time;
        if (t > o.shake_duration) o.flags &= ~(uint32_t)_observer_shaking_flag;
        else
        {
            real f = 0;
            const uint32_t duration = o.shake_duration;
            if (o.shake_type == 0 && duration / 2 > 0) f = (real)std::min(t, duration - t) / (real)(duration / 2);
            else if (o.shake_type == 1 && duration > 0) f = (real)(duration - t) / (real)duration;
            const int32_t strength = (int32_t)std::lround((real)o.shake_amount * f);
            if (strength >= 1)
            {
                // Visual only: local draws, each between -strength and -1.
                location.position.x -= 1 + (int32_t)(local_random() % (uint32_t)strength);
                location.position.y -= 1 + (int32_t)(local_random() % (uint32_t)strength);
                location.position.z -= 1 + (int32_t)(local_random() % (uint32_t)strength);
            }
        }
    }
    const real c = std::cos(physics.yaw), s = std::sin(physics.yaw);
    const real parallel = physics.velocities[_observer_velocity_parallel];
    const real orthogonal = physics.velocities[_observer_velocity_orthogonal];
    location.velocity.i = (int16_t)clamp_real((parallel * c - orthogonal * s) * WORLD_UNITS_PER_CELL, -32768, 32767);
    location.velocity.j = (int16_t)clamp_real((parallel * s + orthogonal * c) * WORLD_UNITS_PER_CELL, -32768, 32767);
    location.velocity.k = (int16_t)clamp_real(physics.velocities[_observer_velocity_vertical] * WORLD_UNITS_PER_CELL, -32768, 32767);
    location.height = (short_world_distance)clamp_real(eye_z * WORLD_UNITS_PER_CELL, -32768, 32767);
    location.yaw = radians_to_angle(physics.yaw);
    location.pitch = radians_to_angle(pitch);
    view->location = location;
    view->tick_count = view_animation_clock();
    view->game_ticks_elapsed = std::max(0, current_game_time() - globals.last_view_game_time);
    globals.last_view_game_time = current_game_time();
    const real aspect = resolution_height > 0 ? (real)resolution_width * 0.75f / (real)resolution_height : 1.0f;
    view->tangent_of_half_field_of_view = std::tan(25.0f * PI / 180.0f) * aspect;
    view->horizontal_offset = 0;
    view->vertical_offset = -0.14285715f;
    view->rasterizer_code = 0;
    physics.true_location = location;
}

const world_location3d *sound_listener_proc(void)
{
    if (game_->flags.load() & _game_is_disabled_flag) return nullptr;
    const observer_physics_variables &physics = observer().physics;
    world_location3d &listener = observer_globals.listener_location;
    memset(&listener, 0, sizeof(listener));
    listener.position.x = (world_distance)std::lround(physics.x * WORLD_UNITS_PER_CELL + LISTENER_LEAD * std::cos(physics.yaw));
    listener.position.y = (world_distance)std::lround(physics.y * WORLD_UNITS_PER_CELL + LISTENER_LEAD * std::sin(physics.yaw));
    listener.position.z = cells_to_world(physics.z);
    listener.yaw = radians_to_angle(physics.yaw);
    listener.pitch = radians_to_angle(physics.pitch);
    return &listener;
}

bool extended_zoom_enabled(void)
{
    if (observer_globals.extended_zoom_disabled) return false;
    if (!rasterizer_supports_extended_zoom()) return false;
    if (game_->type == _game_type_replay) return true;
    return game_->type == _game_type_networked && local_player_team_index == NONE;
}

bool perma_disable_extended_zoom(void)
{
    const bool was_available = extended_zoom_enabled();
    observer_globals.extended_zoom_disabled = true;
    observer().physics.minimum_zoom_factor = OBSERVER_MINIMUM_ZOOM_FACTOR;
    return was_available;
}

// ---- registration -------------------------------------------------------------------------------


