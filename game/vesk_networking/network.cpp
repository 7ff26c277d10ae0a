// The networking library's game record and client role.  See network.h.

#include "vesk_networking/network.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cseries/log.h"
#include "cseries/timers.h"
#include "networking/connection_manager.h"
#include "networking/net_module.h"
#include "networking/packet_construction.h"
#include "vesk_networking/network_client.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/network_server.h"

static void free_client_queues(net_game_data *game)
{
    free_circular_queue(&game->incoming_buffer);
    free_circular_queue(&game->outgoing_buffer);
    free_circular_queue(&game->status_buffer);
}

net_game_data *net_enter(int16_t service_provider, int32_t incoming_queue_size, int32_t outgoing_queue_size,
                         net_application_packet_handler packet_handler,
                         net_packet_byteswap_procedure byteswap_function, int16_t player_userdata_size,
                         net_progress_procedure progress_function, net_message_procedure message_function,
                         net_allow_join_procedure allow_join_function)
{
    if (service_provider != 0)
    {
        HALT("only service provider 0 is supported");
        return nullptr;
    }
    if (!packet_handler || !byteswap_function || !message_function || player_userdata_size < 1 ||
        player_userdata_size > NETWORK_PLAYER_DATA_SIZE)
    {
        log_message(__FILE__, __LINE__, "net_enter refused: missing procedures or player data size %d",
                    player_userdata_size);
        return nullptr;
    }
    net_game_data *const game = (net_game_data *)calloc(1, sizeof(net_game_data));
    if (!game) return nullptr;
    bool allocated = allocate_circular_queue("client incoming", &game->incoming_buffer, incoming_queue_size);
    allocated = allocate_circular_queue("client outgoing", &game->outgoing_buffer, outgoing_queue_size) && allocated;
    allocated = allocate_circular_queue("client status", &game->status_buffer, outgoing_queue_size) && allocated;
    game->service_provider = service_provider;
    game->application_packet_handler = packet_handler;
    game->byteswap_function = byteswap_function;
    game->progress_function = progress_function;
    game->message_function = message_function;
    game->allow_join_function = allow_join_function;
    game->parameters.player_userdata_size = player_userdata_size;
    game->parameters.client_queue_size = outgoing_queue_size;
    initialize_connection_manager();
    game->state = _net_initialized;
    if (!allocated)
    {
        net_exit(game);
        return nullptr;
    }
    return game;
}

const char *get_internal_network_message(const net_game_data *game, int16_t index)
{
    if (!game || !game->message_function || index < 0 || index >= INTERNAL_NETWORK_MSG_COUNT) return "";
    const char *const text = game->message_function(index);
    return text ? text : "";
}

void format_internal_network_message(const net_game_data *game, int16_t index, int32_t code, char *buffer,
                                     int32_t size)
{
    if (!buffer || size <= 0) return;
    const char *const format = get_internal_network_message(game, index);
    const char *const conversion = strchr(format, '%');
    if (conversion && (conversion[1] == 's' || conversion[1] == 'd') && !strchr(conversion + 2, '%'))
    {
        const char *const words = describe_net_module_error(code);
        snprintf(buffer, (size_t)size, "%.*s%s%s", (int)(conversion - format), format, words, conversion + 2);
        log_message(__FILE__, __LINE__, "network message %d: net module error %d (%s)", (int)index, (int)code, words);
    }
    else snprintf(buffer, (size_t)size, "%s", format);
}

static void write_message(net_game_data *game, int16_t index, int32_t code)
{
    format_internal_network_message(game, index, code, game->client.failure_reason, game->client.failure_reason_length);
}

static bool progress(net_game_data *game, int16_t operation, const char *text, int32_t value)
{
    return game->progress_function && game->progress_function(operation, text, value);
}

bool join_game(net_game_data *game, ProtocolConfig *config, const char *player_name, const char *password,
               const void *player_data, int32_t data_length, char *failure_reason, int32_t failure_reason_length,
               bool host)
{
    if (!VASSERT(game, "game")) return false;
    if (data_length != game->parameters.player_userdata_size || !player_data ||
        (game->state != _net_initialized && game->state != _net_up) || host != (game->server != nullptr))
    {
        log_message(__FILE__, __LINE__, "join_game refused: state %d, %d bytes of player data, host %d", game->state,
                    data_length, host);
        return false;
    }
    client_data *const client = &game->client;
    memset(client, 0, sizeof(*client));
    client->failure_reason = failure_reason;
    client->failure_reason_length = failure_reason_length;
    if (failure_reason && failure_reason_length > 0) failure_reason[0] = 0;
    snprintf(client->player_name, sizeof(client->player_name), "%s", player_name ? player_name : "");
    char password_copy[NET_PASSWORD_SIZE];
    snprintf(password_copy, sizeof(password_copy), "%s", password ? password : "");
    reset_circular_queue(&game->incoming_buffer);
    reset_circular_queue(&game->outgoing_buffer);
    reset_circular_queue(&game->status_buffer);

    if (host)
    {
        if (add_player_to_topology(game, "", nullptr, get_next_player_id(game)) == NONE) return false;
    }
    else
    {
        NMErr error = kNMNoError;
        client->endpoint = open_connection(game, config, 0, &error);
        if (!client->endpoint)
        {
            write_message(game, _firewall_or_net_connection_index, error);
            return false;
        }
    }

    client->state = _client_joining;
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    if (build_join_request_packet(packet, sizeof(packet), kSendToServer, client->player_name, password_copy,
                                  player_data, data_length))
    {
        net_send_private(game, packet, 0, false);
    }

    const uint32_t start = machine_tick_count();
    bool dialog_open = false, cancelled = false;
    for (uint32_t elapsed = 0; client->state == _client_joining && elapsed < JOIN_GAME_TIMEOUT;
         elapsed = machine_tick_count() - start)
    {
        net_process(game);
        if (!dialog_open && elapsed >= TICKS_BEFORE_OPENING_PROGRESS_DIALOG && game->progress_function)
        {
            dialog_open = true;
            cancelled = progress(game, _net_progress_open, get_internal_network_message(game, _attempting_to_join_index), 0);
        }
        if (dialog_open && !cancelled)
        {
            cancelled = progress(game, _net_progress_set_bar, nullptr,
                                 (int32_t)((uint64_t)elapsed * NET_PROGRESS_FULL / JOIN_GAME_TIMEOUT));
            cancelled = progress(game, _net_progress_poll, nullptr, 0) || cancelled;
        }
        if (cancelled) break;
    }
    if (dialog_open) progress(game, _net_progress_close, nullptr, 0);

    switch (client->state)
    {
    case _client_joining:
        write_message(game, cancelled ? _user_cancelled_index : _timed_out_waiting_to_join_index, 0);
        client->state = _client_idle;
        if (!host) delete_local_client_endpoint(game);
        return false;
    case _client_refused:
        client->state = _client_idle;
        if (!host) delete_local_client_endpoint(game);
        return false;
    case _client_idle: game->state = _net_up; return true;
    default: HALT("join_game ended in an unexpected client state"); return false;
    }
}

void net_exit(net_game_data *game)
{
    if (!game) return;
    if (game->state < 0 || game->state >= MAXIMUM_NET_STATES) HALT("state>=0 && state<MAXIMUM_NET_STATES");
    if (game->state == _net_up && !game->server) delete_local_client_endpoint(game);
    game->state = _net_coming_down;
    bool closed = true;
    if (game->server && !delete_server_connections(game))
    {
        log_message(__FILE__, __LINE__, "%s %d!", get_internal_network_message(game, _failure_deleting_server_connections_index), 0);
        closed = false;
    }
    if (closed && !delete_local_client_endpoint(game))
    {
        log_message(__FILE__, __LINE__, "%s %d!", get_internal_network_message(game, _failure_deleting_local_client_endpoint_index), 0);
    }
    // Nothing of the record may outlive it in the connection manager: what
    // did not close in time closes now, abortively.
    if (game->server)
    {
        for (server_net_player_data &slot : game->server->server_players)
        {
            if (slot.player_id != NONE && slot.endpoint) close_connection(slot.endpoint, false);
        }
        if (game->server->listening_endpoint_valid) close_connection(game->server->listening_endpoint, false);
    }
    if (game->client.endpoint) close_connection(game->client.endpoint, false);
    free_client_queues(game);
    free_server_data(game);
    game->state = _net_down;
    free(game);
}

// ---- deleting players -----------------------------------------------------------

static bool (*net_exit_cancel_check)(void);

void set_net_exit_cancel_check(bool (*cancelled)(void)) { net_exit_cancel_check = cancelled; }

bool net_exit_cancelled(void) { return net_exit_cancel_check && net_exit_cancel_check(); }

bool delete_local_client_endpoint(net_game_data *game)
{
    if (!VASSERT(game, "game")) return false;
    client_data *const client = &game->client;
    if (!client->endpoint) return true;
    close_connection(client->endpoint, true);
    if (net_process_is_running()) return !client->endpoint;
    const uint32_t start = machine_tick_count();
    while (client->endpoint && machine_tick_count() - start < DELETE_PLAYER_TIMEOUT && !net_exit_cancelled())
        net_process(game);
    return !client->endpoint;
}

bool net_delete_player(net_game_data *game, int16_t player_id)
{
    if (!VASSERT(game, "game")) return false;
    if (game->server) return server_delete_player_from_game(game, player_id);
    if (!VASSERT(player_id == game->client.local_player_id, "non-server trying to delete player other than self"))
    {
        return false;
    }
    return delete_local_client_endpoint(game);
}

bool drop_player_due_to_error(net_game_data *game, int16_t player_id) { return net_delete_player(game, player_id); }

// ---- sending the host new data ---------------------------------------------------

bool net_set_player_data(net_game_data *game, int16_t player_id, const void *data)
{
    if (!VASSERT(game && data, "game")) return false;
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    return build_player_data_changed_packet(packet, sizeof(packet), kSendToServer, player_id, data,
                                            game->parameters.player_userdata_size) &&
           net_send_private(game, packet, 0, false);
}

bool net_set_game_data(net_game_data *game, const void *data, int32_t length)
{
    if (!VASSERT(game, "game")) return false;
    if (length < 0 || length > MAXIMUM_USER_GAME_DATA_SIZE || (length > 0 && !data))
    {
        log_message(__FILE__, __LINE__, "length %d not >= and <%d", length, MAXIMUM_USER_GAME_DATA_SIZE + 1);
        return false;
    }
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    return build_game_data_changed_packet(packet, sizeof(packet), kSendToServer, data, length) &&
           net_send_private(game, packet, 0, false);
}

bool queue_status_packet(net_game_data *game, const void *packet)
{
    uint16_t length;
    memcpy(&length, (const uint8_t *)packet + 2, sizeof(length));
    if (copy_data_into_circular_queue(packet, length, &game->status_buffer)) return true;
    LOG_REPEATED("Unable to copy data into status queue (full) (this is bad)");
    drop_player_due_to_error(game, game->client.local_player_id);
    return false;
}

// ---- queries ---------------------------------------------------------------------

int16_t net_get_player_count(const net_game_data *game) { return game ? game->client.game_desc.player_count : 0; }

int16_t net_get_local_player_id(const net_game_data *game) { return game ? game->client.local_player_id : (int16_t)NONE; }

bool net_i_am_the_server(const net_game_data *game) { return game && game->server; }

int16_t net_player_index_to_player_id(const net_game_data *game, int16_t player_index)
{
    if (!VASSERT(game && player_index >= 0 && player_index < game->client.game_desc.player_count,
                 "player_index>=0 && player_index<game->client.game_desc.player_count"))
    {
        return NONE;
    }
    return game->client.game_desc.players[player_index].player_id;
}

int16_t net_player_id_to_player_index(const net_game_description_2 *description, int16_t player_id)
{
    if (!description) return NONE;
    for (int16_t index = 0; index < description->player_count && index < MAXIMUM_NETWORK_PLAYERS; index++)
    {
        if (description->players[index].player_id == player_id) return index;
    }
    return NONE;
}

void net_get_player_name(const net_game_data *game, int16_t player_id, char *name, int32_t size)
{
    if (!name || size <= 0) return;
    const int16_t index = game ? net_player_id_to_player_index(&game->client.game_desc, player_id) : (int16_t)NONE;
    snprintf(name, (size_t)size, "%s", index == NONE ? "<Unknown>" : game->client.game_desc.players[index].name);
}

int16_t net_set_debug_status(net_game_data *game, int16_t level)
{
    if (!VASSERT(game, "game")) return 0;
    const int16_t previous = game->parameters.debug_level;
    game->parameters.debug_level = level;
    return previous;
}

bool networking_active(const net_game_data *game)
{
    return game && game->state != _net_down && game->state != _net_coming_down;
}

bool networking_available(void) { return net_get_indexed_protocol_name(0, nullptr, 0, nullptr); }

void net_allow_connections(net_game_data *, bool allow) { set_allow_connection_status(allow); }

bool net_get_allow_connections_state(const net_game_data *) { return allow_connection_status(); }

void net_set_maximum_players(net_game_data *, int16_t players) { set_game_maximum_players(players); }

Endpoint *net_get_listener_endpoint(const net_game_data *game)
{
    return game && game->server && game->server->listening_endpoint_valid ? game->server->listening_endpoint : nullptr;
}
