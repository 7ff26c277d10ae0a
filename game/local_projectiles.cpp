// Local (visual-only) projectiles and their groups.  See local_projectiles.h.

#include "local_projectiles.h"

#include <cstring>

#include "game_hooks.h"
#include "local_projectile_groups.h"
#include "markers.h"
#include "mesh_format.h"
#include "objects.h"
#include "projectiles.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "vesk_random.h"
#include "wind.h"

static struct local_projectile_globals
{
    datum_globals groups;
    datum_globals projectiles;
} local_projectile_globals = {
    .groups = {.name = "local proj group",
               .size = sizeof(local_projectile_group_data),
               .maximum_count = MAXIMUM_LOCAL_PROJECTILE_GROUPS_PER_MAP},
    .projectiles = {.name = "local projectile",
                    .size = sizeof(local_projectile_data),
                    .maximum_count = MAXIMUM_LOCAL_PROJECTILES_PER_MAP},
};

// ---- life cycle ---------------------------------------------------------------

void initialize_local_projectiles(void)
{
    // Start-up runs once in the game; tests and tools may run it again.
    if (!local_projectile_globals.groups.blocks) initialize_data(&local_projectile_globals.groups);
    if (!local_projectile_globals.projectiles.blocks) initialize_data(&local_projectile_globals.projectiles);
}

void initialize_local_projectiles_for_new_map(void)
{
    if (local_projectile_globals.groups.blocks) initialize_data_for_new_map(&local_projectile_globals.groups);
    if (local_projectile_globals.projectiles.blocks) initialize_data_for_new_map(&local_projectile_globals.projectiles);
}

void dispose_local_projectiles_from_old_map(void)
{
    if (local_projectile_globals.groups.blocks) dispose_data_from_old_map(&local_projectile_globals.groups);
    if (local_projectile_globals.projectiles.blocks) dispose_data_from_old_map(&local_projectile_globals.projectiles);
}

// ---- records ------------------------------------------------------------------

static local_projectile_group_data *group_at(int32_t group_index)
{
    datum_globals *groups = &local_projectile_globals.groups;
    if (!groups->blocks || group_index < 0 || group_index >= groups->capacity) return nullptr;
    return (local_projectile_group_data *)get_datum(groups, group_index);
}

static local_projectile_data *projectile_at(int32_t projectile_index)
{
    datum_globals *projectiles = &local_projectile_globals.projectiles;
    if (!projectiles->blocks || projectile_index < 0 || projectile_index >= projectiles->capacity) return nullptr;
    return (local_projectile_data *)get_datum(projectiles, projectile_index);
}

int32_t get_local_projectile_group_count(void) { return local_projectile_globals.groups.count; }
const local_projectile_group_data *get_local_projectile_group(int32_t group_index) { return group_at(group_index); }
int32_t get_local_projectile_count(void) { return local_projectile_globals.projectiles.count; }
const local_projectile_data *get_local_projectile(int32_t projectile_index) { return projectile_at(projectile_index); }

static int32_t used_count(datum_globals *array)
{
    int32_t count = 0;
    if (array->blocks)
        for (int32_t i = 0; i < array->count; ++i) count += get_datum(array, i) != nullptr;
    return count;
}

int32_t get_local_projectile_group_used_count(void) { return used_count(&local_projectile_globals.groups); }
int32_t get_local_projectile_used_count(void) { return used_count(&local_projectile_globals.projectiles); }

// An object named by index and identifier, or null when it is gone or its
// slot holds another object now.  Identifier 0 (a zeroed request) names none.
static const object_data *named_object(int32_t object_index, int16_t identifier)
{
    if (object_index == NONE || identifier == 0) return nullptr;
    return get_object_by_identifier(object_index, identifier);
}

static world_point3d add_points(const world_point3d &a, const world_point3d &b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}

static world_point3d subtract_points(const world_point3d &a, const world_point3d &b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

// ---- groups -------------------------------------------------------------------

int32_t new_local_projectile_group(const new_local_projectile_group_data *request)
{
    const local_projectile_group_definition *definition =
        request ? get_local_projectile_group_definition(request->type) : nullptr;
    if (!definition || !local_projectile_globals.groups.blocks) return NONE;
    const int32_t group_index = new_datum(&local_projectile_globals.groups);
    if (group_index == NONE) return NONE;
    local_projectile_group_data *group = group_at(group_index);
    group->type = request->type;
    group->flags = request->flags;
    group->state = _local_projectile_group_emitting;
    group->center = request->center;
    group->yaw = request->yaw;
    group->duration = request->duration ? request->duration : definition->duration;
    group->transition_in = request->transition_in ? request->transition_in : definition->transition_in;
    group->transition_out = request->transition_out ? request->transition_out : definition->transition_out;
    group->opacity = request->opacity;
    group->color_table_index =
        request->color_table_index != NONE ? request->color_table_index : definition->color_table_index;
    group->central_object_index = group->central_object_identifier = NONE;
    if (const object_data *central = named_object(request->central_object_index, request->central_object_identifier))
    {
        group->central_object_index = request->central_object_index;
        group->central_object_identifier = request->central_object_identifier;
        group->center_offset = subtract_points(request->center, central->location.position);
    }
    group->bounds_object_index = group->bounds_object_identifier = NONE;
    if (named_object(request->bounds_object_index, request->bounds_object_identifier))
    {
        group->bounds_object_index = request->bounds_object_index;
        group->bounds_object_identifier = request->bounds_object_identifier;
    }
    group->owner_monster_index = group->owner_monster_identifier = NONE;
    group->marker_index = NONE;
    group->first_projectile_index = NONE;
    return group_index;
}

void turn_local_projectile_group_off(int32_t group_index)
{
    local_projectile_group_data *group = group_at(group_index);
    if (!group || group->state == _local_projectile_group_turned_off) return;
    group->state = _local_projectile_group_turned_off;
    group->ticks_turned_off = 0;
}

void set_local_projectile_group_central_object(int32_t group_index, int32_t object_index, int16_t object_identifier)
{
    local_projectile_group_data *group = group_at(group_index);
    if (!group) return;
    const object_data *central = named_object(object_index, object_identifier);
    group->central_object_index = central ? (int16_t)object_index : (int16_t)NONE;
    group->central_object_identifier = central ? object_identifier : (int16_t)NONE;
    if (central) group->center = add_points(central->location.position, group->center_offset);
}

void set_local_projectile_group_opacity(int32_t group_index, fixed_fraction opacity)
{
    if (local_projectile_group_data *group = group_at(group_index)) group->opacity = opacity;
}

void set_local_projectile_group_owner(int32_t group_index, int32_t monster_index, int16_t monster_identifier)
{
    if (local_projectile_group_data *group = group_at(group_index))
    {
        group->owner_monster_index = (int16_t)monster_index;
        group->owner_monster_identifier = monster_identifier;
    }
}

fixed_fraction get_local_projectile_group_opacity(int32_t group_index)
{
    const local_projectile_group_data *group = group_at(group_index);
    if (!group) return 0;
    int64_t fade = FIXED_FRACTION_ONE;
    if (group->transition_in > 0 && group->age < group->transition_in)
        fade = (int64_t)FIXED_FRACTION_ONE * group->age / group->transition_in;
    if (group->state == _local_projectile_group_turned_off)
    {
        const int32_t left = group->transition_out - group->ticks_turned_off;
        const int64_t out = left <= 0 ? 0 : (int64_t)FIXED_FRACTION_ONE * left / group->transition_out;
        if (out < fade) fade = out;
    }
    return (fixed_fraction)(group->opacity * fade / FIXED_FRACTION_ONE);
}

// Frees a group with its particles; the marker it was made for forgets it.
static void delete_local_projectile_group(int32_t group_index)
{
    local_projectile_group_data *group = group_at(group_index);
    if (!group) return;
    for (int32_t index = group->first_projectile_index; index != NONE;)
    {
        const local_projectile_data *projectile = projectile_at(index);
        if (!projectile) break;
        const int32_t next = projectile->next_projectile_index;
        delete_datum(&local_projectile_globals.projectiles, index);
        index = next;
    }
    if (group->marker_index != NONE)
    {
        marker_data *marker = get_marker_by_index(_marker_local_projectile_group, group->marker_index);
        if (marker && marker->data_index == group_index && marker->data_identifier == group->identifier)
            marker->data_index = marker->data_identifier = NONE;
    }
    delete_datum(&local_projectile_globals.groups, group_index);
}

// ---- markers ------------------------------------------------------------------

static bool new_local_projectile_group_palette_entry(marker_palette_entry *entry)
{
    definition_globals *definitions = &local_projectile_group_definitions;
    if (!entry || !definitions->registered || definitions->count == NONE) return false;
    entry->tag_index =
        (int16_t)try_definition_tag_to_index(definitions, entry->tag, true, _definition_lookup_quiet_flag);
    return entry->tag_index != NONE;
}

int32_t new_local_projectile_group_from_marker(marker_data *marker)
{
    if (!marker || marker->type != _marker_local_projectile_group) return NONE;
    const local_projectile_group_data *living = group_at(marker->data_index);
    if (living && living->identifier == marker->data_identifier) return NONE;
    marker_palette_entry *entry = get_marker_palette_entry(_marker_local_projectile_group, marker->palette_index);
    if (!entry) return NONE;
    if (entry->tag_index == NONE && !new_local_projectile_group_palette_entry(entry)) return NONE;
    new_local_projectile_group_data request;
    memset(&request, 0, sizeof(request));
    request.type = entry->tag_index;
    request.center = marker->location.position;
    request.yaw = marker->location.yaw;
    request.opacity = FIXED_FRACTION_ONE;
    request.central_object_index = request.bounds_object_index = NONE;
    request.color_table_index = NONE;
    const int32_t group_index = new_local_projectile_group(&request);
    local_projectile_group_data *group = group_at(group_index);
    if (!group) return NONE;
    group->marker_index = marker->marker_index;
    marker->flags &= ~(uint32_t)_marker_is_invisible_flag;
    marker->data_index = (int16_t)group_index;
    marker->data_identifier = group->identifier;
    return group_index;
}

// A marker held invisible waits for its script to turn it on.
static int32_t place_local_projectile_group_marker(marker_data *marker, marker_palette_entry *)
{
    if (!marker || (marker->flags & _marker_is_invisible_flag)) return NONE;
    return new_local_projectile_group_from_marker(marker);
}

// ---- particles ----------------------------------------------------------------

// random(d) of the effects: one local draw, only for d > 0.
static int32_t local_random_delta(int32_t delta)
{
    return delta > 0 ? (int32_t)(((int64_t)local_random() * delta) >> 16) : 0;
}

static void emit_local_projectile(int32_t group_index, local_projectile_group_data *group,
                                  const local_projectile_group_definition *definition)
{
    const int32_t index = new_datum(&local_projectile_globals.projectiles);
    if (index == NONE) return;
    local_projectile_data *projectile = projectile_at(index);
    projectile->group_index = (int16_t)group_index;
    int32_t lifespan = definition->lifespan_lower_bound + local_random_delta(definition->lifespan_delta);
    projectile->lifespan = (int16_t)(lifespan < 1 ? 1 : lifespan > 0x7FFF ? 0x7FFF : lifespan);
    // Within the radius (the bounds object's when it is wider), in a random
    // direction, at a random height up to the definition's; moving outward.
    int32_t radius = definition->radius;
    if (const object_data *bounds = named_object(group->bounds_object_index, group->bounds_object_identifier))
        if (bounds->radius > radius) radius = bounds->radius;
    const angle direction = (angle)(group->yaw + local_random());
    const int32_t distance = local_random_delta(radius);
    const int32_t cosine = cosine_table[trig_index(direction)], sine = sine_table[trig_index(direction)];
    projectile->offset = {(distance * cosine) >> TRIG_SHIFT, (distance * sine) >> TRIG_SHIFT,
                          local_random_delta(definition->height)};
    const int32_t speed = definition->velocity_lower_bound + local_random_delta(definition->velocity_delta);
    projectile->velocity = {(int16_t)((speed * cosine) >> TRIG_SHIFT), (int16_t)((speed * sine) >> TRIG_SHIFT), 0};
    projectile->scale = (short_fixed)(definition->scale_lower_bound + local_random_delta(definition->scale_delta));
    projectile->frame_index = 0;
    projectile->phase = 0;
    projectile->next_projectile_index = group->first_projectile_index;
    group->first_projectile_index = (int16_t)index;
    group->projectile_count += 1;
}

// One tick of a particle; false when it ends.
static bool move_local_projectile(local_projectile_data *projectile,
                                  const local_projectile_group_definition *definition,
                                  const shape_sequence_information &sequence, const fixed_vector3d *wind)
{
    if (++projectile->age >= projectile->lifespan) return false;
    if (definition->flags & _local_projectile_group_falls_flag)
        projectile->velocity.k = (int16_t)(projectile->velocity.k - definition->gravity);
    projectile->offset.x += projectile->velocity.i;
    projectile->offset.y += projectile->velocity.j;
    projectile->offset.z += projectile->velocity.k;
    if (wind && (definition->flags & _local_projectile_group_affected_by_wind_flag))
    {
        projectile->offset.x += wind_component_integer_part(wind->i);
        projectile->offset.y += wind_component_integer_part(wind->j);
        projectile->offset.z += wind_component_integer_part(wind->k);
    }
    if (definition->sequence_index == NONE || sequence.ticks_per_frame <= 0) return true;
    int32_t phase = projectile->phase + definition->animation_rate;
    const int32_t frame_length = sequence.ticks_per_frame * SHORT_FIXED_ONE;
    int32_t frame = projectile->frame_index;
    while (phase >= frame_length)
    {
        phase -= frame_length;
        if (++frame >= sequence.frames_per_view)
        {
            if (definition->flags & _local_projectile_group_animates_once_flag) return false;
            frame = 0;
        }
    }
    projectile->phase = (int16_t)(phase < 0 ? 0 : phase);
    projectile->frame_index = (int16_t)frame;
    return true;
}

// One tick of a group and its particles; false when the group ends.
static bool update_local_projectile_group(int32_t group_index, local_projectile_group_data *group,
                                          const fixed_vector3d *wind)
{
    const local_projectile_group_definition *definition = get_local_projectile_group_definition(group->type);
    if (!definition) return false;
    if (group->central_object_index != NONE)
    {
        if (const object_data *central = named_object(group->central_object_index, group->central_object_identifier))
            group->center = add_points(central->location.position, group->center_offset);
        else
        {
            // Gone, or another object in its slot: never followed.
            group->central_object_index = group->central_object_identifier = NONE;
            if (group->duration == 0) turn_local_projectile_group_off(group_index);
        }
    }
    if (group->age < 0x7FFF) group->age += 1;
    if (group->state == _local_projectile_group_emitting && group->duration > 0 && group->age > group->duration)
        turn_local_projectile_group_off(group_index);

    const bool continuous = (definition->flags & _local_projectile_group_is_continuous_flag) != 0;
    if (group->state == _local_projectile_group_emitting && (continuous || !group->emitted))
    {
        const int32_t count = definition->emission_lower_bound + local_random_delta(definition->emission_delta);
        for (int32_t i = 0; i < count && group->projectile_count < definition->maximum_projectiles; ++i)
            emit_local_projectile(group_index, group, definition);
        group->emitted = 1;
    }

    const shape_sequence_information sequence =
        get_shape_sequence_information(definition->collection_index, definition->sequence_index);
    int16_t *link = &group->first_projectile_index;
    while (*link != NONE)
    {
        local_projectile_data *projectile = projectile_at(*link);
        if (!projectile)
        {
            *link = NONE;
            break;
        }
        if (move_local_projectile(projectile, definition, sequence, wind))
        {
            link = &projectile->next_projectile_index;
            continue;
        }
        const int32_t index = *link;
        *link = projectile->next_projectile_index;
        delete_datum(&local_projectile_globals.projectiles, index);
        group->projectile_count -= 1;
    }

    if (group->state == _local_projectile_group_turned_off)
    {
        if (group->ticks_turned_off < 0x7FFF) group->ticks_turned_off += 1;
        if (group->ticks_turned_off >= group->transition_out || group->projectile_count == 0) return false;
    }
    return continuous || group->projectile_count > 0;
}

void update_local_projectiles(int32_t game_ticks_elapsed)
{
    datum_globals *groups = &local_projectile_globals.groups;
    if (!groups->blocks || !local_projectile_globals.projectiles.blocks) return;
    const int32_t ticks = game_ticks_elapsed > MAXIMUM_LOCAL_PROJECTILE_TICKS_PER_UPDATE
                              ? (int32_t)MAXIMUM_LOCAL_PROJECTILE_TICKS_PER_UPDATE
                              : game_ticks_elapsed;
    const fixed_vector3d *wind = get_wind_velocity();
    for (int32_t tick = 0; tick < ticks; ++tick)
        for (int32_t index = 0; index < groups->count; ++index)
        {
            local_projectile_group_data *group = group_at(index);
            if (group && !update_local_projectile_group(index, group, wind)) delete_local_projectile_group(index);
        }
}

bool get_local_projectile_surface(int32_t projectile_index, local_projectile_surface *surface)
{
    const local_projectile_data *projectile = projectile_at(projectile_index);
    const local_projectile_group_data *group = projectile ? group_at(projectile->group_index) : nullptr;
    const local_projectile_group_definition *definition =
        group ? get_local_projectile_group_definition(group->type) : nullptr;
    if (!definition || !surface) return false;
    surface->position = add_points(group->center, projectile->offset);
    surface->collection_index = definition->sequence_index == NONE ? (int16_t)NONE : definition->collection_index;
    surface->sequence_index = definition->sequence_index;
    surface->frame_index = projectile->frame_index;
    surface->color_table_index = group->color_table_index;
    surface->scale = projectile->scale;
    surface->opacity = get_local_projectile_group_opacity(projectile->group_index);
    return true;
}

// ---- registration ---------------------------------------------------------------

int32_t new_local_projectile_group_on_object(int16_t type, int32_t object_index)
{
    const object_data *object = get_object(object_index);
    if (!object) return NONE;
    new_local_projectile_group_data request;
    memset(&request, 0, sizeof(request));
    request.type = type;
    request.center = object->location.position;
    request.central_object_index = (int16_t)object_index;
    request.central_object_identifier = object->identifier;
    request.bounds_object_index = NONE;
    request.opacity = FIXED_FRACTION_ONE;
    request.yaw = object->location.yaw;
    request.color_table_index = NONE;
    return new_local_projectile_group(&request);
}

static bool startup_local_projectiles(void)
{
    initialize_local_projectiles();
    return true;
}

static bool local_projectiles_map_step(const new_game_data *)
{
    initialize_local_projectiles_for_new_map();
    return true;
}

void register_local_projectile_hooks(void)
{
    register_startup_procedure(_startup_local_projectiles, startup_local_projectiles);
    register_map_procedures(_map_local_projectiles, local_projectiles_map_step, dispose_local_projectiles_from_old_map);
    static const marker_type_procedures procedures = {new_local_projectile_group_palette_entry,
                                                      place_local_projectile_group_marker};
    register_marker_type_procedures(_marker_local_projectile_group, &procedures);
}
