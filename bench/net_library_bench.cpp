// The networking library's hot paths, each figure printed beside its target
// (the counters ending in "target"):
// - the packet rules' check of one received packet: at most 20 ns;
// - routing one packet through net_process on a host with 16 players: at
//   most 2 us a packet;
// - a host relaying 64-byte packets from one joiner to three others on
//   loopback: at least 50,000 a second;
// - a joiner sending 4096-byte packets as fast as its socket takes them
//   costs the host's frame at most 1 ms more, and delays an honest player's
//   packets by at most one frame more than a quiet game does.
// The joiners are plain sockets on 127.0.0.1 speaking the wire format; the
// host is the library's host role, one frame being one net_process.

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "game_records.h"
#include "networking/connection_manager.h"
#include "networking/network_transport_hooks.h"
#include "networking/tcp_module.h"
#include "networking_procedures.h"
#include "vesk_networking/network.h"
#include "vesk_networking/network_hooks.h"
#include "vesk_networking/network_packets.h"
#include "vesk_networking/network_server.h"
#include "vesk_networking/packet_rules.h"
#include "vesk_networking/vesk_packets.h"

namespace {

void put_be16(uint8_t *bytes, uint16_t value)
{
    bytes[0] = (uint8_t)(value >> 8);
    bytes[1] = (uint8_t)value;
}

// A wire-order packet: the header, then `body_length` bytes of `fill`.
std::vector<uint8_t> wire_packet(uint16_t what, uint8_t to, int32_t length, uint8_t fill = 0)
{
    std::vector<uint8_t> packet((size_t)length, fill);
    put_be16(packet.data(), what);
    put_be16(packet.data() + 2, (uint16_t)length);
    packet[4] = to;
    packet[5] = 0;
    packet[6] = packet[7] = 0;
    return packet;
}

// A chat line to everybody of exactly `length` bytes whose text is `text`
// padded with 'x'; the shift of the wire applied.
std::vector<uint8_t> wire_chat_line(int32_t length, uint32_t sequence)
{
    std::vector<uint8_t> packet = wire_packet(_chat_packet, kSendToAllPlayers, length);
    char text[32];
    const int32_t room = length - CHAT_TEXT_OFFSET - 1;
    snprintf(text, sizeof(text), "%0*u", std::min(room, 10), sequence);
    for (int32_t i = 0; i < room; i++)
    {
        const uint8_t c = i < (int32_t)strlen(text) ? (uint8_t)text[i] : (uint8_t)'x';
        packet[(size_t)(CHAT_TEXT_OFFSET + i)] = (uint8_t)(c + CHAT_TEXT_SHIFT);
    }
    packet[(size_t)length - 1] = 0;
    return packet;
}

// The honest player's numbered lines.
constexpr uint16_t NUMBERED_LINE_SIZE = 72;

// A joiner: a plain socket that joined with a join request and reads what
// the host sends, framing it to see the chat lines' numbers.
struct raw_joiner
{
    int fd = -1;
    int16_t player_id = NONE;
    std::vector<uint8_t> pending;
    int64_t chat_packets = 0;
    uint32_t last_sequence = 0;
    bool closed = false;

    bool connect_to(uint16_t port)
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        const int on = 1;
        return fd >= 0 && setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) == 0 &&
               connect(fd, (const sockaddr *)&address, sizeof(address)) == 0 &&
               fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
    }
    bool send_all(const std::vector<uint8_t> &bytes)
    {
        size_t sent = 0;
        for (int turn = 0; sent < bytes.size() && turn < 100000; turn++)
        {
            const ssize_t done = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (done > 0) sent += (size_t)done;
            else if (done < 0 && errno != EAGAIN) return false;
        }
        return sent == bytes.size();
    }
    void join(void)
    {
        std::vector<uint8_t> request = wire_packet(0x8000, kSendToServer, 8 + 7 + 124);
        memcpy(request.data() + 8, "bench", 6); // the name, an empty password
        send_all(request);
    }
    // Reads everything waiting; counts the chat lines and keeps the last number.
    void drain(void)
    {
        uint8_t buffer[65536];
        for (; fd >= 0;)
        {
            const ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
            if (got == 0 || (got < 0 && errno != EAGAIN)) closed = true;
            if (got <= 0) break;
            pending.insert(pending.end(), buffer, buffer + got);
        }
        size_t at = 0;
        while (pending.size() - at >= 8)
        {
            const uint16_t what = (uint16_t)(pending[at] << 8 | pending[at + 1]);
            const uint16_t length = (uint16_t)(pending[at + 2] << 8 | pending[at + 3]);
            if (length < 8 || pending.size() - at < length) break;
            if (what == _chat_packet) chat_packets++;
            if (what == _chat_packet && length == NUMBERED_LINE_SIZE)
            {
                char digits[11] = {};
                for (int i = 0; i < 10; i++) digits[i] = (char)(pending[at + CHAT_TEXT_OFFSET + (size_t)i] - CHAT_TEXT_SHIFT);
                last_sequence = (uint32_t)strtoul(digits, nullptr, 10);
            }
            at += length;
        }
        pending.erase(pending.begin(), pending.begin() + (ptrdiff_t)at);
    }
    void close_socket(void)
    {
        if (fd >= 0) close(fd);
        fd = -1;
    }
};

int64_t host_game_packets = 0;
void count_game_packets(void *packet)
{
    if (!(((const net_message_header *)packet)->what & kNetLibPacketBit)) host_game_packets++;
}
const char *message_text(int16_t) { return ""; }

bool is_logged_in(net_game_data *game, int16_t player_id)
{
    const int16_t slot = server_player_id_to_server_players_index(game, player_id);
    return slot != NONE && TEST_FLAG(game->server->server_players[slot].flags, _server_player_logged_in_flag_bit);
}

// The library's host on 127.0.0.1 (stream only) with its own player and
// `count` joiners that have joined.
struct library_host
{
    net_game_data *game = nullptr;
    uint16_t port = 0;
    std::vector<raw_joiner> joiners;

    bool open(int32_t count)
    {
        static bool registered = false;
        if (!registered)
        {
            register_network_transport_hooks();
            start_network_module_manager();
            register_network_hooks();
            registered = true;
        }
        game = net_enter(0, DEFAULT_NET_QUEUE_SIZE, DEFAULT_NET_QUEUE_SIZE, count_game_packets,
                         vesk_packet_byteswapping, (int16_t)sizeof(new_player_data), nullptr, message_text, nullptr);
        ProtocolConfig *config = nullptr;
        if (!game || ProtocolCreateConfig(kModuleID, NETWORK_GAME_ID, "bench", nullptr, 0, nullptr, &config)) return false;
        config->configuration_data->host = INADDR_LOOPBACK;
        config->configuration_data->port = 0;
        config->configuration_data->connectionMode = kNMStreamMode;
        char failure[256];
        const new_player_data player = {};
        const bool hosting = create_game(game, config, "", false, failure, sizeof(failure)) &&
                             join_game(game, nullptr, "host", "", &player, sizeof(player), failure, sizeof(failure), true);
        ProtocolDisposeConfig(config);
        if (!hosting) return false;
        net_set_maximum_players(game, MAXIMUM_NETWORK_PLAYERS);
        port = tcp_endpoint_local_port(net_get_listener_endpoint(game)->module, _stream_socket);
        joiners.resize((size_t)count);
        for (int32_t index = 0; index < count; index++)
        {
            raw_joiner &joiner = joiners[(size_t)index];
            if (!joiner.connect_to(port)) return false;
            // Admitted players get the next ids in turn.
            joiner.player_id = (int16_t)(index + 1);
            joiner.join();
            const auto start = std::chrono::steady_clock::now();
            while (!is_logged_in(game, joiner.player_id) && microseconds_since(start) < 2e6) frame();
            if (!is_logged_in(game, joiner.player_id)) return false;
        }
        for (int turn = 0; turn < 20; turn++) frame();
        return true;
    }
    void drain_all(void)
    {
        for (raw_joiner &joiner : joiners) joiner.drain();
    }
    void frame(void)
    {
        net_process(game);
        drain_all();
    }
    ~library_host()
    {
        for (raw_joiner &joiner : joiners) joiner.close_socket();
        if (game) net_exit(game);
    }
};

} // namespace

// The rules' verdict on a mix of headers: library, status and game packets,
// from joined and unjoined players, the host's own and on a client.
static void size_table_check(benchmark::State &state)
{
    struct header
    {
        net_packet_receiver receiver;
        uint16_t what, length;
        uint8_t to, from;
    };
    const header headers[] = {
        {_received_from_joined_player, 0x0001, 24, 254, 1},  {_received_from_joined_player, 0x0000, 64, 255, 2},
        {_received_from_unjoined_player, 0x8000, 40, 254, 3}, {_received_by_client, 0x8003, 141, 1, 254},
        {_received_by_client, 0x0009, 44, 255, 0},           {_received_status, 0x8001, 10, 1, 254},
        {_received_from_own_player, 0x0006, 600, 255, 0},     {_received_from_joined_player, 0x8005, 10, 254, 4},
    };
    int64_t packets = 0;
    int32_t accepted = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
    {
        for (const header &h : headers)
        {
            accepted += check_received_packet(h.receiver, h.what, h.length, h.to, h.from, 0) == _packet_accepted;
            benchmark::ClobberMemory();
        }
        packets += (int64_t)(sizeof(headers) / sizeof(headers[0]));
    }
    benchmark::DoNotOptimize(accepted);
    state.counters["ns_per_packet"] = microseconds_since(start) * 1000.0 / (double)packets;
    state.counters["ns_per_packet_target"] = 20;
}
BENCHMARK(size_table_check);

// 100 packets of 64 bytes from one joiner, to everybody, to one player and
// to the host, taken, checked and routed by one frame of a host with 16
// players; the frame's time over the packets.
static void route_packets_on_a_16_player_host(benchmark::State &state)
{
    library_host host;
    if (!host.open(MAXIMUM_NETWORK_PLAYERS - 1))
    {
        state.SkipWithError("the host did not open with 15 joiners");
        return;
    }
    enum { PACKETS = 100 };
    std::vector<uint8_t> burst;
    for (int32_t i = 0; i < PACKETS; i++)
    {
        std::vector<uint8_t> packet = wire_chat_line(64, (uint32_t)i);
        packet[4] = i % 3 == 0 ? (uint8_t)kSendToAllPlayers : i % 3 == 1 ? (uint8_t)(2 + i % 14) : (uint8_t)kSendToServer;
        burst.insert(burst.end(), packet.begin(), packet.end());
    }
    const int16_t sender = host.joiners[0].player_id;
    const int16_t slot = server_player_id_to_server_players_index(host.game, sender);
    circular_queue *const incoming = &host.game->server->server_players[slot].incoming_buffer;
    double routing = 0;
    int64_t routed = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        host.drain_all();
        copy_data_into_circular_queue(burst.data(), (int32_t)burst.size(), incoming);
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        net_process(host.game);
        routing += microseconds_since(start);
        routed += PACKETS;
    }
    if (net_get_player_count(host.game) != MAXIMUM_NETWORK_PLAYERS) state.SkipWithError("a player was dropped");
    state.counters["us_per_packet"] = routing / (double)routed;
    state.counters["us_per_packet_target"] = 2;
}
BENCHMARK(route_packets_on_a_16_player_host);

// One joiner sends 64-byte lines to everybody as fast as the host's frames
// take them; three others read them.  Packets a second that reach each of
// the three.
static void relay_64_byte_packets_to_three_joiners(benchmark::State &state)
{
    library_host host;
    if (!host.open(4))
    {
        state.SkipWithError("the host did not open with 4 joiners");
        return;
    }
    // Bursts that the host's 16384-byte queue of the sender always holds.
    enum { BURST = 128 };
    std::vector<uint8_t> burst;
    for (int32_t i = 0; i < BURST; i++)
    {
        const std::vector<uint8_t> packet = wire_chat_line(64, (uint32_t)i);
        burst.insert(burst.end(), packet.begin(), packet.end());
    }
    int64_t sent = 0;
    const int64_t before = host.joiners[1].chat_packets;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
    {
        if (!host.joiners[0].send_all(burst)) break;
        sent += BURST;
        host.frame();
    }
    // The last bursts on their way.
    for (int turn = 0; turn < 100 && host.joiners[3].chat_packets - before < sent; turn++) host.frame();
    const double seconds = microseconds_since(start) / 1e6;
    int64_t slowest = sent;
    for (size_t i = 1; i < 4; i++) slowest = std::min(slowest, host.joiners[i].chat_packets - before);
    if (slowest != sent) state.SkipWithError("a relayed packet was lost");
    state.counters["packets_per_second"] = (double)slowest / seconds;
    state.counters["packets_per_second_target"] = 50000;
}
BENCHMARK(relay_64_byte_packets_to_three_joiners)->Iterations(2000);

// 2000 frames of a host with two honest joiners (one sends a numbered line
// to everybody every frame, the other reads them): quiet; with a third
// joiner writing 4096-byte packets to everybody as fast as its socket takes
// them (dropped for overflowing its queue, it joins again at once); and with
// one writing three a frame, as many as its queue holds, so that it stays and
// the host relays them all.  For each, the frames' 99th percentile and
// longest time (the longest also holds the machine's own hiccups) and the
// longest delay of a line, in frames.
static void a_flooding_joiner(benchmark::State &state)
{
    enum { FRAMES = 2000, QUIET = 0, FLOOD = 1, PACED = 2, MODES = 3 };
    const int32_t packets_a_frame[MODES] = {0, 64, 3};
    const std::vector<uint8_t> flood = wire_packet(_chat_packet, kSendToAllPlayers, MAXIMUM_SINGLE_PACKET_SIZE, 'z');
    double longest_us[MODES] = {}, percentile_us[MODES] = {};
    int32_t delay[MODES] = {}, drops[MODES] = {};
    for (auto _ : state)
    {
        for (int32_t mode = QUIET; mode < MODES; mode++)
        {
            library_host host;
            if (!host.open(3))
            {
                state.SkipWithError("the host did not open with 3 joiners");
                return;
            }
            raw_joiner &sender = host.joiners[0], &reader = host.joiners[1], &flooder = host.joiners[2];
            std::vector<double> times;
            for (uint32_t frame = 1; frame <= FRAMES; frame++)
            {
                sender.send_all(wire_chat_line(NUMBERED_LINE_SIZE, frame));
                for (int32_t turn = 0; turn < packets_a_frame[mode]; turn++)
                {
                    if (send(flooder.fd, flood.data(), flood.size(), MSG_NOSIGNAL | MSG_DONTWAIT) <= 0) break;
                }
                const auto start = std::chrono::steady_clock::now();
                net_process(host.game);
                const double took = microseconds_since(start);
                times.push_back(took);
                longest_us[mode] = std::max(longest_us[mode], took);
                host.drain_all();
                if (reader.chat_packets) delay[mode] = std::max(delay[mode], (int32_t)(frame - reader.last_sequence));
                if (mode != QUIET && flooder.closed)
                {
                    drops[mode]++;
                    flooder.close_socket();
                    flooder = raw_joiner();
                    if (!flooder.connect_to(host.port))
                    {
                        state.SkipWithError("the flooder could not connect again");
                        return;
                    }
                    flooder.join();
                }
            }
            std::sort(times.begin(), times.end());
            percentile_us[mode] = times[times.size() * 99 / 100];
            if (sender.closed || reader.closed || reader.last_sequence + (uint32_t)delay[mode] < FRAMES)
            {
                state.SkipWithError("an honest player was dropped or its lines did not arrive");
            }
        }
    }
    const char *const names[MODES] = {"quiet", "flooded", "paced"};
    for (int32_t mode = QUIET; mode < MODES; mode++)
    {
        state.counters[std::string(names[mode]) + "_frame_us_p99"] = percentile_us[mode];
        state.counters[std::string(names[mode]) + "_frame_us_max"] = longest_us[mode];
        if (mode == QUIET) continue;
        state.counters[std::string(names[mode]) + "_drops"] = drops[mode];
        state.counters[std::string(names[mode]) + "_extra_frame_ms_p99"] = (percentile_us[mode] - percentile_us[QUIET]) / 1000.0;
        state.counters[std::string(names[mode]) + "_extra_delay_frames"] = delay[mode] - delay[QUIET];
    }
    state.counters["extra_frame_ms_p99_target"] = 1;
    state.counters["extra_delay_frames_target"] = 1;
}
BENCHMARK(a_flooding_joiner)->Iterations(1);
