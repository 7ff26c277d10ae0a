// The INI parser: syntax, look-ups and the handling of broken lines.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "cseries/cseries.h"
#include "iniparser3.0b/iniparser.h"
#include "support/scratch.h"

namespace iniparser_test_file {

namespace {

struct parsed_text
{
    ini_file file;
    explicit parsed_text(const std::string &text)
    {
        EXPECT_TRUE(ini_parse(&file, text.data(), text.size(), "test.ini"));
    }
    ~parsed_text() { ini_dispose(&file); }
    const char *value(const char *section, const char *key) const
    {
        return ini_get_value(&file, ini_find_section(&file, section), key);
    }
};

TEST(ini_parser, section_and_key_names_are_case_blind_and_may_hold_dots)
{
    parsed_text ini("[Renderer.OpenGL]\nClearColor = 16711680\n[Net.Hosting]\nportnumber=1\n"
                    "[renderer.opengl]\nUseShaders = 1\n");
    EXPECT_EQ(ini.file.section_count, 2); // a repeated heading continues its section
    EXPECT_STREQ(ini.value("RENDERER.OPENGL", "clearcolor"), "16711680");
    EXPECT_STREQ(ini.value("Renderer.OpenGL", "UseShaders"), "1");
    EXPECT_STREQ(ini.value("net.hosting", "PortNumber"), "1");
    EXPECT_EQ(ini.value("Renderer", "ClearColor"), nullptr);
    EXPECT_EQ(ini.value("Net.Hosting", "ClearColor"), nullptr);
    EXPECT_EQ(ini_find_section(&ini.file, "Renderer"), NONE);
}

TEST(ini_parser, comments_blanks_and_quotes_shape_the_value)
{
    struct
    {
        const char *line;
        const char *expected; // null: no value for "Key"
    } cases[] = {
        {"Key = plain", "plain"},
        {"  Key\t=\t spaced out \t", "spaced out"},
        {"Key =", ""},
        {"Key = value ; trailing comment", "value"},
        {"Key = value # trailing comment", "value"},
        {"Key = http://host/page#part;x", "http://host/page#part;x"},
        {"Key=#1", "#1"},
        {"Key = ; only a comment", ""},
        {"Key = \"  kept ; # blanks \"", "  kept ; # blanks "},
        {"Key = \"quoted\" ; comment", "quoted"},
        {"Key = a = b", "a = b"},
        {"; Key = commented", nullptr},
        {"# Key = commented", nullptr},
        {"   ;Key = commented", nullptr},
        {"Key = \"unclosed", nullptr},
        {"Key = \"quoted\" junk", nullptr},
    };
    for (const auto &c : cases)
    {
        parsed_text ini(std::string("[S]\n") + c.line + "\n");
        const char *value = ini.value("S", "Key");
        if (c.expected)
            EXPECT_STREQ(value, c.expected) << c.line;
        else
            EXPECT_EQ(value, nullptr) << c.line;
    }
}

TEST(ini_parser, repeated_keys_keep_every_value_in_order)
{
    parsed_text ini("[S]\nPath = one\nOther = x\npath = two\n[T]\nPath = elsewhere\n[S]\nPATH = three\n");
    int32_t section = ini_find_section(&ini.file, "S");
    const char *values[4] = {};
    EXPECT_EQ(ini_get_values(&ini.file, section, "Path", values, 4), 3);
    EXPECT_STREQ(values[0], "one");
    EXPECT_STREQ(values[1], "two");
    EXPECT_STREQ(values[2], "three");
    EXPECT_STREQ(ini_get_value(&ini.file, section, "path"), "three");
    // A short array gets the first values and the full count.
    const char *first[2] = {};
    EXPECT_EQ(ini_get_values(&ini.file, section, "Path", first, 2), 3);
    EXPECT_STREQ(first[1], "two");
    EXPECT_EQ(ini_get_values(&ini.file, section, "Missing", values, 4), 0);
    EXPECT_TRUE(ini_key_present(&ini.file, section, "OTHER"));
    EXPECT_FALSE(ini_key_present(&ini.file, section, "Missing"));
    EXPECT_FALSE(ini_key_present(&ini.file, NONE, "Path"));
}

TEST(ini_parser, line_endings_and_byte_order_mark_are_tolerated)
{
    parsed_text ini("\xEF\xBB\xBF[A]\r\nKey = crlf\r\n\r\n[B]\nKey = \"q\"\r\nLast = no newline");
    EXPECT_STREQ(ini.value("A", "Key"), "crlf");
    EXPECT_STREQ(ini.value("B", "Key"), "q");
    EXPECT_STREQ(ini.value("B", "Last"), "no newline");
    EXPECT_EQ(ini.file.refused_line_count, 0);
}

TEST(ini_parser, broken_lines_are_logged_skipped_and_the_rest_is_read)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    ASSERT_TRUE(open_log_file("ini test"));

    std::string text = "Orphan = before any heading\n" // 1
                       "[Good]\n"                      // 2
                       "First = 1\n"                   // 3
                       "no equals sign here\n"         // 4
                       " = no key\n"                   // 5
                       "[Unclosed\n"                   // 6
                       "Hidden = 1\n"                  // 7: under the refused heading
                       "[Good]\n"                      // 8
                       "Nul = a";                      // 9
    text += '\0';
    text += "b\n[Good] trailing text\nHidden = 2\n[Good]\nSecond = 2\n"; // 9-12

    {
        parsed_text ini(text);
        EXPECT_STREQ(ini.value("Good", "First"), "1");
        EXPECT_STREQ(ini.value("Good", "Second"), "2");
        EXPECT_EQ(ini.value("Good", "Hidden"), nullptr);
        EXPECT_EQ(ini.value("Good", "Nul"), nullptr);
        EXPECT_EQ(ini.value("Good", "Orphan"), nullptr);
        EXPECT_EQ(ini.file.refused_line_count, 6);
    }
    close_log_file();
    std::string log = read_whole_file(LOG_FILE_NAME);
    for (int line : {1, 4, 5, 6, 9, 10})
    {
        EXPECT_NE(log.find("test.ini, line " + std::to_string(line) + ":"), std::string::npos) << line;
    }
    EXPECT_EQ(log.find("line 7:"), std::string::npos);
}

TEST(ini_parser, an_oversized_buffer_is_refused_and_leaves_an_empty_file)
{
    size_t size = (size_t)MAXIMUM_INI_BUFFER_SIZE + 1;
    char *big = (char *)malloc(size);
    ASSERT_NE(big, nullptr);
    memset(big, '\n', size);
    memcpy(big, "[S]\nKey = 1\n", 12);
    ini_file file;
    EXPECT_FALSE(ini_parse(&file, big, size, "big.ini"));
    EXPECT_EQ(ini_find_section(&file, "S"), NONE);
    EXPECT_EQ(ini_get_value(&file, 0, "Key"), nullptr);
    ini_dispose(&file);
    free(big);
}

} // namespace

} // namespace iniparser_test_file
