// Routing and processing of packets.  See network_packets.h.

#include "vesk_networking/network_packets.h"

#include <cstdio>
#include <cstring>

#include "cseries/log.h"
#include "networking/connection_manager.h"
#include "platform_events.h"
#include "vesk_networking/network_client.h"
#include "vesk_networking/network_server.h"
#include "vesk_networking/packet_rules.h"

static struct network_packets_globals
{
    int32_t process_depth; // net_process calls running (waits inside handlers nest them)
    bool (*client_has_room)(void);
    bool (*relay_share_takes)(int32_t from, int32_t length);
    bool (*relay_heeded)(uint16_t what);
} network_packets_globals;

void set_net_client_room_check(bool (*has_room)(void)) { network_packets_globals.client_has_room = has_room; }
void set_net_relay_share_check(bool (*share_takes)(int32_t from, int32_t length))
{
    network_packets_globals.relay_share_takes = share_takes;
}

void set_net_relay_heeded_check(bool (*heeded)(uint16_t what)) { network_packets_globals.relay_heeded = heeded; }

const net_library_packet_handler packet_handlers[NUMBER_OF_LIBRARY_PACKET_TYPES] = {
    handle_join_request_packet,        handle_player_data_changed_packet, handle_game_data_changed_packet,
    handle_new_player_packet,          handle_join_request_denied_packet, handle_server_deleted_player_packet,
    handle_game_data_packet,           handle_client_connection_closed_packet,
};

bool net_process_is_running(void) { return network_packets_globals.process_depth > 0; }

// The host's own player's slot: the one without a connection.
static server_net_player_data *own_slot(net_game_data *game)
{
    for (server_net_player_data &slot : game->server->server_players)
    {
        if (slot.player_id != NONE && !slot.endpoint) return &slot;
    }
    return nullptr;
}

static int16_t own_player_id(net_game_data *game)
{
    const server_net_player_data *const slot = game->server ? own_slot(game) : nullptr;
    return slot ? slot->player_id : (int16_t)NONE;
}

static server_net_player_data *slot_of(net_game_data *game, int16_t player_id)
{
    const int16_t index = server_player_id_to_server_players_index(game, player_id);
    return index == NONE ? nullptr : &game->server->server_players[index];
}

static void drop_player(net_game_data *game, int16_t player_id)
{
    drop_player_due_to_error(game, game->server ? player_id : game->client.local_player_id);
}

// ---- sending -----------------------------------------------------------------------

static bool send_with_sender(net_game_data *game, void *packet, uint8_t from)
{
    if (!VASSERT(game && packet, "packet")) return false;
    net_message_header *const header = (net_message_header *)packet;
    const uint16_t length = header->messageLen;
    if (!VASSERT(length >= sizeof(net_message_header) && length <= MAXIMUM_SINGLE_PACKET_SIZE,
                 "packet->messageLen>=sizeof(struct net_message_header)"))
    {
        return false;
    }
    header->from = from;
    header->id = 0;
    const uint8_t to = header->to;
    if (!byteswap_packet_norm(game->byteswap_function, packet, length, true)) return false;

    if (!game->server)
    {
        if (copy_data_into_circular_queue(packet, length, &game->outgoing_buffer)) return true;
        log_message(__FILE__, __LINE__, "unable to send to server. outgoing buffer is full (removing ourself)");
        drop_player(game, game->client.local_player_id);
        return false;
    }
    if (to == kSendToServer || to == kSendToAllPlayers)
    {
        server_net_player_data *const slot = own_slot(game);
        if (slot && copy_data_into_circular_queue(packet, length, &slot->incoming_buffer)) return true;
        log_message(__FILE__, __LINE__, "unable to send to player %d (server). This is REAL bad.;g",
                    slot ? slot->player_id : (int16_t)NONE);
        return false;
    }
    server_net_player_data *const slot = slot_of(game, to);
    if (!slot || net_player_id_to_player_index(&game->server->game_desc, to) == NONE) return false;
    if (copy_data_into_circular_queue(packet, length, &slot->outgoing_buffer)) return true;
    dump_queue(&slot->outgoing_buffer);
    LOG_REPEATED_OF_SUBJECT(to, "unable to send to player %d. outgoing buffer is full (dropping)", to);
    if (slot->endpoint) drop_player(game, to);
    return false;
}

bool net_send(net_game_data *game, void *packet, uint32_t)
{
    return game && send_with_sender(game, packet, (uint8_t)game->client.local_player_id);
}

bool net_send_private(net_game_data *game, void *packet, uint32_t, bool as_host)
{
    return game &&
           send_with_sender(game, packet, as_host ? (uint8_t)kSendToServer : (uint8_t)game->client.local_player_id);
}

// ---- receiving ----------------------------------------------------------------------

static uint16_t big_endian_16(const uint8_t *bytes) { return (uint16_t)(bytes[0] << 8 | bytes[1]); }

// Logs a refused packet once per connection and reason (of connections that
// have not joined, `unjoined`, once and then counted, whichever connection);
// true when the connection has now sent NET_REFUSED_PACKET_LIMIT refused
// packets.
static bool log_refusal(uint32_t *logged, uint16_t *refused, net_packet_refusal refusal, int16_t player_id,
                        uint16_t what, uint16_t length, uint8_t to, uint8_t from, bool unjoined)
{
    if (!(*logged & FLAG(refusal)))
    {
        *logged |= FLAG(refusal);
        // A flood of new connections would otherwise write a line each.
        if (unjoined)
            LOG_REPEATED("packet 0x%x of %u bytes to %u from %u (player %d, not joined) dropped: %s", what, length,
                         to, from, player_id, net_packet_refusal_name(refusal));
        else
            LOG_REPEATED_OF_SUBJECT_AND_KIND(player_id != NONE ? player_id : from, refusal,
                                             NUMBER_OF_NET_PACKET_REFUSALS,
                                             "packet 0x%x of %u bytes to %u from %u (player %d) dropped: %s", what,
                                             length, to, from, player_id, net_packet_refusal_name(refusal));
    }
    return ++*refused == NET_REFUSED_PACKET_LIMIT;
}

// The connection a queue belongs to has broken its framing: it ends.  The
// host's own loop and the status queue cannot be framed wrong by a peer; if
// they are, they are emptied.
static void drop_corrupt_connection(net_game_data *game, circular_queue *queue, int16_t slot_player_id)
{
    server_net_player_data *const slot = slot_player_id == NONE ? nullptr : slot_of(game, slot_player_id);
    Endpoint *const endpoint = slot ? slot->endpoint : (queue == &game->incoming_buffer && !game->server)
                                                           ? game->client.endpoint
                                                           : nullptr;
    LOG_REPEATED_OF_SUBJECT(slot_player_id, "corrupt framing in %s of player %d: %s", queue->name,
                            (int)slot_player_id, endpoint ? "dropping the connection" : "emptying it");
    reset_circular_queue(queue);
    if (endpoint) close_connection(endpoint, false);
}

// Appends a wire-order packet of the host's own to a player's outgoing
// queue; a full queue drops that player, as any send of the host's does.
static void relay_to_player(net_game_data *game, int16_t player_id, const uint8_t *packet, uint16_t length)
{
    server_net_player_data *const slot = slot_of(game, player_id);
    if (!slot || copy_data_into_circular_queue(packet, length, &slot->outgoing_buffer)) return;
    dump_queue(&slot->outgoing_buffer);
    LOG_REPEATED_OF_SUBJECT(player_id, "Unable to route packet to player %d because its buffer is full (dropping)",
                            player_id);
    if (slot->endpoint) drop_player(game, player_id);
}

// The unsent bytes of a remote player's link: its outgoing queue and what
// the system holds of it.
static int32_t unsent_bytes_of(const server_net_player_data *slot)
{
    return circular_buffer_size(&slot->outgoing_buffer) + connection_unsent_bytes(slot->endpoint);
}

bool net_links_drained(net_game_data *game)
{
    if (!game || !game->server) return true;
    for (const server_net_player_data &slot : game->server->server_players)
        if (slot.player_id != NONE && slot.endpoint && unsent_bytes_of(&slot) > 0) return false;
    return true;
}

bool net_player_link_is_behind(net_game_data *game, int32_t player_id)
{
    if (!game || !game->server) return false;
    for (const server_net_player_data &slot : game->server->server_players)
    {
        if (slot.player_id == NONE || !slot.endpoint || (player_id != kSendToAllPlayers && slot.player_id != player_id))
            continue;
        if (unsent_bytes_of(&slot) > NET_RELAY_BACKLOG_LIMIT) return true;
    }
    return false;
}

// Relays a wire-order packet from `sender` (its slot) to the `count` players
// of `ids`.  A remote player's packet goes only when its receivers heed it
// now and it fits the sender's share; otherwise nobody gets it and the
// refusal is the sender's (logged once per connection, then counted),
// charged to its share.  A receiver whose link is behind (see
// NET_RELAY_BACKLOG_LIMIT) or whose outgoing queue has no room is skipped,
// that receiver alone (logged once per receiver, then counted): the others
// get the packet, no receiver is dropped nor delayed for what another player
// sent it, a sender cannot fill the others' queues or links, and a player
// that stops reading silences nobody.  Only chat and set-up packets come
// here; the command stream goes through the host's command server and is
// never skipped.
static void relay_packet(net_game_data *game, server_net_player_data *sender, const int16_t *ids, int16_t count,
                         const uint8_t *packet, uint16_t length)
{
    if (!sender->endpoint)
    {
        for (int16_t index = 0; index < count; index++) relay_to_player(game, ids[index], packet, length);
        return;
    }
    const auto refuse = [&](net_packet_refusal refusal) {
        if (!(sender->logged_refusals & FLAG(refusal)))
        {
            sender->logged_refusals |= FLAG(refusal);
            LOG_REPEATED_OF_SUBJECT_AND_KIND(sender->player_id, refusal, NUMBER_OF_NET_PACKET_REFUSALS,
                                             "packet 0x%x of %u bytes from player %d not relayed: %s",
                                             big_endian_16(packet), length, sender->player_id,
                                             net_packet_refusal_name(refusal));
        }
    };
    const auto heeded = network_packets_globals.relay_heeded;
    if (heeded && !heeded(big_endian_16(packet)))
    {
        refuse(_packet_ignored_now);
        return;
    }
    // The share is charged once, whoever is skipped.
    const auto share_takes = network_packets_globals.relay_share_takes;
    if (share_takes && !share_takes(sender->player_id, length))
    {
        refuse(_packet_past_share);
        return;
    }
    for (int16_t index = 0; index < count; index++)
    {
        server_net_player_data *const slot = slot_of(game, ids[index]);
        if (!slot) continue;
        const bool full = circular_buffer_free_size(&slot->outgoing_buffer) < (int32_t)length;
        if (full || (slot->endpoint && unsent_bytes_of(slot) > NET_RELAY_BACKLOG_LIMIT))
        {
            LOG_REPEATED_OF_SUBJECT(slot->player_id, "packet 0x%x of %u bytes from player %d skipped for player %d: %s",
                                    big_endian_16(packet), length, sender->player_id, slot->player_id,
                                    net_packet_refusal_name(full ? _packet_receiver_queue_full : _packet_receiver_behind));
            continue;
        }
        copy_data_into_circular_queue(packet, length, &slot->outgoing_buffer);
    }
}

// The receiver class of a host's slot.
static net_packet_receiver slot_receiver(const server_net_player_data *slot)
{
    if (!slot->endpoint) return _received_from_own_player;
    return TEST_FLAG(slot->flags, _server_player_logged_in_flag_bit) ? _received_from_joined_player
                                                                      : _received_from_unjoined_player;
}

// One pass over one queue: the slot's player for a host's slot queue, else
// NONE; `status` for "client status" (host order).
static void receive_pass(net_game_data *game, circular_queue *queue, int16_t slot_player_id, bool status)
{
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    // A client's game that is behind takes the host's stream at its own pace.
    const bool paced = !status && slot_player_id == NONE && !game->server && network_packets_globals.client_has_room;
    for (;;)
    {
        if (paced && !network_packets_globals.client_has_room()) return;
        const queue_packet_result result = get_next_packet_from_queue(queue, packet, sizeof(packet), !status);
        if (result == _queue_packet_incomplete) return;
        if (result == _queue_packet_corrupt)
        {
            drop_corrupt_connection(game, queue, slot_player_id);
            return;
        }
        net_message_header *const header = (net_message_header *)packet;
        const uint16_t what = status ? header->what : big_endian_16(packet);
        const uint16_t length = status ? header->messageLen : big_endian_16(packet + 2);
        server_net_player_data *const slot = slot_player_id == NONE ? nullptr : slot_of(game, slot_player_id);
        if (slot_player_id != NONE && !slot) return; // the player left during this pass
        // A connection cannot speak for another player.
        if (slot) header->from = (uint8_t)slot_player_id;
        const uint8_t to = header->to, from = header->from;
        const int16_t host_player = own_player_id(game);

        const net_packet_receiver receiver = status ? _received_status
                                             : slot ? slot_receiver(slot)
                                                    : _received_by_client;
        const net_packet_refusal refusal = check_received_packet(receiver, what, length, to, from, host_player);
        if (refusal != _packet_accepted)
        {
            const bool past_limit =
                log_refusal(slot ? &slot->logged_refusals : &game->client.logged_refusals,
                            slot ? &slot->refused_packets : &game->client.refused_packets, refusal, slot_player_id,
                            what, length, to, from, receiver == _received_from_unjoined_player);
            // The host's own loop is not a peer; the status queue neither.
            if (past_limit && !status && (slot ? slot->endpoint != nullptr : !game->server))
            {
                LOG_REPEATED_OF_SUBJECT(slot_player_id, "%s %d sent %d refused packets: %s",
                                        slot ? "player" : "the host, as player", slot ? slot_player_id : from,
                                        NET_REFUSED_PACKET_LIMIT, slot ? "dropping it" : "leaving the host");
                if (slot)
                {
                    char why[96];
                    snprintf(why, sizeof(why), "Your machine sent %d packets the host could not accept.",
                             (int)NET_REFUSED_PACKET_LIMIT);
                    net_tell_player_why_it_is_dropped(game, slot_player_id, why);
                }
                drop_player(game, slot_player_id);
                return;
            }
            // A library type the library does not know may come from a peer
            // that speaks another protocol: nothing after it is read this frame.
            if (refusal == _packet_unknown_type && (what & kNetLibPacketBit))
            {
                LOG_REPEATED("Received possible host-crash packet");
                return;
            }
            continue;
        }

        if (slot)
        {
            // Route: to the host (254, or its own player) here; to everybody
            // and to other players through their outgoing queues, unconverted.
            if (to == kSendToAllPlayers)
            {
                int16_t ids[MAXIMUM_NETWORK_PLAYERS];
                const int16_t count = game->server->game_desc.player_count;
                for (int16_t index = 0; index < count; index++) ids[index] = game->server->game_desc.players[index].player_id;
                relay_packet(game, slot, ids, count, packet, length);
                continue;
            }
            if (to != kSendToServer && to != host_player)
            {
                const int16_t receiver = to;
                if (net_player_id_to_player_index(&game->server->game_desc, to) != NONE)
                    relay_packet(game, slot, &receiver, 1, packet, length);
                continue;
            }
        }

        if (!status && !byteswap_packet_norm(game->byteswap_function, packet, length, false)) continue;
        if ((what & kNetLibPacketBit) && !status)
        {
            // A library packet changes the client's state: the rest waits for
            // the next pass.  The host's own loop only tells of players coming
            // and going, each as a status in order, so it is read on while its
            // own player is in the game and the status queue has room: joins
            // and departures faster than the frames never back the loop up.
            if (!packet_handlers[what & kNetLibPacketMask](game, packet, length)) continue;
            const bool read_on = game->server && !slot && game->client.state == _client_idle &&
                                 circular_buffer_free_size(&game->status_buffer) >= 2 * MAXIMUM_SINGLE_PACKET_SIZE;
            if (!read_on) return;
            continue;
        }
        if (VASSERT(game->application_packet_handler, "game->application_packet_handler"))
        {
            game->application_packet_handler(packet);
        }
    }
}

bool send_outgoing_queue(net_game_data *game, circular_queue *queue, Endpoint *endpoint, int16_t player_id)
{
    if (!VASSERT(queue && queue->buffer, "queue && queue->buffer")) return false;
    // At most two contiguous runs (before and after the ring's end).
    for (int32_t turn = 0; turn < 2; turn++)
    {
        const int32_t available = circular_buffer_linear_write_size(queue);
        if (available == 0) return true;
        const int32_t taken = send_packet(endpoint, queue->buffer + queue->read_index, (uint32_t)available, 0);
        if (taken < 0 || taken > available)
        {
            handle_send_packet_err(game, player_id, taken);
            return false;
        }
        queue->read_index = (queue->read_index + taken) % queue->size;
        if (taken < available) return true;
    }
    return true;
}

void net_tell_player_why_it_is_dropped(net_game_data *game, int16_t player_id, const char *why)
{
    if (!game || !game->server || !why) return;
    server_net_player_data *const slot = slot_of(game, player_id);
    const int16_t index = net_player_id_to_player_index(&game->server->game_desc, player_id);
    if (!slot || !slot->endpoint || index == NONE) return;
    log_message(__FILE__, __LINE__, "telling player %d why it is dropped: %s", player_id, why);
    // The joiner's denial, which a player that has joined reads as the
    // host's last word.  Pushed now, as far as the connection takes it: the
    // connection closes next, and a send error drops nobody twice.
    if (!send_join_request_denied(game, index, why, NONE)) return;
    circular_queue *const queue = &slot->outgoing_buffer;
    for (int32_t turn = 0; turn < 2; turn++)
    {
        const int32_t available = circular_buffer_linear_write_size(queue);
        if (available == 0) return;
        const int32_t taken = send_packet(slot->endpoint, queue->buffer + queue->read_index, (uint32_t)available, 0);
        if (taken <= 0 || taken > available) return;
        queue->read_index = (queue->read_index + taken) % queue->size;
        if (taken < available) return;
    }
}

void handle_send_packet_err(net_game_data *game, int16_t player_id, int32_t error)
{
    LOG_REPEATED_OF_SUBJECT(player_id, "send to player %d failed (%d): dropping", player_id, error);
    drop_player(game, player_id);
}

// The host's own loop when all of it does not fit at once: whole packets
// (wire order both sides) move while one of any size still fits, the rest
// waits for the next pass, so a burst never loses the host's own packets.
// False when none could move.
static bool move_local_packets(circular_queue *source, circular_queue *destination)
{
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    bool moved = false;
    while (circular_buffer_free_size(destination) >= (int32_t)sizeof(packet) &&
           get_next_packet_from_queue(source, packet, sizeof(packet), true) == _queue_packet_taken)
    {
        const uint16_t length = big_endian_16(packet + 2);
        moved = copy_data_into_circular_queue(packet, length, destination) || moved;
    }
    return moved;
}

// Pushes every outgoing queue: the client's to the host; on the host each
// player's to its connection, the host's own player's into "client incoming".
static void push_outgoing_queues(net_game_data *game)
{
    if (!game->server)
    {
        if (game->client.endpoint)
        {
            send_outgoing_queue(game, &game->outgoing_buffer, game->client.endpoint, game->client.local_player_id);
        }
        return;
    }
    int16_t ids[MAXIMUM_NETWORK_PLAYERS];
    const int16_t count = game->server->game_desc.player_count;
    for (int16_t index = 0; index < count; index++) ids[index] = game->server->game_desc.players[index].player_id;
    for (int16_t index = 0; index < count; index++)
    {
        server_net_player_data *const slot = slot_of(game, ids[index]);
        if (!slot) continue;
        if (slot->endpoint)
        {
            send_outgoing_queue(game, &slot->outgoing_buffer, slot->endpoint, ids[index]);
        }
        else if (!copy_queue_into_queue(&slot->outgoing_buffer, &game->incoming_buffer) &&
                 !move_local_packets(&slot->outgoing_buffer, &game->incoming_buffer))
        {
            log_message(__FILE__, __LINE__, "unable to copy the data for a local send.  Sorry. (This is real bad)");
            dump_queue(&game->incoming_buffer);
        }
    }
}

void net_process(net_game_data *game)
{
    if (!VASSERT(game, "game")) return;
    network_packets_globals.process_depth++;
    flush_repeated_log_lines();
    if (game->state == _net_up || game->state == _net_up_but_disconnected || game->state == _net_coming_down)
    {
        receive_pass(game, &game->status_buffer, NONE, true);
    }
    receive_pass(game, &game->incoming_buffer, NONE, false);
    if (game->client.connection_closed && !circular_queue_holds_whole_packet(&game->incoming_buffer))
    {
        game->client.connection_closed = false;
        client_connection_ended(game);
    }
    if (game->server)
    {
        int16_t ids[MAXIMUM_NETWORK_PLAYERS];
        const int16_t count = game->server->game_desc.player_count;
        for (int16_t index = 0; index < count; index++) ids[index] = game->server->game_desc.players[index].player_id;
        for (int16_t index = 0; index < count && game->server; index++)
        {
            if (server_net_player_data *slot = slot_of(game, ids[index]))
            {
                receive_pass(game, &slot->incoming_buffer, ids[index], false);
            }
        }
        announce_due_player_data(game);
    }
    if (game->service_provider != 0) HALT("only service provider 0 is supported");
    else
    {
        if (game->state != _net_up_but_disconnected) push_outgoing_queues(game);
        idle_endpoints(game);
    }
    platform_specific_update(false);
    network_packets_globals.process_depth--;
}
