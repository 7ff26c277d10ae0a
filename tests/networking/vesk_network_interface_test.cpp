// The create-or-join dialog's text helpers: the configuration's keyword
// rewrite against the documented examples, and the typed address.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vesk_networking/vesk_network_interface.h"

namespace vesk_network_interface_test_file {

namespace
{

TEST(replace_keyword, rewrites_only_the_tokens_it_names_and_keeps_single_tabs)
{
    struct
    {
        const char *text, *keyword, *value, *expected;
    } cases[] = {
        {"type=2\tIPport=3453\tgameName=x", "IPport", "6000", "type=2\tIPport=6000\tgameName=x"},
        {"type=2\tIPport=3453\tgameName=x", "IPaddr", "h", "type=2\tIPport=3453\tgameName=x"},
        {"gameName=old", "gameName", "", "gameName="},
        {"a=1\t\tb=2", "b", "3", "a=1\t\tb=3"},
        {"", "IPport", "1", ""},
    };
    for (const auto &c : cases)
    {
        char text[MAXIMUM_PROTOCOL_CONFIGURATION_LENGTH];
        strcpy(text, c.text);
        EXPECT_TRUE(replace_keyword(text, sizeof(text), c.keyword, c.value)) << c.text;
        EXPECT_STREQ(text, c.expected) << c.text;
    }
    // A result that does not fit leaves the text as it was.
    char small[16] = "IPport=3453";
    EXPECT_FALSE(replace_keyword(small, sizeof(small), "IPport", "1234567890123"));
    EXPECT_STREQ(small, "IPport=3453");
}

TEST(parse_join_address, takes_the_port_after_a_colon_else_3453_and_refuses_a_bad_one)
{
    struct
    {
        const char *text;
        bool accepted;
        const char *host;
        uint16_t port;
    } cases[] = {
        {"host:4000", true, "host", 4000},
        {"192.0.2.1", true, "192.0.2.1", DEFAULT_JOIN_PORT},
        {"192.0.2.1:65535", true, "192.0.2.1", 65535},
        {"host:0", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:", false, "", 0},
        {"host:40x", false, "", 0},
        {":4000", false, "", 0},
        {"", false, "", 0},
        {"two words", false, "", 0},
    };
    for (const auto &c : cases)
    {
        char host[64] = "";
        uint16_t port = 0;
        EXPECT_EQ(parse_join_address(c.text, host, sizeof(host), &port), c.accepted) << c.text;
        if (!c.accepted) continue;
        EXPECT_STREQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
    char tiny[4];
    uint16_t port = 0;
    EXPECT_FALSE(parse_join_address("longhost:1", tiny, sizeof(tiny), &port));
}

} // namespace

} // namespace vesk_network_interface_test_file
