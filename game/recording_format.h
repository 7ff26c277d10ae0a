#pragma once
// Films and saved games as they are stored: local tags of the tag-file store,
// films in group 'reco', saved games in group 'save', both of tag version 3.
//
//   recording_file_header              at 0, 2600 bytes
//   snapshot (saved games only)        at snapshot_offset = 2600, snapshot_length bytes
//   unit initializers                  at monster_initializers_offset = 2600 + snapshot_length
//   unit placement (always empty)      at monster_placement_offset = initializers offset + length
//   command blocks                     at data_offset = placement offset + length, to the end
//
// A command block is a recording_block_header followed by `size` bytes of
// whole commands, each with its header big-endian, none of verb 0.  The last
// block of a complete film carries _last_recording_block_flag and may be empty.
// Every multi-byte field is big-endian; each record converts in place with its
// byte-swap description (the same call both ways).
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "game_records.h"
#include "game_time.h"
#include "tag_files/tag_files.h"

#define REPLAY_FILENAMES_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'r', 'f')
#define AUTOSAVE_PREFIX "Autosave "
// Autosaves of earlier versions were named so; they still count as autosaves.
#define EARLIER_AUTOSAVE_PREFIX "Autosave- "
#define CRASH_RECORDING_NAME_FORMAT "Crash %s"
#define RECORDING_TIME_FORMAT "%Y-%m-%d %H.%M.%S"

enum
{
    RECORDING_VERSION_NUMBER = 3,
    SAVE_GAME_VERSION_NUMBER = 3,
    RECORDING_BUFFER_SIZE = 2048,   // the largest block of commands
    RECORDING_FILE_HEADER_SIZE = 2600,
    SAVE_GAME_HEADER_SIZE = 2608,
    SAVE_GAME_SNAPSHOT_WIDTH = 160,
    SAVE_GAME_SNAPSHOT_HEIGHT = 120,
    NUMBER_OF_CACHED_CONSOLE_LINES = 10,
    CACHED_LINE_STRING_SIZE = 256,
    MAXIMUM_REPLAYS = 2048,          // films listed at most
    RECORDING_NAME_SIZE = 32,        // last_save_game_name, last_viewed_recording_file_name
};

enum recording_type
{
    _normal_recording_type = 0,    // a film
    _saved_game_recording_type = 1 // a saved game
};

// Rows of the string list 'inrf'.
enum
{
    _string_index_last_recording_filename = 0,
    _string_index_new_saved_game_filename,
    _string_index_untitled_replay,
    NUMBER_OF_REPLAY_FILENAME_STRINGS
};

enum recording_block_flags
{
    _last_recording_block_flag = 1u << 0,
    KNOWN_RECORDING_BLOCK_FLAGS = _last_recording_block_flag,
};

// The header of a film or saved game.  2600 bytes stored.
struct recording_file_header
{
    int16_t version;                     // RECORDING_VERSION_NUMBER; 4 or more is refused
    int16_t type;                        // recording_type
    int32_t data_offset;                 // the first command block
    int32_t recording_ending_time;       // 0 while a film is written; the game time when it closed
    int32_t snapshot_offset;             // 2600
    int32_t snapshot_length;             // 0 in films
    int32_t monster_initializers_offset;
    int32_t monster_initializers_length;
    int32_t monster_placement_offset;
    int32_t monster_placement_length;    // written as 0
    new_game_data game;                  // players past player_count are zero bytes
    uint32_t public_tags_checksum;       // the foundation files' checksum it was played on; 0: not known
    uint32_t private_tags_checksum;      // the patches' checksum it was played on; 0: not known
};
static_assert(sizeof(recording_file_header) == RECORDING_FILE_HEADER_SIZE);
static_assert(offsetof(recording_file_header, type) == 2);
static_assert(offsetof(recording_file_header, data_offset) == 4);
static_assert(offsetof(recording_file_header, recording_ending_time) == 8);
static_assert(offsetof(recording_file_header, snapshot_offset) == 12);
static_assert(offsetof(recording_file_header, snapshot_length) == 16);
static_assert(offsetof(recording_file_header, monster_initializers_offset) == 20);
static_assert(offsetof(recording_file_header, monster_initializers_length) == 24);
static_assert(offsetof(recording_file_header, monster_placement_offset) == 28);
static_assert(offsetof(recording_file_header, monster_placement_length) == 32);
static_assert(offsetof(recording_file_header, game) == 36);
static_assert(offsetof(recording_file_header, public_tags_checksum) == 2592);
static_assert(offsetof(recording_file_header, private_tags_checksum) == 2596);
// The header's own fields; `game` is left as bytes here and converted by
// byte_swap_new_game_data.
extern const byte_swap_code recording_file_header_byte_swapping_data[];

// 8 bytes in front of each block of commands.
struct recording_block_header
{
    uint32_t flags;        // recording_block_flags
    uint16_t size;         // bytes of commands that follow, at most RECORDING_BUFFER_SIZE
    int16_t command_count; // commands in the block
};
static_assert(sizeof(recording_block_header) == 8);
static_assert(offsetof(recording_block_header, size) == 4);
static_assert(offsetof(recording_block_header, command_count) == 6);
extern const byte_swap_code recording_block_header_byte_swapping_data[];

// Where the camera stood when a game was saved.  12 bytes stored; the last
// two are not converted.
struct observer_location
{
    int32_t x, y;
    int16_t yaw; // angle
    uint8_t unused[2];
};
static_assert(sizeof(observer_location) == 12);

// One line of the console as a saved game keeps it.  258 bytes stored.
struct cached_line
{
    int16_t owner_player_index;
    char string[CACHED_LINE_STRING_SIZE]; // not converted
};
static_assert(sizeof(cached_line) == 258);

// At snapshot_offset of a saved game, followed by the snapshot's pixels
// (width x height, 2 or 4 bytes each, big-endian).  2608 bytes stored.
struct save_game_header
{
    int16_t snapshot_width;  // SAVE_GAME_SNAPSHOT_WIDTH
    int16_t snapshot_height; // SAVE_GAME_SNAPSHOT_HEIGHT
    observer_location observer;
    int16_t encoding;        // 0: 16-bit 555, 1: 16-bit 565, 2: 32-bit
    int16_t unused_short;    // not converted
    int32_t zoom_factor;     // fixed
    cached_line cached_console_text[NUMBER_OF_CACHED_CONSOLE_LINES];
    int16_t cached_console_line_count;
    int16_t pad; // not converted
};
static_assert(sizeof(save_game_header) == SAVE_GAME_HEADER_SIZE);
static_assert(offsetof(save_game_header, observer) == 4);
static_assert(offsetof(save_game_header, encoding) == 16);
static_assert(offsetof(save_game_header, unused_short) == 18);
static_assert(offsetof(save_game_header, zoom_factor) == 20);
static_assert(offsetof(save_game_header, cached_console_text) == 24);
static_assert(offsetof(save_game_header, cached_console_line_count) == 2604);
static_assert(offsetof(save_game_header, pad) == 2606);
extern const byte_swap_code save_game_header_byte_swapping_data[];

// Snapshot bytes of a saved game whose pixels take `bytes_per_pixel` (2 or 4):
// the saved-game header and 160 x 120 pixels.
constexpr int32_t save_game_snapshot_length(int32_t bytes_per_pixel)
{
    return SAVE_GAME_HEADER_SIZE + SAVE_GAME_SNAPSHOT_WIDTH * SAVE_GAME_SNAPSHOT_HEIGHT * bytes_per_pixel;
}

// ---- the end record ------------------------------------------------------------
//
// A film or saved game of this build closes with a sync command of no player
// (player index NONE), stamped with the ending time and naming it, that holds
// the seed and state hash of that tick: the replay (or the restore) compares
// its own at the end.  Earlier builds queue it like any sync command and never
// run it (a replay stops at its ending time); their files, without it, replay
// as before.  It is always the last command of its file.  This build writes
// a command into a block only once the game has reached its tick, so no
// command of its files is stamped past the end; earlier builds wrote some
// that were stamped ahead of the game's clock, before their end record,
// and a reader passes over them (they never ran).

//
// From gameplay version 1850 the end record is a sync command of that
// version: its sync_chain_data follows, with the chain of the state hashes
// of every tick since the last sync command and, in `file_checksum`, the
// checksum of the file's header regions (recording_file_checksum).  A file
// of that version must close with one; a change to its header, its
// snapshot or its unit initializers is then refused.

struct sync_command_data;
struct sync_chain_data;

enum
{
    RECORDING_END_RECORD_SIZE = 8 + 12,         // below 1850: a command header and sync_command_data
    RECORDING_CHAINED_END_RECORD_SIZE = 8 + 24, // from 1850: and sync_chain_data
    MAXIMUM_RECORDING_END_RECORD_SIZE = RECORDING_CHAINED_END_RECORD_SIZE,
    // How far past its ending time a file without an end record that holds
    // a state may hold commands (stamped ahead of the game's clock, never
    // run): a single-player game's lead and a network joiner's lag.
    MAXIMUM_TICKS_STAMPED_PAST_END = 120,
};

// An end record as read (host order).
struct recording_end_record
{
    sync_command_data state;
    bool chained;          // of 1850 or later: `chain` holds its chain and the file checksum
    sync_chain_data chain;
};

// Writes the end record of `data` (its tick, seed and hash) to `stored` (at
// least MAXIMUM_RECORDING_END_RECORD_SIZE bytes) as a file holds it (header
// big-endian); with `chain` in the layout from 1850, without it in the one
// before.  Returns its size.
int32_t build_recording_end_record(const sync_command_data *data, const sync_chain_data *chain, uint8_t *stored);
// True when the stored command of `size` bytes (header big-endian) is an end
// record of either layout; it goes (host order) to `record` when not null.
bool is_recording_end_record(const uint8_t *stored, int32_t size, recording_end_record *record);

// The checksum an end record of 1850 binds its file's header with: the CRC-32
// of the 2600 header bytes `stored_header` (as stored, big-endian), then of
// the tag's bytes from 2600 to `data_offset` (the snapshot, the saved game's
// header and picture, the unit initializers).  False when those bytes do not
// read.
bool recording_file_checksum(int32_t tag_index, const recording_file_header *stored_header, int32_t data_offset,
                             uint32_t *checksum);

// The commands up to a tick: copies to `kept` (which may be `commands`
// itself) the whole commands of `commands` (`size` bytes, headers
// big-endian) stamped at or before `end_time`, in order, leaving out end
// records; stops at a command header that is cut or of a size outside the
// bytes left.  Returns the bytes kept, their number to `count`; `later` (when
// not null) says whether a command stamped after `end_time` was met.
int32_t keep_commands_up_to(const uint8_t *commands, int32_t size, int32_t end_time, uint8_t *kept, int32_t *count,
                            bool *later);

// ---- the data a file was played on ---------------------------------------------

// The checksums of the data open now, as a header records them.
void get_recording_data_checksums(uint32_t *public_checksum, uint32_t *private_checksum);
// Null when the header's checksums are those of the data open now (or 0, as
// earlier builds wrote them); else the reason in words, for the player.
const char *recording_data_problem(const recording_file_header *file_header, char *text, size_t size);

// ---- conversion ------------------------------------------------------------

// Converts the header in place, `game` included (both directions).
void byte_swap_recording_header(recording_file_header *file_header);
void byte_swap_recording_block_header(recording_block_header *block);
void byte_swap_save_game_header(save_game_header *header);

// ---- checking ----------------------------------------------------------------

// Checks a converted header against the layout: version below 4, a known
// type, 0..16 players, the snapshot at 2600, every length non-negative and
// each region where the one before it ends, and data_offset at least 2600.
// `tag_size`, when not negative, must also hold every region.  Null when the
// header is sound, else the reason (a static text).
const char *recording_header_problem(const recording_file_header *file_header, int32_t tag_size);

// Checks the commands of one block (`size` bytes, big-endian headers as
// stored) against its count: every command 8 <= size <= the bytes left, the
// commands exactly filling the block, as many as `command_count`, and each
// decoding as its verb's reader reads it (command_decode_problem).  Null
// when sound, else the reason (a static text).
const char *recording_block_problem(const void *commands, int32_t size, int32_t command_count);

// The longest stretch a closed film or saved game may run past its last
// command (or past tick 0 without commands): a day of game time.  No rule
// ends an untimed game that nobody commands, so the bound is what a replay
// may reasonably cost: a day replays in about a minute at full speed, where a
// damaged ending time near 2^31 would replay for many hours.
enum
{
    MAXIMUM_RECORDING_IDLE_TICKS = 24 * 60 * 60 * 30,
    // A game of a version with sync chains sends a sync command every 170
    // ticks: a closed file of one ends at most this far past the latest tick
    // its sync commands name (a few lost to a full queue allowed for).
    MAXIMUM_TICKS_PAST_LAST_SYNC_COMMAND = 8 * 170,
};

// Checks the file as a whole, the header already converted and sound
// (`tag_size` bytes in all): from data_offset the blocks follow one another,
// each sound as recording_block_problem says and with no flag but "last",
// until one marked last, which must end exactly at the end of the tag.  Every
// command is stamped at tick 0 or later, no earlier than the one before it,
// and names a player of the game (or none, or a sender the network layer
// could not name); an end record is the last command and names the ending
// time; commands may be stamped at most MAXIMUM_TICKS_STAMPED_PAST_END past a
// closed file's end (they never run).  A closed film (a non-zero ending
// time) and every saved game must have that last block and, unless the ending
// time lies within MAXIMUM_RECORDING_IDLE_TICKS of the last command, are
// damaged; a film left open by a crash (ending time 0) may be cut anywhere
// after its last whole block.  Commands are read as the file's own gameplay
// version reads them (one the table lacks is refused).  A closed file of a
// version with sync chains must also end with its end record of that
// version, whose file checksum is the file's, and its ending time lies at
// most MAXIMUM_TICKS_PAST_LAST_SYNC_COMMAND past the latest tick its sync
// commands stamped by then name.  Commands stamped past the ending time never
// ran: any number may come before an end record that holds a state (which
// judges the game they would have changed), at most
// MAXIMUM_TICKS_STAMPED_PAST_END past it otherwise.  Null when sound, else the reason (a static text).  Reads the tag;
// reports nothing itself.
const char *recording_file_problem(int32_t tag_index, const recording_file_header *file_header, int32_t tag_size);

// ---- reading and writing ------------------------------------------------------

// Reads and converts the 2600-byte header of the film or saved game at
// `tag_index`.  False for NONE; a header that cannot be read is reported with
// code 3 "couldn't read the header for recording '%s'"; a version of 4 or more
// with code 3 "recording '%s' is too new. (%d <= %d)"; a header that breaks
// the layout with code 3 and the reason.  `file_header` is not to be used then.
bool read_recording_header(int32_t tag_index, recording_file_header *file_header);

// Writes a fresh header (version 3, `type`, the ending time and lengths, the
// offsets as the layout gives them, a copy of `data` with the players past
// player_count zeroed) at offset 0 of the tag.  False, reported with code 4
// "couldn't write new game data to recording", when it cannot be written; a
// player count outside 0..16 is refused with an assertion.
bool write_recording_header(int32_t *tag_index, int16_t type, const new_game_data *data,
                            int32_t game_time_at_end_of_recording, int32_t monster_initializers_length,
                            int32_t monster_placement_length, int32_t snapshot_length);

// The filter of every film and saved-game list: true for a 'reco' or 'save'
// tag of tag version below 4 whose header reads.  `user_data` is unused.
bool valid_replay_or_save_version(int32_t tag_index, void *user_data);

// String `row` of 'inrf' (_string_index_*), or the built-in name for that row
// when the list is missing, short, or holds an empty string there.
const char *get_replay_filename_string(int16_t row);
