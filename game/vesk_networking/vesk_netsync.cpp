// The start and end barrier, who may start a game, the ready marks.

#include "vesk_netsync.h"

#include <cstring>

#include "cseries/cseries.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "game_records.h"
#include "player_data_tags.h"
#include "gameplay_versions.h"
#include "progress_dialog.h"
#include "session_state.h"
#include "bitmap_dialogs/chat_list_control.h"
#include "game_time.h"
#include "state_hash.h"
#include "vesk.h"
#include "vesk_random.h"
#include "uber/uber.h"
#include "vesk_networking/network.h"
#include "lobby_procedures.h"
#include "vesk_networking/netgame_setup_dialog.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/vesk_chat.h"
#include "vesk_networking/vesk_midgame.h"
#include "vesk_networking/vesk_net_commands.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_server.h"

enum
{
    // From this gameplay version on a cooperative game stays open to joiners.
    MIDGAME_JOIN_MINIMUM_GAMEPLAY_VERSION = 1820,
};

static struct
{
    vesk_sync_data_s sync;
    bool in_netsync;
    bool do_not_report_scoring;
    int32_t waits_shown; // barrier waits that lasted long enough to show their progress
    // This machine's game at its end (note_network_game_final_state).
    bool final_state_noted;
    bool hosts_final_state_compared; // once a game: a host repeating it is not heeded again
    net_final_state final_state;
    int32_t end_drift_tick; // NONE: no drift found at the end barrier
    // A drift while the game runs: the first tick out of step this machine
    // last told (to the host, or the host to everybody); NONE: none told.
    int32_t drift_tick_told;
    bool hosts_drift_notice_heard; // a player: the host told of the drift
    // The host: players who leave, dropped once their notices went out.
    int32_t leaving_player_ids[MAXIMUM_NET_GAME_PLAYERS];
    int32_t leaving_count;
} netsync_globals;

// Clears what a game's drift left (a new game, a new session).
static void forget_drift(void)
{
    netsync_globals.end_drift_tick = NONE;
    netsync_globals.drift_tick_told = NONE;
    netsync_globals.hosts_drift_notice_heard = false;
}

// Kept apart from the record: clearing a session's barrier keeps the program's check.
static bool (*netsync_cancel_check)(void);

void set_netsync_cancel_check(bool (*cancelled)(void)) { netsync_cancel_check = cancelled; }

int32_t netsync_timeout_ms(void)
{
    return (int32_t)((int64_t)NETSYNC_TIMEOUT_MS * net_silence_limit_ms() / NET_SILENCE_LIMIT_MS);
}

vesk_sync_data_s *get_vesk_sync_data(void) { return &netsync_globals.sync; }
void clear_vesk_sync_data(void)
{
    memset(&netsync_globals, 0, sizeof(netsync_globals));
    forget_drift();
}
int32_t network_game_end_drift_tick(void) { return netsync_globals.end_drift_tick; }

void note_network_game_final_state(void)
{
    if (netsync_globals.final_state_noted || !vesk_map_is_loaded() ||
        get_vesk_net_globals()->state != _net_game_in_progress)
        return;
    // The state the last tick left, as the film's end record holds it:
    // the game's end may have touched the state since.
    sync_command_data state;
    if (get_tick_end_state(&state) == NONE) get_final_state(&state);
    netsync_globals.final_state = {state.snapshot_time, state.state_hash, state.random_seed};
    netsync_globals.final_state_noted = true;
    log_message(nullptr, -1, "this game ended at tick %d: state %08x, seed %08x", game_->game_time,
                netsync_globals.final_state.state_hash, netsync_globals.final_state.random_seed);
}

// The player at list index `index` carries data tags: its program takes
// the end barrier's final states.
static bool player_takes_final_states(int16_t index)
{
    const new_player_data *player = get_net_player(index);
    uint32_t foundation = 0, patch = 0;
    return player && get_player_data_tags(player, &foundation, &patch);
}

static bool same_final_state(const net_final_state &a, const net_final_state &b)
{
    return a.tick == b.tick && a.state_hash == b.state_hash && a.random_seed == b.random_seed;
}

// The end barrier found `whose` game out of step from `tick`: said in the
// chat the endgame dialog shows; the earliest such tick is the game's.
static void note_end_drift(const char *whose, int32_t tick)
{
    char text[128];
    slprintf(text, sizeof(text), "Out of sync: %s game ended differently (tick %d).", whose, tick);
    add_chat_to_back_log(_motd_chat_message_type, "", nullptr, text);
    if (netsync_globals.end_drift_tick == NONE || tick < netsync_globals.end_drift_tick)
        netsync_globals.end_drift_tick = tick;
}

// `whose` final state differs from this machine's: said in the log and in
// the chat; the earlier last tick is the first one known to differ.
static int32_t log_end_drift(const char *whose, const net_final_state &theirs);
static void report_end_drift(const char *whose, const net_final_state &theirs)
{
    note_end_drift(whose, log_end_drift(whose, theirs));
}

// The same in the log alone; the first tick known to differ.
static int32_t log_end_drift(const char *whose, const net_final_state &theirs)
{
    const net_final_state &ours = netsync_globals.final_state;
    // A report naming no tick of a game (a negative one) is a drift at this
    // game's end: the earlier tick must never read as "none".
    const int32_t tick = theirs.tick >= 0 && theirs.tick < ours.tick ? theirs.tick : ours.tick;
    log_message(nullptr, -1,
                "out of sync at tick %d: %s game ended at tick %d with state %08x, seed %08x; this one at tick %d "
                "with state %08x, seed %08x",
                tick, whose, theirs.tick, theirs.state_hash, theirs.random_seed, ours.tick, ours.state_hash,
                ours.random_seed);
    return tick;
}

// "player 3's (bob)", for the log and the chat.
static void name_players_game(int32_t player_id, char *whose, size_t size)
{
    const int16_t index = find_net_player_index(player_id);
    if (index < 0)
        slprintf(whose, size, "player %d's", (int)player_id);
    else
        slprintf(whose, size, "player %d's (%s)", (int)player_id, get_net_player(index)->appearance.name);
}

static bool send_drift_packet(net_game_data *game, uint8_t to, int16_t player_id_from, uint16_t flags,
                              const net_final_state *state);
static void send_departure_notices(net_game_data *game, int32_t player_id, int32_t tick, int32_t reason);
static void departure_text(int32_t player_id, int32_t tick, int32_t reason, char *text, size_t size);

// The host, once every report came: each player's final state against its own.
static void compare_reported_final_states(void)
{
    if (!netsync_globals.final_state_noted) return;
    const vesk_sync_data_s *sync = &netsync_globals.sync;
    for (int16_t i = 0; i < get_net_player_count(); ++i)
    {
        const vesk_sync_player_data &reported = sync->players_data[i];
        const new_player_data *player = get_net_player(i);
        if (player->unique_identifier == get_local_player_id()) continue;
        if (!reported.final_state_reported)
        {
            // Its program takes final states yet sent none: its game goes
            // unchecked, and the log says so rather than pass it as the same.
            if (player_takes_final_states(i))
                LOG_REPEATED_OF_SUBJECT(player->unique_identifier,
                                        "player %d passed the end barrier without its final state: its game is not "
                                        "compared",
                                        (int)player->unique_identifier);
            continue;
        }
        if (same_final_state(reported.final_state, netsync_globals.final_state)) continue;
        char whose[64];
        name_players_game(player->unique_identifier, whose, sizeof(whose));
        // The host's record is the game: that player's alone ended out of
        // step.  It is told so (and says so), and every other player is
        // told its name; nobody else's game is marked.
        const int32_t tick = log_end_drift(whose, reported.final_state);
        const net_final_state told = {tick, 0, 0};
        send_drift_packet(get_vesk_net_globals()->game, (uint8_t)player->unique_identifier,
                          (int16_t)player->unique_identifier, 0, &told);
        char text[128];
        departure_text(player->unique_identifier, tick, _departure_out_of_step, text, sizeof(text));
        add_network_notice(text);
        send_departure_notices(get_vesk_net_globals()->game, player->unique_identifier, tick, _departure_out_of_step);
    }
}

// ---- a drift told to every machine ----------------------------------------------------

// The player at list index `index` runs a program that takes drift reports
// and notices (barrier packets with the out-of-sync flag); an earlier one
// would take a notice for a confirmation, a report for a joiner's.
static bool player_takes_drift_notices(int16_t index)
{
    const new_player_data *player = get_net_player(index);
    return player && player->version >= DRIFT_NOTICE_MINIMUM_VERSION;
}

// The seed and state hash this machine's game had at `tick`, as far as it
// kept them (0 otherwise); a tick that begins a chain of state hashes (a
// drift found by a sync command's chain) gives that chain, `chained` set.
static net_final_state drift_state_at(int32_t tick, bool *chained = nullptr)
{
    net_final_state state = {tick, 0, 0};
    if (chained) *chained = false;
    if (get_sync_snapshot(tick, &state.random_seed, &state.state_hash) || !chained) return state;
    sync_chain_data chain;
    if (get_sync_chain_from(tick, &chain))
    {
        state.state_hash = chain.chain_hash;
        *chained = true;
    }
    return state;
}

static bool send_drift_packet(net_game_data *game, uint8_t to, int16_t player_id_from, uint16_t flags,
                              const net_final_state *state)
{
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    const uint16_t length = build_player_sync_data_packet_with_final_state(
        packet, sizeof(packet), to, player_id_from, (uint16_t)(flags | _player_sync_data_packet_out_of_sync_flag), state);
    return length && net_send(game, packet, 0);
}

// The host tells every player who takes notices (the drifting one too) that
// the game is out of step from `tick`, naming `player_id`'s game (NONE: the
// host's own).
static void send_drift_notices(net_game_data *game, int32_t tick, int32_t player_id)
{
    const net_final_state state = drift_state_at(tick);
    const int16_t named = (int16_t)(player_id == NONE ? get_local_player_id() : player_id);
    for (int16_t i = 0; i < get_net_player_count(); ++i)
    {
        const int32_t id = get_net_player(i)->unique_identifier;
        if (id != get_local_player_id() && player_takes_drift_notices(i))
            send_drift_packet(game, (uint8_t)id, named, 0, &state);
    }
}

void tell_of_network_game_drift(void)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (!net->game || net->state != _net_game_in_progress || !vesk_map_is_loaded() ||
        !(game_->flags.load() & _game_is_out_of_sync_flag))
        return;
    const int32_t tick = get_out_of_sync_tick();
    const int32_t told = netsync_globals.drift_tick_told;
    if (tick == NONE || (told != NONE && tick >= told)) return;
    netsync_globals.drift_tick_told = tick;
    if (local_player_is_network_originator())
    {
        send_drift_notices(net->game, tick, NONE);
        return;
    }
    log_message(nullptr, -1, "this game left step with the host's at tick %d: it leaves the game", tick);
    add_network_notice("Your game went out of step with the host's: you leave the game.");
    const int16_t host = find_net_player_index(NET_HOST_PLAYER_ID);
    if (host < 0 || !player_takes_drift_notices(host)) return;
    bool chained = false;
    const net_final_state state = drift_state_at(tick, &chained);
    send_drift_packet(net->game, (uint8_t)NET_HOST_PLAYER_ID, get_local_player_id(),
                      (uint16_t)(_player_sync_data_packet_destined_for_server_flag |
                                 (chained ? _player_sync_data_packet_chain_flag : 0)),
                      &state);
}

bool network_game_drift_told(void)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (!net->game || netsync_globals.hosts_drift_notice_heard) return true;
    if (local_player_is_network_originator()) return netsync_globals.drift_tick_told != NONE;
    const int16_t host = find_net_player_index(NET_HOST_PLAYER_ID);
    return host < 0 || !player_takes_drift_notices(host) || net_get_player_count(net->game) == 0;
}

// The host tells every other player that takes the notice that `player_id`
// left the game at `tick` for `reason` (player_departure_reason).
static void send_departure_notices(net_game_data *game, int32_t player_id, int32_t tick, int32_t reason)
{
    const net_final_state state = drift_state_at(tick);
    for (int16_t i = 0; i < get_net_player_count(); ++i)
    {
        const int32_t id = get_net_player(i)->unique_identifier;
        if (id == get_local_player_id() || id == player_id || !player_takes_drift_notices(i)) continue;
        uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
        const uint16_t length =
            build_player_departure_notice(packet, sizeof(packet), (uint8_t)id, (int16_t)player_id, &state, reason);
        if (length) net_send(game, packet, 0);
    }
}

// What a player is told of another's departure, worded for it.
static void departure_text(int32_t player_id, int32_t tick, int32_t reason, char *text, size_t size)
{
    const int16_t index = find_net_player_index(player_id);
    const char *name = index >= 0 && get_net_player(index)->appearance.name[0] ? get_net_player(index)->appearance.name
                                                                               : "A player";
    if (reason == _departure_out_of_step)
        slprintf(text, size, "%s left the game: their game went out of step with the host's (tick %d).", name, tick);
    else if (reason == _departure_fell_behind)
        slprintf(text, size, "%s was dropped: their connection fell too far behind.", name);
    else
        slprintf(text, size, "The host could not take your order while a slow player's link catches up: give it again.");
}

void tell_player_order_refused(int32_t player_id)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    const int16_t index = find_net_player_index(player_id);
    if (!net->game || !local_player_is_network_originator() || index < 0 || !player_takes_drift_notices(index))
        return;
    if (player_id == get_local_player_id())
    {
        char text[128];
        departure_text(player_id, 0, _departure_order_refused, text, sizeof(text));
        add_network_notice(text);
        return;
    }
    const net_final_state state = {vesk_map_is_loaded() ? game_->game_time : 0, 0, 0};
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    const uint16_t length = build_player_departure_notice(packet, sizeof(packet), (uint8_t)player_id,
                                                          (int16_t)player_id, &state, _departure_order_refused);
    if (length) net_send(net->game, packet, 0);
}

void network_player_leaves(int32_t player_id, int32_t reason, int32_t tick)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (!net->game || !local_player_is_network_originator() || player_id == get_local_player_id() ||
        find_net_player_index(player_id) < 0)
        return;
    if (tick == NONE) tick = vesk_map_is_loaded() ? game_->game_time : 0;
    char text[128];
    departure_text(player_id, tick, reason, text, sizeof(text));
    add_network_notice(text);
    send_departure_notices(net->game, player_id, tick, reason);
    // The notices go out before the player's link closes: from a packet's
    // handler the drop waits for the pass of the network that sends them.
    if (net_process_is_running())
    {
        if (netsync_globals.leaving_count < MAXIMUM_NET_GAME_PLAYERS)
            netsync_globals.leaving_player_ids[netsync_globals.leaving_count++] = player_id;
        return;
    }
    for (int32_t pass = 0; pass < 4; ++pass) net_process(net->game);
    drop_player_due_to_error(net->game, (int16_t)player_id);
}

void drop_players_who_left(void)
{
    net_game_data *game = get_vesk_net_globals()->game;
    const int32_t count = netsync_globals.leaving_count;
    netsync_globals.leaving_count = 0;
    for (int32_t i = 0; game && i < count; ++i)
        if (find_net_player_index(netsync_globals.leaving_player_ids[i]) >= 0)
            drop_player_due_to_error(game, (int16_t)netsync_globals.leaving_player_ids[i]);
}

// The host: player `from` says its game left step at `state`'s tick.  Its
// word counts only as far as the host's own record of that tick can check
// it: a report the host cannot check, or of the very state the host's game
// had, is refused; one that differs means that player's game is out of
// step: it alone leaves, and the host's game (everybody else's) plays on.
static void take_drift_report(int32_t from, const net_final_state &state, bool chained)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (net->state != _net_game_in_progress || !vesk_map_is_loaded() || netsync_globals.final_state_noted)
    {
        log_game_packet_refusal(from, _game_refusal_wrong_stage, "a drift report outside a running game");
        return;
    }
    switch (check_reported_state(state.tick, state.random_seed, state.state_hash, chained))
    {
    case _reported_state_unchecked:
        log_game_packet_refusal(from, _game_refusal_unchecked,
                                "a drift report of a tick the host's sync commands did not name or no longer keep");
        return;
    case _reported_state_shared:
        log_game_packet_refusal(from, _game_refusal_malformed, "a drift report of a state the host's game shares");
        return;
    default: break;
    }
    char whose[64];
    name_players_game(from, whose, sizeof(whose));
    LOG_REPEATED_OF_SUBJECT(from, "out of sync at tick %d: %s game left step there (%s %08x, seed %08x): it leaves",
                            state.tick, whose, chained ? "chain" : "state", state.state_hash, state.random_seed);
    // The player hears it first, as of its own game; then it leaves.
    const net_final_state told = drift_state_at(state.tick);
    send_drift_packet(net->game, (uint8_t)from, (int16_t)from, 0, &told);
    network_player_leaves(from, _departure_out_of_step, state.tick);
}

// A player: the host says `player_id` left the game (a departure notice).
static void take_departure_notice(const player_sync_data_packet *packet)
{
    const uint8_t from = packet->header.from;
    net_final_state state;
    int32_t reason = 0;
    if (!extract_player_departure_notice(packet, &state, &reason))
    {
        log_game_packet_refusal(from, _game_refusal_malformed, "a departure notice of no reason known");
        return;
    }
    // A refused order is told to its sender alone; a departure, of another.
    const bool own = packet->player_id_from == get_local_player_id();
    if (from != NET_HOST_PLAYER_ID || local_player_is_network_originator() || own != (reason == _departure_order_refused))
    {
        log_game_packet_refusal(from, _game_refusal_not_allowed, "a departure notice not from the host");
        return;
    }
    if (find_net_player_index(packet->player_id_from) < 0) return; // its drop ran first
    char text[128];
    departure_text(packet->player_id_from, state.tick, reason, text, sizeof(text));
    add_network_notice(text);
}

// A player: the host says `player_id`'s game left step at `tick`, while the
// game ran or at the end barrier.
static void take_drift_notice(int32_t player_id, int32_t tick)
{
    char whose[64];
    name_players_game(player_id, whose, sizeof(whose));
    netsync_globals.hosts_drift_notice_heard = true;
    if (netsync_globals.final_state_noted)
    {
        LOG_REPEATED("out of sync at tick %d: %s game ended differently, the host says", tick, whose);
        note_end_drift(whose, tick);
        return;
    }
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (net->state != _net_game_in_progress || !vesk_map_is_loaded())
    {
        log_game_packet_refusal(NET_HOST_PLAYER_ID, _game_refusal_wrong_stage, "a drift notice outside a game");
        return;
    }
    LOG_REPEATED("out of sync at tick %d: %s game left step there, the host says", tick, whose);
    // Told already: this machine does not report it back.
    if (netsync_globals.drift_tick_told == NONE || tick < netsync_globals.drift_tick_told)
        netsync_globals.drift_tick_told = tick;
    game_is_out_of_sync_at_tick(__FILE__, __LINE__, tick);
}

// A barrier packet with the out-of-sync flag: a player's report to the host,
// or the host's notice to a player.
static void handle_drift_packet(const player_sync_data_packet *sync_packet)
{
    const uint8_t from = sync_packet->header.from;
    net_final_state state;
    if (!extract_final_state_from_player_sync_data_packet(sync_packet, &state))
    {
        log_game_packet_refusal(from, _game_refusal_malformed, "a drift report or notice without its tick");
        return;
    }
    const bool report = (sync_packet->flags & _player_sync_data_packet_destined_for_server_flag) != 0;
    const bool host = local_player_is_network_originator();
    if (report && host && sync_packet->player_id_from == from && find_net_player_index(from) >= 0)
        take_drift_report(from, state, (sync_packet->flags & _player_sync_data_packet_chain_flag) != 0);
    else if (!report && !host && from == NET_HOST_PLAYER_ID)
        take_drift_notice(sync_packet->player_id_from, state.tick);
    else
        log_game_packet_refusal(from, _game_refusal_not_allowed, "a drift report or notice from who may not send it");
}
bool in_netsync(void) { return netsync_globals.in_netsync; }
bool netsync_failed(void) { return netsync_globals.do_not_report_scoring; }
int32_t netsync_waits_shown(void) { return netsync_globals.waits_shown; }

void clear_vesk_sync_player(int16_t index)
{
    if (index < 0 || index >= MAXIMUM_NET_GAME_PLAYERS) return;
    memset(&netsync_globals.sync.players_data[index], 0, sizeof(vesk_sync_player_data));
    netsync_globals.sync.client_received_player_sync_data[index] = false;
}

void remove_vesk_sync_player(int16_t index, int16_t count)
{
    vesk_sync_data_s *sync = &netsync_globals.sync;
    if (index < 0 || index >= count || count > MAXIMUM_NET_GAME_PLAYERS) return;
    const size_t later = (size_t)(count - index - 1);
    memmove(&sync->players_data[index], &sync->players_data[index + 1], later * sizeof(sync->players_data[0]));
    memmove(&sync->client_received_player_sync_data[index], &sync->client_received_player_sync_data[index + 1],
            later * sizeof(sync->client_received_player_sync_data[0]));
    clear_vesk_sync_player((int16_t)(count - 1));
}

// ---- packets --------------------------------------------------------------------------

bool send_begin_sync_data_packet(net_game_data *game)
{
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    return build_begin_sync_data_packet(packet, sizeof(packet), kSendToAllPlayers) && net_send(game, packet, 0);
}

bool send_player_sync_data_packet(net_game_data *game, bool to_host, int16_t player_id_from)
{
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    const uint16_t length =
        build_player_sync_data_packet(packet, sizeof(packet), to_host ? (uint8_t)NET_HOST_PLAYER_ID : (uint8_t)kSendToAllPlayers,
                                      player_id_from, to_host ? _player_sync_data_packet_destined_for_server_flag : 0);
    return length && net_send(game, packet, 0);
}

bool send_player_sync_data_confirmation(net_game_data *game, uint8_t to, int16_t player_id_from)
{
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    return build_player_sync_data_packet(packet, sizeof(packet), to, player_id_from, 0) && net_send(game, packet, 0);
}

void handle_begin_sync_data_packet(void *packet)
{
    (void)packet; // the packet rules take it from the host only
    netsync_globals.sync.originator_told_us_to_begin = true;
}

void handle_player_sync_data_packet(void *packet)
{
    const player_sync_data_packet *sync_packet = (const player_sync_data_packet *)packet;
    const uint8_t from = sync_packet->header.from;
    // The rules pass the lengths between the plain packet and the one with
    // a final state; only those two are barrier packets.
    const uint16_t length = sync_packet->header.messageLen;
    if (length == PLAYER_DEPARTURE_NOTICE_SIZE)
    {
        take_departure_notice(sync_packet);
        return;
    }
    if (length != sizeof(player_sync_data_packet) && length != PLAYER_SYNC_FINAL_STATE_SIZE)
    {
        log_game_packet_refusal(from, _game_refusal_malformed,
                                "a barrier packet of neither a plain nor a final state's length");
        return;
    }
    if (sync_packet->flags & _player_sync_data_packet_out_of_sync_flag)
    {
        handle_drift_packet(sync_packet);
        return;
    }
    const int16_t index = find_net_player_index(sync_packet->player_id_from);
    if (index < 0)
    {
        log_game_packet_refusal(from, _game_refusal_unknown_player, "a barrier report naming a player not listed");
        return;
    }
    const bool report = (sync_packet->flags & _player_sync_data_packet_destined_for_server_flag) != 0;
    if (report && local_player_is_network_originator())
    {
        if (sync_packet->player_id_from != from)
        {
            log_game_packet_refusal(from, _game_refusal_not_allowed, "a barrier report naming another player");
            return;
        }
        if (get_vesk_net_globals()->state == _net_game_in_progress && game_server_game_in_progress())
            midgame_joiner_reported(index);
        else
        {
            vesk_sync_player_data *player = &netsync_globals.sync.players_data[index];
            player->arrived = true;
            player->final_state_reported =
                extract_final_state_from_player_sync_data_packet(packet, &player->final_state);
        }
        return;
    }
    // A confirmation speaks for the host: only the host's own player sends one.
    if (report || from != NET_HOST_PLAYER_ID)
    {
        log_game_packet_refusal(from, _game_refusal_not_allowed, "a barrier confirmation not from the host");
        return;
    }
    net_final_state state;
    if (extract_final_state_from_player_sync_data_packet(packet, &state) && netsync_globals.final_state_noted &&
        !netsync_globals.hosts_final_state_compared && !local_player_is_network_originator())
    {
        netsync_globals.hosts_final_state_compared = true;
        if (!same_final_state(state, netsync_globals.final_state)) report_end_drift("the host's", state);
    }
    netsync_globals.sync.client_received_player_sync_data[index] = true;
}

// ---- the barrier ----------------------------------------------------------------------

namespace
{
// The progress dialog of one wait, opened only when the wait lasts.
struct barrier_progress
{
    bool open = false;
    ~barrier_progress() { close(); }
    // True when the player cancelled.
    bool pass(uint32_t started, const char *text)
    {
        if (netsync_cancel_check && netsync_cancel_check()) return true;
        if (!open && machine_tick_count() - started > NETSYNC_PROGRESS_DELAY_MS)
        {
            network_progress(_progress_open_without_bar, text, 0);
            open = true;
            ++netsync_globals.waits_shown;
        }
        return open && network_progress(_progress_modal_pass, nullptr, 0);
    }
    void set_text(const char *text)
    {
        if (open) network_progress(_progress_set_message, text, 0);
    }
    void close(void)
    {
        if (open) network_progress(_progress_close, nullptr, 0);
        open = false;
    }
};
} // namespace

static bool timed_out(uint32_t started, bool host = true)
{
    const uint32_t bound = (uint32_t)netsync_timeout_ms() + (host ? 0u : (uint32_t)net_silence_limit_ms());
    return machine_tick_count() - started >= bound;
}

// The host's bound passed: the listed players who have not reported are
// dropped, as when their connections break, and the barrier goes on.
static void drop_players_not_arrived(void)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    vesk_sync_data_s *sync = &netsync_globals.sync;
    for (int16_t i = (int16_t)(get_net_player_count() - 1); i >= 0; --i)
    {
        if (i >= get_net_player_count() || sync->players_data[i].arrived) continue;
        const int16_t player_id = (int16_t)get_net_player(i)->unique_identifier;
        LOG_REPEATED_OF_SUBJECT(player_id, "player %d did not answer the barrier within %d seconds: dropped",
                                player_id, netsync_timeout_ms() / 1000);
        drop_player_due_to_error(net->game, player_id);
        // A player the library no longer knew leaves the list here.
        const int16_t index = find_net_player_index(player_id);
        if (index < 0 || sync->players_data[index].arrived) continue;
        if (netsync_globals.in_netsync) note_player_dropped_during_netsync(player_id);
        else remove_player_from_player_list(player_id);
    }
}

// The session is gone: neither a host nor a client that still has players.
static bool connection_gone(void)
{
    net_game_data *game = get_vesk_net_globals()->game;
    if (!game || !networking_active(game)) return true;
    return !net_i_am_the_server(game) && net_get_player_count(game) == 0;
}

// This machine's report; at the end barrier it carries the final state to a
// host that takes it.
static bool send_report(net_game_data *game, int16_t message_index)
{
    const int16_t host = find_net_player_index(NET_HOST_PLAYER_ID);
    if (message_index != _netsync_end_message_index || !netsync_globals.final_state_noted || host < 0 ||
        !player_takes_final_states(host))
        return send_player_sync_data_packet(game, true, get_local_player_id());
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    const uint16_t length = build_player_sync_data_packet_with_final_state(
        packet, sizeof(packet), (uint8_t)NET_HOST_PLAYER_ID, get_local_player_id(),
        _player_sync_data_packet_destined_for_server_flag, &netsync_globals.final_state);
    return length && net_send(game, packet, 0);
}

static bool leave_barrier_early(int16_t message_index)
{
    net_game_data *game = get_vesk_net_globals()->game;
    if (message_index == _netsync_end_message_index && game && !local_player_is_network_originator())
        send_report(game, message_index);
    return false;
}

// The host's final state to each player that takes it, before the
// confirmations that end its barrier (a player's packets arrive in order).
static void send_final_state_to_players(net_game_data *game)
{
    if (!netsync_globals.final_state_noted) return;
    for (int16_t i = 0; i < get_net_player_count(); ++i)
    {
        const int32_t id = get_net_player(i)->unique_identifier;
        if (id == get_local_player_id() || !player_takes_final_states(i)) continue;
        uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
        const uint16_t length = build_player_sync_data_packet_with_final_state(
            packet, sizeof(packet), (uint8_t)id, (int16_t)get_local_player_id(), 0, &netsync_globals.final_state);
        if (length) net_send(game, packet, 0);
    }
}

// Waits for every listed player's report (host only).  False on a time-out,
// or on a cancel at the start barrier.
static bool wait_for_reports(int16_t message_index)
{
    vesk_sync_data_s *sync = &netsync_globals.sync;
    barrier_progress progress;
    const uint32_t started = machine_tick_count();
    int32_t shown = -1;
    for (;;)
    {
        int16_t waiting = -1;
        for (int16_t i = 0; i < get_net_player_count() && waiting < 0; ++i)
            if (!sync->players_data[i].arrived) waiting = i;
        if (waiting < 0) return true;
        if (timed_out(started))
        {
            drop_players_not_arrived();
            continue;
        }
        const int32_t waiting_id = get_net_player(waiting)->unique_identifier;
        if (waiting_id != shown)
        {
            char text[256];
            slprintf(text, sizeof(text), get_networking_string(_netsync_waiting_for_player_message_index),
                     get_net_player(waiting)->appearance.name);
            progress.set_text(text);
            shown = waiting_id;
        }
        vesk_net_process();
        if (progress.pass(started, get_networking_string(_netsync_end_message_index)))
            return message_index != _netsync_start_message_index;
    }
}

bool sync_data_between_players(int16_t message_index)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    vesk_sync_data_s *sync = &netsync_globals.sync;
    if (!net->game) return false;
    const bool host = local_player_is_network_originator();
    const char *text = get_networking_string(message_index);
    if (host)
    {
        for (int16_t i = 0; i < net->player_count; ++i) clear_vesk_sync_player(i);
        send_begin_sync_data_packet(net->game);
    }
    else if (message_index == _netsync_end_message_index && joining_mid_game)
        return leave_barrier_early(message_index);
    memset(sync->client_received_player_sync_data, 0, sizeof(sync->client_received_player_sync_data));

    {
        barrier_progress progress;
        const uint32_t started = machine_tick_count();
        while (!sync->originator_told_us_to_begin)
        {
            if (timed_out(started, host)) return false;
            if (connection_gone()) return leave_barrier_early(message_index);
            vesk_net_process();
            if (progress.pass(started, text)) return leave_barrier_early(message_index);
        }
    }
    sync->originator_told_us_to_begin = false;
    send_report(net->game, message_index);

    if (host)
    {
        if (!wait_for_reports(message_index)) return false;
        if (message_index == _netsync_end_message_index)
        {
            send_final_state_to_players(net->game);
            compare_reported_final_states();
        }
        for (int16_t i = 0; i < net->player_count; ++i)
            send_player_sync_data_packet(net->game, false, (int16_t)net->players[i].unique_identifier);
    }

    barrier_progress progress;
    const uint32_t started = machine_tick_count();
    for (bool gone = false;;)
    {
        bool complete = true;
        for (int16_t i = 0; i < net->player_count && complete; ++i)
            complete = sync->client_received_player_sync_data[i];
        if (complete) return true;
        // What arrived before the connection closed is still read once.
        if (timed_out(started, host) || gone) return false;
        gone = connection_gone();
        vesk_net_process();
        if (progress.pass(started, text)) return false;
    }
}

bool vesk_netsync(void)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (net->state != _net_idle && net->state != _net_reenter_game)
    {
        char text[64];
        slprintf(text, sizeof(text), "in vesk_netsync: what is state %d?", net->state);
        VWARN(false, text);
    }
    // A new game of the session may be forced to an end again.
    set_net_endgame_raised(false);
    netsync_globals.final_state_noted = netsync_globals.hosts_final_state_compared = false;
    forget_drift();
    netsync_globals.sync.number_of_dropped_players_during_netsync = 0;
    forget_early_commands();
    forget_game_packet_refusals();
    netsync_globals.in_netsync = true;
    const bool passed = sync_data_between_players(_netsync_start_message_index);
    netsync_globals.in_netsync = false;
    set_net_state(_net_game_in_progress);
    if (!passed)
    {
        netsync_globals.do_not_report_scoring = true;
        return false;
    }
    if (local_player_is_network_originator())
    {
        uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
        if (build_server_command_packet(packet, sizeof(packet), kSendToServer, _start_sending_null_commands))
            net_send(net->game, packet, 0);
        const bool dropped = sync_player_lists();
        const new_game_parameter_data *parameters = &net->current_game_description.parameters;
        int32_t lowest_build = INT32_MAX;
        for (int32_t i = 0; i < net->player_count_at_game_start; ++i)
            if (net->players_at_game_start[i].build_number < lowest_build)
                lowest_build = net->players_at_game_start[i].build_number;
        if (lowest_build == INT32_MAX) lowest_build = 0;
        const bool joinable = (parameters->option_flags & _game_option_cooperative_flag) &&
                              compute_gameplay_version(parameters, lowest_build) >= MIDGAME_JOIN_MINIMUM_GAMEPLAY_VERSION;
        // The listing goes out once the connections are open again, so the
        // lobby sees the game in progress and open to late joiners.
        if ((!net->game_closed || netgame_autohost_is_on()) && joinable)
        {
            net_allow_connections(net->game, true);
            if (Endpoint *listener = net_get_listener_endpoint(net->game)) ProtocolStartAdvertising(listener);
            if (lobby_connected()) lobby_synchronize_game_description();
        }
        else
        {
            if (dropped) log_message(__FILE__, __LINE__, "players left while the game started");
            // A game that takes nobody new is listed closed and in progress
            // (its set-up was listed open and waiting).
            if (lobby_connected()) lobby_synchronize_game_description();
        }
    }
    netsync_globals.do_not_report_scoring = false;
    return true;
}

void note_player_dropped_during_netsync(int16_t player_id)
{
    vesk_sync_data_s *sync = &netsync_globals.sync;
    const int16_t index = find_net_player_index(player_id);
    if (index >= 0) sync->players_data[index].arrived = true;
    if (sync->number_of_dropped_players_during_netsync < MAXIMUM_NET_GAME_PLAYERS)
        sync->netsync_dropped_player_ids[sync->number_of_dropped_players_during_netsync++] = (uint32_t)player_id;
}

bool sync_player_lists(void)
{
    vesk_sync_data_s *sync = &netsync_globals.sync;
    net_game_data *game = get_vesk_net_globals()->game;
    for (uint32_t i = 0; i < sync->number_of_dropped_players_during_netsync; ++i)
    {
        const int32_t player_id = (int32_t)sync->netsync_dropped_player_ids[i];
        LOG_REPEATED_OF_SUBJECT(player_id, "player %d left while the game started; it is dropped", (int)player_id);
        remove_player_from_player_list(player_id);
        uint8_t buffer[MAXIMUM_COMMAND_SIZE];
        if (command_header *command = build_drop_player_command(buffer, player_id)) send_command_to_host(command);
        if (game) net_delete_player(game, (int16_t)player_id);
    }
    const bool any = sync->number_of_dropped_players_during_netsync > 0;
    sync->number_of_dropped_players_during_netsync = 0;
    return any;
}

// ---- who may start ---------------------------------------------------------------------

// The players outside the first observer's team are at least one (true
// without an observer).
static bool someone_plays_against_the_observer(void)
{
    const int16_t count = get_net_player_count();
    for (int16_t i = 0; i < count; ++i)
    {
        const new_player_data *observer = get_net_player(i);
        if (!(observer->flags & _player_is_observer_flag)) continue;
        int32_t team = 0;
        if (observer->unique_identifier != -1)
            for (int16_t j = 0; j < count; ++j)
                if (get_net_player(j)->team_captain_identifier == observer->unique_identifier) ++team;
        return (team ? count - team : count - 1) >= 1;
    }
    return true;
}

bool enough_players_agree_to_start_game(void)
{
    const int16_t count = get_net_player_count();
    if (count == 0) return false;
    for (int16_t i = 0; i < count; ++i)
        if (!get_net_player(i)->agreed_to_play) return false;
    return someone_plays_against_the_observer();
}

bool net_enough_players_for_ranked_game(void)
{
    if (!lobby_room_is_ranked()) return true;
    return get_net_player_count() > 0 && someone_plays_against_the_observer();
}

void i_agree_to_play_persistent(bool persistent)
{
    new_player_data player;
    if (get_net_player_count() == 0 || !get_local_player(&player)) return;
    player.agreed_to_play = true;
    player.persistent_ready = persistent;
    update_player_data(&player);
}

bool vesk_netunsync(void)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (net->state != _net_game_in_progress)
    {
        log_message(__FILE__, __LINE__, "in vesk_netunsync: what is state %d?", net->state);
        return false;
    }
    note_network_game_final_state(); // a game whose map is still loaded
    if (local_player_is_network_originator())
    {
        // The server is the host's own: stopped directly, as its stop command would.
        dispose_game_server();
        const vesk_sync_data_s *sync = get_vesk_sync_data();
        for (int16_t i = net->player_count - 1; i >= 0; --i)
            if (!sync->players_data[i].arrived && net->players[i].unique_identifier != get_local_player_id())
                drop_player_due_to_error(net->game, (int16_t)net->players[i].unique_identifier);
    }
    if (!sync_data_between_players(_netsync_end_message_index))
    {
        log_message(nullptr, -1, "netunsync failed.  What's that mean?");
        return false;
    }
    set_net_state(_net_idle);
    return true;
}
