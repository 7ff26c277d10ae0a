#pragma once
// The game's own packets, carried in the networking library's 8-byte header
// with the library bit of `what` clear: their layouts, the builders that fill
// them in host order, the one byte swap that turns any of them into wire
// order and back, the extractors that read them, and the table of sizes every
// received packet is checked against before anything else reads it.
//
// Builders take the packet buffer and its capacity and return `messageLen`,
// or 0 when the packet does not fit or its contents are refused (nothing
// useful is then in the buffer).  `from` and `id` are left 0: the library
// fills `from`.  Main thread only.

#include <cstddef>
#include <cstdint>

#include "networking/packet_definitions.h" // net_message_header

struct net_game_description;
struct new_player_data;

enum vesk_packet_type
{
    _chat_packet = 0,
    _command_packet,
    _configuration_packet,
    _player_sync_data_packet,
    _begin_sync_data_packet,
    _server_command_packet,
    _vesk_game_description_packet,
    _vesk_player_data_packet,
    _coop_vets_packet,
    _ping_packet,
    _begin_game_midgame_packet,
    _request_more_commands_packet,
    NUMBER_OF_VESK_PACKETS
};

constexpr int32_t CHAT_TEXT_OFFSET = 56;
constexpr int32_t CHAT_TEXT_SHIFT = 13; // added to every text byte on the wire; no key
constexpr int32_t VESK_GAME_DESCRIPTION_FIXED_SIZE = 580;
constexpr int32_t BEGIN_GAME_MIDGAME_FIXED_SIZE = 10;
constexpr int32_t PING_FIXED_SIZE = 12;
// A barrier report or confirmation that carries a final state (the end
// barrier, between players whose records carry data tags, see
// vesk_midgame.h): the 12-byte packet, then the state's tick, hash and
// seed, each 32 bits big-endian.
constexpr int32_t PLAYER_SYNC_FINAL_STATE_SIZE = 24;
// The host's notice that a player left the game for a reason of its own
// making (player_departure_reason), to every other player: the packet with
// a final state (the tick it left at, the host's state there), then the
// reason, 32 bits big-endian.  An earlier program refuses the length.
constexpr int32_t PLAYER_DEPARTURE_NOTICE_SIZE = 28;
constexpr int32_t MAXIMUM_COOP_VETS_INITIALIZERS = 102;
constexpr int32_t MAXIMUM_PING_LATENCIES = 16;
constexpr int32_t MAXIMUM_MIDGAME_PLAYERS = 16;

// The sender of a chat line as the chat packet carries it (offsets 8 to 47).
struct chat_appearance
{
    char player_name[32];
    uint16_t red, green, blue; // 16-bit channels
    uint16_t pad;
};
static_assert(sizeof(chat_appearance) == 40);

enum chat_packet_message_type
{
    _team_chat_message = 0,
    _directed_chat_message,
    _broadcast_chat_message,
};

enum
{
    _chat_packet_relay_request_flag = 1, // to the host, to be passed on; clear: delivered
    _configuration_packet_request_flag = 1, // a player's request; clear: the host's broadcast
    _player_sync_data_packet_destined_for_server_flag = 1,
    // With a state (24 bytes), a drift: the tick is the first found out of
    // step; to the host, the sender's report of its own game; from the
    // host, its notice that the named player's game left step.
    _player_sync_data_packet_out_of_sync_flag = 2,
    // With the out-of-sync flag, to the host: the state hash is the sender's
    // chain of state hashes from the tick (the first after a sync command's)
    // to the next sync command's, which differed from the host's.
    _player_sync_data_packet_chain_flag = 4,
};

// What the host's notice says of the player it names (player_departure_reason).
enum player_departure_reason
{
    _departure_out_of_step = 1, // it left: its game left step with the host's
    _departure_fell_behind,     // it was dropped: its link stayed behind past the bound
    _departure_order_refused,   // to that player alone: the host could not stamp its command
    NUMBER_OF_DEPARTURE_REASONS
};

enum server_command_verb
{
    _start_sending_null_commands = 0,
    _stop_sending_null_commands,
};

struct chat_packet
{
    net_message_header header;
    chat_appearance player;
    uint16_t flags; // _chat_packet_relay_request_flag
    int16_t type; // chat_packet_message_type
    int16_t identifier; // team: the captain's id; directed: the target's id; broadcast: -1
    uint16_t pad;
    // then the shifted text and its terminator
};
static_assert(sizeof(chat_packet) == CHAT_TEXT_OFFSET);
static_assert(offsetof(chat_packet, flags) == 48);

struct configuration_packet
{
    net_message_header header;
    uint16_t flags; // _configuration_packet_request_flag
    int16_t item; // an item of the game set-up dialog
    int32_t param0; // its argument (the captain to join, -1 to leave a team)
};
static_assert(sizeof(configuration_packet) == 16);

struct player_sync_data_packet
{
    net_message_header header;
    int16_t player_id_from;
    uint16_t flags; // _player_sync_data_packet_destined_for_server_flag
};
static_assert(sizeof(player_sync_data_packet) == 12);

// What a machine's game was when it ended: its last tick, the state hash
// and the synchronized seed there.
struct net_final_state
{
    int32_t tick;
    uint32_t state_hash;
    uint32_t random_seed;
};

struct server_command_packet
{
    net_message_header header;
    int16_t verb; // server_command_verb
};
static_assert(sizeof(server_command_packet) == 10);

// Type 6; the game name and the map name follow, each terminated.
struct vesk_game_description_packet
{
    net_message_header header;
    uint8_t parameters[556]; // new_game_parameter_data
    int32_t public_tags_checksum;
    int32_t private_tags_checksum;
    uint32_t unused; // 0, never swapped
    uint16_t flags; // the description's
    uint8_t player_count;
    uint8_t unused_char;
};
static_assert(sizeof(vesk_game_description_packet) == VESK_GAME_DESCRIPTION_FIXED_SIZE);
static_assert(offsetof(vesk_game_description_packet, public_tags_checksum) == 564);
static_assert(offsetof(vesk_game_description_packet, flags) == 576);
static_assert(offsetof(vesk_game_description_packet, player_count) == 578);

// Type 7; a new_player_data (124 bytes) follows.
struct vesk_set_player_data_packet
{
    net_message_header header;
    int16_t player_id;
    uint16_t flags;
    int16_t data_length;
};
static_assert(sizeof(vesk_set_player_data_packet) == 14);

// Type 9; a ping from the host carries one 16-bit latency per player after it.
struct vesk_ping_packet
{
    net_message_header header;
    uint32_t ping_time; // opaque: only its sender reads it back, never swapped
};
static_assert(sizeof(vesk_ping_packet) == PING_FIXED_SIZE);

// ---- sizes -----------------------------------------------------------------

// Whether a game packet of type `what` may be `length` bytes long (false for
// a type that is no game packet): the game rows of the one table of packet
// rules (packet_rules.h).
bool vesk_packet_size_is_valid(uint16_t what, uint16_t length);

// ---- builders (host order; see the header comment) -------------------------

uint16_t build_begin_sync_data_packet(void *packet, int32_t capacity, uint8_t to);
uint16_t build_request_more_commands_packet(void *packet, int32_t capacity, uint8_t to);
uint16_t build_server_command_packet(void *packet, int32_t capacity, uint8_t to, int16_t verb);
uint16_t build_player_sync_data_packet(void *packet, int32_t capacity, uint8_t to, int16_t player_id_from,
                                       uint16_t flags);
// The same with `state` after it (PLAYER_SYNC_FINAL_STATE_SIZE bytes): only
// to a peer that takes it (its record carries data tags); an older one
// refuses the longer packet.
uint16_t build_player_sync_data_packet_with_final_state(void *packet, int32_t capacity, uint8_t to,
                                                        int16_t player_id_from, uint16_t flags,
                                                        const net_final_state *state);
// The host's departure notice naming `player_id`, who left at `state`'s
// tick for `reason` (player_departure_reason).
uint16_t build_player_departure_notice(void *packet, int32_t capacity, uint8_t to, int16_t player_id,
                                       const net_final_state *state, int32_t reason);
uint16_t build_configuration_packet(void *packet, int32_t capacity, uint8_t to, uint16_t flags, int16_t item,
                                    int32_t param0);
// `command` is a whole encoded command of `size` bytes (its header in host
// order; its data as the command codec wrote it).  A size that disagrees
// with the command's own header is refused.
uint16_t build_command_packet(void *packet, int32_t capacity, uint8_t to, const void *command, int32_t size);
// The text is shifted for the wire.  A byte 0xF3 would shift to the
// terminator and cut the line short: it is sent as '?'.
uint16_t build_chat_packet(void *packet, int32_t capacity, const chat_appearance *appearance, uint8_t to,
                           uint16_t flags, int16_t type, int16_t identifier, const char *text);
// Sets the description's own has-password bit from its password first.
uint16_t build_vesk_game_description_packet(void *packet, int32_t capacity, uint8_t to,
                                            net_game_description *description);
// `data` must be one new_player_data in host order (`length` 124).
uint16_t build_vesk_player_data_packet(void *packet, int32_t capacity, uint8_t to, int16_t player_id,
                                       uint16_t flags, const void *data, int16_t length);
// Gives the veterans to the game's first captain (at most 102 of them) and
// packs them: 0 when there are none.
uint16_t build_coop_vets_packet(void *packet, int32_t capacity, uint8_t to, int16_t player_count,
                                const new_player_data *players);
// `ping_time` is the machine tick count; the latencies (at most 16) travel
// big-endian; the caller's array is left as it was.
uint16_t build_ping_packet(void *packet, int32_t capacity, uint8_t to, const uint16_t *latencies, int16_t count);
// The answer to `ping` (host order), to the host.
uint16_t build_pong_packet(void *packet, int32_t capacity, const void *ping);
// `players` in host order; the packet holds them and their count big-endian.
uint16_t build_begin_game_midgame_packet(void *packet, int32_t capacity, uint8_t to, int16_t count,
                                         const new_player_data *players);

// ---- byte swap --------------------------------------------------------------

// Converts a game packet in place between host and wire order (`to_wire`
// says which way); the procedure the game hands the networking library.  A
// type of 12 or more is left alone, and so is the body of a packet whose
// `messageLen` is outside its type's sizes (only the header is converted):
// the receive path drops such a packet by the size table anyway.
void vesk_packet_byteswapping(void *packet, bool to_wire);

// ---- extractors (host-order packets whose size was checked) -----------------

// The chat text, still shifted, or null when the packet holds no text or no
// terminator within `messageLen`.
const char *extract_text_from_chat_packet(const void *packet);
// Unshifts a chat text into `text` (at most `size` bytes with its terminator).
void decode_chat_text(const char *shifted, char *text, int32_t size);
// Fills `description` from a description packet, keeping its password.
// False, leaving `description` as it was, when a name has no terminator
// within the packet, the names' lengths disagree with `messageLen`, or the
// player count is above 16.
bool game_description_packet_to_net_game_description(const void *packet, net_game_description *description);
// Copies `count` latencies (host order) when the packet holds them; else
// leaves `latencies` as it was and returns false.
bool extract_ping_packet_latencies(uint16_t *latencies, int16_t count, const void *packet);
// The final state a barrier packet carries: false when it carries none.
bool extract_final_state_from_player_sync_data_packet(const void *packet, net_final_state *state);
// The tick and reason of a departure notice: false when the packet is none,
// or its reason is not one this program knows.
bool extract_player_departure_notice(const void *packet, net_final_state *state, int32_t *reason);
// Replaces the veterans by the packet's; false (the set unchanged) when they
// are refused.
bool import_monster_initializers_from_coop_vets_packet(const void *packet);
// The players of a midgame packet in host order (at most `maximum`); -1 when
// the count is outside 1..16 or disagrees with `messageLen`.
int16_t extract_players_from_begin_game_midgame_packet(const void *packet, new_player_data *players, int16_t maximum);
