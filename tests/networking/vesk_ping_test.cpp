// Ping and latency on the test clock: the host's rounds to real peers (only
// players of versions that ping), the first answer taken directly, later ones
// smoothed, answers that are no answer ignored, silence shown as no latency
// on the screen's and the list's points; a client takes its table only from
// the host's player and only when it lists everybody.

#include "support/net_session_fixture.h"

#include "gameplay_versions.h"
#include "vesk_networking/vesk_networking.h"
#include "vesk_networking/vesk_packets.h"
#include "vesk_networking/vesk_ping.h"

namespace vesk_ping_test_file {

namespace {

class ping_host : public net_session_host_fixture
{
protected:
    size_t pinged = 0, old_peer = 0;

    void SetUp(void) override
    {
        net_session_host_fixture::SetUp();
        pinged = join_peer(test_net_player("Pinged"));
        // Rules the old player can play, or he would be refused at the join.
        net_game_description older = *get_net_host_game_description();
        ASSERT_TRUE(update_game_parameters_for_gameplay_version(1720, &older.parameters));
        set_net_originator_game_description(&older);
        new_player_data old = test_net_player("Old");
        old.version = MINIMUM_PING_VERSION - 1;
        old_peer = join_peer(old);
    }

    // The next round's ping to the pinged peer (the clock moved a round on).
    std::vector<uint8_t> next_ping(void)
    {
        net_session_test_clock += PING_INTERVAL_MS;
        std::vector<std::vector<uint8_t>> pings;
        EXPECT_TRUE(pump_until([&] {
            pings = take_game_packets(pinged, _ping_packet);
            return !pings.empty();
        }));
        return pings.empty() ? std::vector<uint8_t>() : pings.back();
    }

    // The pinged peer answers `ping` with the time `ping_time` (the ping's own
    // when 0) after `delay` ms.
    void answer(const std::vector<uint8_t> &ping, uint32_t delay, const uint8_t *ping_time = nullptr)
    {
        net_session_test_clock += delay;
        const std::vector<uint8_t> time(ping_time ? ping_time : ping.data() + 8, (ping_time ? ping_time : ping.data() + 8) + 4);
        send_game_packet(pinged, _ping_packet, 254, time);
        pump_a_while();
    }

    uint16_t latency(void) { return vesk_ping_player_latency(id_of_peer(pinged)); }
};

} // namespace

TEST_F(ping_host, rounds_measure_smooth_and_forget_latencies)
{
    const std::vector<uint8_t> first = next_ping();
    ASSERT_EQ(first.size(), 18u); // the time and one latency per listed player
    EXPECT_EQ(packet_int16(first, 12), 0); // the host
    EXPECT_EQ((uint16_t)packet_int16(first, 14), LATENCY_UNKNOWN);
    EXPECT_TRUE(take_game_packets(old_peer, _ping_packet).empty()) << "a version 2179 player is pinged";
    EXPECT_TRUE(vesk_ping_supported());

    answer(first, 120);
    EXPECT_EQ(latency(), 120); // after silence: the round trip itself

    const std::vector<uint8_t> second = next_ping();
    ASSERT_EQ(second.size(), 18u);
    EXPECT_EQ(packet_int16(second, 14), 120); // the table is shared
    answer(second, 140);
    EXPECT_EQ(latency(), 125); // (3 x 120 + 140) / 4

    // Answers that answer no ping of ours: a time from the future, and the
    // first round's time (earlier than the last accepted answer).
    const std::vector<uint8_t> third = next_ping();
    uint32_t future;
    memcpy(&future, third.data() + 8, 4);
    future += 100000;
    answer(third, 10, (const uint8_t *)&future);
    answer(third, 10, first.data() + 8);
    EXPECT_EQ(latency(), 125);

    // Silence: from the round after 4000 ms without an answer, no latency.
    for (int round = 0; round < 4; round++) next_ping();
    EXPECT_EQ(latency(), LATENCY_UNKNOWN);
    EXPECT_EQ(vesk_ping_player_list_latency(id_of_peer(pinged)), PLAYER_LIST_LATENCY_UNKNOWN);
    EXPECT_EQ(vesk_ping_local_player_latency(), 0); // the host's own
    EXPECT_EQ(vesk_ping_player_latency(id_of_peer(old_peer)), LATENCY_UNKNOWN);
    EXPECT_EQ(vesk_ping_player_latency(99), LATENCY_UNKNOWN); // not listed
}

namespace {

class ping_client : public net_session_client_fixture
{
protected:
    // A ping in host order from `from` carrying `latencies`.
    static std::vector<uint8_t> ping_from(uint8_t from, const std::vector<uint16_t> &latencies)
    {
        std::vector<uint8_t> packet(64);
        const uint16_t length = build_ping_packet(packet.data(), (int32_t)packet.size(), 3, latencies.data(),
                                                  (int16_t)latencies.size());
        packet.resize(length);
        ((net_message_header *)packet.data())->from = from;
        return packet;
    }
};

} // namespace

TEST_F(ping_client, takes_the_table_only_from_the_host_and_only_whole)
{
    new_player_data host = test_net_player("Host"), me = test_net_player("Me"), other = test_net_player("Other");
    host.unique_identifier = 0;
    me.unique_identifier = 3;
    other.unique_identifier = 5;
    list_players({host, me, other}, 3);

    struct row
    {
        const char *what;
        uint8_t from;
        std::vector<uint16_t> latencies;
        uint16_t local_latency_after;
    };
    const row rows[] = {
        {"the host's table", 0, {0, 40, 50}, 40},
        {"a forged table from another player", 5, {1, 1, 1}, 40},
        {"a table that lists fewer players", 0, {0, 7}, 40},
        {"the host's next table", 0, {0, 44, 50}, 44},
    };
    for (const row &r : rows)
    {
        std::vector<uint8_t> packet = ping_from(r.from, r.latencies);
        handle_ping_packet(packet.data());
        EXPECT_EQ(vesk_ping_local_player_latency(), r.local_latency_after) << r.what;
    }
    EXPECT_EQ(vesk_ping_player_latency(5), 50);
    EXPECT_EQ(vesk_ping_player_list_latency(0), 0);
}

} // namespace vesk_ping_test_file
