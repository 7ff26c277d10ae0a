// The endpoint layer over the TCP/IP module on loopback (127.0.0.1, ports
// chosen free by the system): the module list, open/accept/close, the
// hand-off order, records that die inside their own callback, the doomed
// list past its first eight places and records that are not endpoints.
// Every loop is bounded in turns and in time.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cseries/timers.h"
#include "uber/uber.h"

namespace uber_endpoint_test_file {

namespace {

const int32_t game_id = FOUR_CHARACTER_CODE('v', 'e', 's', 'k');

uint32_t frozen_clock(void) { return 1000; }

struct event
{
    Endpoint *endpoint;
    int32_t code;
    void *cookie;
};

// Records every event, accepts connection requests, and may close the
// endpoint that just received data from inside that callback.
struct owner
{
    std::vector<event> events;
    std::vector<Endpoint *> accepted;
    bool close_self_on_data = false;
    bool close_orderly = true;
    uint32_t cookie_after_close = 0;
    int16_t state_after_close = -1;

    static void callback(Endpoint *endpoint, void *context, int32_t code, NMErr, void *cookie)
    {
        owner *self = (owner *)context;
        self->events.push_back({endpoint, code, cookie});
        if (code == kNMConnectRequest) ProtocolAcceptConnection(endpoint, cookie, callback, self);
        else if (code == kNMAcceptComplete) self->accepted.push_back(endpoint);
        else if (code == kNMStreamData && self->close_self_on_data)
        {
            self->close_self_on_data = false;
            EXPECT_EQ(ProtocolCloseEndpoint(endpoint, self->close_orderly), kNMNoError);
            // Still readable here, inside its own callback (ASan watches).
            self->cookie_after_close = endpoint->cookie;
            self->state_after_close = endpoint->state;
        }
    }
    int32_t count(int32_t code) const
    {
        int32_t n = 0;
        for (const event &e : events) n += e.code == code;
        return n;
    }
};

// The layer started and ended around each test, with a loopback listener.
class uber_endpoints : public ::testing::Test
{
protected:
    owner server, client;
    ProtocolConfig *listen_config = nullptr, *connect_config = nullptr;
    Endpoint *listener = nullptr;

    void SetUp(void) override
    {
        InitUber();
        listen_config = make_config(0);
        ASSERT_EQ(ProtocolOpenEndpoint(listen_config, owner::callback, &server, &listener, 0), kNMNoError);
        connect_config = make_config(tcp_endpoint_local_port(listener->module, _stream_socket));
    }
    void TearDown(void) override
    {
        if (listen_config) ProtocolDisposeConfig(listen_config);
        if (connect_config) ProtocolDisposeConfig(connect_config);
        EndUber();
        EXPECT_EQ(count_endpoints_of_type(kModuleID), 0);
    }
    static ProtocolConfig *make_config(uint16_t port)
    {
        ProtocolConfig *config = nullptr;
        EXPECT_EQ(ProtocolCreateConfig(kModuleID, game_id, "Loopback", nullptr, 0, nullptr, &config), kNMNoError);
        config->configuration_data->connectionMode = kNMStreamMode;
        config->configuration_data->host = 0x7F000001;
        config->configuration_data->port = port;
        strcpy(config->configuration_data->host_name, "127.0.0.1");
        return config;
    }
    Endpoint *connect(void)
    {
        Endpoint *connection = nullptr;
        const size_t before = server.accepted.size();
        EXPECT_EQ(ProtocolOpenEndpoint(connect_config, owner::callback, &client, &connection, 1), kNMNoError);
        idle_until([&] { return server.accepted.size() > before; });
        EXPECT_EQ(server.accepted.size(), before + 1);
        return connection;
    }
    template <typename condition> bool idle_until(condition done)
    {
        for (int32_t turn = 0; turn < 400; turn++)
        {
            if (done()) return true;
            ProtocolIdle(listener);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
};

} // namespace

TEST(uber_modules, the_one_module_is_listed_and_bad_requests_are_refused)
{
    InitUber();
    struct
    {
        int32_t index, version;
        NMErr expected;
    } const cases[] = {
        {0, 1, kNMNoError},
        {1, 1, errNoMoreNetModules},
        {-1, 1, errParamErr},
        {0, 2, errBadVersion},
    };
    for (const auto &c : cases)
    {
        protocol_identifier identifier{};
        identifier.version = c.version;
        EXPECT_EQ(GetIndexedProtocol(c.index, &identifier), c.expected) << c.index << " v" << c.version;
        if (c.expected == kNMNoError)
        {
            EXPECT_EQ(identifier.type, (NMType)kModuleID);
            EXPECT_STREQ(identifier.name, "TCP/IP (Internet)");
        }
    }
    ProtocolConfig *config = nullptr;
    EXPECT_EQ(ProtocolCreateConfig(FOUR_CHARACTER_CODE('A', 'T', 'l', 'k'), game_id, "x", nullptr, 0, nullptr, &config),
              errModuleNotFound);
    EXPECT_EQ(config, nullptr);
    EXPECT_EQ(ProtocolCreateConfig(kModuleID, game_id, "x", nullptr, 0, "mode=9\tbroken", &config),
              kNMInvalidConfigErr);
    EXPECT_EQ(config, nullptr);
    EndUber();
}

TEST_F(uber_endpoints, open_accept_exchange_and_close_hand_off_before_the_child)
{
    Endpoint *connection = connect();
    ASSERT_TRUE(connection && !server.accepted.empty());
    Endpoint *accepted = server.accepted.back();
    EXPECT_EQ(accepted->parent, listener);
    EXPECT_EQ(count_endpoints_of_type(kModuleID), 3);

    // The listener hears the hand-off (cookie: the new endpoint) before the
    // new endpoint's own accept event.
    int32_t handoff = -1, accept = -1;
    for (int32_t i = 0; i < (int32_t)server.events.size(); i++)
    {
        const event &e = server.events[(size_t)i];
        if (e.code == kNMHandoffComplete && e.endpoint == listener && e.cookie == accepted) handoff = i;
        if (e.code == kNMAcceptComplete && e.endpoint == accepted && accept < 0) accept = i;
    }
    EXPECT_GE(handoff, 0);
    EXPECT_GT(accept, handoff);
    EXPECT_EQ(server.count(kNMHandoffComplete), 1);

    EXPECT_EQ(ProtocolSend(connection, "hello", 5, kNMBlocking), 5);
    std::string received;
    idle_until([&] {
        char buffer[16];
        uint32_t length = sizeof(buffer);
        if (ProtocolReceive(accepted, buffer, &length, nullptr) == kNMNoError) received.append(buffer, length);
        return received.size() >= 5;
    });
    EXPECT_EQ(received, "hello");
    EXPECT_TRUE(ProtocolIsAlive(accepted));

    EXPECT_EQ(ProtocolCloseEndpoint(connection, true), kNMNoError);
    EXPECT_EQ(ProtocolCloseEndpoint(connection, true), errParamErr);
    EXPECT_TRUE(idle_until([&] { return server.count(kNMEndpointDied) == 1; }));
}

TEST_F(uber_endpoints, an_endpoint_closed_in_its_own_callback_stays_readable_until_the_next_idle)
{
    for (const bool orderly : {true, false})
    {
        Endpoint *connection = connect();
        ASSERT_TRUE(connection && !server.accepted.empty());
        Endpoint *accepted = server.accepted.back();
        ProtocolIdle(listener); // a full cache: the record goes to the doomed list
        server.close_self_on_data = true;
        server.close_orderly = orderly;
        server.state_after_close = -1;
        ASSERT_EQ(ProtocolSend(connection, "x", 1, kNMBlocking), 1);
        EXPECT_TRUE(idle_until([&] { return server.state_after_close != -1; }));
        EXPECT_EQ(server.cookie_after_close, (uint32_t)PENDPOINT_BAD_COOKIE) << orderly;
        EXPECT_EQ(server.state_after_close, _state_closed);
        EXPECT_FALSE(valid_endpoint(accepted));
        ProtocolIdle(listener);
        EXPECT_EQ(uber_doomed_endpoint_count(), 0);
        EXPECT_EQ(uber_cached_endpoint_count(), MAXIMUM_CACHED_ENDPOINTS);
        EXPECT_EQ(ProtocolCloseEndpoint(connection, true), kNMNoError);
    }
    EXPECT_EQ(server.count(kNMCloseComplete), 2);
}

TEST_F(uber_endpoints, the_doomed_list_grows_past_eight_and_is_freed_at_the_next_idle)
{
    // The cache is full, so every orderly clean-up between two idles lands
    // on the doomed list; abortive ones always do.
    std::vector<Endpoint *> connections;
    for (int32_t i = 0; i < 6; i++) connections.push_back(connect());
    ASSERT_EQ(server.accepted.size(), 6u);
    ProtocolIdle(listener); // the last accept took a cached record
    ASSERT_EQ(uber_cached_endpoint_count(), MAXIMUM_CACHED_ENDPOINTS);
    int32_t closed = 0;
    for (size_t i = 0; i < connections.size(); i++)
    {
        ASSERT_NE(connections[i], nullptr);
        EXPECT_EQ(ProtocolCloseEndpoint(connections[i], true), kNMNoError);
        EXPECT_EQ(ProtocolCloseEndpoint(server.accepted[i], i % 2 == 0), kNMNoError);
        closed += 2;
    }
    EXPECT_EQ(uber_doomed_endpoint_count(), closed);
    EXPECT_GT(closed, MAXIMUM_DOOMED_ENDPOINTS);
    for (Endpoint *endpoint : connections) EXPECT_EQ(endpoint->cookie, (uint32_t)PENDPOINT_BAD_COOKIE);
    EXPECT_EQ(count_endpoints_of_type(kModuleID), 1);
    ProtocolIdle(listener);
    EXPECT_EQ(uber_doomed_endpoint_count(), 0);
}

TEST_F(uber_endpoints, records_that_are_not_live_endpoints_are_refused)
{
    Endpoint *connection = connect();
    ASSERT_NE(connection, nullptr);
    Endpoint forged{};
    forged.cookie = PENDPOINT_COOKIE; // a right cookie does not make it listed
    forged.type = kModuleID;
    Endpoint wrong_cookie{};
    wrong_cookie.cookie = FOUR_CHARACTER_CODE('n', 'o', 'p', 'e');
    ASSERT_EQ(ProtocolCloseEndpoint(connection, true), kNMNoError); // readable until the next idle
    Endpoint *const refused[] = {nullptr, &forged, &wrong_cookie, connection};
    for (Endpoint *endpoint : refused)
    {
        uint32_t length = 4;
        char buffer[4];
        NMModuleInfo info{};
        info.size = sizeof(info);
        EXPECT_EQ(ProtocolSend(endpoint, "x", 1, 0), errParamErr);
        EXPECT_EQ(ProtocolReceive(endpoint, buffer, &length, nullptr), errParamErr);
        EXPECT_EQ(ProtocolSendPacket(endpoint, "x", 1, 0), errParamErr);
        EXPECT_EQ(ProtocolGetEndpointInfo(endpoint, &info), errParamErr);
        EXPECT_EQ(ProtocolStartAdvertising(endpoint), errParamErr);
        EXPECT_EQ(ProtocolAcceptConnection(endpoint, nullptr, owner::callback, &server), errParamErr);
        EXPECT_EQ(ProtocolRejectConnection(endpoint, nullptr), errParamErr);
        EXPECT_FALSE(ProtocolIsAlive(endpoint));
        EXPECT_EQ(ProtocolCloseEndpoint(endpoint, false), errParamErr);
        EXPECT_EQ(ProtocolIdle(endpoint), errParamErr);
    }
    EXPECT_EQ(count_endpoints_of_type(kModuleID), 2);
}

TEST_F(uber_endpoints, ending_the_layer_closes_what_is_open_and_it_starts_again)
{
    Endpoint *connection = connect();
    ASSERT_NE(connection, nullptr);
    // The close loop ends by itself when nothing is left, on a frozen clock too.
    set_machine_tick_count_for_tests(frozen_clock);
    EndUber(); // the fixture's TearDown ends it once more: nothing left then
    set_machine_tick_count_for_tests(nullptr);
    EXPECT_EQ(count_endpoints_of_type(kModuleID), 0);
    InitUber();
    protocol_identifier identifier{};
    identifier.version = 1;
    EXPECT_EQ(GetIndexedProtocol(0, &identifier), kNMNoError);
}

TEST_F(uber_endpoints, mode_3_datagrams_travel_through_the_layer_both_ways)
{
    ProtocolConfig *config = make_config(0);
    config->configuration_data->connectionMode = kNMNormalMode;
    Endpoint *mode_3_listener = nullptr, *connection = nullptr;
    ASSERT_EQ(ProtocolOpenEndpoint(config, owner::callback, &server, &mode_3_listener, 0), kNMNoError);
    config->configuration_data->port = tcp_endpoint_local_port(mode_3_listener->module, _stream_socket);
    ASSERT_EQ(ProtocolOpenEndpoint(config, owner::callback, &client, &connection, 1), kNMNoError);
    ProtocolDisposeConfig(config);
    ASSERT_TRUE(idle_until([&] { return !server.accepted.empty(); }));
    Endpoint *const accepted = server.accepted.back();
    int32_t turns = 0;
    idle_until([&] { return ++turns > 20; }); // both port exchanges

    struct direction
    {
        Endpoint *from, *to;
        owner *receiver;
        const char *text;
    };
    const direction directions[] = {{connection, accepted, &server, "to the host"},
                                    {accepted, connection, &client, "to the client"}};
    for (const direction &way : directions)
    {
        SCOPED_TRACE(way.text);
        ASSERT_EQ(ProtocolSendPacket(way.from, way.text, (uint32_t)strlen(way.text), 0), kNMNoError);
        ASSERT_TRUE(idle_until([&] { return way.receiver->count(kNMDatagramData) > 0; }));
        char buffer[64];
        uint32_t length = sizeof(buffer), flags = 0;
        ASSERT_EQ(ProtocolReceivePacket(way.to, buffer, &length, &flags), kNMNoError);
        EXPECT_EQ(std::string(buffer, length), way.text);
        EXPECT_EQ(way.receiver->count(kNMStreamData), 0) << "a datagram is never stream data";
    }
}

} // namespace uber_endpoint_test_file
