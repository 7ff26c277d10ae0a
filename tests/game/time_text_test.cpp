// Game time as the script trace and the reports write it.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "game_time.h"

namespace time_text_test_file {

namespace {

TEST(time_text, game_time_reads_as_minutes_and_seconds_then_hours)
{
    const struct
    {
        int32_t ticks;
        const char *text;
    } cases[] = {
        {0, "0:00"},           {29, "0:00"},          {30, "0:01"},        {59 * 30, "0:59"},
        {60 * 30, "1:00"},     {3599 * 30, "59:59"},  {3600 * 30, "1:00:00"}, {(3600 + 61) * 30, "1:01:01"},
        {-1, "0:00"},          {INT_MIN, "0:00"},     {INT_MAX, "19884:06:28"},
    };
    for (const auto &c : cases)
    {
        char buffer[TIME_STRING_SIZE];
        memset(buffer, 'x', sizeof(buffer));
        EXPECT_STREQ(time_to_string(c.ticks, buffer, 0), c.text) << c.ticks;
        EXPECT_LT(strlen(buffer), (size_t)TIME_STRING_SIZE);
    }
    // The bounded form cuts to the caller's size and always ends the text.
    char small[4];
    EXPECT_STREQ(time_to_string_bounded(3600 * 30, small, sizeof(small)), "1:0");
}

} // namespace

} // namespace time_text_test_file
