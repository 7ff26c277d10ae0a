// The lobby client's hot paths, each figure printed beside its target (the
// counters ending in "target"):
// - cutting, decoding and swapping a 100-byte packet: at most 2 us;
// - a 64 KB player list swapped and read entry by entry: at most 200 us;
// - a pump with nothing to read: at most 5 us;
// - a login into a room on loopback: at most 200 ms;
// - a service sending 1 MB/s of garbage costs a frame at most 1 ms before
//   the connection closes.
// The service end is the tests' scripted peer on 127.0.0.1.

#include <benchmark/benchmark.h>

#include "bench_directories.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "bench_clock.h"
#include "bitmap_dialogs/network_services.h"
#include "cseries/errors.h"
#include "game_records.h"
#include "metaserver/metaserver_client.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_preferences.h"
#include "metaserver/metaserver_readers.h"
#include "metaserver_lib/DiffieHellman.h"
#include "metaserver_lib/encodePackets.h"
#include "networking/network_queues.h"
#include "support/lobby_script_peer.h"
#include "tag_files/tag_files.h"
#include "uber/uber.h"
#include "vesk.h"

namespace {

const uint8_t bench_key[8] = {1, 2, 3, 4, 5, 6, 7, 8};

void cut_decode_and_swap_a_100_byte_packet(benchmark::State &state)
{
    // A room broadcast of 68 body bytes: 92 encoded, 100 on the wire.
    std::vector<uint8_t> wire(8 + 68 + LOBBY_CODEC_OVERHEAD, 0x41);
    encodeData(wire.data() + 8, 68, bench_key);
    const uint8_t header[8] = {0xDE, 0xAD, 0, 200, 0, 0, 0, 100};
    memcpy(wire.data(), header, 8);
    circular_queue queue;
    allocate_circular_queue("bench", &queue, 131072);
    std::vector<uint8_t> linear(METASERVER_LINEAR_BUFFER_SIZE);
    int64_t packets = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
    {
        copy_data_into_circular_queue(wire.data(), (int32_t)wire.size(), &queue);
        parse_network_stream(&queue, linear.data(), (int32_t)linear.size());
        const int32_t body = decodeData(linear.data() + 8, 92, bench_key);
        write_be32(linear.data() + 4, (uint32_t)(8 + body));
        benchmark::DoNotOptimize(byteswap_packet(linear.data(), 8 + body, false));
        ++packets;
    }
    state.counters["us_per_packet"] = microseconds_since(start) / (double)packets;
    state.counters["us_per_packet_target"] = 2;
    free_circular_queue(&queue);
}
BENCHMARK(cut_decode_and_swap_a_100_byte_packet);

void walk_a_64_kb_player_list(benchmark::State &state)
{
    // Entries of 24 bytes of aux and 100 of player data, in wire order.
    std::vector<uint8_t> wire(8, 0);
    while (wire.size() + 124 <= 65536)
    {
        std::vector<uint8_t> entry(124, 0x20);
        entry[16 + 2] = 0;
        entry[16 + 3] = 100; // player_data_length, big-endian
        wire.insert(wire.end(), entry.begin(), entry.end());
    }
    const uint8_t header[4] = {0xDE, 0xAD, 0, 1};
    memcpy(wire.data(), header, 4);
    write_be32(wire.data() + 4, (uint32_t)wire.size());
    std::vector<uint8_t> packet(wire.size());
    int64_t walks = 0, entries = 0;
    double elapsed = 0;
    for (auto _ : state)
    {
        memcpy(packet.data(), wire.data(), wire.size());
        const auto start = std::chrono::steady_clock::now();
        byteswap_packet(packet.data(), (int32_t)packet.size(), false);
        metaserver_list_walk walk;
        start_player_list_walk(&walk, packet.data(), (int32_t)packet.size());
        metaserver_player_aux_data aux;
        int32_t data_length;
        while (next_metaserver_list_entry(&walk, nullptr, &aux, &data_length)) ++entries;
        elapsed += microseconds_since(start);
        ++walks;
    }
    state.counters["entries"] = (double)entries / (double)walks;
    state.counters["us_per_walk"] = elapsed / (double)walks;
    state.counters["us_per_walk_target"] = 200;
}
BENCHMARK(walk_a_64_kb_player_list);

// The program's start as far as the lobby needs it, in a directory of its own.
struct lobby_program
{
    bench_scratch_directory home{"lobby_bench"};
    lobby_program()
    {
        if (!home.ready()) return;
        set_vesk_headless(true);
        initialize_tag_files();
        tag_files_open(0, nullptr, 0, -1, 0);
        clear_pending_error();
        InitUber();
    }
    ~lobby_program()
    {
        EndUber();
        dispose_tag_files();
    }
};

metaserver_context_data bench_context;
void ignore_event(int32_t, void *, int32_t, void *) {}

void an_idle_pump(benchmark::State &state)
{
    lobby_program program;
    lobby_script_peer service(concat_steps({lobby_login_opening(), {lobby_wait_for_close(60000)}}));
    service.start();
    metaserver_login_data login = {};
    strcpy(login.user, "bench");
    if (!start_metaserver_connection("127.0.0.1", service.listener.port, ignore_event, &login, &bench_context))
    {
        state.SkipWithError("no connection");
        return;
    }
    // Until the login went out: from then on nothing arrives.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (service.body_of(100).empty() && std::chrono::steady_clock::now() < deadline) update_metaserver();
    int64_t pumps = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
    {
        update_metaserver();
        ++pumps;
    }
    state.counters["us_per_pump"] = microseconds_since(start) / (double)pumps;
    if (metaserver_endpoint_died()) state.SkipWithError("the connection closed under the pump");
    state.counters["us_per_pump_target"] = 5;
    disconnect_from_metaserver();
    service.finish();
}
BENCHMARK(an_idle_pump);

void a_login_into_a_room(benchmark::State &state)
{
    lobby_program program;
    double total = 0;
    int64_t logins = 0;
    for (auto _ : state)
    {
        lobby_script_peer room({});
        room.script = lobby_room_welcome();
        const uint8_t salt[16] = {};
        lobby_script_peer host(
            concat_steps({lobby_login_opening(), lobby_challenge_and_rooms(2, salt, room.room_entry(0)),
                          {lobby_wait_for_close()}}));
        room.start();
        host.start();
        set_default_metaserver_host_for_tools("127.0.0.1", host.listener.port);
        new_player_data player = {};
        net_game_description description = {};
        const auto start = std::chrono::steady_clock::now();
        const int16_t result = login_to_metaserver(&description, &player, "bench", "secret");
        total += microseconds_since(start) / 1000.0;
        ++logins;
        logout_of_metaserver();
        host.finish();
        room.finish();
        if (result != _metaserver_game_entered_successfully) state.SkipWithError("the login failed");
    }
    state.counters["ms_per_login"] = total / (double)logins;
    state.counters["ms_per_login_target"] = 200;
}
BENCHMARK(a_login_into_a_room)->Iterations(5);

void a_service_sending_garbage(benchmark::State &state)
{
    lobby_program program;
    double longest = 0;
    int64_t frames = 0;
    for (auto _ : state)
    {
        // 1 MB/s of garbage, 33 KB a frame, after a plausible identifier.
        std::vector<lobby_script_step> script = lobby_login_opening();
        uint32_t seed = 12345;
        for (int32_t chunk = 0; chunk < 32; ++chunk)
        {
            std::vector<uint8_t> garbage(33000);
            for (uint8_t &byte : garbage) byte = (uint8_t)((seed = seed * 1103515245u + 12345u) >> 16);
            if (chunk == 0) garbage[0] = 0xDE, garbage[1] = 0xAD;
            script.push_back(lobby_send_raw(garbage));
            script.push_back(lobby_idle(33));
        }
        script.push_back(lobby_wait_for_close());
        lobby_script_peer service(script);
        service.start();
        metaserver_login_data login = {};
        if (!start_metaserver_connection("127.0.0.1", service.listener.port, ignore_event, &login, &bench_context))
        {
            state.SkipWithError("no connection");
            return;
        }
        // Every frame from the key exchange on, the flood's first included.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!metaserver_endpoint_died() && std::chrono::steady_clock::now() < deadline)
        {
            const auto start = std::chrono::steady_clock::now();
            update_metaserver();
            longest = std::max(longest, microseconds_since(start) / 1000.0);
            ++frames;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        disconnect_from_metaserver();
        service.finish();
    }
    state.counters["frames_before_close"] = (double)frames;
    state.counters["ms_longest_frame"] = longest;
    state.counters["ms_longest_frame_target"] = 1;
}
BENCHMARK(a_service_sending_garbage)->Iterations(3);

} // namespace
