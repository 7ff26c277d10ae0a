// Automatic object tracking.

#include "object_tracking.h"

#include <cstring>

#include "camera_control.h"
#include "game_time.h"
#include "mesh.h"
#include "monster_definitions.h"
#include "monster_visibility.h"
#include "monsters.h"
#include "objects.h"
#include "observer.h"
#include "vesk_random.h"

static struct object_tracking_globals
{
    tracking_list_entry tracking_list[MAXIMUM_NUMBER_OF_TRACKED_ITEMS];
    tracking_data tracking;
} object_tracking_globals;

// random n of the camera: local_random scaled to 0..n-1.
static int32_t local_random_below(int32_t n)
{
    return (int32_t)(((uint32_t)local_random() * (uint32_t)n) >> 16);
}

static int32_t now(void) { return game_->game_time; }

static void clear_tracking_list_entry(tracking_list_entry *entry)
{
    entry->type = _tracking_object;
    entry->object_index = NONE;
    entry->object_identifier = NONE;
    entry->priority = 0;
    entry->duration = 0;
}

static bool entry_in_use(const tracking_list_entry *entry) { return entry->object_index != NONE; }

static object_data *entry_object(const tracking_list_entry *entry)
{
    return entry_in_use(entry) ? get_object_by_identifier(entry->object_index, entry->object_identifier) : nullptr;
}

// The point and angle `step` frames into an eased move (steps 0..30).
static void location_and_angle_from_interpolant_index(int32_t step, world_point3d *location, angle *viewing_angle)
{
    const tracking_data &t = object_tracking_globals.tracking;
    const int64_t f = (int64_t)step * 256 / NUMBER_OF_INTERPOLANT_STEPS;
    // An arithmetic shift floors, as the easing wants for negative distances.
    location->x = t.old_location.x + (world_distance)((((int64_t)t.target_location.x - t.old_location.x) * f) >> 8);
    location->y = t.old_location.y + (world_distance)((((int64_t)t.target_location.y - t.old_location.y) * f) >> 8);
    location->z = t.old_location.z + (world_distance)((((int64_t)t.target_location.z - t.old_location.z) * f) >> 8);

    const int32_t difference = signed_angular_difference(t.old_viewing_angle, t.viewing_angle);
    if (difference == 0 || difference == HALF_CIRCLE)
    {
        *viewing_angle = t.old_viewing_angle;
        return;
    }
    const int32_t turn = (int32_t)((int64_t)(difference < 0 ? -difference : difference) * f / 256);
    *viewing_angle = (angle)(t.old_viewing_angle + (difference < 0 ? -turn : turn));
}

// ---- life cycle -------------------------------------------------------------------

void initialize_object_tracking_for_new_map(void)
{
    memset(&object_tracking_globals, 0, sizeof(object_tracking_globals));
    tracking_data &t = object_tracking_globals.tracking;
    t.list_index = NONE;
    t.object_index = NONE;
    t.object_identifier = NONE;
    t.priority = 0;
    t.orbit_state = _tracking_not_orbiting;
    t.time_last_orbited = now();
    t.tracked_first_object = false;
    t.step_index = NONE;
    for (tracking_list_entry &entry : object_tracking_globals.tracking_list) clear_tracking_list_entry(&entry);
}

void dispose_object_tracking_from_old_map(void) {}

void initialize_camera_to_first_tracked_object(void) {}

const tracking_data *get_tracking_data(void) { return &object_tracking_globals.tracking; }
const tracking_list_entry *get_tracking_list(void) { return object_tracking_globals.tracking_list; }

// ---- what may be followed ---------------------------------------------------------

bool object_can_be_tracked(int32_t object_index)
{
    const object_data *object = get_object(object_index);
    if (!object || (object->flags & _object_is_invisible_flag)) return false;
    const int32_t cell_x = object->location.position.x >> WORLD_FRACTIONAL_BITS;
    const int32_t cell_y = object->location.position.y >> WORLD_FRACTIONAL_BITS;
    if (!mesh_cell_in_bounds(cell_x, cell_y)) return false;
    if (!visibility_is_visible(get_cell_visibility(visibility_front_buffer(), cell_x, cell_y))) return false;
    if (object->owner == _object_is_monster)
    {
        const monster_data *monster = get_monster_data(object->owner_index);
        const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
        return definition && definition->monster_class != _monster_class_ambient_life;
    }
    // Signed: a component moving backwards does not count as movement.
    const world_vector3d &v = object->location.velocity;
    return v.i >= MINIMUM_TRACKED_OBJECT_VELOCITY || v.j >= MINIMUM_TRACKED_OBJECT_VELOCITY ||
           v.k >= MINIMUM_TRACKED_OBJECT_VELOCITY;
}

void add_tracking_object(int32_t object_index, int32_t owner_team_index)
{
    (void)owner_team_index;
    if (!(get_camera_control_flags() & _camera_controlled_by_object_tracking_flag)) return;
    if (!object_can_be_tracked(object_index)) return;
    const object_data *object = get_object(object_index);
    tracking_list_entry *list = object_tracking_globals.tracking_list;
    for (int32_t i = 0; i < MAXIMUM_NUMBER_OF_TRACKED_ITEMS; i++)
        if (list[i].object_index == object_index && list[i].object_identifier == object->identifier) return;

    tracking_list_entry *chosen = nullptr;
    for (int32_t i = MAXIMUM_NUMBER_OF_TRACKED_ITEMS - 1; i >= 0 && !chosen; i--)
        if (!entry_in_use(&list[i])) chosen = &list[i];
    if (!chosen)
    {
        tracking_list_entry *lowest = &list[0];
        for (int32_t i = 1; i < MAXIMUM_NUMBER_OF_TRACKED_ITEMS; i++)
            if (list[i].priority < lowest->priority) lowest = &list[i];
        if (object->tracking_priority <= lowest->priority) return;
        chosen = lowest;
        // Overwriting the followed entry in place would leave the camera on an
        // object the list no longer holds (and frozen once it is gone): the
        // entry is given up, and the next tick's choice starts afresh.
        if (object_tracking_globals.tracking.list_index == chosen - list)
            object_tracking_globals.tracking.list_index = NONE;
    }
    chosen->object_index = (int16_t)object_index;
    chosen->object_identifier = object->identifier;
    chosen->priority = object->tracking_priority;
    if (object->owner == _object_is_projectile)
    {
        chosen->type = _tracking_projectile;
        chosen->duration = PROJECTILE_TRACKING_TIME;
    }
    else
    {
        chosen->type = _tracking_object;
        chosen->duration = TRACKING_TIME_LOWER_BOUND + local_random_below(TRACKING_TIME_DELTA);
    }
}

// ---- per tick -----------------------------------------------------------------------

static void manage_tracking_list(void)
{
    tracking_list_entry *list = object_tracking_globals.tracking_list;
    tracking_data &t = object_tracking_globals.tracking;
    int32_t used = 0;
    for (int32_t i = 0; i < MAXIMUM_NUMBER_OF_TRACKED_ITEMS; i++)
        if (entry_in_use(&list[i])) used++;

    for (int32_t i = 0; i < MAXIMUM_NUMBER_OF_TRACKED_ITEMS; i++)
    {
        tracking_list_entry *entry = &list[i];
        if (!entry_in_use(entry)) continue;
        const bool followed = t.list_index == i;
        const bool trackable = entry_object(entry) && object_can_be_tracked(entry->object_index);
        if (entry->type == _tracking_projectile)
        {
            if (trackable) continue;
            // A projectile that landed keeps the camera a little longer.
            entry->duration--;
            if (!followed || entry->duration < 1)
            {
                clear_tracking_list_entry(entry);
                if (followed) t.list_index = NONE;
            }
            continue;
        }
        if (!trackable)
        {
            clear_tracking_list_entry(entry);
            if (followed) t.list_index = NONE;
            continue;
        }
        if (!followed) continue;
        if (--entry->duration <= 0)
        {
            if (used < 2) entry->duration = TRACKING_TIME_LOWER_BOUND + local_random_below(TRACKING_TIME_DELTA);
            else
            {
                clear_tracking_list_entry(entry);
                t.list_index = NONE;
            }
        }
    }
}

// The point and angle the camera is at now: within an eased move, the
// move's current step.
static void current_location_and_angle(world_point3d *location, angle *viewing_angle)
{
    const tracking_data &t = object_tracking_globals.tracking;
    if (t.step_index != NONE)
        location_and_angle_from_interpolant_index(t.step_index, location, viewing_angle);
    else
    {
        *location = t.target_location;
        *viewing_angle = t.viewing_angle;
    }
}

static void switch_to_entry(int32_t best)
{
    tracking_data &t = object_tracking_globals.tracking;
    const tracking_list_entry *entry = &object_tracking_globals.tracking_list[best];
    const object_data *object = entry_object(entry);
    t.list_index = (int16_t)best;
    t.object_index = entry->object_index;
    t.object_identifier = entry->object_identifier;
    t.priority = entry->priority;

    world_point3d from;
    angle from_angle;
    current_location_and_angle(&from, &from_angle);
    const world_point2d target = {t.target_location.x, t.target_location.y};
    const world_point2d there = {object->location.position.x, object->location.position.y};
    if (!t.tracked_first_object || distance2d(&target, &there) >= MINIMUM_DISTANCE_BEFORE_SWITCHING)
        t.step_index = NONE;
    else
    {
        t.old_location = from;
        t.old_viewing_angle = from_angle;
        t.step_index = 0;
    }
    t.tracked_first_object = true;
    t.orbit_state = _tracking_not_orbiting;
    t.viewing_angle = (angle)(from_angle + local_random_below(2 * MAXIMUM_ANGULAR_DELTA) - MAXIMUM_ANGULAR_DELTA);
    t.time_last_orbited = now();
}

void update_object_tracking(void)
{
    tracking_list_entry *list = object_tracking_globals.tracking_list;
    tracking_data &t = object_tracking_globals.tracking;
    const int32_t time = now();
    manage_tracking_list();

    int32_t best = t.list_index;
    int32_t best_priority = best != NONE ? list[best].priority : 0;
    for (int32_t i = 0; i < MAXIMUM_NUMBER_OF_TRACKED_ITEMS; i++)
    {
        const object_data *object = entry_object(&list[i]);
        if (!object) continue;
        list[i].priority = object->tracking_priority;
        if (best == NONE || list[i].priority > best_priority)
        {
            best = i;
            best_priority = list[i].priority;
        }
    }
    if (best != NONE && best != t.list_index) switch_to_entry(best);

    if (t.list_index != NONE)
    {
        const object_data *object = get_object_by_identifier(t.object_index, t.object_identifier);
        if (object)
        {
            t.target_location = object->location.position;
            t.target_location.z += object->height1 - object->height0;
        }
    }

    if (t.orbit_state == _tracking_not_orbiting)
    {
        if (time > t.time_last_orbited + TIME_BEFORE_ORBITING_AGAIN_LOWER_BOUND +
                       local_random_below(TIME_BEFORE_ORBITING_AGAIN_DELTA))
        {
            t.orbit_state = (int16_t)(_tracking_orbiting_down + local_random_below(2));
            t.orbit_finish_time = time + ORBIT_TIME_LOWER_BOUND + local_random_below(ORBIT_TIME_DELTA);
        }
    }
    else if (time > t.orbit_finish_time)
    {
        t.orbit_state = _tracking_not_orbiting;
        t.time_last_orbited = time;
    }
}

// ---- per frame ----------------------------------------------------------------------

void track_object(void)
{
    tracking_data &t = object_tracking_globals.tracking;
    if (!t.tracked_first_object) return;

    if (t.orbit_state != _tracking_not_orbiting)
    {
        t.orbit_velocity = (int16_t)(t.orbit_velocity >= MAXIMUM_ORBIT_VELOCITY - ORBIT_ACCELERATION + 1
                                         ? MAXIMUM_ORBIT_VELOCITY
                                         : t.orbit_velocity + ORBIT_ACCELERATION);
        t.viewing_angle = (angle)(t.orbit_state == _tracking_orbiting_down ? t.viewing_angle - t.orbit_velocity
                                                                           : t.viewing_angle + t.orbit_velocity);
    }
    else
        t.orbit_velocity = (int16_t)(t.orbit_velocity < ORBIT_ACCELERATION ? 0 : t.orbit_velocity - ORBIT_ACCELERATION);

    if (!get_object_by_identifier(t.object_index, t.object_identifier)) return;
    if (game_->flags.load() & _game_is_paused_flag) return;
    world_point3d point;
    angle viewing_angle;
    current_location_and_angle(&point, &viewing_angle);
    if (t.step_index != NONE && ++t.step_index > NUMBER_OF_INTERPOLANT_STEPS) t.step_index = NONE;
    set_observer_focus(&point, viewing_angle);
}
