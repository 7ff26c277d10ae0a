// Films and saved games as they are stored: the header, the block header and
// the saved-game header, their conversion and their checks.

#include "recording_format.h"

#include <cstring>

#include "commands.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "tag_files/tag_files.h"
#include "cseries/cstrings.h"
#include "cseries/crc.h"
#include "cseries/errors.h"
#include "cseries/tags.h"
#include "unit_commands.h"
#include "vesk/string_lists.h"

const byte_swap_code recording_file_header_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _2byte, _2byte,                                 // version, type
    _4byte, _4byte, _4byte, _4byte,                 // data_offset, ending time, snapshot offset and length
    _4byte, _4byte, _4byte, _4byte,                 // initializers and placement offsets and lengths
    (byte_swap_code)sizeof(new_game_data),          // game: its own description
    _4byte, _4byte,                                 // the two checksums
    _end_bs_array};

const byte_swap_code recording_block_header_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _2byte, _2byte, _end_bs_array};

const byte_swap_code save_game_header_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _2byte, _2byte,                                 // snapshot width, height
    _4byte, _4byte, _2byte, 2,                      // observer: x, y, yaw, 2 bytes as they are
    _2byte, 2,                                      // encoding, unused_short
    _4byte,                                         // zoom_factor
    _begin_bs_array, NUMBER_OF_CACHED_CONSOLE_LINES, _2byte, CACHED_LINE_STRING_SIZE, _end_bs_array,
    _2byte, 2,                                      // line count, pad
    _end_bs_array};

void byte_swap_recording_header(recording_file_header *file_header)
{
    byte_swap_data("recording_file_header", file_header, sizeof(*file_header), 1,
                   recording_file_header_byte_swapping_data);
    byte_swap_new_game_data(&file_header->game);
}

void byte_swap_recording_block_header(recording_block_header *block)
{
    byte_swap_data("recording_block_header", block, sizeof(*block), 1, recording_block_header_byte_swapping_data);
}

void byte_swap_save_game_header(save_game_header *header)
{
    byte_swap_data("save_game_header", header, sizeof(*header), 1, save_game_header_byte_swapping_data);
}

int32_t build_recording_end_record(const sync_command_data *data, const sync_chain_data *chain, uint8_t *stored)
{
    command_codec_state state;
    command_encode_new(&state, stored, _command_sync);
    command_encode_data(&state, sizeof(*data), data, sync_command_data_byte_swapping_data);
    if (chain) command_encode_data(&state, sizeof(*chain), chain, sync_chain_data_byte_swapping_data);
    command_header *header = (command_header *)stored;
    header->time = data->snapshot_time;
    header->player_index = NONE;
    const int32_t size = header->size;
    byte_swap_command_header_big(header);
    return size;
}

bool is_recording_end_record(const uint8_t *stored, int32_t size, recording_end_record *record)
{
    if (size != RECORDING_END_RECORD_SIZE && size != RECORDING_CHAINED_END_RECORD_SIZE) return false;
    if ((int16_t)read_be16(stored) != size) return false;
    if ((int8_t)stored[2] != _command_sync || (int8_t)stored[3] != NONE) return false;
    const int32_t time = (int32_t)read_be32(stored + 4);
    const int32_t snapshot_time = (int32_t)read_be32(stored + 8);
    if (time != snapshot_time) return false;
    if (record)
    {
        record->state.snapshot_time = snapshot_time;
        record->state.random_seed = read_be32(stored + 12);
        record->state.state_hash = read_be32(stored + 16);
        record->chained = size == RECORDING_CHAINED_END_RECORD_SIZE;
        record->chain = {NONE, 0, 0};
        if (record->chained)
            record->chain = {(int32_t)read_be32(stored + 20), read_be32(stored + 24), read_be32(stored + 28)};
    }
    return true;
}

int32_t keep_commands_up_to(const uint8_t *commands, int32_t size, int32_t end_time, uint8_t *kept, int32_t *count,
                            bool *later)
{
    int32_t length = 0, number = 0;
    if (later) *later = false;
    for (int32_t at = 0; at + (int32_t)sizeof(command_header) <= size;)
    {
        const int32_t command_size = (int16_t)read_be16(commands + at);
        if (command_size < (int32_t)sizeof(command_header) || at + command_size > size) break;
        if ((int32_t)read_be32(commands + at + 4) > end_time)
        {
            if (later) *later = true;
        }
        else if (!is_recording_end_record(commands + at, command_size, nullptr))
        {
            memmove(kept + length, commands + at, (size_t)command_size);
            length += command_size;
            ++number;
        }
        at += command_size;
    }
    *count = number;
    return length;
}

bool recording_file_checksum(int32_t tag_index, const recording_file_header *stored_header, int32_t data_offset,
                             uint32_t *checksum)
{
    // The ending time is left out: the end record names it itself, and the
    // film's checksum is taken when its header is first written (a crash
    // closes it with no time to read it back).
    recording_file_header header = *stored_header;
    header.recording_ending_time = 0;
    uint32_t crc = crc32_of(&header, sizeof(header));
    uint8_t piece[4096];
    for (int32_t at = RECORDING_FILE_HEADER_SIZE; at < data_offset;)
    {
        const int32_t count = data_offset - at < (int32_t)sizeof(piece) ? data_offset - at : (int32_t)sizeof(piece);
        if (!tag_file_read(tag_index, at, count, piece)) return false;
        crc = crc32_update(crc, piece, (size_t)count);
        at += count;
    }
    *checksum = crc;
    return true;
}

void get_recording_data_checksums(uint32_t *public_checksum, uint32_t *private_checksum)
{
    *public_checksum = tag_files_get_foundation_checksum();
    *private_checksum = tag_files_get_patch_checksum();
}

const char *recording_data_problem(const recording_file_header *h, char *text, size_t size)
{
    uint32_t public_checksum, private_checksum;
    get_recording_data_checksums(&public_checksum, &private_checksum);
    const bool public_differs = h->public_tags_checksum != 0 && h->public_tags_checksum != public_checksum;
    const bool private_differs = h->private_tags_checksum != 0 && h->private_tags_checksum != private_checksum;
    if (!public_differs && !private_differs) return nullptr;
    char there[40], here[40];
    slprintf(there, sizeof(there), "%08x %08x", (unsigned)h->public_tags_checksum, (unsigned)h->private_tags_checksum);
    slprintf(here, sizeof(here), "%08x %08x", (unsigned)public_checksum, (unsigned)private_checksum);
    slprintf(text, size, "it was played on other game data (%s%s%s: checksums %s there, %s here), so it would play "
                         "another game",
             public_differs ? "other foundation files" : "", public_differs && private_differs ? " and " : "",
             private_differs ? "other patches" : "", there, here);
    return text;
}

const char *recording_header_problem(const recording_file_header *h, int32_t tag_size)
{
    if (h->version < 0 || h->version > RECORDING_VERSION_NUMBER) return "unknown version";
    if (h->type != _normal_recording_type && h->type != _saved_game_recording_type) return "unknown recording type";
    if (h->game.player_count < 0 || h->game.player_count > MAXIMUM_PLAYERS_PER_MAP) return "player count outside 0..16";
    if (h->snapshot_offset != RECORDING_FILE_HEADER_SIZE) return "the snapshot does not follow the header";
    if (h->snapshot_length < 0 || h->monster_initializers_length < 0 || h->monster_placement_length < 0)
        return "a negative region length";
    // In 64 bits: lengths near 2 GiB must not wrap into a plausible layout.
    const int64_t initializers = (int64_t)h->snapshot_offset + h->snapshot_length;
    if (h->monster_initializers_offset != initializers) return "the unit initializers do not follow the snapshot";
    const int64_t placement = initializers + h->monster_initializers_length;
    if (h->monster_placement_offset != placement) return "the unit placement does not follow the initializers";
    const int64_t data = placement + h->monster_placement_length;
    if (h->data_offset < RECORDING_FILE_HEADER_SIZE || h->data_offset != data)
        return "the commands do not follow the placement";
    if (tag_size >= 0 && data > tag_size) return "the regions run past the end of the tag";
    if (h->recording_ending_time < 0) return "a negative ending time";
    return nullptr;
}

const char *recording_block_problem(const void *commands, int32_t size, int32_t command_count)
{
    if (size < 0 || size > RECORDING_BUFFER_SIZE) return "block larger than the recording buffer";
    const uint8_t *bytes = (const uint8_t *)commands;
    int32_t offset = 0, count = 0;
    while (offset < size)
    {
        const int32_t left = size - offset;
        if (left < MINIMUM_COMMAND_SIZE) return "a command header is cut by the end of the block";
        const int32_t command_size = (int16_t)read_be16(bytes + offset);
        if (command_size < MINIMUM_COMMAND_SIZE || command_size > left) return "a command size does not fit the block";
        // A changed byte inside a command passes the checks above: its fields
        // must decode as well, or the replay would run a command no game ran.
        alignas(command_header) uint8_t command[MAXIMUM_COMMAND_SIZE];
        memcpy(command, bytes + offset, (size_t)command_size);
        byte_swap_command_header_big((command_header *)command);
        if (const char *problem = command_decode_problem((const command_header *)command))
        {
            static char text[96];
            slprintf(text, sizeof(text), "a command at byte %d of its block does not decode (%s)", offset, problem);
            return text;
        }
        offset += command_size;
        ++count;
    }
    if (count != command_count) return "the command count disagrees with the commands";
    return nullptr;
}

// What the check of a whole file has seen so far.
struct file_check
{
    const recording_file_header *header;
    bool closed;  // a non-zero ending time, or a saved game
    bool chained; // of a gameplay version with sync chains: its end record is required and binds the header
    int64_t previous_time, last_command_time;
    int64_t last_sync_tick; // the latest tick a sync command names (0 before any)
    bool end_seen;
    recording_end_record end;
};

// Checks one sound command (big-endian, as stored) against those before it;
// null when sound, else the reason.
static const char *command_stamp_problem(file_check *check, const uint8_t *stored, int32_t size)
{
    const recording_file_header *h = check->header;
    const int32_t time = (int32_t)read_be32(stored + 4);
    const int32_t verb = (int8_t)stored[2], player = (int8_t)stored[3];
    if (check->end_seen) return "a command follows the end record";
    if (is_recording_end_record(stored, size, &check->end))
    {
        // Commands stamped ahead of the game's clock may come before it.
        if (time != h->recording_ending_time) return "its end record names another tick than its ending time";
        if (check->chained != check->end.chained) return "its end record is not of its gameplay version";
        check->end_seen = true;
        return nullptr;
    }
    if (time < 0) return "a command is stamped before tick 0";
    if (time < check->previous_time) return "a command is stamped earlier than the one before it";
    // A negative verb carries a sender the network layer could not name.
    if (verb >= 0)
    {
        const bool may_name_nobody = verb == _command_null || verb == _command_sync;
        // Players who join a network game later are not in its header.
        const int32_t players =
            h->game.parameters.type == _game_type_networked ? (int32_t)MAXIMUM_PLAYERS_PER_MAP : h->game.player_count;
        const int32_t lowest = may_name_nobody ? (int32_t)NONE : 0;
        if (player < lowest || player >= players)
            return "a command names no player of the game";
    }
    // A sync command stamped past a closed file's end never ran: it vouches
    // for no tick of the game.
    const bool ran = !check->closed || time <= h->recording_ending_time;
    if (verb == _command_sync && ran && size >= 8 + (int32_t)sizeof(sync_command_data))
    {
        const int32_t named = (int32_t)read_be32(stored + 8);
        if (named > check->last_sync_tick) check->last_sync_tick = named;
    }
    check->previous_time = time;
    if (time > check->last_command_time) check->last_command_time = time;
    return nullptr;
}

// Reads and checks the blocks from data_offset to the one marked last;
// null when sound, else the reason.
static const char *file_blocks_problem(int32_t tag_index, file_check *check, int32_t tag_size)
{
    const bool closed = check->closed;
    uint8_t commands[RECORDING_BUFFER_SIZE];
    int64_t offset = check->header->data_offset;
    for (;;)
    {
        const int64_t left = tag_size - offset;
        recording_block_header block;
        if (left < (int64_t)sizeof(block))
        {
            if (!closed) return nullptr; // a crash left it open: it plays to its last whole command
            return left == 0 ? "it ends without a block marked last" : "it is cut inside a block header";
        }
        // A film left open is read as it plays, which ends it on damage.
        if (!tag_file_read(tag_index, (int32_t)offset, sizeof(block), &block))
            return closed ? "a block header does not read" : nullptr;
        byte_swap_recording_block_header(&block);
        if (block.size > RECORDING_BUFFER_SIZE) return closed ? "block larger than the recording buffer" : nullptr;
        if (block.flags & ~(uint32_t)KNOWN_RECORDING_BLOCK_FLAGS)
            return closed ? "a block header holds flags no build writes" : nullptr;
        if (left - (int64_t)sizeof(block) < block.size) return closed ? "it is cut inside a block" : nullptr;
        if (block.size > 0 && !tag_file_read(tag_index, (int32_t)offset + (int32_t)sizeof(block), block.size, commands))
            return closed ? "a block's commands do not read" : nullptr;
        if (const char *problem = recording_block_problem(commands, block.size, block.command_count))
            return closed ? problem : nullptr;
        // The block is sound: each command header is whole.
        for (int32_t at = 0; at < block.size; at += (int16_t)read_be16(commands + at))
            if (const char *problem = command_stamp_problem(check, commands + at, (int16_t)read_be16(commands + at)))
                return problem; // whole commands a game never wrote: not a cut
        offset += (int64_t)sizeof(block) + block.size;
        if (block.flags & _last_recording_block_flag) return offset != tag_size ? "bytes follow the block marked last" : nullptr;
    }
}

// The end of a closed file of a version with sync chains: its end record
// must be there and bind its header regions; every command it holds ran by
// its end; and its sync commands must reach its ending time.  Null when sound.
static const char *chained_end_problem(int32_t tag_index, const file_check *check, const recording_file_header *stored)
{
    const recording_file_header *h = check->header;
    if (!check->end_seen) return "it ends without its end record";
    uint32_t checksum;
    if (!recording_file_checksum(tag_index, stored, h->data_offset, &checksum))
        return "its header regions do not read";
    if (checksum != check->end.chain.file_checksum) return "its header does not match its end record";
    // The end record a crash writes records no state: all of it but its
    // tick and checksum is zero, so no changed bit passes for one.
    const recording_end_record &end = check->end;
    if (end.chain.first_tick == NONE && (end.state.random_seed || end.state.state_hash || end.chain.chain_hash))
        return "its end record names no chain but records a state";
    if ((int64_t)h->recording_ending_time - check->last_sync_tick > MAXIMUM_TICKS_PAST_LAST_SYNC_COMMAND)
        return "its ending time lies further past its last sync command than its game sends them";
    return nullptr;
}

const char *recording_file_problem(int32_t tag_index, const recording_file_header *h, int32_t tag_size)
{
    recording_file_header stored;
    if (!tag_file_read(tag_index, 0, sizeof(stored), &stored)) return "its header does not read";
    // Its commands are read as its own gameplay version reads them.
    const int32_t version = compute_gameplay_version(&h->game.parameters, compute_minimum_build_number(&h->game));
    if (version == NONE) return "its gameplay version is unknown";
    const int32_t current = current_gameplay_version;
    current_gameplay_version = version;
    file_check check = {};
    check.header = h;
    check.closed = h->type == _saved_game_recording_type || h->recording_ending_time != 0;
    check.chained = sync_chains_in_use();
    const char *problem = file_blocks_problem(tag_index, &check, tag_size);
    current_gameplay_version = current;
    if (problem || !check.closed) return problem;
    if ((int64_t)h->recording_ending_time - check.last_command_time > MAXIMUM_RECORDING_IDLE_TICKS)
        return "its ending time lies further past its last command than a game may idle";
    // A command stamped past the end never runs.  Where an end record holds
    // the state of the last tick, a command whose stamp was damaged past the
    // end leaves the replay another game, which that state shows; without
    // one, only a few such commands (a game's lead on its clock) are taken.
    const bool end_judges = check.end_seen && !(check.end.chained && check.end.chain.first_tick == NONE);
    if (!end_judges && check.last_command_time > (int64_t)h->recording_ending_time + MAXIMUM_TICKS_STAMPED_PAST_END)
        return "a command is stamped past its ending time";
    return check.chained ? chained_end_problem(tag_index, &check, &stored) : nullptr;
}

// Reads and converts the header; the reason is written to `problem` (a static
// text) when it cannot be used.  Reports nothing itself.
static bool read_recording_header_quietly(int32_t tag_index, recording_file_header *file_header, const char **problem)
{
    tag_file_info info;
    *problem = nullptr;
    if (tag_index == NONE || !tag_file_info_get(tag_index, &info))
    {
        *problem = "no such tag";
        return false;
    }
    if (info.size < RECORDING_FILE_HEADER_SIZE)
    {
        *problem = "shorter than its header";
        return false;
    }
    if (!tag_file_read(tag_index, 0, sizeof(*file_header), file_header))
    {
        *problem = "unreadable";
        return false;
    }
    byte_swap_recording_header(file_header);
    *problem = recording_header_problem(file_header, info.size);
    return *problem == nullptr;
}

bool read_recording_header(int32_t tag_index, recording_file_header *file_header)
{
    if (tag_index == NONE) return false;
    const char *problem;
    if (read_recording_header_quietly(tag_index, file_header, &problem)) return true;
    const char *name = tag_file_name_get(tag_index);
    if (problem && !strcmp(problem, "unknown version") && file_header->version > RECORDING_VERSION_NUMBER)
        ERROR_MESSAGE(_error_file_read, "recording '%s' is too new. (%d <= %d)", name, file_header->version,
                      RECORDING_VERSION_NUMBER);
    else if (problem && (!strcmp(problem, "unreadable") || !strcmp(problem, "shorter than its header") ||
                         !strcmp(problem, "no such tag")))
        ERROR_MESSAGE(_error_file_read, "couldn't read the header for recording '%s'", name);
    else
        ERROR_MESSAGE(_error_data_corrupted, "recording '%s' is damaged: %s", name, problem ? problem : "?");
    return false;
}

bool write_recording_header(int32_t *tag_index, int16_t type, const new_game_data *data,
                            int32_t game_time_at_end_of_recording, int32_t monster_initializers_length,
                            int32_t monster_placement_length, int32_t snapshot_length)
{
    if (!VASSERT(data->player_count >= 0 && data->player_count <= MAXIMUM_PLAYERS_PER_MAP,
                 "file_header.game.player_count <= MAXIMUM_PLAYERS_PER_MAP"))
        return false;
    recording_file_header file_header;
    memset(&file_header, 0, sizeof(file_header));
    file_header.version = RECORDING_VERSION_NUMBER;
    file_header.type = type;
    file_header.recording_ending_time = game_time_at_end_of_recording;
    file_header.snapshot_offset = RECORDING_FILE_HEADER_SIZE;
    file_header.snapshot_length = snapshot_length;
    file_header.monster_initializers_offset = file_header.snapshot_offset + snapshot_length;
    file_header.monster_initializers_length = monster_initializers_length;
    file_header.monster_placement_offset = file_header.monster_initializers_offset + monster_initializers_length;
    file_header.monster_placement_length = monster_placement_length;
    file_header.data_offset = file_header.monster_placement_offset + monster_placement_length;
    file_header.game = *data;
    // A film or save is played on the data open now: a replay on other data
    // would play another game, and is refused by these.
    get_recording_data_checksums(&file_header.public_tags_checksum, &file_header.private_tags_checksum);
    for (int32_t i = data->player_count; i < MAXIMUM_PLAYERS_PER_MAP; ++i)
        memset(&file_header.game.players[i], 0, sizeof(file_header.game.players[i]));
    byte_swap_recording_header(&file_header);
    if (*tag_index == NONE || !tag_file_write(tag_index, 0, sizeof(file_header), &file_header))
    {
        ERROR_MESSAGE(_error_file_write, "couldn't write new game data to recording");
        return false;
    }
    return true;
}

bool valid_replay_or_save_version(int32_t tag_index, void *)
{
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info)) return false;
    if (info.group_tag != RECORDING_GROUP_TAG && info.group_tag != SAVED_GAME_GROUP_TAG) return false;
    if (info.version > RECORDING_VERSION_NUMBER) return false;
    recording_file_header file_header;
    const char *problem;
    return read_recording_header_quietly(tag_index, &file_header, &problem);
}

const char *get_replay_filename_string(int16_t row)
{
    // Used when the interface data lack the list: each distinct, so the last
    // recording is never taken for a film the player named.
    static const char *const fallback[NUMBER_OF_REPLAY_FILENAME_STRINGS] = {"Last Game", "Saved Game",
                                                                             "Untitled Replay"};
    if (row < 0 || row >= NUMBER_OF_REPLAY_FILENAME_STRINGS) return "";
    const int32_t list = string_list_tag_to_string_index(REPLAY_FILENAMES_STRING_LIST_TAG);
    const char *text = list != NONE && row < count_strings_in_list(list) ? get_string_from_list(list, row) : "";
    return text[0] ? text : fallback[row];
}
