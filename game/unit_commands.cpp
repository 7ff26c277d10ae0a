// The command executor and the registrations of the commands subsystem.

#include "unit_commands.h"

#include <cstring>

#include "commands.h"
#include "cseries/cseries.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "game_hooks.h"
#include "game_time.h"
#include "players.h"

static const char *command_verb_name(int32_t verb)
{
    static const char *const names[NUMBER_OF_COMMAND_VERBS] = {
        "null", "sync", "general", "movement", "target", "attack location", "pick up", "rename",
        "rotation", "drop player", "chat", "detach", "unit adjustment", "sketch", "ally",
        "preset selection", "sync formation", "inventory", "inventory drop", "inventory prev",
        "inventory next", "forced endgame", "add player", "tutorial input"};
    return verb >= 0 && verb < NUMBER_OF_COMMAND_VERBS ? names[verb] : "unknown";
}

static procedure_table<command_verb_procedure, NUMBER_OF_COMMAND_VERBS> command_verb_procedures("command verb",
                                                                                                command_verb_name);

static procedure_table<command_verb_reader_procedure, NUMBER_OF_COMMAND_VERBS>
    command_verb_readers("command verb reader", command_verb_name);

static struct command_executor_globals
{
    bool unknown_verb_logged[256]; // by the verb's byte: it had no procedure this map
} command_executor_globals;

bool register_command_verb_procedure(int16_t verb, command_verb_procedure procedure)
{
    return command_verb_procedures.fill(verb, procedure);
}

bool register_command_verb_reader_procedure(int16_t verb, command_verb_reader_procedure procedure)
{
    return command_verb_readers.fill(verb, procedure);
}

const char *command_decode_problem(const command_header *command)
{
    if (!command) return "no command";
    if (command->size < MINIMUM_COMMAND_SIZE || command->size > MAXIMUM_COMMAND_SIZE) return "a size outside 8..4096";
    const int32_t verb = command->verb < 0 ? -command->verb : command->verb;
    if (verb >= NUMBER_OF_COMMAND_VERBS) return "a verb outside 0..23";
    const command_verb_reader_procedure reader = command_verb_readers.get(verb);
    if (!reader) return nullptr; // nothing reads its fields: the executor skips it
    // The reader converts the fields in place: it reads a copy.
    alignas(8) static uint8_t copy[MAXIMUM_COMMAND_SIZE];
    memcpy(copy, command, (size_t)command->size);
    command_header *header = (command_header *)copy;
    header->verb = (int8_t)verb;
    command_codec_state state;
    begin_command_check();
    reader(&state, header);
    const char *problem = end_command_check();
    if (problem) return problem;
    if (state.failed) return "a field does not decode";
    if (state.offset != header->size) return "bytes follow the last field";
    return nullptr;
}

bool command_verb_known_to_gameplay_version(int32_t verb, int32_t gameplay_version)
{
    if (verb < 0) verb = -verb;
    if (verb >= NUMBER_OF_COMMAND_VERBS) return false;
    if (verb == _command_tutorial_input) return gameplay_version >= FIRST_GAMEPLAY_VERSION_SNIFFING_RUNNING_COMMANDS;
    return true;
}

void reset_command_executor(void)
{
    memset(command_executor_globals.unknown_verb_logged, 0, sizeof(command_executor_globals.unknown_verb_logged));
}

// Makes the command's player an index into the game's players.  False: the
// command must not run.
static bool resolve_command_player(command_header *command)
{
    if (command->verb < 0)
    {
        // The network layer could not name the sender: it passed the sender's
        // network id (an unsigned byte) and negated the verb.
        const int32_t identifier = (uint8_t)command->player_index;
        const int16_t player_index = find_player_by_unique_identifier(identifier);
        if (player_index == NONE)
        {
            char text[64];
            slprintf(text, sizeof(text), "couldn't find player id %d for cmd %d", identifier, command->verb);
            assertion_failed(__FILE__, __LINE__, _assertion_vwarn, "player_index!=NONE", text);
            return false;
        }
        command->verb = (int8_t)-command->verb;
        command->player_index = (int8_t)player_index;
    }
    if (command->verb == _command_null || command->verb == _command_sync) return true;
    if (command->player_index < 0 || command->player_index >= get_player_count())
    {
        log_message(__FILE__, __LINE__, "command (#%d,#%d,#%d) at tick %d names no player of the game; skipped",
                    command->size, command->verb, command->player_index, command->time);
        return false;
    }
    return true;
}

void execute_monster_commands(void)
{
    command_header *command;
    while ((command = dequeue_incoming_command(game_->game_time)) != nullptr)
    {
        if (!resolve_command_player(command)) continue;
        // From 1840 the tutorial watcher judges here, on the stream every
        // replay sees; a command it drops does not run.
        if (!command_passes_sniffing(command, _command_sniffed_when_run)) continue;
        const command_verb_procedure procedure = command_verb_procedures.get(command->verb);
        if (!procedure)
        {
            bool *logged = &command_executor_globals.unknown_verb_logged[(uint8_t)command->verb];
            if (!*logged)
                log_message(__FILE__, __LINE__, "no procedure runs commands of verb %d (%s); skipped", command->verb,
                            command_verb_name(command->verb));
            *logged = true;
            continue;
        }
        if (!procedure(command))
            log_message(__FILE__, __LINE__, "command (#%d,#%d,#%d) at tick %d could not be decoded; skipped",
                        command->size, command->verb, command->player_index, command->time);
    }
}

// ---- the verbs run here ---------------------------------------------------------

static bool execute_null_command(command_header *command)
{
    command_codec_state state;
    command_decode_new(&state, command, _command_null);
    return !state.failed;
}

static bool execute_sync_command(command_header *command)
{
    command_codec_state state;
    command_decode_new(&state, command, _command_sync);
    const sync_command_data *data = (const sync_command_data *)command_decode_data(
        &state, sizeof(sync_command_data), sync_command_data_byte_swapping_data);
    const sync_chain_data *chain = nullptr;
    if (sync_chains_in_use())
        chain = (const sync_chain_data *)command_decode_data(&state, sizeof(sync_chain_data),
                                                             sync_chain_data_byte_swapping_data);
    if (!data || (sync_chains_in_use() && !chain)) return false;
    // A drift that healed before the command's tick shows in its chain alone.
    if (handle_sync_command(data) && chain) check_sync_chain(data, chain, "from the originator");
    return true;
}

static void read_null_command(command_codec_state *state, command_header *command)
{
    command_decode_new(state, command, _command_null);
}

static void read_sync_command(command_codec_state *state, command_header *command)
{
    command_decode_new(state, command, _command_sync);
    command_decode_data(state, sizeof(sync_command_data), sync_command_data_byte_swapping_data);
    if (sync_chains_in_use()) command_decode_data(state, sizeof(sync_chain_data), sync_chain_data_byte_swapping_data);
}

// ---- registration -----------------------------------------------------------------

static bool initialize_commands_for_map(const new_game_data *data)
{
    (void)data;
    reset_command_executor();
    return initialize_commands_for_new_map();
}

void register_command_hooks(void)
{
    register_startup_procedure(_startup_commands, initialize_commands);
    register_map_procedures(_map_commands, initialize_commands_for_map, dispose_commands_from_old_map);
    register_tick_procedure(_tick_unit_commands, execute_monster_commands);
    register_queue_local_commands_procedure(queue_local_commands);
    register_queue_sync_command_procedure(queue_sync_command);
    register_command_verb_procedure(_command_null, execute_null_command);
    register_command_verb_procedure(_command_sync, execute_sync_command);
    register_command_verb_reader_procedure(_command_null, read_null_command);
    register_command_verb_reader_procedure(_command_sync, read_sync_command);
}
