#pragma once
// Commands: every order that changes the deterministic game travels as one.
// A command is an 8-byte header followed by its fields, big-endian from the
// moment they are encoded until they are decoded (in place, so once).  Two
// byte rings hold them: "outgoing" (built here, not yet stamped with a game
// time) and "incoming" (stamped, waiting for the tick at which they run).
// The same records go into films and over the network.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"

struct sync_command_data; // game_time.h

enum
{
    MAXIMUM_COMMAND_SIZE = 4096,
    MINIMUM_COMMAND_SIZE = 8, // the header alone
    INCOMING_QUEUE_BUFFER_SIZE = 12288,
    OUTGOING_QUEUE_BUFFER_SIZE = 2048,
    MAXIMUM_CHAT_MESSAGE_LENGTH = 192,
};

// The verbs.  `verb` is signed 8-bit on the wire: the network layer negates
// the verb of a command whose player it does not know, so -23..23 are valid.
enum command_verb
{
    _command_null,             // no data: a keep-alive
    _command_sync,             // sync_command_data (game_time.h)
    _command_general,
    _command_movement,
    _command_target,
    _command_attack_location,
    _command_pick_up,
    _command_rename,
    _command_rotation,
    _command_drop_player,
    _command_chat,
    _command_detach,
    _command_unit_adjustment,
    _command_sketch,
    _command_ally,
    _command_preset_selection,
    _command_sync_formation,
    _command_inventory,
    _command_inventory_drop,
    _command_inventory_prev,
    _command_inventory_next,
    _command_forced_endgame,
    _command_add_player,
    _command_tutorial_input,   // the tutorial watcher's verdict on local input (sniffing.h), from 1840
    NUMBER_OF_COMMAND_VERBS
};

// Wire, film and queue format.  In films and packets big-endian; while a
// command sits in either queue its header is in host order.
struct command_header
{
    int16_t size;        // whole command, header included: 8 .. MAXIMUM_COMMAND_SIZE
    int8_t verb;         // command_verb, negated for an unknown network player
    int8_t player_index; // NONE (-1) when built; the issuing player once stamped
    int32_t time;        // the game tick at which it executes; 0 when built
};
static_assert(sizeof(command_header) == 8);
static_assert(offsetof(command_header, size) == 0);
static_assert(offsetof(command_header, verb) == 2);
static_assert(offsetof(command_header, player_index) == 3);
static_assert(offsetof(command_header, time) == 4);
extern const byte_swap_code command_header_byte_swapping_data[];

// The 2-byte big-endian count in front of an array field.
struct command_array_header
{
    int16_t size;
};
static_assert(sizeof(command_array_header) == 2);

// Converts the 8-byte header in place between host and big-endian order
// (films, replay, the network packet layer).
void byte_swap_command_header_big(command_header *command);

// ---- life cycle -------------------------------------------------------------

// Allocates both rings (fatal error 8 when it cannot).
bool initialize_commands(void);
// Empties both rings for the map; a queue is usable only until the map ends.
bool initialize_commands_for_new_map(void);
void dispose_commands_from_old_map(void);

// ---- the queues -------------------------------------------------------------
// A record is stored whole and contiguous and never wraps around the end of
// the ring; it is stored only while the free space is strictly greater than
// its size.  A record whose size lies outside 8..MAXIMUM_COMMAND_SIZE or whose
// time is negative is refused when stored.  An empty outgoing ring starts
// again at offset 0, so it takes any record it can hold.

// Stores a copy in the outgoing ring; a full ring drops it (false).
bool queue_outgoing_command(const command_header *command);
// Stores a copy in the incoming ring; a refusal puts the game out of sync
// (once per game).
bool queue_incoming_command(const command_header *command);

// The oldest outgoing record, whatever its time; null when empty.
command_header *dequeue_outgoing_command(void);
// The oldest incoming record when its time is at most `time`, else null
// (records are taken strictly in queue order).  A damaged record met here
// empties the ring and puts the game out of sync once.  The pointer is to an
// aligned copy of the record, valid until the next record is taken from or
// stored into the same ring.
command_header *dequeue_incoming_command(int32_t time);
// Dequeues every incoming record.
void flush_incoming_queue(void);
// Free bytes of the incoming ring less MAXIMUM_COMMAND_SIZE, never below 0.
int32_t free_space_in_incoming_queue(void);
// Always 0.
int32_t get_local_command_latency(void);

// ---- the command stream -----------------------------------------------------
// Single-player and demo games: each frame every outgoing command is stamped
// with the target time and the local player, offered to the sniffer (below
// gameplay version 1840), queued as incoming and, once queued, handed to the
// recorder.

enum
{
    // From this version the sniffer judges a command as the executor runs it
    // (every machine and every replay sees the same stream, so a film or a
    // saved game replays the verdicts); below it, as the local game queues it,
    // and what it dropped never reached the film.
    FIRST_GAMEPLAY_VERSION_SNIFFING_RUNNING_COMMANDS = 1840,
};

// Sees a command (stamped, header in host order, fields still encoded) and
// says whether it may go on; false drops it.  The sniffer itself decides
// whose commands it judges.  Until filled every command is accepted.
typedef bool (*command_sniffing_procedure)(command_header *command);
bool register_command_sniffing_procedure(command_sniffing_procedure procedure);

// When the sniffer sees a command: as it is queued (the local game's stream,
// and the tools that give the local player's orders) or as it runs (the
// executor).  Each returns true, without asking the sniffer, at the moment the
// current gameplay version does not judge.
enum command_sniffing_moment
{
    _command_sniffed_when_queued,
    _command_sniffed_when_run,
};
bool command_passes_sniffing(command_header *command, command_sniffing_moment moment);

// Each local command, once queued as incoming, goes to the films' table
// (recording_procedures.h, `record_incoming_command`); until it is registered
// nothing is recorded.

// The core procedures queue_local_commands and queue_sync_command (game_hooks.h).
void queue_local_commands(int32_t target_time, int16_t player_index);
// Encodes a _command_sync command and queues it outgoing.
void queue_sync_command(const sync_command_data *data);

// ---- the codec --------------------------------------------------------------
// Fields follow one another with no gaps: data (one record, converted with
// its byte-swap description), array (a 2-byte count, then that many records)
// and string (the characters, then a zero byte).  A codec state that fails
// (an encoder that would pass MAXIMUM_COMMAND_SIZE, a decoder that would read
// past `size`, a negative count, a missing terminator, the wrong verb) logs an
// assertion once and stays failed: later encodes write nothing and later
// decodes return null, so a caller checks once at the end.

struct command_codec_state
{
    command_header *header;
    int16_t offset; // next byte to write or read, from the header's first byte
    bool failed;
};

// Starts a command in `buffer` (MAXIMUM_COMMAND_SIZE bytes): size 8, the
// verb, player NONE, time 0.
void command_encode_new(command_codec_state *state, void *buffer, int16_t verb);
void command_encode_data(command_codec_state *state, int16_t data_size, const void *data,
                         const byte_swap_code *bs_data);
void command_encode_array(command_codec_state *state, int16_t array_size, int16_t data_size, const void *data,
                          const byte_swap_code *bs_data);
void command_encode_string(command_codec_state *state, const char *string, int16_t maximum_string_length);

// Begins reading `header` (host order), whose verb must be `verb`.
void command_decode_new(command_codec_state *state, command_header *header, int16_t verb);
// Each returns the field, converted in place to host order, or null once the
// state has failed.
void *command_decode_data(command_codec_state *state, int16_t data_size, const byte_swap_code *bs_data);
void *command_decode_array(command_codec_state *state, int16_t *array_size, int16_t data_size,
                           const byte_swap_code *bs_data);
char *command_decode_string(command_codec_state *state, int16_t maximum_string_length);

// A check of a command that came from outside (unit_commands.h,
// command_decode_problem) runs its verb's reader between these two: a
// decoder's failure then asserts and logs nothing, and the end returns the
// first failure's reason (a static text), or null when none failed.
void begin_command_check(void);
const char *end_command_check(void);
