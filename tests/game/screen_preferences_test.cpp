// The "screen preferences" record: its stored bytes, a round trip through the
// store, every repair and every fall-back to the defaults, conversion by
// version, and the texture-cache default from the machine's memory.

#include "tag_files/store_fixture.h"

#include <functional>

#include "fake_sdl_video.h"
#include "support/expected_assertions.h"

#include "cseries/byte_swapping.h"
#include "cseries/cstrings.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_setup.h"
#include "shapes.h"
#include "tag_files/preferences.h"

namespace screen_preferences_test_file {

namespace {

class screen_preferences_record : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        start_store();
        // The dummy driver's answer: any size on a 1024 x 768 desktop, so the
        // software device offers 1024 x 768, 640 x 480 and 800 x 600.
        fake_sdl::install();
        fake_sdl::current().any_size = true;
        clear_screen_devices();
        query_for_screen_devices();
        original_screen_width = 1024;
        original_screen_height = 768;
        set_screen_preferences_memory_size_for_tests(4096ll << 20);
    }
    void TearDown() override
    {
        set_screen_preferences_memory_size_for_tests(0);
        clear_screen_devices();
        fake_sdl::uninstall();
        original_screen_width = original_screen_height = NONE;
        store_test::TearDown();
    }

    static screen_parameters defaults(void)
    {
        screen_parameters record;
        default_screen_parameters(&record);
        return record;
    }

    void store_record(const screen_parameters &record, int16_t version = SCREEN_PREFERENCES_VERSION_NUMBER,
                      int32_t size = (int32_t)sizeof(screen_parameters))
    {
        screen_parameters swapped = record;
        ASSERT_TRUE(byte_swap_data("screen", &swapped, sizeof(swapped), 1, screen_parameters_byte_swapping_data));
        write_local_tag(PREFERENCES_GROUP_TAG, SCREEN_PREFERENCES_NAME, version, &swapped, size);
    }

    std::string stored_bytes(void)
    {
        const int32_t tag_index = tag_file_find_by_name(PREFERENCES_GROUP_TAG, SCREEN_PREFERENCES_NAME);
        tag_file_info info;
        if (tag_index == NONE || !tag_file_info_get(tag_index, &info)) return "";
        std::string bytes((size_t)info.size, '\0');
        EXPECT_TRUE(tag_file_read(tag_index, 0, info.size, bytes.data()));
        return bytes;
    }

    static screen_parameters loaded(void)
    {
        screen_parameters record;
        memset(&record, 0xAB, sizeof(record));
        load_screen_parameters(&record);
        return record;
    }
};

bool same(const screen_parameters &a, const screen_parameters &b) { return memcmp(&a, &b, sizeof(a)) == 0; }

TEST_F(screen_preferences_record, the_defaults_have_golden_bytes_and_come_back_equal)
{
    const screen_parameters record = defaults();
    EXPECT_EQ(record.device_index, 0);
    EXPECT_EQ(record.mode_index, 0);
    EXPECT_EQ(record.width, 1024);
    EXPECT_EQ(record.height, 768);
    EXPECT_EQ(record.flags, 530);
    EXPECT_EQ(record.texture_cache_size, 512);

    ASSERT_TRUE(save_screen_parameters(&record));
    const std::string bytes = stored_bytes();
    std::string expected("\x02\x00\x02\x12\x00\x00\x00\x00\x01\x00\xff\xa6\x04\x00\x03\x00soft"
                         "Software",
                         28);
    expected.append(64 - 8, '\0');
    expected.append(4, '\0');
    EXPECT_EQ(bytes, expected);
    EXPECT_TRUE(same(loaded(), record));

    screen_parameters changed = record;
    changed.mode_index = 2;
    changed.width = 800;
    changed.height = 600;
    changed.max_fps = 120;
    changed.flags |= _screen_pref_vsync_enabled_flag;
    ASSERT_TRUE(save_screen_parameters(&changed));
    EXPECT_TRUE(same(loaded(), changed));
}

// High-resolution sprites switched off for good: the preference is cleared in
// the screen's record and in the store, and a second time finds it clear.
TEST_F(screen_preferences_record, switching_highres_sprites_off_for_good_clears_the_stored_preference)
{
    screen_parameters record = defaults();
    record.flags |= _screen_pref_highres_sprites_flag;
    ASSERT_TRUE(save_screen_parameters(&record));
    screen_parameters *const previous = active_screen.prefs;
    active_screen.prefs = &record;
    EXPECT_TRUE(perma_disable_highres_sprites());
    EXPECT_EQ(record.flags & _screen_pref_highres_sprites_flag, 0);
    EXPECT_EQ(loaded().flags & _screen_pref_highres_sprites_flag, 0);
    EXPECT_FALSE(perma_disable_highres_sprites());
    active_screen.prefs = previous;
}

TEST_F(screen_preferences_record, bad_fields_are_repaired_or_give_the_defaults)
{
    struct repair_case
    {
        const char *what;
        std::function<void(screen_parameters &)> change;
        bool falls_back;
        std::function<void(screen_parameters &)> expected; // applied to the stored record
    };
    const auto nothing = [](screen_parameters &) {};
    const repair_case cases[] = {
        {"gamma 127", [](screen_parameters &r) { r.gamma = 127; }, true, nothing},
        {"gamma 342", [](screen_parameters &r) { r.gamma = 342; }, true, nothing},
        {"gamma 128", [](screen_parameters &r) { r.gamma = 128; }, false, nothing},
        {"gamma 341", [](screen_parameters &r) { r.gamma = 341; }, false, nothing},
        {"max fps 10", [](screen_parameters &r) { r.max_fps = 10; }, false, [](screen_parameters &r) { r.max_fps = -90; }},
        {"max fps -10", [](screen_parameters &r) { r.max_fps = -10; }, false, [](screen_parameters &r) { r.max_fps = -90; }},
        {"max fps 300", [](screen_parameters &r) { r.max_fps = 300; }, false, nothing},
        {"max fps -300", [](screen_parameters &r) { r.max_fps = -300; }, false, nothing},
        {"max fps 301", [](screen_parameters &r) { r.max_fps = 301; }, false, [](screen_parameters &r) { r.max_fps = -90; }},
        {"cache 600", [](screen_parameters &r) { r.texture_cache_size = 600; }, false,
         [](screen_parameters &r) { r.texture_cache_size = 512; }},
        {"cache 0", [](screen_parameters &r) { r.texture_cache_size = 0; }, false,
         [](screen_parameters &r) { r.texture_cache_size = 512; }},
        {"cache set by older rules",
         [](screen_parameters &r) {
             r.texture_cache_size = 40;
             r.flags &= ~_screen_pref_texture_cache_size_updated_flag;
         },
         false, nothing},
        {"a vanished device",
         [](screen_parameters &r) {
             r.rasterizer_id = OPENGL_RASTERIZER_ID;
             strlcpy(r.device_name, "Gone", sizeof(r.device_name));
         },
         true, nothing},
        {"no rasterizer, a device index in the table",
         [](screen_parameters &r) {
             r.rasterizer_id = 0;
             memset(r.device_name, 0, sizeof(r.device_name));
         },
         false, nothing},
        {"no rasterizer, a device index past the table",
         [](screen_parameters &r) {
             r.rasterizer_id = 0;
             r.device_index = 5;
         },
         true, nothing},
        {"a size the device no longer has: the nearest mode",
         [](screen_parameters &r) {
             r.width = 810;
             r.height = 590;
             r.mode_index = 0;
         },
         false,
         [](screen_parameters &r) {
             r.width = 810;
             r.height = 590;
             r.mode_index = 2;
         }},
        {"no size and a mode index that names no mode",
         [](screen_parameters &r) {
             r.width = r.height = 0;
             r.mode_index = 7;
         },
         true, nothing},
        {"no size and a valid mode index",
         [](screen_parameters &r) {
             r.width = r.height = 0;
             r.mode_index = 1;
         },
         false,
         [](screen_parameters &r) {
             r.width = r.height = 0;
             r.mode_index = 1;
         }},
    };
    for (const repair_case &c : cases)
    {
        screen_parameters record = defaults();
        c.change(record);
        screen_parameters expected = defaults();
        if (!c.falls_back)
        {
            expected = record;
            c.expected(expected);
            // Whatever was stored, the device's own name and identifier come back.
            expected.rasterizer_id = SOFTWARE_RASTERIZER_ID;
            memset(expected.device_name, 0, sizeof(expected.device_name));
            strlcpy(expected.device_name, "Software", sizeof(expected.device_name));
            if (!(expected.flags & _screen_pref_texture_cache_size_updated_flag))
            {
                expected.flags |= _screen_pref_texture_cache_size_updated_flag;
                expected.texture_cache_size = 512;
            }
        }
        screen_parameters verified = record;
        EXPECT_EQ(verify_screen_parameters(&verified), !c.falls_back) << c.what;
        if (!c.falls_back)
        {
            EXPECT_TRUE(same(verified, expected)) << c.what;
        }

        // Through the store: the stored record stays as it was until the next save.
        store_record(record);
        const std::string before = stored_bytes();
        EXPECT_TRUE(same(loaded(), expected)) << c.what;
        EXPECT_EQ(stored_bytes(), before) << c.what << ": a read never writes";
    }
}

TEST_F(screen_preferences_record, versions_and_sizes_other_than_this_ones_give_the_defaults)
{
    screen_parameters record = defaults();
    record.max_fps = 60;
    store_record(record, 3);
    EXPECT_EQ(loaded().max_fps, 60) << "a version-3 record is read as it is";

    store_record(record, 2);
    EXPECT_TRUE(same(loaded(), defaults())) << "version 2 is refused";

    store_record(record, 5);
    const std::string newer = stored_bytes();
    EXPECT_TRUE(same(loaded(), defaults())) << "a newer record is not understood";
    EXPECT_EQ(stored_bytes(), newer) << "and stays until the next save";

    store_record(record, SCREEN_PREFERENCES_VERSION_NUMBER, 40);
    EXPECT_TRUE(same(loaded(), defaults())) << "a short record";
}

TEST(screen_preferences_memory, the_texture_cache_default_follows_the_memory_size)
{
    EXPECT_EQ(default_texture_cache_size(4096ll << 20), 512); // (2048 x 3 - 960) / 4 = 1296
    EXPECT_EQ(default_texture_cache_size(1024ll << 20), 144);
    EXPECT_EQ(default_texture_cache_size(1032ll << 20), 146); // 147 rounds down to even
    EXPECT_EQ(default_texture_cache_size(512ll << 20), 16); // -48
    EXPECT_EQ(default_texture_cache_size(24ll << 30), 512) << "24 GiB does not wrap to a small count";
    EXPECT_EQ(default_texture_cache_size(0), 16);
}

} // namespace

} // namespace screen_preferences_test_file
