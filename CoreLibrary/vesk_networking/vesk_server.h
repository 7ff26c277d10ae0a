#pragma once
// The host's command server: every player sends the commands it issues to
// the server (address 254); the server stamps each with a tick of the host's
// own clock, relays it to every player who has arrived in the game and keeps
// it in a history for players who join later.  While the game runs and
// nobody issues commands it sends null commands, so that every machine's
// target time keeps advancing.
//
// The server runs on the host only; the receiving side of the stream
// (handle_command_packet) on every player.  Main thread only.

#include <cstdint>

#include "commands.h" // command_header

struct net_game_data;

struct command_packet_history_entry
{
    command_packet_history_entry *next;
    // then the whole stamped command: its header and data, `command.size` bytes
    command_header command;
};

enum
{
    // A null command is due when this many ticks of host time have passed
    // since the last command sent.
    NULL_COMMAND_INTERVAL_TICKS = 4,
    // A player whose commands and relayed packets past its share
    // (command_bytes_per_tick_for_a_player, command_bytes_per_second_for_a_player)
    // have been refused this many times within one second is dropped.
    REFUSED_COMMAND_LIMIT = 32,
};

// The bytes of commands one of `players` players may have stamped at one
// tick, and within one second (30 ticks) of host time.  Together the players
// never fill more of a command ring or an outgoing queue than a client can
// take without stopping.
int32_t command_bytes_per_tick_for_a_player(int32_t players);
int32_t command_bytes_per_second_for_a_player(int32_t players);
// While any link is behind, what a second of one sender's commands may be:
// its own share, which the largest order a player gives always fits (the
// slow link is dropped if it cannot carry that); past it the command is
// refused, not counted toward a drop, and its sender is told.
int32_t command_bytes_per_second_for_a_sender_while_a_link_is_behind(int32_t players);

struct game_server_globals
{
    bool game_started;            // between the start and stop server commands
    int32_t ticks_at_last_command; // stamp of the last command sent, nulls included
    uint32_t ticks_at_start_of_game; // machine milliseconds at the start server command
    command_packet_history_entry *command_history_head;
    command_packet_history_entry *command_history_tail;
};

// Frees the history and clears the record.
void initialize_game_server_for_new_game(void);
// Stops null commands; the history stays.
void dispose_game_server(void);
bool game_server_game_in_progress(void);
const game_server_globals *get_game_server_globals(void);
command_packet_history_entry *get_command_history_head(void);
// Bytes held by the history (entries and their allocation headers).
int64_t get_command_history_size(void);

// The share of a packet that player `player_id` makes the host relay (a chat
// packet to everybody or to one player, a chat line it asks the host to pass
// on): whether its `length` bytes fit what the player may have stamped or
// relayed within the current second; counted when they fit.  Commands and
// relayed packets share that one budget (command_bytes_per_second_for_a_player).
// A refusal is logged once per player; REFUSED_COMMAND_LIMIT of them within a
// second drop the player.  Host only.
bool player_share_takes_relayed_packet(int32_t player_id, int32_t length);

// Stamps, relays and records one command (host order).  Before the start
// server command the command is held and stamped when the start arrives.
void vesk_server_send_command(command_header *command);
// The host leaves a game in progress: a last null command stamped now, so
// that every player's game runs to the same last tick, then the clock stops
// and no command is stamped until the next game.
void stamp_last_tick_of_departing_host(void);
// Sends a null command when one is due, and drops a player whose link has
// stayed behind for ten seconds (named to the others); every frame on the host.
void idle_game_server(void);
// The server's share of a packet on the host (host order): true when it
// consumed the packet.
bool handle_game_server_packet(void *packet, int32_t length, uint8_t to, uint8_t from);
// One command packet per arrived player.
void send_command_to_arrived_players(const command_header *command);
// Wraps a command in a command packet addressed to the server and sends it.
bool send_command_to_host(const command_header *command);
// The receiving side on every player (entry 1 of the dispatcher's table).
// Commands that arrive while the start barrier ends or the map starts wait
// for the map (accept_early_commands, each frame).
void handle_command_packet(void *packet);
// Whether a client can take one more command packet: false while its running
// game's command ring is full (a player catching up after a pause).
bool client_has_room_for_a_command(void);
// Queues the commands that waited for the map, once it has started.
void accept_early_commands(void);
// Forgets them (a new game's start barrier), and that the last game ended.
void forget_early_commands(void);
// This machine's game ends at `last_tick`, known before or after it ran (a
// tool's game of a given length, the end of a network game's countdown as
// game_ending tells it, a forced end): commands stamped from it on are
// ignored, logged once, until the next start barrier.  The earliest end
// noted stands.
void note_game_last_tick(int32_t last_tick);
// The last tick of the network game being played, once it is known: the
// earliest tick noted above (the tool's length, the end of the game's
// countdown, the same on every machine), or the tick of a game over; NONE
// before.  No command stamped from
// it on is queued or kept in the film, and the game runs no tick past it.
int32_t last_tick_of_network_game(void);
// A game whose end came within a frame (a forced end, counted down in one
// tick) runs no tick past its last: its target time is held there.
void hold_network_game_at_its_last_tick(void);
// Hands the data to the library's send unchanged.
bool vesk_server_send_data(uint8_t to, void *data, int32_t length);
