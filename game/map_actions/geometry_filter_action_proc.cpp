// The geometry filter ('geom').  One trigger: gather the test list, filter
// units, run the tests in their fixed order, then write the result lists.

#include "geometry_filter_action_proc.h"

#include <cstring>

#include "action_proc_helpers.h"
#include "cseries/tags.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "markers.h"
#include "monster_definitions.h"
#include "monster_inventory.h"
#include "monster_lists.h"
#include "monster_queries.h"
#include "monsters.h"
#include "objects.h"
#include "projectiles.h"
#include "script_math.h"
#include "spatial_groups.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"
#include "vesk_random.h"

enum
{
    MAXIMUM_GEOMETRY_SUBJECTS = MAXIMUM_MONSTERS_PER_MAP,
    MAXIMUM_GEOMETRY_TAGS = 128, // values read of a list of subgroup tags
    // Draws bogo_select spends looking for an untaken candidate.
    MAXIMUM_BOGO_SELECT_DRAWS = 20,
};

// The module's record: the test list of the trigger in progress.
static struct geometry_filter_globals
{
    monster_or_object_identifier items[MAXIMUM_GEOMETRY_TEST_ITEMS];
    int32_t item_count;
} geometry_filter_globals;

// ---- small helpers ----------------------------------------------------------------------

static bool has_values(int32_t action_index, field_tag name, int16_t type)
{
    return get_map_action_parameter(nullptr, action_index, 0, name, type);
}

// The combined identifiers of `name` as indexes of used units, order kept.
static int32_t named_geometry_units(int32_t action_index, field_tag name, int16_t *indexes)
{
    int16_t identifiers[MAXIMUM_GEOMETRY_SUBJECTS];
    const int32_t count = get_combined_map_action_parameter(action_index, name, _parameter_monster_identifier,
                                                            identifiers, MAXIMUM_GEOMETRY_SUBJECTS);
    return monster_identifiers_to_monster_indexes(identifiers, indexes, count);
}

// A unit's team for the filter: none for ambient life.
static int32_t get_monster_team_index(const monster_data *monster)
{
    return (monster->extra_flags & _monster_is_ambient_life_extra_flag) ? (int32_t)NONE : monster->owner_team_index;
}

static bool is_ambient_life(const monster_data *monster)
{
    return (monster->extra_flags & _monster_is_ambient_life_extra_flag) != 0;
}

static bool placed_as_invisible_observer(const monster_data *monster)
{
    const marker_data *marker = get_monster_marker(monster);
    return marker && (marker->flags & _marker_is_invisible_observer_flag);
}

static tag monster_unit_tag(const monster_data *monster)
{
    const unit_definition *definition = get_unit_definition(monster->unit_type);
    return definition ? definition->monster_tag : (tag)NONE;
}

static bool tag_listed(tag value, const int32_t *tags, int32_t count)
{
    for (int32_t i = 0; i < count; i++)
        if (tags[i] == value) return true;
    return false;
}

// Whether the object is a dormant projectile of one of the listed subgroups.
static bool is_dormant_projectile_of(int32_t object_index, const int32_t *tags, int32_t count)
{
    const object_data *object = get_object(object_index);
    return object && object->owner == _object_is_dormant_projectile &&
           tag_listed(get_definition_subgroup(get_projectile_definition_group(), object->owner_index), tags, count);
}

static world_point3d unit_position3d(const monster_data *monster)
{
    const object_data *object = get_object(monster->object_index);
    return object ? object->location.position : world_point3d{0, 0, 0};
}

// Appends an item unless its identifier is listed already or the list is full.
static void add_to_test_list(int16_t identifier, world_point3d location)
{
    auto &g = geometry_filter_globals;
    if (g.item_count >= MAXIMUM_GEOMETRY_TEST_ITEMS) return;
    for (int32_t i = 0; i < g.item_count; i++)
        if (g.items[i].identifier == identifier) return;
    g.items[g.item_count++] = {identifier, location, false};
}

// |dx| < R, |dy| < R and dx^2 + dy^2 < R^2, the squares in 64 bits.
static bool point_in_circle(const world_point3d *point, const world_point2d *centre, int32_t radius)
{
    const int64_t dx = (int64_t)point->x - centre->x, dy = (int64_t)point->y - centre->y;
    const int64_t r = radius;
    if (dx >= r || -dx >= r || dy >= r || -dy >= r) return false;
    return dx * dx + dy * dy < r * r;
}

// ---- gathering units ------------------------------------------------------------------------

// Replaces the subjects by every unit that matches the first one by owner,
// team or unit type; false (traced) when there is no subject.
static bool find_all_monsters(int32_t action_index, int16_t *subjects, int32_t *subject_count)
{
    const bool by_owner = has_flag(action_index, field('m', 'o', 'w', 'n'));
    const bool by_team = has_flag(action_index, field('m', 't', 'e', 'a'));
    const bool by_type = has_flag(action_index, field('m', 't', 'y', 'p'));
    if (!by_owner && !by_team && !by_type) return true;
    if (*subject_count == 0)
    {
        if (by_owner) map_action_debug(action_index, "no monsters in subj list - find all using monster owner failed");
        if (by_team) map_action_debug(action_index, "no monsters in subj list - find all using monster team failed");
        if (by_type) map_action_debug(action_index, "no monsters in subj list - find all using monster type failed");
        return false;
    }
    const monster_data reference = *get_monster_data(subjects[0]);
    const tag reference_tag = monster_unit_tag(&reference);
    datum_globals *array = get_monster_array();
    int32_t count = 0;
    for (int32_t index = 0; index < array->count && count < MAXIMUM_GEOMETRY_SUBJECTS; index++)
    {
        const monster_data *monster = get_monster_data(index);
        if (!monster || placed_as_invisible_observer(monster)) continue;
        const bool owner_match = monster->owner_player_index == reference.owner_player_index &&
                                 is_ambient_life(monster) == is_ambient_life(&reference);
        const bool team_match = get_monster_team_index(monster) == get_monster_team_index(&reference);
        const bool type_match = monster_unit_tag(monster) == reference_tag;
        bool taken;
        if (by_type && !by_owner && !by_team)
            taken = type_match;
        else if (by_type && current_gameplay_version <= 1720)
            taken = type_match;
        else
        {
            taken = (by_owner && owner_match) || (by_team && team_match);
            if (by_type) taken = taken && type_match;
        }
        if (taken) subjects[count++] = (int16_t)index;
    }
    *subject_count = count;
    return true;
}

static int32_t keep_monsters_on_team(int32_t action_index, int16_t *subjects, int32_t count, int32_t team)
{
    int32_t kept = 0;
    for (int32_t i = 0; i < count; i++)
    {
        const monster_data *monster = get_monster_data(subjects[i]);
        const int32_t monster_team =
            current_gameplay_version >= 1696 ? get_monster_team_index(monster) : monster->owner_team_index;
        if (monster_team != team) continue;
        if (current_gameplay_version >= 1601)
        {
            const marker_data *marker = get_marker_by_identifier(_marker_monster, monster->identifier);
            if (marker && (marker->flags & _marker_is_invisible_observer_flag)) continue;
            if (current_gameplay_version < 1696 && is_ambient_life(monster)) continue;
        }
        subjects[kept++] = subjects[i];
    }
    map_action_debug(action_index, "%d monsters not on team %d removed from subject list", count - kept, team);
    return kept;
}

// The unit filters' settings, read once per trigger.
struct monster_filters
{
    int32_t carried_tags[MAXIMUM_GEOMETRY_TAGS], carried_tag_count;
    bool test_carried, invert_carried;
    int32_t inventory_tags[MAXIMUM_GEOMETRY_TAGS], inventory_tag_count;
    bool test_inventory, invert_inventory;
    bool has_health_above, has_health_below;
    int32_t health_above, health_below;
    bool taunting, subtract, attacking, moving, running, standing;
    bool has_power_above, has_power_below, has_ammo_above, has_ammo_below;
    bool has_experience_above, has_experience_below, has_charges_above, has_charges_below;
    int32_t power_above, power_below, ammo_above, ammo_below;
    int32_t experience_above, experience_below, charges_above, charges_below;
};

// A tag list named by `name`, or by `other` when `name` is absent.
static int32_t read_tag_list(int32_t action_index, field_tag name, field_tag other, int32_t *tags, bool *given,
                             bool *other_given)
{
    const bool has_name = get_map_action_parameter(nullptr, action_index, _return_empty_arrays_flag, name,
                                                   _parameter_field_name);
    *other_given = get_map_action_parameter(nullptr, action_index, _return_empty_arrays_flag, other,
                                            _parameter_field_name);
    *given = has_name || *other_given;
    return get_combined_map_action_parameter(action_index, has_name ? name : other, _parameter_field_name, tags,
                                             MAXIMUM_GEOMETRY_TAGS);
}

static void read_monster_filters(int32_t action_index, monster_filters *f)
{
    memset(f, 0, sizeof(*f));
    f->carried_tag_count = read_tag_list(action_index, field('h', 'o', 'l', 'd'), field('n', 'o', 'h', 'o'),
                                         f->carried_tags, &f->test_carried, &f->invert_carried);
    f->inventory_tag_count = read_tag_list(action_index, field('h', 'o', 'l', 'i'), field('n', 'h', 'o', 'i'),
                                           f->inventory_tags, &f->test_inventory, &f->invert_inventory);
    f->has_health_above = first_long(action_index, field('h', 'e', 'f', '>'), _parameter_fixed, &f->health_above);
    f->has_health_below = first_long(action_index, field('h', 'e', 'f', '<'), _parameter_fixed, &f->health_below);
    f->taunting = has_flag(action_index, field('t', 'a', 'u', 'n'));
    f->subtract = has_flag(action_index, field('s', 'u', 'b', 't'));
    f->attacking = has_flag(action_index, field('a', 't', 't', 'a'));
    f->moving = has_flag(action_index, field('m', 'o', 'v', 'e'));
    f->running = has_flag(action_index, field('_', 'r', 'u', 'n'));
    f->standing = has_flag(action_index, field('s', 't', 'a', 'n'));
    f->has_power_above = first_long(action_index, field('p', 'o', 'w', '>'), _parameter_integer, &f->power_above);
    f->has_power_below = first_long(action_index, field('p', 'o', 'w', '<'), _parameter_integer, &f->power_below);
    f->has_ammo_above = first_long(action_index, field('a', 'm', 'm', '>'), _parameter_integer, &f->ammo_above);
    f->has_ammo_below = first_long(action_index, field('a', 'm', 'm', '<'), _parameter_integer, &f->ammo_below);
    if (current_gameplay_version >= 1511)
    {
        f->has_experience_above =
            first_long(action_index, field('e', 'x', 'p', '>'), _parameter_integer, &f->experience_above);
        f->has_experience_below =
            first_long(action_index, field('e', 'x', 'p', '<'), _parameter_integer, &f->experience_below);
        f->has_charges_above =
            first_long(action_index, field('c', 'h', 'r', '>'), _parameter_integer, &f->charges_above);
        f->has_charges_below =
            first_long(action_index, field('c', 'h', 'r', '<'), _parameter_integer, &f->charges_below);
    }
}

static bool monster_passes_filters(const monster_filters *f, int32_t monster_index, const int16_t *subtracted,
                                   int32_t subtracted_count)
{
    const monster_data *monster = get_monster_data(monster_index);
    const monster_definition *definition = get_monster_definition(monster->type);
    if (f->test_carried)
    {
        bool held = monster->carrying_object_index != NONE &&
                    is_dormant_projectile_of(monster->carrying_object_index, f->carried_tags, f->carried_tag_count);
        if (f->invert_carried) held = !held;
        if (!held) return false;
    }
    if (f->test_inventory)
    {
        bool held = false;
        if (definition && (definition->flags & _monster_carries_multiple_artifacts_flag) &&
            monster->held_object_count > 0 && f->inventory_tag_count > 0)
        {
            int32_t count = monster->held_object_count;
            if (count > MAXIMUM_HELD_OBJECTS_PER_MONSTER) count = MAXIMUM_HELD_OBJECTS_PER_MONSTER;
            for (int32_t h = 0; h < count && !held; h++)
                held = is_dormant_projectile_of(monster->held_object_indexes[h], f->inventory_tags,
                                                f->inventory_tag_count);
        }
        else
        {
            held = monster->carrying_object_index != NONE &&
                   is_dormant_projectile_of(monster->carrying_object_index, f->inventory_tags, f->inventory_tag_count);
        }
        if (f->invert_inventory) held = !held;
        if (!held) return false;
    }
    if (f->has_health_above || f->has_health_below)
    {
        const object_data *object = get_object(monster->object_index);
        const int32_t health = object && object->maximum_vitality != 0
                                   ? div32_guarded((int32_t)((uint32_t)(int32_t)object->vitality << 16),
                                                   object->maximum_vitality)
                                   : 0;
        if (f->has_health_below && health >= f->health_below) return false;
        if (f->has_health_above && health <= f->health_above) return false;
    }
    const int32_t action = monster->action;
    if (f->taunting && action != _monster_action_taunting) return false;
    if (f->subtract)
        for (int32_t i = 0; i < subtracted_count; i++)
            if (subtracted[i] == monster_index) return false;
    if (f->attacking && action != _monster_action_aiming_attack && action != _monster_action_attacking &&
        action != _monster_action_blocking)
        return false;
    if (f->moving && action != _monster_action_moving && action != _monster_action_turning) return false;
    if (f->running && monster->action_permutation != _monster_action_permutation_running) return false;
    if (f->standing && action != _monster_action_idle) return false;
    const int32_t power = monster_type_combined_power(monster->type);
    if (f->has_power_above && !(power > f->power_above)) return false;
    if (f->has_power_below && !(power < f->power_below)) return false;
    if (f->has_ammo_above && !(monster->ammunition_count > f->ammo_above)) return false;
    if (f->has_ammo_below && !(monster->ammunition_count < f->ammo_below)) return false;
    if (f->has_experience_above && !(monster->experience > f->experience_above)) return false;
    if (f->has_experience_below && !(monster->experience < f->experience_below)) return false;
    if (f->has_charges_above || f->has_charges_below)
    {
        const int32_t charges = get_monster_artifact_charges(monster_index);
        if (f->has_charges_above && !(charges > f->charges_above)) return false;
        if (f->has_charges_below && !(charges < f->charges_below)) return false;
    }
    return true;
}

// Steps 2-5: subjects, find-all, team, filters.  False when find-all failed.
static bool gather_monsters(int32_t action_index)
{
    int16_t subjects[MAXIMUM_GEOMETRY_SUBJECTS];
    int16_t subtracted[MAXIMUM_GEOMETRY_SUBJECTS];
    int32_t count = named_geometry_units(action_index, _common_field_name_subject, subjects);
    count = remove_monsters_that_have_left_the_mesh(subjects, count);
    int32_t subtracted_count = named_geometry_units(action_index, _common_field_name_object, subtracted);
    subtracted_count = remove_monsters_that_have_left_the_mesh(subtracted, subtracted_count);

    if (current_gameplay_version > 1600 && !find_all_monsters(action_index, subjects, &count)) return false;

    int32_t team;
    if (current_gameplay_version > 1510 && first_long(action_index, field('m', 'o', 'n', 't'), _parameter_integer, &team))
        count = keep_monsters_on_team(action_index, subjects, count, team);

    monster_filters filters;
    read_monster_filters(action_index, &filters);
    for (int32_t i = 0; i < count; i++)
    {
        if (!monster_passes_filters(&filters, subjects[i], subtracted, subtracted_count)) continue;
        const monster_data *monster = get_monster_data(subjects[i]);
        add_to_test_list(monster->identifier, unit_position3d(monster));
    }
    map_action_debug(action_index, "found %d monsters", geometry_filter_globals.item_count);
    return true;
}

static void gather_markers(int32_t action_index)
{
    int16_t identifiers[MAXIMUM_GEOMETRY_SUBJECTS];
    const int32_t count = get_combined_map_action_parameter(action_index, _common_field_name_subject,
                                                            _parameter_monster_identifier, identifiers,
                                                            MAXIMUM_GEOMETRY_SUBJECTS);
    const bool only_uncreated = has_flag(action_index, field('u', 'n', 'c', 'r'));
    for (int32_t i = 0; i < count; i++)
    {
        const marker_data *marker = get_marker_by_identifier(_marker_monster, identifiers[i]);
        if (!marker) continue;
        if (only_uncreated &&
            (marker->data_index != NONE || marker->minimum_difficulty_level > game_->difficulty_level))
            continue;
        add_to_test_list(identifiers[i], marker->location.position);
    }
    map_action_debug(action_index, "found %d monsters", geometry_filter_globals.item_count);
}

// The projectile definition of a visible projectile or dormant projectile object, else NONE.
static int32_t visible_object_projectile_type(const object_data *object)
{
    if (object->flags & _object_is_invisible_flag) return NONE;
    return object_projectile_type(object);
}

static void gather_objects_by_type(int32_t action_index)
{
    int32_t tags[MAXIMUM_GEOMETRY_TAGS];
    const int32_t tag_count = get_combined_map_action_parameter(action_index, field('t', 'y', 'p', 'e'),
                                                                _parameter_field_name, tags, MAXIMUM_GEOMETRY_TAGS);
    const int32_t object_count = get_object_count();
    for (int32_t index = 0; index < object_count && geometry_filter_globals.item_count < MAXIMUM_GEOMETRY_TEST_ITEMS;
         index++)
    {
        const object_data *object = get_object(index);
        if (!object) continue;
        const int32_t type = visible_object_projectile_type(object);
        if (type == NONE) continue;
        if (tag_listed(get_definition_subgroup(get_projectile_definition_group(), type), tags, tag_count))
            add_to_test_list(object->identifier, object->location.position);
    }
    map_action_debug(action_index, "found %d objects of type %s", geometry_filter_globals.item_count,
                     tag_count > 0 ? tag_to_string(tags[0]) : "");
}

static void gather_objects_by_identifier(int32_t action_index)
{
    int16_t identifiers[MAXIMUM_GEOMETRY_TEST_ITEMS];
    const int32_t count = get_combined_map_action_parameter(action_index, _common_field_name_object,
                                                            _parameter_object_identifier, identifiers,
                                                            MAXIMUM_GEOMETRY_TEST_ITEMS);
    const int32_t object_count = get_object_count();
    for (int32_t i = 0; i < count && geometry_filter_globals.item_count < MAXIMUM_GEOMETRY_TEST_ITEMS; i++)
    {
        for (int32_t index = 0; index < object_count; index++)
        {
            const object_data *object = get_object(index);
            if (object && object->identifier == identifiers[i] && !(object->flags & _object_is_invisible_flag))
                add_to_test_list(object->identifier, object->location.position);
        }
    }
    map_action_debug(action_index, "found %d object identifiers", geometry_filter_globals.item_count);
}

// ---- the list-building tests ---------------------------------------------------------------

enum list_building_test
{
    _berserk_test,
    _team_test,
    _monster_type_test,
};

static bool monster_found_by(int32_t test, const monster_data *monster, int32_t team, tag type)
{
    switch (test)
    {
    case _berserk_test:
        return (monster->extra_flags & _monster_is_berserk_extra_flag) != 0;
    case _team_test:
        if (placed_as_invisible_observer(monster)) return false;
        if (current_gameplay_version >= 1696) return get_monster_team_index(monster) == team;
        return monster->owner_team_index == team && !is_ambient_life(monster);
    default:
        return !is_ambient_life(monster) && !placed_as_invisible_observer(monster) && monster_unit_tag(monster) == type;
    }
}

// Writes every unit the test finds from the start of the list, inside, and
// makes the list's length the running inside count (never above the list's
// room: up to 1600 the count carries the earlier tests' and could pass it).
static void write_found_monsters(int32_t test, int32_t team, tag type, int32_t *inside_count)
{
    auto &g = geometry_filter_globals;
    datum_globals *array = get_monster_array();
    int32_t written = 0;
    for (int32_t index = 0; index < array->count; index++)
    {
        const monster_data *monster = get_monster_data(index);
        if (!monster || !monster_found_by(test, monster, team, type)) continue;
        (*inside_count)++;
        if (written < MAXIMUM_GEOMETRY_TEST_ITEMS)
            g.items[written++] = {monster->identifier, unit_position3d(monster), true};
    }
    g.item_count = *inside_count < MAXIMUM_GEOMETRY_TEST_ITEMS ? *inside_count : MAXIMUM_GEOMETRY_TEST_ITEMS;
}

// ---- results -------------------------------------------------------------------------------

int32_t random_select(const int16_t *candidates, int32_t candidate_count, int32_t maximum, int16_t *chosen)
{
    int16_t pool[MAXIMUM_GEOMETRY_TEST_ITEMS];
    if (candidate_count > MAXIMUM_GEOMETRY_TEST_ITEMS) candidate_count = MAXIMUM_GEOMETRY_TEST_ITEMS;
    memcpy(pool, candidates, sizeof(int16_t) * (size_t)(candidate_count > 0 ? candidate_count : 0));
    const int32_t n = maximum < candidate_count ? maximum : candidate_count;
    int32_t remaining = candidate_count;
    for (int32_t i = 0; i < n; i++, remaining--)
    {
        const int32_t j = i + (int32_t)(((uint32_t)vesk_random() * (uint32_t)remaining) >> 16);
        const int16_t swap = pool[i];
        pool[i] = pool[j];
        pool[j] = swap;
    }
    for (int32_t i = 0; i < n; i++) chosen[i] = pool[i];
    return n > 0 ? n : 0;
}

int32_t bogo_select(const int16_t *candidates, int32_t candidate_count, int32_t maximum, int16_t *chosen)
{
    bool taken[MAXIMUM_GEOMETRY_TEST_ITEMS] = {};
    if (candidate_count > MAXIMUM_GEOMETRY_TEST_ITEMS) candidate_count = MAXIMUM_GEOMETRY_TEST_ITEMS;
    int32_t count = 0;
    while (count < maximum)
    {
        int32_t pick = NONE;
        // The draw spans candidate_count - 1 positions: the last is never drawn.
        if (candidate_count >= 2)
        {
            for (int32_t draw = 0; draw < MAXIMUM_BOGO_SELECT_DRAWS && pick == NONE; draw++)
            {
                const int32_t k = (int32_t)(((uint32_t)vesk_random() * (uint32_t)(candidate_count - 1)) >> 16);
                if (!taken[k]) pick = k;
            }
        }
        for (int32_t k = 0; pick == NONE && k < candidate_count; k++)
            if (!taken[k]) pick = k;
        if (pick == NONE) break;
        taken[pick] = true;
        chosen[count++] = candidates[pick];
    }
    return count;
}

// Replaces the target's lists of that name and type by the items of the
// wanted inside state (or a random choice among the inside items); the
// number written.
static int32_t add_monster_or_object_data_to_parameter(int32_t target_action_index, field_tag list_name,
                                                       int16_t type, int32_t maximum, bool wanted_inside,
                                                       bool random)
{
    const auto &g = geometry_filter_globals;
    map_action_parameter parameter;
    while (get_map_action_parameter(&parameter, target_action_index, _dont_resolve_links_flag | _return_empty_arrays_flag,
                                    list_name, type))
        delete_map_action_parameter(&parameter);
    if (!new_map_action_parameter(&parameter, target_action_index, list_name, type)) return 0;

    int16_t picked[MAXIMUM_GEOMETRY_TEST_ITEMS];
    int32_t picked_count = 0;
    if (!random)
    {
        for (int32_t i = 0; i < g.item_count && picked_count < maximum; i++)
            if ((g.items[i].inside != 0) == wanted_inside) picked[picked_count++] = (int16_t)i;
    }
    else
    {
        // Both lists choose among the inside items.
        int16_t candidates[MAXIMUM_GEOMETRY_TEST_ITEMS];
        int32_t candidate_count = 0;
        for (int32_t i = 0; i < g.item_count; i++)
            if (g.items[i].inside) candidates[candidate_count++] = (int16_t)i;
        picked_count = current_gameplay_version >= 1721 ? random_select(candidates, candidate_count, maximum, picked)
                                                        : bogo_select(candidates, candidate_count, maximum, picked);
    }
    if (picked_count == 0) return 0;

    if (type == _parameter_world_point2d)
    {
        world_point2d points[MAXIMUM_GEOMETRY_TEST_ITEMS];
        for (int32_t i = 0; i < picked_count; i++)
            points[i] = {g.items[picked[i]].location.x, g.items[picked[i]].location.y};
        if (!set_map_action_parameter(&parameter, picked_count, points)) return 0;
    }
    else
    {
        int16_t identifiers[MAXIMUM_GEOMETRY_TEST_ITEMS];
        for (int32_t i = 0; i < picked_count; i++) identifiers[i] = g.items[picked[i]].identifier;
        if (!set_map_action_parameter(&parameter, picked_count, identifiers)) return 0;
    }
    return picked_count;
}

struct result_list
{
    field_tag name;
    bool inside;
    bool locations;
    const char *added_format;
    const char *ignored_format;
};

static const result_list result_lists[] = {
    {field('i', 'n', 's', 'i'), true, false, "%d %s inside geometry (added to %s)", "%d %s inside geometry ignored"},
    {field('o', 'u', 't', 's'), false, false, "%d %s oustide geometry (added to %s)", "%d %s outside geometry ignored"},
    {field('i', 'n', 'l', 'o'), true, true, "%d %s points inside geometry (added to %s)",
     "%d %s points inside geometry ignored"},
    {field('o', 'u', 'l', 'o'), false, true, "%d %s points outside geometry (added to %s)",
     "%d %s points outside geometry ignored"},
};

// One pass: each list whose k-th name is given is written into the target.
static bool add_to_parameters(int32_t action_index, int32_t target_action_index, int32_t list_index, bool units,
                              bool random)
{
    const auto &g = geometry_filter_globals;
    int32_t maximum;
    if (!first_long(action_index, field('_', 'm', 'a', 'x'), _parameter_integer, &maximum)) maximum = g.item_count;
    const char *kind = units ? "monsters" : "objects";
    bool added = false;
    for (const result_list &list : result_lists)
    {
        int32_t name;
        if (get_indexed_long_integer_parameter(action_index, list.name, _parameter_field_name, &name, list_index))
        {
            const int16_t type = list.locations ? _parameter_world_point2d
                                 : units        ? _parameter_monster_identifier
                                                : _parameter_object_identifier;
            const int32_t written =
                add_monster_or_object_data_to_parameter(target_action_index, name, type, maximum, list.inside, random);
            map_action_debug(action_index, list.added_format, written, kind, tag_to_string(name));
            if (written > 0) added = true;
        }
        else
        {
            int32_t matching = 0;
            for (int32_t i = 0; i < g.item_count; i++)
                if ((g.items[i].inside != 0) == list.inside) matching++;
            map_action_debug(action_index, list.ignored_format, matching, kind);
        }
    }
    return added;
}

static uint32_t add_results_13(int32_t action_index, bool units)
{
    int16_t identifier;
    int32_t target = action_index;
    if (get_indexed_short_integer_parameter(action_index, field('r', 'e', 's', 'u'), _parameter_action_identifier,
                                            &identifier, 0))
        target = action_identifier_to_action_index(identifier);
    if (target == NONE)
    {
        map_action_error(action_index, "action to add results to is NONE!");
        return 0;
    }
    return add_to_parameters(action_index, target, 0, units, false) ? _map_action_proc_succeeded_flag : 0;
}

static uint32_t add_results(int32_t action_index, bool units)
{
    const bool random = has_flag(action_index, field('r', 'a', 'n', 'd'));
    map_action_parameter results;
    if (!get_map_action_parameter(&results, action_index, _return_empty_arrays_flag, field('r', 'e', 's', 'u'),
                                  _parameter_action_identifier))
        return add_to_parameters(action_index, action_index, 0, units, random) ? _map_action_proc_succeeded_flag : 0;
    if (results.count < 1)
    {
        map_action_error(action_index, "action to add results to is NONE!");
        return 0;
    }
    int32_t passes = results.count;
    for (const result_list &list : result_lists)
    {
        map_action_parameter names;
        if (get_map_action_parameter(&names, action_index, 0, list.name, _parameter_field_name) && names.count < passes)
            passes = names.count;
    }
    bool added = false;
    for (int32_t k = 0; k < passes; k++)
    {
        int16_t identifier;
        if (!get_indexed_short_integer_parameter(action_index, field('r', 'e', 's', 'u'), _parameter_action_identifier,
                                                 &identifier, k))
            continue;
        const int32_t target = action_identifier_to_action_index(identifier);
        if (target == NONE) continue;
        if (add_to_parameters(action_index, target, k, units, random)) added = true;
    }
    return added ? _map_action_proc_succeeded_flag : 0;
}

// ---- the procedure -------------------------------------------------------------------------

uint32_t geometry_filter_action_proc(int32_t action_index)
{
    auto &g = geometry_filter_globals;
    g.item_count = 0;

    // One kind of input.
    const bool units = has_values(action_index, _common_field_name_subject, _parameter_monster_identifier);
    const bool objects_by_type = has_values(action_index, field('t', 'y', 'p', 'e'), _parameter_field_name);
    const bool objects_by_identifier =
        has_values(action_index, _common_field_name_object, _parameter_object_identifier);
    if ((int32_t)units + (int32_t)objects_by_type + (int32_t)objects_by_identifier > 1)
    {
        map_action_debug(action_index,
                         "geometry_filter action procs cannot contain both monsters, objects, and object identifiers!");
        return 0;
    }

    // 2-8. The test list.
    const bool markers = has_flag(action_index, field('m', 'a', 'r', 'k'));
    if (units && !markers)
    {
        if (!gather_monsters(action_index)) return 0;
    }
    else if (units)
        gather_markers(action_index);
    else if (objects_by_type)
        gather_objects_by_type(action_index);
    else if (objects_by_identifier)
        gather_objects_by_identifier(action_index);
    const bool items_are_units = !objects_by_type && !objects_by_identifier;
    const char *kind = items_are_units ? "monsters" : "objects";

    // With nothing gathered, the test is by monster type alone.
    int32_t team = NONE, type = NONE;
    const bool berserk = has_flag(action_index, field('b', 'm', 'o', 'n'));
    const bool by_team = first_long(action_index, field('t', 'e', 'a', 'm'), _parameter_integer, &team);
    const bool by_type = first_long(action_index, field('m', 'o', 'n', 's'), _parameter_field_name, &type);
    if (g.item_count == 0 && !berserk && !by_team && !by_type)
    {
        map_action_debug(action_index, "nothing to test against!");
        return 0;
    }

    // The tests, in order.
    bool tested = false;
    int32_t inside_count = 0;
    map_action_parameter polygon;
    if (get_map_action_parameter(&polygon, action_index, 0, field('p', 'o', 'l', 'y'), _parameter_world_point2d))
    {
        const bool closed = has_flag(action_index, field('c', 'l', 'p', 'o'));
        map_action_debug(action_index, "testing %s against a %s polygon with %d points", kind,
                         closed ? "closed" : "open", polygon.count);
        const world_point2d *points = (const world_point2d *)extract_parameter_array_address(&polygon);
        for (int32_t i = 0; points && i < g.item_count; i++)
        {
            const world_point2d at = {g.items[i].location.x, g.items[i].location.y};
            g.items[i].inside = point_in_polygon_test(&at, points, polygon.count, closed);
            if (g.items[i].inside) inside_count++;
        }
        tested = true;
    }

    world_point2d centre;
    bool has_centre = get_indexed_world_point2d_parameter(action_index, field('c', 'e', 'n', 't'), &centre, 0);
    if (!has_centre)
    {
        int16_t centre_monsters[MAXIMUM_GEOMETRY_SUBJECTS];
        if (named_geometry_units(action_index, field('c', 'e', 'm', 'o'), centre_monsters) > 0)
        {
            const world_point3d at = unit_position3d(get_monster_data(centre_monsters[0]));
            centre = {at.x, at.y};
            has_centre = true;
        }
    }
    if (has_centre)
    {
        int32_t radius;
        if (!first_long(action_index, field('r', 'a', 'd', 'i'), _parameter_world_distance, &radius))
            map_action_debug(action_index, "found a centerpoint but no radius!");
        else
        {
            map_action_debug(action_index, "testing %s against a circle at (%d, %d) w/radius %d", kind, centre.x,
                             centre.y, radius);
            for (int32_t i = 0; i < g.item_count; i++)
            {
                g.items[i].inside = point_in_circle(&g.items[i].location, &centre, radius);
                if (g.items[i].inside) inside_count++;
            }
            tested = true;
        }
    }

    if (has_flag(action_index, field('_', 'm', 'a', 'p')))
    {
        map_action_debug(action_index, "testing %s against entire map", kind);
        for (int32_t i = 0; i < g.item_count; i++) g.items[i].inside = true;
        inside_count += g.item_count;
        tested = true;
    }

    const bool restart = current_gameplay_version >= 1601;
    if (berserk)
    {
        map_action_debug(action_index, "testing all monsters to see if they are berserk");
        if (restart) inside_count = 0;
        write_found_monsters(_berserk_test, NONE, NONE, &inside_count);
        tested = true;
    }
    if (by_team)
    {
        map_action_debug(action_index, "testing %s against team index %d", kind, team);
        if (restart) inside_count = 0;
        write_found_monsters(_team_test, team, NONE, &inside_count);
        tested = true;
    }
    if (restart) inside_count = 0;
    if (by_type)
    {
        map_action_debug(action_index, "testing %s against monster type %s", kind, tag_to_string(type));
        write_found_monsters(_monster_type_test, NONE, type, &inside_count);
        tested = true;
    }

    int32_t count;
    if (first_long(action_index, field('c', 'o', 'u', 'n'), _parameter_integer, &count))
    {
        for (int32_t i = 0; i < g.item_count; i++) g.items[i].inside = i < count;
        tested = true;
    }

    // Too few items (or no test at all) fails the action.
    int32_t minimum;
    if (first_long(action_index, field('_', 'm', 'i', 'n'), _parameter_integer, &minimum) ? g.item_count < minimum
                                                                                            : !tested)
    {
        map_action_debug(action_index, "didn't perform any tests (no circles or geometries)!");
        return 0;
    }

    // The results go to the action's lists (as before 1301, or as now).
    return current_gameplay_version < 1301 ? add_results_13(action_index, items_are_units)
                                           : add_results(action_index, items_are_units);
}
