// The host's command server: stamping, relaying, the history, null commands.

#include "vesk_server.h"

#include <cstdlib>
#include <cstring>

#include "cseries/cseries.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "players.h"
#include "recording.h"
#include "unit_commands.h"
#include "vesk.h"
#include "vesk_networking/network.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/vesk_netsync.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"

enum
{
    // Commands that reach the server before its clock starts wait for it; a
    // player cannot make the host hold more than this many bytes of them.
    MAXIMUM_HELD_COMMAND_BYTES = 65536,
    // Stamped commands that reach a player between the start barrier and its
    // map's start wait for the map, up to this many bytes.
    MAXIMUM_EARLY_COMMAND_BYTES = 65536,
    // What one tick's commands from everybody may fill of a player's command
    // ring: a client takes a command packet only while a whole largest command
    // still fits, and a tick's commands leave the ring only once a later
    // stamp arrives, so more than this at one stamp would freeze it (or, on
    // the host, whose ring is not paced, put the game out of step).
    COMMAND_BYTES_PER_TICK_FOR_EVERYBODY = (int32_t)INCOMING_QUEUE_BUFFER_SIZE - 1 - (int32_t)MAXIMUM_COMMAND_SIZE - 1,
    // What a second of everybody's commands may fill of a player's outgoing
    // queue, the rest kept for pings, barriers and the like.
    COMMAND_BYTES_PER_SECOND_FOR_EVERYBODY = (int32_t)DEFAULT_NET_QUEUE_SIZE - (int32_t)MAXIMUM_COMMAND_SIZE,
    MAXIMUM_PLAYER_IDENTIFIERS = 128, // a network player's id: 0 .. 127
    // What a second of everybody's commands may be while a player's link is
    // behind (NET_RELAY_BACKLOG_LIMIT): little enough for the slowest link a
    // game is played on to carry it with the null commands and pings and
    // still drain its backlog, much more than players' honest orders.
    COMMAND_BYTES_PER_SECOND_WHILE_A_LINK_IS_BEHIND = 2048,
    // But never less than this a second for each sender: the largest order
    // a player gives (one command of a whole selection, 126 units, and as
    // many targets: 540 bytes or so) fits it, with another.  A slow link
    // does not shrink anybody's share below it; a link that cannot carry
    // that stays behind and is dropped (LINK_BEHIND_LIMIT_MS).
    COMMAND_BYTES_PER_SECOND_FOR_A_SENDER_WHILE_A_LINK_IS_BEHIND = 1152,
    // A link that stays behind (NET_RELAY_BACKLOG_LIMIT) this long without a
    // break is dropped and its player named: seconds of the machine's clock,
    // not of the game, so that a reader too slow for the game cannot hold
    // everybody's orders back for the rest of it.
    LINK_BEHIND_LIMIT_MS = 10000,
};

static struct
{
    game_server_globals server;
    bool clock_started; // the start server command arrived once this game
    // The departing host stamped its last tick: the players' games end there,
    // so a command that arrives while their links drain is stamped no more.
    bool last_tick_stamped;
    // Commands received before the clock started, in arrival order.
    command_packet_history_entry *held_head, *held_tail;
    int32_t held_bytes;
    int64_t history_bytes;
    // Relayed commands received before the map started, whole, back to back.
    uint8_t early_commands[MAXIMUM_EARLY_COMMAND_BYTES];
    int32_t early_bytes;
    // Set once this machine's game has run its last tick (a tool's game of a
    // given length): commands stamped past it still arrive while the end
    // barrier is passed, and no tick of this game will ever run them.
    bool local_game_ended;
    int32_t local_last_tick;
    int32_t commands_past_the_end;
    // Each network player's use of its share (indexed by player id).
    struct command_budget
    {
        int32_t tick, tick_bytes; // the stamp of its last command and its bytes at that stamp
        uint32_t second;          // the machine millisecond its current second began
        bool second_begun;
        int32_t second_bytes;     // what it asked the host to stamp or relay since, within its share
        int32_t second_stamped;   // of which stamped or relayed (the rest refused while a link was behind)
        int32_t refused;          // packets refused within its current second
        bool told;                // its first refusal is logged
        bool refusal_told;        // told of a refused order within its current second
        bool behind;              // its link is behind since `behind_since` (machine ms)
        uint32_t behind_since;
    } budgets[MAXIMUM_PLAYER_IDENTIFIERS];
} server_globals;

static command_packet_history_entry *new_history_entry(const command_header *command)
{
    // The entry's header and pointer, then the whole command: never fewer
    // bytes than the command holds.
    const size_t bytes = offsetof(command_packet_history_entry, command) + (size_t)command->size;
    command_packet_history_entry *entry = (command_packet_history_entry *)malloc(bytes);
    if (!entry) return nullptr;
    entry->next = nullptr;
    memcpy(&entry->command, command, (size_t)command->size);
    return entry;
}

static void free_entries(command_packet_history_entry *entry)
{
    while (entry)
    {
        command_packet_history_entry *next = entry->next;
        free(entry);
        entry = next;
    }
}

void initialize_game_server_for_new_game(void)
{
    free_entries(server_globals.server.command_history_head);
    free_entries(server_globals.held_head);
    memset(&server_globals, 0, sizeof(server_globals));
}

void dispose_game_server(void)
{
    server_globals.server.game_started = false;
}

bool game_server_game_in_progress(void) { return server_globals.server.game_started; }
const game_server_globals *get_game_server_globals(void) { return &server_globals.server; }
command_packet_history_entry *get_command_history_head(void) { return server_globals.server.command_history_head; }
int64_t get_command_history_size(void) { return server_globals.history_bytes; }

// Ticks of host time since the start server command.  In 64 bits, so the
// product never wraps; the game's 32-bit stamp is what travels.
static int32_t host_ticks_now(void)
{
    const uint32_t elapsed = machine_tick_count() - server_globals.server.ticks_at_start_of_game;
    return (int32_t)(((uint64_t)elapsed * GAME_TICKS_PER_SECOND) / 1000);
}

// Whether the rules of the game the host relays for know `verb`: its
// description's rules, which the started game plays (its map may not have
// started yet when a command arrives).  Rules not known here know every verb.
static int32_t the_games_rules(void)
{
    const new_game_parameter_data *parameters = &get_vesk_net_globals()->current_game_description.parameters;
    if (!(parameters->version & 0xFFFF)) return NONE;
    return compute_gameplay_version(parameters, -1);
}

static bool verb_in_the_games_rules(int32_t verb)
{
    const int32_t rules = the_games_rules();
    return rules == NONE || command_verb_known_to_gameplay_version(verb, rules);
}

// Why `command` does not decode under the rules of the game the host relays
// for, or null.  Some layouts follow the rules (a sync command's chain), and
// until the map starts this machine's current rules are still its default:
// a joiner of an older game in progress would take the host's backlog for
// commands that run past their end.
static const char *decode_problem_under_the_games_rules(const command_header *command)
{
    const int32_t rules = the_games_rules();
    if (rules == NONE || rules == current_gameplay_version) return command_decode_problem(command);
    const int32_t kept = current_gameplay_version;
    current_gameplay_version = rules;
    const char *problem = command_decode_problem(command);
    current_gameplay_version = kept;
    return problem;
}

// Verbs only the host's own game issues: a player who could send them could
// fake the sync check, end everybody's game, add and drop players, or (with
// null commands, which only the server makes) carry bytes outside its share.
static bool verb_is_host_only(int32_t verb)
{
    return verb == _command_null || verb == _command_sync || verb == _command_drop_player ||
           verb == _command_forced_endgame || verb == _command_add_player;
}

void send_command_to_arrived_players(const command_header *command)
{
    net_game_data *game = get_vesk_net_globals()->game;
    if (!game) return;
    const vesk_sync_data_s *sync = get_vesk_sync_data();
    const int16_t count = get_net_player_count();
    for (int16_t i = 0; i < count; ++i)
    {
        if (!sync->players_data[i].arrived) continue;
        uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
        const uint16_t length = build_command_packet(packet, sizeof(packet), (uint8_t)get_net_player(i)->unique_identifier,
                                                     command, command->size);
        if (!VWARN(length > 0, "a command too large for a command packet")) return;
        net_send(game, packet, 0);
    }
}

// A player's share of what the rings and queues carry: everybody's room
// divided among the players in the game.
int32_t command_bytes_per_tick_for_a_player(int32_t players)
{
    return COMMAND_BYTES_PER_TICK_FOR_EVERYBODY / (players > 1 ? players : 1);
}

int32_t command_bytes_per_second_for_a_player(int32_t players)
{
    return COMMAND_BYTES_PER_SECOND_FOR_EVERYBODY / (players > 1 ? players : 1);
}

int32_t command_bytes_per_second_for_a_sender_while_a_link_is_behind(int32_t players)
{
    const int32_t divided = COMMAND_BYTES_PER_SECOND_WHILE_A_LINK_IS_BEHIND / (players > 1 ? players : 1);
    return divided > COMMAND_BYTES_PER_SECOND_FOR_A_SENDER_WHILE_A_LINK_IS_BEHIND
               ? divided
               : COMMAND_BYTES_PER_SECOND_FOR_A_SENDER_WHILE_A_LINK_IS_BEHIND;
}

// The host drops a player whose link stayed behind past LINK_BEHIND_LIMIT_MS,
// naming it to the others (one a pass: the list changes under the drop).
static void drop_links_left_behind(void)
{
    net_game_data *game = get_vesk_net_globals()->game;
    const uint32_t now = machine_tick_count();
    for (int16_t i = 0; game && i < get_net_player_count(); ++i)
    {
        const int32_t id = get_net_player(i)->unique_identifier;
        if (id == get_local_player_id() || id < 0 || id >= MAXIMUM_PLAYER_IDENTIFIERS) continue;
        auto &budget = server_globals.budgets[id];
        if (!net_player_link_is_behind(game, id))
        {
            budget.behind = false;
            continue;
        }
        if (!budget.behind) budget.behind = true, budget.behind_since = now;
        if (now - budget.behind_since < LINK_BEHIND_LIMIT_MS) continue;
        budget.behind = false;
        LOG_REPEATED_OF_SUBJECT(id, "player %d's link stayed behind for %d seconds: dropped", id,
                                LINK_BEHIND_LIMIT_MS / 1000);
        network_player_leaves(id, _departure_fell_behind, NONE);
        return;
    }
}

// Whether `sender` has room in its share for `bytes` more: within the
// current second of machine time for everything it makes the host stamp or
// relay, and at the stamp `tick` as well for a command (NONE for a relayed
// packet).  Counts them when it has.  A player past its share has the packet
// refused, and one that keeps sending past it is dropped: it cannot make the
// others' rings overflow or their queues fill.
static bool share_takes(uint8_t sender, int32_t bytes, int32_t tick)
{
    if (sender >= MAXIMUM_PLAYER_IDENTIFIERS) return true;
    auto &budget = server_globals.budgets[sender];
    const int32_t players = get_net_player_count();
    const uint32_t now = machine_tick_count();
    if (tick != NONE && budget.tick != tick) budget.tick = tick, budget.tick_bytes = 0;
    if (!budget.second_begun || now - budget.second >= 1000)
        budget.second = now, budget.second_begun = true, budget.second_bytes = budget.second_stamped = 0,
        budget.refused = 0, budget.refusal_told = false;
    const bool within_tick = tick == NONE || budget.tick_bytes + bytes <= command_bytes_per_tick_for_a_player(players);
    const bool within_second = budget.second_bytes + bytes <= command_bytes_per_second_for_a_player(players);
    // Everything stamped goes to every player: while one link is behind,
    // the shares shrink to what it carries, so that player keeps pace with
    // the others however they fill their shares.  Past the smaller share is
    // refused but never counts toward a drop: the sender did nothing wrong.
    // What it asks for counts toward its own share either way, so a
    // player past that share is dropped whether or not a link is behind.
    const int32_t slow_link_share = command_bytes_per_second_for_a_sender_while_a_link_is_behind(players);
    const bool within_slow_link = sender == NET_HOST_PLAYER_ID || budget.second_stamped + bytes <= slow_link_share ||
                                  !net_player_link_is_behind(get_vesk_net_globals()->game, kSendToAllPlayers);
    if (within_tick && within_second && within_slow_link)
    {
        if (tick != NONE) budget.tick_bytes += bytes;
        budget.second_bytes += bytes;
        budget.second_stamped += bytes;
        return true;
    }
    if (within_tick && within_second)
    {
        budget.second_bytes += bytes;
        LOG_REPEATED_OF_SUBJECT(sender,
                                "player %d sends more than a link that is behind carries (%d bytes a second): "
                                "refusing what is past it while the link catches up, and telling it",
                                sender, slow_link_share);
        // A command, not a relayed packet: its sender is told, so that an
        // order that runs nowhere is not taken for one given; once a second,
        // so that what it sends past its share does not set the host's pace
        // of notices.
        if (tick != NONE && !budget.refusal_told) budget.refusal_told = true, tell_player_order_refused(sender);
        return false;
    }
    ++budget.refused;
    if (!budget.told && (budget.told = true))
        LOG_REPEATED_OF_SUBJECT(sender,
            "player %d sends more than its share (%d bytes of commands a tick, %d bytes a second): refusing "
            "what is past it",
            sender, command_bytes_per_tick_for_a_player(players), command_bytes_per_second_for_a_player(players));
    if (budget.refused == REFUSED_COMMAND_LIMIT && sender != NET_HOST_PLAYER_ID)
    {
        LOG_REPEATED_OF_SUBJECT(sender, "player %d had %d commands refused within a second: dropping it", sender,
                                REFUSED_COMMAND_LIMIT);
        if (net_game_data *game = get_vesk_net_globals()->game) drop_player_due_to_error(game, sender);
    }
    return false;
}

// A command's share: the host's own verbs (null commands included) are
// nobody's.
static bool command_within_budget(const command_header *command, int32_t time)
{
    if (verb_is_host_only(command->verb)) return true;
    return share_takes((uint8_t)command->player_index, command->size, time);
}

bool player_share_takes_relayed_packet(int32_t player_id, int32_t length)
{
    return player_id < 0 || share_takes((uint8_t)player_id, length, NONE);
}

static void stamp_and_relay(command_header *command)
{
    command->time = host_ticks_now();
    if (!command_within_budget(command, command->time)) return;
    send_command_to_arrived_players(command);
    server_globals.server.ticks_at_last_command = command->time;
    if (command->verb == _command_null) return;
    command_packet_history_entry *entry = new_history_entry(command);
    if (!entry)
    {
        // A joiner could no longer be fed this game; the live players are.
        log_message(__FILE__, __LINE__, "no memory for the command history; the command is relayed but not kept");
        return;
    }
    server_globals.history_bytes += (int64_t)offsetof(command_packet_history_entry, command) + command->size;
    if (server_globals.server.command_history_tail)
        server_globals.server.command_history_tail->next = entry;
    else
        server_globals.server.command_history_head = entry;
    server_globals.server.command_history_tail = entry;
}

void vesk_server_send_command(command_header *command)
{
    if (server_globals.last_tick_stamped)
    {
        // Stamped past the announced last tick, it would take every player's
        // game past it, and a player whose link could not carry it to
        // another end than the others'.
        LOG_REPEATED("a command of verb %d after the departing host's last stamped tick (%d); not stamped",
                     command->verb, server_globals.server.ticks_at_last_command);
        return;
    }
    if (!server_globals.clock_started)
    {
        // Stamping against a clock that has not started would put the command
        // at a tick that means nothing: it waits for the start.
        if (server_globals.held_bytes + command->size > MAXIMUM_HELD_COMMAND_BYTES)
        {
            LOG_REPEATED("a command before the game's start was dropped: too many are waiting");
            return;
        }
        command_packet_history_entry *entry = new_history_entry(command);
        if (!entry) return;
        server_globals.held_bytes += command->size;
        if (server_globals.held_tail)
            server_globals.held_tail->next = entry;
        else
            server_globals.held_head = entry;
        server_globals.held_tail = entry;
        return;
    }
    stamp_and_relay(command);
}

static void start_command_clock(void)
{
    server_globals.server.game_started = true;
    server_globals.server.ticks_at_last_command = 0;
    server_globals.server.ticks_at_start_of_game = machine_tick_count();
    server_globals.clock_started = true;
    command_packet_history_entry *held = server_globals.held_head;
    server_globals.held_head = server_globals.held_tail = nullptr;
    server_globals.held_bytes = 0;
    for (command_packet_history_entry *entry = held; entry; entry = entry->next) stamp_and_relay(&entry->command);
    free_entries(held);
}

void stamp_last_tick_of_departing_host(void)
{
    if (!server_globals.server.game_started) return;
    uint8_t buffer[MAXIMUM_COMMAND_SIZE];
    command_codec_state state;
    command_encode_new(&state, buffer, _command_null);
    if (!state.failed) vesk_server_send_command(state.header);
    server_globals.last_tick_stamped = true;
    log_message(__FILE__, __LINE__, "the host leaves: its last stamped tick is %d",
                server_globals.server.ticks_at_last_command);
    server_globals.server.game_started = false;
}

void idle_game_server(void)
{
    if (!server_globals.server.game_started) return;
    drop_links_left_behind();
    if (!server_globals.server.game_started) return;
    if (host_ticks_now() - server_globals.server.ticks_at_last_command < NULL_COMMAND_INTERVAL_TICKS) return;
    uint8_t buffer[MAXIMUM_COMMAND_SIZE];
    command_codec_state state;
    command_encode_new(&state, buffer, _command_null);
    if (!state.failed) vesk_server_send_command(state.header);
}


bool handle_game_server_packet(void *packet, int32_t length, uint8_t to, uint8_t from)
{
    if (to != kSendToServer) return false;
    const net_message_header *header = (const net_message_header *)packet;
    switch (header->what)
    {
    case _server_command_packet:
    {
        if (from != NET_HOST_PLAYER_ID)
        {
            log_game_packet_refusal(from, _game_refusal_not_allowed, "a server command from a player");
            return true;
        }
        const int16_t verb = ((const server_command_packet *)packet)->verb;
        if (verb == _start_sending_null_commands)
            start_command_clock();
        else if (verb == _stop_sending_null_commands)
            server_globals.server.game_started = false;
        else
            LOG_REPEATED("Got a server command packet w/verb %d?", verb);
        return true;
    }
    case _ping_packet: return false;
    case _command_packet:
    {
        command_header *command = (command_header *)((uint8_t *)packet + sizeof(net_message_header));
        const int32_t size = length - (int32_t)sizeof(net_message_header);
        const int16_t index = find_net_player_index(from);
        if (size < MINIMUM_COMMAND_SIZE || size > MAXIMUM_SINGLE_PACKET_SIZE - (int32_t)sizeof(net_message_header) ||
            command->size != size)
            log_game_packet_refusal(from, _game_refusal_malformed, "a command whose size disagrees with its packet");
        else if (command->verb < 0 || command->verb >= NUMBER_OF_COMMAND_VERBS)
            log_game_packet_refusal(from, _game_refusal_malformed, "a command of an unknown verb");
        else if (from != NET_HOST_PLAYER_ID && verb_is_host_only(command->verb))
            log_game_packet_refusal(from, _game_refusal_not_allowed, "a command only the host may issue");
        else if (index >= 0 && !get_vesk_sync_data()->players_data[index].arrived && server_globals.clock_started &&
                 !server_globals.server.game_started)
            // The host's game ended first: a player behind it still plays
            // its last ticks.  Nothing of its doing, so nothing counts.
            LOG_REPEATED_OF_SUBJECT(from, "a command of player %d after the host's game ended; ignored", (int)from);
        else if (index < 0 || !get_vesk_sync_data()->players_data[index].arrived)
            log_game_packet_refusal(from, _game_refusal_not_arrived, "a command from a player not in the game");
        else if (!verb_in_the_games_rules(command->verb))
        {
            // Relayed, a player of those rules alone could not decode it and would leave.
            char text[128];
            slprintf(text, sizeof(text), "a command of verb %d, which the game's rules do not know", command->verb);
            log_game_packet_refusal(from, _game_refusal_unknown_to_rules, text);
        }
        else if (const char *problem = decode_problem_under_the_games_rules(command))
        {
            // Relayed, it would be refused (or worse) on every machine.
            char text[128];
            slprintf(text, sizeof(text), "a command of verb %d that does not decode: %s", command->verb, problem);
            log_game_packet_refusal(from, _game_refusal_undecodable, text);
        }
        else
        {
            if (!(from == NET_HOST_PLAYER_ID && command->verb == _command_drop_player))
                command->player_index = (int8_t)from;
            vesk_server_send_command(command);
        }
        return true;
    }
    default:
        LOG_REPEATED("Got a packet of type %d?", header->what);
        return true;
    }
}

bool send_command_to_host(const command_header *command)
{
    net_game_data *game = get_vesk_net_globals()->game;
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    const uint16_t length = build_command_packet(packet, sizeof(packet), kSendToServer, command, command->size);
    if (!game || !length) return false;
    return net_send(game, packet, 0);
}

int32_t last_tick_of_network_game(void)
{
    if (server_globals.local_game_ended) return server_globals.local_last_tick;
    if (!vesk_map_is_loaded() || game_->type != _game_type_networked) return NONE;
    if (game_->flags.load() & _game_is_over_flag) return game_->game_time;
    return NONE;
}

void hold_network_game_at_its_last_tick(void)
{
    const int32_t last = last_tick_of_network_game();
    if (last != NONE && game_->target_time > last) game_->target_time = last;
}

// Queues a stamped command for its tick and moves the target time.
static void accept_relayed_command(command_header *command)
{
    const int32_t last = last_tick_of_network_game();
    if (last != NONE && command->time >= last)
    {
        // No tick of this game runs it (a command of the last tick would run
        // in the tick after it): queued, it would fill the ring no tick
        // empties and report the game out of step after it ended in step,
        // and the film would hold what the game never ran.  The clock may
        // still take the game to its last tick.
        if (server_globals.commands_past_the_end++ == 0)
            LOG_REPEATED("commands for the ticks from this game's last (%d) on are ignored", last);
        if (game_->target_time < last) game_->target_time = last;
        return;
    }
    if ((uint8_t)command->player_index != 255)
    {
        const int16_t player_index = find_player_by_unique_identifier((uint8_t)command->player_index);
        if (player_index != NONE)
            command->player_index = (int8_t)player_index;
        else
            command->verb = (int8_t)-command->verb; // the executor looks the id up again at its tick
    }
    if (!queue_incoming_command(command)) return;
    record_incoming_command(command);
    if (command->time >= game_->target_time) game_->target_time = command->time;
}

void forget_early_commands(void)
{
    server_globals.early_bytes = 0;
    server_globals.local_game_ended = false;
    server_globals.commands_past_the_end = 0;
}

void note_game_last_tick(int32_t last_tick)
{
    // The earliest end stands: a game whose countdown ends before the tool's
    // length ends there, and a later word changes nothing.
    if (server_globals.local_game_ended && server_globals.local_last_tick <= last_tick) return;
    server_globals.local_game_ended = true;
    server_globals.local_last_tick = last_tick;
}

// Only a running game frees its ring: any other time the packets are taken
// (and a command past the game is ignored, see handle_command_packet).
bool client_has_room_for_a_command(void)
{
    return get_vesk_net_globals()->state != _net_game_in_progress || !vesk_map_is_loaded() ||
           free_space_in_incoming_queue() > 0;
}

void accept_early_commands(void)
{
    if (!vesk_map_is_loaded()) return;
    alignas(command_header) uint8_t command[MAXIMUM_COMMAND_SIZE];
    for (int32_t offset = 0; offset < server_globals.early_bytes;)
    {
        command_header header;
        memcpy(&header, server_globals.early_commands + offset, sizeof(header));
        memcpy(command, server_globals.early_commands + offset, (size_t)header.size);
        offset += header.size;
        accept_relayed_command((command_header *)command);
    }
    server_globals.early_bytes = 0;
}

void handle_command_packet(void *packet)
{
    const net_message_header *header = (const net_message_header *)packet;
    // A host that relays a command addressed to itself does not play by
    // these rules: refused like any packet it may not send, never an
    // assertion a peer could repeat.
    if (header->to == kSendToServer)
    {
        log_game_packet_refusal(header->from, _game_refusal_malformed, "a relayed command addressed to the host");
        return;
    }
    command_header *command = (command_header *)((uint8_t *)packet + sizeof(net_message_header));
    if (command->size != header->messageLen - (int32_t)sizeof(net_message_header) ||
        command->size < MINIMUM_COMMAND_SIZE || command->time < 0)
    {
        log_game_packet_refusal(header->from, _game_refusal_malformed, "a relayed command whose size disagrees");
        return;
    }
    if (const char *problem = decode_problem_under_the_games_rules(command))
    {
        // Every machine would have to skip it alike, and an honest host never
        // relays one: the host is not playing this game's rules.
        LOG_REPEATED(
            "error: the host sent a command of verb %d for tick %d that does not decode (%s): leaving the game",
            command->verb, command->time, problem);
        if (net_game_data *game = get_vesk_net_globals()->game)
            drop_player_due_to_error(game, game->client.local_player_id);
        return;
    }
    if (vesk_map_is_loaded())
    {
        accept_early_commands();
        accept_relayed_command(command);
    }
    else if (get_vesk_net_globals()->state != _net_game_in_progress && !in_netsync())
        // The game has ended here; the stream still runs on the host.
        LOG_REPEATED("a command of verb %d for tick %d arrived after the game; ignored", command->verb,
                     command->time);
    else if (server_globals.early_bytes + command->size <= MAXIMUM_EARLY_COMMAND_BYTES)
    {
        // The game is passing its start barrier, or its map is still starting.
        memcpy(server_globals.early_commands + server_globals.early_bytes, command, (size_t)command->size);
        server_globals.early_bytes += command->size;
    }
    else
    {
        LOG_REPEATED("too many commands before the map started; the game cannot stay in step");
        game_is_out_of_sync(__FILE__, __LINE__);
    }
}

bool vesk_server_send_data(uint8_t to, void *data, int32_t length)
{
    net_game_data *game = get_vesk_net_globals()->game;
    net_message_header *header = (net_message_header *)data;
    if (!game || length < (int32_t)sizeof(net_message_header) || header->messageLen != length) return false;
    header->to = to;
    return net_send(game, data, 0);
}
