// The TCP/IP module on loopback (127.0.0.1 only, ports chosen free by the
// system): connections in both modes, resets, deaths, refusals, blocking
// sends, datagram floods and the enumeration of a listening host.  Every loop
// is bounded in turns and in time.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cseries/timers.h"
#include "networking/ip_enumeration.h"
#include "networking/tcp_module.h"

namespace tcp_loopback_test_file {

namespace {

const int32_t game_id = FOUR_CHARACTER_CODE('v', 'e', 's', 'k');
const uint32_t loopback = 0x7F000001;

struct event
{
    NMEndpointPriv *endpoint;
    int32_t code;
    NMErr error;
};

// Records every event; accepts (or rejects) connection requests on the spot.
struct owner
{
    std::vector<event> events;
    NMEndpointPriv *accepted = nullptr;
    bool reject = false;
    NMEndpointPriv *close_on_data = nullptr; // another endpoint closed from inside the poll

    static void callback(NMEndpointPriv *endpoint, void *context, int32_t code, NMErr error, void *)
    {
        owner *self = (owner *)context;
        self->events.push_back({endpoint, code, error});
        if (code == kNMConnectRequest && self->reject) tcp_NMRejectConnection(endpoint, nullptr);
        else if (code == kNMConnectRequest) tcp_NMAcceptConnection(endpoint, nullptr, callback, self);
        else if (code == kNMAcceptComplete) self->accepted = endpoint;
        else if (code == kNMStreamData && self->close_on_data)
        {
            NMEndpointPriv *victim = self->close_on_data;
            self->close_on_data = nullptr;
            tcp_NMClose(victim, true);
        }
    }
    int32_t count(int32_t code) const
    {
        int32_t n = 0;
        for (const event &e : events) n += e.code == code;
        return n;
    }
};

NMProtocolConfigPriv *make_config(int32_t mode, uint16_t port, const char *name = "Loopback")
{
    NMProtocolConfigPriv *config = nullptr;
    EXPECT_EQ(tcp_NMCreateConfig(nullptr, game_id, name, nullptr, 0, &config), kNMNoError);
    config->connectionMode = mode;
    config->host = loopback;
    config->port = port;
    strcpy(config->host_name, "127.0.0.1");
    return config;
}

// A listener and one connection to it, accepted.
struct loopback_pair
{
    owner server, client;
    NMProtocolConfigPriv *listen_config = nullptr, *connect_config = nullptr;
    NMEndpointPriv *listener = nullptr, *connection = nullptr;

    void open_listener(int32_t mode)
    {
        listen_config = make_config(mode, 0);
        ASSERT_EQ(tcp_NMOpen(listen_config, owner::callback, &server, &listener, false), kNMNoError);
    }
    uint16_t port(void) { return tcp_endpoint_local_port(listener, _stream_socket); }
    void connect(int32_t mode)
    {
        open_listener(mode);
        connect_config = make_config(mode, port());
        ASSERT_EQ(tcp_NMOpen(connect_config, owner::callback, &client, &connection, true), kNMNoError);
        idle_until([&] { return server.accepted != nullptr; });
        ASSERT_NE(server.accepted, nullptr);
    }
    template <typename condition> bool idle_until(condition done)
    {
        // `done` may consume what it checks: called once per turn.
        for (int32_t turn = 0; turn < 400; turn++)
        {
            if (done()) return true;
            tcp_NMIdle(nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    ~loopback_pair()
    {
        if (connection) tcp_NMClose(connection, false);
        if (server.accepted) tcp_NMClose(server.accepted, false);
        if (listener) tcp_NMClose(listener, false);
        if (listen_config) tcp_NMDeleteConfig(listen_config);
        if (connect_config) tcp_NMDeleteConfig(connect_config);
    }
};

std::string receive_exactly(loopback_pair &pair, NMEndpointPriv *endpoint, size_t size)
{
    std::string received;
    pair.idle_until([&] {
        char buffer[256];
        uint32_t length = sizeof(buffer);
        if (tcp_NMReceive(endpoint, buffer, &length, nullptr) == kNMNoError) received.append(buffer, length);
        return received.size() >= size;
    });
    return received;
}

int raw_socket(int type)
{
    return socket(AF_INET, type, 0);
}

sockaddr_in loopback_address(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(loopback);
    address.sin_port = htons(port);
    return address;
}

// Waits (at most a second) for one datagram on a raw socket.
bool pair_wait_for_datagram(int fd, uint8_t *buffer, sockaddr_in *sender, socklen_t *size)
{
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, 1000) != 1) return false;
    return recvfrom(fd, buffer, kQuerySize, 0, (sockaddr *)sender, size) == (ssize_t)kQuerySize;
}

uint32_t test_clock_value;
uint32_t test_clock(void) { return test_clock_value; }
uint32_t racing_clock(void) { return test_clock_value += 1000; }
uint32_t stepping_clock(void) { return test_clock_value += 10; }

} // namespace

TEST(tcp_loopback, both_modes_carry_data_and_never_deliver_the_port_bytes)
{
    for (int32_t mode : {(int32_t)kNMStreamMode, (int32_t)kNMNormalMode})
    {
        loopback_pair pair;
        pair.connect(mode);
        ASSERT_TRUE(pair.connection && pair.server.accepted);
        EXPECT_EQ(tcp_NMSend(pair.connection, "hello", 5, kNMBlocking), 5);
        EXPECT_EQ(tcp_NMSend(pair.server.accepted, "back!", 5, kNMBlocking), 5);
        EXPECT_EQ(receive_exactly(pair, pair.server.accepted, 5), "hello") << "mode " << mode;
        EXPECT_EQ(receive_exactly(pair, pair.connection, 5), "back!") << "mode " << mode;
        EXPECT_EQ(pair.server.count(kNMHandoffComplete), 1);
    }
    // A mode 3 peer's port and first data in one segment, read before any poll took the port.
    loopback_pair early;
    early.open_listener(kNMNormalMode);
    const int raw = raw_socket(SOCK_STREAM);
    const sockaddr_in address = loopback_address(early.port());
    ASSERT_EQ(connect(raw, (const sockaddr *)&address, sizeof(address)), 0);
    ASSERT_TRUE(early.idle_until([&] { return early.server.accepted != nullptr; }));
    ASSERT_EQ(send(raw, "\x80\x00ping", 6, 0), 6);
    std::string received;
    for (int32_t turn = 0; turn < 1000 && received.size() < 4; turn++)
    {
        char buffer[16];
        uint32_t length = sizeof(buffer);
        if (tcp_NMReceive(early.server.accepted, buffer, &length, nullptr) == kNMNoError) received.append(buffer, length);
        else usleep(1000);
    }
    EXPECT_EQ(received, "ping");
    close(raw);
}

TEST(tcp_loopback, a_rejected_peer_sees_a_reset_and_a_closed_peer_dies)
{
    loopback_pair pair;
    pair.server.reject = true;
    pair.open_listener(kNMStreamMode);
    const int peer = raw_socket(SOCK_STREAM);
    const sockaddr_in address = loopback_address(pair.port());
    ASSERT_EQ(connect(peer, (const sockaddr *)&address, sizeof(address)), 0);
    pair.idle_until([&] { return pair.server.count(kNMConnectRequest) > 0; });
    char byte;
    pollfd readable{peer, POLLIN, 0};
    poll(&readable, 1, 1000);
    EXPECT_EQ(recv(peer, &byte, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
    close(peer);

    loopback_pair closing;
    closing.connect(kNMStreamMode);
    tcp_NMClose(closing.connection, true);
    closing.connection = nullptr;
    EXPECT_TRUE(closing.idle_until([&] { return closing.server.count(kNMEndpointDied) == 1; }));

    // A mode 3 peer that sends one byte of its port and closes.
    loopback_pair half;
    half.open_listener(kNMNormalMode);
    const int raw = raw_socket(SOCK_STREAM);
    const sockaddr_in listener_address = loopback_address(half.port());
    ASSERT_EQ(connect(raw, (const sockaddr *)&listener_address, sizeof(listener_address)), 0);
    ASSERT_TRUE(half.idle_until([&] { return half.server.accepted != nullptr; }));
    ASSERT_EQ(send(raw, "\x12", 1, 0), 1);
    close(raw);
    EXPECT_TRUE(half.idle_until([&] { return half.server.count(kNMEndpointDied) == 1; }));
}

TEST(tcp_loopback, opens_that_cannot_complete_fail)
{
    // Nobody listens: refused at once.
    const int probe = raw_socket(SOCK_STREAM);
    sockaddr_in address = loopback_address(0);
    ASSERT_EQ(bind(probe, (const sockaddr *)&address, sizeof(address)), 0);
    socklen_t size = sizeof(address);
    getsockname(probe, (sockaddr *)&address, &size);
    close(probe);
    owner client;
    NMProtocolConfigPriv *config = make_config(kNMStreamMode, ntohs(address.sin_port));
    NMEndpointPriv *endpoint = nullptr;
    // On a clock that steps 10 ms at each reading: a refusal ends the wait
    // long before the open's time-out, however slowly the machine runs.
    test_clock_value = 0;
    set_machine_tick_count_for_tests(stepping_clock);
    EXPECT_EQ(tcp_NMOpen(config, owner::callback, &client, &endpoint, true), kNMOpenFailedErr);
    set_machine_tick_count_for_tests(nullptr);
    EXPECT_LT(test_clock_value, (uint32_t)OPEN_TIMEOUT / 10) << "the open waited for its time-out";
    EXPECT_EQ(endpoint, nullptr);

    // A listener that never completes the handshake: the wait ends on the
    // clock, which races ahead here instead of sleeping 30 seconds.
    const int full = raw_socket(SOCK_STREAM);
    address = loopback_address(0);
    ASSERT_EQ(bind(full, (const sockaddr *)&address, sizeof(address)), 0);
    ASSERT_EQ(listen(full, 0), 0);
    size = sizeof(address);
    getsockname(full, (sockaddr *)&address, &size);
    std::vector<int> fillers;
    for (int i = 0; i < 4; i++)
    {
        const int filler = raw_socket(SOCK_STREAM);
        fcntl(filler, F_SETFL, O_NONBLOCK);
        connect(filler, (const sockaddr *)&address, sizeof(address));
        fillers.push_back(filler);
    }
    config->port = ntohs(address.sin_port);
    set_machine_tick_count_for_tests(racing_clock);
    EXPECT_EQ(tcp_NMOpen(config, owner::callback, &client, &endpoint, true), kNMOpenFailedErr);
    set_machine_tick_count_for_tests(nullptr);
    for (int filler : fillers) close(filler);
    close(full);
    tcp_NMDeleteConfig(config);
}

TEST(tcp_loopback, a_blocking_megabyte_reaches_a_slow_reader_intact)
{
    loopback_pair pair;
    pair.open_listener(kNMStreamMode);
    const int peer = raw_socket(SOCK_STREAM);
    const int small = 4096;
    setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    const sockaddr_in address = loopback_address(pair.port());
    ASSERT_EQ(connect(peer, (const sockaddr *)&address, sizeof(address)), 0);
    ASSERT_TRUE(pair.idle_until([&] { return pair.server.accepted != nullptr; }));
    setsockopt(pair.server.accepted->socket[_stream_socket], SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
    std::vector<uint8_t> data(1 << 20);
    for (size_t i = 0; i < data.size(); i++) data[i] = (uint8_t)(i * 7 + (i >> 11));
    std::vector<uint8_t> received;
    std::thread reader([&] {
        uint8_t buffer[8192];
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (received.size() < data.size() && std::chrono::steady_clock::now() < deadline)
        {
            const ssize_t count = recv(peer, buffer, sizeof(buffer), 0);
            if (count <= 0) break;
            received.insert(received.end(), buffer, buffer + count);
            if (received.size() % 65536 < 8192) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_EQ(tcp_NMSend(pair.server.accepted, data.data(), (uint32_t)data.size(), kNMBlocking),
              (int32_t)data.size());
    reader.join();
    EXPECT_TRUE(received == data);
    close(peer);
}

TEST(tcp_loopback, stray_datagrams_never_keep_the_poll_busy)
{
    loopback_pair pair;
    pair.open_listener(kNMNormalMode);
    const int sender = raw_socket(SOCK_DGRAM);
    const sockaddr_in address = loopback_address(tcp_endpoint_local_port(pair.listener, _datagram_socket));
    const char junk[64] = "not a query";
    for (int i = 0; i < 2000; i++) sendto(sender, junk, sizeof(junk), 0, (const sockaddr *)&address, sizeof(address));
    for (int turn = 0; turn < 3; turn++)
    {
        tcp_NMIdle(pair.listener);
        EXPECT_EQ(tcp_last_idle_pass_count(), 1);
    }
    EXPECT_EQ(pair.server.count(kNMDatagramData) + pair.server.count(kNMConnectRequest), 0);
    close(sender);
}

TEST(tcp_loopback, a_callback_may_close_another_endpoint_during_the_poll)
{
    loopback_pair pair;
    pair.connect(kNMStreamMode);
    // The accepted side's data event closes the client's own connection.
    pair.server.close_on_data = pair.connection;
    tcp_NMSend(pair.connection, "x", 1, kNMBlocking);
    pair.connection = nullptr;
    EXPECT_TRUE(pair.idle_until([&] { return pair.server.count(kNMStreamData) > 0; }));
    EXPECT_EQ(pair.client.count(kNMCloseComplete), 1);
    EXPECT_EQ(receive_exactly(pair, pair.server.accepted, 1), "x");
    EXPECT_TRUE(pair.idle_until([&] { return pair.server.count(kNMEndpointDied) == 1; }));
}

TEST(ip_enumeration, a_listening_host_is_listed_then_dropped_on_the_clock)
{
    loopback_pair host;
    host.listen_config = make_config(kNMNormalMode, 0, "Host Game");
    ASSERT_EQ(tcp_NMOpen(host.listen_config, owner::callback, &host.server, &host.listener, false), kNMNoError);
    const uint16_t port = host.port();
    ASSERT_EQ(tcp_endpoint_local_port(host.listener, _datagram_socket), port);

    // A 511-byte query goes unanswered, a 512-byte one is answered.
    const int searcher = raw_socket(SOCK_DGRAM);
    const sockaddr_in address = loopback_address(port);
    uint8_t query[kQuerySize];
    build_ip_enumeration_request_packet(query);
    sendto(searcher, query, kQuerySize - 1, 0, (const sockaddr *)&address, sizeof(address));
    sendto(searcher, query, kQuerySize, 0, (const sockaddr *)&address, sizeof(address));
    uint8_t reply[128];
    ssize_t length = -1;
    host.idle_until([&] {
        length = recv(searcher, reply, sizeof(reply), MSG_DONTWAIT);
        return length >= 0;
    });
    ASSERT_EQ(length, 56);
    EXPECT_EQ(recv(searcher, reply + 56, sizeof(reply) - 56, MSG_DONTWAIT), -1); // one answer only
    IPEnumerationResponsePacket parsed;
    ASSERT_TRUE(parse_ip_enumeration_response(reply, 56, game_id, &parsed));
    EXPECT_EQ(parsed.port, port);
    EXPECT_STREQ(parsed.name, "Host Game");
    close(searcher);

    struct listing
    {
        int32_t adds = 0, deletes = 0, clears = 0;
        std::string name;
        static void callback(void *context, int32_t command, const NMEnumerationItem *item)
        {
            listing *self = (listing *)context;
            if (command == kNMEnumAdd) self->adds++, self->name = item->name;
            if (command == kNMEnumDelete) self->deletes++;
            if (command == kNMEnumClear) self->clears++;
        }
    } seen;
    set_enumeration_query_address_for_tests(loopback);
    test_clock_value = 100000;
    set_machine_tick_count_for_tests(test_clock);
    NMProtocolConfigPriv *search = make_config(kNMNormalMode, port);
    ASSERT_EQ(tcp_NMStartEnumeration(search, listing::callback, &seen, true), kNMNoError);
    EXPECT_EQ(seen.clears, 1);
    host.idle_until([&] {
        tcp_NMIdleEnumeration(search);
        return seen.adds > 0;
    });
    EXPECT_EQ(seen.adds, 1);
    EXPECT_EQ(seen.name, "Host Game");
    EXPECT_EQ(tcp_NMBindEnumerationItemToConfig(search, loopback), kNMNoError);
    EXPECT_EQ(search->port, port);

    // The host goes quiet: listed until 2000 ms after its last answer.
    tcp_NMClose(host.listener, true);
    host.listener = nullptr;
    test_clock_value += 2000;
    tcp_NMIdleEnumeration(search);
    EXPECT_EQ(seen.deletes, 0);
    test_clock_value += 1;
    tcp_NMIdleEnumeration(search);
    EXPECT_EQ(seen.deletes, 1);
    EXPECT_EQ(seen.adds, 1);
    tcp_NMEndEnumeration(search);
    tcp_NMDeleteConfig(search);
    set_machine_tick_count_for_tests(nullptr);
    set_enumeration_query_address_for_tests(0);
}

TEST(tcp_loopback, a_connection_from_another_process_exchanges_in_mode_3)
{
    // The child forks before any endpoint exists, so it polls only its own;
    // the listener's port reaches it through a pipe.
    int port_pipe[2];
    ASSERT_EQ(pipe(port_pipe), 0);
    fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        uint16_t port = 0;
        close(port_pipe[1]);
        pollfd readable{port_pipe[0], POLLIN, 0};
        if (poll(&readable, 1, 5000) != 1 || read(port_pipe[0], &port, sizeof(port)) != sizeof(port)) _exit(1);
        owner client;
        NMProtocolConfigPriv *config = make_config(kNMNormalMode, port);
        NMEndpointPriv *connection = nullptr;
        if (tcp_NMOpen(config, owner::callback, &client, &connection, true) != kNMNoError) _exit(2);
        if (tcp_NMSend(connection, "ping", 4, kNMBlocking) != 4) _exit(3);
        std::string answer;
        for (int turn = 0; turn < 2000 && answer.size() < 4; turn++)
        {
            tcp_NMIdle(connection);
            char buffer[16];
            uint32_t length = sizeof(buffer);
            if (tcp_NMReceive(connection, buffer, &length, nullptr) == kNMNoError) answer.append(buffer, length);
            else usleep(1000);
        }
        _exit(answer == "pong" ? 0 : 4);
    }
    close(port_pipe[0]);
    loopback_pair pair;
    pair.open_listener(kNMNormalMode);
    const uint16_t port = pair.port();
    EXPECT_EQ(write(port_pipe[1], &port, sizeof(port)), (ssize_t)sizeof(port));
    close(port_pipe[1]);
    ASSERT_TRUE(pair.idle_until([&] { return pair.server.accepted != nullptr; }));
    EXPECT_EQ(receive_exactly(pair, pair.server.accepted, 4), "ping");
    EXPECT_EQ(tcp_NMSend(pair.server.accepted, "pong", 4, kNMBlocking), 4);
    int status = -1;
    for (int turn = 0; turn < 5000 && waitpid(child, &status, WNOHANG) == 0; turn++) usleep(1000);
    if (!WIFEXITED(status)) kill(child, SIGKILL), waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(ip_enumeration, queries_are_spaced_new_games_capped_and_duplicates_merged)
{
    // A raw socket stands in for the game port and counts the queries.
    const int target = raw_socket(SOCK_DGRAM);
    sockaddr_in address = loopback_address(0);
    ASSERT_EQ(bind(target, (const sockaddr *)&address, sizeof(address)), 0);
    socklen_t size = sizeof(address);
    getsockname(target, (sockaddr *)&address, &size);
    int32_t adds = 0;
    const NMEnumerationCallback count_adds = [](void *context, int32_t command, const NMEnumerationItem *) {
        if (command == kNMEnumAdd) ++*(int32_t *)context;
    };
    set_enumeration_query_address_for_tests(loopback);
    test_clock_value = 50000;
    set_machine_tick_count_for_tests(test_clock);
    NMProtocolConfigPriv *search = make_config(kNMNormalMode, ntohs(address.sin_port));
    ASSERT_EQ(tcp_NMStartEnumeration(search, count_adds, &adds, true), kNMNoError);
    const auto queries_waiting = [&] {
        int32_t count = 0;
        uint8_t buffer[kQuerySize];
        while (recv(target, buffer, sizeof(buffer), MSG_DONTWAIT) == (ssize_t)kQuerySize) count++;
        return count;
    };
    const struct
    {
        uint32_t advance;
        int32_t queries;
    } steps[] = {{0, 1}, {100, 0}, {400, 0}, {1, 1}, {0, 0}, {499, 0}, {2, 1}};
    for (const auto &step : steps)
    {
        test_clock_value += step.advance;
        tcp_NMIdleEnumeration(search);
        usleep(2000);
        EXPECT_EQ(queries_waiting(), step.queries) << "at " << test_clock_value;
    }

    // Twelve hosts answer, the first twice: ten games are taken, one each.
    sockaddr_in searcher{};
    {
        tcp_NMIdleEnumeration(search); // no query: too soon
        test_clock_value += TICKS_BETWEEN_ENUMERATION_REQUESTS + 1;
        tcp_NMIdleEnumeration(search);
        uint8_t buffer[kQuerySize];
        size = sizeof(searcher);
        ASSERT_TRUE(pair_wait_for_datagram(target, buffer, &searcher, &size));
    }
    std::vector<int> hosts;
    for (int i = 0; i < 12; i++)
    {
        const int host = raw_socket(SOCK_DGRAM);
        IPEnumerationResponsePacket reply;
        build_ip_enumeration_response_packet(&reply, game_id, 256, 0, 0, "Game");
        byteswap_ip_enumeration_packet(&reply);
        sendto(host, &reply, sizeof(reply), 0, (const sockaddr *)&searcher, size);
        if (i == 0) sendto(host, &reply, sizeof(reply), 0, (const sockaddr *)&searcher, size);
        hosts.push_back(host);
    }
    usleep(5000);
    tcp_NMIdleEnumeration(search);
    EXPECT_EQ(adds, 10);
    EXPECT_EQ(search->game_count, 10);
    for (int host : hosts) close(host);
    tcp_NMEndEnumeration(search);
    tcp_NMDeleteConfig(search);
    close(target);
    set_machine_tick_count_for_tests(nullptr);
    set_enumeration_query_address_for_tests(0);
}

} // namespace tcp_loopback_test_file
