// The real movie player from the ffmpeg package over a game drawn through
// OpenGL: a one-second movie made now from a test pattern plays to its end
// while the game waits, and the frame drawn afterwards is the frame drawn
// before it, textures and all.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "cutscenes.h"
#include "determinism_harness.h"
#include "game_states.h"
#include "game_time.h"
#include "gl_render_harness.h"
#include "iniparser3.0b/inifile.h"
#include "render/render.h"
#include "render_harness.h"
#include "screen_preferences.h"
#include "support/demo_data.h"
#include "support/tag_file_builder.h"
#include "support/x_server.h"

namespace cutscene_opengl_test_file {

namespace fs = std::filesystem;

namespace
{

TEST(cutscene_opengl, the_real_player_plays_a_movie_and_the_opengl_frame_keeps_its_textures)
{
    if (system("command -v ffmpeg >/dev/null 2>&1 && command -v ffplay >/dev/null 2>&1") != 0)
        SKIP_OR_FAIL_UNDER_CI("ffmpeg or ffplay is not installed (scripts/install_dependencies.sh)");
    const std::string tool = data_tool_path();
    if (!fs::exists(tool)) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
    own_x_server server;
    std::string why;
    if (!server.start_for_opengl(&why, "640x480x24")) SKIP_OR_FAIL_UNDER_CI("no X server: " + why);
    const std::string previous = fs::current_path().string();
    const std::string directory = enter_test_directory();
    ASSERT_TRUE(write_demo_data_set(tool));
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    const int16_t width = 160, height = 120;
    screen_parameters prefs = {};
    prefs.texture_cache_size = 64;
    prefs.flags = _screen_pref_32bit_flag;
    set_render_harness_screen(32, width, height);
    char reason[256];
    ASSERT_TRUE(start_simulation(nullptr, FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), 0, reason, sizeof(reason)))
        << reason;
    const char *gl_why = nullptr;
    const bool gl_started = start_gl_render_harness(width, height, &prefs, &gl_why);
    ASSERT_TRUE(gl_started) << gl_why;
    view_data view;
    const render_frame_options options = {width, height, true, false};
    const render_camera camera = {5, 1, 4, 38, -18, 0};
    build_render_camera_view(&view, &camera, &options, nullptr);
    std::vector<uint8_t> before, after;
    ASSERT_TRUE(render_camera_view_opengl(&view, &before));

    reset_cutscenes_for_tests();
    ASSERT_TRUE(initialize_cutscenes());
    ASSERT_EQ(system("ffmpeg -loglevel error -f lavfi -i testsrc=duration=1:size=160x120:rate=25 cutscenes/clip.mpg"),
              0);
    const int16_t state = game_->state;
    const int32_t game_time = game_->game_time;
    EXPECT_TRUE(display_cutscene("clip", false));
    EXPECT_TRUE(get_ffplay_globals()->has_autoexit) << "the real player ends by itself";
    EXPECT_EQ(game_->state, state) << "the cutscene state is left again";
    EXPECT_EQ(game_->game_time, game_time) << "the game waited";

    build_render_camera_view(&view, &camera, &options, nullptr);
    ASSERT_TRUE(render_camera_view_opengl(&view, &after));
    int32_t lit = 0;
    for (uint8_t channel : after) lit += channel > 16;
    EXPECT_GT(lit, (int32_t)after.size() / 4) << "the frame after the movie is drawn, not black";
    EXPECT_EQ(after, before) << "the textures survived the movie's window";

    stop_gl_render_harness();
    stop_simulation();
    dispose_poweruser_settings();
    if (chdir(previous.c_str()) != 0) abort();
    fs::remove_all(directory);
}

} // namespace

} // namespace cutscene_opengl_test_file
