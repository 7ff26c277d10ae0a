#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "networking/network_constants.h"
#include "networking/packet_byteswap.h"
#include "networking/packet_construction.h"
#include "networking/packet_definitions.h"
#include "support/wire_packets.h"

namespace packets_test_file {

namespace {

typedef std::function<int32_t(uint8_t *packet, int32_t capacity)> packet_builder;

// Builds in host order, converts to the wire, and gives the wire bytes.
std::vector<uint8_t> built_on_the_wire(const packet_builder &build)
{
    std::vector<uint8_t> packet(MAXIMUM_SINGLE_PACKET_SIZE);
    const int32_t length = build(packet.data(), (int32_t)packet.size());
    if (length <= 0) return {};
    EXPECT_TRUE(byteswap_packet_norm(nullptr, packet.data(), length, true));
    packet.resize((size_t)length);
    return packet;
}

const uint8_t two_bytes[] = {1, 2};

TEST(packets, every_library_packet_has_its_golden_bytes_on_the_wire)
{
    const struct
    {
        const char *name;
        packet_builder build;
        std::vector<uint8_t> wire;
    } cases[] = {
        {"join request with an empty password",
         [](uint8_t *p, int32_t c) { return build_join_request_packet(p, c, kSendToServer, "ab", "", two_bytes, 2); },
         bytes_of({0x80, 0x00, 0x00, 14, 254, 0, 0, 0, 'a', 'b', 0, 0, 1, 2})},
        {"player data changed",
         [](uint8_t *p, int32_t c) { return build_player_data_changed_packet(p, c, kSendToServer, 0x0103, two_bytes, 2); },
         bytes_of({0x80, 0x01, 0x00, 12, 254, 0, 0, 0, 0x01, 0x03, 1, 2})},
        {"game data changed",
         [](uint8_t *p, int32_t c) { return build_game_data_changed_packet(p, c, kSendToServer, two_bytes, 2); },
         bytes_of({0x80, 0x02, 0x00, 10, 254, 0, 0, 0, 1, 2})},
        {"new player sent to its owner",
         [](uint8_t *p, int32_t c) { return build_new_player_packet(p, c, 2, 2, "x", two_bytes, 1); },
         bytes_of({0x80, 0x03, 0x00, 15, 2, 0, 0, 0, 0, 2, 0, 1, 'x', 0, 1})},
        {"new player sent to another",
         [](uint8_t *p, int32_t c) { return build_new_player_packet(p, c, 1, 2, "x", two_bytes, 1); },
         bytes_of({0x80, 0x03, 0x00, 15, 1, 0, 0, 0, 0, 2, 0, 0, 'x', 0, 1})},
        {"join denied with a reason",
         [](uint8_t *p, int32_t c) { return build_join_request_denied_packet(p, c, 3, "no", 10); },
         bytes_of({0x80, 0x04, 0x00, 20, 3, 0, 0, 0, 'n', 'o', 0, 'e', 'r', 'r', 'o', 'r', '=', '1', '0', 0})},
        {"join denied with text only",
         [](uint8_t *p, int32_t c) { return build_join_request_denied_packet(p, c, 3, "no", -1); },
         bytes_of({0x80, 0x04, 0x00, 11, 3, 0, 0, 0, 'n', 'o', 0})},
        {"server deleted player",
         [](uint8_t *p, int32_t c) { return build_server_deleted_player_packet(p, c, 4, 7); },
         bytes_of({0x80, 0x05, 0x00, 10, 4, 0, 0, 0, 0, 7})},
        {"game data",
         [](uint8_t *p, int32_t c) { return build_game_data_packet(p, c, kSendToAllPlayers, two_bytes, 2); },
         bytes_of({0x80, 0x06, 0x00, 10, 255, 0, 0, 0, 1, 2})},
        {"client connection closed",
         [](uint8_t *p, int32_t c) { return build_client_connection_closed_packet(p, c, 5); },
         bytes_of({0x80, 0x07, 0x00, 8, 5, 0, 0, 0})},
    };
    for (const auto &c : cases)
    {
        const std::vector<uint8_t> wire = built_on_the_wire(c.build);
        EXPECT_EQ(wire, c.wire) << c.name;
        // And back: the wire bytes become the packet the builder made.
        std::vector<uint8_t> host(MAXIMUM_SINGLE_PACKET_SIZE);
        const int32_t length = c.build(host.data(), (int32_t)host.size());
        std::vector<uint8_t> back = wire;
        ASSERT_TRUE(byteswap_packet_norm(nullptr, back.data(), (int32_t)back.size(), false)) << c.name;
        EXPECT_EQ(back, std::vector<uint8_t>(host.begin(), host.begin() + length)) << c.name;
    }
}

TEST(packets, builders_refuse_what_does_not_fit)
{
    const std::vector<uint8_t> data(MAXIMUM_SINGLE_PACKET_SIZE, 9);
    const std::string long_name(4000, 'n');
    const struct
    {
        const char *name;
        int32_t capacity;
        packet_builder build;
    } cases[] = {
        {"player data of 125 bytes in a join request", 4096,
         [&](uint8_t *p, int32_t c) { return build_join_request_packet(p, c, 254, "a", "b", data.data(), 125); }},
        {"player data of 125 bytes in a new player", 4096,
         [&](uint8_t *p, int32_t c) { return build_new_player_packet(p, c, 1, 2, "a", data.data(), 125); }},
        {"player data of 125 bytes changed", 4096,
         [&](uint8_t *p, int32_t c) { return build_player_data_changed_packet(p, c, 254, 1, data.data(), 125); }},
        {"player data of 125 bytes in a status packet", 4096,
         [&](uint8_t *p, int32_t c) { return build_player_data_changed_packet_public(p, c, 1, 1, data.data(), 125); }},
        {"game data of 481 bytes", 4096,
         [&](uint8_t *p, int32_t c) { return build_game_data_packet(p, c, 1, data.data(), 481); }},
        {"game data of 481 bytes in a status packet", 4096,
         [&](uint8_t *p, int32_t c) { return build_game_data_packet_public(p, c, 1, data.data(), 481); }},
        {"a name and data past 4096 bytes", 8192,
         [&](uint8_t *p, int32_t c) { return build_new_player_packet(p, c, 1, 2, long_name.c_str(), data.data(), 124); }},
        {"a denial text past its buffer", 64,
         [&](uint8_t *p, int32_t c) { return build_join_request_denied_packet(p, c, 1, long_name.c_str(), 10); }},
        {"a header in 7 bytes", 7,
         [&](uint8_t *p, int32_t c) { return build_client_connection_closed_packet(p, c, 1); }},
        {"a negative length", 4096,
         [&](uint8_t *p, int32_t c) { return build_game_data_packet(p, c, 1, data.data(), -1); }},
    };
    for (const auto &c : cases)
    {
        std::vector<uint8_t> packet((size_t)c.capacity + 64, 0x5A);
        EXPECT_EQ(c.build(packet.data(), c.capacity), 0) << c.name;
        for (size_t i = (size_t)c.capacity; i < packet.size(); ++i)
            ASSERT_EQ(packet[i], 0x5A) << c.name << ": written past the capacity";
    }
    // The limits themselves still fit.
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    EXPECT_EQ(build_join_request_packet(packet, sizeof(packet), 254, "a", "b", data.data(), 124), 8 + 4 + 124);
    EXPECT_EQ(build_game_data_packet_public(packet, sizeof(packet), 1, data.data(), 480), 10 + 480);
}

// A packet arriving from the wire, in host order as a handler sees it.
std::vector<uint8_t> received(std::vector<uint8_t> wire)
{
    EXPECT_TRUE(byteswap_packet_norm(nullptr, wire.data(), (int32_t)wire.size(), false));
    return wire;
}

TEST(packets, readers_take_names_and_data_only_inside_the_packet)
{
    // Join requests: the name and password must end inside the packet.
    const struct
    {
        const char *name;
        std::vector<uint8_t> wire;
        bool accepted;
        int32_t data_length;
    } joins[] = {
        {"empty password", bytes_of({0x80, 0, 0, 13, 254, 0, 0, 0, 'a', 0, 0, 7, 8}), true, 2},
        {"empty name and password", bytes_of({0x80, 0, 0, 10, 254, 0, 0, 0, 0, 0}), true, 0},
        {"password without terminator", bytes_of({0x80, 0, 0, 12, 254, 0, 0, 0, 'a', 0, 'p', 'w'}), false, 0},
        {"name without terminator", bytes_of({0x80, 0, 0, 11, 254, 0, 0, 0, 'a', 'b', 'c'}), false, 0},
        {"another type", bytes_of({0x80, 1, 0, 10, 254, 0, 0, 0, 0, 0}), false, 0},
    };
    for (const auto &c : joins)
    {
        const std::vector<uint8_t> packet = received(c.wire);
        const char *name = nullptr, *password = nullptr;
        const void *data = nullptr;
        int32_t length = -1;
        ASSERT_EQ(parse_join_request_packet(packet.data(), &name, &password, &data, &length), c.accepted) << c.name;
        if (c.accepted) { EXPECT_EQ(length, c.data_length) << c.name; }
    }
    std::vector<uint8_t> too_much = wire_packet(0x8000, 8 + 2 + 125);
    too_much[8] = too_much[9] = 0;
    EXPECT_FALSE(parse_join_request_packet(received(too_much).data(), nullptr, nullptr, nullptr, nullptr));

    // New players: the same for the name; the data after it.
    std::vector<uint8_t> packet = received(bytes_of({0x80, 3, 0, 17, 1, 254, 0, 0, 0, 2, 0, 0, 'b', 'o', 0, 4, 5}));
    ASSERT_STREQ(get_name_from_new_player_packet(packet.data()), "bo");
    int32_t length = 0;
    const uint8_t *data = (const uint8_t *)get_player_data_from_new_player_packet(packet.data(), &length);
    ASSERT_EQ(length, 2);
    EXPECT_EQ(data[0], 4);
    packet = received(bytes_of({0x80, 3, 0, 14, 1, 254, 0, 0, 0, 2, 0, 0, 'b', 'o'}));
    EXPECT_EQ(get_name_from_new_player_packet(packet.data()), nullptr);
    EXPECT_EQ(get_player_data_from_new_player_packet(packet.data(), &length), nullptr);
    std::vector<uint8_t> long_data = wire_packet(0x8003, 12 + 1 + 125);
    long_data[12] = 0;
    EXPECT_EQ(get_player_data_from_new_player_packet(received(long_data).data(), &length), nullptr);
}

TEST(packets, status_packets_carry_exactly_their_declared_data)
{
    const uint8_t data[124] = {1, 2, 3};
    uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
    int32_t length = -1;
    ASSERT_EQ(build_game_data_packet_public(packet, sizeof(packet), 3, data, 3), 13);
    EXPECT_EQ(packet[5], kSendToServer);
    EXPECT_EQ(memcmp(extract_game_data_from_packet(packet, &length), data, 3), 0);
    EXPECT_EQ(length, 3);
    ASSERT_EQ(build_player_data_changed_packet_public(packet, sizeof(packet), 3, 6, data, 124), 12 + 124);
    EXPECT_NE(extract_player_data_from_packet(packet, &length), nullptr);
    EXPECT_EQ(length, 124);
    EXPECT_EQ(extract_game_data_from_packet(packet, &length), nullptr) << "another type";

    // A declared length that disagrees with the packet's, or is negative.
    const int16_t lies[] = {125, 123, -1};
    for (const int16_t lie : lies)
    {
        memcpy(packet + 10, &lie, sizeof(lie));
        EXPECT_EQ(extract_player_data_from_packet(packet, &length), nullptr) << lie;
    }
}

TEST(packets, the_byte_swap_converts_only_packets_it_can_frame)
{
    static int32_t game_swaps;
    game_swaps = 0;
    const net_packet_byteswap_procedure count_game_swaps = [](void *, bool) { ++game_swaps; };
    const struct
    {
        const char *name;
        std::vector<uint8_t> wire;
        int32_t available;
        bool converted;
    } cases[] = {
        {"a game packet goes to the game", wire_packet(0x0003, 12), 12, true},
        {"library type 8", wire_packet(0x8008, 8), 8, false},
        {"length 7", wire_packet(0x8007, 7), 8, false},
        {"longer than what is readable", wire_packet(0x8006, 20), 12, false},
        {"a new player without its flags", wire_packet(0x8003, 11), 11, false},
        {"a deleted player without its id", wire_packet(0x8005, 9), 9, false},
    };
    for (const auto &c : cases)
    {
        std::vector<uint8_t> packet = c.wire;
        EXPECT_EQ(byteswap_packet_norm(count_game_swaps, packet.data(), c.available, false), c.converted) << c.name;
        if (!c.converted) { EXPECT_EQ(packet, c.wire) << c.name << ": refused, yet changed"; }
    }
    EXPECT_EQ(game_swaps, 1);
}

} // namespace

} // namespace packets_test_file
