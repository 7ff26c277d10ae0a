// The game's own packets: their wire bytes, the round trip through the byte
// swap, the chat text's shift, the extractors' refusals, and that every packet
// the builders make passes the size table.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bitmap_dialogs/network_services.h"
#include "commands.h"
#include "game_records.h"
#include "monster_initializers.h"
#include "support/expected_assertions.h"
#include "vesk_networking/vesk_packets.h"

namespace game_packets_test_file {

namespace {

using bytes = std::vector<uint8_t>;

struct packet_buffer
{
    alignas(8) uint8_t data[4096];
    uint16_t length = 0;
    const net_message_header *header() const { return (const net_message_header *)data; }
    bytes wire() const
    {
        uint8_t copy[4096];
        memcpy(copy, data, length);
        vesk_packet_byteswapping(copy, true);
        return bytes(copy, copy + length);
    }
};

new_player_data sample_player(int32_t identifier)
{
    new_player_data p;
    memset(&p, 0, sizeof(p));
    p.team_index = 1;
    p.team_captain_identifier = -1;
    p.unique_identifier = identifier;
    p.version = 0x0886;
    strcpy(p.appearance.name, "Ana");
    return p;
}

net_game_description sample_description(const char *name, const char *map)
{
    net_game_description d;
    memset(&d, 0, sizeof(d));
    strcpy(d.name, name);
    strcpy(d.map_name, map);
    d.parameters.type = 1;
    d.parameters.random_seed = 0x01020304;
    d.public_tags_checksum = 0x0A0B0C0D;
    d.private_tags_checksum = 0x11121314;
    d.flags = _net_game_supports_midgame_joining_flag;
    d.player_count = 3;
    return d;
}

} // namespace

// Every builder's packet: its length, its header and fixed fields on the
// wire, that it passes the size table, and that the swap there and back gives
// it again.
TEST(game_packets, every_builder_writes_its_wire_bytes_passes_the_size_table_and_round_trips)
{
    reset_monster_initializers();
    monster_initializer veteran = {};
    veteran.unit_tag = 0x756E6974;
    strcpy(veteran.name, "Old");
    byte_swap_data("monster initializer", &veteran, sizeof(veteran), 1, monster_initializer_byte_swapping_data);
    ASSERT_TRUE(import_monster_initializers(&veteran, sizeof(veteran)));
    const new_player_data players[2] = {sample_player(7), sample_player(9)};
    chat_appearance appearance = {};
    strcpy(appearance.player_name, "Ana");
    appearance.red = 0xFFFF;
    net_game_description description = sample_description("abc", "x");
    strcpy(description.password, "pw");
    const uint16_t latencies[3] = {10, 0x0102, 300};
    uint8_t command[12] = {};
    ((command_header *)command)->size = 12;
    ((command_header *)command)->verb = 3;
    ((command_header *)command)->time = 0x01020304;

    struct row
    {
        const char *what;
        uint16_t length;
        bytes wire_prefix; // from offset 0
    };
    const net_final_state final_state = {0x01020304, 0xDEADBEEF, 0x00000007};
    packet_buffer b[13];
    const row rows[] = {
        {"begin sync", b[0].length = build_begin_sync_data_packet(b[0].data, 4096, 255), {0, 4, 0, 8, 255, 0, 0, 0}},
        {"more commands", b[1].length = build_request_more_commands_packet(b[1].data, 4096, 254), {0, 11, 0, 8, 254}},
        {"server command", b[2].length = build_server_command_packet(b[2].data, 4096, 254, _stop_sending_null_commands),
         {0, 5, 0, 10, 254, 0, 0, 0, 0, 1}},
        {"player sync", b[3].length = build_player_sync_data_packet(b[3].data, 4096, 254, 3, 1),
         {0, 3, 0, 12, 254, 0, 0, 0, 0, 3, 0, 1}},
        {"configuration", b[4].length = build_configuration_packet(b[4].data, 4096, 255, 0, 12, -1),
         {0, 2, 0, 16, 255, 0, 0, 0, 0, 0, 0, 12, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"command", b[5].length = build_command_packet(b[5].data, 4096, 254, command, 12),
         {0, 1, 0, 20, 254, 0, 0, 0, 0, 12, 3, 0, 1, 2, 3, 4}},
        {"empty chat", b[6].length = build_chat_packet(b[6].data, 4096, &appearance, 255, 1, _broadcast_chat_message, -1, ""),
         {0, 0, 0, 57, 255, 0, 0, 0, 'A', 'n', 'a'}},
        {"description", b[7].length = build_vesk_game_description_packet(b[7].data, 4096, 255, &description),
         {0, 6, 0x02, 0x4A, 255, 0, 0, 0, 0, 1}},
        {"ping", b[8].length = build_ping_packet(b[8].data, 4096, 255, latencies, 3), {0, 9, 0, 18, 255}},
        {"midgame", b[9].length = build_begin_game_midgame_packet(b[9].data, 4096, 4, 2, players),
         {0, 10, 0x01, 0x02, 4, 0, 0, 0, 0, 2, 0, 1}},
        {"coop veterans", b[10].length = build_coop_vets_packet(b[10].data, 4096, 4, 2, players),
         {0, 8, 0, 48, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0x75, 0x6E, 0x69, 0x74}},
        {"player data", b[11].length = build_vesk_player_data_packet(b[11].data, 4096, 255, 2, 0, &players[1], 124),
         {0, 7, 0, 138, 255, 0, 0, 0, 0, 2, 0, 0, 0, 124}},
        {"player sync with a final state",
         b[12].length = build_player_sync_data_packet_with_final_state(b[12].data, 4096, 3, 0, 0, &final_state),
         {0, 3, 0, 24, 3, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 7}},
    };
    for (size_t i = 0; i < std::size(rows); ++i)
    {
        const row &r = rows[i];
        SCOPED_TRACE(r.what);
        ASSERT_GT(r.length, 0);
        EXPECT_EQ(b[i].header()->messageLen, r.length);
        EXPECT_TRUE(vesk_packet_size_is_valid(b[i].header()->what, r.length));
        const bytes wire = b[i].wire();
        ASSERT_GE(wire.size(), r.wire_prefix.size());
        EXPECT_EQ(bytes(wire.begin(), wire.begin() + (long)r.wire_prefix.size()), r.wire_prefix);
        bytes back = wire;
        vesk_packet_byteswapping(back.data(), false);
        EXPECT_EQ(memcmp(back.data(), b[i].data, r.length), 0);
    }
    EXPECT_EQ(b[6].length, 57) << "the empty chat";
    EXPECT_EQ(b[7].length, 586) << "a description \"abc\" and \"x\"";
    EXPECT_EQ(b[8].length, 18) << "a ping with three latencies";
    EXPECT_NE(description.flags & _net_game_has_password_flag, 0) << "the description learns its password bit";
    const bytes ping = b[8].wire();
    EXPECT_EQ(bytes(ping.begin() + 12, ping.end()), (bytes{0, 10, 1, 2, 1, 44}));
    reset_monster_initializers();
}

// The shift of a chat text: "a" is 0x6E, 0xF5 wraps to 0x02, and 0xF3, which
// would become the terminator, is sent as '?'.  Every other byte comes back.
TEST(game_packets, the_chat_shift_covers_every_byte_and_no_byte_cuts_the_line)
{
    chat_appearance appearance = {};
    packet_buffer b;
    std::string all;
    for (int c = 1; c < 256; ++c) all.push_back((char)c);
    b.length = build_chat_packet(b.data, 4096, &appearance, 255, 0, _team_chat_message, 2, all.c_str());
    ASSERT_EQ(b.length, 56 + 255 + 1);
    const uint8_t *text = b.data + CHAT_TEXT_OFFSET;
    EXPECT_EQ(text['a' - 1], 0x6E);
    EXPECT_EQ(text[0xF5 - 1], 0x02);
    EXPECT_EQ(text[0xF3 - 1], (uint8_t)('?' + 13));
    char decoded[300];
    decode_chat_text(extract_text_from_chat_packet(b.data), decoded, sizeof(decoded));
    std::string expected = all;
    expected[0xF3 - 1] = '?';
    EXPECT_EQ(std::string(decoded), expected);

    // A text without a terminator inside the packet, or no text at all, is refused.
    ((net_message_header *)b.data)->messageLen = CHAT_TEXT_OFFSET + 10;
    EXPECT_EQ(extract_text_from_chat_packet(b.data), nullptr);
    ((net_message_header *)b.data)->messageLen = CHAT_TEXT_OFFSET;
    EXPECT_EQ(extract_text_from_chat_packet(b.data), nullptr);
}

TEST(game_packets, extractors_read_whole_packets_and_refuse_the_rest)
{
    // The description comes back whole, the receiver's password kept.
    net_game_description sent = sample_description("Valley duel", "The Valley");
    packet_buffer b;
    b.length = build_vesk_game_description_packet(b.data, 4096, 255, &sent);
    net_game_description received;
    memset(&received, 0xEE, sizeof(received));
    strcpy(received.password, "mine");
    ASSERT_TRUE(game_description_packet_to_net_game_description(b.data, &received));
    EXPECT_STREQ(received.name, "Valley duel");
    EXPECT_STREQ(received.map_name, "The Valley");
    EXPECT_STREQ(received.password, "mine");
    EXPECT_EQ(received.parameters.random_seed, 0x01020304u);
    EXPECT_EQ(received.player_count, 3);
    EXPECT_EQ(received.port, 0);

    struct refusal
    {
        const char *what;
        int length_change;
        int player_count;
    };
    for (const refusal r : {refusal{"a length one longer", +1, 3}, refusal{"a length one shorter", -1, 3},
                            refusal{"no map name", -11, 3}, refusal{"seventeen players", 0, 17},
                            refusal{"shorter than its fixed part", 100 - (int)b.length, 3}})
    {
        packet_buffer bad = b;
        ((net_message_header *)bad.data)->messageLen = (uint16_t)(b.length + r.length_change);
        ((vesk_game_description_packet *)bad.data)->player_count = (uint8_t)r.player_count;
        net_game_description untouched = received;
        EXPECT_FALSE(game_description_packet_to_net_game_description(bad.data, &untouched)) << r.what;
        EXPECT_EQ(memcmp(&untouched, &received, sizeof(received)), 0) << r.what;
    }

    // A final state only from a barrier packet of its whole length.
    const net_final_state final_state = {300, 0x17B358FD, 0x3B9CAF34};
    b.length = build_player_sync_data_packet_with_final_state(b.data, 4096, 0, 2, 1, &final_state);
    net_final_state state = {};
    ASSERT_TRUE(extract_final_state_from_player_sync_data_packet(b.data, &state));
    EXPECT_EQ(memcmp(&state, &final_state, sizeof(state)), 0);
    for (const uint16_t length : {12, 23, 25})
    {
        ((net_message_header *)b.data)->messageLen = length;
        EXPECT_FALSE(extract_final_state_from_player_sync_data_packet(b.data, &state)) << length;
    }

    // Latencies only when the packet holds them.
    const uint16_t sent_latencies[2] = {5, 65535};
    b.length = build_ping_packet(b.data, 4096, 255, sent_latencies, 2);
    uint16_t latencies[3] = {1, 1, 1};
    EXPECT_FALSE(extract_ping_packet_latencies(latencies, 3, b.data));
    EXPECT_EQ(latencies[0], 1);
    ASSERT_TRUE(extract_ping_packet_latencies(latencies, 2, b.data));
    EXPECT_EQ(latencies[1], 65535);

    // A midgame packet needs 1..16 players and exactly their bytes.
    const new_player_data players[2] = {sample_player(1), sample_player(2)};
    b.length = build_begin_game_midgame_packet(b.data, 4096, 4, 2, players);
    new_player_data out[16];
    ASSERT_EQ(extract_players_from_begin_game_midgame_packet(b.data, out, 16), 2);
    EXPECT_EQ(out[1].unique_identifier, 2);
    ((net_message_header *)b.data)->messageLen = (uint16_t)(b.length - 1);
    EXPECT_EQ(extract_players_from_begin_game_midgame_packet(b.data, out, 16), -1);
    b.length = build_begin_game_midgame_packet(b.data, 4096, 4, 0, players);
    EXPECT_EQ(b.length, 10) << "no players: the fixed part alone";
    EXPECT_EQ(extract_players_from_begin_game_midgame_packet(b.data, out, 16), -1);

    // Builders refuse what does not fit rather than write past the buffer.
    EXPECT_EQ(build_configuration_packet(b.data, 15, 255, 0, 1, 1), 0);
    EXPECT_EQ(build_vesk_player_data_packet(b.data, 4096, 255, 1, 0, &players[0], 125), 0);
    reset_monster_initializers();
    EXPECT_EQ(build_coop_vets_packet(b.data, 4096, 4, 2, players), 0) << "no veterans, no packet";
}

// Every veteran goes to the first captain who plays; none without one.
TEST(game_packets, veterans_go_to_the_first_playing_captain)
{
    monster_initializer records[3] = {};
    byte_swap_data("monster initializer", records, sizeof(records[0]), 3, monster_initializer_byte_swapping_data);
    new_player_data players[3] = {sample_player(5), sample_player(6), sample_player(7)};
    players[0].flags = _player_is_observer_flag;
    players[1].team_captain_identifier = 7; // follows player 7
    struct row
    {
        int16_t count;
        int32_t maximum;
        int32_t kept;
        uint32_t owner;
    };
    for (const row r : {row{3, 102, 3, 7}, row{3, 2, 2, 7}, row{2, 102, 0, 0}, row{0, 102, 0, 0}})
    {
        ASSERT_TRUE(import_monster_initializers(records, sizeof(records)));
        adjust_monster_initializers_for_coop(r.count, players, r.maximum);
        int32_t count = 0;
        const monster_initializer *set = get_monster_initializers(&count);
        EXPECT_EQ(count, r.kept) << r.count << " players, maximum " << r.maximum;
        for (int32_t i = 0; i < count; ++i) EXPECT_EQ(set[i].owner_player_identifier, r.owner);
    }
    reset_monster_initializers();
}

} // namespace game_packets_test_file
