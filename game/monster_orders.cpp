// Order functions.

#include "monster_orders.h"

#include <cstring>

#include "gameplay_versions.h"
#include "mesh.h"
#include "monsters.h"
#include "objects.h"

angle adjust_yaw_for_destination(angle yaw, const world_point2d *destination, const world_point2d *position)
{
    const world_distance dx = destination->x - position->x;
    const world_distance dy = destination->y - position->y;
    if (dx == 0 && dy == 0) return yaw;
    return arctangent(dx, dy);
}

void clamp_point_to_mesh(world_point2d *point)
{
    const world_distance right = mesh_width > 0 ? (world_distance)mesh_width * WORLD_ONE - 1 : 0;
    const world_distance bottom = mesh_height > 0 ? (world_distance)mesh_height * WORLD_ONE - 1 : 0;
    if (point->x < 0) point->x = 0;
    if (point->x > right) point->x = right;
    if (point->y < 0) point->y = 0;
    if (point->y > bottom) point->y = bottom;
}

static world_distance clamp_into_playable_span(world_distance value, int32_t cells)
{
    const world_distance size = cells > 0 ? (world_distance)cells * WORLD_ONE : 0;
    const world_distance lowest = PLAYABLE_AREA_INSET, highest = size - 1 - PLAYABLE_AREA_INSET;
    if (highest < lowest) return size / 2;
    return value < lowest ? lowest : value > highest ? highest : value;
}

void clamp_point_to_playable_area(world_point2d *point)
{
    point->x = clamp_into_playable_span(point->x, mesh_width);
    point->y = clamp_into_playable_span(point->y, mesh_height);
}

// What any new order replaces: the target, the pick-up, a stop or a stand.
static const uint32_t replaced_order_flags =
    _monster_has_valid_target_flag | _monster_responding_to_target_command_flag |
    _monster_has_valid_target_index_flag | _monster_has_valid_target_location_flag | _monster_needs_to_stop_flag |
    _monster_should_close_on_target_flag | _monster_will_use_special_ability_flag |
    _monster_wants_to_pick_up_object_flag | _monster_was_stopped_flag | _monster_standing_ground_flag |
    _monster_has_looped_waypoints_flag | _monster_has_back_and_forth_looped_waypoints_flag |
    _monster_looping_back_through_waypoints_flag | _monster_has_final_desired_yaw_flag;

void set_monster_waypoints(int32_t monster_index, int32_t count, const world_point2d *points, bool has_final_yaw,
                           angle final_yaw)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    if (count < 0 || !points) count = 0;
    if (count > MAXIMUM_WAYPOINTS_PER_MONSTER) count = MAXIMUM_WAYPOINTS_PER_MONSTER;
    monster->flags &= ~replaced_order_flags;
    monster->extra_flags &= ~(uint32_t)(_monster_should_use_closest_range_attack_extra_flag |
                                        _monster_ignores_model_collisions_extra_flag);
    monster->target_monster_index = NONE;
    memset(monster->waypoints, 0, sizeof(monster->waypoints));
    for (int32_t i = 0; i < count; ++i)
    {
        monster->waypoints[i] = points[i];
        clamp_point_to_mesh(&monster->waypoints[i]);
    }
    monster->waypoint_count = (int8_t)count;
    monster->waypoint_index = 0;
    if (has_final_yaw)
    {
        monster->flags |= _monster_has_final_desired_yaw_flag;
        monster->final_desired_yaw = final_yaw;
    }
    monster->flags |= _monster_needs_new_path_flag;
    unit_obstacle_facts_changed(monster);
}

void set_monster_target_location(int32_t monster_index, const world_point3d *point, uint32_t flags)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster || !point) return;
    monster->flags &= ~replaced_order_flags;
    monster->extra_flags &= ~(uint32_t)(_monster_should_use_closest_range_attack_extra_flag |
                                        _monster_ignores_model_collisions_extra_flag);
    monster->target_monster_index = NONE;
    monster->waypoint_count = 0;
    monster->waypoint_index = 0;
    world_point2d location = {point->x, point->y};
    clamp_point_to_mesh(&location);
    monster->target_location = location;
    monster->target_location_height = (int16_t)point->z;
    monster->flags |= _monster_has_valid_target_flag | _monster_has_valid_target_location_flag |
                      _monster_needs_new_path_flag;
    unit_obstacle_facts_changed(monster);
    if (flags & _target_location_special_ability_flag) monster->flags |= _monster_will_use_special_ability_flag;
    if (flags & _target_location_ignore_model_collision_flag)
        monster->extra_flags |= _monster_ignores_model_collisions_extra_flag;
}

bool generate_point_of_retreat(int32_t monster_index, const world_point2d *threat, world_point2d *destination,
                               world_distance *height)
{
    const monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!object || !threat || !destination) return false;
    const world_point2d position = {object->location.position.x, object->location.position.y};
    // Away from the threat; a unit standing on it backs off behind its facing.
    angle away = (angle)(object->location.yaw + 0x8000);
    away = adjust_yaw_for_destination(away, &position, threat);
    world_point2d point = position;
    point.x += (world_distance)(((int64_t)MONSTER_RETREAT_DISTANCE * cosine_rounded(away)) >> TRIG_SHIFT);
    point.y += (world_distance)(((int64_t)MONSTER_RETREAT_DISTANCE * sine_rounded(away)) >> TRIG_SHIFT);
    // From 1840 a unit backs off along the border rather than over it.
    if (current_gameplay_version >= 1840)
        clamp_point_to_playable_area(&point);
    else
        clamp_point_to_mesh(&point);
    *destination = point;
    if (height) *height = get_mesh_height(&point, _mesh_surface_height);
    return true;
}
