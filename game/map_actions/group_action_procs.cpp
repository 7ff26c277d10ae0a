// The group state procedures: 'grou', 'guar', 'spup', 'plat', 'squa', and
// the platoon operations the platoon movement uses.

#include "group_action_procs.h"

#include <cstring>

#include "action_proc_helpers.h"
#include "attack_ai.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "monster_commands.h"
#include "monster_lists.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "script_math.h"
#include "spatial_groups.h"
#include "vesk_random.h"

enum
{
    // Subgroups one split makes and deletes again: a split deletes the
    // first 30 of its last subgroups, so it never makes more.
    MAXIMUM_SPLIT_SUBGROUPS = MAXIMUM_LOCAL_ACTION_IDENTIFIERS,
    MAXIMUM_SPLIT_THRESHOLDS = 64,
};

static constexpr field_tag FIELD_STATES = field('s', 't', 'a', 't');
static constexpr field_tag FIELD_SUBSTATE = field('s', 'u', 'b', 's');
static constexpr field_tag FIELD_OWNER_GROUP = field('o', 'w', 'g', 'r');
static constexpr field_tag FIELD_POINT = field('p', 'o', 'i', 'n');
static constexpr field_tag FIELD_RADII = field('r', 'a', 'd', 'i');
static constexpr field_tag FIELD_ACTIONS = field('a', 'c', 't', 'i');
static constexpr field_tag FIELD_RESET = field('r', 'e', 's', 'e');
static constexpr field_tag FIELD_THRESHOLDS = field('t', 'h', 'r', 'e');
static constexpr field_tag FIELD_SETUP = field('s', 'e', 't', 'u');
static constexpr field_tag FIELD_COUNT = field('c', 'o', 'u', 'n');
static constexpr field_tag FIELD_DECISION_POINT = field('d', 'e', 'c', 'i');
static constexpr field_tag FIELD_INITIAL_STATES = field('i', 'n', 'i', 't');
static constexpr field_tag FIELD_CHILDREN = field('c', 'h', 'i', 'l');
static constexpr field_tag FIELD_CENTER = field('c', 'e', 'n', 't');
static constexpr field_tag FIELD_FACING = field('f', 'a', 'c', 'i');
static constexpr field_tag FIELD_FORMATION = field('f', 'o', 'r', 'm');
static constexpr field_tag FIELD_CURRENT_STATE = field('#', 'c', 's', 't');
static constexpr field_tag FIELD_SQUADS = field('#', 's', 'q', 'u');
static constexpr field_tag FIELD_STATE_OWNER = field('#', 'o', 'w', 'n');
static constexpr field_tag FIELD_STATE_SUBSTATE = field('#', 's', 'u', 'b');
static constexpr field_tag FIELD_OWNER_PLATOON = field('#', 'o', 'w', 'p');

static constexpr action_tag TAG_GROUP = FOUR_CHARACTER_CODE('g', 'r', 'o', 'u');
static constexpr action_tag TAG_PLATOON = FOUR_CHARACTER_CODE('p', 'l', 'a', 't');
static constexpr action_tag TAG_SQUAD = FOUR_CHARACTER_CODE('s', 'q', 'u', 'a');

// ---- small readers and writers ---------------------------------------------------------

// The first value of the action's own integer entry, or `otherwise`.
static int32_t own_integer(int32_t action_index, field_tag name, int32_t otherwise)
{
    map_action_parameter parameter;
    int32_t value;
    if (!get_map_action_parameter(&parameter, action_index, _dont_resolve_links_flag, name, _parameter_integer) ||
        copy_map_action_parameter_values(&parameter, &value, 1) != 1)
        return otherwise;
    return value;
}

// The action the first value of the action's own identifier entry names, or NONE.
static int32_t own_named_action(int32_t action_index, field_tag name)
{
    map_action_parameter parameter;
    int16_t identifier;
    if (!get_map_action_parameter(&parameter, action_index, _dont_resolve_links_flag, name,
                                  _parameter_action_identifier) ||
        copy_map_action_parameter_values(&parameter, &identifier, 1) != 1)
        return NONE;
    return action_identifier_to_action_index(identifier);
}

// The action the first value of the entry (links followed) names, or NONE.
static int32_t named_action(int32_t action_index, field_tag name)
{
    int16_t identifier;
    if (!get_indexed_short_integer_parameter(action_index, name, _parameter_action_identifier, &identifier, 0))
        return NONE;
    return action_identifier_to_action_index(identifier);
}

// Writes [the identifier of `owner`] as the action's own entry `name`.
static void store_owner(int32_t action_index, field_tag name, int32_t owner_action_index)
{
    const int16_t identifier = get_map_action_identifier(owner_action_index);
    set_unique_map_action_parameter(action_index, name, _parameter_action_identifier, 1, &identifier);
}

// The values of the first entry of `name` with values (links followed).
static int32_t identifier_list(int32_t action_index, field_tag name, int16_t *identifiers, int32_t maximum)
{
    map_action_parameter parameter;
    if (!get_map_action_parameter(&parameter, action_index, 0, name, _parameter_action_identifier)) return 0;
    return copy_map_action_parameter_values(&parameter, identifiers, maximum);
}

// The values of the action's own entry of `name` (empty or not); false when it has none.
static bool own_identifier_list(int32_t action_index, field_tag name, int16_t *identifiers, int32_t maximum,
                                int32_t *count)
{
    map_action_parameter parameter;
    *count = 0;
    if (!get_map_action_parameter(&parameter, action_index, _dont_resolve_links_flag | _return_empty_arrays_flag, name,
                                  _parameter_action_identifier))
        return false;
    *count = copy_map_action_parameter_values(&parameter, identifiers, maximum);
    return true;
}

// a - b, wrapping at 32 bits.
static int32_t wrapped_difference32(int32_t a, int32_t b) { return (int32_t)((uint32_t)a - (uint32_t)b); }

static bool is_tagged(int32_t action_index, action_tag tag) { return get_map_action_tag(action_index) == tag; }

// Reads the group's unit identifiers ('subj', 30 or 126 by version) and the
// indexes of the living ones; the number of identifiers read.
static int32_t group_units(int32_t action_index, int16_t *identifiers, int16_t *indexes, int32_t *living)
{
    const int32_t count = get_combined_map_action_parameter(action_index, _common_field_name_subject,
                                                            _parameter_monster_identifier, identifiers,
                                                            maximum_units_per_command());
    *living = monster_identifiers_to_monster_indexes(identifiers, indexes, count);
    return count;
}

// ---- the guard rule ------------------------------------------------------------------------

spatial_group *closest_enemy_spatial_group(const world_point2d *point, int32_t team_index, int32_t *distance)
{
    spatial_group *closest = nullptr;
    int64_t closest_distance = 0;
    for (spatial_group *group = first_spatial_group(); group; group = group->next_group)
    {
        if (group->team_index == team_index || teams_are_allied(team_index, group->team_index)) continue;
        const int64_t d = (int64_t)distance2d(point, &group->center) - group->radius;
        if (!closest || d < closest_distance)
        {
            closest = group;
            closest_distance = d;
        }
    }
    // A distance of 2^31 or more cannot be told from "far": it saturates.
    if (closest) *distance = closest_distance > INT32_MAX ? INT32_MAX : (int32_t)closest_distance;
    return closest;
}

bool guard_radii_call_for_attack(int32_t distance, int32_t inner, int32_t outer, bool already_attacking)
{
    // The proximity band lies inside the outer radius, so inner < outer
    // whenever the fraction is taken: the divisor is never 0.
    if (distance >= outer) return false;
    const int64_t proximity = (int64_t)distance - inner;
    if (proximity < 0) return true;
    if (proximity >= MAXIMUM_PROXIMITY_TO_INNER_RADIUS) return false;
    if (already_attacking) return true;
    // In 64 bits: inner - outer may pass 32 bits for radii far apart.
    const int64_t chance = 16384 + div64_guarded(proximity * 16384, (int64_t)inner - outer);
    return chance > (int64_t)vesk_random();
}

// ---- groups --------------------------------------------------------------------------------

void set_group_action_state(int32_t group_action_index, const int16_t *state_action_identifiers, int32_t count)
{
    if (!is_tagged(group_action_index, TAG_GROUP))
    {
        map_action_debug(group_action_index, "isn't a group action!");
        return;
    }
    if (count < 0) count = 0;
    if (count > MAXIMUM_NUMBER_OF_GROUP_STATES)
    {
        map_action_error(group_action_index, "#%d states, only the first %d kept", count,
                         (int)MAXIMUM_NUMBER_OF_GROUP_STATES);
        count = MAXIMUM_NUMBER_OF_GROUP_STATES;
    }
    // The list may lie in the buffer the edits below move.
    int16_t states[MAXIMUM_NUMBER_OF_GROUP_STATES];
    if (count > 0) memcpy(states, state_action_identifiers, (size_t)count * sizeof(int16_t));
    for (int32_t i = 0; i < count; i++)
    {
        const int32_t state_index = action_identifier_to_action_index(states[i]);
        if (state_index != NONE) store_own_integer(state_index, FIELD_SUBSTATE, NONE);
    }
    set_unique_map_action_parameter(group_action_index, FIELD_STATES, _parameter_action_identifier, count, states);
    store_own_integer(group_action_index, FIELD_SUBSTATE, NONE);
}

uint32_t group_action_proc(int32_t action_index)
{
    store_own_integer(action_index, FIELD_SUBSTATE, _substate_active);
    int16_t states[MAXIMUM_NUMBER_OF_GROUP_STATES];
    const int32_t count = identifier_list(action_index, FIELD_STATES, states, MAXIMUM_NUMBER_OF_GROUP_STATES);
    for (int32_t i = 0; i < count && own_integer(action_index, FIELD_SUBSTATE, NONE) == _substate_active; i++)
    {
        const int32_t state_index = action_identifier_to_action_index(states[i]);
        if (state_index == NONE) continue;
        store_owner(state_index, FIELD_OWNER_GROUP, action_index);
        trigger_map_action(state_index);
        // A state that deleted the group ends the run.
        if (!get_map_action(action_index)) break;
    }
    return 0;
}

uint32_t guard_group_action_proc(int32_t action_index)
{
    const int32_t owner = named_action(action_index, FIELD_OWNER_GROUP);
    if (owner == NONE)
    {
        map_action_debug(action_index, "no subject list");
        return 0;
    }
    world_point2d guard_point;
    if (!get_indexed_world_point2d_parameter(action_index, FIELD_POINT, &guard_point, 0))
    {
        map_action_debug(action_index, "missing guard point");
        return 0;
    }
    int16_t identifiers[MAXIMUM_UNITS_PER_COMMAND], units[MAXIMUM_UNITS_PER_COMMAND];
    int32_t living;
    const int32_t identifier_count = group_units(owner, identifiers, units, &living);
    const int32_t old_substate = own_integer(action_index, FIELD_SUBSTATE, NONE);

    bool attack = false;
    if (living > 0)
    {
        map_action_parameter radii;
        int32_t radius[2];
        if (!get_map_action_parameter(&radii, action_index, 0, FIELD_RADII, _parameter_world_distance) ||
            radii.count != 2 || copy_map_action_parameter_values(&radii, radius, 2) != 2)
            map_action_debug(action_index, "no guard radius");
        else
        {
            const int32_t team = get_monster_data(units[0])->owner_team_index;
            int32_t distance;
            if (closest_enemy_spatial_group(&guard_point, team, &distance))
                attack = guard_radii_call_for_attack(distance, radius[0], radius[1],
                                                     old_substate == _substate_attacking);
        }
    }
    int32_t substate = attack ? _substate_attacking : _substate_guarding;
    if (substate == old_substate && !attack) return 0;

    if (substate == _substate_guarding && living < identifier_count)
    {
        const int32_t reset = named_action(action_index, FIELD_RESET);
        if (reset != NONE)
        {
            trigger_map_action(reset);
            return 0;
        }
    }
    if (living == 0) return 0;

    map_action_parameter actions;
    int16_t state_actions[2];
    if (!get_map_action_parameter(&actions, action_index, 0, FIELD_ACTIONS, _parameter_action_identifier) ||
        actions.count != 2 || copy_map_action_parameter_values(&actions, state_actions, 2) != 2)
    {
        store_own_integer(action_index, FIELD_SUBSTATE, substate);
        map_action_debug(action_index, "missing state actions parameter");
        return 0;
    }
    if (substate == _substate_attacking)
    {
        int16_t inhibitors[MAXIMUM_LOCAL_ACTION_IDENTIFIERS];
        const int32_t inhibitor_count = identifier_list(action_index, _map_action_field_name_inhibitors, inhibitors,
                                                        MAXIMUM_LOCAL_ACTION_IDENTIFIERS);
        if (inhibitor_count > 0 && test_actions_for_success(inhibitors, inhibitor_count, false))
            substate = _substate_guarding;
    }
    const int32_t state_index = action_identifier_to_action_index(state_actions[substate]);
    if (state_index == NONE)
    {
        store_own_integer(action_index, FIELD_SUBSTATE, substate);
        map_action_debug(action_index, "state action deleted!");
        return 0;
    }
    if (substate == _substate_attacking)
    {
        attack_ai_configuration configuration;
        parse_attack_ai_configuration(&configuration, state_index);
        configuration.focus = guard_point;
        attack_with_monster_indexes(&configuration, living, units);
    }
    else
    {
        set_unique_map_action_parameter(state_index, _common_field_name_subject, _parameter_monster_identifier,
                                        identifier_count, identifiers);
        trigger_map_action(state_index);
    }
    store_own_integer(action_index, FIELD_SUBSTATE, substate);
    return 0;
}

// ---- splitting -----------------------------------------------------------------------------

// The size of the subgroup a setup action asks for out of `remaining` units.
static int32_t subgroup_size(int32_t setup_index, int32_t remaining)
{
    int32_t count;
    int64_t size = remaining;
    if (get_indexed_long_integer_parameter(setup_index, FIELD_COUNT, _parameter_integer, &count, 0))
        size = count;
    else if (get_indexed_long_integer_parameter(setup_index, FIELD_COUNT, _parameter_fixed, &count, 0))
        size = asr64(mul64(count, remaining), 16);
    // A negative count takes nobody: it would otherwise never be reached.
    if (size < 0) size = 0;
    return size > remaining ? remaining : (int32_t)size;
}

// Takes `size` units out of the first `remaining` of `units` (which are
// compacted), those closest to the decision point first (the earlier of
// equals; list order without a point), into `taken`.
static void take_closest_units(int32_t setup_index, int16_t *units, int32_t *remaining, int32_t size, int16_t *taken)
{
    world_point2d decision;
    const bool has_point = get_indexed_world_point2d_parameter(setup_index, FIELD_DECISION_POINT, &decision, 0);
    for (int32_t k = 0; k < size; k++)
    {
        int32_t best = 0;
        int32_t best_distance = 0;
        for (int32_t i = 0; has_point && i < *remaining; i++)
        {
            const object_data *object = get_object(get_monster_data(units[i])->object_index);
            const world_point2d at = object ? world_point2d{object->location.position.x, object->location.position.y}
                                            : world_point2d{0, 0};
            const int32_t d = distance2d(&decision, &at);
            if (i == 0 || d < best_distance)
            {
                best = i;
                best_distance = d;
            }
        }
        taken[k] = units[best];
        memmove(units + best, units + best + 1, (size_t)(*remaining - best - 1) * sizeof(int16_t));
        (*remaining)--;
    }
}

uint32_t split_up_group_action_proc(int32_t action_index)
{
    const int32_t owner = named_action(action_index, FIELD_OWNER_GROUP);
    int16_t identifiers[MAXIMUM_UNITS_PER_COMMAND], units[MAXIMUM_UNITS_PER_COMMAND];
    int32_t living = 0;
    const int32_t identifier_count = owner == NONE ? 0 : group_units(owner, identifiers, units, &living);
    map_action_parameter thresholds_parameter, setups_parameter;
    const bool basics =
        identifier_count > 0 &&
        get_map_action_parameter(&thresholds_parameter, action_index, _return_empty_arrays_flag, FIELD_THRESHOLDS,
                                 _parameter_integer) &&
        get_map_action_parameter(&setups_parameter, action_index, 0, FIELD_SETUP, _parameter_field_name) &&
        thresholds_parameter.count <= MAXIMUM_SPLIT_THRESHOLDS &&
        setups_parameter.count == thresholds_parameter.count + 1;
    if (!basics)
    {
        map_action_debug(action_index, "missing or corrupted basic parameters");
        return 0;
    }
    int32_t thresholds[MAXIMUM_SPLIT_THRESHOLDS];
    field_tag setups[MAXIMUM_SPLIT_THRESHOLDS + 1];
    const int32_t threshold_count =
        copy_map_action_parameter_values(&thresholds_parameter, thresholds, MAXIMUM_SPLIT_THRESHOLDS);
    copy_map_action_parameter_values(&setups_parameter, setups, MAXIMUM_SPLIT_THRESHOLDS + 1);

    int32_t choice = 0;
    if (threshold_count > 0 && living > thresholds[0])
    {
        choice = threshold_count;
        for (int32_t i = 0; i < threshold_count; i++)
            if (living <= thresholds[i])
            {
                choice = i;
                break;
            }
    }
    map_action_debug(action_index, "chose threshold #%d (#%d units)", choice, living);
    int16_t setup_list[MAXIMUM_SPLIT_SUBGROUPS];
    map_action_parameter setup_parameter;
    if (!get_map_action_parameter(&setup_parameter, action_index, 0, setups[choice], _parameter_action_identifier))
    {
        map_action_debug(action_index, "missing setup data");
        return 0;
    }
    if (setup_parameter.count > MAXIMUM_SPLIT_SUBGROUPS)
        map_action_error(action_index, "#%d setup actions, only the first %d used", setup_parameter.count,
                         (int)MAXIMUM_SPLIT_SUBGROUPS);
    const int32_t setup_count = copy_map_action_parameter_values(&setup_parameter, setup_list, MAXIMUM_SPLIT_SUBGROUPS);

    // The subgroups of the last split go.
    int16_t old_children[MAXIMUM_SPLIT_SUBGROUPS];
    int32_t old_child_count;
    if (own_identifier_list(action_index, FIELD_CHILDREN, old_children, MAXIMUM_SPLIT_SUBGROUPS, &old_child_count))
        for (int32_t i = 0; i < old_child_count; i++)
        {
            const int32_t child = action_identifier_to_action_index(old_children[i]);
            // A list naming this action or its owner is damaged: they stay.
            if (child != NONE && child != action_index && child != owner) delete_map_action(child);
        }
    set_unique_map_action_parameter(action_index, FIELD_CHILDREN, _parameter_action_identifier, 0, nullptr);

    int16_t children[MAXIMUM_SPLIT_SUBGROUPS];
    int32_t child_count = 0;
    int32_t remaining = living;
    for (int32_t s = 0; s < setup_count; s++)
    {
        const int32_t setup_index = action_identifier_to_action_index(setup_list[s]);
        if (setup_index == NONE) continue;
        const int32_t subgroup = new_map_action(NONE);
        if (subgroup == NONE) continue;
        set_map_action_tag(subgroup, TAG_GROUP);
        map_action_parameter subjects;
        if (new_map_action_parameter(&subjects, subgroup, _common_field_name_subject, _parameter_monster_identifier))
        {
            const int32_t size = subgroup_size(setup_index, remaining);
            map_action_debug(setup_index, "got #%d", size);
            int16_t taken[MAXIMUM_UNITS_PER_COMMAND], taken_identifiers[MAXIMUM_UNITS_PER_COMMAND];
            take_closest_units(setup_index, units, &remaining, size, taken);
            monster_indexes_to_monster_identifiers(taken, taken_identifiers, size);
            set_map_action_parameter(&subjects, size, taken_identifiers);
            int16_t initial_states[MAXIMUM_NUMBER_OF_GROUP_STATES + 1];
            const int32_t state_count =
                identifier_list(setup_index, FIELD_INITIAL_STATES, initial_states, MAXIMUM_NUMBER_OF_GROUP_STATES + 1);
            set_group_action_state(subgroup, initial_states, state_count);
        }
        children[child_count++] = get_map_action_identifier(subgroup);
    }
    set_unique_map_action_parameter(action_index, FIELD_CHILDREN, _parameter_action_identifier, child_count, children);
    set_group_action_state(owner, children, child_count);
    return 0;
}

// ---- platoons and squads ---------------------------------------------------------------------

uint32_t platoon_action_proc(int32_t action_index)
{
    map_action_parameter states;
    if (get_map_action_parameter(&states, action_index, 0, FIELD_STATES, _parameter_action_identifier))
    {
        int16_t picked_identifier;
        get_indexed_short_integer_parameter(action_index, FIELD_STATES, _parameter_action_identifier,
                                            &picked_identifier, vesk_random() % states.count);
        const int32_t picked = action_identifier_to_action_index(picked_identifier);
        map_action_debug(action_index, "platoon state set to: %s",
                         picked == NONE ? "<none>" : get_map_action_name(picked));
        delete_map_action_parameter(&states);
        set_platoon_state(action_index, picked);
    }
    const int32_t state = own_named_action(action_index, FIELD_CURRENT_STATE);
    if (state == NONE)
    {
        map_action_debug(action_index, "no state (deactivating)");
        return _map_action_proc_deactivate_flag;
    }
    store_owner(state, FIELD_STATE_OWNER, action_index);
    trigger_map_action(state);
    return 0;
}

void set_platoon_state(int32_t platoon_action_index, int32_t state_action_index)
{
    if (!is_tagged(platoon_action_index, TAG_PLATOON))
    {
        map_action_debug(platoon_action_index, "isn't a platoon action!");
        return;
    }
    if (state_action_index == NONE || !get_map_action(state_action_index))
    {
        set_unique_map_action_parameter(platoon_action_index, FIELD_CURRENT_STATE, _parameter_action_identifier, 0,
                                        nullptr);
        return;
    }
    store_own_integer(state_action_index, FIELD_STATE_SUBSTATE, NONE);
    store_owner(platoon_action_index, FIELD_CURRENT_STATE, state_action_index);
    reset_platoon(platoon_action_index);
}

void reset_platoon(int32_t platoon_action_index)
{
    if (!is_tagged(platoon_action_index, TAG_PLATOON))
    {
        map_action_debug(platoon_action_index, "isn't a platoon action!");
        return;
    }
    map_action_parameter squads;
    if (get_map_action_parameter(&squads, platoon_action_index, _dont_resolve_links_flag | _return_empty_arrays_flag,
                                 FIELD_SQUADS, _parameter_action_identifier))
        delete_map_action_parameter(&squads);
    new_map_action_parameter(nullptr, platoon_action_index, FIELD_SQUADS, _parameter_action_identifier);
    int16_t initializers[MAXIMUM_PLATOON_SQUADS];
    const int32_t count = identifier_list(platoon_action_index, FIELD_INITIAL_STATES, initializers,
                                          MAXIMUM_PLATOON_SQUADS);
    if (count == 0)
    {
        map_action_debug(platoon_action_index, "no squad initializers!");
        return;
    }
    for (int32_t i = 0; i < count; i++)
    {
        const int32_t initializer = action_identifier_to_action_index(initializers[i]);
        if (initializer == NONE) continue;
        store_owner(initializer, FIELD_OWNER_PLATOON, platoon_action_index);
        trigger_map_action(initializer);
    }
}

uint32_t squad_action_proc(int32_t action_index)
{
    const int32_t platoon = own_named_action(action_index, FIELD_OWNER_PLATOON);
    if (platoon == NONE)
    {
        map_action_debug(action_index, "no owner");
        return 0;
    }
    map_action_parameter squads;
    if (!get_map_action_parameter(&squads, platoon, _dont_resolve_links_flag | _return_empty_arrays_flag, FIELD_SQUADS,
                                  _parameter_action_identifier))
    {
        map_action_debug(action_index, "owner platoon has no squads parameter");
        return 0;
    }
    const int16_t identifier = get_map_action_identifier(action_index);
    append_to_map_action_parameter(&squads, 1, &identifier);
    return 0;
}

void generate_platoon_movement_commands(int32_t platoon_action_index, const world_point2d *destination, angle facing)
{
    if (!is_tagged(platoon_action_index, TAG_PLATOON))
    {
        map_action_debug(platoon_action_index, "isn't a platoon action!");
        return;
    }
    world_point2d center;
    int16_t platoon_facing;
    if (!get_indexed_world_point2d_parameter(platoon_action_index, FIELD_CENTER, &center, 0) ||
        !get_indexed_short_integer_parameter(platoon_action_index, FIELD_FACING, _parameter_angle, &platoon_facing, 0))
    {
        map_action_debug(platoon_action_index, "no centerpoint or facing");
        return;
    }
    int16_t squads[MAXIMUM_PLATOON_SQUADS];
    int32_t count;
    if (!own_identifier_list(platoon_action_index, FIELD_SQUADS, squads, MAXIMUM_PLATOON_SQUADS, &count))
    {
        map_action_debug(platoon_action_index, "no squads");
        return;
    }
    const world_point2d target = *destination;
    for (int32_t i = 0; i < count; i++)
        generate_squad_movement_commands(action_identifier_to_action_index(squads[i]), &center, &target,
                                         (angle)platoon_facing, facing);
}

void generate_squad_movement_commands(int32_t squad_action_index, const world_point2d *platoon_origin,
                                      const world_point2d *destination, angle platoon_facing, angle final_facing)
{
    if (squad_action_index == NONE || !get_map_action(squad_action_index)) return;
    if (!is_tagged(squad_action_index, TAG_SQUAD))
    {
        map_action_debug(squad_action_index, "isn't a squad action!");
        set_map_action_success(squad_action_index);
        return;
    }
    int16_t identifiers[MAXIMUM_UNITS_PER_COMMAND], units[MAXIMUM_UNITS_PER_COMMAND];
    int32_t living;
    group_units(squad_action_index, identifiers, units, &living);
    world_point2d place;
    int32_t formation;
    bool usable = living > 0;
    if (usable && !get_indexed_world_point2d_parameter(squad_action_index, FIELD_CENTER, &place, 0))
    {
        map_action_debug(squad_action_index, "missing facing or centerpoint");
        usable = false;
    }
    if (usable && !get_indexed_long_integer_parameter(squad_action_index, FIELD_FORMATION, _parameter_integer,
                                                      &formation, 0))
    {
        map_action_debug(squad_action_index, "no formation index");
        usable = false;
    }
    if (!usable)
    {
        set_map_action_success(squad_action_index);
        return;
    }
    int16_t squad_facing = 0;
    get_indexed_short_integer_parameter(squad_action_index, FIELD_FACING, _parameter_angle, &squad_facing, 0);
    rotate_point2d(&place, platoon_origin, (angle)(platoon_facing - final_facing));
    place.x = add32_wrap(place.x, wrapped_difference32(destination->x, platoon_origin->x));
    place.y = add32_wrap(place.y, wrapped_difference32(destination->y, platoon_origin->y));
    command_movement_data data;
    memset(&data, 0, sizeof(data));
    data.flags = _command_movement_formation_flag | _command_movement_final_facing_flag;
    data.formation_index = to_i16(formation);
    data.final_facing = (angle)(final_facing + (angle)squad_facing);
    handle_movement_command(get_map_action_identifier(squad_action_index), &data, living, units, 1, &place);
}

void test_squad_for_elimination(int32_t squad_action_index)
{
    if (squad_action_index == NONE || !get_map_action(squad_action_index)) return;
    int16_t identifiers[MAXIMUM_UNITS_PER_COMMAND], units[MAXIMUM_UNITS_PER_COMMAND];
    int32_t living;
    group_units(squad_action_index, identifiers, units, &living);
    if (living == 0) set_map_action_success(squad_action_index);
}
