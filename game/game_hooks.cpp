// The hook table's storage and registration.

#include "game_hooks.h"

#include "cseries/registration.h"

#define LIST_NAME(identifier, name) name,
static const char *const startup_step_names[] = {STARTUP_STEP_LIST(LIST_NAME)};
static const char *const map_step_names[] = {MAP_STEP_LIST(LIST_NAME)};
static const char *const tick_step_names[] = {TICK_STEP_LIST(LIST_NAME)};
static const char *const action_consumer_names[] = {ACTION_CONSUMER_LIST(LIST_NAME)};
#undef LIST_NAME

static const char *name_in(const char *const *names, int32_t count, int32_t index)
{
    return index >= 0 && index < count ? names[index] : "unknown";
}

const char *startup_step_name(startup_step step)
{
    return name_in(startup_step_names, NUMBER_OF_STARTUP_STEPS, step);
}

const char *map_step_name(map_step step)
{
    return name_in(map_step_names, NUMBER_OF_MAP_STEPS, step);
}

const char *tick_step_name(tick_step step)
{
    return name_in(tick_step_names, NUMBER_OF_TICK_STEPS, step);
}

const char *action_consumer_name(action_consumer consumer)
{
    return name_in(action_consumer_names, NUMBER_OF_ACTION_CONSUMERS, consumer);
}

static const char *startup_slot_name(int32_t index) { return startup_step_name((startup_step)index); }
static const char *map_slot_name(int32_t index) { return map_step_name((map_step)index); }
static const char *tick_slot_name(int32_t index) { return tick_step_name((tick_step)index); }
static const char *action_slot_name(int32_t index) { return action_consumer_name((action_consumer)index); }
static const char *state_slot_name(int32_t index) { return game_state_name((int16_t)index); }

static procedure_table<startup_procedure, NUMBER_OF_STARTUP_STEPS> startup_slots("start-up step", startup_slot_name);
static procedure_table<map_initialize_procedure, NUMBER_OF_MAP_STEPS> map_initialize_slots("map step initializer",
                                                                                          map_slot_name);
static procedure_table<map_dispose_procedure, NUMBER_OF_MAP_STEPS> map_dispose_slots("map step disposer",
                                                                                    map_slot_name);
static procedure_table<map_initialize_procedure, NUMBER_OF_STARTUP_STEPS> store_initialize_slots(
    "per-map stores initializer", startup_slot_name);
static procedure_table<map_dispose_procedure, NUMBER_OF_STARTUP_STEPS> store_dispose_slots("per-map stores disposer",
                                                                                          startup_slot_name);
static procedure_table<tick_procedure, NUMBER_OF_TICK_STEPS> tick_slots("tick step", tick_slot_name);
static procedure_slot<tick_observer_procedure> tick_observer_slot("tick observer");
static procedure_table<action_procedure, NUMBER_OF_ACTION_CONSUMERS> action_slots("action consumer",
                                                                                 action_slot_name);
static procedure_table<game_state_procedure, NUMBER_OF_GAME_STATES> state_entry_slots("game state entry",
                                                                                     state_slot_name);
static procedure_table<game_state_procedure, NUMBER_OF_GAME_STATES> state_exit_slots("game state exit",
                                                                                    state_slot_name);

#define CORE_PROCEDURE_DEFINITIONS(name, result, parameters)                                         \
    static procedure_slot<name##_procedure> name##_slot(#name);                                    \
    bool register_##name##_procedure(name##_procedure procedure) { return name##_slot.fill(procedure); } \
    name##_procedure get_##name##_procedure(void) { return name##_slot.get(); }
CORE_PROCEDURE_LIST(CORE_PROCEDURE_DEFINITIONS)
#undef CORE_PROCEDURE_DEFINITIONS

template <typename A, typename B, typename T1, typename T2>
static bool fill_pair(T1 *first, T2 *second, int32_t index, A a, B b)
{
    return fill_registration_pair(first->raw(), second->raw(), index, reinterpret_cast<any_procedure>(a),
                                  reinterpret_cast<any_procedure>(b));
}

bool register_startup_procedure(startup_step step, startup_procedure procedure)
{
    return startup_slots.fill(step, procedure);
}

bool register_map_procedures(map_step step, map_initialize_procedure initialize, map_dispose_procedure dispose)
{
    return fill_pair(&map_initialize_slots, &map_dispose_slots, step, initialize, dispose);
}

bool register_map_store_procedures(startup_step step, map_initialize_procedure initialize,
                                   map_dispose_procedure dispose)
{
    return fill_pair(&store_initialize_slots, &store_dispose_slots, step, initialize, dispose);
}

bool register_tick_procedure(tick_step step, tick_procedure procedure)
{
    return tick_slots.fill(step, procedure);
}

bool register_tick_observer_procedure(tick_observer_procedure procedure)
{
    return tick_observer_slot.fill(procedure);
}

bool register_action_procedure(action_consumer consumer, action_procedure procedure)
{
    return action_slots.fill(consumer, procedure);
}

bool register_game_state_procedures(game_state state, game_state_procedure entry, game_state_procedure exit)
{
    return fill_pair(&state_entry_slots, &state_exit_slots, state, entry, exit);
}

startup_procedure get_startup_procedure(startup_step step) { return startup_slots.get(step); }
map_initialize_procedure get_map_initialize_procedure(map_step step) { return map_initialize_slots.get(step); }
map_dispose_procedure get_map_dispose_procedure(map_step step) { return map_dispose_slots.get(step); }
map_initialize_procedure get_map_store_initialize_procedure(startup_step step)
{
    return store_initialize_slots.get(step);
}
map_dispose_procedure get_map_store_dispose_procedure(startup_step step) { return store_dispose_slots.get(step); }
tick_procedure get_tick_procedure(tick_step step) { return tick_slots.get(step); }
tick_observer_procedure get_tick_observer_procedure(void) { return tick_observer_slot.get(); }
action_procedure get_action_procedure(action_consumer consumer) { return action_slots.get(consumer); }
game_state_procedure get_game_state_entry_procedure(game_state state) { return state_entry_slots.get(state); }
game_state_procedure get_game_state_exit_procedure(game_state state) { return state_exit_slots.get(state); }

void unregister_map_procedures(map_step step)
{
    if (!VASSERT(step >= 0 && step < NUMBER_OF_MAP_STEPS, "unregistering a map step outside the list")) return;
    map_initialize_slots.raw()->slots[step] = nullptr;
    map_dispose_slots.raw()->slots[step] = nullptr;
}

void reset_game_hooks(void)
{
    clear_all_registrations();
}
