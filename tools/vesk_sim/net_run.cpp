// vesk_sim's network game: the set-up dialog pressed by a script (the host
// starts once the players it waits for are listed and ready), the start
// barrier, the game run in real time from the host's stream, the end barrier.

#include "net_run.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/chat_list_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "commands.h"
#include "cseries/cseries.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "cseries/timers.h"
#include "determinism_harness.h"
#include "game_records.h"
#include "vesk_networking/player_data_tags.h"
#include "game_time.h"
#include "vesk_random.h"
#include "game_preferences.h"
#include "gameplay_versions.h"
#include "interface_definitions.h"
#include "lobby_procedures.h"
#include "mesh.h"
#include "monster_commands.h"
#include "monsters.h"
#include "networking_procedures.h"
#include "quit_dialog.h"
#include "screen.h"
#include "selection.h"
#include "session_state.h"
#include "iniparser3.0b/inifile.h"
#include "metaserver/metaserver_client.h"
#include "networking/connection_manager.h"
#include "metaserver/metaserver_controls.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_lobby_dialog.h"
#include "metaserver/metaserver_preferences.h"
#include "game_ending.h"
#include "scoring.h"
#include "statistics.h"
#include "vesk_networking/netgame_setup.h"
#include "vesk_networking/network_game_entry.h"
#include "vesk_networking/networking_preferences.h"
#include "vesk_networking/netgame_setup_dialog.h"
#include "vesk_networking/network.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/vesk_chat.h"
#include "vesk_networking/vesk_netsync.h"
#include "vesk_networking/vesk_network_interface.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_server.h"
#include "vesk_networking/vesk_teams.h"

#define INTERNET_PROTOCOL FOUR_CHARACTER_CODE('I', 'n', 'e', 't')

enum
{
    HASH_LINE_PERIOD = 30,           // ticks between "TICK HASH" lines
    RANDOM_ORDER_PERIOD = 8,         // ticks between a process's random orders
    RANDOM_ORDER_UNITS = 4,
    IDLE_FRAME_SLEEP_MICROSECONDS = 1000, // a frame that ran no tick yields the processor
    HOST_LINGER_MS = 5000,           // how long the host waits for the players to leave
    HOST_DEPARTURE_NOTICE_MS = 1000, // a closed connection to the host is told as its departure within this
    HOST_CHAT_DELIVERY_PASSES = 5,   // pump passes that move a relayed line through the host's own queues
    READY_RETRY_MS = 1000,           // a joiner's next press of ready while it is still not ready
    JOIN_RETRY_MS = 1000,            // a joiner back in the lobby dialog tries the listed game again
};

static struct
{
    const net_run_options *options;
    uint32_t started_ms;
    int32_t ticks;
    uint32_t final_hash;
    bool out_of_sync;
    int32_t drift_at; // the tests' planted drift (VESK_TEST_DRIFT_AT_TICK); NONE: none
    // The tests' liar (VESK_TEST_FALSE_DRIFT_REPORTS=TICK:REPEATS): at TICK its
    // game, in step, reports drifts of every kind of tick to the host.
    int32_t lie_at, lie_repeats;
    int32_t frames;
    int32_t last_order_tick;
    uint32_t random_state;
    bool joining;
    uint32_t join_started_ms;
    int32_t last_tick_seen;
    bool restart_pressed;
    bool quit_pressed;
    bool chat_sent;
    bool ready_pressed;
    uint32_t ready_pressed_ms;
    bool start_pressed;
    // the lobby road
    int32_t games_played;
    int32_t games_at_login; // games_played when the player last logged in
    bool lobby_choice_made;
    uint32_t lobby_choice_ms;
    bool play_again_pressed;
    bool back_in_lobby_told;
    bool endgame_open_told;
    uint32_t endgame_opened_ms; // the last endgame dialog's first pass; 0: not yet
    bool endgame_leave_pressed; // by this script, in the last endgame dialog
    bool direct_game; // the direct game after the lobby session
    bool standings_shown;
    size_t next_order; // the first of --orders not yet given
    int32_t final_tick; // the last tick reported and its hash
} run;

static bool out_of_time(void)
{
    return (int32_t)(machine_tick_count() - run.started_ms) >= run.options->wall_limit_ms;
}

// Pumps the session until `done`, the wall-clock limit or `patience_ms`;
// true when done.
template <typename condition> static bool pump_until(condition done, uint32_t patience_ms = UINT32_MAX)
{
    const uint32_t started = machine_tick_count();
    while (!done())
    {
        if (out_of_time() || machine_tick_count() - started >= patience_ms) return false;
        vesk_net_process();
        usleep(IDLE_FRAME_SLEEP_MICROSECONDS);
    }
    return true;
}

// ---- the local player's random orders ----------------------------------------------------

static uint32_t next_random(void)
{
    // xorshift32: the process's own sequence, never the game's.
    uint32_t x = run.random_state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    run.random_state = x ? x : 1;
    return run.random_state;
}

static void give_random_order(void)
{
    if (local_player_index == NONE) return;
    int16_t units[RANDOM_ORDER_UNITS];
    int32_t count = 0;
    const int32_t first = (int32_t)(next_random() % MAXIMUM_MONSTERS_PER_MAP);
    for (int32_t k = 0; k < MAXIMUM_MONSTERS_PER_MAP && count < RANDOM_ORDER_UNITS; ++k)
    {
        const int32_t i = (first + k) % MAXIMUM_MONSTERS_PER_MAP;
        const monster_data *monster = get_monster_data(i);
        if (monster && monster->owner_player_index == local_player_index) units[count++] = (int16_t)i;
    }
    const world_point2d point = {(world_distance)(next_random() % (uint32_t)(mesh_width * 512)),
                                 (world_distance)(next_random() % (uint32_t)(mesh_height * 512))};
    // The ordered units become the local selection, as a player's clicks
    // would make them: each process holds a selection of its own, which no
    // other machine knows and the game's state must not depend on.
    select_nothing();
    for (int32_t i = 0; i < count; ++i) add_monster_index_to_current_selection(units[i]);
    const command_movement_data data = {0, 0, 0, 0};
    // Nothing to order still gives the host a command to stamp.
    if (count == 0) units[0] = NONE;
    handle_movement_command(NONE, &data, count, units, 1, &point);
}

// The host's player opens the quit dialog and presses its restart (or its
// rehost).  A
// dialog is placed on the screen, which a headless run has not opened: there
// the dialog's handler takes the item without it, the same procedure.
static void press_restart(void)
{
    const bool shown = active_screen.screen_initialized && open_quit_dialog();
    fprintf(stderr, "vesk_sim: %s pressed at tick %d%s\n", run.options->rehost ? "rehost" : "restart",
            game_->game_time, shown ? "" : " (no screen: the quit dialog's handler without the dialog)");
    quit_dialog_handler_proc(get_quit_dialog(),
                             run.options->rehost ? _quit_dialog_restore_item : _quit_dialog_restart_item, nullptr);
}

// This process's player leaves the game before its end through the quit
// dialog's Quit, as a player would (without a screen: its handler).
static void press_quit(void)
{
    const bool shown = active_screen.screen_initialized && open_quit_dialog();
    fprintf(stderr, "vesk_sim: quit pressed at tick %d%s\n", game_->game_time,
            shown ? "" : " (no screen: the quit dialog's handler without the dialog)");
    quit_dialog_handler_proc(get_quit_dialog(), _quit_dialog_quit_item, nullptr);
}

// ---- the frames ----------------------------------------------------------------------------

// One drift report as a player's program sends it, whatever it says.
static void send_drift_report(int32_t tick, uint32_t hash, uint32_t seed, bool chained)
{
    const net_final_state state = {tick, hash, seed};
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    const uint16_t flags = (uint16_t)(_player_sync_data_packet_destined_for_server_flag |
                                      _player_sync_data_packet_out_of_sync_flag |
                                      (chained ? _player_sync_data_packet_chain_flag : 0));
    if (build_player_sync_data_packet_with_final_state(packet, sizeof(packet), (uint8_t)NET_HOST_PLAYER_ID,
                                                       get_local_player_id(), flags, &state))
        net_send(get_vesk_net_globals()->game, packet, 0);
}

// The liar: reports of ticks the host cannot check (none, the first, the
// current, one to come, the last there is, a negative one), with this
// game's true state where it keeps one and a false one, `lie_repeats` times;
// then the last sync command's chain and state as they are (the host's
// too), and last that state falsely: the one report the host can check.
static void send_false_drift_reports(void)
{
    const int32_t now = game_->game_time, synced = now - now % SYNC_COMMAND_PERIOD;
    const int32_t unchecked[] = {0, 1, now, now + 100, INT32_MAX, -1};
    for (int32_t repeat = 0; repeat < run.lie_repeats; ++repeat)
        for (const int32_t tick : unchecked)
        {
            uint32_t seed = 0, hash = 0;
            get_sync_snapshot(tick, &seed, &hash);
            send_drift_report(tick, hash, seed, false);
            send_drift_report(tick, hash ^ 0xDEADBEEF, seed, false);
        }
    uint32_t seed = 0, hash = 0;
    sync_chain_data chain;
    if (get_sync_chain_from(synced - SYNC_COMMAND_PERIOD + 1, &chain))
        send_drift_report(synced - SYNC_COMMAND_PERIOD + 1, chain.chain_hash, 0, true);
    if (!get_sync_snapshot(synced, &seed, &hash)) return;
    send_drift_report(synced, hash, seed, false);
    send_drift_report(synced, hash ^ 0xDEADBEEF, seed, false);
    fprintf(stderr, "vesk_sim: false drift reports sent at tick %d\n", now);
}

static void report_tick(int32_t tick, uint32_t hash, void *)
{
    // Each line as it comes: whoever watches the game reads it while it runs.
    if (tick % HASH_LINE_PERIOD == 0)
    {
        printf("%d %08x\n", tick, hash);
        fflush(stdout);
    }
    run.final_tick = tick;
    run.final_hash = hash;
    // One draw no other machine makes: this game leaves step here.
    if (tick == run.drift_at) vesk_random();
    if (tick == run.lie_at) send_false_drift_reports();
    if (game_->flags.load() & _game_is_out_of_sync_flag) run.out_of_sync = true;
}

// The orders of --orders that are due, those of this process's player.
static void give_due_orders(void)
{
    const std::vector<unit_order> *orders = run.options->orders;
    if (!orders || joining_mid_game) return;
    for (; run.next_order < orders->size() && (*orders)[run.next_order].tick <= game_->game_time; ++run.next_order)
    {
        const unit_order &order = (*orders)[run.next_order];
        if (order.player == local_player_index) build_unit_order_commands(&order);
    }
}

// Whether the game ended before the run's length: its countdown ran out (one
// side left, the time limit) at the same tick on every machine.
static bool game_is_over(void) { return (game_->flags.load() & _game_is_over_flag) != 0; }

static bool network_frame(void *)
{
    if (run.out_of_sync || out_of_time() || game_is_over()) return false;
    // A forced endgame ends the game at the same tick on every machine.
    if (game_->forced_endgame_type != _forced_endgame_none) return false;
    give_due_orders();
    if (run.options->quit_at != NONE && !run.quit_pressed && !joining_mid_game && game_->game_time >= run.options->quit_at)
    {
        run.quit_pressed = true;
        press_quit();
        return false;
    }
    if (run.options->restart_at != NONE && !run.restart_pressed && local_player_is_network_originator() &&
        game_->game_time >= run.options->restart_at)
    {
        run.restart_pressed = true;
        press_restart();
    }
    if (run.options->random_orders && !joining_mid_game &&
        (run.frames == 0 || game_->game_time - run.last_order_tick >= RANDOM_ORDER_PERIOD))
    {
        give_random_order();
        run.last_order_tick = game_->game_time;
    }
    if (run.joining && !joining_mid_game)
    {
        const uint32_t elapsed = machine_tick_count() - run.join_started_ms;
        fprintf(stderr, "vesk_sim: caught up at tick %d: %d ticks a second\n", game_->game_time,
                (int)(elapsed ? (int64_t)game_->game_time * 1000 / elapsed : game_->game_time * 1000));
        run.joining = false;
        set_unbounded_game_ticks(false);
    }
    run.frames++;
    // The lobby hears from the program while its game runs, as from the main loop.
    if (run.options->lobby && metaserver_connected()) update_metaserver();
    vesk_net_process();
    // The host's notice of a drift ends the game here as a drift found here does.
    if (game_->flags.load() & _game_is_out_of_sync_flag) return false;
    // A host that left ends the game here once its last ticks have run: the
    // notice of its departure follows the closed connection within a pass or two.
    if (get_vesk_net_globals()->game && !local_player_is_network_originator() &&
        net_get_player_count(get_vesk_net_globals()->game) == 0 &&
        !pump_until([] { return network_game_host_departed(); }, HOST_DEPARTURE_NOTICE_MS))
    {
        fprintf(stderr, "vesk_sim: the connection to the host is gone%s\n",
                connection_to_host_fell_silent() ? " (nothing heard from it within the silence limit)" : "");
        return false;
    }
    if (game_->game_time == run.last_tick_seen && game_->target_time <= game_->game_time)
        usleep(IDLE_FRAME_SLEEP_MICROSECONDS);
    run.last_tick_seen = game_->game_time;
    return true;
}

// ---- the set-up ----------------------------------------------------------------------------

// The game every process starts: the description's parameters, the players
// as they stood at the start with their teams, the local player if listed.
static void build_network_game_data(new_game_data *data)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    memset(data, 0, sizeof(*data));
    data->parameters = net->current_game_description.parameters;
    // The players and their teams by the set-up's own rule, as the program
    // starts a network game: a process plays in step with the program too.
    build_game_start_players(net->players_at_game_start, (int16_t)net->player_count_at_game_start,
                             get_local_player_id(), data);
    char ids[128] = "";
    for (int16_t i = 0; i < data->player_count; ++i)
        slprintfcat(ids, sizeof(ids), " %d", (int)data->players[i].unique_identifier);
    log_message(__FILE__, __LINE__, "network game of %d players (ids%s), local player %d, seed %u", data->player_count,
                ids, data->local_player_index, data->parameters.random_seed);
}

// The player's part in the create-or-join dialog, one item a pass: create
// with a name and port, join an address, or join the first game found.
struct entry_script
{
    enum
    {
        _create,
        _join_address,
        _join_first_found,
    } mode;
    const char *address; // joining an address
    char port[8];        // creating
    int32_t step;
    uint32_t started_ms;
};

// Any other question (a failure, a password, a game that cannot be played
// here, the host's parameters) is answered with its default item, so nothing
// waits.
static int16_t answer_with_default_item(dialog_data *dialog)
{
    const int16_t item = get_dialog_default_item(dialog);
    char text[1024] = "";
    for (const control_data *c = get_first_dialog_control(dialog); c && !text[0]; c = c->next)
        if (c->tag == STATIC_TEXT_CONTROL_TAG) get_bitmap_dialog_static_item_text(dialog, c->item_id, text, sizeof(text));
    fprintf(stderr, "vesk_sim: dialog '%s' (\"%s\") answered with item %d\n", tag_to_string(dialog->tag), text,
            item == NONE ? 1 : (int)item);
    return item == NONE ? (int16_t)1 : item;
}

static int16_t work_entry_dialog(dialog_data *dialog, void *context)
{
    entry_script *script = (entry_script *)context;
    if (dialog->tag != CREATE_OR_JOIN_DIALOG_TAG) return answer_with_default_item(dialog);
    if (out_of_time()) return _create_or_join_cancel_item;
    switch (script->mode)
    {
    case entry_script::_create:
        switch (script->step++)
        {
        case 0: return _create_or_join_create_radio_item;
        case 1:
            set_bitmap_dialog_edit_item_text(dialog, _create_or_join_name_item, "vesk_sim");
            set_bitmap_dialog_edit_item_text(dialog, _create_or_join_port_item, script->port);
            return _create_or_join_port_item;
        case 2: return _create_or_join_accept_item;
        default: return _create_or_join_cancel_item; // the game could not be created
        }
    case entry_script::_join_address:
        switch (script->step++)
        {
        case 0:
            set_checkbox_state(dialog, _create_or_join_by_address_item, true);
            return _create_or_join_by_address_item;
        case 1:
            set_bitmap_dialog_edit_item_text(dialog, _create_or_join_address_item, script->address);
            return _create_or_join_address_item;
        case 2: return _create_or_join_accept_item;
        default: return _create_or_join_cancel_item; // the game could not be joined
        }
    case entry_script::_join_first_found:
        if (bitmap_get_listbox_row_count(dialog, _create_or_join_games_item) == 0)
        {
            usleep(IDLE_FRAME_SLEEP_MICROSECONDS);
            return NONE;
        }
        if (script->step++ > 0) return _create_or_join_cancel_item; // the game could not be joined
        fprintf(stderr, "vesk_sim: found a game after %u ms\n", (unsigned)(machine_tick_count() - script->started_ms));
        bitmap_select_list_item(dialog, _create_or_join_games_item, 0);
        return _create_or_join_accept_item;
    }
    return NONE;
}

// ---- the set-up dialog, pressed by the script -------------------------------------------------

// Types the chat line into the set-up dialog's entry and sends it.
static int16_t send_chat_line(dialog_data *dialog)
{
    run.chat_sent = true;
    set_bitmap_dialog_edit_item_text(dialog, _netgame_setup_chat_entry_item, run.options->chat);
    return _netgame_setup_send_chat_item;
}

// What this process's player presses in the set-up dialog, once per pass:
// the chat line once everybody is listed; a joiner gets ready (after its
// line, so the host passes the line on before it can start); the host starts
// once the players it waits for are listed and ready.
static int16_t press_setup_items(dialog_data *dialog, void *)
{
    usleep(IDLE_FRAME_SLEEP_MICROSECONDS);
    if (out_of_time()) return _netgame_setup_leave_item;
    if (find_net_player_index(get_local_player_id()) < 0) return NONE;
    const bool hosting = local_player_is_network_originator();
    const bool everybody_listed = get_net_player_count() >= run.options->players;
    if (run.options->chat && !run.chat_sent)
        return everybody_listed ? send_chat_line(dialog) : (int16_t)NONE;
    // The ready item toggles: a joiner presses it only while it is not ready
    // (a set-up entered again may have kept its mark), once per second at
    // most, so that a mark on its way back is not undone.
    new_player_data local;
    if (!hosting && get_local_player(&local) && !local.agreed_to_play &&
        (!run.ready_pressed || machine_tick_count() - run.ready_pressed_ms >= READY_RETRY_MS))
    {
        run.ready_pressed = true;
        run.ready_pressed_ms = machine_tick_count();
        return _netgame_setup_ready_item;
    }
    // A host that begins the start barrier has started the game, whether or
    // not its start item came first.
    if (!hosting && get_vesk_sync_data()->originator_told_us_to_begin) return _netgame_setup_game_starts_item;
    if (hosting && !run.start_pressed && everybody_listed && enough_players_agree_to_start_game())
    {
        run.start_pressed = true;
        return _netgame_setup_start_item;
    }
    return NONE;
}

// The set-up of the session's game through its dialog; true when the game
// starts (the game itself is built from the players at its start).
static bool configure_network_game(net_game_description *description)
{
    // The dialog is drawn from the interface's look, as over the main menu.
    if (!initialize_interface_without_map())
    {
        fprintf(stderr, "vesk_sim: the interface cannot be loaded for the set-up dialog\n");
        return false;
    }
    set_netgame_setup_script(press_setup_items, nullptr);
    new_game_data data;
    // A joiner here always gets ready, and follows a host that begins the
    // game before the joiner's own ready mark came back to it: the set-up's
    // check that a joiner is ready is skipped for it.
    const bool follow_the_host = !local_player_is_network_originator();
    const bool starts = configure_netgame(&data, description, false, follow_the_host);
    set_netgame_setup_script(nullptr, nullptr);
    return starts;
}

// This process's player as the network selection makes one: this program's
// version, no team, no identifier yet.
static new_player_data make_local_player(const char *name)
{
    new_player_data player;
    memset(&player, 0, sizeof(player));
    player.team_captain_identifier = NONE;
    player.unique_identifier = NONE;
    player.version = CURRENT_VERSION_IDENTIFIER;
    player.build_number = CURRENT_BUILD_NUMBER;
    slprintf(player.appearance.name, sizeof(player.appearance.name), "%s", name);
    return player;
}

// Creates or joins the game through the create-or-join dialog as this
// process's player, the game being configured; the host's `description`
// becomes the game it edits.
static bool enter_session(net_game_description *description, entry_script *script)
{
    char player_name[32];
    slprintf(player_name, sizeof(player_name), "vesk_sim %d", (int)getpid());
    const new_player_data player = make_local_player(player_name);
    new_player_data wire = player;
    byte_swap_new_player_data(&wire);
    mark_player_data_with_local_tags(&wire); // as the program's joins do
    set_net_state(_net_configuring_game);
    char name[CREATE_OR_JOIN_NAME_SIZE] = "vesk_sim", password[CREATE_OR_JOIN_NAME_SIZE] = "";
    // The dialog's look, as the main menu sets it up between maps.
    if (!initialize_interface_without_map())
    {
        fprintf(stderr, "vesk_sim: the dialogs' look cannot be loaded\n");
        return false;
    }
    script->started_ms = machine_tick_count();
    // The script stays for the whole run: it answers any later question too.
    set_network_dialog_script(work_entry_dialog, script);
    const bool entered = create_or_join_game(INTERNET_PROTOCOL, get_vesk_net_globals()->game, player.appearance.name, name, password,
                                             &wire, (int32_t)sizeof(wire));
    if (!entered)
    {
        const char *failure = last_create_or_join_failure();
        fprintf(stderr, "vesk_sim: no game was %s%s%s\n", script->mode == entry_script::_create ? "created" : "joined",
                failure[0] ? ": " : "", failure);
        return false;
    }
    netgame_session_entered(description);
    return true;
}

static bool host_session(const net_run_options *options)
{
    new_game_data game;
    get_simulation_game_data(string_to_tag(options->map), options->seed, &game);
    net_game_description description;
    memset(&description, 0, sizeof(description));
    slprintf(description.name, sizeof(description.name), "vesk_sim");
    slprintf(description.map_name, sizeof(description.map_name), "%s", options->map);
    description.parameters = game.parameters;
    description.parameters.type = _game_type_networked;
    description.parameters.maximum_players = MAXIMUM_NET_GAME_PLAYERS;
    if (options->time_limit_seconds > 0) description.parameters.time_limit = options->time_limit_seconds * GAME_TICKS_PER_SECOND;
    if (options->cooperative) description.parameters.option_flags |= _game_option_cooperative_flag;
    if (options->gameplay_version != NONE &&
        !update_game_parameters_for_gameplay_version(options->gameplay_version, &description.parameters))
    {
        fprintf(stderr, "vesk_sim: gameplay version %d cannot run\n", (int)options->gameplay_version);
        return false;
    }
    description.port = options->port;
    // --seed decides the game: every description the host sends carries it.
    fix_network_game_seeds(description.parameters.random_seed, description.parameters.initial_team_random_seed);
    // Kept for the whole run, as the script that answers the dialogs is.
    static entry_script script;
    script = {entry_script::_create, nullptr, "", 0, 0};
    slprintf(script.port, sizeof(script.port), "%u", (unsigned)options->port);
    if (!enter_session(&description, &script)) return false;
    fprintf(stderr, "vesk_sim: hosting on port %d\n", (int)options->port);
    if (configure_network_game(&description)) return true;
    fprintf(stderr, "vesk_sim: %d players did not join and get ready in time\n", (int)options->players);
    return false;
}

static bool join_session(const net_run_options *options)
{
    net_game_description description;
    memset(&description, 0, sizeof(description));
    slprintf(description.name, sizeof(description.name), "vesk_sim");
    static entry_script script; // kept for the whole run, as the script that answers the dialogs is
    script = {options->join ? entry_script::_join_address : entry_script::_join_first_found, options->join, "", 0, 0};
    if (!enter_session(&description, &script)) return false;
    if (configure_network_game(&description)) return true;
    fprintf(stderr, "vesk_sim: the host did not start the game in time\n");
    return false;
}

// The end barrier of a game that stopped.
static bool pass_end_barrier(void)
{
    if (vesk_netunsync()) return true;
    fprintf(stderr, "vesk_sim: the end barrier failed\n");
    return false;
}

// What the quit dialog offers the host (`what` names the moment): the real
// dialog, opened and closed again.
static void report_quit_dialog(const char *what)
{
    if (!local_player_is_network_originator()) return;
    if (!open_quit_dialog())
    {
        fprintf(stderr, "vesk_sim: the quit dialog cannot be opened\n");
        return;
    }
    dialog_data *dialog = get_quit_dialog();
    const auto state = [dialog](int16_t item)
    {
        if (!dialog_has_item(dialog, item) || !bitmap_get_item_visible(dialog, item)) return "hidden";
        return bitmap_get_item_enabled(dialog, item) ? "enabled" : "disabled";
    };
    fprintf(stderr, "vesk_sim: %s; the quit dialog's rehost is %s and its restart %s\n", what,
            state(_quit_dialog_restore_item), state(_quit_dialog_restart_item));
    dispose_quit_dialog();
}

// The end barrier found this game, or on the host a player's, out of step
// with the host's: said as a drift found while playing is.
static bool report_end_drift(void)
{
    if (network_game_end_drift_tick() == NONE) return false;
    printf("out of sync at tick %d\n", network_game_end_drift_tick());
    fflush(stdout);
    return true;
}

// One game from the start barrier to its end: 0 at its last tick past the
// end barrier, 17 out of step, 1 for any other failure; `restart` is set when
// the host forced a restart and every machine passed the end barrier.
static void print_standings(void);

// The players as they stood at the start, the start barrier and the game's
// map: false (reported) when the game does not begin.
static bool begin_network_game(void)
{
    const vesk_networking_globals *net = get_vesk_net_globals();
    if (!joining_mid_game)
    {
        // In the order of the ids the host gave: the order in which each
        // machine heard of the players may differ.
        new_player_data players[MAXIMUM_NET_GAME_PLAYERS];
        memcpy(players, net->players, sizeof(players));
        std::sort(players, players + net->player_count, [](const new_player_data &a, const new_player_data &b) {
            return a.unique_identifier < b.unique_identifier;
        });
        set_net_players_at_game_start(players, MAXIMUM_NET_GAME_PLAYERS, net->player_count);
    }
    set_net_state(_net_idle);
    const bool passed = vesk_netsync();
    new_game_data data;
    build_network_game_data(&data);
    char reason[512];
    if (!passed)
    {
        fprintf(stderr, "vesk_sim: the start barrier failed\n");
        return false;
    }
    if (!start_simulation_from_game_data(&data, reason, sizeof(reason)))
    {
        fprintf(stderr, "%s\n", reason);
        return false;
    }
    return true;
}

// Runs the game's ticks to its end: true when it reached its last tick (the
// run's length, or an end every machine counted down before it).
static bool run_network_game_ticks(const net_run_options *options)
{
    run.frames = 0;
    run.last_order_tick = 0;
    run.last_tick_seen = 0;
    run.next_order = 0;
    // The run's length is the game's last tick unless the game ends before:
    // no command from it on runs or enters the film, which closes there.
    note_game_last_tick(options->ticks);
    if (joining_mid_game)
    {
        // The history replays at full speed until the game catches up.
        run.joining = true;
        run.join_started_ms = machine_tick_count();
        set_unbounded_game_ticks(true);
    }
    const bool ran = run_simulation_frames(options->ticks, network_frame, nullptr, report_tick, nullptr);
    run.out_of_sync = run.out_of_sync || (game_->flags.load() & _game_is_out_of_sync_flag);
    // A forced end (restart, rehost) is over too, but did not end the game.
    return ran || (!run.out_of_sync && game_is_over() && game_->forced_endgame_type == _forced_endgame_none);
}

// The lobby road's end of a game that reached its last tick.
static void end_lobby_game(bool hosting)
{
    if (run.direct_game && !lobby_connection_died(false)) report_quit_dialog("the direct game ran");
    if (lobby_connection_died(false))
    {
        report_quit_dialog("the lobby dropped");
        // Without the lobby the endgame leaves at once, end barrier and
        // all: the host first lets the players behind it reach the end.
        if (hosting) pump_until([] { return net_get_player_count(get_vesk_net_globals()->game) <= 1; }, HOST_LINGER_MS);
    }
    // The game's clock runs out at its last tick on every machine alike
    // (a game that ended before keeps its end); the endgame passes the end
    // barrier and reports to the lobby.
    game_->time_remaining = 0;
    end_game(_game_end_game_over);
    printf("final %d %08x\n", run.final_tick, run.final_hash);
    print_standings();
}

// The notices of the network layer this process has not printed yet (a
// player who left and why, an order the host refused, this game out of
// step), as the console shows them: "vesk_sim: notice: ...".
static void print_new_notices(void)
{
    static std::vector<std::string> printed;
    visit_chat_back_log(
        [](void *, const chat_entry_record *entry)
        {
            if (entry->type != _motd_chat_message_type || entry->name[0]) return;
            if (std::find(printed.begin(), printed.end(), entry->text) != printed.end()) return;
            printed.push_back(entry->text);
            fprintf(stderr, "vesk_sim: notice: %s\n", entry->text);
        },
        nullptr);
}

// A direct game's end barrier at its last tick; the host lingers until the
// players have left, so that its last packets reach them.  A game whose host
// left has no barrier: it ends as it stood.
static int end_direct_game(bool hosting)
{
    if (network_game_host_departed())
    {
        printf("final %d %08x\n", run.final_tick, run.final_hash);
        return 0;
    }
    int status = 1;
    const bool passed = pass_end_barrier();
    print_new_notices();
    // A host gone within the barrier leaves a player that ran every tick
    // with its result: nothing of the game is missing, only the comparison.
    const bool host_gone = !hosting && (network_game_host_departed() || !get_vesk_net_globals()->game ||
                                        net_get_player_count(get_vesk_net_globals()->game) == 0);
    if (!passed && host_gone)
        fprintf(stderr, "vesk_sim: the host left during the end barrier; this game ran every tick and keeps its "
                        "result\n");
    if (passed || host_gone)
    {
        printf("final %d %08x\n", run.final_tick, run.final_hash);
        status = 0;
    }
    if (hosting) pump_until([] { return net_get_player_count(get_vesk_net_globals()->game) <= 1; }, HOST_LINGER_MS);
    return status;
}

// How the game that stopped ended: 0 at its last tick past the end barrier
// (or forced to an end, `restart` set), 17 out of step, 1 otherwise.
static int settle_network_game(const net_run_options *options, bool hosting, bool ended, bool *restart)
{
    print_new_notices();
    if (run.out_of_sync)
    {
        // The host hears of it before this player leaves (and says so to the
        // others, who play on); the host's own drift reaches every player.
        pump_until(network_game_drift_told, HOST_LINGER_MS);
        if (hosting)
            pump_until([] { return net_get_player_count(get_vesk_net_globals()->game) <= 1; }, HOST_LINGER_MS);
        print_new_notices();
        if (hosting)
            fprintf(stderr, "vesk_sim: the host's game went out of step at tick %d; the game ended\n",
                    get_out_of_sync_tick());
        else
            fprintf(stderr, "vesk_sim: this game went out of step with the host's at tick %d; it left the game, its "
                            "film kept\n", get_out_of_sync_tick());
        printf("out of sync at tick %d\n", get_out_of_sync_tick());
        return NET_RUN_OUT_OF_SYNC_EXIT;
    }
    if (!ended && (game_->forced_endgame_type == _forced_endgame_restart ||
                   game_->forced_endgame_type == _forced_endgame_rehost))
    {
        printf("%s at tick %d\n", game_->forced_endgame_type == _forced_endgame_restart ? "restarting" : "rehosting",
               game_->game_time);
        fflush(stdout);
        // The program's own endgame follows, once the map is gone.
        *restart = true;
        return 0;
    }
    if (!ended)
    {
        fprintf(stderr, "vesk_sim: the game stopped at tick %d before tick %d\n", game_->game_time, options->ticks);
        return 1;
    }
    if (options->report) options->report();
    if (const char *why = network_game_dropped_because())
        fprintf(stderr, "vesk_sim: the host dropped this player (%s); its game ended at tick %d\n", why,
                game_->game_time);
    else if (network_game_host_link_lost())
        fprintf(stderr, "vesk_sim: the connection to the host was lost (nothing heard from it within the silence "
                        "limit); this player left the game at tick %d\n", game_->game_time);
    else if (network_game_host_departed())
        fprintf(stderr, "vesk_sim: the host left; the game ended at tick %d\n", game_->game_time);
    if (get_local_postgame_outcome() == _postgame_outcome_left)
    {
        // Gone before the end: no barrier; leaving the session tells the others.
        printf("left at tick %d\n", game_->game_time);
        return 0;
    }
    if (!options->lobby) return end_direct_game(hosting);
    end_lobby_game(hosting);
    print_new_notices();
    return 0;
}

// One game from the start barrier to its end: 0 at its last tick past the
// end barrier, 17 out of step, 1 for any other failure; `restart` is set when
// the host forced a restart and every machine passed the end barrier.
static int play_network_game(const net_run_options *options, bool hosting, bool *restart)
{
    *restart = false;
    if (!begin_network_game()) return 1;
    const bool ended = run_network_game_ticks(options);
    // What the end barrier compares: the game as it ended, before its map goes.
    // (A game cut short here, not at its end, has no final state to compare.)
    if (!run.out_of_sync && (ended || game_->forced_endgame_type != _forced_endgame_none)) note_network_game_final_state();
    int status = settle_network_game(options, hosting, ended, restart);
    if (status != NET_RUN_OUT_OF_SYNC_EXIT && report_end_drift()) status = NET_RUN_OUT_OF_SYNC_EXIT, *restart = false;
    stop_simulation();
    // Out of step too: the film is what shows where.
    char reason[512];
    if (options->record && !save_simulation_film(options->record, reason, sizeof(reason)))
    {
        fprintf(stderr, "vesk_sim: %s\n", reason);
        if (status == 0) status = 1;
    }
    return status;
}

// The standings the game built at its end, as the lobby's score report
// carries them: how the game ended, its length, then each player's lobby id,
// team, units killed and lost.
static void print_standings(void)
{
    const draxil_net_game_standings *standings = get_draxil_net_game_standings();
    if (!standings) return;
    printf("standings ended %d elapsed %d players %d", (int)standings->game_ended_code,
           (int)standings->actual_time_elapsed, (int)standings->number_of_players);
    for (int16_t i = 0; i < standings->number_of_players && i < MAXIMUM_PLAYERS_PER_GAME; ++i)
    {
        const draxil_net_game_standings_player &player = standings->players[i];
        printf(" %d:team=%d,killed=%d,lost=%d", (int)player.draxil_net_player_id, (int)player.team_index,
               (int)player.units_killed, (int)player.units_lost);
    }
    printf("\n");
    fflush(stdout);
}

// The host's endgame dialog after a rehost asks for the next game; the
// others wait for it.
static int16_t press_rehost_endgame_items(dialog_data *dialog, void *)
{
    usleep(IDLE_FRAME_SLEEP_MICROSECONDS);
    if (dialog->tag != NETWORK_ENDGAME_DIALOG_TAG && dialog->tag != NETWORK_ENDGAME_FALLBACK_DIALOG_TAG)
        return answer_with_default_item(dialog);
    if (out_of_time()) return _endgame_leave_item;
    if (!local_player_is_network_originator() || run.play_again_pressed) return NONE;
    run.play_again_pressed = true;
    if (bitmap_get_item_enabled(dialog, _endgame_play_again_item)) return _endgame_play_again_item;
    fprintf(stderr, "vesk_sim: the endgame offers no next game\n");
    return _endgame_leave_item;
}

static int play_network_games(const net_run_options *options, bool hosting)
{
    for (bool restart = true; restart;)
    {
        const int status = play_network_game(options, hosting, &restart);
        if (!restart) return status;
        // The host's restart or rehost goes through the program's endgame,
        // which passes the end barrier and enters the set-up again.
        initialize_interface_without_map();
        run.ready_pressed = run.start_pressed = run.play_again_pressed = false;
        set_netgame_setup_script(press_setup_items, nullptr);
        set_network_dialog_script(press_rehost_endgame_items, nullptr);
        new_game_data data;
        restart = handle_network_endgame(&data, game_->endgame_state, game_->forced_endgame_type, false);
        set_netgame_setup_script(nullptr, nullptr);
        set_network_dialog_script(nullptr, nullptr);
        fprintf(stderr, "vesk_sim: %s\n", restart ? "back in the set-up, the same map again" : "the session ended");
        if (!restart) return 1;
    }
    return 1;
}

// The chat lines this process received while the game was configured.  The
// host first lets its own loop deliver the lines it relayed last (a few
// passes of the pump, which moves them through its own player's queues).
static void print_chat_received(bool hosting)
{
    if (hosting)
        for (int32_t pass = 0; pass < HOST_CHAT_DELIVERY_PASSES; ++pass) vesk_net_process();
    visit_chat_back_log([](void *, const chat_entry_record *entry)
                        { fprintf(stderr, "vesk_sim: chat %s: %s\n", entry->name, entry->text); },
                        nullptr);
}

// The run's record and the game brought up, the net modules started;
// false (reported) when the game cannot come up.
static bool begin_run(const net_run_options *options)
{
    memset(&run, 0, sizeof(run));
    run.options = options;
    run.ticks = options->ticks;
    run.started_ms = machine_tick_count();
    run.random_state = options->random_orders_seed ? options->random_orders_seed : 1;
    const char *drift_at = getenv("VESK_TEST_DRIFT_AT_TICK");
    run.drift_at = drift_at && *drift_at ? atoi(drift_at) : NONE;
    const char *lie = getenv("VESK_TEST_FALSE_DRIFT_REPORTS");
    run.lie_at = lie && *lie ? atoi(lie) : NONE;
    run.lie_repeats = lie && strchr(lie, ':') ? atoi(strchr(lie, ':') + 1) : 1;
    char reason[512];
    if (!bring_up_simulation(options->data_directory, reason, sizeof(reason)))
    {
        fprintf(stderr, "%s\n", reason);
        return false;
    }
    start_network_module_manager();
    // The barriers and the closing of the connections end at the run's
    // wall-clock limit too.
    set_netsync_cancel_check(out_of_time);
    set_net_exit_cancel_check(out_of_time);
    return true;
}

int run_network_simulation(const net_run_options *options)
{
    if (!begin_run(options)) return 1;
    if (!allocate_network_structures_for_game_session(INTERNET_PROTOCOL))
    {
        fprintf(stderr, "vesk_sim: no network session could be made\n");
        return 1;
    }
    const bool hosting = options->join == nullptr && !options->find;
    int status = 1;
    empty_chat_text_log();
    if (hosting ? host_session(options) : join_session(options))
    {
        print_chat_received(hosting);
        status = play_network_games(options, hosting);
    }
    fflush(stdout);
    setdown_network_game_from_old_netgame_session(false, true);
    set_network_dialog_script(nullptr, nullptr);
    return status;
}

// ---- the lobby road ---------------------------------------------------------------------------

// The lobby dialog: create a game once (New: the host's parameters dialog is
// accepted as it stands) or join the first listed game once it is listed;
// after the session's games, leave.
static int16_t press_lobby_items(dialog_data *dialog)
{
    if (out_of_time()) return iLEAVE_METASERVER;
    if (run.games_played > run.games_at_login)
    {
        if (!run.back_in_lobby_told)
        {
            // A player who reads the standings and then presses Leave would
            // have pressed the lobby dialog's Leave instead.
            if (!run.endgame_leave_pressed && run.options->leave_after_ms > 0)
                fprintf(stderr, "vesk_sim: the endgame dialog closed before its Leave was pressed\n");
            run.back_in_lobby_told = true;
            fprintf(stderr, "vesk_sim: back in the lobby after %d games\n", (int)run.games_played);
        }
        return iLEAVE_METASERVER;
    }
    if (run.lobby_choice_made)
    {
        // Back in the lobby dialog without a game: the join failed (a host
        // lists its game a moment before it listens); a player tries again.
        if (!run.options->join_listed || machine_tick_count() - run.lobby_choice_ms < JOIN_RETRY_MS) return NONE;
        run.lobby_choice_made = false;
    }
    run.lobby_choice_ms = machine_tick_count();
    if (!run.options->join_listed)
    {
        run.lobby_choice_made = true;
        return iSTART_NEW_GAME;
    }
    if (bitmap_get_listbox_row_count(dialog, iGAME_LIST) == 0) return NONE;
    run.lobby_choice_made = true;
    bitmap_select_list_item(dialog, iGAME_LIST, 0);
    net_game_description game;
    if (get_game_list_selection(dialog, iGAME_LIST, &game))
        fprintf(stderr, "vesk_sim: joining the listed game %u \"%.*s\"%s\n", (unsigned)game.game_id,
                (int)sizeof(game.name), game.name, (game.flags & _net_game_invalid_flag) ? " (listed invalid)" : "");
    return iJOIN_GAME;
}

// The endgame dialog: the host asks for the session's next game once, the
// others wait for it; after the last game everybody leaves.
static int16_t press_endgame_items(dialog_data *dialog)
{
    if (out_of_time()) return _endgame_leave_item;
    if (run.direct_game)
    {
        run.standings_shown = dialog_has_item(dialog, _endgame_stats_list_item) &&
                              bitmap_get_item_visible(dialog, _endgame_stats_list_item);
        fprintf(stderr, "vesk_sim: the direct game's endgame dialog %s the standings\n",
                run.standings_shown ? "shows" : "does not show");
        return _endgame_leave_item;
    }
    if (run.options->hold_endgame && run.games_played >= run.options->games)
    {
        if (!run.endgame_open_told)
        {
            run.endgame_open_told = true;
            fprintf(stderr, "vesk_sim: the endgame dialog is open until the lobby's room dies\n");
        }
        if (!lobby_connection_died(false)) return NONE;
        fprintf(stderr, "vesk_sim: the lobby's room died under the endgame dialog\n");
        return _endgame_leave_item;
    }
    if (run.games_played >= run.options->games)
    {
        if (!run.endgame_opened_ms) run.endgame_opened_ms = machine_tick_count() | 1;
        if ((int32_t)(machine_tick_count() - run.endgame_opened_ms) < run.options->leave_after_ms) return NONE;
        run.endgame_leave_pressed = true;
        return _endgame_leave_item;
    }
    if (!local_player_is_network_originator() || run.play_again_pressed) return NONE;
    run.play_again_pressed = true;
    if (!bitmap_get_item_enabled(dialog, _endgame_play_again_item))
    {
        fprintf(stderr, "vesk_sim: the endgame offers no next game\n");
        return _endgame_leave_item;
    }
    return _endgame_play_again_item;
}

static int16_t work_lobby_dialogs(dialog_data *dialog, void *)
{
    usleep(IDLE_FRAME_SLEEP_MICROSECONDS);
    if (dialog->tag == METASERVER_CLIENT_TAG || dialog->tag == METASERVER_CLIENT_ALTERNATE_TAG)
        return press_lobby_items(dialog);
    if (dialog->tag == NETWORK_ENDGAME_DIALOG_TAG || dialog->tag == NETWORK_ENDGAME_FALLBACK_DIALOG_TAG)
        return press_endgame_items(dialog);
    return answer_with_default_item(dialog);
}

// Splits "HOST:PORT" into `host` (bounded) and `port`; false when malformed.
static bool parse_lobby_address(const char *text, char *host, size_t host_size, uint16_t *port)
{
    const char *colon = strrchr(text, ':');
    if (!colon || colon == text || (size_t)(colon - text) >= host_size) return false;
    char *end = nullptr;
    const long value = strtol(colon + 1, &end, 10);
    if (!colon[1] || *end || value < 1 || value > 65535) return false;
    memcpy(host, text, (size_t)(colon - text));
    host[colon - text] = 0;
    *port = (uint16_t)value;
    return true;
}

// Logs in, making the local player's record and the description the lobby
// dialog offers; false (reported) when the login fails.
static bool log_in_to_lobby(const net_run_options *options, net_game_description *description,
                            new_player_data *player)
{
    char host[256];
    uint16_t port = 0;
    if (!parse_lobby_address(options->lobby, host, sizeof(host), &port))
    {
        fprintf(stderr, "vesk_sim: the lobby's address \"%s\" is not HOST:PORT\n", options->lobby);
        return false;
    }
    set_default_metaserver_host_for_tools(host, port);
    // The game listed and the game hosted have one port: the hosting settings'.
    char settings[64];
    slprintf(settings, sizeof(settings), "[" NET_HOSTING_SECTION_NAME "]\nPortNumber=%u\n", (unsigned)options->port);
    load_poweruser_settings_from_buffer(settings, strlen(settings));
    forget_net_hosting_prefs();

    *player = make_local_player(options->user);
    slprintf(player->appearance.team_name, sizeof(player->appearance.team_name), "vesk_sim");
    new_game_data defaults;
    get_default_new_game_data(&defaults, _game_type_networked, DEFAULT_NETWORK_GAME_SCENARIO);
    char name[NET_GAME_NAME_SIZE];
    slprintf(name, sizeof(name), "%s's game", options->user);
    build_net_game_description(description, name, "", &defaults.parameters, options->port, 0, 1);

    // The host's parameters as they stand are the last network game's: a
    // map asked for is the one the player chose then.
    new_game_parameter_data *chosen = &get_game_preferences()->multi_new_game_params;
    if (options->map && !options->join_listed) chosen->scenario_tag = string_to_tag(options->map);
    if (options->cooperative && !options->join_listed) chosen->option_flags |= _game_option_cooperative_flag;
    if (options->time_limit_seconds > 0 && !options->join_listed)
        chosen->time_limit = options->time_limit_seconds * GAME_TICKS_PER_SECOND;
    if (options->gameplay_version != NONE && !options->join_listed &&
        !update_game_parameters_for_gameplay_version(options->gameplay_version, chosen))
    {
        fprintf(stderr, "vesk_sim: gameplay version %d cannot run\n", (int)options->gameplay_version);
        return false;
    }
    const int16_t result = login_to_metaserver(description, player, options->user, options->password);
    if (result != _metaserver_game_entered_successfully)
    {
        const char *message = get_metaserver_state_message(get_metaserver_login_final_state());
        fprintf(stderr, "vesk_sim: the lobby login failed (%d): %s\n", (int)result, message ? message : "no message");
        return false;
    }
    fprintf(stderr, "vesk_sim: logged in to the lobby as %s, room %d\n", options->user,
            (int)get_metaserver_context()->desired_room);
    return true;
}

// After the lobby session, one game hosted directly by this process alone,
// ended through the program's endgame, and a new login: none of it may find
// a trace of the lobby session before.  0 when all of it went as for a
// player who never used the lobby.
static int play_direct_game_after_lobby(const net_run_options *options, net_game_description *description,
                                        new_player_data *player)
{
    // Kept for the whole run: the set-up's script reads it.
    static net_run_options direct;
    direct = *options;
    direct.players = 1;
    if (!direct.map) direct.map = "demo";
    run.options = &direct;
    run.direct_game = true;
    run.ready_pressed = run.start_pressed = run.play_again_pressed = false;
    if (!allocate_network_structures_for_game_session(INTERNET_PROTOCOL))
    {
        fprintf(stderr, "vesk_sim: no network session could be made for the direct game\n");
        return 1;
    }
    set_net_lobby_game_id(NONE);
    if (!host_session(&direct)) return 1;
    set_network_dialog_script(work_lobby_dialogs, nullptr);
    bool restart = false;
    const int status = play_network_game(&direct, true, &restart);
    if (status != 0) return status;
    initialize_interface_without_map();
    new_game_data data;
    if (handle_network_endgame(&data, game_->endgame_state, game_->forced_endgame_type, false))
    {
        fprintf(stderr, "vesk_sim: the direct game's session went on\n");
        return 1;
    }
    if (!run.standings_shown) return 1;
    run.options = options;
    if (!log_in_to_lobby(options, description, player)) return 1;
    logout_of_metaserver();
    return 0;
}

int run_lobby_simulation(const net_run_options *options)
{
    if (!begin_run(options)) return 1;
    if (!initialize_interface_without_map())
    {
        fprintf(stderr, "vesk_sim: the lobby's dialogs cannot be loaded\n");
        return 1;
    }
    empty_chat_text_log();
    set_network_dialog_script(work_lobby_dialogs, nullptr);
    set_netgame_setup_script(press_setup_items, nullptr);
    int status = 1;
    net_game_description description;
    new_player_data player;
    if (log_in_to_lobby(options, &description, &player))
    {
        new_game_data data;
        bool playing =
            handle_metaserver_dialog_for_session(&data, &description, &player, INTERNET_PROTOCOL, true) != 0;
        if (!playing) fprintf(stderr, "vesk_sim: no game was %s from the lobby\n", options->join_listed ? "joined" : "created");
        while (playing)
        {
            bool lobby_dropped = false;
            bool restart = false;
            const bool hosting = local_player_is_network_originator();
            status = play_network_game(options, hosting, &restart);
            if (status != 0) break;
            run.games_played++;
            run.ready_pressed = run.start_pressed = run.play_again_pressed = false;
            // The map is gone: the endgame dialog has the main menu's look.
            initialize_interface_without_map();
            lobby_dropped = lobby_connection_died(false);
            playing = handle_network_endgame(&data, game_->endgame_state, game_->forced_endgame_type, false);
            if (report_end_drift())
            {
                status = NET_RUN_OUT_OF_SYNC_EXIT;
                break;
            }
            if (playing) fprintf(stderr, "vesk_sim: the session goes on with game %d\n", (int)run.games_played + 1);
            else if (lobby_dropped && run.games_played < options->games)
            {
                // As a player would: Network Game, and log in again.
                fprintf(stderr, "vesk_sim: the lobby dropped during game %d; logging in again\n",
                        (int)run.games_played);
                run.games_at_login = run.games_played;
                run.lobby_choice_made = run.back_in_lobby_told = false;
                if (!log_in_to_lobby(options, &description, &player)) break;
                playing = handle_metaserver_dialog_for_session(&data, &description, &player, INTERNET_PROTOCOL, true) != 0;
            }
        }
        if (status == 0 && run.games_played < options->games)
        {
            fprintf(stderr, "vesk_sim: the session ended after %d of %d games\n", (int)run.games_played,
                    (int)options->games);
            status = 1;
        }
        if (status == 0 && !run.back_in_lobby_told && !options->hold_endgame)
        {
            fprintf(stderr, "vesk_sim: the lobby dialog did not come back after the games\n");
            status = 1;
        }
        if (status == 0 && options->then_direct) status = play_direct_game_after_lobby(options, &description, &player);
    }
    fflush(stdout);
    if (is_vesk_networking()) setdown_network_game_from_old_netgame_session(false, true);
    if (metaserver_connected()) logout_of_metaserver();
    set_netgame_setup_script(nullptr, nullptr);
    set_network_dialog_script(nullptr, nullptr);
    return status;
}

#undef INTERNET_PROTOCOL
