// The demo's explosive as a player sees it, in each renderer: Demo Valley sets
// it off by the shed as the map starts; the player pauses, clicks its place
// on the overhead map and goes on, and the blast's shockwave is a ring on the
// ground that grows and fades.  The ring young, grown and gone are kept
// beside the test ("shockwave_<when>_<renderer>.png"); each ring's frame
// differs from the bare ground's, and from the other's, over a wide part of
// the scene.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "hardware/hardware_rasterizers.h"
#include "mesh_effects.h"
#include "overhead_map.h"
#include "screen.h"
#include "screenshots.h"
#include "support/game_window.h"
#include "support/stb_image_decoder.h"

namespace mesh_effects_window_test_file {

namespace {

class mesh_effects_window : public game_window_fixture, public testing::WithParamInterface<tag>
{
protected:
    rectangle2d scene = {};

    // The next frame's pixels (RGB), kept beside the test as `name`.
    std::vector<uint8_t> next_frame(const std::string &name)
    {
        request_screenshot(_screenshot_type_capture);
        run_frames(1);
        const char *path = get_last_screenshot_path();
        int width = 0, height = 0, channels = 0;
        uint8_t *pixels = path ? stbi_load(path, &width, &height, &channels, 3) : nullptr;
        EXPECT_TRUE(pixels && width == kWidth && height == kHeight) << name;
        std::vector<uint8_t> rgb(pixels, pixels ? pixels + (size_t)kWidth * kHeight * 3 : pixels);
        stbi_image_free(pixels);
        if (path) keep_beside_test(path, name), unlink(path);
        return rgb;
    }
    // How many pixels of the scene two frames show differently (by more than 12 on a channel).
    int64_t changed(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) const
    {
        int64_t count = 0;
        for (int32_t y = scene.top; y < scene.bottom; ++y)
            for (int32_t x = scene.left; x < scene.right; ++x)
            {
                const size_t i = ((size_t)y * kWidth + x) * 3;
                count += abs(a[i] - b[i]) > 12 || abs(a[i + 1] - b[i + 1]) > 12 || abs(a[i + 2] - b[i + 2]) > 12;
            }
        return count;
    }
};

TEST_P(mesh_effects_window, the_explosive_leaves_a_shockwave_that_grows_and_fades)
{
    const std::string renderer = GetParam() == SOFTWARE_RASTERIZER_ID ? "software" : "opengl";
    ASSERT_NO_FATAL_FAILURE(start_program({}, nullptr, "[Screenshots]\nHardwareIngameFormat=png\n"));
    ASSERT_TRUE(choose_screen_device(GetParam(), kWidth, kHeight));
    start_map("demo", 1);
    for (int32_t frames = 0; frames < 10 && get_mesh_effect_count() == 0; ++frames) run_frames(1);
    ASSERT_EQ(get_mesh_effect_count(), 1) << "the explosive blew up as the map started";

    // Paused (Escape), the overhead map opens; a click on the explosive's
    // place there brings the camera; Escape again and the game goes on.
    player("mousemove 512 400 key Escape", 1);
    ASSERT_TRUE(game_->flags & _game_is_paused_flag);
    for (int32_t frames = 0; frames < 60 && !get_overhead_map_state(); ++frames) run_frames(1);
    ASSERT_TRUE(get_overhead_map_state());
    const overhead_map_globals *overhead = get_overhead_map_globals();
    calculate_destination_frame(&scene);
    const world_point2d explosive = {6144, 3328}; // its marker, by the shed
    const point2d p = overhead_map_picture_position(&explosive);
    const int32_t x = scene.left + overhead->bounds.left + (int32_t)((p.x - overhead->offset.x) * overhead->scale);
    const int32_t y = scene.top + overhead->bounds.top + (int32_t)((p.y - overhead->offset.y) * overhead->scale);
    player("mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1", 2);
    player("mousemove 512 " + std::to_string((scene.top + scene.bottom) / 2) + " key Escape", 1);
    ASSERT_FALSE(game_->flags & _game_is_paused_flag);

    const mesh_effect_data *effect = nullptr;
    for (int32_t i = 0; i < get_mesh_effect_slot_count() && !effect; ++i) effect = get_mesh_effect_data(i);
    ASSERT_NE(effect, nullptr) << "the shockwave lasts a second";
    run_frames(std::max(0, 6 - effect->age));
    const std::vector<uint8_t> young = next_frame("shockwave_young_" + renderer + ".png");
    run_frames(8);
    const std::vector<uint8_t> grown = next_frame("shockwave_grown_" + renderer + ".png");
    run_frames(30);
    ASSERT_EQ(get_mesh_effect_count(), 0);
    const std::vector<uint8_t> gone = next_frame("shockwave_gone_" + renderer + ".png");
    ASSERT_TRUE(young.size() == gone.size() && grown.size() == gone.size() && !gone.empty());

    const int64_t wide = (int64_t)(scene.right - scene.left) * (scene.bottom - scene.top) / 50;
    EXPECT_GT(changed(young, gone), wide) << "the young ring is seen";
    EXPECT_GT(changed(grown, gone), wide) << "the grown ring is seen";
    EXPECT_GT(changed(young, grown), wide) << "the ring grows";
    const std::string log = stop_program();
    EXPECT_EQ(log.find("halt"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(renderers, mesh_effects_window, testing::Values(OPENGL_RASTERIZER_ID, SOFTWARE_RASTERIZER_ID),
                         [](const testing::TestParamInfo<tag> &info) {
                             return std::string(info.param == SOFTWARE_RASTERIZER_ID ? "software" : "opengl");
                         });

} // namespace

} // namespace mesh_effects_window_test_file
