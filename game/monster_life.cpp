// Unit creation and death.  See monster_life.h.

#include "monster_life.h"

#include <cstring>

#include "collection_references.h"
#include "cseries/log.h"
#include "damage.h"
#include "game_limits.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "local_projectiles.h"
#include "markers.h"
#include "mesh.h"
#include "map_action_procedures.h"
#include "overhead_text_procedures.h"
#include "monster_actions.h"
#include "monster_definitions.h"
#include "monster_hiding.h"
#include "monster_initializers.h"
#include "monster_inventory.h"
#include "monster_owners.h"
#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"
#include "path.h"
#include "players.h"
#include "projectiles.h"
#include "statistics.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"
#include "vesk_random.h"

enum
{
    MONSTER_TRACKING_PRIORITY = 25,
    FLYING_HEIGHT_THRESHOLD = 512, // a flier's marker at most this far above the ground is lifted
    FLYING_HEIGHT = 2048,
    FLYING_HEIGHT_1500 = 1536, // plus a draw of up to 2047
    IMMEDIATE_DEATH_VELOCITY = 40,
    MINIMUM_DEATH_VELOCITY = 10,
    DISINTEGRATION_FADE_TICKS = 30, // plus up to 30 drawn
    AMMUNITION_DROP_POSITION = 128, // lower bound and delta of each drop's place in the group
    // The target search of a unit just made: the periodic scan's mode, and
    // the switch flags activate adjacents (2) and suppress melee attacks (8).
    NEW_MONSTER_TARGET_SCAN_MODE = 0,
    NEW_MONSTER_SWITCH_TARGET_FLAGS = 2 | 8,
};

// One record: the unit new_monster is killing because its marker detonates
// immediately.  Such a death never respawns (it would make the unit again,
// which would die again, without end).
static struct monster_life_globals
{
    int32_t detonating_monster_index;
    int16_t detonating_monster_identifier;
} monster_life_globals = {NONE, 0};

void delete_map_action_of_monster(int32_t monster_index)
{
    if (const auto procedure = get_map_action_procedures()->delete_monster_map_action) procedure(monster_index);
}

// ---- helpers ----------------------------------------------------------------------

static monster_data *monster_by_identifier(int32_t monster_index, int16_t identifier)
{
    monster_data *monster = get_monster_data(monster_index);
    return monster && monster->identifier == identifier ? monster : nullptr;
}

// Who a unit is, taken on entry.  A unit placed again from its marker takes
// the marker's identifier, often in the same slot: only its object, whose
// identifiers never repeat while the map runs, tells the two apart.
struct unit_identity
{
    int32_t index;
    int16_t identifier;
    int16_t object_index;
    int16_t object_identifier;
};

static unit_identity capture_identity(int32_t monster_index)
{
    unit_identity identity = {monster_index, 0, NONE, 0};
    if (const monster_data *monster = get_monster_data(monster_index))
    {
        identity.identifier = monster->identifier;
        identity.object_index = monster->object_index;
        if (const object_data *object = get_object(monster->object_index)) identity.object_identifier = object->identifier;
    }
    return identity;
}

// The record when it is still the unit captured, else null.
static monster_data *unit_of_identity(const unit_identity *identity)
{
    monster_data *monster = monster_by_identifier(identity->index, identity->identifier);
    if (!monster || monster->object_index != identity->object_index) return nullptr;
    const object_data *object = get_object(monster->object_index);
    if (identity->object_index != NONE && (!object || object->identifier != identity->object_identifier))
        return nullptr;
    return monster;
}

// The unit's marker: by identifier before gameplay version 1711, by the
// index the unit remembers from then on.
static marker_data *marker_of_monster(const monster_data *monster)
{
    if (current_gameplay_version < 1711) return get_marker_by_identifier(_marker_monster, monster->identifier);
    if (monster->marker_index == NONE) return nullptr;
    return get_marker_by_index(_marker_monster, monster->marker_index);
}

static void make_map_action_for_monster(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    bool made = false;
    if (monster_index != 0 || current_gameplay_version >= 1721)
        if (const auto procedure = get_map_action_procedures()->create_map_action_for_monster)
            made = procedure(monster_index);
    monster = get_monster_data(monster_index);
    if (monster && !made) monster->monster_map_action_data = NONE;
}

// The entrance flag of a unit whose definition always plays its entrance.
static void flag_entrance_projectile_group(monster_data *monster, const monster_definition *definition)
{
    const object_data *object = get_object(monster->object_index);
    if ((definition->flags & _monster_always_uses_entrance_proj_group_flag) && object &&
        !(object->flags & _object_is_invisible_flag) && definition->entrance_projectile_group_type != NONE)
        monster->extra_flags |= _monster_should_spawn_entrance_proj_group_extra_flag;
}

// The artifacts the definition hands each new unit (its draws are the
// inventory's, docs/determinism.md); the unit may be gone afterwards.
static void give_initial_artifacts(int32_t monster_index, const monster_definition *definition)
{
    if (definition->initial_artifacts_projectile_group_type != NONE)
        give_artifacts_from_projectile_group(monster_index, definition->initial_artifacts_projectile_group_type);
}

// The scale drawn before the colour permutation, with the object layer's rule.
static short_fixed draw_object_scale(int16_t object_type)
{
    const object_definition *definition = get_object_definition(object_type);
    if (!definition) return 0;
    int32_t scale = definition->scale_lower_bound > 0 ? definition->scale_lower_bound : (int32_t)SHORT_FIXED_ONE;
    if (definition->scale_delta > 0) scale += ((int32_t)vesk_random() * definition->scale_delta) >> 16;
    if (scale < 1) scale = 1;
    if (scale > 32767) scale = 32767;
    return (short_fixed)scale;
}

// The datum and the object of a new unit of `unit_type`; the object's colour
// is the permutation given, or (NONE) one drawn.  NONE when either cannot be
// made (nothing is left behind then).
static int32_t new_monster_datum_and_object(int16_t unit_type, const world_location3d *location, bool on_ground,
                                            int16_t permutation, int32_t *object_index_out)
{
    const unit_definition *unit = get_unit_definition(unit_type);
    const monster_definition *definition = unit ? get_monster_definition(unit->monster_type) : nullptr;
    if (!definition) return NONE;
    const int32_t monster_index = new_datum(get_monster_array());
    if (monster_index == NONE) return NONE;

    new_object_data request;
    memset(&request, 0, sizeof(request));
    request.flags = on_ground ? (uint32_t)_new_object_on_ground_flag : 0u;
    request.type = definition->object_type;
    request.owner = _object_is_monster;
    request.owner_index = (int16_t)monster_index;
    request.tracking_priority = MONSTER_TRACKING_PRIORITY;
    request.scale = draw_object_scale(definition->object_type);
    request.location = *location;
    const collection_reference_definition *reference =
        get_collection_reference(get_unit_collection_reference_index(unit_type, NONE));
    request.collection_index = reference ? reference->collection_index : (int16_t)NONE;
    request.color_table_index = NONE;
    if (reference)
    {
        const int32_t permutations = reference->number_of_permutations;
        int32_t chosen = permutation;
        if (chosen == NONE) chosen = permutations > 0 ? vesk_random() % permutations : 0;
        if (chosen < 0 || chosen >= MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS) chosen = 0;
        request.color_table_index = reference->color_table_indexes[chosen];
    }
    const int32_t object_index = new_object(&request);
    if (object_index == NONE)
    {
        delete_datum(get_monster_array(), monster_index);
        return NONE;
    }
    *object_index_out = object_index;
    return monster_index;
}

// A death at the unit's object with `velocity`, owned by nobody.
static void initialize_death_at_object(damage_data *data, int32_t object_index, int16_t velocity)
{
    initialize_damage_data(data);
    if (const object_data *object = get_object(object_index)) data->epicenter = object->location.position;
    data->velocity = velocity;
}

// ---- new_monster -------------------------------------------------------------------

// A veteran of another unit type is placed through a palette entry of its
// own, a copy of the marker's.
static void use_veteran_palette_entry(const marker_data *marker, int16_t owner, const monster_initializer *veteran,
                                      marker_palette_entry **entry_inout, int32_t *unit_type_out)
{
    marker_palette_entry *&entry = *entry_inout;
    int32_t &unit_type = *unit_type_out;
    marker_palette_entry copy = *entry;
    copy.tag = veteran->unit_tag;
    const int32_t copy_index = new_marker_palette_entry(_marker_monster, &copy);
    marker_palette_entry *veteran_entry = get_marker_palette_entry(_marker_monster, copy_index);
    if (veteran_entry)
    {
        new_monster_palette_entry(veteran_entry);
        veteran_entry->resolved = veteran_entry->tag_index != NONE ? 1 : -1;
        entry = veteran_entry;
        unit_type = marker->player_index == NONE ? entry->tag_index
                                                 : customize_unit_definition_for_player(entry->tag, owner);
    }
    else
        log_message(__FILE__, __LINE__, "no palette entry left for the veteran of marker %d: placed as it is",
                    (int)marker->identifier);
}

// A unit whose marker detonates it dies at once, as the unit that detonates.
static void detonate_new_unit(int32_t monster_index, int16_t identifier, const monster_data *monster)
{
    damage_data data;
    initialize_death_at_object(&data, monster->object_index, IMMEDIATE_DEATH_VELOCITY);
    const int32_t saved_index = monster_life_globals.detonating_monster_index;
    const int16_t saved_identifier = monster_life_globals.detonating_monster_identifier;
    monster_life_globals.detonating_monster_index = monster_index;
    monster_life_globals.detonating_monster_identifier = identifier;
    kill_monster(monster_index, nullptr, &data, _monster_death_hard);
    monster_life_globals.detonating_monster_index = saved_index;
    monster_life_globals.detonating_monster_identifier = saved_identifier;
}

static int32_t place_monster(marker_data *marker)
{
    marker_palette_entry *entry = get_marker_palette_entry(_marker_monster, marker->palette_index);
    if (!entry) return NONE;

    // Owner and definition.
    int16_t owner = marker->player_index;
    int32_t unit_type;
    if (owner == NONE)
    {
        owner = entry->player_index;
        unit_type = entry->tag_index;
    }
    else
        unit_type = customize_unit_definition_for_player(entry->tag, owner);

    // Whether the unit is placed, and which veteran it is.
    bool placed = palette_compatible_with_game_scoring(entry) &&
                  !((marker->flags & _marker_is_invisible_flag) && !(entry->flags & _marker_palette_must_use_veterans_flag));
    const monster_initializer *veteran = nullptr;
    const bool allows_veterans = (entry->flags & _marker_palette_may_use_veterans_flag) ||
                                 ((entry->flags & _marker_palette_must_use_veterans_flag) &&
                                  (marker->flags & _marker_is_invisible_flag));
    if (placed && allows_veterans)
    {
        const unit_definition *unit = get_unit_definition(unit_type);
        if (unit) veteran = get_monster_initializer(unit->parent_unit_tag, unit->monster_tag, owner);
        if (!veteran && (entry->flags & _marker_palette_must_use_veterans_flag)) placed = false;
        if (veteran && veteran->unit_tag != entry->tag)
            use_veteran_palette_entry(marker, owner, veteran, &entry, &unit_type);
    }
    // Reported; the comparison below still decides.
    VASSERT(marker->minimum_difficulty_level >= 0 && marker->minimum_difficulty_level < NUMBER_OF_DIFFICULTY_LEVELS,
            "marker->minimum_difficulty_level>=0 && marker->minimum_difficulty_level<NUMBER_OF_DIFFICULTY_LEVELS");
    if (game_->difficulty_level < marker->minimum_difficulty_level) placed = false;

    const unit_definition *unit = get_unit_definition(unit_type);
    monster_definition *definition = unit ? get_monster_definition(unit->monster_type) : nullptr;
    if (!placed || !definition || entry->team_index == NONE)
    {
        if (veteran && current_gameplay_version >= 1721) release_monster_initializer(veteran);
        return NONE;
    }

    // Fliers marked near the ground are lifted to their flying height.
    world_location3d location = marker->location;
    const world_point2d point = {location.position.x, location.position.y};
    bool on_ground = true;
    if (definition->flags & _monster_raise_to_flying_height_flag)
    {
        on_ground = false;
        const world_distance ground = get_mesh_height(&point, _mesh_ground_height);
        if (location.position.z - ground <= FLYING_HEIGHT_THRESHOLD)
        {
            if (current_gameplay_version == 1500)
                location.position.z = (world_distance)(ground + FLYING_HEIGHT_1500 + (vesk_random() >> 5));
            else
                location.position.z = (world_distance)(ground + FLYING_HEIGHT);
        }
    }

    if (marker->identifier == 0)
    {
        // 0 marks a free slot: the unit keeps the identifier its array gives.
        log_message(__FILE__, __LINE__, "unit marker %d has identifier 0: its unit keeps its own",
                    (int)marker->marker_index);
    }
    int32_t object_index = NONE;
    const int16_t permutation = veteran ? (int16_t)veteran->color_table_permutation : (int16_t)NONE;
    const int32_t monster_index =
        new_monster_datum_and_object((int16_t)unit_type, &location, on_ground, permutation, &object_index);
    if (monster_index == NONE)
    {
        if (veteran && current_gameplay_version >= 1721) release_monster_initializer(veteran);
        return NONE;
    }
    if (marker->identifier != 0) set_datum_identifier(get_monster_array(), monster_index, marker->identifier);

    init_monster(monster_index, unit->monster_type, (int16_t)unit_type, object_index, owner, entry->team_index,
                 entry->flags, &point, current_gameplay_version >= 1601);
    monster_data *monster = get_monster_data(monster_index);
    // Before anything can kill it: the death finds its marker by this index.
    monster->marker_index = marker->marker_index;
    marker->data_index = (int16_t)monster_index;

    if (marker->flags & _marker_is_netgame_target_flag) monster->extra_flags |= _monster_is_netgame_target_extra_flag;
    if (veteran)
    {
        monster->experience = veteran->experience;
        monster->battles_survived = veteran->battles_survived;
        monster->original_name_string_index = veteran->original_name_string_index;
        memset(monster->name, 0, sizeof(monster->name));
        static_assert(sizeof(monster->name) == MONSTER_INITIALIZER_NAME_SIZE);
        memcpy(monster->name, veteran->name, sizeof(monster->name) - 1);
        monster->name[sizeof(monster->name) - 1] = 0;
    }
    const int16_t identifier = monster->identifier;
    marker->data_identifier = identifier;

    const int32_t target = find_closest_monster_target(monster_index, NEW_MONSTER_TARGET_SCAN_MODE);
    if (target != NONE) switch_monster_target(monster_index, target, NEW_MONSTER_SWITCH_TARGET_FLAGS);
    monster = monster_by_identifier(monster_index, identifier);
    if (!monster) return NONE;

    if (current_gameplay_version >= 1511)
    {
        flag_entrance_projectile_group(monster, definition);
        give_initial_artifacts(monster_index, definition);
    }
    entry->count += 1;
    monster = monster_by_identifier(monster_index, identifier);
    if (!monster) return NONE;

    if (marker->flags & _marker_detonates_immediately_flag)
    {
        detonate_new_unit(monster_index, identifier, monster);
        return NONE;
    }
    make_map_action_for_monster(monster_index);

    if (marker->flags & _marker_is_invisible_observer_flag)
    {
        make_monster_invisible(marker->identifier, _monster_visibility_mode_none);
        monster = monster_by_identifier(monster_index, identifier);
        const object_data *object = monster ? get_object(monster->object_index) : nullptr;
        if (object && (current_gameplay_version < 1301 || !(object->flags & _object_is_invisible_flag)))
            adjust_unit_statistics(monster->unit_type, -1, -object->vitality);
    }
    return monster_by_identifier(monster_index, identifier) ? monster_index : (int32_t)NONE;
}

int32_t new_monster(marker_data *marker)
{
    if (!marker) return NONE;
    const int32_t monster_index = place_monster(marker);
    marker->data_index = (int16_t)monster_index;
    return monster_index;
}

// ---- new_monster_at_location -----------------------------------------------------------

int32_t new_monster_at_location(tag parent_unit_tag, const world_location3d *location, int16_t player_index,
                                uint32_t flags_to_add, uint32_t extra_flags_to_add)
{
    if (!location) return NONE;
    const int32_t unit_type = find_unit_definition_for_player(player_index, parent_unit_tag);
    const unit_definition *unit = get_unit_definition(unit_type);
    monster_definition *definition = unit ? get_monster_definition(unit->monster_type) : nullptr;
    const player_data *player =
        player_index >= 0 && player_index < get_player_count() ? get_player_data(player_index) : nullptr;
    if (!definition || !player) return NONE;

    int32_t object_index = NONE;
    const int32_t monster_index =
        new_monster_datum_and_object((int16_t)unit_type, location, true, NONE, &object_index);
    if (monster_index == NONE) return NONE;
    const world_point2d point = {location->position.x, location->position.y};
    init_monster(monster_index, unit->monster_type, (int16_t)unit_type, object_index, player_index, player->team_index,
                 0, &point, current_gameplay_version >= 1721);
    monster_data *monster = get_monster_data(monster_index);
    monster->marker_index = NONE;
    const int16_t identifier = monster->identifier;
    const int32_t target = find_closest_monster_target(monster_index, NEW_MONSTER_TARGET_SCAN_MODE);
    if (target != NONE) switch_monster_target(monster_index, target, NEW_MONSTER_SWITCH_TARGET_FLAGS);
    monster = monster_by_identifier(monster_index, identifier);
    if (!monster) return NONE;

    if (current_gameplay_version >= 1696)
    {
        monster->flags |= flags_to_add;
        monster->extra_flags |= extra_flags_to_add;
        unit_obstacle_facts_changed(monster);
    }
    flag_entrance_projectile_group(monster, definition);
    give_initial_artifacts(monster_index, definition);
    monster = monster_by_identifier(monster_index, identifier);
    if (!monster) return NONE;

    // Set down when it landed just above the ground; else it is in the air.
    object_data *object = get_object(monster->object_index);
    bool in_air = false;
    if (!(definition->flags & _monster_flies_flag) && monster->height_over_mesh > 0)
    {
        if (monster->height_over_mesh <= 2 * object->height1)
        {
            disconnect_object_from_mesh(monster->object_index);
            object->location.position.z = (world_distance)(object->location.position.z - monster->height_over_mesh);
            reconnect_object_to_mesh(monster->object_index);
            monster->height_over_mesh = 0;
        }
        else
            in_air = true;
    }
    const world_point2d standing = {object->location.position.x, object->location.position.y};
    const int32_t terrain = get_mesh_terrain_type(&standing);
    const bool barred = terrain >= 0 && terrain < 16 && (definition->terrain_impassability_flags & (1u << terrain));
    if (in_air || barred)
    {
        const uint32_t extra = monster->extra_flags;
        const bool netgame_target =
            current_gameplay_version >= 1696 &&
            (extra & (_monster_is_netgame_target_extra_flag | _monster_is_hunted_creature_extra_flag));
        const bool ambient_life = current_gameplay_version >= 1696 && (extra & _monster_is_ambient_life_extra_flag);
        adjust_damage_statistics(NONE, monster_index, object->vitality, true, netgame_target, ambient_life, true,
                                 false);
        damage_data data;
        initialize_death_at_object(&data, monster->object_index, IMMEDIATE_DEATH_VELOCITY);
        kill_monster(monster_index, nullptr, &data, _monster_death_hard);
        return NONE;
    }
    make_map_action_for_monster(monster_index);
    return monster_by_identifier(monster_index, identifier) ? monster_index : (int32_t)NONE;
}

int32_t new_monster_from_projectile(tag unit_tag, const world_location3d *location, int16_t player_index,
                                           bool ignores_user_commands, bool ambient_life, bool no_visibility)
{
    const uint32_t flags = ignores_user_commands ? (uint32_t)_monster_ignores_user_commands_flag : 0u;
    const uint32_t extra_flags = (ambient_life ? (uint32_t)_monster_is_ambient_life_extra_flag : 0u) |
                                 (no_visibility ? (uint32_t)_monster_has_no_visibility_extra_flag : 0u);
    return new_monster_at_location(unit_tag, location, player_index, flags, extra_flags);
}

// ---- kill_monster -------------------------------------------------------------------------

static const monster_definition *death_definition(const monster_data *monster)
{
    if (monster->carrying_object_index != NONE)
        if (const artifact_definition *artifact = get_artifact_definition(monster->artifact_index))
            if (artifact->flags & _artifact_use_original_death_flag) return get_monster_definition(monster->orig_type);
    return get_monster_definition(monster->type);
}

// A copy of the object fades out where the unit stood (the unit's own object
// goes with its record).
static void fade_out_copy(int32_t object_index, int16_t ticks)
{
    const int32_t copy = duplicate_object(object_index);
    if (copy == NONE) return;
    const int32_t fading = fade_object(true, copy, 0, ticks);
    if (fading == NONE)
    {
        if (current_gameplay_version >= 1301) delete_object(copy);
        return;
    }
    // The fade of a copy calls nobody in when it ends.
    if (projectile_data *projectile = get_projectile_data(fading)) projectile->owner_monster_index = NONE;
}

int16_t choose_death_projectile_group(const monster_definition *definition, int16_t death_type,
                                      int16_t *death_type_used)
{
    int16_t type = NONE;
    if (definition)
    {
        switch (death_type)
        {
        case _monster_death_soft:
            type = definition->dying_projectile_group_type;
            if (type == NONE)
            {
                type = definition->exploding_projectile_group_type;
                death_type = _monster_death_hard;
            }
            break;
        case _monster_death_fire:
            type = definition->burning_death_projectile_group_type;
            if (type == NONE)
            {
                type = definition->dying_projectile_group_type;
                death_type = _monster_death_soft;
            }
            break;
        default:
            type = definition->exploding_projectile_group_type;
            if (type == NONE)
            {
                type = definition->dying_projectile_group_type;
                death_type = _monster_death_soft;
            }
            break;
        }
    }
    if (death_type_used) *death_type_used = death_type;
    return type;
}

// The death's projectile group (the death type falls back as the
// definition's groups allow); its request is also where the drops appear.
static void make_death_projectile_group(int32_t monster_index, const monster_definition *definition,
                                        const damage_definition *damage, const damage_data *data, int16_t death_type,
                                        new_projectile_group_data *group)
{
    monster_data *monster = get_monster_data(monster_index);
    object_data *object = get_object(monster->object_index);
    const int16_t type = choose_death_projectile_group(definition, death_type, &death_type);
    memset(group, 0, sizeof(*group));
    group->type = type;
    group->owner_object_index = group->bounds_object_index = monster->object_index;
    group->owner_monster_index = NONE;
    if (data)
    {
        group->epicenter = data->epicenter;
        group->velocity = data->velocity < MINIMUM_DEATH_VELOCITY ? (world_distance)MINIMUM_DEATH_VELOCITY
                                                                  : (world_distance)data->velocity;
    }
    else
    {
        group->epicenter = object ? object->location.position : world_point3d{0, 0, 0};
        group->velocity = MINIMUM_DEATH_VELOCITY;
    }
    if (damage)
    {
        if (damage->type == _damage_explosive_electricity || (damage->type == _damage_fire && death_type != _monster_death_fire))
            group->flags |= _new_projectile_group_has_smoking_source_flag;
        if (damage->type == _damage_gas) group->flags |= _new_projectile_group_no_blood_flag;
        if (damage->flags & _damage_detonates_explosives_immediately_flag)
            group->flags |= _new_projectile_group_detonate_explosives_flag;
    }
    if (monster->action == _monster_action_stoned)
    {
        group->flags |= _new_projectile_group_has_masonary_source_flag;
        if (!(monster->extra_flags & _monster_immobile_extra_flag)) group->flags |= _new_projectile_group_cannot_detonate_flag;
    }
    if (monster->action == _monster_action_being_healed) group->flags |= _new_projectile_group_cannot_detonate_flag;
    if (monster->action == _monster_action_paralyzed && object) object->color_table_permutation = 0;
    if (type != NONE) new_projectile_group(group);
}

static void drop_ammunition(monster_data *monster, const monster_definition *definition,
                            const new_projectile_group_data *group)
{
    const int32_t count = monster->ammunition_count;
    monster->ammunition_count = 0;
    if (!definition || definition->ammunition_projectile_type == NONE) return;
    // A unit that keeps its ammunition still lets explosive ammunition go
    // when its death sets explosives off (the drops then go off at once).
    if (definition->flags & _monster_does_not_drop_ammo_when_dying_flag)
    {
        const projectile_definition *ammunition = get_projectile_definition(definition->ammunition_projectile_type);
        const bool explosive = ammunition && (ammunition->projectile_class == _projectile_class_explosive_object ||
                                              ammunition->projectile_class ==
                                                  _projectile_class_potentially_explosive_object);
        if (!(explosive && (group->flags & _new_projectile_group_detonate_explosives_flag))) return;
    }
    for (int32_t i = 0; i < count; ++i)
        new_projectile_group_part(group, AMMUNITION_DROP_POSITION, AMMUNITION_DROP_POSITION,
                                  definition->ammunition_projectile_type, 0, false);
}

static void drop_held_objects(const unit_identity *identity, const new_projectile_group_data *group)
{
    const int32_t monster_index = identity->index;
    monster_data *monster = unit_of_identity(identity);
    if (!monster) return;
    int16_t held[MAXIMUM_HELD_OBJECTS_PER_MONSTER];
    int32_t held_count = monster->held_object_count;
    if (held_count < 0) held_count = 0;
    if (held_count > MAXIMUM_HELD_OBJECTS_PER_MONSTER) held_count = MAXIMUM_HELD_OBJECTS_PER_MONSTER;
    memcpy(held, monster->held_object_indexes, sizeof(held));
    const int16_t carried = monster->carrying_object_index;
    for (int32_t i = 0; i < held_count; ++i)
    {
        if (held[i] == NONE || held[i] == carried) continue;
        if (!unit_of_identity(identity)) return;
        drop_carried_object(monster_index, held[i], group);
    }
    if (carried != NONE && unit_of_identity(identity))
        drop_carried_object(monster_index, carried, group);
}

static void clean_up_dying_monster(monster_data *monster)
{
    if (monster->local_projectile_group_index != NONE) turn_local_projectile_group_off(monster->local_projectile_group_index);
    if (current_gameplay_version >= 1301 && monster->current_local_projectile_group_index != NONE)
        turn_local_projectile_group_off(monster->current_local_projectile_group_index);
    if (monster->current_overhead_text_index != NONE)
        if (const auto procedure = get_overhead_text_procedures()->delete_overhead_text)
            procedure(monster->current_overhead_text_index);
    // The parasite's projectile frees itself once its object is gone.
    object_data *object = get_object(monster->object_index);
    if (object && object->parasitic_object_index != NONE)
    {
        const int16_t parasite = object->parasitic_object_index;
        object->parasitic_object_index = NONE;
        if (get_object(parasite)) delete_object(parasite);
    }
}

// What the respawn needs of the dead unit, read before its record is freed.
struct dead_monster
{
    uint32_t flags, extra_flags;
    int16_t identifier;
    int16_t owner_player_index;
    int8_t owner_team_index;
};

static bool team_can_respawn(int32_t team_index)
{
    const team_data *team = team_index >= 0 && team_index < get_team_count() ? get_team_data(team_index) : nullptr;
    return team && !(team->flags & _team_has_been_eliminated_flag) && team->number_of_players > 0;
}

static marker_data *deathmatch_marker(int32_t monster_index, int16_t identifier)
{
    const int32_t count = get_marker_count(_marker_monster);
    for (int32_t i = 0; i < count; ++i)
    {
        marker_data *marker = get_marker_by_index(_marker_monster, i);
        if (marker->data_index != monster_index) continue;
        if (current_gameplay_version >= 1701 && marker->data_identifier != identifier) continue;
        return marker;
    }
    return nullptr;
}

static void respawn_monster(int32_t dead_index, const dead_monster *dead, marker_data *marker)
{
    const bool deathmatch = (game_->option_flags & _game_option_deathmatch_flag) != 0;
    if (!team_can_respawn(dead->owner_team_index)) return;
    if (deathmatch && current_gameplay_version < 1711) marker = deathmatch_marker(dead_index, dead->identifier);
    if (!marker) return;
    if ((marker->flags & _marker_manual_respawn_flag) && !deathmatch)
    {
        marker->data_index = NONE;
        if (current_gameplay_version >= 1721) marker->player_index = dead->owner_player_index;
        return;
    }
    const int32_t monster_index = new_monster(marker);
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    const int16_t identifier = monster->identifier;
    monster->flags |= (dead->flags & _monster_ignores_user_commands_flag) | _monster_needs_to_stop_flag;
    monster->extra_flags |= dead->extra_flags & _monster_has_no_visibility_extra_flag;
    detach_monster(monster_index, dead->owner_player_index, true);
    if (!monster_by_identifier(monster_index, identifier)) return;
    const bool entrance = current_gameplay_version >= 1301 && (marker->flags & _marker_uses_monster_entrance_flag);
    make_monster_visible(marker->identifier,
                         entrance ? _monster_visibility_mode_projectile_group : _monster_visibility_mode_teleport);
}

void kill_monster(int32_t monster_index, const damage_definition *definition, const damage_data *data,
                  int16_t death_type)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster)
    {
        // A free slot's stale object and path may belong to someone else.
        if (current_gameplay_version < 1811)
            call_monster_died_procedures(monster_index,
                                         _monster_died_show_censored_death_flag | _monster_died_clear_presets_flag);
        return;
    }
    const unit_identity identity = capture_identity(monster_index);
    const int16_t identifier = identity.identifier;
    const monster_definition *death = death_definition(monster);

    if (death_type == _monster_death_disintegration)
    {
        if (monster->action != _monster_action_stoned && !(monster->flags & _monster_has_left_the_mesh_flag))
        {
            set_monster_action(monster_index, _monster_action_taking_damage, _monster_death_disintegration);
            monster = unit_of_identity(&identity);
            if (!monster) return;
            fade_out_copy(monster->object_index,
                          (int16_t)(DISINTEGRATION_FADE_TICKS + (((int32_t)vesk_random() * 30) >> 16)));
        }
    }
    else
    {
        // Reported; the death then happens at the unit's object.
        VASSERT(data, "damage_data");
        new_projectile_group_data group;
        make_death_projectile_group(monster_index, death, definition, data, death_type, &group);
        // The group may have killed the unit already (and its marker made
        // another in the same slot): that death has done everything.
        monster = unit_of_identity(&identity);
        if (!monster) return;
        if (monster->action == _monster_action_stoned && !(monster->extra_flags & _monster_immobile_extra_flag))
        {
            new_internal_projectile_group(monster_index, _internal_projectile_group_stone_detonation_effect);
            monster = unit_of_identity(&identity);
            if (!monster) return;
        }
        drop_ammunition(monster, get_monster_definition(monster->type), &group);
        drop_held_objects(&identity, &group);
        monster = unit_of_identity(&identity);
        if (!monster) return;
    }

    clean_up_dying_monster(monster);

    // Respawn decision.
    marker_data *marker = marker_of_monster(monster);
    bool respawn = marker && (marker->flags & _marker_respawns_flag);
    if (respawn && (marker->flags & _marker_remembers_location_flag))
        if (const object_data *object = get_object(monster->object_index)) marker->location = object->location;
    if (game_->option_flags & _game_option_deathmatch_flag) respawn = true;
    if (monster->extra_flags & _monster_is_ambient_life_extra_flag)
        respawn = marker && (marker->flags & _marker_respawns_flag) && current_gameplay_version >= 1696;
    if (monster_life_globals.detonating_monster_index == monster_index &&
        monster_life_globals.detonating_monster_identifier == identifier)
        respawn = false;

    const dead_monster dead = {monster->flags, monster->extra_flags, identifier, monster->owner_player_index,
                               monster->owner_team_index};

    call_monster_died_procedures(monster_index, _monster_died_show_censored_death_flag | _monster_died_clear_presets_flag);
    monster = unit_of_identity(&identity);
    if (!monster) return;
    if (current_gameplay_version >= 1721)
    {
        delete_map_action_of_monster(monster_index);
        monster = unit_of_identity(&identity);
        if (!monster) return;
    }
    if (monster->object_index != NONE && get_object(monster->object_index)) delete_object(monster->object_index);
    delete_path(&monster->path_index);
    delete_datum(get_monster_array(), monster_index);

    if (respawn) respawn_monster(monster_index, &dead, marker);
}

// ---- elimination ----------------------------------------------------------------------------

void eliminate_units_of_losing_team(int16_t team_index)
{
    datum_globals *array = get_monster_array();
    for (int32_t index = 0; index < array->count; ++index)
    {
        monster_data *monster = get_monster_data(index);
        if (!monster || monster->owner_team_index != team_index) continue;
        marker_data *marker = marker_of_monster(monster);
        const marker_palette_entry *entry =
            marker ? get_marker_palette_entry(_marker_monster, marker->palette_index) : nullptr;
        if (!entry || (entry->flags & _marker_palette_ambient_life_flag)) continue;
        kill_monster(index, nullptr, nullptr, _monster_death_disintegration);
        marker->data_index = NONE;
        marker->data_identifier = NONE;
    }
}

// ---- the unit marker row --------------------------------------------------------------------

static bool monster_palette_entry(marker_palette_entry *entry)
{
    new_monster_palette_entry(entry);
    return entry->tag_index != NONE;
}

// The placement loop counts what it is handed; new_monster counts the entry
// it used itself (a veteran's own entry, perhaps), so the marker's entry is
// given back the loop's count.
static int32_t monster_from_marker(marker_data *marker, marker_palette_entry *entry)
{
    // A reserve marker's unit comes only when a team captain buys it.
    if (marker->flags & _marker_is_trade_reserve_flag) return NONE;
    const int32_t monster_index = new_monster(marker);
    if (monster_index != NONE && entry) entry->count -= 1;
    return monster_index;
}

void register_monster_life_hooks(void)
{
    const marker_type_procedures procedures = {monster_palette_entry, monster_from_marker};
    register_marker_type_procedures(_marker_monster, &procedures);
    register_eliminate_units_procedure(eliminate_units_of_losing_team);
}
