#pragma once
// The game this player hosts from the lobby: its listing in the room
// (created, changed, withdrawn), the service told who plays and when the game
// starts, the standings sent at the end, and the game's recording streamed to
// the service while the room asks for one.
//
// Nothing is sent without a lobby connection; listing changes, removal,
// resets, starts and the recording stream are sent only while a game of ours
// is listed (`metaserver_game_created`), and the stream only after a start in
// a room whose flags carry both recording-stream flags.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "game_records.h" // new_game_parameter_data
#include "metaserver_lib/metaserver_packets.h"

struct command_header;
struct draxil_net_game_standings;
struct net_game_description;
struct new_player_data;

enum
{
    METASERVER_GAME_DESCRIPTION_SIZE = 568,
    MAXIMUM_LISTED_GAME_NAME = 31, // characters; the listing cuts longer names
    MAXIMUM_LISTED_MAP_NAME = 63,
    LISTED_GAME_VERSION = 2182,      // a game's listed version when it names none this program plays
    FIRST_LISTED_GAME_VERSION = 2151, // the identifiers of the releases a room tells apart
    LAST_LISTED_GAME_VERSION = 2199,
    LISTED_GAME_BUILD_NUMBER = 443,
};

// The fixed part of a listed game's data (big-endian on the wire); the game's
// name and the map's name follow, each terminated.
struct metaserver_game_description
{
    new_game_parameter_data parameters; // version 2182, build 443, the current room
    int32_t public_tags_checksum; // the foundation tags'
    int32_t private_tags_checksum;
    uint16_t flags; // net_game_description flags, the password bit added when one is set
    uint8_t player_count;
    uint8_t padding;
};
static_assert(sizeof(metaserver_game_description) == METASERVER_GAME_DESCRIPTION_SIZE);
static_assert(offsetof(metaserver_game_description, public_tags_checksum) == 556);
static_assert(offsetof(metaserver_game_description, private_tags_checksum) == 560);
static_assert(offsetof(metaserver_game_description, flags) == 564);
static_assert(offsetof(metaserver_game_description, player_count) == 566);
static_assert(METASERVER_GAME_DESCRIPTION_SIZE + MAXIMUM_LISTED_GAME_NAME + 1 + MAXIMUM_LISTED_MAP_NAME + 1 <=
              MAXIMUM_METASERVER_GAME_DATA_SIZE);
extern const byte_swap_code metaserver_game_description_byte_swapping_data[];

// What the network game is handed to report its scores (memory only).
struct metaserver_scoring_data
{
    uint32_t local_player_id;
    uint32_t game_id;
    int16_t local_player_caste;
};

enum synchronize_with_metaserver_verb
{
    _synchronize_with_metaserver_create_game_verb = 0,
    _synchronize_with_metaserver_change_game_verb = 1,
    _synchronize_with_metaserver_delete_game_verb = 2,
};

// Writes the listed game data of `description` (wire order) into `data`
// (MAXIMUM_METASERVER_GAME_DATA_SIZE bytes): the parameters as version 2182,
// build 443 in `room_id`, `flags` (plus the password bit when the description
// has a password), the names cut to 31 and 63 characters.  Its length.
int32_t build_metaserver_game_data(const net_game_description *description, uint16_t flags, int16_t room_id,
                                   uint8_t data[MAXIMUM_METASERVER_GAME_DATA_SIZE]);

// Lists (verb 0), changes (1) or withdraws (2) our game in the current room,
// described by `description` with the description flags `flags` (closed, in
// progress, mid-game joining) and the hosting port of the networking
// settings.  Another verb is logged and refused.
void synchronize_game_with_metaserver(int16_t verb, const net_game_description *description, uint16_t flags);
// The packets under it: create (then, when the data was taken, the game counts
// as listed), change (only while listed), remove (only while listed; the
// listing ends).  Data over 1024 bytes is refused (logged) and nothing sent.
void add_game_to_room_list(int16_t port, int16_t order_game, const void *data, int32_t length);
void change_game_data(int16_t port, int16_t order_game, const void *data, int32_t length);
void remove_game_from_room_list(void);
void reset_metaserver_game_scoring(void);

bool metaserver_game_created(void);
bool metaserver_streaming_recording(void);
// The identifier the service gave our listed game: the entry of the room's
// game list whose creator is this user (docs/lobby.md); -1 until one is seen.
int32_t get_listed_metaserver_game_id(void);
// Reads a game list (event 21, host order) for our own game's entry.
void note_listed_game_in_game_list(const void *packet, int32_t length);
// Our user id, listed game and caste for the network game; false (the record
// zeroed, game id -1) while no game of ours is listed with a known id.
bool get_metaserver_scoring_data(metaserver_scoring_data *scoring);
// Forgets the listing and the stream (the connection was closed).
void forget_metaserver_game_listing(void);

// The host starts the game while connected: reset, the players' lobby ids in
// player order, then the start with the length in seconds (-1: no limit),
// streaming the recording when the room's flags & 3 = 3.
void start_metaserver_netgame_for_scoring(int32_t game_id, const new_player_data *players, int16_t player_count,
                                          int32_t length_in_seconds);
// The game's length in seconds as the start reports it: (time limit +
// pregame time limit) / 30, or -1 without a time limit.
int32_t metaserver_game_length_in_seconds(const new_game_parameter_data *parameters);
void send_game_player_list_to_metaserver(int32_t game_id, const uint32_t *player_ids, int16_t count);
// Sends the start while listed, and streams from then on when asked; without
// a listed game or a connection nothing is sent and the stream stays off.
void send_start_game_to_metaserver(int32_t length_in_seconds, bool stream_recording);

// At the end of a network game while connected: the standings the game core
// built (get_draxil_net_game_standings) as the score of `game_id`.
void metaserver_handle_network_endgame(int32_t game_id);
// The score packet: `game_id`, then the standings' wire form with
// max(16, players) player records.
void send_game_over_player_scores(int32_t game_id, const draxil_net_game_standings *standings);

// The recording stream, as opaque bytes exactly as the recorder writes them.
void send_recording_stream_header_to_metaserver(const void *data, int32_t length);
void send_recording_stream_command_to_metaserver(const void *data, int32_t length);
void send_recording_stream_end_to_metaserver(int32_t value);
// The lobby table's member: a command as the film stores it (its size
// big-endian); one whose size is outside 8..4096 is logged and not sent.
void send_recorded_command_to_metaserver(const command_header *command);
