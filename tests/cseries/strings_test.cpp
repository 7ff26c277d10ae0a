// Bounded formatting and the small string helpers.

#include <gtest/gtest.h>

#include "support/expected_assertions.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "cseries/cseries.h"

namespace strings_test_file {

namespace {

const char GUARD = (char)0xA5;

// A buffer followed by guard bytes: anything written past `size` shows up as a
// changed guard.
struct guarded_buffer
{
    char bytes[96];

    void fill(const char *text)
    {
        memset(bytes, GUARD, sizeof(bytes));
        if (text) memcpy(bytes, text, strlen(text) + 1);
    }
    bool guard_intact_from(size_t size) const
    {
        for (size_t i = size; i < sizeof(bytes); ++i)
        {
            if (bytes[i] != GUARD) return false;
        }
        return true;
    }
};

TEST(strings, slprintf_cuts_to_size_and_reports_what_it_wrote)
{
    struct row
    {
        size_t size;
        const char *text;
        int32_t expected_result;
        const char *expected_text; // null: nothing may be written at all
    };
    const row rows[] = {
        {0, "abc", 0, nullptr},     // size 0 writes nothing
        {1, "abc", 0, ""},          // room for the terminator only
        {4, "abc", 3, "abc"},       // exact fit
        {3, "abc", 2, "ab"},        // one byte over: size - 1, terminated
        {16, "", 0, ""},
        {64, "a longer text that fits", 23, "a longer text that fits"},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(testing::Message() << "size " << r.size << " text \"" << r.text << '"');
        guarded_buffer buffer;
        buffer.fill(nullptr);
        EXPECT_EQ(slprintf(buffer.bytes, r.size, "%s", r.text), r.expected_result);
        if (r.expected_text) { EXPECT_STREQ(buffer.bytes, r.expected_text); }
        EXPECT_TRUE(buffer.guard_intact_from(r.expected_text ? r.size : 0));
    }
}

TEST(strings, slprintf_formatting_error_gives_empty_text_and_zero)
{
    // Not a Unicode scalar value: no locale can convert it.
    const wchar_t invalid[] = {L'o', L'k', (wchar_t)0x110000, 0};
    char buffer[32];
    memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(slprintf(buffer, sizeof(buffer), "before %ls after", invalid), 0);
    EXPECT_STREQ(buffer, "");

    // An append that fails keeps the text that was there.
    strlcpy(buffer, "kept", sizeof(buffer));
    EXPECT_EQ(slprintfcat(buffer, sizeof(buffer), "%ls", invalid), 4);
    EXPECT_STREQ(buffer, "kept");
}

TEST(strings, strlcpy_returns_source_length_and_terminates)
{
    struct row
    {
        size_t size;
        const char *source;
        const char *expected_text; // null: nothing written
    };
    const row rows[] = {
        {0, "hello", nullptr}, {1, "hello", ""}, {5, "hello", "hell"},
        {6, "hello", "hello"}, {32, "hello", "hello"},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(testing::Message() << "size " << r.size);
        guarded_buffer buffer;
        buffer.fill(nullptr);
        EXPECT_EQ(strlcpy(buffer.bytes, r.source, r.size), strlen(r.source));
        if (r.expected_text) { EXPECT_STREQ(buffer.bytes, r.expected_text); }
        EXPECT_TRUE(buffer.guard_intact_from(r.expected_text ? r.size : 0));
    }
}

TEST(strings, strlcpy_field_never_reads_past_an_unterminated_field)
{
    // A field filled to its last byte, with the bytes after it unreadable to
    // the sanitizer: only field_size bytes may be looked at.
    struct row
    {
        size_t size;
        const char *expected_text; // null: nothing written
    };
    const row rows[] = {{0, nullptr}, {1, ""}, {4, "abc"}, {5, "abcd"}, {32, "abcd"}};
    for (const row &r : rows)
    {
        SCOPED_TRACE(testing::Message() << "size " << r.size);
        std::unique_ptr<char[]> field(new char[4]);
        memcpy(field.get(), "abcd", 4);
        guarded_buffer buffer;
        buffer.fill(nullptr);
        EXPECT_EQ(strlcpy_field(buffer.bytes, r.size, field.get(), 4), r.expected_text ? strlen(r.expected_text) : 0u);
        if (r.expected_text) { EXPECT_STREQ(buffer.bytes, r.expected_text); }
        EXPECT_TRUE(buffer.guard_intact_from(r.expected_text ? r.size : 0));
    }

    // A terminator inside the field ends the text there.
    char buffer[8];
    EXPECT_EQ(strlcpy_field(buffer, sizeof(buffer), "ab\0cd", 5), 2u);
    EXPECT_STREQ(buffer, "ab");
}

TEST(strings, csprintf_cuts_at_255_bytes_including_the_terminator)
{
    const std::string long_text(400, 'q');
    memset(temporary, GUARD, sizeof(temporary));
    EXPECT_EQ(csprintf(temporary, "%s", long_text.c_str()), temporary);
    EXPECT_EQ(strlen(temporary), 254u);
    EXPECT_EQ(temporary[255], GUARD);

    const std::string fitting(254, 'f');
    csprintf(temporary, "%s", fitting.c_str());
    EXPECT_EQ(std::string(temporary), fitting);

    csprintf(temporary, "%d:%s", 42, "x");
    EXPECT_STREQ(temporary, "42:x");
}

TEST(strings, appending_never_writes_past_the_array)
{
    struct
    {
        char text[8];
        char guard[8];
    } record;

    struct row
    {
        const char *initial;
        const char *appended;
        int32_t expected_result;
        const char *expected_text;
    };
    const row rows[] = {
        {"ab", "cd", 4, "abcd"},
        {"ab", "cdefg", 7, "abcdefg"},          // exact fit
        {"ab", "cdefghijklmnop", 7, "abcdefg"}, // cut
        {"abcdefg", "x", 7, "abcdefg"},         // already full
        {"", "", 0, ""},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(testing::Message() << '"' << r.initial << "\" + \"" << r.appended << '"');
        memset(&record, GUARD, sizeof(record));
        strlcpy(record.text, r.initial, sizeof(record.text));
        EXPECT_EQ(sprintfcat(record.text, "%s", r.appended), r.expected_result);
        EXPECT_STREQ(record.text, r.expected_text);
        for (char c : record.guard) EXPECT_EQ(c, GUARD);
    }

    // A text without a terminator inside the array is left alone.
    memset(&record, GUARD, sizeof(record));
    memset(record.text, 'z', sizeof(record.text));
    EXPECT_EQ(sprintfcat(record.text, "%s", "more"), 7);
    for (char c : record.text) EXPECT_EQ(c, 'z');
    for (char c : record.guard) EXPECT_EQ(c, GUARD);
}

TEST(strings, str_prepend_cuts_the_end_to_fit)
{
    struct row
    {
        size_t size;
        const char *initial;
        const char *prefix;
        const char *expected;
    };
    const row rows[] = {
        {16, "world", "hello ", "hello world"},
        {12, "world", "hello ", "hello world"}, // exact fit
        {11, "world", "hello ", "hello worl"},  // one over
        {7, "world", "hello ", "hello "},       // only the prefix fits
        {4, "ab", "hello", "hel"},              // the prefix itself is cut
        {8, "", "pre", "pre"},
        {8, "text", "", "text"},
        {1, "", "x", ""},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(testing::Message() << "size " << r.size << " prefix \"" << r.prefix << '"');
        guarded_buffer buffer;
        buffer.fill(r.initial);
        EXPECT_EQ(str_prepend(buffer.bytes, r.size, r.prefix), buffer.bytes);
        EXPECT_STREQ(buffer.bytes, r.expected);
        EXPECT_TRUE(buffer.guard_intact_from(std::max(r.size, strlen(r.initial) + 1)));
    }
}

TEST(strings, mod_is_never_negative_for_a_positive_divisor)
{
    struct row
    {
        int32_t value, divisor, expected;
    };
    const row rows[] = {
        {-1, 5, 4}, {-5, 5, 0}, {-6, 5, 4}, {7, 5, 2}, {0, 5, 0}, {4, 1, 0},
        {INT32_MIN, 7, 5}, {INT32_MAX, 7, 1},
        {INT32_MIN, -1, 0}, // the one quotient that overflows
        {5, 0, 0},          // refused rather than trapping
    };
    for (const row &r : rows)
    {
        expected_assertions expect(r.divisor == 0 ? 1 : 0, "mod by zero");
        EXPECT_EQ(mod(r.value, r.divisor), r.expected) << r.value << " mod " << r.divisor;
    }
}

TEST(strings, case_blind_comparisons_use_the_lowered_difference)
{
    struct row
    {
        const char *a, *b;
        int expected;
    };
    const row rows[] = {
        {"Hello", "hELLO", 0},
        {"abc", "ABD", 'c' - 'd'},
        {"B", "a", 'b' - 'a'},
        {"a", "", 'a'},
        {"", "A", -'a'},
        // '[' sits between the upper and lower case letters: lowering puts
        // it before "a", upper-casing would put it after.
        {"[", "A", '[' - 'a'},
        {"\xC4", "\xE4", 0xC4 - 0xE4}, // bytes above ASCII are compared as unsigned, unchanged
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(testing::Message() << '"' << r.a << "\" vs \"" << r.b << '"');
        EXPECT_EQ(strcasecmp_(r.a, r.b), r.expected);
        EXPECT_EQ(csstrcmp(r.a, r.b), r.expected);
    }

    char text[] = "MiXeD 123_Z[\xC4]";
    EXPECT_STREQ(strlwr(text), "mixed 123_z[\xC4]");
}

} // namespace

namespace {

// Texts from data (plug-ins) become lines only when their conversions are
// exactly the caller's; anything else is printed as it stands, never
// formatted: a %n that would write, a %s with no string behind it, a width
// that would pad for seconds.
TEST(strings, a_text_from_data_is_formatted_only_with_exactly_the_expected_conversions)
{
    const struct
    {
        const char *format;
        const char *expected;
        bool formatted;
        const char *line;
    } cases[] = {
        {"Loading %s...", "s", true, "Loading valley..."},
        {"%d:%02d", "dd", true, "2:04"},
        {"100%% of %s", "s", true, "100% of valley"},
        {"no conversion at all", "", true, "no conversion at all"},
        {"%s wrote %n bytes", "s", false, "%s wrote %n bytes"},
        {"%n", "", false, "%n"},
        {"%s and %s", "s", false, "%s and %s"},
        {"%s", "ss", false, "%s"},
        {"%d:%s", "dd", false, "%d:%s"},
        {"%ld", "d", false, "%ld"},
        {"%x", "d", false, "%x"},
        {"%99999d", "d", false, "%99999d"},
        {"%.1000s", "s", false, "%.1000s"},
        {"%*d", "d", false, "%*d"},
        {"trailing %", "", false, "trailing %"},
    };
    for (const auto &c : cases)
    {
        char line[64];
        const bool formatted = c.expected[0] == 'd' ? format_checked_line(line, (int32_t)sizeof(line), c.format,
                                                                          c.expected, 2, 4)
                                                    : format_checked_line(line, (int32_t)sizeof(line), c.format,
                                                                          c.expected, "valley", "hills");
        EXPECT_EQ(formatted, c.formatted) << c.format;
        EXPECT_STREQ(line, c.line) << c.format;
        EXPECT_EQ(format_has_conversions(c.format, c.expected), c.formatted) << c.format;
    }
}

} // namespace

} // namespace strings_test_file
