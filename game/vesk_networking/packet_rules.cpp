// The one table of packet rules.  See packet_rules.h.

#include "vesk_networking/packet_rules.h"

#include "bitmap_dialogs/network_services.h"
#include "commands.h"
#include "monster_initializers.h"
#include "networking/network_constants.h"
#include "networking/packet_definitions.h"
#include "networking/public_packet_definitions.h"
#include "vesk_networking/network.h"
#include "vesk_networking/vesk_packets.h"

constexpr uint16_t HEADER = 8;
constexpr uint16_t PLAYER_DATA = NETWORK_PLAYER_DATA_SIZE;
constexpr uint16_t GAME_DATA = MAXIMUM_USER_GAME_DATA_SIZE;
constexpr uint16_t PACKET_LIMIT = MAXIMUM_SINGLE_PACKET_SIZE;
// A denial's text is at most a 255-character message; the "error=N" after
// it at most 18 bytes with its terminator.
constexpr uint16_t DENIAL_TEXT_LIMIT = NETWORK_MESSAGE_LENGTH + 1 + 24;
constexpr uint16_t DESCRIPTION_NAMES_LIMIT = NET_GAME_NAME_SIZE + NET_GAME_MAP_NAME_SIZE;

constexpr uint16_t HOST = _net_rule_host_authority;
constexpr uint16_t TO_HOST = _net_rule_player_to_host;
constexpr uint16_t TO_PLAYERS = _net_rule_player_to_players;
constexpr uint16_t OWN = _net_rule_own_player_only;
constexpr uint16_t LOOP = _net_rule_host_loop_only;
constexpr uint16_t COOP = _net_rule_cooperative_only;

// A client's stages (game packets only; library and status packets are the
// library's own and taken in every stage).
constexpr uint16_t UNDESCRIBED = 1u << _client_stage_undescribed;
constexpr uint16_t DESCRIBED = 1u << _client_stage_described;
constexpr uint16_t PLAYING = 1u << _client_stage_playing;
constexpr uint16_t ANY_STAGE = UNDESCRIBED | DESCRIBED | PLAYING;

static const net_packet_rule library_rules[NUMBER_OF_LIBRARY_PACKET_TYPES] = {
    // join request: name, NUL, password, NUL, player data
    {HEADER + 2, HEADER + NET_NAME_SIZE + NET_PASSWORD_SIZE + PLAYER_DATA, TO_HOST},
    // player data changed: player id, player data
    {HEADER + 2, HEADER + 2 + PLAYER_DATA, TO_HOST},
    // game data changed
    {HEADER, HEADER + GAME_DATA, TO_HOST | OWN},
    // new player: player id, flags, name, NUL, player data
    {HEADER + 5, HEADER + 4 + NET_NAME_SIZE + PLAYER_DATA, HOST},
    // join request denied
    {HEADER, HEADER + DENIAL_TEXT_LIMIT, HOST},
    {SERVER_DELETED_PLAYER_PACKET_SIZE, SERVER_DELETED_PLAYER_PACKET_SIZE, HOST},
    // game data
    {HEADER, HEADER + GAME_DATA, HOST},
    {CLIENT_CONNECTION_CLOSED_PACKET_SIZE, CLIENT_CONNECTION_CLOSED_PACKET_SIZE, HOST},
};

static const net_packet_rule status_rules[NUMBER_OF_PUBLIC_PACKET_TYPES] = {
    {PLAYER_ADDED_PUBLIC_DATA_OFFSET, PLAYER_ADDED_PUBLIC_DATA_OFFSET + PLAYER_DATA, 0},
    {PUBLIC_PLAYER_ID_OFFSET + 2, PUBLIC_PLAYER_ID_OFFSET + 2, 0},
    {HEADER, HEADER, 0},
    {PLAYER_DATA_CHANGED_PUBLIC_DATA_OFFSET, PLAYER_DATA_CHANGED_PUBLIC_DATA_OFFSET + PLAYER_DATA, 0},
    {GAME_DATA_PUBLIC_DATA_OFFSET, GAME_DATA_PUBLIC_DATA_OFFSET + GAME_DATA, 0},
};

static const net_packet_rule game_rules[NUMBER_OF_VESK_PACKETS] = {
    // chat: at least the terminator; any player to anybody (the host relays requests)
    {CHAT_TEXT_OFFSET + 1, PACKET_LIMIT, TO_HOST | TO_PLAYERS, ANY_STAGE},
    // command: players to the command server, the host to every player
    {HEADER + (uint16_t)sizeof(command_header), PACKET_LIMIT, HOST | TO_HOST, ANY_STAGE},
    // configuration: a player's request to the host, the host's broadcast
    {sizeof(configuration_packet), sizeof(configuration_packet), HOST | TO_HOST, ANY_STAGE},
    // player sync data: a player's report to the host, the host's to all; at
    // the end barrier, between players that carry it, with a final state;
    // the host's notice of a player's departure, with its reason
    {sizeof(player_sync_data_packet), PLAYER_DEPARTURE_NOTICE_SIZE, HOST | TO_HOST, ANY_STAGE},
    // begin sync data: the barrier of a described game (a restart's may
    // come before the client has left the game it played)
    {HEADER, HEADER, HOST, DESCRIBED | PLAYING},
    // server command: the host's own game only
    {sizeof(server_command_packet), sizeof(server_command_packet), HOST | LOOP, 0},
    {VESK_GAME_DESCRIPTION_FIXED_SIZE + 2, VESK_GAME_DESCRIPTION_FIXED_SIZE + DESCRIPTION_NAMES_LIMIT, HOST, ANY_STAGE},
    {sizeof(vesk_set_player_data_packet) + PLAYER_DATA, sizeof(vesk_set_player_data_packet) + PLAYER_DATA, HOST,
     ANY_STAGE},
    // cooperative veterans
    {HEADER + (uint16_t)sizeof(monster_initializer), HEADER + COOP_VETS_LIMIT - 1, HOST, ANY_STAGE},
    // ping from the host with its latencies; a player's pong to 254
    {PING_FIXED_SIZE, PING_FIXED_SIZE + 2 * MAXIMUM_PING_LATENCIES, HOST | TO_HOST, ANY_STAGE},
    // begin game mid-game: a joiner of a described cooperative game
    {BEGIN_GAME_MIDGAME_FIXED_SIZE + PLAYER_DATA, BEGIN_GAME_MIDGAME_FIXED_SIZE + PLAYER_DATA * MAXIMUM_MIDGAME_PLAYERS,
     HOST | COOP, DESCRIBED},
    {HEADER, HEADER, HOST | TO_HOST, ANY_STAGE}, // request more commands: a joiner to the host
};

const net_packet_rule *get_net_packet_rule(net_packet_kind kind, uint16_t what)
{
    what &= kNetLibPacketMask;
    switch (kind)
    {
    case _library_packet_kind: return what < NUMBER_OF_LIBRARY_PACKET_TYPES ? &library_rules[what] : nullptr;
    case _status_packet_kind: return what < NUMBER_OF_PUBLIC_PACKET_TYPES ? &status_rules[what] : nullptr;
    case _game_packet_kind: return what < NUMBER_OF_VESK_PACKETS ? &game_rules[what] : nullptr;
    default: return nullptr;
    }
}

static bool addressed_to_host(uint8_t to, int16_t host_player_id)
{
    return to == kSendToServer || to == host_player_id;
}

net_packet_refusal check_received_packet(net_packet_receiver receiver, uint16_t what, uint16_t length, uint8_t to,
                                         uint8_t from, int16_t host_player_id)
{
    const bool library = (what & kNetLibPacketBit) != 0;
    const net_packet_kind kind = receiver == _received_status ? _status_packet_kind
                                 : library                    ? _library_packet_kind
                                                              : _game_packet_kind;
    if (receiver == _received_status && !library) return _packet_unknown_type;
    const net_packet_rule *const rule = get_net_packet_rule(kind, what);
    if (!rule) return _packet_unknown_type;
    if (length < rule->minimum_length || length > rule->maximum_length) return _packet_bad_length;

    switch (receiver)
    {
    case _received_status: return _packet_accepted;
    case _received_by_client:
        if (rule->flags & LOOP) return _packet_wrong_direction;
        if (library) return (rule->flags & HOST) && from == kSendToServer ? _packet_accepted : _packet_not_from_host;
        return !(rule->flags & HOST) || from == 0 ? _packet_accepted : _packet_not_from_host;
    case _received_from_unjoined_player:
        return library && (what & kNetLibPacketMask) == _join_request_packet && to == kSendToServer
                   ? _packet_accepted
                   : _packet_before_join;
    case _received_from_joined_player:
    case _received_from_own_player:
    {
        const bool own = receiver == _received_from_own_player;
        // The library's requests go to 254 only, and are never relayed.
        if (library)
        {
            if (!(rule->flags & TO_HOST) || to != kSendToServer) return _packet_wrong_direction;
            return !(rule->flags & OWN) || own ? _packet_accepted : _packet_wrong_direction;
        }
        if (own) return _packet_accepted;
        const uint16_t needed = addressed_to_host(to, host_player_id) ? TO_HOST : TO_PLAYERS;
        return (rule->flags & needed) ? _packet_accepted : _packet_wrong_direction;
    }
    }
    return _packet_unknown_type;
}

net_packet_refusal check_client_packet_stage(uint16_t what, net_client_stage stage, bool cooperative)
{
    if (what & kNetLibPacketBit) return _packet_accepted;
    const net_packet_rule *const rule = get_net_packet_rule(_game_packet_kind, what);
    if (!rule) return _packet_unknown_type;
    if (stage < 0 || stage >= NUMBER_OF_NET_CLIENT_STAGES || !(rule->client_stages & (1u << stage)))
    {
        return _packet_wrong_stage;
    }
    return (rule->flags & COOP) && !cooperative ? _packet_wrong_stage : _packet_accepted;
}

const char *net_packet_refusal_name(net_packet_refusal refusal)
{
    static const char *const names[NUMBER_OF_NET_PACKET_REFUSALS] = {
        "accepted",        "unknown type",    "bad length",
        "not from the host", "wrong direction", "before the join",
        "not in this stage of the game", "past its sender's share", "a receiver's queue is full",
        "a receiver's link is behind", "its receivers ignore it now",
    };
    return refusal >= 0 && refusal < NUMBER_OF_NET_PACKET_REFUSALS ? names[refusal] : "unknown refusal";
}
