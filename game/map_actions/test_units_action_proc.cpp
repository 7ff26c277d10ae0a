// The unit test ('tuni').  The steps run in a fixed order; every test that
// fails clears `success` and the remaining steps still run (their draws too).

#include "test_units_action_proc.h"

#include <cstring>

#include "cseries/tags.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "mesh.h"
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

static constexpr field_tag field(char a, char b, char c, char d) { return FOUR_CHARACTER_CODE(a, b, c, d); }

static const field_tag _test_unit_field_name_globals = _common_internal_field_name_globals;

static bool has_flag(int32_t action_index, field_tag name)
{
    return get_map_action_parameter(nullptr, action_index, _return_empty_arrays_flag, name, _parameter_flag);
}

static bool first_value(int32_t action_index, field_tag name, int16_t type, int32_t *value)
{
    return get_indexed_long_integer_parameter(action_index, name, type, value, 0);
}

static const object_data *monster_object(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    return monster ? get_object(monster->object_index) : nullptr;
}

static world_point2d monster_location(const object_data *object)
{
    return {object->location.position.x, object->location.position.y};
}

static bool monster_is_invisible(int32_t monster_index)
{
    return (get_monster_data(monster_index)->extra_flags & _monster_is_invisible_extra_flag) != 0;
}

static bool list_holds(const int16_t *list, int32_t count, int16_t monster_index)
{
    for (int32_t i = 0; i < count; i++)
        if (list[i] == monster_index) return true;
    return false;
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
static bool is_dormant_projectile_of(int32_t object_index, int32_t subgroup)
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

uint32_t test_units_action_proc(int32_t action_index)
{
    map_action *action = get_map_action(action_index);
    if (!action) return 0;
    bool success = true;

    // 1. Options and the run-time record.
    const bool reversed = has_flag(action_index, field('r', 'e', 'p', 'o'));
    const bool ignore_invisible = has_flag(action_index, field('i', 'g', 'i', 'n'));
    test_unit_globals globals;
    if (!get_map_action_structure(action_index, _test_unit_field_name_globals, sizeof(globals), &globals))
        memset(&globals, 0, sizeof(globals));

    // 2. The working list.
    int16_t monsters[MAXIMUM_TESTED_MONSTERS];
    int32_t count = 0;
    int32_t team;
    if (first_value(action_index, field('t', 'e', 'a', 'm'), _parameter_integer, &team))
    {
        datum_globals *array = get_monster_array();
        for (int32_t index = 0; index < array->count && count < MAXIMUM_TESTED_MONSTERS; index++)
        {
            const monster_data *monster = get_monster_data(index);
            if (monster && monster->owner_team_index == team) monsters[count++] = (int16_t)index;
        }
    }
    else
    {
        int16_t identifiers[MAXIMUM_TESTED_MONSTERS];
        const int32_t identifier_count = get_combined_map_action_parameter(
            action_index, _common_field_name_subject, _parameter_monster_identifier, identifiers,
            MAXIMUM_TESTED_MONSTERS);
        count = monster_identifiers_to_monster_indexes(identifiers, monsters, identifier_count);
    }

    // 3. The largest list seen: the divisor of the averages.
    if (count > globals.maximum_monster_count) globals.maximum_monster_count = (int16_t)count;

    // 4, 5. Game options.
    if (has_flag(action_index, field('_', 'v', 'u', 'x')))
        success = (game_->option_flags & _game_option_uses_vux_flag) != 0;
    if (has_flag(action_index, field('c', 'l', 'm', 'p')) && !(game_->option_flags & _game_option_uses_anticlump_flag))
        success = false;

    // 6. The subject list against 'enem'.
    const bool lists_differ = has_flag(action_index, field('d', 'i', 'f', 'f'));
    const bool lists_same = has_flag(action_index, field('s', 'a', 'm', 'e'));
    if (lists_differ || lists_same)
    {
        int16_t identifiers[MAXIMUM_TESTED_MONSTERS];
        int16_t others[MAXIMUM_TESTED_MONSTERS];
        const int32_t identifier_count = get_combined_map_action_parameter(
            action_index, field('e', 'n', 'e', 'm'), _parameter_monster_identifier, identifiers,
            MAXIMUM_TESTED_MONSTERS);
        const int32_t other_count =
            identifier_count > 0 ? monster_identifiers_to_monster_indexes(identifiers, others, identifier_count) : 0;
        if (lists_same)
        {
            bool same = other_count == count;
            for (int32_t i = 0; same && i < count; i++) same = list_holds(others, other_count, monsters[i]);
            if (!same) success = false;
        }
        else
        {
            bool shared = false;
            for (int32_t i = 0; !shared && i < count; i++) shared = list_holds(others, other_count, monsters[i]);
            if (!shared) success = false;
        }
    }

    // 7. The terrain test on the whole list (1511 to 1710).
    if (current_gameplay_version >= 1511 && current_gameplay_version <= 1710 &&
        !units_are_on_allowed_terrain(action_index, monsters, count))
        success = false;

    // 8. The polygon.
    map_action_parameter polygon;
    if (get_map_action_parameter(&polygon, action_index, 0, field('p', 'o', 'l', 'y'), _parameter_world_point2d) &&
        count > 0)
    {
        const world_point2d *points = (const world_point2d *)extract_parameter_array_address(&polygon);
        const bool closed = has_flag(action_index, field('c', 'l', 'p', 'o'));
        int32_t kept = 0;
        for (int32_t i = 0; points && i < count; i++)
        {
            const object_data *object = monster_object(monsters[i]);
            if (!object) continue;
            const world_point2d at = monster_location(object);
            if (point_in_polygon_test(&at, points, polygon.count, closed) == reversed) continue;
            if (ignore_invisible && monster_is_invisible(monsters[i])) continue;
            monsters[kept++] = monsters[i];
        }
        count = kept;
    }

    // 9. The circle.
    map_action_parameter circle;
    if (get_map_action_parameter(&circle, action_index, 0, field('r', 'a', 'd', 'i'), _parameter_world_point2d))
    {
        world_point2d centre = {0, 0};
        get_indexed_world_point2d_parameter(action_index, field('r', 'a', 'd', 'i'), &centre, 0);
        int32_t radius = 0;
        if (circle.count == 1)
        {
            if (!first_value(action_index, field('c', 'r', 'a', 'd'), _parameter_world_distance, &radius))
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
        for (int32_t i = 0; i < count; i++)
        {
            const object_data *object = monster_object(monsters[i]);
            if (!object || (object->flags & _object_is_invisible_flag)) continue;
            const world_point2d at = monster_location(object);
            const bool inside = distance2d(&centre, &at) < radius;
            if (inside == reversed) continue;
            if (ignore_invisible && monster_is_invisible(monsters[i])) continue;
            monsters[kept++] = monsters[i];
        }
        count = kept;
    }

    // 10. Units off the map drop out; what is left is the count.
    count = remove_monsters_that_have_left_the_mesh(monsters, count);

    // 11. The terrain test on the narrowed list (from 1711).
    if (current_gameplay_version > 1710 && !units_are_on_allowed_terrain(action_index, monsters, count))
        success = false;

    // 12. Every unit heads for a point near 'fwan'.
    world_point2d final_point;
    if (get_indexed_world_point2d_parameter(action_index, field('f', 'w', 'a', 'n'), &final_point, 0))
    {
        if (count == 0)
        {
            if (current_gameplay_version > 1710) success = false;
        }
        else
        {
            for (int32_t i = 0; i < count; i++)
            {
                const monster_data *monster = get_monster_data(monsters[i]);
                const int32_t waypoints = monster->waypoint_count;
                if (waypoints <= 0 || waypoints > MAXIMUM_WAYPOINTS_PER_MONSTER ||
                    distance2d(&monster->waypoints[waypoints - 1], &final_point) > FINAL_WAYPOINT_NEAR_DISTANCE)
                    success = false;
            }
        }
    }

    // 13. The power ratio of team 0 to team 1.
    int32_t ratio_less, ratio_greater;
    const bool has_ratio_less = first_value(action_index, field('p', 'o', 'r', '<'), _parameter_fixed, &ratio_less);
    const bool has_ratio_greater =
        first_value(action_index, field('p', 'o', 'r', '>'), _parameter_fixed, &ratio_greater);
    if (has_ratio_less || has_ratio_greater)
    {
        int32_t light_count = 0, dark_count = 0, light_power = 0, dark_power = 0;
        for (int32_t i = 0; i < count; i++)
        {
            const monster_data *monster = get_monster_data(monsters[i]);
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
                success = false;
            else
                map_action_debug(action_index, "#%d/#%d ==> #%d/#%d == %3.2f", light_count, dark_count, light_power,
                                 dark_power, shown);
        }
        if (has_ratio_greater)
        {
            if (ratio < ratio_greater)
                success = false;
            else
                map_action_debug(action_index, "#%d/#%d ==> #%d/#%d == %3.2f", light_count, dark_count, light_power,
                                 dark_power, shown);
        }
    }

    // 14. The count.
    int32_t threshold;
    if (first_value(action_index, field('_', '_', '_', '>'), _parameter_integer, &threshold))
    {
        if (count > threshold)
            map_action_debug(action_index, "count: %d>%d", count, threshold);
        else
            success = false;
    }
    if (first_value(action_index, field('_', '_', '_', '<'), _parameter_integer, &threshold))
    {
        if (count < threshold)
            map_action_debug(action_index, "count: %d<%d", count, threshold);
        else
            success = false;
    }
    if (first_value(action_index, field('_', '_', '_', '='), _parameter_integer, &threshold))
    {
        if (count == threshold)
            map_action_debug(action_index, "count: %d==%d", count, count);
        else
            success = false;
    }

    // 15. Per-unit thresholds: only the first of the five the action has is read.
    int32_t ammunition = -1, mana = -1, experience = -1, charges = -1, height = -1;
    bool charges_read = false, height_read = false;
    const bool threshold_read =
        first_value(action_index, field('a', 'm', 'm', 'o'), _parameter_integer, &ammunition) ||
        first_value(action_index, field('m', 'a', 'n', 'a'), _parameter_fixed, &mana) ||
        first_value(action_index, field('e', 'x', 'p', '>'), _parameter_integer, &experience) ||
        (current_gameplay_version > 1510 &&
         (charges_read = first_value(action_index, field('c', 'h', 'r', '>'), _parameter_integer, &charges))) ||
        (current_gameplay_version > 1510 &&
         (height_read = first_value(action_index, field('h', 'e', 'i', '>'), _parameter_integer, &height)));
    // The selection is the local machine's: a film replays without it.
    const bool selected = game_->type == _game_type_local && has_flag(action_index, field('s', 'e', 'l', 'e'));
    const bool taunting = has_flag(action_index, field('t', 'a', 'u', 'n'));
    if (threshold_read || selected || taunting)
    {
        if (count == 0)
        {
            if (current_gameplay_version > 1710) success = false;
            if (taunting) success = false;
        }
        else
        {
            bool any_taunting = false;
            for (int32_t i = 0; i < count; i++)
            {
                const monster_data *monster = get_monster_data(monsters[i]);
                const object_data *object = get_object(monster->object_index);
                const monster_definition *definition = get_monster_definition(monster->type);
                if (monster->ammunition_count <= ammunition) success = false;
                if (monster->experience <= experience) success = false;
                if (height_read && monster->height_over_mesh <= height) success = false;
                if (definition && definition->maximum_mana != 0 &&
                    div32_guarded((int32_t)((uint32_t)(int32_t)monster->mana << 16), definition->maximum_mana) <= mana)
                    success = false;
                if (selected && (!object || !(object->flags & _object_is_selected_flag))) success = false;
                if (charges_read && get_monster_artifact_charges(monsters[i]) <= charges) success = false;
                if (monster->action == _monster_action_taunting) any_taunting = true;
            }
            if (!any_taunting && taunting) success = false;
        }
    }

    // 16. Average health and power over the largest list seen.
    int32_t more_health, less_health, health_change, more_power, less_power;
    const bool has_more_health = first_value(action_index, field('>', 'v', 'i', 't'), _parameter_fixed, &more_health);
    const bool has_less_health = first_value(action_index, field('<', 'v', 'i', 't'), _parameter_fixed, &less_health);
    const bool has_health_change =
        first_value(action_index, field('d', 'e', 'v', 'i'), _parameter_fixed, &health_change);
    const bool has_more_power = first_value(action_index, field('>', 'p', 'o', 'w'), _parameter_fixed, &more_power);
    const bool has_less_power = first_value(action_index, field('<', 'p', 'o', 'w'), _parameter_fixed, &less_power);
    if (has_more_health || has_less_health || has_health_change || has_more_power || has_less_power)
    {
        uint32_t health_sum = 0, power_sum = 0;
        for (int32_t i = 0; i < count; i++)
        {
            const monster_data *monster = get_monster_data(monsters[i]);
            health_sum += (uint32_t)monster_health_fraction(monster);
            power_sum += (uint32_t)monster_type_combined_power(monster->type);
        }
        const uint32_t maximum = globals.maximum_monster_count > 0 ? (uint32_t)globals.maximum_monster_count : 0;
        // Unsigned divisions, as stored; the averages are compared as signed values.
        const int32_t health = maximum ? (int32_t)(health_sum / maximum) : 0;
        const int32_t power = maximum ? (int32_t)((power_sum << 16) / maximum) : 0;
        if (has_more_health)
        {
            if (health > more_health)
                map_action_debug(action_index, "vitality: %d>%d", health, more_health);
            else
                success = false;
        }
        if (has_less_health)
        {
            if (health < less_health)
                map_action_debug(action_index, "vitality: %d<%d", health, less_health);
            else
                success = false;
        }
        if (has_health_change)
        {
            if (action->flags & _map_action_was_just_activated_flag)
            {
                globals.initial_vitality = health;
                success = false;
            }
            else
            {
                int64_t change = (int64_t)globals.initial_vitality - (int64_t)health;
                if (change < 0) change = -change;
                if (change > health_change)
                    map_action_debug(action_index, "vitality changed more than threshold");
                else
                    success = false;
            }
        }
        if (has_more_power)
        {
            if (power > more_power)
                map_action_debug(action_index, "power: %d>%d", power, more_power);
            else
                success = false;
        }
        if (has_less_power)
        {
            if (power < less_power)
                map_action_debug(action_index, "power: %d<%d", power, less_power);
            else
                success = false;
        }
    }

    // 17. Carried objects.
    int32_t subgroup;
    const bool holding = first_value(action_index, field('h', 'o', 'l', 'd'), _parameter_field_name, &subgroup);
    const bool holding_inventory =
        holding ? get_map_action_parameter(nullptr, action_index, 0, field('h', 'o', 'l', 'i'), _parameter_field_name)
                : first_value(action_index, field('h', 'o', 'l', 'i'), _parameter_field_name, &subgroup);
    if (holding || holding_inventory)
    {
        int32_t carrying = 0;
        for (int32_t i = 0; i < count; i++)
        {
            const monster_data *monster = get_monster_data(monsters[i]);
            if (monster->carrying_object_index != NONE &&
                is_dormant_projectile_of(monster->carrying_object_index, subgroup))
            {
                carrying++;
                continue;
            }
            if (monster->carrying_object_index == NONE && holding && current_gameplay_version >= 1721 &&
                subgroup == NONE)
            {
                carrying++;
                continue;
            }
            // The inventory's subgroup replaces the one of 'hold' from here on.
            if (!first_value(action_index, field('h', 'o', 'l', 'i'), _parameter_field_name, &subgroup)) continue;
            if (current_gameplay_version >= 1721 && subgroup == NONE)
            {
                if (monster->held_object_count == 0) carrying++;
                continue;
            }
            int32_t held = monster->held_object_count;
            if (held > MAXIMUM_HELD_OBJECTS_PER_MONSTER) held = MAXIMUM_HELD_OBJECTS_PER_MONSTER;
            for (int32_t h = 0; h < held; h++)
            {
                if (is_dormant_projectile_of(monster->held_object_indexes[h], subgroup))
                {
                    carrying++;
                    break;
                }
            }
        }
        if (count == 0 || carrying == 0) success = false;
        if (has_flag(action_index, field('_', 'a', 'l', 'l')) && carrying != count) success = false;
        map_action_debug(action_index, "%d monsters carrying %s", carrying, tag_to_string((tag)subgroup));
    }

    // 18. A player's order replaces every earlier result.
    if (has_flag(action_index, field('u', 's', 'e', 'r')))
    {
        success = false;
        for (int32_t i = 0; i < count && !success; i++)
            success = (get_monster_data(monsters[i])->flags & _monster_has_received_user_command_flag) != 0;
    }

    // 19. Difficulty.
    const int32_t difficulty = game_->difficulty_level;
    int32_t level;
    if (first_value(action_index, field('>', 'd', 'i', 'f'), _parameter_integer, &level) && difficulty < level)
        success = false;
    if (first_value(action_index, field('<', 'd', 'i', 'f'), _parameter_integer, &level) && difficulty > level)
        success = false;
    if (first_value(action_index, field('=', 'd', 'i', 'f'), _parameter_integer, &level) && difficulty != level)
        success = false;
    if (first_value(action_index, field('d', 'i', 'f', 'f'), _parameter_integer, &level) && difficulty < level)
        success = false;

    // 20. An enemy near a unit replaces every earlier result.
    map_action_parameter closer;
    if (get_map_action_parameter(&closer, action_index, 0, field('c', 'l', 'o', 's'), _parameter_world_distance))
    {
        int32_t minimum = 0, maximum;
        first_value(action_index, field('c', 'l', 'o', 's'), _parameter_world_distance, &minimum);
        if (!get_indexed_long_integer_parameter(action_index, field('c', 'l', 'o', 's'), _parameter_world_distance,
                                                &maximum, 1))
            maximum = add32_wrap(minimum, 1);
        success = count > 0 && enemy_is_close(action_index, monsters, count, minimum, maximum, ignore_invisible);
    }

    // 21. The record goes back on the action.
    set_unique_map_action_parameter(action_index, _test_unit_field_name_globals, _parameter_character,
                                    sizeof(globals), &globals);

    // 22.
    if (success)
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
