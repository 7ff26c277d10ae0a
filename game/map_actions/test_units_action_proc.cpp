// The unit test ('tuni').  The steps run in a fixed order; every test that
// fails clears `success` and the remaining steps still run (their draws too).

#include "test_units_action_proc.h"

#include <cstring>

#include "action_proc_helpers.h"
#include "cseries/tags.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "mesh.h"
#include "monster_commands.h"
#include "monster_definitions.h"
#include "monster_lists.h"
#include "monster_queries.h"
#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"
#include "projectiles.h"
#include "script_math.h"
#include "spatial_groups.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "vesk_random.h"

enum
{
    MAXIMUM_TESTED_MONSTERS = MAXIMUM_MONSTERS_PER_MAP,
    NUMBER_OF_TERRAIN_TYPES = 16,
    // A unit's last waypoint counts as near the 'fwan' point within three cells.
    FINAL_WAYPOINT_NEAR_DISTANCE = 1536,
};

static const field_tag _test_unit_field_name_globals = _common_internal_field_name_globals;

static world_point2d monster_location(const object_data *object)
{
    return {object->location.position.x, object->location.position.y};
}

static bool monster_is_invisible(int32_t monster_index)
{
    return (get_monster_data(monster_index)->extra_flags & _monster_is_invisible_extra_flag) != 0;
}

// The terrain test: false when a unit stands on a terrain type that no 'terr'
// value allows.  Without an allowed type (or without units) it passes.
static bool units_are_on_allowed_terrain(int32_t action_index, const int16_t *monsters, int32_t count)
{
    bool allowed[NUMBER_OF_TERRAIN_TYPES] = {};
    bool any = false;
    int32_t value;
    for (int32_t index = 0; get_indexed_long_integer_parameter(action_index, field('t', 'e', 'r', 'r'),
                                                               _parameter_integer, &value, index);
         index++)
    {
        // A negative value names no terrain type (it would index before the table).
        if (value >= 0 && value < NUMBER_OF_TERRAIN_TYPES) allowed[value] = any = true;
    }
    if (!any) return true;
    for (int32_t i = 0; i < count; i++)
    {
        const object_data *object = monster_object(monsters[i]);
        if (!object) continue;
        const world_point2d at = monster_location(object);
        const int32_t terrain = get_mesh_terrain_type(&at);
        if (terrain < 0 || terrain >= NUMBER_OF_TERRAIN_TYPES || !allowed[terrain]) return false;
    }
    return true;
}

// Whether the object is a dormant projectile whose definition has the subgroup.
static bool is_dormant_projectile_of_subgroup(int32_t object_index, int32_t subgroup)
{
    const object_data *object = get_object(object_index);
    return object && object->owner == _object_is_dormant_projectile &&
           (int32_t)get_definition_subgroup(get_projectile_definition_group(), object->owner_index) == subgroup;
}

// The health fraction of a unit's object (16.16) against its body's
// definition; 0 without a definition or with a maximum of 0.
static int32_t monster_health_fraction(const monster_data *monster)
{
    const monster_definition *definition = get_monster_definition(monster->type);
    const object_data *object = get_object(monster->object_index);
    if (!definition || !object) return 0;
    const object_definition *body = get_object_definition(definition->object_type);
    if (!body || body->maximum_vitality == 0) return 0;
    return div32_guarded((int32_t)((uint32_t)(int32_t)object->vitality << 16), body->maximum_vitality);
}

// Whether an enemy comes within the 'clos' radii of any unit (the draws of
// docs/determinism.md).
static bool enemy_is_close(int32_t action_index, const int16_t *monsters, int32_t count, int32_t minimum,
                           int32_t maximum, bool ignore_invisible)
{
    int16_t enemy_identifiers[MAXIMUM_TESTED_MONSTERS];
    int16_t enemies[MAXIMUM_TESTED_MONSTERS];
    const int32_t identifier_count = get_combined_map_action_parameter(
        action_index, field('e', 'n', 'e', 'm'), _parameter_monster_identifier, enemy_identifiers,
        MAXIMUM_TESTED_MONSTERS);
    const bool use_enemy_list = identifier_count > 0;
    const int32_t enemy_count =
        use_enemy_list ? monster_identifiers_to_monster_indexes(enemy_identifiers, enemies, identifier_count) : 0;
    const int32_t slot_count = get_monster_array()->count;

    for (int32_t i = 0; i < count; i++)
    {
        const monster_data *tested = get_monster_data(monsters[i]);
        const object_data *tested_object = monster_object(monsters[i]);
        if (!tested || !tested_object) continue;
        const world_point2d at = monster_location(tested_object);
        const int32_t candidate_count = use_enemy_list ? enemy_count : slot_count;
        for (int32_t c = 0; c < candidate_count; c++)
        {
            const int32_t candidate_index = use_enemy_list ? enemies[c] : c;
            const monster_data *candidate = get_monster_data(candidate_index);
            if (!candidate) continue;
            if (ignore_invisible && (candidate->extra_flags & _monster_is_invisible_extra_flag)) continue;
            if (!use_enemy_list && ((candidate->flags & _monster_has_left_the_mesh_flag) ||
                                    candidate->owner_team_index == tested->owner_team_index))
                continue;
            const object_data *candidate_object = get_object(candidate->object_index);
            if (!candidate_object) continue;
            const world_point2d there = monster_location(candidate_object);
            const int32_t d = distance2d(&at, &there);
            if (d >= maximum) continue;
            bool close = d <= minimum;
            if (!close)
            {
                // minimum < d < maximum here, so the divisor is positive.
                const int32_t numerator = (int32_t)to_i16(maximum - d) * 256;
                const int16_t chance = (int16_t)(uint16_t)(uint64_t)((int64_t)numerator /
                                                                     ((int64_t)maximum - (int64_t)minimum));
                close = ((vesk_random() >> 8) & 0xFF) < chance;
            }
            if (!close) continue;
            if (!use_enemy_list)
            {
                const monster_definition *definition = get_monster_definition(candidate->type);
                if (definition && definition->monster_class == _monster_class_ambient_life) continue;
            }
            return true;
        }
    }
    return false;
}

// What the steps of one test share: the working list of units, narrowed as
// the steps go, and the result so far.
struct unit_test_run
{
    int32_t action_index;
    map_action *action;
    bool reversed;
    bool ignore_invisible;
    test_unit_globals globals;
    int16_t monsters[MAXIMUM_TESTED_MONSTERS];
    int32_t count;
    bool success;
};

// The units of 'team' when it is given, else the subject list.
static void gather_tested_units(unit_test_run *run)
{
    const int32_t action_index = run->action_index;
    int32_t team;
    if (first_long(action_index, field('t', 'e', 'a', 'm'), _parameter_integer, &team))
    {
        datum_globals *array = get_monster_array();
        for (int32_t index = 0; index < array->count && run->count < MAXIMUM_TESTED_MONSTERS; index++)
        {
            const monster_data *monster = get_monster_data(index);
            if (monster && monster->owner_team_index == team) run->monsters[run->count++] = (int16_t)index;
        }
    }
    else
    {
        int16_t identifiers[MAXIMUM_TESTED_MONSTERS];
        const int32_t identifier_count = get_combined_map_action_parameter(
            action_index, _common_field_name_subject, _parameter_monster_identifier, identifiers,
            MAXIMUM_TESTED_MONSTERS);
        run->count = monster_identifiers_to_monster_indexes(identifiers, run->monsters, identifier_count);
    }
}

// 'same': the subject list is the 'enem' list; 'diff': the two share a unit.
static void compare_with_enemy_list(unit_test_run *run)
{
    const int32_t action_index = run->action_index;
    const bool lists_differ = has_flag(action_index, field('d', 'i', 'f', 'f'));
    const bool lists_same = has_flag(action_index, field('s', 'a', 'm', 'e'));
    if (!lists_differ && !lists_same) return;
    int16_t identifiers[MAXIMUM_TESTED_MONSTERS];
    int16_t others[MAXIMUM_TESTED_MONSTERS];
    const int32_t identifier_count = get_combined_map_action_parameter(
        action_index, field('e', 'n', 'e', 'm'), _parameter_monster_identifier, identifiers, MAXIMUM_TESTED_MONSTERS);
    const int32_t other_count =
        identifier_count > 0 ? monster_identifiers_to_monster_indexes(identifiers, others, identifier_count) : 0;
    if (lists_same)
    {
        bool same = other_count == run->count;
        for (int32_t i = 0; same && i < run->count; i++) same = list_holds(others, other_count, run->monsters[i]);
        if (!same) run->success = false;
    }
    else
    {
        bool shared = false;
        for (int32_t i = 0; !shared && i < run->count; i++) shared = list_holds(others, other_count, run->monsters[i]);
        if (!shared) run->success = false;
    }
}

// Keeps the units inside the 'poly' polygon (outside when 'repo' reverses it).
static void narrow_to_polygon(unit_test_run *run)
{
    const int32_t action_index = run->action_index;
    map_action_parameter polygon;
    if (!get_map_action_parameter(&polygon, action_index, 0, field('p', 'o', 'l', 'y'), _parameter_world_point2d) ||
        run->count <= 0)
        return;
    const world_point2d *points = (const world_point2d *)extract_parameter_array_address(&polygon);
    const bool closed = has_flag(action_index, field('c', 'l', 'p', 'o'));
    int32_t kept = 0;
    for (int32_t i = 0; points && i < run->count; i++)
    {
        const object_data *object = monster_object(run->monsters[i]);
        if (!object) continue;
        const world_point2d at = monster_location(object);
        if (point_in_polygon_test(&at, points, polygon.count, closed) == run->reversed) continue;
        if (run->ignore_invisible && monster_is_invisible(run->monsters[i])) continue;
        run->monsters[kept++] = run->monsters[i];
    }
    run->count = kept;
}

// Keeps the units inside the 'radi' circle: a centre and 'crad', or a centre
// and a point of the rim (outside when 'repo' reverses it).
static void narrow_to_circle(unit_test_run *run)
{
    const int32_t action_index = run->action_index;
    map_action_parameter circle;
    if (!get_map_action_parameter(&circle, action_index, 0, field('r', 'a', 'd', 'i'), _parameter_world_point2d))
        return;
    world_point2d centre = {0, 0};
    get_indexed_world_point2d_parameter(action_index, field('r', 'a', 'd', 'i'), &centre, 0);
    int32_t radius = 0;
    if (circle.count == 1)
    {
        if (!first_long(action_index, field('c', 'r', 'a', 'd'), _parameter_world_distance, &radius))
        {
            map_action_debug(action_index, "expected radius about centerpoint but didn't get it");
            radius = 0;
        }
    }
    else if (circle.count == 2)
    {
        world_point2d rim = {0, 0};
        get_indexed_world_point2d_parameter(action_index, field('r', 'a', 'd', 'i'), &rim, 1);
        radius = distance2d(&centre, &rim);
    }
    int32_t kept = 0;
    for (int32_t i = 0; i < run->count; i++)
    {
        const object_data *object = monster_object(run->monsters[i]);
        if (!object || (object->flags & _object_is_invisible_flag)) continue;
        const world_point2d at = monster_location(object);
        const bool inside = distance2d(&centre, &at) < radius;
        if (inside == run->reversed) continue;
        if (run->ignore_invisible && monster_is_invisible(run->monsters[i])) continue;
        run->monsters[kept++] = run->monsters[i];
    }
    run->count = kept;
}

// Every unit heads for a point near 'fwan'.
static void test_final_waypoints(unit_test_run *run)
{
    world_point2d final_point;
    if (!get_indexed_world_point2d_parameter(run->action_index, field('f', 'w', 'a', 'n'), &final_point, 0)) return;
    if (run->count == 0)
    {
        if (current_gameplay_version > 1710) run->success = false;
        return;
    }
    for (int32_t i = 0; i < run->count; i++)
    {
        const monster_data *monster = get_monster_data(run->monsters[i]);
        const int32_t waypoints = monster->waypoint_count;
        if (waypoints <= 0 || waypoints > MAXIMUM_WAYPOINTS_PER_MONSTER ||
            distance2d(&monster->waypoints[waypoints - 1], &final_point) > FINAL_WAYPOINT_NEAR_DISTANCE)
            run->success = false;
    }
}

// The power ratio of team 0 to team 1 against 'por<' and 'por>'.
static void test_power_ratio(unit_test_run *run)
{
    const int32_t action_index = run->action_index;
    int32_t ratio_less, ratio_greater;
    const bool has_ratio_less = first_long(action_index, field('p', 'o', 'r', '<'), _parameter_fixed, &ratio_less);
    const bool has_ratio_greater =
        first_long(action_index, field('p', 'o', 'r', '>'), _parameter_fixed, &ratio_greater);
    if (!has_ratio_less && !has_ratio_greater) return;
    int32_t light_count = 0, dark_count = 0, light_power = 0, dark_power = 0;
    for (int32_t i = 0; i < run->count; i++)
    {
        const monster_data *monster = get_monster_data(run->monsters[i]);
        const int32_t power = monster_type_combined_power(monster->type);
        if (monster->owner_team_index == 0)
        {
            light_count++;
            light_power = add32_wrap(light_power, power);
        }
        else if (monster->owner_team_index == 1)
        {
            dark_count++;
            dark_power = add32_wrap(dark_power, power);
        }
    }
    // (L << 16) / D in signed 32 bits, as stored films expect; the
    // division is guarded against INT32_MIN / -1.
    const int32_t ratio =
        dark_power == 0 ? 0x7FFFFFFF : div32_guarded((int32_t)((uint32_t)light_power << 16), dark_power);
    const double shown = ratio / 65536.0;
    if (has_ratio_less)
    {
        if (ratio > ratio_less)
            run->success = false;
        else
            map_action_debug(action_index, "#%d/#%d ==> #%d/#%d == %3.2f", light_count, dark_count, light_power,
                             dark_power, shown);
    }
    if (has_ratio_greater)
    {
        if (ratio < ratio_greater)
            run->success = false;
        else
            map_action_debug(action_index, "#%d/#%d ==> #%d/#%d == %3.2f", light_count, dark_count, light_power,
                             dark_power, shown);
    }
}

// The number of units left against '___>', '___<' and '___='.
static void test_unit_count(unit_test_run *run)
{
    const int32_t action_index = run->action_index;
    const int32_t count = run->count;
    int32_t threshold;
    if (first_long(action_index, field('_', '_', '_', '>'), _parameter_integer, &threshold))
    {
        if (count > threshold)
            map_action_debug(action_index, "count: %d>%d", count, threshold);
        else
            run->success = false;
    }
    if (first_long(action_index, field('_', '_', '_', '<'), _parameter_integer, &threshold))
    {
        if (count < threshold)
            map_action_debug(action_index, "count: %d<%d", count, threshold);
        else
            run->success = false;
    }
    if (first_long(action_index, field('_', '_', '_', '='), _parameter_integer, &threshold))
    {
        if (count == threshold)
            map_action_debug(action_index, "count: %d==%d", count, count);
        else
            run->success = false;
    }
}

// Per-unit thresholds (only the first of the five the action has is read),
// the local selection and taunting.
static void test_each_unit(unit_test_run *run)
{
    const int32_t action_index = run->action_index;
    int32_t ammunition = -1, mana = -1, experience = -1, charges = -1, height = -1;
    bool charges_read = false, height_read = false;
    const bool threshold_read =
        first_long(action_index, field('a', 'm', 'm', 'o'), _parameter_integer, &ammunition) ||
        first_long(action_index, field('m', 'a', 'n', 'a'), _parameter_fixed, &mana) ||
        first_long(action_index, field('e', 'x', 'p', '>'), _parameter_integer, &experience) ||
        (current_gameplay_version > 1510 &&
         (charges_read = first_long(action_index, field('c', 'h', 'r', '>'), _parameter_integer, &charges))) ||
        (current_gameplay_version > 1510 &&
         (height_read = first_long(action_index, field('h', 'e', 'i', '>'), _parameter_integer, &height)));
    // The selection is the local machine's.  Before the reports a film
    // replays without it; from them on every game that reports it (a local
    // one), and every replay of such a game, reads the reports alike.  From
    // 1840 it reads them before the first report too (nothing is selected
    // then), where 1830 skipped the test and passed.
    const bool reported = current_gameplay_version >= FIRST_GAMEPLAY_VERSION_WITH_REPORTED_SELECTION;
    const bool counts = current_gameplay_version >= FIRST_GAMEPLAY_VERSION_WITH_SELECTION_EMPTY_UNTIL_REPORTED
                            ? game_carries_local_player_input()
                        : reported ? selection_report_received()
                                   : game_->type == _game_type_local;
    const bool selected = counts && has_flag(action_index, field('s', 'e', 'l', 'e'));
    const bool taunting = has_flag(action_index, field('t', 'a', 'u', 'n'));
    if (!threshold_read && !selected && !taunting) return;
    if (run->count == 0)
    {
        if (current_gameplay_version > 1710) run->success = false;
        if (taunting) run->success = false;
        return;
    }
    bool any_taunting = false;
    for (int32_t i = 0; i < run->count; i++)
    {
        const monster_data *monster = get_monster_data(run->monsters[i]);
        const object_data *object = get_object(monster->object_index);
        const monster_definition *definition = get_monster_definition(monster->type);
        if (monster->ammunition_count <= ammunition) run->success = false;
        if (monster->experience <= experience) run->success = false;
        if (height_read && monster->height_over_mesh <= height) run->success = false;
        if (definition && definition->maximum_mana != 0 &&
            div32_guarded((int32_t)((uint32_t)(int32_t)monster->mana << 16), definition->maximum_mana) <= mana)
            run->success = false;
        if (selected && (reported ? !monster_is_in_reported_selection(monster)
                                  : (!object || !(object->flags & _object_is_selected_flag))))
            run->success = false;
        if (charges_read && get_monster_artifact_charges(run->monsters[i]) <= charges) run->success = false;
        if (monster->action == _monster_action_taunting) any_taunting = true;
    }
    if (!any_taunting && taunting) run->success = false;
}

// Compares `value` with `limit` for a '>' (sign 1) or '<' (sign -1) test,
// logging a pass as "NAME: value>limit".
static void test_average(unit_test_run *run, const char *name, int32_t value, int32_t limit, int32_t sign)
{
    const bool passes = sign > 0 ? value > limit : value < limit;
    if (passes)
        map_action_debug(run->action_index, sign > 0 ? "%s: %d>%d" : "%s: %d<%d", name, value, limit);
    else
        run->success = false;
}

// Average health and power over the largest list seen, and the change of the
// average health since the action was activated.
static void test_average_health_and_power(unit_test_run *run)
{
    const int32_t action_index = run->action_index;
    int32_t more_health, less_health, health_change, more_power, less_power;
    const bool has_more_health = first_long(action_index, field('>', 'v', 'i', 't'), _parameter_fixed, &more_health);
    const bool has_less_health = first_long(action_index, field('<', 'v', 'i', 't'), _parameter_fixed, &less_health);
    const bool has_health_change =
        first_long(action_index, field('d', 'e', 'v', 'i'), _parameter_fixed, &health_change);
    const bool has_more_power = first_long(action_index, field('>', 'p', 'o', 'w'), _parameter_fixed, &more_power);
    const bool has_less_power = first_long(action_index, field('<', 'p', 'o', 'w'), _parameter_fixed, &less_power);
    if (!has_more_health && !has_less_health && !has_health_change && !has_more_power && !has_less_power) return;
    uint32_t health_sum = 0, power_sum = 0;
    for (int32_t i = 0; i < run->count; i++)
    {
        const monster_data *monster = get_monster_data(run->monsters[i]);
        health_sum += (uint32_t)monster_health_fraction(monster);
        power_sum += (uint32_t)monster_type_combined_power(monster->type);
    }
    const uint32_t maximum =
        run->globals.maximum_monster_count > 0 ? (uint32_t)run->globals.maximum_monster_count : 0;
    // Unsigned divisions, as stored; the averages are compared as signed values.
    const int32_t health = maximum ? (int32_t)(health_sum / maximum) : 0;
    const int32_t power = maximum ? (int32_t)((power_sum << 16) / maximum) : 0;
    if (has_more_health) test_average(run, "vitality", health, more_health, 1);
    if (has_less_health) test_average(run, "vitality", health, less_health, -1);
    if (has_health_change)
    {
        if (run->action->flags & _map_action_was_just_activated_flag)
        {
            run->globals.initial_vitality = health;
            run->success = false;
        }
        else
        {
            int64_t change = (int64_t)run->globals.initial_vitality - (int64_t)health;
            if (change < 0) change = -change;
            if (change > health_change)
                map_action_debug(action_index, "vitality changed more than threshold");
            else
                run->success = false;
        }
    }
    if (has_more_power) test_average(run, "power", power, more_power, 1);
    if (has_less_power) test_average(run, "power", power, less_power, -1);
}

// Whether the unit carries or holds a dormant projectile of the subgroup
// ('hold', then 'holi' whose subgroup replaces it from then on).
static bool unit_carries(unit_test_run *run, const monster_data *monster, bool holding, int32_t *subgroup)
{
    if (monster->carrying_object_index != NONE && is_dormant_projectile_of_subgroup(monster->carrying_object_index, *subgroup))
        return true;
    if (monster->carrying_object_index == NONE && holding && current_gameplay_version >= 1721 && *subgroup == NONE)
        return true;
    // The inventory's subgroup replaces the one of 'hold' from here on.
    if (!first_long(run->action_index, field('h', 'o', 'l', 'i'), _parameter_field_name, subgroup)) return false;
    if (current_gameplay_version >= 1721 && *subgroup == NONE) return monster->held_object_count == 0;
    int32_t held = monster->held_object_count;
    if (held > MAXIMUM_HELD_OBJECTS_PER_MONSTER) held = MAXIMUM_HELD_OBJECTS_PER_MONSTER;
    for (int32_t h = 0; h < held; h++)
    {
        if (is_dormant_projectile_of_subgroup(monster->held_object_indexes[h], *subgroup)) return true;
    }
    return false;
}

// Carried objects: some unit (every unit with '_all') carries one.
static void test_carried_objects(unit_test_run *run)
{
    const int32_t action_index = run->action_index;
    int32_t subgroup;
    const bool holding = first_long(action_index, field('h', 'o', 'l', 'd'), _parameter_field_name, &subgroup);
    const bool holding_inventory =
        holding ? get_map_action_parameter(nullptr, action_index, 0, field('h', 'o', 'l', 'i'), _parameter_field_name)
                : first_long(action_index, field('h', 'o', 'l', 'i'), _parameter_field_name, &subgroup);
    if (!holding && !holding_inventory) return;
    int32_t carrying = 0;
    for (int32_t i = 0; i < run->count; i++)
    {
        if (unit_carries(run, get_monster_data(run->monsters[i]), holding, &subgroup)) carrying++;
    }
    if (run->count == 0 || carrying == 0) run->success = false;
    if (has_flag(action_index, field('_', 'a', 'l', 'l')) && carrying != run->count) run->success = false;
    map_action_debug(action_index, "%d monsters carrying %s", carrying, tag_to_string((tag)subgroup));
}

// The game's difficulty against '>dif', '<dif', '=dif' and 'diff'.
static void test_difficulty(unit_test_run *run)
{
    const int32_t action_index = run->action_index;
    const int32_t difficulty = game_->difficulty_level;
    int32_t level;
    if (first_long(action_index, field('>', 'd', 'i', 'f'), _parameter_integer, &level) && difficulty < level)
        run->success = false;
    if (first_long(action_index, field('<', 'd', 'i', 'f'), _parameter_integer, &level) && difficulty > level)
        run->success = false;
    if (first_long(action_index, field('=', 'd', 'i', 'f'), _parameter_integer, &level) && difficulty != level)
        run->success = false;
    if (first_long(action_index, field('d', 'i', 'f', 'f'), _parameter_integer, &level) && difficulty < level)
        run->success = false;
}

uint32_t test_units_action_proc(int32_t action_index)
{
    map_action *action = get_map_action(action_index);
    if (!action) return 0;
    unit_test_run run;
    run.action_index = action_index;
    run.action = action;
    run.count = 0;
    run.success = true;

    // Options and the run-time record.
    run.reversed = has_flag(action_index, field('r', 'e', 'p', 'o'));
    run.ignore_invisible = has_flag(action_index, field('i', 'g', 'i', 'n'));
    if (!get_map_action_structure(action_index, _test_unit_field_name_globals, sizeof(run.globals), &run.globals))
        memset(&run.globals, 0, sizeof(run.globals));

    gather_tested_units(&run);
    // The largest list seen: the divisor of the averages.
    if (run.count > run.globals.maximum_monster_count) run.globals.maximum_monster_count = (int16_t)run.count;

    // Game options: the vux flag decides, anti-clumping must be on.
    if (has_flag(action_index, field('_', 'v', 'u', 'x')))
        run.success = (game_->option_flags & _game_option_uses_vux_flag) != 0;
    if (has_flag(action_index, field('c', 'l', 'm', 'p')) && !(game_->option_flags & _game_option_uses_anticlump_flag))
        run.success = false;

    compare_with_enemy_list(&run);
    // The terrain test on the whole list (1511 to 1710).
    if (current_gameplay_version >= 1511 && current_gameplay_version <= 1710 &&
        !units_are_on_allowed_terrain(action_index, run.monsters, run.count))
        run.success = false;
    narrow_to_polygon(&run);
    narrow_to_circle(&run);
    // Units off the map drop out; what is left is the count.
    run.count = remove_monsters_that_have_left_the_mesh(run.monsters, run.count);
    // The terrain test on the narrowed list (from 1711).
    if (current_gameplay_version > 1710 && !units_are_on_allowed_terrain(action_index, run.monsters, run.count))
        run.success = false;

    test_final_waypoints(&run);
    test_power_ratio(&run);
    test_unit_count(&run);
    test_each_unit(&run);
    test_average_health_and_power(&run);
    test_carried_objects(&run);

    // A player's order replaces every earlier result.
    if (has_flag(action_index, field('u', 's', 'e', 'r')))
    {
        run.success = false;
        for (int32_t i = 0; i < run.count && !run.success; i++)
            run.success = (get_monster_data(run.monsters[i])->flags & _monster_has_received_user_command_flag) != 0;
    }

    test_difficulty(&run);

    // An enemy near a unit replaces every earlier result.
    map_action_parameter closer;
    if (get_map_action_parameter(&closer, action_index, 0, field('c', 'l', 'o', 's'), _parameter_world_distance))
    {
        int32_t minimum = 0, maximum;
        first_long(action_index, field('c', 'l', 'o', 's'), _parameter_world_distance, &minimum);
        if (!get_indexed_long_integer_parameter(action_index, field('c', 'l', 'o', 's'), _parameter_world_distance,
                                                &maximum, 1))
            maximum = add32_wrap(minimum, 1);
        run.success = run.count > 0 &&
                      enemy_is_close(action_index, run.monsters, run.count, minimum, maximum, run.ignore_invisible);
    }

    // The record goes back on the action.
    set_unique_map_action_parameter(action_index, _test_unit_field_name_globals, _parameter_character,
                                    sizeof(run.globals), &run.globals);

    // The result, logged when it passes or when a failure deactivates the action.
    if (run.success)
    {
        map_action_debug(action_index, "test action successful");
        return _map_action_proc_succeeded_flag;
    }
    action = get_map_action(action_index);
    if (action && (action->deactivation_mode == _map_action_deactivates_on_execution ||
                   action->deactivation_mode == _map_action_deactivates_on_failed_execution))
        map_action_debug(action_index, "test action failed");
    return 0;
}
