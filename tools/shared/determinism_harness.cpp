// The headless determinism harness.

#include "determinism_harness.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "commands.h"
#include "cseries/errors.h"
#include "cseries/files.h"
#include "cseries/tags.h"
#include "fire.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "mesh_effects.h"
#include "particles.h"
#include "players.h"
#include "recording.h"
#include "recording_format.h"
#include "saved_games.h"
#include "game_ending.h"
#include "scoring.h"
#include "state_hash.h"
#include "statistics.h"
#include "subsystems.h"
#include "tag_files/tag_files.h"
#include "vesk.h"
#include "vesk_random.h"

static struct harness_globals
{
    bool started_up;
    bool running;
    const simulation_command *commands;
    int32_t command_count;
    int32_t next_command;
    uint32_t *hashes;
    simulation_report_procedure report;
    void *report_context;
    bool running_ticks;
    int32_t first_tick;
    int32_t ticks;
    simulation_tick_procedure tick_procedure;
    void *tick_context;
    bool gameplay_version_chosen; // else the program's own
    int32_t gameplay_version;
    bool difficulty_level_chosen; // else the new-game default
    int16_t difficulty_level;
    int32_t time_limit; // ticks; 0: none
} harness_globals;

static void execute_command(const simulation_command *command)
{
    switch (command->verb)
    {
    case _simulation_score_points: score_points(command->a, command->b); break;
    case _simulation_start_fire: try_to_start_fire(NONE, NONE, NONE, command->x, command->y); break;
    case _simulation_new_mesh_effect:
    {
        const new_mesh_effect_data effect = {0, command->a, {command->x, command->y, 0}};
        new_mesh_effect(&effect);
        break;
    }
    case _simulation_switch_snowing: switch_snowing_states(); break;
    case _simulation_eliminate_team: eliminate_team(command->a); break;
    case _simulation_damage:
        adjust_damage_statistics_for_unit_type(command->a, command->b, command->x, command->y != 0, false, false, true,
                                               false);
        break;
    case _simulation_end_game: end_game(command->a != 0 ? _game_end_game_over : _game_end_decided); break;
    case _simulation_ally: ally_with_team(command->a, command->b, command->x != 0); break;
    default: log_message(__FILE__, __LINE__, "simulation verb %d unknown", command->verb); break;
    }
}

static void record_hash_of_tick(int32_t tick)
{
    const int32_t slot = tick - harness_globals.first_tick;
    if (slot < 0 || slot >= harness_globals.ticks) return;
    // Nobody reads it: a run that only advances the game (a benchmark, the
    // ticks before a test's own measurement) pays for the tick alone.
    if (!harness_globals.hashes && !harness_globals.report) return;
    const uint32_t hash = compute_state_hash();
    if (harness_globals.hashes) harness_globals.hashes[slot] = hash;
    if (harness_globals.report) harness_globals.report(tick + 1, hash, harness_globals.report_context);
}

// Runs the commands of the tick about to start.  Called before the first tick
// of a run and at the end of each tick: nothing the game does between two
// ticks touches the simulation, so this is the state that tick begins from.
static void execute_commands_of_tick(int32_t now)
{
    while (harness_globals.next_command < harness_globals.command_count &&
           harness_globals.commands[harness_globals.next_command].tick <= now)
    {
        const simulation_command *command = &harness_globals.commands[harness_globals.next_command++];
        if (command->tick == now) execute_command(command);
    }
    if (harness_globals.tick_procedure) harness_globals.tick_procedure(now, harness_globals.tick_context);
}

void set_simulation_tick_procedure(simulation_tick_procedure procedure, void *context)
{
    harness_globals.tick_procedure = procedure;
    harness_globals.tick_context = context;
}

void queue_outgoing_commands_as_player(int32_t tick, int16_t player_index)
{
    // Stamped, shown to the tutorial watcher, queued and recorded as the
    // game's own local commands are.
    queue_local_commands(tick, player_index);
}

// The core calls this when a tick ends: the state now is the state after it.
static void harness_tick_ended(void)
{
    if (!harness_globals.running_ticks) return;
    const int32_t now = game_->game_time;
    record_hash_of_tick(now - 1);
    if (now < harness_globals.first_tick + harness_globals.ticks) execute_commands_of_tick(now);
}

static const struct
{
    const char *name;
    int16_t verb;
} simulation_verb_names[] = {
    {"score", _simulation_score_points}, {"fire", _simulation_start_fire},   {"effect", _simulation_new_mesh_effect},
    {"snow", _simulation_switch_snowing}, {"eliminate", _simulation_eliminate_team}, {"damage", _simulation_damage},
    {"end", _simulation_end_game},       {"ally", _simulation_ally},
};

int16_t simulation_verb_from_name(const char *name)
{
    for (size_t i = 0; name && i < NUMBER_OF(simulation_verb_names); ++i)
    {
        if (strcmp(name, simulation_verb_names[i].name) == 0) return simulation_verb_names[i].verb;
    }
    return NONE;
}

static void quiet_message_box(const char *) {}

// Enters the data directory and starts the game up headless once per process.
static bool bring_up_headless_game(const char *data_directory, char *reason, size_t reason_size)
{
    if (reason && reason_size) reason[0] = 0;
    stop_simulation();
    if (data_directory && chdir(data_directory) != 0)
    {
        slprintf(reason, reason_size, "cannot enter the data directory \"%s\"", data_directory);
        return false;
    }
    set_vesk_headless(true);
    set_message_box_proc(quiet_message_box);
    if (!harness_globals.started_up)
    {
        register_built_subsystems();
        // A headless run may share its directory with a running game.
        set_vesk_without_single_instance_lock(true);
        register_tick_observer_procedure(harness_tick_ended);
        if (!initialize_vesk())
        {
            slprintf(reason, reason_size, "the game could not start up");
            return false;
        }
        harness_globals.started_up = true;
        // No front end shows the menu: the game rests in its state between maps.
        game_->state = _game_state_displaying_main_menu;
    }
    clear_pending_error();
    return true;
}

// Writes `failure` to `reason`, followed by the pending error's text if one is pending, and clears that error.
static void explain_failure(const char *failure, char *reason, size_t reason_size)
{
    int32_t code = 0;
    char text[256] = "";
    if (error_pending(&code, text, sizeof(text)) && text[0])
        slprintf(reason, reason_size, "%s: %s", failure, text);
    else
        slprintf(reason, reason_size, "%s", failure);
    clear_pending_error();
}

// Starts the map of `data`; on failure the reason names `map`.
static bool start_map_of_simulation(const new_game_data *data, tag map, char *reason, size_t reason_size)
{
    set_sync_originator(false);
    if (!initialize_vesk_for_new_map(data, true))
    {
        char failure[512];
        slprintf(failure, sizeof(failure), "map '%s' cannot start", tag_to_string(map));
        explain_failure(failure, reason, reason_size);
        game_->state = _game_state_displaying_main_menu;
        return false;
    }
    game_->state = _game_state_running;
    harness_globals.running = true;
    return true;
}

void get_simulation_game_data(tag map, uint32_t seed, new_game_data *data)
{
    get_default_new_game_data(data, _game_type_local, map);
    data->parameters.random_seed = seed;
    data->parameters.scoring = 0;
    data->player_count = 2;
    data->local_player_index = 0;
    for (int16_t i = 0; i < 2; ++i)
    {
        data->players[i].team_index = i;
        data->players[i].type = i == 0 ? _player_is_human : _player_is_computer;
        data->players[i].unique_identifier = i + 1;
        data->players[i].team_captain_identifier = i + 1;
        data->players[i].version = CURRENT_VERSION_IDENTIFIER;
        data->players[i].build_number = CURRENT_BUILD_NUMBER;
        slprintf(data->players[i].appearance.name, sizeof(data->players[i].appearance.name), "Player %d", i + 1);
    }
}

bool start_simulation(const char *data_directory, tag map, uint32_t seed, char *reason, size_t reason_size)
{
    if (!bring_up_headless_game(data_directory, reason, reason_size)) return false;

    new_game_data data;
    get_simulation_game_data(map, seed, &data);
    if (harness_globals.difficulty_level_chosen) data.parameters.difficulty_level = harness_globals.difficulty_level;
    if (harness_globals.time_limit > 0) data.parameters.time_limit = harness_globals.time_limit;
    if (harness_globals.gameplay_version_chosen &&
        !update_game_parameters_for_gameplay_version(harness_globals.gameplay_version, &data.parameters))
    {
        slprintf(reason, reason_size, "gameplay version %d cannot run", (int)harness_globals.gameplay_version);
        return false;
    }
    return start_map_of_simulation(&data, map, reason, reason_size);
}

void set_simulation_difficulty_level(int16_t difficulty_level)
{
    harness_globals.difficulty_level_chosen = difficulty_level != NONE;
    harness_globals.difficulty_level = difficulty_level;
}

void set_simulation_time_limit(int32_t ticks) { harness_globals.time_limit = ticks > 0 ? ticks : 0; }

bool set_simulation_gameplay_version(int32_t gameplay_version)
{
    if (gameplay_version != NONE && !gameplay_version_is_known(gameplay_version)) return false;
    harness_globals.gameplay_version_chosen = gameplay_version != NONE;
    harness_globals.gameplay_version = gameplay_version;
    return true;
}

bool start_simulation_from_film(const char *data_directory, const char *film_path, int32_t *ticks, char *reason,
                                size_t reason_size)
{
    if (ticks) *ticks = 0;
    if (!bring_up_headless_game(data_directory, reason, reason_size)) return false;
    recording_file_header header;
    new_game_data data;
    const int32_t tag_index = tag_file_open_local_file(film_path);
    if (tag_index == NONE || !read_recording_header(tag_index, &header) || !begin_film_from_path(film_path, &data))
    {
        char failure[512];
        slprintf(failure, sizeof(failure), "the film \"%s\" cannot be played", film_path);
        explain_failure(failure, reason, reason_size);
        return false;
    }
    if (!start_map_of_simulation(&data, data.parameters.scenario_tag, reason, reason_size))
        return false;
    if (ticks) *ticks = header.recording_ending_time;
    return true;
}

// Copies the local tag file `source_path` to `path`, replacing it whole: a
// full disk or a kill leaves an earlier file of that name as it was.
static bool copy_local_tag_file(const char *source_path, const char *path)
{
    FILE *source = fopen(source_path, "rb");
    if (!source) return false;
    std::vector<char> bytes;
    char piece[8192];
    size_t count;
    while ((count = fread(piece, 1, sizeof(piece), source)) > 0) bytes.insert(bytes.end(), piece, piece + count);
    const bool read = !ferror(source);
    fclose(source);
    return read && file_replace_whole(path, (int64_t)bytes.size(), bytes.data());
}

// The path of `folder` of the films or saved games: the tool's own when it
// keeps them apart (tool_folders.h), else the game's.
static void player_folder_path(const char *folder, char *path, size_t size)
{
    const char *root = tag_files_player_folders_root();
    slprintf(path, size, "%s%s%s", root, root[0] ? "/" : "", folder);
}

// Why the film or saved game at `tag_index` is not whole, or null: a write
// the disk refused (full, or past the file-size limit) leaves it cut or
// never closed, and it must not be kept as if it held the game.
static const char *kept_recording_problem(int32_t tag_index)
{
    tag_file_info info;
    recording_file_header header;
    if (!tag_file_info_get(tag_index, &info) || !read_recording_header(tag_index, &header))
        return "its header cannot be read";
    if (const char *problem = recording_file_problem(tag_index, &header, info.size)) return problem;
    if (header.type == _normal_recording_type && header.recording_ending_time == 0) return "it was never closed";
    return nullptr;
}

bool save_simulation_film(const char *path, char *reason, size_t reason_size)
{
    const tag subgroup = get_last_recording_subgroup();
    const int32_t tag_index = subgroup == (tag)NONE ? NONE : tag_file_open(RECORDING_GROUP_TAG, subgroup);
    if (tag_index == NONE)
    {
        slprintf(reason, reason_size, "no film was recorded");
        return false;
    }
    char folder[1024], source_path[1280];
    player_folder_path(FILMS_FOLDER, folder, sizeof(folder));
    slprintf(source_path, sizeof(source_path), "%s/%s", folder, tag_file_full_filename_get(tag_index));
    if (const char *problem = kept_recording_problem(tag_index))
    {
        slprintf(reason, reason_size, "the film was not recorded whole (%s): nothing is written to \"%s\"", problem,
                 path);
        return false;
    }
    const bool ok = copy_local_tag_file(source_path, path);
    if (!ok) slprintf(reason, reason_size, "the film could not be written to \"%s\"", path);
    return ok;
}

bool save_simulation_game(const char *path, char *reason, size_t reason_size)
{
    if (!harness_globals.running)
    {
        slprintf(reason, reason_size, "no game runs");
        return false;
    }
    return save_running_game(path, reason, reason_size);
}

bool save_running_game(const char *path, char *reason, size_t reason_size)
{
    set_autosave_for_new_level_hack(true);
    const tag saved = autosave_game(true) ? get_last_save_game_tag() : (tag)NONE;
    const int32_t tag_index = saved == (tag)NONE ? NONE : tag_file_open(SAVED_GAME_GROUP_TAG, saved);
    if (tag_index == NONE)
    {
        explain_failure("the game could not be saved", reason, reason_size);
        return false;
    }
    char folder[1024], source_path[1280];
    player_folder_path(SAVED_GAMES_FOLDER, folder, sizeof(folder));
    slprintf(source_path, sizeof(source_path), "%s/%s", folder, tag_file_full_filename_get(tag_index));
    const char *problem = kept_recording_problem(tag_index);
    const bool ok = !problem && copy_local_tag_file(source_path, path);
    tag_file_delete(tag_index);
    reset_last_saved_game();
    if (problem)
    {
        slprintf(reason, reason_size, "the saved game was not written whole (%s): nothing is written to \"%s\"",
                 problem, path);
        return false;
    }
    if (!ok) slprintf(reason, reason_size, "the saved game could not be written to \"%s\"", path);
    return ok;
}

bool start_simulation_from_saved_game(const char *data_directory, const char *path, int32_t *save_ticks, char *reason,
                                      size_t reason_size)
{
    if (save_ticks) *save_ticks = 0;
    if (!bring_up_headless_game(data_directory, reason, reason_size)) return false;
    recording_file_header file_header;
    save_game_header header;
    new_game_data data;
    const int32_t tag_index = tag_file_open_local_file(path);
    if (tag_index == NONE || !read_saved_game_headers(tag_index, &file_header, &header) ||
        !begin_saved_game_from_path(path, &data))
    {
        char failure[512];
        slprintf(failure, sizeof(failure), "the saved game \"%s\" cannot be continued", path);
        explain_failure(failure, reason, reason_size);
        return false;
    }
    if (!start_map_of_simulation(&data, data.parameters.scenario_tag, reason, reason_size)) return false;
    if (save_ticks) *save_ticks = file_header.recording_ending_time;
    return true;
}

bool run_simulation(int32_t ticks, const simulation_command *commands, int32_t command_count,
                    const simulation_pacing *pacing, uint32_t *hashes)
{
    return run_simulation_reporting(ticks, commands, command_count, pacing, hashes, nullptr, nullptr);
}

// The start and end of a run's bookkeeping.
static void begin_run(int32_t ticks, const simulation_command *commands, int32_t command_count, uint32_t *hashes,
                      simulation_report_procedure report, void *report_context)
{
    harness_globals.commands = commands;
    harness_globals.command_count = commands ? command_count : 0;
    harness_globals.next_command = 0;
    harness_globals.hashes = hashes;
    harness_globals.report = report;
    harness_globals.report_context = report_context;
    harness_globals.first_tick = game_->game_time;
    harness_globals.ticks = ticks;
    harness_globals.running_ticks = true;
    if (ticks > 0) execute_commands_of_tick(harness_globals.first_tick);
}

static void end_run(void)
{
    harness_globals.running_ticks = false;
    harness_globals.hashes = nullptr;
    harness_globals.report = nullptr;
    harness_globals.commands = nullptr;
}

bool run_simulation_reporting(int32_t ticks, const simulation_command *commands, int32_t command_count,
                              const simulation_pacing *pacing, uint32_t *hashes, simulation_report_procedure report,
                              void *report_context)
{
    if (!harness_globals.running || ticks < 0) return false;
    begin_run(ticks, commands, command_count, hashes, report, report_context);

    const simulation_pacing normal = {1, NORMAL_GAME_SPEED_INDEX, 0};
    if (!pacing) pacing = &normal;
    set_game_speed(pacing->game_speed);
    const int32_t end = harness_globals.first_tick + ticks;
    const int32_t local_ticks = pacing->local_ticks_per_frame > 0 ? pacing->local_ticks_per_frame : 1;
    // Frames run until the last tick ran; the per-frame budget may make the
    // game lag its target for a while.  A frame that runs no tick at all
    // while the target is reached ends the loop (nothing more can happen).
    int32_t idle_frames = 0;
    while (game_->game_time < end && idle_frames < 1024)
    {
        const int32_t ran = update_vesk(local_ticks);
        idle_frames = ran ? 0 : idle_frames + 1;
        for (int32_t i = 0; i < pacing->local_random_draws_per_frame; ++i) local_random();
    }
    end_run();
    set_game_speed(NORMAL_GAME_SPEED_INDEX);
    return game_->game_time >= end;
}

bool run_simulation_frames(int32_t ticks, simulation_frame_procedure frame, void *frame_context,
                           simulation_report_procedure report, void *report_context)
{
    if (!harness_globals.running || ticks < 0 || !frame) return false;
    begin_run(ticks, nullptr, 0, nullptr, report, report_context);
    const int32_t end = harness_globals.first_tick + ticks;
    while (game_->game_time < end && frame(frame_context)) update_vesk(1);
    end_run();
    return game_->game_time >= end;
}

bool bring_up_simulation(const char *data_directory, char *reason, size_t reason_size)
{
    return bring_up_headless_game(data_directory, reason, reason_size);
}

bool start_simulation_from_game_data(const new_game_data *data, char *reason, size_t reason_size)
{
    if (!harness_globals.started_up)
    {
        slprintf(reason, reason_size, "the game is not brought up");
        return false;
    }
    new_game_data checked = *data;
    return start_map_of_simulation(&checked, data->parameters.scenario_tag, reason, reason_size);
}

void stop_simulation(void)
{
    if (harness_globals.running)
    {
        dispose_vesk_from_old_map();
        game_->state = _game_state_displaying_main_menu;
    }
    harness_globals.running = false;
}
