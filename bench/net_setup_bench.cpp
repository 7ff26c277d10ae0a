// The network game's set-up dialog over the demo data (the build's program
// directory, made by scripts/build_demo_data.sh), each figure printed beside
// its target (the counters ending in "target"):
// - one pass of the dialog's loop (the modal pass, the refresh of its items,
//   the whole dialog drawn into a 640 x 480 back buffer of the 32-bit
//   encoding)
//   with 16 players listed and 64 chat lines: at most 2 ms;
// - a chat line the host sends on loopback is shown in a joiner's chat log
//   within one frame (1/30 s) of being sent.
// The host is the tests' raw peer, speaking the protocol from its wire format.

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <poll.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_screen.h"
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmaps.h"
#include "cseries/cstrings.h"
#include "demo_map_bench.h"
#include "game_records.h"
#include "interface_definitions.h"
#include "networking/network_constants.h"
#include "networking_procedures.h"
#include "screen.h"
#include "support/net_peers.h"
#include "vesk_networking/netgame_setup.h"
#include "vesk_networking/netgame_setup_dialog.h"
#include "vesk_networking/networking_preferences.h"
#include "vesk_networking/network.h"
#include "vesk_networking/vesk_chat.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"

namespace {

#define INTERNET_PROTOCOL FOUR_CHARACTER_CODE('I', 'n', 'e', 't')

constexpr double PASS_TARGET_MILLISECONDS = 2.0;
constexpr double FRAME_MILLISECONDS = 1000.0 / 30.0;
constexpr int32_t LISTED_PLAYERS = 16;
constexpr int32_t CHAT_LINES = 64;
constexpr int32_t JOIN_LIMIT_MS = 5000;

double milliseconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

new_player_data bench_player(const char *name, int32_t id)
{
    new_player_data player;
    memset(&player, 0, sizeof(player));
    player.team_index = NONE;
    player.flags = _player_uses_appearance_colors_flag;
    player.team_captain_identifier = NONE;
    player.unique_identifier = id;
    player.version = CURRENT_VERSION_IDENTIFIER;
    player.build_number = CURRENT_BUILD_NUMBER;
    strlcpy(player.appearance.name, name, sizeof(player.appearance.name));
    return player;
}

// The demo's game as a host describes it.
net_game_description demo_description(void)
{
    new_game_data data;
    get_simulation_game_data(FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), 7, &data);
    data.parameters.type = _game_type_networked;
    net_game_description description;
    build_net_game_description(&description, "Bench", "", &data.parameters, WELLKNOWN_VESK_PORT, 0, 1);
    return description;
}

// The game brought up headless on the demo data, between maps, with the
// menu's interface, over a 640 x 480 software screen; a network session
// without a host yet.  False (the benchmark skipped) when any is missing.
struct setup_program
{
    active_color_environment saved_screen = active_screen;
    bitmap_data *frame = nullptr;
    bool ready = false;

    explicit setup_program(benchmark::State &state)
    {
        if (!start_menu_interface_or_skip(state)) return;
        saved_screen = use_bench_screen();
        frame = new_bitmap(640, 480, -1, _32bit_encoding, 0);
        start_network_module_manager();
        ready = frame && allocate_network_structures_for_game_session(INTERNET_PROTOCOL);
        if (!ready) state.SkipWithError("no network session could be made");
    }
    ~setup_program()
    {
        set_netgame_setup_script(nullptr, nullptr);
        setdown_network_game_from_old_netgame_session(false, true);
        if (frame) dispose_bitmap(frame);
        active_screen = saved_screen;
        dispose_interface_from_old_map();
    }
};

// ---- one pass with 16 players and 64 chat lines ------------------------------------------------

struct pass_timing
{
    benchmark::State *state;
    bitmap_data *frame;
    bool started = false;
    std::chrono::steady_clock::time_point last;
    double total_ms = 0;
    int32_t passes = 0;
    int16_t chat_rows = 0, player_rows = 0;
};

// Every pass: the whole dialog drawn, as when everything in it changed; a
// pass is timed from one call to the next.
int16_t time_one_pass(dialog_data *dialog, void *context)
{
    pass_timing *timing = (pass_timing *)context;
    set_dialog_dirty(dialog);
    draw_dialog_into_bitmap(timing->frame, dialog);
    if (timing->started)
    {
        timing->total_ms += milliseconds_since(timing->last);
        ++timing->passes;
    }
    timing->started = true;
    timing->chat_rows = bitmap_get_listbox_row_count(dialog, _netgame_setup_chat_log_item);
    timing->player_rows = bitmap_get_listbox_row_count(dialog, _netgame_setup_player_list_item);
    timing->last = std::chrono::steady_clock::now();
    return timing->state->KeepRunning() ? (int16_t)NONE : (int16_t)_netgame_setup_leave_item;
}

void one_pass_with_16_players_and_64_chat_lines(benchmark::State &state)
{
    setup_program program(state);
    if (!program.ready) return;
    const vesk_networking_globals *globals = get_vesk_net_globals();
    new_player_data players[LISTED_PLAYERS];
    for (int32_t i = 0; i < LISTED_PLAYERS; ++i)
    {
        char name[32];
        slprintf(name, sizeof(name), "Player %d", (int)i);
        players[i] = bench_player(name, i);
    }
    set_net_player_list(players, LISTED_PLAYERS);
    globals->game->client.local_player_id = 3;
    empty_chat_text_log();
    for (int32_t i = 0; i < CHAT_LINES; ++i)
        add_chat_to_back_log(0, "Player 1", nullptr, "a line of chat long enough to wrap once in the set-up's chat log");
    net_game_description description = demo_description();
    set_net_current_game_description(&description);

    pass_timing timing;
    timing.state = &state;
    timing.frame = program.frame;
    set_netgame_setup_script(time_one_pass, &timing);
    new_game_data data;
    // Continued, so the chat log keeps its 64 lines.
    configure_netgame(&data, &description, true, false);
    if (timing.passes == 0)
    {
        state.SkipWithError("the set-up dialog did not run");
        return;
    }
    state.counters["ms_per_pass"] = timing.total_ms / timing.passes;
    state.counters["chat_rows"] = timing.chat_rows;
    state.counters["player_rows"] = timing.player_rows;
    state.counters["ms_per_pass_target"] = PASS_TARGET_MILLISECONDS;
}
BENCHMARK(one_pass_with_16_players_and_64_chat_lines)->Unit(benchmark::kMillisecond);

// ---- a chat line from the host on loopback ------------------------------------------------------

// The host's side of a join, on its own thread while the joiner waits in
// its join: both players listed and the demo's description sent.
void answer_the_join(raw_listener *listener, std::unique_ptr<raw_peer> *host)
{
    const int accepted = listener->accept_connection(JOIN_LIMIT_MS);
    if (accepted < 0) return;
    *host = std::make_unique<raw_peer>(accepted);
    raw_peer &peer = **host;
    peer.port_bytes_pending = true; // each side's datagram port comes first
    peer.send_bytes({0, 0});
    new_player_data record = bench_player("", 0);
    byte_swap_new_player_data(&record);
    const std::vector<uint8_t> wire((const uint8_t *)&record, (const uint8_t *)&record + sizeof(record));
    net_game_description description = demo_description();
    std::vector<uint8_t> described(MAXIMUM_SINGLE_PACKET_SIZE);
    described.resize(build_vesk_game_description_packet(described.data(), (int32_t)described.size(), 1, &description));
    vesk_packet_byteswapping(described.data(), true);
    const auto start = std::chrono::steady_clock::now();
    while (milliseconds_since(start) < JOIN_LIMIT_MS && !peer.ended)
    {
        pollfd readable = {peer.stream, POLLIN, 0};
        poll(&readable, 1, 10);
        for (const std::vector<uint8_t> &packet : peer.receive_packets())
            if (packet_what(packet) == 0x8000)
            {
                peer.send_bytes(raw_new_player(1, 0, false, "host", wire));
                peer.send_bytes(raw_new_player(1, 1, true, "joiner", wire));
                peer.send_bytes(described);
                return;
            }
    }
}

struct chat_timing
{
    benchmark::State *state;
    raw_peer *host;
    std::vector<uint8_t> line; // a delivered chat line from the host, in wire order
    bool pending = false;
    int16_t rows_before = 0;
    std::chrono::steady_clock::time_point sent;
    double total_ms = 0, worst_ms = 0;
    int32_t lines = 0, passes = 0, worst_passes = 0;
};

// Sends a line, then counts the passes and the time until the joiner's chat
// log shows it.
int16_t time_a_chat_line(dialog_data *dialog, void *context)
{
    chat_timing *timing = (chat_timing *)context;
    const int16_t rows = bitmap_get_listbox_row_count(dialog, _netgame_setup_chat_log_item);
    if (timing->pending)
    {
        ++timing->passes;
        if (rows == timing->rows_before && milliseconds_since(timing->sent) < JOIN_LIMIT_MS) return NONE;
        const double elapsed = milliseconds_since(timing->sent);
        timing->total_ms += elapsed;
        if (elapsed > timing->worst_ms) timing->worst_ms = elapsed;
        if (timing->passes > timing->worst_passes) timing->worst_passes = timing->passes;
        timing->pending = false;
        ++timing->lines;
    }
    if (!timing->state->KeepRunning()) return _netgame_setup_leave_item;
    timing->rows_before = rows;
    timing->passes = 0;
    timing->pending = true;
    timing->sent = std::chrono::steady_clock::now();
    timing->host->send_bytes(timing->line);
    return NONE;
}

void a_chat_line_from_the_host_is_shown_within_a_frame(benchmark::State &state)
{
    setup_program program(state);
    if (!program.ready) return;
    raw_listener listener;
    std::unique_ptr<raw_peer> host;
    std::thread answering(answer_the_join, &listener, &host);
    net_game_description description;
    memset(&description, 0, sizeof(description));
    description.host_or_selector.address.host = ntohl(inet_addr("127.0.0.1"));
    description.port = listener.port;
    new_player_data joiner = bench_player("joiner", NONE);
    char failure[256] = "";
    set_net_state(_net_configuring_game);
    const bool joined = join_or_create_new_netgame_session(&description, &joiner, INTERNET_PROTOCOL,
                                                           _netgame_session_direct, failure, sizeof(failure));
    answering.join();
    if (!joined || !host)
    {
        state.SkipWithError(failure[0] ? failure : "the joiner did not join the raw host");
        return;
    }
    chat_appearance appearance = {};
    strlcpy(appearance.player_name, "host", sizeof(appearance.player_name));
    chat_timing timing;
    timing.state = &state;
    timing.host = host.get();
    timing.line.resize(MAXIMUM_SINGLE_PACKET_SIZE);
    timing.line.resize(build_chat_packet(timing.line.data(), (int32_t)timing.line.size(), &appearance, 1, 0,
                                         _broadcast_chat_message, NONE, "a line from the host"));
    vesk_packet_byteswapping(timing.line.data(), true);
    timing.line[5] = 0; // from the host's player
    set_netgame_setup_script(time_a_chat_line, &timing);
    new_game_data data;
    configure_netgame(&data, &description, false, false);
    if (timing.lines == 0)
    {
        state.SkipWithError("no line was shown");
        return;
    }
    state.counters["ms_to_show"] = timing.total_ms / timing.lines;
    state.counters["ms_to_show_worst"] = timing.worst_ms;
    state.counters["ms_to_show_target"] = FRAME_MILLISECONDS;
    state.counters["passes_to_show_worst"] = timing.worst_passes;
}
BENCHMARK(a_chat_line_from_the_host_is_shown_within_a_frame)->Unit(benchmark::kMillisecond)->Iterations(64);

} // namespace
