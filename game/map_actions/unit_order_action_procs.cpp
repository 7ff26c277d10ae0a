// The unit-order procedures: 'atta', 'gene', 'endg', 'end2'.

#include "unit_order_action_procs.h"

#include <cstring>

#include "action_proc_helpers.h"
#include "attack_ai.h"
#include "spatial_groups.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "markers.h"
#include "mesh.h"
#include "monster_commands.h"
#include "monster_definitions.h"
#include "monster_lists.h"
#include "monster_owners.h"
#include "monsters.h"
#include "objects.h"
#include "game_ending.h"
#include "scoring.h"
#include "script_math.h"
#include "statistics.h"
#include "tag_files/data.h"
#include "unit_definitions.h"
#include "vesk_random.h"
#include "world.h"

enum
{
    MAXIMUM_SCRIPT_SUBJECTS = 400,
    MAXIMUM_POLYGON_POINTS = 256,
};

// The combined unit identifiers of `name` as indexes of used units, order kept.
static int32_t named_script_units(int32_t action_index, field_tag name, int16_t *indexes, int32_t maximum)
{
    int16_t identifiers[MAXIMUM_SCRIPT_SUBJECTS];
    const int32_t count = get_combined_map_action_parameter(action_index, name, _parameter_monster_identifier,
                                                            identifiers, maximum);
    return monster_identifiers_to_monster_indexes(identifiers, indexes, count);
}

static int32_t command_limit(void)
{
    return current_gameplay_version < 1301 ? MAXIMUM_UNITS_PER_COMMAND_BEFORE_1301 : MAXIMUM_UNITS_PER_COMMAND;
}

// Not invisible, not ambient life, and not placed from a marker that is an
// invisible observer.
static bool unit_is_usable(const monster_data *monster)
{
    if (monster->extra_flags & (_monster_is_invisible_extra_flag | _monster_is_ambient_life_extra_flag)) return false;
    const marker_data *marker = get_monster_marker(monster);
    return !marker || !(marker->flags & _marker_is_invisible_observer_flag);
}

static int16_t monster_class_of(const monster_data *monster)
{
    const monster_definition *definition = get_monster_definition(monster->type);
    return definition ? definition->monster_class : (int16_t)NONE;
}

// The attack point over ground, raised to the media surface where the cell
// carries media above the ground.
static world_point3d attack_point(world_point2d point)
{
    world_distance height = get_mesh_height(&point, _mesh_ground_height);
    const mesh_cell *cell = get_mesh_cell(asr32(point.x, 9), asr32(point.y, 9));
    if ((cell->flags & _mesh_cell_carries_media_flags) && height < cell->media_height) height = cell->media_height;
    return {point.x, point.y, height};
}

static uint32_t attack_location(int32_t action_index, int32_t attacker_count, const int16_t *attackers,
                                uint16_t flags, world_point3d point)
{
    command_attack_location_data data;
    memset(&data, 0, sizeof(data));
    data.flags = flags;
    data.point = point;
    handle_attack_location_command(get_map_action_identifier(action_index), &data, attacker_count, attackers);
    return _map_action_proc_succeeded_flag;
}

// 'wayp': the attackers attack one of the listed points, drawn at random.
// False when the action lists none; else `result` is the action's result.
static bool attack_listed_point(int32_t action_index, int32_t attacker_count, const int16_t *attackers, bool special,
                               uint32_t *result)
{
    map_action_parameter points;
    if (!get_map_action_parameter(&points, action_index, _return_empty_arrays_flag, field('w', 'a', 'y', 'p'),
                                  _parameter_world_point2d))
        return false;
    if (points.count < 1)
    {
        map_action_error(action_index, "no points to attack!");
        *result = 0;
        return true;
    }
    world_point2d point;
    get_indexed_world_point2d_parameter(action_index, field('w', 'a', 'y', 'p'), &point, vesk_random() % points.count);
    map_action_debug(action_index, "attacking (%d, %d)", point.x, point.y);
    uint16_t flags = _command_attack_location_from_map_action_flag;
    if (special) flags |= _command_attack_location_special_ability_flag;
    *result = attack_location(action_index, attacker_count, attackers, flags, attack_point(point));
    return true;
}

// 'proj': the attackers attack where one of the listed objects, drawn at random,
// stands.  False when the action lists none; else `result` is the action's result.
static bool attack_listed_object(int32_t action_index, int32_t attacker_count, const int16_t *attackers, bool special,
                                uint32_t *result)
{
    map_action_parameter objects;
    if (!get_map_action_parameter(&objects, action_index, _return_empty_arrays_flag, field('p', 'r', 'o', 'j'),
                                  _parameter_object_identifier))
        return false;
    if (objects.count < 1)
    {
        map_action_error(action_index, "no points to attack!");
        *result = 0;
        return true;
    }
    int16_t object_identifier;
    get_indexed_short_integer_parameter(action_index, field('p', 'r', 'o', 'j'), _parameter_object_identifier,
                                        &object_identifier, vesk_random() % objects.count);
    datum_globals *array = get_object_array();
    for (int32_t index = 0; index < array->count; index++)
    {
        const object_data *object = get_object(index);
        if (!object || object->identifier != object_identifier) continue;
        const world_point3d point = object->location.position;
        map_action_debug(action_index, "attacking (%d, %d, %d)", point.x, point.y, point.z);
        *result = attack_location(action_index, attacker_count, attackers,
                                  special ? _command_attack_location_special_ability_flag : 0, point);
        return true;
    }
    *result = 0;
    return true;
}

// The defenders: the named units, or all units of 'team' or of the 'type'
// opposed to the attackers, kept when they are inside the 'poly' polygon.
static int32_t choose_defenders(int32_t action_index, const int16_t *attackers, int16_t *defenders, int32_t limit)
{
    int32_t defender_count = named_script_units(action_index, _common_field_name_object, defenders, limit);
    datum_globals *units = get_monster_array();
    int32_t team;
    if (get_indexed_long_integer_parameter(action_index, _common_field_name_team_restriction_list, _parameter_integer,
                                           &team, 0))
    {
        if (defender_count == 0)
        {
            for (int32_t index = 0; index < units->count && defender_count < limit; index++)
            {
                const monster_data *monster = get_monster_data(index);
                if (monster && unit_is_usable(monster) && monster->owner_team_index == team)
                    defenders[defender_count++] = (int16_t)index;
            }
        }
        else
        {
            int32_t kept = 0;
            for (int32_t i = 0; i < defender_count; i++)
            {
                const monster_data *monster = get_monster_data(defenders[i]);
                if (!(monster->extra_flags & _monster_is_invisible_extra_flag) && monster->owner_team_index == team)
                    defenders[kept++] = defenders[i];
            }
            defender_count = kept;
        }
        map_action_debug(action_index, "%d defenders match team index %d", defender_count, team);
    }
    int32_t kind;
    if (get_indexed_long_integer_parameter(action_index, field('t', 'y', 'p', 'e'), _parameter_integer, &kind, 0))
    {
        const int32_t attacker_team = get_monster_data(attackers[0])->owner_team_index;
        if (defender_count == 0)
        {
            for (int32_t index = 0; index < units->count && defender_count < limit; index++)
            {
                const monster_data *monster = get_monster_data(index);
                if (monster && unit_is_usable(monster) && monster_class_of(monster) == kind &&
                    monster->owner_team_index != attacker_team)
                    defenders[defender_count++] = (int16_t)index;
            }
        }
        else
        {
            int32_t kept = 0;
            for (int32_t i = 0; i < defender_count; i++)
            {
                const monster_data *monster = get_monster_data(defenders[i]);
                if (monster->extra_flags & _monster_is_invisible_extra_flag) continue;
                const bool missile = monster_class_of(monster) == _monster_class_missile;
                if (kind == 0 ? missile : !missile) defenders[kept++] = defenders[i];
            }
            defender_count = kept;
        }
        map_action_debug(action_index, "%d defenders matching type %d", defender_count, kind);
    }
    map_action_parameter polygon;
    if (get_map_action_parameter(&polygon, action_index, 0, field('p', 'o', 'l', 'y'), _parameter_world_point2d))
    {
        world_point2d corners[MAXIMUM_POLYGON_POINTS];
        const int32_t corner_count = copy_map_action_parameter_values(&polygon, corners, MAXIMUM_POLYGON_POINTS);
        const bool closed = has_flag(action_index, field('c', 'l', 'p', 'o'));
        const bool reversed = has_flag(action_index, field('r', 'e', 'p', 'o'));
        int32_t kept = 0;
        for (int32_t i = 0; i < defender_count; i++)
        {
            const monster_data *monster = get_monster_data(defenders[i]);
            const object_data *object = get_object(monster->object_index);
            if (!object || (monster->extra_flags & _monster_is_invisible_extra_flag)) continue;
            const world_point2d at = {object->location.position.x, object->location.position.y};
            if (point_in_polygon_test(&at, corners, corner_count, closed) != reversed) defenders[kept++] = defenders[i];
        }
        defender_count = kept;
        map_action_debug(action_index, "%d defenders inside geometry", defender_count);
    }
    return defender_count;
}

// Charm: each defender of another team and player whose type the attackers'
// player may own changes hands.  Succeeds when one did.
static uint32_t charm_defenders(int32_t action_index, const int16_t *attackers, const int16_t *defenders,
                                int32_t defender_count)
{
    const monster_data *first = get_monster_data(attackers[0]);
    const int8_t team_index = first->owner_team_index, player_index = first->owner_player_index;
    uint32_t result = 0;
    for (int32_t i = 0; i < defender_count; i++)
    {
        const monster_data *defender = get_monster_data(defenders[i]);
        if (!defender || defender->owner_team_index == team_index || defender->owner_player_index == player_index)
            continue;
        bool charmed = false;
        for (int32_t d = 0; d < unit_definitions.count && !charmed; d++)
        {
            const unit_definition *definition = get_unit_definition(d);
            if (!definition || definition->player_index != player_index ||
                definition->monster_type != defender->orig_type)
                continue;
            change_monster_owner(defenders[i], player_index, true);
            charmed = true;
            result = _map_action_proc_succeeded_flag;
        }
        if (!charmed)
            map_action_debug(action_index, "defender %s not charmable",
                             monster_definitions.tag_names && defender->type >= 0 &&
                                     defender->type < monster_definitions.maximum_count
                                 ? monster_definitions.tag_names[defender->type]
                                 : "?");
    }
    return result;
}

uint32_t attack_command_action_proc(int32_t action_index)
{
    int16_t attackers[MAXIMUM_SCRIPT_SUBJECTS];
    const bool charm = current_gameplay_version > 1510 && has_flag(action_index, field('c', 'h', 'r', 'm'));
    int32_t attacker_count = named_script_units(action_index, _common_field_name_subject, attackers, MAXIMUM_SCRIPT_SUBJECTS);
    if (!charm) attacker_count = remove_monster_indexes_under_user_control(attackers, attacker_count);
    if (attacker_count == 0) return _map_action_proc_deactivate_flag;

    if (has_flag(action_index, field('_', 'a', 'l', 'l')))
    {
        map_action_debug(action_index, "attacking all nearby units");
        attack_ai_configuration configuration;
        new_attack_ai_configuration(&configuration);
        attack_with_monster_indexes(&configuration, attacker_count, attackers);
        return _map_action_proc_succeeded_flag;
    }
    const bool special = has_flag(action_index, field('s', 'p', 'e', 'c'));
    uint32_t result;
    if (attack_listed_point(action_index, attacker_count, attackers, special, &result) ||
        attack_listed_object(action_index, attacker_count, attackers, special, &result))
        return result;

    const int32_t limit = command_limit();
    int16_t defenders[MAXIMUM_UNITS_PER_COMMAND];
    const int32_t defender_count = choose_defenders(action_index, attackers, defenders, limit);
    if (defender_count == 0)
    {
        map_action_debug(action_index, "attacker count: %d defender count: %d", attacker_count, defender_count);
        return 0;
    }
    if (charm) return charm_defenders(action_index, attackers, defenders, defender_count);
    command_target_data data;
    memset(&data, 0, sizeof(data));
    if (has_flag(action_index, field('d', 'o', 'r', 'e'))) data.flags |= _command_target_dont_override_existing_target_flag;
    if (has_flag(action_index, field('c', 'l', 'o', 's'))) data.flags |= _command_target_close_flag;
    if (has_flag(action_index, field('n', 'e', 'a', 'r')))
    {
        data.flags |= _command_target_attack_closest_flag;
        map_action_debug(action_index, "attack closest: attackers: %d defenders: %d", attacker_count, defender_count);
    }
    else if (special)
    {
        data.flags |= _command_target_special_ability_flag;
        map_action_debug(action_index, "special attack: attackers: %d defenders: %d", attacker_count, defender_count);
    }
    else
        map_action_debug(action_index, "normal attack: attackers: %d defenders: %d", attacker_count, defender_count);
    for (int32_t first = 0; first < attacker_count; first += limit)
    {
        const int32_t slice = attacker_count - first < limit ? attacker_count - first : limit;
        handle_target_command((int16_t)action_index, &data, slice, attackers + first, defender_count, defenders);
    }
    return _map_action_proc_succeeded_flag;
}

uint32_t general_command_action_proc(int32_t action_index)
{
    int16_t subjects[MAXIMUM_SCRIPT_SUBJECTS];
    const int32_t count = named_script_units(action_index, _common_field_name_subject, subjects, MAXIMUM_SCRIPT_SUBJECTS);
    if (count == 0)
    {
        map_action_debug(action_index, "missing or invalid subject field");
        return 0;
    }
    int32_t type;
    if (!get_indexed_long_integer_parameter(action_index, field('t', 'y', 'p', 'e'), _parameter_integer, &type, 0))
    {
        map_action_debug(action_index, "missing or invalid type field");
        return 0;
    }
    command_general_data data;
    memset(&data, 0, sizeof(data));
    data.type = to_i16(type);
    const int32_t limit = command_limit();
    for (int32_t first = 0; first < count; first += limit)
    {
        const int32_t slice = count - first < limit ? count - first : limit;
        handle_general_command(get_map_action_identifier(action_index), &data, slice, subjects + first);
    }
    return _map_action_proc_succeeded_flag;
}

// The winning team's units do not celebrate.
static void mark_winners_celebrated(int32_t winning_team_index)
{
    datum_globals *units = get_monster_array();
    for (int32_t index = 0; index < units->count; index++)
    {
        monster_data *monster = get_monster_data(index);
        if (monster && monster->owner_team_index == winning_team_index) monster->flags |= _monster_has_celebrated_flag;
    }
}

uint32_t endgame_action_proc(int32_t action_index)
{
    if (game_->winning_team_index == 0) return 0;
    const bool light = has_flag(action_index, field('l', 'i', 'g', 'h'));
    game_->winning_team_index = light ? 0 : 1;
    force_player_statistics_update();
    end_game(_game_end_decided);
    if (light) game_->endgame_state = has_flag(action_index, field('f', 'a', 'i', 'l')) ? _endgame_failed_victory
                                                                                      : _endgame_successful_victory;
    if (has_flag(action_index, field('n', 'o', 'c', 'e'))) mark_winners_celebrated(game_->winning_team_index);
    map_action_debug(action_index, "team %d victory (endgame_state==#%d", game_->winning_team_index,
                     game_->endgame_state);
    return 0;
}

uint32_t custom_endgame_action_proc(int32_t action_index)
{
    if (game_->endgame_state != _endgame_unresolved) return 0;
    int32_t team;
    if (get_indexed_long_integer_parameter(action_index, _common_field_name_team_restriction_list, _parameter_integer,
                                           &team, 0))
        game_->winning_team_index = to_i16(team);
    if (has_flag(action_index, field('s', 'u', 's', 'p')))
    {
        suspend_end_game(_game_end_game_over);
        return 0;
    }
    suspend_end_game(_game_end_decided);
    force_player_statistics_update();
    end_game(_game_end_decided);
    if (has_flag(action_index, field('n', 'o', 'c', 'e'))) mark_winners_celebrated(game_->winning_team_index);
    map_action_debug(action_index, "team %d victory (endgame_state==#%d", game_->winning_team_index,
                     game_->endgame_state);
    return 0;
}
