// Projectiles.  See projectiles.h; the draws are listed in docs/determinism.md.

#include "projectiles.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cseries/log.h"
#include "cseries/registration.h"
#include "cseries/tags.h"
#include "sound_procedures.h"
#include "fire.h"
#include "lightning.h"
#include "local_projectile_groups.h"
#include "local_projectiles.h"
#include "mesh_effects.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "markers.h"
#include "mesh.h"
#include "mesh_format.h"
#include "model_effects.h"
#include "monster_actions.h"
#include "monster_definitions.h"
#include "monster_life.h"
#include "monster_movement.h"
#include "monsters.h"
#include "object_definitions.h"
#include "particles.h"
#include "state_hash_kept_records.h"
#include "tag_files/collection_procedures.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "collection_services.h"
#include "tag_files/tag_files.h"
#include "vesk_random.h"
#include "wind.h"

// Sounds are heard, never simulated: the sound layer may draw only from its
// own random source, so a silent build and a loud one stay in step.
static void play_projectile_sound(int16_t sound_index, int32_t object_index)
{
    if (sound_index == NONE) return;
    const object_data *object = get_object(object_index);
    if (!object) return;
    if (const auto play = get_sound_procedures()->play_projectile_sound)
        play(sound_index, object_index, &object->location.position, SHORT_FIXED_ONE, 0);
}

// What a projectile reads of a unit, from the unit record.  False: no such unit.
struct projectile_monster_facts
{
    int16_t unit_type; // its unit definition
    int16_t owner_player_index;
    int16_t object_index;
    int16_t identifier;
    bool ignores_user_commands, ambient_life, no_visibility;
    int16_t mana, maximum_mana;
};

static bool get_monster_facts(int32_t monster_index, projectile_monster_facts *facts)
{
    if (monster_index == NONE) return false;
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster) return false;
    facts->unit_type = monster->unit_type;
    facts->owner_player_index = monster->owner_player_index;
    facts->object_index = monster->object_index;
    facts->identifier = monster->identifier;
    facts->ignores_user_commands = (monster->flags & _monster_ignores_user_commands_flag) != 0;
    facts->ambient_life = (monster->extra_flags & _monster_is_ambient_life_extra_flag) != 0;
    facts->no_visibility = (monster->extra_flags & _monster_has_no_visibility_extra_flag) != 0;
    facts->mana = monster->mana;
    const monster_definition *definition = get_monster_definition(monster->type);
    facts->maximum_mana = definition ? definition->maximum_mana : (short_fixed)0;
    return true;
}

// The owner steps out of hiding; its height follows from version 1710.
static void make_owner_visible(int32_t monster_index)
{
    monster_data *monster = monster_index == NONE ? nullptr : get_monster_data(monster_index);
    if (!monster) return;
    monster->flags &= ~(uint32_t)(_monster_has_celebrated_flag | _monster_has_left_the_mesh_flag);
    if (object_data *object = get_object(monster->object_index)) object->flags &= ~(uint32_t)_object_is_invisible_flag;
    obstacle_facts_changed(monster->object_index);
    if (current_gameplay_version >= 1710) update_monster_location_height(monster_index);
}

static void spend_monster_mana(int32_t monster_index)
{
    if (monster_data *monster = get_monster_data(monster_index)) monster->mana = 0;
}

// ---- definition groups ------------------------------------------------------------

static bool absent(tag t) { return t == 0 || t == (tag)NONE; }

static void projectile_definition_dependencies(definition_globals *, int32_t, int32_t, void *record,
                                               definition_dependency_report report)
{
    projectile_definition *d = (projectile_definition *)record;
    // A dependency on a group nobody registered is an assertion in the
    // registry: the collections may not be built into this program yet.
    if (get_definition_group(COLLECTION_GROUP_TAG))
        report(COLLECTION_GROUP_TAG, d->collection_tag, &d->collection_index, 0);
    report(OBJECT_DEFINITION_GROUP_TAG, d->object_tag, &d->object_type, 0);
    report(PROJECTILE_GROUP_DEFINITION_GROUP_TAG, d->detonation_projectile_group_tag,
           &d->detonation_projectile_group_type, _dependency_optional_flag);
    report(PROJECTILE_GROUP_DEFINITION_GROUP_TAG, d->promotion_projectile_group_tag,
           &d->promotion_projectile_group_type, _dependency_optional_flag);
    report(PROJECTILE_DEFINITION_GROUP_TAG, d->contrail_projectile_tag, &d->contrail_projectile_type,
           _dependency_optional_flag);
    report(PROJECTILE_DEFINITION_GROUP_TAG, d->promoted_projectile_tag, &d->promoted_projectile_type,
           _dependency_optional_flag);
}

// A lookup in a group that may not be registered in this program: NONE then.
static int16_t lookup(tag group_tag, tag subgroup)
{
    definition_globals *group = get_definition_group(group_tag);
    if (!group || subgroup == (tag)NONE) return NONE;
    return (int16_t)try_definition_tag_to_index(group, subgroup, true, _definition_lookup_quiet_flag);
}

// A sound is never worth refusing a projectile over: one that is missing (or
// a build without the sound group) plays nothing, said once in the log.
static void sound_lookup(tag subgroup, int16_t *index, const char *name)
{
    *index = NONE;
    definition_globals *sounds = get_definition_group(FOUR_CHARACTER_CODE('s', 'o', 'u', 'n'));
    if (!sounds || subgroup == (tag)NONE || subgroup == 0) return;
    *index = (int16_t)try_definition_tag_to_index(sounds, subgroup, true, _definition_lookup_quiet_flag);
    if (*index == NONE) log_message(__FILE__, __LINE__, "'%s': sound '%s' is missing", name, tag_to_string(subgroup));
}

// An optional lookup: absent leaves NONE, present but missing fails.
static bool optional_lookup(tag group_tag, tag subgroup, bool zero_is_absent, int16_t *index)
{
    *index = NONE;
    if (subgroup == (tag)NONE || (zero_is_absent && subgroup == 0)) return true;
    *index = lookup(group_tag, subgroup);
    return *index != NONE;
}

static bool postprocess_projectile_definition(definition_globals *group, int32_t index, int32_t, void *record)
{
    projectile_definition *d = (projectile_definition *)record;
    if (!validate_projectile_definition(d, get_definition_name(group, index))) return false;
    d->object_type = lookup(OBJECT_DEFINITION_GROUP_TAG, d->object_tag);
    if (d->object_type == NONE) return false;
    bool valid = true;
    if (d->collection_tag == (tag)NONE)
    {
        d->collection_index = NONE;
        for (int16_t &sequence : d->sequence_indexes)
            sequence = NONE;
    }
    else if (!get_definition_group(COLLECTION_GROUP_TAG))
    {
        // Without the collections module every sequence counts as present
        // (the object layer's default shape facts); nothing to index.
        d->collection_index = NONE;
    }
    else
    {
        d->collection_index = lookup(COLLECTION_GROUP_TAG, d->collection_tag);
        if (d->collection_index == NONE)
        {
            valid = false;
            for (int16_t &sequence : d->sequence_indexes)
                sequence = NONE;
        }
        else
        {
            // A sequence the collection lacks would be drawn from outside it.
            for (int16_t sequence : d->sequence_indexes)
                if (!verify_sequence_index(d->collection_index, sequence)) valid = false;
            // A projectile drawn in its shooter's colours shares the
            // shooter's table; every other one gets a lit table of its own.
            if (!(d->flags & _projectile_uses_owner_color_table_index_flag))
                d->color_table_index =
                    (int16_t)add_shading_table_to_collection_index(d->collection_index, nullptr, nullptr, 0, 0, nullptr);
        }
    }
    if (d->flags & _projectile_is_lightning_flag)
    {
        d->lightning_index = lookup(FOUR_CHARACTER_CODE('l', 'i', 'g', 'h'), d->lightning_tag);
        if (d->lightning_index == NONE) valid = false;
    }
    if (!(d->flags & _projectile_is_melee_attack_flag)) d->damage.flags |= _damage_is_long_range_flag;
    valid &= optional_lookup(PROJECTILE_DEFINITION_GROUP_TAG, d->contrail_projectile_tag, false,
                             &d->contrail_projectile_type);
    valid &= optional_lookup(PROJECTILE_GROUP_DEFINITION_GROUP_TAG, d->detonation_projectile_group_tag, false,
                             &d->detonation_projectile_group_type);
    valid &= optional_lookup(FOUR_CHARACTER_CODE('a', 'r', 't', 'i'), d->artifact_tag, true, &d->artifact_index);
    valid &= optional_lookup(PROJECTILE_DEFINITION_GROUP_TAG, d->promoted_projectile_tag, false,
                             &d->promoted_projectile_type);
    valid &= optional_lookup(PROJECTILE_GROUP_DEFINITION_GROUP_TAG, d->promotion_projectile_group_tag, false,
                             &d->promotion_projectile_group_type);
    valid &= optional_lookup(PROJECTILE_GROUP_DEFINITION_GROUP_TAG, d->target_detonation_projectile_group_tag, true,
                             &d->target_detonation_projectile_group_type);
    valid &= optional_lookup(FOUR_CHARACTER_CODE('g', 'e', 'o', 'm'), d->geometry_tag, true, &d->geometry_index);
    if (!optional_lookup(FOUR_CHARACTER_CODE('l', 'p', 'g', 'r'), d->local_projectile_group_tag, true,
                         &d->local_projectile_group_type))
    {
        d->local_projectile_group_type = NONE;
        return false;
    }
    if (!valid) return false;
    for (int32_t i = 0; i < NUMBER_OF_PROJECTILE_SOUNDS; ++i)
        sound_lookup(d->sound_tags[i], &d->sound_indexes[i], get_definition_name(group, index));
    return true;
}

static void projectile_group_definition_dependencies(definition_globals *, int32_t, int32_t, void *record,
                                                     definition_dependency_report report)
{
    projectile_group_definition *d = (projectile_group_definition *)record;
    for (int32_t i = 0; i < MAXIMUM_PARTS_PER_PROJECTILE_GROUP; ++i)
    {
        if (i >= d->number_of_parts || d->number_of_parts > MAXIMUM_PARTS_PER_PROJECTILE_GROUP) break;
        report(PROJECTILE_DEFINITION_GROUP_TAG, d->parts[i].projectile_tag, &d->parts[i].projectile_type,
               _dependency_optional_flag);
        report(PROJECTILE_DEFINITION_GROUP_TAG, d->parts[i].fail_projectile_tag, &d->parts[i].fail_projectile_type,
               _dependency_optional_flag);
    }
}

static bool postprocess_projectile_group_definition(definition_globals *group, int32_t index, int32_t, void *record)
{
    projectile_group_definition *d = (projectile_group_definition *)record;
    // Keep the part types the dependencies resolved; validation resets them.
    int16_t types[MAXIMUM_PARTS_PER_PROJECTILE_GROUP][2];
    for (int32_t i = 0; i < MAXIMUM_PARTS_PER_PROJECTILE_GROUP; ++i)
    {
        types[i][0] = d->parts[i].projectile_type;
        types[i][1] = d->parts[i].fail_projectile_type;
    }
    if (!validate_projectile_group_definition(d, get_definition_name(group, index))) return false;
    for (int32_t i = 0; i < d->number_of_parts; ++i)
    {
        d->parts[i].projectile_type = types[i][0];
        d->parts[i].fail_projectile_type = types[i][1];
    }
    optional_lookup(FOUR_CHARACTER_CODE('l', 'p', 'g', 'r'), d->local_projectile_group_tag, true,
                    &d->local_projectile_group_type);
    sound_lookup(d->sound_tag, &d->sound_index, get_definition_name(group, index));
    return true;
}

static definition_globals projectile_definitions = {
    .name = "projectile",
    .group = PROJECTILE_DEFINITION_GROUP_TAG,
    .current_version = PROJECTILE_DEFINITION_VERSION_NUMBER,
    .maximum_count = MAXIMUM_PROJECTILE_DEFINITIONS_PER_MAP,
    .size = sizeof(projectile_definition),
    .runtime_size = 0,
    .dependencies = projectile_definition_dependencies,
    .postprocess = postprocess_projectile_definition,
    .convert = nullptr,
    .default_definition = default_projectile_definition,
    .tag_header_user_data = get_projectile_definition_tag_header_user_data,
    .byte_swapping_data = projectile_definition_byte_swapping_data,
};

static definition_globals projectile_group_definitions = {
    .name = "projectile group",
    .group = PROJECTILE_GROUP_DEFINITION_GROUP_TAG,
    .current_version = PROJECTILE_GROUP_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_PROJECTILE_GROUP_DEFINITIONS_PER_MAP,
    .size = sizeof(projectile_group_definition),
    .runtime_size = 0,
    .dependencies = projectile_group_definition_dependencies,
    .postprocess = postprocess_projectile_group_definition,
    .convert = nullptr,
    .default_definition = default_projectile_group_definition,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = projectile_group_definition_byte_swapping_data,
};

definition_globals *get_projectile_definition_group(void) { return &projectile_definitions; }
definition_globals *get_projectile_group_definition_group(void) { return &projectile_group_definitions; }

const projectile_definition *get_projectile_definition(int32_t type)
{
    if (type == NONE || !projectile_definitions.registered) return nullptr;
    return (const projectile_definition *)try_and_get_definition(&projectile_definitions, type);
}

const projectile_group_definition *get_projectile_group_definition(int32_t type)
{
    if (type == NONE || !projectile_group_definitions.registered) return nullptr;
    return (const projectile_group_definition *)try_and_get_definition(&projectile_group_definitions, type);
}

void preload_projectile_sequences(void)
{
    const auto preload = get_collection_procedures()->preload_projectile_sequence;
    if (!projectile_definitions.registered || projectile_definitions.count == NONE) return;
    bool stop = false;
    for (int32_t index = 0; index < projectile_definitions.count && !stop; ++index)
    {
        const projectile_definition *d = get_projectile_definition(index);
        if (!d || d->sequence_indexes[_projectile_sequence_in_flight] == NONE) continue;
        // The collections' own preloader serves unless a reader was registered here.
        if (preload)
            preload(d->collection_index, d->sequence_indexes[_projectile_sequence_in_flight], &stop);
        else
            preload_sequence_index(d->collection_index, d->sequence_indexes[_projectile_sequence_in_flight], &stop);
    }
}

// ---- the array ----------------------------------------------------------------------

static datum_globals projectile_data_globals = {
    .name = "projectile", .size = sizeof(projectile_data), .maximum_count = MAXIMUM_PROJECTILES_PER_MAP};

static const tag internal_projectile_tags[NUMBER_OF_INTERNAL_PROJECTILES] = {FOUR_CHARACTER_CODE('i', 'n', 'd', 'c'),
                                                                             FOUR_CHARACTER_CODE('i', 'n', 's', 't')};
static int16_t internal_projectile_types[NUMBER_OF_INTERNAL_PROJECTILES] = {NONE, NONE};

// Projectiles in use, kept by the two procedures below (every slot taken or
// freed goes through them) so that the load shedding of each new projectile
// need not walk the array.  Builds with assertions compare it with the walk.
static struct
{
    int32_t in_use;
} projectile_array_globals;

static int32_t new_projectile_slot(void)
{
    const int32_t index = new_datum(&projectile_data_globals);
    if (index != NONE) projectile_array_globals.in_use += 1;
    return index;
}

static void free_projectile_slot(int32_t index)
{
    if (get_projectile_data(index)) projectile_array_globals.in_use -= 1;
    delete_datum(&projectile_data_globals, index);
}

static struct
{
    int32_t depth;
    bool overflow;
    tag subgroup; // the definition whose chain overflowed
    int32_t type;
} recursion_detector;

projectile_data *get_projectile_data(int32_t index)
{
    if (!projectile_data_globals.blocks || index < 0 || index >= projectile_data_globals.count) return nullptr;
    return (projectile_data *)get_datum(&projectile_data_globals, index);
}

int32_t get_projectile_slot_count(void) { return projectile_data_globals.blocks ? projectile_data_globals.count : 0; }

int32_t get_projectile_count(void)
{
#ifndef NDEBUG
    int32_t walked = 0;
    for (int32_t index = 0; index < get_projectile_slot_count(); ++index)
        walked += get_projectile_data(index) != nullptr;
    VASSERT(walked == projectile_array_globals.in_use, "the count of projectiles in use went astray");
#endif
    return projectile_array_globals.in_use;
}

int16_t get_internal_projectile_type(int32_t internal_type)
{
    return internal_type >= 0 && internal_type < NUMBER_OF_INTERNAL_PROJECTILES
               ? internal_projectile_types[internal_type]
               : (int16_t)NONE;
}

int32_t get_projectile_recursion_depth(void) { return recursion_detector.depth; }

// The fields of one projectile in the state hash.
enum { PROJECTILE_HASH_FIELD_COUNT = 26 };

enum { PROJECTILE_HASH_SIZE = 4 * PROJECTILE_HASH_FIELD_COUNT };

static void write_projectile_hash_bytes(int32_t index, const projectile_data *p, uint8_t *out)
{
    state_hash_cursor cursor = {out};
    auto put = [&cursor](int32_t value) { cursor.put(value); };
    put(index); put(p->identifier); put(p->flags); put(p->type); put(p->object_index); put(p->target_monster_index);
    put(p->owner_unit_index); put(p->owner_monster_index); put(p->damage_scale); put(p->ticks_since_last_contrail);
    put(p->contrail_count); put(p->lifespan); put(p->contrail_frequency); put(p->particle_system_density);
    put(p->delay); put(p->last_bounce_stain_position.x); put(p->last_bounce_stain_position.y);
    put(p->lightning_index); put(p->lightning_identifier); put(p->target_location.x); put(p->target_location.y);
    put(p->target_location.z); put(p->visible_projectile_group_type); put(p->original_owner_player_index);
    put(p->guided_speed); put(p->last_distance_to_target);
    VASSERT(cursor.out == out + PROJECTILE_HASH_SIZE, "projectile hash record of the wrong size");
}

// Each slot's record as the hash last wrote it and the CRC of its bytes
// (state_hash.h): local, never hashed.  A projectile at rest gives its kept CRC.
static state_hash_record_cache projectile_hash_records;

static void hash_projectiles(uint32_t *hash)
{
    state_hash_add_kept_records<projectile_data, PROJECTILE_HASH_SIZE>(
        hash, &projectile_hash_records, &projectile_data_globals, get_projectile_slot_count(),
        write_projectile_hash_bytes);
}

bool initialize_projectiles(void)
{
    if (!projectile_data_globals.blocks && !initialize_data(&projectile_data_globals)) return false;
    if (!projectile_definitions.registered && !initialize_definitions(&projectile_definitions)) return false;
    if (!projectile_group_definitions.registered && !initialize_definitions(&projectile_group_definitions))
        return false;
    if (!initialize_local_projectile_group_definitions()) return false;
    register_state_hash_procedure_at_start_up(hash_projectiles);
    return true;
}

void initialize_projectiles_for_new_map(void)
{
    if (projectile_data_globals.blocks) initialize_data_for_new_map(&projectile_data_globals);
    projectile_hash_records.forget();
    projectile_array_globals.in_use = 0;
    if (projectile_definitions.registered) initialize_definitions_for_new_map(&projectile_definitions);
    if (projectile_group_definitions.registered) initialize_definitions_for_new_map(&projectile_group_definitions);
    initialize_local_projectile_group_definitions_for_new_map();
    recursion_detector = {};
    for (int16_t &type : internal_projectile_types)
        type = NONE;
}

void dispose_projectiles_from_old_map(void)
{
    if (projectile_data_globals.blocks) dispose_data_from_old_map(&projectile_data_globals);
    projectile_hash_records.forget();
    projectile_array_globals.in_use = 0;
    if (projectile_definitions.registered) dispose_definitions_from_old_map(&projectile_definitions);
    if (projectile_group_definitions.registered) dispose_definitions_from_old_map(&projectile_group_definitions);
    dispose_local_projectile_group_definitions_from_old_map();
}

void initialize_internal_projectiles_for_new_map(void)
{
    for (int32_t i = 0; i < NUMBER_OF_INTERNAL_PROJECTILES; ++i)
        internal_projectile_types[i] =
            projectile_definitions.registered && projectile_definitions.count != NONE
                ? (int16_t)try_definition_tag_to_index(&projectile_definitions, internal_projectile_tags[i], true,
                                                       _definition_lookup_quiet_flag)
                : (int16_t)NONE;
}

// ---- helpers ------------------------------------------------------------------------

// random(d) of the units' code: one draw, only for d > 0.
static int32_t random_delta(int32_t delta) { return delta > 0 ? (int32_t)(((int64_t)vesk_random() * delta) >> 16) : 0; }

static bool uses_vux(void) { return (game_->option_flags & _game_option_uses_vux_flag) != 0; }

static bool censored(void)
{
    const game_preferences *preferences = get_game_preferences();
    return preferences && (preferences->flags & _game_pref_censored_flag);
}

static void delete_projectile_and_object(int32_t projectile_index)
{
    projectile_data *p = get_projectile_data(projectile_index);
    if (!p) return;
    const int32_t object_index = p->object_index;
    object_data *object = get_object(object_index);
    // Only the object this projectile owns: never a slot reused since.
    if (object && object->owner_index == projectile_index &&
        (object->owner == _object_is_projectile || object->owner == _object_is_special_projectile))
        delete_object(object_index);
    free_projectile_slot(projectile_index);
}

// The purely decorative definitions the second load-shedding threshold refuses.
static bool projectile_is_decorative(const projectile_definition *d)
{
    const object_definition *object = get_object_definition(d->object_type);
    return (d->flags &
            (_projectile_detonates_when_animation_loops_flag | _projectile_detonates_when_transfer_loops_flag)) &&
           d->damage.type == NONE && !(d->flags & _projectile_is_bloody_do_not_draw_flag) &&
           (!object || object->gravity == 0) && d->target_detonation_projectile_group_type == NONE &&
           d->detonation_projectile_group_type == NONE && d->promotion_projectile_group_type == NONE &&
           d->promoted_projectile_type == NONE;
}

static bool load_shedding_refuses(const projectile_definition *d)
{
    const int32_t in_use = get_projectile_count();
    if (in_use > PROJECTILE_LOAD_SHEDDING_THRESHOLD &&
        (d->flags & (_projectile_bloodies_landscape_flag | _projectile_is_media_surface_effect_flag)))
        return true;
    if (in_use >= DECORATIVE_PROJECTILE_LOAD_SHEDDING_THRESHOLD && projectile_is_decorative(d))
        return !(current_gameplay_version >= 1709 && !absent(d->promotion_unit_tag));
    return false;
}

// The nearest unit object around `position` that nothing chose yet; NONE.
static int32_t find_nearby_target(const projectile_definition *d, const world_point3d *position)
{
    const mesh_header *header = get_mesh_header();
    if (!header) return NONE;
    const int32_t width = header->mesh_width, height = header->mesh_height;
    const int32_t r =
        d->nearby_target_radius > 0 ? (int32_t)d->nearby_target_radius : (int32_t)NEARBY_TARGET_MONSTER_RADIUS;
    int32_t e = d->exclude_nearby_target_radius;
    if (e < 0 || current_gameplay_version < 1511) e = 0;
    int32_t window_width = 2 * r + 1, window_height = 2 * r + 1;
    if (current_gameplay_version >= 1601)
    {
        window_width = std::min(window_width, width);
        window_height = std::min(window_height, height);
    }
    const int32_t x0 = std::max(0, std::min((position->x >> 9) - r, width - window_width));
    const int32_t y0 = std::max(0, std::min((position->y >> 9) - r, height - window_height));
    const world_point2d from = {position->x, position->y};
    int32_t best = NONE;
    world_distance best_distance = 0;
    for (int32_t dy = 0; dy < window_height; ++dy)
    {
        for (int32_t dx = 0; dx < window_width; ++dx)
        {
            if (e > 0 && dx >= r - e && dx < r + e && dy >= r - e && dy < r + e) continue;
            // Cells outside the mesh are skipped in every version.
            if (!mesh_cell_in_bounds(x0 + dx, y0 + dy)) continue;
            for (int32_t index = first_scanned_object(x0 + dx, y0 + dy); index != NONE;)
            {
                const object_data *object = get_object(index);
                if (!object) break;
                if (object->owner == _object_is_monster &&
                    !(object->flags & (_object_is_invisible_flag | _object_was_chosen_to_take_damage_flag)))
                {
                    const world_point2d to = {object->location.position.x, object->location.position.y};
                    const world_distance distance = distance2d(&from, &to);
                    if (best == NONE || distance < best_distance)
                    {
                        best = index;
                        best_distance = distance;
                    }
                }
                index = next_scanned_object(index);
            }
        }
    }
    return best;
}

// ---- creation -------------------------------------------------------------------------

// The object's scale, and the velocity with inertia, random spread and wind;
// a media surface effect sits on the surface.  The draws come in this order.
static void size_and_launch_projectile(const projectile_definition *d, const object_definition *object_definition,
                                       new_object_data *request_out, world_location3d *location_out)
{
    new_object_data &request = *request_out;
    world_location3d &location = *location_out;
    // Scale and inertia draw here, before new_object, in this order.
    const int32_t scale_lower = object_definition && object_definition->scale_lower_bound
                                    ? (int32_t)object_definition->scale_lower_bound
                                    : (int32_t)SHORT_FIXED_ONE;
    request.scale = (short_fixed)(scale_lower + random_delta(object_definition ? object_definition->scale_delta : 0));
    if (request.scale == 0) request.scale = 1; // 0 would make new_object draw again
    const int32_t inertia = d->inertia_lower_bound + random_delta(d->inertia_delta);
    location.velocity.i = (world_distance)(((int64_t)location.velocity.i * inertia) >> 8);
    location.velocity.j = (world_distance)(((int64_t)location.velocity.j * inertia) >> 8);
    location.velocity.k = (world_distance)(((int64_t)location.velocity.k * inertia) >> 8);
    if (d->random_initial_velocity > 0)
    {
        const int32_t v = d->random_initial_velocity;
        location.velocity.i += (world_distance)(((int64_t)vesk_random() * (2 * v + 1) >> 16) - v);
        location.velocity.j += (world_distance)(((int64_t)vesk_random() * (2 * v + 1) >> 16) - v);
        location.velocity.k += (world_distance)(((int64_t)vesk_random() * (2 * v + 1) >> 16) - v);
    }
    if (d->flags & _projectile_affected_by_wind_flag)
    {
        if (const fixed_vector3d *wind = get_wind_velocity())
        {
            location.velocity.i += (world_distance)wind_component_integer_part(wind->i);
            location.velocity.j += (world_distance)wind_component_integer_part(wind->j);
            location.velocity.k += (world_distance)wind_component_integer_part(wind->k);
        }
    }
    if (d->flags & _projectile_is_media_surface_effect_flag)
    {
        const world_point2d point = {location.position.x, location.position.y};
        location.position.z = get_mesh_height(&point, 2);
    }
}

// The new record: lifespan, delay, target, contrail, guidance and origin.
static void initialize_projectile_record(projectile_data *p, const new_projectile_data *data,
                                         const projectile_definition *d, int32_t object_index,
                                         const world_location3d &location, int16_t target_monster_index)
{
    p->flags = data->flags;
    p->type = data->type;
    p->object_index = (int16_t)object_index;
    p->lifespan = (int16_t)(d->lifespan_lower_bound + (d->lifespan_delta >= 1 ? random_delta(d->lifespan_delta) : 0));
    if (current_gameplay_version >= 1701 && d->lifespan_lower_bound == 0 && d->lifespan_delta == 0)
        p->flags |= _projectile_has_no_lifespan_flag;
    else
        p->flags &= (uint16_t)~_projectile_has_no_lifespan_flag;
    p->delay = (int16_t)(d->delay_lower_bound + random_delta(d->delay_delta));
    p->target_monster_index = target_monster_index;
    p->contrail_frequency = d->initial_contrail_frequency;
    p->owner_unit_index = p->original_owner_player_index = p->visible_projectile_group_type = NONE;
    p->owner_monster_index = p->lightning_index = p->lightning_identifier = NONE;
    p->local_projectile_group_index = NONE;
    p->last_distance_to_target = -1;
    p->damage_scale = data->damage_scale;
    const world_point2d here = {location.position.x, location.position.y};
    p->particle_system_density = particle_system_intensity(&here);
    if (d->flags & _projectile_is_guided_flag)
        p->guided_speed = (world_distance)isqrt((uint32_t)((int64_t)location.velocity.i * location.velocity.i +
                                                           (int64_t)location.velocity.j * location.velocity.j));
    if (data->flags & _projectile_has_valid_target_location_flag) p->target_location = data->target_location;
}

// The object's flags, its flying sequence and its random mirroring.  Returns
// the object, looked up again after its shape is set.
static object_data *shape_projectile_object(const projectile_definition *d, const projectile_data *p,
                                            int32_t object_index, object_data *object)
{
    if (d->flags & _projectile_passes_through_target_flag) object->flags |= _object_is_permeable_flag;
    if (d->flags & _projectile_floats_flag) object->flags |= _object_floats_on_media_flag;
    if (d->flags & _projectile_is_media_surface_effect_flag)
        object->flags |= _object_is_media_surface_effect_flag | _object_respects_monster_visibility_flag;
    if (censored() && (d->flags & _projectile_is_bloody_do_not_draw_flag))
    {
        VASSERT(d->damage.type == NONE, "definition->damage.type== NONE");
        VASSERT(d->damage.damage_lower_bound == 0 && d->damage.damage_delta == 0,
                "definition->damage.damage_lower_bound== 0 && definition->damage.damage_delta== 0");
        object->flags |= _object_is_not_rendered_flag;
    }
    if (d->flags & _projectile_bloodies_landscape_flag)
        object->flags &= ~(uint32_t)(_object_partially_under_media_flag | _object_wholly_under_media_flag);
    object->flags &= ~(uint32_t)(_object_on_ground_flag | _object_at_rest_flag);

    const int16_t rate = (int16_t)(d->animation_rate_lower_bound + random_delta(d->animation_rate_delta));
    const uint16_t shape_flags =
        (d->flags & _projectile_detonates_when_animation_loops_flag)
            ? (uint16_t)_random_sequence_view_flag
            : (uint16_t)(_random_sequence_frame_flag | _random_sequence_phase_flag | _random_sequence_view_flag);
    set_object_shape(object_index, d->sequence_indexes[_projectile_sequence_in_flight], rate, _transfer_mode_none, 0,
                     shape_flags, 0);
    object = get_object(object_index);
    if (p->delay) object->flags |= _object_is_invisible_flag;
    obstacle_facts_changed(object_index);
    if ((d->flags & _projectile_can_animate_backwards_flag) && (vesk_random() & 1))
        object->flags |= _object_animates_backwards_flag;
    if (d->flags & _projectile_can_be_mirrored_flag)
    {
        if (vesk_random() & 1) object->flags |= _object_is_horizontally_mirrored_flag;
        if (!(d->flags & _projectile_cannot_be_mirrored_vertically_flag) && (vesk_random() & 1))
            object->flags |= _object_is_vertically_mirrored_flag;
    }
    if (d->flags & _projectile_cannot_be_accelerated_flag) object->flags |= _object_cannot_be_accelerated_flag;
    if (d->projectile_class == _projectile_class_explosive_object ||
        d->projectile_class == _projectile_class_potentially_explosive_object)
        object->flags |= _object_must_be_included_in_explosions_flag;
    if (d->geometry_index != NONE) object->geometry_index = d->geometry_index;
    return object;
}

// What the projectile takes from the unit that fired it, the object that
// launched it and the projectile it comes from.
static void inherit_from_owners(const new_projectile_data *data, const projectile_definition *d, projectile_data *p,
                                object_data *object)
{
    projectile_monster_facts owner = {};
    if (get_monster_facts(data->owner_monster_index, &owner))
    {
        p->owner_unit_index = owner.unit_type;
        p->owner_monster_index = data->owner_monster_index;
        p->original_owner_player_index = owner.owner_player_index;
        object->transparent_object_index = owner.object_index;
        if (owner.ignores_user_commands) p->flags |= _projectile_originated_from_uncontrollable_monster_flag;
        if (owner.ambient_life) p->flags |= _projectile_originated_from_ambient_life_monster_flag;
        if (owner.no_visibility) p->flags |= _projectile_originated_from_monster_with_no_visibility_flag;
    }
    if (const object_data *owner_object = get_object(data->owner_object_index))
    {
        if (owner_object->shape_collection_index == object->shape_collection_index)
        {
            if (d->flags & _projectile_uses_owner_color_table_index_flag)
            {
                object->color_table_index = owner_object->color_table_index;
                object->color_table_permutation = owner_object->color_table_permutation;
            }
            if (owner_object->shape_sequence_index == object->shape_sequence_index)
            {
                object->shape_frame_index = owner_object->shape_frame_index;
                object->shape_view_index = owner_object->shape_view_index;
            }
        }
    }
    if (const projectile_data *parent =
            data->owner_projectile_index != NONE ? get_projectile_data(data->owner_projectile_index) : nullptr)
    {
        p->damage_scale = parent->damage_scale;
        p->owner_unit_index = parent->owner_unit_index;
        p->owner_monster_index = parent->owner_monster_index;
        p->original_owner_player_index = parent->original_owner_player_index;
        p->flags = (uint16_t)((p->flags & ~PROJECTILE_ORIGIN_FLAGS) | (parent->flags & PROJECTILE_ORIGIN_FLAGS));
        if (p->target_monster_index == NONE) p->target_monster_index = parent->target_monster_index;
    }
}

// A lightning projectile's bolt.  False (the projectile and its object
// deleted) when there is nowhere to strike.
static bool attach_lightning(const new_projectile_data *data, const projectile_definition *d, projectile_data *p,
                             const object_data *object, int32_t object_index, int32_t projectile_index)
{
    // The bolt runs from the owner to the target unit, or to the
    // requested target location; with neither there is nowhere to strike.
    projectile_monster_facts source = {}, target = {};
    new_lightning_data bolt = {};
    bolt.type = d->lightning_index;
    bolt.source_object_index =
        get_monster_facts(data->owner_monster_index, &source) ? source.object_index : (int32_t)NONE;
    bolt.target_object_index =
        get_monster_facts(data->target_monster_index, &target) ? target.object_index : (int32_t)NONE;
    bolt.p0 = bolt.p1 = object->location.position;
    bool placed = bolt.target_object_index != NONE;
    if (!placed && (data->flags & _projectile_has_valid_target_location_flag))
    {
        bolt.p1 = data->target_location;
        placed = true;
    }
    const int32_t lightning_index = placed ? new_lightning(&bolt) : (int32_t)NONE;
    const lightning_data *lightning = lightning_index == NONE ? nullptr : get_lightning_data(lightning_index);
    if (!lightning)
    {
        delete_object(object_index);
        free_projectile_slot(projectile_index);
        return false;
    }
    p->lightning_index = (int16_t)lightning_index;
    p->lightning_identifier = lightning->identifier;
    return true;
}

int32_t new_projectile(const new_projectile_data *data)
{
    if (!data || data->type == NONE) return NONE;
    const projectile_definition *d = get_projectile_definition(data->type);
    if (!d || !projectile_data_globals.blocks) return NONE;
    world_location3d location = data->location;
    int16_t target_monster_index = data->target_monster_index;
    int32_t target_object_index = NONE;

    if (d->flags & _projectile_chooses_nearby_target_flag)
    {
        target_object_index = find_nearby_target(d, &location.position);
        if (target_object_index == NONE) return NONE;
        object_data *target = get_object(target_object_index);
        target->flags |= _object_was_chosen_to_take_damage_flag;
        target_monster_index = target->owner_index;
    }
    projectile_monster_facts target_facts = {};
    const bool has_target_unit = get_monster_facts(target_monster_index, &target_facts);
    if (has_target_unit) target_object_index = target_facts.object_index;
    if ((d->flags & _projectile_centered_on_target_flag) && target_object_index != NONE)
        get_object_point(_object_point_middle, target_object_index, &location.position);

    if (current_gameplay_version <= 1300)
    {
        if (d->flags & _projectile_is_on_fire_flag)
        {
            const mesh_cell *cell = mesh_cell_in_bounds(location.position.x >> 9, location.position.y >> 9)
                                        ? get_mesh_cell(location.position.x >> 9, location.position.y >> 9)
                                        : nullptr;
            if (cell && (cell->flags & 0x1800) && location.position.z < cell->media_height) return NONE;
        }
    }
    else if (load_shedding_refuses(d))
        return NONE;

    const int32_t projectile_index = new_projectile_slot();
    if (projectile_index == NONE) return NONE;

    const object_definition *object_definition = get_object_definition(d->object_type);
    new_object_data request;
    memset(&request, 0, sizeof(request));
    request.type = d->object_type;
    request.owner = _object_is_projectile;
    request.owner_index = (int16_t)projectile_index;
    request.tracking_priority = (uint8_t)d->tracking_priority;
    request.collection_index = d->collection_index;
    request.color_table_index = d->color_table_index;
    size_and_launch_projectile(d, object_definition, &request, &location);
    request.location = location;
    const int32_t object_index = new_object(&request);
    if (object_index == NONE)
    {
        free_projectile_slot(projectile_index);
        return NONE;
    }
    object_data *object = get_object(object_index);
    projectile_data *p = get_projectile_data(projectile_index);
    initialize_projectile_record(p, data, d, object_index, location, target_monster_index);

    object = shape_projectile_object(d, p, object_index, object);

    inherit_from_owners(data, d, p, object);
    if ((d->flags & _projectile_marks_target_has_having_been_chosen_flag) && target_object_index != NONE)
        if (object_data *target = get_object(target_object_index))
            target->flags |= _object_was_chosen_to_take_damage_flag;
    if (data->flags & _projectile_is_masonary_flag) object->color_table_permutation = 1;
    if (data->flags & _projectile_is_smoking_flag) object->color_table_permutation = 4;
    if (d->flags & _projectile_centered_on_target_flag) p->flags |= _projectile_detonates_immediately_flag;

    if ((d->flags & _projectile_is_lightning_flag) &&
        !attach_lightning(data, d, p, object, object_index, projectile_index))
        return NONE;
    if (d->local_projectile_group_type != NONE)
        p->local_projectile_group_index =
            (int16_t)new_local_projectile_group_on_object(d->local_projectile_group_type, object_index);
    play_projectile_sound(d->sound_indexes[_projectile_sound_flight], object_index);

    if (d->flags & (_projectile_is_melee_attack_flag | _projectile_definition_detonates_immediately_flag))
    {
        const bool melee_without_target = (d->flags & _projectile_is_melee_attack_flag) && target_object_index == NONE;
        if (!melee_without_target) detonate_projectile(nullptr, 0, projectile_index, target_object_index, false);
        if (get_projectile_data(projectile_index) &&
            get_projectile_data(projectile_index)->object_index == object_index)
            delete_projectile_and_object(projectile_index);
        return NONE;
    }
    return projectile_index;
}

// ---- groups ------------------------------------------------------------------------------

// The recursion guard around promotions and detonation groups.
static bool enter_recursion_guard(int32_t type)
{
    if (++recursion_detector.depth > MAXIMUM_PROMOTION_RECURSION_DEPTH && !recursion_detector.overflow)
    {
        recursion_detector.overflow = true;
        recursion_detector.type = type;
        recursion_detector.subgroup = get_definition_subgroup(&projectile_definitions, type);
    }
    return !recursion_detector.overflow;
}

static void leave_recursion_guard(void)
{
    if (--recursion_detector.depth > 0 || !recursion_detector.overflow) return;
    char subgroup[8] = {};
    const tag t = recursion_detector.subgroup;
    for (int32_t i = 0; i < 4; ++i)
        subgroup[i] = (char)((t >> (24 - 8 * i)) & 0xFF);
    char line[160];
    snprintf(line, sizeof(line), "### projectile promotion failed on '%s' (%s): exceeded %d promotions", subgroup,
             get_definition_name(&projectile_definitions, recursion_detector.type), MAXIMUM_PROMOTION_RECURSION_DEPTH);
    log_message(__FILE__, __LINE__, "%s", line);
    if (print_to_console_procedure print = get_print_to_console_procedure()) print(line);
    recursion_detector.overflow = false;
    recursion_detector.depth = 0;
}

int32_t new_projectile_group_part(const new_projectile_group_data *data, short_fixed position_lower_bound,
                                  short_fixed position_delta, int16_t projectile_type, uint32_t part_flags,
                                  bool no_blood)
{
    const projectile_definition *d = get_projectile_definition(projectile_type);
    const object_data *bounds = get_object(data->bounds_object_index);
    if (!d) return NONE;
    if (no_blood && (d->flags & _projectile_bloodies_landscape_flag)) return NONE;
    const int32_t f = position_lower_bound + random_delta(position_delta);
    new_projectile_data request;
    memset(&request, 0, sizeof(request));
    if (bounds) request.location = bounds->location;
    if (data->flags & _new_projectile_group_uses_epicenter_as_origin_flag)
        request.location.position = data->epicenter;
    else if (bounds && !(part_flags & _projectile_group_part_is_central_flag))
    {
        const int32_t r = bounds->radius;
        world_point3d &position = request.location.position;
        if (r > 0)
        {
            position.y = (world_distance)(bounds->location.position.y - r + random_delta(2 * r));
            position.x = (world_distance)(bounds->location.position.x - r + random_delta(2 * r));
        }
        else
        {
            position.y = (world_distance)(bounds->location.position.y - r);
            position.x = (world_distance)(bounds->location.position.x - r);
        }
        position.z = (world_distance)(bounds->location.position.z + 2 * bounds->height0 +
                                      ((f * (bounds->height1 - bounds->height0)) >> 8));
    }
    if (part_flags & _projectile_group_part_on_ground_flag)
    {
        const world_point2d point = {request.location.position.x, request.location.position.y};
        request.location.position.z = get_mesh_height(&point, 1);
    }
    if (data->flags & _new_projectile_group_uses_vector_flag)
        request.location.velocity = data->vector;
    else
        line_segment_to_vector(&request.location.velocity, &data->epicenter, &request.location.position,
                               data->velocity);
    request.type = projectile_type;
    if (data->flags & _new_projectile_group_has_masonary_source_flag)
    {
        if (!(d->flags & (_projectile_is_melee_attack_flag | _projectile_becomes_dormant_at_rest_flag)))
            request.type = internal_projectile_types[_internal_projectile_masonary_dust];
        request.flags |= _projectile_cannot_detonate_flag | _projectile_is_masonary_flag;
    }
    if (data->flags & _new_projectile_group_has_smoking_source_flag) request.flags |= _projectile_is_smoking_flag;
    if (data->flags & _new_projectile_group_cannot_detonate_flag) request.flags |= _projectile_cannot_detonate_flag;
    if ((data->flags & _new_projectile_group_detonate_explosives_flag) &&
        (d->projectile_class == _projectile_class_explosive_object ||
         d->projectile_class == _projectile_class_potentially_explosive_object))
        request.flags |= _projectile_detonates_immediately_flag;
    request.damage_scale = SHORT_FIXED_ONE;
    request.owner_projectile_index =
        bounds && bounds->owner == _object_is_projectile ? bounds->owner_index : (int16_t)NONE;
    request.owner_object_index = data->owner_object_index;
    request.owner_monster_index = bounds && bounds->owner == _object_is_monster ? bounds->owner_index : (int16_t)NONE;
    if (!uses_vux() && data->owner_monster_index != NONE) request.owner_monster_index = data->owner_monster_index;
    request.target_monster_index = NONE;
    const int32_t index = new_projectile(&request);
    if (index != NONE && (data->flags & _new_projectile_group_delayed_flag))
    {
        projectile_data *p = get_projectile_data(index);
        p->delay = (int16_t)random_delta(PROJECTILE_GROUP_DELAY_DELTA);
        if (object_data *object = get_object(p->object_index)) object->flags |= _object_is_invisible_flag;
        obstacle_facts_changed(p->object_index);
    }
    return index;
}

void new_projectile_group(const new_projectile_group_data *data)
{
    const projectile_group_definition *group = data ? get_projectile_group_definition(data->type) : nullptr;
    if (!group) return;
    // Copied: a part's projectiles may load or reload definitions.
    const projectile_group_definition definition = *group;
    if (!(data->flags & _new_projectile_group_cannot_detonate_flag))
        if (const object_data *bounds = get_object(data->bounds_object_index))
        {
            if (definition.mesh_effect_type != NONE)
            {
                // The shockwave lies on the terrain: only x and y place it.
                new_mesh_effect_data effect = {};
                effect.type = definition.mesh_effect_type;
                effect.origin = {bounds->location.position.x, bounds->location.position.y, 0};
                new_mesh_effect(&effect);
            }
            play_projectile_sound(definition.sound_index, data->bounds_object_index);
        }
    // The group's look: local, so no draw and nothing the simulation reads.
    if (definition.local_projectile_group_type != NONE)
        if (const object_data *bounds = get_object(data->bounds_object_index))
        {
            const object_data *owner = get_object(data->owner_object_index);
            new_local_projectile_group_data request;
            memset(&request, 0, sizeof(request));
            request.type = definition.local_projectile_group_type;
            request.center = bounds->location.position;
            request.center.z += (bounds->height0 + bounds->height1) / 2;
            request.central_object_index = NONE;
            request.bounds_object_index = data->bounds_object_index;
            request.bounds_object_identifier = bounds->identifier;
            request.opacity = FIXED_FRACTION_ONE;
            request.yaw = bounds->location.yaw;
            request.color_table_index = owner ? owner->color_table_index : (int16_t)NONE;
            new_local_projectile_group(&request);
        }
    for (int32_t i = 0; i < definition.number_of_parts; ++i)
    {
        const projectile_group_part &part = definition.parts[i];
        const int32_t count = part.count_lower_bound + random_delta(part.count_delta);
        for (int32_t n = 0; n < count; ++n)
        {
            const int16_t type =
                vesk_random() > part.appearing_fraction ? part.fail_projectile_type : part.projectile_type;
            if (type == NONE) continue;
            new_projectile_group_part(data, part.position_lower_bound, part.position_delta, type, part.flags,
                                      (data->flags & _new_projectile_group_no_blood_flag) != 0);
        }
    }
}

// ---- detonation and promotion --------------------------------------------------------------

void promote_projectile(int32_t projectile_index)
{
    projectile_data *p = get_projectile_data(projectile_index);
    if (!p) return;
    const projectile_definition *d = get_projectile_definition(p->type);
    const object_data *object = get_object(p->object_index);
    if (!d || !object) return;
    const int16_t identifier = p->identifier;
    const int16_t object_index = p->object_index;
    const world_location3d location = object->location;
    if (enter_recursion_guard(p->type))
    {
        if (d->promotion_projectile_group_type != NONE)
        {
            new_projectile_group_data group = {};
            group.flags = _new_projectile_group_uses_vector_flag;
            group.type = d->promotion_projectile_group_type;
            group.epicenter = location.position;
            group.velocity = (world_distance)world_magnitude3d(&location.velocity);
            group.vector = location.velocity;
            group.owner_object_index = group.bounds_object_index = object_index;
            group.owner_monster_index = p->owner_monster_index;
            new_projectile_group(&group);
        }
        p = (projectile_data *)get_datum_by_identifier(&projectile_data_globals, projectile_index, identifier);
        if (p && d->promoted_projectile_type != NONE)
        {
            new_projectile_data request;
            memset(&request, 0, sizeof(request));
            request.type = d->promoted_projectile_type;
            request.location = location;
            request.damage_scale = SHORT_FIXED_ONE;
            request.owner_projectile_index = (int16_t)projectile_index;
            request.owner_object_index = object_index;
            request.owner_monster_index = NONE;
            request.target_monster_index = p->target_monster_index;
            new_projectile(&request);
        }
        p = (projectile_data *)get_datum_by_identifier(&projectile_data_globals, projectile_index, identifier);
        if (p && current_gameplay_version >= 1601 && !absent(d->promotion_unit_tag) &&
            p->original_owner_player_index != NONE)
        {
            new_monster_from_projectile(d->promotion_unit_tag, &location, p->original_owner_player_index,
                                        (p->flags & _projectile_originated_from_uncontrollable_monster_flag) != 0,
                                        (p->flags & _projectile_originated_from_ambient_life_monster_flag) != 0,
                                        (p->flags & _projectile_originated_from_monster_with_no_visibility_flag) != 0);
        }
    }
    leave_recursion_guard();
    if (get_datum_by_identifier(&projectile_data_globals, projectile_index, identifier))
        delete_projectile_and_object(projectile_index);
}

void detonate_projectile(const world_point3d *epicenter, short_world_distance velocity, int32_t projectile_index,
                         int32_t obstacle_index, bool remains_after_detonation)
{
    projectile_data *p = get_projectile_data(projectile_index);
    if (!p) return;
    const projectile_definition *d = get_projectile_definition(p->type);
    if (!d || !get_object(p->object_index)) return;
    const int16_t identifier = p->identifier;
    const bool cannot_detonate = (p->flags & _projectile_cannot_detonate_flag) != 0;
    if (cannot_detonate && !(d->flags & (_projectile_is_melee_attack_flag | _projectile_bloodies_landscape_flag)))
        return;
    if (vesk_random_frequency_corrected(d->promotion_on_detonation_fraction, 1720))
    {
        promote_projectile(projectile_index);
        return;
    }
    p->flags |= _projectile_detonates_immediately_flag;
    const object_data *object = get_object(p->object_index);
    const world_location3d location = object->location;
    const int16_t object_index = p->object_index;
    const world_point2d point = {location.position.x, location.position.y};
    if ((d->flags & _projectile_bloodies_landscape_flag) &&
        !(censored() && (d->flags & _projectile_is_bloody_do_not_draw_flag)))
        bloody_mesh(&point);
    int16_t group_type = d->detonation_projectile_group_type;
    bool handled_by_obstacle = false;
    if (!cannot_detonate)
    {
        if (location.position.z - get_mesh_height(&point, 1) < MAXIMUM_STAIN_HEIGHT)
            stain_mesh(d->collection_index, d->sequence_indexes[_projectile_sequence_detonation_stain], &point);
        if (d->damage.type != NONE)
        {
            damage_data damage;
            initialize_damage_data(&damage);
            damage.owner_unit_index = p->owner_unit_index;
            damage.owner_monster_index = p->owner_monster_index;
            projectile_monster_facts owner = {};
            const bool has_owner = get_monster_facts(p->owner_monster_index, &owner);
            damage.owner_monster_identifier = has_owner ? owner.identifier : (int16_t)NONE;
            damage.epicenter = location.position;
            damage.vector = location.velocity;
            damage.scale = p->damage_scale;
            if (d->flags & _projectile_continually_detonates_flag) damage.flags |= _damage_caused_constantly_flag;
            if ((d->flags & _projectile_damage_proportional_to_mana_flag) && has_owner && owner.mana != 0)
            {
                damage.flags |= _damage_proportional_to_mana_flag;
                damage.mana_used = owner.mana;
                // A unit type without mana would divide by zero: it spends all.
                damage.mana_proportion =
                    owner.maximum_mana > 0
                        ? (fixed_fraction)std::min<int64_t>(((int64_t)owner.mana << 16) / owner.maximum_mana, 65535)
                        : (fixed_fraction)65535;
                spend_monster_mana(p->owner_monster_index);
            }
            const damage_definition definition = d->damage;
            if (cause_damage(obstacle_index, &definition, &damage) &
                _detonation_projectile_group_handled_by_obstacle_flag)
            {
                handled_by_obstacle = true;
                group_type = damage.detonation_projectile_group_type;
            }
        }
    }
    p = (projectile_data *)get_datum_by_identifier(&projectile_data_globals, projectile_index, identifier);
    if (group_type != NONE && get_projectile_group_definition(group_type))
    {
        new_projectile_group_data group = {};
        group.type = group_type;
        const uint16_t flags = p ? p->flags : 0;
        if (flags & _projectile_cannot_detonate_flag) group.flags |= _new_projectile_group_cannot_detonate_flag;
        if (flags & _projectile_is_masonary_flag) group.flags |= _new_projectile_group_has_masonary_source_flag;
        group.velocity = cannot_detonate ? velocity : std::max<world_distance>(velocity, d->detonation_velocity);
        group.bounds_object_index = object_index;
        group.owner_monster_index = p ? p->owner_monster_index : (int16_t)NONE;
        group.owner_object_index = object_index;
        if (epicenter)
            group.epicenter = *epicenter;
        else
            get_object_point(_object_point_middle, object_index, &group.epicenter);
        // An obstacle that vanished meanwhile leaves the projectile's own
        // object and epicenter, never the map origin.
        if (handled_by_obstacle && get_object(obstacle_index))
        {
            group.owner_object_index = (int16_t)obstacle_index;
            get_object_point(_object_point_middle, obstacle_index, &group.epicenter);
        }
        if (enter_recursion_guard(p ? (int32_t)p->type : (int32_t)NONE)) new_projectile_group(&group);
        leave_recursion_guard();
    }
    p = (projectile_data *)get_datum_by_identifier(&projectile_data_globals, projectile_index, identifier);
    if (!p) return;
    if (d->flags & _projectile_can_set_landscape_on_fire_flag)
    {
        const mesh_header *header = get_mesh_header();
        if (header && (header->flags & _mesh_can_catch_fire_flag))
        {
            projectile_monster_facts owner = {};
            const int16_t owner_identifier =
                get_monster_facts(p->owner_monster_index, &owner) ? owner.identifier : (int16_t)NONE;
            try_to_start_fire(p->owner_unit_index, p->owner_monster_index, owner_identifier,
                              location.position.x >> 9, location.position.y >> 9);
        }
    }
    if (d->flags & _projectile_makes_owner_monster_visible_flag) make_owner_visible(p->owner_monster_index);
    p = (projectile_data *)get_datum_by_identifier(&projectile_data_globals, projectile_index, identifier);
    if (!p) return;
    if (remains_after_detonation)
        p->flags &= (uint16_t)~_projectile_detonates_immediately_flag;
    else
        delete_projectile_and_object(projectile_index);
}

// ---- sleep, wake, fade ----------------------------------------------------------------------

void sleep_projectile(int32_t projectile_index)
{
    projectile_data *p = get_projectile_data(projectile_index);
    if (!p) return;
    if (object_data *object = get_object(p->object_index))
    {
        object->owner = _object_is_dormant_projectile;
        object->owner_index = p->type;
        object->original_owner_player_index = p->original_owner_player_index;
        object->dormant_proj_flags = (int16_t)(p->flags & PROJECTILE_ORIGIN_FLAGS);
        object->flags |= _object_on_ground_flag | _object_at_rest_flag;
        object_scan_membership_changed(p->object_index);
    }
    free_projectile_slot(projectile_index);
}

int32_t wake_projectile(int32_t object_index, int32_t owner_unit_index)
{
    object_data *dormant = get_object(object_index);
    if (!dormant || dormant->owner != _object_is_dormant_projectile) return NONE;
    new_projectile_data request;
    memset(&request, 0, sizeof(request));
    request.type = dormant->owner_index;
    request.location = dormant->location;
    request.damage_scale = SHORT_FIXED_ONE;
    request.owner_object_index = (int16_t)object_index;
    request.owner_monster_index = request.owner_projectile_index = request.target_monster_index = NONE;
    if (dormant->color_table_permutation == 1)
        request.flags |= _projectile_cannot_detonate_flag | _projectile_is_masonary_flag;
    const uint32_t kept =
        dormant->flags & (_object_is_flag_flag | _object_is_solid_flag | _object_respects_monster_visibility_flag);
    const int16_t player = dormant->original_owner_player_index;
    const uint16_t origin = (uint16_t)(dormant->dormant_proj_flags & PROJECTILE_ORIGIN_FLAGS);
    const int32_t index = new_projectile(&request);
    projectile_data *p = get_projectile_data(index);
    if (!p) return NONE;
    object_data *object = get_object(p->object_index);
    object->flags = (object->flags & ~(uint32_t)(_object_is_flag_flag | _object_is_solid_flag |
                                                 _object_respects_monster_visibility_flag)) |
                    kept;
    object_scan_membership_changed(p->object_index);
    p->owner_unit_index = (int16_t)owner_unit_index;
    p->original_owner_player_index = player;
    p->flags = (uint16_t)((p->flags & ~PROJECTILE_ORIGIN_FLAGS) | origin);
    // The projectile takes over the dormant object's slot (and identifier).
    if (replace_object(object_index, p->object_index)) p->object_index = (int16_t)object_index;
    return index;
}

int32_t fade_object(bool out, int32_t object_index, int16_t delay, int16_t fade_ticks)
{
    object_data *object = get_object(object_index);
    if (!object || !projectile_data_globals.blocks) return NONE;
    if (current_gameplay_version >= 1718 && out && (object->flags & _object_is_invisible_flag)) return NONE;
    const int32_t index = new_projectile_slot();
    if (index == NONE) return NONE;
    projectile_data *p = get_projectile_data(index);
    p->type = NONE;
    p->delay = delay;
    p->object_index = (int16_t)object_index;
    object->owner = _object_is_special_projectile;
    object->owner_index = (int16_t)index;
    object_scan_membership_changed(object_index);
    object->transfer_mode = out ? _transfer_mode_transparent_fade_out : _transfer_mode_transparent_fade_in;
    object->transfer_phase = 0;
    object->transfer_period = fade_ticks;
    if (current_gameplay_version >= 1711 && current_gameplay_version <= 1717)
        object->flags &= ~(uint32_t)_object_is_invisible_flag;
    if (delay && !out) object->flags |= _object_is_invisible_flag;
    obstacle_facts_changed(object_index);
    return index;
}

// ---- damage reaction ------------------------------------------------------------------------

void accelerate_projectile(const damage_definition *definition, damage_data *data, int32_t object_index)
{
    object_data *object = get_object(object_index);
    if (!object || !definition || !data) return;
    if (current_gameplay_version >= 1301 &&
        (definition->type == _damage_healing || (object->flags & _object_is_invisible_flag)))
        return;
    int32_t projectile_index = NONE;
    if (object->owner == _object_is_dormant_projectile)
        projectile_index = wake_projectile(object_index, data->owner_unit_index);
    else if (object->owner == _object_is_projectile)
        projectile_index = object->owner_index;
    else
    {
        char text[96];
        snprintf(text, sizeof(text), "accelerate_projectile() called with object %p (owner #%d)", (void *)object,
                 (int)object->owner);
        HALT(text);
        return;
    }
    projectile_data *p = get_projectile_data(projectile_index);
    if (!p) return;
    const projectile_definition *d = get_projectile_definition(p->type);
    if (!d) return;
    object = get_object(p->object_index);
    const bool detonating = (p->flags & _projectile_detonates_immediately_flag) != 0;
    const int32_t result = damage_object(p->object_index, definition, data->damage, 0, nullptr, nullptr);
    if (data->velocity == 0) // instantaneous damage: no push
    {
        if (result && !detonating) detonate_projectile(&data->epicenter, 0, projectile_index, NONE, false);
        return;
    }
    if (data->velocity == 0 || detonating) return;
    const object_definition *object_definition = get_object_definition(object->type);
    if (!(current_gameplay_version >= 1691 && object_definition &&
          (object_definition->flags & _object_not_accelerated_by_damage_flag)))
    {
        world_point3d from = data->epicenter;
        from.z = (world_distance)(from.z - 128);
        world_vector3d push;
        line_segment_to_vector(&push, &from, &object->location.position, data->velocity);
        object->location.velocity.i += push.i;
        object->location.velocity.j += push.j;
        object->location.velocity.k += push.k;
        if ((object->flags & _object_at_rest_flag) && object->location.velocity.k < 0)
            object->location.velocity.k = (world_distance)-object->location.velocity.k;
        object->flags &= ~(uint32_t)(_object_on_ground_flag | _object_at_rest_flag);
    }
    if (!result)
    {
        if (d->use_accel == 1 && data->velocity > d->maximum_safe_acceleration &&
            vesk_random_frequency_corrected(d->acceleration_detonation_fraction, 1720))
            detonate_projectile(&data->epicenter, (short_world_distance)data->velocity, projectile_index, NONE, false);
    }
    else
        detonate_projectile(&data->epicenter, (short_world_distance)data->velocity, projectile_index, NONE, false);
}

// ---- markers -----------------------------------------------------------------------------------

bool new_projectile_palette_entry(marker_palette_entry *entry)
{
    if (!entry || !projectile_definitions.registered || projectile_definitions.count == NONE) return false;
    entry->tag_index = (int16_t)try_definition_tag_to_index(&projectile_definitions, entry->tag, true, 0);
    return entry->tag_index != NONE;
}

int32_t new_projectile_from_marker(marker_data *marker, marker_palette_entry *entry)
{
    if (!marker || !entry || entry->tag_index == NONE) return NONE;
    const projectile_definition *d = get_projectile_definition(entry->tag_index);
    if (!d) return NONE;
    if (marker->minimum_difficulty_level > game_->difficulty_level) return NONE;
    new_projectile_data request;
    memset(&request, 0, sizeof(request));
    request.type = entry->tag_index;
    request.location = marker->location;
    request.damage_scale = 0;
    request.owner_monster_index = request.owner_projectile_index = request.owner_object_index = NONE;
    request.target_monster_index = NONE;
    if (marker->flags & _marker_detonates_immediately_flag) request.flags |= _projectile_detonates_immediately_flag;
    const int32_t index = new_projectile(&request);
    projectile_data *p = get_projectile_data(index);
    if (!p) return NONE;
    object_data *object = get_object(p->object_index);
    set_datum_identifier(get_object_array(), p->object_index, marker->identifier);
    marker->data_identifier = object->identifier;
    const int32_t object_index = p->object_index;
    if (!(marker->flags & _marker_detonates_immediately_flag) && marker->location.velocity.k == 0 &&
        !(d->flags & _projectile_animates_at_rest_flag))
        sleep_projectile(index);
    return object_index;
}

// ---- the tick -----------------------------------------------------------------------------------

void orphan_monster_projectiles(int32_t monster_index, uint32_t)
{
    for (int32_t index = 0; index < get_projectile_slot_count(); ++index)
    {
        projectile_data *p = get_projectile_data(index);
        if (!p) continue;
        if (p->owner_monster_index == monster_index)
        {
            p->owner_monster_index = NONE;
            if (p->target_monster_index == monster_index) p->target_monster_index = NONE;
        }
        if (p->target_monster_index == monster_index) p->target_monster_index = NONE;
    }
}

static void make_visible_group(projectile_data *p, int32_t index)
{
    object_data *object = get_object(p->object_index);
    if (!object) return;
    const int16_t type = p->visible_projectile_group_type;
    // A fade keeps group 0 as the pool hands it out; an empty table has none.
    if (type != NONE && get_projectile_group_definition(type))
    {
        new_projectile_group_data group = {};
        group.type = type;
        group.epicenter = {object->location.position.x, object->location.position.y, 0};
        group.owner_object_index = group.bounds_object_index = p->object_index;
        group.owner_monster_index = p->owner_monster_index;
        new_projectile_group(&group);
    }
    p = get_projectile_data(index);
    object = p ? get_object(p->object_index) : nullptr;
    if (!object) return;
    if (current_gameplay_version >= 1711 || !(object->flags & _object_animation_new_frame_flag))
        object->flags &= ~(uint32_t)_object_is_invisible_flag;
    obstacle_facts_changed(p->object_index);
}

// One projectile's tick as its steps share it: the record and object (looked
// up again wherever a step may have moved or freed them), what the move struck
// and the state the tick ends in.
struct projectile_update
{
    int32_t index;
    int16_t identifier;
    projectile_data *p;
    object_data *object;
    const projectile_definition *d;
    int32_t game_time;
    bool got_time;
    int32_t state;
    int32_t obstacle_index;
    int32_t move_flags;
    world_vector3d struck_velocity; // the velocity the last move began with
    bool rebound_sound;
    bool bolt_gone;
};

// A guided projectile turns toward its target by at most its turning speed,
// on every eighth tick.
static void steer_guided_projectile(projectile_update &tick)
{
    if ((tick.game_time & GUIDED_PROJECTILE_MASK) == GUIDED_PROJECTILE_MASK &&
        (tick.d->flags & _projectile_is_guided_flag) && !(tick.object->flags & _object_at_rest_flag) &&
        (tick.p->flags & _projectile_has_valid_target_location_flag))
    {
        const angle heading = arctangent(tick.object->location.velocity.i, tick.object->location.velocity.j);
        const angle wanted = arctangent((world_distance)(tick.p->target_location.x - tick.object->location.position.x),
                                        (world_distance)(tick.p->target_location.y - tick.object->location.position.y));
        const int32_t limit = tick.d->guided_turning_speed * 8;
        const int32_t turn = std::clamp<int32_t>(signed_angular_difference(heading, wanted), -limit, limit);
        const angle a = (angle)(heading + turn);
        tick.object->location.velocity.i = (world_distance)((cosine_rounded(a) * tick.p->guided_speed) >> TRIG_SHIFT);
        tick.object->location.velocity.j = (world_distance)((sine_rounded(a) * tick.p->guided_speed) >> TRIG_SHIFT);
    }
}

// Animates a flying projectile (or one that animates at rest); one that
// detonates when its animation or transfer loops does so now.
static void animate_projectile(projectile_update &tick)
{
    const uint32_t loops =
        _projectile_detonates_when_animation_loops_flag | _projectile_detonates_when_transfer_loops_flag;
    if (!(tick.object->flags & _object_at_rest_flag) || (tick.d->flags & (loops | _projectile_animates_at_rest_flag)))
    {
        animate_object(tick.p->object_index);
        tick.object = get_object(tick.p->object_index);
        if (((tick.d->flags & _projectile_detonates_when_animation_loops_flag) &&
             (tick.object->flags & _object_animation_last_frame_flag)) ||
            ((tick.d->flags & _projectile_detonates_when_transfer_loops_flag) &&
             (tick.object->flags & _object_animation_transfer_finished_flag)))
        {
            tick.p->flags &= (uint16_t)~_projectile_cannot_detonate_flag;
            tick.state = _update_projectile_detonate;
        }
    }
}

// Leaves a contrail behind (masonry dust or smoke when the projectile is such),
// and moves the contrail frequency on.  False when the projectile was freed.
static bool leave_contrail(projectile_update &tick)
{
    if (tick.d->contrail_projectile_type != NONE && !(tick.object->flags & _object_wholly_under_media_flag) &&
        tick.p->contrail_count < tick.d->maximum_contrail_count)
    {
        const int16_t old = tick.p->ticks_since_last_contrail++;
        if (old > tick.d->ticks_between_contrails && vesk_random() <= tick.p->contrail_frequency)
        {
            tick.p->ticks_since_last_contrail = 0;
            tick.p->contrail_count++;
            new_projectile_data request;
            memset(&request, 0, sizeof(request));
            request.type = (tick.p->flags & _projectile_is_masonary_flag)
                               ? internal_projectile_types[_internal_projectile_masonary_dust]
                           : (tick.p->flags & _projectile_is_smoking_flag)
                               ? internal_projectile_types[_internal_projectile_smoke_trail]
                               : tick.d->contrail_projectile_type;
            request.location = tick.object->location;
            request.damage_scale = SHORT_FIXED_ONE;
            request.owner_projectile_index = (int16_t)tick.index;
            request.owner_object_index = tick.p->object_index;
            request.owner_monster_index = request.target_monster_index = NONE;
            new_projectile(&request);
            tick.p = (projectile_data *)get_datum_by_identifier(&projectile_data_globals, tick.index, tick.identifier);
            if (!tick.p) return false;
        }
        // Toward the final frequency by the delta, never past it.
        const int32_t target = tick.d->final_contrail_frequency, current = tick.p->contrail_frequency;
        const int32_t step = tick.d->contrail_frequency_delta;
        tick.p->contrail_frequency =
            (fixed_fraction)(current < target ? std::min(current + step, target) : std::max(current - step, target));
    }
    return true;
}

// A lightning projectile rides its bolt, probing the path for what stands in
// it; it detonates when the bolt strikes or it hits something on the way.
static void move_lightning_projectile(projectile_update &tick)
{
    lightning_data *bolt = get_lightning_data_by_identifier(tick.p->lightning_index, tick.p->lightning_identifier);
    if (!bolt)
        tick.bolt_gone = true;
    else
    {
        // The object probes the bolt's path for whatever stands in it.
        const lightning_definition *ld = get_lightning_definition(bolt->type);
        const bool bigger = (game_->option_flags & (_game_option_uses_vux_flag | _game_option_uses_anticlump_flag)) ||
                            (ld && (ld->flags & _lightning_uses_bigger_probe_flag));
        const auto toward = [](world_distance to, world_distance from)
        { return (int16_t)std::clamp<int32_t>(to - from, -INT16_MAX, INT16_MAX); };
        tick.object->location.velocity = {toward(bolt->end_point.x, tick.object->location.position.x),
                                          toward(bolt->end_point.y, tick.object->location.position.y),
                                          toward(bolt->end_point.z, tick.object->location.position.z)};
        tick.object->radius = bigger ? 192 : 128;
        tick.object->height0 = bigger ? -96 : -64;
        tick.object->height1 = bigger ? 96 : 64;
        tick.object->flags &= ~(uint32_t)_object_on_ground_flag;
        tick.move_flags = move_object(tick.p->object_index);
        tick.object = get_object(tick.p->object_index);
        bolt = get_lightning_data_by_identifier(tick.p->lightning_index, tick.p->lightning_identifier);
        if (bolt && bolt->state == _lightning_struck)
        {
            disconnect_object_from_mesh(tick.p->object_index);
            tick.object->location.position = bolt->strike_point;
            reconnect_object_to_mesh(tick.p->object_index);
            // The target by identifier too: its slot may hold another object now.
            if (const object_data *target = get_object(bolt->target_object_index);
                target && target->identifier == bolt->target_object_identifier)
                tick.obstacle_index = bolt->target_object_index;
            tick.state = _update_projectile_detonate;
        }
        else if (tick.move_flags & _move_struck_object_flag)
        {
            tick.obstacle_index = move_flags_struck_object_index(tick.move_flags);
            const object_data *struck = get_object(tick.obstacle_index);
            if (struck && struck->owner == _object_is_monster)
            {
                tick.p->target_monster_index = struck->owner_index;
                if (bolt)
                {
                    bolt->target_object_index = tick.obstacle_index;
                    bolt->target_object_identifier = struck->identifier;
                }
            }
            tick.state = _update_projectile_detonate;
        }
        else if ((tick.move_flags & _move_struck_ground_flag) &&
                 !(ld && (ld->flags & _lightning_keeps_target_after_ground_strike_flag)))
        {
            if (bolt)
            {
                bolt->target_object_index = NONE;
                const world_point3d end = bolt->end_point;
                change_lightning_endpoints(tick.p->lightning_index, nullptr, &end);
            }
            tick.state = _update_projectile_detonate;
        }
    }
}

// A guided projectile that moves away from its target stops and detonates
// once it is clearly past it.
static void stop_guided_projectile_past_target(projectile_update &tick)
{
    if ((tick.d->flags & _projectile_is_guided_flag) && (tick.p->flags & _projectile_has_valid_target_location_flag))
    {
        const world_point2d a = {tick.object->location.position.x, tick.object->location.position.y};
        const world_point2d b = {tick.p->target_location.x, tick.p->target_location.y};
        const world_distance distance = distance2d(&a, &b);
        if (tick.p->last_distance_to_target != -1 && distance >= tick.p->last_distance_to_target)
        {
            if (distance > tick.p->last_distance_to_target + GUIDED_PROJECTILE_THRESHOLD_DISTANCE)
            {
                tick.p->guided_speed = 0;
                tick.object->location.velocity.i = tick.object->location.velocity.j = 0;
                tick.state = _update_projectile_detonate;
            }
        }
        else
            tick.p->last_distance_to_target = distance;
    }
}

// Entering or leaving media makes the splash of its kind.  False when the
// projectile was freed.
static bool splash_into_media(projectile_update &tick)
{
    if (tick.move_flags & (_move_entered_media_flag | _move_exited_media_flag))
    {
        const int32_t splash =
            (tick.d->flags & _projectile_floats_flag)               ? 4
            : (tick.d->flags & _projectile_bloodies_landscape_flag) ? 3
            : (tick.d->splash_or_rebound_effect_type >= 0 && tick.d->splash_or_rebound_effect_type < 3)
                ? tick.d->splash_or_rebound_effect_type
            : (tick.d->flags & _projectile_is_on_fire_flag) ? 5
                                                            : NONE;
        const int32_t group_type = splash == NONE ? NONE : get_mesh_media_projectile_group_type(splash);
        if (group_type != NONE)
        {
            const mesh_cell *cell =
                get_mesh_cell(tick.object->location.position.x >> 9, tick.object->location.position.y >> 9);
            new_projectile_group_data group = {};
            group.type = (int16_t)group_type;
            group.flags =
                _new_projectile_group_uses_vector_flag | _new_projectile_group_uses_epicenter_as_origin_flag;
            group.epicenter = {tick.object->location.position.x, tick.object->location.position.y,
                               cell ? cell->media_height : tick.object->location.position.z};
            group.vector = {tick.object->location.velocity.i, tick.object->location.velocity.j,
                            (int16_t)(2 * std::abs(tick.object->location.velocity.k))};
            group.owner_object_index = group.bounds_object_index = tick.p->object_index;
            group.owner_monster_index = NONE;
            new_projectile_group(&group);
            tick.p = (projectile_data *)get_datum_by_identifier(&projectile_data_globals, tick.index, tick.identifier);
            if (!tick.p) return false;
            tick.object = get_object(tick.p->object_index);
        }
    }
    return true;
}

// A struck ground, ceiling, object or cell: detonate, or bounce (a stain,
// the contrail reset, a detonation by acceleration).
static void strike_obstacle(projectile_update &tick)
{
    if (tick.move_flags &
        (_move_struck_ground_flag | _move_struck_ceiling_flag | _move_struck_object_flag | _move_struck_cell_flag))
    {
        tick.rebound_sound = true;
        if (tick.move_flags & _move_struck_object_flag)
        {
            tick.obstacle_index = move_flags_struck_object_index(tick.move_flags);
            tick.object->transparent_object_index = (int16_t)tick.obstacle_index;
            const object_data *struck = get_object(tick.obstacle_index);
            if (struck && current_gameplay_version <= 1500)
                tick.p->target_monster_index = struck->owner_index;
            else if (struck && struck->owner == _object_is_monster && current_gameplay_version <= 1710)
                tick.p->target_monster_index = struck->owner_index;
        }
        if (vesk_random_frequency_corrected(tick.d->detonation_frequency, 1720))
        {
            bool slow;
            if (current_gameplay_version >= FIRST_GAMEPLAY_VERSION_WITH_KINETIC_STRIKE_SPEED)
            {
                const world_vector3d &v = tick.struck_velocity;
                slow = abs(v.i) < MINIMUM_VELOCITY_FOR_KINETIC_DAMAGE && abs(v.j) < MINIMUM_VELOCITY_FOR_KINETIC_DAMAGE &&
                       abs(v.k) < MINIMUM_VELOCITY_FOR_KINETIC_DAMAGE;
            }
            else
            {
                const world_vector3d &v = tick.object->location.velocity;
                slow = v.i < MINIMUM_VELOCITY_FOR_KINETIC_DAMAGE && v.j < MINIMUM_VELOCITY_FOR_KINETIC_DAMAGE &&
                       v.k < MINIMUM_VELOCITY_FOR_KINETIC_DAMAGE;
            }
            if (!(tick.d->damage.type == _damage_kinetic && slow) || uses_vux() ||
                (current_gameplay_version >= 1501 && tick.d->use_accel == 1))
            {
                tick.state = _update_projectile_detonate;
                if (current_gameplay_version >= 1711 && tick.obstacle_index != NONE)
                    if (const object_data *struck = get_object(tick.obstacle_index);
                        struck && struck->owner == _object_is_monster)
                        tick.p->target_monster_index = struck->owner_index;
            }
        }
        else
        {
            if ((tick.move_flags & _move_struck_ground_flag) &&
                tick.d->sequence_indexes[_projectile_sequence_bounce_stain] != NONE)
            {
                const world_point2d here = {tick.object->location.position.x, tick.object->location.position.y};
                // Nearer than the separation, as films of this game expect.
                if (distance2d(&here, &tick.p->last_bounce_stain_position) < MINIMUM_BOUNCE_STAIN_SEPARATION)
                {
                    stain_mesh(tick.d->collection_index, tick.d->sequence_indexes[_projectile_sequence_bounce_stain],
                               &here);
                    tick.p->last_bounce_stain_position = here;
                }
            }
            if (tick.d->flags & _projectile_contrail_frequency_reset_after_bouncing_flag)
                tick.p->contrail_frequency = tick.d->initial_contrail_frequency;
            if (tick.d->use_accel == 1 &&
                world_magnitude3d(&tick.object->location.velocity) > 3 * tick.d->maximum_safe_acceleration &&
                vesk_random_frequency_corrected(tick.d->acceleration_detonation_fraction, 1720))
                tick.state = _update_projectile_detonate;
        }
        if (uses_vux() && (tick.move_flags & _move_entered_media_flag) &&
            vesk_random_frequency_corrected(tick.d->media_detonation_frequency, 1720))
            tick.state = _update_projectile_detonate;
    }
}

// Moves a projectile that is not at rest and reacts to what the move met.
// False when the projectile was freed.
static bool move_flying_projectile(projectile_update &tick)
{
    tick.struck_velocity = tick.object->location.velocity;
    tick.move_flags = move_object(tick.p->object_index);
    tick.object = get_object(tick.p->object_index);
    stop_guided_projectile_past_target(tick);
    if (!splash_into_media(tick)) return false;
    if (!uses_vux() && (tick.move_flags & _move_entered_media_flag) &&
        vesk_random_frequency_corrected(tick.d->media_detonation_frequency, 1720))
        tick.state = _update_projectile_detonate;
    strike_obstacle(tick);
    if (tick.object->flags & _object_at_rest_flag)
    {
        if (tick.d->flags & _projectile_detonates_at_rest_flag) tick.state = _update_projectile_detonate;
        if (tick.d->flags & _projectile_becomes_dormant_at_rest_flag) tick.state = _update_projectile_sleep;
    }
    return true;
}

// Fire promotes, the end of the lifespan promotes or detonates, and
// immediate or continual detonation detonates.
static void apply_fire_and_lifespan(projectile_update &tick)
{
    if (tick.d->flags & _projectile_is_on_fire_flag)
    {
        if (tick.object->flags & _object_partially_under_media_flag)
            tick.state = _update_projectile_promote;
        else if (tick.got_time && vesk_random_frequency_corrected(tick.p->particle_system_density, 1720))
            tick.state = _update_projectile_promote;
    }
    if (!(tick.p->flags & _projectile_has_no_lifespan_flag))
    {
        if (--tick.p->lifespan <= 0)
            tick.state = (tick.d->flags & _projectile_is_promoted_at_end_of_lifespan_flag)
                             ? _update_projectile_promote
                             : _update_projectile_detonate;
    }
    if ((tick.p->flags & _projectile_detonates_immediately_flag) ||
        (tick.d->flags & _projectile_continually_detonates_flag))
        tick.state = _update_projectile_detonate;
}

// Acts on the state the tick ended in, and returns it.
static int32_t finish_projectile_update(projectile_update &tick)
{
    switch (tick.state)
    {
    case _update_projectile_null: break;
    case _update_projectile_promote: promote_projectile(tick.index); break;
    case _update_projectile_sleep: sleep_projectile(tick.index); break;
    case _update_projectile_detonate:
    {
        bool remains;
        if (tick.d->flags & _projectile_only_destroyed_by_lifespan_flag)
            remains = tick.p->lifespan > 0 && tick.obstacle_index == NONE;
        else
            remains = (tick.d->flags & _projectile_remains_after_detonation_flag) != 0;
        if (tick.move_flags & _move_struck_object_softly_flag)
        {
            if (current_gameplay_version <= 1300)
                remains = true;
            else if (tick.d->use_accel == 0 &&
                     !(current_gameplay_version >= 1721 &&
                       (tick.d->flags & (_projectile_centered_on_target_flag | _projectile_is_guided_flag))))
                remains = true;
        }
        detonate_projectile(nullptr, 0, tick.index, tick.obstacle_index, remains);
        break;
    }
    default: log_message(__FILE__, __LINE__, "bad state #%d in update_projectiles()", (int)tick.state); break;
    }
    return tick.state;
}

static int32_t update_one_projectile(int32_t index)
{
    projectile_data *p = get_projectile_data(index);
    const int16_t identifier = p->identifier;
    if (p->delay)
    {
        if (--p->delay) return _update_projectile_null;
        make_visible_group(p, index);
        p = (projectile_data *)get_datum_by_identifier(&projectile_data_globals, index, identifier);
        if (!p) return _update_projectile_null;
    }
    object_data *object = get_object(p->object_index);
    if (!object)
    {
        free_projectile_slot(index);
        return _update_projectile_null;
    }
    if (p->type == NONE)
    {
        VASSERT(object->owner == _object_is_special_projectile, "object->owner==_object_is_special_projectile");
        animate_object(p->object_index);
        if (get_object(p->object_index)->flags & _object_animation_transfer_finished_flag)
        {
            make_owner_visible(p->owner_monster_index);
            delete_projectile_and_object(index);
        }
        return _update_projectile_null;
    }
    const projectile_definition *d = get_projectile_definition(p->type);
    if (!d)
    {
        delete_projectile_and_object(index);
        return _update_projectile_null;
    }
    projectile_update tick = {index, identifier, p, object, d, game_->game_time, false,
                              _update_projectile_null, NONE, 0, {0, 0, 0}, false, false};
    tick.got_time = ((index + tick.game_time) & PROJECTILE_GOT_TIME_MASK) == 0;

    steer_guided_projectile(tick);
    animate_projectile(tick);
    if (!leave_contrail(tick)) return _update_projectile_null;
    tick.p = (projectile_data *)get_datum_by_identifier(&projectile_data_globals, index, identifier);
    if (!tick.p) return _update_projectile_null; // freed meanwhile (skipped in every version)
    tick.object = get_object(tick.p->object_index);
    if (!tick.object) return _update_projectile_null;

    if (d->flags & _projectile_is_lightning_flag)
        move_lightning_projectile(tick);
    else if (!(tick.object->flags & _object_at_rest_flag) && !move_flying_projectile(tick))
        return _update_projectile_null;

    // A lightning projectile whose bolt is gone keeps the state it has: none
    // of the rules below apply to it this tick.
    if (!tick.bolt_gone) apply_fire_and_lifespan(tick);
    if (tick.rebound_sound && tick.state != _update_projectile_detonate)
        play_projectile_sound(d->sound_indexes[_projectile_sound_rebound], tick.p->object_index);
    return finish_projectile_update(tick);
}

void update_projectiles(void)
{
    // The high-water mark is re-read after each projectile: new ones made
    // this tick above the current slot move in this tick too.
    for (int32_t index = 0; index < get_projectile_slot_count(); ++index)
        if (get_projectile_data(index)) update_one_projectile(index);
}

// ---- hooks ----------------------------------------------------------------------------------------

static bool startup_projectiles(void) { return initialize_projectiles(); }

// The groups are emptied in their start-up place, after the object
// definitions the internal projectiles load with; the tag files are open.
static bool empty_projectile_stores(const new_game_data *)
{
    initialize_projectiles_for_new_map();
    initialize_internal_projectiles_for_new_map();
    preload_projectile_sequences();
    return true;
}

int16_t projectile_group_type_of_tag(tag group_tag)
{
    if (!projectile_group_definitions.registered || projectile_group_definitions.count == NONE || absent(group_tag))
        return NONE;
    return (int16_t)try_definition_tag_to_index(&projectile_group_definitions, group_tag, true,
                                                _definition_lookup_quiet_flag);
}

void new_projectile_group_for_unit(const internal_projectile_group_request *request)
{
    new_projectile_group_data group = {};
    group.type = request->type;
    group.owner_object_index = request->owner_object_index;
    group.bounds_object_index = request->bounds_object_index;
    group.owner_monster_index = request->owner_monster_index;
    group.epicenter = request->epicenter;
    new_projectile_group(&group);
}

// A model effect that ends with a projectile makes it at the effect's
// origin: at rest, at full damage, owned by nobody.  A tag that names no
// projectile makes nothing (logged).
static void new_model_effect_projectile(tag projectile_tag, const world_point3d *origin, int32_t)
{
    if (!projectile_definitions.registered || projectile_definitions.count == NONE || absent(projectile_tag)) return;
    const int32_t type =
        try_definition_tag_to_index(&projectile_definitions, projectile_tag, true, _definition_lookup_quiet_flag);
    if (type == NONE)
    {
        log_message(__FILE__, __LINE__, "model effect: '%s' names no projectile", tag_to_string(projectile_tag));
        return;
    }
    new_projectile_data request;
    memset(&request, 0, sizeof(request));
    request.type = (int16_t)type;
    request.location.position = *origin;
    request.damage_scale = SHORT_FIXED_ONE;
    request.owner_monster_index = request.owner_projectile_index = request.owner_object_index = NONE;
    request.target_monster_index = NONE;
    new_projectile(&request);
}

void register_projectile_hooks(void)
{
    register_startup_procedure(_startup_projectiles, startup_projectiles);
    register_map_store_procedures(_startup_projectiles, empty_projectile_stores, dispose_projectiles_from_old_map);
    register_tick_procedure(_tick_projectiles, update_projectiles);
    register_monster_died_procedure(orphan_monster_projectiles);
    register_model_effect_projectile_procedure(new_model_effect_projectile);
    static const marker_type_procedures procedures = {new_projectile_palette_entry, new_projectile_from_marker};
    register_marker_type_procedures(_marker_projectile, &procedures);
}
