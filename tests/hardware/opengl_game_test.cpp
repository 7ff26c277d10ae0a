// The game on the demo map drawn by the OpenGL back end, in this process:
// the program's own registrations and start-up on an Xvfb of the test's own,
// with the OpenGL device chosen as in the preferences, and the frames of
// the real main loop, each one tick of the input's clock as in vesk_shot.
// The last frame's screenshot (the back end's read-back, written as PNG) is
// kept beside the test as "opengl_in_game.png" and must show the terrain,
// both bars, and the overhead map's picture with its blips and the camera's
// trapezoid over it.  The driver's texture names are watched, so the bars'
// textures can be told from the rest.  And no frame shows pixels of an
// older one: Ridge Pass started after the demo map looks out over the map's
// edge, where neither the last map nor the loading box may show, and the key
// list (Insert held, real X key events) and the frame rate leave nothing
// behind once they are gone.  There the overhead map's camera outline runs
// past the map's picture, and is cut at the map's edge as in software.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include <SDL.h>

#include "bitmaps.h"
#include "control_bar.h"
#include "screen_setup.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "hardware/OpenGL/gl_dispatch.h"
#include "hardware/OpenGL/utilities_opengl.h"
#include "hardware/hardware_rasterizers.h"
#include "hardware/texture_cache.h"
#include "image_files.h"
#include "input/input_controller_sdl.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "objects.h"
#include "overhead_map.h"
#include "particles.h"
#include "screen.h"
#include "screenshots.h"
#include "status_bar.h"
#include "support/demo_data.h"
#include "support/game_window.h"
#include "support/stb_image_decoder.h"
#include "vesk.h"

namespace opengl_game_test_file {

namespace {

const int32_t kWidth = game_window_fixture::kWidth, kHeight = game_window_fixture::kHeight, kFrames = 45;

// The frame being drawn, and the frame each texture name was made in.
int32_t &current_frame = game_window_fixture::frame;
std::map<GLuint, int32_t> made_in;
gl_procedures driver;
void APIENTRY watched_gen_textures(GLsizei n, GLuint *names)
{
    driver.GenTextures(n, names);
    for (GLsizei i = 0; i < n; ++i) made_in[names[i]] = current_frame;
}

const auto yellow = [](int32_t r, int32_t g, int32_t b) { return r > 200 && g > 200 && b < 90; };

int32_t channel_distance(uint32_t a, uint32_t b)
{
    int32_t worst = 0;
    for (int32_t shift : {16, 8, 0})
        worst = std::max(worst, abs((int32_t)((a >> shift) & 255) - (int32_t)((b >> shift) & 255)));
    return worst;
}

// The blips the overhead map drew last whose middle pixel shows their colour
// (blended over the picture by the map's overlay transparency), and how many
// were looked at.
void count_blips_shown(const picture &shot, int32_t *shown, int32_t *looked_at)
{
    *shown = *looked_at = 0;
    const overhead_map_globals *overhead = get_overhead_map_globals();
    if (!overhead->active_shading_table || !overhead->active_color_indexes) return;
    // The map's bounds are the scene's, which lies below the status bar.
    rectangle2d scene;
    calculate_destination_frame(&scene);
    const int32_t size = std::max(2, (int32_t)std::lround(2 * overhead->scale));
    const float opacity = (65535 - overhead->overlay_transparency) / 65535.0f;
    for (int32_t i = 0; i < overhead->number_of_blips; ++i)
    {
        const object_data *object = get_object(overhead->blips[i].object_index);
        if (!object) continue;
        const world_point2d location = {object->location.position.x, object->location.position.y};
        const point2d p = overhead_map_picture_position(&location);
        int32_t x = overhead->bounds.left + (int32_t)((p.x - overhead->offset.x) * overhead->scale) + size / 2;
        int32_t y = overhead->bounds.top + (int32_t)((p.y - overhead->offset.y) * overhead->scale) + size / 2;
        if (x < overhead->bounds.left || x >= overhead->bounds.right || y < overhead->bounds.top ||
            y >= overhead->bounds.bottom)
            continue;
        x += scene.left;
        y += scene.top;
        ++*looked_at;
        const int32_t palette_index = overhead->active_color_indexes[overhead->blips[i].color_index];
        uint32_t color;
        memcpy(&color, &overhead->active_shading_table->pixels[palette_index * 4], 4);
        // Outside the blip, left of it: what the blip was blended over.
        const uint32_t under = shot.at(std::max(0, x - size), y);
        uint32_t want = 0;
        for (int32_t shift : {16, 8, 0})
        {
            const float c = (float)((color >> shift) & 255), u = (float)((under >> shift) & 255);
            want |= (uint32_t)std::lround(c * opacity + u * (1 - opacity)) << shift;
        }
        *shown += channel_distance(shot.at(x, y), want) <= 48;
    }
}

// Every map's context takes the driver's functions from here, texture names
// watched.
void watch_texture_names(void)
{
    load_gl_core_procedures();
    driver = gl;
    static gl_procedures watched = gl;
    watched.GenTextures = watched_gen_textures;
    set_gl_core_procedures(&watched);
}

class opengl_game : public game_window_fixture
{
protected:
    const std::string png_screenshots = PNG_SCREENSHOTS;
};

TEST_F(opengl_game, the_demo_map_on_opengl_shows_terrain_bars_and_the_overhead_map_and_makes_one_texture_per_bar)
{
    ASSERT_NO_FATAL_FAILURE(start_program({}, watch_texture_names, png_screenshots));
    ASSERT_TRUE(choose_screen_device(OPENGL_RASTERIZER_ID, kWidth, kHeight));
    start_map("demo", 0);

    int32_t bars_frame = -1;
    for (current_frame = 0; current_frame <= kFrames; ++current_frame)
    {
        if (current_frame > 0) keyboard_queue_task_proc(nullptr);
        if (current_frame == kFrames) request_screenshot(_screenshot_type_capture);
        update_everything();
        if (bars_frame < 0 && opengl_status_bars_downloaded()) bars_frame = current_frame;
    }
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("game.log");
    ASSERT_EQ(active_screen.rasterizer_code, _rasterizer_opengl);

    // Each bar is one texture, made on the map's first scene and kept.
    ASSERT_GE(bars_frame, 0);
    const preallocated_texture *bars[2] = {opengl_bar_texture(_opengl_status_bar_texture),
                                           opengl_bar_texture(_opengl_control_bar_texture)};
    const dialog_data *dialogs[2] = {get_status_bar_dialog(), get_control_bar_dialog()};
    for (int32_t i = 0; i < 2; ++i)
    {
        ASSERT_NE(bars[i], nullptr);
        ASSERT_NE(dialogs[i], nullptr);
        EXPECT_EQ(bars[i]->bitmap, dialogs[i]->internal_bitmap);
        const GLuint name = gl_handle_to_name(bars[i]->user_data);
        ASSERT_EQ(made_in.count(name), 1u);
        EXPECT_EQ(made_in[name], bars_frame) << "bar " << i << ": made on the first scene, none since";
    }
    EXPECT_NE(bars[0]->user_data, bars[1]->user_data);

    // The screenshot, as the player's key would have taken it.
    const std::string path = get_last_screenshot_path() ? get_last_screenshot_path() : "";
    ASSERT_FALSE(path.empty()) << read_whole_file("game.log");
    picture shot;
    ASSERT_TRUE(shot.load(path)) << path;
    keep_beside_test(path, "opengl_in_game.png"); // whatever the checks say

    // Without the world (a map loading behind its progress dialog) the frame
    // starts black, though after a swap the back buffer holds an older frame.
    request_screenshot(_screenshot_type_capture);
    draw_frame(kFrames, false);
    const std::string worldless_path = get_last_screenshot_path() ? get_last_screenshot_path() : "";
    picture worldless;
    ASSERT_TRUE(worldless_path != path && worldless.load(worldless_path)) << "no screenshot of the frame without the world";

    // (The overhead map's colours are kept in the screen's encoding.)
    ASSERT_EQ(active_screen.encoding, _32bit_encoding);
    int32_t blips_shown = 0, blips = 0;
    count_blips_shown(shot, &blips_shown, &blips);

    const std::string log = stop_program();
    EXPECT_NE(log.find("Running OpenGL"), std::string::npos) << log;
    EXPECT_EQ(log.find("halt"), std::string::npos) << log;
    ASSERT_EQ(shot.width, kWidth);
    ASSERT_EQ(shot.height, kHeight);
    const auto lit = [](int32_t r, int32_t g, int32_t b) { return r + g + b > 60; };
    // The status bar along the top and the control bar along the bottom.
    EXPECT_GT(shot.count(0, 0, kWidth, 30, lit), kWidth * 30 * 9 / 10);
    EXPECT_GT(shot.count(0, kHeight - 30, kWidth, kHeight, lit), kWidth * 30 * 9 / 10);
    // The terrain where neither bar nor the overhead map lies.
    const int32_t left = kWidth / 8, top = kHeight / 3, right = kWidth / 2, bottom = kHeight * 2 / 3;
    EXPECT_GT(shot.count(left, top, right, bottom, lit), (right - left) * (bottom - top) * 9 / 10);
    // The overhead map in the top right corner: the valley's green picture,
    // stretched, the camera's yellow trapezoid drawn over it by lines, and the
    // units' blips.
    const int32_t map_left = kWidth * 3 / 4, map_top = 40, map_bottom = kHeight / 3;
    const auto green = [](int32_t r, int32_t g, int32_t b) { return g > r + 20 && g > b + 20; };
    EXPECT_GT(shot.count(map_left, map_top, kWidth, map_bottom, green), 5000);
    EXPECT_GT(shot.count(map_left, map_top, kWidth, map_bottom, yellow), 40);
    EXPECT_GT(blips, 0) << "the demo's units lie on the map";
    EXPECT_GE(blips_shown * 4, blips * 3) << blips_shown << " of " << blips << " blips shown";
    ASSERT_EQ(worldless.width, kWidth);
    EXPECT_EQ(worldless.count(left, top, right, bottom, lit), 0) << "the terrain of an older frame shows";
}

TEST_F(opengl_game, no_frame_shows_pixels_of_an_older_one)
{
    std::vector<test_tag> ridge_pass;
    ASSERT_TRUE(make_demo_map_source_tags(data_tool_path(), "ridge_pass.map", "ridg", &ridge_pass) &&
                make_string_list_tags(data_tool_path(), &ridge_pass));
    ASSERT_NO_FATAL_FAILURE(start_program(ridge_pass, nullptr, png_screenshots));
    ASSERT_TRUE(choose_screen_device(OPENGL_RASTERIZER_ID, kWidth, kHeight));

    // The lake of the demo map, then Ridge Pass behind its loading box.
    start_map("demo", 10, false); // the overhead map stays closed without the input's tick
    start_map("ridg", 10, false);
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("game.log");
    ASSERT_EQ(active_screen.rasterizer_code, _rasterizer_opengl);
    set_target_particle_number_multiplier(0); // Ridge Pass snows: no flake may light the sky below
    const picture before = frozen_frame(true, "opengl_frame_clear.png");
    ASSERT_EQ(before.width, kWidth);
    rectangle2d scene;
    calculate_destination_frame(&scene);
    // Ridge Pass's first view looks over the lake to the map's far edge, and
    // above it into the empty sky.
    const rectangle2d sky = {(int16_t)(scene.top + 12), scene.left,
                             (int16_t)(scene.top + (scene.bottom - scene.top) / 8), scene.right};
    const auto lit = [](int32_t r, int32_t g, int32_t b) { return r > 24 || g > 24 || b > 24; };
    EXPECT_EQ(before.count(sky.left, sky.top, sky.right, sky.bottom, lit), 0)
        << "the loading box or the last map shows in the sky";

    // Shown, then gone: the frame equals one that never showed it.
    struct layer_case
    {
        const char *name;
        std::function<void(bool)> show;
        std::function<bool(void)> shown; // as the game sees it
    };
    const auto key = [&](bool down) { player(down ? "keydown Insert" : "keyup Insert", 0); };
    bool fps_shown = false;
    const layer_case cases[] = {
        {"key list", key, [] { return key_down(_key_help); }},
        {"frame rate", [&](bool on) { toggle_fps_display(), fps_shown = on; }, [&] { return fps_shown; }},
    };
    for (const layer_case &c : cases)
    {
        SCOPED_TRACE(c.name);
        for (const bool on : {true, false})
        {
            c.show(on);
            for (int32_t i = 0; i < 200 && c.shown() != on; ++i) frozen_frame(false), SDL_Delay(10);
            ASSERT_EQ(c.shown(), on);
            frozen_frame(false), frozen_frame(false); // both buffers of the swap drawn since
            EXPECT_EQ(frozen_frame(true).same_in(before, scene), !on)
                << (on ? "not drawn at all" : "it stays after it is gone");
        }
    }

    // The overhead map open: the camera's outline runs on past the map's
    // bottom edge, and no pixel of it lies outside the map.
    set_overhead_map_visibility(true);
    for (int32_t i = 0; i < 100 && !get_overhead_map_state(); ++i) run_frames(1); // the input's tick fades the map in
    ASSERT_TRUE(get_overhead_map_state());
    const picture open = frozen_frame(true, "opengl_overhead_map.png");
    const overhead_map_globals *overhead = get_overhead_map_globals();
    const rectangle2d map = {(int16_t)(scene.top + overhead->bounds.top), (int16_t)(scene.left + overhead->bounds.left),
                             (int16_t)(scene.top + overhead->bounds.bottom), (int16_t)(scene.left + overhead->bounds.right)};
    EXPECT_GT(open.count(map.left, map.top, map.right, map.bottom, yellow), 40);
    EXPECT_GT(open.count(map.left, map.bottom - 3, map.right, map.bottom, yellow), 0) << "the outline does not reach the edge";
    EXPECT_EQ(open.count(scene.left, scene.top, scene.right, scene.bottom, yellow) -
                  open.count(map.left, map.top, map.right, map.bottom, yellow),
              0)
        << "the outline is drawn outside the map";

    EXPECT_EQ(stop_program().find("halt"), std::string::npos);
}

} // namespace

} // namespace opengl_game_test_file
