// The TCP/IP module's configuration text, tokens and addresses, and the
// enumeration datagrams: golden bytes and refusals, nothing connects.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "networking/ip_enumeration.h"
#include "networking/net_config_tokens.h"
#include "networking/tcp_module.h"

namespace tcp_configuration_test_file {

static const int32_t game_id = FOUR_CHARACTER_CODE('v', 'e', 's', 'k');
static const char default_text[] =
    "type=1231971700\tversion=256\tgameID=1986360171\tgameName=Skirmish\tmode=3\tIPaddr=localhost\tIPport=4955";

static std::string config_text(NMProtocolConfigPriv *config)
{
    char buffer[MAXIMUM_CONFIG_LENGTH];
    int32_t length = sizeof(buffer);
    EXPECT_EQ(tcp_NMGetConfig(config, buffer, &length), kNMNoError);
    return std::string(buffer, (size_t)length);
}

TEST(tcp_configuration, text_form_is_golden_and_round_trips)
{
    NMProtocolConfigPriv *config = nullptr;
    ASSERT_EQ(tcp_NMCreateConfig(nullptr, game_id, "Skirmish", nullptr, 0, &config), kNMNoError);
    EXPECT_EQ(config_text(config), default_text);
    EXPECT_EQ(tcp_NMGetConfigLen(config), (int32_t)strlen(default_text));
    char small[20];
    int32_t length = sizeof(small);
    EXPECT_EQ(tcp_NMGetConfig(config, small, &length), kNMConfigStringTooSmallErr);
    tcp_NMDeleteConfig(config);

    const std::string text = "type=1231971700\tversion=256\tgameID=1986360171\tgameName=Big Game\tmode=2\t"
                             "IPaddr=10.0.0.1\tIPport=3453\t";
    ASSERT_EQ(tcp_NMCreateConfig(text.c_str(), 0, nullptr, nullptr, 0, &config), kNMNoError);
    EXPECT_EQ(config->connectionMode, 2);
    EXPECT_EQ(config->port, 3453);
    EXPECT_STREQ(config->name, "Big Game");
    EXPECT_EQ(config_text(config) + "\t", text);
    tcp_NMDeleteConfig(config);
}

TEST(tcp_configuration, bad_or_missing_tokens_are_refused)
{
    const std::string head = "type=1231971700\tversion=256\tgameID=1986360171\tgameName=x\tmode=3\tIPaddr=10.0.0.7";
    const struct
    {
        std::string text;
        bool accepted;
        int32_t port;
    } cases[] = {
        {head + "\tIPport=4000", true, 4000},
        {head + "\tIPport=0", true, 0},
        {head + "\tIPport=65535", true, 65535},
        {head, false, 0}, // no port
        {head + "\tIPport=-1", false, 0},
        {head + "\tIPport=65536", false, 0},
        {head + "\tIPport=99999999999999999999", false, 0}, // saturates, never wraps into range
        {head + "\tIPport=", false, 0},
        {"type=1\tversion=256\tgameID=1\tgameName=x\tmode=3\tIPaddr=a\tIPport=1", false, 0},
        {"type=1231971700\tversion=257\tgameID=1\tgameName=x\tmode=3\tIPaddr=a\tIPport=1", false, 0},
        {"type=1231971700\tversion=256\tgameID=1\tgameName=x\tmode=4\tIPaddr=a\tIPport=1", false, 0},
        {"type=1231971700\tversion=256\tgameID=1\tgameName=" + std::string(32, 'n') +
             "\tmode=3\tIPaddr=a\tIPport=1", false, 0},
        {"", false, 0},
    };
    for (const auto &c : cases)
    {
        NMProtocolConfigPriv *config = nullptr;
        const NMErr error = tcp_NMCreateConfig(c.text.c_str(), 0, nullptr, nullptr, 0, &config);
        EXPECT_EQ(error, c.accepted ? kNMNoError : kNMInvalidConfigErr) << c.text;
        EXPECT_EQ(config != nullptr, c.accepted) << c.text;
        if (config)
        {
            EXPECT_EQ(config->port, c.port) << c.text;
            tcp_NMDeleteConfig(config);
        }
    }
}

TEST(tcp_configuration, tokens_replace_in_place_and_refuse_what_does_not_fit)
{
    char buffer[40] = "";
    const int32_t port = 3453, other = 7;
    ASSERT_TRUE(put_token(buffer, sizeof(buffer), "IPport", _token_number, &port, 4));
    ASSERT_TRUE(put_token(buffer, sizeof(buffer), "mode", _token_number, &other, 4));
    ASSERT_TRUE(put_token(buffer, sizeof(buffer), "IPport", _token_number, &other, 4));
    EXPECT_STREQ(buffer, "IPport=7\tmode=7");
    EXPECT_FALSE(put_token(buffer, sizeof(buffer), "gameName", _token_text, "a name far too long", 0));
    EXPECT_STREQ(buffer, "IPport=7\tmode=7");
    const uint8_t bytes[] = {0x00, 0xAB, 0xFF};
    ASSERT_TRUE(put_token(buffer, sizeof(buffer), "k", _token_hex, bytes, 3));
    EXPECT_STREQ(buffer, "IPport=7\tmode=7\tk=00ABFF");
    uint8_t read[3] = {};
    int32_t length = 3;
    ASSERT_TRUE(get_token(buffer, "k", _token_hex, read, &length));
    EXPECT_EQ(memcmp(read, bytes, 3), 0);
    int32_t number = 0;
    length = 4;
    EXPECT_FALSE(get_token(buffer, "ode", _token_number, &number, &length)); // keys match whole
}

TEST(tcp_configuration, addresses_resolve_with_an_optional_port)
{
    const struct
    {
        const char *text;
        bool ok;
        uint32_t host;
        uint16_t port;
    } cases[] = {
        {"10.0.0.7:4000", true, 0x0A000007, 4000},
        {"10.0.0.7", true, 0x0A000007, 3453},
        {"127.0.0.1:0", true, 0x7F000001, 0},
        {"10.0.0.7:70000", false, 0, 0},
        {"10.0.0.7:", false, 0, 0},
        {"1.2.3.4.5", false, 0, 0},
        {"10.0.x.1", false, 0, 0},
    };
    for (const auto &c : cases)
    {
        uint32_t host = 0;
        uint16_t port = 0;
        EXPECT_EQ(lookup_machine(c.text, 3453, &host, &port), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
}

TEST(tcp_configuration, module_information_needs_the_whole_record)
{
    NMModuleInfo info{};
    info.size = 80;
    EXPECT_EQ(tcp_NMGetModuleInfo(&info), kNMModuleInfoTooSmall);
    info.size = 84;
    ASSERT_EQ(tcp_NMGetModuleInfo(&info), kNMNoError);
    EXPECT_EQ(info.type, (NMType)kModuleID);
    EXPECT_EQ(info.flags, 7u);
    EXPECT_STREQ(info.name, "TCP/IP");
}

TEST(ip_enumeration, datagrams_are_golden_and_classified)
{
    uint8_t query[kQuerySize + 4];
    build_ip_enumeration_request_packet(query);
    const uint8_t first[] = {0xFA, 0xFB, 0xFC, 0xFD, 0xFA};
    EXPECT_EQ(memcmp(query, first, 5), 0);
    EXPECT_EQ(memcmp(query + 508, first, 4), 0);
    EXPECT_TRUE(is_ip_request_packet(query, kQuerySize));
    EXPECT_FALSE(is_ip_request_packet(query, kQuerySize - 1));
    EXPECT_FALSE(is_ip_request_packet(query, kQuerySize + 4));
    query[300] ^= 1;
    EXPECT_FALSE(is_ip_request_packet(query, kQuerySize));

    IPEnumerationResponsePacket reply;
    build_ip_enumeration_response_packet(&reply, game_id, 256, 0x7F000001, 3453,
                                         "a name of thirty-two characters!");
    byteswap_ip_enumeration_packet(&reply);
    uint8_t expected[56] = {0xAF, 0xBF, 0xCF, 0xDF, 'v', 'e', 's', 'k', 0, 0, 1, 0, 127, 0, 0, 1, 0x0D, 0x7D, 0, 0};
    memcpy(expected + 20, "a name of thirty-two characters", 31);
    EXPECT_EQ(memcmp(&reply, expected, 56), 0);

    IPEnumerationResponsePacket parsed;
    ASSERT_TRUE(parse_ip_enumeration_response(expected, 56, game_id, &parsed));
    EXPECT_STREQ(parsed.name, "a name of thirty-two characters");
    EXPECT_EQ(parsed.port, 3453);
    EXPECT_FALSE(parse_ip_enumeration_response(expected, 55, game_id, &parsed));
    EXPECT_FALSE(parse_ip_enumeration_response(expected, 56, game_id + 1, &parsed));
    expected[3] ^= 1;
    EXPECT_FALSE(parse_ip_enumeration_response(expected, 56, game_id, &parsed));
    const void *custom;
    uint32_t custom_length;
    expected[55] = 1; // one byte of custom data declared, none sent
    EXPECT_FALSE(extract_enumeration_data_from_ip_response(expected, 56, &custom, &custom_length));
}

TEST(ip_enumeration, calls_out_of_order_are_refused)
{
    NMProtocolConfigPriv *config = nullptr;
    ASSERT_EQ(tcp_NMCreateConfig(nullptr, game_id, "x", nullptr, 0, &config), kNMNoError);
    EXPECT_EQ(tcp_NMIdleEnumeration(config), kNMNotEnumeratingErr);
    EXPECT_EQ(tcp_NMBindEnumerationItemToConfig(config, 1), kNMNotEnumeratingErr);
    EXPECT_EQ(tcp_NMEndEnumeration(config), kNMNotEnumeratingErr);
    ASSERT_EQ(tcp_NMStartEnumeration(config, nullptr, nullptr, true), kNMNoError);
    EXPECT_EQ(tcp_NMStartEnumeration(config, nullptr, nullptr, true), kNMAlreadyEnumeratingErr);
    EXPECT_EQ(tcp_NMBindEnumerationItemToConfig(config, 1), kNMInvalidConfigErr);
    EXPECT_EQ(tcp_NMEndEnumeration(config), kNMNoError);
    tcp_NMDeleteConfig(config);
}

} // namespace tcp_configuration_test_file
