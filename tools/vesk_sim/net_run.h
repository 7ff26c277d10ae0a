#pragma once
// vesk_sim's network game: one process hosts a game of the map on a port,
// others join it; every process plays the same game from the host's command
// stream and prints the state hash every 30 ticks, so that runs on loopback
// show whether they stayed in step.

#include <cstdint>
#include <vector>

#include "unit_orders.h"

struct net_run_options
{
    const char *data_directory; // may be null
    const char *map;            // host: the map's tag
    uint32_t seed;              // host
    int32_t gameplay_version;   // host; NONE: the program's own
    int32_t players;            // host: start once this many are listed and ready
    bool cooperative;           // host
    uint16_t port;              // host: the port to listen on
    const char *join;           // client: "HOST[:PORT]" (3453 without a port)
    bool find;                  // client: join the first game found on the local network
    int32_t ticks;              // the game ends at this tick
    int32_t restart_at;         // host: the tick at which the quit dialog's restart is pressed; NONE: never
    bool rehost;                // host: its rehost is pressed at restart_at instead
    int32_t quit_at;            // the tick at which this process's player presses the quit dialog's Quit; NONE: never
    int32_t time_limit_seconds; // host: the game's time limit; 0: none
    bool random_orders;
    uint32_t random_orders_seed;
    int32_t wall_limit_ms;      // the whole run, joining and barriers included
    const char *chat;           // a line sent to everybody while the game is configured; may be null
    const char *record;         // the path this process's film is kept at (the last game's); may be null
    // The lobby road (`lobby` not null): log in as `user`, then create a game
    // (`port` the hosting port, `players` awaited) or join the first listed one.
    const char *lobby;          // "HOST:PORT" of the lobby's login
    const char *user;
    const char *password;
    bool join_listed;           // else create
    int32_t games;              // games of the session: re-entered after each but the last
    bool hold_endgame;          // the last game's endgame dialog stays open until the lobby's room dies
    int32_t leave_after_ms;     // the last game's endgame dialog is left this long after it opens (0: at once)
    bool then_direct;           // after the session: a direct game hosted alone, then a login again
    // The orders of --orders: each process gives the lines of its own player
    // (the game's player 0 is the host's) as its player's commands.
    const std::vector<unit_order> *orders; // may be null
    void (*report)(void);       // prints the game's end as --report does, after its last tick; may be null
};

enum
{
    NET_RUN_OUT_OF_SYNC_EXIT = 17,
};

// Runs the game (twice when the host restarts it: the game forced to an end
// passes the end barrier and the same description starts again, at once, as
// the quit dialog's network restart does); the exit status: 0 when the game
// reached its last tick and
// passed the end barrier, 17 when it fell out of step, 1 on any other failure
// (reported on standard error).
int run_network_simulation(const net_run_options *options);

// The lobby road: logs in, creates or joins a game in the lobby dialog (its
// items pressed by a script), plays `games` games of the session (the host
// asks for the next from the endgame dialog), ends each through the endgame
// and returns to the lobby, which it leaves.  Each game prints its hash lines,
// "final T HASH" and "standings ..." as the lobby is sent them.  With
// `hold_endgame` the last endgame dialog waits for the lobby's room to die;
// with `then_direct` a direct game of one player follows on `port`, its quit
// dialog's offer and its endgame's standings reported, and a new login ends
// the run.  The exit status as run_network_simulation's.
int run_lobby_simulation(const net_run_options *options);
