// The flow-control procedures: 'acli', 'dela', 'lock', 'miss', 'mung', 'snif'.

#include "flow_control_action_procs.h"
#include "console_procedures.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "action_proc_helpers.h"
#include "cseries/registration.h"
#include "cseries/tags.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "monster_lists.h"
#include "monsters.h"
#include "script_math.h"
#include "vesk_random.h"

static procedure_slot<toggle_sniffing_procedure> toggle_sniffing_slot("toggle sniffing");

bool register_toggle_sniffing_procedure(toggle_sniffing_procedure procedure)
{
    return toggle_sniffing_slot.fill(procedure);
}

// The values of the first entry (links followed) when it holds exactly
// `count` of them.
static bool exact_values(int32_t action_index, field_tag name, int16_t type, int32_t count, void *values)
{
    map_action_parameter parameter;
    if (!get_map_action_parameter(&parameter, action_index, 0, name, type) || parameter.count != count) return false;
    return copy_map_action_parameter_values(&parameter, values, count) == count;
}

// ---- 'acli' -----------------------------------------------------------------------------------

// A chance (16.16) passes a draw of 0..255 when its upper bits, as 16-bit signed, exceed it.
static bool chance_passes(fixed chance, int32_t draw) { return to_i16(asr32(chance, 8)) > draw; }

uint32_t action_list_action_proc(int32_t action_index)
{
    int16_t identifiers[MAXIMUM_ACTION_IDENTIFIERS_PER_LIST];
    fixed chances[MAXIMUM_ACTION_IDENTIFIERS_PER_LIST];
    bool handled = false;
    const int32_t n = get_combined_map_action_parameter(action_index, field('a', 'c', 't', 'i'),
                                                        _parameter_action_identifier, identifiers,
                                                        MAXIMUM_ACTION_IDENTIFIERS_PER_LIST);
    if (n > 0)
    {
        const bool use_chances = exact_values(action_index, field('a', 'c', 'c', 'h'), _parameter_fixed, n, chances);
        const bool only = has_flag(action_index, field('o', 'n', 'l', 'y'));
        const bool random_start = has_flag(action_index, field('r', 'a', 'n', 'd'));
        if (!only && !random_start)
        {
            if (use_chances)
            {
                for (int32_t i = 0; i < n; i++)
                {
                    const int32_t draw = vesk_random() >> 8;
                    if (!chance_passes(chances[i], draw)) continue;
                    map_action_debug(action_index, "%d<%d, Activating action", draw, (int)to_i16(asr32(chances[i], 8)));
                    activate_map_action(action_identifier_to_action_index(identifiers[i]));
                }
            }
            else
            {
                map_action_debug(action_index, "Activating all actions");
                for (int32_t i = 0; i < n; i++) activate_map_action(action_identifier_to_action_index(identifiers[i]));
            }
            handled = true;
        }
        else
        {
            const int32_t start = random_start ? vesk_random() % n : 0;
            int32_t i = start;
            do
            {
                const int32_t target = action_identifier_to_action_index(identifiers[i]);
                const map_action *action = get_map_action(target);
                if (action && !((action->flags & _map_action_has_been_activated_flag) &&
                                (action->flags & _map_action_activates_only_once_flag)))
                {
                    if (!use_chances)
                    {
                        map_action_debug(action_index, "Activating single action");
                        activate_map_action(target);
                        handled = true;
                        break;
                    }
                    const int32_t draw = vesk_random() >> 8;
                    if (chance_passes(chances[i], draw))
                    {
                        map_action_debug(action_index, "%d<%d, Activating single action", draw,
                                         (int)to_i16(asr32(chances[i], 8)));
                        activate_map_action(target);
                        handled = true;
                        break;
                    }
                }
                i = (i + 1) % n;
            } while (i != start);
        }
    }
    const int32_t m = get_combined_map_action_parameter(action_index, field('d', 'e', 'a', 'c'),
                                                        _parameter_action_identifier, identifiers,
                                                        MAXIMUM_ACTION_IDENTIFIERS_PER_LIST);
    if (m > 0)
    {
        if (exact_values(action_index, field('d', 'e', 'c', 'h'), _parameter_fixed, m, chances))
        {
            for (int32_t i = 0; i < m; i++)
            {
                const int32_t draw = vesk_random() >> 8;
                if (!chance_passes(chances[i], draw)) continue;
                map_action_debug(action_index, "%d<%d, Deactivating action", draw, (int)to_i16(asr32(chances[i], 8)));
                deactivate_map_action(action_identifier_to_action_index(identifiers[i]));
                handled = true;
            }
            return handled ? _map_action_proc_succeeded_flag : 0;
        }
        map_action_debug(action_index, "Deactivating all actions");
        for (int32_t i = 0; i < m; i++) deactivate_map_action(action_identifier_to_action_index(identifiers[i]));
        return _map_action_proc_succeeded_flag;
    }
    return handled ? _map_action_proc_succeeded_flag : 0;
}

// ---- 'dela' -------------------------------------------------------------------------------------

static const field_tag delay_due_ticks_name = FOUR_CHARACTER_CODE('#', 'd', 'e', 'l');

uint32_t delay_action_proc(int32_t action_index)
{
    int16_t identifiers[MAXIMUM_DELAYED_UNITS], indexes[MAXIMUM_DELAYED_UNITS];
    const int32_t named = get_combined_map_action_parameter(action_index, _common_field_name_subject,
                                                            _parameter_monster_identifier, identifiers,
                                                            MAXIMUM_DELAYED_UNITS);
    if (named == 0) return 0;
    int32_t n = monster_identifiers_to_monster_indexes(identifiers, indexes, named);
    n = remove_monsters_that_have_left_the_mesh(indexes, n);
    if (n == 0)
    {
        map_action_debug(action_index, "nothing to test against!");
        return 0;
    }
    map_action_debug(action_index, "found %d monsters", n);
    fixed time;
    if (!get_indexed_long_integer_parameter(action_index, field('t', 'i', 'm', 'e'), _parameter_fixed, &time, 0))
    {
        map_action_error(action_index, "no delay time!");
        return 0;
    }
    const int32_t delay = (int32_t)(mul64(time, 30) / 65536);
    const int32_t now = game_->game_time;
    int32_t due[MAXIMUM_DELAYED_UNITS];
    map_action_parameter stored;
    if (!get_map_action_parameter(&stored, action_index, _dont_resolve_links_flag | _return_empty_arrays_flag,
                                  delay_due_ticks_name, _parameter_integer))
    {
        const bool spread = has_flag(action_index, field('d', 'i', 's', 't'));
        for (int32_t k = 0; k < n; k++)
        {
            if (spread)
                due[k] = (int32_t)(now + mul64(k + 1, delay) / n);
            else if (delay > 0)
                due[k] = (int32_t)(now + asr64(mul64(vesk_random(), delay), 16));
            else
                due[k] = now;
        }
        set_unique_map_action_parameter(action_index, delay_due_ticks_name, _parameter_integer, n, due);
        return 0;
    }
    int16_t result_identifier;
    if (!get_indexed_short_integer_parameter(action_index, field('r', 'e', 's', 'u'), _parameter_action_identifier,
                                             &result_identifier, 0))
    {
        map_action_error(action_index, "no action to add the results to!");
        return 0;
    }
    const int32_t receiver = action_identifier_to_action_index(result_identifier);
    if (receiver == NONE)
    {
        map_action_error(action_index, "action to add results to is NONE!");
        return 0;
    }
    // Units the list gained since the first run have no due tick: they are due now.
    const int32_t known = copy_map_action_parameter_values(&stored, due, n);
    for (int32_t k = known; k < n; k++) due[k] = 0;
    bool all_handed_before = true;
    int16_t handed[MAXIMUM_DELAYED_UNITS];
    int32_t handed_count = 0;
    for (int32_t k = 0; k < n; k++)
    {
        if (due[k] == NONE) continue;
        all_handed_before = false;
        if (now > due[k])
        {
            handed[handed_count++] = get_monster_data(indexes[k])->identifier;
            due[k] = NONE;
        }
    }
    set_unique_map_action_parameter(action_index, delay_due_ticks_name, _parameter_integer, n, due);
    if (handed_count == 0) return all_handed_before ? _map_action_proc_succeeded_flag : 0;
    int32_t type_name;
    if (!get_indexed_long_integer_parameter(action_index, field('t', 'y', 'p', 'e'), _parameter_field_name, &type_name, 0))
    {
        map_action_debug(action_index, "using default type 'subj'");
        type_name = _common_field_name_subject;
    }
    set_unique_map_action_parameter(receiver, type_name, _parameter_monster_identifier, handed_count, handed);
    activate_map_action(receiver);
    map_action_debug(action_index, "%d monsters added to %s", handed_count, get_map_action_name(receiver));
    return 0;
}

// ---- 'lock' ------------------------------------------------------------------------------------------

static const field_tag lock_state_name = FOUR_CHARACTER_CODE('#', 's', 't', 'a');

// The name of the entry for `unlocked` keys: '___2' from 1601, before it the
// decimal text as a tag ("2" is 0x00000032).
static field_tag lock_state_field_name(int32_t unlocked)
{
    char text[16];
    snprintf(text, sizeof(text), "%d", (int)unlocked);
    if (current_gameplay_version < 1601) return string_to_tag(text);
    char name[5] = "____";
    const size_t length = strlen(text) > 4 ? 4 : strlen(text);
    memcpy(name + 4 - length, text + strlen(text) - length, length);
    return FOUR_CHARACTER_CODE(name[0], name[1], name[2], name[3]);
}

uint32_t lock_action_proc(int32_t action_index)
{
    lock_action_globals lock;
    if (!get_map_action_structure(action_index, lock_state_name, sizeof(lock), &lock))
    {
        memset(&lock, 0, sizeof(lock));
        lock.key_count = (int16_t)get_combined_map_action_parameter(action_index, field('k', 'e', 'y', 's'),
                                                                    _parameter_action_identifier,
                                                                    lock.key_action_identifiers, MAXIMUM_KEYS_PER_LOCK);
        if (lock.key_count == 0)
        {
            map_action_error(action_index, "no keys found");
            map_action_debug(action_index, "no keys found for lock!");
            return 0;
        }
        lock.key_activation_identifier_count = (int16_t)get_combined_map_action_parameter(
            action_index, field('a', 'c', 't', 'i'), _parameter_action_identifier, lock.key_activation_identifiers,
            MAXIMUM_KEYS_PER_LOCK);
        lock.key_deactivation_identifier_count = (int16_t)get_combined_map_action_parameter(
            action_index, field('d', 'e', 'a', 'c'), _parameter_action_identifier, lock.key_deactivation_identifiers,
            MAXIMUM_KEYS_PER_LOCK);
        const bool none = lock.key_activation_identifier_count == 0 && lock.key_deactivation_identifier_count == 0;
        const bool all = lock.key_activation_identifier_count == lock.key_count &&
                         lock.key_deactivation_identifier_count == lock.key_count;
        if (!none && !all)
        {
            map_action_error(action_index,
                             "activation count != deactivation count, or they don't equal 0 or number of keys");
            map_action_debug(action_index, "no keys found for lock!");
            return 0;
        }
        lock.current_lock_count = NONE;
        if (has_flag(action_index, field('r', 'e', 'q', 's'))) lock.flags |= _requires_lock_state_success_flag;
    }
    const int32_t key_count = lock.key_count < 0 ? 0 : (lock.key_count > (int32_t)MAXIMUM_KEYS_PER_LOCK ? (int32_t)MAXIMUM_KEYS_PER_LOCK : (int32_t)lock.key_count);
    int16_t previous[MAXIMUM_KEYS_PER_LOCK];
    memcpy(previous, lock.current_states, sizeof(previous));
    for (int32_t k = 0; k < key_count; k++)
    {
        const int32_t key = action_identifier_to_action_index(lock.key_action_identifiers[k]);
        if (key == NONE)
        {
            map_action_debug(action_index, "action identifier missing!");
            lock.current_states[k] = 0;
            continue;
        }
        lock.current_states[k] = (trigger_map_action(key) & _map_action_proc_succeeded_flag) ? 1 : 0;
    }
    int32_t unlocked = 0;
    for (int32_t k = 0; k < key_count; k++)
    {
        unlocked += lock.current_states[k];
        if (lock.current_states[k] == previous[k]) continue;
        int16_t target_identifier = NONE;
        if (lock.current_states[k] == 1 && lock.key_activation_identifier_count > 0)
            target_identifier = lock.key_activation_identifiers[k];
        if (lock.current_states[k] == 0 && lock.key_deactivation_identifier_count > 0)
            target_identifier = lock.key_deactivation_identifiers[k];
        const int32_t target = action_identifier_to_action_index(target_identifier);
        if (target == NONE) continue;
        map_action_debug(action_index, "changing state of lock %d to %d", k, lock.current_states[k]);
        trigger_map_action(target);
    }
    if (unlocked != lock.current_lock_count)
    {
        map_action_parameter state;
        int16_t values[2] = {NONE, NONE};
        if (get_map_action_parameter(&state, action_index, 0, lock_state_field_name(unlocked), _parameter_action_identifier))
        {
            const int32_t count = copy_map_action_parameter_values(&state, values, 2);
            if (count >= 2)
            {
                const int32_t inhibition = action_identifier_to_action_index(values[1]);
                const uint32_t result = trigger_map_action(inhibition);
                map_action_debug(action_index, "trigger of inhibition %d returned 0x%x", values[1], (unsigned)result);
                if (result & _map_action_proc_succeeded_flag)
                {
                    map_action_debug(action_index, "inhibition not met");
                    set_unique_map_action_parameter(action_index, lock_state_name, _parameter_character, sizeof(lock), &lock);
                    return 0;
                }
            }
            const int32_t transition = action_identifier_to_action_index(values[0]);
            if (transition != NONE)
            {
                trigger_map_action(transition);
                map_action_debug(action_index, "key count changed from %d to %d, triggered '%s'", lock.current_lock_count,
                                 unlocked, get_map_action_name(transition));
                lock.current_lock_count = (int16_t)unlocked;
            }
            else
                map_action_debug(action_index, "no state transition action found?");
        }
        else
            map_action_debug(action_index, "no state transition action specified");
    }
    set_unique_map_action_parameter(action_index, lock_state_name, _parameter_character, sizeof(lock), &lock);
    return 0;
}

// ---- 'miss' ----------------------------------------------------------------------------------------

uint32_t mission_action_proc(int32_t action_index)
{
    if (has_flag(action_index, field('a', 'd', 'v', 'a')))
        if (const auto advance = get_console_procedures()->advance_mission) advance(1);
    return _map_action_proc_succeeded_flag;
}

// ---- 'mung' ----------------------------------------------------------------------------------------

namespace {

// One of the munger's entries, copied out of the buffer.
struct munger_operand
{
    field_tag field_name;
    int16_t type;
    int16_t count;
    std::vector<uint8_t> values;
};

typedef void (*munger_parameter_operation)(int32_t target, const munger_operand *operand);

void munger_insert_parameter(int32_t target, const munger_operand *operand)
{
    map_action_parameter parameter;
    if (!new_map_action_parameter(&parameter, target, operand->field_name, operand->type)) return;
    if (operand->count > 0) set_map_action_parameter(&parameter, operand->count, operand->values.data());
}

void munger_delete_parameter(int32_t target, const munger_operand *operand)
{
    const map_action *action = get_map_action(target);
    for (int32_t index = 0; action && index < action->parameter_count;)
    {
        const map_action_parameter_header *header = get_map_action_parameter_header(target, index);
        if (header && header->field_name == operand->field_name && header->type == operand->type)
        {
            if (!adjust_map_action_parameter_size(target, index, NONE)) return;
        }
        else
            index++;
        action = get_map_action(target);
    }
}

void munger_replace_parameter(int32_t target, const munger_operand *operand)
{
    munger_delete_parameter(target, operand);
    munger_insert_parameter(target, operand);
}

void munger_append_parameter(int32_t target, const munger_operand *operand)
{
    map_action_parameter parameter;
    if (!get_map_action_parameter(&parameter, target, _dont_resolve_links_flag | _return_empty_arrays_flag,
                                  operand->field_name, operand->type) &&
        !new_map_action_parameter(&parameter, target, operand->field_name, operand->type))
        return;
    if (operand->count > 0) append_to_map_action_parameter(&parameter, operand->count, operand->values.data());
}

enum munger_kind
{
    _munge_parameter = 0,
    _munge_action = 1,
};

struct munger_proc
{
    field_tag field_name;
    int16_t kind;
    munger_parameter_operation parameter_operation;
    map_action_function action_operation;
    int16_t after_version;
};

const munger_proc munger_procs[] = {
    {FOUR_CHARACTER_CODE('p', 'i', 'n', 's'), _munge_parameter, munger_insert_parameter, nullptr, 0},
    {FOUR_CHARACTER_CODE('p', 'r', 'e', 'p'), _munge_parameter, munger_replace_parameter, nullptr, 0},
    {FOUR_CHARACTER_CODE('p', 'd', 'e', 'l'), _munge_parameter, munger_delete_parameter, nullptr, 0},
    {FOUR_CHARACTER_CODE('p', 'a', 'p', 'p'), _munge_parameter, munger_append_parameter, nullptr, 0},
    {FOUR_CHARACTER_CODE('a', 'd', 'e', 'a'), _munge_action, nullptr, deactivate_map_action, 0},
    {FOUR_CHARACTER_CODE('a', 'a', 'c', 't'), _munge_action, nullptr, activate_map_action, 0},
    {FOUR_CHARACTER_CODE('a', 'd', 'e', 'l'), _munge_action, nullptr, delete_map_action, 0},
    {FOUR_CHARACTER_CODE('a', 's', 'u', 'c'), _munge_action, nullptr, set_map_action_success, 0},
    {FOUR_CHARACTER_CODE('a', 'r', 'e', 'b'), _munge_action, nullptr, reboot_map_action, 1720},
};

const munger_proc *find_munger_proc(field_tag field_name)
{
    for (const munger_proc &row : munger_procs)
        if (row.field_name == field_name && current_gameplay_version > row.after_version) return &row;
    return nullptr;
}

} // namespace

uint32_t munger_action_proc(int32_t action_index)
{
    map_action_debug(action_index, "Munging...");
    const map_action *self = get_map_action(action_index);
    if (!self) return 0;
    const int16_t identifier = self->identifier;
    // The munger's own entries are copied first: its operations may edit or
    // delete the munger itself, and its run moves whenever a target grows.
    std::vector<munger_operand> entries((size_t)self->parameter_count);
    for (int32_t i = 0; i < self->parameter_count; i++)
    {
        map_action_parameter parameter;
        if (!build_map_action_parameter(&parameter, action_index, i)) return 0;
        munger_operand *entry = &entries[(size_t)i];
        entry->field_name = parameter.field_name;
        entry->type = parameter.type;
        entry->count = parameter.count;
        const parameter_definition *definition = get_parameter_definition(parameter.type);
        if (definition && parameter.count > 0)
        {
            entry->values.resize((size_t)parameter.count * definition->size);
            copy_map_action_parameter_values(&parameter, entry->values.data(), parameter.count);
        }
    }
    for (size_t position = 0; position < entries.size();)
    {
        const munger_operand *command = &entries[position];
        size_t next = position + 1;
        if (command->type == _parameter_action_identifier && command->count >= 1)
        {
            const munger_proc *row = find_munger_proc(command->field_name);
            const int16_t *targets = (const int16_t *)command->values.data();
            for (int32_t i = 0; i < command->count; i++)
            {
                const int32_t target = action_identifier_to_action_index(targets[i]);
                if (target == NONE) continue;
                if (!row)
                {
                    map_action_debug(action_index, "bad munger field name %s", tag_to_string(command->field_name));
                    continue;
                }
                if (row->kind == _munge_action)
                    row->action_operation(target);
                else if (next < entries.size())
                    row->parameter_operation(target, &entries[next++]);
                if (!get_map_action(action_index) || get_map_action(action_index)->identifier != identifier) return 0;
            }
        }
        position = next;
    }
    return 0;
}

// ---- 'snif' ------------------------------------------------------------------------------------------

uint32_t sniffer_action_proc(int32_t action_index)
{
    int32_t test_case;
    if (!get_indexed_long_integer_parameter(action_index, field('c', 'a', 's', 'e'), _parameter_integer, &test_case, 0))
    {
        map_action_debug(action_index, "missing test case");
        return 0;
    }
    new_sniffing_data data;
    memset(&data, 0, sizeof(data));
    data.action_identifier = get_map_action_identifier(action_index);
    data.test_case = to_i16(test_case);
    int32_t initial_delay = 150;
    get_indexed_long_integer_parameter(action_index, field('i', 'n', 'd', 'e'), _parameter_integer, &initial_delay, 0);
    data.initial_delay_before_errors = initial_delay;
    int32_t times[2];
    if (exact_values(action_index, field('t', 'i', 'm', 'e'), _parameter_integer, 2, times))
    {
        data.time_between_errors_min = times[0];
        data.time_between_errors_delta = times[1];
    }
    else
    {
        data.time_between_errors_min = 150;
        data.time_between_errors_delta = 0;
    }
    if (!has_flag(action_index, field('n', 'c', 'l', 'r'))) data.flags |= _sniffing_clear_after_success_flag;
    if (has_flag(action_index, field('k', 'e', 'e', 'p')))
        data.flags |= _sniffing_keep_reporting_errors_after_initial_success_flag;
    const toggle_sniffing_procedure toggle = toggle_sniffing_slot.get();
    return toggle && toggle(&data) ? _map_action_proc_succeeded_flag : 0;
}
