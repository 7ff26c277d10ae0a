// The campaign road of the front end on the OpenGL screen: the program's own
// start-up on an Xvfb of the test's own, where the screen chooses the OpenGL
// device for the level (the menu's mode stays the one that draws dialogs
// directly), and the program's own frames, with the scripted passes as its
// input.  The preferences dialog from the main menu, the campaign valley's
// prologue, the quit dialog over the level and the epilogue after a win are
// each captured by the program's screenshot (the back end's read-back) and
// kept beside the tests as "artefacts/campaign_road_opengl/<name>.png" to
// look at; each must show the dialog's picture, not a black or blank frame.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <sys/stat.h>

#include <SDL.h>

#include "bitmaps.h"
#include "cseries/log.h"
#include "game_preferences.h"
#include "game_states.h"
#include "game_time.h"
#include "image_files.h"
#include "tag_files/plugins.h"
#include "preferences_ui.h"
#include "quit_dialog.h"
#include "game_ending.h"
#include "scoring.h"
#include "screen.h"
#include "screen_setup.h"
#include "screenshots.h"
#include "subsystems.h"
#include "support/expected_assertions.h"
#include "support/fake_movie_player.h"
#include "support/front_end_road_fixture.h"
#include "support/game_window.h"
#include "support/scratch.h"
#include "support/stb_image_decoder.h"
#include "support/x_server.h"
#include "vesk.h"

namespace campaign_road_opengl_test_file {

namespace fs = std::filesystem;

namespace
{

class campaign_road_opengl : public campaign_road_fixture
{
protected:
    fake_movie_player player;
    own_x_server server;

    // Off the screen, whatever the test came to: the map, then the dialogs;
    // the X connection closes before the server goes.
    void TearDown() override
    {
        dispose_vesk_from_old_map();
        close_all_dialogs();
        remove_test_clock();
        close_log_file();
        SDL_Quit();
        server.stop();
        campaign_road_fixture::TearDown();
    }

    // Asks for the program's screenshot of the next frame.
    static void request_capture(void) { inspect([](dialog_data *) { request_screenshot(_screenshot_type_capture); }); }

    // The screenshot last taken as "artefacts/campaign_road_opengl/<name>.png",
    // named in the output; the share of its pixels that are neither black
    // nor one colour with its first pixel (0 when there is none).
    double keep_screenshot(const std::string &name)
    {
        const std::string path = get_last_screenshot_path() ? get_last_screenshot_path() : "";
        EXPECT_FALSE(path.empty()) << name << ": no screenshot was taken";
        if (path.empty()) return 0;
        const fs::path folder = fs::path(previous) / "artefacts" / "campaign_road_opengl";
        fs::create_directories(folder);
        const fs::path kept = folder / (name + ".png");
        std::error_code error;
        fs::copy_file(path, kept, fs::copy_options::overwrite_existing, error);
        EXPECT_FALSE(error) << kept;
        std::cout << "[ artefact ] " << kept.string() << std::endl;
        int width = 0, height = 0, channels = 0;
        uint8_t *pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
        EXPECT_NE(pixels, nullptr) << path;
        if (!pixels) return 0;
        int64_t drawn = 0;
        for (int64_t i = 0; i < (int64_t)width * height; ++i)
        {
            const uint8_t *p = pixels + i * 3;
            const bool black = p[0] + p[1] + p[2] < 24;
            drawn += !black && memcmp(p, pixels, 3) != 0;
        }
        stbi_image_free(pixels);
        return width && height ? (double)drawn / ((double)width * height) : 0;
    }
};

TEST_F(campaign_road_opengl, the_story_preferences_and_quit_dialogs_are_drawn_on_the_opengl_screen)
{
    std::string why;
    if (!server.start_for_opengl(&why, "1024x768x24")) SKIP_OR_FAIL_UNDER_CI("no X server: " + why);
    unsetenv("SDL_VIDEODRIVER");
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    mkdir("player", 0755);
    ASSERT_TRUE(player.install(directory + "/player"));
    mkdir("preferences", 0755);
    const std::string settings = "[Screenshots]\nHardwareIngameFormat=png\nOutgameFormat=png\nPlayScreenshotSound=false\n";
    write_whole_file("preferences/poweruser.txt", settings.data(), settings.size());
    start_at_the_main_menu(nullptr, true);
    if (HasFatalFailure()) return;

    // ---- The preferences, from the main menu, left with Cancel.
    press_now(get_main_menu_dialog(), _main_menu_preferences_item, [&] {
        settle();
        request_capture();
        settle(2);
        inspect([&](dialog_data *dialog) {
            ASSERT_NE(dialog, nullptr);
            EXPECT_GT(keep_screenshot("preferences"), 0.2);
        });
        press(_preferences_cancel_item);
    });
    run_queued_passes();
    ASSERT_EQ(game_->state, _game_state_displaying_main_menu) << read_whole_file("road.log");

    // ---- The campaign's prologue.
    ASSERT_TRUE(choose_screen_device(OPENGL_RASTERIZER_ID, 1024, 768));
    start_the_campaign(get_main_menu_dialog(), [](dialog_data *dialog) {
        ASSERT_NE(dialog, nullptr);
        ASSERT_EQ(dialog->tag, PROLOGUE_DIALOG_TAG);
        request_screenshot(_screenshot_type_capture);
    });
    EXPECT_GT(keep_screenshot("prologue"), 0.2);
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("road.log");

    // ---- The quit dialog over the level, resumed.
    play_until([] { return game_->game_time >= 30; }, 60);
    ASSERT_EQ(active_screen.rasterizer_code, _rasterizer_opengl) << "the level is drawn by OpenGL";
    ASSERT_TRUE(open_quit_dialog());
    request_screenshot(_screenshot_type_capture);
    play_until([] { return false; }, 0, 1);
    EXPECT_GT(keep_screenshot("quit"), 0.2);
    close_quit_dialog();

    // ---- A win, the report, then the epilogue.
    game_->winning_team_index = local_player_team_index;
    end_game(_game_end_game_over);
    play_until([] { return postgame_carnage_report_dialog_is_open(); }, 600);
    ASSERT_TRUE(postgame_carnage_report_dialog_is_open()) << read_whole_file("road.log");
    close_report_into_epilogue(get_postgame_carnage_report_dialog(), 0, true, _epilogue_result_next_level,
                               [] { request_screenshot(_screenshot_type_capture); });
    EXPECT_GT(keep_screenshot("epilogue"), 0.2);
}

} // namespace

} // namespace campaign_road_opengl_test_file
