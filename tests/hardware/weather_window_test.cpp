// Snow in a real window, with OpenGL and with software: at each snowy demo
// map's opening view and at 20 cameras drawn at random over it, the frame
// with its flakes and the same frame without them (the particle count set to
// 0, the world not advanced) differ in no pixel the terrain leaves black.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "game_states.h"
#include "mesh.h"
#include "observer.h"
#include "particles.h"
#include "screen.h"
#include "screen_setup.h"
#include "support/demo_data.h"
#include "support/game_window.h"
#include "vesk.h"

namespace weather_window_test_file {

namespace {

// The demo maps that snow: each weather source (data/objects/weat) names
// its map by its code.
const struct
{
    const char *source, *code;
} SNOWY_MAPS[] = {{"ridge_pass.map", "ridg"}};

class weather_window : public game_window_fixture, public testing::WithParamInterface<tag>
{
protected:
    std::string renderer_name(void) const { return GetParam() == SOFTWARE_RASTERIZER_ID ? "software" : "opengl"; }
};

// Pixels black (the void) without the flakes and lit with them, and the
// pixels the flakes changed anywhere, over the scene between the bars.
std::pair<int64_t, int64_t> flake_pixels(const picture &snow, const picture &clear)
{
    rectangle2d scene;
    calculate_destination_frame(&scene);
    int64_t over_void = 0, changed = 0;
    for (int32_t y = scene.top; y < scene.bottom; ++y)
        for (int32_t x = scene.left; x < scene.right; ++x)
        {
            const uint32_t with = snow.at(x, y), without = clear.at(x, y);
            changed += with != without;
            over_void += without == 0 && with != 0;
        }
    return {over_void, changed};
}

TEST(weather_window_maps, every_weather_source_names_a_map_the_test_snows_on)
{
    for (const auto &entry : std::filesystem::directory_iterator(source_tree_path("data/objects/weat")))
    {
        const std::string code = entry.path().stem().string();
        bool listed = false;
        for (const auto &map : SNOWY_MAPS) listed |= code == map.code;
        EXPECT_TRUE(listed) << code;
    }
}

TEST_P(weather_window, no_flake_is_drawn_over_what_the_terrain_leaves_undrawn)
{
    std::vector<test_tag> tags;
    for (const auto &map : SNOWY_MAPS) ASSERT_TRUE(make_demo_map_source_tags(data_tool_path(), map.source, map.code, &tags));
    ASSERT_TRUE(make_string_list_tags(data_tool_path(), &tags));
    ASSERT_NO_FATAL_FAILURE(start_program(tags, nullptr, PNG_SCREENSHOTS));
    ASSERT_TRUE(choose_screen_device(GetParam(), kWidth, kHeight));
    for (const auto &map : SNOWY_MAPS)
    {
        SCOPED_TRACE(map.code);
        start_map(map.code, 60, false);
        ASSERT_EQ(game_->state, _game_state_running);

        std::mt19937 random(84);
        const auto uniform = [&random](double low, double high) {
            return low + (high - low) * (double)(random() % 100000) / 100000.0;
        };
        int64_t changed = 0;
        for (int32_t camera = 0; camera <= 20; ++camera)
        {
            SCOPED_TRACE("camera " + std::to_string(camera) + " (0: the opening view)");
            if (camera > 0)
                camera_sample(_camera_sample_all, false, (real)uniform(0, mesh_width), (real)uniform(0, mesh_height),
                              OBSERVER_DEFAULT_HEIGHT, (real)uniform(0, 6.283),
                              (real)uniform(OBSERVER_MINIMUM_PITCH, OBSERVER_MAXIMUM_PITCH), (real)uniform(-1, 1));
            set_target_particle_number_multiplier(256);
            frozen_frame(false), frozen_frame(false); // both buffers of the swap drawn at this camera
            const std::string shown =
                camera == 0 ? "weather_opening_" + std::string(map.code) + "_" + renderer_name() + ".png" : "";
            const picture snow = frozen_frame(true, shown);
            set_target_particle_number_multiplier(0);
            frozen_frame(false);
            const picture clear = frozen_frame(true);
            ASSERT_EQ(snow.width, kWidth);
            ASSERT_EQ(clear.width, kWidth);
            const auto [over_void, flakes] = flake_pixels(snow, clear);
            EXPECT_EQ(over_void, 0);
            changed += flakes;
        }
        set_target_particle_number_multiplier(256);
        EXPECT_GT(changed, 0) << "no flake was drawn at all";
    }
}

INSTANTIATE_TEST_SUITE_P(renderers, weather_window, testing::Values(OPENGL_RASTERIZER_ID, SOFTWARE_RASTERIZER_ID),
                         [](const testing::TestParamInfo<tag> &info) {
                             return std::string(info.param == SOFTWARE_RASTERIZER_ID ? "software" : "opengl");
                         });

} // namespace

} // namespace weather_window_test_file
