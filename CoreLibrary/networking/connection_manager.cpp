#include "connection_manager.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cseries/log.h"
#include "cseries/timers.h"
#include "networking/tcp_module.h"
#include "platform_events.h"

enum
{
    // Records of the silence line, by player id: as many as a game holds
    // players (a power of two).
    SILENCED_PLAYER_LOG_KINDS = 16,
};

static struct uber_networking_globals
{
    int16_t client_context_data_count; // contexts at the front of the table ever used
    int16_t maximum_number_of_connections;
    client_context_data client_contexts[MAXIMUM_CLIENT_CONTEXTS];
    bool allow_connections;
    bool send_delete_packets;
    bool host_fell_silent; // the client's last connection ended for silence
    // One read of a connection's stream or one datagram.
    uint8_t receive_buffer[MAXIMUM_SINGLE_PACKET_SIZE];
} uber_networking_globals;

// ---- the game record, through the roles' table ---------------------------

static const connection_manager_game_procedures *game_procedures(void)
{
    return get_connection_manager_game_procedures();
}

static bool game_is_host(void *game)
{
    const auto procedure = game_procedures()->is_host;
    if (!procedure) HALT("no game procedures: is_host");
    return procedure && procedure(game);
}

static Endpoint *game_listening_endpoint(void *game)
{
    const auto procedure = game_procedures()->listening_endpoint;
    return procedure ? procedure(game) : nullptr;
}

static int16_t game_player_id_of_endpoint(void *game, Endpoint *endpoint)
{
    const auto procedure = game_procedures()->player_id_of_endpoint;
    if (!procedure) HALT("no game procedures: player_id_of_endpoint");
    return procedure ? procedure(game, endpoint) : (int16_t)NONE;
}

static bool game_player_has_joined(void *game, int16_t player_id)
{
    // Without the question every connection counts as joined: each then
    // holds its seat, as it did before joins were told apart.
    const auto procedure = game_procedures()->player_has_joined;
    return !procedure || procedure(game, player_id);
}

static int16_t game_add_remote_player(void *game, Endpoint *endpoint)
{
    const auto procedure = game_procedures()->add_remote_player;
    if (!procedure) HALT("no game procedures: add_remote_player");
    return procedure ? procedure(game, endpoint) : (int16_t)NONE;
}

// ---- contexts -------------------------------------------------------------

static int32_t used_context_count(void)
{
    int32_t count = 0;
    for (int32_t i = 0; i < uber_networking_globals.client_context_data_count; i++)
    {
        count += (uber_networking_globals.client_contexts[i].flags & _context_used_flag) != 0;
    }
    return count;
}

// The last free context among those ever used, else a new one at the end;
// null when the table is full.  The context is cleared and marked used.
static client_context_data *take_context(void *game)
{
    client_context_data *context = nullptr;
    for (int32_t i = uber_networking_globals.client_context_data_count - 1; i >= 0 && !context; i--)
    {
        if (!(uber_networking_globals.client_contexts[i].flags & _context_used_flag))
        {
            context = &uber_networking_globals.client_contexts[i];
        }
    }
    if (!context)
    {
        if (uber_networking_globals.client_context_data_count >= MAXIMUM_CLIENT_CONTEXTS) return nullptr;
        context = &uber_networking_globals.client_contexts[uber_networking_globals.client_context_data_count++];
    }
    context->flags = _context_used_flag;
    context->player_id = NONE;
    context->game = game;
    context->endpoint = nullptr;
    context->opened_ms = context->heard_ms = machine_tick_count();
    return context;
}

// Frees `context`; the last one of the table is given back to the count.
static void free_context(client_context_data *context)
{
    context->flags = 0;
    context->endpoint = nullptr;
    while (uber_networking_globals.client_context_data_count > 0 &&
           !(uber_networking_globals.client_contexts[uber_networking_globals.client_context_data_count - 1].flags &
             _context_used_flag))
    {
        uber_networking_globals.client_context_data_count--;
    }
}

// The last used context holding `endpoint`, or null.
static client_context_data *context_of_endpoint(const Endpoint *endpoint)
{
    for (int32_t i = uber_networking_globals.client_context_data_count - 1; i >= 0; i--)
    {
        client_context_data *context = &uber_networking_globals.client_contexts[i];
        if ((context->flags & _context_used_flag) && context->endpoint == endpoint) return context;
    }
    return nullptr;
}

int32_t connection_manager_used_context_count(void) { return used_context_count(); }

// The host's connections that carry a player whose join was accepted.
static int32_t joined_connection_count(void)
{
    int32_t count = 0;
    for (int32_t i = 0; i < uber_networking_globals.client_context_data_count; i++)
    {
        const client_context_data *context = &uber_networking_globals.client_contexts[i];
        count += context->flags == _context_used_flag && context->player_id != NONE &&
                 game_player_has_joined(context->game, context->player_id);
    }
    return count;
}

bool connection_manager_has_room_for_a_player(void)
{
    return joined_connection_count() < uber_networking_globals.maximum_number_of_connections;
}

// Recent joiners' addresses and their credit of joins, in milliseconds: a
// join costs its share of a second, and the credit grows back with time up
// to a whole game's players (all of a game may join at once from behind one
// address).  The oldest entry gives way to a new address.  All addresses
// together have one such credit too, at JOINS_PER_SECOND_FOR_EVERYBODY: many
// addresses joining in turn cannot keep the host announcing players.  A
// newcomer, an address whose network (its first 24 bits) has not been let
// in for JOIN_QUIET_NETWORK_MS, is let in beyond that total credit, from
// the newcomers' own.  Only a join let in renews its network's clock: a
// refused one leaves it, so a player who retries from a network that tried
// (and was refused) a moment ago is still a newcomer.  A flood from many
// fresh addresses comes from few networks, or from many: in the first case
// its networks stop being newcomers at their first join and leave the
// newcomers' credit to others; in the second the newcomers' credit still
// bounds it.  Inside a network that floods, the addresses that have not been
// let in for JOIN_FRESH_ADDRESS_MS (the flood's own are let in again and
// again, an honest player once) are let in beyond the total from a third
// credit of their own: the other players of a LAN party are not held behind
// the flood of their neighbours.  The tables are large enough to remember
// every network and address of a flood the host can accept within those
// times, so a flood does not become new again by being forgotten.
enum : int32_t
{
    JOIN_CREDIT_ADDRESSES = 1024,
    JOIN_QUIET_NETWORKS = 4096,
    JOIN_COST_MS = 1000 / JOINS_PER_ADDRESS_PER_SECOND,
    JOIN_CREDIT_MAXIMUM_MS = MAXIMUM_NETWORK_PLAYERS * JOIN_COST_MS,
    TOTAL_JOIN_COST_MS = 1000 / JOINS_PER_SECOND_FOR_EVERYBODY,
    TOTAL_JOIN_CREDIT_MAXIMUM_MS = MAXIMUM_NETWORK_PLAYERS * TOTAL_JOIN_COST_MS,
    NEWCOMER_JOIN_COST_MS = 1000 / JOINS_PER_SECOND_FOR_NEWCOMERS,
    NEWCOMER_JOIN_CREDIT_MAXIMUM_MS = MAXIMUM_NETWORK_PLAYERS * NEWCOMER_JOIN_COST_MS,
    FRESH_ADDRESS_JOIN_COST_MS = 1000 / JOINS_PER_SECOND_FOR_FRESH_ADDRESSES,
    FRESH_ADDRESS_JOIN_CREDIT_MAXIMUM_MS = MAXIMUM_NETWORK_PLAYERS * FRESH_ADDRESS_JOIN_COST_MS,
    JOIN_QUIET_NETWORK_MS = 10000,
    // Longer than a whole /24 takes to be let in once at the total rate, so
    // the addresses of a flood from one network are never all fresh again.
    JOIN_FRESH_ADDRESS_MS = 30000,
};
static const uint32_t JOIN_NETWORK_MASK = 0xFFFFFF00u;
struct join_credit
{
    uint32_t address;
    uint32_t updated_ms;
    int32_t credit_ms;
    bool used;
    bool admitted;        // let in at least once while remembered
    uint32_t admitted_ms; // ... last
};
// When a network last had a join let in.
struct join_network
{
    uint32_t network;
    uint32_t admitted_ms;
    bool used;
};
static struct
{
    join_credit addresses[JOIN_CREDIT_ADDRESSES];
    join_credit everybody;       // address unused
    join_credit newcomers;       // address unused
    join_credit fresh_addresses; // address unused
    join_network networks[JOIN_QUIET_NETWORKS];
} join_limits;

// Adds the credit grown since the entry's last update, up to `maximum`.
static void grow_join_credit(join_credit *entry, uint32_t now, int32_t maximum)
{
    const uint32_t elapsed = now - entry->updated_ms;
    entry->credit_ms = !entry->used || elapsed >= (uint32_t)maximum
                           ? maximum
                           : std::min<int32_t>(maximum, entry->credit_ms + (int32_t)elapsed);
    entry->updated_ms = now;
    entry->used = true;
}

// `address`'s network's entry, or the one it would take (the least recent
// network gives way); `*known` says which.
static join_network *join_network_entry(uint32_t address, bool *known)
{
    const uint32_t network = address & JOIN_NETWORK_MASK;
    join_network *oldest = &join_limits.networks[0];
    for (join_network &entry : join_limits.networks)
    {
        if (entry.used && entry.network == network)
        {
            *known = true;
            return &entry;
        }
        if (!entry.used || (oldest->used && (int32_t)(entry.admitted_ms - oldest->admitted_ms) < 0)) oldest = &entry;
    }
    *known = false;
    return oldest;
}

// True when `address`'s network has had no join let in for JOIN_QUIET_NETWORK_MS.
static bool join_network_is_quiet(uint32_t address, uint32_t now)
{
    bool known = false;
    const join_network *entry = join_network_entry(address, &known);
    return !known || now - entry->admitted_ms >= (uint32_t)JOIN_QUIET_NETWORK_MS;
}

static void note_join_let_in(join_credit *entry, uint32_t now)
{
    bool known = false;
    join_network *network = join_network_entry(entry->address, &known);
    *network = {entry->address & JOIN_NETWORK_MASK, now, true};
    entry->admitted = true;
    entry->admitted_ms = now;
}

static void log_join_refusal(uint32_t address, bool for_its_address)
{
    if (for_its_address)
        LOG_REPEATED("joins from %u.%u.%u.%u come faster than %d a second: refusing them for now", address >> 24,
                     (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF, (int)JOINS_PER_ADDRESS_PER_SECOND);
    else
        LOG_REPEATED("joins from all addresses come faster than %d a second: refusing %u.%u.%u.%u's for now",
                     (int)JOINS_PER_SECOND_FOR_EVERYBODY, address >> 24, (address >> 16) & 0xFF,
                     (address >> 8) & 0xFF, address & 0xFF);
}

connection_manager_join_refusal connection_manager_join_refusal_of(Endpoint *endpoint)
{
    uint32_t address = 0;
    if (!valid_endpoint(endpoint) || ProtocolFunctionPassThrough(endpoint, peer_address_pass_through_selector, &address))
        return _join_allowed; // no address to hold against it
    const uint32_t now = machine_tick_count();
    join_credit *entry = nullptr, *oldest = &join_limits.addresses[0];
    for (join_credit &credit : join_limits.addresses)
    {
        if (credit.used && credit.address == address) entry = &credit;
        if (!credit.used || (oldest->used && (int32_t)(credit.updated_ms - oldest->updated_ms) < 0)) oldest = &credit;
    }
    if (!entry)
    {
        entry = oldest;
        *entry = {address, now, JOIN_CREDIT_MAXIMUM_MS, false, false, 0};
    }
    grow_join_credit(entry, now, JOIN_CREDIT_MAXIMUM_MS);
    join_credit *const everybody = &join_limits.everybody, *const newcomers = &join_limits.newcomers,
                       *const fresh = &join_limits.fresh_addresses;
    grow_join_credit(everybody, now, TOTAL_JOIN_CREDIT_MAXIMUM_MS);
    grow_join_credit(newcomers, now, NEWCOMER_JOIN_CREDIT_MAXIMUM_MS);
    grow_join_credit(fresh, now, FRESH_ADDRESS_JOIN_CREDIT_MAXIMUM_MS);
    if (entry->credit_ms < JOIN_COST_MS)
    {
        log_join_refusal(address, true);
        return _join_refused_for_its_address;
    }
    const bool within_total = everybody->credit_ms >= TOTAL_JOIN_COST_MS;
    const bool newcomer = !within_total && join_network_is_quiet(address, now) &&
                          newcomers->credit_ms >= NEWCOMER_JOIN_COST_MS;
    const bool fresh_address = !within_total && !newcomer &&
                               (!entry->admitted || now - entry->admitted_ms >= (uint32_t)JOIN_FRESH_ADDRESS_MS) &&
                               fresh->credit_ms >= FRESH_ADDRESS_JOIN_COST_MS;
    if (!within_total && !newcomer && !fresh_address)
    {
        log_join_refusal(address, false);
        return _join_refused_for_everybody;
    }
    entry->credit_ms -= JOIN_COST_MS;
    if (within_total) everybody->credit_ms -= TOTAL_JOIN_COST_MS;
    else if (newcomer) newcomers->credit_ms -= NEWCOMER_JOIN_COST_MS;
    else fresh->credit_ms -= FRESH_ADDRESS_JOIN_COST_MS;
    note_join_let_in(entry, now);
    return _join_allowed;
}

int32_t net_silence_limit_ms(void)
{
    static int32_t limit = 0;
    if (!limit)
    {
        const char *text = getenv("VESK_TEST_SILENCE_LIMIT_MS");
        const long value = text ? strtol(text, nullptr, 10) : 0;
        limit = value >= NET_SILENCE_LIMIT_FOR_TESTS_MINIMUM_MS && value <= NET_SILENCE_LIMIT_MS ? (int32_t)value
                                                                                                 : NET_SILENCE_LIMIT_MS;
    }
    return limit;
}

// ---- settings -------------------------------------------------------------

void initialize_connection_manager(void)
{
    memset(&uber_networking_globals, 0, sizeof(uber_networking_globals));
    uber_networking_globals.maximum_number_of_connections = MAXIMUM_CLIENT_CONTEXTS;
}

void set_allow_connection_status(bool allow) { uber_networking_globals.allow_connections = allow; }

bool allow_connection_status(void) { return uber_networking_globals.allow_connections; }

void set_send_delete_packets(bool send) { uber_networking_globals.send_delete_packets = send; }

void set_game_maximum_players(int32_t players)
{
    int32_t connections = players <= MAXIMUM_NETWORK_PLAYERS ? players - 1 : MAXIMUM_NETWORK_PLAYERS - 1;
    if (connections < 0) connections = 0;
    uber_networking_globals.maximum_number_of_connections = (int16_t)connections;
}

// ---- closing --------------------------------------------------------------

// A connection's close has finished: the player it carried is gone.
static void handle_close_complete_on_client(Endpoint *endpoint, client_context_data *context, bool send_delete)
{
    context->flags |= _context_closed_flag;
    void *const game = context->game;
    if (game_is_host(game))
    {
        if (context->player_id != NONE)
        {
            if (const auto remove = game_procedures()->remove_player) remove(game, context->player_id, send_delete);
            else HALT("no game procedures: remove_player");
        }
    }
    else
    {
        const auto closed = game_procedures()->client_connection_closed;
        if (!closed) HALT("no game procedures: client_connection_closed");
        else VASSERT(closed(game, endpoint), "the closed connection is not the game's connection to the host");
    }
    free_context(context);
}

void close_connection(Endpoint *endpoint, bool orderly)
{
    if (!valid_endpoint(endpoint) || endpoint->cookie != PENDPOINT_COOKIE)
    {
        LOG_REPEATED("Trying to close and endpoint more than once..(ep: %p)", (void *)endpoint);
        return;
    }
    if (client_context_data *context = context_of_endpoint(endpoint)) context->flags |= _context_closing_flag;
    const NMErr error = ProtocolCloseEndpoint(endpoint, orderly);
    if (error) LOG_REPEATED("Err %d on ProtocolCloseEndpoint!", error);
}

// ---- receiving ------------------------------------------------------------

// Pours what the connection's stream holds into its incoming queue, no more
// than the queue has room for: the rest stays with the system, which holds
// the peer back, until the game has taken packets out.  A failed read closes
// the connection abortively.
static void receive_stream_data(Endpoint *endpoint, client_context_data *context)
{
    const auto incoming_queue = game_procedures()->incoming_queue;
    circular_queue *const queue = incoming_queue ? incoming_queue(context->game, context->player_id) : nullptr;
    // Only a whole packet counts as heard: a peer that sends a byte now and
    // then, never finishing a packet, is as silent as one that sends nothing.
    // A queue holding a whole packet the game has not taken yet (or a full
    // one, which always does) is this end's slowness, not the peer's silence.
    const auto note_whole_packet = [&] {
        if (queue && circular_queue_holds_whole_packet(queue)) context->heard_ms = machine_tick_count();
    };
    note_whole_packet();
    for (int32_t turn = 0; valid_endpoint(endpoint) && !(context->flags & _context_closing_flag); turn++)
    {
        if (!queue)
        {
            // Bytes for a connection that carries no player go nowhere: the
            // stream could never be framed again, so the connection ends.
            LOG_REPEATED_OF_SUBJECT(context->player_id, "No incoming queue for player %d: dropping the connection",
                                    context->player_id);
            close_connection(endpoint, false);
            break;
        }
        const int32_t room = circular_buffer_free_size(queue);
        if (room <= 0) break;
        uint32_t length = sizeof(uber_networking_globals.receive_buffer);
        if ((uint32_t)room < length) length = (uint32_t)room;
        uint32_t flags = 0;
        const NMErr error = ProtocolReceive(endpoint, uber_networking_globals.receive_buffer, &length, &flags);
        if (error == kNMNoDataErr) break;
        if (error)
        {
            LOG_REPEATED("Err %d on receive packet (dropping due to error)!", error);
            close_connection(endpoint, false);
            break;
        }
        if (!copy_data_into_circular_queue(uber_networking_globals.receive_buffer, (int32_t)length, queue))
        {
            // Never more than the room asked for: a queue that refuses it is damaged.
            LOG_REPEATED("Unable to copy %u bytes into circular queue %s. This is bad!", length,
                         queue->name);
            close_connection(endpoint, false);
            break;
        }
        note_whole_packet();
    }
}

// A connection carries its packets on the stream only: a datagram (which
// anyone who knows the address and port can send) is read and dropped, never
// poured into the stream's queue, where it would break the framing.
static void discard_datagrams(Endpoint *endpoint)
{
    for (int32_t turn = 0; turn < 64 && valid_endpoint(endpoint); turn++)
    {
        uint32_t length = sizeof(uber_networking_globals.receive_buffer);
        uint32_t flags = 0;
        if (ProtocolReceivePacket(endpoint, uber_networking_globals.receive_buffer, &length, &flags)) break;
    }
}

// ---- callbacks ------------------------------------------------------------

static void client_callback(Endpoint *endpoint, void *context_pointer, int32_t code, NMErr error, void *cookie);

// The host has a connection (and a slot) for everybody but its own player.
// When all are taken, the oldest connection that has not joined is closed:
// connections that never join cannot keep a player out.
static void make_room_for_a_connection(void)
{
    if (used_context_count() < MAXIMUM_CLIENT_CONTEXTS - 1) return;
    client_context_data *oldest = nullptr;
    for (int32_t i = 0; i < uber_networking_globals.client_context_data_count; i++)
    {
        client_context_data *context = &uber_networking_globals.client_contexts[i];
        if (context->flags != _context_used_flag || !context->endpoint ||
            (context->player_id != NONE && game_player_has_joined(context->game, context->player_id)))
            continue;
        if (!oldest || (int32_t)(context->opened_ms - oldest->opened_ms) < 0) oldest = context;
    }
    if (!oldest) return;
    LOG_REPEATED("closing the connection of player %d, which has not joined, to make room",
                                oldest->player_id);
    close_connection(oldest->endpoint, false);
}

// A code no endpoint sends: the networking layer is broken.
static void halt_on_unknown_code(int32_t code)
{
    char text[64];
    snprintf(text, sizeof(text), "What is code: %d?", code);
    HALT(text);
}

static void server_callback(Endpoint *endpoint, void *game, int32_t code, NMErr error, void *cookie)
{
    switch (code)
    {
    case kNMConnectRequest:
    {
        // A game that is full or takes nobody now still takes the
        // connection when its roles tell joins apart: the join it carries is
        // then denied with the host's reason, which the player sees at once,
        // and the connection does not count against the limit.  Connections
        // that have not joined stay bounded (make_room_for_a_connection,
        // UNJOINED_CONNECTION_LIMIT_MS).  Other games reset it.
        client_context_data *context = nullptr;
        if ((uber_networking_globals.allow_connections && connection_manager_has_room_for_a_player()) ||
            game_procedures()->player_has_joined)
        {
            make_room_for_a_connection();
            context = take_context(game);
        }
        if (context)
        {
            const NMErr accept_error = ProtocolAcceptConnection(endpoint, cookie, client_callback, context);
            if (accept_error)
            {
                LOG_REPEATED("Err %d on ProtocolAcceptConnection!", accept_error);
                // No endpoint holds the context: give it back, or the slot
                // would count against the limit for good.
                if (!context->endpoint) free_context(context);
            }
        }
        else
        {
            LOG_REPEATED("Got a connect request, rejecting (allow: %d);g",
                                        uber_networking_globals.allow_connections);
            const NMErr reject_error = ProtocolRejectConnection(endpoint, cookie);
            if (reject_error) LOG_REPEATED("Err %d on ProtocolRejectConnection!", reject_error);
        }
        break;
    }
    case kNMHandoffComplete:
    {
        Endpoint *const connection = (Endpoint *)cookie;
        // The hand-off comes before the connection's own accept event, which
        // takes the player's id into its context.
        if (client_context_data *context = connection ? (client_context_data *)connection->callback.user_context
                                                      : nullptr)
        {
            context->endpoint = connection;
        }
        game_add_remote_player(game, connection);
        break;
    }
    case kNMEndpointDied:
    {
        const NMErr close_error = ProtocolCloseEndpoint(endpoint, false);
        if (close_error)
        {
            LOG_REPEATED(
                "Err %d on ProtocolCloseEndpoint! (in response to kNMEndpointDied on server endpoint)",
                close_error);
        }
        break;
    }
    case kNMCloseComplete:
        if (const auto closed = game_procedures()->listening_endpoint_closed) closed(game);
        else HALT("no game procedures: listening_endpoint_closed");
        break;
    case kNMOpenConnectionIdle:
        platform_specific_update(false);
        break;
    case kNMDatagramData:
        LOG_REPEATED("Server endpoint got a datagram packet? code: %d bytes to read: %d", code,
                     (int32_t)(intptr_t)cookie);
        break;
    case kNMStreamData:
        LOG_REPEATED("Server endpoint got a stream packet? code: %d bytes to read: %d", code,
                     (int32_t)(intptr_t)cookie);
        break;
    case kNMAcceptComplete:
        LOG_REPEATED("Got a kNMAcceptComplete in server context");
        break;
    case kNMFlowClear:
        break;
    default: halt_on_unknown_code(code); break;
    }
    (void)error;
}

static void client_callback(Endpoint *endpoint, void *context_pointer, int32_t code, NMErr error, void *cookie)
{
    client_context_data *const context = (client_context_data *)context_pointer;
    switch (code)
    {
    case kNMStreamData:
        receive_stream_data(endpoint, context);
        break;
    case kNMDatagramData:
        discard_datagrams(endpoint);
        break;
    case kNMAcceptComplete:
    {
        VASSERT(context->player_id == NONE, "an accepted connection already has a player");
        context->endpoint = endpoint;
        context->player_id = game_player_id_of_endpoint(context->game, endpoint);
        if (error)
        {
            LOG_REPEATED("Got an error on accept complete: %d", error);
            handle_close_complete_on_client(endpoint, context, false);
        }
        else if (!VASSERT(context->player_id != NONE, "context->player_id!=NONE"))
        {
            // No player carries the connection: nothing it sends could be
            // delivered, so it ends now.
            close_connection(endpoint, false);
        }
        break;
    }
    case kNMEndpointDied:
        context->flags |= _context_closing_flag;
        if (valid_endpoint(endpoint) && endpoint->cookie == PENDPOINT_COOKIE)
        {
            const NMErr close_error = ProtocolCloseEndpoint(endpoint, false);
            if (close_error) LOG_REPEATED("Err %d on ProtocolCloseEndpoint!", close_error);
        }
        else
        {
            LOG_REPEATED("Trying to close and endpoint more than once..(ep: %p)",
                         (void *)endpoint);
        }
        break;
    case kNMCloseComplete:
        // A failed accept has handled its close already (and the context
        // may hold another connection since).
        if ((context->flags & _context_used_flag) && context->endpoint == endpoint)
        {
            handle_close_complete_on_client(endpoint, context, uber_networking_globals.send_delete_packets);
        }
        break;
    case kNMOpenConnectionIdle:
        platform_specific_update(false);
        break;
    case kNMConnectRequest:
        LOG_REPEATED("Got a connect request, and we are the client");
        break;
    case kNMFlowClear:
    case kNMHandoffComplete:
        break;
    default: halt_on_unknown_code(code); break;
    }
    (void)cookie;
}

// ---- opening, sending, idling --------------------------------------------

Endpoint *open_connection(void *game, ProtocolConfig *config, uint32_t flags, NMErr *error)
{
    Endpoint *endpoint = nullptr;
    NMErr result = kNMNoError;
    if (flags & kOpenListen)
    {
        result = ProtocolOpenEndpoint(config, server_callback, game, &endpoint, 0);
        if (!result) uber_networking_globals.allow_connections = true;
    }
    else if (used_context_count() >= uber_networking_globals.maximum_number_of_connections)
    {
        VASSERT(false, "client_context");
        result = CONNECTION_MANAGER_FULL_ERROR;
    }
    else
    {
        client_context_data *const context = take_context(game);
        if (!context)
        {
            VASSERT(false, "client_context");
            result = CONNECTION_MANAGER_FULL_ERROR;
        }
        else
        {
            result = ProtocolOpenEndpoint(config, client_callback, context, &endpoint, 1);
            if (result || !endpoint)
            {
                free_context(context);
                endpoint = nullptr;
            }
            else
            {
                context->endpoint = endpoint;
                context->heard_ms = machine_tick_count(); // the open may have waited
                if (!game_is_host(game)) uber_networking_globals.host_fell_silent = false;
                if (flags & kOpenAddToTopology) context->player_id = game_add_remote_player(game, endpoint);
            }
        }
    }
    if (!result && !endpoint)
    {
        VASSERT(false, "Endpoint was null but there was no error condition?");
        result = errParamErr;
    }
    if (error) *error = result;
    return result ? nullptr : endpoint;
}

int32_t send_packet(Endpoint *endpoint, const void *data, uint32_t length, uint32_t flags)
{
    const client_context_data *const context = context_of_endpoint(endpoint);
    if (!context || context->flags != _context_used_flag) return 0;
    const int32_t result = ProtocolSend(endpoint, data, length, flags);
    if (result > (int32_t)length)
    {
        LOG_REPEATED("got an invalid ProtocoLSend error: %d (length: %u)", result, length);
    }
    return result;
}

int32_t connection_unsent_bytes(Endpoint *endpoint)
{
    int32_t unsent = 0;
    if (!valid_endpoint(endpoint) || ProtocolFunctionPassThrough(endpoint, unsent_bytes_pass_through_selector, &unsent))
        return 0;
    return unsent > 0 ? unsent : 0;
}

// Closes the connections whose time is up (see idle_endpoints).
static void enforce_time_limits(void *game)
{
    flush_repeated_log_lines(); // the counts of a flood of connections
    const uint32_t now = machine_tick_count();
    const bool host = game_is_host(game);
    const int32_t silence_limit = net_silence_limit_ms();
    for (int32_t i = 0; i < uber_networking_globals.client_context_data_count; i++)
    {
        client_context_data *context = &uber_networking_globals.client_contexts[i];
        if (context->flags != _context_used_flag || !context->endpoint || context->game != game) continue;
        const int32_t open_ms = (int32_t)(now - context->opened_ms), quiet_ms = (int32_t)(now - context->heard_ms);
        if (!host)
        {
            if (quiet_ms < silence_limit) continue;
            log_message(__FILE__, __LINE__, "Nothing heard from the host for %d seconds: leaving the game",
                        quiet_ms / 1000);
            uber_networking_globals.host_fell_silent = true;
        }
        else if (context->player_id == NONE)
            continue; // its accept is still under way
        else if (!game_player_has_joined(game, context->player_id))
        {
            if (open_ms < UNJOINED_CONNECTION_LIMIT_MS) continue;
            LOG_REPEATED("closing the connection of player %d: not joined within %d ms",
                                        context->player_id, (int)UNJOINED_CONNECTION_LIMIT_MS);
        }
        else
        {
            if (quiet_ms < silence_limit) continue;
            // Each of a game's players falling silent is told (a cut link
            // silences them all at once); one player id's drops again
            // within the period are counted.
            LOG_REPEATED_OF_KIND(context->player_id & (SILENCED_PLAYER_LOG_KINDS - 1), SILENCED_PLAYER_LOG_KINDS,
                                 "Nothing heard from player %d for %d seconds: dropping it", context->player_id,
                                 quiet_ms / 1000);
            // The player, when it comes back, reads why it was dropped
            // before the end of the stream: the close is orderly then.
            if (const auto tell = game_procedures()->tell_dropped_player)
            {
                char why[96];
                snprintf(why, sizeof(why), "Nothing was heard from your machine for %d seconds.", silence_limit / 1000);
                tell(game, context->player_id, why);
                close_connection(context->endpoint, true);
                continue;
            }
        }
        close_connection(context->endpoint, false);
    }
}

void idle_endpoints(void *game)
{
    // One idle of the module polls every endpoint it has, so one idle gives
    // the listener and every connection their time: idling each in turn
    // would only repeat the same poll, once per connection, every frame.
    Endpoint *idled = game_is_host(game) ? game_listening_endpoint(game) : nullptr;
    for (int32_t i = 0; !idled && i < uber_networking_globals.client_context_data_count; i++)
    {
        const client_context_data *context = &uber_networking_globals.client_contexts[i];
        if (context->flags == _context_used_flag && context->endpoint) idled = context->endpoint;
    }
    if (idled) ProtocolIdle(idled);
    enforce_time_limits(game);
}

bool connection_to_host_fell_silent(void) { return uber_networking_globals.host_fell_silent; }

// ---- protocols and configurations ----------------------------------------

bool net_get_indexed_protocol_name(int32_t index, char *name, int32_t name_size, NMType *type)
{
    protocol_identifier identifier{};
    identifier.version = UBER_IDENTIFIER_VERSION;
    const NMErr error = GetIndexedProtocol(index, &identifier);
    if (error)
    {
        if (error != errNoMoreNetModules) log_message(__FILE__, __LINE__, "What is err %d?", error);
        return false;
    }
    if (name && name_size > 0) snprintf(name, (size_t)name_size, "%.*s", (int)sizeof(identifier.name), identifier.name);
    if (type) *type = identifier.type;
    return true;
}

ProtocolConfig *create_config_for_internet(NMType protocol_type, const char *game_name, uint32_t address,
                                           uint16_t port)
{
    if (!game_name) game_name = "";
    // A TAB would end the name's token and start another of the caller's
    // choosing (another address or mode).
    if (strchr(game_name, '\t'))
    {
        log_message(__FILE__, __LINE__, "Refusing a game name with a TAB for a configuration");
        return nullptr;
    }
    char address_text[16];
    snprintf(address_text, sizeof(address_text), "%u.%u.%u.%u", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
             (address >> 8) & 0xFF, address & 0xFF);
    char text[MAXIMUM_CONFIG_LENGTH];
    const int length = snprintf(text, sizeof(text),
                                "type=%d\tversion=256\tgameID=%d\tgameName=%s\tmode=2\tIPaddr=%s\tIPport=%d\t",
                                (int32_t)protocol_type, (int32_t)NETWORK_GAME_ID, game_name, address_text, port);
    if (length < 0 || length >= (int)sizeof(text))
    {
        log_message(__FILE__, __LINE__, "Err %d on ProtocolCreateConfig! (%s)", kNMInvalidConfigErr, game_name);
        return nullptr;
    }
    ProtocolConfig *config = nullptr;
    const NMErr error = ProtocolCreateConfig(protocol_type, NETWORK_GAME_ID, "", nullptr, 0, text, &config);
    if (error)
    {
        log_message(__FILE__, __LINE__, "Err %d on ProtocolCreateConfig! (%s)", error, text);
        return nullptr;
    }
    return config;
}
