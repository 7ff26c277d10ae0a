// Joins the networking library's roles to the connection manager.  See
// network_hooks.h.

#include "vesk_networking/network_hooks.h"

#include <cstdio>

#include "networking/connection_manager.h"
#include "game_ending.h"
#include "game_records.h"
#include "game_time.h"
#include "vesk_networking/network.h"
#include "vesk_networking/network_client.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/network_server.h"
#include "vesk_networking/vesk_server.h"

static net_game_data *game_of(void *game) { return (net_game_data *)game; }

static bool game_is_host(void *game) { return game && game_of(game)->server; }

static Endpoint *listening_endpoint(void *game) { return game ? net_get_listener_endpoint(game_of(game)) : nullptr; }

static void listening_endpoint_closed(void *game)
{
    if (!game || !game_of(game)->server) return;
    game_of(game)->server->listening_endpoint = nullptr;
    game_of(game)->server->listening_endpoint_valid = false;
}

// A connection the listener accepted, or the host's connection out to a
// player: a player with an empty name, not joined.  With every slot taken
// there is none, and the manager closes the connection.
static int16_t add_remote_player(void *game, Endpoint *endpoint)
{
    if (!game_is_host(game)) return NONE;
    const int16_t player_id = get_next_player_id(game_of(game));
    return add_player_to_topology(game_of(game), "", endpoint, player_id) == NONE ? (int16_t)NONE : player_id;
}

static int16_t player_id_of_endpoint(void *game, Endpoint *endpoint)
{
    if (!game_is_host(game) || !endpoint) return NONE;
    for (const server_net_player_data &slot : game_of(game)->server->server_players)
    {
        if (slot.player_id != NONE && slot.endpoint == endpoint) return slot.player_id;
    }
    return NONE;
}

static circular_queue *incoming_queue(void *game, int16_t player_id)
{
    if (!game) return nullptr;
    if (!game_is_host(game)) return &game_of(game)->incoming_buffer;
    const int16_t index = server_player_id_to_server_players_index(game_of(game), player_id);
    return index == NONE ? nullptr : &game_of(game)->server->server_players[index].incoming_buffer;
}

static void remove_player(void *game, int16_t player_id, bool send_delete)
{
    if (game_is_host(game)) remove_player_from_topology(game_of(game), player_id, send_delete);
}

static bool client_connection_closed(void *game, Endpoint *endpoint)
{
    if (!game || game_of(game)->client.endpoint != endpoint) return false;
    net_game_data *const net_game = game_of(game);
    client_data *const client = &net_game->client;
    client->endpoint = nullptr;
    client->game_desc.player_count = 0;
    // The host's last packets (its answer to a join, its reason for dropping
    // this player) are read before the connection's end is acted on: a join
    // the host closed before answering ends its wait at once, and a player
    // in the game has left it.
    if (circular_queue_holds_whole_packet(&net_game->incoming_buffer)) client->connection_closed = true;
    else client_connection_ended(net_game);
    return true;
}

static bool player_has_joined(void *game, int16_t player_id)
{
    if (!game_is_host(game)) return false;
    const int16_t index = server_player_id_to_server_players_index(game_of(game), player_id);
    return index != NONE &&
           TEST_FLAG(game_of(game)->server->server_players[index].flags, _server_player_logged_in_flag_bit);
}

static void tell_dropped_player(void *game, int16_t player_id, const char *why)
{
    if (game_is_host(game)) net_tell_player_why_it_is_dropped(game_of(game), player_id, why);
}

static const connection_manager_game_procedures network_game_procedures = {
    game_is_host,          listening_endpoint, listening_endpoint_closed, add_remote_player,
    player_id_of_endpoint, incoming_queue,     remove_player,             client_connection_closed,
    player_has_joined,     tell_dropped_player,
};

// The end of a game's countdown, as game_ending tells it: films and games of
// one player end without the relay.
static void note_network_game_last_tick(int32_t last_tick)
{
    if (game_->type == _game_type_networked) note_game_last_tick(last_tick);
}

void register_network_hooks(void)
{
    register_connection_manager_game_procedures(&network_game_procedures);
    set_net_client_room_check(client_has_room_for_a_command);
    set_net_relay_share_check(player_share_takes_relayed_packet);
    register_game_last_tick_procedure(note_network_game_last_tick);
}
