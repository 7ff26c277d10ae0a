// 'moma': puts monster markers on a free spot near a team's largest
// supergroup, shifts units to a destination keeping their formation, or lets
// units take over other units' places and bodies.

#include "world_action_procs.h"

#include <cstring>
#include <initializer_list>

#include "action_procs.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "markers.h"
#include "mesh.h"
#include "monster_owners.h"
#include "monsters.h"
#include "objects.h"
#include "script_math.h"
#include "spatial_groups.h"
#include "tag_files/data.h"
#include "world_action_procs_internal.h"

enum
{
    // Rings 0 to 19 are searched; a spot found on the last ring counts as none.
    MOVE_MARKER_SEARCH_RINGS = 20,
};

// No model and no visible solid object on the cell.
static bool cell_is_free(int32_t x, int32_t y)
{
    const mesh_cell *cell = get_mesh_cell(x, y);
    if (cell->model_index != NONE) return false;
    const datum_globals *objects = get_object_array();
    int32_t steps = 0;
    for (int32_t index = cell->first_object_index; index != NONE && steps <= objects->count; steps++)
    {
        const object_data *object = get_object(index);
        if (!object) break;
        if ((object->flags & _object_is_solid_flag) && !(object->flags & _object_is_invisible_flag)) return false;
        index = object->next_object_index;
    }
    return true;
}

// Whether the cell (x, y), clamped to the mesh, is free; its clamped
// coordinates into `found_x` and `found_y` when it is.
static bool free_clamped_cell(int32_t x, int32_t y, int32_t *found_x, int32_t *found_y)
{
    const int32_t px = clamp_cell(x, mesh_width), py = clamp_cell(y, mesh_height);
    if (!cell_is_free(px, py)) return false;
    *found_x = px, *found_y = py;
    return true;
}

// The centre of the first free cell on the rings around `centre`'s cell (each
// cell clamped to the mesh): on ring k the columns x - k and x + k row by
// row, then the rows y - k and y + k column by column.  `centre` itself when
// no ring before the last holds one.
static world_point2d find_free_spot(world_point2d centre)
{
    const int32_t cx = asr32(centre.x, 9), cy = asr32(centre.y, 9);
    for (int32_t k = 0; k < MOVE_MARKER_SEARCH_RINGS; k++)
    {
        int32_t found_x = NONE, found_y = NONE;
        for (int32_t y = cy - k; y <= cy + k && found_x == NONE; y++)
            for (int32_t x : {cx - k, cx + k})
                if (free_clamped_cell(x, y, &found_x, &found_y)) break;
        for (int32_t x = cx - k; x <= cx + k && found_x == NONE; x++)
            for (int32_t y : {cy - k, cy + k})
                if (free_clamped_cell(x, y, &found_x, &found_y)) break;
        if (found_x == NONE) continue;
        if (k == MOVE_MARKER_SEARCH_RINGS - 1) break;
        return {found_x * 512 + 256, found_y * 512 + 256};
    }
    return centre;
}

static void move_markers_near_team(int32_t action_index, int32_t team)
{
    const spatial_supergroup *largest = nullptr;
    for (const spatial_supergroup *supergroup = first_spatial_supergroup(); supergroup; supergroup = supergroup->next)
        if (supergroup->team_index == team && (!largest || supergroup->monster_count > largest->monster_count))
            largest = supergroup;
    if (!largest || mesh_width < 1 || mesh_height < 1) return;
    const world_point2d centre = largest->center;
    const world_point2d spot = find_free_spot(centre);
    const world_distance height = get_mesh_height(&centre, _mesh_ground_height);
    const angle yaw = arctangent(centre.x - spot.x, centre.y - spot.y);
    int16_t identifiers[MAXIMUM_WORLD_PROC_SUBJECTS];
    const int32_t count = get_combined_map_action_parameter(action_index, _common_field_name_subject,
                                                            _parameter_monster_identifier, identifiers,
                                                            MAXIMUM_WORLD_PROC_SUBJECTS);
    for (int32_t i = 0; i < count; i++)
    {
        marker_data *marker = get_marker_by_identifier(_marker_monster, identifiers[i]);
        if (!marker) continue;
        marker->location.position = {spot.x, spot.y, height};
        marker->location.yaw = yaw;
    }
}

static void move_units_to_destination(int32_t action_index, world_point2d destination)
{
    int16_t units[MAXIMUM_WORLD_PROC_SUBJECTS];
    const int32_t count =
        named_units(action_index, _common_field_name_subject, units, MAXIMUM_WORLD_PROC_SUBJECTS);
    world_point2d centre;
    get_centerpoint_of_monster_indexes(count, units, &centre);
    const int32_t dx = destination.x - centre.x, dy = destination.y - centre.y;
    for (int32_t i = 0; i < count; i++)
    {
        const monster_data *monster = get_monster_data(units[i]);
        object_data *object = get_object(monster->object_index);
        if (!object) continue;
        remove_monster_from_selections(units[i], 0);
        disconnect_object_from_mesh(monster->object_index);
        object->location.position.x += dx;
        object->location.position.y += dy;
        const world_point2d at = {object->location.position.x, object->location.position.y};
        object->location.position.z = get_mesh_height(&at, _mesh_ground_height);
        reconnect_object_to_mesh(monster->object_index);
    }
}

// The subject takes the target's place, body and record; the target keeps
// its body but loses its battles and experience.
static void take_over(int32_t subject_index, int32_t target_index)
{
    monster_data *subject = get_monster_data(subject_index);
    monster_data *target = get_monster_data(target_index);
    object_data *body = get_object(subject->object_index);
    const object_data *source = get_object(target->object_index);
    if (!body || !source) return;
    remove_monster_from_selections(subject_index, 0);
    disconnect_object_from_mesh(subject->object_index);
    body->location = source->location;
    body->vitality = source->vitality;
    body->maximum_vitality = source->maximum_vitality;
    body->scale = source->scale;
    body->radius = source->radius;
    body->height0 = source->height0;
    body->height1 = source->height1;
    body->shape_collection_index = source->shape_collection_index;
    body->shape_sequence_index = source->shape_sequence_index;
    body->color_table_index = source->color_table_index;
    if (current_gameplay_version < 1721) body->color_table_permutation = source->color_table_permutation;
    body->shape_frame_index = source->shape_frame_index;
    body->shape_phase = source->shape_phase;
    body->shape_ticks_per_frame = source->shape_ticks_per_frame;
    body->shape_view_index = source->shape_view_index;
    subject->battles_survived = target->battles_survived;
    subject->original_name_string_index = target->original_name_string_index;
    subject->cell_impassability_flags = target->cell_impassability_flags;
    subject->ammunition_count = target->ammunition_count;
    subject->experience = target->experience;
    memcpy(subject->name, target->name, sizeof(subject->name));
    target->battles_survived = 0;
    target->experience = 0;
    reconnect_object_to_mesh(subject->object_index);
}

uint32_t move_marker_action_proc(int32_t action_index)
{
    if (!get_map_action_parameter(nullptr, action_index, 0, _common_field_name_subject, _parameter_monster_identifier))
        return _map_action_proc_succeeded_flag;
    int32_t team;
    world_point2d destination;
    if (first_long(action_index, _common_field_name_team_restriction_list, _parameter_integer, &team))
        move_markers_near_team(action_index, team);
    else if (get_indexed_world_point2d_parameter(action_index, field('d', 'e', 's', 't'), &destination, 0))
        move_units_to_destination(action_index, destination);
    else
    {
        int16_t subjects[MAXIMUM_WORLD_PROC_SUBJECTS], targets[MAXIMUM_WORLD_PROC_SUBJECTS];
        const int32_t subject_count =
            named_units(action_index, _common_field_name_subject, subjects, MAXIMUM_WORLD_PROC_SUBJECTS);
        const int32_t target_count =
            named_units(action_index, field('t', 'a', 'r', 'g'), targets, MAXIMUM_WORLD_PROC_SUBJECTS);
        for (int32_t i = 0; i < subject_count && i < target_count; i++) take_over(subjects[i], targets[i]);
    }
    return _map_action_proc_succeeded_flag;
}
