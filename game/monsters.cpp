// The unit record and the unit array.  See monsters.h.

#include "monsters.h"

#include "cseries/registration.h"

#include <cstring>

#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "flags.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "local_projectile_groups.h"
#include "local_projectiles.h"
#include "markers.h"
#include "mesh.h"
#include "monster_actions.h"
#include "monster_attacks.h"
#include "monster_definitions.h"
#include "monster_hiding.h"
#include "monster_initializers.h"
#include "monster_life.h"
#include "monster_movement.h"
#include "monster_reactions.h"
#include "objects.h"
#include "path.h"
#include "projectiles.h"
#include "players.h"
#include "state_hash_kept_records.h"
#include "statistics.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"
#include "unit_facts.h"
#include "vesk/string_lists.h"
#include "vesk_random.h"

datum_globals monster_data_globals = {
    .name = "monster", .size = sizeof(monster_data), .maximum_count = MAXIMUM_MONSTERS_PER_MAP};

// Each slot's record as the hash last wrote it and the CRC of its bytes
// (state_hash.h): local, never hashed.
static state_hash_record_cache monster_hash_records;

monster_action_procedure monster_action_fns[NUMBER_OF_MONSTER_ACTIONS] = {};

static procedure_list<monster_died_procedure, MAXIMUM_NUMBER_OF_MONSTER_DIED_PROCS> monster_died_procs("unit died");

// Formation identifiers run 1, 2, ... from the start of each map.
static int16_t next_formation_identifier = 1;

enum
{
    DEFAULT_FORMATION_INDEX = 0,
};

// ---- life cycle ---------------------------------------------------------------

bool initialize_monsters(void)
{
    // Start-up runs once in the game; tests and tools may run it again.
    if (!monster_data_globals.blocks && !initialize_data(&monster_data_globals)) return false;
    install_monster_action_procedures();
    install_monster_movement_procedures();
    install_monster_reaction_procedures();
    install_monster_hiding_procedures();
    initialize_monster_initializers();
    return initialize_pathfinding() && initialize_monster_definitions() && initialize_unit_definitions();
}

void initialize_monsters_for_new_map(void)
{
    initialize_data_for_new_map(&monster_data_globals);
    monster_hash_records.forget();
    forget_kept_attack_ranges();
    initialize_pathfinding_for_new_map();
    initialize_monster_definitions_for_new_map();
    initialize_unit_definitions_for_new_map();
    mark_monster_initializers_as_unused();
    next_formation_identifier = 1;
}

void dispose_monsters_from_old_map(void)
{
    dispose_data_from_old_map(&monster_data_globals);
    monster_hash_records.forget();
    forget_kept_attack_ranges();
    dispose_pathfinding_from_old_map();
    dispose_monster_definitions_from_old_map();
    dispose_unit_definitions_from_old_map();
}

datum_globals *get_monster_array(void) { return &monster_data_globals; }

// ---- died procedures ------------------------------------------------------------

bool register_monster_died_procedure(monster_died_procedure procedure) { return monster_died_procs.add(procedure); }

int32_t get_monster_died_proc_count(void) { return monster_died_procs.count(); }

void reset_monster_died_procs(void) { monster_died_procs.clear(); }

static void call_monster_died_procs(int32_t monster_index, uint32_t died_flags)
{
    for (int32_t i = 0; i < monster_died_procs.count(); ++i) monster_died_procs.get(i)(monster_index, died_flags);
}

void call_monster_died_procedures(int32_t monster_index, uint32_t died_flags)
{
    call_monster_died_procs(monster_index, died_flags);
}

// ---- neighbouring services ----------------------------------------------------------

int16_t get_formation_identifier(void)
{
    const int16_t identifier = next_formation_identifier;
    next_formation_identifier = identifier >= 0x7FFF ? 1 : (int16_t)(identifier + 1);
    return identifier;
}

int16_t get_default_formation_index(void) { return DEFAULT_FORMATION_INDEX; }

// A point inside triangle `triangle` of the cell, by the triangle rule of
// get_mesh_triangle: the cell's diagonal alternates with the parity of x + y.
static world_point2d triangle_sample_point(int32_t cell_x, int32_t cell_y, int32_t triangle)
{
    const bool odd = ((cell_x ^ cell_y) & 1) != 0;
    world_point2d point;
    point.x = (world_distance)(cell_x * WORLD_ONE + (triangle == 0 ? 64 : 448));
    if (odd)
        point.y = (world_distance)(cell_y * WORLD_ONE + (triangle == 0 ? 64 : 448));
    else
        point.y = (world_distance)(cell_y * WORLD_ONE + (triangle == 0 ? 448 : 64));
    return point;
}

static bool cell_is_on_mesh(int32_t cell_x, int32_t cell_y)
{
    return cell_x >= 0 && cell_y >= 0 && cell_x < mesh_width && cell_y < mesh_height;
}

// Bit 0 / bit 1: the triangle's terrain type is barred to the unit, at a
// cell on the mesh (`cells`: the mesh's cells are loaded, which is whether
// mesh_cell_in_bounds holds for any cell on the mesh).
static uint32_t barred_sampled_triangles(uint16_t terrain_flags, int32_t cell_x, int32_t cell_y);

static inline __attribute__((always_inline)) uint32_t barred_triangles(uint16_t terrain_flags, int32_t cell_x,
                                                                       int32_t cell_y, bool cells)
{
    // The terrain type at each triangle's sample point is the cell's field
    // for that triangle: read once from the cell (a unit entering a cell asks
    // for five cells, inline).
    if (cells)
    {
        const uint32_t flags = get_mesh_cell(cell_x, cell_y)->flags;
        const uint32_t t0 = (flags >> _mesh_cell_triangle0_terrain_first_bit) & _mesh_cell_terrain_type_mask;
        const uint32_t t1 = (flags >> _mesh_cell_triangle1_terrain_first_bit) & _mesh_cell_terrain_type_mask;
        return ((terrain_flags >> t0) & 1) | (((terrain_flags >> t1) & 1) << 1);
    }
    return barred_sampled_triangles(terrain_flags, cell_x, cell_y);
}

static uint32_t barred_sampled_triangles(uint16_t terrain_flags, int32_t cell_x, int32_t cell_y)
{
    uint32_t barred = 0;
    for (int32_t triangle = 0; triangle < 2; ++triangle)
    {
        const world_point2d sample = triangle_sample_point(cell_x, cell_y, triangle);
        if (terrain_flags & (1u << get_mesh_terrain_type(&sample))) barred |= 1u << triangle;
    }
    return barred;
}

uint8_t build_cell_impassability_flags(uint16_t terrain_flags, const world_point2d *location)
{
    if (!location || mesh_width <= 0 || mesh_height <= 0) return 0;
    const int32_t cell_x = location->x >> WORLD_FRACTIONAL_BITS;
    const int32_t cell_y = location->y >> WORLD_FRACTIONAL_BITS;
    const bool cells = mesh_cell_in_bounds(0, 0); // asked once for the five cells
    uint32_t result = cell_is_on_mesh(cell_x, cell_y) ? barred_triangles(terrain_flags, cell_x, cell_y, cells) : 3;
    // Leaving toward lower y, lower x, higher y, higher x (bits 4-7): barred
    // when the neighbour is off the mesh or both of its triangles are barred.
    static const int8_t steps[4][2] = {{0, -1}, {-1, 0}, {0, 1}, {1, 0}};
    for (int32_t direction = 0; direction < 4; ++direction)
    {
        const int32_t x = cell_x + steps[direction][0], y = cell_y + steps[direction][1];
        if (!cell_is_on_mesh(x, y) || barred_triangles(terrain_flags, x, y, cells) == 3) result |= 1u << (4 + direction);
    }
    return (uint8_t)result;
}

// ---- init_monster ---------------------------------------------------------------------

// The unit's name from its definition's list; the definition's counter runs
// on through every unit of the type (one draw when it has not started).
static void name_unit(monster_data *monster, monster_definition *definition)
{
    monster->name[0] = 0;
    if (definition->next_name_string_index < 0) definition->next_name_string_index = (int16_t)(vesk_random() & 0x7FFF);
    const int32_t counter = definition->next_name_string_index;
    const int32_t names = definition->names_string_list_index == NONE
                              ? 0
                              : count_strings_in_list(definition->names_string_list_index);
    monster->original_name_string_index = (int8_t)(names > 0 ? counter % names : counter & 127);
    definition->next_name_string_index = (int16_t)(counter + 1);
}

// The object's flags from the definition: solid, in explosions, visibility,
// permeable, floating; a unit that walks on water stands on its surface.
static void set_unit_object_flags(monster_data *monster, const monster_definition *definition, object_data *object,
                                  const world_point2d &object_point, bool reset_underwater_flags)
{
    object->flags |= FLAG(_object_is_solid_bit) | FLAG(_object_must_be_included_in_explosions_bit);
    object_scan_membership_changed(monster->object_index);
    if (definition->flags & _monster_invisible_on_overhead_map_flag)
        object->flags |= FLAG(_object_invisible_on_overhead_map_bit);
    if (!(definition->flags & _monster_does_not_respect_visibility_flag))
        object->flags |= FLAG(_object_respects_monster_visibility_bit);
    if (definition->flags & _monster_allows_projectiles_to_pass_through_flag)
        object->flags |= FLAG(_object_is_permeable_bit);
    if (definition->flags & _monster_floats_flag)
        object->flags |= FLAG(_object_floats_on_land_bit) | FLAG(_object_floats_on_media_bit);
    // A unit that walks on water stands on its surface.
    if (definition->hack_flags & _monster_hack_walks_on_water_flag)
    {
        object->flags |= FLAG(_object_floats_on_media_bit);
        object->location.position.z = get_mesh_height(&object_point, 0);
        if (reset_underwater_flags)
            object->flags &= ~(FLAG(_object_partially_under_media_bit) | FLAG(_object_wholly_under_media_bit));
    }
}

// The unit's glow: local, never read by the simulation, no draw.
static void start_unit_glow(int32_t monster_index, monster_data *monster, const monster_definition *definition,
                            const object_data *object, int32_t object_index)
{
    const local_projectile_group_definition *group =
        get_local_projectile_group_definition(definition->local_projectile_group_type);
    new_local_projectile_group_data request;
    memset(&request, 0, sizeof(request));
    request.type = definition->local_projectile_group_type;
    request.center = object->location.position;
    request.central_object_index = (int16_t)object_index;
    request.central_object_identifier = object->identifier;
    request.opacity = FIXED_FRACTION_ONE;
    request.yaw = object->location.yaw;
    const bool owner_colors = group && (group->flags & _local_projectile_group_uses_owner_color_table_flag) &&
                              group->collection_index != NONE &&
                              group->collection_index == object->shape_collection_index;
    request.color_table_index = owner_colors ? object->color_table_index : (int16_t)NONE;
    const int32_t group_index = new_local_projectile_group(&request);
    monster->current_local_projectile_group_index = (int16_t)group_index;
    if (current_gameplay_version >= 1511 && group_index != NONE)
        set_local_projectile_group_owner(group_index, monster_index, monster->identifier);
}

void init_monster(int32_t monster_index, int16_t monster_type, int16_t unit_type, int32_t object_index,
                  int16_t player_index, int16_t team_index, uint32_t palette_entry_flags,
                  const world_point2d *location, bool reset_underwater_flags)
{
    monster_data *monster = get_monster_data(monster_index);
    monster_definition *definition = get_monster_definition(monster_type);
    object_data *object = get_object(object_index);
    if (!monster || !definition || !object || !location)
    {
        VASSERT(false, "init_monster needs a used record, a monster definition, an object and a location");
        return;
    }

    // What it is and its object.
    monster->type = monster_type;
    monster->unit_type = unit_type;
    monster->collection_reference_index = (int16_t)get_unit_collection_reference_index(unit_type, player_index);
    monster->object_index = (int16_t)object_index;
    // No path, action, marker, target or carried object yet.
    monster->path_index = NONE;
    monster->map_action_index = NONE;
    monster->monster_map_action_data = NONE;
    monster->marker_index = NONE;
    monster->extra_flags = current_gameplay_version > 1300 ? (uint32_t)_monster_inside_object_allowed_extra_flag : 0u;
    monster->orig_color_table_index = (uint8_t)object->color_table_index;
    monster->carrying_object_index = monster->target_monster_index = NONE;
    monster->artifact_index = monster->deferred_target_index = NONE;
    monster->display_dirty_flags = ALL_MONSTER_DISPLAY_DIRTY_FLAGS;
    // Ammunition: the lower bound and a draw within the delta.
    int32_t ammunition = definition->initial_ammunition_lower_bound;
    if (definition->initial_ammunition_delta > 0)
        ammunition += ((int32_t)vesk_random() * definition->initial_ammunition_delta) >> 16;
    monster->ammunition_count = (int8_t)ammunition;
    // Nothing held, no effects.
    monster->held_object_count = 0;
    for (int16_t &held : monster->held_object_indexes) held = NONE;
    monster->current_local_projectile_group_index = NONE;
    monster->current_overhead_text_index = NONE;
    monster->artifact_timer = 0;
    // Its height over the mesh.
    const world_point2d object_point = {object->location.position.x, object->location.position.y};
    monster->height_over_mesh = (int16_t)(object->location.position.z - get_mesh_height(&object_point, 0));
    // The terrain it cannot cross.
    monster->terrain_impassability_flags = definition->terrain_impassability_flags;
    monster->cell_impassability_flags =
        build_cell_impassability_flags(monster->terrain_impassability_flags, location);
    // Full mana.
    monster->mana = definition->maximum_mana;
    // The movement speed with a spread of about +/-2.7 %, in 16 bits as stored.
    const int16_t speed = definition->base_movement_speed;
    const int16_t spread = (int16_t)((speed * 7) >> 8);
    const int32_t offset = spread > 0 ? ((2 * spread * (int32_t)vesk_random()) >> 16) : 0;
    monster->base_movement_speed = (int16_t)(speed - spread + offset);
    // Its owner; the formation fields are local: only this machine's preference decides.
    monster->owner_team_index = (int8_t)team_index;
    monster->owner_player_index = (int8_t)player_index;
    monster->formation_index = get_default_formation_index();
    monster->formation_identifier = get_formation_identifier();
    const game_preferences *preferences = get_game_preferences();
    if (player_index == local_player_index && player_index != NONE && preferences &&
        (preferences->flags & _game_pref_no_persistent_formations_flag))
        monster->formation_index = monster->formation_position = monster->last_formation_index = NONE;
    // No local effect group.
    monster->local_projectile_group_index = NONE;
    // The statistics count a visible unit.
    if (!(current_gameplay_version > 1300 && (object->flags & FLAG(_object_is_invisible_bit))))
        adjust_unit_statistics(unit_type, 1, object->vitality);
    name_unit(monster, definition);
    // A palette entry may make the unit uncontrollable.
    if (palette_entry_flags & _marker_palette_uncontrollable_flag)
    {
        monster->flags |= _monster_ignores_user_commands_flag;
        monster->extra_flags |= _monster_has_no_visibility_extra_flag;
    }
    // The unit starts idle through the action machine (one draw for the
    // animation rate, and set_object_shape's).
    set_monster_action(monster_index, _monster_action_idle, 0);
    // Ambient life and hunted creatures.
    if (palette_entry_flags & _marker_palette_ambient_life_flag)
        monster->extra_flags |= _monster_is_ambient_life_extra_flag;
    if (palette_entry_flags & _marker_palette_hunted_creature_flag)
    {
        monster->extra_flags |= _monster_is_hunted_creature_extra_flag;
        if (game_->scoring == _game_scoring_hunting && current_gameplay_version >= 1721)
            monster->flags |= _monster_ignores_user_commands_flag;
    }
    set_unit_object_flags(monster, definition, object, object_point, reset_underwater_flags);
    // Auto-targeting.
    if (definition->flags & _monster_cannot_be_autotargeted_flag)
        monster->extra_flags |= _monster_cannot_be_autotargeted_extra_flag;
    if (definition->hack_flags & _monster_hack_doesnt_auto_target_flag)
        monster->extra_flags |= _monster_does_not_autotarget_extra_flag;
    // Left-handedness: one draw, always.
    if (vesk_random() < (uint16_t)definition->left_handed_fraction)
        object->flags |= FLAG(_object_is_horizontally_mirrored_bit);
    // The inventory limit is bounded by the nine held slots, whatever the
    // definition says, so that picking up never writes past them.
    monster->propulsion_speed = 0;
    int32_t artifacts = definition->maximum_artifacts_carried;
    if (artifacts < 0 || artifacts > MAXIMUM_HELD_OBJECTS_PER_MONSTER)
    {
        log_message(__FILE__, __LINE__, "unit %d: %d artifacts carried clamped to 0..%d", (int)monster_index,
                    (int)artifacts, (int)MAXIMUM_HELD_OBJECTS_PER_MONSTER);
        artifacts = artifacts < 0 ? 0 : MAXIMUM_HELD_OBJECTS_PER_MONSTER;
    }
    monster->maximum_artifacts_carried = (int8_t)artifacts;
    monster->orig_type = monster->type;
    monster->orig_base_movement_speed = monster->base_movement_speed;
    if (definition->local_projectile_group_type != NONE)
        start_unit_glow(monster_index, monster, definition, object, object_index);
    unit_obstacle_facts_changed(monster);
}

obstacle_unit_facts unit_obstacle_facts(const monster_data *monster)
{
    return {(monster->extra_flags & _monster_is_invisible_extra_flag) ||
                (monster->action == _monster_action_idle && (monster->flags & _monster_needs_new_path_flag)),
            monster->action == _monster_action_moving, monster->owner_team_index, monster->base_movement_speed};
}

void unit_obstacle_facts_changed(const monster_data *monster)
{
    set_obstacle_unit_facts(monster->object_index, unit_obstacle_facts(monster));
}

// ---- delete_monster ---------------------------------------------------------------

void delete_monster(int32_t monster_index, bool show_censored_death)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster && current_gameplay_version >= 1811) return;
    const uint32_t died_flags = _monster_died_clear_presets_flag |
                                (show_censored_death ? (uint32_t)_monster_died_show_censored_death_flag : 0u);
    call_monster_died_procs(monster_index, died_flags);
    // A free slot's stale object and path may belong to someone else by now:
    // only a used record is taken apart.  A died procedure may itself have
    // freed the record, so look again.
    monster = get_monster_data(monster_index);
    if (!monster) return;
    if (current_gameplay_version > 1720 && monster->map_action_index != NONE)
    {
        delete_map_action_of_monster(monster_index);
        monster = get_monster_data(monster_index);
        if (!monster) return;
    }
    if (monster->object_index != NONE && get_object(monster->object_index)) delete_object(monster->object_index);
    delete_path(&monster->path_index);
    delete_datum(&monster_data_globals, monster_index);
}

// ---- new_monster_palette_entry -------------------------------------------------------

void new_monster_palette_entry(marker_palette_entry *entry)
{
    if (!entry) return;
    if (entry->flags & _marker_palette_ambient_life_flag)
    {
        const int32_t index = try_definition_tag_to_index(&unit_definitions, entry->tag, true, 0);
        unit_definition *definition = get_unit_definition(index);
        if (definition) definition->player_index = 0;
        entry->tag_index = (int16_t)index;
        entry->player_index = 0;
        const player_data *player = get_player_count() > 0 ? get_player_data(0) : nullptr;
        entry->team_index = player ? (int16_t)player->team_index : (int16_t)NONE;
        return;
    }
    if (entry->team_index == NONE) return;
    const team_data *team = get_team_data(entry->team_index);
    if (!team) return;
    for (int16_t player_index = 0; player_index < get_player_count(); ++player_index)
    {
        const player_data *player = get_player_data(player_index);
        if (!player || player->team_index != entry->team_index) continue;
        const int32_t copy = customize_unit_definition_for_player(entry->tag, player_index);
        if (player_index != team->captain_player_index) continue;
        if ((entry->flags & _marker_palette_uncontrollable_flag) && game_->scoring == _game_scoring_custom)
            entry->tag_index = (int16_t)try_definition_tag_to_index(&unit_definitions, entry->tag, true, 0);
        else
            entry->tag_index = (int16_t)copy;
        entry->player_index = player_index;
    }
}

// ---- state hash and unit facts ---------------------------------------------------------

// Every field but those of MONSTER_UNHASHED_FIELDS (monsters.h): the
// fields, the held objects and the name of the unit in slot `index`, written
// from `out` on.
enum
{
    MONSTER_HASH_FIELD_COUNT = 71, // the put()s below
    MONSTER_HASH_HELD_COUNT = NUMBER_OF(monster_data{}.held_object_indexes),
    MONSTER_HASH_SIZE = 4 * (MONSTER_HASH_FIELD_COUNT + MONSTER_HASH_HELD_COUNT) + sizeof(monster_data{}.name),
};

static void write_monster_hash_bytes(int32_t index, const monster_data *m, uint8_t *out)
{
    state_hash_cursor cursor = {out};
    auto put = [&cursor](int32_t value) { cursor.put(value); };
    put(index); put(m->identifier); put(m->type); put((int32_t)m->flags); put((int32_t)m->extra_flags);
    put(m->object_index); put(m->carrying_object_index); put(m->artifact_index); put(m->unit_type);
    put(m->owner_team_index); put(m->owner_player_index); put(m->cell_impassability_flags);
    put(m->ticks_until_updating); put(m->terrain_impassability_flags); put(m->repeated_obstruction_count);
    put(m->path_index); put(m->path_segment_length); put(m->waypoint_count); put(m->waypoint_index);
    put(m->desired_yaw); put(m->final_desired_yaw); put(m->waypoints[0].x); put(m->waypoints[0].y);
    put(m->waypoints[1].x); put(m->waypoints[1].y); put(m->waypoints[2].x); put(m->waypoints[2].y);
    put(m->waypoints[3].x); put(m->waypoints[3].y); put(m->path_destination.x); put(m->path_destination.y);
    put(m->target_location.x); put(m->target_location.y); put(m->last_target_location.x);
    put(m->last_target_location.y); put(m->target_location_height); put(m->target_monster_index);
    put(m->deferred_target_index); put(m->attack_timer); put(m->confusion_timer);
    put(m->estimated_projectile_flight_time); put(m->estimated_projectile_pitch);
    put(m->projectile_initial_velocity); put(m->avoiding_object_index); put(m->pick_up_object_index);
    put(m->pick_up_object_identifier); put(m->aggressor_monster_index); put(m->internal_command_identifier);
    put(m->mana); put(m->base_movement_speed); put(m->formation_identifier); put(m->formation_angle);
    put(m->height_over_mesh); put(m->action); put(m->action_permutation); put(m->ammunition_count);
    put(m->experience); put(m->battles_survived); put(m->original_name_string_index);
    put(m->maximum_artifacts_carried); put(m->held_object_count); put(m->orig_color_table_index);
    put(m->collection_reference_index); put((int32_t)m->artifact_timer); put(m->orig_type);
    put(m->orig_base_movement_speed); put(m->map_action_index); put(m->marker_index); put(m->propelled_yaw);
    put(m->propelled_timer); put(m->propulsion_speed);
    for (int32_t i = 0; i < MONSTER_HASH_HELD_COUNT; ++i) put(m->held_object_indexes[i]);
    memcpy(cursor.out, m->name, sizeof(m->name));
    VASSERT(cursor.out + sizeof(m->name) == out + MONSTER_HASH_SIZE, "unit hash record of the wrong size");
}

// A unit standing still or dead between two hashes gives its kept CRC again.
void hash_monsters(uint32_t *hash)
{
    state_hash_add_kept_records<monster_data, MONSTER_HASH_SIZE>(hash, &monster_hash_records, &monster_data_globals,
                                                                 monster_data_globals.count, write_monster_hash_bytes);
}

bool monster_records_are_allied(const monster_data *a, const monster_data *b)
{
    return a->owner_team_index != NONE && b->owner_team_index != NONE &&
           teams_are_allied(a->owner_team_index, b->owner_team_index);
}

static_assert((int32_t)MAXIMUM_MONSTERS_PER_MAP == (int32_t)MAXIMUM_UNIT_INDEX_COUNT, "the core counts units below it");

static bool monster_unit_facts(int32_t unit_index, unit_facts *facts)
{
    const monster_data *monster = get_monster_data(unit_index);
    if (!monster) return false;
    facts->unit_type = monster->unit_type;
    facts->team_index = monster->owner_team_index;
    facts->player_index = monster->owner_player_index;
    const object_data *object = get_object(monster->object_index);
    facts->object_index = object ? (int32_t)monster->object_index : (int32_t)NONE;
    facts->position = object ? object->location.position : world_point3d{0, 0, 0};
    const marker_data *marker =
        monster->marker_index != NONE ? get_marker_by_index(_marker_monster, monster->marker_index) : nullptr;
    const marker_palette_entry *entry = marker ? get_marker_palette_entry(_marker_monster, marker->palette_index) : nullptr;
    facts->ambient_life = entry && (entry->flags & _marker_palette_ambient_life_flag) ? 1 : 0;
    return true;
}

uint32_t teams_with_units_near_point(const world_point2d *point, int32_t radius)
{
    uint32_t teams = 0;
    const int64_t reach = (int64_t)radius * radius;
    for (int32_t index = 0; index < monster_data_globals.count; ++index)
    {
        const monster_data *monster = get_monster_data(index);
        if (!monster || monster->owner_team_index < 0 || monster->owner_team_index >= 32 ||
            (monster->flags & _monster_has_left_the_mesh_flag))
            continue;
        const object_data *object = get_object(monster->object_index);
        if (!object) continue;
        const int64_t dx = object->location.position.x - point->x, dy = object->location.position.y - point->y;
        if (dx * dx + dy * dy <= reach) teams |= 1u << monster->owner_team_index;
    }
    return teams;
}

// ---- registration ----------------------------------------------------------------------

static bool startup_units(void)
{
    if (!initialize_monsters()) return false;
    register_state_hash_procedure_at_start_up(hash_monsters);
    register_state_hash_procedure_at_start_up(hash_paths);
    return true;
}

// The projectile groups were emptied in their earlier start-up place, so the
// internal groups resolve against this map's files.
static bool empty_monster_stores(const new_game_data *)
{
    initialize_monsters_for_new_map();
    initialize_internal_projectile_groups_for_new_map();
    return true;
}

void register_monster_hooks(void)
{
    register_startup_procedure(_startup_units, startup_units);
    register_map_store_procedures(_startup_units, empty_monster_stores, dispose_monsters_from_old_map);
    register_unit_facts_procedure(monster_unit_facts);
    register_teams_near_point_procedure(teams_with_units_near_point);
}
