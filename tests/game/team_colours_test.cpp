// Each team of the demo map is drawn in its own colour: from above each
// team's start, with the fog of war lifted so that the far team shows too,
// team 0's soldiers are blue and team 1's red, and neither shows the other's
// colour.  The frames are written into the scratch directory as
// team_<n>.png (kept when the test fails, to look at).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "determinism_harness.h"
#include "game_records.h"
#include "game_time.h"
#include "render/render.h"
#include "render_harness.h"
#include "support/demo_data.h"

namespace {
namespace fs = std::filesystem;

const tag DEMO = FOUR_CHARACTER_CODE('d', 'e', 'm', 'o');

class team_colours : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char working[4096];
        previous = getcwd(working, sizeof(working)) ? working : "/";
        const std::string tool = data_tool_path();
        if (!fs::exists(tool)) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
        directory = enter_test_directory();
        ASSERT_TRUE(write_demo_data_set(tool));
    }
    void TearDown() override
    {
        stop_simulation();
        if (!previous.empty() && chdir(previous.c_str()) != 0) abort();
        if (!directory.empty() && !HasFailure()) fs::remove_all(directory);
    }
    std::string previous, directory;
};

TEST_F(team_colours, each_team_is_drawn_in_its_own_hue)
{
    const int width = 640, height = 480;
    ASSERT_TRUE(set_render_harness_screen(32, width, height));
    char reason[256];
    ASSERT_TRUE(start_simulation(nullptr, DEMO, 0, reason, sizeof(reason))) << reason;
    // The local team's sight would hide the far team: the frames show both.
    game_->option_flags &= ~_game_option_limited_visibility_flag;

    // South of each team's four units (cells 4-6 and 27-28 across, 13-16
    // down), looking north over them.
    const struct
    {
        int team;
        double x;
    } views[] = {{0, 5.0}, {1, 27.5}};
    for (const auto &v : views)
    {
        SCOPED_TRACE("team " + std::to_string(v.team));
        const render_camera camera = {v.x, 20.0, 2.5, -90, -30, 0};
        ASSERT_TRUE(render_camera_is_usable(&camera, reason, sizeof(reason))) << reason;
        bitmap_data *buffer = new_render_back_buffer(width, height);
        ASSERT_NE(buffer, nullptr);
        const render_frame_options options = {(int16_t)width, (int16_t)height, true, false};
        view_data view;
        build_render_camera_view(&view, &camera, &options, buffer);
        render_camera_view(&view);
        std::vector<uint8_t> rgb;
        ASSERT_TRUE(render_back_buffer_to_rgb(buffer, &rgb));
        free(buffer);
        const std::string name = "team_" + std::to_string(v.team) + ".png";
        EXPECT_TRUE(write_rgb_png(name.c_str(), rgb.data(), width, height, reason, sizeof(reason))) << reason;

        int red = 0, blue = 0;
        for (size_t i = 0; i < rgb.size(); i += 3)
        {
            const int r = rgb[i], g = rgb[i + 1], b = rgb[i + 2];
            red += r > g + 60 && r > b + 60;
            blue += b > r + 60 && b > g + 40;
        }
        // Four tunics and shields of a few hundred pixels each at this distance.
        EXPECT_GT(v.team == 0 ? blue : red, 400) << "the team's own colour (red " << red << ", blue " << blue << ")";
        EXPECT_LT(v.team == 0 ? red : blue, 20) << "the other team's colour (red " << red << ", blue " << blue << ")";
    }
}

} // namespace
