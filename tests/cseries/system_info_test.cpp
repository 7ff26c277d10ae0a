#include <gtest/gtest.h>

#include <cstring>

#include "cseries/system_info.h"

namespace system_info_test_file {

namespace {

TEST(system_info, reports_linux_and_more_than_two_gigabytes)
{
    initialize_system_information();
    EXPECT_EQ(system_information.type, _system_type_linux);
    EXPECT_EQ(system_information.windows_better_version, 0u);
    EXPECT_GT(get_physical_memory_size(), (int64_t)1 << 31);
}

TEST(system_info, user_name_is_never_empty_and_fits_its_buffer)
{
    for (int32_t which : {(int32_t)_system_name_full, (int32_t)_system_name_login, 7})
    {
        char name[64];
        memset(name, 'x', sizeof(name));
        get_name_from_system(name, sizeof(name), which);
        ASSERT_NE(memchr(name, 0, sizeof(name)), nullptr);
        EXPECT_GT(strlen(name), 0u) << "which " << which;
        EXPECT_EQ(strchr(name, ','), nullptr) << "the full name ends at its first comma";

        // A short buffer gets a terminated prefix and nothing beyond it.
        char short_name[4 + 4];
        memset(short_name, '#', sizeof(short_name));
        get_name_from_system(short_name, 4, which);
        EXPECT_LE(strlen(short_name), 3u);
        EXPECT_EQ(strncmp(short_name, name, strlen(short_name)), 0);
        for (size_t i = 4; i < sizeof(short_name); ++i) EXPECT_EQ(short_name[i], '#');
    }
}

} // namespace

} // namespace system_info_test_file
