#pragma once
// The one table of packet rules: for every library, status and game packet
// type, the smallest and largest `messageLen`, whether it carries the host's
// authority, and who may send it to whom.  Host and client consult it on
// every received packet before any byte of the packet is converted or read
// past the header; docs/network.md gives the table and the rules for peer
// implementers.
//
// The rules:
// - a library packet reaches the host only addressed to 254 with type 0-2;
//   the host never relays one; type 2 only from the host's own player;
// - a player that has not joined may send only a join request to 254;
// - a client accepts library packets only from 254 with type 3-7;
// - game packets carrying the host's authority are accepted on a client
//   only from player 0, and a remote player may send them only to the host;
// - a packet of the host's own loop (a server command) never reaches a client;
// - on a client, a game packet is taken only in the stages of the session its
//   rule names (a sync begins only once a game is described; a mid-game start
//   only for a cooperative game).

#include <cstdint>

enum net_packet_kind
{
    _library_packet_kind, // kNetLibPacketBit set, from the wire
    _status_packet_kind,  // kNetLibPacketBit set, from the status queue
    _game_packet_kind,    // kNetLibPacketBit clear
    NUMBER_OF_NET_PACKET_KINDS
};

enum : uint16_t
{
    // On a client, accepted only from the host: from 254 (library) or from
    // the host's player 0 (game).
    _net_rule_host_authority = 1,
    // A remote player may address it to the host (254 or the host's player).
    _net_rule_player_to_host = 2,
    // A remote player may address it to another player or to everybody.
    _net_rule_player_to_players = 4,
    // Only the host's own player may send it (to 254).
    _net_rule_own_player_only = 8,
    // Only on the host's own loop: a client never takes it, from anybody.
    _net_rule_host_loop_only = 16,
    // On a client, only while the described game is cooperative.
    _net_rule_cooperative_only = 32,
};

// Where a client's session stands when a game packet reaches it.
enum net_client_stage
{
    _client_stage_undescribed, // joined; no game description has come yet
    _client_stage_described,   // a description came; no game runs
    _client_stage_playing,     // from the end of the start barrier to the game's end
    NUMBER_OF_NET_CLIENT_STAGES
};

enum
{
    // Refused packets one peer may send; past it the peer is disconnected
    // (a host drops the player, a client leaves the host).  An honest peer
    // sends none.
    NET_REFUSED_PACKET_LIMIT = 64,
};

// The veterans' bytes of a packet must stay below this.
constexpr int32_t COOP_VETS_LIMIT = 4088;

struct net_packet_rule
{
    uint16_t minimum_length; // messageLen, header included
    uint16_t maximum_length;
    uint16_t flags; // _net_rule_*
    uint16_t client_stages; // on a client, FLAG(net_client_stage) of the stages that take it
};

// Who is receiving: where the packet was taken from.
enum net_packet_receiver
{
    _received_by_client,            // a machine's pass over what came from the host
    _received_from_joined_player,   // the host, from a remote player who has joined
    _received_from_unjoined_player, // the host, from a connection not yet joined
    _received_from_own_player,      // the host, from its own player's slot
    _received_status,               // the game, from the status queue
};

// Why a packet was refused (one bit each in a connection's logged set).
enum net_packet_refusal
{
    _packet_accepted = 0,
    _packet_unknown_type,     // a library or status type above its last, a game type above 11
    _packet_bad_length,       // messageLen outside its type's limits
    _packet_not_from_host,    // host authority from another sender
    _packet_wrong_direction,  // a type or address its sender may not use
    _packet_before_join,      // anything but a join request before the join
    _packet_wrong_stage,      // a client in a stage (or game) its rule excludes
    _packet_past_share,       // a relay past its sender's share (network_packets)
    _packet_receiver_queue_full, // a relay a receiver's outgoing queue has no room for
    _packet_receiver_behind,  // a relay to a receiver whose link has not carried what it was sent before
    _packet_ignored_now,      // a relay its receivers would ignore in the game's present state
    NUMBER_OF_NET_PACKET_REFUSALS
};

// The rule of a type; null when `what` is no type of that kind (the library
// bit is ignored: the kind says which table).
const net_packet_rule *get_net_packet_rule(net_packet_kind kind, uint16_t what);

// The verdict on a received packet, from its header in host order (read
// without converting the packet): `what` with its library bit, `length` its
// messageLen; `to` and `from` as received (on the host `from` is already the
// slot's id); `host_player_id` the host's own player (0) for
// `_received_from_*`.
net_packet_refusal check_received_packet(net_packet_receiver receiver, uint16_t what, uint16_t length, uint8_t to,
                                         uint8_t from, int16_t host_player_id);

// The verdict of a client on a game packet its pass accepted, by the
// session's stage and whether the described game is cooperative.
net_packet_refusal check_client_packet_stage(uint16_t what, net_client_stage stage, bool cooperative);

// "accepted", "unknown type", ...
const char *net_packet_refusal_name(net_packet_refusal refusal);
