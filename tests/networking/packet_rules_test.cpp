// The one table of packet rules: what every builder makes passes it where
// its packet is meant to arrive, and the trust rules' verdicts on packets
// from each kind of sender.

#include <gtest/gtest.h>

#include <functional>

#include "networking/packet_construction.h"
#include "networking/public_packet_definitions.h"
#include "vesk_networking/network.h"
#include "vesk_networking/packet_rules.h"
#include "vesk_networking/vesk_packets.h"

namespace packet_rules_test_file {

namespace {

const uint8_t record[NETWORK_PLAYER_DATA_SIZE] = {};
const uint8_t game_data[MAXIMUM_USER_GAME_DATA_SIZE] = {};

} // namespace

TEST(packet_rules, what_the_builders_make_passes_where_it_is_meant_to_arrive)
{
    const std::string long_name(MAXIMUM_NETWORK_PLAYER_NAME_LENGTH, 'n');
    const std::string long_text(NETWORK_MESSAGE_LENGTH, 't');
    struct built_case
    {
        const char *name;
        net_packet_receiver receiver;
        std::function<int32_t(uint8_t *, int32_t)> build;
    };
    const built_case cases[] = {
        {"the largest join request", _received_from_unjoined_player,
         [&](uint8_t *p, int32_t c) { return build_join_request_packet(p, c, 254, long_name.c_str(), long_name.c_str(), record, sizeof(record)); }},
        {"the smallest join request", _received_from_unjoined_player,
         [](uint8_t *p, int32_t c) { return build_join_request_packet(p, c, 254, "", "", record, 0); }},
        {"a player's record", _received_from_joined_player,
         [](uint8_t *p, int32_t c) { return build_player_data_changed_packet(p, c, 254, 3, record, sizeof(record)); }},
        {"the host's game data", _received_from_own_player,
         [](uint8_t *p, int32_t c) { return build_game_data_changed_packet(p, c, 254, game_data, sizeof(game_data)); }},
        {"the largest new player", _received_by_client,
         [&](uint8_t *p, int32_t c) { return build_new_player_packet(p, c, 1, 2, long_name.c_str(), record, sizeof(record)); }},
        {"the longest denial", _received_by_client,
         [&](uint8_t *p, int32_t c) { return build_join_request_denied_packet(p, c, 1, long_text.c_str(), -2147483647 - 1); }},
        {"a deletion notice", _received_by_client,
         [](uint8_t *p, int32_t c) { return build_server_deleted_player_packet(p, c, 1, 4); }},
        {"game data", _received_by_client,
         [](uint8_t *p, int32_t c) { return build_game_data_packet(p, c, 1, game_data, sizeof(game_data)); }},
        {"connection closed", _received_by_client,
         [](uint8_t *p, int32_t c) { return build_client_connection_closed_packet(p, c, 1); }},
        {"game data status", _received_status,
         [](uint8_t *p, int32_t c) { return build_game_data_packet_public(p, c, 1, game_data, sizeof(game_data)); }},
        {"player data status", _received_status,
         [](uint8_t *p, int32_t c) { return build_player_data_changed_packet_public(p, c, 1, 2, record, sizeof(record)); }},
    };
    for (const built_case &test : cases)
    {
        SCOPED_TRACE(test.name);
        uint8_t packet[MAXIMUM_SINGLE_PACKET_SIZE];
        const int32_t length = test.build(packet, sizeof(packet));
        ASSERT_GT(length, 0);
        const net_message_header *header = (const net_message_header *)packet;
        const uint8_t from = test.receiver == _received_by_client || test.receiver == _received_status ? 254 : 3;
        EXPECT_EQ(check_received_packet(test.receiver, header->what, (uint16_t)length, header->to, from, 0),
                  _packet_accepted);
    }
}

TEST(packet_rules, the_trust_rules_judge_each_sender)
{
    constexpr uint16_t library = kNetLibPacketBit;
    struct verdict_case
    {
        const char *name;
        net_packet_receiver receiver;
        uint16_t what, length;
        uint8_t to, from;
        net_packet_refusal verdict;
    };
    const verdict_case cases[] = {
        {"a join request to everybody", _received_from_joined_player, library | 0, 20, 255, 3, _packet_wrong_direction},
        {"a join request to the host's player", _received_from_unjoined_player, library | 0, 20, 0, 3, _packet_before_join},
        {"game data from a client", _received_from_joined_player, library | 2, 20, 254, 3, _packet_wrong_direction},
        {"game data of 481 bytes from the host's player", _received_from_own_player, library | 2, 489, 254, 0, _packet_bad_length},
        {"a deletion notice from a client", _received_from_joined_player, library | 5, 10, 254, 3, _packet_wrong_direction},
        {"a deletion notice of 12 bytes", _received_by_client, library | 5, 12, 1, 254, _packet_bad_length},
        {"a new player relayed from a player", _received_by_client, library | 3, 20, 1, 3, _packet_not_from_host},
        {"a join request at a client", _received_by_client, library | 0, 20, 1, 254, _packet_not_from_host},
        {"library type 8", _received_by_client, library | 8, 8, 1, 254, _packet_unknown_type},
        {"a chat before the join", _received_from_unjoined_player, _chat_packet, 60, 255, 3, _packet_before_join},
        {"a chat to everybody", _received_from_joined_player, _chat_packet, 60, 255, 3, _packet_accepted},
        {"a command to the command server", _received_from_joined_player, _command_packet, 16, 254, 3, _packet_accepted},
        {"a command to everybody", _received_from_joined_player, _command_packet, 16, 255, 3, _packet_wrong_direction},
        {"a pong to the host", _received_from_joined_player, _ping_packet, 12, 254, 3, _packet_accepted},
        {"a description to the host", _received_from_joined_player, _vesk_game_description_packet, 600, 254, 3,
         _packet_wrong_direction},
        {"the host's description", _received_from_own_player, _vesk_game_description_packet, 600, 255, 0, _packet_accepted},
        {"a description relayed from a player", _received_by_client, _vesk_game_description_packet, 600, 1, 3,
         _packet_not_from_host},
        {"a chat relayed from a player", _received_by_client, _chat_packet, 60, 1, 3, _packet_accepted},
        {"a midgame start of 135 bytes", _received_by_client, _begin_game_midgame_packet, 135, 1, 0, _packet_accepted},
        {"a midgame start of 2000 bytes", _received_by_client, _begin_game_midgame_packet, 2000, 1, 0, _packet_bad_length},
        {"game type 12", _received_by_client, 12, 8, 1, 0, _packet_unknown_type},
        {"a report with a final state", _received_from_joined_player, _player_sync_data_packet, 24, 0, 3, _packet_accepted},
        {"the host's departure notice", _received_by_client, _player_sync_data_packet, 28, 1, 0, _packet_accepted},
        {"a report one byte past a departure notice", _received_from_joined_player, _player_sync_data_packet, 29, 0, 3,
         _packet_bad_length},
        {"a server command from the host at a client", _received_by_client, _server_command_packet, 10, 1, 0,
         _packet_wrong_direction},
        {"the host's own server command", _received_from_own_player, _server_command_packet, 10, 254, 0, _packet_accepted},
        {"a status packet of 11 bytes naming a deleted player", _received_status, library | 1, 11, 1, 254, _packet_bad_length},
        {"a game packet in the status queue", _received_status, _chat_packet, 60, 1, 254, _packet_unknown_type},
    };
    for (const verdict_case &test : cases)
    {
        EXPECT_EQ(check_received_packet(test.receiver, test.what, test.length, test.to, test.from, 0), test.verdict)
            << test.name;
    }
}

TEST(packet_rules, a_client_takes_the_hosts_game_packets_only_in_their_stages)
{
    const struct
    {
        uint16_t what;
        net_client_stage stage;
        bool cooperative;
        net_packet_refusal verdict;
    } cases[] = {
        {_begin_sync_data_packet, _client_stage_undescribed, true, _packet_wrong_stage},
        {_begin_sync_data_packet, _client_stage_playing, false, _packet_accepted}, // a restart's
        {_begin_game_midgame_packet, _client_stage_described, false, _packet_wrong_stage},
        {_begin_game_midgame_packet, _client_stage_described, true, _packet_accepted},
        {_begin_game_midgame_packet, _client_stage_playing, true, _packet_wrong_stage},
        {_server_command_packet, _client_stage_playing, true, _packet_wrong_stage},
        {_vesk_game_description_packet, _client_stage_undescribed, false, _packet_accepted},
    };
    for (const auto &test : cases)
        EXPECT_EQ(check_client_packet_stage(test.what, test.stage, test.cooperative), test.verdict) << test.what;
}

} // namespace packet_rules_test_file
