#pragma once
// Procedures that steer the script itself: action lists with chances
// ('acli'), delays that feed units one by one into another action ('dela'),
// locks counting succeeded keys ('lock'), the mission advance ('miss'), the
// munger that edits other actions ('mung') and the tutorial watcher switch
// ('snif').  The mission and the watcher belong to later subsystems and are
// reached through registration points.

#include <cstdint>

#include "map_actions.h"

enum
{
    MAXIMUM_ACTION_IDENTIFIERS_PER_LIST = 32,
    MAXIMUM_KEYS_PER_LOCK = 8,
    MAXIMUM_DELAYED_UNITS = 400,
};

// The run-time record of a lock, stored as its '#sta' entry (host order).
struct lock_action_globals
{
    int16_t key_count;
    int16_t key_action_identifiers[MAXIMUM_KEYS_PER_LOCK];
    int16_t key_activation_identifier_count;
    int16_t key_activation_identifiers[MAXIMUM_KEYS_PER_LOCK];
    int16_t key_deactivation_identifier_count;
    int16_t key_deactivation_identifiers[MAXIMUM_KEYS_PER_LOCK];
    int16_t current_states[MAXIMUM_KEYS_PER_LOCK]; // 1: the key's last trigger succeeded
    int16_t current_lock_count; // unlocked keys at the last state change, NONE at first
    int16_t flags;
};
static_assert(sizeof(lock_action_globals) == 74);

enum lock_action_flags
{
    _requires_lock_state_success_flag = 1, // set by 'reqs'; has no further effect
};

// The tutorial watcher's request from a 'snif' action.
enum new_sniffing_data_flags : uint32_t
{
    _sniffing_clear_after_success_flag = 1,
    _sniffing_keep_reporting_errors_after_initial_success_flag = 2,
};

struct new_sniffing_data
{
    uint32_t flags;
    int16_t action_identifier;
    int16_t test_case;
    int32_t initial_delay_before_errors; // ticks
    int32_t time_between_errors_min;
    int32_t time_between_errors_delta;
};

uint32_t action_list_action_proc(int32_t action_index);
uint32_t delay_action_proc(int32_t action_index);
uint32_t lock_action_proc(int32_t action_index);
uint32_t mission_action_proc(int32_t action_index);
uint32_t munger_action_proc(int32_t action_index);
uint32_t sniffer_action_proc(int32_t action_index);

// ---- registration points ------------------------------------------------------------

// The tutorial watcher: starts watching for the request's test case and
// answers true for a query case that holds.  Until filled, 'snif' answers false.
typedef bool (*toggle_sniffing_procedure)(const new_sniffing_data *data);
bool register_toggle_sniffing_procedure(toggle_sniffing_procedure procedure);

// 'miss' advances the campaign through the console's table
// (console_procedures.h, `advance_mission`); until it registers nothing
// advances.
