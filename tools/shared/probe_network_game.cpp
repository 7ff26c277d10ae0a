#include "probe_network_game.h"

#include <cstdio>
#include <cstring>

static void report(probe_network_game *game, probe_event_kind kind, int16_t player_id)
{
    if (game->report) game->report(game->report_context, kind, player_id);
}

static probe_player_slot *slot_of_player(probe_network_game *game, int16_t player_id)
{
    for (probe_player_slot &slot : game->slots)
    {
        if (player_id != NONE && slot.player_id == player_id) return &slot;
    }
    return nullptr;
}

static bool is_host(void *game) { return ((probe_network_game *)game)->host; }

static Endpoint *listening_endpoint(void *game) { return ((probe_network_game *)game)->listener; }

static void listening_endpoint_closed(void *game)
{
    ((probe_network_game *)game)->listener = nullptr;
    report((probe_network_game *)game, _probe_listener_closed, NONE);
}

static int16_t add_remote_player(void *game_pointer, Endpoint *endpoint)
{
    probe_network_game *const game = (probe_network_game *)game_pointer;
    for (probe_player_slot &slot : game->slots)
    {
        if (slot.player_id != NONE) continue;
        slot.player_id = game->next_player_id++;
        slot.endpoint = endpoint;
        reset_circular_queue(&slot.incoming);
        report(game, _probe_player_added, slot.player_id);
        return slot.player_id;
    }
    return NONE;
}

static int16_t player_id_of_endpoint(void *game_pointer, Endpoint *endpoint)
{
    for (const probe_player_slot &slot : ((probe_network_game *)game_pointer)->slots)
    {
        if (slot.player_id != NONE && slot.endpoint == endpoint) return slot.player_id;
    }
    return NONE;
}

static circular_queue *incoming_queue(void *game_pointer, int16_t player_id)
{
    probe_network_game *const game = (probe_network_game *)game_pointer;
    if (!game->host) return &game->client_incoming;
    probe_player_slot *const slot = slot_of_player(game, player_id);
    return slot ? &slot->incoming : nullptr;
}

static void remove_player(void *game_pointer, int16_t player_id, bool)
{
    probe_network_game *const game = (probe_network_game *)game_pointer;
    if (probe_player_slot *slot = slot_of_player(game, player_id))
    {
        slot->player_id = NONE;
        slot->endpoint = nullptr;
        report(game, _probe_player_removed, player_id);
    }
}

static bool client_connection_closed(void *game_pointer, Endpoint *endpoint)
{
    probe_network_game *const game = (probe_network_game *)game_pointer;
    if (game->client_endpoint != endpoint) return false;
    game->client_endpoint = nullptr;
    report(game, _probe_left_game, NONE);
    return true;
}

static const connection_manager_game_procedures probe_procedures = {
    is_host, listening_endpoint, listening_endpoint_closed, add_remote_player,
    player_id_of_endpoint, incoming_queue, remove_player, client_connection_closed,
};

void register_probe_network_game(void)
{
    static bool registered = false;
    if (!registered) registered = register_connection_manager_game_procedures(&probe_procedures);
}

bool initialize_probe_network_game(probe_network_game *game, bool host)
{
    memset(game, 0, sizeof(*game));
    game->host = host;
    bool ok = allocate_circular_queue("client incoming", &game->client_incoming, PROBE_QUEUE_SIZE);
    for (int32_t i = 0; i < MAXIMUM_NETWORK_PLAYERS; i++)
    {
        char name[CIRCULAR_QUEUE_NAME_SIZE];
        snprintf(name, sizeof(name), "slot %d incoming", i);
        game->slots[i].player_id = NONE;
        ok = allocate_circular_queue(name, &game->slots[i].incoming, PROBE_QUEUE_SIZE) && ok;
    }
    return ok;
}

void dispose_probe_network_game(probe_network_game *game)
{
    game->report = nullptr;
    for (probe_player_slot &slot : game->slots)
    {
        if (slot.player_id != NONE && slot.endpoint) close_connection(slot.endpoint, false);
    }
    if (game->client_endpoint) close_connection(game->client_endpoint, false);
    if (game->listener) close_connection(game->listener, false);
    for (probe_player_slot &slot : game->slots) free_circular_queue(&slot.incoming);
    free_circular_queue(&game->client_incoming);
}

// Takes the packets of one queue; false when its framing broke.
static bool take_packets_of_queue(circular_queue *queue, int16_t player_id, int32_t *count,
                                  void (*deliver)(void *, int16_t, const uint8_t *, int32_t), void *context)
{
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    for (;;)
    {
        const queue_packet_result result = get_next_packet_from_queue(queue, packet, sizeof(packet), true);
        if (result == _queue_packet_corrupt) return false;
        if (result == _queue_packet_incomplete) return true;
        const int32_t length = (packet[2] << 8) | packet[3];
        (*count)++;
        if (deliver) deliver(context, player_id, packet, length);
    }
}

int32_t take_probe_packets(probe_network_game *game,
                           void (*deliver)(void *context, int16_t player_id, const uint8_t *packet, int32_t length),
                           void *context)
{
    int32_t count = 0;
    if (!game->host)
    {
        // What arrived before the connection closed is still delivered.
        if (!take_packets_of_queue(&game->client_incoming, NONE, &count, deliver, context) && game->client_endpoint)
        {
            report(game, _probe_connection_dropped, NONE);
            close_connection(game->client_endpoint, false);
        }
        return count;
    }
    for (probe_player_slot &slot : game->slots)
    {
        if (slot.player_id == NONE || take_packets_of_queue(&slot.incoming, slot.player_id, &count, deliver, context))
        {
            continue;
        }
        report(game, _probe_connection_dropped, slot.player_id);
        close_connection(slot.endpoint, false);
    }
    return count;
}
