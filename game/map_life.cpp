// Registration of the game core's start-up, map and tick steps for players,
// scoring, statistics, flags and the world effects; the tag files of a game.

#include "map_life.h"

#include "cseries/registration.h"

#include "connectors.h"
#include "fire.h"
#include "flags.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_sounds.h"
#include "game_time.h"
#include "lightning.h"
#include "mesh.h"
#include "mesh_effects.h"
#include "mirror_groups.h"
#include "particles.h"
#include "players.h"
#include "game_ending.h"
#include "scoring.h"
#include "statistics.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"
#include "vesk.h"
#include "wind.h"

bool open_tag_files_for_game(const void *encoded_plugins, int32_t size, int32_t local_choice)
{
    int16_t plugins[MAXIMUM_PLUGINS_PER_GAME] = {};
    int32_t plugin_count = 0;
    if (encoded_plugins && size > 0)
    {
        // Decoded here rather than through tag_file_plugins_open_encoded, which keeps
        // the store's current local-folder choice: a film or a network game
        // must not see this machine's local copies when it asked to leave them out.
        if (size < ENCODED_PLUGIN_LIST_SIZE ||
            !tag_file_plugins_decode(plugins, &plugin_count, encoded_plugins, nullptr, nullptr, 0))
        {
            log_message(__FILE__, __LINE__, "the game's plug-ins cannot be opened");
            return false;
        }
    }
    return tag_files_open(local_choice, plugins, plugin_count, -1, 0) == 0;
}

// ---- start-up ------------------------------------------------------------------

static bool startup_players(void)
{
    initialize_players();
    initialize_scoring();
    return true;
}
static bool startup_statistics(void) { initialize_statistics(); return true; }
static bool startup_flags(void) { initialize_flags(); return true; }
static bool startup_mesh_effects(void) { initialize_mesh_effects(); return true; }
static bool startup_particles(void) { initialize_particles(); return true; }
static bool startup_wind(void) { initialize_wind(); return true; }
static bool startup_lightning(void) { initialize_lightning(); return true; }
static bool startup_connectors(void)
{
    initialize_connectors();
    initialize_mirror_groups();
    return true;
}
static bool startup_fire(void) { initialize_fire(); return true; }
static bool startup_game_sounds(void) { initialize_game_sounds(); return true; }

// ---- map steps -------------------------------------------------------------------

// The game's plug-ins and the local-folder choice take effect; without a game
// ("none") the store is reopened with no game plug-ins.
static bool map_tag_files(const new_game_data *data)
{
    const int32_t local_choice = vesk_local_folder_disabled() ? 1 : 0;
    if (data && data->parameters.plugin_count > 0)
        return open_tag_files_for_game(data->parameters.plugin_data, (int32_t)sizeof(data->parameters.plugin_data),
                                       local_choice);
    return open_tag_files_for_game(nullptr, 0, local_choice);
}

static bool map_players(const new_game_data *data)
{
    initialize_players_for_new_map(data);
    // The local team is the one the local player ended up on: an observer has
    // none, and a damaged team index has been repaired.
    if (local_player_index != NONE)
    {
        const player_data *local = get_player_data(local_player_index);
        local_player_team_index = local ? (int16_t)local->team_index : (int16_t)NONE;
    }
    initialize_flags_for_new_map();
    initialize_scoring_for_new_map();
    return true;
}

static void dispose_map_players(void)
{
    dispose_flags_from_old_map();
    dispose_players_from_old_map();
}

// After the mesh: the map's own team count and the scoring types it offers
// take effect before anything is counted.
static bool map_statistics(const new_game_data *data)
{
    const mesh_header *header = get_mesh_header();
    if (header)
    {
        set_minimum_team_count(header->team_count);
        repair_game_scoring_for_map(header->flags);
    }
    initialize_statistics_for_new_map(data->parameters.scenario_tag);
    return true;
}

static bool map_world_effects(const new_game_data *data)
{
    initialize_lightning_for_new_map();
    initialize_fire_for_new_map();
    initialize_particles_for_new_map(data->parameters.scenario_tag);
    initialize_wind_for_new_map();
    initialize_mesh_effects_for_new_map();
    initialize_connectors_for_new_map();
    initialize_mirror_groups_for_new_map();
    return true;
}

static void dispose_map_world_effects(void)
{
    dispose_mirror_groups_from_old_map();
    dispose_connectors_from_old_map();
    dispose_mesh_effects_from_old_map();
    dispose_wind_from_old_map();
    dispose_particles_from_old_map();
    dispose_fire_from_old_map();
    dispose_lightning_from_old_map();
}

// ---- tick steps -------------------------------------------------------------------

static void tick_statistics(void)
{
    update_game_scoring();
    update_statistics();
}

void register_world_and_player_hooks(void)
{
    register_startup_procedure(_startup_players, startup_players);
    register_startup_procedure(_startup_statistics, startup_statistics);
    register_startup_procedure(_startup_flags, startup_flags);
    register_startup_procedure(_startup_mesh_effects, startup_mesh_effects);
    register_startup_procedure(_startup_particles, startup_particles);
    register_startup_procedure(_startup_wind, startup_wind);
    register_startup_procedure(_startup_lightning, startup_lightning);
    register_startup_procedure(_startup_connectors, startup_connectors);
    register_startup_procedure(_startup_fire, startup_fire);
    register_startup_procedure(_startup_game_sounds, startup_game_sounds);

    register_map_procedures(_map_tag_files, map_tag_files, nullptr); // the next map reopens them
    register_map_procedures(_map_players, map_players, dispose_map_players);
    register_map_procedures(_map_statistics, map_statistics, dispose_statistics_from_old_map);
    register_map_procedures(_map_world_effects, map_world_effects, dispose_map_world_effects);

    register_tick_procedure(_tick_lightning, update_lightning);
    register_tick_procedure(_tick_mesh_effects, update_mesh_effects);
    register_tick_procedure(_tick_particle_clock, update_particles);
    register_tick_procedure(_tick_statistics, tick_statistics);
    register_tick_procedure(_tick_fire, update_fire);
    register_tick_procedure(_tick_mirror_groups, update_mirror_groups);
    register_tick_procedure(_tick_connectors, update_connectors);
    register_tick_procedure(_tick_wind, update_wind);
    register_tick_procedure(_tick_time_limit_expired, handle_time_limit_expired);
    register_tick_procedure(_tick_endgame, update_endgame);
}
