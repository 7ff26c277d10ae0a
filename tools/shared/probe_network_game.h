#pragma once
// A minimal game record for the connection manager, standing where the
// networking library's host and client roles will: a host with up to 16
// player slots, each with its incoming queue, or a client with one incoming
// queue.  It takes framed packets out of the queues and drops a connection
// whose framing is corrupt, as the roles do.  For the network probe tool and
// the tests; the game itself never links it.
//
// Main thread only.

#include <cstdint>

#include "networking/connection_manager.h"

enum
{
    PROBE_QUEUE_SIZE = 32 * 1024,
};

struct probe_player_slot
{
    int16_t player_id; // NONE: free
    Endpoint *endpoint;
    circular_queue incoming;
};

// One event of the game, for the probe's printed lines and the tests.
enum probe_event_kind
{
    _probe_player_added,        // a connection became player `player_id`
    _probe_player_removed,      // its connection closed
    _probe_connection_dropped,  // its framing was corrupt: closed abortively
    _probe_left_game,           // a client's connection to the host closed
    _probe_listener_closed,
};

struct probe_network_game
{
    bool host;
    Endpoint *listener;
    int16_t next_player_id;
    probe_player_slot slots[MAXIMUM_NETWORK_PLAYERS];
    Endpoint *client_endpoint;
    circular_queue client_incoming;
    // Told of every event (may be null).
    void (*report)(void *context, probe_event_kind kind, int16_t player_id);
    void *report_context;
};

// Fills the connection manager's table with the probe's procedures, once
// per process (later calls do nothing).
void register_probe_network_game(void);

// Allocates the queues.  False when an allocation fails.
bool initialize_probe_network_game(probe_network_game *game, bool host);
// Closes what is still open (abortively) and frees the queues.
void dispose_probe_network_game(probe_network_game *game);

// Takes every whole packet out of the incoming queues into `packet` (4096
// bytes, wire order) and hands it to `deliver` with the player it came from
// (NONE on a client).  A corrupt frame closes that connection abortively.
// The number of packets taken.
int32_t take_probe_packets(probe_network_game *game, void (*deliver)(void *context, int16_t player_id,
                                                                      const uint8_t *packet, int32_t length),
                           void *context);
