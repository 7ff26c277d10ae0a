// The host's command server, each figure printed beside its target (the
// counters ending in "target"):
// - one frame of `idle_game_server` with 8 arrived players, a null command
//   due every 4 ticks: at most 50 us per frame;
// - the history of a 10-minute game of 8 players, each ordering every 8
//   ticks as `vesk_sim --random-orders` does, with the host's sync commands:
//   at most 4 MB.
// The players are announced to the game layer as the library announces
// them; the host's library game has no connections, so the relays stop at
// the queues.  The host's clock is the test clock, moved 33 ms a frame.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>

#include "commands.h"
#include "cseries/timers.h"
#include "game_time.h"
#include "networking/network_constants.h"
#include "networking/packet_definitions.h"
#include "networking/public_packet_definitions.h"
#include "networking/tcp_module.h"
#include "uber/uber.h"
#include "vesk_networking/network_hooks.h"
#include "vesk_networking/vesk_netsync.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_server.h"

enum
{
    BENCH_PLAYERS = 8,
    FRAME_MS = 33,
    GAME_TICKS = 10 * 60 * 30,
    ORDER_PERIOD_TICKS = 8,
    ORDER_SIZE = 36, // a move of four units to one point
};

static uint32_t bench_now_ms = 1000000;
static uint32_t bench_clock(void) { return bench_now_ms; }

// A host session of 8 arrived players, its clock started.  False when the
// library cannot host.
static bool host_eight_players(void)
{
    InitUber();
    register_network_hooks();
    if (!allocate_network_structures_for_game_session(kModuleID)) return false;
    net_game_description description = {};
    description.parameters.maximum_players = 16;
    new_player_data host = {};
    set_net_state(_net_configuring_game);
    if (!join_or_create_new_netgame_session(&description, &host, kModuleID, _netgame_session_direct)) return false;
    for (int32_t turn = 0; turn < 1000 && get_net_player_count() == 0; ++turn) vesk_net_process();
    for (int16_t id = 1; id < BENCH_PLAYERS; ++id)
    {
        uint8_t packet[42 + sizeof(new_player_data)] = {};
        net_message_header header = {(uint16_t)(kNetLibPacketBit | (int)_player_added_packet_public),
                                     (uint16_t)sizeof(packet), 0, kSendToServer, 0};
        memcpy(packet, &header, sizeof(header));
        memcpy(packet + PLAYER_ADDED_PUBLIC_PLAYER_ID_OFFSET, &id, sizeof(id));
        handle_packet(packet);
    }
    for (int16_t i = 0; i < get_net_player_count(); ++i) get_vesk_sync_data()->players_data[i].arrived = true;
    set_net_state(_net_game_in_progress);
    set_machine_tick_count_for_tests(bench_clock);
    initialize_game_server_for_new_game();
    uint8_t start[16];
    build_server_command_packet(start, sizeof(start), kSendToServer, _start_sending_null_commands);
    handle_game_server_packet(start, 10, kSendToServer, 0);
    return get_net_player_count() == BENCH_PLAYERS;
}

static void leave_session(void)
{
    set_machine_tick_count_for_tests(nullptr);
    initialize_game_server_for_new_game();
    setdown_network_game_from_old_netgame_session(false, true);
    EndUber();
}

static void idle_game_server_with_8_players(benchmark::State &state)
{
    if (!host_eight_players())
    {
        state.SkipWithError("no host session");
        return;
    }
    double spent_us = 0;
    int64_t frames = 0;
    for (auto _ : state)
    {
        bench_now_ms += FRAME_MS;
        const auto start = std::chrono::steady_clock::now();
        idle_game_server();
        spent_us += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        ++frames;
        // The relays pile up in the host's own queue: empty it now and then.
        if (frames % 64 == 0)
        {
            state.PauseTiming();
            vesk_net_process();
            state.ResumeTiming();
        }
    }
    state.counters["us_per_frame"] = frames ? spent_us / (double)frames : 0;
    state.counters["us_per_frame_target"] = 50;
    leave_session();
}
BENCHMARK(idle_game_server_with_8_players)->Iterations(20000)->Unit(benchmark::kMicrosecond);

static void history_of_a_10_minute_game(benchmark::State &state)
{
    if (!host_eight_players())
    {
        state.SkipWithError("no host session");
        return;
    }
    for (auto _ : state)
    {
        uint8_t order[ORDER_SIZE] = {};
        command_header header = {ORDER_SIZE, _command_movement, -1, 0};
        memcpy(order, &header, sizeof(header));
        uint8_t sync[20] = {};
        command_header sync_header = {sizeof(sync), _command_sync, -1, 0};
        memcpy(sync, &sync_header, sizeof(sync_header));
        for (int32_t tick = 0; tick < GAME_TICKS; ++tick)
        {
            bench_now_ms = bench_now_ms + (tick % 3 == 2 ? 34 : 33);
            if (tick % ORDER_PERIOD_TICKS == 0)
                for (int32_t player = 0; player < BENCH_PLAYERS; ++player)
                    vesk_server_send_command((command_header *)order);
            if (tick % SYNC_COMMAND_PERIOD == 0) vesk_server_send_command((command_header *)sync);
            idle_game_server();
            if (tick % 64 == 0) vesk_net_process();
        }
    }
    state.counters["history_MB"] = (double)get_command_history_size() / (1024.0 * 1024.0);
    state.counters["history_MB_target"] = 4;
    leave_session();
}
BENCHMARK(history_of_a_10_minute_game)->Iterations(1)->Unit(benchmark::kMillisecond);
