// The lobby as a player sits in it, each figure printed beside its target
// (the counters ending in "target"):
// - a game-list event of 200 new games handled into the lobby dialog's game
//   list: at most 2 ms;
// - a player-list event of 500 new players handled into its player list: at
//   most 2 ms;
// - one player joining, then leaving, a room of 500 (an event of one entry
//   each): at most 200 us an event, which no walk of every row per entry
//   could give;
// - sorting 1,000 game rows of the game list (open, closed, in progress with
//   their time left, unplayable): at most 5 ms;
// - the score packet of a game of the most players built: at most 100 us;
// - the pump of a lobby session of 30 minutes in a room of 50 players and 20
//   games: at most 1 ms a frame.  The room sends the half hour's traffic a
//   second's batch a frame (1/30 s) apart, thirty times the real rate, while
//   the client pumps once a frame; each pump's cost is the processor time of this
//   thread (so a busy machine's preemptions do not count), and the longest
//   is the figure, with the number of events it handled (the room's entry
//   brings both whole lists in one frame).
// The lists are real dialog items (the lobby's own control types) of a
// dialog made from stored bytes; the room is the tests' scripted peer on
// 127.0.0.1, which plays the half hour's traffic compressed in time.

#include <benchmark/benchmark.h>

#include "bench_directories.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_clock.h"
#include "bench_screen.h"
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/player_list_control.h"
#include "cseries/byte_swapping.h"
#include "cseries/errors.h"
#include "cseries/registration.h"
#include "dialog_tag_writer.h"
#include "game_records.h"
#include "metaserver/metaserver_authentication.h"
#include "metaserver/metaserver_client.h"
#include "metaserver/metaserver_controls.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_games.h"
#include "metaserver/metaserver_lists.h"
#include "metaserver/metaserver_preferences.h"
#include "metaserver/metaserver_readers.h"
#include "metaserver_lib/metaserver_packets.h"
#include "register_vesk_controls.h"
#include "shapes.h"
#include "statistics.h"
#include "support/lobby_script_peer.h"
#include "tag_files/tag_files.h"
#include "uber/uber.h"
#include "vesk.h"

namespace {

enum : int16_t
{
    PLAYERS = 1,
    GAMES,
};

// The time this thread ran: a frame's cost without the time another
// program on a shared machine took the processor.
double thread_cpu_milliseconds(void)
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return (double)now.tv_sec * 1000.0 + (double)now.tv_nsec / 1e6;
}

// ---- packets in wire order -------------------------------------------------------------

// A player entry: the aux record and the lobby data of a player named after its id.
std::vector<uint8_t> player_entry(uint32_t id, int32_t verb, int16_t state = _player_state_idle)
{
    player_appearance_data look;
    memset(&look, 0, sizeof(look));
    snprintf(look.name, sizeof(look.name), "Player %u", (unsigned)id);
    strcpy(look.team_name, "Team");
    std::vector<uint8_t> data(MAXIMUM_METASERVER_PLAYER_DATA_SIZE);
    data.resize((size_t)build_metaserver_player_data_from_appearance(data.data(), &look, state));
    std::vector<uint8_t> entry;
    for (int32_t value : {verb, 0}) put_be16(entry, value);
    for (int64_t value : {(int64_t)0, (int64_t)id, (int64_t)3}) put_be32(entry, value); // ranking, player, room
    for (int32_t value : {1, (int32_t)data.size(), 0, 0}) put_be16(entry, value); // caste, length, order
    entry.insert(entry.end(), data.begin(), data.end());
    return entry;
}

// A game entry of 600 bytes of data (names "Game ID" and "Map"); `flags` and
// `seconds` as the room lists them.
std::vector<uint8_t> game_entry(uint32_t id, int32_t verb, uint16_t flags = 0, int32_t seconds = -1)
{
    std::vector<uint8_t> data(METASERVER_GAME_DESCRIPTION_SIZE, 0);
    new_game_parameter_data parameters;
    memset(&parameters, 0, sizeof(parameters));
    parameters.version = LISTED_GAME_VERSION;
    byte_swap_data("parameters", &parameters, sizeof(parameters), 1, new_game_parameter_data_byte_swapping_data);
    memcpy(data.data(), &parameters, sizeof(parameters));
    write_be16(data.data() + offsetof(metaserver_game_description, flags), flags);
    data[offsetof(metaserver_game_description, player_count)] = 2;
    const std::string names = "Game " + std::to_string(id) + std::string(1, '\0') + "Map" + std::string(1, '\0');
    data.insert(data.end(), names.begin(), names.end());
    data.resize(600, 0);
    std::vector<uint8_t> entry;
    for (int64_t value : {(int64_t)id, (int64_t)0x7F000001}) put_be32(entry, value);
    put_be16(entry, 3453);
    entry.insert(entry.end(), {(uint8_t)verb, 1});
    for (int64_t value : {(int64_t)seconds, (int64_t)(1000 + id)}) put_be32(entry, value); // time left, creator
    put_be16(entry, (int32_t)data.size());
    entry.resize(entry.size() + 10);
    entry.insert(entry.end(), data.begin(), data.end());
    return entry;
}

std::vector<uint8_t> joined(const std::vector<std::vector<uint8_t>> &entries)
{
    std::vector<uint8_t> body;
    for (const auto &entry : entries) body.insert(body.end(), entry.begin(), entry.end());
    return body;
}

// A whole packet of `type` in host order, as the pump hands it on.
std::vector<uint8_t> host_order_packet(int16_t type, const std::vector<uint8_t> &body)
{
    std::vector<uint8_t> packet;
    put_be16(packet, PACKET_IDENTIFIER);
    put_be16(packet, type);
    put_be32(packet, (int64_t)(METASERVER_PACKET_HEADER_SIZE + body.size()));
    packet.insert(packet.end(), body.begin(), body.end());
    if (!byteswap_packet(packet.data(), (int32_t)packet.size(), false)) packet.clear();
    return packet;
}

// The flags and time left of the Nth of a room's games: open, closed, in
// progress with a minute or two left, unplayable.
uint16_t game_flags(uint32_t n)
{
    const uint16_t flags[] = {0, _net_game_is_closed_flag, _net_game_in_progress_flag, _net_game_in_progress_flag,
                              _net_game_invalid_flag};
    return flags[n % 5];
}
int32_t game_seconds(uint32_t n) { return (game_flags(n) & _net_game_in_progress_flag) ? 60 + (int32_t)(n * 7 % 120) : -1; }

// ---- the program ---------------------------------------------------------------------------

// The start as far as the lobby needs it, in a directory of its own: the
// store, the shapes, the lobby's controls, and a dialog holding the lobby
// dialog's player and game lists.
struct lobby_play_program
{
    bench_scratch_directory home{"lobby_play_bench"};
    active_color_environment saved_screen = active_screen;
    dialog_data *dialog = nullptr;
    metaserver_lobby_lists lists = empty_metaserver_lobby_lists();

    lobby_play_program()
    {
        if (!home.ready()) return;
        set_vesk_headless(true);
        saved_screen = use_bench_screen();
        initialize_tag_files();
        tag_files_open(0, nullptr, 0, -1, 0);
        clear_pending_error();
        InitUber();
        if (!initialize_shapes()) return;
        initialize_shapes_for_new_map();
        register_vesk_controls();
        register_metaserver_controls();
        dialog_description description;
        description.bounds = {0, 0, 400, 600};
        for (const auto &[type, id] : {std::pair<file_tag, int16_t>{PLAYER_LIST_CONTROL_TAG, PLAYERS},
                                       std::pair<file_tag, int16_t>{GAME_LIST_CONTROL_TAG, GAMES}})
        {
            dialog_item_description item;
            item.type = type;
            item.item_id = id;
            item.bounds = {10, (int16_t)(10 + 290 * (id - 1)), 390, (int16_t)(290 + 290 * (id - 1))};
            description.items.push_back(item);
        }
        const std::vector<uint8_t> bytes = build_dialog_tag_data(description);
        dialog = new_dialog_from_tag_data(FOUR_CHARACTER_CODE('l', 'b', 'b', 'y'), bytes.data(), (int32_t)bytes.size(),
                                          NONE, nullptr, nullptr, NONE, _dialog_has_no_background_flag);
        lists.dialog = dialog;
        lists.player_list_item = PLAYERS;
        lists.game_list_item = GAMES;
    }
    ~lobby_play_program()
    {
        set_metaserver_lobby_lists(nullptr);
        close_all_dialogs();
        dispose_shapes_from_old_map();
        EndUber();
        dispose_tag_files();
        clear_all_registrations();
        active_screen = saved_screen;
    }
    bool ready(benchmark::State &state) const
    {
        if (dialog) return true;
        state.SkipWithError("the lobby's lists could not be made");
        return false;
    }
};

metaserver_context_data bench_context;
int32_t events_this_frame = 0;
void count_event(int32_t, void *, int32_t, void *) { ++events_this_frame; }

// ---- the list events -------------------------------------------------------------------------

// Times `handle` on `packet` into an emptied list `item`, which must then
// hold `rows` rows.
void time_a_list_event(benchmark::State &state, lobby_play_program &program, int16_t item, int16_t rows,
                       const std::vector<uint8_t> &packet,
                       void (*handle)(lobby_play_program &, const std::vector<uint8_t> &))
{
    double elapsed = 0;
    int64_t events = 0;
    for (auto _ : state)
    {
        bitmap_empty_list(program.dialog, item);
        const auto start = std::chrono::steady_clock::now();
        handle(program, packet);
        elapsed += microseconds_since(start);
        ++events;
    }
    if (bitmap_get_listbox_row_count(program.dialog, item) != rows) state.SkipWithError("the list was not filled");
    state.counters["ms_per_event"] = elapsed / 1000.0 / (double)events;
    state.counters["ms_per_event_target"] = 2;
}

void a_game_list_event_of_200_games(benchmark::State &state)
{
    lobby_play_program program;
    if (!program.ready(state)) return;
    std::vector<std::vector<uint8_t>> entries;
    for (uint32_t id = 1; id <= 200; ++id) entries.push_back(game_entry(id, _add_game_verb, game_flags(id), game_seconds(id)));
    time_a_list_event(state, program, GAMES, 200, host_order_packet(_game_list_packet, joined(entries)),
                      [](lobby_play_program &p, const std::vector<uint8_t> &packet) {
                          handle_metaserver_game_list(&p.lists, packet.data(), (int32_t)packet.size());
                      });
}
BENCHMARK(a_game_list_event_of_200_games);

void a_player_list_event_of_500_players(benchmark::State &state)
{
    lobby_play_program program;
    if (!program.ready(state)) return;
    std::vector<std::vector<uint8_t>> entries;
    for (uint32_t id = 1; id <= 500; ++id) entries.push_back(player_entry(id, _add_player_verb));
    time_a_list_event(state, program, PLAYERS, 500, host_order_packet(_player_list_packet, joined(entries)),
                      [](lobby_play_program &p, const std::vector<uint8_t> &packet) {
                          handle_metaserver_player_list(&p.lists, &bench_context, packet.data(), (int32_t)packet.size());
                      });
}
BENCHMARK(a_player_list_event_of_500_players);

void one_player_joining_a_room_of_500(benchmark::State &state)
{
    lobby_play_program program;
    if (!program.ready(state)) return;
    std::vector<std::vector<uint8_t>> entries;
    for (uint32_t id = 1; id <= 500; ++id) entries.push_back(player_entry(id, _add_player_verb));
    const std::vector<uint8_t> room = host_order_packet(_player_list_packet, joined(entries));
    handle_metaserver_player_list(&program.lists, &bench_context, room.data(), (int32_t)room.size());
    const std::vector<uint8_t> join = host_order_packet(_player_list_packet, joined({player_entry(1000, _add_player_verb)}));
    const std::vector<uint8_t> leave = host_order_packet(_player_list_packet, joined({player_entry(1000, _delete_player_verb)}));
    double elapsed = 0;
    int64_t events = 0;
    for (auto _ : state)
    {
        const auto start = std::chrono::steady_clock::now();
        handle_metaserver_player_list(&program.lists, &bench_context, join.data(), (int32_t)join.size());
        handle_metaserver_player_list(&program.lists, &bench_context, leave.data(), (int32_t)leave.size());
        elapsed += microseconds_since(start);
        events += 2;
    }
    if (bitmap_get_listbox_row_count(program.dialog, PLAYERS) != 500) state.SkipWithError("the room lost a player");
    state.counters["us_per_event"] = elapsed / (double)events;
    state.counters["us_per_event_target"] = 200;
}
BENCHMARK(one_player_joining_a_room_of_500);

void sorting_1000_game_rows(benchmark::State &state)
{
    lobby_play_program program;
    if (!program.ready(state)) return;
    for (uint32_t id = 1; id <= 1000; ++id)
    {
        net_game_description game;
        memset(&game, 0, sizeof(game));
        game.game_id = id;
        game.flags = game_flags(id);
        game.game_seconds_remaining = (uint16_t)game_seconds(id);
        add_game_to_list(program.dialog, GAMES, &game);
    }
    if (bitmap_get_listbox_row_count(program.dialog, GAMES) != 1000)
    {
        state.SkipWithError("the games were not listed");
        return;
    }
    double elapsed = 0;
    int64_t sorts = 0;
    uint32_t round = 0;
    for (auto _ : state)
    {
        // Every row changes its state and time left, as after a long pause.
        ++round;
        for (int16_t row = 0; row < 1000; ++row)
        {
            net_game_description game;
            int16_t size = (int16_t)sizeof(game);
            bitmap_get_listbox_row_data(program.dialog, GAMES, row, &game, &size);
            game.flags = game_flags(game.game_id + round);
            game.game_seconds_remaining = (uint16_t)game_seconds(game.game_id * 3 + round);
            bitmap_set_listbox_row_data(program.dialog, GAMES, row, &game, (int16_t)sizeof(game));
        }
        const auto start = std::chrono::steady_clock::now();
        bitmap_sort_list(program.dialog, GAMES);
        elapsed += microseconds_since(start);
        ++sorts;
    }
    state.counters["ms_per_sort"] = elapsed / 1000.0 / (double)sorts;
    state.counters["ms_per_sort_target"] = 5;
}
BENCHMARK(sorting_1000_game_rows);

void building_the_score_packet(benchmark::State &state)
{
    // The largest: every player of a game, every team.
    draxil_net_game_standings standings;
    memset(&standings, 0, sizeof(standings));
    standings.game_ended_code = 2;
    standings.game_version = 1820;
    standings.number_of_players = MAXIMUM_PLAYERS_PER_GAME;
    standings.number_of_teams = MAXIMUM_TEAMS_PER_GAME;
    for (int32_t i = 0; i < MAXIMUM_PLAYERS_PER_GAME; ++i)
    {
        standings.players[i].team_index = (int16_t)(i % MAXIMUM_TEAMS_PER_GAME);
        standings.players[i].units_killed = i * 3;
        standings.players[i].draxil_net_player_id = 1000 + i;
    }
    std::vector<uint8_t> buffer(METASERVER_LINEAR_BUFFER_SIZE);
    int32_t size = 0;
    int64_t packets = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
    {
        size = build_game_score_packet(buffer.data(), (int32_t)buffer.size(), 31, &standings);
        benchmark::DoNotOptimize(buffer.data());
        ++packets;
    }
    if (size <= 0) state.SkipWithError("no score packet was built");
    state.counters["bytes"] = size;
    state.counters["us_per_packet"] = microseconds_since(start) / (double)packets;
    state.counters["us_per_packet_target"] = 100;
}
BENCHMARK(building_the_score_packet);

// ---- a half hour in a room ---------------------------------------------------------------------

enum
{
    ROOM_PLAYERS = 50,
    ROOM_GAMES = 20,
    SESSION_SECONDS = 30 * 60,
};

// The room's traffic, one batch per second of the session: a chat line every
// second, a player changing state every second, a game's listing changing
// every two seconds, and every minute a player leaving and another coming, a
// game withdrawn and another listed, and a keepalive.  Each batch is sent a
// frame (1/30 s) after the last: the half hour passes in a minute, every
// frame bringing a second's traffic, thirty times the real rate.
std::vector<lobby_script_step> half_an_hour_in_a_room(void)
{
    std::vector<lobby_script_step> steps;
    std::vector<std::vector<uint8_t>> players, games;
    for (uint32_t id = 1; id <= ROOM_PLAYERS; ++id) players.push_back(player_entry(id, _add_player_verb));
    for (uint32_t id = 1; id <= ROOM_GAMES; ++id)
        games.push_back(game_entry(id, _add_game_verb, game_flags(id), game_seconds(id)));
    steps.push_back(lobby_send(_player_list_packet, joined(players)));
    steps.push_back(lobby_send(_game_list_packet, joined(games)));
    uint32_t first_player = 1, first_game = 1;
    for (uint32_t second = 1; second <= SESSION_SECONDS; ++second)
    {
        std::vector<uint8_t> chat;
        put_be32(chat, first_player + second % ROOM_PLAYERS);
        const std::string line = "a line of chat in the room, second " + std::to_string(second);
        chat.insert(chat.end(), line.begin(), line.end() + 1);
        steps.push_back(lobby_send(_room_broadcast_packet, chat));
        steps.push_back(lobby_send(_player_list_packet,
                                   player_entry(first_player + second % ROOM_PLAYERS, _change_player_verb,
                                                (second & 1) ? _player_state_in_game : _player_state_idle)));
        if (second % 2 == 0)
        {
            const uint32_t id = first_game + second / 2 % ROOM_GAMES;
            steps.push_back(lobby_send(_game_list_packet, game_entry(id, _change_game_verb, game_flags(id + second),
                                                                     game_seconds(id + second))));
        }
        if (second % 60 == 0)
        {
            steps.push_back(lobby_send(_player_list_packet,
                                       joined({player_entry(first_player, _delete_player_verb),
                                               player_entry(first_player + ROOM_PLAYERS, _add_player_verb)})));
            steps.push_back(lobby_send(_game_list_packet,
                                       joined({game_entry(first_game, _delete_game_verb),
                                               game_entry(first_game + ROOM_GAMES, _add_game_verb)})));
            steps.push_back(lobby_send(_keepalive_packet));
            ++first_player;
            ++first_game;
        }
        steps.push_back(lobby_idle(33));
    }
    return steps;
}

void a_half_hour_lobby_session_in_a_busy_room(benchmark::State &state)
{
    lobby_play_program program;
    if (!program.ready(state)) return;
    set_metaserver_lobby_lists(&program.lists);
    set_metaserver_event_tap(count_event);
    double longest = 0, busy_total = 0;
    int64_t frames = 0, busy_frames = 0, events = 0, longest_events = 0;
    std::vector<double> costs;
    for (auto _ : state)
    {
        lobby_script_peer room({});
        room.script = lobby_room_welcome();
        const std::vector<lobby_script_step> traffic = half_an_hour_in_a_room();
        room.script.insert(room.script.end() - 1, traffic.begin(), traffic.end());
        const uint8_t salt[16] = {};
        lobby_script_peer host(concat_steps({lobby_login_opening(), lobby_challenge_and_rooms(2, salt, room.room_entry(0)),
                                             {lobby_wait_for_close()}}));
        room.start();
        host.start();
        set_default_metaserver_host_for_tools("127.0.0.1", host.listener.port);
        new_player_data player = {};
        strcpy(player.appearance.name, "Bench");
        net_game_description description = {};
        if (login_to_metaserver(&description, &player, "bench", "secret") != _metaserver_game_entered_successfully)
        {
            logout_of_metaserver();
            host.finish();
            room.finish();
            state.SkipWithError("the login failed");
            return;
        }
        // Every frame until the room's last batch has been shown, or a minute.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(SESSION_SECONDS / 30 + 30);
        auto next_frame = std::chrono::steady_clock::now();
        const uint32_t last_game = ROOM_GAMES + SESSION_SECONDS / 60;
        auto last_listed = [&] {
            const int16_t rows = bitmap_get_listbox_row_count(program.dialog, GAMES);
            for (int16_t row = 0; row < rows; ++row)
            {
                net_game_description game;
                int16_t size = (int16_t)sizeof(game);
                bitmap_get_listbox_row_data(program.dialog, GAMES, row, &game, &size);
                if (game.game_id == last_game) return true;
            }
            return false;
        };
        bool done = false;
        while (!done && !metaserver_endpoint_died() && std::chrono::steady_clock::now() < deadline)
        {
            events_this_frame = 0;
            const double start = thread_cpu_milliseconds();
            update_metaserver();
            const double cost = thread_cpu_milliseconds() - start;
            costs.push_back(cost);
            if (cost > longest) longest = cost, longest_events = events_this_frame;
            ++frames;
            done = last_listed();
            if (events_this_frame) busy_total += cost, ++busy_frames, events += events_this_frame;
            next_frame += std::chrono::microseconds(1000000 / 30);
            std::this_thread::sleep_until(next_frame);
        }
        logout_of_metaserver();
        host.finish();
        const std::string failure = room.finish();
        if (!done) state.SkipWithError(("the session did not reach its end: " + failure).c_str());
        state.counters["players_listed"] = bitmap_get_listbox_row_count(program.dialog, PLAYERS);
        state.counters["games_listed"] = bitmap_get_listbox_row_count(program.dialog, GAMES);
    }
    set_metaserver_event_tap(nullptr);
    std::sort(costs.begin(), costs.end());
    state.counters["frames"] = (double)frames;
    state.counters["events"] = (double)events;
    state.counters["frames_with_events"] = (double)busy_frames;
    state.counters["events_in_longest_frame"] = (double)longest_events;
    state.counters["ms_busy_frame_mean"] = busy_frames ? busy_total / (double)busy_frames : 0;
    state.counters["ms_frame_p999"] = costs.empty() ? 0 : costs[costs.size() * 999 / 1000];
    state.counters["ms_longest_frame"] = longest;
    state.counters["ms_longest_frame_target"] = 1;
}
BENCHMARK(a_half_hour_lobby_session_in_a_busy_room)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
