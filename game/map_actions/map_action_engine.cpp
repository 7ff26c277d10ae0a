// The engine of the map actions: activation, triggering, deactivation and
// the script pass every 32 ticks.

#include "map_action_engine.h"

#include <cstdio>
#include <cstring>

#include "action_procs.h"
#include "attack_ai.h"
#include "spatial_groups.h"
#include "cseries/tags.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_action_parameters.h"
#include "model_effects.h"
#include "monster_actions.h"
#include "monster_ambient_life.h"
#include "monster_life.h"
#include "monsters.h"
#include "players.h"
#include "script_math.h"
#include "tag_files/data.h"
#include "vesk_random.h"

static struct map_action_engine_globals
{
    // Slots whose activation or deactivation lists are running: a call that
    // would change such an action's state again is skipped, which ends a
    // cycle through those lists.
    uint8_t in_transition[MAXIMUM_MAP_ACTIONS_PER_MAP];
} map_action_engine_globals;

void reset_map_action_engine(void)
{
    memset(&map_action_engine_globals, 0, sizeof(map_action_engine_globals));
    get_map_action_globals()->trigger_stack_size = 0;
}

bool map_action_is_in_transition(int32_t action_index)
{
    return action_index >= 0 && action_index < MAXIMUM_MAP_ACTIONS_PER_MAP &&
           map_action_engine_globals.in_transition[action_index];
}

// The action at `action_index` while it still holds `identifier`.
static map_action *same_action(int32_t action_index, int16_t identifier)
{
    map_action *action = get_map_action(action_index);
    return action && action->identifier == identifier ? action : nullptr;
}

int32_t map_action_delay(const map_action *action)
{
    const int32_t lower_bound = action->trigger_time_lower_bound;
    if (action->trigger_time_delta <= 0) return lower_bound;
    const uint32_t value = vesk_random();
    // The low 32 bits of the product, read as signed, shifted with sign.
    const int32_t product = (int32_t)(value * (uint32_t)action->trigger_time_delta);
    return add32_wrap(lower_bound, asr32(product, 16));
}

// ---- chain lists ---------------------------------------------------------------------

struct chain_rule
{
    constexpr chain_rule(field_tag name, map_action_function procedure)
        : field_name(name), function(procedure), summary_bit(map_action_summary_bit(name))
    {
    }
    field_tag field_name;
    map_action_function function;
    uint32_t summary_bit; // 0 when the summary does not cover the name
};

// Reads the action's own type-3 entries in stored order and, for each whose
// name has a rule, calls the rule's function with every identifier of the
// list (the first 30), in order, NONE for one naming no action.  Stops when
// the action itself goes away.
[[gnu::noinline]] static void run_listed_chain_lists(int32_t action_index, const chain_rule *rules, int32_t rule_count)
{
    const map_action *action = get_map_action(action_index);
    if (!action) return;
    const int16_t identifier = action->identifier;
    for (int32_t parameter_index = 0;; parameter_index++)
    {
        action = same_action(action_index, identifier);
        if (!action || parameter_index >= action->parameter_count) return;
        map_action_parameter parameter;
        if (!build_map_action_parameter(&parameter, action_index, parameter_index)) return;
        if (parameter.type != _parameter_action_identifier || parameter.count < 1) continue;
        for (int32_t r = 0; r < rule_count; r++)
        {
            if (rules[r].field_name != parameter.field_name) continue;
            int16_t identifiers[MAXIMUM_LOCAL_ACTION_IDENTIFIERS];
            const int32_t count = copy_map_action_parameter_values(&parameter, identifiers, MAXIMUM_LOCAL_ACTION_IDENTIFIERS);
            call_function_with_action_identifiers(rules[r].function, identifiers, count);
            break;
        }
    }
}

// The lists are looked for only when the action's summary says it has one
// of them: most actions have none, and the summary of the action being
// triggered is at hand.  The rules are constants, so is their mask.
template <int32_t rule_count>
[[gnu::always_inline]] static inline void run_chain_lists(int32_t action_index, const chain_rule (&rules)[rule_count])
{
    uint32_t mask = 0;
    bool summarized = true;
    for (const chain_rule &rule : rules)
    {
        mask |= rule.summary_bit;
        summarized = summarized && rule.summary_bit != 0;
    }
    // No list to run: nothing would be called, so nothing could change.
    if (summarized && !(get_map_action_own_entry_summary(action_index) & mask)) return;
    run_listed_chain_lists(action_index, rules, rule_count);
}

// ---- activation and deactivation --------------------------------------------------------

void activate_map_action(int32_t action_index)
{
    map_action *action = get_map_action(action_index);
    if (!action || (action->flags & _map_action_is_active_flag)) return;
    if ((action->flags & _map_action_has_been_activated_flag) && (action->flags & _map_action_activates_only_once_flag))
        return;
    if (map_action_engine_globals.in_transition[action_index]) return;
    const int16_t identifier = action->identifier;
    map_action_engine_globals.in_transition[action_index] = 1;
    static constexpr chain_rule rules[] = {{_map_action_field_name_activate_on_activation, activate_map_action},
                                       {_map_action_field_name_deactivate_on_activation, deactivate_map_action}};
    run_chain_lists(action_index, rules);
    map_action_engine_globals.in_transition[action_index] = 0;
    action = same_action(action_index, identifier);
    if (!action) return;
    action->flags |= _map_action_is_active_flag | _map_action_has_been_activated_flag | _map_action_was_just_activated_flag;
    action->trigger_time = game_->game_time;
    if (!(action->flags & _map_action_no_initial_delay_flag))
        action->trigger_time = add32_wrap(game_->game_time, map_action_delay(action));
    get_map_action_globals()->map_actions_state++;
}

void deactivate_map_action(int32_t action_index)
{
    map_action *action = get_map_action(action_index);
    if (!action || !(action->flags & _map_action_is_active_flag)) return;
    if (map_action_engine_globals.in_transition[action_index]) return;
    const int16_t identifier = action->identifier;
    map_action_engine_globals.in_transition[action_index] = 1;
    static constexpr chain_rule rules[] = {{_map_action_field_name_activate_on_deactivation, activate_map_action},
                                       {_map_action_field_name_deactivate_on_deactivation, deactivate_map_action}};
    run_chain_lists(action_index, rules);
    map_action_engine_globals.in_transition[action_index] = 0;
    action = same_action(action_index, identifier);
    if (!action) return;
    map_action_debug(action_index, "deactivated");
    action->flags &= ~(uint32_t)_map_action_is_active_flag;
    get_map_action_globals()->map_actions_state++;
    if (current_gameplay_version >= 1601 && (action->flags & _map_action_deleted_on_deactivation_flag))
        delete_map_action(action_index);
}

// ---- success, failure, error ----------------------------------------------------------------

void set_map_action_success(int32_t action_index)
{
    map_action *action = get_map_action(action_index);
    if (!action) return;
    const int16_t identifier = action->identifier;
    if (map_action_debug_enabled(action_index)) map_action_debug(action_index, "succeeded");
    action->flags |= _map_action_succeeded_flag;
    get_map_action_globals()->map_actions_state++;
    static constexpr chain_rule rules[] = {{_map_action_field_name_activate_on_success, activate_map_action},
                                       {_map_action_field_name_deactivate_on_success, deactivate_map_action}};
    run_chain_lists(action_index, rules);
    action = same_action(action_index, identifier);
    if (action && action->deactivation_mode == _map_action_deactivates_on_successful_execution)
        deactivate_map_action(action_index);
}

void set_map_action_failure(int32_t action_index)
{
    map_action *action = get_map_action(action_index);
    if (!action) return;
    action->flags &= ~(uint32_t)_map_action_succeeded_flag;
    get_map_action_globals()->map_actions_state++;
    if (action->deactivation_mode == _map_action_deactivates_on_execution ||
        action->deactivation_mode == _map_action_deactivates_on_failed_execution)
        map_action_debug(action_index, "failed");
    static constexpr chain_rule rules[] = {{_map_action_field_name_activate_on_failure, activate_map_action},
                                       {_map_action_field_name_deactivate_on_failure, deactivate_map_action}};
    run_chain_lists(action_index, rules);
}

void set_map_action_error(int32_t action_index)
{
    if (!get_map_action(action_index)) return;
    map_action_debug(action_index, "had an error");
    static constexpr chain_rule rules[] = {{_map_action_field_name_activate_on_error, activate_map_action},
                                       {_map_action_field_name_deactivate_on_error, deactivate_map_action}};
    run_chain_lists(action_index, rules);
}

void reboot_map_action(int32_t action_index)
{
    map_action *action = get_map_action(action_index);
    if (!action) return;
    const int16_t identifier = action->identifier;
    for (int32_t parameter_index = 0; (action = same_action(action_index, identifier)) &&
                                      parameter_index < action->parameter_count;)
    {
        const map_action_parameter_header *header = get_map_action_parameter_header(action_index, parameter_index);
        if (header && ((uint32_t)header->field_name >> 24) == (uint32_t)_common_internal_field_name_prefix)
        {
            if (!adjust_map_action_parameter_size(action_index, parameter_index, NONE)) return;
        }
        else
            parameter_index++;
    }
    if (!action) return;
    action->flags &= ~(uint32_t)_map_action_runtime_flags;
    get_map_action_globals()->map_actions_state++;
    if (action->flags & _map_action_initially_active_flag) activate_map_action(action_index);
}

void belated_initial_activation(int32_t action_index)
{
    const map_action *action = get_map_action(action_index);
    if (action && get_map_action_globals()->initial_actions_activated &&
        (action->flags & _map_action_initially_active_flag))
        activate_map_action(action_index);
}

// ---- triggering ---------------------------------------------------------------------------

static void trigger_ignoring_result(int32_t action_index) { trigger_map_action(action_index); }

// Whether the local player's index (or team) is among the values of the
// action's first `field_name` entry of integers (links followed); false
// when there is no such entry, which `present` tells apart.
static bool local_restriction_allows(int32_t action_index, field_tag field_name, int32_t local_value, bool *present)
{
    map_action_parameter parameter;
    *present = get_map_action_parameter(&parameter, action_index, 0, field_name, _parameter_integer);
    if (!*present) return false;
    const int32_t *values = (const int32_t *)extract_parameter_array_address(&parameter);
    for (int32_t i = 0; values && i < parameter.count; i++)
        if (values[i] == local_value) return true;
    return false;
}

// The conditions: NONE when they hold, else the name of the first list that
// failed ('prer' or 'inhi').
static field_tag failed_condition(int32_t action_index)
{
    constexpr uint32_t mask = map_action_summary_bit(_map_action_field_name_prerequisites) |
                              map_action_summary_bit(_map_action_field_name_inhibitors);
    if (!(get_map_action_own_entry_summary(action_index) & mask)) return NONE;
    const map_action *action = get_map_action(action_index);
    for (int32_t parameter_index = 0; action && parameter_index < action->parameter_count; parameter_index++)
    {
        map_action_parameter parameter;
        if (!build_map_action_parameter(&parameter, action_index, parameter_index)) break;
        if (parameter.type != _parameter_action_identifier || parameter.count < 1) continue;
        const bool prerequisites = parameter.field_name == _map_action_field_name_prerequisites;
        if (!prerequisites && parameter.field_name != _map_action_field_name_inhibitors) continue;
        const int16_t *identifiers = (const int16_t *)extract_parameter_array_address(&parameter);
        if (!identifiers) break;
        const bool any_succeeded = test_actions_for_success(identifiers, parameter.count, false);
        if (prerequisites && !any_succeeded) return _map_action_field_name_prerequisites;
        if (!prerequisites && any_succeeded) return _map_action_field_name_inhibitors;
    }
    return NONE;
}

static uint32_t run_triggered_action(int32_t action_index)
{
    const int16_t identifier = get_map_action(action_index)->identifier;
    const field_tag failed = failed_condition(action_index);
    if (failed != NONE)
    {
        const bool inhibited = failed == _map_action_field_name_inhibitors;
        map_action_debug(action_index, inhibited ? "inhibited" : "missing prerequisites");
        static constexpr chain_rule inhibited_rules[] = {{_map_action_field_name_activate_when_inhibited, activate_map_action}};
        static constexpr chain_rule missing_rules[] = {
            {_map_action_field_name_activate_when_missing_prerequisites, activate_map_action}};
        if (inhibited)
            run_chain_lists(action_index, inhibited_rules);
        else
            run_chain_lists(action_index, missing_rules);
        return 0;
    }
    static constexpr chain_rule trigger_rules[] = {{_map_action_field_name_activate_on_trigger, activate_map_action},
                                               {_map_action_field_name_activate_on_execution, activate_map_action},
                                               {_map_action_field_name_trigger_simultaneously, trigger_ignoring_result}};
    run_chain_lists(action_index, trigger_rules);
    map_action *action = same_action(action_index, identifier);
    if (!action) return 0;
    if (action->tag == NONE)
    {
        map_action_debug(action_index, "can't execute NULL actions");
        return _map_action_proc_executed_flag;
    }
    const registered_map_action_proc *row = action_tag_to_action_proc(action->tag);
    if (!row)
    {
        map_action_debug(action_index, "couldn't locate action tag '%s'.", tag_to_string(action->tag));
        return _map_action_proc_executed_flag;
    }
    uint32_t result;
    if (!(row->flags & _map_action_proc_local_flag) || current_gameplay_version <= 1720)
        result = row->action_proc(action_index) | _map_action_proc_executed_flag;
    else
    {
        bool present;
        const bool player_allowed = local_restriction_allows(action_index, _common_field_name_player_restriction_list,
                                                             local_player_index, &present);
        if (present)
        {
            if (player_allowed) row->action_proc(action_index);
            result = _map_action_proc_executed_flag;
        }
        else
        {
            const bool team_allowed = local_restriction_allows(action_index, _common_field_name_team_restriction_list,
                                                               local_player_team_index, &present);
            if (present)
            {
                if (team_allowed) row->action_proc(action_index);
                result = _map_action_proc_executed_flag;
            }
            else
                result = row->action_proc(action_index) | _map_action_proc_executed_flag;
        }
    }
    action = same_action(action_index, identifier);
    if (action)
    {
        action->flags &= ~(uint32_t)(_map_action_succeeded_flag | _map_action_was_just_activated_flag);
        get_map_action_globals()->map_actions_state++;
    }
    return result;
}

uint32_t trigger_map_action(int32_t action_index)
{
    if (!get_map_action(action_index)) return 0;
    map_action_globals *globals = get_map_action_globals();
    if (globals->trigger_stack_size >= MAXIMUM_TRIGGER_STACK_SIZE)
    {
        map_action_debug(action_index, "recursion limit is #%d", (int)MAXIMUM_TRIGGER_STACK_SIZE);
        return 0;
    }
    for (int32_t i = 0; i < globals->trigger_stack_size; i++)
        if (globals->trigger_stack[i] == action_index)
        {
            map_action_debug(action_index, "no trigger recursion");
            return 0;
        }
    globals->trigger_stack[globals->trigger_stack_size++] = (int16_t)action_index;
    const uint32_t result = run_triggered_action(action_index);
    globals->trigger_stack_size--;
    return result;
}

// ---- the pass --------------------------------------------------------------------------------

static bool deactivation_decided(const map_action *action, uint32_t result)
{
    if (result & _map_action_proc_deactivate_flag) return true;
    switch (action->deactivation_mode)
    {
    case _map_action_deactivates_on_trigger: return true;
    case _map_action_deactivates_on_execution: return (result & 1) != 0;
    case _map_action_deactivates_on_successful_execution: return (result & 3) == 3;
    case _map_action_deactivates_never: return false;
    case _map_action_deactivates_on_failed_execution: return (result & 3) == 1;
    default:
    {
        char text[96];
        snprintf(text, sizeof(text), "action @%p has bad deactivation_mode #%d", (const void *)action,
                 (int)action->deactivation_mode);
        HALT(text);
        return true;
    }
    }
}

static void trigger_due_action(int32_t action_index)
{
    map_action *action = get_map_action(action_index);
    const map_action before = *action;
    if (map_action_debug_enabled(action_index)) map_action_debug(action_index, "trigger");
    const uint32_t result = trigger_map_action(action_index);
    if (result & _map_action_proc_executed_flag)
    {
        if (result & _map_action_proc_succeeded_flag)
            set_map_action_success(action_index);
        else
            set_map_action_failure(action_index);
    }
    action = same_action(action_index, before.identifier);
    // A slot freed during its own trigger decides with the record it had.
    const bool deactivate = deactivation_decided(action ? action : &before, result);
    action = same_action(action_index, before.identifier);
    if (!action && current_gameplay_version >= 1720) return;
    if (deactivate)
    {
        // A freed slot is never deactivated (or deleted) again.
        if (action) deactivate_map_action(action_index);
        return;
    }
    // Below 1720 a freed slot keeps the rescheduling arithmetic and its draw.
    const map_action *timing = action ? action : &before;
    const int32_t next = (timing->flags & _map_action_only_initial_delay_flag)
                             ? game_->game_time
                             : add32_wrap(game_->game_time, map_action_delay(timing));
    if (action)
    {
        action->trigger_time = next;
        get_map_action_globals()->map_actions_state++;
    }
}

int16_t demo_attacking_team_index(int32_t game_time)
{
    const int16_t teams = get_team_count();
    return teams > 0 ? (int16_t)((game_time >> 5) % teams) : (int16_t)NONE;
}

void update_map_actions(void)
{
    map_action_globals *globals = get_map_action_globals();
    if (!globals->initialized) return;
    if (game_->game_time & (MAP_ACTION_FREQUENCY - 1)) return;
    datum_globals *array = get_map_action_array();
    if (!globals->initial_actions_activated)
    {
        for (int32_t index = 0; index < array->count; index++)
        {
            const map_action *action = get_map_action(index);
            if (action && (action->flags & _map_action_initially_active_flag)) activate_map_action(index);
        }
        globals->initial_actions_activated = true;
    }
    build_spatial_groups();
    reset_attack_ai();
    if (game_->type == _game_type_demo)
    {
        const int16_t team = demo_attacking_team_index(game_->game_time);
        if (team != NONE) attack_with_all_monster_indexes(team);
    }
    else
    {
        // The bound is read at every step: actions made during the pass
        // beyond the current slot are visited too.
        begin_map_action_parameter_edits();
        for (int32_t index = 0; index < array->count; index++)
        {
            const map_action *action = get_map_action(index);
            if (action && (action->flags & _map_action_is_active_flag) && game_->game_time >= action->trigger_time)
                trigger_due_action(index);
        }
        end_map_action_parameter_edits();
    }
    update_attack_ai();
}

// ---- the units' points ---------------------------------------------------------------------

// A unit finished an order a script gave, or a model effect a script started
// ended; the value is the identifier the script passed with it.
static void map_action_order_succeeded(int32_t internal_command_identifier)
{
    const int32_t action_index = action_identifier_to_action_index(internal_command_identifier);
    if (action_index != NONE) set_map_action_success(action_index);
}

static void delete_monster_map_action(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster || monster->map_action_index == NONE) return;
    const int32_t action_index = monster->map_action_index;
    monster->map_action_index = NONE;
    delete_map_action(action_index);
}

const map_action_procedures *map_action_engine_procedures(void)
{
    static const map_action_procedures procedures = {
        .map_action_succeeded = map_action_order_succeeded,
        .create_map_action_for_monster = create_map_action_for_new_monster,
        .delete_monster_map_action = delete_monster_map_action,
    };
    return &procedures;
}
