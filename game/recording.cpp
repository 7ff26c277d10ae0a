// Recording films and playing them back.

#include "recording.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cseries/crash.h"
#include "cseries/errors.h"
#include "cseries/files.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "lobby_procedures.h"
#include "networking_procedures.h"
#include "cseries/tags.h"
#include "front_end_procedures.h"
#include "game_hooks.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "monster_initializers.h"
#include "recording_procedures.h"
#include "statistics.h"
#include "tag_files/tag_file_formats.h"
#include "tag_files/tag_files.h"

#define MT00_SCENARIO_TAG FOUR_CHARACTER_CODE('m', 't', '0', '0')

enum
{
    RECORDING_STREAM_PIECE_SIZE = 1024,
    // Commands recorded but not yet run: each is recorded as it enters the
    // incoming queue, so they are no more than that queue holds, and a block
    // beside for a queue emptied under them.
    HELD_COMMANDS_SIZE = (int32_t)INCOMING_QUEUE_BUFFER_SIZE + (int32_t)RECORDING_BUFFER_SIZE,
    MAXIMUM_OOS_CHECKER_FILMS = 256,
    // The store's local tag file: its header, then the tag's data.
    LOCAL_TAG_FILE_HEADER_SIZE = sizeof(local_tag_file_header),
    LOCAL_TAG_FILE_NAME_OFFSET = offsetof(local_tag_file_header, name),
    LOCAL_TAG_FILE_SUBGROUP_OFFSET = offsetof(local_tag_file_header, subgroup_tag),
    LOCAL_TAG_FILE_DATA_SIZE_OFFSET = offsetof(local_tag_file_header, data_size),
    LOCAL_TAG_NAME_SIZE = sizeof(((local_tag_file_header *)nullptr)->name),
};

struct recording_globals_data
{
    int16_t state;
    int16_t original_game_type;
    uint8_t buffer[RECORDING_BUFFER_SIZE]; // the block being filled: commands that ran (or run at the tick now)
    int16_t buffer_size;
    int16_t command_count;
    tag recording_group_tag, recording_subgroup_tag;
    int32_t recording_tag_offset;
    tag last_save_game_tag;
    bool solo_replay;
    int32_t replay_speed;
    bool game_can_be_reentered;
    int32_t recording_end_time;
    int32_t oldest_command_in_buffer_time;
    char last_save_game_name[RECORDING_NAME_SIZE + 1];
    char begin_replay_button_name[64 + 1];

    // Not in the stored description of the record: this program's own.
    bool replay_failed;    // the replay stopped on a film it could not read
    bool film_incomplete;  // a command could not be stored in the film
    uint32_t file_checksum; // of the film being recorded (recording_file_checksum), for its end record
    // Recorded commands stamped after the tick the game has run, in the
    // order they came (as stored: headers big-endian): a block written with
    // them would outlive a close before their tick, and hold commands that
    // never ran.
    uint8_t held[HELD_COMMANDS_SIZE];
    int32_t held_size;
    char replay_path[PATH_MAX]; // the film's file when it was opened by path ("" otherwise)
    // The tag a replay opened by path is set up from: a tag of the same
    // subgroup in the store's folder must not stand in for it.
    bool starting_from_path;
    int32_t path_tag_index;
    // The name the replay's statistics file takes: the film's own file name,
    // never the name stored inside it, which a copied or recorded film shares
    // with the game it came from ("Last Game" above all).
    char statistics_name[MAXIMUM_FILE_NAME];
};

static recording_globals_data *recording_globals;
static char last_viewed_recording_file_name[RECORDING_NAME_SIZE + 1];

// What the crash procedure needs, prepared while nothing is failing: it may
// make no call that allocates, locks or formats.
static struct crash_film_data
{
    char film_path[PATH_MAX];  // the film being recorded
    char folder_path[PATH_MAX]; // where the crash copy goes
    int64_t utc_offset_seconds;
    volatile sig_atomic_t running;
} crash_film;

static struct oos_checker_films_data
{
    int32_t count;
    char paths[MAXIMUM_OOS_CHECKER_FILMS][PATH_MAX];
} *oos_checker_films;

// ---- helpers -------------------------------------------------------------------------

static int32_t open_recording_tag(void)
{
    recording_globals_data *g = recording_globals;
    // A film opened by path leaves the store when the map reopens it, and a
    // film of the same subgroup in "films" must not stand in for it.
    if (g->replay_path[0]) return tag_file_open_local_file(g->replay_path);
    return tag_file_open(g->recording_group_tag, g->recording_subgroup_tag);
}

static int32_t tag_size(int32_t tag_index)
{
    tag_file_info info;
    return tag_file_info_get(tag_index, &info) ? info.size : -1;
}

// Copies `size` bytes from offset `from` of one tag to offset `to` of another.
static bool copy_tag_bytes(int32_t source, int32_t from, int32_t *destination, int32_t to, int32_t size)
{
    uint8_t piece[4096];
    for (int32_t done = 0; done < size;)
    {
        const int32_t count = size - done < (int32_t)sizeof(piece) ? size - done : (int32_t)sizeof(piece);
        if (!tag_file_read(source, from + done, count, piece)) return false;
        if (!tag_file_write(destination, to + done, count, piece)) return false;
        done += count;
    }
    return true;
}

static void remember_film_for_crashes(int32_t tag_index)
{
    crash_film.film_path[0] = 0;
    crash_film.folder_path[0] = 0;
    char directory[PATH_MAX];
    // A tool keeps its films away from the player's (tag_files_set_player_folders_root).
    if (tag_files_player_folders_root()[0]) strlcpy(directory, tag_files_player_folders_root(), sizeof(directory));
    else if (!getcwd(directory, sizeof(directory))) return;
    slprintf(crash_film.folder_path, sizeof(crash_film.folder_path), "%s/%s", directory, FILMS_FOLDER);
    slprintf(crash_film.film_path, sizeof(crash_film.film_path), "%s/%s", crash_film.folder_path,
             tag_file_full_filename_get(tag_index));
    const time_t now = time(nullptr);
    struct tm local;
    crash_film.utc_offset_seconds = localtime_r(&now, &local) ? (int64_t)local.tm_gmtoff : 0;
}

static void end_replay_with_error(void)
{
    recording_globals->state = _state_replay_done;
    recording_globals->replay_failed = true;
}

// ---- life cycle ---------------------------------------------------------------------

static void stop_recording_at_exit(void)
{
    if (recording_globals) stop_recording();
}

bool initialize_recording(void)
{
    if (!VASSERT(!recording_globals, "!recording_globals")) return true;
    recording_globals = (recording_globals_data *)calloc(1, sizeof(recording_globals_data));
    oos_checker_films = (oos_checker_films_data *)calloc(1, sizeof(oos_checker_films_data));
    if (!recording_globals || !oos_checker_films)
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate recording globals");
        return false;
    }
    recording_globals->state = _state_uninitialized;
    recording_globals->last_save_game_tag = NONE;
    recording_globals->recording_group_tag = NONE;
    recording_globals->recording_subgroup_tag = NONE;
    static bool exit_procedure_registered = false;
    if (!exit_procedure_registered) exit_procedure_registered = atexit(stop_recording_at_exit) == 0;
    return true;
}

void dispose_recording(void)
{
    free(recording_globals);
    recording_globals = nullptr;
    free(oos_checker_films);
    oos_checker_films = nullptr;
    crash_film.film_path[0] = 0;
}

// Sends the film written so far to the lobby stream.
static void stream_recording_header(int32_t tag_index, int32_t size)
{
    const auto send = get_lobby_procedures()->send_recording_stream_header;
    if (!send) return;
    uint8_t piece[RECORDING_STREAM_PIECE_SIZE];
    for (int32_t done = 0; done < size;)
    {
        const int32_t count = size - done < RECORDING_STREAM_PIECE_SIZE ? size - done : RECORDING_STREAM_PIECE_SIZE;
        if (!tag_file_read(tag_index, done, count, piece)) return;
        send(piece, count);
        done += count;
    }
}

// Creates the last-recording film with the header and unit initializers of a
// game of `data` and enters state 1.
static bool start_new_recording(const new_game_data *data)
{
    recording_globals_data *g = recording_globals;
    const char *name = get_replay_filename_string(_string_index_last_recording_filename);
    const int32_t previous = tag_file_find_by_name(RECORDING_GROUP_TAG, name);
    if (previous != NONE) tag_file_delete(previous);
    int32_t tag_index = tag_file_new_with_random_subgroup_tag(RECORDING_GROUP_TAG, name, RECORDING_VERSION_NUMBER);
    // A last film the store cannot read (zeroed by a crash of the machine)
    // would otherwise stop every later game from being recorded: it is kept
    // aside and the new film takes its name.
    if (tag_index == NONE && previous == NONE && tag_file_set_aside_damaged(RECORDING_GROUP_TAG, name))
        tag_index = tag_file_new_with_random_subgroup_tag(RECORDING_GROUP_TAG, name, RECORDING_VERSION_NUMBER);
    if (tag_index == NONE)
    {
        ERROR_MESSAGE(_error_file_create, "couldn't create new recording");
        return false;
    }

    // The unit initializers carried into the level go into the film, to be
    // imported when it is replayed.
    int32_t initializers_length = get_monster_initializers_export_length();
    void *initializers = nullptr;
    if (initializers_length < 0) initializers_length = 0;
    if (initializers_length > 0)
    {
        initializers = malloc((size_t)initializers_length);
        if (!initializers || !export_monster_initializers_to_buffer(initializers, initializers_length))
        {
            log_message(__FILE__, __LINE__, "the unit initializers could not be exported: the film has none");
            initializers_length = 0;
        }
    }
    recording_file_header file_header;
    bool written = write_recording_header(&tag_index, _normal_recording_type, data, 0, initializers_length, 0, 0) &&
                   read_recording_header(tag_index, &file_header);
    if (written && initializers_length > 0 &&
        !tag_file_write(&tag_index, file_header.monster_initializers_offset, initializers_length, initializers))
    {
        ERROR_MESSAGE(_error_file_write, "Unable to write the monster_initializers");
        written = false;
    }
    free(initializers);
    // On disk and under its own name from its first block on: a film left
    // pending (its old file would not go) is found by no flush and no save.
    if (written && !tag_file_commit(tag_index))
    {
        ERROR_MESSAGE(_error_file_write, "couldn't put the new recording in its place");
        written = false;
    }
    recording_file_header stored;
    if (written && (!tag_file_read(tag_index, 0, sizeof(stored), &stored) ||
                    !recording_file_checksum(tag_index, &stored, file_header.data_offset, &g->file_checksum)))
    {
        ERROR_MESSAGE(_error_file_read, "couldn't read back the new recording's header");
        written = false;
    }
    if (!written) return false;

    tag_file_info info;
    tag_file_info_get(tag_index, &info);
    g->state = _state_recording;
    g->recording_group_tag = RECORDING_GROUP_TAG;
    g->recording_subgroup_tag = info.subgroup_tag;
    g->buffer_size = 0;
    g->command_count = 0;
    g->held_size = 0;
    g->film_incomplete = false;
    g->recording_tag_offset = file_header.data_offset;
    remember_film_for_crashes(tag_index);
    stream_recording_header(tag_index, file_header.data_offset);
    // Every way a game ends may change hashed state after its last tick.
    set_tick_end_state(_tick_end_state_kept);
    return true;
}

bool initialize_recording_for_new_map(const new_game_data *data)
{
    recording_globals_data *g = recording_globals;
    if (!g || !data) return true;
    // A prepared replay begins with the map it set up, whether or not a map
    // was disposed before it.
    if ((g->state == _state_starting_replay || g->state == _state_replaying) &&
        data->parameters.type != _game_type_replay)
    {
        // The map of a prepared replay never started, and this game is no
        // replay: it must not run as one, unrecorded.
        log_message(__FILE__, __LINE__, "the film \"%s\" set up for playing was never started: dropped",
                    last_viewed_recording_file_name);
        g->state = _state_uninitialized;
        g->replay_path[0] = 0;
    }
    if (g->state == _state_starting_replay || g->state == _state_replaying)
    {
        g->state = _state_replaying;
        if (g->replay_path[0] && tag_file_open_local_file(g->replay_path) == NONE)
        {
            ERROR_MESSAGE(_error_file_read, "couldn't read recording tag header in update_replay()");
            end_replay_with_error();
        }
        return true;
    }
    // Every other map is a game of its own: a save of an earlier one is no
    // save of it, and must not be restored from its epilogue or quit dialog.
    g->last_save_game_tag = NONE;
    g->last_save_game_name[0] = 0;
    const int16_t type = data->parameters.type;
    if (type != _game_type_networked && !(type == _game_type_local && data->parameters.scenario_tag != MT00_SCENARIO_TAG))
        return true;
    if (!VASSERT(g->state == _state_uninitialized, "recording_globals->state==_state_uninitialized")) return true;
    // A game without its film is still a game: the failure has been reported.
    start_new_recording(data);
    return true;
}

void dispose_recording_from_old_map(void)
{
    recording_globals_data *g = recording_globals;
    if (!g) return;
    switch (g->state)
    {
    case _state_uninitialized:
    case _state_replaying:
    case _state_replay_finishing:
    case _state_replay_done:
        g->state = _state_uninitialized;
        g->replay_path[0] = 0;
        break;
    case _state_recording:
        stop_recording();
        break;
    case _state_starting_replay:
        g->state = _state_replaying;
        break;
    default:
    {
        char text[64];
        slprintf(text, sizeof(text), "What is state %d?", g->state);
        HALT(text);
        g->state = _state_uninitialized;
        break;
    }
    }
}

// The tick a game's end between two ticks holds (Quit), NONE when none.
static int32_t held_game_end_tick(void)
{
    sync_command_data data;
    return get_tick_end_state(&data) == _tick_end_state_held ? data.snapshot_time : NONE;
}

// ---- recording -------------------------------------------------------------------------

// The tick a film closes at: the one whose state its end record holds (a
// game quit between two ticks ends there, whatever ticks ran after).
static int32_t recording_end_tick(void)
{
    const int32_t held = held_game_end_tick();
    return held != NONE ? held : game_->game_time;
}

// Writes the buffer as a block at the recording offset; the last block also
// stamps the header with the ending time.  The buffer is emptied even when a
// write fails: the film stays as written so far.
static bool flush_recording_buffer(bool last_block)
{
    recording_globals_data *g = recording_globals;
    if (!VASSERT(g && g->state == _state_recording, "recording_globals && recording_globals->state==_state_recording"))
        return false;
    if (!last_block && g->buffer_size == 0) return true;
    bool written = false;
    int32_t tag_index = tag_file_open(g->recording_group_tag, g->recording_subgroup_tag);
    if (tag_index == NONE)
        ERROR_MESSAGE(_error_file_read, "couldn't read recording tag header for flushing");
    else
    {
        recording_block_header block = {last_block ? (uint32_t)_last_recording_block_flag : 0u,
                                        (uint16_t)g->buffer_size, g->command_count};
        byte_swap_recording_block_header(&block);
        if (!tag_file_write(&tag_index, g->recording_tag_offset, sizeof(block), &block))
            ERROR_MESSAGE(_error_file_write, "couldn't write block header to recording");
        else if (g->buffer_size > 0 &&
                 !tag_file_write(&tag_index, g->recording_tag_offset + (int32_t)sizeof(block), g->buffer_size, g->buffer))
            ERROR_MESSAGE(_error_file_write, "couldn't write command data to recording");
        else
        {
            g->recording_tag_offset += (int32_t)sizeof(block) + g->buffer_size;
            written = true;
        }
        recording_file_header file_header;
        if (written && last_block)
            written = read_recording_header(tag_index, &file_header) &&
                      write_recording_header(&tag_index, file_header.type, &file_header.game, recording_end_tick(),
                                             file_header.monster_initializers_length,
                                             file_header.monster_placement_length, file_header.snapshot_length);
    }
    g->buffer_size = 0;
    g->command_count = 0;
    return written;
}

// Moves the held commands stamped at or before `up_to`, from the first held
// on, into the block being filled, as many as it has room for.  True when
// one of them is left for want of room.  Async-signal-safe.
static bool move_due_commands(int32_t up_to)
{
    recording_globals_data *g = recording_globals;
    int32_t at = 0;
    bool more = false;
    while (at + (int32_t)sizeof(command_header) <= g->held_size)
    {
        const int32_t size = (int16_t)read_be16(g->held + at);
        if ((int32_t)read_be32(g->held + at + 4) > up_to) break;
        if (g->buffer_size + size > RECORDING_BUFFER_SIZE)
        {
            more = true;
            break;
        }
        memcpy(g->buffer + g->buffer_size, g->held + at, (size_t)size);
        g->buffer_size = (int16_t)(g->buffer_size + size);
        ++g->command_count;
        at += size;
    }
    memmove(g->held, g->held + at, (size_t)(g->held_size - at));
    g->held_size -= at;
    return more;
}

// Puts the held commands due by `up_to` into blocks, writing each block that
// fills: a written block holds only commands of ticks the game has reached.
static void write_due_commands(int32_t up_to)
{
    recording_globals_data *g = recording_globals;
    while (g->state == _state_recording && move_due_commands(up_to)) flush_recording_buffer(false);
}

// The file closes at `end_time`: the held commands stamped after it never
// run and are left out; the others go into blocks by the same rule as ever.
// Returns how many were left out.
static int32_t drop_held_commands_after(int32_t end_time)
{
    recording_globals_data *g = recording_globals;
    int32_t count = 0, before = 0;
    for (int32_t at = 0; at + (int32_t)sizeof(command_header) <= g->held_size; at += (int16_t)read_be16(g->held + at))
        ++before;
    g->held_size = keep_commands_up_to(g->held, g->held_size, end_time, g->held, &count, nullptr);
    return before - count;
}

void record_incoming_command(const command_header *command)
{
    recording_globals_data *g = recording_globals;
    if (!g || g->state != _state_recording || !command) return;
    if (!VASSERT(command->size >= (int16_t)sizeof(command_header), "command->size >= sizeof(struct command_header)"))
        return;
    // No ring holds a larger one, and the copy below could not: the stream
    // would read past it.
    if (!VASSERT(command->size <= MAXIMUM_COMMAND_SIZE, "command->size <= MAXIMUM_COMMAND_SIZE")) return;
    // After a game's end no command of it runs: the film and its stream end there.
    const int32_t held = held_game_end_tick();
    if (held != NONE && command->time > held) return;
    const int32_t size = command->size;
    // The stream gets the command as the film stores it: header big-endian.
    alignas(command_header) static uint8_t stored[MAXIMUM_COMMAND_SIZE];
    memcpy(stored, command, (size_t)size);
    byte_swap_command_header_big((command_header *)stored);
    const auto stream = get_lobby_procedures()->send_recording_stream_command;
    if (stream) stream((const command_header *)stored);
    if (command->verb == _command_null) return;
    if (size > RECORDING_BUFFER_SIZE)
    {
        // No block can hold it, and a film never splits a command.
        log_message(__FILE__, __LINE__, "error: a command of %d bytes (verb %d, time %d) is larger than a film block "
                                        "and is left out of the film, which is now incomplete",
                    size, command->verb, command->time);
        g->film_incomplete = true;
        return;
    }
    if (g->held_size + size > HELD_COMMANDS_SIZE)
    {
        log_message(__FILE__, __LINE__, "error: %d bytes of commands wait for their ticks: a command (verb %d, time %d) "
                                        "is left out of the film, which is now incomplete",
                    g->held_size, command->verb, command->time);
        g->film_incomplete = true;
        return;
    }
    memcpy(g->held + g->held_size, stored, (size_t)size);
    g->held_size += size;
    write_due_commands(recording_end_tick());
}

// Leaves in the buffer only the commands stamped at or before `end_time`:
// those after it never ran.
static void drop_buffered_commands_after(int32_t end_time)
{
    recording_globals_data *g = recording_globals;
    int32_t count = 0;
    g->buffer_size = (int16_t)keep_commands_up_to(g->buffer, g->buffer_size, end_time, g->buffer, &count, nullptr);
    g->command_count = (int16_t)count;
}

int32_t build_end_record_of_current_tick(uint32_t file_checksum, uint8_t *stored)
{
    // A game's end (Quit, its countdown, its standings, the players leaving)
    // may touch the state after its last tick; a replay sees that tick alone.
    sync_command_data data;
    if (get_tick_end_state(&data) == NONE) get_final_state(&data);
    sync_chain_data chain;
    if (!sync_chains_in_use()) return build_recording_end_record(&data, nullptr, stored);
    if (!get_sync_chain(data.snapshot_time, &chain)) chain = {NONE, 0, 0};
    chain.file_checksum = file_checksum;
    return build_recording_end_record(&data, &chain, stored);
}

void stop_recording(void)
{
    recording_globals_data *g = recording_globals;
    if (!g || g->state != _state_recording) return;
    // The film closes with the state of its last tick, which a replay
    // compares; the lobby's copy of the film gets it too.
    alignas(command_header) uint8_t end_record[MAXIMUM_RECORDING_END_RECORD_SIZE];
    const int32_t end_size = build_end_record_of_current_tick(g->file_checksum, end_record);
    const auto stream = get_lobby_procedures()->send_recording_stream_command;
    if (stream) stream((const command_header *)end_record);
    const auto stream_end = get_lobby_procedures()->send_recording_stream_end;
    const int32_t end_tick = recording_end_tick();
    if (stream_end) stream_end(end_tick);
    const int32_t never_ran = drop_held_commands_after(end_tick);
    if (never_ran > 0)
        log_message(__FILE__, __LINE__, "the film closes at tick %d: %d commands stamped after it never ran and are "
                                        "left out",
                    end_tick, never_ran);
    write_due_commands(end_tick);
    drop_buffered_commands_after(end_tick);
    if (g->buffer_size + end_size > RECORDING_BUFFER_SIZE) flush_recording_buffer(false);
    if (g->state == _state_recording && g->buffer_size + end_size <= RECORDING_BUFFER_SIZE)
    {
        memcpy(g->buffer + g->buffer_size, end_record, (size_t)end_size);
        g->buffer_size = (int16_t)(g->buffer_size + end_size);
        ++g->command_count;
    }
    flush_recording_buffer(true);
    set_tick_end_state(_tick_end_state_not_kept);
    tag_files_flush();
    if (g->film_incomplete) log_message(__FILE__, __LINE__, "the film of this game is incomplete");
    g->state = _state_uninitialized;
    crash_film.film_path[0] = 0;
}

// ---- the crash procedure -----------------------------------------------------------------
// Plain system calls on the film's file, whose layout the store documents: a
// 64-byte header (name at 24, data size at 56), then the tag's data.

static bool write_whole_at(int descriptor, const void *data, size_t size, off_t offset)
{
    const uint8_t *bytes = (const uint8_t *)data;
    while (size > 0)
    {
        const ssize_t written = pwrite(descriptor, bytes, size, offset);
        if (written <= 0) return false;
        bytes += written;
        size -= (size_t)written;
        offset += written;
    }
    return true;
}

static void crash_log(const char *first, const char *second, const char *third)
{
    const int descriptor = log_file_descriptor();
    if (descriptor < 0) return;
    const char *parts[] = {first, second, third, "\n"};
    for (const char *part : parts)
        if (part && write(descriptor, part, strlen(part)) < 0) return;
}

static size_t append_number(char *buffer, size_t length, int64_t value, int32_t width)
{
    char digits[24];
    int32_t count = 0;
    uint64_t magnitude = value < 0 ? 0 : (uint64_t)value;
    do
    {
        digits[count++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count < width) digits[count++] = '0';
    while (count > 0) buffer[length++] = digits[--count];
    return length;
}

// "Crash YYYY-MM-DD hh.mm.ss" in local time, from the offset taken when the
// film started (localtime may lock).
static void crash_film_name(char *name)
{
    const int64_t seconds = (int64_t)time(nullptr) + crash_film.utc_offset_seconds;
    int64_t days = seconds / 86400, second_of_day = seconds % 86400;
    if (second_of_day < 0) second_of_day += 86400, days -= 1;
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t day_of_era = days - era * 146097;
    const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t month_from_march = (5 * day_of_year + 2) / 153;
    const int64_t day = day_of_year - (153 * month_from_march + 2) / 5 + 1;
    const int64_t month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
    const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    size_t length = 0;
    for (const char *p = "Crash "; *p; ++p) name[length++] = *p;
    length = append_number(name, length, year, 4);
    name[length++] = '-';
    length = append_number(name, length, month, 2);
    name[length++] = '-';
    length = append_number(name, length, day, 2);
    name[length++] = ' ';
    length = append_number(name, length, second_of_day / 3600, 2);
    name[length++] = '.';
    length = append_number(name, length, second_of_day / 60 % 60, 2);
    name[length++] = '.';
    length = append_number(name, length, second_of_day % 60, 2);
    name[length] = 0;
}

// Writes a block of the buffer's commands at the recording offset, which
// moves past it.
static bool write_block_from_handler(int descriptor, bool last)
{
    recording_globals_data *g = recording_globals;
    uint8_t block[sizeof(recording_block_header)];
    write_be32(block, last ? (uint32_t)_last_recording_block_flag : 0u);
    write_be16(block + 4, (uint16_t)g->buffer_size);
    write_be16(block + 6, (uint16_t)g->command_count);
    const off_t start = LOCAL_TAG_FILE_HEADER_SIZE + (off_t)g->recording_tag_offset;
    if (!write_whole_at(descriptor, block, sizeof(block), start) ||
        !write_whole_at(descriptor, g->buffer, (size_t)g->buffer_size, start + (off_t)sizeof(block)))
        return false;
    g->recording_tag_offset += (int32_t)sizeof(block) + g->buffer_size;
    g->buffer_size = 0;
    g->command_count = 0;
    return true;
}

// The end record of a film a crash closes, of a version with sync chains:
// its tick and the checksum of its header, but no state (the game may be
// broken), which first_tick NONE says.  Built by hand: no codec may run here.
static int32_t build_crash_end_record(uint8_t *stored)
{
    const int32_t time = game_->game_time;
    write_be16(stored, RECORDING_CHAINED_END_RECORD_SIZE);
    stored[2] = (uint8_t)_command_sync;
    stored[3] = (uint8_t)(int8_t)NONE;
    write_be32(stored + 4, (uint32_t)time);
    write_be32(stored + 8, (uint32_t)time);
    write_be32(stored + 12, 0);
    write_be32(stored + 16, 0);
    write_be32(stored + 20, (uint32_t)NONE);
    write_be32(stored + 24, 0);
    write_be32(stored + 28, recording_globals->file_checksum);
    return RECORDING_CHAINED_END_RECORD_SIZE;
}

// Closes the film in its file: the commands that ran as the last block (with
// the end record of a version that has one), the ending time, the data size.
static bool close_film_from_handler(int descriptor)
{
    recording_globals_data *g = recording_globals;
    drop_buffered_commands_after(game_->game_time);
    drop_held_commands_after(game_->game_time);
    while (move_due_commands(game_->game_time))
        if (!write_block_from_handler(descriptor, false)) return false;
    if (sync_chains_in_use())
    {
        uint8_t end_record[RECORDING_CHAINED_END_RECORD_SIZE];
        const int32_t end_size = build_crash_end_record(end_record);
        if (g->buffer_size + end_size > RECORDING_BUFFER_SIZE && !write_block_from_handler(descriptor, false))
            return false;
        memcpy(g->buffer + g->buffer_size, end_record, (size_t)end_size);
        g->buffer_size = (int16_t)(g->buffer_size + end_size);
        ++g->command_count;
    }
    if (!write_block_from_handler(descriptor, true)) return false;
    uint8_t word[4];
    write_be32(word, (uint32_t)game_->game_time);
    uint8_t data_size[4];
    write_be32(data_size, (uint32_t)g->recording_tag_offset);
    return write_whole_at(descriptor, word, sizeof(word),
                          LOCAL_TAG_FILE_HEADER_SIZE + offsetof(recording_file_header, recording_ending_time)) &&
           write_whole_at(descriptor, data_size, sizeof(data_size), LOCAL_TAG_FILE_DATA_SIZE_OFFSET) &&
           fsync(descriptor) == 0;
}

// Copies the closed film to a new file named `name` with its own subgroup.
static bool copy_film_from_handler(int source, const char *path, const char *name)
{
    const int destination = open(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (destination < 0) return false;
    uint8_t piece[4096];
    off_t offset = 0;
    bool ok = true;
    for (;;)
    {
        const ssize_t count = pread(source, piece, sizeof(piece), offset);
        if (count < 0) ok = false;
        if (count <= 0) break;
        if (offset == 0 && count >= LOCAL_TAG_FILE_HEADER_SIZE)
        {
            memset(piece + LOCAL_TAG_FILE_NAME_OFFSET, 0, LOCAL_TAG_NAME_SIZE);
            memcpy(piece + LOCAL_TAG_FILE_NAME_OFFSET, name, strlen(name));
            // Any subgroup but the film's own, 0 and NONE; the store sorts out
            // the rare clash with another film as it does for any two files.
            uint32_t subgroup = (uint32_t)time(nullptr) ^ ((uint32_t)getpid() << 12) ^ 0x43726173u;
            if (subgroup == 0 || subgroup == (uint32_t)NONE || subgroup == read_be32(piece + LOCAL_TAG_FILE_SUBGROUP_OFFSET))
                subgroup ^= 0x5a5a0001u;
            write_be32(piece + LOCAL_TAG_FILE_SUBGROUP_OFFSET, subgroup);
        }
        if (!write_whole_at(destination, piece, (size_t)count, offset))
        {
            ok = false;
            break;
        }
        offset += count;
    }
    if (fsync(destination) != 0) ok = false;
    close(destination);
    return ok;
}

void recording_crash_handler(void)
{
    recording_globals_data *g = recording_globals;
    if (crash_film.running) return;
    crash_film.running = 1;
    if (!g || g->state != _state_recording || !crash_film.film_path[0]) return;
    const int descriptor = open(crash_film.film_path, O_RDWR);
    if (descriptor < 0) return;
    if (close_film_from_handler(descriptor))
    {
        g->state = _state_uninitialized;
        crash_log("Recording Buffers Flushed", nullptr, nullptr);
        char name[LOCAL_TAG_NAME_SIZE];
        crash_film_name(name);
        char path[PATH_MAX];
        size_t length = 0;
        for (const char *p = crash_film.folder_path; *p && length < sizeof(path) - 40; ++p) path[length++] = *p;
        path[length++] = '/';
        for (const char *p = name; *p; ++p) path[length++] = *p;
        path[length] = 0;
        if (copy_film_from_handler(descriptor, path, name)) crash_log("Saved Recording To '", name, "'");
    }
    close(descriptor);
}

// ---- playback -----------------------------------------------------------------------------

bool private_start_replay(tag subgroup_tag, new_game_data *data, bool replay)
{
    recording_globals_data *g = recording_globals;
    // A prepared replay whose map never started is replaced.
    if (g && g->state == _state_starting_replay) g->state = _state_uninitialized;
    if (!g || g->state != _state_uninitialized)
    {
        char text[96];
        slprintf(text, sizeof(text), "globals: 0x%x state: %d", g ? 1u : 0u, g ? (int32_t)g->state : (int32_t)NONE);
        VASSERT(false, text);
        return false;
    }
    g->replay_path[0] = 0;
    const tag group = replay ? RECORDING_GROUP_TAG : SAVED_GAME_GROUP_TAG;
    const int32_t tag_index = g->starting_from_path ? g->path_tag_index : tag_file_open(group, subgroup_tag);
    g->starting_from_path = false;
    if (tag_index == NONE)
    {
        ERROR_MESSAGE(_error_file_open, "couldn't open recording tag '%s'", tag_to_string(subgroup_tag));
        return false;
    }
    recording_file_header file_header;
    if (!read_recording_header(tag_index, &file_header)) return false;
    // Checked whole before anything is set up: a cut or damaged file must not
    // replay as far as it reads and pass for the whole game (nor a saved game
    // continue a different one), nor keep a replay going for days.
    if (const char *problem = recording_file_problem(tag_index, &file_header, tag_size(tag_index)))
    {
        ERROR_MESSAGE(_error_data_corrupted, "%s '%s' (file \"%s\") is damaged: %s", replay ? "film" : "saved game",
                      tag_file_name_get(tag_index), tag_file_full_filename_get(tag_index), problem);
        return false;
    }
    char data_text[256];
    if (const char *problem = recording_data_problem(&file_header, data_text, sizeof(data_text)))
    {
        ERROR_MESSAGE(_error_data_mismatch, "%s '%s' (file \"%s\"): %s",
                      replay ? "film" : "saved game", tag_file_name_get(tag_index),
                      tag_file_full_filename_get(tag_index), problem);
        return false;
    }
    strlcpy(last_viewed_recording_file_name, tag_file_name_get(tag_index), sizeof(last_viewed_recording_file_name));
    strlcpy(g->statistics_name, tag_file_full_filename_get(tag_index), sizeof(g->statistics_name));
    *data = file_header.game;
    log_message(nullptr, -1, replay ? "Replaying film \"%s\" ..." : "Loading saved game \"%s\" ...",
                last_viewed_recording_file_name);

    const int16_t stored_type = data->parameters.type;
    g->game_can_be_reentered = stored_type == _game_type_local;
    g->solo_replay = stored_type == _game_type_local || (data->parameters.option_flags & _game_option_cooperative_flag);
    g->original_game_type = stored_type;
    note_replayed_game_type(stored_type);
    data->parameters.type = _game_type_replay;
    current_gameplay_version = compute_gameplay_version(&data->parameters, compute_minimum_build_number(data));
    if (!g->solo_replay)
    {
        data->parameters.option_flags &= ~(uint32_t)_game_option_limited_visibility_flag;
        data->local_player_index = NONE;
    }

    const int32_t length = file_header.monster_initializers_length;
    if (length > 0)
    {
        void *initializers = malloc((size_t)length);
        const bool read = initializers && tag_file_read(tag_index, file_header.monster_initializers_offset, length,
                                                        initializers);
        const bool imported = read && import_monster_initializers(initializers, length);
        free(initializers);
        if (!imported)
        {
            ERROR_MESSAGE(_error_file_read, "couldn't read the unit initializers of '%s'", last_viewed_recording_file_name);
            return false;
        }
    }
    else
        reset_monster_initializers();

    g->state = _state_starting_replay;
    g->recording_group_tag = group;
    g->recording_subgroup_tag = subgroup_tag;
    g->buffer_size = 0;
    g->command_count = 0;
    g->replay_speed = NORMAL_REPLAY_SPEED_INDEX;
    g->recording_tag_offset = file_header.data_offset;
    g->oldest_command_in_buffer_time = 0;
    g->recording_end_time = file_header.recording_ending_time;
    g->replay_failed = false;
    if (!replay) g->last_save_game_tag = subgroup_tag;
    return true;
}

bool enter_replay_immediately(tag subgroup_tag, new_game_data *data)
{
    return private_start_replay(subgroup_tag, data, true);
}

bool begin_replay(new_game_data *data, tag replay_tag)
{
    const int32_t tag_index = tag_file_open(RECORDING_GROUP_TAG, replay_tag);
    recording_file_header file_header;
    if (!read_recording_header(tag_index, &file_header)) return false;
    const new_game_parameter_data *parameters = &file_header.game.parameters;
    static missing_plugin_info missing[MAXIMUM_MISSING_PLUGINS];
    const int32_t missing_count = tag_file_plugins_decode_missing(parameters->plugin_data, ENCODED_PLUGIN_DATA_SIZE,
                                                                  missing, MAXIMUM_MISSING_PLUGINS);
    if (missing_count < 0)
    {
        log_message(__FILE__, __LINE__, "film '%s' refused: its plug-in list does not decode", tag_file_name_get(tag_index));
        return false;
    }
    if (missing_count > 0)
    {
        const auto dialog = get_networking_procedures()->open_missing_plugins_dialog;
        const int32_t shown = missing_count < MAXIMUM_MISSING_PLUGINS ? missing_count : MAXIMUM_MISSING_PLUGINS;
        log_message(__FILE__, __LINE__, "film '%s' refused: it needs %d plug-ins that are not installed (first: '%s')",
                    tag_file_name_get(tag_index), missing_count, missing[0].name);
        // The player is offered the missing plug-ins to look up.
        if (dialog) dialog(missing, shown, 2);
        return false;
    }
    if (!get_mesh_display_name_in_plugin_list(parameters->scenario_tag, nullptr, 0, parameters->plugin_data,
                                              ENCODED_PLUGIN_DATA_SIZE))
    {
        log_message(__FILE__, __LINE__, "film '%s' refused: its map '%s' is not available", tag_file_name_get(tag_index),
                    tag_to_string(parameters->scenario_tag));
        return false;
    }
    return private_start_replay(replay_tag, data, true);
}

// Queues the commands of one block read into the buffer.  The block has been
// checked.
static void queue_block_commands(int32_t size, bool saved_game)
{
    recording_globals_data *g = recording_globals;
    alignas(command_header) static uint8_t command[MAXIMUM_COMMAND_SIZE];
    for (int32_t offset = 0; offset + (int32_t)sizeof(command_header) <= size;)
    {
        command_header header;
        memcpy(&header, g->buffer + offset, sizeof(header));
        byte_swap_command_header_big(&header);
        if (header.size < (int16_t)sizeof(command_header) || header.size > size - offset) break;
        recording_end_record end_record;
        if (is_recording_end_record(g->buffer + offset, header.size, &end_record))
        {
            // Not run: compared with the game as its tick ends (the film of
            // a crash has no state to compare).
            if (end_record.chained && end_record.chain.first_tick == NONE)
                log_message(__FILE__, __LINE__, "'%s' was closed by a crash: its last state was not recorded",
                            last_viewed_recording_file_name);
            else
                expect_final_state(&end_record.state, end_record.chained ? &end_record.chain : nullptr);
            offset += header.size;
            continue;
        }
        // A command stamped past a closed file's end never ran (an earlier
        // build wrote some that were stamped ahead of its clock): it is
        // passed over, and the reading goes on to the end record, whose
        // state judges the game.
        if ((saved_game || g->recording_end_time != 0) && header.time > g->recording_end_time)
        {
            offset += header.size;
            continue;
        }
        if (header.time >= g->oldest_command_in_buffer_time)
        {
            memcpy(command, g->buffer + offset, (size_t)header.size);
            memcpy(command, &header, sizeof(header));
            queue_incoming_command((const command_header *)command);
            g->oldest_command_in_buffer_time = header.time;
        }
        offset += header.size;
    }
}

// A closed film or saved game was checked whole when it started: one found
// cut now was changed under the replay and is not played as far as it reads.
static void end_cut_replay(const char *name, int32_t offset)
{
    ERROR_MESSAGE(_error_data_corrupted, "'%s' is damaged: it is cut at offset 0x%x before its last block", name, offset);
    end_replay_with_error();
}

// A film cut where its game was killed: the tick of the last command read
// may have had more commands in what was lost (a block ends wherever its
// buffer fills, amid a tick's commands), so the replay stops before that
// tick runs: every tick it plays has all of its commands.
static void end_at_last_whole_tick(void)
{
    recording_globals_data *g = recording_globals;
    if (g->recording_end_time < g->oldest_command_in_buffer_time)
        g->recording_end_time = g->oldest_command_in_buffer_time;
    g->state = _state_replay_finishing;
    g->oldest_command_in_buffer_time = g->recording_end_time;
}

// Reads and queues the next block; false when no block more can be read now.
static bool read_next_block(bool saved_game)
{
    recording_globals_data *g = recording_globals;
    const char *name = last_viewed_recording_file_name;
    const int32_t tag_index = open_recording_tag();
    if (tag_index == NONE)
    {
        ERROR_MESSAGE(_error_file_read, "couldn't read recording tag header in update_replay()");
        end_replay_with_error();
        return false;
    }
    const int32_t size_of_tag = tag_size(tag_index);
    const int32_t left = size_of_tag - g->recording_tag_offset;
    recording_block_header block;
    const bool closed = saved_game || g->recording_end_time != 0;
    if (closed && left < (int32_t)sizeof(block))
    {
        end_cut_replay(name, g->recording_tag_offset);
        return false;
    }
    if (left < (int32_t)sizeof(block))
    {
        // A film cut short (the game did not close it): play what was read.
        end_at_last_whole_tick();
        log_message(__FILE__, __LINE__, "warning: film '%s' ends without its last block (offset 0x%x of %d bytes): "
                                        "it plays to tick %d, the last whose commands are all whole",
                    name, g->recording_tag_offset, size_of_tag, g->recording_end_time);
        return false;
    }
    if (!tag_file_read(tag_index, g->recording_tag_offset, sizeof(block), &block))
    {
        ERROR_MESSAGE(_error_file_read, "couldn't read block header from replay '%s' offset: 0x%x size to read: %d size got: %d",
                      name, g->recording_tag_offset, 8, 8);
        end_replay_with_error();
        return false;
    }
    byte_swap_recording_block_header(&block);
    const int32_t size = block.size;
    if (size > RECORDING_BUFFER_SIZE)
    {
        ERROR_MESSAGE(_error_file_read, "couldn't read command data from replay '%s'", name);
        end_replay_with_error();
        return false;
    }
    const int32_t available = left - (int32_t)sizeof(block);
    if (available < size)
    {
        if (closed)
        {
            end_cut_replay(name, g->recording_tag_offset);
            return false;
        }
        // The last block is cut: its whole commands still play.
        if (available > 0 && tag_file_read(tag_index, g->recording_tag_offset + (int32_t)sizeof(block), available, g->buffer))
            queue_block_commands(available, saved_game);
        end_at_last_whole_tick();
        log_message(__FILE__, __LINE__, "warning: film '%s' is cut inside a block at offset 0x%x: it plays to tick %d, "
                                        "the last whose commands are all whole",
                    name, g->recording_tag_offset, g->recording_end_time);
        return false;
    }
    if (size > 0 && !tag_file_read(tag_index, g->recording_tag_offset + (int32_t)sizeof(block), size, g->buffer))
    {
        ERROR_MESSAGE(_error_file_read, "couldn't read command data from replay '%s'", name);
        end_replay_with_error();
        return false;
    }
    const char *problem = recording_block_problem(g->buffer, size, block.command_count);
    if (problem)
    {
        ERROR_MESSAGE(_error_data_corrupted, "film '%s' is damaged at offset 0x%x: %s", name, g->recording_tag_offset,
                      problem);
        end_replay_with_error();
        return false;
    }
    queue_block_commands(size, saved_game);
    g->recording_tag_offset += (int32_t)sizeof(block) + size;
    if (block.flags & _last_recording_block_flag)
    {
        g->state = _state_replay_finishing;
        g->oldest_command_in_buffer_time = g->recording_end_time;
        return false;
    }
    return true;
}

void update_replay(int32_t local_ticks_elapsed)
{
    recording_globals_data *g = recording_globals;
    if (!g) return;
    const bool saved_game = g->recording_group_tag == SAVED_GAME_GROUP_TAG;
    if (g->state == _state_replaying || g->state == _state_replay_finishing)
    {
        // Blocks are read ahead while the queue has room for a whole one and
        // the commands read so far do not reach the time the game runs to.
        const int32_t wanted = game_->target_time + (local_ticks_elapsed > 0 ? local_ticks_elapsed : 0);
        while (g->state == _state_replaying && free_space_in_incoming_queue() >= RECORDING_BUFFER_SIZE &&
               (saved_game || g->oldest_command_in_buffer_time <= wanted))
            if (!read_next_block(saved_game)) break;
    }

    if (g->state == _state_replaying || g->state == _state_replay_finishing)
    {
        int32_t target;
        if (saved_game)
            target = g->recording_end_time < g->oldest_command_in_buffer_time ? g->recording_end_time
                                                                               : g->oldest_command_in_buffer_time;
        else
        {
            target = game_->target_time + (local_ticks_elapsed > 0 ? local_ticks_elapsed : 0);
            // Never past a command not read yet (the next block may hold more
            // of the same tick), nor past the end of a closed film.
            if (g->state == _state_replaying && target > g->oldest_command_in_buffer_time)
                target = g->oldest_command_in_buffer_time > game_->target_time ? g->oldest_command_in_buffer_time
                                                                               : game_->target_time;
            if (g->recording_end_time > 0 && target > g->recording_end_time) target = g->recording_end_time;
        }
        if (target > game_->target_time) game_->target_time = target;
    }

    if (g->state == _state_replay_finishing && game_->game_time >= g->recording_end_time)
    {
        if (saved_game)
        {
            if (duplicate_current_recording_into_last_recording())
            {
                // The saved game goes on as the single-player game it was:
                // its commands are the player's again, and it keeps time.
                g->state = _state_recording;
                // The restore stops between ticks, at the state its last tick left.
                set_tick_end_state(_tick_end_state_kept_from_now);
                game_->type = g->original_game_type;
                set_sync_originator(game_->type == _game_type_local);
                log_message(nullptr, -1, "saved game \"%s\" restored at tick %d: game type %d",
                            last_viewed_recording_file_name, game_->game_time, game_->type);
            }
            else
                g->state = _state_replay_done;
        }
        else
            g->state = _state_replay_done;
    }
}

bool replay_over(void)
{
    recording_globals_data *g = recording_globals;
    if (!g) return true;
    switch (g->state)
    {
    case _state_uninitialized:
    case _state_recording:
    case _state_replay_done: return true;
    case _state_starting_replay:
    case _state_replaying:
    case _state_replay_finishing: return false;
    default:
    {
        char text[64];
        slprintf(text, sizeof(text), "What is state %d?", g->state);
        HALT(text);
        return false;
    }
    }
}

bool replay_failed(void) { return recording_globals && recording_globals->replay_failed; }
int16_t get_replay_game_type(void) { return recording_globals ? recording_globals->original_game_type : (int16_t)NONE; }
bool game_is_solo_replay(void) { return recording_globals && recording_globals->solo_replay; }

const char *get_saved_game_name(void)
{
    recording_globals_data *g = recording_globals;
    if (!g || g->recording_group_tag == NONE) return "";
    const int32_t tag_index = tag_file_open(g->recording_group_tag, g->recording_subgroup_tag);
    return tag_index == NONE ? "" : tag_file_name_get(tag_index);
}

void save_game_statistics_to_last_viewed_recording_csv(void)
{
    // Named after the film's file, so that replaying a film never writes
    // over the statistics of the game whose name the film carries inside.
    const recording_globals_data *g = recording_globals;
    save_game_statistics_csv(g && g->statistics_name[0] ? g->statistics_name : last_viewed_recording_file_name);
}

// ---- the last recording ---------------------------------------------------------------------

tag get_last_recording_subgroup(void)
{
    const int32_t tag_index =
        tag_file_find_by_name(RECORDING_GROUP_TAG, get_replay_filename_string(_string_index_last_recording_filename));
    tag_file_info info;
    return tag_index != NONE && tag_file_info_get(tag_index, &info) ? info.subgroup_tag : (tag)NONE;
}

// Copies the last recording into the film at `*destination`.
static bool copy_last_recording_into(int32_t *destination)
{
    const tag last = get_last_recording_subgroup();
    const int32_t source = last == (tag)NONE ? NONE : tag_file_open(RECORDING_GROUP_TAG, last);
    const int32_t size = source == NONE ? -1 : tag_size(source);
    if (size < 0 || *destination == NONE || !copy_tag_bytes(source, 0, destination, 0, size))
    {
        ERROR_MESSAGE(_error_file_write, "couldn't copy the last recording");
        return false;
    }
    // A film saved over a taken name replaces it only now, whole.
    return tag_file_commit(*destination);
}

bool duplicate_last_replay(tag new_subgroup_tag)
{
    int32_t destination = tag_file_open(RECORDING_GROUP_TAG, new_subgroup_tag);
    return copy_last_recording_into(&destination);
}

bool duplicate_last_replay_as(const char *name)
{
    int32_t destination = tag_file_new_with_random_subgroup_tag(RECORDING_GROUP_TAG, name, RECORDING_VERSION_NUMBER);
    if (destination == NONE)
    {
        ERROR_MESSAGE(_error_file_create, "couldn't create the film '%s'", name ? name : "");
        return false;
    }
    if (copy_last_recording_into(&destination)) return true;
    tag_file_delete(destination);
    return false;
}

bool save_last_replay(const char *name, int32_t *tag_index_out)
{
    if (tag_index_out) *tag_index_out = NONE;
    if (get_last_recording_subgroup() == (tag)NONE) return false;
    const auto dialog = get_front_end_procedures()->tag_save_dialog;
    if (!dialog) return false;
    const char *default_name = name ? name : get_replay_filename_string(_string_index_untitled_replay);
    int32_t destination = dialog("", RECORDING_GROUP_TAG, default_name, RECORDING_VERSION_NUMBER, nullptr);
    if (destination == NONE) return false;
    if (!copy_last_recording_into(&destination))
    {
        tag_file_delete(destination);
        return false;
    }
    if (tag_index_out) *tag_index_out = destination;
    return true;
}

bool duplicate_current_recording_into_last_recording(void)
{
    recording_globals_data *g = recording_globals;
    const int32_t saved = tag_file_open(g->recording_group_tag, g->recording_subgroup_tag);
    if (saved == NONE)
    {
        ERROR_MESSAGE(_error_file_general, "Unable to duplicate the current recording into last recording!");
        return false;
    }
    recording_file_header saved_header;
    if (!read_recording_header(saved, &saved_header))
    {
        char group[5], subgroup[5];
        ERROR_MESSAGE(_error_file_read, "Unable to read the current recording header (%s:%s)!",
                      tag_to_string_buffer(g->recording_group_tag, group),
                      tag_to_string_buffer(g->recording_subgroup_tag, subgroup));
        return false;
    }
    const tag saved_group = g->recording_group_tag, saved_subgroup = g->recording_subgroup_tag;
    const int32_t end_time = g->recording_end_time;

    g->state = _state_uninitialized;
    new_game_data data = saved_header.game;
    data.parameters.type = _game_type_local;
    if (!start_new_recording(&data)) return false;
    int32_t last = tag_file_open(RECORDING_GROUP_TAG, g->recording_subgroup_tag);
    recording_file_header last_header;
    if (last == NONE)
    {
        ERROR_MESSAGE(_error_file_read, "couldn't read tag header for last recording");
        return false;
    }
    if (!read_recording_header(last, &last_header))
    {
        ERROR_MESSAGE(_error_file_read, "couldn't read new recording header!");
        return false;
    }

    // The blocks of the saved game up to its end, none marked last.
    const int32_t source = tag_file_open(saved_group, saved_subgroup);
    int32_t offset = saved_header.data_offset;
    const int32_t size_of_source = tag_size(source);
    for (;;)
    {
        recording_block_header block;
        if (offset + (int32_t)sizeof(block) > size_of_source) break; // cut short: what was there is kept
        if (!tag_file_read(source, offset, sizeof(block), &block))
        {
            ERROR_MESSAGE(_error_file_read, "couldn't read block header from last recording");
            return false;
        }
        byte_swap_recording_block_header(&block);
        if (block.size > RECORDING_BUFFER_SIZE)
        {
            log_message(__FILE__, __LINE__, "command_length<=RECORDING_BUFFER_SIZE");
            return false;
        }
        uint8_t commands[RECORDING_BUFFER_SIZE];
        if (block.size > 0 && (offset + (int32_t)sizeof(block) + block.size > size_of_source ||
                               !tag_file_read(source, offset + (int32_t)sizeof(block), block.size, commands)))
        {
            ERROR_MESSAGE(_error_file_read, "couldn't read commands from last recording");
            return false;
        }
        if (recording_block_problem(commands, block.size, block.command_count))
        {
            ERROR_MESSAGE(_error_data_corrupted, "the saved game's commands are damaged at offset 0x%x", offset);
            return false;
        }
        // Cut at the first command stamped after the end; the saved game's
        // end record is no command of the game that goes on.
        int32_t count = 0;
        bool cut = false;
        const int32_t kept = keep_commands_up_to(commands, block.size, end_time, commands, &count, &cut);
        recording_block_header copy = {0, (uint16_t)kept, (int16_t)count};
        byte_swap_recording_block_header(&copy);
        if (!tag_file_write(&last, g->recording_tag_offset, sizeof(copy), &copy))
        {
            ERROR_MESSAGE(_error_file_write, "couldn't write block header to last recording");
            return false;
        }
        if (kept > 0 && !tag_file_write(&last, g->recording_tag_offset + (int32_t)sizeof(copy), kept, commands))
        {
            ERROR_MESSAGE(_error_file_write, "couldn't write commands to last recording");
            return false;
        }
        g->recording_tag_offset += (int32_t)sizeof(copy) + kept;
        offset += (int32_t)sizeof(block) + block.size;
        if (cut || (block.flags & _last_recording_block_flag)) break;
    }
    return true;
}

bool get_recording_in_progress(tag *subgroup_tag, int32_t *written_end, const uint8_t **unwritten,
                               int16_t *unwritten_size, int16_t *unwritten_count)
{
    recording_globals_data *g = recording_globals;
    if (!g || g->state != _state_recording) return false;
    // The commands due by now are the save's; those held stay the film's.
    write_due_commands(recording_end_tick());
    if (g->state != _state_recording) return false;
    *subgroup_tag = g->recording_subgroup_tag;
    *written_end = g->recording_tag_offset;
    *unwritten = g->buffer;
    *unwritten_size = g->buffer_size;
    *unwritten_count = g->command_count;
    return true;
}

tag get_last_save_game_tag(void) { return recording_globals ? recording_globals->last_save_game_tag : (tag)NONE; }

const char *get_recording_last_save_game_name(void)
{
    return recording_globals ? recording_globals->last_save_game_name : "";
}

void set_last_save_game(tag subgroup_tag, const char *name)
{
    recording_globals_data *g = recording_globals;
    if (!g) return;
    g->last_save_game_tag = subgroup_tag;
    strlcpy(g->last_save_game_name, name ? name : "", sizeof(g->last_save_game_name));
}

const char *get_recording_time_string(void)
{
    static char text[32];
    const time_t now = time(nullptr);
    struct tm local;
    if (!localtime_r(&now, &local) || !strftime(text, sizeof(text), RECORDING_TIME_FORMAT, &local)) text[0] = 0;
    return text;
}

void fit_dated_film_name(char *name, size_t size, const char *time)
{
    if (!name || size == 0) return;
    const size_t limit = size - 1 < (size_t)MAXIMUM_TAG_NAME_LENGTH ? size - 1 : (size_t)MAXIMUM_TAG_NAME_LENGTH;
    size_t length = strlen(name);
    if (length <= limit) return;
    const char *at = time && time[0] ? strstr(name, time) : nullptr;
    if (at)
    {
        // The time keeps one game's film apart from the next: the words
        // before it give way, last word first ("Network 2026-...").
        const size_t time_length = strlen(time);
        size_t head = (size_t)(at - name);
        const size_t tail = length - head - time_length;
        while (head > 0 && head + time_length + tail > limit)
        {
            size_t end = head;
            while (end > 0 && name[end - 1] == ' ') --end; // the spaces before the time
            while (end > 0 && name[end - 1] != ' ') --end; // the last word
            head = end;
        }
        memmove(name + head, at, time_length + tail + 1);
        length = strlen(name);
    }
    if (length > limit) name[limit] = 0;
}

// ---- the command line and the out-of-sync check ------------------------------------------

// Opens the local tag file at `path`, of group `group` (`what` names it in the
// log), and starts it with `start`.
static bool begin_from_path(const char *path, new_game_data *data, tag group, const char *what,
                            bool (*start)(tag subgroup_tag, new_game_data *data))
{
    if (!recording_globals) return false;
    const int32_t tag_index = tag_file_open_local_file(path);
    tag_file_info info;
    if (tag_index == NONE || !tag_file_info_get(tag_index, &info))
    {
        ERROR_MESSAGE(_error_file_open, "the %s '%s' cannot be opened (missing, unreadable or not a tag file)", what,
                      path ? path : "");
        return false;
    }
    if (info.group_tag != group)
    {
        ERROR_MESSAGE(_error_data_mismatch, "'%s' is no %s (its tag group is '%s')", path, what,
                      tag_to_string(info.group_tag));
        return false;
    }
    recording_globals->starting_from_path = true;
    recording_globals->path_tag_index = tag_index;
    const bool started = start(info.subgroup_tag, data);
    recording_globals->starting_from_path = false;
    if (!started) return false;
    // The map start reopens the store, which closes files opened by path.
    if (!realpath(path, recording_globals->replay_path)) strlcpy(recording_globals->replay_path, path, PATH_MAX);
    return true;
}

bool begin_film_from_path(const char *path, new_game_data *data)
{
    return begin_from_path(path, data, RECORDING_GROUP_TAG, "film", enter_replay_immediately);
}

static bool start_saved_game_replay(tag subgroup_tag, new_game_data *data)
{
    return private_start_replay(subgroup_tag, data, false);
}

bool begin_saved_game_from_path(const char *path, new_game_data *data)
{
    return begin_from_path(path, data, SAVED_GAME_GROUP_TAG, "saved game", start_saved_game_replay);
}

static int compare_film_names(const void *a, const void *b)
{
    return strcmp((const char *)a, (const char *)b);
}

int32_t find_oos_checker_films(int32_t *films, int32_t maximum)
{
    if (!oos_checker_films) return NONE;
    oos_checker_films->count = 0;
    // Every file is listed, not only those the store opens: a film too
    // damaged to open must fail the check, not be passed over.
    DIR *folder = opendir(OOS_CHECKER_FILMS_FOLDER);
    if (!folder) return errno == ENOENT ? 0 : NONE; // a missing folder holds nothing to check
    char directory[PATH_MAX];
    if (!realpath(OOS_CHECKER_FILMS_FOLDER, directory))
    {
        closedir(folder);
        return NONE;
    }
    static char names[MAXIMUM_OOS_CHECKER_FILMS][MAXIMUM_FILE_NAME];
    int32_t count = 0;
    // A film the check would pass over (one too many, or a name too long to
    // keep) makes the whole check fail: it must never report success for
    // films it did not play.
    const char *unchecked = nullptr;
    for (const dirent *entry = readdir(folder); entry && !unchecked; entry = readdir(folder))
    {
        if (entry->d_name[0] == '.') continue;
        char path[PATH_MAX];
        struct stat status;
        if (slprintf(path, sizeof(path), "%s/%s", directory, entry->d_name) >= (int32_t)sizeof(path) - 1 ||
            strlen(entry->d_name) >= MAXIMUM_FILE_NAME)
        {
            unchecked = "a file name too long to check";
            continue;
        }
        if (stat(path, &status) != 0 || !S_ISREG(status.st_mode)) continue;
        if (count == MAXIMUM_OOS_CHECKER_FILMS)
        {
            unchecked = "more films than one check plays (256)";
            continue;
        }
        strlcpy(names[count++], entry->d_name, MAXIMUM_FILE_NAME);
    }
    closedir(folder);
    if (unchecked)
    {
        log_message(nullptr, -1, "out-of-sync check: \"%s\" holds %s", OOS_CHECKER_FILMS_FOLDER, unchecked);
        return NONE;
    }
    if (count > 1) qsort(names, (size_t)count, MAXIMUM_FILE_NAME, compare_film_names);
    for (int32_t i = 0; i < count; ++i)
    {
        slprintf(oos_checker_films->paths[i], PATH_MAX, "%s/%s", directory, names[i]);
        if (films && i < maximum) films[i] = i;
    }
    oos_checker_films->count = count;
    return count < maximum ? count : maximum;
}

bool begin_oos_checker_film(int32_t film, new_game_data *data, char *name, size_t name_size)
{
    if (!oos_checker_films || film < 0 || film >= oos_checker_films->count) return false;
    const char *path = oos_checker_films->paths[film];
    const char *slash = strrchr(path, '/');
    if (name && name_size) strlcpy(name, slash ? slash + 1 : path, name_size);
    return begin_film_from_path(path, data);
}

// ---- registration -----------------------------------------------------------------------------

static bool startup_recording(void)
{
    if (recording_globals) return true; // a second start-up in one process (tests, the harness)
    return initialize_recording();
}

static bool map_recording(const new_game_data *data) { return initialize_recording_for_new_map(data); }

void register_recording_hooks(void)
{
    register_startup_procedure(_startup_recording, startup_recording);
    register_map_procedures(_map_recording, map_recording, dispose_recording_from_old_map);
    // (The handler does nothing until a film is being recorded.)
    register_crash_procedure(recording_crash_handler);
    static const recording_procedures procedures = {
        .record_incoming_command = record_incoming_command,
        .update_replay = update_replay,
        .replay_over = replay_over,
        .begin_film_from_path = begin_film_from_path,
        .find_oos_checker_films = find_oos_checker_films,
        .begin_oos_checker_film = begin_oos_checker_film,
        .save_film_statistics = save_game_statistics_to_last_viewed_recording_csv,
        .replay_game_type = get_replay_game_type,
    };
    register_recording_procedures(&procedures);
}

#undef MT00_SCENARIO_TAG
