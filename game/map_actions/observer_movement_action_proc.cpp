// 'obmo': scripted camera flights and shakes.

#include "observer_movement_action_proc.h"

#include <algorithm>
#include <cstring>

#include "action_proc_helpers.h"
#include "action_procs.h"
#include "camera_control.h"
#include "game_records.h"
#include "game_time.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "mesh.h"
#include "monster_lists.h"
#include "monsters.h"
#include "objects.h"
#include "observer.h"

namespace {

enum
{
    MAXIMUM_OBSERVER_SUBJECTS = 400,
    SUBJECT_OVERLOOK_DISTANCE = 5120, // ten cells
    DEFAULT_LINEAR_SEPARATION = 32,
    DEFAULT_ANGULAR_SEPARATION = 512,
    ANGULAR_SEPARATION_UNIT = 64,
    EIGHTH_SCALE_DISTANCE = 1920, // long flights are measured at one eighth scale
    MAXIMUM_ZOOM_DESTINATION = -65535,
    MAXIMUM_INTERPOLANT_COUNT = INT16_MAX,
};

const field_tag mode_field = field('m', 'o', 'd', 'e');
const field_tag subject_field = field('s', 'u', 'b', 'j');
const field_tag destination_field = field('d', 'e', 's', 't');
const field_tag facing_field = field('f', 'a', 'c', 'i');
const field_tag linear_field = field('l', 'i', 'n', 'e');
const field_tag angular_field = field('a', 'n', 'g', 'u');
const field_tag time_field = field('t', 'i', 'm', 'e');
const field_tag dont_return_control_field = field('d', 'r', 'c', 'o');
const field_tag maximum_zoom_field = field('m', 'a', 'x', 'z');
const field_tag shake_field = field('s', 'h', 'a', 'k');
const field_tag shake_duration_field = field('d', 'u', 'r', 'a');
const field_tag shake_intensity_field = field('i', 'n', 't', 'e');

struct observer_action_globals
{
    world_point2d origin, destination;
    angle original_facing, final_facing;
    fixed origin_zoom_factor, destination_zoom_factor;
    int16_t interpolant_count;
    int16_t current_interpolant; // the flight runs while it is at most interpolant_count
    bool dont_return_control;
};
observer_action_globals observer_action_globals;

// The object of the one unit a flight overlooks; null when it has none.
const object_data *subject_object(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    return monster ? get_object(monster->object_index) : nullptr;
}

// The spot ten cells from the unit nearest the camera, inside the mesh.
void overlook_unit(const object_data *object, world_point2d *spot, angle *facing)
{
    const world_point2d unit = {object->location.position.x, object->location.position.y};
    world_location3d camera;
    get_observer_location(&camera);
    const world_point2d from = {camera.position.x, camera.position.y};
    closest_point_on_circle2d(&unit, SUBJECT_OVERLOOK_DISTANCE, &from, spot);
    spot->x = std::clamp<world_distance>(spot->x, 0, std::max<world_distance>(0, mesh_width * WORLD_ONE - 1));
    spot->y = std::clamp<world_distance>(spot->y, 0, std::max<world_distance>(0, mesh_height * WORLD_ONE - 1));
    *facing = arctangent(unit.x - spot->x, unit.y - spot->y);
}

// Mode 1: the flight to the one subject, or to 'dest' facing 'faci'; the
// camera is left alone unless `takes_camera`.  False (debugged) when what it
// needs is missing, whether or not the camera is taken.
bool set_up_scripted_flight(int32_t action_index, bool takes_camera)
{
    int16_t identifiers[MAXIMUM_OBSERVER_SUBJECTS];
    const int32_t named = get_combined_map_action_parameter(action_index, subject_field, _parameter_monster_identifier,
                                                            identifiers, MAXIMUM_OBSERVER_SUBJECTS);
    world_point2d destination;
    angle facing;
    if (named <= 0)
    {
        int16_t stored_facing;
        if (!get_indexed_world_point2d_parameter(action_index, destination_field, &destination, 0))
        {
            map_action_debug(action_index, "missing destination");
            return false;
        }
        if (!get_indexed_short_integer_parameter(action_index, facing_field, _parameter_angle, &stored_facing, 0))
        {
            map_action_debug(action_index, "missing facing");
            return false;
        }
        facing = (angle)stored_facing;
    }
    else
    {
        int16_t indexes[MAXIMUM_OBSERVER_SUBJECTS];
        const int32_t units = monster_identifiers_to_monster_indexes(identifiers, indexes, named);
        const object_data *object = units == 1 ? subject_object(indexes[0]) : nullptr;
        if (!object)
        {
            map_action_debug(action_index, "only works with 1 monster in subject list");
            return false;
        }
        if (takes_camera) overlook_unit(object, &destination, &facing);
    }
    if (!takes_camera) return true;
    observer_action_globals.dont_return_control = has_flag(action_index, dont_return_control_field);
    setup_camera_movement(action_index, &destination, facing);
    return true;
}

} // namespace

uint32_t observer_movement_action_proc(int32_t action_index)
{
    // The camera is the viewer's own: a film (a saved game being restored
    // too) leaves it alone but for the shake.  The result is the script's
    // success, which the game simulates, so a film makes the same checks and
    // returns what the game it replays returned.
    const bool takes_camera = game_->type != _game_type_replay;
    int32_t mode;
    if (!get_indexed_long_integer_parameter(action_index, mode_field, _parameter_integer, &mode, 0))
    {
        if (takes_camera) set_camera_control_flags(0);
        map_action_debug(action_index, "missing camera mode");
        return 0;
    }
    if (mode == -1)
    {
        if (takes_camera) set_camera_control_flags(0);
    }
    else
    {
        if (takes_camera) set_camera_control_flags((int16_t)(1u << (mode & 31)));
        if ((mode & 31) == _camera_controlled_by_map_actions_bit && !set_up_scripted_flight(action_index, takes_camera))
        {
            if (takes_camera) set_camera_control_flags(0);
            return 0;
        }
    }
    if (has_flag(action_index, shake_field))
    {
        fixed duration_seconds;
        int32_t duration = NONE;
        if (get_indexed_long_integer_parameter(action_index, shake_duration_field, _parameter_fixed, &duration_seconds, 0))
            duration = (int16_t)(((int64_t)duration_seconds * TICKS_PER_SECOND) >> 16);
        world_distance amount;
        if (!get_indexed_long_integer_parameter(action_index, shake_intensity_field, _parameter_world_distance, &amount, 0))
            amount = NONE;
        set_observer_shaking(NONE, amount, duration);
        map_action_debug(action_index, "shaking camera");
    }
    return _map_action_proc_succeeded_flag;
}

void setup_camera_movement(int32_t action_index, const world_point2d *destination, angle final_facing)
{
    struct observer_action_globals &g = ::observer_action_globals;
    world_location3d camera;
    get_observer_location(&camera);
    g.origin = {camera.position.x, camera.position.y};
    g.original_facing = camera.yaw;
    g.destination = *destination;
    g.final_facing = final_facing;
    g.origin_zoom_factor = get_observer_zoom_factor();
    g.destination_zoom_factor = has_flag(action_index, maximum_zoom_field) ? MAXIMUM_ZOOM_DESTINATION : 0;

    int32_t distance = distance2d(&g.origin, &g.destination);
    const int32_t turn = angular_difference(g.original_facing, g.final_facing);
    int32_t linear;
    if (!get_indexed_long_integer_parameter(action_index, linear_field, _parameter_world_distance, &linear, 0))
        linear = DEFAULT_LINEAR_SEPARATION;
    const world_point2d origin_eighth = {g.origin.x >> 3, g.origin.y >> 3};
    const world_point2d destination_eighth = {g.destination.x >> 3, g.destination.y >> 3};
    const int32_t distance_eighth = distance2d(&origin_eighth, &destination_eighth);
    if (distance_eighth > EIGHTH_SCALE_DISTANCE)
    {
        distance = distance_eighth;
        linear >>= 3;
    }
    int32_t angular;
    if (get_indexed_long_integer_parameter(action_index, angular_field, _parameter_integer, &angular, 0))
        angular = (int32_t)((uint32_t)angular * ANGULAR_SEPARATION_UNIT);
    else
        angular = DEFAULT_ANGULAR_SEPARATION;

    int32_t linear_steps = 1;
    if (linear != 0) linear_steps = std::max(1, distance / linear);
    const uint16_t angular_unit = (uint16_t)angular;
    const int32_t angular_steps = angular_unit ? (uint16_t)turn / angular_unit : 0;
    // A count past 16 bits would wrap negative and stop the flight; the
    // longest flight is held to the largest count instead.
    g.interpolant_count = (int16_t)std::min<int32_t>(std::max(angular_steps, linear_steps), MAXIMUM_INTERPOLANT_COUNT);

    fixed seconds;
    if (get_indexed_long_integer_parameter(action_index, time_field, _parameter_fixed, &seconds, 0))
    {
        const int64_t maximum_ticks = (int64_t)seconds * TICKS_PER_SECOND / 65536;
        map_action_debug(action_index, "linear interp.= %d, angular interp.= %d, max. time= %d",
                         linear ? (int)(distance / linear) : 0, (int)angular_steps, (int)maximum_ticks);
        if (maximum_ticks < g.interpolant_count) g.interpolant_count = 1;
    }
    g.current_interpolant = 0;
}

void handle_observer_movement_actions(void)
{
    struct observer_action_globals &g = ::observer_action_globals;
    if (g.current_interpolant > g.interpolant_count) return;
    if (!VASSERT(g.interpolant_count > 0, "globals.interpolant_count>0")) return;
    world_location3d location;
    get_observer_location(&location);
    const real t = (real)g.current_interpolant / (real)g.interpolant_count;
    // 64-bit differences: a script's point may lie anywhere.
    location.position.x = (world_distance)(g.origin.x + (int64_t)((real)((int64_t)g.destination.x - g.origin.x) * t));
    location.position.y = (world_distance)(g.origin.y + (int64_t)((real)((int64_t)g.destination.y - g.origin.y) * t));

    const int32_t step = (int32_t)((real)angular_difference(g.original_facing, g.final_facing) * t);
    const uint16_t ahead = (uint16_t)(g.final_facing - g.original_facing);
    if (ahead >= 1 && ahead < HALF_CIRCLE) location.yaw = (angle)(g.original_facing + step);
    else if (ahead > HALF_CIRCLE) location.yaw = (angle)(g.original_facing - step);
    // Equal facings, or half a turn apart: the camera keeps its yaw.

    g.current_interpolant++;
    const fixed zoom = (fixed)((real)g.origin_zoom_factor + (real)(g.destination_zoom_factor - g.origin_zoom_factor) * t);
    set_actual_observer_location_and_zoom(&location, zoom, true);
    if (g.current_interpolant > g.interpolant_count && !g.dont_return_control) set_camera_control_flags(0);
}

int16_t get_observer_movement_interpolant_count(void) { return observer_action_globals.interpolant_count; }

void register_observer_movement_action_hooks(void)
{
    register_observer_movement_action_procedure(observer_movement_action_proc);
}
