#pragma once
// The hook table: the only way the game core calls the subsystems built after
// it (units, scripts, input, films, screen, dialogs, renderer, sound,
// networking, lobby).  Each later subsystem registers its procedures here at
// start-up (before initialize_vesk); a slot nobody registered is skipped, so
// the core builds and runs with every hook empty.
//
// The tables are indexed by step: the enum order is the order in which the
// core calls them, and is part of the game's behaviour (the tick order decides
// whether films and network games stay in step).  New steps are added in their
// place in the enum, never by calling out of order.
//
// Main thread only; register before the main loop starts.

#include <cstddef>

#include "cseries/cseries.h"

struct action_data; // one input action, defined by the input layer
struct new_game_data;
struct sync_command_data;

// ---- start-up: initialize_vesk calls these once, in this order --------------

enum startup_step
{
    _startup_definitions_and_errors,
    _startup_preloading,
    _startup_poweruser_settings,
    _startup_screenshots,
    _startup_cutscenes,
    _startup_collections,
    _startup_strings,
    _startup_fonts,
    _startup_game_record,
    _startup_plugin_component_preferences,
    _startup_tag_files,
    _startup_single_instance_lock,
    _startup_input_definitions,
    _startup_world_tables,
    _startup_renderer,
    _startup_interface,
    _startup_console,
    _startup_overhead_map,
    _startup_fades,
    _startup_media,
    _startup_models,
    _startup_markers,
    _startup_objects,
    _startup_scenery,
    _startup_projectiles,
    _startup_units,
    _startup_explosions,
    _startup_players,
    _startup_statistics,
    _startup_flags,
    _startup_mesh_effects,
    _startup_map_actions,
    _startup_particles,
    _startup_wind,
    _startup_commands,
    _startup_recording,
    _startup_detail_maps,
    _startup_mesh,
    _startup_lightning,
    _startup_connectors,
    _startup_fire,
    _startup_local_projectiles,
    _startup_model_animations,
    _startup_key_bindings,
    _startup_game_preferences,
    _startup_screen,
    _startup_actions,
    _startup_observer,
    _startup_formations,
    _startup_sound_manager,
    _startup_sound_lists,
    _startup_game_sounds,
    _startup_model_effects,
    _startup_overhead_text,
    NUMBER_OF_STARTUP_STEPS
};

// Brings one subsystem up.  False stops the start-up: the procedure has told
// the player why (message box or error), and the program exits.
typedef bool (*startup_procedure)(void);

// ---- map life: initialize_vesk_for_new_map calls the initializers in this
// order, dispose_vesk_from_old_map the disposers in the reverse order ---------

enum map_step
{
    _map_tag_files,            // plug-ins the game needs, the tag files
    _map_definitions,          // per-map stores emptied, in start-up order (the core's own step)
    _map_players,              // players and teams from the set-up
    _map_mesh,                 // the terrain and its blocks, media, lighting
    _map_markers,              // the markers and palettes stored in the mesh
    _map_render,
    _map_interface,
    _map_console,
    _map_bars,                 // control bar and status bar
    _map_overhead_map,
    _map_detail_maps,
    _map_sound,
    _map_camera_control,
    _map_tutorial,
    _map_local_projectiles,
    _map_fades,
    _map_overhead_text,
    _map_commands,
    _map_statistics,
    _map_world_effects,        // lightning, fire, wind, particles, mesh effects, connectors, mirror groups
    _map_map_actions,
    _map_preload_map_action_tags,
    _map_place_models,
    _map_place_scenery,
    _map_place_projectiles,
    _map_place_units,
    _map_place_local_projectile_groups,
    _map_place_sound_sources,
    _map_unit_visibility,
    _map_observer,
    _map_recording,
    NUMBER_OF_MAP_STEPS
};

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

enum tick_step
{
    _tick_unit_commands,       // commands due at this tick
    _tick_lightning,
    _tick_projectiles,
    _tick_units,               // gameplay versions above 1300
    _tick_units_1300,          // gameplay versions 1300 and below
    _tick_mesh_effects,
    _tick_map_actions,         // also called once at the end of map start-up
    _tick_explosions,
    _tick_particle_clock,
    _tick_statistics,          // here below 1701, else after the fades
    _tick_model_effects,
    _tick_fire,
    _tick_mirror_groups,
    _tick_camera_tracking,     // local: draws only local_random
    _tick_scripted_camera,     // local
    _tick_connectors,
    _tick_animating_scenery,
    _tick_wind,
    _tick_model_animations,
    _tick_overhead_text,
    _tick_fades,
    _tick_time_limit_expired,  // called once, on the tick the time limit runs out
    _tick_endgame,             // after game time advanced: the ending countdown
    _tick_autosave,            // last, after the sync bookkeeping
    NUMBER_OF_TICK_STEPS
};

typedef void (*tick_procedure)(void);

// ---- process_action: the consumers of one input action, in this order -------

enum action_consumer
{
    _action_cursor_visibility, // sees every action
    _action_modal_loop,        // true (used): the action goes no further
    _action_global_keys,       // camera flags, game speed, pause, bars, chat...
    _action_dialogs,           // true: no further
    _action_pointer_to_view,   // only while the world is shown, from here on
    _action_tutorial_watcher,  // may clear the action record
    _action_overhead_map,      // true: no further
    _action_selection,         // true: the camera does not get it
    _action_camera,
    NUMBER_OF_ACTION_CONSUMERS
};

typedef bool (*action_procedure)(action_data *action);

// ---- game states: entry and exit actions ------------------------------------

typedef void (*game_state_procedure)(void);

// ---- single procedures of the program and the main loop ---------------------

struct core_procedures
{
    // Program.
    void (*set_keyboard_queue_task_state)(bool running); // the 30 Hz input timer
    void (*start_network_module_manager)(void);
    bool (*verify_required_patches)(void);                // false: the program stops
    void (*close_all_dialogs)(void);

    // Main loop, in the order update_everything calls them.
    void (*platform_specific_update)(bool limit_frame_rate); // events; then the frame limiter
    void (*update_metaserver)(void);
    void (*vesk_net_process)(void);
    void (*flush_actions)(void);
    void (*set_screen_parameters_for_new_state)(int16_t new_state);
    int32_t (*update_actions)(void);                      // drains actions into process_action; local ticks passed
    void (*draw_frame)(int32_t game_ticks, bool world_shown); // view, scene, dialogs, bars, screenshot, back buffer
    void (*update_sound_manager)(int32_t local_ticks);
    void (*report_pending_error)(int32_t code, const char *text); // shows the frame's pending error

    // Commands and films.
    void (*update_replay)(int32_t local_ticks);           // films and saved games set target_time
    void (*queue_local_commands)(int32_t target_time, int16_t player_index); // single player: stamp and queue
    void (*queue_sync_command)(const sync_command_data *data); // the originator's sync command
    bool (*replay_over)(void);
    bool (*begin_film_from_path)(const char *path, new_game_data *data); // fills the film's set-up
    int32_t (*find_oos_checker_films)(int32_t *films, int32_t maximum); // NONE: folder unreadable
    bool (*begin_oos_checker_film)(int32_t film, new_game_data *data, char *name, size_t name_size);
    void (*out_of_sync)(void);                            // tell the player the game fell out of step
    bool (*map_exists)(tag mesh_tag);
    void (*print_to_console)(const char *text);
};

// ---- registration -----------------------------------------------------------
// Each returns false (logged) for a step out of range or a slot that another
// procedure holds already; a null procedure empties the slot.

bool register_startup_procedure(int32_t step, startup_procedure procedure);
bool register_map_procedures(int32_t step, map_initialize_procedure initialize, map_dispose_procedure dispose);
// `startup_step` is the start-up step of the module owning the stores.
bool register_map_store_procedures(int32_t startup_step, map_initialize_procedure initialize,
                                   map_dispose_procedure dispose);
bool register_tick_procedure(int32_t step, tick_procedure procedure);
bool register_action_procedure(int32_t consumer, action_procedure procedure);
bool register_game_state_procedures(int16_t state, game_state_procedure entry, game_state_procedure exit);

// Installs every non-null procedure of `procedures` (the others stay as they are).
void register_core_procedures(const core_procedures *procedures);

// The slots, for the core (null when empty; null for a step out of range).
startup_procedure get_startup_procedure(int32_t step);
const char *startup_step_name(int32_t step);
map_initialize_procedure get_map_initialize_procedure(int32_t step);
map_dispose_procedure get_map_dispose_procedure(int32_t step);
map_initialize_procedure get_map_store_initialize_procedure(int32_t startup_step);
map_dispose_procedure get_map_store_dispose_procedure(int32_t startup_step);
tick_procedure get_tick_procedure(int32_t step);
action_procedure get_action_procedure(int32_t consumer);
game_state_procedure get_game_state_entry_procedure(int16_t state);
game_state_procedure get_game_state_exit_procedure(int16_t state);
const core_procedures *get_core_procedures(void);

// Empties every slot (tests).
void reset_game_hooks(void);
