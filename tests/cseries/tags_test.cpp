// Four-character codes as text.

#include <gtest/gtest.h>

#include <cstdio>

#include "cseries/tags.h"

namespace tags_test_file {

namespace {

TEST(tags, several_texts_in_one_message_stay_distinct)
{
    char line[128];
    snprintf(line, sizeof(line), "%s:%s:'%s'", tag_to_string(FOUR_CHARACTER_CODE('u', 'n', 'i', 't')),
             tag_to_string(FOUR_CHARACTER_CODE('m', 'o', 'd', 'l')),
             tag_to_string(FOUR_CHARACTER_CODE('p', 'r', 'o', 'j')));
    EXPECT_STREQ(line, "unit:modl:'proj'");

    // Eight results in one expression, the most the ring promises.
    snprintf(line, sizeof(line), "%s %s %s %s %s %s %s %s", tag_to_string(string_to_tag("aaaa")),
             tag_to_string(string_to_tag("bbbb")), tag_to_string(string_to_tag("cccc")),
             tag_to_string(string_to_tag("dddd")), tag_to_string(string_to_tag("eeee")),
             tag_to_string(string_to_tag("ffff")), tag_to_string(string_to_tag("gggg")),
             tag_to_string(string_to_tag("hhhh")));
    EXPECT_STREQ(line, "aaaa bbbb cccc dddd eeee ffff gggg hhhh");
}

TEST(tags, text_of_a_code_shows_unprintable_bytes_as_dots)
{
    struct row
    {
        tag code;
        const char *expected;
    };
    const row rows[] = {
        {FOUR_CHARACTER_CODE('l', '1', ' ', ' '), "l1  "},
        {NONE, ""},
        {0, "...."},
        {FOUR_CHARACTER_CODE('A', 0, '\n', 'B'), "A..B"},
        {FOUR_CHARACTER_CODE(0x7F, 0x80, 0xFF, 'z'), "...z"},
        {(tag)0xFFFFFF41, "...A"},
        {(tag)0x00000032, "...2"},
    };
    for (const row &r : rows)
    {
        EXPECT_STREQ(tag_to_string(r.code), r.expected) << std::hex << (uint32_t)r.code;
        char buffer[5];
        EXPECT_STREQ(tag_to_string_buffer(r.code, buffer), r.expected);
    }
}

TEST(tags, short_texts_are_shifted_in_from_the_right)
{
    struct row
    {
        const char *text;
        uint32_t expected;
    };
    const row rows[] = {
        {"unit", 0x756E6974},
        {"units", 0x756E6974}, // only the first four count
        {"2", 0x00000032},
        {"12", 0x00003132},
        {"___2", 0x5F5F5F32},
        {"", 0},
        {"\xC4", 0x000000C4}, // no sign extension of high bytes
        {"\xFF\xFE\xFD\xFC", 0xFFFEFDFC},
    };
    for (const row &r : rows)
    {
        EXPECT_EQ((uint32_t)string_to_tag(r.text), r.expected) << '"' << r.text << '"';
    }
    EXPECT_STREQ(tag_to_string(string_to_tag("ab c")), "ab c");
}

} // namespace

} // namespace tags_test_file
