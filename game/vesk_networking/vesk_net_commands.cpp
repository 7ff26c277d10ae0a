// The network game's own commands: building them and running two of them.

#include "vesk_net_commands.h"

#include <cstring>

#include "cseries/cseries.h"
#include "cseries/log.h"
#include "game_hooks.h"
#include "vesk_networking/vesk_chat.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "players.h"
#include "game_ending.h"
#include "scoring.h"
#include "sound/sound_manager.h"
#include "session_state.h"
#include "unit_commands.h"
#include "vesk/string_lists.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_server.h"

enum
{
    // From this gameplay version on a game can be ended by a command.
    FORCED_ENDGAME_MINIMUM_GAMEPLAY_VERSION = 1721,
};

const byte_swap_code command_add_player_data_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _2byte, _2byte, _4byte,
    _2byte, _2byte, PLAYER_NAME_SIZE, PLAYER_NAME_SIZE, // bitmaps, name, team name
    _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, // two colours
    _end_bs_array};
const byte_swap_code command_forced_endgame_data_byte_swapping_data[] = {_begin_bs_array, 1, _4byte, _end_bs_array};

command_header *build_add_player_command(void *buffer, int32_t player_id, int16_t team_index, int16_t version,
                                         int32_t metaserver_player_id, const player_appearance_data *appearance)
{
    command_add_player_data data;
    memset(&data, 0, sizeof(data));
    data.player_id_to_add = (uint32_t)player_id;
    data.to_team_index = team_index;
    data.version = version;
    data.metaserver_player_id = (uint32_t)metaserver_player_id;
    if (appearance) data.appearance = *appearance;
    command_codec_state state;
    command_encode_new(&state, buffer, _command_add_player);
    command_encode_data(&state, sizeof(data), &data, command_add_player_data_byte_swapping_data);
    return state.failed ? nullptr : state.header;
}

command_header *build_drop_player_command(void *buffer, int32_t player_id)
{
    command_codec_state state;
    command_encode_new(&state, buffer, _command_drop_player);
    if (state.failed) return nullptr;
    state.header->player_index = (int8_t)player_id;
    state.header->time = game_->local_time.load();
    return state.header;
}

void handle_forced_endgame_command(int16_t type)
{
    if (current_gameplay_version < FORCED_ENDGAME_MINIMUM_GAMEPLAY_VERSION) return;
    uint8_t buffer[MAXIMUM_COMMAND_SIZE];
    const command_forced_endgame_data data = {type};
    command_codec_state state;
    command_encode_new(&state, buffer, _command_forced_endgame);
    command_encode_data(&state, sizeof(data), &data, command_forced_endgame_data_byte_swapping_data);
    if (!state.failed) queue_outgoing_command(state.header);
}

static bool execute_add_player_command(command_header *command)
{
    command_codec_state state;
    command_decode_new(&state, command, _command_add_player);
    const command_add_player_data *data = (const command_add_player_data *)command_decode_data(
        &state, sizeof(command_add_player_data), command_add_player_data_byte_swapping_data);
    if (!data) return false;
    new_player_data player;
    memset(&player, 0, sizeof(player));
    player.team_index = data->to_team_index;
    player.type = _player_is_human;
    player.unique_identifier = (int32_t)data->player_id_to_add;
    player.team_captain_identifier = NONE;
    player.metaserver_player_id = (int32_t)data->metaserver_player_id;
    player.version = data->version;
    player.appearance = data->appearance;
    player.appearance.name[PLAYER_NAME_SIZE - 1] = 0;
    player.appearance.team_name[PLAYER_NAME_SIZE - 1] = 0;
    const int16_t index = new_player_in_game(&player);
    if (index == NONE) return true;
    if ((int32_t)data->player_id_to_add == get_local_player_id())
    {
        local_player_index = index;
        const player_data *added = get_player_data(index);
        local_player_team_index = added ? (int16_t)added->team_index : (int16_t)NONE;
        joining_mid_game = false;
        sound_mute(false);
    }
    log_message(__FILE__, __LINE__, "player %u joined the game at tick %d", data->player_id_to_add, game_->game_time);
    return true;
}

static bool execute_forced_endgame_command(command_header *command)
{
    command_codec_state state;
    command_decode_new(&state, command, _command_forced_endgame);
    const command_forced_endgame_data *data = (const command_forced_endgame_data *)command_decode_data(
        &state, sizeof(command_forced_endgame_data), command_forced_endgame_data_byte_swapping_data);
    if (!data) return false;
    if (data->type == _forced_endgame_none) return true;
    if (data->type < _forced_endgame_none || data->type > _forced_endgame_restart)
    {
        LOG_REPEATED("a forced endgame of unknown type %d; ignored", data->type);
        return true;
    }
    // Every machine says why its game stops: the host's choice reaches the
    // others only through this command.
    if (data->type != _forced_endgame_quit)
    {
        const char *notice = translate_string(data->type == _forced_endgame_restart ? "Restarting..." : "Rehosting...");
        add_network_notice(notice); // which logs it too
    }
    game_->forced_endgame_type = (int16_t)data->type;
    end_game(_game_end_game_over);
    // Counted in one tick: the game's last is the next, known now, before
    // the countdown tells it, so that the hold below takes it.
    note_game_last_tick(game_->game_time + 1);
    // The stamps already heard may lie past the last tick: every machine
    // stops at that tick, and its film ends there.
    hold_network_game_at_its_last_tick();
    return true;
}

static void read_add_player_command(command_codec_state *state, command_header *command)
{
    command_decode_new(state, command, _command_add_player);
    command_decode_data(state, sizeof(command_add_player_data), command_add_player_data_byte_swapping_data);
}

static void read_forced_endgame_command(command_codec_state *state, command_header *command)
{
    command_decode_new(state, command, _command_forced_endgame);
    command_decode_data(state, sizeof(command_forced_endgame_data), command_forced_endgame_data_byte_swapping_data);
}

void register_net_command_verbs(void)
{
    register_command_verb_procedure(_command_add_player, execute_add_player_command);
    register_command_verb_procedure(_command_forced_endgame, execute_forced_endgame_command);
    register_command_verb_reader_procedure(_command_add_player, read_add_player_command);
    register_command_verb_reader_procedure(_command_forced_endgame, read_forced_endgame_command);
}
