// The host role.  See network_server.h.

#include "vesk_networking/network_server.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cseries/log.h"
#include "cseries/timers.h"
#include "networking/connection_manager.h"
#include "networking/packet_construction.h"
#include "vesk_networking/network_packets.h"

// The denial of a join request the host cannot read.  The game layer's own
// wording of it would come with its strings; the library needs one it can
// always send.
static const char malformed_join_request_text[] = "The join request was malformed.";
// Connections that have not joined do not count against the player limit,
// so the limit is kept when a join is accepted.
static const char game_full_text[] = "The game is full.";
static const char game_closed_text[] = "The game takes no new players now.";
static const char joins_too_fast_text[] = "Too many joins from your address; try again in a moment.";
static const char joins_too_many_text[] = "Too many players are joining at once; try again in a moment.";

static void write_failure_message(net_game_data *game, char *buffer, int32_t size, int16_t index, int32_t code)
{
    format_internal_network_message(game, index, code, buffer, size);
}

int16_t server_player_id_to_server_players_index(const net_game_data *game, int16_t player_id)
{
    if (!game || !game->server || player_id == NONE) return NONE;
    for (int16_t index = 0; index < MAXIMUM_NETWORK_PLAYERS; index++)
    {
        if (game->server->server_players[index].player_id == player_id) return index;
    }
    return NONE;
}

static server_net_player_data *slot_of_player(net_game_data *game, int16_t player_id)
{
    const int16_t index = server_player_id_to_server_players_index(game, player_id);
    return index == NONE ? nullptr : &game->server->server_players[index];
}

void free_server_data(net_game_data *game)
{
    server_data *const server = game->server;
    if (!server) return;
    for (server_net_player_data &slot : server->server_players)
    {
        free_circular_queue(&slot.incoming_buffer);
        free_circular_queue(&slot.outgoing_buffer);
    }
    free(server);
    game->server = nullptr;
}

bool create_game(net_game_data *game, ProtocolConfig *config, const char *password, bool advertise,
                 char *failure_reason, int32_t failure_reason_length)
{
    if (!VASSERT(game, "game")) return false;
    if (game->server || game->state != _net_initialized)
    {
        log_message(__FILE__, __LINE__, "create_game refused: the game is already hosted or not entered (state %d)",
                    game->state);
        return false;
    }
    server_data *const server = (server_data *)calloc(1, sizeof(server_data));
    if (!server)
    {
        write_failure_message(game, failure_reason, failure_reason_length,
                              _not_enough_memory_for_server_structures_index, 0);
        return false;
    }
    game->server = server;
    bool allocated = true;
    for (int32_t index = 0; index < MAXIMUM_NETWORK_PLAYERS; index++)
    {
        server_net_player_data *const slot = &server->server_players[index];
        slot->player_id = NONE;
        char name[CIRCULAR_QUEUE_NAME_SIZE];
        snprintf(name, sizeof(name), "s incoming %d", index);
        allocated = allocate_circular_queue(name, &slot->incoming_buffer, game->parameters.client_queue_size) &&
                    allocated;
        snprintf(name, sizeof(name), "s outgoing %d", index);
        allocated = allocate_circular_queue(name, &slot->outgoing_buffer, game->parameters.client_queue_size) &&
                    allocated;
    }
    if (!allocated)
    {
        write_failure_message(game, failure_reason, failure_reason_length, _not_enough_memory_for_server_buffers_index,
                              0);
        free_server_data(game);
        return false;
    }
    server->next_player_id = 0;
    server->advertising = advertise;
    net_set_game_password(game, password);
    set_send_delete_packets(true);

    NMErr error = kNMNoError;
    Endpoint *const listener = open_connection(game, config, kOpenListen, &error);
    if (!listener)
    {
        write_failure_message(game, failure_reason, failure_reason_length, _unable_to_open_listening_socket_index,
                              error);
        free_server_data(game);
        return false;
    }
    server->listening_endpoint = listener;
    server->listening_endpoint_valid = true;
    if (advertise) ProtocolStartAdvertising(listener);
    else ProtocolStopAdvertising(listener);
    game->state = _net_up;
    return true;
}

static int16_t following_player_id(int16_t id) { return id >= MAXIMUM_PLAYER_ID ? 1 : (int16_t)(id + 1); }

int16_t get_next_player_id(net_game_data *game)
{
    if (!VASSERT(game && game->server, "game && game->server")) return NONE;
    server_data *const server = game->server;
    int16_t candidate = server->next_player_id;
    if (!VASSERT(candidate >= 0 && candidate <= MAXIMUM_PLAYER_ID, "next_player_id >= 0 && next_player_id <= 127"))
    {
        candidate = 1;
    }
    for (int32_t turn = 0; turn <= MAXIMUM_PLAYER_ID && net_player_id_to_player_index(&server->game_desc, candidate) != NONE;
         turn++)
    {
        candidate = following_player_id(candidate);
    }
    server->next_player_id = following_player_id(candidate);
    return candidate;
}

int16_t add_player_to_topology(net_game_data *game, const char *name, Endpoint *endpoint, int16_t player_id)
{
    if (!VASSERT(game && game->server, "game && game->server")) return NONE;
    net_game_description_2 *const description = &game->server->game_desc;
    server_net_player_data *slot = nullptr;
    for (server_net_player_data &candidate : game->server->server_players)
    {
        if (candidate.player_id == NONE)
        {
            slot = &candidate;
            break;
        }
    }
    // Every player has a slot: without one, nothing it sends could be read.
    if (!slot || description->player_count >= MAXIMUM_NETWORK_PLAYERS || player_id < 0 ||
        player_id > MAXIMUM_PLAYER_ID || net_player_id_to_player_index(description, player_id) != NONE)
    {
        LOG_REPEATED("no room for player %d (%d players): refused", player_id,
                     description->player_count);
        return NONE;
    }
    const int16_t index = description->player_count++;
    net_player_data *const player = &description->players[index];
    memset(player, 0, sizeof(*player));
    snprintf(player->name, sizeof(player->name), "%s", name ? name : "");
    player->player_id = player_id;

    slot->player_id = player_id;
    slot->endpoint = endpoint;
    slot->flags = 0;
    slot->logged_refusals = 0;
    slot->refused_packets = 0;
    slot->announced = slot->announcement_due = false;
    memset(slot->player_data, 0, sizeof(slot->player_data));
    // A reused slot keeps nothing of the player before.
    reset_circular_queue(&slot->incoming_buffer);
    reset_circular_queue(&slot->outgoing_buffer);
    return index;
}

void remove_player_from_topology(net_game_data *game, int16_t player_id, bool send_delete)
{
    if (!VASSERT(game && game->server, "game && game->server")) return;
    net_game_description_2 *const description = &game->server->game_desc;
    const int16_t index = net_player_id_to_player_index(description, player_id);
    if (index == NONE) return;
    memmove(&description->players[index], &description->players[index + 1],
            sizeof(description->players[0]) * (size_t)(description->player_count - index - 1));
    description->player_count--;
    bool logged_in = false;
    if (server_net_player_data *slot = slot_of_player(game, player_id))
    {
        logged_in = TEST_FLAG(slot->flags, _server_player_logged_in_flag_bit);
        slot->player_id = NONE;
        slot->endpoint = nullptr;
        slot->flags = 0;
        reset_circular_queue(&slot->incoming_buffer);
        reset_circular_queue(&slot->outgoing_buffer);
    }
    if (!send_delete || !logged_in) return;
    for (int16_t to_index = 0; to_index < description->player_count; to_index++)
    {
        send_server_deleted_player_packet(game, to_index, player_id);
    }
}

// ---- senders -------------------------------------------------------------------

static int16_t player_id_at(const net_game_data *game, int16_t index)
{
    const net_game_description_2 *const description = &game->server->game_desc;
    if (!VASSERT(index >= 0 && index < description->player_count,
                 "new_player_index>=0 && new_player_index<game->server->game_desc.player_count"))
    {
        return NONE;
    }
    return description->players[index].player_id;
}

static bool send_as_host(net_game_data *game, uint8_t *packet, int32_t length)
{
    return length > 0 && net_send_private(game, packet, 0, true);
}

bool send_game_data_packet(net_game_data *game, int16_t player_index)
{
    if (!VASSERT(game && game->server, "game->server")) return false;
    const int16_t to = player_id_at(game, player_index);
    if (to == NONE) return false;
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    return send_as_host(game, packet,
                        build_game_data_packet(packet, sizeof(packet), (uint8_t)to, game->server->game_data,
                                               game->server->game_data_length));
}

bool send_new_player_packet(net_game_data *game, int16_t to_index, int16_t about_index)
{
    if (!VASSERT(game && game->server, "game->server")) return false;
    const int16_t to = player_id_at(game, to_index);
    const int16_t about = player_id_at(game, about_index);
    const server_net_player_data *const slot = slot_of_player(game, about);
    if (to == NONE || !VASSERT(slot, "server_player_index != NONE")) return false;
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    return send_as_host(game, packet,
                        build_new_player_packet(packet, sizeof(packet), (uint8_t)to, about,
                                                game->server->game_desc.players[about_index].name, slot->player_data,
                                                game->parameters.player_userdata_size));
}

bool send_join_request_denied(net_game_data *game, int16_t player_index, const char *text, int32_t error)
{
    if (!VASSERT(game && game->server, "game->server")) return false;
    const int16_t to = player_id_at(game, player_index);
    if (to == NONE) return false;
    char message[NETWORK_MESSAGE_LENGTH + 1];
    snprintf(message, sizeof(message), "%s", text ? text : "");
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    return send_as_host(game, packet, build_join_request_denied_packet(packet, sizeof(packet), (uint8_t)to, message, error));
}

bool send_server_deleted_player_packet(net_game_data *game, int16_t to_index, int16_t player_id)
{
    if (!VASSERT(game && game->server, "game->server")) return false;
    const int16_t to = player_id_at(game, to_index);
    if (to == NONE) return false;
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    return send_as_host(game, packet,
                        build_server_deleted_player_packet(packet, sizeof(packet), (uint8_t)to, player_id));
}

// ---- the host's library handlers ---------------------------------------------------

static int16_t sender_of(const void *packet) { return ((const net_message_header *)packet)->from; }

// The host's own player: the one whose slot has no connection.
static bool is_own_player(net_game_data *game, int16_t player_id)
{
    const server_net_player_data *const slot = slot_of_player(game, player_id);
    return slot && !slot->endpoint;
}

static int16_t index_of_player(const net_game_data *game, int16_t player_id)
{
    return net_player_id_to_player_index(&game->server->game_desc, player_id);
}

// Peers can repeat a denied join as fast as they connect: logged once, then counted.
static void deny(net_game_data *game, int16_t player_index, const char *text, int32_t error)
{
    LOG_REPEATED("join request of player %d denied: %s", player_id_at(game, player_index), text);
    send_join_request_denied(game, player_index, text, error);
}

bool handle_join_request_packet(net_game_data *game, void *packet, int32_t)
{
    if (!VASSERT(game && game->server, "game->server")) return false;
    const int16_t newcomer = sender_of(packet);
    const int16_t player_index = index_of_player(game, newcomer);
    server_net_player_data *const slot = slot_of_player(game, newcomer);
    if (player_index == NONE || !slot) return false;
    // A second request would rename the player and announce it again.
    if (TEST_FLAG(slot->flags, _server_player_logged_in_flag_bit))
    {
        LOG_REPEATED("join request from player %d, who has joined already: ignored", newcomer);
        return false;
    }
    const char *name = nullptr, *password = nullptr;
    const void *data = nullptr;
    int32_t data_length = 0;
    if (!parse_join_request_packet(packet, &name, &password, &data, &data_length) ||
        data_length != game->parameters.player_userdata_size)
    {
        deny(game, player_index, malformed_join_request_text, NONE);
        return false;
    }
    // A game that takes nobody now (it runs and is not co-operative, or its
    // host closed it) says so in the game's own words when it has them.
    if (!is_own_player(game, newcomer) && !allow_connection_status())
    {
        char reason[NET_ALLOW_JOIN_REASON_SIZE] = "";
        if (!game->allow_join_function || game->allow_join_function(data, data_length, reason) || !reason[0])
            snprintf(reason, sizeof(reason), "%s", game_closed_text);
        reason[sizeof(reason) - 1] = 0;
        deny(game, player_index, reason, NONE);
        return false;
    }
    if (!is_own_player(game, newcomer) && !connection_manager_has_room_for_a_player())
    {
        deny(game, player_index, game_full_text, NONE);
        return false;
    }
    const connection_manager_join_refusal too_often =
        is_own_player(game, newcomer) ? _join_allowed : connection_manager_join_refusal_of(slot->endpoint);
    if (too_often != _join_allowed)
    {
        // Logged once and then counted by the connection manager, not once a join.
        send_join_request_denied(game, player_index,
                                 too_often == _join_refused_for_its_address ? joins_too_fast_text : joins_too_many_text,
                                 NONE);
        return false;
    }
    const char *const game_password = game->server->game_desc.password;
    if (game_password[0] && strncmp(password, game_password, MAXIMUM_NETWORK_PASSWORD_LENGTH + 1) != 0)
    {
        const int16_t reason = password[0] ? _incorrect_password_index : _game_requires_password_index;
        deny(game, player_index, get_internal_network_message(game, reason), reason);
        return false;
    }
    if (game->allow_join_function)
    {
        char reason[NET_ALLOW_JOIN_REASON_SIZE] = "";
        if (!game->allow_join_function(data, data_length, reason))
        {
            reason[sizeof(reason) - 1] = 0;
            deny(game, player_index, reason, NONE);
            return false;
        }
    }
    snprintf(game->server->game_desc.players[player_index].name, NET_NAME_SIZE, "%s", name);
    memcpy(slot->player_data, data, (size_t)data_length);

    // The newcomer hears of everybody before itself (and of itself twice:
    // once as its own record, once as the announcement to everybody); each
    // player already there hears of the newcomer.  A send can drop a player,
    // so the list is walked by ids.
    if (game->server->game_data_length > 0) send_game_data_packet(game, index_of_player(game, newcomer));
    int16_t ids[MAXIMUM_NETWORK_PLAYERS];
    const int16_t count = game->server->game_desc.player_count;
    for (int16_t index = 0; index < count; index++) ids[index] = game->server->game_desc.players[index].player_id;
    for (int16_t index = 0; index < count; index++)
    {
        const int16_t newcomer_index = index_of_player(game, newcomer);
        const int16_t other_index = index_of_player(game, ids[index]);
        if (newcomer_index == NONE) return false;
        if (other_index == NONE) continue;
        // A connection that has not joined is nobody's player yet: announced
        // now, it would never be taken back, since departures are announced
        // only for players who joined.  It is announced when it joins.
        const server_net_player_data *const other_slot = slot_of_player(game, ids[index]);
        if (ids[index] != newcomer &&
            (!other_slot || !TEST_FLAG(other_slot->flags, _server_player_logged_in_flag_bit)))
            continue;
        send_new_player_packet(game, newcomer_index, other_index);
        const int16_t newcomer_now = index_of_player(game, newcomer);
        const int16_t other_now = index_of_player(game, ids[index]);
        if (newcomer_now != NONE && other_now != NONE) send_new_player_packet(game, other_now, newcomer_now);
    }
    if (server_net_player_data *joined = slot_of_player(game, newcomer))
    {
        SET_FLAG(joined->flags, _server_player_logged_in_flag_bit, true);
    }
    return false;
}

// Sends player `named`'s record as it stands to every player (a send that
// drops a player changes the list: it is looked up again each time).
static void announce_player_data(net_game_data *game, int16_t named)
{
    if (server_net_player_data *const slot = slot_of_player(game, named))
    {
        slot->announced = true;
        slot->announcement_due = false;
        slot->announced_ms = machine_tick_count();
    }
    int16_t ids[MAXIMUM_NETWORK_PLAYERS];
    const int16_t count = game->server->game_desc.player_count;
    for (int16_t index = 0; index < count; index++) ids[index] = game->server->game_desc.players[index].player_id;
    for (int16_t index = 0; index < count && game->server; index++)
    {
        const int16_t to_index = index_of_player(game, ids[index]);
        const int16_t about_index = index_of_player(game, named);
        if (about_index == NONE) break;
        if (to_index != NONE) send_new_player_packet(game, to_index, about_index);
    }
}

bool handle_player_data_changed_packet(net_game_data *game, void *packet, int32_t length)
{
    if (!VASSERT(game && game->server, "game->server")) return false;
    const int16_t sender = sender_of(packet);
    if (index_of_player(game, sender) == NONE) return false;
    int16_t named;
    memcpy(&named, (const uint8_t *)packet + LIBRARY_PACKET_PLAYER_ID_OFFSET, sizeof(named));
    server_net_player_data *const slot = slot_of_player(game, named);
    const int32_t data_length = length - LIBRARY_PACKET_PLAYER_DATA_OFFSET;
    // A player changes its own record; only the host's own player publishes
    // others' (team repairs).
    if (!slot || (named != sender && !is_own_player(game, sender)) ||
        data_length != game->parameters.player_userdata_size)
    {
        LOG_REPEATED_OF_SUBJECT(sender, "player data change from %d for %d with %d bytes: refused", sender, named,
                                data_length);
        return false;
    }
    memcpy(slot->player_data, (const uint8_t *)packet + LIBRARY_PACKET_PLAYER_DATA_OFFSET, (size_t)data_length);
    // Every change is sent to every player: a remote player changing its
    // record in a loop would fill the others' queues.  Its changes within
    // NET_PLAYER_DATA_ANNOUNCE_MS wait, and the last one is announced then.
    if (!is_own_player(game, sender) && slot->announced &&
        machine_tick_count() - slot->announced_ms < (uint32_t)NET_PLAYER_DATA_ANNOUNCE_MS)
    {
        slot->announcement_due = true;
        return false;
    }
    announce_player_data(game, named);
    return false;
}

void announce_due_player_data(net_game_data *game)
{
    const uint32_t now = machine_tick_count();
    for (int16_t i = 0; game && game->server && i < MAXIMUM_NETWORK_PLAYERS; ++i)
    {
        const server_net_player_data &slot = game->server->server_players[i];
        if (slot.player_id != NONE && slot.announcement_due &&
            now - slot.announced_ms >= (uint32_t)NET_PLAYER_DATA_ANNOUNCE_MS)
            announce_player_data(game, slot.player_id);
    }
}

bool handle_game_data_changed_packet(net_game_data *game, void *packet, int32_t length)
{
    if (!VASSERT(game && game->server, "game->server")) return false;
    const int16_t sender = sender_of(packet);
    const int32_t data_length = length - LIBRARY_PACKET_BODY_OFFSET;
    if (!is_own_player(game, sender) || data_length < 0 || data_length > MAXIMUM_USER_GAME_DATA_SIZE)
    {
        LOG_REPEATED("game data change from %d with %d bytes: refused", sender, data_length);
        return false;
    }
    memcpy(game->server->game_data, (const uint8_t *)packet + LIBRARY_PACKET_BODY_OFFSET, (size_t)data_length);
    game->server->game_data_length = (int16_t)data_length;
    int16_t ids[MAXIMUM_NETWORK_PLAYERS];
    const int16_t count = game->server->game_desc.player_count;
    for (int16_t index = 0; index < count; index++) ids[index] = game->server->game_desc.players[index].player_id;
    for (int16_t index = 0; index < count; index++)
    {
        const int16_t to_index = index_of_player(game, ids[index]);
        if (to_index != NONE) send_game_data_packet(game, to_index);
    }
    return false;
}

// ---- removing players ------------------------------------------------------------

void server_delete_player(net_game_data *game, int16_t slot_index)
{
    if (!VASSERT(game && game->server && slot_index >= 0 && slot_index < MAXIMUM_NETWORK_PLAYERS,
                 "server_player_index != NONE"))
    {
        return;
    }
    server_net_player_data *const slot = &game->server->server_players[slot_index];
    if (!is_circular_queue_empty(&slot->incoming_buffer))
    {
        LOG_REPEATED("resetting incoming client queue for player #%d", slot->player_id);
    }
    if (!is_circular_queue_empty(&slot->outgoing_buffer))
    {
        LOG_REPEATED("resetting outgoing client queue for player #%d", slot->player_id);
    }
    reset_circular_queue(&slot->incoming_buffer);
    reset_circular_queue(&slot->outgoing_buffer);
}

// Polls until `done` or `timeout` milliseconds have passed; whether `done`.
template <typename condition> static bool poll_until(net_game_data *game, uint32_t timeout, condition done)
{
    const uint32_t start = machine_tick_count();
    while (!done() && machine_tick_count() - start < timeout) net_process(game);
    return done();
}

bool server_delete_player_from_game(net_game_data *game, int16_t player_id)
{
    if (!VASSERT(game && game->server, "game->server")) return false;
    const int16_t slot_index = server_player_id_to_server_players_index(game, player_id);
    if (index_of_player(game, player_id) == NONE || slot_index == NONE) return true;
    server_delete_player(game, slot_index);
    Endpoint *const endpoint = game->server->server_players[slot_index].endpoint;
    if (!endpoint)
    {
        // The host's own player has no connection: it leaves with the game.
        log_message(__FILE__, __LINE__, "the host's own player %d is not deleted", player_id);
        return false;
    }
    close_connection(endpoint, true);
    const auto gone = [game, player_id] { return index_of_player(game, player_id) == NONE; };
    // Inside the network pass (a full queue while routing) nobody waits: the
    // close finishes in this frame's or a later idle.
    if (net_process_is_running()) return gone();
    return poll_until(game, NET_DELETE_PLAYER_TIMEOUT, gone);
}

bool delete_server_connections(net_game_data *game)
{
    if (!VASSERT(game && game->server, "game && game->server")) return false;
    server_data *const server = game->server;
    if (server->listening_endpoint_valid && server->listening_endpoint)
    {
        close_connection(server->listening_endpoint, true);
        poll_until(game, NET_EXIT_TIMEOUT,
                   [server] { return !server->listening_endpoint_valid || net_exit_cancelled(); });
    }
    const uint32_t start = machine_tick_count();
    const uint32_t limit = (uint32_t)(server->game_desc.player_count + 1) * NET_EXIT_TIMEOUT;
    int16_t last_count = NONE;
    while (server->game_desc.player_count > 0 && machine_tick_count() - start < limit && !net_exit_cancelled())
    {
        if (server->game_desc.player_count != last_count)
        {
            last_count = server->game_desc.player_count;
            const int16_t player_id = server->game_desc.players[last_count - 1].player_id;
            const server_net_player_data *const slot = slot_of_player(game, player_id);
            if (slot && slot->endpoint) close_connection(slot->endpoint, true);
            else remove_player_from_topology(game, player_id, true);
        }
        net_process(game);
    }
    return !server->listening_endpoint_valid && server->game_desc.player_count == 0;
}

void net_set_game_password(net_game_data *game, const char *password)
{
    if (!VASSERT(game && game->server, "game && game->server")) return;
    snprintf(game->server->game_desc.password, sizeof(game->server->game_desc.password), "%s",
             password ? password : "");
}

int32_t net_get_player_client_outgoing_buffer_free_size(const net_game_data *game, int16_t player_id)
{
    const int16_t index = server_player_id_to_server_players_index(game, player_id);
    return index == NONE ? 0 : circular_buffer_free_size(&game->server->server_players[index].outgoing_buffer);
}
