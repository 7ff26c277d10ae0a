// The demo's explosive as a player sees it, in each renderer: Demo Valley
// sets it off by the shed as the map starts; the player pauses, a click on
// the overhead map brings the camera there, and once the game goes on the
// blast's shockwave is a ring on the ground that grows and fades.  Three
// frames are kept beside the test (the ring young, grown, and the ground
// after it, "shockwave_<age>_<renderer>.png"); each ring's frame differs
// from the ground's, and from the other's, over a wide part of the scene.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "game_records.h"
#include "game_states.h"
#include "hardware/hardware_rasterizers.h"
#include "mesh_effects.h"
#include "overhead_map.h"
#include "screen.h"
#include "screen_setup.h"
#include "screenshots.h"
#include "support/game_window.h"
#include "support/stb_image_decoder.h"
#include "vesk.h"

namespace mesh_effects_window_test_file {

namespace {

// Where the demo map's explosive lies (its marker by the shed).
const world_point2d kExplosive = {6144, 3328};

struct frame_picture
{
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
    bool load(const std::string &path)
    {
        int channels = 0;
        uint8_t *pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
        rgb.assign(pixels, pixels ? pixels + (size_t)width * height * 3 : pixels);
        stbi_image_free(pixels);
        return pixels != nullptr;
    }
};

// The pixels of the scene (between the bars) where the two frames differ by
// more than 12 on some channel.
int64_t changed_pixels(const frame_picture &a, const frame_picture &b, const rectangle2d &scene)
{
    int64_t changed = 0;
    for (int32_t y = scene.top; y < scene.bottom; ++y)
        for (int32_t x = scene.left; x < scene.right; ++x)
        {
            const uint8_t *p = &a.rgb[((size_t)y * a.width + x) * 3], *q = &b.rgb[((size_t)y * b.width + x) * 3];
            changed += abs(p[0] - q[0]) > 12 || abs(p[1] - q[1]) > 12 || abs(p[2] - q[2]) > 12;
        }
    return changed;
}

class mesh_effects_window : public game_window_fixture, public testing::WithParamInterface<tag>
{
protected:
    // The next frame's screenshot, kept beside the test as `name`.
    frame_picture next_frame(const std::string &name)
    {
        request_screenshot(_screenshot_type_capture);
        run_frames(1);
        frame_picture shot;
        const char *path = get_last_screenshot_path();
        EXPECT_TRUE(path && shot.load(path)) << name;
        if (path)
        {
            keep_beside_test(path, name);
            unlink(path);
        }
        return shot;
    }
};

TEST_P(mesh_effects_window, the_explosive_leaves_a_shockwave_that_grows_and_fades)
{
    const std::string renderer = GetParam() == SOFTWARE_RASTERIZER_ID ? "software" : "opengl";
    ASSERT_NO_FATAL_FAILURE(start_program({}, nullptr, "[Screenshots]\nHardwareIngameFormat=png\n"));
    ASSERT_TRUE(choose_screen_device(GetParam(), kWidth, kHeight));
    start_map("demo", 1);
    ASSERT_EQ(game_->state, _game_state_running);
    for (int32_t frames = 0; frames < 10 && get_mesh_effect_count() == 0; ++frames) run_frames(1);
    ASSERT_EQ(get_mesh_effect_count(), 1) << "the explosive blew up as the map started";

    // The player pauses the game (Escape), waits for the overhead map to
    // open, clicks the explosive's place on it and goes on (Escape).
    player("mousemove 512 400 key Escape", 1);
    ASSERT_TRUE(game_->flags & _game_is_paused_flag);
    for (int32_t frames = 0; frames < 60 && !get_overhead_map_state(); ++frames) run_frames(1);
    ASSERT_TRUE(get_overhead_map_state());
    const overhead_map_globals *overhead = get_overhead_map_globals();
    rectangle2d scene;
    calculate_destination_frame(&scene);
    const point2d p = overhead_map_picture_position(&kExplosive);
    const int32_t x = scene.left + overhead->bounds.left + (int32_t)((p.x - overhead->offset.x) * overhead->scale);
    const int32_t y = scene.top + overhead->bounds.top + (int32_t)((p.y - overhead->offset.y) * overhead->scale);
    player("mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1", 2);
    player("mousemove 512 " + std::to_string((scene.top + scene.bottom) / 2) + " key Escape", 1);
    ASSERT_FALSE(game_->flags & _game_is_paused_flag);

    const mesh_effect_data *effect = nullptr;
    for (int32_t i = 0; i < get_mesh_effect_slot_count() && !effect; ++i) effect = get_mesh_effect_data(i);
    ASSERT_NE(effect, nullptr) << "the shockwave lasts a second";
    run_frames(std::max(0, 6 - effect->age));
    const frame_picture young = next_frame("shockwave_young_" + renderer + ".png");
    run_frames(8);
    const frame_picture grown = next_frame("shockwave_grown_" + renderer + ".png");
    run_frames(30);
    ASSERT_EQ(get_mesh_effect_count(), 0);
    const frame_picture after = next_frame("shockwave_after_" + renderer + ".png");
    ASSERT_EQ(young.width, kWidth);
    ASSERT_EQ(after.width, kWidth);

    // Both rings are seen on the ground, and the ring has moved on between them.
    const int64_t scene_pixels = (int64_t)(scene.right - scene.left) * (scene.bottom - scene.top);
    EXPECT_GT(changed_pixels(young, after, scene), scene_pixels / 50) << "the young ring is seen";
    EXPECT_GT(changed_pixels(grown, after, scene), scene_pixels / 50) << "the grown ring is seen";
    EXPECT_GT(changed_pixels(young, grown, scene), scene_pixels / 50) << "the ring grows";
    const std::string log = stop_program();
    EXPECT_EQ(log.find("halt"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(renderers, mesh_effects_window, testing::Values(OPENGL_RASTERIZER_ID, SOFTWARE_RASTERIZER_ID),
                         [](const testing::TestParamInfo<tag> &info) {
                             return std::string(info.param == SOFTWARE_RASTERIZER_ID ? "software" : "opengl");
                         });

} // namespace

} // namespace mesh_effects_window_test_file
