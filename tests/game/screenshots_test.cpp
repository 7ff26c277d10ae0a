// Screenshots over the real screen with the video library's "dummy" driver:
// names count up within one second and start again in the next; a capture
// outside a game is written in the "OutgameFormat" and decodes (with an
// independent decoder) to the frame that was drawn; a request is taken once,
// after the next drawn frame; a directory that cannot be made leaves no file.

#include "tag_files/store_fixture.h"

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "support/stb_image_decoder.h"

#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "game_states.h"
#include "game_time.h"
#include "image_files.h"
#include "iniparser3.0b/inifile.h"
#include "screen.h"
#include "screen_sdl.h"
#include "screen_setup.h"
#include "screenshots.h"
#include "sound_procedures.h"

namespace screenshots_test_file {

namespace {

int32_t screenshot_sounds = 0;
void count_screenshot_sound(tag sound_tag)
{
    if (sound_tag == SCREENSHOT_SOUND_TAG) ++screenshot_sounds;
}

class screenshots : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        store_test::SetUp();
        start_store();
        reset_screen_for_tests();
        reset_screenshots_for_tests();
        // Registrations last for the process: made once.
        static const bool registered = [] {
            register_screenshot_hooks();
            static const sound_procedures sound_table = {.play_local_sound = count_screenshot_sound};
            return register_sound_procedures(&sound_table);
        }();
        (void)registered;
        screenshot_sounds = 0;
        game_->state = _game_state_displaying_main_menu;
    }
    void TearDown() override
    {
        game_->state = _game_state_starting_up;
        restore_world_device();
        reset_screen_for_tests();
        clear_screen_devices();
        dispose_poweruser_settings();
        store_test::TearDown();
    }

    static void use_settings(const char *text)
    {
        ASSERT_TRUE(load_poweruser_settings_from_buffer(text, strlen(text)));
        ASSERT_TRUE(initialize_screenshots());
    }

    // A blue screen with a red rectangle at x 200-499, y 100-299.
    static void draw_frame_contents(void)
    {
        rectangle2d bounds;
        get_screen_bounds(&bounds);
        bitmap_data *buffer = get_linear_backbuffer(&bounds);
        ASSERT_NE(buffer, nullptr);
        const rectangle2d inner = {100, 200, 300, 500};
        fill_rectangle_clipped(buffer, &rgb_blue, &bounds, &bounds, 0, nullptr);
        fill_rectangle_clipped(buffer, &rgb_red, &inner, &bounds, 0, nullptr);
        release_linear_backbuffer(buffer);
    }
};

bool file_exists_at(const std::string &path)
{
    struct stat s;
    return stat(path.c_str(), &s) == 0;
}

TEST(screenshot_names, count_up_within_one_second_and_start_again_in_the_next)
{
    reset_screenshots_for_tests();
    const struct
    {
        const char *time;
        const char *name;
    } cases[] = {
        {"2026-12-06 07.39.58", "screenshot 2026-12-06 07.39.58"},
        {"2026-12-06 07.39.58", "screenshot 2026-12-06 07.39.58_1"},
        {"2026-12-06 07.39.58", "screenshot 2026-12-06 07.39.58_2"},
        {"2026-12-06 07.39.59", "screenshot 2026-12-06 07.39.59"},
        {"2026-12-06 07.39.59", "screenshot 2026-12-06 07.39.59_1"},
    };
    for (const auto &c : cases)
    {
        char name[SCREENSHOT_NAME_SIZE];
        build_screenshot_name(c.time, name, sizeof(name));
        EXPECT_STREQ(name, c.name);
    }
}

TEST_F(screenshots, a_capture_outside_a_game_takes_the_outgame_format_and_decodes_to_the_frame)
{
    initialize_screen();
    ASSERT_TRUE(screen_surface_exists());
    const struct
    {
        const char *settings;
        const char *extension;
        int32_t tolerance;
        int32_t sounds;
    } cases[] = {
        {"[Screenshots]\nOutgameFormat=PNG\n", "png", 0, 1},
        {"[Screenshots]\nOutgameFormat=tga\nPlayScreenshotSound=0\n", "bmp", 0, 0},
        {"[Screenshots]\nOutgameFormat=jpg\nHardwareIngameFormat=bmp\nJpegQuality=250\n", "jpg", 24, 1},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.settings);
        use_settings(c.settings);
        draw_frame_contents();
        screenshot_sounds = 0;
        ASSERT_TRUE(take_screenshot(_screenshot_type_capture));
        EXPECT_EQ(screenshot_sounds, c.sounds);
        const std::string path = get_last_screenshot_path();
        ASSERT_EQ(path.substr(0, 23), "screenshots/screenshot ");
        ASSERT_EQ(path.substr(path.size() - 4), std::string(".") + c.extension);
        const std::string bytes = read_whole_file(path);
        ASSERT_FALSE(bytes.empty());
        int width = 0, height = 0, channels = 0;
        uint8_t *rgb = stbi_load_from_memory((const uint8_t *)bytes.data(), (int)bytes.size(), &width, &height,
                                             &channels, 3);
        ASSERT_NE(rgb, nullptr);
        EXPECT_EQ(width, 640);
        EXPECT_EQ(height, 480);
        const struct
        {
            int x, y;
            uint8_t r, g, b;
        } probes[] = {{10, 10, 0, 0, 255}, {350, 200, 255, 0, 0}, {630, 470, 0, 0, 255}};
        for (const auto &p : probes)
        {
            const uint8_t *pixel = rgb + (p.y * width + p.x) * 3;
            EXPECT_NEAR(pixel[0], p.r, c.tolerance) << p.x << ", " << p.y;
            EXPECT_NEAR(pixel[1], p.g, c.tolerance) << p.x << ", " << p.y;
            EXPECT_NEAR(pixel[2], p.b, c.tolerance) << p.x << ", " << p.y;
        }
        stbi_image_free(rgb);
    }
}

TEST_F(screenshots, a_request_is_taken_once_after_the_next_drawn_frame)
{
    initialize_screen();
    use_settings("[Screenshots]\nOutgameFormat=bmp\n");
    draw_frame_contents();
    request_screenshot(_screenshot_type_capture);
    EXPECT_EQ(get_requested_screenshot(), _screenshot_type_capture);
    EXPECT_STREQ(get_last_screenshot_path(), "");
    draw_frame(0, false);
    EXPECT_EQ(get_requested_screenshot(), _screenshot_type_none);
    const std::string first = get_last_screenshot_path();
    EXPECT_TRUE(file_exists_at(first)) << first;
    // Another run's shot of the same second (its counter starts again) is
    // never replaced: the name on disk is passed over.
    ASSERT_TRUE(write_whole_file(first, "another run's", 13));
    reset_screenshots_for_tests();
    ASSERT_TRUE(take_screenshot(_screenshot_type_capture));
    EXPECT_NE(get_last_screenshot_path(), first);
    EXPECT_TRUE(file_exists_at(get_last_screenshot_path()));
    EXPECT_EQ(read_whole_file(first), "another run's");
    reset_screenshots_for_tests();
    draw_frame(0, false);
    EXPECT_STREQ(get_last_screenshot_path(), "") << "no request, no screenshot";

    request_screenshot(7);
    EXPECT_EQ(get_requested_screenshot(), _screenshot_type_none) << "an unknown type is refused";
}

TEST_F(screenshots, nothing_is_taken_for_another_type_in_a_running_game_and_a_bad_directory_leaves_no_file)
{
    initialize_screen();
    use_settings("[Screenshots]\nOutgameFormat=png\n");
    draw_frame_contents();
    game_->state = _game_state_running;
    EXPECT_FALSE(take_screenshot(_screenshot_type_none));
    game_->state = _game_state_displaying_main_menu;

    // "screenshots" is a file: the directory cannot be made.
    ASSERT_TRUE(write_whole_file("screenshots", "not a directory", 15));
    EXPECT_FALSE(take_screenshot(_screenshot_type_capture));
    EXPECT_STREQ(get_last_screenshot_path(), "");
    EXPECT_EQ(read_whole_file("screenshots"), "not a directory");
}

} // namespace

} // namespace screenshots_test_file
