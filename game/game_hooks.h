#pragma once
// The hook table: the only way the game core calls the subsystems built after
// it (units, scripts, input, films, screen, dialogs, renderer, sound,
// networking, lobby).  Each later subsystem registers its procedures here at
// start-up (before initialize_vesk); a slot nobody registered is skipped, so
// the core builds and runs with every hook empty.
//
// Every ordered list below is written once, as an X-macro: its enum, its
// names (the log's "initializing <step>" lines), the tables and the order
// tests all read the one list, and docs/architecture.md is checked against
// it.  The list order is the order in which the core calls the steps, and is
// part of the game's behaviour (the tick order decides whether films and
// network games stay in step).  New steps are added in their place in the
// list, never by calling out of order.
//
// Every registration follows cseries/registration.h: a null procedure, a step
// outside its list or a slot another procedure holds is refused with an
// assertion and changes nothing; the first registration stays.
//
// Main thread only; register before the main loop starts.

#include <cstddef>

#include "cseries/cseries.h"
#include "game_states.h"

struct action_data; // one input action, defined by the input layer
struct new_game_data;
struct sync_command_data;

// ---- start-up: initialize_vesk calls these once, in this order --------------

#define STARTUP_STEP_LIST(X)                                          \
    X(definitions_and_errors, "definitions registry and error state") \
    X(preloading, "preloading")                                       \
    X(poweruser_settings, "power-user settings")                      \
    X(screenshots, "screenshots")                                     \
    X(cutscenes, "cutscenes")                                         \
    X(collections, "collections")                                     \
    X(fonts, "fonts")                                                 \
    X(game_record, "game record")                                     \
    X(plugin_component_preferences, "plug-in component preferences")  \
    X(tag_files, "tag files")                                         \
    X(single_instance_lock, "single-instance lock")                   \
    X(input_definitions, "input definitions")                         \
    X(renderer, "renderer")                                           \
    X(interface, "interface")                                         \
    X(console, "console")                                             \
    X(overhead_map, "overhead map")                                   \
    X(fades, "fades")                                                 \
    X(media, "media")                                                 \
    X(models, "models")                                               \
    X(markers, "markers")                                             \
    X(objects, "objects")                                             \
    X(scenery, "scenery")                                             \
    X(projectiles, "projectiles")                                     \
    X(units, "units")                                                 \
    X(visibility_buffers, "visibility buffers")                       \
    X(explosions, "explosions")                                       \
    X(players, "players")                                             \
    X(statistics, "statistics")                                       \
    X(flags, "flags")                                                 \
    X(mesh_effects, "mesh effects")                                   \
    X(map_actions, "map actions")                                     \
    X(particles, "particles")                                         \
    X(wind, "wind")                                                   \
    X(commands, "commands")                                           \
    X(recording, "recording")                                         \
    X(detail_maps, "detail maps")                                     \
    X(mesh, "mesh")                                                   \
    X(lightning, "lightning")                                         \
    X(connectors, "connectors")                                       \
    X(fire, "fire")                                                   \
    X(local_projectiles, "local projectiles")                         \
    X(model_animations, "model animations")                           \
    X(key_bindings, "key bindings")                                   \
    X(game_preferences, "game preferences")                           \
    X(screen, "screen")                                               \
    X(actions, "actions")                                             \
    X(observer, "observer")                                           \
    X(formations, "formations")                                       \
    X(sound_manager, "sound manager")                                 \
    X(sound_lists, "sound lists")                                     \
    X(game_sounds, "game sounds")                                     \
    X(model_effects, "model effects")                                 \
    X(overhead_text, "overhead text")

#define STARTUP_STEP_ENUM_VALUE(identifier, name) _startup_##identifier,
enum startup_step
{
    STARTUP_STEP_LIST(STARTUP_STEP_ENUM_VALUE)
    NUMBER_OF_STARTUP_STEPS
};
#undef STARTUP_STEP_ENUM_VALUE

// Brings one subsystem up.  False stops the start-up: the procedure has told
// the player why (message box or error), and the program exits.
typedef bool (*startup_procedure)(void);

// ---- map life: initialize_vesk_for_new_map calls the initializers in this
// order, dispose_vesk_from_old_map the disposers in the reverse order ---------

#define MAP_STEP_LIST(X)                                                                                                      \
    X(tag_files, "tag files")                 /* plug-ins the game needs, the tag files */                                    \
    X(definitions, "definitions")             /* per-map stores emptied, in start-up order (the core's own step) */           \
    X(players, "players")                     /* players and teams from the set-up */                                         \
    X(mesh, "mesh")                           /* the terrain and its blocks, media, lighting */                               \
    X(markers, "markers")                     /* the markers and palettes stored in the mesh */                               \
    X(visibility_buffers, "visibility buffers") /* the local player's fog of war, sized by the mesh */                        \
    X(render, "render")                                                                                                       \
    X(interface, "interface")                                                                                                 \
    X(console, "console")                                                                                                     \
    X(bars, "bars")                           /* control bar and status bar */                                                \
    X(ingame_dialogs, "in-game dialogs")      /* the quit and hints dialogs close with the map */                             \
    X(overhead_map, "overhead map")                                                                                           \
    X(detail_maps, "detail maps")                                                                                             \
    X(sound, "sound")                                                                                                         \
    X(camera_control, "camera control")                                                                                       \
    X(tutorial, "tutorial")                                                                                                   \
    X(local_projectiles, "local projectiles")                                                                                 \
    X(fades, "fades")                                                                                                         \
    X(overhead_text, "overhead text")                                                                                         \
    X(commands, "commands")                                                                                                   \
    X(statistics, "statistics")                                                                                               \
    X(world_effects, "world effects")         /* lightning, fire, wind, particles, mesh effects, connectors, mirror groups */ \
    X(map_actions, "map actions")                                                                                             \
    X(preload_map_action_tags, "preload map action tags")                                                                     \
    X(place_models, "place models")                                                                                           \
    X(place_scenery, "place scenery")                                                                                         \
    X(place_projectiles, "place projectiles")                                                                                 \
    X(place_units, "place units")                                                                                             \
    X(place_local_projectile_groups, "place local projectile groups")                                                         \
    X(place_sound_sources, "place sound sources")                                                                             \
    X(unit_visibility, "unit visibility")                                                                                     \
    X(observer, "observer")                                                                                                   \
    X(recording, "recording")

#define MAP_STEP_ENUM_VALUE(identifier, name) _map_##identifier,
enum map_step
{
    MAP_STEP_LIST(MAP_STEP_ENUM_VALUE)
    NUMBER_OF_MAP_STEPS
};
#undef MAP_STEP_ENUM_VALUE

// `data` is the checked set-up of the game being started; the core has copied
// its parameters into game_, set the gameplay version and seeded vesk_random.
// False refuses the map: the procedure has reported why; the steps already
// done are disposed in reverse order.
typedef bool (*map_initialize_procedure)(const new_game_data *data);
typedef void (*map_dispose_procedure)(void);

// ---- per-map stores: the map step _map_definitions empties the definition
// groups and data arrays of every module in start-up order (a module's slot is
// its start-up step), and its disposal frees them in the reverse order --------

// ---- the game tick: update_vesk calls these once per tick, in this order ----
// (two pairs are alternatives: _tick_units above gameplay version 1300,
// _tick_units_1300 up to it; _tick_statistics stands at its place below 1701
// and after _tick_fades from 1701 on.)

#define TICK_STEP_LIST(X)                                                                              \
    X(unit_commands, "unit commands")         /* commands due at this tick */                          \
    X(lightning, "lightning")                                                                          \
    X(projectiles, "projectiles")                                                                      \
    X(units, "units")                         /* gameplay versions above 1300 */                       \
    X(units_1300, "units 1300")               /* gameplay versions 1300 and below */                   \
    X(mesh_effects, "mesh effects")                                                                    \
    X(map_actions, "map actions")             /* also called once at the end of map start-up */        \
    X(explosions, "explosions")                                                                        \
    X(particle_clock, "particle clock")                                                                \
    X(statistics, "statistics")               /* here below 1701, else after the fades */              \
    X(model_effects, "model effects")                                                                  \
    X(fire, "fire")                                                                                    \
    X(mirror_groups, "mirror groups")                                                                  \
    X(camera_tracking, "camera tracking")     /* local: draws only local_random */                     \
    X(scripted_camera, "scripted camera")     /* local */                                              \
    X(connectors, "connectors")                                                                        \
    X(animating_scenery, "animating scenery")                                                          \
    X(wind, "wind")                                                                                    \
    X(model_animations, "model animations")                                                            \
    X(overhead_text, "overhead text")                                                                  \
    X(fades, "fades")                                                                                  \
    X(time_limit_expired, "time limit expired") /* called once, on the tick the time limit runs out */ \
    X(endgame, "endgame")                     /* after game time advanced: the ending countdown */     \
    X(autosave, "autosave")                   /* last, after the sync bookkeeping */

#define TICK_STEP_ENUM_VALUE(identifier, name) _tick_##identifier,
enum tick_step
{
    TICK_STEP_LIST(TICK_STEP_ENUM_VALUE)
    NUMBER_OF_TICK_STEPS
};
#undef TICK_STEP_ENUM_VALUE

typedef void (*tick_procedure)(void);

// Called once at the end of every tick, after game time advanced, the ending
// countdown, the sync bookkeeping and the autosave step: the state it sees is
// the state the tick leaves.  An observer never changes synchronized state of
// that tick (it may act for the tick about to start).  Not a tick step.
typedef void (*tick_observer_procedure)(void);

// ---- process_action: the consumers of one input action, in this order -------

#define ACTION_CONSUMER_LIST(X)                                                                    \
    X(cursor_visibility, "cursor visibility") /* sees every action */                              \
    X(modal_loop, "modal loop")               /* true (used): the action goes no further */        \
    X(global_keys, "global keys")             /* camera flags, game speed, pause, bars, chat... */ \
    X(dialogs, "dialogs")                     /* true: no further */                               \
    X(pointer_to_view, "pointer to view")     /* only while the world is shown, from here on */    \
    X(tutorial_watcher, "tutorial watcher")   /* may clear the action record */                    \
    X(overhead_map, "overhead map")           /* true: no further */                               \
    X(selection, "selection")                 /* true: the camera does not get it */               \
    X(camera, "camera")

#define ACTION_CONSUMER_ENUM_VALUE(identifier, name) _action_##identifier,
enum action_consumer
{
    ACTION_CONSUMER_LIST(ACTION_CONSUMER_ENUM_VALUE)
    NUMBER_OF_ACTION_CONSUMERS
};
#undef ACTION_CONSUMER_ENUM_VALUE

typedef bool (*action_procedure)(action_data *action);

// ---- game states: entry and exit actions ------------------------------------

typedef void (*game_state_procedure)(void);

// ---- single procedures of the program and the main loop ---------------------
// X(name, return type, parameters).  Each becomes `name_procedure`,
// `register_name_procedure` and `get_name_procedure`.

#define CORE_PROCEDURE_LIST(X) \
    X(close_all_dialogs, void, (void))                                                               \
    X(set_screen_parameters_for_new_state, void, (int16_t new_state))                                \
    X(draw_frame, void, (int32_t game_ticks, bool world_shown)) /* view, scene, dialogs, bars, back buffer */ \
    X(queue_local_commands, void, (int32_t target_time, int16_t player_index)) /* single player */ \
    X(queue_sync_command, void, (const sync_command_data *data)) /* the originator's sync command */ \
    X(update_camera, void, (int32_t game_ticks))         /* per frame, after the ticks, while the world is shown */

#define CORE_PROCEDURE_DECLARATIONS(name, result, parameters) \
    typedef result(*name##_procedure) parameters;            \
    bool register_##name##_procedure(name##_procedure procedure); \
    name##_procedure get_##name##_procedure(void);
CORE_PROCEDURE_LIST(CORE_PROCEDURE_DECLARATIONS)
#undef CORE_PROCEDURE_DECLARATIONS

// The console's line printer and its out-of-step notice, read from the
// console's table (console_procedures.h); null until the console registers.
typedef void (*print_to_console_procedure)(const char *text);
print_to_console_procedure get_print_to_console_procedure(void);
typedef void (*out_of_sync_procedure)(void);
out_of_sync_procedure get_out_of_sync_procedure(void);

// ---- registration -----------------------------------------------------------
// Each returns false, after an assertion, for a step out of range, a null
// procedure or a slot that another procedure holds already.  A pair (map
// steps, per-map stores, game states) takes one owner's two halves together;
// one half may be null, not both.

bool register_startup_procedure(startup_step step, startup_procedure procedure);
bool register_map_procedures(map_step step, map_initialize_procedure initialize, map_dispose_procedure dispose);
// `step` is the start-up step of the module owning the stores.
bool register_map_store_procedures(startup_step step, map_initialize_procedure initialize,
                                   map_dispose_procedure dispose);
bool register_tick_procedure(tick_step step, tick_procedure procedure);
bool register_tick_observer_procedure(tick_observer_procedure procedure);
bool register_action_procedure(action_consumer consumer, action_procedure procedure);
bool register_game_state_procedures(game_state state, game_state_procedure entry, game_state_procedure exit);

// The slots, for the core (null when empty or out of range).
startup_procedure get_startup_procedure(startup_step step);
map_initialize_procedure get_map_initialize_procedure(map_step step);
map_dispose_procedure get_map_dispose_procedure(map_step step);
map_initialize_procedure get_map_store_initialize_procedure(startup_step step);
map_dispose_procedure get_map_store_dispose_procedure(startup_step step);
tick_procedure get_tick_procedure(tick_step step);
tick_observer_procedure get_tick_observer_procedure(void);
action_procedure get_action_procedure(action_consumer consumer);
game_state_procedure get_game_state_entry_procedure(game_state state);
game_state_procedure get_game_state_exit_procedure(game_state state);

// The names of the lists ("unknown" outside them).
const char *startup_step_name(startup_step step);
const char *map_step_name(map_step step);
const char *tick_step_name(tick_step step);
const char *action_consumer_name(action_consumer consumer);

// Empties one map step's pair again (tests that run a map without one step).
void unregister_map_procedures(map_step step);

// Empties every registration point of the program, these and every module's
// own (tests, between cases).
void reset_game_hooks(void);
