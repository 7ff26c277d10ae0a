// Every OpenGL frame shows only its own drawing, in the real program on an
// Xvfb of the test's own: Ridge Pass started after the demo map (the lake)
// looks out over the map's edge, where nothing of the last map, nor of the
// loading box, may show; the key list (Insert held, real X key events) and
// the frame rate leave nothing behind once they are gone.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <SDL.h>

#include "cseries/log.h"
#include "cseries/tags.h"
#include "determinism_harness.h"
#include "frame_paced_program.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "image_files.h"
#include "input/input_controller_sdl.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "screen.h"
#include "screenshots.h"
#include "subsystems.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/stb_image_decoder.h"
#include "support/x_server.h"
#include "vesk.h"

namespace {

const int32_t kWidth = 1024, kHeight = 768;

int32_t current_frame = 0;
uint32_t frame_clock(void) { return (uint32_t)current_frame * 100 / 3; }

struct frame_picture
{
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;

    // Lit pixels (any channel above 24) in the rectangle.
    int64_t lit(const rectangle2d &r) const
    {
        int64_t n = 0;
        for (int32_t y = r.top; y < r.bottom; ++y)
            for (int32_t x = r.left; x < r.right; ++x)
            {
                const uint8_t *p = &rgb[((size_t)y * width + x) * 3];
                n += p[0] > 24 || p[1] > 24 || p[2] > 24;
            }
        return n;
    }
    bool same_in(const frame_picture &other, const rectangle2d &r) const
    {
        for (int32_t y = r.top; y < r.bottom; ++y)
            if (memcmp(&rgb[((size_t)y * width + r.left) * 3], &other.rgb[((size_t)y * width + r.left) * 3],
                       (size_t)(r.right - r.left) * 3) != 0)
                return false;
        return true;
    }
};

// One frame of the real loop, or (`frozen`) the frame alone, the world not
// advanced and only the window's events read; with `keep`, its screenshot
// read back (and kept beside the test as `artefact` when given).
frame_picture next_frame(bool frozen, bool keep, const std::string &artefact = "")
{
    if (keep) request_screenshot(_screenshot_type_capture);
    if (frozen)
    {
        SDL_Event event;
        while (SDL_PollEvent(&event)) queue_input_event_if_necessary(&event);
        draw_frame(0, true);
    }
    else update_everything();
    ++current_frame;
    frame_picture picture;
    const char *path = get_last_screenshot_path();
    if (!keep || !path) return picture;
    int channels = 0;
    uint8_t *pixels = stbi_load(path, &picture.width, &picture.height, &channels, 3);
    if (pixels) picture.rgb.assign(pixels, pixels + (size_t)picture.width * picture.height * 3);
    stbi_image_free(pixels);
    if (artefact.empty() || rename(path, artefact.c_str()) != 0) unlink(path);
    return picture;
}

void start_map(const char *name, int32_t frames)
{
    new_game_data game;
    get_simulation_game_data(string_to_tag(name), 0, &game);
    set_next_game_data(&game);
    set_game_state(_game_state_running);
    for (int32_t i = 0; i < frames; ++i) next_frame(false, false);
}

TEST(opengl_frame_clear, no_frame_shows_pixels_of_an_older_one)
{
    if (!data_tool_built()) SKIP_OR_FAIL_UNDER_CI("the data tool is not built");
    std::string why;
    own_x_server server;
    if (!server.start_for_opengl(&why, (std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24").c_str()))
        SKIP_OR_FAIL_UNDER_CI("no X server: " + why);
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    ASSERT_EQ(mkdir("tags", 0755), 0);
    std::vector<test_tag> ridge_pass;
    ASSERT_TRUE(make_demo_map_source_tags(data_tool_path(), "ridge_pass.map", "ridg", &ridge_pass) &&
                make_string_list_tags(data_tool_path(), &ridge_pass));
    ASSERT_TRUE(write_demo_data_set(data_tool_path(), ridge_pass));
    mkdir("preferences", 0755);
    const std::string settings = "[Screenshots]\nHardwareIngameFormat=png\n";
    write_whole_file("preferences/poweruser.txt", settings.data(), settings.size());
    register_built_subsystems();
    // The frames read the window's events themselves.
    const set_keyboard_queue_task_state_procedure set_keyboard_task = get_set_keyboard_queue_task_state_procedure();
    if (set_keyboard_task) set_keyboard_task(false);
    ASSERT_TRUE(open_log_file_at("game.log", "OpenGL frame clear test"));
    ASSERT_TRUE(start_frame_paced_program(frame_clock)) << read_whole_file("game.log");
    for (int32_t i = 0; i < 3; ++i) next_frame(false, false);
    ASSERT_EQ(game_->state, _game_state_displaying_main_menu);

    // The lake of the demo map, then Ridge Pass behind its loading box.
    start_map("demo", 10);
    start_map("ridg", 10);
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("game.log");
    ASSERT_EQ(active_screen.rasterizer_code, _rasterizer_opengl);
    const frame_picture before = next_frame(true, true, std::string(scratch.previous) + "/opengl_frame_clear.png");
    ASSERT_EQ(before.width, kWidth);
    rectangle2d scene;
    calculate_destination_frame(&scene);
    // Ridge Pass's first view looks over the map's edge into the empty sky.
    const rectangle2d sky = {(int16_t)(scene.top + 12), scene.left,
                             (int16_t)(scene.top + (scene.bottom - scene.top) * 3 / 4), scene.right};
    EXPECT_EQ(before.lit(sky), 0) << "the loading box or the last map shows in the sky";

    // Shown, then gone: the frame equals one that never showed it.
    struct layer_case
    {
        const char *name;
        std::function<void(bool)> show;
        std::function<bool(void)> shown; // as the game sees it
    };
    const auto key = [&](bool down) {
        const std::string command = "DISPLAY=" + server.display + " xdotool key" + (down ? "down" : "up") + " Insert";
        EXPECT_EQ(system(command.c_str()), 0) << command;
    };
    bool fps_shown = false;
    const layer_case cases[] = {
        {"key list", key, [] { return key_down(_key_help); }},
        {"frame rate",
         [&](bool on) {
             toggle_fps_display();
             fps_shown = on;
         },
         [&] { return fps_shown; }},
    };
    for (const layer_case &c : cases)
    {
        SCOPED_TRACE(c.name);
        for (const bool on : {true, false})
        {
            c.show(on);
            for (int32_t i = 0; i < 200 && c.shown() != on; ++i)
            {
                next_frame(true, false);
                SDL_Delay(10);
            }
            ASSERT_EQ(c.shown(), on);
            // Both buffers of the swap drawn since.
            next_frame(true, false);
            next_frame(true, false);
            EXPECT_EQ(next_frame(true, true).same_in(before, scene), !on)
                << (on ? "not drawn at all" : "it stays after it is gone");
        }
    }

    dispose_vesk_from_old_map();
    const close_all_dialogs_procedure close_dialogs = get_close_all_dialogs_procedure();
    if (close_dialogs) close_dialogs();
    close_log_file();
    const std::string log = read_whole_file("game.log");
    SDL_Quit();
    server.stop();
    EXPECT_EQ(log.find("halt"), std::string::npos) << log;
}

} // namespace
