// The network transport's hot paths, each figure printed beside its target
// (the counters ending in "target"):
// - taking a packet out of a connection's queue (framing check included):
//   at most 100 ns for a 64-byte packet;
// - one idle of the connection manager over 16 connected endpoints with
//   nothing to read: at most 20 us;
// - a round trip on loopback through two endpoints: at most 50 us more than
//   the same round trip on raw sockets;
// - while 20,000 stray datagrams arrive at a host's listener, every idle
//   stays one pass of the poll and under 1 ms.
// Sockets are on 127.0.0.1 only, at ports the system chooses.

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "bench_clock.h"
#include "networking/connection_manager.h"
#include "networking/network_constants.h"
#include "networking/network_queues.h"
#include "networking/packet_definitions.h"
#include "probe_network_game.h"

// Takes 64-byte packets out of a 16384-byte queue; the queue is refilled
// outside the timing, 250 packets at a time, starting where the last batch
// ended so that packets straddle the ring's end as they do in a game.
static void take_64_byte_packets(benchmark::State &state)
{
    circular_queue queue;
    if (!allocate_circular_queue("s incoming 1", &queue, 16384))
    {
        state.SkipWithError("no queue");
        return;
    }
    uint8_t wire[64] = {};
    write_be16(wire, 0x0001);
    write_be16(wire + 2, sizeof(wire));
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    enum { BATCH = 250 };
    int64_t taken = 0;
    double taking = 0; // ns
    for (auto _ : state)
    {
        state.PauseTiming();
        for (int32_t i = 0; i < BATCH; ++i) copy_data_into_circular_queue(wire, sizeof(wire), &queue);
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        for (int32_t i = 0; i < BATCH; ++i)
        {
            if (get_next_packet_from_queue(&queue, packet, sizeof(packet), true) == _queue_packet_taken) ++taken;
        }
        benchmark::DoNotOptimize(packet);
        taking += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    }
    if (taken != (int64_t)state.iterations() * BATCH) state.SkipWithError("a packet was not taken");
    state.SetItemsProcessed(taken);
    if (taken) state.counters["ns_per_packet"] = taking / (double)taken;
    state.counters["ns_per_packet_target"] = 100;
    free_circular_queue(&queue);
}
BENCHMARK(take_64_byte_packets);

namespace {

sockaddr_in loopback_address(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A remote machine in mode 3: its stream socket shares its datagram
// socket's port, which it sends first.
struct mode_3_peer
{
    int stream = -1, datagram = -1;

    bool connect_to(uint16_t port)
    {
        sockaddr_in address = loopback_address(0);
        datagram = socket(AF_INET, SOCK_DGRAM, 0);
        stream = socket(AF_INET, SOCK_STREAM, 0);
        socklen_t size = sizeof(address);
        const int on = 1;
        if (bind(datagram, (const sockaddr *)&address, sizeof(address)) ||
            getsockname(datagram, (sockaddr *)&address, &size) ||
            setsockopt(stream, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) ||
            bind(stream, (const sockaddr *)&address, sizeof(address)))
        {
            return false;
        }
        const uint16_t own = ntohs(address.sin_port);
        const sockaddr_in host = loopback_address(port);
        const uint8_t bytes[2] = {(uint8_t)(own >> 8), (uint8_t)own};
        return connect(stream, (const sockaddr *)&host, sizeof(host)) == 0 &&
               send(stream, bytes, 2, MSG_NOSIGNAL) == 2;
    }
    ~mode_3_peer()
    {
        if (stream >= 0) close(stream);
        if (datagram >= 0) close(datagram);
    }
};

// A host's game listening in mode 3 on 127.0.0.1 through the connection
// manager, as a game on the local network listens.
struct listening_host
{
    probe_network_game game;
    uint16_t port = 0;
    bool ready = false;

    listening_host(void)
    {
        InitUber();
        register_probe_network_game();
        initialize_connection_manager();
        if (!initialize_probe_network_game(&game, true)) return;
        ProtocolConfig *config = nullptr;
        if (ProtocolCreateConfig(kModuleID, NETWORK_GAME_ID, "Bench", nullptr, 0, nullptr, &config)) return;
        config->configuration_data->host = INADDR_LOOPBACK;
        config->configuration_data->port = 0;
        game.listener = open_connection(&game, config, kOpenListen, nullptr);
        ProtocolDisposeConfig(config);
        if (!game.listener) return;
        port = tcp_endpoint_local_port(game.listener->module, _stream_socket);
        ready = true;
    }
    ~listening_host()
    {
        dispose_probe_network_game(&game);
        EndUber();
    }
    int32_t players(void) const
    {
        int32_t count = 0;
        for (const probe_player_slot &slot : game.slots) count += slot.player_id != NONE;
        return count;
    }
    // Idles until `count` players are in, for at most 2 s.
    bool admit(int32_t count)
    {
        const auto start = std::chrono::steady_clock::now();
        while (players() < count && microseconds_since(start) < 2e6)
        {
            idle_endpoints(&game);
            usleep(200);
        }
        return players() == count;
    }
};

} // namespace

// One idle of the connection manager: the listener and 16 connections, all
// quiet.
static void idle_16_quiet_connections(benchmark::State &state)
{
    listening_host host;
    std::vector<mode_3_peer> peers(MAXIMUM_CLIENT_CONTEXTS);
    bool connected = host.ready;
    // One at a time: the listener's backlog is short.
    for (int32_t i = 0; connected && i < MAXIMUM_CLIENT_CONTEXTS; i++)
    {
        connected = peers[(size_t)i].connect_to(host.port) && host.admit(i + 1);
    }
    if (!connected)
    {
        state.SkipWithError("the connections did not open");
        return;
    }
    // The port exchange is over before timing starts.
    for (int turn = 0; turn < 50; turn++) idle_endpoints(&host.game);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) idle_endpoints(&host.game);
    const double total = microseconds_since(start);
    if (host.players() != MAXIMUM_CLIENT_CONTEXTS) state.SkipWithError("a connection closed");
    state.counters["us_per_idle"] = total / (double)state.iterations();
    state.counters["us_per_idle_target"] = 20;
}
BENCHMARK(idle_16_quiet_connections);

namespace {

// The far end of the endpoint round trip: reads what arrives and answers it.
struct echo_state
{
    uint8_t buffer[256];
    uint32_t received = 0;
    bool echo = false;
};

void round_trip_callback(Endpoint *endpoint, void *context, int32_t code, NMErr, void *cookie)
{
    echo_state *const self = (echo_state *)context;
    if (code == kNMConnectRequest) ProtocolAcceptConnection(endpoint, cookie, round_trip_callback, self + 1);
    if (code != kNMStreamData) return;
    uint32_t length = sizeof(self->buffer);
    uint32_t flags = 0;
    while (ProtocolReceive(endpoint, self->buffer, &length, &flags) == kNMNoError && length)
    {
        self->received += length;
        if (self->echo) ProtocolSend(endpoint, self->buffer, length, kNMBlocking);
        length = sizeof(self->buffer);
    }
}

bool wait_readable(int fd)
{
    pollfd readable{fd, POLLIN, 0};
    return poll(&readable, 1, 1000) == 1;
}

} // namespace

// 64 bytes there and back: through two endpoints of the layer (one idle loop
// does both ends' work) against two raw sockets.
static void loopback_round_trip_through_endpoints(benchmark::State &state)
{
    InitUber();
    // [0]: the listener, [1]: the accepted end (echoes), [2]: the client.
    echo_state ends[3];
    ends[1].echo = true;
    ProtocolConfig *config = nullptr;
    Endpoint *listener = nullptr, *client = nullptr;
    ProtocolCreateConfig(kModuleID, NETWORK_GAME_ID, "Bench", nullptr, 0, nullptr, &config);
    config->configuration_data->host = INADDR_LOOPBACK;
    config->configuration_data->port = 0;
    bool ready = ProtocolOpenEndpoint(config, round_trip_callback, &ends[0], &listener, 0) == kNMNoError;
    if (ready)
    {
        config->configuration_data->port = tcp_endpoint_local_port(listener->module, _stream_socket);
        snprintf(config->configuration_data->host_name, sizeof(config->configuration_data->host_name),
                 "127.0.0.1");
        ready = ProtocolOpenEndpoint(config, round_trip_callback, &ends[2], &client, 1) == kNMNoError;
    }
    // The raw pair.
    const int raw_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback_address(0);
    socklen_t size = sizeof(address);
    bind(raw_listener, (const sockaddr *)&address, sizeof(address));
    getsockname(raw_listener, (sockaddr *)&address, &size);
    listen(raw_listener, 1);
    const int raw_client = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(raw_client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    connect(raw_client, (const sockaddr *)&address, sizeof(address));
    const int raw_server = accept(raw_listener, nullptr, nullptr);
    setsockopt(raw_server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));

    uint8_t packet[64] = {};
    double raw_total = 0, endpoint_total = 0;
    int64_t trips = 0;
    for (int turn = 0; ready && turn < 2000 && ends[1].received == 0; turn++)
    {
        ProtocolIdle(client); // the port exchange and the accept
        if (turn == 10) ProtocolSend(client, packet, 1, kNMBlocking);
    }
    ready = ready && ends[1].received == 1;
    for (int turn = 0; ready && turn < 2000 && ends[2].received == 0; turn++) ProtocolIdle(client);
    ready = ready && ends[2].received == 1;
    if (!ready || raw_server < 0)
    {
        state.SkipWithError("the loopback pairs did not open");
    }
    else
    {
        for (auto _ : state)
        {
            auto start = std::chrono::steady_clock::now();
            uint8_t buffer[64];
            send(raw_client, packet, sizeof(packet), MSG_NOSIGNAL);
            size_t got = 0;
            while (got < sizeof(packet) && wait_readable(raw_server))
                got += (size_t)recv(raw_server, buffer, sizeof(buffer) - got, 0);
            send(raw_server, buffer, sizeof(buffer), MSG_NOSIGNAL);
            got = 0;
            while (got < sizeof(packet) && wait_readable(raw_client))
                got += (size_t)recv(raw_client, buffer, sizeof(buffer) - got, 0);
            raw_total += microseconds_since(start);

            start = std::chrono::steady_clock::now();
            const uint32_t expected = ends[2].received + sizeof(packet);
            ProtocolSend(client, packet, sizeof(packet), kNMBlocking);
            for (int turn = 0; turn < 100000 && ends[2].received < expected; turn++) ProtocolIdle(client);
            endpoint_total += microseconds_since(start);
            if (ends[2].received != expected)
            {
                state.SkipWithError("a round trip was lost");
                break;
            }
            trips++;
        }
    }
    if (trips)
    {
        state.counters["raw_us"] = raw_total / (double)trips;
        state.counters["endpoints_us"] = endpoint_total / (double)trips;
        state.counters["extra_us"] = (endpoint_total - raw_total) / (double)trips;
        state.counters["extra_us_target"] = 50;
    }
    close(raw_client);
    if (raw_server >= 0) close(raw_server);
    close(raw_listener);
    ProtocolDisposeConfig(config);
    EndUber();
}
BENCHMARK(loopback_round_trip_through_endpoints);

// 20,000 datagrams that are no query, sent to a host's listener in bursts of
// 100 between idles: every idle must stay one pass and short.
static void idle_under_a_datagram_flood(benchmark::State &state)
{
    listening_host host;
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    if (!host.ready || sender < 0)
    {
        state.SkipWithError("no listener");
        return;
    }
    const sockaddr_in target = loopback_address(tcp_endpoint_local_port(host.game.listener->module, _datagram_socket));
    const uint8_t junk[64] = {1, 2, 3};
    double longest = 0;
    int32_t most_passes = 0;
    for (auto _ : state)
    {
        for (int32_t sent = 0; sent < 20000; sent += 100)
        {
            for (int32_t i = 0; i < 100; i++)
                sendto(sender, junk, sizeof(junk), 0, (const sockaddr *)&target, sizeof(target));
            const auto start = std::chrono::steady_clock::now();
            idle_endpoints(&host.game);
            longest = std::max(longest, microseconds_since(start));
            most_passes = std::max(most_passes, tcp_last_idle_pass_count());
        }
    }
    close(sender);
    state.counters["longest_idle_us"] = longest;
    state.counters["longest_idle_us_target"] = 1000;
    state.counters["most_passes"] = most_passes;
    state.counters["most_passes_target"] = 1;
}
BENCHMARK(idle_under_a_datagram_flood)->Iterations(3);
