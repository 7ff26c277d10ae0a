// The lobby's wire format: the builders' lengths and wire bytes, the swap
// there and back, list walks that refuse entries running past the packet, and
// the stream cutter across the ring's end.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cseries/byte_swapping.h"
#include "metaserver_lib/metaserver_packets.h"
#include "networking/network_queues.h"
#include "statistics.h"

namespace lobby_packets_test_file {

namespace {

using bytes = std::vector<uint8_t>;

bytes to_wire(const uint8_t *packet, int32_t length)
{
    bytes wire(packet, packet + length);
    EXPECT_TRUE(byteswap_packet(wire.data(), length, true));
    return wire;
}

} // namespace

TEST(lobby_packets, builders_write_their_lengths_and_wire_bytes_and_round_trip)
{
    alignas(8) uint8_t b[8192];
    login_data login = {};
    login.platform_type = 300;
    login.max_authentication = 2;
    strcpy(login.username, "ana");
    const uint8_t token[32] = {9};
    const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    draxil_net_game_standings standings = {};
    standings.number_of_players = 4;
    standings.teams[0].time_of_elimination = 0x01020304;
    struct row
    {
        const char *what;
        int32_t length;
        int32_t expected;
        bytes wire_prefix; // from offset 0
    };
    std::vector<std::pair<row, bytes>> built;
    auto keep = [&](row r) { built.push_back({r, bytes(b, b + std::max(r.length, 0))}); };
    keep({"login", build_login_packet(b, sizeof(b), &login), 284, {0xDE, 0xAD, 0, 100, 0, 0, 1, 28, 0, 0, 1, 44}});
    keep({"room login", build_room_login_packet(b, sizeof(b), token, "ana"), 44, {0xDE, 0xAD, 0, 101, 0, 0, 0, 44, 9}});
    keep({"keepalive", build_keepalive_packet(b, sizeof(b)), 8, {0xDE, 0xAD, 0, 202, 0, 0, 0, 8}});
    keep({"change room", build_change_room_packet(b, sizeof(b), 3), 10, {0xDE, 0xAD, 0, 106, 0, 0, 0, 10, 0, 3}});
    keep({"start game", build_start_game_packet(b, sizeof(b), -1), 20,
          {0xDE, 0xAD, 0, 114, 0, 0, 0, 20, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}});
    keep({"versions", build_version_control_packet(b, sizeof(b), 300, 2182, 1, 443), 24,
          {0xDE, 0xAD, 0, 115, 0, 0, 0, 24, 0, 0, 1, 44, 0, 0, 8, 0x86, 0, 0, 0, 1, 0, 0, 1, 0xBB}});
    keep({"update buddy", build_update_buddy_packet(b, sizeof(b), 77, true), 16,
          {0xDE, 0xAD, 0, 120, 0, 0, 0, 16, 0, 0, 0, 77, 0, 0, 0, 1}});
    keep({"directed data", build_directed_data_packet(b, sizeof(b), 5, "hi", 2), 18,
          {0xDE, 0xAD, 0, 201, 0, 0, 0, 18, 0, 0, 0, 5, 0, 0, 0, 1, 'h', 'i'}});
    keep({"session key", build_sessionkey_packet(b, sizeof(b), key), 16, {0xDE, 0xAD, 0, 203, 0, 0, 0, 16, 1, 2}});
    keep({"create game", build_game_packet(b, sizeof(b), 3453, 1, "gd", 2), 14,
          {0xDE, 0xAD, 0, 104, 0, 0, 0, 14, 0x0D, 0x7D, 0, 1, 'g', 'd'}});
    keep({"search", build_player_search_query_packet(b, sizeof(b), "bo"), 11, {0xDE, 0xAD, 0, 117, 0, 0, 0, 11, 'b'}});
    keep({"score for 4 players", build_game_score_packet(b, sizeof(b), 7, &standings), 676,
          {0xDE, 0xAD, 0, 112, 0, 0, 0x02, 0xA4, 0, 0, 0, 7}});
    start_building_game_player_list_packet(b, sizeof(b), 9);
    ASSERT_TRUE(add_game_player_data_to_packet(b, sizeof(b), 0x01020304));
    keep({"game player list", ((packet_header *)b)->length, 16,
          {0xDE, 0xAD, 0, 111, 0, 0, 0, 16, 0, 0, 0, 9, 1, 2, 3, 4}});
    for (const auto &[r, host] : built)
    {
        SCOPED_TRACE(r.what);
        ASSERT_EQ(r.length, r.expected);
        const bytes wire = to_wire(host.data(), r.length);
        EXPECT_EQ(bytes(wire.begin(), wire.begin() + (long)r.wire_prefix.size()), r.wire_prefix);
        bytes back = wire;
        ASSERT_TRUE(byteswap_packet(back.data(), r.length, false));
        EXPECT_EQ(back, host);
    }
    EXPECT_EQ(build_login_packet(b, 283, &login), 0) << "a buffer too small is refused";
}

TEST(lobby_packets, four_information_strings_over_the_limit_take_exactly_433_bytes)
{
    alignas(8) uint8_t b[2048];
    const std::string city(200, 'c'), state(300, 's');
    const int32_t length = build_update_player_information_packet(b, sizeof(b), city.c_str(), state.c_str(), "NZ", "me");
    ASSERT_EQ(length, 8 + 433);
    const char *text = (const char *)b + 8;
    EXPECT_EQ(std::string(text), city);
    EXPECT_EQ(strlen(text + 201), 433u - 201 - 3) << "the overflowing string is cut";
    EXPECT_STREQ(text + 431, "") << "the strings after it are empty";
    EXPECT_STREQ(text + 432, "");
    EXPECT_EQ(build_update_player_information_packet(b, sizeof(b), "a", "b", "c", "d"), 8 + 8);
}

// Lists arriving from the service: whole entries are swapped; an entry that
// runs past the packet, a walk that does not end at its end, or a member
// count over 50 refuses the packet.
TEST(lobby_packets, list_walks_refuse_entries_that_do_not_fit)
{
    alignas(8) uint8_t wire[1024] = {};
    auto header = [&](int16_t type, int32_t length) {
        write_be16(wire, PACKET_IDENTIFIER);
        write_be16(wire + 2, (uint16_t)type);
        write_be32(wire + 4, (uint32_t)length);
    };
    // Three rooms: 8 + 72 bytes; 8 + 70 is not whole entries.
    header(_room_list_packet, 80);
    write_be16(wire + 8 + 24 * 2, 12);
    ASSERT_TRUE(byteswap_packet(wire, sizeof(wire), false));
    EXPECT_EQ(((room_info *)(wire + 8))[2].room_id, 12);
    header(_room_list_packet, 78);
    EXPECT_FALSE(byteswap_packet(wire, sizeof(wire), false));

    // Player entries: aux records with their data lengths.
    struct row
    {
        const char *what;
        std::vector<int16_t> data_lengths;
        int32_t length;
        bool accepted;
    };
    for (const row &r : {row{"two entries", {4, 0}, 8 + 24 + 4 + 24, true},
                         row{"data past the end", {40}, 8 + 24 + 4, false},
                         row{"a part entry left", {0}, 8 + 24 + 10, false},
                         row{"negative data", {-4}, 8 + 24, false}})
    {
        memset(wire, 0, sizeof(wire));
        header(_player_list_packet, r.length);
        int32_t at = 8;
        for (int16_t data : r.data_lengths)
        {
            write_be32(wire + at + 8, 1234); // player id
            write_be16(wire + at + 18, (uint16_t)data);
            at += 24 + (data > 0 ? data : 0);
        }
        EXPECT_EQ(byteswap_packet(wire, sizeof(wire), false), r.accepted) << r.what;
        if (r.accepted)
        {
            EXPECT_EQ(((metaserver_player_aux_data *)(wire + 8))->player_id, 1234u);
        }
    }

    // Order members: the count must fit the packet and stay at most 50.
    for (const auto &[count, length, accepted] :
         {std::tuple{2, 8 + 4 + 16, true}, std::tuple{3, 8 + 4 + 16, false}, std::tuple{51, 8 + 4 + 408, false}})
    {
        header(_update_order_member_list_packet, length);
        write_be32(wire + 8, (uint32_t)count);
        EXPECT_EQ(byteswap_packet(wire, sizeof(wire), false), accepted) << count;
    }

    // A type the protocol does not define, and a packet shorter than its type.
    header(_unused_packet0, 8);
    EXPECT_FALSE(byteswap_packet(wire, sizeof(wire), false));
    header(_login_packet, 100);
    EXPECT_FALSE(byteswap_packet(wire, sizeof(wire), false));
}

TEST(lobby_packets, the_stream_cutter_waits_for_whole_packets_across_the_ring_and_refuses_broken_lengths)
{
    circular_queue queue;
    ASSERT_TRUE(allocate_circular_queue("lobby test", &queue, 64));
    alignas(8) uint8_t packet[32], out[64];
    for (int i = 0; i < 32; ++i) packet[i] = (uint8_t)i;
    write_be16(packet, PACKET_IDENTIFIER);
    write_be16(packet + 2, _room_broadcast_packet);
    write_be32(packet + 4, 20);
    // Move the ring's indexes near its end, so the packet wraps.
    uint8_t filler[50] = {};
    ASSERT_TRUE(copy_data_into_circular_queue(filler, 50, &queue));
    queue.read_index = queue.write_index;
    ASSERT_TRUE(copy_data_into_circular_queue(packet, 7, &queue));
    EXPECT_EQ(parse_network_stream(&queue, out, sizeof(out)), _metaserver_stream_incomplete) << "part of the header";
    ASSERT_TRUE(copy_data_into_circular_queue(packet + 7, 10, &queue));
    EXPECT_EQ(parse_network_stream(&queue, out, sizeof(out)), _metaserver_stream_incomplete) << "part of the body";
    ASSERT_TRUE(copy_data_into_circular_queue(packet + 17, 3, &queue));
    ASSERT_EQ(parse_network_stream(&queue, out, sizeof(out)), _metaserver_stream_packet);
    EXPECT_EQ(memcmp(out, packet, 20), 0);
    EXPECT_TRUE(is_circular_queue_empty(&queue));

    for (uint32_t broken : {0u, 7u, 65u})
    {
        reset_circular_queue(&queue);
        write_be32(packet + 4, broken);
        ASSERT_TRUE(copy_data_into_circular_queue(packet, 8, &queue));
        EXPECT_EQ(parse_network_stream(&queue, out, sizeof(out)), _metaserver_stream_broken) << broken;
    }
    free_circular_queue(&queue);
}

} // namespace lobby_packets_test_file
