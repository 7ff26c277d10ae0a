// Byte swapping, repair and defaults of the game set-up records.

#include "game_records.h"

#include <cstring>

#include "gameplay_versions.h"

const byte_swap_code new_game_parameter_data_byte_swapping_data[] = {
    _begin_bs_array, 1, NEW_GAME_PARAMETER_FIELDS, _end_bs_array};

const byte_swap_code new_player_data_byte_swapping_data[] = {
    _begin_bs_array, 1, NEW_PLAYER_FIELDS, _end_bs_array};

const byte_swap_code new_game_data_byte_swapping_data[] = {
    _begin_bs_array, 1,
    NEW_GAME_PARAMETER_FIELDS,
    _2byte, _2byte, 12, // player_count, local_player_index, reserved
    _begin_bs_array, MAXIMUM_PLAYERS_PER_MAP, NEW_PLAYER_FIELDS, _end_bs_array,
    _end_bs_array};

void byte_swap_new_game_parameter_data(new_game_parameter_data *parameters)
{
    byte_swap_data("new_game_parameter_data", parameters, sizeof(*parameters), 1,
                   new_game_parameter_data_byte_swapping_data);
}

void byte_swap_new_player_data(new_player_data *player)
{
    byte_swap_data("new_player_data", player, sizeof(*player), 1, new_player_data_byte_swapping_data);
}

void byte_swap_new_game_data(new_game_data *data)
{
    byte_swap_data("new_game_data", data, sizeof(*data), 1, new_game_data_byte_swapping_data);
}

int32_t repair_new_game_parameter_data(new_game_parameter_data *parameters)
{
    int32_t repaired = 0;
    if (parameters->scoring < 0 || parameters->scoring >= NUMBER_OF_GAME_SCORING_TYPES)
    {
        log_message(__FILE__, __LINE__, "game parameters: scoring %d out of range, using %d",
                    parameters->scoring, DEFAULT_GAME_SCORING);
        parameters->scoring = DEFAULT_GAME_SCORING;
        ++repaired;
    }
    if (parameters->difficulty_level < 0 || parameters->difficulty_level >= NUMBER_OF_DIFFICULTY_LEVELS)
    {
        log_message(__FILE__, __LINE__, "game parameters: difficulty %d out of range, using %d",
                    parameters->difficulty_level, DEFAULT_DIFFICULTY_LEVEL);
        parameters->difficulty_level = DEFAULT_DIFFICULTY_LEVEL;
        ++repaired;
    }
    if (parameters->option_flags & _game_option_broken_record_flag)
    {
        log_message(__FILE__, __LINE__, "game parameters: damaged option bits 0x%08x, using the defaults",
                    parameters->option_flags);
        parameters->option_flags = DEFAULT_GAME_OPTION_FLAGS;
        ++repaired;
    }
    if (parameters->plugin_count < 0 || parameters->plugin_count > MAXIMUM_PLUGINS_PER_GAME)
    {
        log_message(__FILE__, __LINE__, "game parameters: plug-in count %d out of range, list cleared",
                    parameters->plugin_count);
        parameters->plugin_count = 0;
        memset(parameters->plugin_data, 0, sizeof(parameters->plugin_data));
        ++repaired;
    }
    return repaired;
}

static void terminate_player_names(new_player_data *player)
{
    player->appearance.name[PLAYER_NAME_SIZE - 1] = 0;
    player->appearance.team_name[PLAYER_NAME_SIZE - 1] = 0;
}

bool verify_new_game_data(new_game_data *data)
{
    if (data->parameters.type < 0 || data->parameters.type >= NUMBER_OF_GAME_TYPES)
    {
        log_message(__FILE__, __LINE__, "game set-up refused: unknown game type %d", data->parameters.type);
        return false;
    }
    if (data->player_count < 0 || data->player_count > MAXIMUM_PLAYERS_PER_MAP)
    {
        log_message(__FILE__, __LINE__, "game set-up refused: %d players (at most %d)", data->player_count,
                    MAXIMUM_PLAYERS_PER_MAP);
        return false;
    }
    if (data->local_player_index != NONE &&
        (data->local_player_index < 0 || data->local_player_index >= data->player_count))
    {
        log_message(__FILE__, __LINE__, "game set-up refused: local player %d of %d players",
                    data->local_player_index, data->player_count);
        return false;
    }
    repair_new_game_parameter_data(&data->parameters);
    for (int32_t i = 0; i < MAXIMUM_PLAYERS_PER_MAP; ++i)
    {
        if (i < data->player_count)
            terminate_player_names(&data->players[i]);
        else
            memset(&data->players[i], 0, sizeof(data->players[i]));
    }
    return true;
}

int32_t compute_minimum_build_number_from_player(const new_player_data *players, int32_t count)
{
    int32_t minimum = MINIMUM_BUILD_NUMBER_OF_EMPTY_LIST;
    for (int32_t i = 0; i < count; ++i)
        if (players[i].type == _player_is_human && players[i].build_number < minimum)
            minimum = players[i].build_number;
    return minimum == 0 ? NONE : minimum;
}

int32_t compute_minimum_build_number(const new_game_data *data)
{
    int32_t count = data->player_count;
    if (count < 0 || count > MAXIMUM_PLAYERS_PER_MAP) count = 0;
    return compute_minimum_build_number_from_player(data->players, count);
}

void get_default_new_game_data(new_game_data *data, int16_t type, tag scenario_tag)
{
    memset(data, 0, sizeof(*data));
    new_game_parameter_data *parameters = &data->parameters;
    parameters->type = type;
    parameters->scoring = DEFAULT_GAME_SCORING;
    parameters->option_flags = DEFAULT_GAME_OPTION_FLAGS;
    if (type == _game_type_replay || type == _game_type_demo)
        parameters->option_flags &= ~(uint32_t)_game_option_limited_visibility_flag;
    parameters->time_limit = NONE;
    parameters->scenario_tag = scenario_tag;
    parameters->difficulty_level = DEFAULT_DIFFICULTY_LEVEL;
    parameters->maximum_players = MAXIMUM_PLAYERS_PER_MAP;
    parameters->maximum_teams = NONE;
    parameters->room_id = NONE;
    update_game_parameters_for_gameplay_version(DEFAULT_GAMEPLAY_VERSION, parameters);
    data->player_count = 0;
    data->local_player_index = NONE;
}
