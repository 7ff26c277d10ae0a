// The lobby client's records and readers: the "metaserver" preferences and
// the password scramble, the room table, the bounded list readers, the chat
// payload, and the password answers against independent implementations.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "game_records.h"
#include "metaserver/metaserver_authentication.h"
#include "metaserver/metaserver_preferences.h"
#include "metaserver/metaserver_readers.h"
#include "metaserver/metaserver_rooms.h"
#include "metaserver/vesk_metaserver_packets.h"
#include "rgb_color.h"
#include "support/expected_assertions.h"
#include "support/scratch.h"
#include "tag_files/store_fixture.h"

namespace lobby_client_records_test_file {

namespace
{

// ---- preferences -------------------------------------------------------------------

TEST(lobby_preferences, every_byte_survives_the_scramble_at_every_position)
{
    for (int32_t position = 0; position < 4; ++position)
        for (int32_t byte = 1; byte <= 255; ++byte)
        {
            char text[16];
            memset(text, 'a', (size_t)position);
            text[position] = (char)byte;
            text[position + 1] = 0;
            char encoded[16], decoded[16];
            encode_metaserver_password(text, encoded, sizeof(encoded));
            ASSERT_EQ(strlen(encoded), strlen(text)) << "an encoded byte is never zero";
            decode_metaserver_password(encoded, decoded, sizeof(decoded));
            ASSERT_STREQ(decoded, text) << "byte " << byte << " at " << position;
        }
}

TEST(lobby_preferences, the_default_host_text_gives_its_port_only_within_range)
{
    const struct
    {
        const char *text, *host;
        uint16_t port;
    } cases[] = {
        {"lobby.example:4000", "lobby.example", 4000}, {"lobby.example:0", "lobby.example", 6321},
        {"lobby.example:65536", "lobby.example", 6321}, {"lobby.example", "lobby.example", 6321},
        {"lobby.example:", "lobby.example", 6321},
    };
    for (const auto &c : cases)
    {
        char host[256];
        uint16_t port = 0;
        parse_default_metaserver_host(c.text, host, sizeof(host), &port);
        EXPECT_STREQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
}

// What the player may type as the lobby's address: a host name or dotted
// address, optionally a port 1 .. 65535; nothing else is stored.
TEST(lobby_preferences, a_typed_address_is_a_host_and_an_optional_port)
{
    const struct
    {
        const char *text;
        bool taken;
        const char *host;
        uint16_t port;
    } cases[] = {
        // The port and its bounds are the join box's (parse_host_and_port's
        // table); these rows are the lobby's own: its default port and the
        // characters its record keeps.
        {"lobby.example:4000", true, "lobby.example", 4000}, {"10.0.0.7", true, "10.0.0.7", 6321},
        {"my-lobby:65535", true, "my-lobby", 65535},        {"lobby_example", false, "", 0},
        {"lobby.example:4000:1", false, "", 0},             {"lobby example", false, "", 0},
    };
    for (const auto &c : cases)
    {
        char host[256] = "";
        uint16_t port = 0;
        EXPECT_EQ(parse_typed_metaserver_address(c.text, host, sizeof(host), &port), c.taken) << c.text;
        if (!c.taken) continue;
        EXPECT_STREQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
    EXPECT_FALSE(parse_typed_metaserver_address(std::string(256, 'a').c_str(), nullptr, 0, nullptr));
}

TEST(lobby_preferences, an_over_long_user_or_password_is_repaired)
{
    metaserver_parameters record;
    default_metaserver_preferences(&record);
    memset(record.user, 'u', sizeof(record.user));
    memset(record.password, 'p', sizeof(record.password));
    record.flags = 99;
    EXPECT_TRUE(verify_metaserver_preferences(&record));
    EXPECT_LT(strlen(record.user), 32u);
    EXPECT_NE(record.user[0], 'u') << "the system's name replaces it";
    EXPECT_STREQ(record.password, "");
    EXPECT_EQ(record.flags, _default_metaserver_flags);
}

class lobby_preferences_store : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        start_store();
        set_default_metaserver_host_for_tools("127.0.0.1", 7000);
    }
    void TearDown() override
    {
        free_metaserver_preferences();
        set_default_metaserver_host_for_tools(nullptr, 0);
        store_test::TearDown();
    }
};

TEST_F(lobby_preferences_store, saving_keeps_the_stored_room_for_65535_and_writes_for_the_owner_alone)
{
    metaserver_parameters *record = read_metaserver_preferences();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->port, 7000);
    record->desired_room = 9;
    record->flags = _save_password_flag;
    ASSERT_TRUE(write_metaserver_preferences());
    free_metaserver_preferences();

    set_metaserver_preferences_last_user_id(1234);
    save_metaserver_preferences(METASERVER_KEEP_STORED_ROOM, nullptr);
    record = read_metaserver_preferences();
    EXPECT_EQ(record->desired_room, 9);
    EXPECT_EQ(record->user_id, 1234);
    free_metaserver_preferences();
    save_metaserver_preferences(4, nullptr);
    EXPECT_EQ(read_metaserver_preferences()->desired_room, 4);

    EXPECT_EQ(stored_file_mode(METASERVER_PREFERENCES_NAME), 0600);
}

// An address the player typed is what every later read (the login's) holds;
// a tool's named service wins over it; an empty text goes back to the default.
TEST_F(lobby_preferences_store, a_typed_address_is_kept_until_the_default_is_asked_for)
{
    set_default_metaserver_host_for_tools(nullptr, 0);
    char text[300];
    get_metaserver_address(text, sizeof(text));
    const std::string default_address = text;
    EXPECT_FALSE(set_metaserver_address("no host:80"));
    get_metaserver_address(text, sizeof(text));
    EXPECT_EQ(text, default_address) << "a refused address stores nothing";
    EXPECT_TRUE(set_metaserver_address("lobby.example:4000"));
    get_metaserver_address(text, sizeof(text));
    EXPECT_STREQ(text, "lobby.example:4000");
    set_default_metaserver_host_for_tools("127.0.0.1", 7000);
    get_metaserver_address(text, sizeof(text));
    EXPECT_STREQ(text, "127.0.0.1:7000");
    set_default_metaserver_host_for_tools(nullptr, 0);
    EXPECT_TRUE(set_metaserver_address(""));
    get_metaserver_address(text, sizeof(text));
    EXPECT_EQ(text, default_address);
}

// ---- rooms -------------------------------------------------------------------------

TEST(lobby_rooms, the_next_room_wraps_both_ways_and_a_room_keeps_its_first_type)
{
    initialize_metaserver_room_list();
    EXPECT_EQ(next_metaserver_room(-1, true), -1);
    for (int16_t room : {3, 7, 9}) add_or_change_metaserver_room(room, 1, 0, 0, 6321, 0, 0);
    const struct
    {
        int16_t from;
        bool forward;
        int16_t next;
    } cases[] = {{9, true, 3}, {3, false, 9}, {-1, true, 3}, {3, true, 7}, {7, false, 3}};
    for (const auto &c : cases) EXPECT_EQ(next_metaserver_room(c.from, c.forward), c.next) << c.from;
    EXPECT_EQ(metaserver_room_table_count(), 3);
    EXPECT_EQ(maximum_metaserver_room_index(), 9);
    EXPECT_TRUE(metaserver_rooms_dirty());
    EXPECT_FALSE(metaserver_rooms_dirty());

    add_or_change_metaserver_room(5, 1, 0, 0, 6321, _ranked_room, 0);
    add_or_change_metaserver_room(5, 8, 2, 0x0A000001, 7000, _tournament_room, 4);
    room_data room;
    ASSERT_TRUE(get_metaserver_room_data(5, &room));
    EXPECT_EQ(room.room_type, _ranked_room);
    EXPECT_EQ(room.player_count, 8);
    EXPECT_EQ(room.port, 7000);

    add_or_change_metaserver_room(128, 1, 0, 0, 0, 0, 0);
    EXPECT_EQ(metaserver_room_table_count(), 4);
    dispose_metaserver_room_list();
}

// ---- readers -----------------------------------------------------------------------

// A list packet in host order: header and the entries' bytes.
std::vector<uint8_t> host_packet(int16_t type, const std::vector<uint8_t> &body)
{
    std::vector<uint8_t> packet(8);
    const uint16_t identifier = 0xDEAD;
    const int32_t length = (int32_t)(8 + body.size());
    memcpy(packet.data(), &identifier, 2);
    memcpy(packet.data() + 2, &type, 2);
    memcpy(packet.data() + 4, &length, 4);
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
}

std::vector<uint8_t> player_entry(uint32_t id, int16_t data_length, int32_t data_bytes_present)
{
    metaserver_player_aux_data aux = {};
    aux.player_id = id;
    aux.player_data_length = data_length;
    std::vector<uint8_t> entry((const uint8_t *)&aux, (const uint8_t *)&aux + sizeof(aux));
    entry.resize(entry.size() + (size_t)data_bytes_present, 0);
    return entry;
}

TEST(lobby_readers, a_walk_stops_at_the_first_entry_that_does_not_fit)
{
    const struct
    {
        const char *name;
        std::vector<std::vector<uint8_t>> entries;
        int32_t readable;
    } cases[] = {
        {"two whole entries", {player_entry(1, 40, 40), player_entry(2, 0, 0)}, 2},
        {"data past the packet", {player_entry(1, 40, 40), player_entry(2, 500, 10)}, 1},
        {"negative data length", {player_entry(1, -4, 0)}, 0},
        {"a cut aux record", {player_entry(1, 0, 0), std::vector<uint8_t>(10, 0)}, 1},
    };
    for (const auto &c : cases)
    {
        std::vector<uint8_t> body;
        for (const auto &entry : c.entries) body.insert(body.end(), entry.begin(), entry.end());
        const std::vector<uint8_t> packet = host_packet(_player_list_packet, body);
        int32_t readable = 0;
        metaserver_player_aux_data aux;
        int32_t data_length;
        while (get_indexed_player_data_from_packet(packet.data(), (int32_t)packet.size(), readable, &aux, &data_length))
        {
            EXPECT_EQ(aux.player_id, (uint32_t)readable + 1) << c.name;
            ++readable;
        }
        EXPECT_EQ(readable, c.readable) << c.name;
    }
}

TEST(lobby_readers, player_data_needs_both_names_ending_at_its_end)
{
    const struct
    {
        const char *name;
        std::string strings;
        bool valid;
    } cases[] = {
        {"two names", std::string("Anna\0Reds\0", 10), true},
        {"empty names", std::string("\0\0", 2), true},
        {"team unterminated", std::string("Anna\0Reds", 9), false},
        {"bytes after the team", std::string("Anna\0Reds\0x", 11), false},
        {"one name only", std::string("Anna\0", 5), false},
    };
    for (const auto &c : cases)
    {
        std::vector<uint8_t> data(sizeof(metaserver_player_data), 0);
        data.insert(data.end(), c.strings.begin(), c.strings.end());
        char name[32], team[32];
        EXPECT_EQ(parse_metaserver_player_data(data.data(), (int32_t)data.size(), name, sizeof(name), team,
                                               sizeof(team)),
                  c.valid)
            << c.name;
    }
    EXPECT_FALSE(parse_metaserver_player_data(nullptr, 37, nullptr, 0, nullptr, 0));
}

TEST(lobby_readers, player_statistics_need_the_fixed_part_and_bound_each_text)
{
    metaserver_player_stats stats;
    std::vector<uint8_t> body(sizeof(player_info_packet) - 1, 0);
    EXPECT_FALSE(build_metaserver_player_stats_from_player_info_packet(&stats, body.data(), (int32_t)body.size()));

    body.resize(sizeof(player_info_packet), 0);
    const std::string texts = std::string(40, 'l') + '\0' + "Name" + '\0' + "Order" + '\0' + std::string(60, 'c') +
                              '\0' + "ST" + '\0' + "Land" + '\0' + std::string(300, 'p'); // the last unterminated
    body.insert(body.end(), texts.begin(), texts.end());
    ASSERT_TRUE(build_metaserver_player_stats_from_player_info_packet(&stats, body.data(), (int32_t)body.size()));
    EXPECT_EQ(strlen(stats.login), 15u);
    EXPECT_STREQ(stats.name, "Name");
    EXPECT_STREQ(stats.order_name, "Order");
    EXPECT_EQ(strlen(stats.description), 47u);
    const char *personal = stats.description + 48 + 3 + 5;
    EXPECT_EQ(strlen(personal), 254u);
}

TEST(lobby_readers, an_event_text_ends_at_its_data_or_its_buffer)
{
    const char unterminated[] = {'a', 'b', 'c', 'd'};
    const struct
    {
        const char *name;
        const void *data;
        int32_t length;
        const char *expected;
    } cases[] = {
        {"no data", nullptr, 5, ""},
        {"a negative length", "abc", -1, ""},
        {"unterminated", unterminated, 3, "abc"},
        {"cut to the buffer", unterminated, 4, "abc"},
        {"terminated early", "ab\0cd", 5, "ab"},
    };
    for (const auto &c : cases)
    {
        char text[4];
        memset(text, 'x', sizeof(text));
        extract_event_text(text, c.data, c.length, sizeof(text));
        EXPECT_STREQ(text, c.expected) << c.name;
    }
}

// ---- chat payload ------------------------------------------------------------------

TEST(lobby_chat, a_payload_travels_to_wire_order_and_back_with_its_strings_bounded)
{
    uint8_t payload[MAXIMUM_VESK_METASERVER_CHAT_SIZE];
    const rgb_color color = {0x1234, 0x5678, 0x9ABC, 0x0102};
    const int32_t length =
        build_vesk_metaserver_chat_packet(payload, &color, _chat_message_directed_flag, 77, 0xFFFFFFFF, "Anna", "hello");
    EXPECT_EQ(length, 24 + 5 + 6);
    ASSERT_TRUE(byteswap_metaserver_packet(payload, length, true));
    const uint8_t golden[24] = {0, 0, 0, 35, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0x02, 0x01,
                                0, 1, 0, 0, 0, 0, 0, 77, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(memcmp(payload, golden, 24), 0) << "the colour's fourth word travels as it is";
    ASSERT_TRUE(byteswap_metaserver_packet(payload, length, false));
    char text[256], name[32];
    ASSERT_TRUE(extract_message_from_vesk_metaserver_chat_packet(payload, length, text, sizeof(text)));
    ASSERT_TRUE(extract_player_name_from_vesk_metaserver_chat_packet(payload, length, name, sizeof(name)));
    EXPECT_STREQ(text, "hello");
    EXPECT_STREQ(name, "Anna");

    const struct
    {
        const char *name;
        int32_t available;
        int16_t declared;
    } refused[] = {
        {"shorter than its record", 20, 35},
        {"longer than the event", 30, 35},
        {"text cut before its terminator", 35, 34},
        {"no text after the name", 35, 29},
    };
    for (const auto &c : refused)
    {
        vesk_metaserver_chat_data header;
        memcpy(&header, payload, sizeof(header));
        header.length = c.declared;
        memcpy(payload, &header, sizeof(header));
        EXPECT_FALSE(extract_message_from_vesk_metaserver_chat_packet(payload, c.available, text, sizeof(text)))
            << c.name;
    }
    int16_t other_type = 1;
    memcpy(payload, &other_type, 2);
    EXPECT_FALSE(byteswap_metaserver_packet(payload, length, true));
}

// ---- passwords ---------------------------------------------------------------------

// The simple scheme written again from its description, for comparison.
std::vector<uint8_t> independent_simple_answer(const std::string &password, const uint8_t *salt)
{
    uint8_t block[16];
    for (int i = 0; i < 16; ++i) block[i] = '#';
    for (size_t i = 0; i <= password.size(); ++i) block[i] = i < password.size() ? (uint8_t)password[i] : 0;
    uint8_t out[16];
    for (int i = 0; i < 16; ++i) out[i] = block[i] ^ salt[i];
    for (int i = 1; i < 16; ++i) out[i] = out[i] ^ out[i - 1];
    for (int i = 1; i < 16; ++i) out[i] = (uint8_t)(0xFF - (uint8_t)((out[i - 1] * out[i]) & 0xFF));
    return std::vector<uint8_t>(out, out + 16);
}

std::string md5sum_of(const std::string &bytes)
{
    char path[] = "/tmp/vesk_lobby_md5_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "";
    if (write(fd, bytes.data(), bytes.size()) != (ssize_t)bytes.size()) bytes.size();
    close(fd);
    std::string command = std::string("md5sum ") + path;
    FILE *pipe = popen(command.c_str(), "r");
    char digest[33] = {};
    if (pipe && fread(digest, 1, 32, pipe) != 32) digest[0] = 0;
    if (pipe) pclose(pipe);
    unlink(path);
    return digest;
}

TEST(lobby_passwords, each_scheme_matches_an_independent_implementation)
{
    uint8_t salt[16];
    for (int i = 0; i < 16; ++i) salt[i] = (uint8_t)(0x31 + 7 * i);
    const char *simple_cases[] = {"abc", "fifteen_chars15", ""};
    for (const char *password : simple_cases)
    {
        char stored[16] = {};
        strncpy(stored, password, 15);
        uint8_t answer[64] = {};
        EXPECT_EQ(encrypt_password(stored, salt, answer, _braindead_simple_encryption), 16);
        EXPECT_EQ(std::vector<uint8_t>(answer, answer + 16), independent_simple_answer(password, salt)) << password;
        EXPECT_EQ(std::vector<uint8_t>(answer + 16, answer + 64), std::vector<uint8_t>(48, 0));
    }

    // The third character equals its salt byte: the digested text ends there.
    const char md5_cases[][16] = {"secret", {'a', 'b', (char)salt[2], 'd', 0}, "0123456789abcde"};
    for (const char *password : md5_cases)
    {
        std::string xored;
        for (size_t i = 0; password[i] && i < 16; ++i)
        {
            const char c = (char)(password[i] ^ salt[i]);
            if (!c) break;
            xored += c;
        }
        uint8_t answer[64] = {};
        EXPECT_EQ(encrypt_password(password, salt, answer, _md5_encryption), 64);
        EXPECT_EQ(std::string((const char *)answer, 32), md5sum_of(xored)) << password;
        EXPECT_EQ(answer[32], 0);
    }

    uint8_t answer[64] = {};
    EXPECT_EQ(encrypt_password("plain", salt, answer, _plaintext_encryption), 16);
    EXPECT_STREQ((const char *)answer, "plain");
    uint8_t zeros[64] = {};
    memset(answer, 0, sizeof(answer));
    EXPECT_EQ(encrypt_password("plain", salt, answer, 7), 16);
    EXPECT_EQ(memcmp(answer, zeros, 64), 0);
}

TEST(lobby_passwords, player_data_carries_the_look_and_both_names)
{
    player_appearance_data look = {};
    look.coat_of_arms_bitmap_index = 3;
    look.caste_bitmap_index = 4;
    strcpy(look.name, "Anna");
    memset(look.team_name, 'T', sizeof(look.team_name) - 1);
    look.primary_color = {0x0102, 0x0304, 0x0506, 0};
    uint8_t data[MAXIMUM_METASERVER_PLAYER_DATA_SIZE];
    const int32_t length = build_metaserver_player_data_from_appearance(data, &look, _player_state_in_game);
    EXPECT_EQ(length, 38 + 5 + 32);
    const uint8_t golden[12] = {3, 4, 0, 1, 1, 2, 3, 4, 5, 6, 0, 0};
    EXPECT_EQ(memcmp(data, golden, 12), 0);
    EXPECT_EQ(data[22] << 8 | data[23], CURRENT_VERSION_IDENTIFIER);
    EXPECT_EQ(data[24] << 8 | data[25], 443);
    char name[32], team[32];
    EXPECT_TRUE(parse_metaserver_player_data(data, length, name, sizeof(name), team, sizeof(team)));
    EXPECT_STREQ(name, "Anna");
    EXPECT_EQ(strlen(team), 31u);
}

} // namespace

} // namespace lobby_client_records_test_file
